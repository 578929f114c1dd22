// The command line: info, backup, restore, compare and report without a window.
#pragma once

#include <string>
#include <vector>

// Exit codes of a command-line run.
enum CliExit {
    kExitOk = 0,          // success; compare found no difference
    kExitDifferences = 1, // compare found differences
    kExitNoAnswer = 2,    // the sensor did not answer, or a line error
    kExitFileError = 3,   // a file could not be read or written
    kExitVerifyFailed = 4, // the read-back after restore differs
    kExitUsage = 64       // wrong usage
};

// True when 'word' is one of the commands.
bool IsCliCommand(const std::string &word);
// The commands' part of --help.
const char *CliUsageText(void);
// Runs 'args' (the command word first) on port 'port'. The run-time must be a headless one.
int RunCliCommand(int port, const std::vector<std::string> &args);
// Whether the command needs a run-time that can lay out text (report).
bool CliCommandNeedsFonts(const std::vector<std::string> &args);
