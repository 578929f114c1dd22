// Heap allocations made so far by the calling thread (malloc, calloc, realloc and everything
// built on them, operator new included); -1 where they cannot be counted.
#pragma once

long long ThreadAllocations();

// Where the calling thread's allocations come from. While tracing is on, the call stack of each
// of its allocations is kept (the first 100 000); WriteAllocationSites writes them to a file, one
// allocation a line, each frame as "library+offset", for bench/alloc_sites.py to name and count.
// Keeping a stack costs far more than the allocation: figures taken meanwhile mean nothing.
void TraceAllocations(bool on);
bool WriteAllocationSites(const char *path);
