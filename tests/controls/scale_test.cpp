// The scale factor holds every value of the 32-bit field: what GET shows, SEND sends back.
#include <gtest/gtest.h>

#include <cstdint>
#include <vector>

#include "K-VOR-RNZazorU30.h"
#include "fixtures.h"
#include "params.h"
#include "state.h"
#include "testhooks.h"
#include "userint.h"

namespace {

// clang-format off
const uint32_t kScales[] = {
    0u, 1u, 3u, 16383u, 16384u, 24577u, 0x7FFFFFFFu, 0x80000000u, 0x80000001u,
    0xFFFFC000u, 0xFFFFFF00u, 0xFFFFFFFEu, 0xFFFFFFFFu,
};
// clang-format on

class ScaleRoundTrip : public ProgramTest {};

} // namespace

TEST_F(ScaleRoundTrip, EveryScaleComesBackThroughTheCalibrationControl) {
    for (uint32_t scale : kScales) {
        SCOPED_TRACE(scale);
        parameter.scale = scale;
        SetPanelValues();
        parameter.scale = 12345; // whatever was there before the read
        GetPanelValues();
        EXPECT_EQ(parameter.scale, scale);
    }
}

TEST_F(ScaleRoundTrip, ConversionKeepsTruncationAndWrapping) {
    struct Case {
        double value;
        uint32_t scale;
    };
    const Case cases[] = {
        {4294967295.0 / 16384.0, 0xFFFFFFFFu},
        {4294967295.5 / 16384.0, 0xFFFFFFFFu}, // truncated, not rounded up into bit 32
        {4294967296.0 / 16384.0, 0u},          // 2^32 wraps to 0
        {2147483648.0 / 16384.0, 0x80000000u},
        {-1.0 / 16384.0, 0xFFFFFFFFu},          // two's complement of -1
        {1.99999, 32767u},
        {1e300, 0u},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(c.value);
        EXPECT_EQ(ScaleFromFloat(c.value), c.scale);
    }
    EXPECT_EQ(ScaleToFloat(0xFFFFFFFFu), 4294967295.0 / 16384.0);
}

namespace {

class ScaleOnTheLine : public SensorTest {
  protected:
    void SetUp() override {
        SensorTest::SetUp();
        if (HasFatalFailure()) return;
        Connect();
    }
};

} // namespace

TEST_F(ScaleOnTheLine, GetThenSendLeavesTheSensorsRamAsItWas) {
    for (uint32_t scale : {0xFFFFFF00u, 0xFFFFFFFFu, 0x80000000u, 0x7FFFFFFFu, 1u}) {
        SCOPED_TRACE(scale);
        uint16_t set1[15] = {1, 2, 3, 4, 5, 6, 7, 8, 9, 10, 11, 0, 0, 0x7530, 0};
        set1[11] = static_cast<uint16_t>(scale & 0xFFFF);
        set1[12] = static_cast<uint16_t>(scale >> 16);
        sim->setRamSet(1, set1);
        sim->clearRequests();

        UserClick(pHandle, PANEL_BTNGet);
        ASSERT_EQ(parameter.scale, scale);
        UserClick(pHandle, PANEL_BTNSend);
        ASSERT_TRUE(WaitUntil([&] {
            int writes = 0;
            for (const kvorsim::Request &r : sim->requests())
                writes += r.command == 1;
            return writes == 2;
        }));

        uint16_t after[15];
        sim->ramSet(1, after);
        EXPECT_EQ(std::vector<uint16_t>(after, after + 15), std::vector<uint16_t>(set1, set1 + 15));
    }
}
