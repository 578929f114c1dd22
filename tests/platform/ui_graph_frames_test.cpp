// Graphs on the screen: what a plot shows is drawn from its items, every change at the pace of
// the serial line reaches the screen, and changes faster than the screen's frames are drawn at
// most once a frame.
#include <gtest/gtest.h>

#include <QColor>
#include <QImage>
#include <QScreen>
#include <QWidget>
#include <QWindow>

#include <functional>
#include <limits>
#include <vector>

#include "testhooks.h"
#include "platform_test_util.h"
#include "userint.h"
#include "utility.h"

namespace {

const char *kFrames = R"({
 "panels": [
  {"resource_id": 4, "name": "F", "title": "Frames", "width": 700, "height": 500,
   "controls": [
    {"name": "GRAPH", "kind": "graph", "left": 10, "top": 30, "width": 600, "height": 150,
     "label": "CCD line", "x_min": 0, "x_max": 100, "y_min": 0, "y_max": 1, "cursors": 1},
    {"name": "STRIP", "kind": "strip_chart", "left": 10, "top": 220, "width": 600,
     "height": 200, "label": "History", "points_per_screen": 20, "traces": 1,
     "y_min": 0, "y_max": 100}
   ]}
 ]})";

enum { GRAPH = 2, STRIP };

class Frames : public ::testing::Test {
  protected:
    void SetUp() override {
        RegisterRecorders();
        h = LoadPanel(0, file.path().c_str(), 4);
        ASSERT_GT(h, 0);
        DisplayPanel(h);
        ASSERT_TRUE(PollUntil([&] { return GraphRepaintCount(h, GRAPH) > 0; }));
        Settle(0.1);
    }
    void TearDown() override {
        if (h > 0) DiscardPanel(h);
    }
    static void Settle(double seconds) {
        const double end = Timer() + seconds;
        while (Timer() < end)
            ProcessSystemEvents();
    }
    QImage Picture(int control) { return static_cast<QWidget *>(CtrlWidget(h, control))->grab().toImage(); }
    // The plot's part of the picture the window hands to the screen.
    QImage Shown(int control) {
        auto *plot = static_cast<QWidget *>(CtrlWidget(h, control));
        QWindow *window = plot->window()->windowHandle();
        const QPoint at = plot->mapTo(plot->window(), QPoint());
        return window->screen()
            ->grabWindow(window->winId(), at.x(), at.y(), plot->width(), plot->height())
            .toImage();
    }
    // The pixels where the screen's picture of the plot differs from the plot drawn whole.
    int DifferingFromWhole(int control) {
        const QImage shown = Shown(control).convertToFormat(QImage::Format_RGB32);
        const QImage whole = Picture(control).convertToFormat(QImage::Format_RGB32);
        if (shown.size() != whole.size()) return -1;
        int differing = 0;
        for (int y = 0; y < whole.height(); ++y)
            for (int x = 0; x < whole.width(); ++x)
                differing += shown.pixel(x, y) != whole.pixel(x, y);
        return differing;
    }
    PanelFile file{kFrames};
    int h = 0;
};

} // namespace

TEST_F(Frames, APlotShowsItsItemsOnAWhiteBackground) {
    // A red bar over the left half, from the bottom of the axis to its top.
    ASSERT_GT(PlotRectangle(h, GRAPH, 0.0, 0.0, 50.0, 1.0, 0xFF0000, 0xFF0000), 0);
    const QImage before = Picture(GRAPH);
    ASSERT_FALSE(before.isNull());
    const int y = before.height() / 2;
    // Inside the bar, away from its outline and the axes.
    const QColor inside = before.pixelColor(before.width() / 4, y);
    EXPECT_EQ(inside, QColor(0xFF, 0x00, 0x00)) << inside.name().toStdString();
    // Beyond the axis rectangle, at the top right corner: the plot's own background.
    EXPECT_EQ(before.pixelColor(before.width() - 2, 1), QColor(Qt::white));

    // Deleting all plots takes the bar off the screen too.
    ASSERT_EQ(DeleteGraphPlot(h, GRAPH, -1, VAL_IMMEDIATE_DRAW), 0);
    const QImage after = Picture(GRAPH);
    EXPECT_NE(after.pixelColor(after.width() / 4, y), QColor(0xFF, 0x00, 0x00));
}

TEST_F(Frames, EveryChangeAtThePaceOfTheLineIsDrawn) {
    // An answer every 40 ms, as at 19200 baud: each one reaches the screen.
    const int answers = 8;
    const long before = GraphRepaintCount(h, STRIP);
    for (int i = 0; i < answers; ++i) {
        const double v = 10.0 * i;
        const long drawn = GraphRepaintCount(h, STRIP);
        ASSERT_EQ(PlotStripChart(h, STRIP, &v, 1, 0, 0, VAL_DOUBLE), 0);
        ASSERT_TRUE(PollUntil([&] { return GraphRepaintCount(h, STRIP) > drawn; })) << "answer " << i;
        Settle(0.04);
    }
    // Once each: none was merged into the next, none drawn twice.
    EXPECT_EQ(GraphRepaintCount(h, STRIP), before + answers);
}

TEST_F(Frames, ChangesFasterThanTheScreenAreDrawnAtMostOnceAFrame) {
    const long before = GraphRepaintCount(h, GRAPH);
    const double t0 = Timer();
    int changes = 0;
    // A change on every event pass, as RUN makes them without the line's pacing.
    while (Timer() - t0 < 0.5) {
        SetGraphCursor(h, GRAPH, 1, changes % 100, 0.75);
        ++changes;
        ProcessSystemEvents();
    }
    const double elapsed = Timer() - t0;
    Settle(0.1); // the last change still reaches the screen
    const long drawn = GraphRepaintCount(h, GRAPH) - before;
    EXPECT_GE(drawn, 1);
    // No screen shows more than 240 frames a second; the plot keeps to the screen's rate.
    EXPECT_LE(drawn, static_cast<long>((elapsed + 0.1) * 240.0) + 2) << changes << " changes";
    double x = -1.0, y = -1.0;
    ASSERT_EQ(GetGraphCursor(h, GRAPH, 1, &x, &y), 0);
    EXPECT_DOUBLE_EQ(x, (changes - 1) % 100);
}

TEST_F(Frames, AHiddenPlotIsDrawnWhenShownAgain) {
    ASSERT_EQ(SetCtrlAttribute(h, GRAPH, ATTR_VISIBLE, 0), 0);
    Settle(0.05);
    const long before = GraphRepaintCount(h, GRAPH);
    ASSERT_GT(PlotRectangle(h, GRAPH, 0.0, 0.0, 50.0, 1.0, 0xFF0000, 0xFF0000), 0);
    Settle(0.1);
    EXPECT_EQ(GraphRepaintCount(h, GRAPH), before);
    ASSERT_EQ(SetCtrlAttribute(h, GRAPH, ATTR_VISIBLE, 1), 0);
    EXPECT_TRUE(PollUntil([&] { return GraphRepaintCount(h, GRAPH) > before; }));
}

TEST_F(Frames, ASettingThatChangesNothingDrawsNothing) {
    // RUN sets the strip chart's range and colours with every answer, mostly to what they were.
    ASSERT_EQ(SetAxisScalingMode(h, STRIP, VAL_LEFT_YAXIS, VAL_MANUAL, 0.0, 100.0), 0);
    ASSERT_EQ(SetAxisScalingMode(h, GRAPH, VAL_XAXIS, VAL_MANUAL, 0.0, 100.0), 0);
    Settle(0.1);
    const long strip = GraphRepaintCount(h, STRIP), graph = GraphRepaintCount(h, GRAPH);
    for (int i = 0; i < 5; ++i) {
        ASSERT_EQ(SetAxisScalingMode(h, STRIP, VAL_LEFT_YAXIS, VAL_MANUAL, 0.0, 100.0), 0);
        ASSERT_EQ(SetAxisScalingMode(h, GRAPH, VAL_XAXIS, VAL_MANUAL, 0.0, 100.0), 0);
        ASSERT_EQ(SetTraceAttribute(h, STRIP, 1, ATTR_TRACE_COLOR, 0xFF0000), 0);
        Settle(0.03);
    }
    const long colourDrawn = GraphRepaintCount(h, STRIP);
    EXPECT_LE(colourDrawn, strip + 1); // the first colour was a change
    EXPECT_EQ(GraphRepaintCount(h, GRAPH), graph);

    // A change of range, of mode or of the right axis's showing is drawn.
    const struct {
        int control, axis, mode;
        double min, max;
    } changes[] = {{STRIP, VAL_LEFT_YAXIS, VAL_MANUAL, 0.0, 50.0},
                   {GRAPH, VAL_LEFT_YAXIS, VAL_AUTOSCALE, 0.0, 0.0},
                   {GRAPH, VAL_LEFT_YAXIS, VAL_MANUAL, 0.0, 1.0},
                   {GRAPH, VAL_RIGHT_YAXIS, VAL_MANUAL, 0.0, 1.0}};
    for (const auto &c : changes) {
        const long drawn = GraphRepaintCount(h, c.control);
        ASSERT_EQ(SetAxisScalingMode(h, c.control, c.axis, c.mode, c.min, c.max), 0);
        EXPECT_TRUE(PollUntil([&] { return GraphRepaintCount(h, c.control) > drawn; }))
            << "control " << c.control << ", axis " << c.axis;
        Settle(0.03);
    }
}

TEST_F(Frames, APlotLoadedAgainCountsItsDrawingsFromNought) {
    // A plot made where a discarded one lay must not take over its count: the count of drawings
    // belongs to the plot, not to the place it lives at.
    for (int round = 0; round < 3; ++round) {
        ASSERT_GT(GraphRepaintCount(h, GRAPH), 0) << "round " << round;
        ASSERT_EQ(DiscardPanel(h), 0);
        EXPECT_EQ(GraphRepaintCount(h, GRAPH), 0) << "round " << round; // gone with its panel
        h = LoadPanel(0, file.path().c_str(), 4);
        ASSERT_GT(h, 0);
        Settle(0.05);
        // Not shown yet, so not drawn yet.
        EXPECT_EQ(GraphRepaintCount(h, GRAPH), 0) << "round " << round;
        EXPECT_EQ(GraphRepaintCount(h, STRIP), 0) << "round " << round;
        DisplayPanel(h);
        ASSERT_TRUE(PollUntil([&] { return GraphRepaintCount(h, GRAPH) > 0; })) << "round " << round;
    }
}

// A paint of a plot draws only where its data was and where it is now (the rows of the strip
// chart's values, the graph's axis rectangle); the window keeps the rest. After every kind of
// change, what the window holds must be the whole plot drawn afresh: nothing left behind,
// nothing missing.
TEST_F(Frames, TheWindowShowsTheWholePlotAfterEveryChange) {
    const auto plotSamples = [&](double v, int n) {
        for (int i = 0; i < n; ++i)
            ASSERT_EQ(PlotStripChart(h, STRIP, &v, 1, 0, 0, VAL_DOUBLE), 0);
    };
    const double gap = std::numeric_limits<double>::quiet_NaN();
    struct Change {
        int control;
        const char *what;
        std::function<void()> make;
    };
    const std::vector<Change> changes = {
        {STRIP, "a level stretch", [&] { plotSamples(50.0, 25); }},
        {STRIP, "a step up", [&] { plotSamples(80.0, 3); }},
        {STRIP, "far off the axis", [&] { plotSamples(1e9, 1); }},
        {STRIP, "back down", [&] { plotSamples(20.0, 2); }},
        {STRIP, "a gap", [&] { plotSamples(gap, 2); }},
        {STRIP, "the level scrolled out", [&] { plotSamples(21.0, 20); }},
        {STRIP, "another colour", [&] { SetTraceAttribute(h, STRIP, 1, ATTR_TRACE_COLOR, 0xFF0000); }},
        {STRIP, "another range",
         [&] { SetAxisScalingMode(h, STRIP, VAL_LEFT_YAXIS, VAL_MANUAL, 0.0, 30.0); }},
        {STRIP, "a new value in it", [&] { plotSamples(5.0, 1); }},
        {STRIP, "a whole screen in one call",
         [&] {
             const std::vector<double> screen(20, 25.0); // the old values all go at once
             ASSERT_EQ(PlotStripChart(h, STRIP, screen.data(), 20, 0, 0, VAL_DOUBLE), 0);
         }},
        {STRIP, "scaled to the data",
         [&] { SetAxisScalingMode(h, STRIP, VAL_LEFT_YAXIS, VAL_AUTOSCALE, 0, 0); }},
        {STRIP, "a new value, scaled", [&] { plotSamples(60.0, 1); }},
        {STRIP, "cleared by a second trace", [&] { SetCtrlAttribute(h, STRIP, ATTR_NUM_TRACES, 2); }},
        {GRAPH, "a bar", [&] { PlotRectangle(h, GRAPH, 10.0, 0.0, 40.0, 0.5, 0xFF0000, 0xFF0000); }},
        {GRAPH, "the cursor on the right edge", [&] { SetGraphCursor(h, GRAPH, 1, 100.0, 0.75); }},
        {GRAPH, "another x range", [&] { SetAxisScalingMode(h, GRAPH, VAL_XAXIS, VAL_MANUAL, 0.0, 50.0); }},
        {GRAPH, "all plots deleted", [&] { DeleteGraphPlot(h, GRAPH, -1, VAL_IMMEDIATE_DRAW); }},
    };
    for (const Change &change : changes) {
        SCOPED_TRACE(change.what);
        const long drawn = GraphRepaintCount(h, change.control);
        change.make();
        // The first paint after the change already shows all of it (the last paint was more
        // than a frame ago, so none is held back).
        ASSERT_TRUE(PollUntil([&] { return GraphRepaintCount(h, change.control) > drawn; }));
        EXPECT_EQ(DifferingFromWhole(change.control), 0);
        Settle(0.05);
    }
}

// A picture taken of a plot (an export) while the window's paint of a change is still to come
// must not make that paint leave the old data behind.
TEST_F(Frames, APictureTakenBeforeTheWindowsPaintLeavesNothingBehind) {
    const std::vector<double> high(20, 90.0), low(20, 10.0); // a whole screen each
    ASSERT_EQ(PlotStripChart(h, STRIP, high.data(), 20, 0, 0, VAL_DOUBLE), 0);
    Settle(0.05);
    for (int round = 0; round < 5; ++round) {
        SCOPED_TRACE(round);
        const long drawn = GraphRepaintCount(h, STRIP);
        const double one = 50.0;
        ASSERT_EQ(PlotStripChart(h, STRIP, &one, 1, 0, 0, VAL_DOUBLE), 0);
        ASSERT_TRUE(PollUntil([&] { return GraphRepaintCount(h, STRIP) > drawn; }));
        // Within a frame of that paint: the window's paint of this change waits for the next
        // frame, and the picture is taken before it.
        const std::vector<double> &next = round % 2 ? high : low;
        ASSERT_EQ(PlotStripChart(h, STRIP, next.data(), 20, 0, 0, VAL_DOUBLE), 0);
        Picture(STRIP);
        Settle(0.05);
        EXPECT_EQ(DifferingFromWhole(STRIP), 0);
    }
}
