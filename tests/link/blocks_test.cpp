// The raw-data request and the 64-word block reads against the simulated sensor.
#include <gtest/gtest.h>

#include <algorithm>
#include <string>
#include <vector>

#include "K-VOR-RNZazorU30.h"
#include "com232.h"
#include "exchange.h"
#include "fixtures.h"
#include "link_support.h"
#include "rs232.h"
#include "state.h"

namespace {

std::vector<uint8_t> BlockBytes(uint16_t first) {
    std::vector<uint8_t> bytes(128);
    for (int i = 0; i < 64; ++i) {
        const uint16_t w = static_cast<uint16_t>(first + i);
        bytes[2 * i] = static_cast<uint8_t>(w >> 8);
        bytes[2 * i + 1] = static_cast<uint8_t>(w & 0xFF);
    }
    return bytes;
}

kvorsim::Fault ReplaceNext(int command, std::vector<uint8_t> data) {
    kvorsim::Fault f;
    f.kind = kvorsim::Fault::Replace;
    f.command = command;
    f.data = std::move(data);
    return f;
}

} // namespace

class BlockReadTest : public SensorTest {
  protected:
    void SetUp() override {
        SensorTest::SetUp();
        Connect();
        // As the video loop reads blocks: without the notification, queues empty.
        RemoveRxNotification();
        FlushInQ(com);
        FlushOutQ(com);
        std::fill(std::begin(adcbuf), std::end(adcbuf), uint16_t(0xAAAA));
        std::fill(std::begin(thdArrayEE), std::end(thdArrayEE), uint16_t(0xEEEE));
    }
    void TearDown() override {
        HookClock::remove();
        SensorTest::TearDown();
    }
};

TEST_F(BlockReadTest, BlockLandsAtItsStartIndex) {
    std::vector<uint8_t> data = BlockBytes(1000);
    data[0] = 0x01;
    data[1] = 0x2C;
    sim->inject(ReplaceNext(9, data));
    EXPECT_EQ(ReadData64(64, 0), 1);
    EXPECT_EQ(nBytesR, 128);
    EXPECT_EQ(adcbuf[64], 300);
    for (int i = 1; i < 64; ++i)
        EXPECT_EQ(adcbuf[64 + i], 1000 + i);
    EXPECT_EQ(adcbuf[63], 0xAAAA);
    EXPECT_EQ(adcbuf[128], 0xAAAA);
    EXPECT_EQ(StatusText(), "Data[64] block received!");
    EXPECT_EQ(thdArrayEE[64], 0xEEEE);
}

TEST_F(BlockReadTest, ThresholdSelectorFillsOnlyTheThresholdLine) {
    sim->inject(ReplaceNext(9, BlockBytes(7)));
    EXPECT_EQ(ReadData64(0, 1), 1);
    for (int i = 0; i < 64; ++i)
        EXPECT_EQ(thdArrayEE[i], 7 + i);
    EXPECT_EQ(thdArrayEE[64], 0xEEEE);
    for (uint16_t v : adcbuf)
        ASSERT_EQ(v, 0xAAAA);
    ASSERT_GE(sim->requestCount(), 1u);
    EXPECT_EQ(sim->requests().back().values[0], 1);
}

TEST_F(BlockReadTest, RequestFrameOfBlock3) {
    for (uint16_t &w : pp)
        w = 0x1234; // the block request never sends pp
    EXPECT_EQ(ReadData64(192, 0), 1);
    std::vector<uint8_t> expected = {0x00, 0x55, 0x00, 0x09, 0x00, 0xC0, 0x00, 0x00};
    expected.resize(36, 0);
    EXPECT_EQ(Bytes(szWriteBuf, 36), expected);
    EXPECT_EQ(nBytesW, 36);
    ASSERT_EQ(sim->requestCount(), 1u);
    const kvorsim::Request r = sim->requests()[0];
    EXPECT_EQ(r.start, 0x55);
    EXPECT_EQ(r.command, 9);
    EXPECT_EQ(r.argument, 192);
    for (uint16_t v : r.values)
        EXPECT_EQ(v, 0);
    EXPECT_EQ(parameter.command, 9);
}

TEST_F(BlockReadTest, OddStartIndexShowsBlockXAndStoresInPlace) {
    std::string shownWhileWaiting;
    HookClock::install([&shownWhileWaiting](int) {
        shownWhileWaiting = StatusText();
        return HookClock::kBase;
    });
    sim->inject(ReplaceNext(9, BlockBytes(500)));
    EXPECT_EQ(ReadData64(32, 0), 1);
    EXPECT_EQ(shownWhileWaiting, "Waiting for Data[64] Block x ...");
    for (int i = 0; i < 64; ++i)
        EXPECT_EQ(adcbuf[32 + i], 500 + i);
    EXPECT_EQ(adcbuf[31], 0xAAAA);
    EXPECT_EQ(adcbuf[96], 0xAAAA);
}

TEST_F(BlockReadTest, StartIndexNearTheEndStoresOnlyWhatFits) {
    sim->inject(ReplaceNext(9, BlockBytes(2000)));
    EXPECT_EQ(ReadData64(224, 0), 1);
    for (int i = 0; i < 32; ++i)
        EXPECT_EQ(adcbuf[224 + i], 2000 + i);
    EXPECT_EQ(adcbuf[223], 0xAAAA);
    for (uint16_t v : thdArrayEE)
        ASSERT_EQ(v, 0xEEEE);

    sim->inject(ReplaceNext(9, BlockBytes(3000)));
    EXPECT_EQ(ReadData64(1000, 1), 1);
    for (uint16_t v : thdArrayEE)
        ASSERT_EQ(v, 0xEEEE);
    for (int i = 0; i < 224; ++i)
        ASSERT_EQ(adcbuf[i], 0xAAAA);
}

TEST_F(BlockReadTest, ShortBlockTimesOutAndStopsTheVideoLine) {
    // The video loop's chain: each block only when the one before arrived.
    std::vector<uint8_t> first = BlockBytes(100);
    sim->inject(ReplaceNext(9, first));
    int result = ReadData64(0, 0);
    ASSERT_EQ(result, 1);

    kvorsim::Fault f;
    f.kind = kvorsim::Fault::Truncate;
    f.command = 9;
    f.bytes = 100;
    sim->inject(f);
    HookClock::install(StepAfterQueueHolds(com, 100));
    if (result > 0) result = ReadData64(64, 0);
    HookClock::remove();
    if (result > 0) result = ReadData64(128, 0);
    if (result > 0) result = ReadData64(192, 0);

    EXPECT_EQ(result, 0);
    EXPECT_EQ(nBytesR, 100);
    EXPECT_EQ(tdiff, 2.0);
    EXPECT_EQ(StatusText(), "Timeout-RS-232 while reading 64 data-words!");
    for (int i = 0; i < 64; ++i)
        EXPECT_EQ(adcbuf[i], 100 + i);
    for (int i = 64; i < 256; ++i)
        ASSERT_EQ(adcbuf[i], 0xAAAA) << i;
    const std::vector<kvorsim::Request> log = sim->requests();
    ASSERT_EQ(log.size(), 2u);
    EXPECT_EQ(log[0].argument, 0);
    EXPECT_EQ(log[1].argument, 64);
}

TEST_F(BlockReadTest, LongBlockIsReadButNotStored) {
    kvorsim::Fault f;
    f.kind = kvorsim::Fault::Extend;
    f.command = 9;
    f.bytes = 140;
    sim->inject(f);
    CopyText(szStatus, "before");
    HookClock::install(StepAfterQueueHolds(com, 140));
    EXPECT_EQ(ReadData64(0, 0), 0);
    EXPECT_EQ(nBytesR, 140);
    EXPECT_EQ(StatusText(), "before");
    for (uint16_t v : adcbuf)
        ASSERT_EQ(v, 0xAAAA);
}

class RawRequestTest : public SensorTest {
  protected:
    void TearDown() override {
        HookClock::remove();
        SensorTest::TearDown();
    }
};

TEST_F(RawRequestTest, RawAnswerEndsTheWaitAndOtherFramesDoNot) {
    Connect();
    for (int k = 0; k < 15; ++k)
        pp[k] = static_cast<uint16_t>(k);

    // The request is answered by a parameter frame (command 2); a raw-data answer comes
    // afterwards, sent from inside the wait once the first frame was dropped: it is no answer to
    // a raw-data request, and leaves neither a flag nor a word behind.
    sim->inject(ReplaceNext(8, Frame(0x00AA, 2, 0, {77, 78})));
    kvorsim::Simulator *s = sim;
    const unsigned long foreign = ForeignFrames();
    bool sent = false, sawOtherFrame = false;
    HookClock::install([s, foreign, &sent, &sawOtherFrame](int) {
        if (ForeignFrames() > foreign && !sent) {
            sent = true;
            sawOtherFrame = rx_flag == 0 && graph_flag == 0 && pp[0] == 0 && pp[1] == 1;
            s->sendUnsolicited(Frame(0x00AA, 8, 500, {501, 502}));
        }
        return HookClock::kBase;
    });
    rx_flag = 0;
    stop_flag = 0;
    EXPECT_EQ(PushGETRAW(), 1);
    EXPECT_TRUE(sawOtherFrame);
    EXPECT_EQ(graph_flag, 1);
    EXPECT_EQ(pp[0], 500);
    EXPECT_EQ(pp[1], 501);
    EXPECT_EQ(pp[2], 502);
    EXPECT_EQ(stop_flag, 0);
    EXPECT_EQ(StatusText(), "Line Ok!");
    ASSERT_EQ(sim->requestCount(), 1u);
    const kvorsim::Request r = sim->requests()[0];
    EXPECT_EQ(r.command, 8);
    EXPECT_EQ(r.argument, 0);
    for (int k = 0; k < 15; ++k)
        EXPECT_EQ(r.values[k], k);
}

TEST_F(RawRequestTest, NoRawAnswerStopsTheLoop) {
    Connect();
    kvorsim::Fault f;
    f.kind = kvorsim::Fault::CorruptCommand;
    f.command = 8;
    f.value = 2;
    sim->inject(f);
    // Time stands still until the wrong frame is in (and dropped), then moves on in half seconds.
    double t = HookClock::kBase;
    const unsigned long foreign = ForeignFrames();
    HookClock::install([&t, foreign](int) {
        if (ForeignFrames() > foreign) t += 0.5;
        return t;
    });
    rx_flag = 0;
    stop_flag = 0;
    EXPECT_EQ(PushGETRAW(), 0);
    EXPECT_EQ(rx_flag, 0);
    EXPECT_EQ(graph_flag, 0);
    EXPECT_EQ(stop_flag, 1);
    EXPECT_EQ(tdiff, 2.0);
    EXPECT_EQ(StatusText(), "Timeout RS232-Line!");
}
