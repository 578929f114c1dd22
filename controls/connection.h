// The connection that looks after itself: the port remembered between runs, the link lamp
// beside the port drop-down, and the reconnection after the port's device went away and came
// back.
#pragma once

#include <string>

// How the program was started, as far as the choice of port goes.
struct ConnectionStart {
    bool useSettings = true; // false: --no-settings, the settings file is neither read nor written
    int com = 0;             // --com N (0: not given)
    int firstMappedPort = 0; // the number of the first --port N=DEVICE (0: none given)
    int simulatorPort = 0;   // the port the built-in simulated sensor answers on (0: none)
};

// Chooses the port to start on: --com, else the first --port mapping, else the simulator's port,
// else the remembered port (mapping its remembered device again), else port 1. A remembered
// device that no longer exists falls back to the numbering rule; *note then says so (else it is
// emptied). A port given on the command line is remembered at once.
int ConnectionStartPort(const ConnectionStart &start, std::string *note);
// After the start-up exchange: shows the note (if any), sets the lamp and starts the device watch.
void ConnectionStarted(const std::string &note);
// The operator chose a port (before its start-up exchange): it is remembered, the lamp goes grey.
void ConnectionPortChosen(int port);
// The program closes its port for good (end of the run): the watch stops, the lamp goes grey.
void ConnectionShutdown(void);

// Settings keys of the remembered port.
extern const char *const kSettingPortNumber; // "port/number"
extern const char *const kSettingPortDevice; // "port/device"

// --- the link lamp --------------------------------------------------------------------------
enum { kLampGrey = 0, kLampGreen = 1, kLampRed = 2 };
// One call per outcome of the link (the kLink... values of linkevents.h).
void LinkLampOutcome(int outcome);
int LinkLampState(void);
// The lamp's colours (0xRRGGBB).
int LinkLampColor(int state);

// --- reconnection ---------------------------------------------------------------------------
// One check of the device watch: notices a port whose device went away, and reconnects when it
// is back. The watch calls it once a second; tests may call it directly.
void ConnectionCheck(void);
// True while the program waits for the port's device to come back.
bool ConnectionWaiting(void);
