// GET, RUN and VIDEO against the simulated sensor on a pseudo-terminal.
#include <gtest/gtest.h>

#include "state.h"

#include <algorithm>
#include <vector>

#include "K-VOR-RNZazorU30.h"
#include "com232.h"
#include "fixtures.h"
#include "testhooks.h"
#include "loop_helpers.h"
#include "measure.h"
#include "rs232.h"
#include "userint.h"

namespace {

// A raw-data answer as the sensor sends it: Ledge, Redge, Mvalue, umValue low and high,
// setpoint, tol, edcnt, mvstart, mvend, dynpow, anaMax, anaMin, in0, raw14, raw15.
const uint16_t kRaw[16] = {900, 1100, 1000, 51234, 0, 1000, 50, 2, 0, 0, 0, 1700, 300, 0, 0, 0};

int Dimmed(int control) {
    int dimmed = -1;
    GetCtrlAttribute(pHandle, control, ATTR_DIMMED, &dimmed);
    return dimmed;
}

// How many of the 100 history samples show this measured value.
int SamplesWithMvalue(double value) {
    int n = 0;
    for (int k = 0; k < 100; ++k)
        n += (arrayNORM[6 * k + 3] == value) ? 1 : 0;
    return n;
}

// True when the receive notification takes in a frame sent now.
bool NotificationInstalled(kvorsim::Simulator &sim) {
    const uint16_t values[15] = {0};
    rx_flag = 0;
    // While no answer is awaited, the notification takes in any frame.
    sim.sendUnsolicited(SensorFrame(5, 0, values));
    return WaitUntil([] { return rx_flag == 1; }, 5.0);
}

class CommandTest : public SensorTest {
  protected:
    void SetUp() override {
        SensorTest::SetUp();
        if (HasFatalFailure()) return;
        Connect();
        std::fill(std::begin(arrayNORM), std::end(arrayNORM), 0.0);
    }
    Schedule schedule;
};

} // namespace

// --- GET ------------------------------------------------------------------------------------

TEST_F(CommandTest, GetSendsTheRequestedSetAndStoresTheAnswer) {
    const uint16_t eeprom1[15] = {1, 2, 3, 4, 5, 6, 7, 8, 9, 10, 11, 24576, 0, 0xFFFF, 0xFFFF};
    sim->setEepromSet(1, eeprom1);
    parameter.set1[0] = 4242;
    const std::vector<uint16_t> sent1 = PacketOf(1);

    PushGET(EEPROM, 1);

    std::vector<kvorsim::Request> log = sim->requests();
    ASSERT_EQ(log.size(), 1u);
    EXPECT_EQ(log[0].start, 0x0055);
    EXPECT_EQ(log[0].command, 4);
    EXPECT_EQ(log[0].argument, 1);
    EXPECT_EQ(std::vector<uint16_t>(log[0].values, log[0].values + 15), sent1);
    EXPECT_EQ(parameter.command, 4);
    EXPECT_EQ(parameter.set1[0], 1);
    EXPECT_EQ(parameter.set1[10], 11);
    EXPECT_EQ(parameter.scale, 24576u);
    EXPECT_EQ(parameter.offset, -1);
    EXPECT_EQ(StatusText(), "Parameter-frame received! - Line Ok!");
    float scale = 0;
    GetCtrlVal(pCalib, CALIB_Scale, &scale); // set 1 refreshes the panels
    EXPECT_FLOAT_EQ(scale, 1.5f);

    sim->clearRequests();
    uint16_t ram0[15];
    sim->ramSet(0, ram0);
    parameter.set0[0] = 777;
    const std::vector<uint16_t> sent0 = PacketOf(0);
    unsigned short setpointShown = 0;
    SetCtrlVal(pPara2, PARA2_Setpoint, 4321u);

    PushGET(RAM, 0);

    log = sim->requests();
    ASSERT_EQ(log.size(), 1u);
    EXPECT_EQ(log[0].command, 2);
    EXPECT_EQ(log[0].argument, 0);
    EXPECT_EQ(std::vector<uint16_t>(log[0].values, log[0].values + 15), sent0);
    EXPECT_TRUE(std::equal(ram0, ram0 + 15, parameter.set0));
    GetCtrlVal(pPara2, PARA2_Setpoint, &setpointShown); // set 0 alone leaves the panels
    EXPECT_EQ(setpointShown, 4321);
}

TEST_F(CommandTest, GetFromFileTargetSendsNothing) {
    CopyText(szStatus, "what the status held");
    parameter.set0[6] = 777;
    PushGET(DATFILE, 1);
    EXPECT_EQ(StatusText(), "what the status held");
    unsigned short setpoint = 0;
    GetCtrlVal(pPara2, PARA2_Setpoint, &setpoint);
    EXPECT_EQ(setpoint, 777);
    EXPECT_FALSE(WaitUntil([&] { return sim->requestCount() > 0; }, 0.3));

    // A target that is none of the three is not a reason to send whatever command is pending.
    parameter.command = 1;
    PushGET(0, 0);
    EXPECT_FALSE(WaitUntil([&] { return sim->requestCount() > 0; }, 0.3));
}

TEST_F(CommandTest, GetTakesOnlyTheAnswerOfItsOwnCommand) {
    // A frame of another command is never stored as the set: GET waits on, and here runs into
    // its time-out with the set as it was.
    const uint16_t values[15] = {11, 12, 13, 14, 15, 16, 17, 18, 19, 20, 21, 22, 23, 24, 25};
    kvorsim::Fault f;
    f.kind = kvorsim::Fault::Replace;
    f.command = 2;
    f.data = SensorFrame(9, 1, values);
    sim->inject(f);
    const std::vector<uint16_t> before = PacketOf(0);

    PushGET(RAM, 0);

    EXPECT_EQ(PacketOf(0), before);
    EXPECT_NE(pp[0], 11);
    EXPECT_EQ(StatusText(), "Timeout-RS-232...");
}

TEST_F(CommandTest, GetTimeOutKeepsTheVariables) {
    // (When the wait times out: TimeOutRule in the link tests.)
    kvorsim::Fault drop;
    drop.kind = kvorsim::Fault::Drop;
    drop.command = 2;
    sim->inject(drop);
    FakeClock::now = 1000.0;
    FakeClock::install();
    schedule.after(0.05, [] { FakeClock::now += 2.0; });
    parameter.set0[6] = 1234;
    SetCtrlVal(pPara2, PARA2_Setpoint, 4321u);
    PushGET(RAM, 0);
    EXPECT_EQ(StatusText(), "Timeout-RS-232...");
    EXPECT_EQ(parameter.set0[6], 1234);

    // After a time-out set 1 still refreshes the panels, from the record as it stands.
    sim->inject(drop);
    schedule.after(0.05, [] { FakeClock::now += 2.0; });
    PushGET(RAM, 1);
    unsigned short setpoint = 0;
    GetCtrlVal(pPara2, PARA2_Setpoint, &setpoint);
    EXPECT_EQ(setpoint, 1234);
}

// --- RUN ------------------------------------------------------------------------------------

TEST_F(CommandTest, RunRequestsRawDataWithSetZeroAndDrawsEveryAnswer) {
    sim->setRawOverride(kRaw);
    parameter.set0[0] = 321;
    parameter.set0[3] = 1; // evaluation mode: one window bar
    schedule.when([&] { return sim->requestCount() >= 6; }, [] { stop_flag = 1; });
    schedule.safetyStop(20.0);

    PushRUN();

    EXPECT_FALSE(schedule.safetyFired());
    // The setpoint of set 0 is the sensor's from the first answer on; the rest is the program's.
    const std::vector<uint16_t> set0 = PacketOf(0);
    EXPECT_EQ(set0[6], 1000);
    EXPECT_EQ(set0[0], 321);
    std::vector<kvorsim::Request> log = sim->requests();
    ASSERT_GE(log.size(), 6u);
    EXPECT_EQ(log[0].command, 8);
    EXPECT_EQ(log[0].argument, 0);
    for (size_t i = 1; i < log.size(); ++i) {
        EXPECT_EQ(log[i].start, 0x0055) << i;
        EXPECT_EQ(log[i].command, 8) << i;
        EXPECT_EQ(log[i].argument, 0) << i;
        EXPECT_EQ(std::vector<uint16_t>(log[i].values, log[i].values + 15), set0) << i;
    }

    // Drawn: indicators, bar graph, strip chart.
    unsigned short ledge = 0;
    GetCtrlVal(pHandle, PANEL_LEDGE, &ledge);
    EXPECT_EQ(ledge, 900);
    double mm = 0;
    GetCtrlVal(pHandle, PANEL_MVALUE, &mm);
    EXPECT_DOUBLE_EQ(mm, 51.234);
    EXPECT_GE(SamplesWithMvalue(1000), 5);
    EXPECT_EQ(arrayNORM[597], 1000);
    EXPECT_EQ(GetGraphItems(pHandle, PANEL_GRAPH).size(), 2u);

    // RUN shows the strip chart, measures RAM, and leaves only RUN released.
    int visible = -1;
    GetCtrlAttribute(pHandle, PANEL_STRIPCHART, ATTR_VISIBLE, &visible);
    EXPECT_EQ(visible, 1);
    GetCtrlAttribute(pHandle, PANEL_VIDEOGRAPH, ATTR_VISIBLE, &visible);
    EXPECT_EQ(visible, 0);
    EXPECT_EQ(target, RAM);
    EXPECT_EQ(Dimmed(PANEL_CMDBTN13), 0);
    EXPECT_EQ(Dimmed(PANEL_CMDBTN11), 0);
    EXPECT_EQ(rx_flag, 0);
    EXPECT_EQ(graph_flag, 0);
}

TEST_F(CommandTest, RunContinuesHistoryFromThePreviousRun) {
    sim->setRawOverride(kRaw);
    arrayNORM[597] = 4444; // the newest sample of an earlier run
    schedule.when([&] { return sim->requestCount() >= 3; }, [] { stop_flag = 1; });
    schedule.safetyStop(20.0);
    PushRUN();
    const int drawn = SamplesWithMvalue(1000);
    ASSERT_GE(drawn, 2);
    EXPECT_EQ(arrayNORM[597 - 6 * drawn], 4444);
}

TEST_F(CommandTest, RunAnswerWithAnotherCommandTriggersTheNextRequestButDrawsNothing) {
    // At the line's pace, so that the whole run stays well inside the 100 samples of the history
    // that the drawings are counted in, however busy the machine is.
    sim->setPacing(true);
    sim->setRawOverride(kRaw);
    // Mvalue would read 777 if the frame were drawn.
    const uint16_t other[15] = {777, 777, 777, 777, 777, 777, 777, 777, 777, 777, 777, 777, 777};
    size_t injectedAt = 0;
    schedule.when([&] { return sim->requestCount() >= 2; },
                  [&] {
                      kvorsim::Fault f;
                      f.kind = kvorsim::Fault::Replace;
                      f.command = 8;
                      f.count = 1;
                      f.data = SensorFrame(2, 0, other);
                      sim->inject(f);
                      injectedAt = sim->requestCount();
                  });
    schedule.when([&] { return injectedAt > 0 && sim->requestCount() >= injectedAt + 4; },
                  [] { stop_flag = 1; });
    schedule.safetyStop(20.0);

    PushRUN();

    EXPECT_FALSE(schedule.safetyFired());
    EXPECT_NE(StatusText(), "Timeout RS232-Line!");
    EXPECT_EQ(SamplesWithMvalue(777), 0);
    unsigned short shown = 0;
    GetCtrlVal(pHandle, PANEL_MVALUEPIX, &shown);
    EXPECT_EQ(shown, 1000);
    // Every answer but the last was followed by a request, and every raw-data answer was drawn:
    // requests = 1 (first) + drawn answers + 1 (the replaced answer).
    const int drawn = SamplesWithMvalue(1000);
    EXPECT_TRUE(WaitUntil([&] { return sim->requestCount() == static_cast<size_t>(drawn) + 2; }, 2.0))
        << "requests " << sim->requestCount() << ", drawn " << drawn;
}

TEST_F(CommandTest, RunWithoutFirstAnswerTimesOutAndDrawsNothing) {
    kvorsim::Fault drop;
    drop.kind = kvorsim::Fault::Drop;
    drop.command = 8;
    sim->inject(drop);
    SetCtrlVal(pHandle, PANEL_LEDGE, 5u);
    const size_t itemsBefore = GetGraphItems(pHandle, PANEL_GRAPH).size();

    PushRUN();

    EXPECT_EQ(StatusText(), "Timeout RS232-Line!");
    EXPECT_EQ(stop_flag, 1);
    EXPECT_EQ(Commands(*sim), std::vector<int>{8});
    EXPECT_TRUE(std::all_of(std::begin(arrayNORM), std::end(arrayNORM), [](double v) { return v == 0; }));
    unsigned short ledge = 0;
    GetCtrlVal(pHandle, PANEL_LEDGE, &ledge);
    EXPECT_EQ(ledge, 5);
    EXPECT_EQ(GetGraphItems(pHandle, PANEL_GRAPH).size(), itemsBefore);
    // However RUN ended, the buttons are those of an idle program.
    EXPECT_EQ(Dimmed(PANEL_CMDBTN13), 0);
    EXPECT_EQ(Dimmed(PANEL_CMDBTN11), 0);
    EXPECT_EQ(Dimmed(PANEL_CMDBTN3), 0);
}

TEST_F(CommandTest, RunTimesOutWhenTheSensorFallsSilent) {
    sim->setRawOverride(kRaw);
    schedule.when([&] { return sim->requestCount() >= 3; },
                  [&] {
                      kvorsim::Fault drop;
                      drop.kind = kvorsim::Fault::Drop;
                      drop.command = 8;
                      drop.count = 1000;
                      sim->inject(drop);
                  });
    schedule.safetyStop(20.0);
    PushRUN();
    EXPECT_FALSE(schedule.safetyFired());
    EXPECT_EQ(StatusText(), "Timeout RS232-Line!");
    EXPECT_EQ(stop_flag, 1);
    EXPECT_EQ(Dimmed(PANEL_CMDBTN11), 0);
}

// --- VIDEO ----------------------------------------------------------------------------------

namespace {

class VideoTest : public CommandTest {
  protected:
    void SetUp() override {
        CommandTest::SetUp();
        if (HasFatalFailure()) return;
        for (int i = 0; i < 256; ++i)
            line[i] = static_cast<uint16_t>(3 * i + 1);
        sim->setVideoOverride(line);
        sim->setRawOverride(kRaw);
        for (int i = 0; i < 256; ++i)
            thdArray[i] = 400;
        DeleteGraphPlot(pHandle, PANEL_VIDEOGRAPH, -1, VAL_IMMEDIATE_DRAW);
    }

    // After any VIDEO: all three released, notification on, nothing left in the input queue.
    void ExpectLinkRestored() {
        EXPECT_EQ(Dimmed(PANEL_CMDBTN13), 0);
        EXPECT_EQ(Dimmed(PANEL_CMDBTN11), 0);
        EXPECT_EQ(Dimmed(PANEL_CMDBTN3), 0);
        EXPECT_EQ(GetInQLen(com), 0);
        EXPECT_TRUE(NotificationInstalled(*sim));
    }

    uint16_t line[256];
};

} // namespace

TEST_F(VideoTest, EachPassReadsRawDataAndFourBlocksThenDraws) {
    schedule.when([&] { return sim->requestCount() >= 10; }, [] { stop_flag = 1; });
    schedule.safetyStop(20.0);

    PushVIDEO();

    EXPECT_FALSE(schedule.safetyFired());
    std::vector<kvorsim::Request> log = sim->requests();
    ASSERT_GE(log.size(), 10u);
    ASSERT_EQ(log.size() % 5, 0u);
    for (size_t i = 0; i < log.size(); ++i) {
        if (i % 5 == 0) {
            EXPECT_EQ(log[i].command, 8) << i;
        } else {
            EXPECT_EQ(log[i].command, 9) << i;
            EXPECT_EQ(log[i].argument, 64 * (i % 5 - 1)) << i;
            EXPECT_EQ(log[i].values[0], 0) << i; // the video line, not the thresholds
        }
    }
    EXPECT_TRUE(std::equal(line, line + 256, adcbuf));

    std::vector<GraphItem> items = GetGraphItems(pHandle, PANEL_VIDEOGRAPH);
    ASSERT_EQ(items.size(), 2u);
    EXPECT_EQ(items[0].color, VAL_RED);
    ASSERT_EQ(items[0].y.size(), 256u);
    EXPECT_EQ(items[0].y[100], 301);
    EXPECT_EQ(items[1].color, VAL_DK_GREEN);
    ASSERT_EQ(items[1].y.size(), 256u);
    EXPECT_EQ(items[1].y[100], 400);
    int mode = -1;
    double lo = 0, hi = 0;
    GetAxisScalingMode(pHandle, PANEL_VIDEOGRAPH, VAL_XAXIS, &mode, &lo, &hi);
    EXPECT_EQ(lo, 1.0);
    EXPECT_EQ(hi, static_cast<double>(ccdvirtpixel));
    unsigned short ledge = 0;
    GetCtrlVal(pHandle, PANEL_LEDGE, &ledge); // the bar graph too
    EXPECT_EQ(ledge, 900);

    // VIDEO shows the video graph and adds nothing to the RUN history.
    int visible = -1;
    GetCtrlAttribute(pHandle, PANEL_VIDEOGRAPH, ATTR_VISIBLE, &visible);
    EXPECT_EQ(visible, 1);
    GetCtrlAttribute(pHandle, PANEL_STRIPCHART, ATTR_VISIBLE, &visible);
    EXPECT_EQ(visible, 0);
    EXPECT_TRUE(std::all_of(std::begin(arrayNORM), std::end(arrayNORM), [](double v) { return v == 0; }));
    ExpectLinkRestored();
}

TEST_F(VideoTest, FailedBlockSkipsOnlyThatPassesDrawing) {
    kvorsim::Fault drop;
    drop.kind = kvorsim::Fault::Drop;
    drop.command = 9;
    sim->inject(drop);
    SetCtrlVal(pHandle, PANEL_LEDGE, 5u);

    // The second pass's raw answer comes late, so there is time to look at what the first pass
    // left behind once the second has begun: nothing drawn.
    schedule.when([&] { return CountCommand(*sim, 9) >= 1; },
                  [&] {
                      kvorsim::Fault slow;
                      slow.kind = kvorsim::Fault::Delay;
                      slow.command = 8;
                      slow.seconds = 0.5;
                      sim->inject(slow);
                  });
    size_t itemsAfterFailedPass = 99;
    unsigned short ledgeAfterFailedPass = 0;
    schedule.when([&] { return CountCommand(*sim, 8) >= 2; },
                  [&] {
                      itemsAfterFailedPass = GetGraphItems(pHandle, PANEL_VIDEOGRAPH).size();
                      GetCtrlVal(pHandle, PANEL_LEDGE, &ledgeAfterFailedPass);
                  });
    schedule.when([&] { return sim->requestCount() >= 7; }, [] { stop_flag = 1; });
    schedule.safetyStop(20.0);

    PushVIDEO();

    EXPECT_FALSE(schedule.safetyFired());
    // The failed pass asked for one block only; the next pass for all four.
    std::vector<int> commands = Commands(*sim);
    ASSERT_GE(commands.size(), 7u);
    EXPECT_EQ(std::vector<int>(commands.begin(), commands.begin() + 7),
              (std::vector<int>{8, 9, 8, 9, 9, 9, 9}));
    EXPECT_EQ(itemsAfterFailedPass, 0u);
    EXPECT_EQ(ledgeAfterFailedPass, 5);
    EXPECT_EQ(GetGraphItems(pHandle, PANEL_VIDEOGRAPH).size(), 2u);
    unsigned short ledge = 0;
    GetCtrlVal(pHandle, PANEL_LEDGE, &ledge);
    EXPECT_EQ(ledge, 900);
    ExpectLinkRestored();
}

TEST_F(VideoTest, EndsOnAMissingRawAnswerWithTheLinkRestored) {
    schedule.when([&] { return sim->requestCount() >= 5; },
                  [&] {
                      kvorsim::Fault drop;
                      drop.kind = kvorsim::Fault::Drop;
                      drop.command = 8;
                      drop.count = 1000;
                      sim->inject(drop);
                  });
    schedule.safetyStop(20.0);

    PushVIDEO();

    EXPECT_FALSE(schedule.safetyFired());
    EXPECT_EQ(StatusText(), "Timeout RS232-Line!");
    EXPECT_EQ(stop_flag, 1);
    ExpectLinkRestored();
}

TEST_F(VideoTest, EndsWithTheLinkRestoredWhenStoppedDuringABlock) {
    // The stop comes while the notification is off for the block reads.
    kvorsim::Fault slow;
    slow.kind = kvorsim::Fault::Delay;
    slow.command = 9;
    slow.seconds = 0.3;
    slow.count = 1000;
    sim->inject(slow);
    schedule.when([&] { return CountCommand(*sim, 9) >= 1; }, [] { stop_flag = 1; });
    schedule.safetyStop(20.0);

    PushVIDEO();

    EXPECT_FALSE(schedule.safetyFired());
    EXPECT_EQ(Commands(*sim), (std::vector<int>{8, 9, 9, 9, 9}));
    ExpectLinkRestored();
}

TEST_F(VideoTest, ALineThatCameOnlyInPartLeavesTheLastWholeLineToRedraw) {
    // A first VIDEO draws whole lines of 'line'.
    schedule.when([&] { return sim->requestCount() >= 5; }, [] { stop_flag = 1; });
    schedule.safetyStop(20.0);
    PushVIDEO();
    ASSERT_FALSE(schedule.safetyFired());
    ASSERT_TRUE(std::equal(line, line + 256, adcbuf));

    // The second VIDEO gets the first block of another line; then the sensor falls silent. Its
    // first block comes late, so the silence begins before the second block is asked for.
    uint16_t other[256];
    for (int i = 0; i < 256; ++i)
        other[i] = 1000;
    sim->setVideoOverride(other);
    kvorsim::Fault slow;
    slow.kind = kvorsim::Fault::Delay;
    slow.command = 9;
    slow.seconds = 0.3;
    sim->inject(slow);
    const size_t blocksBefore = CountCommand(*sim, 9);
    Schedule second;
    second.when([&] { return CountCommand(*sim, 9) > blocksBefore; },
                [&] {
                    for (int command : {8, 9}) {
                        kvorsim::Fault silent;
                        silent.kind = kvorsim::Fault::Drop;
                        silent.command = command;
                        silent.count = 1000;
                        sim->inject(silent);
                    }
                });
    second.safetyStop(20.0);
    PushVIDEO();
    ASSERT_FALSE(second.safetyFired());
    EXPECT_EQ(stop_flag, 1);
    EXPECT_EQ(CountCommand(*sim, 9), blocksBefore + 2);

    // Moving the threshold slide draws the curve again from what the program holds: the last
    // line seen whole, never its first block joined to the line before.
    PlotVIDEOCurve(adcbuf, thdArray, xArray8);
    std::vector<GraphItem> items = GetGraphItems(pHandle, PANEL_VIDEOGRAPH);
    ASSERT_EQ(items.size(), 2u);
    ASSERT_EQ(items[0].y.size(), 256u);
    for (int i = 0; i < 256; ++i)
        ASSERT_EQ(items[0].y[i], line[i]) << "sample " << i;
    ExpectLinkRestored();
}

TEST_F(VideoTest, EveryPassScalesTheAxisToTheLineItDraws) {
    // A line length the program does not know: the hardware answer puts the sensor's 3000 on the
    // axis, but the curve is drawn over 1024 positions, and each pass puts the axis right.
    kvorsim::HardwareInfo hw = sim->hardware();
    hw.ccdvirtpixel = 3000;
    sim->setHardware(hw);
    ASSERT_EQ(GetHARDWAREInfo(), 1);
    ASSERT_EQ(ccdvirtpixel, 1024);
    sim->clearRequests();
    schedule.when([&] { return sim->requestCount() >= 10; }, [] { stop_flag = 1; });
    schedule.safetyStop(20.0);

    PushVIDEO();

    EXPECT_FALSE(schedule.safetyFired());
    int mode = -1;
    double lo = 0, hi = 0;
    GetAxisScalingMode(pHandle, PANEL_VIDEOGRAPH, VAL_XAXIS, &mode, &lo, &hi);
    EXPECT_EQ(mode, VAL_MANUAL);
    EXPECT_EQ(lo, 1.0);
    EXPECT_EQ(hi, 1024.0);
    std::vector<GraphItem> items = GetGraphItems(pHandle, PANEL_VIDEOGRAPH);
    ASSERT_EQ(items.size(), 2u);
    ASSERT_EQ(items[0].x.size(), 256u);
    EXPECT_EQ(items[0].x[255], 1020.0);
}

TEST_F(CommandTest, StopEndsTheLoopAndReleasesTheButtons) {
    // The operator's STOP: its left click ends the loop, its commit releases the three buttons
    // at once, while the loop is still finishing its pass.
    sim->setRawOverride(kRaw);
    int stopAfterClick = -1;
    std::vector<int> releasedByClick;
    size_t atStop = 0;
    schedule.when([&] { return sim->requestCount() >= 3; },
                  [&] {
                      UserClick(pHandle, PANEL_BTNStop);
                      stopAfterClick = stop_flag;
                      releasedByClick = {Dimmed(PANEL_CMDBTN13), Dimmed(PANEL_CMDBTN11), Dimmed(PANEL_CMDBTN3)};
                      atStop = sim->requestCount();
                  });
    schedule.safetyStop(20.0);

    UserClick(pHandle, PANEL_BTNRun);

    EXPECT_FALSE(schedule.safetyFired());
    EXPECT_EQ(stopAfterClick, 1);
    EXPECT_EQ(releasedByClick, (std::vector<int>{0, 0, 0}));
    EXPECT_EQ(stop_flag, 1);
    EXPECT_EQ(Dimmed(PANEL_CMDBTN13), 0);
    EXPECT_EQ(Dimmed(PANEL_CMDBTN11), 0);
    EXPECT_EQ(Dimmed(PANEL_CMDBTN3), 0);
    EXPECT_FALSE(WaitUntil([&] { return sim->requestCount() > atStop + 1; }, 0.3));

    // PushSTOP does the same in one call: it ends a VIDEO loop too.
    schedule.when([&] { return CountCommand(*sim, 9) >= 2; }, [] { PushSTOP(); });
    schedule.safetyStop(20.0);
    PushVIDEO();
    EXPECT_FALSE(schedule.safetyFired());
    EXPECT_EQ(stop_flag, 1);
    EXPECT_EQ(Dimmed(PANEL_CMDBTN13), 0);
    EXPECT_EQ(Dimmed(PANEL_CMDBTN11), 0);
    EXPECT_EQ(Dimmed(PANEL_CMDBTN3), 0);
}
