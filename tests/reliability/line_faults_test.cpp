// Every way the serial line fails, injected through the simulated sensor on a real
// pseudo-terminal: answers that never come, come cut short, come with extra bytes, with a wrong
// start or command word, or too late; frames nobody asked for, and line noise; the port that
// goes away under a running loop and comes back; a port that cannot be opened. Each case checks
// the status line, the flags and the buttons, and that the program goes on working afterwards.
#include <gtest/gtest.h>

#include <algorithm>
#include <random>
#include <string>
#include <unistd.h>
#include <vector>

#include "K-VOR-RNZazorU30.h"
#include "com232.h"
#include "exchange.h"
#include "fixtures.h"
#include "testhooks.h"
#include "measure.h"
#include "params.h"
#include "reliability_support.h"
#include "rs232.h"
#include "state.h"
#include "userint.h"
#include "utility.h"

using namespace rel;

namespace {

const char *const kFirmware = "K-VOR-RN 3.01 rel";
// A raw-data answer with two edges: every drawing puts exactly two bars on the bar graph.
const uint16_t kRaw[16] = {900, 1100, 1000, 51234, 0, 1000, 50, 2, 0, 0, 0, 1700, 300, 0, 0, 0};
constexpr int kBarsPerDrawing = 2;
constexpr int kCurvesPerVideoPass = 2;
const std::vector<int> kStartUp = {5, 10, 2, 2, 7};

std::string UniqueLinkPath() {
    static int serial = 0;
    std::string dir = ::testing::TempDir();
    if (!dir.empty() && dir.back() != '/') dir += '/';
    return dir + "kvor-rel-" + std::to_string(::getpid()) + "-" + std::to_string(++serial);
}

class LineTest : public SensorTest {
protected:
    LineTest() : SensorTest(false) { options.linkPath = UniqueLinkPath(); }

    void SetUp() override {
        SensorTest::SetUp();
        if (HasFatalFailure()) return;
        sim->setFirmwareText(kFirmware);
        JumpClock::Install();
        if (connectAtStart) {
            Connect();
            ASSERT_EQ(StatusText(), kFirmware) << "the start-up exchange failed without a fault";
        }
        parameter.set0[3] = 1; // evaluation mode 1: one window bar per drawing
    }
    void TearDown() override {
        JumpClock::Remove();
        SensorTest::TearDown();
    }

    // The operator chooses port 1 again in the drop-down, which repeats the start-up exchange.
    void ChoosePortAgain() {
        sim->clearRequests();
        ASSERT_EQ(UserSetValue(pHandle, PANEL_DropDCom, 1), 0);
    }

    // The start-up exchange went through: the hardware applied, the firmware text shown.
    void ExpectCleanStartUp() {
        EXPECT_EQ(StatusText(), kFirmware);
        EXPECT_EQ(pixE, 4096);
        EXPECT_EQ(xArray8[255], 4080.0);
    }

    // A RUN that draws 'answers' answers and is stopped from the STOP button; returns the
    // drawings made.
    int RunAndStopAfter(size_t answers) {
        sim->setRawOverride(kRaw);
        parameter.set0[3] = 1;
        sim->clearRequests();
        const int before = NewestPlotHandle(PANEL_GRAPH);
        Timetable tt;
        tt.When([this, answers] { return sim->requestCount() >= answers + 1; },
                [] { UserClick(pHandle, PANEL_BTNStop); });
        tt.SafetyStop(20.0);
        UserClick(pHandle, PANEL_BTNRun);
        EXPECT_FALSE(tt.SafetyFired()) << "RUN did not end on STOP";
        EXPECT_EQ(stop_flag, 1);
        EXPECT_EQ(LoopButtons(), (std::vector<int>{0, 0, 0}));
        return (NewestPlotHandle(PANEL_GRAPH) - before) / kBarsPerDrawing;
    }

    // The program goes on working: a parameter read and a RUN answer as they should.
    void ExpectWorking() {
        SCOPED_TRACE("afterwards");
        uint16_t ram0[15];
        sim->ramSet(0, ram0);
        sim->clearRequests();
        PushGET(RAM, 0);
        EXPECT_EQ(StatusText(), "Parameter-frame received! - Line Ok!");
        EXPECT_EQ(std::vector<uint16_t>(parameter.set0, parameter.set0 + 15),
                  std::vector<uint16_t>(ram0, ram0 + 15));
        EXPECT_GE(RunAndStopAfter(3), 3);
    }

    // Everything still on its way (a late answer above all) is dropped with the old line.
    void ReplugSensor() { ASSERT_TRUE(sim->reconnect()) << sim->error(); }

    bool connectAtStart = true;
};

class StartUpFaults : public LineTest, public ::testing::WithParamInterface<LineFault> {
protected:
    StartUpFaults() { connectAtStart = false; }

    // Runs the start-up exchange with the fault on the first request of 'command'.
    void StartUpWithFault(int command) {
        const LineFault f = GetParam();
        sim->inject(MakeFault(f, command));
        const size_t index =
            static_cast<size_t>(std::find(kStartUp.begin(), kStartUp.end(), command) - kStartUp.begin()) + 1;
        const bool frame = command != 7; // the firmware answer is no frame
        if (frame && LeavesUnanswered(f))
            JumpWhenAnswerSpoiled(sim, index, f);
        else if (!frame && Silences(f))
            JumpClock::AfterRequests(sim, index, f == LineFault::Truncate ? 0.2 : 0.0);
        com = 1;
        InitRS232(com);
    }

    // Afterwards the operator chooses the port again and the exchange goes through.
    void ExpectRecovery() {
        SCOPED_TRACE("choosing the port again");
        sim->clearFaults();
        if (GetParam() == LineFault::Late) ReplugSensor();
        ChoosePortAgain();
        ExpectCleanStartUp();
    }
};

class ExchangeFaults : public LineTest, public ::testing::WithParamInterface<LineFault> {};

std::string FaultName(const ::testing::TestParamInfo<LineFault> &info) { return Name(info.param); }

const auto kAllFaults = ::testing::Values(LineFault::Drop, LineFault::Truncate, LineFault::Extend,
                                          LineFault::CorruptStart, LineFault::CorruptCommand, LineFault::Late);

} // namespace

// --- the start-up exchange --------------------------------------------------------------------

TEST_P(StartUpFaults, LineCheck) {
    StartUpWithFault(5);
    switch (GetParam()) {
    case LineFault::CorruptStart:
        // The request's own start word came back: nothing else is asked at start-up.
        EXPECT_EQ(StatusText(), "read error - not sync byte 0xAA!");
        EXPECT_EQ(Commands(*sim), std::vector<int>{5});
        break;
    case LineFault::Extend:
        // The bytes beyond 36 are dropped.
        ExpectCleanStartUp();
        break;
    default:
        EXPECT_EQ(StatusText(), "Timeout-RS-232...");
        EXPECT_EQ(Commands(*sim), std::vector<int>{5});
        EXPECT_EQ(pixE, 1024) << "no hardware answer was asked for";
        break;
    }
    EXPECT_EQ(stop_flag, 1);
    ExpectRecovery();
}

TEST_P(StartUpFaults, HardwareInformation) {
    kvorsim::HardwareInfo hw = sim->hardware();
    hw.adcmax = 256; // so that an applied answer shows in ADCMAX too
    sim->setHardware(hw);
    ccdtype = 0xBEEF;
    ccdvirtpixel = 4096;
    ADCMAX = 1024;
    xArray8[255] = -1.0;

    StartUpWithFault(10);

    // Whatever became of the hardware answer, the sequence goes on to the end.
    EXPECT_EQ(Commands(*sim), kStartUp);
    switch (GetParam()) {
    case LineFault::Extend:
    case LineFault::CorruptStart:
        EXPECT_EQ(pixE, 4096);
        EXPECT_EQ(xArray8[255], 4080.0);
        EXPECT_EQ(ADCMAX, 256);
        EXPECT_EQ(StatusText(), kFirmware);
        break;
    default:
        // No answer, or one with another command word (dropped): nothing of it is taken.
        EXPECT_EQ(ccdtype, 0xBEEF) << "a hardware answer that never came changed the hardware";
        EXPECT_EQ(pixE, 1024);
        EXPECT_EQ(xArray8[255], -1.0);
        EXPECT_EQ(ADCMAX, 1024);
        if (GetParam() != LineFault::Late) {
            EXPECT_EQ(StatusText(), kFirmware);
        }
        break;
    }
    ExpectRecovery();
}

TEST_P(StartUpFaults, ParameterRead) {
    const uint16_t ram0[15] = {700, 1, 0, 2, 100, 3000, 1500, 200, 512, 1, 3, 1, 77, 2, 60};
    sim->setRamSet(0, ram0);
    const std::vector<uint16_t> before(parameter.set0, parameter.set0 + 15);

    StartUpWithFault(2);

    EXPECT_EQ(Commands(*sim), kStartUp);
    const std::vector<uint16_t> after(parameter.set0, parameter.set0 + 15);
    if (LeavesUnanswered(GetParam())) {
        if (GetParam() != LineFault::Late) {
            // The late answer may still land in a later wait and be taken there.
            EXPECT_EQ(after, before) << "set 0 changed without an answer";
            EXPECT_EQ(StatusText(), kFirmware);
        }
    } else {
        // The answer's start word is not examined; extra bytes are dropped.
        EXPECT_EQ(after, std::vector<uint16_t>(ram0, ram0 + 15));
        EXPECT_EQ(StatusText(), kFirmware);
    }
    // Set 1 refreshed the panels from the record, answer or not.
    unsigned short setpoint = 0;
    GetCtrlVal(pPara2, PARA2_Setpoint, &setpoint);
    EXPECT_EQ(setpoint, parameter.set0[6]);
    ExpectRecovery();
}

TEST_P(StartUpFaults, FirmwareInformation) {
    StartUpWithFault(7);
    EXPECT_EQ(Commands(*sim), kStartUp);
    switch (GetParam()) {
    case LineFault::Drop:
    case LineFault::Truncate:
    case LineFault::Late:
        EXPECT_EQ(StatusText(), "Error reading firmware-info!");
        break;
    case LineFault::Extend:
        // More than 72 bytes are all read and none is shown; should the poll have ended at
        // exactly 72, the text is shown. Never an error.
        EXPECT_TRUE(StatusText() == "Parameter-frame received! - Line Ok!" || StatusText() == kFirmware)
            << StatusText();
        break;
    case LineFault::CorruptStart:
        // A firmware answer is no frame: its first word is just text. The injected start word
        // 0x0055 begins with a zero byte, which ends the text before it began.
        EXPECT_EQ(StatusText(), "");
        break;
    case LineFault::CorruptCommand:
        // The second word (0x0309) replaces the text's third and fourth characters.
        EXPECT_EQ(StatusText(), std::string("K-\x03\x09") + (kFirmware + 4));
        break;
    default:
        ADD_FAILURE() << "no expectation for this fault";
        break;
    }
    // The receive notification is back on whatever happened.
    if (GetParam() != LineFault::Late) {
        rx_flag = 0;
        sim->sendUnsolicited(SensorFrame(11, 0, {1}));
        EXPECT_TRUE(WaitUntil([] { return rx_flag == 1; }));
    }
    ExpectRecovery();
}

INSTANTIATE_TEST_SUITE_P(EveryFault, StartUpFaults, kAllFaults, FaultName);

// --- GET --------------------------------------------------------------------------------------

TEST_P(ExchangeFaults, ParameterReadThenTheNextRead) {
    const uint16_t ram0[15] = {650, 0, 1, 3, 10, 2000, 900, 120, 100, 2, 1, 0, 5, 0, 70};
    sim->setRamSet(0, ram0);
    const std::vector<uint16_t> before(parameter.set0, parameter.set0 + 15);
    const LineFault f = GetParam();
    sim->inject(MakeFault(f, 2));
    if (LeavesUnanswered(f)) JumpWhenAnswerSpoiled(sim, 1, f);

    PushGET(RAM, 0);

    const std::vector<uint16_t> after(parameter.set0, parameter.set0 + 15);
    if (LeavesUnanswered(f)) {
        EXPECT_EQ(StatusText(), "Timeout-RS-232...");
        EXPECT_EQ(after, before);
        EXPECT_EQ(rx_flag, 0);
        if (f == LineFault::Truncate) {
            // The answer's 35 bytes wait in the queue; they never pass for a frame.
            EXPECT_TRUE(WaitUntil([] { return GetInQLen(com) == 35; }));
            EXPECT_EQ(rx_flag, 0);
        }
        if (f == LineFault::Late) {
            // It comes in while nothing waits for it, and is taken in as any frame.
            EXPECT_TRUE(WaitUntil([] { return rx_flag == 1; }, 10.0));
        }
    } else {
        EXPECT_EQ(StatusText(), "Parameter-frame received! - Line Ok!");
        EXPECT_EQ(after, std::vector<uint16_t>(ram0, ram0 + 15));
    }
    EXPECT_EQ(LoopButtons(), (std::vector<int>{0, 0, 0}));
    // The next request empties the queue first: leftovers of the bad answer are gone.
    ExpectWorking();
}

// --- RUN --------------------------------------------------------------------------------------

TEST_P(ExchangeFaults, RunAnswer) {
    const LineFault f = GetParam();
    sim->setRawOverride(kRaw);
    const int plotsBefore = NewestPlotHandle(PANEL_GRAPH);
    size_t faultAfter = 0; // the request count when the fault went in
    Timetable tt;
    tt.When([this] { return sim->requestCount() >= 3; },
            [this, f, &faultAfter] {
                sim->inject(MakeFault(f, 8));
                faultAfter = sim->requestCount();
                if (Silences(f))
                    JumpWhenAnswerSpoiled(sim, faultAfter + 1, f);
            });
    if (!Silences(f)) {
        tt.When([this, &faultAfter] { return faultAfter > 0 && sim->requestCount() >= faultAfter + 4; },
                [] { UserClick(pHandle, PANEL_BTNStop); });
    }
    tt.SafetyStop(30.0);

    UserClick(pHandle, PANEL_BTNRun);

    ASSERT_FALSE(tt.SafetyFired()) << "RUN did not end";
    const int requests = static_cast<int>(sim->requestCount());
    const int drawings = (NewestPlotHandle(PANEL_GRAPH) - plotsBefore) / kBarsPerDrawing;
    EXPECT_EQ(stop_flag, 1);
    if (Silences(f)) {
        EXPECT_EQ(StatusText(), "Timeout RS232-Line!");
        // However RUN ended, the program is idle again.
        EXPECT_EQ(LoopButtons(), (std::vector<int>{0, 0, 0}));
        // Every answer before the lost one was drawn, and nothing was asked after it.
        EXPECT_EQ(drawings, requests - 1);
        EXPECT_LE(static_cast<size_t>(requests), faultAfter + 1);
        if (f == LineFault::Late) {
            EXPECT_TRUE(WaitUntil([] { return rx_flag == 1; }, 10.0));
        }
        UserCommit(pHandle, PANEL_BTNStop);
    } else {
        EXPECT_EQ(StatusText(), "Line Ok!");
        EXPECT_EQ(LoopButtons(), (std::vector<int>{0, 0, 0}));
        // A frame with another command word is dropped and triggers the next request without a
        // drawing; the answer to the last request may still have been on its way at STOP.
        const int undrawn = f == LineFault::CorruptCommand ? 1 : 0;
        EXPECT_GE(drawings, requests - undrawn - 1);
        EXPECT_LE(drawings, requests - undrawn);
    }
    ExpectWorking();
}

// --- VIDEO ------------------------------------------------------------------------------------

TEST_P(ExchangeFaults, VideoRawAnswer) {
    const LineFault f = GetParam();
    const bool ends = Silences(f) || f == LineFault::CorruptCommand;
    sim->setRawOverride(kRaw);
    const int curvesBefore = NewestPlotHandle(PANEL_VIDEOGRAPH);
    size_t rawBefore = 0;
    Timetable tt;
    // Injected while a block is awaited, so that it can only meet the next pass's raw request.
    tt.When([this] { return parameter.command == 9 && CountCommand(*sim, 8) >= 2; },
            [this, f, ends, &rawBefore] {
                rawBefore = CountCommand(*sim, 8);
                sim->inject(MakeFault(f, 8));
                if (ends) {
                    const kvorsim::Simulator *s = sim;
                    const size_t n = rawBefore;
                    auto seenAt = std::make_shared<double>(-1.0);
                    JumpClock::When([s, n, seenAt] {
                        if (CountCommand(*s, 8) < n + 1) return false;
                        if (*seenAt < 0.0) *seenAt = JumpClock::Real();
                        return JumpClock::Real() - *seenAt >= 0.2;
                    });
                }
            });
    if (!ends) {
        tt.When([this, &rawBefore] { return rawBefore > 0 && CountCommand(*sim, 8) >= rawBefore + 3; },
                [] { UserClick(pHandle, PANEL_BTNStop); });
    }
    tt.SafetyStop(30.0);

    UserClick(pHandle, PANEL_BTNVideo);
    rx_flag = 0; // VIDEO leaves it as the last raw answer set it

    ASSERT_FALSE(tt.SafetyFired()) << "VIDEO did not end";
    const int passes = static_cast<int>(CountCommand(*sim, 8));
    const int drawn = (NewestPlotHandle(PANEL_VIDEOGRAPH) - curvesBefore) / kCurvesPerVideoPass;
    EXPECT_EQ(stop_flag, 1);
    // VIDEO releases all three buttons itself, however it ended.
    EXPECT_EQ(LoopButtons(), (std::vector<int>{0, 0, 0}));
    if (ends) {
        EXPECT_EQ(StatusText(), "Timeout RS232-Line!");
        EXPECT_EQ(passes, static_cast<int>(rawBefore) + 1);
        EXPECT_EQ(drawn, passes - 1);
        if (f == LineFault::Late) {
            EXPECT_TRUE(WaitUntil([] { return rx_flag == 1; }, 10.0));
        }
    } else {
        EXPECT_EQ(StatusText(), "Data[64] block received!");
        EXPECT_EQ(drawn, passes);
    }
    ExpectWorking();
}

TEST_P(ExchangeFaults, VideoBlock) {
    const LineFault f = GetParam();
    sim->setRawOverride(kRaw);
    const int curvesBefore = NewestPlotHandle(PANEL_VIDEOGRAPH);
    size_t blocksBefore = 0, rawAtFault = 0;
    Timetable tt;
    // Injected just before the second pass's raw request goes out, so that it meets that pass's
    // first block. (Looked for on the clock's ticks instead, the moment a raw answer is awaited
    // was found after anything from one to thirty seconds of passes.)
    std::function<void()> beforeWrite;
    beforeWrite = [this, f, &blocksBefore, &rawAtFault, &beforeWrite] {
        if (parameter.command != 8 || CountCommand(*sim, 8) < 1) {
            BeforeComWrite(com, 1, beforeWrite);
            return;
        }
        blocksBefore = CountCommand(*sim, 9);
        rawAtFault = CountCommand(*sim, 8) + 1; // with the one going out
        sim->inject(MakeFault(f, 9));
        if (Silences(f)) {
            const kvorsim::Simulator *s = sim;
            const size_t n = blocksBefore;
            const double settle = f == LineFault::Truncate ? 0.2 : 0.0;
            auto seenAt = std::make_shared<double>(-1.0);
            JumpClock::When([s, n, settle, seenAt] {
                if (CountCommand(*s, 9) < n + 1) return false;
                if (*seenAt < 0.0) *seenAt = JumpClock::Real();
                return JumpClock::Real() - *seenAt >= settle;
            });
        }
    };
    BeforeComWrite(com, 1, beforeWrite);
    // A failed block costs only its pass's picture: two more passes after it.
    tt.When([this, &rawAtFault] { return rawAtFault > 0 && CountCommand(*sim, 8) >= rawAtFault + 2; },
            [] { UserClick(pHandle, PANEL_BTNStop); });
    tt.SafetyStop(30.0);

    UserClick(pHandle, PANEL_BTNVideo);
    BeforeComWrite(com, 1, nullptr);

    ASSERT_FALSE(tt.SafetyFired()) << "VIDEO did not end";
    const int passes = static_cast<int>(CountCommand(*sim, 8));
    const int drawn = (NewestPlotHandle(PANEL_VIDEOGRAPH) - curvesBefore) / kCurvesPerVideoPass;
    EXPECT_EQ(stop_flag, 1);
    EXPECT_EQ(LoopButtons(), (std::vector<int>{0, 0, 0}));
    if (f == LineFault::Late) {
        // The sensor answers in turn: the next pass's raw answer comes only after the late
        // block, usually past its own time-out, which then ends the loop.
        const bool endedByTimeOut = StatusText() == "Timeout RS232-Line!";
        if (!endedByTimeOut) {
            EXPECT_EQ(StatusText(), "Data[64] block received!");
        }
        EXPECT_EQ(drawn, passes - 1 - (endedByTimeOut ? 1 : 0));
    } else {
        EXPECT_EQ(StatusText(), "Data[64] block received!");
        EXPECT_GE(passes, static_cast<int>(rawAtFault) + 2) << "the loop ended at the failed block";
    }
    if (f == LineFault::Late) {
        // Judged above.
    } else if (Silences(f)) {
        // The failed block stops its pass: blocks 1 to 3 of that pass were never asked for.
        EXPECT_EQ(drawn, passes - 1);
        EXPECT_EQ(CountCommand(*sim, 9), static_cast<size_t>(4 * (passes - 1) + 1));
    } else if (f == LineFault::Extend) {
        // More than 128 bytes fail the block, unless the poll ended at exactly 128.
        EXPECT_GE(drawn, passes - 1);
        EXPECT_LE(drawn, passes);
    } else {
        // A block is no frame: a changed first word is just data.
        EXPECT_EQ(drawn, passes);
    }
    // However VIDEO ended: the notification is on and the queue is empty.
    if (f != LineFault::Late) {
        EXPECT_EQ(GetInQLen(com), 0);
        rx_flag = 0;
        sim->sendUnsolicited(SensorFrame(11, 0, {1}));
        EXPECT_TRUE(WaitUntil([] { return rx_flag == 1; }));
    } else {
        ReplugSensor();
        ChoosePortAgain();
    }
    ExpectWorking();
}

// --- teach and reset --------------------------------------------------------------------------

TEST_P(ExchangeFaults, Teach) {
    const LineFault f = GetParam();
    sim->setRawOverride(kRaw); // the sensor takes Mvalue 1000 as the new setpoint
    sim->inject(MakeFault(f, 6));
    if (LeavesUnanswered(f)) JumpWhenAnswerSpoiled(sim, 1, f);
    double cursorX = 0, cursorY = 0;
    GetGraphCursor(pHandle, PANEL_GRAPH, 1, &cursorX, &cursorY);

    UserClick(pHandle, PANEL_ButtonTeach);

    if (LeavesUnanswered(f)) {
        EXPECT_EQ(StatusText(), "Timeout RS232-Line!");
        EXPECT_EQ(Commands(*sim), std::vector<int>{6}) << "no re-read after a teach without answer";
        if (f == LineFault::Late) {
            EXPECT_TRUE(WaitUntil([] { return rx_flag == 1; }, 10.0));
        }
    } else {
        // The teach's own answer (start word aside) is taken; both sets are read back.
        EXPECT_EQ(StatusText(), "Parameter-frame received! - Line Ok!");
        EXPECT_EQ(Commands(*sim), (std::vector<int>{6, 2, 2}));
        EXPECT_EQ(parameter.set0[6], 1000);
    }
    EXPECT_EQ(stop_flag, 1);
    double x = 0, y = 0;
    GetGraphCursor(pHandle, PANEL_GRAPH, 1, &x, &y);
    EXPECT_EQ(x, cursorX) << "cursor 1 moves only for a teach inside a running loop";
    ExpectWorking();
}

TEST_P(ExchangeFaults, ResetOfTheAnalogExtremes) {
    const LineFault f = GetParam();
    sim->inject(MakeFault(f, 11));
    if (LeavesUnanswered(f)) JumpWhenAnswerSpoiled(sim, 1, f);

    UserClick(pHandle, PANEL_ButtonReset);

    EXPECT_EQ(Commands(*sim), std::vector<int>{11});
    if (LeavesUnanswered(f)) {
        EXPECT_EQ(StatusText(), "Timeout-RS-232...");
        if (f == LineFault::Late) {
            EXPECT_TRUE(WaitUntil([] { return rx_flag == 1; }, 10.0));
        }
    } else {
        EXPECT_EQ(StatusText(), "Reset of analog-output Max/Min OK!");
    }
    EXPECT_EQ(stop_flag, 1);
    ExpectWorking();
}

INSTANTIATE_TEST_SUITE_P(EveryFault, ExchangeFaults, kAllFaults, FaultName);

// --- frames nobody asked for ------------------------------------------------------------------

TEST_F(LineTest, UnsolicitedFramesAndNoiseWhileIdle) {
    const int plotsBefore = NewestPlotHandle(PANEL_GRAPH);
    rx_flag = graph_flag = 0;
    sim->sendUnsolicited(SensorFrame(8, 4321, {4322, 4323}));
    ASSERT_TRUE(WaitUntil([] { return rx_flag == 1 && graph_flag == 1; }));
    // Taken in like any frame, but nobody draws while idle.
    EXPECT_EQ(pp[0], 4321);
    EXPECT_EQ(pp[2], 4323);
    EXPECT_EQ(NewestPlotHandle(PANEL_GRAPH), plotsBefore);

    // Noise shorter than a frame waits in the queue; noise longer than one passes for a frame
    // and the rest is dropped.
    rx_flag = 0;
    sim->sendUnsolicited({0x13, 0x37, 0x00, 0x55, 0xFF, 0x00, 0xAA, 0x08, 0x01, 0x02});
    ASSERT_TRUE(WaitUntil([] { return GetInQLen(com) == 10; }));
    EXPECT_EQ(rx_flag, 0);
    std::vector<uint8_t> burst(100);
    std::mt19937 rng(7);
    for (uint8_t &b : burst) b = static_cast<uint8_t>(rng());
    sim->sendUnsolicited(burst);
    ASSERT_TRUE(WaitUntil([] { return rx_flag == 1; }));
    EXPECT_TRUE(WaitUntil([] { return GetInQLen(com) == 0; }));

    ExpectWorking();
}

TEST_F(LineTest, BytesBeyondAFrameNeverCloseThePort) {
    // Frames followed by a few more bytes, again and again: the notification takes the frame and
    // empties the queue, sometimes just before the reader gets to bytes it was woken for. An
    // empty read there is no sign of a vanished device.
    std::mt19937 rng(3);
    for (int i = 0; i < 300; ++i) {
        const std::vector<uint8_t> frame = SensorFrame(11, static_cast<uint16_t>(i), {});
        const std::vector<uint8_t> tail(1 + rng() % 40, 0xEE);
        rx_flag = 0;
        // Two writes on the far side: the tail comes a moment after the frame.
        sim->sendUnsolicited(frame);
        sim->sendUnsolicited(tail);
        ASSERT_TRUE(WaitUntil([] { return rx_flag == 1; })) << "frame " << i;
        ASSERT_GE(GetInQLen(com), 0) << "the port closed after frame " << i;
    }
    // The last tail may still be on its way and would sit in front of the next answer: send a
    // marker frame until one is taken in whole, so that nothing of the noise is left behind it.
    const std::vector<uint16_t> marker = {0x1234, 0x5678, 0x9ABC};
    bool aligned = false;
    for (int tries = 0; tries < 20 && !aligned; ++tries) {
        rx_flag = 0;
        sim->sendUnsolicited(SensorFrame(11, 0, marker));
        ASSERT_TRUE(WaitUntil([] { return rx_flag == 1; })) << "marker " << tries;
        aligned = pp[0] == marker[0] && pp[1] == marker[1] && pp[2] == marker[2];
    }
    ASSERT_TRUE(aligned);
    ExpectWorking();
}

TEST_F(LineTest, UnsolicitedFrameDuringGetIsNotTakenAsTheAnswer) {
    sim->inject(MakeFault(LineFault::Drop, 2));
    Timetable tt;
    tt.When([this] { return sim->requestCount() >= 1; },
            [this] { sim->sendUnsolicited(SensorFrame(11, 0, {11, 12, 13, 14, 15})); });
    const uint16_t p0 = parameter.set0[0], p4 = parameter.set0[4];
    // The GET times out only once the stray frame is in and dropped: a frame still on its way
    // when the next request flushes the queue would be cut in two, and that is another test.
    const unsigned long foreign = ForeignFrames();
    JumpClock::When([foreign] { return ForeignFrames() > foreign; });

    PushGET(RAM, 0);

    // Only a frame of the command GET sent answers it: the stray frame is dropped.
    EXPECT_EQ(ForeignFrames(), foreign + 1);
    EXPECT_EQ(StatusText(), "Timeout-RS-232...");
    EXPECT_EQ(parameter.set0[0], p0);
    EXPECT_EQ(parameter.set0[4], p4);
    ExpectWorking();
}

TEST_F(LineTest, UnsolicitedFramesAndNoiseDuringRun) {
    sim->setRawOverride(kRaw);
    const int plotsBefore = NewestPlotHandle(PANEL_GRAPH);
    std::mt19937 rng(11);
    Timetable tt;
    // The answer to one request is lost and a frame nobody asked for comes in its place.
    size_t lostAt = 0;
    tt.When([this] { return sim->requestCount() >= 5; },
            [this, &lostAt] {
                sim->inject(MakeFault(LineFault::Drop, 8));
                lostAt = sim->requestCount();
            });
    tt.When([this, &lostAt] { return lostAt > 0 && sim->requestCount() >= lostAt + 1; },
            [this] { sim->sendUnsolicited(SensorFrame(8, 4321, {4322, 4323, 0, 0, 1000, 50, 2})); });
    // Frames of other commands and bursts of noise, spread over the loop. (Before the loop's
    // first answer they would end it: the first request is not repeated.)
    for (int i = 0; i < 12; ++i) {
        const size_t at = 12 + 3 * static_cast<size_t>(i);
        std::vector<uint8_t> bytes;
        if (i % 3 == 0) {
            bytes = SensorFrame(2, 0, {1, 2, 3});
        } else {
            bytes.resize(1 + rng() % 80);
            for (uint8_t &b : bytes) b = static_cast<uint8_t>(rng());
        }
        tt.When([this, at] { return sim->requestCount() >= at; }, [this, bytes] { sim->sendUnsolicited(bytes); });
    }
    tt.When([this] { return sim->requestCount() >= 60; }, [] { UserClick(pHandle, PANEL_BTNStop); });
    tt.SafetyStop(30.0);

    UserClick(pHandle, PANEL_BTNRun);

    ASSERT_FALSE(tt.SafetyFired());
    // Noise never starves a request of its answer: the loop ran until STOP.
    EXPECT_EQ(StatusText(), "Line Ok!");
    EXPECT_GE(sim->requestCount(), 60u);
    EXPECT_GT(NewestPlotHandle(PANEL_GRAPH), plotsBefore);
    EXPECT_EQ(LoopButtons(), (std::vector<int>{0, 0, 0}));
    ExpectWorking();
}

TEST_F(LineTest, UnsolicitedFramesDuringVideo) {
    sim->setRawOverride(kRaw);
    Timetable tt;
    size_t rawAt = 0, blockAt = 0;
    // A pass's raw answer is lost: a frame of another command does not end the wait, a raw-data
    // frame that nobody asked for does.
    tt.When([this] { return parameter.command == 9 && CountCommand(*sim, 8) >= 2; },
            [this, &rawAt] {
                sim->inject(MakeFault(LineFault::Drop, 8));
                rawAt = CountCommand(*sim, 8) + 1;
            });
    unsigned long foreign = 0;
    bool strayed = false;
    tt.When([this, &rawAt] { return rawAt > 0 && CountCommand(*sim, 8) >= rawAt; },
            [this, &foreign, &strayed] {
                foreign = ForeignFrames();
                strayed = true;
                sim->sendUnsolicited(SensorFrame(2, 0, {77, 78}));
            });
    tt.When([&rawAt, &foreign, &strayed] { return strayed && ForeignFrames() > foreign && parameter.command == 8; },
            [this] { sim->sendUnsolicited(SensorFrame(8, 4321, {1100, 1000, 0, 0, 1000, 50, 2})); });
    // Later a block is lost, and a frame comes while the notification is off: it is no block.
    tt.When([this, &rawAt] { return rawAt > 0 && parameter.command == 8 && CountCommand(*sim, 8) >= rawAt + 2; },
            [this, &blockAt] {
                sim->inject(MakeFault(LineFault::Drop, 9));
                blockAt = CountCommand(*sim, 9) + 1;
                const kvorsim::Simulator *s = sim;
                const size_t n = blockAt;
                JumpClock::When([s, n] { return CountCommand(*s, 9) >= n && GetInQLen(com) >= 36; });
            });
    tt.When([this, &blockAt] { return blockAt > 0 && CountCommand(*sim, 9) >= blockAt; },
            [this] { sim->sendUnsolicited(SensorFrame(8, 999, {999})); });
    // Stopped while the failed block's pass is still on: the block's time-out text stays.
    tt.When([this, &blockAt] { return blockAt > 0 && CountCommand(*sim, 9) >= blockAt; },
            [] { UserClick(pHandle, PANEL_BTNStop); });
    tt.SafetyStop(30.0);
    const int curvesBefore = NewestPlotHandle(PANEL_VIDEOGRAPH);

    UserClick(pHandle, PANEL_BTNVideo);

    ASSERT_FALSE(tt.SafetyFired());
    EXPECT_EQ(StatusText(), "Timeout-RS-232 while reading 64 data-words!");
    const int passes = static_cast<int>(CountCommand(*sim, 8));
    const int drawn = (NewestPlotHandle(PANEL_VIDEOGRAPH) - curvesBefore) / kCurvesPerVideoPass;
    EXPECT_EQ(drawn, passes - 1) << "only the pass with the failed block went without its picture";
    EXPECT_NE(Ledge, 999) << "a frame during the block reads was taken for a raw answer";
    EXPECT_EQ(LoopButtons(), (std::vector<int>{0, 0, 0}));
    EXPECT_EQ(GetInQLen(com), 0);
    ExpectWorking();
}

TEST_F(LineTest, UnsolicitedFrameAnswersNeitherTeachNorReset) {
    for (int command : {6, 11}) {
        SCOPED_TRACE(command);
        sim->clearRequests();
        sim->inject(MakeFault(LineFault::Drop, command));
        Timetable tt;
        tt.When([this] { return sim->requestCount() >= 1; },
                [this] { sim->sendUnsolicited(SensorFrame(3, 0, {9, 9, 9})); });
        // The time-out comes once the stray frame is in and dropped, never before it arrives.
        const unsigned long foreign = ForeignFrames();
        JumpClock::When([foreign] { return ForeignFrames() > foreign; });
        UserClick(pHandle, command == 6 ? PANEL_ButtonTeach : PANEL_ButtonReset);
        // A frame of another command is no answer: each runs into its own time-out.
        EXPECT_EQ(ForeignFrames(), foreign + 1);
        EXPECT_EQ(Commands(*sim), std::vector<int>{command});
        EXPECT_EQ(StatusText(), command == 6 ? "Timeout RS232-Line!" : "Timeout-RS-232...");
    }
    ExpectWorking();
}

TEST_F(LineTest, TeachWithoutAnswerEndsTheRunItWasGivenIn) {
    sim->setRawOverride(kRaw);
    Timetable tt;
    size_t silentFrom = 0;
    double silentAt = 0.0;
    // From some moment on the sensor answers no more measurement requests. The operator teaches
    // once the loop waits for such an answer: no measurement frame is then on its way that the
    // teach could take for its own answer.
    tt.When([this] { return sim->requestCount() >= 4; },
            [this, &silentFrom, &silentAt] {
                sim->inject(MakeFault(LineFault::Drop, 8, -1));
                silentFrom = sim->requestCount();
                silentAt = JumpClock::Real();
            });
    tt.When(
        [this, &silentFrom, &silentAt] {
            return silentFrom > 0 && (sim->requestCount() > silentFrom || JumpClock::Real() - silentAt > 1.0);
        },
        [this] {
            sim->inject(MakeFault(LineFault::Drop, 6));
            const kvorsim::Simulator *s = sim;
            JumpClock::When([s] { return CountCommand(*s, 6) >= 1; });
            UserClick(pHandle, PANEL_ButtonTeach);
        });
    tt.SafetyStop(30.0);

    UserClick(pHandle, PANEL_BTNRun);

    ASSERT_FALSE(tt.SafetyFired());
    EXPECT_EQ(CountCommand(*sim, 6), 1u);
    EXPECT_EQ(StatusText(), "Timeout RS232-Line!");
    EXPECT_EQ(stop_flag, 1);
    EXPECT_EQ(CountCommand(*sim, 2), 0u) << "no re-read after a teach without answer";
    EXPECT_EQ(LoopButtons(), (std::vector<int>{0, 0, 0}));
    sim->clearFaults();
    ExpectWorking();
}

TEST_F(LineTest, LateAnswerComesInWhileIdleAndHarmsNothing) {
    sim->inject(MakeFault(LineFault::Late, 11));
    JumpClock::AfterRequests(sim, 1);
    UserClick(pHandle, PANEL_ButtonReset);
    ASSERT_EQ(StatusText(), "Timeout-RS-232...");
    rx_flag = 0;
    ASSERT_TRUE(WaitUntil([] { return rx_flag == 1; }, 10.0));
    EXPECT_EQ(StatusText(), "Timeout-RS-232...") << "a time-out text stays until the next text";
    ExpectWorking();
}

// --- the port goes away -----------------------------------------------------------------------

TEST_F(LineTest, PortGoneDuringRunThenBack) {
    sim->setRawOverride(kRaw);
    Timetable tt;
    tt.When([this] { return sim->requestCount() >= 5; },
            [this] {
                sim->disconnectAfter(0);
                JumpClock::When([this] { return !sim->connected(); });
            });
    tt.SafetyStop(30.0);

    UserClick(pHandle, PANEL_BTNRun);

    ASSERT_FALSE(tt.SafetyFired());
    EXPECT_FALSE(sim->connected());
    EXPECT_EQ(StatusText(), "Timeout RS232-Line!");
    EXPECT_EQ(stop_flag, 1);
    EXPECT_EQ(LoopButtons(), (std::vector<int>{0, 0, 0}));
    EXPECT_TRUE(WaitUntil([] { return GetInQLen(com) < 0; })) << "the port that went away stays open";

    // Every command reports its own time-out meanwhile.
    JumpClock::Hopeless(true);
    PushGET(RAM, 0);
    JumpClock::Hopeless(false);
    EXPECT_EQ(StatusText(), "Timeout-RS-232...");

    // Chosen again while the sensor is still away: its device is gone.
    ChoosePortAgain();
    EXPECT_EQ(StatusText(), "No serial port found");

    ReplugSensor();
    ChoosePortAgain();
    ExpectCleanStartUp();
    ExpectWorking();
}

TEST_F(LineTest, PortGoneDuringVideoThenBack) {
    sim->setRawOverride(kRaw);
    Timetable tt;
    tt.When([this] { return parameter.command == 9 && CountCommand(*sim, 8) >= 2; },
            [this] {
                sim->disconnectAfter(0);
                JumpClock::When([this] { return !sim->connected(); });
            });
    tt.SafetyStop(30.0);

    UserClick(pHandle, PANEL_BTNVideo);

    ASSERT_FALSE(tt.SafetyFired());
    // The pass whose blocks were cut off draws nothing; the next pass finds no answer.
    EXPECT_EQ(StatusText(), "Timeout RS232-Line!");
    EXPECT_EQ(stop_flag, 1);
    EXPECT_EQ(LoopButtons(), (std::vector<int>{0, 0, 0}));
    EXPECT_TRUE(WaitUntil([] { return GetInQLen(com) < 0; }));

    ReplugSensor();
    ChoosePortAgain();
    ExpectCleanStartUp();

    // VIDEO works again on the new line.
    sim->clearRequests();
    const int curvesBefore = NewestPlotHandle(PANEL_VIDEOGRAPH);
    Timetable again;
    again.When([this] { return CountCommand(*sim, 8) >= 3; }, [] { UserClick(pHandle, PANEL_BTNStop); });
    again.SafetyStop(30.0);
    UserClick(pHandle, PANEL_BTNVideo);
    ASSERT_FALSE(again.SafetyFired());
    EXPECT_EQ(NewestPlotHandle(PANEL_VIDEOGRAPH) - curvesBefore,
              kCurvesPerVideoPass * static_cast<int>(CountCommand(*sim, 8)));
}

TEST_F(LineTest, PortGoneWhileIdleEveryCommandReportsItsTimeOut) {
    sim->disconnectAfter(0);
    ASSERT_TRUE(WaitUntil([this] { return !sim->connected(); }));
    ASSERT_TRUE(WaitUntil([] { return GetInQLen(com) < 0; })) << "the port stays open on a vanished device";

    struct Step {
        const char *what;
        int button;
        const char *status;
    };
    const Step steps[] = {
        {"GET", PANEL_BTNGet, "Timeout-RS-232..."},
        {"teach", PANEL_ButtonTeach, "Timeout RS232-Line!"},
        {"reset", PANEL_ButtonReset, "Timeout-RS-232..."},
        {"RUN", PANEL_BTNRun, "Timeout RS232-Line!"},
        {"VIDEO", PANEL_BTNVideo, "Timeout RS232-Line!"},
        {"SEND", PANEL_BTNSend, "Error writing parameter sets 0 and 1!"},
    };
    JumpClock::Hopeless(true);
    for (const Step &s : steps) {
        SCOPED_TRACE(s.what);
        UserCommit(pHandle, PANEL_BTNStop); // releases what RUN left dimmed
        ASSERT_EQ(UserClick(pHandle, s.button), 0);
        EXPECT_EQ(StatusText(), s.status);
        EXPECT_EQ(stop_flag, 1);
    }
    JumpClock::Hopeless(false);
    UserCommit(pHandle, PANEL_BTNStop);

    ReplugSensor();
    ChoosePortAgain();
    ExpectCleanStartUp();
    ExpectWorking();
}

TEST_F(LineTest, PortGoneDuringSendSaysWhatWasNotWritten) {
    struct Case {
        const char *what;
        int goneBeforeWrite; // the line goes just before this write (1: set 0, 2: set 1)
        size_t setsReceived;
        const char *status;
    };
    const Case cases[] = {
        {"gone before set 0", 1, 0, "Error writing parameter sets 0 and 1!"},
        {"gone between the sets", 2, 1, "Error writing parameter set 1!"},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(c.what);
        sim->clearRequests();
        uint16_t ram1[15];
        sim->ramSet(1, ram1);
        SetCtrlVal(pPara2, PARA2_P00, 444u);
        target = RAM;
        BeforeComWrite(com, c.goneBeforeWrite, [this] { sim->disconnectAfter(0); });

        ASSERT_EQ(UserClick(pHandle, PANEL_BTNSend), 0);

        // Neither "Line Ok!" of the set that went out nor "Transmit..." stands for a SEND that
        // left the sensor without a set; nothing is read back from a line that is gone.
        EXPECT_EQ(StatusText(), c.status);
        EXPECT_EQ(sim->requestCount(), c.setsReceived);
        for (const kvorsim::Request &r : sim->requests()) EXPECT_EQ(r.command, CMD_WRITE_RAM);
        uint16_t after1[15];
        sim->ramSet(1, after1);
        EXPECT_EQ(std::vector<uint16_t>(after1, after1 + 15), std::vector<uint16_t>(ram1, ram1 + 15));

        ReplugSensor();
        ChoosePortAgain();
        ExpectCleanStartUp();
    }
}

// --- a port that cannot be opened -------------------------------------------------------------

TEST_F(LineTest, PortThatCannotBeOpenedThenTheRightOne) {
    struct Case {
        const char *what;
        std::string device;
        const char *status;
    };
    std::string dir = ::testing::TempDir();
    // A device that is not there; one that is there but in use by another program.
    const Case cases[] = {
        {"missing", dir + "/kvor-no-such-port", "No serial port found"},
        {"in use", sim->slavePath(), "Cannot open port"},
    };
    // Port 3 stands for the other program that holds the device (its lock file keeps us out).
    constexpr int kOther = 3;
    SetComPortDevice(kOther, sim->slavePath());
    for (const Case &c : cases) {
        SCOPED_TRACE(c.what);
        if (std::string(c.what) == "in use") {
            ASSERT_EQ(OpenComConfig(kOther, "", 19200, 0, 8, 1, 4096, 4096), 0) << "cannot hold the device";
        }
        SetComPortDevice(2, c.device);
        sim->clearRequests();
        ASSERT_EQ(UserSetValue(pHandle, PANEL_DropDCom, 2), 0);
        EXPECT_EQ(com, 2);
        EXPECT_EQ(StatusText(), c.status);
        EXPECT_EQ(sim->requestCount(), 0u) << "nothing of the start-up may run without a port";

        // The program runs on without a link; every command reports its own time-out.
        JumpClock::Hopeless(true);
        UserClick(pHandle, PANEL_BTNRun);
        EXPECT_EQ(StatusText(), "Timeout RS232-Line!");
        UserCommit(pHandle, PANEL_BTNStop);
        PushGET(RAM, 0);
        EXPECT_EQ(StatusText(), "Timeout-RS-232...");
        JumpClock::Hopeless(false);
        CloseCom(kOther);
    }
    SetComPortDevice(2, "");
    SetComPortDevice(kOther, "");

    ChoosePortAgain();
    EXPECT_EQ(com, 1);
    ExpectCleanStartUp();
    ExpectWorking();
}
