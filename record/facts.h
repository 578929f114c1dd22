// What a recording's header says about the program, the link and the sensor.
#pragma once

#include <cstdint>
#include <string>

struct RecordFacts {
    std::string program;     // the program's name
    std::string version;     // its version text
    int port = 0;            // serial port number
    std::string device;      // the device behind that number
    std::string hardware[3]; // the three lines of the hardware description
    std::string firmware;    // the sensor's firmware text
    uint16_t set0[15] = {};  // parameter set 0, in the parameter file's order
    uint16_t set1[15] = {};  // parameter set 1 as the sensor packs it (scale and offset in 11-14)
    uint32_t scale = 16384;
    int32_t offset = 0;
};

// The facts as the program holds them now: the shared state, the calibration page's hardware
// lines and the port table. The one place that knows where each fact lives.
RecordFacts CollectRecordFacts(void);
