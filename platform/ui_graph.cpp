// Graphs and strip charts over QCustomPlot.
//
// The program clears and redraws a graph for every measurement answer, up to about a thousand
// times a second. So the plot objects are pooled and reused (never deleted and created again),
// data is written in place, and every change only marks the plot for drawing; it is drawn when
// the window paints, once for all the changes of an event pass. A plot is drawn at most once
// per frame of the screen: at the pace of the serial line every answer is drawn, and faster
// answers only change the data that the next frame shows.
#include <qcustomplot.h>

#include <QElapsedTimer>
#include <QScreen>
#include <QTimer>

#include <cmath>

#include "testhooks.h"
#include "ui_internal.h"

using namespace kvor_ui;

namespace {

const int kCursorColors[3] = {0x0000C0, 0xFF8C00, 0x9400D3};
const int kTraceColors[8] = {0x008000, 0x008000, 0x000000, 0xFF0000, 0xC00000, 0x800000, 0x0000FF, 0x808080};

// Frames per second assumed when the screen does not say, and the range we believe.
constexpr double kDefaultRefreshRate = 60.0;
constexpr double kMinRefreshRate = 24.0;
constexpr double kMaxRefreshRate = 240.0;

// A plot draws itself straight onto the window when the window paints it. QCustomPlot's own
// replot draws every layer into a buffer of its own, cleared for each replot, and the window
// then copies that buffer: two more passes over every pixel and a painter for every layer, on
// every answer, for nothing that this program uses (no layer is ever replotted alone).
class Plot : public QCustomPlot {
  public:
    explicit Plot(QWidget *parent) : QCustomPlot(parent) {
        // It fills all of itself: what lies beneath need not be painted first.
        setAttribute(Qt::WA_OpaquePaintEvent);
        frameTimer.setSingleShot(true);
        frameTimer.setTimerType(Qt::PreciseTimer);
        connect(&frameTimer, &QTimer::timeout, this, [this] { Request(); });
    }
    // A hidden plot is drawn when it is shown again, not now; a visible one when the window
    // next paints, or at the next frame of the screen when it was drawn less than a frame ago.
    void Request() {
        if (!isVisible()) {
            stale = true;
            return;
        }
        if (frameTimer.isActive()) return; // the coming frame shows this change too
        const qint64 frameNs = FrameNs();
        const qint64 since = lastDrawn.isValid() ? lastDrawn.nsecsElapsed() : frameNs;
        if (since >= frameNs) {
            update();
        } else {
            frameTimer.start(static_cast<int>((frameNs - since + 999999) / 1000000));
        }
    }
    QCPAxis *Axis(int axis) {
        switch (axis) {
        case VAL_XAXIS:
            return xAxis;
        case VAL_LEFT_YAXIS:
            return yAxis;
        case VAL_RIGHT_YAXIS:
            return yAxis2;
        default:
            return nullptr;
        }
    }
    long repaints = 0;
    int modes[3] = {VAL_MANUAL, VAL_MANUAL, VAL_MANUAL};
    bool scrolling = false; // a strip chart moves its x axis itself

  protected:
    void paintEvent(QPaintEvent *) override {
        QCPPainter painter(this);
        if (!painter.isActive()) return;
        lastDrawn.start();
        ApplyAutoscale();
        // The background first, before antialiasing is on: a whole-pixel fill of one colour is
        // a plain fill, while antialiased it would go through the rasteriser pixel by pixel.
        painter.fillRect(rect(), backgroundColor);
        painter.setRenderHint(QPainter::Antialiasing); // as QCustomPlot draws into its buffers
        draw(&painter);                                // the layout, then every layer
        ++repaints;
    }
    void showEvent(QShowEvent *event) override {
        QCustomPlot::showEvent(event);
        if (stale) {
            stale = false;
            update();
        }
    }

  private:
    qint64 FrameNs() const {
        double rate = kDefaultRefreshRate;
        if (const QScreen *s = screen()) {
            const double r = s->refreshRate();
            if (r >= kMinRefreshRate && r <= kMaxRefreshRate) rate = r;
        }
        return static_cast<qint64>(1e9 / rate);
    }
    void ApplyAutoscale() {
        for (int a = 0; a < 3; ++a)
            if (modes[a] == VAL_AUTOSCALE && !(a == VAL_XAXIS && scrolling))
                if (QCPAxis *axis = Axis(a)) axis->rescale(true);
    }
    bool stale = false;
    QColor backgroundColor{Qt::white};
    QElapsedTimer lastDrawn; // started when the plot was last drawn
    QTimer frameTimer;       // draws a change that came within a frame of the last drawing
};

void StylePlot(Plot *plot, const ControlDesc &desc) {
    plot->setBackground(QBrush(Qt::white)); // for pictures taken with toPixmap() and the like
    // Should QCustomPlot replot by itself (after a resize), the window still paints only once.
    plot->setPlottingHint(QCP::phImmediateRefresh, false);
    plot->setAutoAddPlottableToLegend(false);
    QFont tick = plot->font();
    tick.setPointSizeF(std::max(6.0, tick.pointSizeF() * 0.85));
    for (QCPAxis *axis : {plot->xAxis, plot->yAxis}) {
        axis->setTickLabelFont(tick);
        axis->setBasePen(QPen(QColor(0x70, 0x78, 0x80), 0));
        axis->setTickPen(QPen(QColor(0x70, 0x78, 0x80), 0));
        axis->setSubTickPen(QPen(QColor(0x90, 0x98, 0xA0), 0));
        axis->grid()->setPen(QPen(QColor(0xDD, 0xE1, 0xE6), 0, Qt::DotLine));
    }
    plot->xAxis->setRange(desc.xMin, desc.xMax);
    plot->yAxis->setRange(desc.yMin, desc.yMax);
    plot->axisRect()->setMinimumMargins(QMargins(4, 4, 8, 4));
}

struct PlotRec {
    int handle = 0;
    int kind = GRAPH_ITEM_XY;
    int color = 0, fillColor = 0;
    double x1 = 0, y1 = 0, x2 = 0, y2 = 0;
    std::vector<double> x, y;
    QCPCurve *curve = nullptr;
    QCPItemRect *rect = nullptr;
};

double ReadValue(const void *data, int type, size_t i) {
    switch (type) {
    case VAL_DOUBLE:
        return static_cast<const double *>(data)[i];
    case VAL_FLOAT:
        return static_cast<const float *>(data)[i];
    case VAL_INTEGER:
        return static_cast<const std::int32_t *>(data)[i];
    case VAL_UNSIGNED_INTEGER:
        return static_cast<const std::uint32_t *>(data)[i];
    case VAL_SHORT_INTEGER:
        return static_cast<const std::int16_t *>(data)[i];
    case VAL_UNSIGNED_SHORT_INTEGER:
        return static_cast<const std::uint16_t *>(data)[i];
    case VAL_CHAR:
        return static_cast<const signed char *>(data)[i];
    case VAL_UNSIGNED_CHAR:
        return static_cast<const unsigned char *>(data)[i];
    default:
        return 0.0;
    }
}

bool NumericType(int type) {
    switch (type) {
    case VAL_DOUBLE:
    case VAL_FLOAT:
    case VAL_INTEGER:
    case VAL_UNSIGNED_INTEGER:
    case VAL_SHORT_INTEGER:
    case VAL_UNSIGNED_SHORT_INTEGER:
    case VAL_CHAR:
    case VAL_UNSIGNED_CHAR:
        return true;
    default:
        return false;
    }
}

QPen Pen(int rgb) {
    QPen pen(ToColor(rgb));
    pen.setWidth(1);
    pen.setCosmetic(true);
    return pen;
}

// Pooled plot objects keep their pen and brush from one use to the next. A new pen or brush is
// an allocation, so they are set only when the colour is not already the one asked for.
bool IsPen(const QPen &pen, int rgb) {
    return pen.color() == ToColor(rgb) && pen.isCosmetic() && pen.width() == 1 &&
           pen.style() == Qt::SolidLine;
}

void Colour(QCPItemRect *item, int color, int fillColor) {
    if (!IsPen(item->pen(), color)) item->setPen(Pen(color));
    const QBrush brush = item->brush();
    if (brush.style() != Qt::SolidPattern || brush.color() != ToColor(fillColor))
        item->setBrush(QBrush(ToColor(fillColor)));
}

// Resize a data container to n points without giving up its storage; the caller then rewrites
// every point in place, keeping the sort keys ascending.
void ResizeData(QCPCurveDataContainer &data, int n) {
    if (data.size() > n) {
        if (n == 0)
            data.clear();
        else
            data.removeAfter((data.constBegin() + (n - 1))->sortKey());
    }
    while (data.size() < n)
        data.add(QCPCurveData(data.size(), 0.0, 0.0));
}

void ResizeData(QCPGraphDataContainer &data, int n) {
    if (data.size() > n) {
        if (n == 0)
            data.clear();
        else
            data.removeAfter((data.constBegin() + (n - 1))->sortKey());
    }
    while (data.size() < n)
        data.add(QCPGraphData(data.isEmpty() ? 0.0 : (data.constEnd() - 1)->key + 1.0, 0.0));
}

} // namespace

namespace kvor_ui {

struct GraphState {
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

struct StripState {
    Plot *plot = nullptr;
    int traces = 1;
    int pps = 100;
    std::vector<double> ring; // trace t, slot s at t * pps + s
    int head = 0;             // slot of the oldest sample held
    int count = 0;            // samples held per trace
    long long total = 0;      // samples appended since the chart was last cleared
    std::vector<int> colors;
    std::vector<QCPGraph *> graphs;
    std::vector<double> sample; // one sample of every trace, reused
};

Control::Control() = default;
Control::~Control() = default;

} // namespace kvor_ui

namespace {

// The control behind a graph call, or null with the error the call returns.
Control *PlotControl(int panel, int control, int *error) {
    Control *c = FindControl(panel, control);
    if (!c) *error = FindPanel(panel) ? UIEInvalidControl : UIEInvalidPanel;
    return c;
}

GraphState *Graph(int panel, int control, int *error) {
    Control *c = PlotControl(panel, control, error);
    if (c && c->graph) return c->graph.get();
    if (c) *error = UIEInvalidControl;
    return nullptr;
}

StripState *Strip(int panel, int control, int *error) {
    Control *c = PlotControl(panel, control, error);
    if (c && c->strip) return c->strip.get();
    if (c) *error = UIEInvalidControl;
    return nullptr;
}

Plot *AnyPlot(int panel, int control, int *error) {
    Control *c = PlotControl(panel, control, error);
    if (!c) return nullptr;
    if (c->graph) return c->graph->plot;
    if (c->strip) return c->strip->plot;
    *error = UIEInvalidControl;
    return nullptr;
}

int NextHandle(GraphState &g) {
    for (;;) {
        g.lastHandle = g.lastHandle >= 2147483647 ? 1 : g.lastHandle + 1;
        bool used = false;
        for (const PlotRec &r : g.live)
            used = used || r.handle == g.lastHandle;
        if (!used) return g.lastHandle;
    }
}

PlotRec NewRecord(GraphState &g) {
    PlotRec rec;
    if (g.spare.size() >= 2) {
        rec.x = std::move(g.spare.back());
        g.spare.pop_back();
        rec.y = std::move(g.spare.back());
        g.spare.pop_back();
    }
    rec.handle = NextHandle(g);
    return rec;
}

void Recycle(GraphState &g, PlotRec &rec) {
    if (rec.curve) {
        rec.curve->setVisible(false);
        g.freeCurves.push_back(rec.curve);
    }
    if (rec.rect) {
        rec.rect->setVisible(false);
        g.freeRects.push_back(rec.rect);
    }
    rec.x.clear();
    rec.y.clear();
    g.spare.push_back(std::move(rec.x));
    g.spare.push_back(std::move(rec.y));
}

void PlaceCursor(GraphState::Cursor &cur) {
    cur.line->point1->setCoords(cur.x, 0.0);
    cur.line->point2->setCoords(cur.x, 1.0);
    cur.marker->position->setCoords(cur.x, cur.y);
}

void ClearStrip(StripState &s) {
    s.ring.assign(static_cast<size_t>(s.traces) * static_cast<size_t>(s.pps), 0.0);
    s.head = 0;
    s.count = 0;
    s.total = 0;
}

// Writes the samples held into the chart's graphs and scrolls the x axis to the newest.
void SyncStrip(StripState &s) {
    // The operator reads positions on the screen, oldest at the left, so the samples are keyed
    // by their place among the points per screen, not by how many came before them.
    const long long first = s.pps - s.count;
    for (int t = 0; t < s.traces && t < static_cast<int>(s.graphs.size()); ++t) {
        QCPGraphDataContainer &data = *s.graphs[static_cast<size_t>(t)]->data();
        ResizeData(data, s.count);
        int i = 0;
        for (auto it = data.begin(); it != data.end(); ++it, ++i) {
            it->key = static_cast<double>(first + i);
            it->value = s.ring[static_cast<size_t>(t * s.pps + (s.head + i) % s.pps)];
        }
    }
    s.plot->xAxis->setRange(0.0, std::max(1.0, static_cast<double>(s.pps - 1)));
    s.plot->Request();
}

void ReshapeStrip(StripState &s, int traces, int pps) {
    if (traces != s.traces) {
        while (static_cast<int>(s.graphs.size()) > traces) {
            s.plot->removeGraph(s.graphs.back());
            s.graphs.pop_back();
        }
        while (static_cast<int>(s.graphs.size()) < traces) {
            QCPGraph *g = s.plot->addGraph();
            const size_t t = s.graphs.size();
            if (s.colors.size() <= t) s.colors.push_back(kTraceColors[t % 8]);
            g->setPen(Pen(s.colors[t]));
            s.graphs.push_back(g);
        }
        s.traces = traces;
        s.pps = pps;
        ClearStrip(s);
    } else if (pps != s.pps) {
        // Keep the newest samples that still fit.
        std::vector<double> ring(static_cast<size_t>(traces) * static_cast<size_t>(pps), 0.0);
        const int keep = std::min(s.count, pps);
        for (int t = 0; t < traces; ++t)
            for (int i = 0; i < keep; ++i)
                ring[static_cast<size_t>(t * pps + i)] =
                    s.ring[static_cast<size_t>(t * s.pps + (s.head + s.count - keep + i) % s.pps)];
        s.ring.swap(ring);
        s.pps = pps;
        s.head = 0;
        s.count = keep;
    }
    s.sample.assign(static_cast<size_t>(traces), 0.0);
    SyncStrip(s);
}

} // namespace

namespace kvor_ui {

QWidget *CreateGraph(Control &c, QWidget *parent, const ControlDesc &desc) {
    auto *plot = new Plot(parent);
    StylePlot(plot, desc);
    auto g = std::make_unique<GraphState>();
    g->plot = plot;
    g->plotLayer = plot->layer(QStringLiteral("main"));
    plot->addLayer(QStringLiteral("cursors"), g->plotLayer, QCustomPlot::limAbove);
    QCPLayer *cursorLayer = plot->layer(QStringLiteral("cursors"));
    for (int i = 0; i < desc.cursors && i < 3; ++i) {
        GraphState::Cursor &cur = g->cursors[i];
        cur.x = desc.xMin;
        cur.y = desc.yMin;
        cur.line = new QCPItemStraightLine(plot);
        cur.line->setLayer(cursorLayer);
        cur.line->setPen(Pen(kCursorColors[i]));
        cur.marker = new QCPItemTracer(plot);
        cur.marker->setLayer(cursorLayer);
        cur.marker->setStyle(QCPItemTracer::tsSquare);
        cur.marker->setSize(7);
        cur.marker->setPen(Pen(kCursorColors[i]));
        cur.marker->setBrush(QBrush(ToColor(kCursorColors[i])));
        PlaceCursor(cur);
    }
    plot->setCurrentLayer(g->plotLayer);
    c.graph = std::move(g);
    return plot;
}

QWidget *CreateStripChart(Control &c, QWidget *parent, const ControlDesc &desc) {
    auto *plot = new Plot(parent);
    StylePlot(plot, desc);
    plot->scrolling = true;
    auto s = std::make_unique<StripState>();
    s->plot = plot;
    s->traces = 0;
    s->pps = desc.pointsPerScreen;
    ReshapeStrip(*s, desc.traces, desc.pointsPerScreen);
    c.strip = std::move(s);
    return plot;
}

int SetStripAttribute(Control &c, int attribute, int value) {
    if (!c.strip) return UIEInvalidControl;
    StripState &s = *c.strip;
    switch (attribute) {
    case ATTR_POINTS_PER_SCREEN:
        if (value < 1 || value > 100000) return UIEBadValue;
        if (value != s.pps) ReshapeStrip(s, s.traces, value);
        return 0;
    case ATTR_NUM_TRACES:
        if (value < 1 || value > 64) return UIEBadValue;
        if (value != s.traces) ReshapeStrip(s, value, s.pps);
        return 0;
    case ATTR_SCROLL_MODE:
        return 0;
    default:
        return UIEInvalidAttribute;
    }
}

bool GetStripAttribute(const Control &c, int attribute, int *value) {
    if (!c.strip) return false;
    if (attribute == ATTR_POINTS_PER_SCREEN)
        *value = c.strip->pps;
    else if (attribute == ATTR_NUM_TRACES)
        *value = c.strip->traces;
    else
        return false;
    return true;
}

} // namespace kvor_ui

// --- graphs ---------------------------------------------------------------------------------------

int PlotXY(int panel, int control, const void *x, const void *y, int count, int xType, int yType,
           int plotStyle, int pointStyle, int lineStyle, int pointFrequency, int color) {
    (void)lineStyle;
    (void)pointFrequency;
    int error = 0;
    GraphState *g = Graph(panel, control, &error);
    if (!g) return error;
    if (!x || !y || count < 1 || !NumericType(xType) || !NumericType(yType)) return UIEBadValue;
    PlotRec rec = NewRecord(*g);
    rec.kind = GRAPH_ITEM_XY;
    rec.color = color & 0xFFFFFF;
    rec.fillColor = rec.color;
    rec.x.resize(static_cast<size_t>(count));
    rec.y.resize(static_cast<size_t>(count));
    for (size_t i = 0; i < static_cast<size_t>(count); ++i) {
        rec.x[i] = ReadValue(x, xType, i);
        rec.y[i] = ReadValue(y, yType, i);
    }
    QCPCurve *curve;
    if (!g->freeCurves.empty()) {
        curve = g->freeCurves.back();
        g->freeCurves.pop_back();
    } else {
        curve = new QCPCurve(g->plot->xAxis, g->plot->yAxis);
    }
    curve->setLayer(g->plotLayer); // on top of what was plotted before
    if (!IsPen(curve->pen(), rec.color)) curve->setPen(Pen(rec.color));
    const bool line = plotStyle == VAL_THIN_LINE || plotStyle == VAL_CONNECTED_POINTS;
    curve->setLineStyle(line ? QCPCurve::lsLine : QCPCurve::lsNone);
    QCPScatterStyle dots(pointStyle == VAL_NO_POINT ? QCPScatterStyle::ssNone : QCPScatterStyle::ssSquare, 5);
    if (!line && pointStyle == VAL_NO_POINT) dots = QCPScatterStyle(QCPScatterStyle::ssDot);
    curve->setScatterStyle(dots);
    QCPCurveDataContainer &data = *curve->data();
    ResizeData(data, count);
    int i = 0;
    for (auto it = data.begin(); it != data.end(); ++it, ++i) {
        it->t = i;
        it->key = rec.x[static_cast<size_t>(i)];
        it->value = rec.y[static_cast<size_t>(i)];
    }
    curve->setVisible(true);
    rec.curve = curve;
    const int handle = rec.handle;
    g->live.push_back(std::move(rec));
    g->plot->Request();
    return handle;
}

int PlotRectangle(int panel, int control, double x1, double y1, double x2, double y2, int color,
                  int fillColor) {
    int error = 0;
    GraphState *g = Graph(panel, control, &error);
    if (!g) return error;
    if (!std::isfinite(x1) || !std::isfinite(y1) || !std::isfinite(x2) || !std::isfinite(y2))
        return UIEBadValue;
    PlotRec rec = NewRecord(*g);
    rec.kind = GRAPH_ITEM_RECTANGLE;
    rec.color = color & 0xFFFFFF;
    rec.fillColor = fillColor & 0xFFFFFF;
    rec.x1 = x1;
    rec.y1 = y1;
    rec.x2 = x2;
    rec.y2 = y2;
    QCPItemRect *item;
    if (!g->freeRects.empty()) {
        item = g->freeRects.back();
        g->freeRects.pop_back();
    } else {
        item = new QCPItemRect(g->plot);
    }
    item->setLayer(g->plotLayer);
    // Corners may come in any order; the item always spans left-top to right-bottom.
    item->topLeft->setCoords(std::min(x1, x2), std::max(y1, y2));
    item->bottomRight->setCoords(std::max(x1, x2), std::min(y1, y2));
    Colour(item, rec.color, rec.fillColor);
    item->setVisible(true);
    rec.rect = item;
    const int handle = rec.handle;
    g->live.push_back(std::move(rec));
    g->plot->Request();
    return handle;
}

int DeleteGraphPlot(int panel, int control, int plotHandle, int refresh) {
    (void)refresh; // every change is drawn once, at the next event pass
    int error = 0;
    GraphState *g = Graph(panel, control, &error);
    if (!g) return error;
    if (plotHandle == -1) {
        for (PlotRec &rec : g->live)
            Recycle(*g, rec);
        g->live.clear();
    } else {
        auto it = std::find_if(g->live.begin(), g->live.end(),
                               [plotHandle](const PlotRec &r) { return r.handle == plotHandle; });
        if (it == g->live.end()) return UIEBadValue;
        Recycle(*g, *it);
        g->live.erase(it);
    }
    g->plot->Request();
    return 0;
}

int SetGraphCursor(int panel, int control, int cursor, double x, double y) {
    int error = 0;
    GraphState *g = Graph(panel, control, &error);
    if (!g) return error;
    if (cursor < 1 || cursor > 3 || !g->cursors[cursor - 1].line) return UIEBadValue;
    if (!std::isfinite(x) || !std::isfinite(y)) return UIEBadValue;
    GraphState::Cursor &cur = g->cursors[cursor - 1];
    cur.x = x;
    cur.y = y;
    PlaceCursor(cur);
    g->plot->Request();
    return 0;
}

int GetGraphCursor(int panel, int control, int cursor, double *x, double *y) {
    int error = 0;
    GraphState *g = Graph(panel, control, &error);
    if (!g) return error;
    if (!x || !y || cursor < 1 || cursor > 3 || !g->cursors[cursor - 1].line) return UIEBadValue;
    *x = g->cursors[cursor - 1].x;
    *y = g->cursors[cursor - 1].y;
    return 0;
}

int SetAxisScalingMode(int panel, int control, int axis, int mode, double min, double max) {
    int error = 0;
    Plot *plot = AnyPlot(panel, control, &error);
    if (!plot) return error;
    QCPAxis *a = plot->Axis(axis);
    if (!a) return UIEBadValue;
    if (mode == VAL_MANUAL) {
        // An empty or reversed range would leave nothing to draw: keep the present one.
        if (!std::isfinite(min) || !std::isfinite(max) || !(min < max)) return UIEBadValue;
        plot->modes[axis] = VAL_MANUAL;
        if (axis == VAL_XAXIS && plot->scrolling) return 0; // the strip chart scrolls by itself
        a->setRange(min, max);
    } else if (mode == VAL_AUTOSCALE) {
        plot->modes[axis] = VAL_AUTOSCALE;
    } else {
        return UIEBadValue;
    }
    if (axis == VAL_RIGHT_YAXIS) a->setVisible(true);
    plot->Request();
    return 0;
}

int GetAxisScalingMode(int panel, int control, int axis, int *mode, double *min, double *max) {
    int error = 0;
    Plot *plot = AnyPlot(panel, control, &error);
    if (!plot) return error;
    QCPAxis *a = plot->Axis(axis);
    if (!a) return UIEBadValue;
    if (mode) *mode = plot->modes[axis];
    if (min) *min = a->range().lower;
    if (max) *max = a->range().upper;
    return 0;
}

// --- strip charts ---------------------------------------------------------------------------------

int PlotStripChart(int panel, int control, const void *values, int count, int start, int skip, int dataType) {
    int error = 0;
    StripState *s = Strip(panel, control, &error);
    if (!s) return error;
    if (!values || count < 1 || start < 0 || skip < 0 || !NumericType(dataType)) return UIEBadValue;
    const int samples = count / s->traces;
    if (samples < 1) return UIEBadValue;
    const size_t stride = static_cast<size_t>(skip) + 1;
    // Samples that would scroll out at once are only counted.
    const int first = std::max(0, samples - s->pps);
    s->total += first;
    for (int k = first; k < samples; ++k) {
        const int slot = s->count < s->pps ? (s->head + s->count) % s->pps : s->head;
        if (s->count < s->pps)
            ++s->count;
        else
            s->head = (s->head + 1) % s->pps;
        for (int t = 0; t < s->traces; ++t) {
            const size_t index =
                static_cast<size_t>(start) +
                (static_cast<size_t>(k) * static_cast<size_t>(s->traces) + static_cast<size_t>(t)) * stride;
            s->ring[static_cast<size_t>(t * s->pps + slot)] = ReadValue(values, dataType, index);
        }
        ++s->total;
    }
    SyncStrip(*s);
    return 0;
}

int SetTraceAttribute(int panel, int control, int trace, int attribute, int value) {
    int error = 0;
    StripState *s = Strip(panel, control, &error);
    if (!s) return error;
    if (attribute != ATTR_TRACE_COLOR) return UIEInvalidAttribute;
    if (trace < 1 || trace > s->traces) return UIEBadValue;
    const size_t t = static_cast<size_t>(trace - 1);
    value &= 0xFFFFFF;
    if (s->colors[t] != value) {
        s->colors[t] = value;
        s->graphs[t]->setPen(Pen(value));
        s->plot->Request();
    }
    return 0;
}

// --- inspection -----------------------------------------------------------------------------------

std::vector<GraphItem> GetGraphItems(int panel, int control) {
    std::vector<GraphItem> items;
    int error = 0;
    GraphState *g = Graph(panel, control, &error);
    if (!g) return items;
    for (const PlotRec &r : g->live) {
        GraphItem item;
        item.handle = r.handle;
        item.kind = r.kind;
        item.color = r.color;
        item.fillColor = r.fillColor;
        item.x1 = r.x1;
        item.y1 = r.y1;
        item.x2 = r.x2;
        item.y2 = r.y2;
        item.x = r.x;
        item.y = r.y;
        items.push_back(std::move(item));
    }
    return items;
}

std::vector<double> GetStripChartTrace(int panel, int control, int trace) {
    std::vector<double> samples;
    int error = 0;
    StripState *s = Strip(panel, control, &error);
    if (!s || trace < 1 || trace > s->traces) return samples;
    samples.reserve(static_cast<size_t>(s->count));
    for (int i = 0; i < s->count; ++i)
        samples.push_back(s->ring[static_cast<size_t>((trace - 1) * s->pps + (s->head + i) % s->pps)]);
    return samples;
}

int GetTraceColor(int panel, int control, int trace) {
    int error = 0;
    StripState *s = Strip(panel, control, &error);
    if (!s) return error;
    if (trace < 1 || trace > s->traces) return UIEBadValue;
    return s->colors[static_cast<size_t>(trace - 1)];
}

long GraphRepaintCount(int panel, int control) {
    int error = 0;
    Plot *plot = AnyPlot(panel, control, &error);
    return plot ? plot->repaints : 0;
}
