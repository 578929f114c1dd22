// Private to the platform: what graphs and strip charts keep, for ui_graph.cpp and the testing
// library (platform/testing/), which reads it back for the tests and counts the drawing.
#pragma once

#include <qcustomplot.h>

#include <QString>

#include <vector>

#include "testhooks.h"
#include "ui_internal.h"

namespace kvor_ui {

class Plot; // the widget of a graph or strip chart (ui_graph.cpp)

// What a plot draws over the picture of its axes on every frame, and hands to QCustomPlot's own
// objects before QCustomPlot draws the whole plot itself (a saved picture, autoscaling).
class PlotContent {
  public:
    // The axis rectangle is handed in: QCustomPlot builds a list of its rectangles on every look.
    virtual void Draw(QCPPainter *painter, const QRect &axisRect) = 0;
    virtual void Sync() = 0;
    // Where Draw puts its pixels, in the plot's coordinates; empty when it draws nothing.
    virtual QRect Reach(const QRect &axisRect) const = 0;

  protected:
    ~PlotContent() = default;
};

struct PlotRec {
    int handle = 0;
    int kind = GRAPH_ITEM_XY;
    int color = 0, fillColor = 0;
    double x1 = 0, y1 = 0, x2 = 0, y2 = 0;
    std::vector<double> x, y;
    QPen linePen; // the curve's pen as its line is drawn
    QCPCurve *curve = nullptr;
    QCPItemRect *rect = nullptr;
};

struct GraphState final : PlotContent {
    void Draw(QCPPainter *painter, const QRect &axisRect) override;
    void Sync() override {} // the plot objects always hold what is plotted
    QRect Reach(const QRect &axisRect) const override;
    void DrawCurve(QCPPainter *painter, const PlotRec &rec);
    QVector<QPointF> points; // reused for every line drawn
    Plot *plot = nullptr;
    QCPLayer *plotLayer = nullptr;
    std::vector<PlotRec> live; // oldest first
    std::vector<QCPCurve *> freeCurves;
    std::vector<QCPItemRect *> freeRects;
    std::vector<std::vector<double>> spare;
    int lastHandle = 0;
    struct Cursor {
        double x = 0.0, y = 0.0;
        QCPItemStraightLine *line = nullptr;
        QCPItemTracer *marker = nullptr;
    } cursors[3];
};

struct StripState final : PlotContent {
    void Draw(QCPPainter *painter, const QRect &axisRect) override;
    void Sync() override;
    QRect Reach(const QRect &axisRect) const override;
    bool SameSamples(int a, int b) const; // two traces hold the same history
    QVector<QPointF> points; // reused for every trace drawn
    std::vector<QPen> linePens; // each trace's pen as its line is drawn
    Plot *plot = nullptr;
    int traces = 1;
    int pps = 100;
    std::vector<double> ring; // trace t, slot s at t * pps + s
    int head = 0;             // slot of the oldest sample held
    int count = 0;            // samples held per trace
    long long total = 0;      // samples appended since the chart was last cleared
    int lastBatch = 0;        // samples the last PlotStripChart call held (at most pps)
    std::vector<int> colors;
    std::vector<QCPGraph *> graphs;
    std::vector<double> sample; // one sample of every trace, reused
};

// The graph or strip chart behind a call, or null with the error the call returns.
GraphState *Graph(int panel, int control, int *error);
StripState *Strip(int panel, int control, int *error);

// A plot widget has just been drawn on the screen. The shipped program leaves it empty.
extern void (*g_plotPainted)(QWidget *plot);

// True while the operator's zoom or pan holds a graph's axes.
bool ZoomHeld(const Control &c);

// An entry of a graph's or strip chart's context menu.
struct MenuEntry {
    QString text;
    int format; // EXPORT_*, or 0 for the zoom reset
};
std::vector<MenuEntry> MenuEntries(const Control &c);

// Asks for a file through the program's file dialog and writes the picture or the data there.
// 1 saved, 0 cancelled, negative when nothing could be written.
int ExportPlot(int panel, int control, int format);

} // namespace kvor_ui
