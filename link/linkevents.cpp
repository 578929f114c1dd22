#include "linkevents.h"

namespace {
const LinkEventListener *g_listener = nullptr;
}

void SetLinkEventListener(const LinkEventListener *listener) {
    g_listener = listener;
}

void ReportLinkOutcome(int outcome) {
    if (g_listener && g_listener->outcome) g_listener->outcome(outcome);
}

void ReportLinkFirmware(const char *text) {
    if (g_listener && g_listener->firmware) g_listener->firmware(text ? text : "");
}
