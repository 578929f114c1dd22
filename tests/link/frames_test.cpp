// Frames, packets and the time-out rule of the sensor link.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>
#include <vector>

#include "K-VOR-RNZazorU30.h"
#include "com232.h"
#include "fixtures.h"
#include "link_support.h"
#include "state.h"

namespace {

std::vector<uint8_t> WriteBuf() {
    return Bytes(szWriteBuf, kFrameSize);
}

void PutReadFrame(const std::vector<uint8_t> &frame) {
    std::memset(szReadBuf, 0, sizeof szReadBuf);
    std::memcpy(szReadBuf, frame.data(), frame.size());
}

} // namespace

TEST(Frames, TransmitFrameIsBigEndianWithStartWord0x0055) {
    uint16_t values[15] = {500};
    FillTxBuf(2, 1, values);
    std::vector<uint8_t> expected = {0x00, 0x55, 0x00, 0x02, 0x00, 0x01, 0x01, 0xF4};
    expected.resize(36, 0);
    EXPECT_EQ(WriteBuf(), expected);

    for (int i = 0; i < 15; ++i)
        values[i] = static_cast<uint16_t>(0x0102 * (i + 1));
    FillTxBuf(0xABCD, 0xFFFF, values);
    EXPECT_EQ(WriteBuf(), Frame(0x0055, 0xABCD, 0xFFFF, std::vector<uint16_t>(values, values + 15)));
}

TEST(Packets, Set1CarriesScaleAndOffsetLowHalfFirst) {
    parameter.scale = 16384;
    parameter.offset = 30000;
    for (int k = 0; k < 11; ++k)
        parameter.set1[k] = static_cast<uint16_t>(100 + k);
    CopyVarsToPP(1);
    EXPECT_EQ(pp[11], 16384);
    EXPECT_EQ(pp[12], 0);
    EXPECT_EQ(pp[13], 30000);
    EXPECT_EQ(pp[14], 0);
    EXPECT_EQ(pp[0], 100);
    EXPECT_EQ(pp[10], 110);
    FillTxBuf(1, 1, pp);
    const std::vector<uint8_t> tail(szWriteBuf + 28, szWriteBuf + 36);
    EXPECT_EQ(tail, (std::vector<uint8_t>{0x40, 0x00, 0x00, 0x00, 0x75, 0x30, 0x00, 0x00}));
}

TEST(Packets, RoundTripsKeepSignAndLeaveWord15Alone) {
    pp[15] = 0x5A5A;
    parameter.scale = 0x12345678;
    parameter.offset = -1;
    CopyVarsToPP(1);
    EXPECT_EQ(pp[13], 65535);
    EXPECT_EQ(pp[14], 65535);
    EXPECT_EQ(pp[11], 0x5678);
    EXPECT_EQ(pp[12], 0x1234);
    parameter.scale = 0;
    parameter.offset = 0;
    CopyPPtoVars(1);
    EXPECT_EQ(parameter.scale, 0x12345678u);
    EXPECT_EQ(parameter.offset, -1);

    // Any set index other than 0 is set 1.
    parameter.offset = -70000;
    CopyVarsToPP(2);
    uint16_t viaSet2[16];
    std::memcpy(viaSet2, pp, sizeof pp);
    CopyVarsToPP(1);
    EXPECT_EQ(0, std::memcmp(viaSet2, pp, sizeof pp));
    parameter.offset = 0;
    CopyPPtoVars(2);
    EXPECT_EQ(parameter.offset, -70000);

    for (int k = 0; k < 15; ++k)
        parameter.set0[k] = static_cast<uint16_t>(k * 7 + 1);
    CopyVarsToPP(0);
    for (int k = 0; k < 15; ++k)
        EXPECT_EQ(pp[k], k * 7 + 1);
    EXPECT_EQ(pp[15], 0x5A5A);
    for (int k = 0; k < 15; ++k)
        pp[k] = static_cast<uint16_t>(900 + k);
    CopyPPtoVars(0);
    for (int k = 0; k < 15; ++k)
        EXPECT_EQ(parameter.set0[k], 900 + k);
}

TEST(Packets, RawAnswerReplacesTheSetpointButNotTheToleranceSetting) {
    parameter.set0[6] = 512;
    parameter.set0[7] = 100;
    for (int k = 0; k < 16; ++k)
        pp[k] = static_cast<uint16_t>(10 + k);
    pp[3] = 0x5678;
    pp[4] = 0x0001;
    CopyPPtoRAWVars();
    EXPECT_EQ(Ledge, 10);
    EXPECT_EQ(umValue, 0x15678u);
    EXPECT_EQ(parameter.set0[6], 15);
    EXPECT_EQ(parameter.set0[7], 100);
    EXPECT_EQ(tol, 16);
    EXPECT_EQ(raw15, 25);
}

TEST(Frames, DecoderTellsRawAnswersByTheWholeCommandWord) {
    std::vector<uint16_t> values(15);
    for (int i = 0; i < 15; ++i)
        values[i] = static_cast<uint16_t>(0x1000 + i);
    values[14] = 0xBEEF;

    PutReadFrame(Frame(0x00AA, 0x0008, 0x0777, values));
    EXPECT_EQ(GetRxBuf(), 1);
    EXPECT_EQ(pp[0], 0x0777);
    for (int i = 0; i < 15; ++i)
        EXPECT_EQ(pp[i + 1], values[i]);

    pp[15] = 0x4242;
    PutReadFrame(Frame(0x00AA, 0x0108, 0x0777, values));
    EXPECT_EQ(GetRxBuf(), 0);
    for (int i = 0; i < 15; ++i)
        EXPECT_EQ(pp[i], values[i]);
    EXPECT_EQ(pp[15], 0x4242);
}

TEST(Frames, OpenErrorTexts) {
    EXPECT_STREQ(ComErrorText(-4), "Unknown I/0 error"); // with a digit zero
    EXPECT_STREQ(ComErrorText(-13), "Invalid parameter");
    EXPECT_STREQ(ComErrorText(-99), "Timeout");
    EXPECT_STREQ(ComErrorText(-5), "RS-232 error!");
    EXPECT_STREQ(ComErrorText(-100), "RS-232 error!");
}

// --- the receive notification and the waits, against the simulated sensor --------------------

class FrameTransportTest : public SensorTest {
  protected:
    void TearDown() override {
        HookClock::remove();
        SensorTest::TearDown();
    }
};

TEST_F(FrameTransportTest, FortyBytesTogetherGiveOneFrameAndTheRestIsDropped) {
    Connect();
    std::vector<uint16_t> values(15);
    for (int i = 0; i < 15; ++i)
        values[i] = static_cast<uint16_t>(300 + i);
    std::vector<uint8_t> bytes = Frame(0x00AA, 8, 299, values);
    bytes.insert(bytes.end(), {0x00, 0xAA, 0x00, 0x02});
    rx_flag = 0;
    graph_flag = 0;
    sim->sendUnsolicited(bytes);
    // All 40 bytes are in the queue before the notification gets its turn.
    ASSERT_TRUE(PollInQLen(com, 40));
    EXPECT_EQ(rx_flag, 0) << "the notification must not run outside event processing";
    ASSERT_TRUE(WaitUntil([] { return rx_flag == 1; }));
    EXPECT_EQ(graph_flag, 1);
    for (int i = 0; i < 16; ++i)
        EXPECT_EQ(pp[i], 299 + i);
    EXPECT_EQ(GetInQLen(com), 0);
}

TEST_F(FrameTransportTest, ThirtyFiveBytesNeverMakeAFrame) {
    Connect();
    kvorsim::Fault f;
    f.kind = kvorsim::Fault::Truncate;
    f.command = 5;
    f.bytes = 35;
    sim->inject(f);
    // The 35 bytes are in before the wait starts; the wait then runs into its time-out.
    HookClock::install(StepAfterQueueHolds(com, 35));
    EXPECT_EQ(CheckComLine(com), 0);
    EXPECT_EQ(rx_flag, 0);
    EXPECT_EQ(tdiff, 2.0);
    EXPECT_EQ(StatusText(), "Timeout-RS-232...");
    EXPECT_EQ(GetInQLen(com), 35);
}

TEST_F(FrameTransportTest, LineCheckAnswerInTheLastPassBeforeTheTimeOutCounts) {
    Connect();
    // Time stands still until the answer is in; the pass that brings it also finds the wait
    // timed out.
    HookClock::install([](int) { return HookClock::kBase + (rx_flag ? 10.0 : 0.0); });
    EXPECT_EQ(CheckComLine(com), 1);
    EXPECT_EQ(tdiff, 10.0);
    EXPECT_STREQ(szStatus, "Echo Check - Line Ok!");
    EXPECT_EQ(StatusText(), "Echo Check - Line Ok!");
}

TEST_F(FrameTransportTest, LineCheckSendsSet0AndRejectsAWrongStartWord) {
    Connect();
    for (int k = 0; k < 15; ++k)
        parameter.set0[k] = static_cast<uint16_t>(k + 40);
    kvorsim::Fault f;
    f.kind = kvorsim::Fault::CorruptStart;
    f.command = 5;
    f.value = 0x0055;
    sim->inject(f);
    EXPECT_EQ(CheckComLine(com), 0);
    EXPECT_EQ(StatusText(), "read error - not sync byte 0xAA!");
    ASSERT_EQ(sim->requestCount(), 1u);
    const kvorsim::Request r = sim->requests()[0];
    EXPECT_EQ(r.start, 0x55);
    EXPECT_EQ(r.command, 5);
    EXPECT_EQ(r.argument, 0);
    for (int k = 0; k < 15; ++k)
        EXPECT_EQ(r.values[k], k + 40);
    EXPECT_EQ(parameter.command, 5);
}
