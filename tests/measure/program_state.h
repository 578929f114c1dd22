// The program's shared state, for test files.
//
// gtest brings in <unistd.h>, whose function sync() would clash with the program's constant of
// the same name; the constant is renamed while the state header is read, and the tests never use
// it by name.
#pragma once

#define sync kvor_event_character
#include "state.h"
#undef sync
