// The hardware description and the firmware text, read from the simulated sensor.
#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <vector>

#include "K-VOR-RNZazorU30.h"
#include "com232.h"
#include "exchange.h"
#include "fixtures.h"
#include "link_support.h"
#include "rs232.h"
#include "state.h"
#include "userint.h"

namespace {

std::string HwLine(int line) {
    char text[256] = {0};
    GetTextBoxLine(pCalib, CALIB_HWINFO, line, text, sizeof text);
    return text;
}

void AxisX(double *min, double *max) {
    int mode = -1;
    GetAxisScalingMode(pHandle, PANEL_VIDEOGRAPH, VAL_XAXIS, &mode, min, max);
    EXPECT_EQ(mode, VAL_MANUAL);
}

kvorsim::HardwareInfo Hw(uint16_t ccdtype, uint16_t virtualPixels, uint16_t refdistance,
                         uint16_t adcmaxValue) {
    kvorsim::HardwareInfo hw;
    hw.ccdtype = ccdtype;
    hw.ccdvirtpixel = virtualPixels;
    hw.refdistance = refdistance;
    hw.adcmax = adcmaxValue;
    return hw;
}

const std::string kMicroM = std::string("\xB5") + "m";

} // namespace

class DeviceInfoTest : public SensorTest {
  protected:
    void SetUp() override {
        SensorTest::SetUp();
        Connect();
    }
    void TearDown() override {
        HookClock::remove();
        SensorTest::TearDown();
    }
};

TEST_F(DeviceInfoTest, HardwareAnswerSetsAxisRangeAndDescription) {
    kvorsim::HardwareInfo hw = Hw(1, 4096, 37, 1024);
    hw.ccdmaxpixel = 1100;
    hw.softversion = 321;
    sim->setHardware(hw);
    ADCMAX = 256;
    EXPECT_EQ(GetHARDWAREInfo(), 1);
    EXPECT_EQ(sim->requests().back().command, 10);
    EXPECT_EQ(ccdmaxpixel, 1100); // the words come from bytes 4 to 25 in order
    EXPECT_EQ(softversion, 321);
    EXPECT_EQ(ccdvirtpixel, 4096);
    EXPECT_EQ(xArray8[1], 16.0);
    EXPECT_EQ(xArray8[255], 4080.0);
    EXPECT_EQ(pixB, 1);
    EXPECT_EQ(pixE, 4096);
    EXPECT_EQ(ADCMAX, 1024);
    double lo = 0, hi = 0;
    AxisX(&lo, &hi);
    EXPECT_EQ(lo, 1.0);
    EXPECT_EQ(hi, 4096.0);
    EXPECT_EQ(HwLine(0), "1024-pixel; 7.8" + kMicroM + " pixel-pitch");
    EXPECT_EQ(HwLine(1), "4096-subpixel; resolution=1" + kMicroM);
    EXPECT_EQ(HwLine(2), "working-range = 37 +/- 2.0mm");

    sim->setHardware(Hw(1, 2048, 80, 1024));
    EXPECT_EQ(GetHARDWAREInfo(), 1);
    EXPECT_EQ(xArray8[255], 8.0 * 255);
    EXPECT_EQ(pixE, 2048);
    EXPECT_EQ(HwLine(0), "1024-pixel; 7.8" + kMicroM + " pixel-pitch");
    EXPECT_EQ(HwLine(1), "4096-subpixel; resolution=5" + kMicroM);
    EXPECT_EQ(HwLine(2), "working-range = 80mm +/- 10mm");
}

TEST_F(DeviceInfoTest, EveryKnownPixelCountHasItsPointSpacing) {
    // Pixels per point of the 256-point video curve, for every line length the sensors have.
    struct Case {
        uint16_t pixels;
        int perPoint;
    };
    const Case cases[] = {{256, 1},  {512, 2},  {768, 3},   {1024, 4},  {1180, 5},  {1280, 5},
                          {1536, 6}, {2048, 8}, {2360, 10}, {2560, 10}, {4096, 16}, {8192, 32}};
    for (const Case &c : cases) {
        SCOPED_TRACE(c.pixels);
        sim->setHardware(Hw(1, c.pixels, 37, 1024));
        for (double &x : xArray8)
            x = -1.0;
        ASSERT_EQ(GetHARDWAREInfo(), 1);
        EXPECT_EQ(ccdvirtpixel, c.pixels);
        EXPECT_EQ(pixE, c.pixels);
        int wrong = 0;
        for (int i = 0; i < 256; ++i)
            wrong += xArray8[i] == static_cast<double>(c.perPoint * i) ? 0 : 1;
        EXPECT_EQ(wrong, 0) << "xArray8[255] = " << xArray8[255];
        double lo = 0, hi = 0;
        AxisX(&lo, &hi);
        EXPECT_EQ(lo, 1.0);
        EXPECT_EQ(hi, static_cast<double>(c.pixels));
    }
}

TEST_F(DeviceInfoTest, UnknownPixelCountFallsBackTo1024) {
    sim->setHardware(Hw(1, 3000, 37, 1024));
    EXPECT_EQ(GetHARDWAREInfo(), 1);
    double lo = 0, hi = 0;
    AxisX(&lo, &hi);
    EXPECT_EQ(lo, 1.0);
    EXPECT_EQ(hi, 3000.0); // the axis keeps what the sensor said
    for (int i = 0; i < 256; ++i)
        ASSERT_EQ(xArray8[i], 4.0 * i) << i;
    EXPECT_EQ(ccdvirtpixel, 1024);
    EXPECT_EQ(pixE, 1024);
}

TEST_F(DeviceInfoTest, VideoFullScaleFollowsCcdTypeAndConverter) {
    sim->setHardware(Hw(1, 4096, 37, 4095));
    EXPECT_EQ(GetHARDWAREInfo(), 1);
    EXPECT_EQ(ADCMAX, 256);

    sim->setHardware(Hw(2, 4096, 37, 256));
    pixB = 9;
    pixE = 99;
    EXPECT_EQ(GetHARDWAREInfo(), 1);
    EXPECT_EQ(ADCMAX, 1024);
    EXPECT_EQ(pixB, 1);
    EXPECT_EQ(pixE, 1024);
    EXPECT_EQ(HwLine(0), "No information avialable!");
    EXPECT_EQ(HwLine(1), std::string(25, ' '));
    EXPECT_EQ(HwLine(2), std::string(25, ' '));
}

TEST_F(DeviceInfoTest, OtherReferenceDistanceKeepsDescriptionAndRange) {
    ReplaceTextBoxLine(pCalib, CALIB_HWINFO, 0, "line zero");
    ReplaceTextBoxLine(pCalib, CALIB_HWINFO, 1, "line one");
    ReplaceTextBoxLine(pCalib, CALIB_HWINFO, 2, "line two");
    pixB = 7;
    pixE = 777;
    ADCMAX = 1024;
    sim->setHardware(Hw(1, 4096, 50, 4095));
    EXPECT_EQ(GetHARDWAREInfo(), 1);
    EXPECT_EQ(HwLine(0), "line zero");
    EXPECT_EQ(HwLine(1), "line one");
    EXPECT_EQ(HwLine(2), "line two");
    EXPECT_EQ(pixB, 7);
    EXPECT_EQ(pixE, 777);
    EXPECT_EQ(ADCMAX, 256);
}

TEST_F(DeviceInfoTest, AFrameOfAnotherCommandIsNoHardwareAnswer) {
    // A frame with command word 9 is not the answer to a hardware request: it is dropped, the
    // wait runs into its time-out, and nothing of the frame is stored.
    sim->setHardware(Hw(2, 2048, 80, 333));
    kvorsim::Fault f;
    f.kind = kvorsim::Fault::CorruptCommand;
    f.command = 10;
    f.value = 9;
    sim->inject(f);
    for (double &x : xArray8)
        x = -1.0;
    ccdtype = 7;
    ccdvirtpixel = 4096;
    refdistance = 37;
    adcmax = 1024;
    pixB = 5;
    pixE = 55;
    ADCMAX = 256;
    const unsigned long foreign = ForeignFrames();
    EXPECT_EQ(GetHARDWAREInfo(), 0);
    EXPECT_EQ(ForeignFrames(), foreign + 1);
    EXPECT_STREQ(szStatus, "Timeout-RS-232...");
    EXPECT_EQ(ccdtype, 7);
    EXPECT_EQ(ccdvirtpixel, 4096);
    EXPECT_EQ(refdistance, 37);
    EXPECT_EQ(adcmax, 1024);
    EXPECT_EQ(xArray8[255], -1.0);
    EXPECT_EQ(pixB, 5);
    EXPECT_EQ(pixE, 55);
    EXPECT_EQ(ADCMAX, 256);
}

TEST_F(DeviceInfoTest, FirmwareTextUpToItsZeroByte) {
    sim->setFirmwareText("KVOR fw 2.41");
    CopyText(szStatus, "before");
    EXPECT_EQ(GetVERSIONInfo(), 72);
    EXPECT_EQ(nBytesR, 72);
    EXPECT_EQ(StatusText(), "KVOR fw 2.41");
    EXPECT_STREQ(szStatus, "KVOR fw 2.41");
    EXPECT_EQ(sim->requests().back().command, 7);
    EXPECT_EQ(rx_flag, 0);
}

TEST_F(DeviceInfoTest, FirmwareTextWithoutZeroIsCutTo71Characters) {
    std::vector<uint8_t> text(72);
    for (int i = 0; i < 72; ++i)
        text[i] = static_cast<uint8_t>('A' + i % 26);
    kvorsim::Fault f;
    f.kind = kvorsim::Fault::Replace;
    f.command = 7;
    f.data = text;
    sim->inject(f);
    // Whatever lies behind the answer in the read buffer must not leak into the text.
    std::memset(szReadBuf, 'z', sizeof szReadBuf);
    EXPECT_EQ(GetVERSIONInfo(), 72);
    const std::string expected(text.begin(), text.begin() + 71);
    EXPECT_EQ(std::string(szStatus), expected);
    EXPECT_EQ(StatusText(), expected);
}

TEST_F(DeviceInfoTest, FirmwareWordFormForBoardType0) {
    kvorsim::HardwareInfo hw;
    hw.pcbtype = 0;
    sim->setHardware(hw);
    sim->setFirmwareText("FW-WORDS 1.7");
    ASSERT_EQ(GetHARDWAREInfo(), 1);
    ASSERT_EQ(pcbtype, 0);
    EXPECT_EQ(GetVERSIONInfo(), 72);
    // One character from the low byte of each word, up to the zero word: the text and no more.
    EXPECT_STREQ(szVersion, "FW-WORDS 1.7");
    EXPECT_STREQ(szStatus, szVersion);
    EXPECT_EQ(StatusText(), std::string(szVersion));
}

TEST_F(DeviceInfoTest, ShortFirmwareAnswerTimesOutAndTheNotificationComesBack) {
    kvorsim::Fault f;
    f.kind = kvorsim::Fault::Truncate;
    f.command = 7;
    f.bytes = 50;
    sim->inject(f);
    HookClock::install(StepAfterQueueHolds(com, 50));
    EXPECT_EQ(GetVERSIONInfo(), 50);
    EXPECT_EQ(nBytesR, 50);
    EXPECT_EQ(tdiff, 2.0);
    EXPECT_EQ(StatusText(), "Timeout - reading firmware info!");
    EXPECT_STREQ(szVersion, "");
    EXPECT_EQ(GetInQLen(com), 0);

    // Frames are taken in again.
    rx_flag = 0;
    sim->sendUnsolicited(Frame(0x00AA, 2, 0, {4321}));
    EXPECT_TRUE(WaitUntil([] { return rx_flag == 1; }));
    EXPECT_EQ(pp[0], 4321);
}

TEST_F(DeviceInfoTest, LongFirmwareAnswerIsReadWholeAndShowsNothingNew) {
    kvorsim::Fault f;
    f.kind = kvorsim::Fault::Extend;
    f.command = 7;
    f.bytes = 80;
    sim->inject(f);
    CopyText(szStatus, "before");
    // All 80 bytes are in before the read polls, so the poll finds them all.
    HookClock::install(StepAfterQueueHolds(com, 80));
    EXPECT_EQ(GetVERSIONInfo(), 80);
    EXPECT_EQ(nBytesR, 80);
    EXPECT_STREQ(szVersion, "");
    EXPECT_EQ(StatusText(), "before");
    EXPECT_EQ(GetInQLen(com), 0);
}

TEST_F(DeviceInfoTest, HugeFirmwareAnswerStaysInsideTheReadBuffer) {
    kvorsim::Fault f;
    f.kind = kvorsim::Fault::Extend;
    f.command = 7;
    f.bytes = 3000;
    sim->inject(f);
    // The whole answer is in before the read polls, so that it finds more than 1024 bytes.
    HookClock::install(StepAfterQueueHolds(com, 3000));
    const int n = GetVERSIONInfo();
    EXPECT_EQ(n, 3000);
    EXPECT_EQ(nBytesR, 1024);
}

TEST_F(DeviceInfoTest, HardwareTimeOutLeavesEverythingAsItWas) {
    kvorsim::Fault f;
    f.kind = kvorsim::Fault::Drop;
    f.command = 10;
    sim->inject(f);
    sim->setHardware(Hw(2, 2048, 80, 333));
    const uint16_t before[] = {ccdtype, ccdvirtpixel, refdistance, adcmax, pixB, pixE, ADCMAX};
    HookClock::install([](int call) { return HookClock::kBase + 0.5 * call; });
    EXPECT_EQ(GetHARDWAREInfo(), 0);
    EXPECT_STREQ(szStatus, "Timeout-RS-232...");
    const uint16_t after[] = {ccdtype, ccdvirtpixel, refdistance, adcmax, pixB, pixE, ADCMAX};
    EXPECT_EQ(0, std::memcmp(before, after, sizeof before));
}
