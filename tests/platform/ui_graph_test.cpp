// Graphs and strip charts: plots read back, pooled plot objects, cursors, axes, repaints.
#include <gtest/gtest.h>

#include <qcustomplot.h>

#include <QImage>
#include <QTemporaryDir>

#include <cmath>
#include <cstdint>
#include <limits>

#include "testhooks.h"
#include "platform_test_util.h"
#include "userint.h"
#include "utility.h"

namespace {

const char *kGraphs = R"({
 "panels": [
  {"resource_id": 3, "name": "G", "title": "Graphs", "width": 900, "height": 700,
   "controls": [
    {"name": "GRAPH", "kind": "graph", "left": 10, "top": 30, "width": 600, "height": 150,
     "label": "CCD line", "x_min": 1, "x_max": 4096, "y_min": 0, "y_max": 1, "cursors": 3},
    {"name": "PLAIN", "kind": "graph", "left": 10, "top": 220, "width": 300, "height": 150},
    {"name": "STRIP", "kind": "strip_chart", "left": 10, "top": 420, "width": 600,
     "height": 200, "label": "History", "points_per_screen": 5, "traces": 2,
     "y_min": 0, "y_max": 4096}
   ]}
 ]})";

enum { GRAPH = 2, PLAIN, STRIP };

class Graphs : public ::testing::Test {
  protected:
    void SetUp() override {
        RegisterRecorders();
        h = LoadPanel(0, file.path().c_str(), 3);
        ASSERT_GT(h, 0);
    }
    void TearDown() override {
        if (h > 0) DiscardPanel(h);
    }
    QCustomPlot *Plot(int control) {
        return qobject_cast<QCustomPlot *>(static_cast<QWidget *>(CtrlWidget(h, control)));
    }
    PanelFile file{kGraphs};
    int h = 0;
};

TEST_F(Graphs, PlotsReadBackInOrderAndDeleteAllEmptiesTheGraph) {
    const int grey = PlotRectangle(h, GRAPH, 0.0, 0.0, 4096.0, 1.0, 0xA0A0A0, 0xA0A0A0);
    // Right to left and top to bottom: kept as given, drawn the right way round.
    const int bar = PlotRectangle(h, GRAPH, 900.0, 1.0, 300.0, 0.25, 0xFF0000, 0x00FF00);
    const double x[3] = {1.0, 2.0, 3.0};
    const std::uint16_t y[3] = {10, 20, 65535};
    const int curve = PlotXY(h, GRAPH, x, y, 3, VAL_DOUBLE, VAL_UNSIGNED_SHORT_INTEGER, VAL_CONNECTED_POINTS,
                             VAL_NO_POINT, VAL_SOLID, 1, 0x008000);
    ASSERT_GT(grey, 0);
    ASSERT_GT(bar, 0);
    ASSERT_GT(curve, 0);
    EXPECT_NE(grey, bar);

    std::vector<GraphItem> items = GetGraphItems(h, GRAPH);
    ASSERT_EQ(items.size(), 3u);
    EXPECT_EQ(items[0].handle, grey);
    EXPECT_EQ(items[1].kind, GRAPH_ITEM_RECTANGLE);
    EXPECT_EQ(items[1].color, 0xFF0000);
    EXPECT_EQ(items[1].fillColor, 0x00FF00);
    EXPECT_DOUBLE_EQ(items[1].x1, 900.0);
    EXPECT_DOUBLE_EQ(items[1].x2, 300.0);
    EXPECT_DOUBLE_EQ(items[1].y2, 0.25);
    EXPECT_EQ(items[2].kind, GRAPH_ITEM_XY);
    EXPECT_EQ(items[2].color, 0x008000);
    EXPECT_EQ(items[2].y, (std::vector<double>{10.0, 20.0, 65535.0}));
    EXPECT_EQ(items[2].x, (std::vector<double>{1.0, 2.0, 3.0}));

    auto *rect = qobject_cast<QCPItemRect *>(Plot(GRAPH)->item(Plot(GRAPH)->itemCount() - 1));
    ASSERT_NE(rect, nullptr);
    EXPECT_DOUBLE_EQ(rect->topLeft->coords().x(), 300.0);
    EXPECT_DOUBLE_EQ(rect->bottomRight->coords().x(), 900.0);

    EXPECT_EQ(DeleteGraphPlot(h, GRAPH, bar, VAL_IMMEDIATE_DRAW), 0);
    items = GetGraphItems(h, GRAPH);
    ASSERT_EQ(items.size(), 2u);
    EXPECT_EQ(items[1].handle, curve);
    EXPECT_EQ(DeleteGraphPlot(h, GRAPH, bar, VAL_IMMEDIATE_DRAW), UIEBadValue);
    EXPECT_EQ(DeleteGraphPlot(h, GRAPH, -1, VAL_DELAYED_DRAW), 0);
    EXPECT_TRUE(GetGraphItems(h, GRAPH).empty());
    EXPECT_EQ(PlotRectangle(h, 99, 0, 0, 1, 1, 0, 0), UIEInvalidControl);
    EXPECT_EQ(PlotXY(h, STRIP, x, y, 3, VAL_DOUBLE, VAL_DOUBLE, 0, 0, 0, 1, 0), UIEInvalidControl);
}

// A graph that is cleared and redrawn for every answer reuses its plot objects.
TEST_F(Graphs, RedrawingReusesThePlotObjects) {
    QCustomPlot *plot = Plot(GRAPH);
    const int itemsBefore = plot->itemCount(); // the cursors
    const double x[4] = {1, 2, 3, 4};
    const double y[4] = {4, 3, 2, 1};
    for (int pass = 0; pass < 500; ++pass) {
        DeleteGraphPlot(h, GRAPH, -1, VAL_DELAYED_DRAW);
        PlotRectangle(h, GRAPH, 10, 0.25, 20 + pass, 1.0, 0xFF0000, 0xFF0000);
        PlotRectangle(h, GRAPH, 30, 0.0, 40, 0.35, 0x00FF00, 0x00FF00);
        PlotXY(h, GRAPH, x, y, 4, VAL_DOUBLE, VAL_DOUBLE, VAL_CONNECTED_POINTS, VAL_NO_POINT, VAL_SOLID, 1,
               0xFF0000);
    }
    EXPECT_EQ(plot->itemCount(), itemsBefore + 2);
    EXPECT_EQ(plot->plottableCount(), 1);
    const std::vector<GraphItem> items = GetGraphItems(h, GRAPH);
    ASSERT_EQ(items.size(), 3u);
    EXPECT_DOUBLE_EQ(items[0].x2, 519.0);

    // Reused objects are drawn in the order of the latest plots: green over red.
    DeleteGraphPlot(h, GRAPH, -1, VAL_DELAYED_DRAW);
    PlotRectangle(h, GRAPH, 0, 0, 1, 1, 0x00FF00, 0x00FF00);
    PlotRectangle(h, GRAPH, 0, 0, 1, 1, 0xFF0000, 0xFF0000);
    std::vector<QColor> order;
    for (QCPLayerable *l : plot->layer("main")->children())
        if (auto *r = qobject_cast<QCPItemRect *>(l))
            if (r->visible()) order.push_back(r->brush().color());
    EXPECT_EQ(order, (std::vector<QColor>{QColor(0, 255, 0), QColor(255, 0, 0)}));
}

TEST_F(Graphs, CursorsAndAxesReadBack) {
    EXPECT_EQ(SetGraphCursor(h, GRAPH, 2, 120.0, 0.75), 0);
    EXPECT_EQ(SetGraphCursor(h, GRAPH, 3, 3900.0, 1.0), 0);
    double x = 0, y = 0;
    EXPECT_EQ(GetGraphCursor(h, GRAPH, 2, &x, &y), 0);
    EXPECT_DOUBLE_EQ(x, 120.0);
    EXPECT_DOUBLE_EQ(y, 0.75);
    EXPECT_EQ(GetGraphCursor(h, GRAPH, 3, &x, &y), 0);
    EXPECT_DOUBLE_EQ(x, 3900.0);
    EXPECT_EQ(SetGraphCursor(h, GRAPH, 4, 1.0, 1.0), UIEBadValue);
    EXPECT_EQ(SetGraphCursor(h, GRAPH, 0, 1.0, 1.0), UIEBadValue);
    EXPECT_EQ(SetGraphCursor(h, PLAIN, 1, 1.0, 1.0), UIEBadValue); // a graph without cursors
    // Deleting the plots leaves the cursors.
    DeleteGraphPlot(h, GRAPH, -1, VAL_IMMEDIATE_DRAW);
    EXPECT_EQ(GetGraphCursor(h, GRAPH, 2, &x, &y), 0);
    EXPECT_DOUBLE_EQ(x, 120.0);

    int mode = -1;
    double lo = 0, hi = 0;
    EXPECT_EQ(SetAxisScalingMode(h, GRAPH, VAL_XAXIS, VAL_MANUAL, 1.0, 1024.0), 0);
    EXPECT_EQ(GetAxisScalingMode(h, GRAPH, VAL_XAXIS, &mode, &lo, &hi), 0);
    EXPECT_EQ(mode, VAL_MANUAL);
    EXPECT_DOUBLE_EQ(lo, 1.0);
    EXPECT_DOUBLE_EQ(hi, 1024.0);
    // An empty or reversed range is refused and changes nothing.
    EXPECT_LT(SetAxisScalingMode(h, GRAPH, VAL_XAXIS, VAL_MANUAL, 5.0, 5.0), 0);
    EXPECT_LT(SetAxisScalingMode(h, GRAPH, VAL_XAXIS, VAL_MANUAL, 9.0, 2.0), 0);
    GetAxisScalingMode(h, GRAPH, VAL_XAXIS, &mode, &lo, &hi);
    EXPECT_DOUBLE_EQ(lo, 1.0);
    EXPECT_DOUBLE_EQ(hi, 1024.0);
    EXPECT_EQ(SetAxisScalingMode(h, STRIP, VAL_LEFT_YAXIS, VAL_MANUAL, 100.0, 200.0), 0);
    GetAxisScalingMode(h, STRIP, VAL_LEFT_YAXIS, &mode, &lo, &hi);
    EXPECT_DOUBLE_EQ(lo, 100.0);
    EXPECT_DOUBLE_EQ(hi, 200.0);
}

TEST_F(Graphs, ManyChangesGiveOneRepaintPerEventPass) {
    DisplayPanel(h);
    PollUntil([&] { return GraphRepaintCount(h, GRAPH) > 0; }, 2.0);
    for (int i = 0; i < 5; ++i)
        ProcessSystemEvents();
    const long before = GraphRepaintCount(h, GRAPH);
    for (int i = 0; i < 50; ++i) {
        DeleteGraphPlot(h, GRAPH, -1, VAL_IMMEDIATE_DRAW);
        PlotRectangle(h, GRAPH, i, 0, i + 10, 1, 0xFF0000, 0xFF0000);
        SetGraphCursor(h, GRAPH, 1, i, 0.75);
    }
    EXPECT_EQ(GraphRepaintCount(h, GRAPH), before); // nothing drawn yet
    ASSERT_TRUE(PollUntil([&] { return GraphRepaintCount(h, GRAPH) > before; }, 2.0));
    for (int i = 0; i < 5; ++i)
        ProcessSystemEvents();
    EXPECT_EQ(GraphRepaintCount(h, GRAPH), before + 1);
}

TEST_F(Graphs, StripChartKeepsPointsPerScreenOfEachTrace) {
    // Interleaved by trace: value k belongs to trace k % 2.
    const double first[6] = {1, 10, 2, 20, 3, 30};
    EXPECT_EQ(PlotStripChart(h, STRIP, first, 6, 0, 0, VAL_DOUBLE), 0);
    EXPECT_EQ(GetStripChartTrace(h, STRIP, 1), (std::vector<double>{1, 2, 3}));
    EXPECT_EQ(GetStripChartTrace(h, STRIP, 2), (std::vector<double>{10, 20, 30}));
    const int more[8] = {4, 40, 5, 50, 6, 60, 7, 70};
    EXPECT_EQ(PlotStripChart(h, STRIP, more, 8, 0, 0, VAL_INTEGER), 0);
    EXPECT_EQ(GetStripChartTrace(h, STRIP, 1), (std::vector<double>{3, 4, 5, 6, 7}));
    EXPECT_EQ(GetStripChartTrace(h, STRIP, 2), (std::vector<double>{30, 40, 50, 60, 70}));
    QCustomPlot *plot = Plot(STRIP);
    ASSERT_EQ(plot->graphCount(), 2);
    EXPECT_DOUBLE_EQ(plot->xAxis->range().upper, 4.0); // the newest sample at the right edge

    // start and skip pick every other value from the second on.
    const double sparse[8] = {-1, 8, -1, 80, -1, 9, -1, 90};
    EXPECT_EQ(PlotStripChart(h, STRIP, sparse, 4, 1, 1, VAL_DOUBLE), 0);
    EXPECT_EQ(GetStripChartTrace(h, STRIP, 1), (std::vector<double>{5, 6, 7, 8, 9}));

    EXPECT_EQ(SetTraceAttribute(h, STRIP, 2, ATTR_TRACE_COLOR, 0xFF0000), 0);
    EXPECT_EQ(GetTraceColor(h, STRIP, 2), 0xFF0000);
    EXPECT_EQ(plot->graph(1)->pen().color(), QColor(255, 0, 0));
    EXPECT_EQ(SetTraceAttribute(h, STRIP, 3, ATTR_TRACE_COLOR, 0), UIEBadValue);

    // A different number of traces starts afresh.
    EXPECT_EQ(SetCtrlAttribute(h, STRIP, ATTR_NUM_TRACES, 6), 0);
    int traces = 0, pps = 0;
    GetCtrlAttribute(h, STRIP, ATTR_NUM_TRACES, &traces);
    EXPECT_EQ(traces, 6);
    EXPECT_TRUE(GetStripChartTrace(h, STRIP, 6).empty());
    EXPECT_EQ(plot->graphCount(), 6);
    EXPECT_EQ(SetCtrlAttribute(h, STRIP, ATTR_POINTS_PER_SCREEN, 101), 0);
    GetCtrlAttribute(h, STRIP, ATTR_POINTS_PER_SCREEN, &pps);
    EXPECT_EQ(pps, 101);
    EXPECT_EQ(SetCtrlAttribute(h, STRIP, ATTR_SCROLL_MODE, 1), 0);
}

// The program plots its whole 100-sample history of six traces for every answer.
TEST_F(Graphs, StripChartHistoryDoesNotGrow) {
    SetCtrlAttribute(h, STRIP, ATTR_NUM_TRACES, 6);
    SetCtrlAttribute(h, STRIP, ATTR_POINTS_PER_SCREEN, 101);
    double history[600];
    for (int pass = 0; pass < 200; ++pass) {
        for (int i = 0; i < 600; ++i)
            history[i] = pass * 1000 + i;
        ASSERT_EQ(PlotStripChart(h, STRIP, history, 600, 0, 0, VAL_DOUBLE), 0);
    }
    const std::vector<double> trace4 = GetStripChartTrace(h, STRIP, 4);
    ASSERT_EQ(trace4.size(), 101u);
    EXPECT_DOUBLE_EQ(trace4.back(), 199 * 1000 + 597);
    EXPECT_DOUBLE_EQ(trace4.front(), 198 * 1000 + 597); // the newest of the call before
    for (int t = 1; t <= 6; ++t)
        EXPECT_EQ(GetStripChartTrace(h, STRIP, t).size(), 101u);
}

// The screen draws the data over a kept picture of the axes; a saved picture is drawn by the
// plot library alone. Both must show the same pixels, whatever is plotted and however often.
class ScreenAndPicture : public Graphs {
  protected:
    // The plot as the window paints it, and as it is saved: the count of pixels that differ in
    // and around the axis rectangle (the labels outside it are drawn from a cache on the screen
    // and straight into a saved picture, which differ in their smoothing).
    int DifferingPixels(int control) {
        const QRect area = Plot(control)->axisRect()->rect().adjusted(-2, -2, 2, 2);
        const QImage screen = Plot(control)->grab().toImage().convertToFormat(QImage::Format_RGB32);
        const std::string path = dir.path().toStdString() + "/picture.png";
        PresetFileSelectAnswer(VAL_NEW_FILE_SELECTED, path);
        EXPECT_EQ(UserExportGraph(h, control, EXPORT_PNG), 1);
        const QImage saved = QImage(QString::fromStdString(path)).convertToFormat(QImage::Format_RGB32);
        EXPECT_EQ(screen.size(), saved.size());
        if (screen.size() != saved.size()) return -1;
        
        int differing = 0;
        for (int y = area.top(); y <= area.bottom(); ++y)
            for (int x = area.left(); x <= area.right(); ++x)
                differing += screen.pixel(x, y) != saved.pixel(x, y);
        return differing;
    }
    // The strip chart on the screen with four traces, the second red.
    void ShowFourTraces(int pointsPerScreen) {
        DisplayPanel(h);
        SetCtrlAttribute(h, STRIP, ATTR_NUM_TRACES, 4);
        SetCtrlAttribute(h, STRIP, ATTR_POINTS_PER_SCREEN, pointsPerScreen);
        SetTraceAttribute(h, STRIP, 2, ATTR_TRACE_COLOR, 0xFF0000);
    }
    // The pixels on the screen that are mostly red.
    int RedPixels(int control) {
        const QImage screen = Plot(control)->grab().toImage().convertToFormat(QImage::Format_RGB32);
        int n = 0;
        for (int y = 0; y < screen.height(); ++y)
            for (int x = 0; x < screen.width(); ++x) {
                const QRgb p = screen.pixel(x, y);
                n += qRed(p) > 200 && qGreen(p) < 120 && qBlue(p) < 120;
            }
        return n;
    }
    QTemporaryDir dir;
};

TEST_F(ScreenAndPicture, GraphWithBarsLinesMarksAndCursors) {
    DisplayPanel(h);
    const double x[5] = {1.0, 800.0, 1600.0, 2400.0, 4000.0};
    const double y[5] = {0.1, 0.9, std::numeric_limits<double>::quiet_NaN(), 0.5, 0.95};
    for (int pass = 0; pass < 3; ++pass) { // the pooled objects come round again
        DeleteGraphPlot(h, GRAPH, -1, VAL_DELAYED_DRAW);
        PlotRectangle(h, GRAPH, 1.0, 0.0, 4096.0, 1.0, 0xE0E0E0, 0xE0E0E0);
        PlotRectangle(h, GRAPH, 500.0 + 100 * pass, 0.25, 1500.0, 1.0, 0xFF0000, 0xFF0000);
        PlotRectangle(h, GRAPH, 3000.0, -0.5, 5000.0, 0.35, 0x008000, 0x00C000); // beyond the axes
        PlotXY(h, GRAPH, x, y, 5, VAL_DOUBLE, VAL_DOUBLE, VAL_CONNECTED_POINTS, VAL_NO_POINT, VAL_SOLID, 1,
               0x0000FF);
        PlotXY(h, GRAPH, x, y, 5, VAL_DOUBLE, VAL_DOUBLE, 1 /* marks only */, VAL_EMPTY_SQUARE, VAL_SOLID, 1, 0x800080);
        SetGraphCursor(h, GRAPH, 1, 1000.0 + pass, 0.75);
        SetGraphCursor(h, GRAPH, 2, 1.0, 0.75);  // on the left edge
        SetGraphCursor(h, GRAPH, 3, 9000.0, 0.75); // beyond the right edge
        SCOPED_TRACE(pass);
        EXPECT_EQ(DifferingPixels(GRAPH), 0);
    }
    EXPECT_GT(RedPixels(GRAPH), 1000) << "the red bar is on the screen";
    // Another range redraws the axes; the old picture of them is not shown again.
    SetAxisScalingMode(h, GRAPH, VAL_XAXIS, VAL_MANUAL, 1.0, 2048.0);
    EXPECT_EQ(DifferingPixels(GRAPH), 0);
    // A line that leaves the axis: the plot library brings it to the edge its own way, the screen
    // clips it there; a few pixels along the edge may differ, nothing more.
    const double beyond[2] = {0.5, 1.7};
    PlotXY(h, GRAPH, x + 3, beyond, 2, VAL_DOUBLE, VAL_DOUBLE, VAL_CONNECTED_POINTS, VAL_NO_POINT, VAL_SOLID, 1,
           0x0000FF);
    const int differing = DifferingPixels(GRAPH);
    EXPECT_GE(differing, 0);
    EXPECT_LT(differing, 60);
}

TEST_F(ScreenAndPicture, StripChartTracesInAndBeyondTheAxis) {
    ShowFourTraces(7);
    SetTraceAttribute(h, STRIP, 3, ATTR_TRACE_COLOR, 0x0000FF);
    SetTraceAttribute(h, STRIP, 4, ATTR_TRACE_COLOR, 0x0000FF);
    for (int k = 0; k < 12; ++k) {
        // A gap and a value off the axis; a level trace; the same trace again in its colour for
        // a while (drawn once), then apart from it.
        const double sample[4] = {k == 3 ? std::numeric_limits<double>::quiet_NaN() : 1000.0 + 300 * k,
                                  k == 5 ? 9000.0 : 2000.0 - 150 * k, 1234.5 + 10 * (k % 3),
                                  k < 9 ? 1234.5 + 10 * (k % 3) : 3000.0};
        PlotStripChart(h, STRIP, sample, 4, 0, 0, VAL_DOUBLE);
        SCOPED_TRACE(k);
        EXPECT_EQ(DifferingPixels(STRIP), 0);
    }
    EXPECT_GT(RedPixels(STRIP), 50) << "the red trace is on the screen";
    // Zoomed in on part of the values.
    SetAxisScalingMode(h, STRIP, VAL_LEFT_YAXIS, VAL_MANUAL, 1500.0, 2500.0);
    EXPECT_EQ(DifferingPixels(STRIP), 0);
}

// Level stretches are drawn as one line from their first sample to their last: the same pixels
// as the plot library's line through every sample, at the chart's live width.
TEST_F(ScreenAndPicture, StripChartLevelStretches) {
    ShowFourTraces(101);
    SetTraceAttribute(h, STRIP, 4, ATTR_TRACE_COLOR, 0x0000FF);
    for (int k = 0; k < 160; ++k) {
        // Always level; steps every 17 samples; level but for a gap now and then; a new value
        // every sample except in pairs (a stretch of two has nothing inside to leave out).
        const double sample[4] = {2500.0, 1000.0 + 400.0 * ((k / 17) % 4),
                                  k % 23 == 5 ? std::numeric_limits<double>::quiet_NaN() : 3100.0,
                                  1500.0 + 37.0 * ((k / 2) % 9)};
        PlotStripChart(h, STRIP, sample, 4, 0, 0, VAL_DOUBLE);
        if (k % 40 != 39) continue;
        SCOPED_TRACE(k);
        EXPECT_EQ(DifferingPixels(STRIP), 0);
    }
    EXPECT_GT(RedPixels(STRIP), 300) << "the red steps are on the screen";
}

} // namespace
