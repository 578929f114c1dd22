// The benchmark's arithmetic (line limits, percentiles, rates, turnarounds) and the program's
// own record of its turnaround on a serial port.
#include <gtest/gtest.h>

#include <QElapsedTimer>

#include <cmath>
#include <functional>
#include <vector>

#include "../../bench/bench_stats.h"
#include "com232.h"
#include "fixtures.h"
#include "testhooks.h"
#include "rs232.h"
#include "state.h"

using namespace kvorbench;

namespace {

kvorsim::Request Logged(double received, double answered) {
    kvorsim::Request r{};
    r.received = received;
    r.answered = answered;
    return r;
}

} // namespace

TEST(BenchLimits, TheLineSetsThePaceOfRunAndVideo) {
    // 72 bytes of 10 bits at 19200 baud are 37.5 ms; with 2 ms of processing 39.5 ms.
    EXPECT_NEAR(RunExchangeSeconds(19200, 0.002), 0.0395, 1e-12);
    EXPECT_NEAR(1.0 / RunExchangeSeconds(19200, 0.0), 26.6667, 1e-4);
    // A VIDEO pass: 7280 bits and five answers.
    EXPECT_NEAR(VideoPassSeconds(19200, 0.0), 7280.0 / 19200.0, 1e-12);
    EXPECT_NEAR(VideoPassSeconds(19200, 0.002), 7280.0 / 19200.0 + 0.010, 1e-12);
    EXPECT_NEAR(1.0 / VideoPassSeconds(19200, 0.0), 2.637, 1e-3);
    // Start-up: four frame exchanges and the 72-byte firmware answer to a frame.
    EXPECT_EQ(StartupLineBytes(), 396);
    EXPECT_NEAR(LineSeconds(StartupLineBytes(), 19200), 0.20625, 1e-12);
}

TEST(BenchStats, PercentilesByNearestRank) {
    std::vector<double> v;
    for (int i = 100; i >= 1; --i)
        v.push_back(i); // unsorted on purpose
    EXPECT_EQ(Percentile(v, 50.0), 50.0);
    EXPECT_EQ(Percentile(v, 99.0), 99.0);
    EXPECT_EQ(Percentile(v, 100.0), 100.0);
    EXPECT_EQ(Percentile(v, 0.0), 1.0);
    EXPECT_EQ(Median({3.0, 1.0, 2.0}), 2.0);
    EXPECT_EQ(Median({4.0, 1.0, 3.0, 2.0}), 2.0); // the lower middle, a value that occurred
    EXPECT_EQ(Percentile({7.0}, 99.0), 7.0);
    // Among ten values the 99th percentile is the largest: one outlier shows.
    EXPECT_EQ(Percentile({1, 1, 1, 1, 1, 1, 1, 1, 1, 9}, 99.0), 9.0);
    EXPECT_TRUE(std::isnan(Percentile({}, 50.0)));
    EXPECT_TRUE(std::isnan(Max({})));
}

TEST(BenchStats, RatesCountPeriodsBetweenEvents) {
    EXPECT_NEAR(RatePerSecond({1.0, 1.04, 1.08, 1.12}), 25.0, 1e-9);
    EXPECT_EQ(RatePerSecond({1.0}), 0.0);
    EXPECT_EQ(RatePerSecond({}), 0.0);
    EXPECT_EQ(RatePerSecond({2.0, 2.0}), 0.0);
}

TEST(BenchStats, TurnaroundsRunFromAnAnswerToTheNextRequest) {
    const std::vector<kvorsim::Request> log = {
        Logged(0.000, 0.040),  // answered at 40 ms
        Logged(0.0403, 0.080), // sent 0.3 ms after it
        Logged(0.0810, -1.0),  // never answered
        Logged(0.2000, 0.240), // so this one has no turnaround before it
        Logged(0.2350, 0.280), // sent before the answer ended: left out
    };
    const std::vector<double> t = Turnarounds(log);
    ASSERT_EQ(t.size(), 2u);
    EXPECT_NEAR(t[0], 0.0003, 1e-12);
    EXPECT_NEAR(t[1], 0.0010, 1e-12);
    kvorsim::Request other = Logged(0.5, 0.6);
    other.command = 9;
    std::vector<kvorsim::Request> mixed = log;
    mixed.push_back(other);
    EXPECT_EQ(ReceivedTimes(mixed, 9), std::vector<double>{0.5});
    EXPECT_EQ(ReceivedTimes(mixed, -1).size(), 6u);
}

class ProgramTurnaround : public SensorTest {};

TEST_F(ProgramTurnaround, EachWriteAfterAnAnswerIsTimedOnceFromItsLastBytes) {
    Connect();
    TakeComTurnarounds(com); // starts the record
    EXPECT_TRUE(TakeComTurnarounds(com).empty());
    ASSERT_EQ(PushGETRAW(), 1);
    ASSERT_EQ(PushGETRAW(), 1);
    // The third request goes out a known while after the second answer came in.
    constexpr double kPause = 0.3;
    QElapsedTimer pause;
    pause.start();
    WaitUntil([&] { return pause.elapsed() >= kPause * 1000.0; }, 2.0 * kPause);
    ASSERT_EQ(PushGETRAW(), 1);
    // The first request followed the firmware answer of the start-up, the others an answer;
    // only the last one waited.
    const std::vector<double> gaps = TakeComTurnarounds(com);
    ASSERT_EQ(gaps.size(), 3u);
    EXPECT_GE(gaps[0], 0.0);
    EXPECT_LT(gaps[0], kPause);
    EXPECT_GE(gaps[1], 0.0);
    EXPECT_LT(gaps[1], kPause);
    EXPECT_GE(gaps[2], kPause);
    EXPECT_LT(gaps[2], kPause + 1.0);
    EXPECT_TRUE(TakeComTurnarounds(com).empty());
    // A write that follows no received bytes is no turnaround; nor does a closed port keep one.
    ASSERT_TRUE(WaitUntil([&] { return rx_flag == 1; }));
    FillTxBuf(5, 0, pp);
    ComWrt(com, szWriteBuf, 36);
    EXPECT_EQ(TakeComTurnarounds(com).size(), 1u);
    ComWrt(com, szWriteBuf, 36);
    EXPECT_TRUE(TakeComTurnarounds(com).empty());
}

TEST_F(ProgramTurnaround, WhatComesBetweenAnAnswerAndAWriteDecidesWhetherItIsTimed) {
    Connect();
    struct Case {
        const char *what;
        std::function<void()> between; // runs after an answer has come in
        size_t timed;                  // turnarounds the next write records
    };
    const Case cases[] = {
        {"nothing", [] {}, 1},
        // A write of no bytes is no request: the next one is still timed from the answer.
        {"an empty write", [] { EXPECT_EQ(ComWrt(com, szWriteBuf, 0), 0); }, 1},
        // A port closed and opened again has taken in nothing since.
        {"the port closed and opened again",
         [] {
             ASSERT_EQ(CloseCom(com), 0);
             ASSERT_EQ(OpenComConfig(com, "", 19200, 0, 8, 1, 4096, 4096), 0);
         },
         0},
    };
    TakeComTurnarounds(com); // starts the record
    for (const Case &c : cases) {
        SCOPED_TRACE(c.what);
        ASSERT_EQ(PushGETRAW(), 1);
        TakeComTurnarounds(com);
        c.between();
        FillTxBuf(5, 0, pp);
        rx_flag = 0;
        ASSERT_EQ(ComWrt(com, szWriteBuf, 36), 36);
        EXPECT_EQ(TakeComTurnarounds(com).size(), c.timed);
        // The echo is in before the next request goes out (read by the receive notification,
        // or left queued on a port opened again without one).
        ASSERT_TRUE(WaitUntil([] { return rx_flag == 1 || GetInQLen(com) >= 36; }));
    }
}
