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

namespace kvor_com {
// What a port's traffic watcher is told, at the moment it happens.
enum Traffic {
    kTrafficIn,      // bytes were taken into the port's queue
    kTrafficWriting, // a write of at least one byte is about to go out
    kTrafficClosed,  // the port was closed
};
// Watches the traffic of every open port while set (the turnaround record of the benchmarks).
extern void (*g_trafficWatch)(int port, Traffic traffic);
// Where the port list looks for stable device names; "" means /dev/serial/by-id.
extern std::string g_byIdDirectory;
// Forgets the numbers the port list gave to devices outside the numbering rule.
void ForgetAssignedPorts(void);
} // namespace kvor_com
