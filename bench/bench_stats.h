// The arithmetic of the benchmark: what the serial line allows, rates, percentiles and the far
// end's view of the program's turnaround. Header-only, so the tests can use it without the
// benchmark program.
#pragma once

#include <algorithm>
#include <cmath>
#include <cstddef>
#include <limits>
#include <vector>

#include "sensor_sim.h"

namespace kvorbench {

// 8N1: a start bit, 8 data bits and a stop bit for every byte.
constexpr int kBitsPerByte = 10;
constexpr int kFrameBytes = 36;
constexpr int kBlockBytes = 128;
constexpr int kFirmwareBytes = 72;
constexpr int kBlocksPerVideoPass = 4;

// Seconds that 'bytes' bytes take on the line.
inline double LineSeconds(long bytes, int baud) {
    return static_cast<double>(bytes) * kBitsPerByte / static_cast<double>(baud);
}

// One RUN exchange: a request frame, its answer frame, and the sensor's processing in between.
inline double RunExchangeSeconds(int baud, double processingDelay) {
    return processingDelay + LineSeconds(2 * kFrameBytes, baud);
}

// One VIDEO pass: the raw-data exchange and four block exchanges, each answered after the
// sensor's processing.
inline double VideoPassSeconds(int baud, double processingDelay) {
    const long bytes = 2 * kFrameBytes + kBlocksPerVideoPass * (kFrameBytes + kBlockBytes);
    return (1 + kBlocksPerVideoPass) * processingDelay + LineSeconds(bytes, baud);
}

// The bytes of the start-up exchange: line check, hardware information and both parameter sets
// (a frame each way), then the firmware request and its 72-byte answer.
inline long StartupLineBytes() {
    return 4 * 2 * kFrameBytes + kFrameBytes + kFirmwareBytes;
}
constexpr int kStartupAnswers = 5;

// The p-th percentile (0 to 100) by the nearest-rank rule: the smallest value that at least p
// per cent of the values do not exceed. NaN for no values.
inline double Percentile(std::vector<double> values, double p) {
    if (values.empty()) return std::numeric_limits<double>::quiet_NaN();
    std::sort(values.begin(), values.end());
    p = std::min(100.0, std::max(0.0, p));
    const double rank = std::ceil(p / 100.0 * static_cast<double>(values.size()));
    const size_t index = rank < 1.0 ? 0 : static_cast<size_t>(rank) - 1;
    return values[std::min(index, values.size() - 1)];
}

inline double Median(const std::vector<double> &values) {
    return Percentile(values, 50.0);
}

inline double Mean(const std::vector<double> &values) {
    if (values.empty()) return std::numeric_limits<double>::quiet_NaN();
    double sum = 0.0;
    for (double v : values)
        sum += v;
    return sum / static_cast<double>(values.size());
}

inline double Max(const std::vector<double> &values) {
    return values.empty() ? std::numeric_limits<double>::quiet_NaN()
                          : *std::max_element(values.begin(), values.end());
}

// Events per second from their times: n events span n - 1 periods. 0 for fewer than two events
// or no time between them.
inline double RatePerSecond(const std::vector<double> &times) {
    if (times.size() < 2) return 0.0;
    const double span = times.back() - times.front();
    return span > 0.0 ? static_cast<double>(times.size() - 1) / span : 0.0;
}

// For every request whose answer went out and that was followed by another request: the time
// from the answer's last byte leaving the sensor to the next request's first byte reaching it.
// A next request that began before the answer ended did not wait for it and is left out.
inline std::vector<double> Turnarounds(const std::vector<kvorsim::Request> &log) {
    std::vector<double> gaps;
    for (size_t i = 0; i + 1 < log.size(); ++i) {
        const double answered = log[i].answered;
        const double next = log[i + 1].received;
        if (answered < 0.0 || next < answered) continue;
        gaps.push_back(next - answered);
    }
    return gaps;
}

// The first-byte times of the requests with the given command (-1: every request).
inline std::vector<double> ReceivedTimes(const std::vector<kvorsim::Request> &log, int command) {
    std::vector<double> times;
    for (const kvorsim::Request &r : log)
        if (command < 0 || r.command == command) times.push_back(r.received);
    return times;
}

} // namespace kvorbench
