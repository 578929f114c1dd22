// The set-up sheet: a PDF with the date and time, the program, the port, the sensor's hardware
// description and firmware, both parameter sets by name and a picture of the bar graph.
#pragma once

#include <string>

#include "setwords.h"

struct SetupSheet {
    std::string when;     // date and time of the sheet
    std::string program;  // "K-VOR-RN-Zodid"
    std::string version;  // "Version 3.0b"
    std::string port;     // "COM1"
    std::string device;   // "/dev/ttyS0"
    std::string hw[3];    // the hardware description lines
    std::string firmware; // the firmware text
    std::string source;   // where the values come from ("EEPROM of the sensor", "the panels")
    SetWords sets;
    double axisEnd = 4096; // the bar graph's pixel axis runs from 1 to here
};

// A sheet of what the program knows now (program, port, hardware, firmware, the time now) with
// the given values.
SetupSheet CurrentSetupSheet(const SetWords &sets, const std::string &source);
// The sheet's text as the document holds it (for checks and for standard output).
std::string SetupSheetText(const SetupSheet &sheet);
// Writes the sheet as a PDF into 'path': 0, or -1 when the file cannot be written. Needs a
// run-time that can lay out text (a window's, or the headless one with fonts).
int WriteSetupSheet(const std::string &path, const SetupSheet &sheet);
