// Device watch: a check of the serial devices, called from event processing at most once a
// second. Between checks the thread sleeps; a check costs a few file-system look-ups.
#pragma once

typedef void (*DeviceWatchFunction)(void *data);

// Calls fn(data) every 'intervalSeconds' (held to 1 s or more) until StopDeviceWatch. One watch
// at a time: a second start replaces the first. 0, or negative when the run-time is not ready.
int StartDeviceWatch(DeviceWatchFunction fn, void *data, double intervalSeconds);
void StopDeviceWatch(void);
int DeviceWatchRunning(void);
// How many times the watch has called its function (for tests and benchmarks).
long DeviceWatchChecks(void);

// True when the device path exists now (a link is followed to its target).
int SerialDevicePresent(const char *path);

// True while a control or panel callback runs (the operator's action is in progress). Work that
// must not run inside another exchange waits until this is false.
int CallbackRunning(void);
