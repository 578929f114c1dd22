// Binding of the parameter record to the panel controls, with the limits that hold a received
// set to what the sensor accepts, and the parameter decorations of the bar graph.
#include "params.h"

#include <type_traits>

#include "K-VOR-RNZazorU30.h"
#include "protocol.h"
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
    const uint16_t level = static_cast<uint16_t>(ADCMAX * parameter.set0[SET0_VIDEO_THRESHOLD] / 100);
    for (int i = 0; i < 256; ++i)
        thdArray[i] = level;
}

void GetPanelValues(void) {
    uint16_t *w = parameter.set0;
    GetCtrlVal(pHandle, PANEL_NEDITEdgeLeft, &w[SET0_LEFT_EDGE]);
    GetCtrlVal(pHandle, PANEL_NEDITEdgeRight, &w[SET0_RIGHT_EDGE]);
    GetCtrlVal(pPara1, PARA1_P11, &w[SET0_P11]);
    GetCtrlVal(pPara1, PARA1_AnaMode, &w[SET0_ANALOG_MODE]);
    GetCtrlVal(pPara1, PARA1_P02, &w[SET0_P02]);
    GetCtrlVal(pPara1, PARA1_EvalMode, &w[SET0_EVAL_MODE]);
    GetCtrlVal(pPara1, PARA1_NEDITTolerance, &w[SET0_TOLERANCE]);
    GetCtrlVal(pPara1, PARA1_DROPHardware, &w[SET0_HARDWARE_VARIANT]);
    GetCtrlVal(pPara1, PARA1_P08, &w[SET0_P08]);
    GetCtrlVal(pPara1, PARA1_P09, &w[SET0_P09]);
    GetCtrlVal(pPara2, PARA2_P00, &w[SET0_P00]);
    GetCtrlVal(pPara2, PARA2_SLIDEVideoThreshold, &w[SET0_VIDEO_THRESHOLD]);
    GetCtrlVal(pPara2, PARA2_P01, &w[SET0_P01]);
    GetCtrlVal(pPara2, PARA2_Setpoint, &w[SET0_SETPOINT]);
    GetCtrlVal(pCalib, CALIB_P12, &w[SET0_P12]);
    GetCtrlVal(pCalib, CALIB_Offset, &parameter.offset);
    double scale = 0.0;
    if (GetCtrlVal(pCalib, CALIB_Scale, &scale) >= 0) parameter.scale = ScaleFromFloat(scale);

    FillThresholdLine();
}

// Holds a received set to the ranges the sensor works with. The limits change the record itself,
// so a set sent or saved afterwards carries the limited values. The order matters: the video
// threshold is cut from above before it is raised from below, and so on.
void LimitParameters(void) {
    uint16_t *w = parameter.set0;
    const uint16_t pixels = ccdvirtpixel;
    if (w[SET0_P00] > 1000) w[SET0_P00] = 500;                    // out of range: back to the middle
    if (w[SET0_P11] > 1) w[SET0_P11] = 0;                         // a switch
    if (w[SET0_VIDEO_THRESHOLD] > 950) w[SET0_VIDEO_THRESHOLD] = 950; // held to 10 .. 950
    if (w[SET0_VIDEO_THRESHOLD] < 10) w[SET0_VIDEO_THRESHOLD] = 10;
    if (w[SET0_ANALOG_MODE] > 7) w[SET0_ANALOG_MODE] = 0;         // unknown analog mode: the value
    if (w[SET0_P02] > 1) w[SET0_P02] = 1;                         // a switch
    if (w[SET0_EVAL_MODE] > 3) w[SET0_EVAL_MODE] = 4;             // 4 and above: the gap
    if (w[SET0_TOLERANCE] > pixels) w[SET0_TOLERANCE] = pixels;   // the band fits the line
    if (w[SET0_TOLERANCE] < 1) w[SET0_TOLERANCE] = 1;
    if (w[SET0_P09] > 2) w[SET0_P09] = 0;
    if (w[SET0_LEFT_EDGE] > pixels) w[SET0_LEFT_EDGE] = 1;        // off the line: from its start
    if (w[SET0_RIGHT_EDGE] > pixels) w[SET0_RIGHT_EDGE] = pixels; // off the line: to its end
    if (w[SET0_RIGHT_EDGE] == 0) w[SET0_RIGHT_EDGE] = 1;
    if (w[SET0_HARDWARE_VARIANT] > 3) w[SET0_HARDWARE_VARIANT] = 3;
    if (w[SET0_P08] > 1024) w[SET0_P08] = 1024;
    if (w[SET0_P01] > 1) w[SET0_P01] = 1;                         // a switch
}

// Writes the record into the controls, in the order the pages are filled.
static void ShowParameterControls(void) {
    const uint16_t *w = parameter.set0;
    SetCtrlVal(pPara1, PARA1_AnaMode, static_cast<int>(w[SET0_ANALOG_MODE]));
    SetCtrlVal(pPara1, PARA1_P02, static_cast<int>(w[SET0_P02]));
    SetCtrlVal(pPara1, PARA1_EvalMode, static_cast<int>(w[SET0_EVAL_MODE]));
    SetCtrlVal(pPara1, PARA1_P11, static_cast<int>(w[SET0_P11]));
    SetCtrlVal(pPara1, PARA1_P09, static_cast<int>(w[SET0_P09]));
    SetCtrlVal(pPara1, PARA1_DROPHardware, static_cast<int>(w[SET0_HARDWARE_VARIANT]));
    SetCtrlVal(pPara1, PARA1_P08, static_cast<int>(w[SET0_P08]));
    SetCtrlVal(pPara1, PARA1_NEDITTolerance, static_cast<int>(w[SET0_TOLERANCE]));
    SetCtrlVal(pPara2, PARA2_SLIDEVideoThreshold, static_cast<int>(w[SET0_VIDEO_THRESHOLD]));
    SetCtrlVal(pPara2, PARA2_P00, static_cast<int>(w[SET0_P00]));
    SetCtrlVal(pPara2, PARA2_P01, static_cast<int>(w[SET0_P01]));
    SetCtrlVal(pPara2, PARA2_Setpoint, static_cast<int>(w[SET0_SETPOINT]));
    SetCtrlVal(pHandle, PANEL_NEDITEdgeLeft, static_cast<int>(w[SET0_LEFT_EDGE]));
    SetCtrlVal(pHandle, PANEL_NEDITEdgeRight, static_cast<int>(w[SET0_RIGHT_EDGE]));
    SetCtrlVal(pCalib, CALIB_Scale, ScaleToFloat(parameter.scale));
    SetCtrlVal(pCalib, CALIB_Offset, static_cast<int>(parameter.offset));
    SetCtrlVal(pCalib, CALIB_P12, static_cast<int>(w[SET0_P12]));
}

// The static bar graph: the axis, the edge cursors, the grey background over the bands drawn
// before, and the tolerance band (signed, so a tolerance wider than the setpoint reaches below 0).
static void PlotParameterBars(void) {
    const uint16_t *w = parameter.set0;
    const double axisEnd = static_cast<double>(ccdvirtpixel);
    SetAxisScalingMode(pHandle, PANEL_GRAPH, VAL_XAXIS, VAL_MANUAL, 1.0, axisEnd);
    // The setpoint cursor stays where it is.
    SetGraphCursor(pHandle, PANEL_GRAPH, 2, static_cast<double>(w[SET0_LEFT_EDGE]), 0.75);
    SetGraphCursor(pHandle, PANEL_GRAPH, 3, static_cast<double>(w[SET0_RIGHT_EDGE]), 0.75);
    PlotRectangle(pHandle, PANEL_GRAPH, 0.0, 0.0, axisEnd, 1.0, VAL_LT_GRAY, VAL_LT_GRAY);
    const int setpoint = w[SET0_SETPOINT];
    const int tolerance = w[SET0_TOLERANCE];
    PlotRectangle(pHandle, PANEL_GRAPH, static_cast<double>(setpoint - tolerance), 0.0,
                  static_cast<double>(setpoint + tolerance), 0.25, VAL_GREEN, VAL_GREEN);
}

void ShowToleranceDisplay(void) {
    const uint16_t variant = parameter.set0[SET0_HARDWARE_VARIANT];
    // Hardware variants 1 and 3 work with a fixed window: their tolerance is not set here.
    SetCtrlAttribute(pPara1, PARA1_NEDITTolerance, ATTR_DIMMED, (variant == 1 || variant == 3) ? 1 : 0);
    // Worked in double: the 32-bit scale times a 16-bit tolerance does not fit 32 bits.
    SetCtrlVal(pHandle, PANEL_TOLVALUE,
               static_cast<double>(parameter.scale) * static_cast<double>(parameter.set0[SET0_TOLERANCE]) /
                   16384000.0);
}

void SetPanelValues(void) {
    LimitParameters();
    ShowParameterControls();
    FillThresholdLine();
    PlotParameterBars();
    // The tolerance in mm and its dimming follow every set that reaches the panels: after a GET,
    // a parameter file or a reconnection they would otherwise show the set before.
    ShowToleranceDisplay();
}
