// Binding of the parameter record to the panel controls, with the limits that hold a received
// set to what the sensor accepts, and the parameter decorations of the bar graph.
#include "params.h"

#include <type_traits>

#include "K-VOR-RNZazorU30.h"
#include "state.h"
#include "userint.h"

static_assert(std::is_same<uint16_t, unsigned short>::value, "set words are read as unsigned short");
static_assert(std::is_same<int32_t, int>::value, "the offset is read as int");

// The scale factor is fixed point with 14 fraction bits. The conversion keeps what the sensor
// has always been sent for out-of-range input, without undefined behaviour:
//  - the product is truncated toward zero and taken modulo 2^32, so products of 2^31 and above
//    use the full unsigned range and a negative product gives the two's complement of its
//    truncated value (-1.5 -> 2^32 - 24576);
//  - NaN, the infinities and products outside the signed 64-bit range give 0.
uint32_t ScaleFromFloat(double value) {
    const double product = value * 16384.0;
    const double kTwo63 = 9223372036854775808.0;
    if (!(product >= -kTwo63 && product < kTwo63)) return 0;
    const int64_t whole = static_cast<int64_t>(product); // in range: truncation toward zero
    return static_cast<uint32_t>(static_cast<uint64_t>(whole));
}

double ScaleToFloat(uint32_t scale) {
    return static_cast<double>(scale) / 16384.0; // exact: a double holds every such quotient
}

// Every element of the threshold line holds the same value, in converter counts.
static void FillThresholdLine(void) {
    const uint16_t level = static_cast<uint16_t>(ADCMAX * parameter.set0[14] / 100);
    for (int i = 0; i < 256; ++i)
        thdArray[i] = level;
}

void GetPanelValues(void) {
    uint16_t *w = parameter.set0;
    GetCtrlVal(pHandle, PANEL_NEDITEdgeLeft, &w[4]);
    GetCtrlVal(pHandle, PANEL_NEDITEdgeRight, &w[5]);
    GetCtrlVal(pPara1, PARA1_P11, &w[11]);
    GetCtrlVal(pPara1, PARA1_AnaMode, &w[10]);
    GetCtrlVal(pPara1, PARA1_P02, &w[2]);
    GetCtrlVal(pPara1, PARA1_EvalMode, &w[3]);
    GetCtrlVal(pPara1, PARA1_NEDITTolerance, &w[7]);
    GetCtrlVal(pPara1, PARA1_DROPHardware, &w[13]);
    GetCtrlVal(pPara1, PARA1_P08, &w[8]);
    GetCtrlVal(pPara1, PARA1_P09, &w[9]);
    GetCtrlVal(pPara2, PARA2_P00, &w[0]);
    GetCtrlVal(pPara2, PARA2_SLIDEVideoThreshold, &w[14]);
    GetCtrlVal(pPara2, PARA2_P01, &w[1]);
    GetCtrlVal(pPara2, PARA2_Setpoint, &w[6]);
    GetCtrlVal(pCalib, CALIB_P12, &w[12]);
    GetCtrlVal(pCalib, CALIB_Offset, &parameter.offset);
    double scale = 0.0;
    if (GetCtrlVal(pCalib, CALIB_Scale, &scale) >= 0) parameter.scale = ScaleFromFloat(scale);

    FillThresholdLine();
}

// Holds a received set to the ranges the sensor works with. The limits change the record itself,
// so a set sent or saved afterwards carries the limited values.
static void LimitParameters(void) {
    uint16_t *w = parameter.set0;
    // clang-format off
    if (w[0] > 1000) w[0] = 500;                      // a
    if (w[11] > 1) w[11] = 0;                         // b
    if (w[14] > 950) w[14] = 950;                     // c
    if (w[14] < 10) w[14] = 10;                       // d
    if (w[10] > 7) w[10] = 0;                         // e
    if (w[2] > 1) w[2] = 1;                           // f
    if (w[3] > 3) w[3] = 4;                           // g
    if (w[7] > ccdvirtpixel) w[7] = ccdvirtpixel;     // h
    if (w[7] < 1) w[7] = 1;                           // i
    if (w[9] > 2) w[9] = 0;                           // j
    if (w[4] > ccdvirtpixel) w[4] = 1;                // k
    if (w[5] > ccdvirtpixel) w[5] = ccdvirtpixel;     // l
    if (w[5] == 0) w[5] = 1;                          // m
    if (w[13] > 3) w[13] = 3;                         // n
    if (w[8] > 1024) w[8] = 1024;                     // o
    if (w[1] > 1) w[1] = 1;                           // p
    // clang-format on
}

void SetPanelValues(void) {
    // 1.
    LimitParameters();

    // 2.
    const double scale = ScaleToFloat(parameter.scale);

    // 3. Writing the hardware variant does not touch the tolerance's dimming: that follows the
    // operator's own selection only.
    const uint16_t *w = parameter.set0;
    SetCtrlVal(pPara1, PARA1_AnaMode, static_cast<int>(w[10]));
    SetCtrlVal(pPara1, PARA1_P02, static_cast<int>(w[2]));
    SetCtrlVal(pPara1, PARA1_EvalMode, static_cast<int>(w[3]));
    SetCtrlVal(pPara1, PARA1_P11, static_cast<int>(w[11]));
    SetCtrlVal(pPara1, PARA1_P09, static_cast<int>(w[9]));
    SetCtrlVal(pPara1, PARA1_DROPHardware, static_cast<int>(w[13]));
    SetCtrlVal(pPara1, PARA1_P08, static_cast<int>(w[8]));
    SetCtrlVal(pPara1, PARA1_NEDITTolerance, static_cast<int>(w[7]));
    SetCtrlVal(pPara2, PARA2_SLIDEVideoThreshold, static_cast<int>(w[14]));
    SetCtrlVal(pPara2, PARA2_P00, static_cast<int>(w[0]));
    SetCtrlVal(pPara2, PARA2_P01, static_cast<int>(w[1]));
    SetCtrlVal(pPara2, PARA2_Setpoint, static_cast<int>(w[6]));
    SetCtrlVal(pHandle, PANEL_NEDITEdgeLeft, static_cast<int>(w[4]));
    SetCtrlVal(pHandle, PANEL_NEDITEdgeRight, static_cast<int>(w[5]));
    SetCtrlVal(pCalib, CALIB_Scale, scale);
    SetCtrlVal(pCalib, CALIB_Offset, static_cast<int>(parameter.offset));
    SetCtrlVal(pCalib, CALIB_P12, static_cast<int>(w[12]));

    // 4.
    FillThresholdLine();

    // 5.
    const double axisEnd = static_cast<double>(ccdvirtpixel);
    SetAxisScalingMode(pHandle, PANEL_GRAPH, VAL_XAXIS, VAL_MANUAL, 1.0, axisEnd);

    // 6. The setpoint cursor stays where it is.
    SetGraphCursor(pHandle, PANEL_GRAPH, 2, static_cast<double>(w[4]), 0.75);
    SetGraphCursor(pHandle, PANEL_GRAPH, 3, static_cast<double>(w[5]), 0.75);

    // 7. The grey background covers the bands drawn before.
    PlotRectangle(pHandle, PANEL_GRAPH, 0.0, 0.0, axisEnd, 1.0, VAL_LT_GRAY, VAL_LT_GRAY);

    // 8. The tolerance band; signed, so a tolerance wider than the setpoint reaches below 0.
    const int setpoint = w[6];
    const int tolerance = w[7];
    PlotRectangle(pHandle, PANEL_GRAPH, static_cast<double>(setpoint - tolerance), 0.0,
                  static_cast<double>(setpoint + tolerance), 0.25, VAL_GREEN, VAL_GREEN);
}
