// The serial port services over a real pseudo-terminal, with the simulated sensor on the far side.
#include <gtest/gtest.h>

#include <QElapsedTimer>

#include <cstdio>
#include <ctime>
#include <string>
#include <vector>

#include "fixtures.h"
#include "link_support.h"
#include "rs232.h"
#include "testhooks.h"
#include "userint.h"

namespace {

struct CallbackLog {
    int calls = 0;
    int lastEvents = 0;
    int queueAtCall = -1;
    int readPerCall = 0; // bytes each call takes out of the queue
};
CallbackLog g_log;

void CountingCallback(int port, int events, void *data) {
    ++g_log.calls;
    g_log.lastEvents = events;
    g_log.queueAtCall = GetInQLen(port);
    EXPECT_EQ(data, &g_log);
    if (g_log.readPerCall > 0) {
        char buf[256];
        ComRd(port, buf, g_log.readPerCall);
    }
}

int Open(int port, int inQ = 4096) {
    return OpenComConfig(port, "", 19200, 0, 8, 1, inQ, 4096);
}

} // namespace

class SerialPortTest : public SensorTest {
  protected:
    void SetUp() override {
        SensorTest::SetUp();
        g_log = CallbackLog();
    }
    void TearDown() override {
        for (int port : {2, 40, 41, 99}) {
            CloseCom(port);
            SetComPortDevice(port, "");
        }
        CloseCom(1);
        SensorTest::TearDown();
    }
};

TEST(PortNumbers, RuleAndOverrides) {
    SetComPortDevice(1, ""); // the sensor tests map port 1 to their simulator
#ifdef _WIN32
    EXPECT_EQ(ComPortDevice(1), "COM1");
    EXPECT_EQ(ComPortDevice(17), "COM17");
#else
    EXPECT_EQ(ComPortDevice(1), "/dev/ttyS0");
    EXPECT_EQ(ComPortDevice(16), "/dev/ttyS15");
    EXPECT_EQ(ComPortDevice(17), "/dev/ttyUSB0");
    EXPECT_EQ(ComPortDevice(32), "/dev/ttyUSB15");
    EXPECT_EQ(ComPortDevice(33), "/dev/ttyACM0");
    EXPECT_EQ(ComPortDevice(48), "/dev/ttyACM15");
    EXPECT_EQ(ComPortDevice(49), "");
    EXPECT_EQ(ComPortDevice(99), "");
#endif
    EXPECT_EQ(ComPortDevice(0), "");
    EXPECT_EQ(ComPortDevice(-3), "");
    SetComPortDevice(17, "/dev/serial/by-id/usb-sensor");
    SetComPortDevice(120, "/tmp/kvor-pty");
    EXPECT_EQ(ComPortDevice(17), "/dev/serial/by-id/usb-sensor");
    EXPECT_EQ(ComPortDevice(120), "/tmp/kvor-pty");
    SetComPortDevice(17, "");
    SetComPortDevice(120, "");
#ifndef _WIN32
    EXPECT_EQ(ComPortDevice(17), "/dev/ttyUSB0");
    EXPECT_EQ(ComPortDevice(120), "");
#endif
}

TEST_F(SerialPortTest, ListOffersTheUsualPortsAndEveryOverride) {
    SetComPortDevice(40, sim->devicePath());
    SetComPortDevice(41, "/nonexistent/kvor-port");
    std::vector<ComPortChoice> choices(64);
    const int n = ListComPorts(choices.data(), static_cast<int>(choices.size()));
    ASSERT_GE(n, 6);
    choices.resize(n);
    EXPECT_EQ(ListComPorts(nullptr, 0), n);
    for (int i = 1; i < n; ++i)
        EXPECT_LT(choices[i - 1].port, choices[i].port);
    for (int port = 1; port <= 4; ++port)
        EXPECT_EQ(choices[port - 1].port, port);
    EXPECT_EQ(choices[0].device, sim->devicePath());
    EXPECT_TRUE(choices[0].present);
    bool saw40 = false, saw41 = false;
    for (const ComPortChoice &c : choices) {
        if (c.port == 40) {
            saw40 = true;
            EXPECT_EQ(c.device, sim->devicePath());
            EXPECT_TRUE(c.present);
        }
        if (c.port == 41) {
            saw41 = true;
            EXPECT_FALSE(c.present);
        }
    }
    EXPECT_TRUE(saw40);
    EXPECT_TRUE(saw41);
    // The list is taken anew on every call.
    SetComPortDevice(41, "");
    EXPECT_EQ(ListComPorts(nullptr, 0), n - 1);
    ComPortChoice two[2];
    EXPECT_EQ(ListComPorts(two, 2), 2);
}

TEST_F(SerialPortTest, OpenResultsFollowOneRule) {
    SetComPortDevice(99, "");
    EXPECT_EQ(Open(99), kRS_InvalidPortNum);
    EXPECT_EQ(Open(0), kRS_InvalidPortNum);
    EXPECT_EQ(Open(100000), kRS_InvalidPortNum);
    SetComPortDevice(41, "/nonexistent/kvor-port");
    EXPECT_EQ(Open(41), kRS_NoPortFound);
    EXPECT_EQ(OpenComConfig(41, "/nonexistent/other", 19200, 0, 8, 1, 4096, 4096), kRS_NoPortFound);

    EXPECT_EQ(OpenComConfig(1, "", 19200, 0, 9, 1, 4096, 4096), kRS_InvalidParameter);
    EXPECT_EQ(OpenComConfig(1, "", 19200, 7, 8, 1, 4096, 4096), kRS_InvalidParameter);
    EXPECT_EQ(OpenComConfig(1, "", 19200, 0, 8, 3, 4096, 4096), kRS_InvalidParameter);
    EXPECT_EQ(OpenComConfig(1, "", 0, 0, 8, 1, 4096, 4096), kRS_InvalidParameter);

    ASSERT_EQ(Open(1), 0);
    // The device is in use by port 1: a second port on it cannot have it.
    SetComPortDevice(2, sim->devicePath());
    EXPECT_EQ(Open(2), kRS_CanNotOpenPort);
    // A refused setting leaves the open port as it was.
    EXPECT_EQ(OpenComConfig(1, "", 19200, 0, 4, 1, 4096, 4096), kRS_InvalidParameter);
    EXPECT_EQ(GetInQLen(1), 0);
    // Opening an open port closes it first; closing frees the device for another number.
    EXPECT_EQ(Open(1), 0);
    EXPECT_EQ(CloseCom(1), 0);
    EXPECT_EQ(Open(2), 0);
    EXPECT_EQ(CloseCom(2), 0);
    EXPECT_EQ(CloseCom(2), 0) << "closing a closed port is harmless";
    EXPECT_EQ(CloseCom(77), 0);
}

TEST_F(SerialPortTest, ClosedPortReportsErrors) {
    char buf[36] = {};
    EXPECT_EQ(ComWrt(1, buf, 36), kRS_PortNotOpen);
    EXPECT_LT(ComRd(1, buf, 36), 0);
    EXPECT_LT(GetInQLen(1), 0);
    EXPECT_LT(FlushInQ(1), 0);
    EXPECT_LT(InstallComCallback(1, LWRS_RECEIVE, 36, 0x55, CountingCallback, &g_log), 0);
}

TEST_F(SerialPortTest, WriteHandsTheBytesOverBeforeReturning) {
    ASSERT_EQ(Open(1), 0);
    const std::vector<uint8_t> frame = Frame(0x0055, 5, 0, {1, 2, 3});
    EXPECT_EQ(ComWrt(1, reinterpret_cast<const char *>(frame.data()), 36), 36);
    // No event is handled from here on: the sensor must still get the request.
    EXPECT_TRUE(sim->waitForRequests(1, 10.0));
    ASSERT_EQ(sim->requestCount(), 1u);
    EXPECT_EQ(sim->requests()[0].command, 5);
    EXPECT_EQ(sim->requests()[0].values[2], 3);
    // Its echo reaches the queue length without events too.
    EXPECT_TRUE(PollInQLen(1, 36));
    char answer[64];
    EXPECT_EQ(ComRd(1, answer, 64), 36);
    EXPECT_EQ(static_cast<unsigned char>(answer[1]), 0xAA);
    EXPECT_EQ(ComRd(1, answer, 64), 0);
}

TEST_F(SerialPortTest, EmptyingTheOutputQueueNeverCutsAFrameAlreadyWritten) {
    ASSERT_EQ(Open(1), 0);
    // As a loop ends: a request written, then both queues emptied at once.
    for (uint16_t i = 0; i < 20; ++i) {
        const std::vector<uint8_t> frame = Frame(0x0055, 1, 0, {i});
        ASSERT_EQ(ComWrt(1, reinterpret_cast<const char *>(frame.data()), 36), 36);
        EXPECT_EQ(FlushOutQ(1), 0);
        EXPECT_EQ(FlushInQ(1), 0);
    }
    ASSERT_TRUE(sim->waitForRequests(20, 10.0)) << sim->requestCount() << " requests arrived";
    const std::vector<kvorsim::Request> log = sim->requests();
    for (uint16_t i = 0; i < 20; ++i) {
        EXPECT_EQ(log[i].command, 1);
        EXPECT_EQ(log[i].values[0], i);
    }
    EXPECT_EQ(sim->skippedBytes(), 0u);
}

TEST_F(SerialPortTest, InputQueueKeepsOrderAndDropsWhatDoesNotFit) {
    ASSERT_EQ(Open(1, 100), 0);
    std::vector<uint8_t> bytes(150);
    for (size_t i = 0; i < bytes.size(); ++i)
        bytes[i] = static_cast<uint8_t>(i);
    sim->sendUnsolicited(bytes);
    ASSERT_TRUE(WaitUntil([] { return GetInQLen(1) >= 100; }));
    char buf[200];
    EXPECT_EQ(ComRd(1, buf, 30), 30);
    EXPECT_EQ(GetInQLen(1), 70);
    EXPECT_EQ(ComRd(1, buf + 30, 200), 70);
    for (int i = 0; i < 100; ++i)
        EXPECT_EQ(static_cast<uint8_t>(buf[i]), i);

    sim->sendUnsolicited({1, 2, 3});
    ASSERT_TRUE(PollInQLen(1, 3));
    EXPECT_EQ(FlushInQ(1), 0);
    EXPECT_EQ(GetInQLen(1), 0);
}

TEST_F(SerialPortTest, NotificationComesOnlyFromEventProcessing) {
    ASSERT_EQ(Open(1), 0);
    g_log.readPerCall = 36;
    ASSERT_EQ(InstallComCallback(1, LWRS_RECEIVE, 36, 0x55, CountingCallback, &g_log), 0);
    sim->sendUnsolicited(Frame(0x00AA, 8, 1, {2, 3}));
    // The queue sees the frame while no events are handled, and nothing is called from in
    // there.
    ASSERT_TRUE(PollInQLen(1, 36));
    char peek[1];
    EXPECT_EQ(ComRd(1, peek, 0), 0);
    EXPECT_EQ(g_log.calls, 0);
    ASSERT_TRUE(WaitUntil([] { return g_log.calls == 1; }));
    EXPECT_TRUE(g_log.lastEvents & LWRS_RECEIVE);
    EXPECT_EQ(g_log.queueAtCall, 36);
    EXPECT_EQ(GetInQLen(1), 0);

    // Fewer bytes than the notify count call nothing.
    sim->sendUnsolicited(std::vector<uint8_t>(35, 0x11));
    ASSERT_TRUE(WaitUntil([] { return GetInQLen(1) == 35; }));
    EXPECT_FALSE(WaitUntil([] { return g_log.calls > 1; }, 0.3));
}

// A frame comes in pieces at the pace of the line. With the whole-count wake the program is
// woken once for it; bytes the system holds back still count as waiting, and once some were
// pulled in, the rest of the frame wakes the program as soon as it comes.
TEST_F(SerialPortTest, WholeCountWakeTakesAFrameInOneReadAndMissesNoByte) {
    sim->setPacing(true); // 8 bytes at a time, at 19200 baud
    ASSERT_EQ(Open(1), 0);
    g_log.readPerCall = 36;
    ASSERT_EQ(InstallComCallback(1, LWRS_RECEIVE | LWRS_RXFLAG, 36, 0xAA, CountingCallback, &g_log), 0);
    ASSERT_EQ(SetComWholeCountWake(1, 1), 0);
    for (int frame = 1; frame <= 3; ++frame) {
        const long reads = ComReadCount(1);
        sim->sendUnsolicited(Frame(0x00AA, 8, 1, {2, 3}));
        ASSERT_TRUE(WaitUntil([frame] { return g_log.calls == frame; })) << frame;
        EXPECT_EQ(g_log.queueAtCall, 36);
        EXPECT_EQ(ComReadCount(1) - reads, 1) << "frame " << frame << " woke the program more than once";
    }

    // 35 bytes: held back by the system, yet the queue shows them; the 36th then calls.
    sim->sendUnsolicited(std::vector<uint8_t>(35, 0x11));
    ASSERT_TRUE(PollInQLen(1, 35));
    EXPECT_EQ(g_log.calls, 3);
    sim->sendUnsolicited({0x22});
    ASSERT_TRUE(WaitUntil([] { return g_log.calls == 4; }));
    EXPECT_EQ(g_log.queueAtCall, 36);

    // Without the notification every piece wakes the program again: a queue read by hand.
    ASSERT_EQ(InstallComCallback(1, 0, 36, 0, nullptr, nullptr), 0);
    sim->sendUnsolicited(std::vector<uint8_t>(5, 0x33));
    ASSERT_TRUE(WaitUntil([] { return GetInQLen(1) == 5; }));
    // Switched off, a frame's pieces are taken as they come.
    ASSERT_EQ(InstallComCallback(1, LWRS_RECEIVE, 36, 0, CountingCallback, &g_log), 0);
    ASSERT_EQ(SetComWholeCountWake(1, 0), 0);
    ASSERT_EQ(FlushInQ(1), 0);
    const long reads = ComReadCount(1);
    sim->sendUnsolicited(Frame(0x00AA, 8, 1, {4, 5}));
    ASSERT_TRUE(WaitUntil([] { return g_log.calls == 5; }));
    EXPECT_GE(ComReadCount(1) - reads, 1);
    EXPECT_EQ(SetComWholeCountWake(7, 1), kRS_PortNotOpen);
}

TEST_F(SerialPortTest, InstallingOverAFullQueueCallsAtTheNextEventPass) {
    ASSERT_EQ(Open(1), 0);
    sim->sendUnsolicited(std::vector<uint8_t>(72, 0x42));
    ASSERT_TRUE(PollInQLen(1, 72));
    g_log.readPerCall = 36;
    ASSERT_EQ(InstallComCallback(1, LWRS_RECEIVE, 36, 0x55, CountingCallback, &g_log), 0);
    EXPECT_EQ(g_log.calls, 0);
    // Two frames' worth: called again while the queue still holds the notify count.
    ASSERT_TRUE(WaitUntil([] { return g_log.calls == 2; }));
    EXPECT_EQ(g_log.queueAtCall, 36);
    EXPECT_FALSE(WaitUntil([] { return g_log.calls > 2; }, 0.2));
}

TEST_F(SerialPortTest, NotificationThatReadsNothingDoesNotHangTheProgram) {
    ASSERT_EQ(Open(1), 0);
    ASSERT_EQ(InstallComCallback(1, LWRS_RECEIVE, 36, 0x55, CountingCallback, &g_log), 0);
    sim->sendUnsolicited(std::vector<uint8_t>(36, 0x42));
    ASSERT_TRUE(WaitUntil([] { return g_log.calls > 0; }));
    const int calls = g_log.calls;
    EXPECT_LE(calls, 64);
    // Without new bytes nobody calls it again.
    for (int i = 0; i < 50; ++i)
        ProcessSystemEvents();
    EXPECT_EQ(g_log.calls, calls);
    EXPECT_EQ(GetInQLen(1), 36);
}

TEST_F(SerialPortTest, MaskZeroOrNoFunctionSwitchesTheNotificationOff) {
    ASSERT_EQ(Open(1), 0);
    g_log.readPerCall = 36;
    ASSERT_EQ(InstallComCallback(1, LWRS_RECEIVE, 36, 0x55, CountingCallback, &g_log), 0);
    ASSERT_EQ(InstallComCallback(1, 0, 36, 0x55, CountingCallback, &g_log), 0);
    sim->sendUnsolicited(std::vector<uint8_t>(36, 1));
    EXPECT_FALSE(WaitUntil([] { return g_log.calls > 0; }, 0.3));
    EXPECT_EQ(GetInQLen(1), 36);

    ASSERT_EQ(InstallComCallback(1, LWRS_RECEIVE, 36, 0x55, CountingCallback, &g_log), 0);
    ASSERT_EQ(InstallComCallback(1, LWRS_RECEIVE, 36, 0x55, nullptr, nullptr), 0);
    EXPECT_FALSE(WaitUntil([] { return g_log.calls > 0; }, 0.3));

    // Installed again, it reports the bytes that wait.
    ASSERT_EQ(InstallComCallback(1, LWRS_RECEIVE, 36, 0x55, CountingCallback, &g_log), 0);
    EXPECT_TRUE(WaitUntil([] { return g_log.calls == 1; }));
}

TEST_F(SerialPortTest, DeviceThatGoesAwayClosesThePortAndBurnsNoCpu) {
    ASSERT_EQ(Open(1), 0);
    g_log.readPerCall = 36;
    ASSERT_EQ(InstallComCallback(1, LWRS_RECEIVE, 36, 0x55, CountingCallback, &g_log), 0);
    sim->disconnectAfter(0);
    ASSERT_TRUE(WaitUntil([this] { return !sim->connected(); }));

    // Only event processing from here: the services must not be asked before we measure.
    const std::clock_t cpuStart = std::clock();
    QElapsedTimer wall;
    wall.start();
    while (wall.elapsed() < 500)
        ProcessSystemEvents();
    const double cpu = double(std::clock() - cpuStart) / CLOCKS_PER_SEC;
    EXPECT_LT(cpu, 0.25) << "event processing spins after the device went away";
    std::printf("CPU while idle after the device went away: %.3f s in 0.5 s\n", cpu);

    char buf[36] = {};
    EXPECT_LT(ComWrt(1, buf, 36), 0);
    EXPECT_LT(GetInQLen(1), 0);
    EXPECT_EQ(g_log.calls, 0);
    EXPECT_EQ(CloseCom(1), 0);
}

TEST_F(SerialPortTest, DeviceGoneWhilePollingWithoutEventsReadsAsClosed) {
    ASSERT_EQ(Open(1), 0);
    sim->disconnectAfter(0);
    // A poll that handles no events (as the firmware read polls) sees the port close too.
    const auto until = std::chrono::steady_clock::now() + std::chrono::seconds(10);
    int n = 0;
    while ((n = GetInQLen(1)) >= 0 && std::chrono::steady_clock::now() < until) {
    }
    EXPECT_EQ(n, kRS_PortNotOpen);
    char buf[36] = {};
    EXPECT_EQ(ComWrt(1, buf, 36), kRS_PortNotOpen);
}
