// The binding of the parameter record to the panel controls: limits, scale conversion, threshold
// line and the bar graph's parameter decorations.
#include <gtest/gtest.h>

#include <cmath>
#include <limits>
#include <vector>

#include "K-VOR-RNZazorU30.h"
#include "fixtures.h"
#include "testhooks.h"
#include "params.h"
#include "state.h"
#include "userint.h"

namespace {

unsigned short U16(int panel, int control) {
    unsigned short v = 0xBEEF;
    EXPECT_GE(GetCtrlVal(panel, control, &v), 0);
    return v;
}

int Dimmed(int panel, int control) {
    int v = -1;
    EXPECT_GE(GetCtrlAttribute(panel, control, ATTR_DIMMED, &v), 0);
    return v;
}

// Every control of the binding with the word it shows.
struct Binding {
    int *panel;
    int control;
    int word;
};
// clang-format off
const Binding kBindings[] = {
    {&pHandle, PANEL_NEDITEdgeLeft, 4},  {&pHandle, PANEL_NEDITEdgeRight, 5},
    {&pPara1, PARA1_P11, 11},            {&pPara1, PARA1_AnaMode, 10},
    {&pPara1, PARA1_P02, 2},             {&pPara1, PARA1_EvalMode, 3},
    {&pPara1, PARA1_NEDITTolerance, 7},  {&pPara1, PARA1_DROPHardware, 13},
    {&pPara1, PARA1_P08, 8},             {&pPara1, PARA1_P09, 9},
    {&pPara2, PARA2_P00, 0},             {&pPara2, PARA2_SLIDEVideoThreshold, 14},
    {&pPara2, PARA2_P01, 1},             {&pPara2, PARA2_Setpoint, 6},
    {&pCalib, CALIB_P12, 12},
};
// clang-format on

class PanelBinding : public ProgramTest {
  protected:
    void TearDown() override {
        ADCMAX = 1024; // InitVars leaves it alone; the next test expects the load value
        ProgramTest::TearDown();
    }
    // A set that every limit leaves alone, with a distinct value in each word.
    static constexpr uint16_t kValidSet[15] = {700, 1, 0, 2, 100, 3000, 1500, 250, 900, 2, 5, 1, 4321, 2, 333};
    void LoadValidSet() {
        for (int k = 0; k < 15; ++k)
            parameter.set0[k] = kValidSet[k];
        parameter.scale = 24576;
        parameter.offset = -12345;
    }
};

TEST_F(PanelBinding, EachControlShowsItsWordAndReadsBackIntoIt) {
    LoadValidSet();
    SetPanelValues();
    // Against the set as it was given: a limit that wrongly changes a valid word shows here.
    for (const Binding &b : kBindings)
        EXPECT_EQ(U16(*b.panel, b.control), kValidSet[b.word]) << "word " << b.word;
    int offset = 0;
    GetCtrlVal(pCalib, CALIB_Offset, &offset);
    EXPECT_EQ(offset, -12345);

    for (uint16_t &w : parameter.set0)
        w = 0;
    parameter.scale = 0;
    parameter.offset = 0;
    GetPanelValues();
    for (int k = 0; k < 15; ++k)
        EXPECT_EQ(parameter.set0[k], kValidSet[k]) << "word " << k;
    EXPECT_EQ(parameter.scale, 24576u);
    EXPECT_EQ(parameter.offset, -12345);
}

TEST_F(PanelBinding, EveryLimitAtJustInsideAndJustOutsideItsBound) {
    // Word, the pixel axis, the value received and the value it must end at: each limit just
    // inside, exactly at and just outside its bound.
    struct Case {
        char step;
        int word;
        uint16_t axis;
        uint16_t received, limited;
    };
    // clang-format off
    const Case cases[] = {
        {'a', 0, 4096, 999, 999},    {'a', 0, 4096, 1000, 1000},  {'a', 0, 4096, 1001, 500},
        {'b', 11, 4096, 0, 0},       {'b', 11, 4096, 1, 1},       {'b', 11, 4096, 2, 0},
        {'c', 14, 4096, 949, 949},   {'c', 14, 4096, 950, 950},   {'c', 14, 4096, 951, 950},
        {'d', 14, 4096, 11, 11},     {'d', 14, 4096, 10, 10},     {'d', 14, 4096, 9, 10},
        {'e', 10, 4096, 6, 6},       {'e', 10, 4096, 7, 7},       {'e', 10, 4096, 8, 0},
        {'f', 2, 4096, 0, 0},        {'f', 2, 4096, 1, 1},        {'f', 2, 4096, 2, 1},
        {'g', 3, 4096, 2, 2},        {'g', 3, 4096, 3, 3},        {'g', 3, 4096, 4, 4},
        {'g', 3, 4096, 5, 4},        {'g', 3, 4096, 65535, 4},
        {'h', 7, 4096, 4095, 4095},  {'h', 7, 4096, 4096, 4096},  {'h', 7, 4096, 4097, 4096},
        {'h', 7, 2048, 2047, 2047},  {'h', 7, 2048, 2048, 2048},  {'h', 7, 2048, 2049, 2048},
        {'i', 7, 4096, 2, 2},        {'i', 7, 4096, 1, 1},        {'i', 7, 4096, 0, 1},
        {'j', 9, 4096, 1, 1},        {'j', 9, 4096, 2, 2},        {'j', 9, 4096, 3, 0},
        {'k', 4, 4096, 4095, 4095},  {'k', 4, 4096, 4096, 4096},  {'k', 4, 4096, 4097, 1},
        {'k', 4, 2048, 2047, 2047},  {'k', 4, 2048, 2048, 2048},  {'k', 4, 2048, 2049, 1},
        {'l', 5, 4096, 4095, 4095},  {'l', 5, 4096, 4096, 4096},  {'l', 5, 4096, 4097, 4096},
        {'l', 5, 2048, 2047, 2047},  {'l', 5, 2048, 2048, 2048},  {'l', 5, 2048, 2049, 2048},
        {'m', 5, 4096, 2, 2},        {'m', 5, 4096, 1, 1},        {'m', 5, 4096, 0, 1},
        {'n', 13, 4096, 2, 2},       {'n', 13, 4096, 3, 3},       {'n', 13, 4096, 4, 3},
        {'o', 8, 4096, 1023, 1023},  {'o', 8, 4096, 1024, 1024},  {'o', 8, 4096, 1025, 1024},
        {'p', 1, 4096, 0, 0},        {'p', 1, 4096, 1, 1},        {'p', 1, 4096, 2, 1},
        // Not limited at all.
        {'-', 6, 4096, 65535, 65535}, {'-', 6, 4096, 0, 0},       {'-', 12, 4096, 65535, 65535},
    };
    // clang-format on
    // Valid under both pixel axes; every other word must come through untouched.
    const uint16_t valid[15] = {700, 1, 0, 2, 100, 2000, 1500, 250, 900, 2, 5, 1, 4321, 2, 333};
    for (const Case &c : cases) {
        SCOPED_TRACE(::testing::Message() << "limit " << c.step << ", word " << c.word << " received "
                                          << c.received << " on a " << c.axis << "-pixel axis");
        ccdvirtpixel = c.axis;
        for (int k = 0; k < 15; ++k)
            parameter.set0[k] = valid[k];
        parameter.set0[c.word] = c.received;
        SetPanelValues();
        for (int k = 0; k < 15; ++k)
            EXPECT_EQ(parameter.set0[k], k == c.word ? c.limited : valid[k]) << "word " << k;
        for (const Binding &b : kBindings) {
            EXPECT_EQ(U16(*b.panel, b.control), b.word == c.word ? c.limited : valid[b.word])
                << "control of word " << b.word;
        }
    }
}

TEST_F(PanelBinding, LimitsLeaveSet1ScaleAndOffsetAlone) {
    LoadValidSet();
    for (int k = 0; k < 11; ++k)
        parameter.set1[k] = static_cast<uint16_t>(60000 + k);
    parameter.scale = 0xFFFFFFFFu;
    parameter.offset = std::numeric_limits<int32_t>::min();
    SetPanelValues();
    for (int k = 0; k < 11; ++k)
        EXPECT_EQ(parameter.set1[k], 60000 + k);
    EXPECT_EQ(parameter.scale, 0xFFFFFFFFu);
    EXPECT_EQ(parameter.offset, std::numeric_limits<int32_t>::min());
}

TEST_F(PanelBinding, ScaleConvertsThroughTheCalibrationControl) {
    SetCtrlVal(pCalib, CALIB_Scale, 1.5);
    GetPanelValues();
    EXPECT_EQ(parameter.scale, 24576u);

    SetCtrlVal(pCalib, CALIB_Scale, 0.00001); // 0.16384 truncates to 0
    GetPanelValues();
    EXPECT_EQ(parameter.scale, 0u);

    SetCtrlVal(pCalib, CALIB_Scale, 131072.0); // 2^31: above the signed range
    GetPanelValues();
    EXPECT_EQ(parameter.scale, 2147483648u);

    LoadValidSet();
    parameter.scale = 24576;
    SetPanelValues();
    float shown = 0.0f;
    GetCtrlVal(pCalib, CALIB_Scale, &shown);
    EXPECT_FLOAT_EQ(shown, 1.5f);

    parameter.scale = 4294950912u; // 262143 x 16384: taken as unsigned
    SetPanelValues();
    double big = 0.0;
    GetCtrlVal(pCalib, CALIB_Scale, &big);
    EXPECT_DOUBLE_EQ(big, 262143.0);
}

TEST(ScaleConversion, TruncatesAndWrapsWithoutUndefinedBehaviour) {
    EXPECT_EQ(ScaleFromFloat(1.0f), 16384u);
    EXPECT_EQ(ScaleFromFloat(1.5f), 24576u);
    EXPECT_EQ(ScaleFromFloat(0.00001f), 0u);
    EXPECT_EQ(ScaleFromFloat(1.00005f), 16384u); // 16384.8 truncates, never rounds up
    // At and above 2^31 the full unsigned range is used.
    EXPECT_EQ(ScaleFromFloat(131072.0f), 2147483648u);
    EXPECT_EQ(ScaleFromFloat(200000.5f), 3276808192u);
    EXPECT_EQ(ScaleFromFloat(262143.0f), 4294950912u);
    // A negative product gives the two's complement of its truncated value.
    EXPECT_EQ(ScaleFromFloat(-1.5f), 4294967296u - 24576u);
    EXPECT_EQ(ScaleFromFloat(-1.00005f), 4294967296u - 16384u);
    EXPECT_EQ(ScaleFromFloat(-0.00001f), 0u);
    // Beyond 32 bits only the low 32 bits remain.
    EXPECT_EQ(ScaleFromFloat(262144.0f), 0u);
    EXPECT_EQ(ScaleFromFloat(262145.0f), 16384u);
    // Nothing that cannot be a number of the 64-bit range turns into garbage.
    EXPECT_EQ(ScaleFromFloat(std::numeric_limits<float>::quiet_NaN()), 0u);
    EXPECT_EQ(ScaleFromFloat(std::numeric_limits<float>::infinity()), 0u);
    EXPECT_EQ(ScaleFromFloat(-std::numeric_limits<float>::infinity()), 0u);
    EXPECT_EQ(ScaleFromFloat(std::numeric_limits<float>::max()), 0u);
    EXPECT_EQ(ScaleFromFloat(-std::numeric_limits<float>::max()), 0u);

    EXPECT_FLOAT_EQ(ScaleToFloat(24576u), 1.5f);
    EXPECT_FLOAT_EQ(ScaleToFloat(0u), 0.0f);
    EXPECT_FLOAT_EQ(ScaleToFloat(2147483648u), 131072.0f); // not taken as negative
}

TEST_F(PanelBinding, ThresholdLineUsesAdcmax) {
    SetCtrlVal(pPara2, PARA2_SLIDEVideoThreshold, 50);
    GetPanelValues();
    for (uint16_t v : thdArray)
        ASSERT_EQ(v, 512);

    ADCMAX = 256;
    GetPanelValues();
    for (uint16_t v : thdArray)
        ASSERT_EQ(v, 128);

    LoadValidSet();
    parameter.set0[14] = 333; // 256 x 333 / 100 = 852.48
    SetPanelValues();
    for (uint16_t v : thdArray)
        ASSERT_EQ(v, 852);
}

TEST_F(PanelBinding, EveryReceivedSetRefreshesTheToleranceDisplayAndItsDimming) {
    // After a GET, a file or a reconnection the tolerance in mm and the tolerance field's dimming
    // follow the set that reached the panels, not the set before.
    struct Case {
        uint16_t variant, tolerance;
        uint32_t scale;
        int dimmed;
        double mm;
    };
    const Case cases[] = {
        {3, 250, 16384, 1, 0.25}, {0, 100, 32768, 0, 0.2}, {1, 4096, 16384, 1, 4.096}, {2, 1, 24576, 0, 0.0015},
    };
    for (const Case &c : cases) {
        SetCtrlAttribute(pPara1, PARA1_NEDITTolerance, ATTR_DIMMED, c.dimmed ? 0 : 1); // the other way
        SetCtrlVal(pHandle, PANEL_TOLVALUE, -1.0);
        LoadValidSet();
        parameter.set0[13] = c.variant;
        parameter.set0[7] = c.tolerance;
        parameter.scale = c.scale;
        SetPanelValues();
        EXPECT_EQ(U16(pPara1, PARA1_DROPHardware), c.variant);
        EXPECT_EQ(Dimmed(pPara1, PARA1_NEDITTolerance), c.dimmed) << "variant " << c.variant;
        double mm = 0;
        GetCtrlVal(pHandle, PANEL_TOLVALUE, &mm);
        EXPECT_DOUBLE_EQ(mm, c.mm) << "variant " << c.variant;
    }
}

TEST_F(PanelBinding, DrawsAxisCursorsAndBandsOverTheOldOnes) {
    DeleteGraphPlot(pHandle, PANEL_GRAPH, -1, VAL_DELAYED_DRAW);
    SetGraphCursor(pHandle, PANEL_GRAPH, 1, 77.0, 1.0);
    ccdvirtpixel = 2048;
    LoadValidSet();
    parameter.set0[4] = 100;
    parameter.set0[5] = 1900;
    parameter.set0[6] = 50;
    parameter.set0[7] = 100;
    SetPanelValues();

    int mode = -1;
    double lo = 0.0, hi = 0.0;
    GetAxisScalingMode(pHandle, PANEL_GRAPH, VAL_XAXIS, &mode, &lo, &hi);
    EXPECT_EQ(mode, VAL_MANUAL);
    EXPECT_DOUBLE_EQ(lo, 1.0);
    EXPECT_DOUBLE_EQ(hi, 2048.0);

    double x = 0.0, y = 0.0;
    GetGraphCursor(pHandle, PANEL_GRAPH, 1, &x, &y);
    EXPECT_DOUBLE_EQ(x, 77.0); // the setpoint cursor is not moved here
    GetGraphCursor(pHandle, PANEL_GRAPH, 2, &x, &y);
    EXPECT_DOUBLE_EQ(x, 100.0);
    EXPECT_DOUBLE_EQ(y, 0.75);
    GetGraphCursor(pHandle, PANEL_GRAPH, 3, &x, &y);
    EXPECT_DOUBLE_EQ(x, 1900.0);
    EXPECT_DOUBLE_EQ(y, 0.75);

    std::vector<GraphItem> items = GetGraphItems(pHandle, PANEL_GRAPH);
    ASSERT_EQ(items.size(), 2u);
    EXPECT_EQ(items[0].kind, GRAPH_ITEM_RECTANGLE);
    EXPECT_EQ(items[0].color, 0xA0A0A0);
    EXPECT_EQ(items[0].fillColor, 0xA0A0A0);
    EXPECT_DOUBLE_EQ(items[0].x1, 0.0);
    EXPECT_DOUBLE_EQ(items[0].y1, 0.0);
    EXPECT_DOUBLE_EQ(items[0].x2, 2048.0);
    EXPECT_DOUBLE_EQ(items[0].y2, 1.0);
    EXPECT_EQ(items[1].color, 0x00FF00);
    EXPECT_EQ(items[1].fillColor, 0x00FF00);
    EXPECT_DOUBLE_EQ(items[1].x1, -50.0); // signed: the band reaches below the axis
    EXPECT_DOUBLE_EQ(items[1].y1, 0.0);
    EXPECT_DOUBLE_EQ(items[1].x2, 150.0);
    EXPECT_DOUBLE_EQ(items[1].y2, 0.25);

    SetPanelValues();
    EXPECT_EQ(GetGraphItems(pHandle, PANEL_GRAPH).size(), 4u);
}

} // namespace
