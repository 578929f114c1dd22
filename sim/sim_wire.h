// The simulated sensor's side of the wire: the request receiver, the answers that are not frames,
// the request log line and the EEPROM file.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

namespace kvorsim {

constexpr size_t kFrameBytes = 36;
constexpr size_t kFirmwareBytes = 72;
constexpr size_t kBlockWords = 64;
constexpr uint16_t kRequestStart = 0x0055;
constexpr uint16_t kAnswerStart = 0x00AA;

// Collects requests from the byte stream. A request is 36 bytes starting 00 55; anything else is
// thrown away until the next 00 55, as the sensor's own receiver does. A request that stalls in
// the middle for longer than 'gap' seconds is abandoned, so that a cut-off request cannot swallow
// the beginning of the next one.
class FrameReceiver {
public:
    explicit FrameReceiver(double gapSeconds = 0.25) : gap_(gapSeconds) {}
    // One byte that arrived at time t (seconds). True when it completed a request in 'frame'.
    bool push(uint8_t byte, double t, uint8_t frame[kFrameBytes]);
    void reset() { len_ = 0; }
    size_t pending() const { return len_; }
    // Bytes thrown away so far (noise and abandoned requests).
    uint64_t skipped() const { return skipped_; }

private:
    double gap_;
    uint8_t buf_[kFrameBytes] = {};
    size_t len_ = 0;
    double last_ = 0.0;
    uint64_t skipped_ = 0;
};

inline uint16_t WordAt(const uint8_t *p) {
    return static_cast<uint16_t>((p[0] << 8) | p[1]);
}
inline void PutWord(uint8_t *p, uint16_t w) {
    p[0] = static_cast<uint8_t>(w >> 8);
    p[1] = static_cast<uint8_t>(w & 0xFF);
}

// The 72-byte firmware answer. Board type 0 sends one character per word (in the low byte) and
// ends the text with a zero word; every other board type sends the text and a zero byte. Text
// that does not fit is cut, so that the terminating zero always fits.
std::vector<uint8_t> FirmwareAnswer(const std::string &text, uint16_t pcbtype);
// The 128-byte answer to a block request: words start .. start+63 of the line, high byte first;
// words beyond the end of the line are 0.
std::vector<uint8_t> BlockAnswer(const uint16_t line[256], uint16_t start);

// One line of the request log, without the line end: time, command, argument and values.
std::string FormatRequestLine(double time, uint16_t start, uint16_t command, uint16_t argument,
                              const uint16_t values[15]);

// The EEPROM file: two lines "set0 w0 .. w14" and "set1 w0 .. w14", comment lines start with '#'.
// Load returns false with a message for a file that cannot be read or is malformed; 'missing' is
// set when the file does not exist (then the sets are left untouched).
bool LoadEepromFile(const std::string &path, uint16_t sets[2][15], bool *missing, std::string *error);
// Writes through a temporary file and a rename, so a crash never leaves half a file behind.
bool SaveEepromFile(const std::string &path, const uint16_t sets[2][15], std::string *error);

} // namespace kvorsim
