// Helpers for tests that act while a RUN or VIDEO loop runs inside the call that started it.
//
// The loops return only when stop_flag becomes 1, so everything a test wants to do during a loop
// is scheduled beforehand and runs from inside the loop's event processing. A Schedule cancels
// whatever it scheduled when the test ends, so nothing leaks into the next test, and it carries a
// safety stop so that a broken loop fails the test instead of hanging it.
#pragma once

#include "state.h"

#include <cstdint>
#include <functional>
#include <memory>
#include <vector>

#include "com232.h"
#include "testhooks.h"
#include "sensor_sim.h"

class Schedule {
  public:
    Schedule() : alive_(std::make_shared<bool>(true)), safetyFired_(std::make_shared<bool>(false)) {}
    ~Schedule() { *alive_ = false; }
    Schedule(const Schedule &) = delete;
    Schedule &operator=(const Schedule &) = delete;

    // Runs fn once, 'seconds' from now, unless the test has ended.
    void after(double seconds, std::function<void()> fn) {
        auto alive = alive_;
        AfterDelay(seconds, [alive, fn] {
            if (*alive) fn();
        });
    }

    // Runs fn once, as soon as cond() holds (checked every 10 ms).
    void when(std::function<bool()> cond, std::function<void()> fn) { Poll(alive_, cond, fn); }

    // Ends any running loop after 'seconds'; safetyFired() tells whether it had to.
    void safetyStop(double seconds) {
        auto fired = safetyFired_;
        after(seconds, [fired] {
            if (stop_flag == 0) {
                *fired = true;
                stop_flag = 1;
            }
        });
    }
    bool safetyFired() const { return *safetyFired_; }

  private:
    static void Poll(std::shared_ptr<bool> alive, std::function<bool()> cond, std::function<void()> fn) {
        AfterDelay(0.01, [alive, cond, fn] {
            if (!*alive) return;
            if (cond()) {
                fn();
            } else {
                Poll(alive, cond, fn);
            }
        });
    }

    std::shared_ptr<bool> alive_;
    std::shared_ptr<bool> safetyFired_;
};

// The commands of the requests the simulator received, in order.
inline std::vector<int> Commands(const kvorsim::Simulator &sim) {
    std::vector<int> out;
    for (const kvorsim::Request &r : sim.requests())
        out.push_back(r.command);
    return out;
}

// How many requests with this command the simulator received.
inline size_t CountCommand(const kvorsim::Simulator &sim, int command) {
    size_t n = 0;
    for (const kvorsim::Request &r : sim.requests())
        n += (r.command == command) ? 1 : 0;
    return n;
}

// A sensor frame (start word 0x00AA) with the given command and values.
inline std::vector<uint8_t> SensorFrame(uint16_t command, uint16_t argument, const uint16_t values[15]) {
    return kvorsim::BuildFrame(0x00AA, command, argument, values);
}

// The 15 packet words of one set as the variables hold it now.
inline std::vector<uint16_t> PacketOf(uint16_t set) {
    uint16_t saved[16];
    for (int i = 0; i < 16; ++i)
        saved[i] = pp[i];
    CopyVarsToPP(set);
    std::vector<uint16_t> out(pp, pp + 15);
    for (int i = 0; i < 16; ++i)
        pp[i] = saved[i];
    return out;
}
