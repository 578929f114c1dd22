// The measurement feed: every answer of RUN and VIDEO reaches the listeners, and a listener that
// fails leaves without stopping the loop.
#include <gtest/gtest.h>

#include "state.h"

#include <stdexcept>
#include <vector>

#include "feed.h"
#include "fixtures.h"
#include "loop_helpers.h"
#include "measure.h"

namespace {

// Ledge, Redge, Mvalue, umValue low and high, setpoint, tol, edcnt, mvstart, mvend, dynpow,
// anaMax, anaMin, in0, raw14, raw15: every word different, so a word in the wrong place shows.
const uint16_t kRaw[16] = {900, 1100, 1000, 0x2345, 0x0001, 990, 50, 2, 11, 12, 13, 1700, 300, 14, 15, 16};

struct Collector : MeasurementListener {
    std::vector<RawAnswer> raw;
    int lines = 0;
    void OnRawAnswer(const RawAnswer &a) override { raw.push_back(a); }
    void OnVideoLine(const VideoLine &line) override {
        if (line.video && line.threshold && line.x) ++lines;
    }
};

struct Failing : MeasurementListener {
    int calls = 0;
    void OnRawAnswer(const RawAnswer &) override {
        ++calls;
        throw std::runtime_error("listener failed");
    }
};

class FeedTest : public SensorTest {
  protected:
    void SetUp() override {
        SensorTest::SetUp();
        if (HasFatalFailure()) return;
        Connect();
        sim->setRawOverride(kRaw);
    }
    void TearDown() override {
        RemoveMeasurementListener(&collector);
        RemoveMeasurementListener(&failing);
        SensorTest::TearDown();
    }
    Collector collector;
    Failing failing;
    Schedule schedule;
};

} // namespace

TEST_F(FeedTest, EveryRunAnswerReachesTheListenersWithItsWordsAndTimes) {
    AddMeasurementListener(&failing);
    AddMeasurementListener(&collector);
    AddMeasurementListener(&collector); // joining twice changes nothing
    parameter.set0[10] = 4;             // analog mode: max - min
    schedule.when([this] { return collector.raw.size() >= 5; }, [] { stop_flag = 1; });
    schedule.safetyStop(10.0);
    PushRUN();
    ASSERT_FALSE(schedule.safetyFired());

    EXPECT_EQ(failing.calls, 1) << "a listener that throws leaves the feed";
    ASSERT_GE(collector.raw.size(), 5u);
    // Every answer the loop drew was handed out once: the sensor got one request more.
    EXPECT_GE(CountCommand(*sim, 8), collector.raw.size());
    for (size_t i = 0; i < collector.raw.size(); ++i) {
        const RawAnswer &a = collector.raw[i];
        EXPECT_FALSE(a.video);
        for (int w = 0; w < 16; ++w)
            EXPECT_EQ(a.words[w], kRaw[w]) << "word " << w;
        EXPECT_EQ(a.leftEdge, 900);
        EXPECT_EQ(a.rightEdge, 1100);
        EXPECT_EQ(a.valuePx, 1000);
        EXPECT_EQ(a.umValue, 0x12345u);
        EXPECT_EQ(a.setpointPx, 990);
        EXPECT_EQ(a.tolerancePx, 50);
        EXPECT_EQ(a.edges, 2);
        EXPECT_EQ(a.analogMax, 1700);
        EXPECT_EQ(a.analogMin, 300);
        EXPECT_EQ(a.analogOut, 1400);
        EXPECT_TRUE(a.inTolerance); // 1000 inside 990 +/- 50
        EXPECT_DOUBLE_EQ(a.toleranceMm, parameter.scale * 50.0 / 16384000.0);
        EXPECT_GT(a.wallMs, 1700000000000LL);
        if (i > 0) {
            EXPECT_GE(a.monotonic, collector.raw[i - 1].monotonic);
        }
    }
}

TEST_F(FeedTest, VideoHandsOutTheAnswerAndTheWholeLine) {
    AddMeasurementListener(&collector);
    schedule.when([this] { return collector.lines >= 2; }, [] { stop_flag = 1; });
    schedule.safetyStop(10.0);
    PushVIDEO();
    ASSERT_FALSE(schedule.safetyFired());
    ASSERT_GE(collector.raw.size(), 2u);
    EXPECT_TRUE(collector.raw[0].video);
    EXPECT_EQ(collector.raw[0].valuePx, 1000);
    // One line per pass in which all four blocks came, and only after its answer.
    EXPECT_LE(collector.lines, static_cast<int>(collector.raw.size()));
}
