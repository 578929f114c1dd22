// Private to the platform: where the testing library plugs in. The shipped program leaves these
// empty; the testing library (platform/testing/) fills them.
#pragma once

#include <string>

#include "testhooks.h"

namespace kvor_ui {
// Replaces the clock behind Timer() while set.
extern double (*g_clockOverride)(void);
// Answers a file dialog without showing one: true when it did, with the result and the path.
extern bool (*g_fileSelectPreset)(int *result, std::string *path);
// What the last file dialog was asked for.
extern FileSelectRequest g_lastFileSelect;
} // namespace kvor_ui
