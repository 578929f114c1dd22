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

#include "sensor_model.h"

namespace kvorsim {

// One request as the simulator received it.
struct Request {
    double time;         // seconds since the simulator started (monotonic)
    uint16_t start;      // start word (0x0055 for a well-formed request)
    uint16_t command;
    uint16_t argument;
    uint16_t values[15];
    // When the request's first byte was read from the line, and when the last byte of its answer
    // was written to it (seconds since the simulator started, like 'time'); -1 while there is
    // none. The gap from one answer's last byte to the next request's first byte is the far
    // end's turnaround, paced travel time not included.
    double received = -1.0;
    double answered = -1.0;
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
    bool ignoreWrites = false;      // commands 1 and 3 leave RAM and EEPROM as they are
    bool noise = true;              // video noise and a pixel of edge jitter, as on a real line
    double unsolicitedPeriod = 0.0; // > 0: a measurement frame every so many seconds, unasked
};

// Faults the simulator injects on the next requests. 'command' -1 means any command.
// A fault applies to requests that have an answer (a write without an answer does not use it up);
// 'count' < 0 applies it to every matching request until clearFaults(). When several faults
// match one request they all apply, in the order they were injected.
struct Fault {
    enum Kind {
        Drop,           // no answer
        Truncate,       // only the first 'bytes' bytes of the answer (0: all but the last)
        Extend,         // the answer padded with extra bytes to 'bytes' bytes in all (0: 4 more)
        CorruptStart,   // start word replaced by 'value'
        CorruptCommand, // command word replaced by 'value'
        Delay,          // answer sent 'seconds' late (0: 2 s, past the program's 1.5 s)
        Replace         // the answer replaced by 'data'
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
    std::string slavePath() const;  // the slave side itself, even when a link path is set
    bool connected() const;         // the pseudo-terminal is open (not disconnected)
    std::string error() const;

    // --- request log ---
    std::vector<Request> requests() const;
    // Hands the logged requests over and empties the log; requestCount() goes on counting. A long
    // run drains the log this way so that it does not grow.
    std::vector<Request> takeRequests();
    size_t requestCount() const;
    void clearRequests();
    // Polls until at least n requests arrived or the deadline passed.
    bool waitForRequests(size_t n, double timeoutSeconds) const;

    // --- state ---
    void setPacing(bool on);
    void setAnswerWrites(bool on);
    void setIgnoreWrites(bool on);
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

    // --- the model, for tests and demonstrations ---
    // The model's clock runs from start(); freezing holds the object at that moment, unfreezing
    // lets it move on from there.
    void freezeModel(double seconds);
    void unfreezeModel();
    double modelTime() const;
    // Puts a fixed scene in front of the sensor instead of the moving object.
    void setScene(const Scene &scene);
    void clearScene();
    Scene scene() const; // what the sensor sees now
    void setNoise(bool on);

    // --- faults ---
    void inject(const Fault &fault);
    void clearFaults(); // also cancels a planned disconnect
    // Sends bytes at once, without a request (an unsolicited frame or line noise).
    void sendUnsolicited(const std::vector<uint8_t> &bytes);
    // Closes the pseudo-terminal after n more requests (0: now, < 0: not at all): the port goes
    // away. The answer to the last request still goes out first.
    void disconnectAfter(int requests);
    // Opens a new pseudo-terminal after a disconnect; the link path (if any) follows it.
    bool reconnect();
    // Bytes thrown away while looking for a request's start word.
    uint64_t skippedBytes() const;

private:
    struct Impl;
    std::unique_ptr<Impl> d;
};

// Builds a 36-byte frame: start word, command, argument and 15 values, high byte first.
std::vector<uint8_t> BuildFrame(uint16_t start, uint16_t command, uint16_t argument,
                                const uint16_t values[15]);

} // namespace kvorsim
