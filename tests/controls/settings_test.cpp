// Teach, reset, the edge limits, the tolerance display, the hardware variant, the video threshold,
// the page toggles and the recorder window.
#include <gtest/gtest.h>

#include "state.h"

#include <algorithm>
#include <string>
#include <vector>

#include "../measure/loop_helpers.h"
#include "K-VOR-RNZazorU30.h"
#include "com232.h"
#include "fixtures.h"
#include "testhooks.h"
#include "measure.h"
#include "userint.h"

namespace {

double CursorX(int cursor, double *y = nullptr) {
    double x = -1, cy = -1;
    GetGraphCursor(pHandle, PANEL_GRAPH, cursor, &x, &cy);
    if (y) *y = cy;
    return x;
}

int Toggle(int control) {
    int on = -1;
    GetCtrlVal(pHandle, control, &on);
    return on;
}

class SensorSettingsTest : public SensorTest {
  protected:
    void SetUp() override {
        SensorTest::SetUp();
        if (HasFatalFailure()) return;
        Connect();
    }
    Schedule schedule;
};

class SettingsTest : public ProgramTest {
  protected:
    Schedule schedule;
};

} // namespace

// --- teach ----------------------------------------------------------------------------------

TEST_F(SensorSettingsTest, TeachTakesTheMeasuredValueAsSetpointAndReadsItBack) {
    // The sensor takes what it measures at the moment of the teach.
    const uint16_t raw[16] = {900, 1100, 1777, 0, 0, 1000, 50, 2, 0, 0, 0, 0, 0, 0, 0, 0};
    sim->setRawOverride(raw);
    const uint16_t measured = sim->measuredValue();
    ASSERT_EQ(measured, 1777);
    SetCtrlVal(pPara2, PARA2_Setpoint, static_cast<unsigned int>(measured == 700 ? 701 : 700));
    SetCtrlVal(pPara2, PARA2_P00, 333u);
    SetGraphCursor(pHandle, PANEL_GRAPH, 1, 5.0, 0.75);

    UserClick(pHandle, PANEL_ButtonTeach);

    std::vector<kvorsim::Request> log = sim->requests();
    ASSERT_EQ(Commands(*sim), (std::vector<int>{6, 2, 2}));
    EXPECT_EQ(log[0].argument, 0);
    EXPECT_EQ(log[0].values[0], 333); // set 0 as the panels showed it
    EXPECT_EQ(log[1].argument, 0);
    EXPECT_EQ(log[2].argument, 1);

    uint16_t ram0[15];
    sim->ramSet(0, ram0);
    EXPECT_EQ(ram0[6], measured);
    EXPECT_EQ(parameter.set0[6], measured);
    unsigned short shown = 0;
    GetCtrlVal(pPara2, PARA2_Setpoint, &shown);
    EXPECT_EQ(shown, measured);
    EXPECT_EQ(StatusText(), "Parameter-frame received! - Line Ok!");
    // No loop runs, so nothing redraws the graph and cursor 1 stays.
    EXPECT_EQ(CursorX(1), 5.0);
}

TEST_F(SettingsTest, TeachWithoutSensorTimesOut) {
    std::string shownMeanwhile;
    schedule.after(0.3, [&] { shownMeanwhile = StatusText(); });
    parameter.set0[6] = 1234;
    SetCtrlVal(pPara2, PARA2_Setpoint, 1234u);
    stop_flag = 0; // as inside a loop: the time-out ends it

    UserClick(pHandle, PANEL_ButtonTeach);

    EXPECT_EQ(shownMeanwhile, "New setpoint value teached!");
    EXPECT_EQ(StatusText(), "Timeout RS232-Line!");
    EXPECT_EQ(stop_flag, 1);
    EXPECT_EQ(parameter.set0[6], 1234);
}

TEST_F(SensorSettingsTest, TeachDuringRunMovesCursorOneAndRunGoesOn) {
    const uint16_t raw[16] = {900, 1100, 1000, 0, 0, 1000, 50, 2, 0, 0, 0, 0, 0, 0, 0, 0};
    sim->setRawOverride(raw);
    size_t teachAt = 0;
    schedule.when([&] { return sim->requestCount() >= 3; },
                  [&] {
                      UserClick(pHandle, PANEL_ButtonTeach);
                      teachAt = sim->requestCount();
                  });
    // The teach waits for RUN's answer to the request outstanding, then goes out with its re-read
    // (6, 2, 2) before RUN's next request. STOP comes once that request is out: counted from the
    // click, it could come one request early (the teach may go only after the next answer), and
    // end RUN before its request.
    schedule.when(
        [this] {
            const std::vector<int> c = Commands(*sim);
            const auto teach = std::find(c.begin(), c.end(), 6);
            return teach != c.end() && std::find(teach, c.end(), 8) != c.end();
        },
        [] { UserClick(pHandle, PANEL_BTNStop); });
    schedule.safetyStop(20.0);

    UserClick(pHandle, PANEL_BTNRun);

    EXPECT_FALSE(schedule.safetyFired());
    EXPECT_GE(sim->requestCount(), teachAt + 2); // RUN went on after the teach
    // The teach and its re-read go out together, between two RUN requests.
    const std::vector<int> commands = Commands(*sim);
    const std::vector<int> teach = {8, 6, 2, 2, 8};
    EXPECT_NE(std::search(commands.begin(), commands.end(), teach.begin(), teach.end()), commands.end());
}

// --- reset ----------------------------------------------------------------------------------

TEST_F(SensorSettingsTest, ResetSendsThePacketAsItStands) {
    for (int i = 0; i < 16; ++i)
        pp[i] = static_cast<uint16_t>(100 + i);

    UserClick(pHandle, PANEL_ButtonReset);

    std::vector<kvorsim::Request> log = sim->requests();
    ASSERT_EQ(log.size(), 1u);
    EXPECT_EQ(log[0].command, 11);
    EXPECT_EQ(log[0].argument, 0);
    EXPECT_EQ(log[0].values[0], 100);
    EXPECT_EQ(log[0].values[14], 114);
    EXPECT_EQ(StatusText(), "Reset of analog-output Max/Min OK!");
    EXPECT_STREQ(szStatus, "Reset of analog-output Max/Min OK!");
    EXPECT_EQ(stop_flag, 1);
}

TEST_F(SensorSettingsTest, ResetShowsItsWaitAndATimeOutStopsNothing) {
    // (When the wait times out: TimeOutRule in the link tests.)
    kvorsim::Fault drop;
    drop.kind = kvorsim::Fault::Drop;
    drop.command = 11;
    sim->inject(drop);
    FakeClock::now = 1000.0;
    FakeClock::install();

    std::string shownMeanwhile;
    schedule.after(0.05, [&] {
        shownMeanwhile = StatusText();
        FakeClock::now += 2.0;
    });
    stop_flag = 0;
    UserClick(pHandle, PANEL_ButtonReset);
    EXPECT_EQ(shownMeanwhile, "Reset Max/Min values...");
    EXPECT_EQ(StatusText(), "Timeout-RS-232...");
    EXPECT_EQ(stop_flag, 0); // a failed reset stops nothing
}

// --- edge limits ----------------------------------------------------------------------------

TEST_F(SettingsTest, EdgeLimitsAndTheirCursors) {
    pixB = 10;
    pixE = 1000;
    struct Case {
        int control, cursor;
        double entered;
        unsigned short shown;
        bool stored; // the limited value goes into set 0 as well
    } cases[] = {
        {PANEL_NEDITEdgeLeft, 2, 1005, 999, true}, // above the range: one below its end
        {PANEL_NEDITEdgeLeft, 2, 1000, 1000, false},
        {PANEL_NEDITEdgeLeft, 2, 5, 10, true}, // below the range: its start
        {PANEL_NEDITEdgeLeft, 2, 500, 500, false},
        {PANEL_NEDITEdgeRight, 3, 5, 11, true}, // below the range: one above its start
        {PANEL_NEDITEdgeRight, 3, 10, 10, false},
        {PANEL_NEDITEdgeRight, 3, 1005, 1000, true}, // above the range: its end
        {PANEL_NEDITEdgeRight, 3, 700, 700, false},
    };
    for (const Case &c : cases) {
        const int word = (c.control == PANEL_NEDITEdgeLeft) ? 4 : 5;
        parameter.set0[word] = 77;
        UserSetValue(pHandle, c.control, c.entered);
        unsigned short shown = 0;
        GetCtrlVal(pHandle, c.control, &shown);
        EXPECT_EQ(shown, c.shown) << "entered " << c.entered;
        EXPECT_EQ(parameter.set0[word], c.stored ? c.shown : 77) << "entered " << c.entered;
        double y = 0;
        EXPECT_EQ(CursorX(c.cursor, &y), c.shown) << "entered " << c.entered;
        EXPECT_EQ(y, 1.0);
    }
}

// --- tolerance, hardware, threshold ----------------------------------------------------------

TEST_F(SettingsTest, ToleranceShownInCalibratedUnits) {
    parameter.set0[7] = 42;
    for (uint32_t scale : {16384u, 32768u}) {
        parameter.scale = scale;
        SetCtrlVal(pPara1, PARA1_NEDITTolerance, 1u); // so that entering 100 is a change
        UserSetValue(pPara1, PARA1_NEDITTolerance, 100);
        double shown = 0;
        GetCtrlVal(pHandle, PANEL_TOLVALUE, &shown);
        EXPECT_DOUBLE_EQ(shown, scale == 16384u ? 0.1 : 0.2);
    }
    EXPECT_EQ(parameter.set0[7], 42); // nothing stored until the panels are read
}

TEST_F(SettingsTest, HardwareVariantDimsTheTolerance) {
    const int expected[4] = {0, 1, 0, 1};
    for (int variant : {0, 3, 2, 1}) { // each one a change from the one before
        UserSetValue(pPara1, PARA1_DROPHardware, variant);
        int dimmed = -1;
        GetCtrlAttribute(pPara1, PARA1_NEDITTolerance, ATTR_DIMMED, &dimmed);
        EXPECT_EQ(dimmed, expected[variant]) << "variant " << variant;
    }
}

TEST_F(SettingsTest, VideoThresholdRedrawsTheThresholdLine) {
    ADCMAX = 1024;
    parameter.set0[14] = 99;
    for (int percent : {50, 33}) {
        UserSetValue(pPara2, PARA2_SLIDEVideoThreshold, percent);
        const uint16_t level = (percent == 50) ? 512 : 337;
        EXPECT_TRUE(std::all_of(std::begin(thdArray), std::end(thdArray), [level](uint16_t t) {
            return t == level;
        })) << percent;
        std::vector<GraphItem> items = GetGraphItems(pHandle, PANEL_VIDEOGRAPH);
        ASSERT_EQ(items.size(), 2u);
        ASSERT_EQ(items[1].y.size(), 256u);
        EXPECT_EQ(items[1].y[0], level);
        EXPECT_EQ(items[1].y[255], level);
    }
    EXPECT_EQ(parameter.set0[14], 99);
}

// --- page toggles and the recorder ----------------------------------------------------------

TEST_F(SettingsTest, PageTogglesByClickAndByKeyboard) {
    DisplayPanel(pHandle);
    for (int page : {pPara1, pPara2, pCalib}) {
        SetPanelAttribute(page, ATTR_LEFT, 8);
        SetPanelAttribute(page, ATTR_TOP, 105);
    }
    DisplayPanel(pPara1);
    SetCtrlVal(pHandle, PANEL_TOGGBTN_Para1, 1);

    // A click: the other toggles go off, the page is shown alone, where it was.
    UserClick(pHandle, PANEL_TOGGBTN_Para2);
    EXPECT_EQ(Toggle(PANEL_TOGGBTN_Para1), 0);
    EXPECT_EQ(Toggle(PANEL_TOGGBTN_Para2), 1);
    EXPECT_EQ(Toggle(PANEL_TOGGBTN_Calib), 0);
    EXPECT_TRUE(PanelVisible(pPara2));
    EXPECT_FALSE(PanelVisible(pPara1));
    EXPECT_FALSE(PanelVisible(pCalib));
    int left = 0, top = 0;
    GetPanelAttribute(pPara2, ATTR_LEFT, &left);
    GetPanelAttribute(pPara2, ATTR_TOP, &top);
    EXPECT_EQ(left, 8);
    EXPECT_EQ(top, 105);

    // Clicking the toggle of the page shown switches it off but keeps the page.
    UserClick(pHandle, PANEL_TOGGBTN_Para2);
    EXPECT_EQ(Toggle(PANEL_TOGGBTN_Para2), 0);
    EXPECT_EQ(Toggle(PANEL_TOGGBTN_Para1), 0);
    EXPECT_EQ(Toggle(PANEL_TOGGBTN_Calib), 0);
    EXPECT_TRUE(PanelVisible(pPara2));
    EXPECT_FALSE(PanelVisible(pPara1));

    // From the keyboard there is no left click: the pages switch, the other toggles stay.
    SetCtrlVal(pHandle, PANEL_TOGGBTN_Para2, 1);
    SetCtrlVal(pHandle, PANEL_TOGGBTN_Para1, 1);
    UserCommit(pHandle, PANEL_TOGGBTN_Calib);
    EXPECT_EQ(Toggle(PANEL_TOGGBTN_Para1), 1);
    EXPECT_EQ(Toggle(PANEL_TOGGBTN_Para2), 1);
    EXPECT_TRUE(PanelVisible(pCalib));
    EXPECT_FALSE(PanelVisible(pPara1));
    EXPECT_FALSE(PanelVisible(pPara2));

    UserClick(pHandle, PANEL_TOGGBTN_Para1);
    EXPECT_TRUE(PanelVisible(pPara1));
    EXPECT_FALSE(PanelVisible(pCalib));
    EXPECT_EQ(Toggle(PANEL_TOGGBTN_Para2), 0);
    EXPECT_EQ(Toggle(PANEL_TOGGBTN_Calib), 0);
}

TEST_F(SettingsTest, RecorderToggleShowsAndHidesThePopup) {
    DisplayPanel(pHandle);
    ASSERT_FALSE(PanelVisible(pPopup));
    UserClick(pHandle, PANEL_TOGGBTN_Recorder);
    EXPECT_EQ(Toggle(PANEL_TOGGBTN_Recorder), 1);
    EXPECT_TRUE(PanelVisible(pPopup));
    UserClick(pHandle, PANEL_TOGGBTN_Recorder);
    EXPECT_EQ(Toggle(PANEL_TOGGBTN_Recorder), 0);
    EXPECT_FALSE(PanelVisible(pPopup));
}
