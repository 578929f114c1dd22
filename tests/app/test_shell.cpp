// Start-up defaults, the panel adjustments and the pop-up window's close.
#include <gtest/gtest.h>

#include <vector>

#include "K-VOR-RNZazorU30.h"
#include "fixtures.h"
#include "testhooks.h"
#include "params.h"
#include "state.h"
#include "userint.h"

namespace {

using StartUp = ProgramTest;

TEST_F(StartUp, InitVarsGivesTheDefaultsAndReadsThePanels) {
    // Whatever was there before, InitVars sets the run state ...
    com = 7;
    target = 3;
    stop_flag = 0;
    rx_flag = graph_flag = 1;
    dynpow = 9;
    tstart = tdiff = 5.0;
    parameter.start = parameter.command = parameter.argument = 99;
    pixB = pixE = ccdmaxpixel = ccdvirtpixel = pcbtype = refdistance = 3;
    for (uint16_t &w : parameter.set0)
        w = 9;
    parameter.scale = 9;
    parameter.offset = 9;
    // ... and a control changed before it runs wins over the built-in default.
    SetCtrlVal(pPara2, PARA2_P00, 700);
    InitVars();

    EXPECT_EQ(com, 1);
    EXPECT_EQ(target, RAM);
    EXPECT_EQ(stop_flag, 1);
    EXPECT_EQ(rx_flag, 0);
    EXPECT_EQ(graph_flag, 0);
    EXPECT_EQ(dynpow, 0);
    EXPECT_EQ(tstart, 0.0);
    EXPECT_EQ(tdiff, 0.0);
    EXPECT_EQ(parameter.start, 0x55);
    EXPECT_EQ(parameter.command, 1);
    EXPECT_EQ(parameter.argument, 0);
    EXPECT_EQ(pixB, 1);
    EXPECT_EQ(pixE, 1024);
    EXPECT_EQ(ccdmaxpixel, 1024);
    EXPECT_EQ(ccdvirtpixel, 4096);
    EXPECT_EQ(pcbtype, 101);
    EXPECT_EQ(refdistance, 37);
    EXPECT_STREQ(szSoftVersion, "Version 3.0b");
    EXPECT_STREQ(szSoftName, "K-VOR-RN-Zodid");
    EXPECT_STREQ(szStatus, "InitVars");
    EXPECT_EQ(StatusText(), "InitVars");

    // The panel file starts every control at the program's default.
    const uint16_t expected[15] = {700, 0, 1, 1, 1, 1024, 512, 100, 0, 0, 0, 0, 0, 1, 512};
    for (int k = 0; k < 15; ++k)
        EXPECT_EQ(parameter.set0[k], expected[k]) << "word " << k;
    EXPECT_EQ(parameter.scale, 16384u);
    EXPECT_EQ(parameter.offset, YOFFSET);
}

TEST_F(StartUp, InitVarsPlacesCursorsAndTheToleranceBand) {
    double x = 0.0, y = 0.0;
    const double cursors[3] = {512.0, 1.0, 1024.0}; // setpoint, left edge, right edge
    for (int c = 1; c <= 3; ++c) {
        ASSERT_GE(GetGraphCursor(pHandle, PANEL_GRAPH, c, &x, &y), 0);
        EXPECT_DOUBLE_EQ(x, cursors[c - 1]) << "cursor " << c;
        EXPECT_DOUBLE_EQ(y, 1.0) << "cursor " << c;
    }

    // Plots of an earlier run go; the band is signed and reaches below the axis.
    PlotRectangle(pHandle, PANEL_GRAPH, 0, 0, 10, 1, VAL_RED, VAL_RED);
    SetCtrlVal(pPara2, PARA2_Setpoint, 50);
    SetCtrlVal(pPara1, PARA1_NEDITTolerance, 100);
    InitVars();
    const std::vector<GraphItem> items = GetGraphItems(pHandle, PANEL_GRAPH);
    ASSERT_EQ(items.size(), 1u);
    EXPECT_EQ(items[0].kind, GRAPH_ITEM_RECTANGLE);
    EXPECT_EQ(items[0].color, 0x00FF00);
    EXPECT_EQ(items[0].fillColor, 0x00FF00);
    EXPECT_DOUBLE_EQ(items[0].x1, -50.0);
    EXPECT_DOUBLE_EQ(items[0].y1, 0.0);
    EXPECT_DOUBLE_EQ(items[0].x2, 150.0);
    EXPECT_DOUBLE_EQ(items[0].y2, 0.25);
    GetGraphCursor(pHandle, PANEL_GRAPH, 1, &x, &y);
    EXPECT_DOUBLE_EQ(x, 50.0);
}

TEST_F(StartUp, StartUpThresholdLineUsesTheFactor255) {
    ADCMAX = 1024;
    SetCtrlVal(pPara2, PARA2_SLIDEVideoThreshold, 40);
    InitVars();
    for (int i = 0; i < 256; ++i) {
        ASSERT_EQ(thdArray[i], 102) << i; // 255 x 40 / 100, not 1024 x 40 / 100
        ASSERT_EQ(thdArrayEE[i], 102) << i;
    }
}

TEST_F(StartUp, InitGuiDimsTheToleranceForFixedWindowVariants) {
    const int dimmedFor[4] = {0, 1, 0, 1};
    for (int variant = 0; variant <= 3; ++variant) {
        SetCtrlAttribute(pPara1, PARA1_NEDITTolerance, ATTR_DIMMED, 1 - dimmedFor[variant]);
        SetCtrlVal(pPara1, PARA1_DROPHardware, variant);
        InitGUI();
        int dimmed = -1;
        GetCtrlAttribute(pPara1, PARA1_NEDITTolerance, ATTR_DIMMED, &dimmed);
        EXPECT_EQ(dimmed, dimmedFor[variant]) << "variant " << variant;
    }
}

TEST_F(StartUp, InitGuiShowsTheScaledToleranceAndPlacesThePages) {
    parameter.scale = 16384;
    parameter.set0[7] = 250;
    for (int page : {pPara1, pPara2, pCalib}) {
        SetPanelAttribute(page, ATTR_LEFT, 300);
        SetPanelAttribute(page, ATTR_TOP, 300);
    }
    InitGUI();
    EXPECT_EQ(tol, 250);
    double shown = 0.0;
    GetCtrlVal(pHandle, PANEL_TOLVALUE, &shown);
    EXPECT_DOUBLE_EQ(shown, 0.25);
    for (int page : {pPara1, pPara2, pCalib}) {
        int left = 0, top = 0;
        GetPanelAttribute(page, ATTR_LEFT, &left);
        GetPanelAttribute(page, ATTR_TOP, &top);
        EXPECT_EQ(left, 8);
        EXPECT_EQ(top, 105);
    }

    // Both factors are unsigned and their product exceeds 32 bits without wrapping.
    parameter.scale = 4294950912u; // 262143.0
    parameter.set0[7] = 4096;
    InitGUI();
    GetCtrlVal(pHandle, PANEL_TOLVALUE, &shown);
    EXPECT_NEAR(shown, 262143.0 * 4.096, 1e-6);
}

TEST_F(StartUp, ClosingThePopupHidesItAndSwitchesTheRecorderOff) {
    DisplayPanel(pPopup);
    SetCtrlVal(pHandle, PANEL_TOGGBTN_Recorder, 1);
    ASSERT_TRUE(PanelVisible(pPopup));
    UserClosePanel(pPopup);
    EXPECT_FALSE(PanelVisible(pPopup));
    int on = -1;
    GetCtrlVal(pHandle, PANEL_TOGGBTN_Recorder, &on);
    EXPECT_EQ(on, 0);
    // Only hidden, never discarded: it can be shown again.
    EXPECT_GE(DisplayPanel(pPopup), 0);
    EXPECT_TRUE(PanelVisible(pPopup));
}

TEST_F(StartUp, OtherPanelEventsAreIgnored) {
    stop_flag = 0;
    DisplayPanel(pPopup);
    SetCtrlVal(pHandle, PANEL_TOGGBTN_Recorder, 1);
    EXPECT_EQ(CC_PANEL(pHandle, EVENT_COMMIT, nullptr, 0, 0), 0);
    EXPECT_EQ(CC_POPUP(pPopup, EVENT_LEFT_CLICK, nullptr, 0, 0), 0);
    EXPECT_EQ(stop_flag, 0);
    EXPECT_TRUE(PanelVisible(pPopup));
    int on = -1;
    GetCtrlVal(pHandle, PANEL_TOGGBTN_Recorder, &on);
    EXPECT_EQ(on, 1);
}

} // namespace
