// The start-up exchange with the sensor, end to end over the pseudo-terminal.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "K-VOR-RNZazorU30.h"
#include "com232.h"
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

std::vector<int> Commands(const std::vector<kvorsim::Request> &log) {
    std::vector<int> commands;
    for (const kvorsim::Request &r : log)
        commands.push_back(r.command);
    return commands;
}

} // namespace

class StartUpTest : public SensorTest {
  protected:
    void TearDown() override {
        HookClock::remove();
        for (int port : {2, 7, 99}) {
            CloseCom(port);
            SetComPortDevice(port, "");
        }
        SensorTest::TearDown();
    }
};

// The place for the request sequence of the start-up exchange; the other tests look at what their
// case changes.
TEST_F(StartUpTest, FullExchangeIdentifiesTheSensorAndReadsBothSets) {
    kvorsim::HardwareInfo hw;
    hw.ccdtype = 1;
    hw.ccdvirtpixel = 2048;
    hw.refdistance = 37;
    hw.adcmax = 1024;
    sim->setHardware(hw);
    sim->setFirmwareText("K-VOR-RN firmware 3.14 (sim)");
    uint16_t set0[15], set1[15];
    for (int k = 0; k < 15; ++k) {
        set0[k] = static_cast<uint16_t>(10 + k);
        set1[k] = static_cast<uint16_t>(200 + k);
    }
    sim->setRamSet(0, set0);
    sim->setRamSet(1, set1);
    const uint16_t panelSet0Word0 = parameter.set0[0];

    Connect(false);

    EXPECT_EQ(ret, 1);
    EXPECT_EQ(StatusText(), "K-VOR-RN firmware 3.14 (sim)");
    const std::vector<kvorsim::Request> log = sim->requests();
    ASSERT_EQ(Commands(log), (std::vector<int>{5, 10, 2, 2, 7}));
    EXPECT_EQ(log[0].values[0], panelSet0Word0) << "the line check sends set 0 as it stands";
    EXPECT_EQ(log[2].argument, 0);
    EXPECT_EQ(log[3].argument, 1);
    for (size_t i = 1; i < log.size(); ++i)
        EXPECT_GE(log[i].time - log[i - 1].time, 0.09) << "request " << i;

    EXPECT_EQ(ccdvirtpixel, 2048);
    EXPECT_EQ(pixE, 2048);
    EXPECT_EQ(xArray8[255], 8.0 * 255);
    EXPECT_EQ(HwLine(0), std::string("1024-pixel; 7.8\xB5") + "m pixel-pitch");
    EXPECT_EQ(HwLine(1), std::string("4096-subpixel; resolution=1\xB5") + "m");
    EXPECT_EQ(HwLine(2), "working-range = 37 +/- 2.0mm");
    EXPECT_EQ(parameter.set0[0], 10);
    EXPECT_EQ(parameter.set0[14], 24);
    EXPECT_EQ(parameter.set1[10], 210);

    // Frames are taken in between requests.
    rx_flag = 0;
    sim->sendUnsolicited(Frame(0x00AA, 11, 0, {1}));
    EXPECT_TRUE(WaitUntil([] { return rx_flag == 1; }));

    // Choosing the port again repeats the whole exchange on a fresh open.
    CloseCom(com);
    sim->clearRequests();
    Connect(false);
    EXPECT_EQ(StatusText(), "K-VOR-RN firmware 3.14 (sim)");
    EXPECT_EQ(Commands(sim->requests()), (std::vector<int>{5, 10, 2, 2, 7}));
}

TEST_F(StartUpTest, WrongStartWordEndsTheExchangeAfterTheLineCheck) {
    kvorsim::Fault f;
    f.kind = kvorsim::Fault::CorruptStart;
    f.command = 5;
    f.value = 0x0055;
    sim->inject(f);
    const uint16_t virtBefore = ccdvirtpixel;
    Connect(false);
    EXPECT_EQ(ret, 0);
    EXPECT_EQ(StatusText(), "read error - not sync byte 0xAA!");
    EXPECT_FALSE(sim->waitForRequests(2, 0.3));
    EXPECT_EQ(Commands(sim->requests()), std::vector<int>{5});
    EXPECT_EQ(ccdvirtpixel, virtBefore);
}

TEST_F(StartUpTest, SilentSensorEndsTheExchangeWithATimeOut) {
    kvorsim::Fault f;
    f.kind = kvorsim::Fault::Drop;
    f.command = 5;
    sim->inject(f);
    HookClock::install([](int call) { return HookClock::kBase + 0.5 * call; });
    Connect(false);
    EXPECT_EQ(StatusText(), "Timeout-RS-232...");
    // The replaced clock ends the wait long before the sensor may even have read the request.
    EXPECT_TRUE(sim->waitForRequests(1, 10.0));
    EXPECT_FALSE(sim->waitForRequests(2, 0.3));
    EXPECT_EQ(Commands(sim->requests()), std::vector<int>{5});
}

TEST_F(StartUpTest, MissingHardwareAnswerDoesNotStopTheExchange) {
    kvorsim::Fault f;
    f.kind = kvorsim::Fault::Drop;
    f.command = 10;
    sim->inject(f);
    sim->setFirmwareText("fw after a silent hardware answer");
    const uint16_t ram0[15] = {600, 0, 1, 2, 3, 900, 450, 30, 0, 1, 2, 0, 9, 0, 40};
    sim->setRamSet(0, ram0);
    const uint16_t virtBefore = ccdvirtpixel, pixEBefore = pixE;
    Connect(false);
    // The exchange went on: both sets were read and the firmware text is shown.
    EXPECT_EQ(std::vector<uint16_t>(parameter.set0, parameter.set0 + 15), std::vector<uint16_t>(ram0, ram0 + 15));
    EXPECT_EQ(StatusText(), "fw after a silent hardware answer");
    EXPECT_EQ(ccdvirtpixel, virtBefore);
    EXPECT_EQ(pixE, pixEBefore);
}

TEST_F(StartUpTest, ShortFirmwareAnswerIsAnError) {
    kvorsim::Fault f;
    f.kind = kvorsim::Fault::Truncate;
    f.command = 7;
    f.bytes = 40;
    sim->inject(f);
    // Time runs as it does until the cut answer waits in the queue; then the firmware read's
    // time-out has passed, without the test waiting for it.
    const kvorsim::Simulator *s = sim;
    HookClock::install([s](int call) {
        const bool cut = s->requestCount() >= 5 && s->requests().back().command == 7 && GetInQLen(com) >= 40;
        return HookClock::kBase + 0.001 * call + (cut ? 10.0 : 0.0);
    });
    Connect(false);
    HookClock::remove();
    EXPECT_EQ(StatusText(), "Error reading firmware-info!");
}

TEST_F(StartUpTest, OpenFailuresAreShownAndNothingIsSent) {
    SetComPortDevice(99, "");
    InitRS232(99);
    EXPECT_EQ(ret, kRS_InvalidPortNum);
    EXPECT_EQ(StatusText(), "Invalid port number");

    SetComPortDevice(7, "/nonexistent/kvor-sensor");
    InitRS232(7);
    EXPECT_EQ(ret, kRS_NoPortFound);
    EXPECT_EQ(StatusText(), "No serial port found");

    // The sensor's device is already open under another number.
    ASSERT_EQ(OpenComConfig(1, "", 19200, 0, 8, 1, 4096, 4096), 0);
    SetComPortDevice(2, sim->devicePath());
    InitRS232(2);
    EXPECT_EQ(ret, kRS_CanNotOpenPort);
    EXPECT_EQ(StatusText(), "Cannot open port");

    EXPECT_FALSE(sim->waitForRequests(1, 0.2));
}
