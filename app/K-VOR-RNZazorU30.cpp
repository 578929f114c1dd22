// The application shell: the entry point, the five panels, the program defaults, the panel
// adjustments made once at start-up and the two panel callbacks.
#include <cstdio>
#include <memory>
#include <string>
#include <vector>

#include "K-VOR-RNZazorU30.h"
#include "com232.h"
#include "logo.h"
#include "params.h"
#include "recorder_app.h"
#include "rs232.h"
#include "sensor_sim.h"
#include "state.h"
#include "userint.h"
#include "utility.h"

namespace {

const char *const kProgramName = "kvor-zodid";
const char *const kPanelFile = "K-VOR-RNZazorU30.uir";

// --- command line ---------------------------------------------------------------------------

struct PortMapping {
    int port;
    std::string device;
};

struct CommandLine {
    std::vector<PortMapping> ports;
    bool simulate = false;
    std::string eepromFile;
    std::string recordFile;
};

enum ParseResult { kParseRun, kParseHelp, kParseError };

void PrintUsage(std::FILE *out) {
    std::fprintf(out,
                 "Usage: %s [OPTION]...\n"
                 "Operator and set-up program of the K-VOR-RN laser light-band sensor.\n"
                 "\n"
                 "  --port N=DEVICE  serial port number N means DEVICE, e.g. --port 1=/dev/ttyUSB0\n"
                 "                   (may be given more than once)\n"
                 "  --simulate       run a simulated sensor inside the program on serial port 1\n"
                 "  --eeprom FILE    with --simulate: keep the simulated sensor's EEPROM in FILE\n"
                 "  --record FILE    record every RUN answer into the CSV file FILE from the start\n"
                 "                   (an existing recording is continued, without a second header)\n"
                 "  --help           show this help and exit\n",
                 kProgramName);
}

// A port number: decimal digits only, 1 and up, within int.
bool ParsePortNumber(const std::string &text, int *port) {
    if (text.empty() || text.size() > 9) return false;
    long value = 0;
    for (char c : text) {
        if (c < '0' || c > '9') return false;
        value = value * 10 + (c - '0');
    }
    if (value < 1) return false;
    *port = static_cast<int>(value);
    return true;
}

bool ParsePortMapping(const std::string &text, PortMapping *mapping) {
    const std::string::size_type eq = text.find('=');
    if (eq == std::string::npos) return false;
    if (!ParsePortNumber(text.substr(0, eq), &mapping->port)) return false;
    mapping->device = text.substr(eq + 1);
    return !mapping->device.empty();
}

// Matches an option that takes a value, given as "--name VALUE" or "--name=VALUE". True when
// the argument is that option; *hasValue tells whether a value came with it.
bool MatchOption(const std::string &arg, const char *name, int argc, char **argv, int *i, std::string *value,
                 bool *hasValue) {
    const std::string n(name);
    *hasValue = false;
    if (arg == n) {
        if (*i + 1 < argc && argv[*i + 1] != nullptr) {
            *value = argv[++*i];
            *hasValue = true;
        }
        return true;
    }
    if (arg.compare(0, n.size() + 1, n + "=") == 0) {
        *value = arg.substr(n.size() + 1);
        *hasValue = true;
        return true;
    }
    return false;
}

ParseResult ParseCommandLine(int argc, char **argv, CommandLine *cl, std::string *error) {
    for (int i = 1; i < argc; ++i) {
        if (argv[i] == nullptr) continue;
        const std::string arg = argv[i];
        std::string value;
        bool hasValue = false;
        if (arg == "--help" || arg == "-h") return kParseHelp;
        if (arg == "--simulate") {
            cl->simulate = true;
        } else if (MatchOption(arg, "--port", argc, argv, &i, &value, &hasValue)) {
            PortMapping mapping;
            if (!hasValue || !ParsePortMapping(value, &mapping)) {
                *error = "--port needs N=DEVICE with a port number of 1 or more, e.g. --port 1=/dev/ttyS0";
                return kParseError;
            }
            cl->ports.push_back(mapping);
        } else if (MatchOption(arg, "--eeprom", argc, argv, &i, &value, &hasValue)) {
            if (!hasValue || value.empty()) {
                *error = "--eeprom needs a file name";
                return kParseError;
            }
            cl->eepromFile = value;
        } else if (MatchOption(arg, "--record", argc, argv, &i, &value, &hasValue)) {
            if (!hasValue || value.empty()) {
                *error = "--record needs a file name";
                return kParseError;
            }
            cl->recordFile = value;
        } else {
            *error = "unknown option '" + arg + "'";
            return kParseError;
        }
    }
    if (!cl->eepromFile.empty() && !cl->simulate) {
        *error = "--eeprom only applies to the simulated sensor (--simulate)";
        return kParseError;
    }
    return kParseRun;
}

const char *LoadErrorText(int code) {
    switch (code) {
    case UIEPanelFileNotFound:
        return "the panel file was not found";
    case UIEBadPanelFile:
        return "the panel file is malformed";
    case UIEResourceNotFound:
        return "the panel file has no such panel";
    case UIECallbackNotFound:
        return "the panel file names a callback the program does not have";
    default:
        return "error";
    }
}

void DiscardLoadedPanels(void) {
    for (int *handle : {&pPara1, &pPara2, &pCalib, &pPopup, &pHandle}) {
        if (*handle > 0) DiscardPanel(*handle);
        *handle = 0;
    }
}

// Loads one panel into *handle; on failure says which one and why on standard error.
bool LoadOnePanel(int parent, const char *panelFile, int resourceId, int *handle) {
    *handle = LoadPanel(parent, panelFile, resourceId);
    if (*handle >= 0) return true;
    std::fprintf(stderr, "%s: cannot load panel %d from %s: %s\n", kProgramName, resourceId, panelFile,
                 LoadErrorText(*handle));
    *handle = 0;
    return false;
}

} // namespace

// The pages are children of the main panel. Its handle is 1 whenever the program loads its
// panels the first time; the pages are given the handle it really received, so that a second
// load in the same process (the tests start the program more than once) still nests them
// correctly.
int LoadAllPanels(const char *panelFile) {
    bool ok = LoadOnePanel(0, panelFile, PANEL, &pHandle) && LoadOnePanel(0, panelFile, POPUP, &pPopup) &&
              LoadOnePanel(pHandle, panelFile, PARA1, &pPara1) &&
              LoadOnePanel(pHandle, panelFile, PARA2, &pPara2) &&
              LoadOnePanel(pHandle, panelFile, CALIB, &pCalib);
    if (ok) return 0;
    // None of them has been shown; dropping them leaves no half-built window behind.
    DiscardLoadedPanels();
    return -1;
}

void InitVars(void) {
    // 1. Defaults of the parameter set; step 7 replaces them with what the panels hold.
    parameter.set0[0] = 500;
    parameter.set0[11] = 0;
    parameter.set0[14] = 512;
    parameter.set0[10] = 0;
    parameter.set0[2] = 1;
    parameter.set0[3] = 1;
    parameter.set0[4] = 1;
    parameter.set0[5] = 1024;
    parameter.set0[6] = 512;
    parameter.set0[7] = 100;
    parameter.set0[13] = 1;
    parameter.scale = 16384;
    parameter.offset = YOFFSET;

    // 2. Link and run state.
    com = 1;
    parameter.start = 0x55;
    parameter.command = 1;
    parameter.argument = 0;
    target = RAM;
    tstart = tdiff = 0.0;
    rx_flag = 0;
    graph_flag = 0;
    dynpow = 0;
    stop_flag = 1;

    // 3. Hardware description until the sensor tells us better.
    pixB = 1;
    pixE = 1024;
    ccdmaxpixel = 1024;
    ccdvirtpixel = 4096;
    pcbtype = 101;
    refdistance = 37;

    // 4.
    CopyText(szStatus, "InitVars");
    SetCtrlVal(pHandle, PANEL_STATUS, szStatus);

    // 5.
    CopyText(szSoftVersion, "Version 3.0b");
    CopyText(szSoftName, "K-VOR-RN-Zodid");

    // 6.
    ShowLogo(2);

    // 7.
    GetPanelValues();

    // 8.
    DeleteGraphPlot(pHandle, PANEL_GRAPH, -1, VAL_DELAYED_DRAW);

    // 9. Setpoint, left edge and right edge.
    SetGraphCursor(pHandle, PANEL_GRAPH, 1, static_cast<double>(parameter.set0[6]), 1.0);
    SetGraphCursor(pHandle, PANEL_GRAPH, 2, static_cast<double>(parameter.set0[4]), 1.0);
    SetGraphCursor(pHandle, PANEL_GRAPH, 3, static_cast<double>(parameter.set0[5]), 1.0);

    // 10. The tolerance band; signed, so a tolerance wider than the setpoint reaches below 0.
    const int setpoint = parameter.set0[6];
    const int tolerance = parameter.set0[7];
    PlotRectangle(pHandle, PANEL_GRAPH, static_cast<double>(setpoint - tolerance), 0.0,
                  static_cast<double>(setpoint + tolerance), 0.25, VAL_GREEN, VAL_GREEN);

    // 11. The start-up threshold line uses the factor 255; every later refill uses ADCMAX.
    for (int i = 0; i < 256; ++i) {
        thdArray[i] = static_cast<uint16_t>(255 * parameter.set0[14] / 100);
        thdArrayEE[i] = thdArray[i];
    }
}

void InitGUI(void) {
    // 1. Hardware variants 1 and 3 work with a fixed window: their tolerance is not set here.
    unsigned short hardware = 0;
    GetCtrlVal(pPara1, PARA1_DROPHardware, &hardware);
    SetCtrlAttribute(pPara1, PARA1_NEDITTolerance, ATTR_DIMMED, (hardware == 1 || hardware == 3) ? 1 : 0);

    // 2.
    tol = parameter.set0[7];

    // 3. Computed in double: the product of the two unsigned factors can exceed 32 bits.
    SetCtrlVal(pHandle, PANEL_TOLVALUE,
               static_cast<double>(parameter.scale) * static_cast<double>(tol) / 16384000.0);

    // 4. The three pages share one place below the logo strip.
    for (int page : {pPara1, pPara2, pCalib}) {
        SetPanelAttribute(page, ATTR_LEFT, 8);
        SetPanelAttribute(page, ATTR_TOP, 105);
    }
}

int CC_PANEL(int panel, int event, void *callbackData, int eventData1, int eventData2) {
    (void)panel;
    (void)callbackData;
    (void)eventData1;
    (void)eventData2;
    if (event == EVENT_CLOSE) {
        stop_flag = 1; // a RUN or VIDEO loop running below us ends at its next check
        CloseCom(com);
        QuitUserInterface(0);
    }
    return 0;
}

int CC_POPUP(int panel, int event, void *callbackData, int eventData1, int eventData2) {
    (void)panel;
    (void)callbackData;
    (void)eventData1;
    (void)eventData2;
    if (event == EVENT_CLOSE) {
        // Only hidden: the recorder toggle shows the same window again.
        HidePanel(pPopup);
        SetCtrlVal(pHandle, PANEL_TOGGBTN_Recorder, 0);
    }
    return 0;
}

int KvorMain(int argc, char **argv) {
    CommandLine cl;
    std::string error;
    switch (ParseCommandLine(argc, argv, &cl, &error)) {
    case kParseHelp:
        PrintUsage(stdout);
        return 0;
    case kParseError:
        std::fprintf(stderr, "%s: %s\n", kProgramName, error.c_str());
        PrintUsage(stderr);
        return -1;
    case kParseRun:
        break;
    }

    for (const PortMapping &mapping : cl.ports) {
        SetComPortDevice(mapping.port, mapping.device);
        if (ComPortDevice(mapping.port) != mapping.device) {
            std::fprintf(stderr, "%s: --port %d: no serial port has that number\n", kProgramName,
                         mapping.port);
            return -1;
        }
    }

    // 1.
    if (InitRunTime(argc, argv) == 0) {
        std::fprintf(stderr, "%s: cannot initialise the user interface\n", kProgramName);
        return -1;
    }
    RegisterCallbacks(kPanelFileCallbacks, kPanelFileCallbackCount);

    // The simulated sensor answers on its own thread, behind port 1, until the event loop ends.
    std::unique_ptr<kvorsim::Simulator> simulator;
    const std::string port1Device = ComPortDevice(1);
    if (cl.simulate) {
        kvorsim::Options options;
        options.pacing = true;
        options.eepromFile = cl.eepromFile;
        simulator.reset(new kvorsim::Simulator(options));
        if (!simulator->start()) {
            std::fprintf(stderr, "%s: cannot start the simulated sensor: %s\n", kProgramName,
                         simulator->error().c_str());
            return -1;
        }
        SetComPortDevice(1, simulator->devicePath());
    }

    // 2. to 5.
    if (LoadAllPanels(kPanelFile) < 0) {
        if (simulator) SetComPortDevice(1, port1Device);
        return -1;
    }

    // The recorder window's contents; a file given with --record is checked before the link.
    SetUpRecorder(pPopup);
    if (!cl.recordFile.empty() && !CheckRecordFile(cl.recordFile, &error)) {
        std::fprintf(stderr, "%s: --record: %s\n", kProgramName, error.c_str());
        ShutDownRecorder();
        DiscardLoadedPanels();
        if (simulator) {
            simulator->stop();
            SetComPortDevice(1, port1Device);
        }
        return -1;
    }

    // 6.
    GetProjectDir(&proj_dir);
    // 7.
    InitVars();
    // 8. A failed link is reported in the status line; the program runs on without it.
    InitRS232(com);
    // 9.
    InitGUI();
    // 10.
    DisplayPanel(pHandle);
    DisplayPanel(pPara1);
    // Recording from the start: the header carries what the start-up exchange found.
    if (!cl.recordFile.empty() && !StartRecordingInto(cl.recordFile, &error))
        std::fprintf(stderr, "%s: --record: %s\n", kProgramName, error.c_str());
    // 11.
    RunUserInterface();
    // 12. CC_PANEL has closed it already; closing again is harmless. The recording's last rows
    // reach the disk before the window goes.
    CloseCom(com);
    ShutDownRecorder();
    if (simulator) {
        simulator->stop();
        SetComPortDevice(1, port1Device);
    }
    // 13.
    for (int *handle : {&pPara1, &pPara2, &pCalib, &pPopup, &pHandle}) {
        DiscardPanel(*handle);
        *handle = 0;
    }
    // 14.
    return 0;
}
