// The live bar graph and indicators drawn from one raw-data answer.
#include <gtest/gtest.h>

#include "state.h"

#include <algorithm>
#include <vector>

#include "K-VOR-RNZazorU30.h"
#include "fixtures.h"
#include "testhooks.h"
#include "measure.h"
#include "userint.h"

namespace {

struct Bar {
    double from, to, bottom, top;
};

std::vector<Bar> BarsOfColour(int colour) {
    std::vector<Bar> bars;
    for (const GraphItem &item : GetGraphItems(pHandle, PANEL_GRAPH)) {
        if (item.kind != GRAPH_ITEM_RECTANGLE || item.color != colour) continue;
        EXPECT_EQ(item.fillColor, colour);
        // x as given (a bar may run right to left); y bottom to top.
        bars.push_back({item.x1, item.x2, std::min(item.y1, item.y2), std::max(item.y1, item.y2)});
    }
    return bars;
}

std::vector<Bar> EdgeBars() {
    return BarsOfColour(VAL_RED);
}
std::vector<Bar> WindowBars() {
    return BarsOfColour(VAL_GREEN);
}

double CursorX(int cursor) {
    double x = -1, y = -1;
    GetGraphCursor(pHandle, PANEL_GRAPH, cursor, &x, &y);
    return x;
}

double CursorY(int cursor) {
    double x = -1, y = -1;
    GetGraphCursor(pHandle, PANEL_GRAPH, cursor, &x, &y);
    return y;
}

int MvalueColour() {
    int colour = -1;
    GetCtrlAttribute(pHandle, PANEL_MVALUE, ATTR_TEXT_BGCOLOR, &colour);
    return colour;
}

class BarGraphTest : public ProgramTest {
  protected:
    void SetUp() override {
        ProgramTest::SetUp();
        ccdvirtpixel = 4096;
        pixB = 1;
        pixE = 4096;
        parameter.scale = 16384;
        parameter.set0[3] = 0;   // evaluation mode: left edge
        parameter.set0[4] = 100; // left edge setting
        parameter.set0[5] = 3000;
        parameter.set0[6] = 1000; // setpoint
        parameter.set0[10] = 0;   // analog mode
        Ledge = 900;
        Redge = 1100;
        Mvalue = 1000;
        umValue = 12345;
        tol = 50;
        edcnt = 2;
        mvstart = mvend = 0;
        anaMax = 700;
        anaMin = 200;
    }
};

} // namespace

TEST_F(BarGraphTest, IndicatorsCursorsAndAxis) {
    PlotRectangle(pHandle, PANEL_GRAPH, 0, 0, 4096, 1.0, VAL_LT_GRAY, VAL_LT_GRAY);
    PlotVIDEOBarGraph();

    unsigned short v = 0;
    GetCtrlVal(pHandle, PANEL_LEDGE, &v);
    EXPECT_EQ(v, 900);
    GetCtrlVal(pHandle, PANEL_REDGE, &v);
    EXPECT_EQ(v, 1100);
    GetCtrlVal(pHandle, PANEL_MVALUEPIX, &v);
    EXPECT_EQ(v, 1000);
    GetCtrlVal(pHandle, PANEL_ANAMAX, &v);
    EXPECT_EQ(v, 700);
    GetCtrlVal(pHandle, PANEL_ANAMIN, &v);
    EXPECT_EQ(v, 200);
    double mm = 0;
    GetCtrlVal(pHandle, PANEL_MVALUE, &mm);
    EXPECT_DOUBLE_EQ(mm, 12.345);

    // The edge settings at 0.75, cursor 1 on the left edge (evaluation mode 0).
    EXPECT_EQ(CursorX(2), 100);
    EXPECT_EQ(CursorX(3), 3000);
    EXPECT_EQ(CursorX(1), 900);
    EXPECT_EQ(CursorY(1), 0.75);
    EXPECT_EQ(CursorY(2), 0.75);
    EXPECT_EQ(CursorY(3), 0.75);

    int mode = -1;
    double lo = 0, hi = 0;
    GetAxisScalingMode(pHandle, PANEL_GRAPH, VAL_XAXIS, &mode, &lo, &hi);
    EXPECT_EQ(mode, VAL_MANUAL);
    EXPECT_EQ(lo, 1.0);
    EXPECT_EQ(hi, 4096.0);

    // The background bar is gone: only this answer's bars remain, edge bars first.
    std::vector<GraphItem> items = GetGraphItems(pHandle, PANEL_GRAPH);
    ASSERT_EQ(items.size(), 2u);
    EXPECT_EQ(items[0].color, VAL_RED);
    EXPECT_EQ(items[1].color, VAL_GREEN);

    // Evaluation mode 1 follows the right edge; any other the centre.
    parameter.set0[3] = 1;
    PlotVIDEOBarGraph();
    EXPECT_EQ(CursorX(1), 1100);
    parameter.set0[3] = 3;
    Redge = 1101;
    PlotVIDEOBarGraph();
    EXPECT_EQ(CursorX(1), 1000); // (900 + 1101) / 2, remainder dropped
}

TEST_F(BarGraphTest, CursorOneHeldToTheUsableRange) {
    // Evaluation mode 2 with no left edge: P is 1, then raised to pixB.
    parameter.set0[3] = 2;
    Ledge = 0;
    pixB = 20;
    PlotVIDEOBarGraph();
    EXPECT_EQ(CursorX(1), 20);

    pixB = 1;
    PlotVIDEOBarGraph();
    EXPECT_EQ(CursorX(1), 1);

    // Beyond pixE, and beyond the axis.
    parameter.set0[3] = 1;
    Redge = 2000;
    pixE = 1024;
    PlotVIDEOBarGraph();
    EXPECT_EQ(CursorX(1), 1024);
    pixE = 5000;
    Redge = 4500;
    PlotVIDEOBarGraph();
    EXPECT_EQ(CursorX(1), 4096);
}

TEST_F(BarGraphTest, EdgeBarsByEdgeCount) {
    pixE = 2000;

    edcnt = 0;
    PlotVIDEOBarGraph();
    EXPECT_TRUE(EdgeBars().empty());

    edcnt = 1;
    mvstart = 5;
    mvend = 6;
    PlotVIDEOBarGraph();
    std::vector<Bar> bars = EdgeBars();
    ASSERT_EQ(bars.size(), 1u);
    EXPECT_EQ(bars[0].from, 900);
    EXPECT_EQ(bars[0].to, 2000);
    EXPECT_EQ(bars[0].bottom, 0.25);
    EXPECT_EQ(bars[0].top, 1.0);

    mvend = 5; // equal: the bar runs from the first pixel to the left edge
    PlotVIDEOBarGraph();
    bars = EdgeBars();
    ASSERT_EQ(bars.size(), 1u);
    EXPECT_EQ(bars[0].from, 1);
    EXPECT_EQ(bars[0].to, 900);

    edcnt = 2;
    PlotVIDEOBarGraph();
    bars = EdgeBars();
    ASSERT_EQ(bars.size(), 1u);
    EXPECT_EQ(bars[0].from, 900);
    EXPECT_EQ(bars[0].to, 1100);

    for (uint16_t count : {3, 5}) {
        edcnt = count;
        PlotVIDEOBarGraph();
        bars = EdgeBars();
        ASSERT_EQ(bars.size(), 2u) << "edcnt " << count;
        EXPECT_EQ(bars[0].from, 1);
        EXPECT_EQ(bars[0].to, 900);
        EXPECT_EQ(bars[1].from, 1100);
        EXPECT_EQ(bars[1].to, 2000);
    }
}

TEST_F(BarGraphTest, ToleranceWindowHeldToTheAxis) {
    parameter.set0[6] = 50;
    tol = 60; // starts at -10: drawn from the first pixel
    PlotVIDEOBarGraph();
    std::vector<Bar> bars = WindowBars();
    ASSERT_EQ(bars.size(), 1u);
    EXPECT_EQ(bars[0].from, 1);
    EXPECT_EQ(bars[0].to, 110);
    EXPECT_EQ(bars[0].bottom, 0.0);
    EXPECT_EQ(bars[0].top, 0.35);

    tol = 50; // starts exactly at 0: left there
    PlotVIDEOBarGraph();
    bars = WindowBars();
    ASSERT_EQ(bars.size(), 1u);
    EXPECT_EQ(bars[0].from, 0);

    parameter.set0[6] = 4000;
    tol = 95; // ends at the last pixel but one: drawn there
    PlotVIDEOBarGraph();
    bars = WindowBars();
    ASSERT_EQ(bars.size(), 1u);
    EXPECT_EQ(bars[0].from, 3905);
    EXPECT_EQ(bars[0].to, 4095);

    for (uint16_t t : {96, 300}) {
        tol = t;
        PlotVIDEOBarGraph();
        bars = WindowBars();
        ASSERT_EQ(bars.size(), 1u);
        EXPECT_EQ(bars[0].to, 4096) << "tol " << t;
    }

    // Any evaluation mode but 2 draws the band even without an edge.
    edcnt = 0;
    parameter.set0[3] = 3;
    PlotVIDEOBarGraph();
    EXPECT_EQ(WindowBars().size(), 1u);
}

TEST_F(BarGraphTest, WidthModeDrawsTwoHalfSetpointBars) {
    parameter.set0[3] = 2;
    Ledge = 1000;
    Redge = 1010;            // P = 1005
    parameter.set0[6] = 101; // h = 50
    tol = 21;                // t = 10
    PlotVIDEOBarGraph();
    std::vector<Bar> bars = WindowBars();
    ASSERT_EQ(bars.size(), 2u);
    EXPECT_EQ(bars[0].from, 945);
    EXPECT_EQ(bars[0].to, 965);
    EXPECT_EQ(bars[1].from, 1045);
    EXPECT_EQ(bars[1].to, 1065);

    // Near the start of the line only the first bar's start is held; its end is passed on as is.
    Ledge = 10;
    Redge = 12; // P = 11
    parameter.set0[6] = 100;
    tol = 20;
    PlotVIDEOBarGraph();
    bars = WindowBars();
    ASSERT_EQ(bars.size(), 2u);
    EXPECT_EQ(bars[0].from, 1);
    EXPECT_EQ(bars[0].to, -29);
    EXPECT_EQ(bars[1].from, 51);
    EXPECT_EQ(bars[1].to, 71);

    // No edge, no window.
    edcnt = 0;
    PlotVIDEOBarGraph();
    EXPECT_TRUE(WindowBars().empty());
    EXPECT_TRUE(EdgeBars().empty());
}

TEST_F(BarGraphTest, InToleranceColourAndValues) {
    parameter.set0[6] = 1000;
    tol = 50;
    for (uint16_t m : {950, 1000, 1050}) {
        Mvalue = m;
        PlotVIDEOBarGraph();
        EXPECT_EQ(MvalueColour(), VAL_DK_GREEN) << m;
    }
    for (uint16_t m : {949, 1051}) {
        Mvalue = m;
        PlotVIDEOBarGraph();
        EXPECT_EQ(MvalueColour(), VAL_RED) << m;
    }

    // Setpoint below the tolerance: the lower end is negative and not held, so only a value above
    // the upper end is out of tolerance.
    parameter.set0[6] = 50;
    tol = 100;
    Mvalue = 0;
    PlotVIDEOBarGraph();
    EXPECT_EQ(MvalueColour(), VAL_DK_GREEN);
    Mvalue = 150;
    PlotVIDEOBarGraph();
    EXPECT_EQ(MvalueColour(), VAL_DK_GREEN);
    Mvalue = 151;
    PlotVIDEOBarGraph();
    EXPECT_EQ(MvalueColour(), VAL_RED);

    // A micrometre value with its top bit set is a large distance.
    double mm = 0;
    umValue = 0x80000000u;
    PlotVIDEOBarGraph();
    GetCtrlVal(pHandle, PANEL_MVALUE, &mm);
    EXPECT_DOUBLE_EQ(mm, 2147483.648);
    umValue = 0xFFFFFFFFu;
    PlotVIDEOBarGraph();
    GetCtrlVal(pHandle, PANEL_MVALUE, &mm);
    EXPECT_DOUBLE_EQ(mm, 4294967.295);

    // The tolerance in millimetres, also where the 32-bit product would overflow.
    double tolmm = 0;
    tol = 250;
    PlotVIDEOBarGraph();
    GetCtrlVal(pHandle, PANEL_TOLVALUE, &tolmm);
    EXPECT_DOUBLE_EQ(tolmm, 0.25);
    parameter.scale = 16384u * 4096u; // a scale of 4096
    tol = 65535;
    PlotVIDEOBarGraph();
    GetCtrlVal(pHandle, PANEL_TOLVALUE, &tolmm);
    EXPECT_DOUBLE_EQ(tolmm, 4096.0 * 65535.0 / 1000.0);
}

TEST_F(BarGraphTest, AnalogOutputByMode) {
    int out = 0;
    struct Case {
        uint16_t mode;
        int expected;
    } cases[] = {{0, 1000}, {1, 1000}, {2, 700}, {3, 200}, {4, 500}, {7, 1000}};
    for (const Case &c : cases) {
        parameter.set0[10] = c.mode;
        PlotVIDEOBarGraph();
        GetCtrlVal(pHandle, PANEL_ANAOUT, &out);
        EXPECT_EQ(out, c.expected) << "mode " << c.mode;
    }

    parameter.set0[10] = 4;
    anaMax = 100;
    anaMin = 300;
    PlotVIDEOBarGraph();
    GetCtrlVal(pHandle, PANEL_ANAOUT, &out);
    EXPECT_EQ(out, -200);
}
