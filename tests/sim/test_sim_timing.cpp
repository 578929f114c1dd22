// The simulator's record of when requests came in and answers went out, and the drained log.
#include <gtest/gtest.h>

#include <chrono>
#include <memory>
#include <thread>

#include "sensor_sim.h"
#include "sim_test_util.h"

using namespace kvorsim;
using simtest::Port;

namespace {

std::vector<uint8_t> Req(uint16_t cmd, uint16_t arg = 0) {
    const uint16_t zero[15] = {};
    return BuildFrame(0x0055, cmd, arg, zero);
}

class SimTiming : public ::testing::Test {
  protected:
    void Start(bool pacing) {
        Options o;
        o.pacing = pacing;
        sim = std::make_unique<Simulator>(o);
        ASSERT_TRUE(sim->start()) << sim->error();
        port = std::make_unique<Port>(sim->devicePath());
        ASSERT_TRUE(port->ok());
    }
    void TearDown() override {
        port.reset();
        sim.reset();
    }
    // The log once every answered request has its answer time: the simulator notes it just
    // after writing the last byte, so the far end may read the answer a moment before.
    std::vector<Request> LogWithAnswers(size_t n, size_t answered) {
        const auto start = simtest::Clock::now();
        std::vector<Request> log;
        while (simtest::Since(start) < 5.0) {
            log = sim->requests();
            size_t have = 0;
            for (const Request &r : log)
                have += r.answered >= 0.0 ? 1 : 0;
            if (log.size() >= n && have >= answered) break;
            std::this_thread::sleep_for(std::chrono::milliseconds(1));
        }
        return log;
    }
    std::unique_ptr<Simulator> sim;
    std::unique_ptr<Port> port;
};

} // namespace

TEST_F(SimTiming, APacedAnswerEndsAfterBothFramesHaveCrossedTheLine) {
    Start(true);
    ASSERT_TRUE(port->send(Req(8)));
    ASSERT_EQ(port->read(36).size(), 36u);
    ASSERT_TRUE(port->send(Req(8)));
    ASSERT_EQ(port->read(36).size(), 36u);
    const std::vector<Request> log = LogWithAnswers(2, 2);
    ASSERT_EQ(log.size(), 2u);
    const double line = 72 * 10.0 / 19200.0; // request and answer, 10 bits a byte
    for (const Request &r : log) {
        EXPECT_GE(r.received, 0.0);
        EXPECT_LE(r.received, r.time);
        // The request's own travel, the processing delay, then the answer's bytes.
        EXPECT_GE(r.answered - r.received, line + 0.002 - 1e-4);
    }
    // The second request was sent only once the first answer was in.
    EXPECT_GE(log[1].received, log[0].answered);
}

TEST_F(SimTiming, UnansweredRequestsKeepNoAnswerTime) {
    Start(false);
    const uint16_t words[15] = {1, 2, 3};
    ASSERT_TRUE(port->send(BuildFrame(0x0055, 1, 0, words))); // a RAM write: no answer
    ASSERT_TRUE(port->send(Req(5)));                          // a line check: answered
    ASSERT_EQ(port->read(36).size(), 36u);
    const std::vector<Request> log = LogWithAnswers(2, 1);
    ASSERT_EQ(log.size(), 2u);
    EXPECT_EQ(log[0].answered, -1.0);
    EXPECT_GE(log[1].answered, log[1].received);
}

TEST_F(SimTiming, TakingTheLogEmptiesItAndTheCountGoesOn) {
    Start(false);
    for (int i = 0; i < 3; ++i) {
        ASSERT_TRUE(port->send(Req(5, static_cast<uint16_t>(i))));
        ASSERT_EQ(port->read(36).size(), 36u);
    }
    ASSERT_TRUE(sim->waitForRequests(3, 5.0));
    const std::vector<Request> first = sim->takeRequests();
    ASSERT_EQ(first.size(), 3u);
    EXPECT_EQ(first[2].argument, 2);
    EXPECT_TRUE(sim->requests().empty());
    EXPECT_EQ(sim->requestCount(), 3u);

    // Requests after the drain are logged from the start of the new log, answer times included.
    ASSERT_TRUE(port->send(Req(5, 7)));
    ASSERT_EQ(port->read(36).size(), 36u);
    ASSERT_EQ(LogWithAnswers(1, 1).size(), 1u);
    const std::vector<Request> second = sim->takeRequests();
    ASSERT_EQ(second.size(), 1u);
    EXPECT_EQ(second[0].argument, 7);
    EXPECT_GE(second[0].answered, second[0].received);
    EXPECT_EQ(sim->requestCount(), 4u);
}
