// Fixtures of the program's tests.
//
// ProgramTest: the five panels loaded from the built panel file, InitVars run, no serial link.
// SensorTest:  the same, plus a simulated sensor (no pacing) on a pseudo-terminal mapped to
//              port 1; Connect() runs the start-up exchange (InitRS232) against it.
#pragma once

#include <gtest/gtest.h>

#include <functional>
#include <string>

#include "sensor_sim.h"

// Processes events until cond() holds or 'seconds' have passed; true when it held.
bool WaitUntil(const std::function<bool()> &cond, double seconds = 5.0);
// The text of the status line.
std::string StatusText();
// A controllable clock for Timer(): SetUp installs it, TearDown restores the real one.
struct FakeClock {
    static double now;
    static double read() { return now; }
    static void install();
    static void remove();
};

class ProgramTest : public ::testing::Test {
protected:
    void SetUp() override;
    void TearDown() override;
};

class SensorTest : public ProgramTest {
protected:
    explicit SensorTest(bool pacing = false);
    void SetUp() override;
    void TearDown() override;
    // Runs the start-up exchange against the simulator and clears its request log afterwards
    // when 'clearLog' is set.
    void Connect(bool clearLog = true);
    kvorsim::Options options;
    kvorsim::Simulator *sim = nullptr;
};
