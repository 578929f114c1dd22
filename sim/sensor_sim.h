// A simulated K-VOR-RN sensor on a pseudo-terminal.
//
// The sensor's side of the serial line: it opens a pseudo-terminal in raw mode and answers every
// request that arrives on it, on a thread of its own. The program connects to devicePath()
// through its serial port like to any port. Depends on nothing of the program.
#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

namespace kvorsim {

// One request as the simulator received it.
struct Request {
    double time;         // seconds since the simulator started (monotonic)
    uint16_t start;      // start word (0x0055 for a well-formed request)
    uint16_t command;
    uint16_t argument;
    uint16_t values[15];
};

// The eleven words of the hardware-information answer.
struct HardwareInfo {
    uint16_t ccdtype = 1;
    uint16_t ccdmaxpixel = 1024;
    uint16_t ccdresolution = 8; // 7.8 um pixel pitch, rounded
    uint16_t pcbtype = 101;
    uint16_t ccdvirtpixel = 4096;
    uint16_t ccdsubpixel = 4;
    uint16_t ccdpixB = 1;
    uint16_t ccdpixE = 1024;
    uint16_t softversion = 300;
    uint16_t refdistance = 37;
    uint16_t adcmax = 1024;
};

struct Options {
    bool pacing = true;             // bytes leave at the pace of 'baud' 8N1 (10 bits a byte)
    int baud = 19200;
    double processingDelay = 0.002; // seconds between a complete request and its answer
    uint32_t seed = 1;              // the physical model is deterministic for a seed
    std::string eepromFile;         // persists the EEPROM sets; empty: EEPROM in memory only
    std::string linkPath;           // symlink to the device path (replaced if it exists)
    std::string logFile;            // request log; empty: none ("-" for standard error)
    bool answerWrites = false;      // commands 1 and 3 answer one frame when set
};

// Faults the simulator injects on the next requests. 'command' -1 means any command.
struct Fault {
    enum Kind {
        Drop,          // no answer
        Truncate,      // only the first 'bytes' bytes of the answer
        Extend,        // the answer padded with extra bytes to 'bytes' bytes in all
        CorruptStart,  // start word replaced by 'value'
        CorruptCommand,// command word replaced by 'value'
        Delay,         // answer sent 'seconds' late
        Replace        // the answer replaced by 'data'
    } kind = Drop;
    int command = -1;
    int count = 1;            // how many matching requests it applies to
    int bytes = 0;
    uint16_t value = 0;
    double seconds = 0.0;
    std::vector<uint8_t> data;
};

class Simulator {
public:
    explicit Simulator(const Options &options = Options());
    ~Simulator();
    Simulator(const Simulator &) = delete;
    Simulator &operator=(const Simulator &) = delete;

    // Opens the pseudo-terminal and starts the thread. False (with error()) on failure.
    bool start();
    void stop();
    bool running() const;
    std::string devicePath() const; // the slave side, e.g. /dev/pts/3 (or the link path)
    std::string error() const;

    // --- request log ---
    std::vector<Request> requests() const;
    size_t requestCount() const;
    void clearRequests();
    // Polls until at least n requests arrived or the deadline passed.
    bool waitForRequests(size_t n, double timeoutSeconds) const;

    // --- state ---
    void setPacing(bool on);
    void setAnswerWrites(bool on);
    void setHardware(const HardwareInfo &hw);
    HardwareInfo hardware() const;
    void setFirmwareText(const std::string &text); // answered as 72 bytes (text, zero, padding)
    void setRamSet(int set, const uint16_t words[15]);
    void ramSet(int set, uint16_t words[15]) const;
    void setEepromSet(int set, const uint16_t words[15]);
    void eepromSet(int set, uint16_t words[15]) const;
    // Fixes the 16 words of every raw-data answer (nullptr returns to the physical model).
    void setRawOverride(const uint16_t words[16]);
    // Fixes the video line (nullptr returns to the physical model).
    void setVideoOverride(const uint16_t line[256]);
    // The measured value that a teach would take and the analog extremes since the last reset.
    uint16_t measuredValue() const;
    uint16_t analogMax() const;
    uint16_t analogMin() const;

    // --- faults ---
    void inject(const Fault &fault);
    void clearFaults();
    // Sends bytes at once, without a request (an unsolicited frame or line noise).
    void sendUnsolicited(const std::vector<uint8_t> &bytes);
    // Closes the pseudo-terminal after n more requests (0: now): the port goes away.
    void disconnectAfter(int requests);
    // Opens a new pseudo-terminal after a disconnect; the link path (if any) follows it.
    bool reconnect();

private:
    struct Impl;
    std::unique_ptr<Impl> d;
};

// Builds a 36-byte frame: start word, command, argument and 15 values, high byte first.
std::vector<uint8_t> BuildFrame(uint16_t start, uint16_t command, uint16_t argument,
                                const uint16_t values[15]);

} // namespace kvorsim
