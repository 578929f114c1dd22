// The strip-chart history, the video curve and the array operations behind them.
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

// The last 100 samples of a trace as the chart holds them, oldest first.
std::vector<double> History(int trace) {
    std::vector<double> all = GetStripChartTrace(pHandle, PANEL_STRIPCHART, trace);
    if (all.size() > 100) all.erase(all.begin(), all.end() - 100);
    return all;
}

double Newest(int trace) {
    return arrayNORM[594 + trace - 1];
}

int MvalueColour() {
    int colour = -1;
    GetCtrlAttribute(pHandle, PANEL_MVALUE, ATTR_TEXT_BGCOLOR, &colour);
    return colour;
}

void ZoomWindow(double *low, double *high) {
    int mode = -1;
    GetAxisScalingMode(pHandle, PANEL_STRIPCHART, VAL_LEFT_YAXIS, &mode, low, high);
    EXPECT_EQ(mode, VAL_MANUAL);
}

class StripChartTest : public ProgramTest {
  protected:
    void SetUp() override {
        ProgramTest::SetUp();
        std::fill(std::begin(arrayNORM), std::end(arrayNORM), 0.0);
        ccdvirtpixel = 4096;
        parameter.set0[6] = 500;
        parameter.set0[10] = 0;
        tol = 100;
        Mvalue = 520;
        anaMax = 700;
        anaMin = 300;
    }
};

} // namespace

TEST_F(StripChartTest, FirstSampleFollowsNinetyNineZerosAndLaterOnesContinue) {
    PlotRAWGraph();

    std::vector<double> measured = History(4);
    ASSERT_EQ(measured.size(), 100u);
    EXPECT_TRUE(std::all_of(measured.begin(), measured.end() - 1, [](double v) { return v == 0; }));
    EXPECT_EQ(measured.back(), 520);
    EXPECT_EQ(History(1).back(), 600); // upper limit
    EXPECT_EQ(History(2).back(), 400); // lower limit
    EXPECT_EQ(History(3).back(), 500); // setpoint
    EXPECT_EQ(History(5).back(), 520);
    EXPECT_EQ(History(6).back(), 520);

    Mvalue = 530;
    PlotRAWGraph();
    measured = History(4);
    ASSERT_EQ(measured.size(), 100u);
    EXPECT_EQ(measured[97], 0);
    EXPECT_EQ(measured[98], 520);
    EXPECT_EQ(measured[99], 530);

    // The chart's set-up: one screen for the history, six traces in their colours.
    int value = 0;
    GetCtrlAttribute(pHandle, PANEL_STRIPCHART, ATTR_POINTS_PER_SCREEN, &value);
    EXPECT_EQ(value, 101);
    GetCtrlAttribute(pHandle, PANEL_STRIPCHART, ATTR_NUM_TRACES, &value);
    EXPECT_EQ(value, 6);
    const int colours[6] = {0x008000, 0x008000, 0x000000, 0xFF0000, 0xFF0000, 0xFF0000};
    for (int trace = 1; trace <= 6; ++trace) {
        EXPECT_EQ(GetTraceColor(pHandle, PANEL_STRIPCHART, trace), colours[trace - 1]) << trace;
    }
}

TEST_F(StripChartTest, HistoryKeepsOneHundredSamples) {
    for (int i = 1; i <= 105; ++i) {
        Mvalue = static_cast<uint16_t>(i);
        PlotRAWGraph();
    }
    // Sample k of trace j sits at 6k + j - 1; the oldest five have dropped out.
    EXPECT_EQ(arrayNORM[3], 6);
    EXPECT_EQ(arrayNORM[597], 105);
    std::vector<double> measured = History(4);
    ASSERT_EQ(measured.size(), 100u);
    EXPECT_EQ(measured.front(), 6);
    EXPECT_EQ(measured.back(), 105);
}

TEST_F(StripChartTest, ZoomWindowAroundTheBand) {
    int zoom = 1;
    SetCtrlVal(pHandle, PANEL_ZOOM, zoom);
    double low = 0, high = 0;
    struct Case {
        uint16_t tol, mvalue;
        double low, high;
    } cases[] = {
        {39, 500, 460, 540}, {39, 600, 460, 660}, {39, 400, 340, 540},
        {40, 500, 420, 580}, {40, 600, 420, 700}, {40, 400, 300, 580},
        // A measured value exactly on the window's edge is in sight: the window stays.
        {39, 540, 460, 540}, {39, 541, 460, 601}, {39, 460, 460, 540}, {39, 459, 399, 540},
        {40, 580, 420, 580}, {40, 581, 420, 681}, {40, 420, 420, 580}, {40, 419, 319, 580},
    };
    for (const Case &c : cases) {
        tol = c.tol;
        Mvalue = c.mvalue;
        PlotRAWGraph();
        ZoomWindow(&low, &high);
        EXPECT_EQ(low, c.low) << "tol " << c.tol << " Mvalue " << c.mvalue;
        EXPECT_EQ(high, c.high) << "tol " << c.tol << " Mvalue " << c.mvalue;
    }

    // The window stays on the axis.
    parameter.set0[6] = 30;
    tol = 100;
    Mvalue = 30;
    PlotRAWGraph();
    ZoomWindow(&low, &high);
    EXPECT_EQ(low, 1);
    parameter.set0[6] = 4050;
    PlotRAWGraph();
    ZoomWindow(&low, &high);
    EXPECT_EQ(high, 4095);

    zoom = 0;
    SetCtrlVal(pHandle, PANEL_ZOOM, zoom);
    PlotRAWGraph();
    ZoomWindow(&low, &high);
    EXPECT_EQ(low, 0);
    EXPECT_EQ(high, 4096);
}

TEST_F(StripChartTest, LimitsInclusiveAndHeldToTheAxis) {
    for (uint16_t m : {400, 600}) {
        Mvalue = m;
        PlotRAWGraph();
        EXPECT_EQ(MvalueColour(), VAL_DK_GREEN) << m;
    }
    for (uint16_t m : {399, 601}) {
        Mvalue = m;
        PlotRAWGraph();
        EXPECT_EQ(MvalueColour(), VAL_RED) << m;
    }

    // Setpoint below the tolerance: the lower limit is 1, so 1 is in and 0 is out.
    parameter.set0[6] = 50;
    Mvalue = 1;
    PlotRAWGraph();
    EXPECT_EQ(Newest(2), 1);
    EXPECT_EQ(MvalueColour(), VAL_DK_GREEN);
    Mvalue = 150;
    PlotRAWGraph();
    EXPECT_EQ(MvalueColour(), VAL_DK_GREEN);
    Mvalue = 0;
    PlotRAWGraph();
    EXPECT_EQ(MvalueColour(), VAL_RED);

    // The upper limit stops at the last pixel but one.
    parameter.set0[6] = 4090;
    Mvalue = 4095;
    PlotRAWGraph();
    EXPECT_EQ(Newest(1), 4095);
    EXPECT_EQ(MvalueColour(), VAL_DK_GREEN);
}

TEST_F(StripChartTest, AnalogModeTraces) {
    struct Case {
        uint16_t mode, anaMin;
        double trace5, trace6;
    } cases[] = {
        {0, 300, 520, 520}, {1, 300, 520, 520},   {2, 300, 520, 700}, {3, 300, 300, 520},
        {3, 4095, 1, 520},  {4, 4095, 4095, 700}, {4, 300, 300, 700}, {7, 300, 4095, 1},
    };
    for (const Case &c : cases) {
        parameter.set0[10] = c.mode;
        anaMin = c.anaMin;
        PlotRAWGraph();
        EXPECT_EQ(Newest(5), c.trace5) << "mode " << c.mode << " anaMin " << c.anaMin;
        EXPECT_EQ(Newest(6), c.trace6) << "mode " << c.mode << " anaMin " << c.anaMin;
    }
}

TEST_F(ProgramTest, VideoCurveDrawsLineAndThreshold) {
    ADCMAX = 256;
    uint16_t video[256], threshold[256];
    double x[256];
    for (int i = 0; i < 256; ++i) {
        video[i] = static_cast<uint16_t>(i);
        threshold[i] = 128;
        x[i] = 16.0 * i;
    }
    PlotRectangle(pHandle, PANEL_VIDEOGRAPH, 0, 0, 10, 10, VAL_BLUE, VAL_BLUE);
    PlotVIDEOCurve(video, threshold, x);
    ADCMAX = 1024;

    std::vector<GraphItem> items = GetGraphItems(pHandle, PANEL_VIDEOGRAPH);
    ASSERT_EQ(items.size(), 2u);
    EXPECT_EQ(items[0].kind, GRAPH_ITEM_XY);
    EXPECT_EQ(items[0].color, VAL_RED);
    EXPECT_EQ(items[1].color, VAL_DK_GREEN);
    ASSERT_EQ(items[0].x.size(), 256u);
    ASSERT_EQ(items[0].y.size(), 256u);
    ASSERT_EQ(items[1].y.size(), 256u);
    EXPECT_EQ(items[0].x[255], 4080);
    EXPECT_EQ(items[1].x, items[0].x);
    EXPECT_EQ(items[0].y[200], 200);
    EXPECT_EQ(items[1].y[17], 128);

    int mode = -1;
    double lo = -1, hi = -1;
    GetAxisScalingMode(pHandle, PANEL_VIDEOGRAPH, VAL_LEFT_YAXIS, &mode, &lo, &hi);
    EXPECT_EQ(mode, VAL_MANUAL);
    EXPECT_EQ(lo, 0.0);
    EXPECT_EQ(hi, 256.0);
}

TEST(ArrayOperations, ShiftAndCopyResults) {
    double a[600];
    for (int i = 0; i < 600; ++i)
        a[i] = i + 1;

    // In place, towards the start: the newest six become zeros.
    EXPECT_EQ(Shift(a, 600, -6, a), 0);
    for (int i = 0; i < 594; ++i)
        ASSERT_EQ(a[i], i + 7) << i;
    for (int i = 594; i < 600; ++i)
        EXPECT_EQ(a[i], 0) << i;

    // Too large a shift, or no data, changes nothing.
    double before[600];
    std::copy(std::begin(a), std::end(a), before);
    EXPECT_EQ(Shift(a, 600, 600, a), -20102);
    EXPECT_EQ(Shift(a, 600, -600, a), -20102);
    EXPECT_EQ(Shift(a, 600, -2147483647 - 1, a), -20102);
    EXPECT_EQ(Shift(a, 0, 1, a), -20003);
    EXPECT_TRUE(std::equal(std::begin(a), std::end(a), before));

    // In place, towards the end.
    double b[5] = {1, 2, 3, 4, 5};
    EXPECT_EQ(Shift(b, 5, 2, b), 0);
    EXPECT_EQ(std::vector<double>(b, b + 5), (std::vector<double>{0, 0, 1, 2, 3}));
    double c[5];
    EXPECT_EQ(Shift(b, 5, 0, c), 0);
    EXPECT_EQ(std::vector<double>(c, c + 5), std::vector<double>(b, b + 5));

    double out[3] = {9, 9, 9};
    const double in[3] = {1, 2, 3};
    EXPECT_EQ(Copy1D(in, 0, out), -20003);
    EXPECT_EQ(Copy1D(in, -1, out), -20003);
    EXPECT_EQ(std::vector<double>(out, out + 3), (std::vector<double>{9, 9, 9}));
    EXPECT_EQ(Copy1D(in, 2, out), 0);
    EXPECT_EQ(std::vector<double>(out, out + 3), (std::vector<double>{1, 2, 9}));
}
