// The command line: the program's own operations on the sensor, without a window. Texts for the
// user go to standard output, the link's status texts and the errors to standard error.
#include "cli.h"

#include <QString>

#include <cstdio>
#include <cstring>

#include "com232.h"
#include "linkreport.h"
#include "params.h"
#include "report.h"
#include "rs232.h"
#include "sensorsets.h"
#include "state.h"
#include "utility.h"

namespace {

const char *const kName = "kvor-zodid";

// The program's texts are Latin-1 (the micro sign of the hardware lines); the terminal's UTF-8.
std::string Utf8(const char *latin1) { return QString::fromLatin1(latin1).toUtf8().toStdString(); }

// Keeps the link's last status text and whether an exchange went unanswered.
class CliReporter : public LinkReporter {
  public:
    void Status(const char *text) override { last = text ? text : ""; }
    void HardwareLine(int line, const char *text) override {
        if (line >= 0 && line < 3) CopyText(szHwLine[line], text);
    }
    void Firmware(const char *text) override { CopyText(szFirmware, text); }
    void Exchange(bool answered) override {
        if (!answered) unanswered = true;
    }
    std::string last;
    bool unanswered = false;
};

struct Args {
    std::string command, file;
    int memory = EEPROM;
};

int Usage(const std::string &why) {
    std::fprintf(stderr, "%s: %s\n%s", kName, why.c_str(), CliUsageText());
    return kExitUsage;
}

bool ParseMemory(const std::string &text, int *memory) {
    if (text == "ram" || text == "RAM") *memory = RAM;
    else if (text == "eeprom" || text == "EEPROM") *memory = EEPROM;
    else return false;
    return true;
}

// The command's arguments: one file, and for some commands a memory option.
int ParseArgs(const std::vector<std::string> &args, Args *out) {
    out->command = args.empty() ? std::string() : args[0];
    if (!IsCliCommand(out->command)) return Usage("unknown command '" + out->command + "'");
    const char *memoryOption = out->command == "backup"    ? "--from"
                               : out->command == "restore" ? "--to"
                               : out->command == "compare" ? "--with"
                               : out->command == "report"  ? "--from"
                                                           : nullptr;
    for (size_t i = 1; i < args.size(); ++i) {
        const std::string &a = args[i];
        if (memoryOption && (a == memoryOption || a.rfind(std::string(memoryOption) + "=", 0) == 0)) {
            std::string value;
            if (a == memoryOption) {
                if (i + 1 >= args.size()) return Usage(std::string(memoryOption) + " needs ram or eeprom");
                value = args[++i];
            } else {
                value = a.substr(std::strlen(memoryOption) + 1);
            }
            if (!ParseMemory(value, &out->memory)) return Usage(std::string(memoryOption) + " needs ram or eeprom");
        } else if (!a.empty() && a[0] == '-' && a != "-") {
            return Usage("unknown option '" + a + "' for " + out->command);
        } else if (out->command != "info" && out->file.empty()) {
            out->file = a;
        } else {
            return Usage("too many arguments for " + out->command);
        }
    }
    if (out->command != "info" && out->file.empty()) return Usage(out->command + " needs a file name");
    return kExitOk;
}

const char *MemoryName(int memory) { return memory == RAM ? "RAM" : "EEPROM"; }

int NoAnswer(const CliReporter &reporter) {
    const std::string text = szStatus[0] ? std::string(szStatus) : reporter.last;
    std::fprintf(stderr, "%s: %s\n", kName, text.empty() ? "no answer from the sensor" : Utf8(text.c_str()).c_str());
    return kExitNoAnswer;
}

// The start-up exchange of the window: port, line check, hardware, the RAM sets, firmware.
bool Connect(int port) {
    com = port;
    szStatus[0] = '\0';
    InitRS232(port);
    if (ret < 0) return false; // the port did not open
    if (ret != 1) return false; // no echo
    return true;
}

// The 30-value file into 'words' without touching the record: false (said on stderr) on error.
// A value beyond 16 bits makes the file malformed here: the window takes its low half, but a
// set written into the sensor from it, and verified, would not be the set the file holds.
bool ReadFile(const std::string &path, SetWords *words) {
    uint32_t values[30] = {0};
    if (ReadParaFileValues(path, values) < 0) {
        std::fprintf(stderr, "%s: %s: not a parameter file (30 unsigned numbers) or not readable; nothing written\n",
                     kName, path.c_str());
        return false;
    }
    for (int i = 0; i < 30; ++i) {
        if (values[i] > 0xFFFFu) {
            std::fprintf(stderr, "%s: %s: value %d (%u) is above 65535; nothing written\n", kName, path.c_str(), i + 1,
                         static_cast<unsigned>(values[i]));
            return false;
        }
    }
    const ParameterRecord saved = parameter;
    TakeParaFileValues(values);
    *words = RecordWords(parameter);
    parameter = saved;
    return true;
}

void PrintDifferences(const std::vector<ValueDifference> &diffs, const char *first, const char *second) {
    std::printf("%-24s %-24s %s\n", "Parameter", first, second);
    for (const ValueDifference &d : diffs)
        std::printf("%-24s %-24s %s\n", d.name.c_str(), d.a.c_str(), d.b.c_str());
}

int Info(void) {
    std::printf("Port: COM%d %s\n", com, ComPortDevice(com).c_str());
    std::printf("Line: Echo Check - Line Ok!\n");
    for (int i = 0; i < 3; ++i)
        std::printf("Hardware: %s\n", Utf8(szHwLine[i]).c_str());
    std::printf("Firmware: %s\n", Utf8(szFirmware).c_str());
    return kExitOk;
}

int Backup(const Args &a, CliReporter &reporter) {
    SetWords sets;
    Delay(kSetPause);
    if (!ReadSensorSets(a.memory, &sets)) return NoAnswer(reporter);
    const ParameterRecord saved = parameter;
    parameter = RecordWithWords(parameter, sets);
    const int written = WriteParaFile(a.file);
    parameter = saved;
    if (written < 0) {
        std::fprintf(stderr, "%s: cannot write %s\n", kName, a.file.c_str());
        return kExitFileError;
    }
    std::printf("Both sets of the %s written to %s\n", MemoryName(a.memory), a.file.c_str());
    return kExitOk;
}

int Restore(const Args &a, const SetWords &file, CliReporter &reporter) {
    parameter = RecordWithWords(parameter, file);
    Delay(kSetPause);
    if (!WriteSensorSets(a.memory)) return NoAnswer(reporter);
    const VerifyResult result = VerifyWrittenSets(a.memory, file);
    if (!result.answered) return NoAnswer(reporter);
    if (!result.ok()) {
        std::fprintf(stderr, "%s: %s\n", kName, result.text.c_str());
        PrintDifferences(result.differences, "written", "read back");
        return kExitVerifyFailed;
    }
    std::printf("%s (%s, from %s)\n", result.text.c_str(), MemoryName(a.memory), a.file.c_str());
    return kExitOk;
}

int Compare(const Args &a, const SetWords &file, CliReporter &reporter) {
    SetWords sensor;
    Delay(kSetPause);
    if (!ReadSensorSets(a.memory, &sensor)) return NoAnswer(reporter);
    const std::vector<ValueDifference> diffs = DifferingValues(file, sensor);
    if (diffs.empty()) {
        std::printf("No differences between %s and the %s\n", a.file.c_str(), MemoryName(a.memory));
        return kExitOk;
    }
    PrintDifferences(diffs, "file", MemoryName(a.memory));
    return kExitDifferences;
}

int Report(const Args &a, CliReporter &reporter) {
    SetWords sets;
    Delay(kSetPause);
    if (!ReadSensorSets(a.memory, &sets)) return NoAnswer(reporter);
    const SetupSheet sheet = CurrentSetupSheet(sets, std::string(MemoryName(a.memory)) + " of the sensor");
    if (WriteSetupSheet(a.file, sheet) < 0) {
        std::fprintf(stderr, "%s: cannot write %s\n", kName, a.file.c_str());
        return kExitFileError;
    }
    std::printf("Set-up sheet written to %s\n", a.file.c_str());
    return kExitOk;
}

} // namespace

bool IsCliCommand(const std::string &word) {
    return word == "info" || word == "backup" || word == "restore" || word == "compare" || word == "report";
}

const char *CliUsageText(void) {
    return "\n"
           "Commands (no window, no display needed):\n"
           "  info                             line check, hardware description and firmware text\n"
           "  backup FILE [--from ram|eeprom]  both parameter sets into a parameter file\n"
           "  restore FILE [--to ram|eeprom]   both sets of a parameter file into the sensor, read back\n"
           "                                   and compared\n"
           "  compare FILE [--with ram|eeprom] each value that differs: name, file value, sensor value\n"
           "  report FILE.pdf [--from ram|eeprom]  the set-up sheet, read from the sensor\n"
           "The memory is EEPROM unless given (what the sensor keeps at power-off). The port is --com N,\n"
           "else the first --port N=DEVICE, else the port used last, else 1.\n"
           "Exit codes: 0 success (compare: no difference), 1 compare found differences, 2 the sensor\n"
           "did not answer or a line error, 3 a file error, 4 the read-back after restore differs,\n"
           "64 wrong usage.\n";
}

bool CliCommandNeedsFonts(const std::vector<std::string> &args) { return !args.empty() && args[0] == "report"; }

int RunCliCommand(int port, const std::vector<std::string> &args) {
    Args a;
    if (const int usage = ParseArgs(args, &a)) return usage;

    // A file to write into the sensor or compare with is read first: a bad one stops the run
    // before anything goes over the line.
    SetWords file;
    if ((a.command == "restore" || a.command == "compare") && !ReadFile(a.file, &file)) return kExitFileError;

    CliReporter reporter;
    LinkReporter *before = CurrentLinkReporter();
    SetLinkReporter(&reporter);
    int result = kExitOk;
    if (!Connect(port)) {
        result = NoAnswer(reporter);
    } else if (a.command == "info") {
        result = reporter.unanswered ? NoAnswer(reporter) : Info();
    } else if (a.command == "backup") {
        result = Backup(a, reporter);
    } else if (a.command == "restore") {
        result = Restore(a, file, reporter);
    } else if (a.command == "compare") {
        result = Compare(a, file, reporter);
    } else {
        result = Report(a, reporter);
    }
    CloseCom(port);
    SetLinkReporter(before);
    return result;
}
