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

TEST_F(RawRequestTest, EveryWordOfTheRawAnswerLandsInItsVariable) {
    Connect();
    // Each word a value of its own, so that two variables swapped or shifted by a word show.
    const uint16_t words[16] = {0x0101, 0x0202, 0x0303, 0x3456, 0x0012, 0x0606, 0x0707, 0x0808,
                                0x0909, 0x0A0A, 0x0B0B, 0x0C0C, 0x0D0D, 0x0E0E, 0x0F0F, 0x1010};
    sim->setRawOverride(words);
    struct Case {
        const char *name;
        uint16_t *variable;
        uint16_t expected;
    };
    const Case cases[] = {
        {"Ledge", &Ledge, 0x0101},
        {"Redge", &Redge, 0x0202},
        {"Mvalue", &Mvalue, 0x0303},
        {"setpoint (set 0 word 6)", &parameter.set0[6], 0x0606},
        {"tol", &tol, 0x0707},
        {"edcnt", &edcnt, 0x0808},
        {"mvstart", &mvstart, 0x0909},
        {"mvend", &mvend, 0x0A0A},
        {"dynpow", &dynpow, 0x0B0B},
        {"anaMax", &anaMax, 0x0C0C},
        {"anaMin", &anaMin, 0x0D0D},
        {"in0", &in0, 0x0E0E},
        {"raw14", &raw14, 0x0F0F},
        {"raw15", &raw15, 0x1010},
    };
    for (const Case &c : cases)
        *c.variable = 0xFFFF;
    umValue = 0xFFFFFFFFu;
    const uint16_t toleranceSetting = parameter.set0[7];

    rx_flag = 0;
    ASSERT_EQ(PushGETRAW(), 1);
    CopyPPtoRAWVars();

    for (const Case &c : cases)
        EXPECT_EQ(*c.variable, c.expected) << c.name;
    EXPECT_EQ(umValue, 0x00123456u) << "word 3 is the low half, word 4 the high half";
    EXPECT_EQ(parameter.set0[7], toleranceSetting) << "the reported tolerance is no setting";
}

TEST_F(BlockReadTest, EachBlockSaysWhichBlockItWaitsFor) {
    struct Case {
        uint16_t start;
        const char *waiting;
    };
    const Case cases[] = {
        {0, "Waiting for Data[64] Block 0 ..."},   {64, "Waiting for Data[64] Block 1 ..."},
        {128, "Waiting for Data[64] Block 2 ..."}, {192, "Waiting for Data[64] Block 3 ..."},
        {1, "Waiting for Data[64] Block x ..."},   {255, "Waiting for Data[64] Block x ..."},
    };
    for (const Case &c : cases) {
        std::string shownWhileWaiting;
        HookClock::install([&shownWhileWaiting](int) {
            shownWhileWaiting = StatusText();
            return HookClock::kBase;
        });
        sim->inject(ReplaceNext(9, BlockBytes(c.start)));
        EXPECT_EQ(ReadData64(c.start, 0), 1) << c.start;
        HookClock::remove();
        EXPECT_EQ(shownWhileWaiting, c.waiting) << c.start;
        EXPECT_EQ(StatusText(), "Data[64] block received!") << c.start;
    }
}

TEST_F(BlockReadTest, TheLineEndsAtItsLastWordWhateverTheStartIndex) {
    // The program's other arrays stand beside the two lines in memory; none of them may change.
    struct Snapshot {
        std::vector<double> x, history;
        std::vector<uint16_t> threshold, packet;
        bool operator==(const Snapshot &o) const {
            return x == o.x && history == o.history && threshold == o.threshold && packet == o.packet;
        }
    };
    auto take = [] {
        return Snapshot{std::vector<double>(std::begin(xArray8), std::end(xArray8)),
                        std::vector<double>(std::begin(arrayNORM), std::end(arrayNORM)),
                        std::vector<uint16_t>(std::begin(thdArray), std::end(thdArray)),
                        std::vector<uint16_t>(std::begin(pp), std::end(pp))};
    };
    for (int i = 0; i < 256; ++i) {
        xArray8[i] = 12345.0 + i;
        thdArray[i] = static_cast<uint16_t>(0x5A5A + i);
    }
    for (int i = 0; i < 600; ++i)
        arrayNORM[i] = 777.0 + i;
    const Snapshot before = take();

    struct Case {
        uint16_t start;
        uint16_t selector;
        int stored; // words of the block that fit the line
    };
    const Case cases[] = {{192, 0, 64}, {200, 0, 56}, {255, 0, 1}, {256, 0, 0}, {250, 1, 6}, {255, 1, 1}};
    for (const Case &c : cases) {
        std::fill(std::begin(adcbuf), std::end(adcbuf), uint16_t(0xAAAA));
        std::fill(std::begin(thdArrayEE), std::end(thdArrayEE), uint16_t(0xEEEE));
        sim->inject(ReplaceNext(9, BlockBytes(3000)));
        ASSERT_EQ(ReadData64(c.start, c.selector), 1) << c.start;
        const uint16_t *line = c.selector == 0 ? adcbuf : thdArrayEE;
        const uint16_t *other = c.selector == 0 ? thdArrayEE : adcbuf;
        const uint16_t untouched = c.selector == 0 ? 0xAAAA : 0xEEEE;
        int changed = 0;
        for (int i = 0; i < 256; ++i)
            changed += line[i] != untouched ? 1 : 0;
        EXPECT_EQ(changed, c.stored) << "start " << c.start;
        if (c.stored > 0) {
            EXPECT_EQ(line[255], 3000 + c.stored - 1) << "start " << c.start;
        }
        EXPECT_EQ(std::count(other, other + 256, c.selector == 0 ? 0xEEEE : 0xAAAA), 256) << c.start;
        EXPECT_TRUE(take() == before) << "a word was stored past the line, start " << c.start;
    }
}
