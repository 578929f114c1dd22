// The strip chart of the last 100 raw-data answers, the video curve, and the two array
// operations that age the history.
#include "measure.h"

#include "K-VOR-RNZazorU30.h"
#include "protocol.h"
#include "state.h"
#include "userint.h"

namespace {

constexpr int kHistoryValues = 600; // 100 samples of 6 interleaved traces
constexpr int kTraces = 6;
constexpr int kNewest = kHistoryValues - kTraces;
constexpr int kPointsPerScreen = 101;
constexpr int kScrollContinuous = 1;

// Tolerance limits in dark green, setpoint black, the measured value and the two analog-mode
// traces red.
constexpr int kTraceColour[kTraces] = {VAL_DK_GREEN, VAL_DK_GREEN, VAL_BLACK, VAL_RED, VAL_RED, VAL_RED};

constexpr int kNoData = -20003;
constexpr int kShiftTooLarge = -20102;

constexpr int kVideoPoints = 256;

// Traces 5 and 6 follow the analog mode.
void AnalogModeTraces(int lastButOne, int *trace5, int *trace6) {
    *trace6 = 1;
    *trace5 = lastButOne;
    switch (parameter.set0[SET0_ANALOG_MODE]) {
    case 0:
    case 1:
        *trace5 = Mvalue;
        *trace6 = Mvalue;
        break;
    case 2:
        *trace5 = Mvalue;
        *trace6 = anaMax;
        break;
    case 3:
        *trace5 = (anaMin == lastButOne) ? 1 : anaMin;
        *trace6 = Mvalue;
        break;
    case 4:
        *trace5 = anaMin;
        *trace6 = anaMax;
        break;
    default:
        break;
    }
}

// The zoom window: around the band, widened to keep the measured value in sight, and held to
// the pixel axis.
void ZoomWindow(int setpoint, int lastButOne, int *low, int *high) {
    const int reach = tol < 40 ? 40 : 2 * tol;
    const int margin = tol < 40 ? 60 : 100;
    *low = setpoint - reach;
    *high = setpoint + reach;
    if (Mvalue > *high) *high = Mvalue + margin;
    if (Mvalue < *low) *low = Mvalue - margin;
    if (*high > lastButOne) *high = lastButOne;
    if (*low < 1) *low = 1;
}

// One screen holds the whole history; zoomed, the y axis follows the window.
void ShowHistory(int low, int high) {
    SetCtrlAttribute(pHandle, PANEL_STRIPCHART, ATTR_POINTS_PER_SCREEN, kPointsPerScreen);
    SetCtrlAttribute(pHandle, PANEL_STRIPCHART, ATTR_SCROLL_MODE, kScrollContinuous);
    int zoom = 0;
    GetCtrlVal(pHandle, PANEL_ZOOM, &zoom);
    if (zoom == 0) {
        SetAxisScalingMode(pHandle, PANEL_STRIPCHART, VAL_LEFT_YAXIS, VAL_MANUAL, 0.0,
                           static_cast<double>(ccdvirtpixel));
    } else {
        SetAxisScalingMode(pHandle, PANEL_STRIPCHART, VAL_LEFT_YAXIS, VAL_MANUAL, low, high);
    }
    for (int trace = 1; trace <= kTraces; ++trace)
        SetTraceAttribute(pHandle, PANEL_STRIPCHART, trace, ATTR_TRACE_COLOR, kTraceColour[trace - 1]);
    SetCtrlAttribute(pHandle, PANEL_STRIPCHART, ATTR_NUM_TRACES, kTraces);
    // The whole history again, so the chart always shows exactly these 100 samples.
    PlotStripChart(pHandle, PANEL_STRIPCHART, arrayNORM, kHistoryValues, 0, 0, VAL_DOUBLE);
}

} // namespace

void PlotRAWGraph(void) {
    const int setpoint = parameter.set0[SET0_SETPOINT];
    const int lastButOne = static_cast<int>(ccdvirtpixel) - 1;
    int trace5;
    int trace6;
    AnalogModeTraces(lastButOne, &trace5, &trace6);

    // Age the history in place: the oldest sample drops out, the newest slot is freed.
    Shift(arrayNORM, kHistoryValues, -kTraces, arrayNORM);

    // The band around the setpoint, held to the axis.
    int upper = setpoint + tol;
    int lower = setpoint - tol;
    if (upper > lastButOne) upper = lastButOne;
    if (lower < 1) lower = 1;
    int low;
    int high;
    ZoomWindow(setpoint, lastButOne, &low, &high);

    // In tolerance against the limits as drawn, both ends included.
    const int colour = (Mvalue > upper || Mvalue < lower) ? VAL_RED : VAL_DK_GREEN;
    SetCtrlAttribute(pHandle, PANEL_MVALUE, ATTR_TEXT_BGCOLOR, colour);

    arrayNORM[kNewest + 0] = upper;
    arrayNORM[kNewest + 1] = lower;
    arrayNORM[kNewest + 2] = setpoint;
    arrayNORM[kNewest + 3] = Mvalue;
    arrayNORM[kNewest + 4] = trace5;
    arrayNORM[kNewest + 5] = trace6;
    ShowHistory(low, high);
}

void PlotVIDEOCurve(const uint16_t *video, const uint16_t *threshold, const double *x) {
    SetAxisScalingMode(pHandle, PANEL_VIDEOGRAPH, VAL_LEFT_YAXIS, VAL_MANUAL, 0.0,
                       static_cast<double>(ADCMAX));
    DeleteGraphPlot(pHandle, PANEL_VIDEOGRAPH, -1, VAL_IMMEDIATE_DRAW);
    PlotXY(pHandle, PANEL_VIDEOGRAPH, x, video, kVideoPoints, VAL_DOUBLE, VAL_UNSIGNED_SHORT_INTEGER,
           VAL_CONNECTED_POINTS, VAL_NO_POINT, VAL_SOLID, 1, VAL_RED);
    PlotXY(pHandle, PANEL_VIDEOGRAPH, x, threshold, kVideoPoints, VAL_DOUBLE, VAL_UNSIGNED_SHORT_INTEGER,
           VAL_CONNECTED_POINTS, VAL_NO_POINT, VAL_SOLID, 1, VAL_DK_GREEN);
}

int Copy1D(const double *input, int count, double *output) {
    if (count < 1) return kNoData;
    for (int i = 0; i < count; ++i)
        output[i] = input[i];
    return 0;
}

int Shift(const double *input, int count, int shift, double *output) {
    if (count < 1) return kNoData;
    // Compared without taking the absolute value, which has no result for the most negative int.
    if (shift >= count || shift <= -count) return kShiftTooLarge;
    if (shift == 0) return Copy1D(input, count, output);

    // Each copy runs from the far end towards the freed end, so input and output may be the
    // same array.
    if (shift > 0) {
        for (int i = count - 1; i >= shift; --i)
            output[i] = input[i - shift];
        for (int i = 0; i < shift; ++i)
            output[i] = 0.0;
    } else {
        const int s = -shift;
        for (int i = 0; i <= count - s - 1; ++i)
            output[i] = input[i + s];
        for (int i = count - s; i < count; ++i)
            output[i] = 0.0;
    }
    return 0;
}
