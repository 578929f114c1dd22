// Helpers of the link tests: a clock the test drives from inside a wait, frames, and a poll of
// the input queue that handles no events.
#pragma once

#include <chrono>
#include <cstdint>
#include <functional>
#include <vector>

#include "testhooks.h"
#include "rs232.h"
#include "sensor_sim.h"

// A replaced clock for Timer(). The hook gets the number of the call (0 for the first) and
// returns the time; it may also act (send a frame, look at the flags) at that moment of the
// wait. Should a wait never end as the test intends, the clock jumps far ahead after a minute
// of real time, so a fault ends in a failed expectation instead of a hung test run.
struct HookClock {
    static constexpr double kBase = 1000.0;
    static inline std::function<double(int)> hook;
    static inline int calls = 0;
    static inline std::chrono::steady_clock::time_point installedAt;

    static double read() {
        const double real =
            std::chrono::duration<double>(std::chrono::steady_clock::now() - installedAt).count();
        if (real > 60.0) return kBase + 1e6;
        return hook(calls++);
    }
    static void install(std::function<double(int)> h) {
        hook = std::move(h);
        calls = 0;
        installedAt = std::chrono::steady_clock::now();
        SetTimerFunction(&HookClock::read);
    }
    static void remove() { SetTimerFunction(nullptr); }
};

// Polls the input queue without handling events until it holds 'n' bytes (or 10 s passed).
inline bool PollInQLen(int port, int n) {
    const auto until = std::chrono::steady_clock::now() + std::chrono::seconds(10);
    while (std::chrono::steady_clock::now() < until)
        if (GetInQLen(port) >= n) return true;
    return GetInQLen(port) >= n;
}

inline std::vector<uint8_t> Frame(uint16_t start, uint16_t command, uint16_t argument,
                                  std::vector<uint16_t> values) {
    values.resize(15, 0);
    return kvorsim::BuildFrame(start, command, argument, values.data());
}

inline std::vector<uint8_t> Bytes(const char *buf, int n) {
    return std::vector<uint8_t>(reinterpret_cast<const uint8_t *>(buf),
                                reinterpret_cast<const uint8_t *>(buf) + n);
}

// A clock for a wait that must end in its time-out after a known answer has come in: the first
// call (the start of the wait) lets the queue of 'port' fill to 'n' bytes, handling no events;
// from then on every call is half a second later.
inline std::function<double(int)> StepAfterQueueHolds(int port, int n) {
    return [port, n](int call) {
        if (call == 0) PollInQLen(port, n);
        return HookClock::kBase + 0.5 * call;
    };
}
