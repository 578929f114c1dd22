// The live view of one raw-data answer: the indicators, the in-tolerance colour of the measured
// value, and the bar graph of the CCD line with its cursors, edge bars and tolerance window.
#include "measure.h"

#include "K-VOR-RNZazorU30.h"
#include "feed_internal.h"
#include "protocol.h"
#include "state.h"
#include "userint.h"

namespace {

// Bar graph geometry: y runs from 0 (bottom) to 1. The window bars overlap the lower end of the
// edge bars and are drawn after them, so they stay visible.
constexpr double kCursorY = 0.75;
constexpr double kEdgeBarBottom = 0.25;
constexpr double kEdgeBarTop = 1.0;
constexpr double kWindowBarBottom = 0.0;
constexpr double kWindowBarTop = 0.35;

void PlotEdgeBar(int from, int to) {
    PlotRectangle(pHandle, PANEL_GRAPH, from, kEdgeBarBottom, to, kEdgeBarTop, VAL_RED, VAL_RED);
}

// A window bar is held inside the axis at both ends unless the caller says otherwise: a start
// below 0 moves to the first pixel, an end past the last but one moves to the last pixel.
void PlotWindowBar(int from, int to, bool limited) {
    if (limited) {
        if (from < 0) from = 1;
        if (to > ccdvirtpixel - 1) to = ccdvirtpixel;
    }
    PlotRectangle(pHandle, PANEL_GRAPH, from, kWindowBarBottom, to, kWindowBarTop, VAL_GREEN, VAL_GREEN);
}

// The numeric indicators: edges, value, the analog extremes and the analog output.
void ShowIndicators(void) {
    SetCtrlVal(pHandle, PANEL_LEDGE, static_cast<unsigned int>(Ledge));
    SetCtrlVal(pHandle, PANEL_REDGE, static_cast<unsigned int>(Redge));
    SetCtrlVal(pHandle, PANEL_MVALUEPIX, static_cast<unsigned int>(Mvalue));
    SetCtrlVal(pHandle, PANEL_ANAMAX, static_cast<unsigned int>(anaMax));
    SetCtrlVal(pHandle, PANEL_ANAMIN, static_cast<unsigned int>(anaMin));
    SetCtrlVal(pHandle, PANEL_ANAOUT, AnalogOutput(parameter.set0[SET0_ANALOG_MODE], Mvalue, anaMax, anaMin));
}

// The position that cursor 1 marks: one edge, or the centre of both.
uint16_t MarkedPosition(uint16_t evalMode) {
    if (evalMode == 0) return Ledge;
    if (evalMode == 1) return Redge;
    if (Ledge == 0 || Redge == 0) return 1;
    return static_cast<uint16_t>((static_cast<int>(Ledge) + static_cast<int>(Redge)) / 2);
}

// Cursor 1 stays inside the usable range and on the axis.
uint16_t HeldToRange(uint16_t P) {
    if (P < pixB) P = pixB;
    if (P > pixE) P = pixE;
    if (P < 1) P = 1;
    if (P > ccdvirtpixel) P = ccdvirtpixel;
    return P;
}

// The measured value in millimetres, coloured by the tolerance band as the sensor gives it (not
// held to the axis), and the tolerance the answer reports, in millimetres.
void ShowMeasuredValue(int setpoint) {
    const int colour = InToleranceBand(Mvalue, setpoint, tol, false) ? VAL_DK_GREEN : VAL_RED;
    SetCtrlAttribute(pHandle, PANEL_MVALUE, ATTR_TEXT_BGCOLOR, colour);
    // umValue is unsigned: a value with its top bit set is a large distance, never a negative one.
    SetCtrlVal(pHandle, PANEL_MVALUE, static_cast<double>(umValue) / 1000.0);
    SetCtrlVal(pHandle, PANEL_TOLVALUE, ToleranceMm(parameter.scale, tol));
}

// Edge bars: what the sensor saw between the edges it found.
void PlotEdgeBars(void) {
    if (edcnt == 1) {
        if (mvstart < mvend) {
            PlotEdgeBar(Ledge, pixE);
        } else {
            PlotEdgeBar(1, Ledge);
        }
    } else if (edcnt == 2) {
        PlotEdgeBar(Ledge, Redge);
    } else if (edcnt >= 3) {
        PlotEdgeBar(1, Ledge);
        PlotEdgeBar(Redge, pixE);
    }
}

// The tolerance window. In evaluation mode 2 it is a pair of bars centred half the
// setpoint to either side of P, each tol/2 wide to either side; there is nothing to centre them
// on without an edge. Otherwise one bar around the setpoint.
void PlotToleranceWindow(uint16_t evalMode, int P, int setpoint) {
    if (evalMode == 2) {
        if (edcnt == 0) return;
        const int h = setpoint / 2;
        const int t = tol / 2;
        PlotWindowBar(P - h - t, P - h + t, true);
        PlotWindowBar(P + h - t, P + h + t, false);
    } else {
        PlotWindowBar(setpoint - tol, setpoint + tol, true);
    }
}

} // namespace

void PlotVIDEOBarGraph(void) {
    const int setpoint = parameter.set0[SET0_SETPOINT];
    const uint16_t evalMode = parameter.set0[SET0_EVAL_MODE];

    ShowIndicators();
    uint16_t P = MarkedPosition(evalMode);
    ShowMeasuredValue(setpoint);

    // The axis and the two edge-setting cursors.
    SetAxisScalingMode(pHandle, PANEL_GRAPH, VAL_XAXIS, VAL_MANUAL, 1.0, static_cast<double>(ccdvirtpixel));
    SetGraphCursor(pHandle, PANEL_GRAPH, 2, parameter.set0[SET0_LEFT_EDGE], kCursorY);
    SetGraphCursor(pHandle, PANEL_GRAPH, 3, parameter.set0[SET0_RIGHT_EDGE], kCursorY);

    // Each answer replaces the whole picture, the static background bar included.
    DeleteGraphPlot(pHandle, PANEL_GRAPH, -1, VAL_DELAYED_DRAW);
    P = HeldToRange(P);
    SetGraphCursor(pHandle, PANEL_GRAPH, 1, P, kCursorY);
    PlotEdgeBars();
    PlotToleranceWindow(evalMode, P, setpoint);
}
