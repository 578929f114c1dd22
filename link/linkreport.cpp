// Where the link's reports go.
#include "linkreport.h"

#include "linkevents.h"
#include "state.h"

namespace {
LinkReporter *g_reporter = nullptr;
}

void SetLinkReporter(LinkReporter *reporter) {
    g_reporter = reporter;
}

LinkReporter *CurrentLinkReporter(void) {
    return g_reporter;
}

void ShowStatus(const char *text) {
    if (g_reporter) g_reporter->Status(text ? text : "");
}

void ShowStatusBuffer(void) {
    ShowStatus(szStatus);
}

void ReportHardwareLine(int line, const char *text) {
    if (line >= 0 && line < 3) CopyText(szHwLine[line], text);
    if (g_reporter) g_reporter->HardwareLine(line, text ? text : "");
}

void ReportPixelAxis(double lastPixel) {
    if (g_reporter) g_reporter->PixelAxis(lastPixel);
}

void ReportFirmware(const char *text) {
    CopyText(szFirmware, text);
    ReportLinkFirmware(text ? text : "");
    if (g_reporter) g_reporter->Firmware(text ? text : "");
}

void ReportExchange(bool answered) {
    ReportLinkOutcome(answered ? kLinkAnswered : kLinkTimedOut);
    if (g_reporter) g_reporter->Exchange(answered);
}
