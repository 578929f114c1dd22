// The sensor's protocol by name: the commands the program sends and the words of parameter set 0.
#pragma once

#include <cstdint>

constexpr int kFrameSize = 36;     // every request and every answer frame
constexpr int kPacketWords = 15;   // values of a frame: one parameter set
constexpr int kFirmwareSize = 72;  // the firmware answer is a bare run of 72 bytes
constexpr int kBlockWords = 64;    // a data block is a bare run of 64 words
constexpr int kBlockSize = 2 * kBlockWords;
constexpr uint16_t kRequestStart = 0x0055; // start word of every request
constexpr uint16_t kAnswerStart = 0x00AA;  // start word the line check expects back

// Command words. Each answer frame carries the command word of its request.
enum Command : uint16_t {
    CMD_WRITE_RAM = 1,     // write one parameter set into RAM (no answer awaited)
    CMD_READ_RAM = 2,      // read one parameter set from RAM
    CMD_WRITE_EEPROM = 3,  // write one parameter set into EEPROM (no answer awaited)
    CMD_READ_EEPROM = 4,   // read one parameter set from EEPROM
    CMD_LINE_CHECK = 5,    // echo; answered with start word 0x00AA
    CMD_TEACH = 6,         // take the present measurement as the setpoint
    CMD_FIRMWARE = 7,      // 72 bytes of firmware text, not a frame
    CMD_RAW_DATA = 8,      // one measurement: 16 words
    CMD_DATA_BLOCK = 9,    // 64 words of the video or threshold line, not a frame
    CMD_HARDWARE = 10,     // the hardware description
    CMD_RESET_ANALOG = 11  // clear the analog output's stored maximum and minimum
};

// The words of parameter set 0, by what they hold.
enum Set0Word {
    SET0_P00 = 0,              // sensor parameter, 0 to 1000
    SET0_P01 = 1,              // sensor switch
    SET0_P02 = 2,              // sensor switch
    SET0_EVAL_MODE = 3,        // 0 left edge, 1 right edge, otherwise both
    SET0_LEFT_EDGE = 4,        // left edge limit in pixels
    SET0_RIGHT_EDGE = 5,       // right edge limit in pixels
    SET0_SETPOINT = 6,         // setpoint in pixels
    SET0_TOLERANCE = 7,        // half-width of the tolerance band in pixels
    SET0_P08 = 8,              // sensor parameter, 0 to 1024
    SET0_P09 = 9,              // sensor parameter, 0 to 2
    SET0_ANALOG_MODE = 10,     // what the analog output carries
    SET0_P11 = 11,             // sensor switch
    SET0_P12 = 12,             // sensor parameter
    SET0_HARDWARE_VARIANT = 13,
    SET0_VIDEO_THRESHOLD = 14  // per cent of the video full scale
};

// The words of parameter set 1 in a packet: 0 to 10 are carried as they are, then the two
// 32-bit values, low half first.
enum Set1Word { SET1_SCALE_LOW = 11, SET1_SCALE_HIGH = 12, SET1_OFFSET_LOW = 13, SET1_OFFSET_HIGH = 14 };

// The words of a raw-data answer (the frame's argument word first, then its 15 values).
enum RawWord {
    RAW_LEFT_EDGE = 0, RAW_RIGHT_EDGE = 1, RAW_VALUE = 2, RAW_UM_LOW = 3, RAW_UM_HIGH = 4,
    RAW_SETPOINT = 5, RAW_TOLERANCE = 6, RAW_EDGES = 7, RAW_MVSTART = 8, RAW_MVEND = 9,
    RAW_DYNPOW = 10, RAW_ANALOG_MAX = 11, RAW_ANALOG_MIN = 12, RAW_IN0 = 13, RAW_14 = 14, RAW_15 = 15
};
