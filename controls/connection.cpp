// The connection that looks after itself.
//
// Remembering: the port chosen last (in the drop-down or with --com) and the device it meant are
// kept in the user's settings; the next start begins there.
//
// The lamp follows the outcome of every exchange: green when the last one was answered, red after
// a time-out or when the device went away, grey while the port is closed.
//
// Reconnection: a device watch looks once a second at the port. When its device has gone (the
// path vanished, or the serial services closed the port because the device failed), the port is
// closed and the lamp turns red; when the same path is back, the port is opened again and the
// start-up exchange runs as after a port change. It never runs inside another exchange: a RUN or
// VIDEO that was running ends as it always does, on its time-out, and is not started again.
#include "connection.h"

#include <cstdio>
#include <cstring>

#include "K-VOR-RNZazorU30.h"
#include "com232.h"
#include "devwatch.h"
#include "linkevents.h"
#include "params.h"
#include "rs232.h"
#include "settings.h"
#include "setupwindow.h"
#include "state.h"
#include "userint.h"

const char *const kSettingPortNumber = "port/number";
const char *const kSettingPortDevice = "port/device";

namespace {

constexpr double kWatchInterval = 1.0; // seconds between two looks at the device

int g_simulatorPort = 0;

// --- lamp -----------------------------------------------------------------------------------

int g_lamp = kLampGrey;
std::string g_firmware;
// What the panel shows, so that an answer that changes nothing (RUN: one every 40 ms) costs no
// more than a comparison.
int g_shownPanel = 0;
std::string g_lampMeaning; // the lamp's tooltip in the panel file
int g_shownLamp = -1;
bool g_tipStale = true;

const char *LampText(int state) {
    switch (state) {
    case kLampGreen:
        return "the last exchange was answered";
    case kLampRed:
        return "no answer, or the device went away";
    default:
        return "the port is closed";
    }
}

void ShowLamp(void) {
    if (pHandle <= 0) return;
    if (pHandle != g_shownPanel) {
        g_shownPanel = pHandle;
        g_shownLamp = -1;
        g_tipStale = true;
        // What the lamp means comes from the panel file; the link's state follows it.
        char meaning[512] = {0};
        GetCtrlToolTip(pHandle, PANEL_LEDLink, meaning, sizeof meaning);
        g_lampMeaning = meaning;
    }
    if (g_lamp == g_shownLamp && !g_tipStale) return;
    if (g_lamp != g_shownLamp) {
        SetCtrlAttribute(pHandle, PANEL_LEDLink, ATTR_FRAME_COLOR, LinkLampColor(g_lamp));
        g_shownLamp = g_lamp;
    }
    const std::string device = ComPortDevice(com);
    const std::string tip = (g_lampMeaning.empty() ? std::string() : g_lampMeaning + "\n") + "COM" +
                            std::to_string(com) + ": " + (device.empty() ? "no device" : device) +
                            "\nFirmware: " + (g_firmware.empty() ? "not read" : g_firmware) +
                            "\nLink: " + LampText(g_lamp);
    SetCtrlToolTip(pHandle, PANEL_LEDLink, tip.c_str());
    g_tipStale = false;
}

void OnFirmware(const char *text) {
    g_firmware = text;
    g_tipStale = true;
    ShowLamp();
}

void OnOutcome(int outcome) {
    LinkLampOutcome(outcome);
}

const LinkEventListener kListener = {&OnOutcome, &OnFirmware};
// The lamp listens from the start, whoever runs the exchanges.
const bool g_listening = (SetLinkEventListener(&kListener), true);

// --- settings -------------------------------------------------------------------------------

void Remember(int port) {
    if (port <= 0 || port == g_simulatorPort) return; // the simulated sensor's terminal is gone next run
    SettingsSetInt(kSettingPortNumber, port);
    SettingsSetString(kSettingPortDevice, ComPortDevice(port));
}

void ShowStatus(const std::string &text) {
    SetCtrlVal(pHandle, PANEL_STATUS, text.c_str());
}

std::string StatusLine(void) {
    char text[512] = {0};
    GetCtrlVal(pHandle, PANEL_STATUS, text, sizeof text);
    return text;
}

// --- reconnection ---------------------------------------------------------------------------

bool g_waiting = false;
bool g_reconnecting = false;
int g_failedReopens = 0;
// A replugged adapter's device node can show up a moment before it may be opened.
constexpr int kReopenAttempts = 3;
int g_lostPort = 0;
std::string g_lostDevice;

void WatchTick(void *) {
    ConnectionCheck();
}

void DeviceLost(int port, const std::string &device) {
    g_waiting = true;
    g_failedReopens = 0;
    g_lostPort = port;
    g_lostDevice = device;
    ReportLinkOutcome(kLinkDeviceLost);
    ShowStatus("Device " + device + " lost - waiting for it to come back ...");
}

// The values the panels show, as the parameter record holds them.
ParameterRecord PanelRecord(void) {
    const ParameterRecord kept = parameter;
    GetPanelValues();
    const ParameterRecord shown = parameter;
    parameter = kept;
    return shown;
}

bool SameOnPanels(const ParameterRecord &a, const ParameterRecord &b) {
    return std::memcmp(a.set0, b.set0, sizeof a.set0) == 0 && a.scale == b.scale && a.offset == b.offset;
}

void Reconnect(void) {
    g_reconnecting = true;
    // The operator's values on the panels may not have been sent yet: the start-up exchange reads
    // the sensor's sets onto the panels, so what the panels showed is put back afterwards.
    const ParameterRecord operatorValues = PanelRecord();
    ShowStatus("Init COM-Port ...");
    InitRS232(com);
    // A device that is back but cannot be opened is tried a few times; the status line says why.
    if (ComPortStatus(com) == kComOpen || ++g_failedReopens >= kReopenAttempts) g_waiting = false;
    const ParameterRecord sensorValues = parameter;
    if (!SameOnPanels(PanelRecord(), operatorValues)) {
        parameter = operatorValues;
        SetPanelValues();
        parameter = sensorValues;
        ShowStatus(StatusLine() + " - panel values kept, not sent to the sensor");
    }
    // The sensor's sets are what the pages are measured against now: kept values stay marked.
    if (ret == 1) BaselineFromRecord();
    g_reconnecting = false;
}

} // namespace

// --- start and port changes -----------------------------------------------------------------

int ConnectionStartPort(const ConnectionStart &start, std::string *note) {
    SettingsEnable(start.useSettings ? 1 : 0);
    g_simulatorPort = start.simulatorPort;
    if (note) note->clear();
    if (start.com > 0) {
        Remember(start.com);
        return start.com;
    }
    if (start.simulatorPort > 0) return start.simulatorPort;
    if (start.firstMappedPort > 0) return start.firstMappedPort;

    const int port = SettingsGetInt(kSettingPortNumber, 0);
    const std::string device = SettingsGetString(kSettingPortDevice, "");
    if (port < 1 || port > MaxComPort()) return 1;
    if (device.empty() || device == ComPortDevice(port)) {
        if (device.empty() || SerialDevicePresent(device.c_str())) return port;
    } else if (SerialDevicePresent(device.c_str())) {
        // A device outside the rule, a by-id name or a --port mapping of an earlier run.
        SetComPortDevice(port, device);
        return port;
    }
    // The remembered device is gone: the number means what the rule gives it, if anything.
    const int fallback = ComPortDevice(port).empty() ? 1 : port;
    if (note) {
        const std::string ruled = ComPortDevice(fallback);
        *note = "Remembered device " + device + " not present: COM" + std::to_string(fallback) +
                (ruled.empty() ? std::string() : " " + ruled) + " by the numbering rule";
    }
    return fallback;
}

// The panel may be a new one under an old handle: show everything again.
void ShowLampAfresh(void) {
    g_shownLamp = -1;
    g_tipStale = true;
    ShowLamp();
}

void ConnectionStarted(const std::string &note) {
    if (!note.empty()) ShowStatus(note + " - " + StatusLine());
    if (ComPortStatus(com) != kComOpen) LinkLampOutcome(kLinkPortClosed);
    ShowLampAfresh();
    StartDeviceWatch(&WatchTick, nullptr, kWatchInterval);
}

void ConnectionPortChosen(int port) {
    Remember(port);
    g_waiting = false;
    g_firmware.clear();
    LinkLampOutcome(kLinkPortClosed);
}

void ConnectionShutdown(void) {
    StopDeviceWatch();
    g_waiting = false;
    g_firmware.clear();
    g_lamp = kLampGrey;
    ShowLampAfresh();
}

// --- lamp -----------------------------------------------------------------------------------

void LinkLampOutcome(int outcome) {
    (void)g_listening;
    switch (outcome) {
    case kLinkAnswered:
        g_lamp = kLampGreen;
        break;
    case kLinkTimedOut:
    case kLinkDeviceLost:
        g_lamp = kLampRed;
        break;
    default:
        g_lamp = kLampGrey;
        g_tipStale = true; // the port may be another one now
        break;
    }
    ShowLamp();
}

int LinkLampState(void) {
    return g_lamp;
}

int LinkLampColor(int state) {
    switch (state) {
    case kLampGreen:
        return 0x00C000;
    case kLampRed:
        return 0xE00000;
    default:
        return VAL_LT_GRAY;
    }
}

// --- reconnection ---------------------------------------------------------------------------

void ConnectionCheck(void) {
    if (g_reconnecting) return;
    const int status = ComPortStatus(com);
    if (!g_waiting) {
        if (status == kComOpen) {
            const std::string device = ComPortDevice(com);
            if (!SerialDevicePresent(device.c_str())) {
                CloseCom(com); // a descriptor of a device that went away stays dead: never reused
                DeviceLost(com, device);
            }
        } else if (status == kComLost) {
            DeviceLost(com, ComPortDevice(com));
        }
        return;
    }
    // The operator has chosen a port since (or opened this one again): nothing to wait for.
    if (com != g_lostPort || ComPortDevice(com) != g_lostDevice || status == kComOpen) {
        g_waiting = false;
        return;
    }
    if (!SerialDevicePresent(g_lostDevice.c_str())) return;
    // Never inside the operator's action or a loop: the next look tries again.
    if (CallbackRunning() || stop_flag == 0) return;
    Reconnect();
}

bool ConnectionWaiting(void) {
    return g_waiting;
}
