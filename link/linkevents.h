// How each exchange with the sensor ended, for whoever follows the link's state (the link
// lamp). The waits report one outcome each; the port changes report the rest.
#pragma once

enum {
    kLinkAnswered = 0,   // the answer came in time
    kLinkTimedOut = 1,   // no answer within the time-out
    kLinkDeviceLost = 2, // the port's device went away (or failed) while it was open
    kLinkPortClosed = 3  // the port is closed: not opened yet, closed by the program, or failed to open
};

struct LinkEventListener {
    void (*outcome)(int outcome);
    void (*firmware)(const char *text); // the firmware text, once read
};

// One listener (nullptr: none).
void SetLinkEventListener(const LinkEventListener *listener);
void ReportLinkOutcome(int outcome);
void ReportLinkFirmware(const char *text);
