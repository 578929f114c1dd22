// Helpers of the reliability tests: a clock that skips a wait which can no longer end in an
// answer, a timetable of actions that run from inside the program's waits, fault builders, and a
// look at the process's resident memory.
#pragma once

#include <gtest/gtest.h>

#include <chrono>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "K-VOR-RNZazorU30.h"
#include "exchange.h"
#include "fixtures.h"
#include "rs232.h"
#include "testhooks.h"
#include "sensor_sim.h"
#include "state.h"
#include "userint.h"
#include "utility.h"

namespace rel {

// --- a clock that jumps over hopeless waits -------------------------------------------------
//
// Timer() runs with the real clock, plus an offset. When a trigger is armed, every Timer() call
// asks it; the first time it says yes, the clock jumps far enough ahead that the wait that is
// running times out at its next check. The trigger is only ever armed for a wait whose answer
// can no longer come (dropped, cut short, sent too late, the line gone), so the jump only saves
// the real 1.5 s the program would have waited for nothing; it never decides an outcome.
struct JumpClock {
    static inline double offset = 0.0;
    static inline std::function<bool()> trigger;
    static inline bool hopeless = false;
    static inline bool primed = false;
    static inline int jumps = 0;

    static double Real() {
        using namespace std::chrono;
        return duration<double>(steady_clock::now().time_since_epoch()).count();
    }
    static double Read() {
        if (hopeless) {
            // Every reading is far past the one before: each wait times out at its first check.
            offset += TIMEOUT + 1.0;
            ++jumps;
        } else if (trigger && trigger()) {
            // The reading that first sees the trigger may be the one a wait takes as its start;
            // the jump comes with the next reading, which that wait compares against it.
            if (primed) {
                trigger = nullptr;
                primed = false;
                offset += TIMEOUT + 1.0;
                ++jumps;
            } else {
                primed = true;
            }
        }
        return Real() + offset;
    }
    static void Install() {
        offset = 0.0;
        trigger = nullptr;
        hopeless = false;
        primed = false;
        jumps = 0;
        SetTimerFunction(&JumpClock::Read);
    }
    static void Remove() {
        trigger = nullptr;
        hopeless = false;
        primed = false;
        SetTimerFunction(nullptr);
    }
    // Jumps once the simulator has logged 'count' requests since its log was last cleared, and
    // 'settle' seconds more have passed (time for a cut-short answer to reach the input queue).
    static void AfterRequests(const kvorsim::Simulator *sim, size_t count, double settle = 0.0) {
        auto seenAt = std::make_shared<double>(-1.0);
        primed = false;
        trigger = [sim, count, settle, seenAt] {
            if (sim->requestCount() < count) return false;
            if (*seenAt < 0.0) *seenAt = Real();
            return Real() - *seenAt >= settle;
        };
    }
    // While set, every wait times out at once: for a line that is known to be gone.
    static void Hopeless(bool on) { hopeless = on; }
    // Jumps once cond() holds.
    static void When(std::function<bool()> cond) {
        primed = false;
        trigger = std::move(cond);
    }
};

// --- actions that run from inside the program's waits ---------------------------------------
//
// The program's loops and waits return only when they end, so whatever a test wants to do
// meanwhile is scheduled beforehand and runs from their event processing. A Timetable cancels
// what it scheduled when it goes out of scope, and its safety stop ends a loop that would
// otherwise never end, so that a fault fails the test instead of hanging the run.
class Timetable {
public:
    Timetable() : alive_(std::make_shared<bool>(true)), safetyFired_(std::make_shared<bool>(false)) {}
    ~Timetable() { *alive_ = false; }
    Timetable(const Timetable &) = delete;
    Timetable &operator=(const Timetable &) = delete;

    void After(double seconds, std::function<void()> fn) {
        auto alive = alive_;
        AfterDelay(seconds, [alive, fn] {
            if (*alive) fn();
        });
    }
    // Runs fn once, as soon as cond() holds (checked every few milliseconds).
    void When(std::function<bool()> cond, std::function<void()> fn) { Poll(alive_, std::move(cond), std::move(fn)); }
    void SafetyStop(double seconds) {
        auto fired = safetyFired_;
        After(seconds, [fired] {
            if (stop_flag == 0) {
                *fired = true;
                stop_flag = 1;
            }
        });
    }
    bool SafetyFired() const { return *safetyFired_; }

private:
    static void Poll(std::shared_ptr<bool> alive, std::function<bool()> cond, std::function<void()> fn) {
        AfterDelay(0.003, [alive, cond, fn] {
            if (!*alive) return;
            if (cond())
                fn();
            else
                Poll(alive, cond, fn);
        });
    }
    std::shared_ptr<bool> alive_;
    std::shared_ptr<bool> safetyFired_;
};

// --- faults ---------------------------------------------------------------------------------

// The ways an answer goes wrong on the line, as the simulator injects them.
enum class LineFault { None, Drop, Truncate, Extend, CorruptStart, CorruptCommand, Late };

inline const char *Name(LineFault f) {
    switch (f) {
    case LineFault::None: return "None";
    case LineFault::Drop: return "Drop";
    case LineFault::Truncate: return "Truncate";
    case LineFault::Extend: return "Extend";
    case LineFault::CorruptStart: return "CorruptStart";
    case LineFault::CorruptCommand: return "CorruptCommand";
    case LineFault::Late: return "Late";
    }
    return "?";
}

// True for the faults after which no complete answer arrives in time.
inline bool Silences(LineFault f) {
    return f == LineFault::Drop || f == LineFault::Truncate || f == LineFault::Late;
}

// A fault after which a wait for an answer frame gets none: an answer with another command word
// is no answer to the request, and is dropped.
inline bool LeavesUnanswered(LineFault f) {
    return Silences(f) || f == LineFault::CorruptCommand;
}

// Seconds a late answer comes after its request: well past the program's time-out.
constexpr double kLateSeconds = 2.0;

inline kvorsim::Fault MakeFault(LineFault f, int command, int count = 1) {
    kvorsim::Fault fault;
    fault.command = command;
    fault.count = count;
    switch (f) {
    case LineFault::None:
    case LineFault::Drop: fault.kind = kvorsim::Fault::Drop; break;
    case LineFault::Truncate:
        fault.kind = kvorsim::Fault::Truncate;
        fault.bytes = 0; // all but the last byte
        break;
    case LineFault::Extend:
        fault.kind = kvorsim::Fault::Extend;
        fault.bytes = 0; // four bytes more
        break;
    case LineFault::CorruptStart:
        fault.kind = kvorsim::Fault::CorruptStart;
        fault.value = 0x0055; // the request's start word coming back
        break;
    case LineFault::CorruptCommand:
        fault.kind = kvorsim::Fault::CorruptCommand;
        fault.value = 0x0309;
        break;
    case LineFault::Late:
        fault.kind = kvorsim::Fault::Delay;
        fault.seconds = kLateSeconds;
        break;
    }
    return fault;
}

// A frame as the sensor sends it (start word 0x00AA).
inline std::vector<uint8_t> SensorFrame(uint16_t command, uint16_t argument, std::vector<uint16_t> values) {
    values.resize(15, 0);
    return kvorsim::BuildFrame(0x00AA, command, argument, values.data());
}

// How many logged requests carry this command.
inline size_t CountCommand(const kvorsim::Simulator &sim, int command) {
    size_t n = 0;
    for (const kvorsim::Request &r : sim.requests()) n += r.command == command ? 1 : 0;
    return n;
}

inline std::vector<int> Commands(const kvorsim::Simulator &sim) {
    std::vector<int> out;
    for (const kvorsim::Request &r : sim.requests()) out.push_back(r.command);
    return out;
}

// For a fault that leaves the request unanswered: the clock jumps past the time-out once the
// simulator has logged 'count' requests and the spoiled answer has done all it will do on the
// line. A dropped or late answer does nothing; a cut-short one (35 bytes) must sit in the queue
// and an answer of another command must have come in and been dropped, or its bytes would still
// be on their way when the next request flushes the queue, and spoil that request's answer too.
inline void JumpWhenAnswerSpoiled(const kvorsim::Simulator *sim, size_t count, LineFault f) {
    const unsigned long foreign = ForeignFrames();
    JumpClock::When([sim, count, f, foreign] {
        if (sim->requestCount() < count) return false;
        if (f == LineFault::Truncate) return GetInQLen(com) >= 35;
        if (f == LineFault::CorruptCommand) return ForeignFrames() > foreign;
        return true;
    });
}

// --- panel state ----------------------------------------------------------------------------

inline int Dimmed(int control) {
    int dimmed = -1;
    GetCtrlAttribute(pHandle, control, ATTR_DIMMED, &dimmed);
    return dimmed;
}

// The three command buttons the loops dim, as {CMDBTN13, CMDBTN11, CMDBTN3}.
inline std::vector<int> LoopButtons() {
    return {Dimmed(PANEL_CMDBTN13), Dimmed(PANEL_CMDBTN11), Dimmed(PANEL_CMDBTN3)};
}

// The highest plot handle a graph has handed out so far, as far as its live plots show it: the
// graphs number their plots one after another, so after a redraw this counts the plots drawn.
inline int NewestPlotHandle(int control) {
    int newest = 0;
    for (const GraphItem &item : GetGraphItems(pHandle, control)) newest = std::max(newest, item.handle);
    return newest;
}

// --- memory ---------------------------------------------------------------------------------

// Resident memory of this process in KiB (Linux), or -1.
inline long ResidentKiB() {
    std::FILE *f = std::fopen("/proc/self/status", "r");
    if (!f) return -1;
    char line[256];
    long kib = -1;
    while (std::fgets(line, sizeof line, f)) {
        if (std::strncmp(line, "VmRSS:", 6) == 0) {
            kib = std::strtol(line + 6, nullptr, 10);
            break;
        }
    }
    std::fclose(f);
    return kib;
}

// True when this build runs under AddressSanitizer (its quarantine makes resident memory grow by
// design, so memory growth is judged by its leak checker there instead).
constexpr bool kAddressSanitizer =
#if defined(__SANITIZE_ADDRESS__)
    true;
#elif defined(__has_feature)
#if __has_feature(address_sanitizer)
    true;
#else
    false;
#endif
#else
    false;
#endif

} // namespace rel
