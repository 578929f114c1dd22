// The application shell: the entry point, the five panels, the program defaults, the panel
// adjustments made once at start-up and the two panel callbacks.
#include <cstdio>
#include <cstdlib>
#include <memory>
#include <string>
#include <vector>

#include "K-VOR-RNZazorU30.h"
#include "cli.h"
#include "com232.h"
#include "connection.h"
#include "logo.h"
#include "panel_reports.h"
#include "params.h"
#include "protocol.h"
#include "recorder_app.h"
#include "rs232.h"
#include "sensor_sim.h"
#include "settings.h"
#include "setupwindow.h"
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
    bool check = false;
    std::string eepromFile;
    int com = 0; // --com N (0: not given)
    bool noSettings = false;
    std::string recordFile;
    std::vector<std::string> command; // a command word and its arguments: no window
};

enum ParseResult { kParseRun, kParseHelp, kParseVersion, kParseError };

void PrintUsage(std::FILE *out) {
    std::fprintf(out,
                 "Usage: %s [OPTION]... [COMMAND [ARGS]]\n"
                 "Operator and set-up program of the K-VOR-RN laser light-band sensor.\n"
                 "\n"
                 "  --com N          start on serial port number N\n"
                 "  --port N=DEVICE  serial port number N means DEVICE, e.g. --port 1=/dev/ttyUSB0\n"
                 "                   (may be given more than once)\n"
                 "  --simulate       run a simulated sensor inside the program on serial port 1\n"
                 "  --eeprom FILE    with --simulate: keep the simulated sensor's EEPROM in FILE\n"
                 "  --no-settings    neither read nor write the settings file\n"
                 "  --record FILE    record every RUN answer into the CSV file FILE from the start\n"
                 "                   (an existing recording is continued, without a second header)\n"
                 "  --check          load the panels, say where the program's files were found, exit\n"
                 "  --version        show the version and exit\n"
                 "  --help           show this help and exit\n"
                 "\n"
                 "The port chosen last (in the drop-down or with --com) and its device are kept in\n"
                 "  %s\n"
                 "and the next start begins there; --com, --port and --simulate choose for one run.\n"
                 "Delete that file, or give --no-settings, to start without it.\n",
                 kProgramName, SettingsFilePath().c_str());
    std::fputs(CliUsageText(), out);
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
        if (!arg.empty() && arg[0] != '-') {
            // A command: it and everything after it are the command's.
            cl->command.assign(argv + i, argv + argc);
            break;
        }
        if (arg == "--version") return kParseVersion;
        if (arg == "--simulate") {
            cl->simulate = true;
        } else if (arg == "--no-settings") {
            cl->noSettings = true;
        } else if (MatchOption(arg, "--com", argc, argv, &i, &value, &hasValue)) {
            if (!hasValue || !ParsePortNumber(value, &cl->com) || cl->com > MaxComPort()) {
                *error =
                    "--com needs a port number from 1 to " + std::to_string(MaxComPort()) + ", e.g. --com 17";
                return kParseError;
            }
        } else if (arg == "--check") {
            cl->check = true;
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
    // The simulated sensor takes port 1 over: a mapping of port 1 would be dropped unseen.
    for (const PortMapping &mapping : cl->ports) {
        if (cl->simulate && mapping.port == 1) {
            *error = "--port 1 cannot be given with --simulate: the simulated sensor is port 1";
            return kParseError;
        }
    }
    // A command shows no window, runs no RUN and checks no installation.
    if (!cl->command.empty() && (!cl->recordFile.empty() || cl->check)) {
        *error = std::string(cl->check ? "--check" : "--record") + " only applies to the window, not to a command";
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

// Where the panel file and the logo bitmaps were found: the panels are loaded already.
int CheckInstallation(const char *panelFile) {
    bool ok = true;
    std::vector<const char *> files{panelFile};
    for (int variant = 0; variant <= 6; ++variant)
        if (const char *bitmap = LogoBitmap(variant)) files.push_back(bitmap);
    for (const char *name : files) {
        char path[4096];
        if (FindDataFilePath(name, path, sizeof path) == 0) {
            std::printf("%s: %s\n", name, path);
        } else {
            std::printf("%s: not found\n", name);
            ok = false;
        }
    }
    DiscardLoadedPanels();
    return ok ? 0 : -1;
}

// A graph saved from its context menu, or not: the operator reads it in the status line.
void ShowExportReport(const char *text) {
    SetCtrlVal(pHandle, PANEL_STATUS, text);
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

namespace {

// Defaults of the parameter set; GetPanelValues replaces them with what the panels hold.
void DefaultParameterSet(void) {
    uint16_t *w = parameter.set0;
    w[SET0_P00] = 500;
    w[SET0_P11] = 0;
    w[SET0_VIDEO_THRESHOLD] = 512;
    w[SET0_ANALOG_MODE] = 0;
    w[SET0_P02] = 1;
    w[SET0_EVAL_MODE] = 1;
    w[SET0_LEFT_EDGE] = 1;
    w[SET0_RIGHT_EDGE] = 1024;
    w[SET0_SETPOINT] = 512;
    w[SET0_TOLERANCE] = 100;
    w[SET0_HARDWARE_VARIANT] = 1;
    parameter.scale = 16384;
    parameter.offset = YOFFSET;
}

// The link and the loops at rest.
void DefaultLinkState(void) {
    com = 1;
    parameter.start = 0x55;
    parameter.command = CMD_WRITE_RAM;
    parameter.argument = 0;
    target = RAM;
    tstart = tdiff = 0.0;
    rx_flag = 0;
    graph_flag = 0;
    dynpow = 0;
    stop_flag = 1;
}

// The hardware description until the sensor tells us better.
void DefaultHardware(void) {
    pixB = 1;
    pixE = 1024;
    ccdmaxpixel = 1024;
    ccdvirtpixel = 4096;
    pcbtype = 101;
    refdistance = 37;
}

// The bar graph before any answer: the three cursors and the tolerance band (signed, so a
// tolerance wider than the setpoint reaches below 0).
void PlotStartupBars(void) {
    const uint16_t *w = parameter.set0;
    DeleteGraphPlot(pHandle, PANEL_GRAPH, -1, VAL_DELAYED_DRAW);
    SetGraphCursor(pHandle, PANEL_GRAPH, 1, static_cast<double>(w[SET0_SETPOINT]), 1.0);
    SetGraphCursor(pHandle, PANEL_GRAPH, 2, static_cast<double>(w[SET0_LEFT_EDGE]), 1.0);
    SetGraphCursor(pHandle, PANEL_GRAPH, 3, static_cast<double>(w[SET0_RIGHT_EDGE]), 1.0);
    const int setpoint = w[SET0_SETPOINT];
    const int tolerance = w[SET0_TOLERANCE];
    PlotRectangle(pHandle, PANEL_GRAPH, static_cast<double>(setpoint - tolerance), 0.0,
                  static_cast<double>(setpoint + tolerance), 0.25, VAL_GREEN, VAL_GREEN);
}

} // namespace

void InitVars(void) {
    DefaultParameterSet();
    DefaultLinkState();
    DefaultHardware();

    CopyText(szStatus, "InitVars");
    SetCtrlVal(pHandle, PANEL_STATUS, szStatus);
    CopyText(szSoftVersion, "Version 3.0b");
    CopyText(szSoftName, "K-VOR-RN-Zodid");
    ShowLogo(2);

    GetPanelValues();
    PlotStartupBars();

    // The start-up threshold line uses the factor 255; every later refill uses ADCMAX.
    for (int i = 0; i < 256; ++i) {
        thdArray[i] = static_cast<uint16_t>(255 * parameter.set0[SET0_VIDEO_THRESHOLD] / 100);
        thdArrayEE[i] = thdArray[i];
    }
}

void InitGUI(void) {
    // Hardware variants 1 and 3 work with a fixed window: their tolerance is not set here.
    unsigned short hardware = 0;
    GetCtrlVal(pPara1, PARA1_DROPHardware, &hardware);
    SetCtrlAttribute(pPara1, PARA1_NEDITTolerance, ATTR_DIMMED, (hardware == 1 || hardware == 3) ? 1 : 0);

    tol = parameter.set0[SET0_TOLERANCE];
    // Computed in double: the product of the two unsigned factors can exceed 32 bits.
    SetCtrlVal(pHandle, PANEL_TOLVALUE,
               static_cast<double>(parameter.scale) * static_cast<double>(tol) / 16384000.0);

    // The three pages share one place below the logo strip.
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

namespace {

// Applies the command line's port mappings: false (with the reason on standard error) when one
// names a number no port can have.
bool MapPorts(const CommandLine &cl) {
    for (const PortMapping &mapping : cl.ports) {
        SetComPortDevice(mapping.port, mapping.device);
        if (ComPortDevice(mapping.port) != mapping.device) {
            std::fprintf(stderr, "%s: --port %d: no serial port has that number\n", kProgramName, mapping.port);
            return false;
        }
    }
    return true;
}

// The simulated sensor answers on its own thread, behind port 1, until the event loop ends.
bool StartSimulator(const CommandLine &cl, std::unique_ptr<kvorsim::Simulator> *simulator) {
    if (!cl.simulate) return true;
    kvorsim::Options options;
    options.pacing = true;
    options.eepromFile = cl.eepromFile;
    simulator->reset(new kvorsim::Simulator(options));
    if (!(*simulator)->start()) {
        std::fprintf(stderr, "%s: cannot start the simulated sensor: %s\n", kProgramName,
                     (*simulator)->error().c_str());
        return false;
    }
    SetComPortDevice(1, (*simulator)->devicePath());
    return true;
}

// The port to start on: the command line's, else the one remembered from the last run.
std::string ChooseStartPort(const CommandLine &cl) {
    ConnectionStart start;
    start.useSettings = !cl.noSettings;
    start.com = cl.com;
    start.firstMappedPort = cl.ports.empty() ? 0 : cl.ports.front().port;
    start.simulatorPort = cl.simulate ? 1 : 0;
    std::string portNote;
    com = ConnectionStartPort(start, &portNote);
    SetCtrlVal(pHandle, PANEL_DropDCom, com);
    return portNote;
}

// From the panels to the end of the event loop: defaults, the link, the window.
void RunProgram(const CommandLine &cl) {
    GetProjectDir(&proj_dir);
    InitVars();
    const std::string portNote = ChooseStartPort(cl);
    // A failed link is reported in the status line; the program runs on without it.
    InitRS232(com);
    StartUnsentMarks(); // what was read at start-up is what the pages are measured against
    ConnectionStarted(portNote);
    InitGUI();
    DisplayPanel(pHandle);
    DisplayPanel(pPara1);
    // Recording from the start: the header carries what the start-up exchange found.
    std::string error;
    if (!cl.recordFile.empty() && !StartRecordingInto(cl.recordFile, &error))
        std::fprintf(stderr, "%s: --record: %s\n", kProgramName, error.c_str());
    RunUserInterface();
}

void DiscardPanels(void) {
    for (int *handle : {&pPara1, &pPara2, &pCalib, &pPopup, &pHandle}) {
        DiscardPanel(*handle);
        *handle = 0;
    }
}

} // namespace

namespace {

// A command word anywhere on the line: a wrong option is then a usage error of a command run.
bool IsCommandRun(int argc, char **argv) {
    for (int i = 1; i < argc; ++i)
        if (argv[i] && IsCliCommand(argv[i])) return true;
    return false;
}

// A command-line run: no panels, no window, no display needed.
int RunCommand(int argc, char **argv, const CommandLine &cl) {
    if (!cl.eepromFile.empty() && !cl.simulate) {
        std::fprintf(stderr, "%s: --eeprom only applies to the simulated sensor (--simulate)\n", kProgramName);
        return kExitUsage;
    }
    if (!IsCliCommand(cl.command.front())) {
        std::fprintf(stderr, "%s: unknown command '%s'\n%s", kProgramName, cl.command.front().c_str(), CliUsageText());
        return kExitUsage;
    }
    if (!MapPorts(cl)) return kExitUsage;
    if (InitHeadlessRunTime(argc, argv, CliCommandNeedsFonts(cl.command) ? 1 : 0) == 0) return kExitNoAnswer;
    std::unique_ptr<kvorsim::Simulator> simulator;
    const std::string port1Device = ComPortDevice(1);
    if (!StartSimulator(cl, &simulator)) return kExitNoAnswer;
    ConnectionStart start;
    start.useSettings = !cl.noSettings;
    start.firstMappedPort = cl.ports.empty() ? 0 : cl.ports.front().port;
    start.simulatorPort = cl.simulate ? 1 : 0;
    // A command never remembers its port: --com chooses for this run only, and the window's next
    // start stays where the operator left it.
    const int port = cl.com > 0 ? cl.com : ConnectionStartPort(start, nullptr);
    InitVars();
    const int result = RunCliCommand(port, cl.command);
    if (simulator) {
        simulator->stop();
        SetComPortDevice(1, port1Device);
    }
    return result;
}

} // namespace

namespace {

// The simulated sensor stops with the program, and port 1 means its device again.
struct SimulatorScope {
    std::unique_ptr<kvorsim::Simulator> simulator;
    std::string port1Device = ComPortDevice(1);
    ~SimulatorScope() {
        if (!simulator) return;
        simulator->stop();
        SetComPortDevice(1, port1Device);
    }
};

// The recorder window's contents; a file given with --record is checked before the link.
bool SetUpRecording(const CommandLine &cl) {
    SetUpRecorder(pPopup);
    std::string error;
    if (cl.recordFile.empty() || CheckRecordFile(cl.recordFile, &error)) return true;
    std::fprintf(stderr, "%s: --record: %s\n", kProgramName, error.c_str());
    ShutDownRecorder();
    DiscardLoadedPanels();
    return false;
}

// The program with its window: panels, the link, the event loop, and the way down again.
int RunWithWindow(int argc, char **argv, const CommandLine &cl) {
    // The check shows no window, so it needs no display, whatever platform the environment names.
    if (cl.check) setenv("QT_QPA_PLATFORM", "offscreen", 1);
    if (InitRunTime(argc, argv) == 0) return -1; // it said why, in one line on standard error
    RegisterCallbacks(kPanelFileCallbacks, kPanelFileCallbackCount);
    ConnectLinkToPanels();

    SimulatorScope sim;
    if (!StartSimulator(cl, &sim.simulator)) return -1;
    if (LoadAllPanels(kPanelFile) < 0) return -1;
    if (cl.check) return CheckInstallation(kPanelFile);
    SetExportReport(ShowExportReport);
    if (!SetUpRecording(cl)) return -1;

    RunProgram(cl);
    // CC_PANEL has closed the port already; closing again is harmless. The recording's last rows
    // reach the disk before the window goes.
    ConnectionShutdown();
    CloseCom(com);
    std::string lost;
    if (!ShutDownRecorder(&lost)) std::fprintf(stderr, "%s: %s\n", kProgramName, lost.c_str());
    DiscardPanels();
    return 0;
}

} // namespace

int KvorMain(int argc, char **argv) {
    CommandLine cl;
    std::string error;
    switch (ParseCommandLine(argc, argv, &cl, &error)) {
    case kParseHelp:
        PrintUsage(stdout);
        return 0;
    case kParseVersion:
        std::printf("%s 3.0b\n", kProgramName);
        return 0;
    case kParseError:
        std::fprintf(stderr, "%s: %s\n", kProgramName, error.c_str());
        PrintUsage(stderr);
        return IsCommandRun(argc, argv) ? kExitUsage : -1;
    case kParseRun:
        break;
    }
    if (!cl.command.empty()) return RunCommand(argc, argv, cl);
    if (!MapPorts(cl)) return -1;
    return RunWithWindow(argc, argv, cl);
}
