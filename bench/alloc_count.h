// Heap allocations made so far by the calling thread (malloc, calloc, realloc and everything
// built on them, operator new included); -1 where they cannot be counted.
#pragma once

long long ThreadAllocations();
