// The program's shared state: every variable that the modules share, with its default.
//
// Everything runs on the one user-interface thread, so these are plain variables without locks.
// "Default" is what InitVars gives; a variable without a load value starts at zero or empty.
#pragma once

#include <cstddef>
#include <cstdint>
#include <cstring>
#include <string>

// --- constants (ADCMAX is the one the program changes) ----------------------------------------
constexpr int RAM = 1;          // memory target: the sensor's RAM
constexpr int EEPROM = 2;       // memory target: the sensor's EEPROM
constexpr int DATFILE = 3;      // memory target: a parameter file
constexpr int YOFFSET = 30000;  // default of parameter.offset
constexpr double TIMEOUT = 1.5; // seconds: every wait for an answer, and the port's own time-out
constexpr int eventMask = 0x8006; // receive notification: queue full | event char | out empty
// Event character of the receive notification. Upper case because POSIX already has sync().
constexpr int SYNC = 0x55;
extern uint16_t ADCMAX;           // load value 1024: full scale of the video signal (1024 or 256)

// --- panel handles ------------------------------------------------------------------------------
extern int pHandle; // PANEL, the main window
extern int pPopup;  // POPUP, the recorder window
extern int pPara1;  // PARA1, parameter page 1
extern int pPara2;  // PARA2, parameter page 2
extern int pCalib;  // CALIB, calibration page

// --- serial link and run state ------------------------------------------------------------------
constexpr size_t kSerialBufSize = 1024;
extern int com;                        // default 1: serial port number
extern char szWriteBuf[kSerialBufSize]; // transmit buffer; a frame is its first 36 bytes
extern char szReadBuf[kSerialBufSize];  // receive buffer
extern int nBytesW;                    // bytes the last write queued
extern int nBytesR;                    // bytes the last block read returned
extern int ret;                        // result of the port set-up calls
extern int rx_flag;                    // default 0: a 36-byte frame has arrived
extern int graph_flag;                 // default 0: the last frame was a raw-data answer
extern int stop_flag;                  // default 1: no loop runs, or the running one must end
extern int target;                     // default RAM: RAM, EEPROM or DATFILE
extern double tstart;                  // default 0.0: when the present wait began (Timer)
extern double tdiff;                   // default 0.0: seconds since tstart

// --- the parameter record -----------------------------------------------------------------------
struct ParameterRecord {
    uint16_t start;     // default 0x55: start word of a data-block request
    uint16_t command;   // default 1: command word of the next frame
    uint16_t argument;  // default 0: argument word of the next frame (set index 0 or 1)
    uint16_t set0[15];  // parameter set 0, word k = packet word k
    uint16_t set1[11];  // words 0 to 10 of parameter set 1, carried but never shown
    uint32_t scale;     // default 16384: scale factor times 16384 (set 1 words 11 low, 12 high)
    int32_t offset;     // default YOFFSET: offset (set 1 words 13 low, 14 high)
};
extern ParameterRecord parameter;
// Defaults of set 0: word 0 = 500, 2 = 1, 3 = 1 (evaluation mode), 4 = 1 (left edge),
// 5 = 1024 (right edge), 6 = 512 (setpoint), 7 = 100 (tolerance), 10 = 0 (analog mode),
// 11 = 0, 13 = 1 (hardware variant), 14 = 512 (video threshold); words 1, 8, 9, 12 start at 0.

// --- packet buffer ------------------------------------------------------------------------------
extern uint16_t pp[16]; // a parameter packet uses words 0 to 14, a raw-data answer all 16

// --- measured values (from the raw-data answer) ------------------------------------------------
extern uint16_t Ledge, Redge, Mvalue;
extern uint32_t umValue; // micrometres, shown divided by 1000
extern uint16_t tol;     // tolerance reported by the sensor (start-up: set 0 word 7)
extern uint16_t edcnt;   // edge count
extern uint16_t mvstart, mvend;
extern uint16_t dynpow;  // default 0
extern uint16_t anaMax, anaMin;
extern uint16_t in0, raw14, raw15;

// --- CCD and hardware description (hardware-information answer) ------------------------------
extern uint16_t ccdtype;
extern uint16_t ccdmaxpixel;  // default 1024
extern uint16_t ccdresolution;
extern uint16_t pcbtype;      // default 101
extern uint16_t ccdvirtpixel; // default 4096: positions on the pixel axis
extern uint16_t ccdsubpixel;
extern uint16_t ccdpixB;
extern uint16_t ccdpixE;
extern uint16_t softversion;
extern uint16_t refdistance;  // default 37
extern uint16_t adcmax;
extern uint16_t pixB;         // default 1: lowest edge setting
extern uint16_t pixE;         // default 1024: highest edge setting

// --- arrays -------------------------------------------------------------------------------------
extern uint16_t thdArray[256];   // threshold line over the video curve (all elements equal)
extern double xArray8[256];      // x positions of the video curve
extern uint16_t adcbuf[256];     // the video line in converter counts
extern uint16_t thdArrayEE[256]; // threshold values read from the sensor
extern double arrayNORM[600];    // strip-chart history: 100 samples of 6 traces, interleaved

// --- texts --------------------------------------------------------------------------------------
constexpr size_t kTextSize = 72; // up to 71 characters and the terminating zero
extern char szStatus[kTextSize];
extern char szVersion[kTextSize];
extern char szSoftVersion[kTextSize]; // "Version 3.0b"
extern char szSoftName[kTextSize];    // "K-VOR-RN-Zodid"
extern char szHwLine[3][kTextSize];  // the three lines of the hardware description
extern char szFirmware[kTextSize];   // the firmware text, once read (empty before)
extern std::string proj_dir;          // the program's own directory
extern std::string file_name;         // the parameter file chosen in the last dialog, kept whole

// Copies a text into a fixed buffer, cut to fit and always terminated.
template <size_t N> inline void CopyText(char (&dest)[N], const char *src) {
    size_t n = 0;
    if (src) {
        while (n + 1 < N && src[n] != '\0') ++n;
        std::memcpy(dest, src, n);
    }
    dest[n] = '\0';
}

// --- start-up and shutdown ----------------------------------------------------------------------
void InitVars(void);
void InitGUI(void);
// Loads the five panels (steps 2 to 5 of start-up): 0, or -1 at the first panel that fails.
int LoadAllPanels(const char *panelFile);
// The entry point: start-up, event loop, shutdown. 0 after a normal end, -1 when start-up fails.
int KvorMain(int argc, char **argv);
