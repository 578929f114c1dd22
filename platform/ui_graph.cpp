// Graphs and strip charts over QCustomPlot.
//
// The program clears and redraws a graph for every measurement answer, up to about a thousand
// times a second. So the plot objects are pooled and reused (never deleted and created again),
// data is written in place, and every change only marks the plot for drawing; it is drawn when
// the window paints, once for all the changes of an event pass. A plot is drawn at most once
// per frame of the screen: at the pace of the serial line every answer is drawn, and faster
// answers only change the data that the next frame shows.
//
// An answer changes the data, hardly ever the axes. So a frame is a picture of the axes, grid and
// labels, kept until they change, with the data drawn over it straight from where the graph keeps
// it. QCustomPlot draws the whole plot itself only for that picture and for saved pictures.
#include <qcustomplot.h>

#include <QBackingStore>
#include <QContextMenuEvent>
#include <QElapsedTimer>
#include <QMenu>
#include <QPageLayout>
#include <QPdfWriter>
#include <QSaveFile>
#include <QScreen>
#include <QSvgGenerator>
#include <QTimer>

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <limits>

#include "graph_internal.h"
#include "kept_painter.h"
#include "utility.h"

using namespace kvor_ui;

namespace {

void ShowContextMenu(QWidget *plot, const QPoint &globalPos);

const int kCursorColors[3] = {0x0000C0, 0xFF8C00, 0x9400D3};
const int kTraceColors[8] = {0x008000, 0x008000, 0x000000, 0xFF0000, 0xC00000, 0x800000, 0x0000FF, 0x808080};

// Frames per second assumed when the screen does not say, and the range we believe.
constexpr double kDefaultRefreshRate = 60.0;
constexpr double kMinRefreshRate = 24.0;
constexpr double kMaxRefreshRate = 240.0;

// The layers that hold the data: everything else is the frame around it.
bool IsDataLayer(const QCPLayer *layer) {
    return layer->name() == QLatin1String("main") || layer->name() == QLatin1String("cursors");
}

// The layers drawn over the data.
bool IsTopLayer(const QCPLayer *layer) {
    return layer->name() == QLatin1String("axes") || layer->name() == QLatin1String("legend") ||
           layer->name() == QLatin1String("overlay");
}

// True when no pixel of the area of the image shows anything.
bool Transparent(const QImage &image, const QRect &area) {
    const QRect a = area & image.rect();
    for (int y = a.top(); y <= a.bottom(); ++y) {
        const auto *line = reinterpret_cast<const QRgb *>(image.constScanLine(y));
        for (int x = a.left(); x <= a.right(); ++x)
            if (qAlpha(line[x]) != 0) return false;
    }
    return true;
}

} // namespace

namespace kvor_ui {

// A plot draws itself straight onto the window when the window paints it. QCustomPlot's own
// replot draws every layer into a buffer of its own, cleared for each replot, and the window
// then copies that buffer: two more passes over every pixel and a painter for every layer, on
// every answer, for nothing that this program uses (no layer is ever replotted alone).
class Plot : public QCustomPlot {
  public:
    explicit Plot(QWidget *parent) : QCustomPlot(parent), mainRect(axisRect()) {
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
            // Once until it is painted, unless more has changed since: every update() costs the
            // window's bookkeeping a region on the heap, and a plot is asked several times for
            // one answer.
            const QRect changed = Changed();
            if (!updateAsked.contains(changed)) update(changed);
            updateAsked |= changed;
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
    // The axis ranges as the operator's zoom leaves them, or as the program last asked.
    void ApplyAutoscale() {
        if (zoomed) return; // the operator's view stays until the zoom is reset
        bool synced = false;
        for (int a = 0; a < 3; ++a)
            if (modes[a] == VAL_AUTOSCALE && !(a == VAL_XAXIS && scrolling))
                if (QCPAxis *axis = Axis(a)) {
                    if (!synced && content) content->Sync(); // the ranges come from QCustomPlot's data
                    synced = true;
                    axis->rescale(true);
                }
    }
    // QCustomPlot draws the whole plot itself (a saved picture): its objects get the data first.
    void SyncContent() {
        if (content) content->Sync();
    }
    // The frame (axes, labels, grid) looks different from now on, or was laid out for something
    // else than the screen: the next frame draws it anew.
    void FrameChanged() { ++frameGeneration; }
    // Back to what the program asked for, after the operator zoomed or panned.
    void ResetZoom() {
        zoomed = false;
        for (int a = 0; a < 3; ++a)
            if (modes[a] == VAL_MANUAL)
                if (QCPAxis *axis = Axis(a)) axis->setRange(asked[a]);
        Request();
    }
    kvor_ui::PlotContent *content = nullptr; // draws the data; set once by the graph or strip chart
    int modes[3] = {VAL_MANUAL, VAL_MANUAL, VAL_MANUAL};
    QCPRange asked[3];      // the manual range the program last set on each axis
    bool scrolling = false; // a strip chart moves its x axis itself
    bool zoomable = false;  // the operator may zoom with the wheel and pan by dragging
    bool zoomed = false;    // ... and has done so since the last reset

  protected:
    void wheelEvent(QWheelEvent *event) override {
        if (!zoomable) {
            event->ignore(); // on to a scroll area around the panel
            return;
        }
        const QCPRange x = xAxis->range(), y = yAxis->range();
        QCustomPlot::wheelEvent(event);
        if (xAxis->range() != x || yAxis->range() != y) zoomed = true;
    }
    void mouseMoveEvent(QMouseEvent *event) override {
        const QCPRange x = xAxis->range(), y = yAxis->range();
        QCustomPlot::mouseMoveEvent(event);
        if (zoomable && (xAxis->range() != x || yAxis->range() != y)) zoomed = true;
    }
    void mouseDoubleClickEvent(QMouseEvent *event) override {
        QCustomPlot::mouseDoubleClickEvent(event);
        if (zoomable && event->button() == Qt::LeftButton) ResetZoom();
    }
    void contextMenuEvent(QContextMenuEvent *event) override {
        ShowContextMenu(this, event->globalPos());
        event->accept();
    }
    void paintEvent(QPaintEvent *event) override {
        updateAsked = QRect();
        QCPPainter &painter = kept;
        PaintScope<QCPPainter> scope(painter, this);
        if (!painter.isActive()) return;
        lastDrawn.start();
        ApplyAutoscale();
        if (!content) {
            DrawWhole(&painter);
        } else {
            // Pixels outside the part asked for stay as the last paint left them (the window
            // keeps them, and only this part is drawn into): with a new frame, all is asked for.
            if (FrameKey() != frameKey) {
                DrawFrame();
                if (!QRegion(rect()).subtracted(event->region()).isEmpty()) update();
            }
            painter.drawImage(0, 0, under);
            // The data, clipped as QCustomPlot clips what it draws into the axis rectangle.
            const QRect inside = mainRect->rect();
            painter.setClipRect(inside.translated(0, -1));
            content->Draw(&painter, inside);
            NoteDrawn(*event, content->Reach(inside));
            // The clip off before the smoothing: the other way round, the painter would set the
            // clip once more (three allocations) for the unsmoothed painter, to no use.
            painter.setClipping(false);
            painter.setAntialiasing(false); // and back from its half-pixel shift
            // The axes lie over the data only along the edges of the axis rectangle.
            for (const QRect &band : bands)
                if (!band.isEmpty())
                    painter.drawImage(band.topLeft(), over, QRect(band.topLeft() * over.devicePixelRatio(),
                                                             band.size() * over.devicePixelRatio()));
        }
        if (g_plotPainted) g_plotPainted(this);
    }
    void changeEvent(QEvent *event) override {
        QCustomPlot::changeEvent(event);
        FrameChanged(); // a font, palette or style change shows in the labels
    }
    void hideEvent(QHideEvent *event) override {
        QCustomPlot::hideEvent(event);
        updateAsked = QRect(); // a hidden plot's asked-for painting does not come
    }
    void showEvent(QShowEvent *event) override {
        QCustomPlot::showEvent(event);
        if (stale) {
            stale = false;
            update();
        }
    }

  private:
    // Everything the picture of the frame depends on.
    struct Key {
        QSize size;
        qreal ratio = 0;
        QCPRange ranges[4];
        bool visible[4] = {};
        long generation = -1;
        bool operator!=(const Key &o) const {
            for (int i = 0; i < 4; ++i)
                if (ranges[i] != o.ranges[i] || visible[i] != o.visible[i]) return true;
            return size != o.size || ratio != o.ratio || generation != o.generation;
        }
    };
    Key FrameKey() const {
        Key k;
        k.size = size();
        k.ratio = devicePixelRatioF();
        const QCPAxis *axes[4] = {xAxis, yAxis, xAxis2, yAxis2};
        for (int i = 0; i < 4; ++i) {
            k.ranges[i] = axes[i]->range();
            k.visible[i] = axes[i]->visible();
        }
        k.generation = frameGeneration;
        return k;
    }
    // The whole plot as QCustomPlot draws it.
    void DrawWhole(QCPPainter *painter) {
        // The background first, before antialiasing is on: a whole-pixel fill of one colour is
        // a plain fill, while antialiased it would go through the rasteriser pixel by pixel.
        painter->fillRect(rect(), backgroundColor);
        painter->setRenderHint(QPainter::Antialiasing); // as QCustomPlot draws into its buffers
        draw(painter);                                  // the layout, then every layer
    }
    // Draws the frame without the data ('under'), and what lies over the data on its own
    // ('over'), and finds the bands along the axis rectangle where the two meet.
    void DrawFrame() {
        const qreal ratio = devicePixelRatioF();
        const QSize pixels = size() * ratio;
        QList<bool> shown;
        for (QCPLayer *l : mLayers)
            shown.append(l->visible());
        for (QCPLayer *l : mLayers)
            if (IsDataLayer(l)) l->setVisible(false);
        under = QImage(pixels, QImage::Format_RGB32);
        under.setDevicePixelRatio(ratio);
        {
            QCPPainter p(&under);
            DrawWhole(&p);
        }
        for (QCPLayer *l : mLayers)
            l->setVisible(IsTopLayer(l) && shown[mLayers.indexOf(l)]);
        over = QImage(pixels, QImage::Format_ARGB32_Premultiplied);
        over.setDevicePixelRatio(ratio);
        over.fill(Qt::transparent);
        {
            QCPPainter p(&over);
            p.setRenderHint(QPainter::Antialiasing);
            const QBrush background = mBackgroundBrush;
            setBackground(QBrush(Qt::NoBrush));
            draw(&p);
            setBackground(background);
        }
        for (int i = 0; i < mLayers.size(); ++i)
            mLayers[i]->setVisible(shown[i]);
        // Ticks reach into the rectangle; the base lines lie on its edges or just outside. A
        // band where nothing lies over the data (an axis not shown) is left out.
        const QRect r = mainRect->rect();
        const int in = 8, out = 2;
        bands[0] = QRect(r.left() - out, r.top() - out, r.width() + 2 * out, in + out);      // top
        bands[1] = QRect(r.left() - out, r.bottom() - in, r.width() + 2 * out, in + out + 1); // bottom
        bands[2] = QRect(r.left() - out, r.top() + in, in + out, std::max(0, r.height() - 2 * in));
        bands[3] = QRect(r.right() - in, r.top() + in, in + out + 1, std::max(0, r.height() - 2 * in));
        for (QRect &b : bands) {
            b &= rect();
            if (Transparent(over, QRect(b.topLeft() * ratio, b.size() * ratio))) b = QRect();
        }
        frameKey = FrameKey();
    }
    qint64 FrameNs() const {
        double rate = kDefaultRefreshRate;
        if (const QScreen *s = screen()) {
            const double r = s->refreshRate();
            if (r >= kMinRefreshRate && r <= kMaxRefreshRate) rate = r;
        }
        return static_cast<qint64>(1e9 / rate);
    }
    QCPAxisRect *const mainRect; // the plot's one axis rectangle (QCustomPlot lists them anew on every look)
    bool stale = false;
    // The part of the plot the next paint must draw: where the data was drawn last, and where it
    // lies now. All of it when the frame changes, when an axis scales itself to the data (in the
    // paint), or before the first paint.
    QRect Changed() const {
        if (!content || under.isNull() || FrameKey() != frameKey) return rect();
        for (int a = 0; a < 3; ++a)
            if (modes[a] == VAL_AUTOSCALE) return rect();
        return (content->Reach(mainRect->rect()) | drawnReach) & rect();
    }
    // Where the window may now show data: where it lies now, and what an earlier paint left
    // outside this one. A paint that goes elsewhere (a picture taken of the plot) leaves the
    // window as it was; should the two be told apart wrongly, the part only grows, and a
    // repaint covers more than it needs to, never less.
    void NoteDrawn(const QPaintEvent &event, const QRect &now) {
        QBackingStore *store = window()->backingStore();
        const bool toWindow = store && redirected(nullptr) == store->paintDevice();
        const bool covered = event.region().rectCount() == 1 && event.rect().contains(drawnReach);
        drawnReach = toWindow && covered ? now : (drawnReach | now);
    }
    QRect updateAsked; // the part update() was called for, and the painting has not come yet
    QRect drawnReach;  // where the window may show data
    long frameGeneration = 0;
    Key frameKey;     // what 'under' and 'over' were drawn for
    QImage under;     // the frame without the data: background, grid, axes, labels
    QImage over;      // only what lies over the data (the axes), on a transparent ground
    QRect bands[4];   // where 'over' meets the data
    QColor backgroundColor{Qt::white};
    // Begun for each paint (see kept_painter.h). Every paint leaves its smoothing off: the painter
    // keeps that flag from one paint to the next.
    QCPPainter kept;
    QElapsedTimer lastDrawn; // started when the plot was last drawn
    QTimer frameTimer;       // draws a change that came within a frame of the last drawing
};

} // namespace kvor_ui

namespace {

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
    plot->asked[VAL_XAXIS] = plot->xAxis->range();
    plot->asked[VAL_LEFT_YAXIS] = plot->yAxis->range();
    plot->asked[VAL_RIGHT_YAXIS] = plot->yAxis2->range();
    plot->axisRect()->setMinimumMargins(QMargins(4, 4, 8, 4));
    // The layout and the axis rectangle draw nothing themselves, but the axes show only while
    // they do: they belong with the axes, so that hiding the data's layers hides only the data.
    plot->plotLayout()->setLayer(QStringLiteral("axes"));
    plot->axisRect()->setLayer(QStringLiteral("axes"));
}

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

bool SameFill(const QCPItemRect *item, int fillColor) {
    const QBrush &brush = item->brush();
    return brush.style() == Qt::SolidPattern && brush.color() == ToColor(fillColor);
}

bool SameColours(const QCPItemRect *item, int color, int fillColor) {
    return IsPen(item->pen(), color) && SameFill(item, fillColor);
}

void Colour(QCPItemRect *item, int color, int fillColor) {
    if (!IsPen(item->pen(), color)) item->setPen(Pen(color));
    if (!SameFill(item, fillColor)) item->setBrush(QBrush(ToColor(fillColor)));
}

// The point added after the last one: its sort key follows the last.
QCPCurveData NextPoint(const QCPCurveDataContainer &data) {
    return QCPCurveData(data.size(), 0.0, 0.0);
}

QCPGraphData NextPoint(const QCPGraphDataContainer &data) {
    return QCPGraphData(data.isEmpty() ? 0.0 : (data.constEnd() - 1)->key + 1.0, 0.0);
}

// Resize a data container to n points without giving up its storage; the caller then rewrites
// every point in place, keeping the sort keys ascending.
template <class Container>
void ResizeData(Container &data, int n) {
    if (data.size() > n) {
        if (n == 0)
            data.clear();
        else
            data.removeAfter((data.constBegin() + (n - 1))->sortKey());
    }
    while (data.size() < n)
        data.add(NextPoint(data));
}

// A line through the points, broken where a point is not a number, drawn as QCustomPlot draws
// the line of a plot (a pen of width 1 drawn as the thinnest line).
void DrawLine(QCPPainter *painter, const QPen &pen, const QVector<QPointF> &points) {
    if (pen.style() == Qt::NoPen || pen.color().alpha() == 0) return;
    painter->setPen(pen);
    painter->setBrush(Qt::NoBrush);
    const int n = static_cast<int>(points.size());
    int start = 0;
    for (int i = 0; i < n; ++i) {
        const QPointF &p = points[i];
        if (std::isnan(p.x()) || std::isnan(p.y()) || std::isinf(p.y())) {
            painter->drawPolyline(points.constData() + start, i - start);
            start = i + 1;
        }
    }
    painter->drawPolyline(points.constData() + start, n - start);
}

// The thinnest-line pen QCustomPlot draws a plot's line with on the screen.
QPen LinePen(const QPen &pen) {
    if (pen.widthF() != 1.0) return pen;
    QPen thin = pen;
    thin.setWidth(0);
    return thin;
}

} // namespace

namespace kvor_ui {

void (*g_plotPainted)(QWidget *plot) = nullptr;

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

} // namespace

namespace kvor_ui {

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

} // namespace kvor_ui

namespace {

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
    s.lastBatch = 0;
}

// The x axis holds one screen of samples.
void ScrollStrip(StripState &s) {
    s.plot->xAxis->setRange(0.0, std::max(1.0, static_cast<double>(s.pps - 1)));
    s.plot->Request();
}

void ReshapeStrip(StripState &s, int traces, int pps) {
    if (traces != s.traces) {
        while (static_cast<int>(s.graphs.size()) > traces) {
            s.plot->removeGraph(s.graphs.back());
            s.graphs.pop_back();
            s.linePens.pop_back();
        }
        while (static_cast<int>(s.graphs.size()) < traces) {
            QCPGraph *g = s.plot->addGraph();
            const size_t t = s.graphs.size();
            if (s.colors.size() <= t) s.colors.push_back(kTraceColors[t % 8]);
            g->setPen(Pen(s.colors[t]));
            // A history is drawn crisp: a one-pixel line without smoothing costs a fraction of a
            // smoothed one, and the chart redraws all of it for every answer.
            g->setAntialiased(false);
            s.graphs.push_back(g);
            s.linePens.push_back(LinePen(g->pen()));
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
    ScrollStrip(s);
}

} // namespace

namespace kvor_ui {

// The samples held, keyed by their place among the points per screen (the operator reads
// positions on the screen, oldest at the left), not by how many came before them.
void StripState::Sync() {
    const long long first = pps - count;
    for (int t = 0; t < traces && t < static_cast<int>(graphs.size()); ++t) {
        QCPGraphDataContainer &data = *graphs[static_cast<size_t>(t)]->data();
        ResizeData(data, count);
        int i = 0;
        for (auto it = data.begin(); it != data.end(); ++it, ++i) {
            it->key = static_cast<double>(first + i);
            it->value = ring[static_cast<size_t>(t * pps + (head + i) % pps)];
        }
    }
}

bool StripState::SameSamples(int a, int b) const {
    const double *x = ring.data() + static_cast<size_t>(a) * static_cast<size_t>(pps);
    const double *y = ring.data() + static_cast<size_t>(b) * static_cast<size_t>(pps);
    return std::equal(x, x + pps, y); // a gap (not a number) never equals, so both are drawn
}

// The rows between the lowest and the highest sample held of any trace shown, and a few more
// for the pen, across the axis rectangle: a history that keeps to a narrow band of values is
// drawn again in that band only.
QRect StripState::Reach(const QRect &axisRect) const {
    const QRect clip = axisRect.translated(0, -1); // all that is drawn is clipped to it
    double low = std::numeric_limits<double>::infinity(), high = -low;
    for (int t = 0; t < traces && t < static_cast<int>(graphs.size()); ++t) {
        if (!graphs[static_cast<size_t>(t)]->visible()) continue;
        const double *trace = ring.data() + static_cast<size_t>(t) * static_cast<size_t>(pps);
        for (int i = 0; i < count; ++i) {
            const double v = trace[(head + i) % pps];
            if (!std::isfinite(v)) continue; // a gap: nothing drawn
            low = std::min(low, v);
            high = std::max(high, v);
        }
    }
    if (low > high) return QRect();
    const double a = plot->yAxis->coordToPixel(low), b = plot->yAxis->coordToPixel(high);
    if (!std::isfinite(a) || !std::isfinite(b)) return clip;
    // Held to the clip before turning into whole pixels (a value far off the axis lies far off).
    constexpr double kPen = 3.0;
    const double first = clip.top(), last = clip.bottom();
    const double top = std::clamp(std::min(a, b) - kPen, first, last);
    const double bottom = std::clamp(std::max(a, b) + kPen, first, last);
    return QRect(QPoint(clip.left(), static_cast<int>(std::floor(top))),
                 QPoint(clip.right(), static_cast<int>(std::ceil(bottom))));
}

// Every trace as a line, the first trace at the bottom, straight from the history.
void StripState::Draw(QCPPainter *painter, const QRect &) {
    const QCPAxis *keys = plot->xAxis;
    const QCPAxis *values = plot->yAxis;
    const long long first = pps - count;
    int drawn = -1; // the trace drawn last
    for (int t = 0; t < traces && t < static_cast<int>(graphs.size()); ++t) {
        const QCPGraph *graph = graphs[static_cast<size_t>(t)];
        if (!graph->visible()) continue;
        // A trace that repeats the one just drawn in its colour (the analog-mode traces often
        // repeat the measured value) would put the same opaque pixels on the same pixels.
        if (drawn >= 0 && !graph->antialiased() && !graphs[static_cast<size_t>(drawn)]->antialiased() &&
            linePens[static_cast<size_t>(t)] == linePens[static_cast<size_t>(drawn)] && SameSamples(t, drawn))
            continue;
        drawn = t;
        // A crisp solid line through a level stretch puts the same pixels as one line from its
        // first sample to its last, drawn at a fraction of the cost: the samples inside a stretch
        // of equal ones are left out. The limits and the setpoint stay level for long stretches.
        const QPen &pen = linePens[static_cast<size_t>(t)];
        const bool crisp = !graph->antialiased() && pen.style() == Qt::SolidLine;
        const double *trace = ring.data() + static_cast<size_t>(t) * static_cast<size_t>(pps);
        points.resize(count);
        int n = 0;
        const auto sample = [&](int i) { return trace[(head + i) % pps]; };
        for (int i = 0; i < count; ++i) {
            const double v = sample(i);
            const bool insideStretch = i > 0 && i + 1 < count && v == sample(i - 1) && v == sample(i + 1);
            if (crisp && insideStretch) continue;
            const double x = static_cast<double>(first + i);
            points[n++] = QPointF(keys->coordToPixel(x), values->coordToPixel(v));
        }
        points.resize(n);
        painter->setAntialiasing(graph->antialiased());
        DrawLine(painter, pen, points);
    }
}

// Bars and cursors reach over all of the axis rectangle.
QRect GraphState::Reach(const QRect &axisRect) const {
    return axisRect.translated(0, -1);
}

// The plots in the order they were made, then the cursors, each drawn as QCustomPlot draws it.
void GraphState::Draw(QCPPainter *painter, const QRect &clip) {
    for (const PlotRec &rec : live) {
        if (rec.rect) {
            const QCPItemRect *item = rec.rect;
            const QPointF p1 = item->topLeft->pixelPosition();
            const QPointF p2 = item->bottomRight->pixelPosition();
            if (p1.toPoint() == p2.toPoint()) continue;
            const QRectF r = QRectF(p1, p2).normalized();
            const double pad = item->pen().widthF();
            if (!r.adjusted(-pad, -pad, pad, pad).intersects(clip)) continue;
            painter->setAntialiasing(item->antialiased());
            painter->setPen(item->pen());
            painter->setBrush(item->brush());
            painter->drawRect(r);
        } else if (rec.curve) {
            DrawCurve(painter, rec);
        }
    }
    for (const Cursor &cur : cursors) {
        if (!cur.line) continue;
        // A vertical line over the whole height, then its square marker.
        const double x = plot->xAxis->coordToPixel(cur.x);
        const QRect band = clip.adjusted(-1, -1, 1, 1);
        painter->setAntialiasing(cur.line->antialiased());
        if (x - band.left() >= 0 && x - band.left() <= band.width()) {
            painter->setPen(cur.line->pen());
            painter->drawLine(QLineF(x, band.top(), x, band.bottom()));
        }
        const QPointF center(x, plot->yAxis->coordToPixel(cur.y));
        const double w = cur.marker->size() / 2.0;
        const QRectF square(center - QPointF(w, w), center + QPointF(w, w));
        painter->setAntialiasing(cur.marker->antialiased());
        if (clip.intersects(square.toRect())) {
            painter->setPen(cur.marker->pen());
            painter->setBrush(cur.marker->brush());
            painter->drawRect(square);
        }
    }
}

// An XY plot: its line through the points, then a mark on each point when it has marks.
void GraphState::DrawCurve(QCPPainter *painter, const PlotRec &rec) {
    const QCPCurve *curve = rec.curve;
    const size_t n = std::min(rec.x.size(), rec.y.size());
    points.resize(static_cast<int>(n));
    for (size_t i = 0; i < n; ++i)
        points[static_cast<int>(i)] = QPointF(plot->xAxis->coordToPixel(rec.x[i]), plot->yAxis->coordToPixel(rec.y[i]));
    if (curve->lineStyle() != QCPCurve::lsNone) {
        painter->setAntialiasing(curve->antialiased());
        DrawLine(painter, rec.linePen, points);
    }
    const QCPScatterStyle marks = curve->scatterStyle();
    if (marks.isNone()) return;
    painter->setAntialiasing(curve->antialiasedScatters());
    marks.applyTo(painter, curve->pen());
    for (const QPointF &p : points)
        if (!std::isnan(p.x()) && !std::isnan(p.y())) marks.drawShape(painter, p);
}

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
    plot->content = g.get();
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
    plot->content = s.get();
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
    rec.linePen = LinePen(curve->pen());
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
        // A rectangle of the same colours if one is free: a new pen or brush costs the heap,
        // and the bar graph draws the same coloured bars for every answer.
        auto same = std::find_if(g->freeRects.begin(), g->freeRects.end(), [&rec](const QCPItemRect *r) {
            return SameColours(r, rec.color, rec.fillColor);
        });
        if (same == g->freeRects.end()) same = g->freeRects.end() - 1;
        item = *same;
        g->freeRects.erase(same);
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
    // RUN sets the same ranges with every answer: only a change asks for drawing.
    const int modeBefore = plot->modes[axis];
    const QCPRange rangeBefore = a->range();
    const bool visibleBefore = a->visible();
    if (mode == VAL_MANUAL) {
        // An empty or reversed range would leave nothing to draw: keep the present one.
        if (!std::isfinite(min) || !std::isfinite(max) || !(min < max)) return UIEBadValue;
        plot->modes[axis] = VAL_MANUAL;
        if (axis == VAL_XAXIS && plot->scrolling) return 0; // the strip chart scrolls by itself
        plot->asked[axis] = QCPRange(min, max);
        // While the operator looks at a zoomed part, the program's range waits for the reset.
        if (!plot->zoomed) a->setRange(min, max);
    } else if (mode == VAL_AUTOSCALE) {
        plot->modes[axis] = VAL_AUTOSCALE;
    } else {
        return UIEBadValue;
    }
    if (axis == VAL_RIGHT_YAXIS) a->setVisible(true);
    if (plot->modes[axis] != modeBefore || a->range() != rangeBefore || a->visible() != visibleBefore)
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
    // The program reads back its own range, whatever part of it the operator looks at.
    const QCPRange range = plot->zoomed && plot->modes[axis] == VAL_MANUAL ? plot->asked[axis] : a->range();
    if (min) *min = range.lower;
    if (max) *max = range.upper;
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
    s->lastBatch = samples - first;
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
    s->plot->Request();
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
        s->linePens[t] = LinePen(s->graphs[t]->pen());
        s->plot->Request();
    }
    return 0;
}

// --- zoom and export ----------------------------------------------------------------------------

namespace {

ExportReportPtr g_exportReport = nullptr;

void Report(const QString &text) {
    const QByteArray latin1 = text.toLatin1();
    if (g_exportReport)
        g_exportReport(latin1.constData());
    else
        std::fprintf(stderr, "kvor-zodid: %s\n", latin1.constData());
}

// The control behind a plot widget, looked up again each time (the panel may be gone).
Control *ControlOf(QWidget *plot) {
    if (!plot || !plot->property("kvorCtrl").isValid()) return nullptr;
    const int panel = plot->property("kvorPanel").toInt();
    const auto serial = static_cast<std::uint64_t>(plot->property("kvorSerial").toULongLong());
    if (!FindPanel(panel, serial)) return nullptr;
    return FindControl(panel, plot->property("kvorCtrl").toInt());
}

Plot *PlotOf(Control &c) {
    if (c.graph) return c.graph->plot;
    if (c.strip) return c.strip->plot;
    return nullptr;
}

// A number as a CSV field: whole numbers without a decimal point, others as short as exact.
QByteArray CsvNumber(double v) {
    if (std::isfinite(v) && v == std::floor(v) && std::fabs(v) < 1e15)
        return QByteArray::number(static_cast<long long>(v));
    return QByteArray::number(v, 'g', 17);
}

// The plotted lines of a graph: the x of the first XY plot, then the y of each XY plot in
// the order they were plotted, one column name each.
bool GraphCsv(const GraphState &g, const QStringList &columns, QByteArray *out, QString *error) {
    std::vector<const PlotRec *> lines;
    for (const PlotRec &r : g.live)
        if (r.kind == GRAPH_ITEM_XY) lines.push_back(&r);
    const size_t wanted = static_cast<size_t>(columns.size() - 1);
    if (lines.size() < wanted) {
        *error = lines.empty() ? QStringLiteral("nothing is plotted")
                               : QStringLiteral("the graph holds fewer lines than the file has columns");
        return false;
    }
    const size_t n = lines[0]->x.size();
    for (size_t j = 0; j < wanted; ++j)
        if (lines[j]->y.size() != n) {
            *error = QStringLiteral("the lines differ in length");
            return false;
        }
    out->append(columns.join(QLatin1Char(',')).toUtf8()).append('\n');
    for (size_t i = 0; i < n; ++i) {
        out->append(CsvNumber(lines[0]->x[i]));
        for (size_t j = 0; j < wanted; ++j)
            out->append(',').append(CsvNumber(lines[j]->y[i]));
        out->append('\n');
    }
    return true;
}

// A strip chart's history, oldest first: a sample number, then every trace. The program hands
// the chart its whole history on every call, so the history is what the last call held; a chart
// fed one sample at a time exports every sample it shows.
bool StripCsv(const StripState &s, const QStringList &columns, QByteArray *out, QString *error) {
    const int rows = s.lastBatch > 1 ? std::min(s.count, s.lastBatch) : s.count;
    if (rows < 1) {
        *error = QStringLiteral("the history is empty");
        return false;
    }
    QStringList header;
    header << columns.value(0);
    for (int t = 0; t < s.traces; ++t)
        header << (t + 1 < columns.size() ? columns[t + 1] : QStringLiteral("trace%1").arg(t + 1));
    out->append(header.join(QLatin1Char(',')).toUtf8()).append('\n');
    const int skip = s.count - rows;
    for (int i = 0; i < rows; ++i) {
        out->append(QByteArray::number(i + 1));
        for (int t = 0; t < s.traces; ++t)
            out->append(',').append(
                CsvNumber(s.ring[static_cast<size_t>(t * s.pps + (s.head + skip + i) % s.pps)]));
        out->append('\n');
    }
    return true;
}

// Draws the plot at its size on the screen (or the panel file's size, never shown).
QSize PictureSize(const Control &c, const Plot *plot) {
    QSize size = plot->size();
    if (size.width() < 16 || size.height() < 16) size = QSize(c.width, c.height);
    if (size.width() < 16 || size.height() < 16) size = QSize(640, 480);
    return size;
}

bool WritePicture(Control &c, Plot *plot, int format, QIODevice *file, QString *error) {
    const QSize size = PictureSize(c, plot);
    plot->SyncContent();
    plot->ApplyAutoscale();
    QCPPainter painter;
    bool ok = false;
    if (format == EXPORT_PNG) {
        QImage image(size, QImage::Format_ARGB32_Premultiplied);
        image.fill(Qt::white);
        if (painter.begin(&image)) {
            plot->toPainter(&painter, size.width(), size.height());
            painter.end();
            ok = image.save(file, "PNG");
        }
    } else if (format == EXPORT_PDF) {
        // One page the size of the plot, at screen resolution, so text keeps its proportions.
        QPdfWriter pdf(file);
        pdf.setCreator(QStringLiteral("kvor-zodid"));
        pdf.setResolution(96);
        pdf.setPageLayout(
            QPageLayout(QPageSize(QSizeF(size) * 0.75, QPageSize::Point, QString(), QPageSize::ExactMatch),
                        QPageLayout::Portrait, QMarginsF(0, 0, 0, 0)));
        if (painter.begin(&pdf)) {
            painter.setMode(QCPPainter::pmVectorized);
            painter.setWindow(QRect(QPoint(0, 0), size));
            plot->toPainter(&painter, size.width(), size.height());
            ok = painter.end();
        }
    } else if (format == EXPORT_SVG) {
        QSvgGenerator svg;
        svg.setOutputDevice(file);
        svg.setResolution(96);
        svg.setSize(size);
        svg.setViewBox(QRect(QPoint(0, 0), size));
        svg.setTitle(c.caption ? c.caption->text() : c.name);
        if (painter.begin(&svg)) {
            painter.setMode(QCPPainter::pmVectorized);
            plot->toPainter(&painter, size.width(), size.height());
            ok = painter.end();
        }
    }
    // The layout was laid out for the picture; the screen gets its own again.
    plot->FrameChanged();
    plot->Request();
    if (!ok && error->isEmpty())
        *error =
            file->errorString().isEmpty() ? QStringLiteral("cannot draw the picture") : file->errorString();
    return ok;
}

const char *Suffix(int format) {
    switch (format) {
    case EXPORT_PNG:
        return "png";
    case EXPORT_PDF:
        return "pdf";
    case EXPORT_SVG:
        return "svg";
    default:
        return "csv";
    }
}

bool CanExport(const Control &c, int format) {
    if (!c.graph && !c.strip) return false;
    if (format == EXPORT_CSV) return c.csvColumns.size() >= 2;
    return format == EXPORT_PNG || format == EXPORT_PDF || format == EXPORT_SVG;
}

// A file name from the graph's label: "CCD video line" gives "ccd-video-line.png".
std::string DefaultFileName(const Control &c, int format) {
    QString base = (c.caption ? c.caption->text() : c.name).toLower();
    QString name;
    for (const QChar ch : base) {
        if (ch.isLetterOrNumber() && ch.unicode() < 128)
            name += ch;
        else if (!name.isEmpty() && !name.endsWith(QLatin1Char('-')))
            name += QLatin1Char('-');
    }
    while (name.endsWith(QLatin1Char('-')))
        name.chop(1);
    if (name.isEmpty()) name = QStringLiteral("graph");
    return (name + QLatin1Char('.') + QLatin1String(Suffix(format))).toStdString();
}

} // namespace

namespace kvor_ui {

int ExportPlot(int panel, int control, int format) {
    Control *c = FindControl(panel, control);
    if (!c) return FindPanel(panel) ? UIEInvalidControl : UIEInvalidPanel;
    if (!CanExport(*c, format)) return UIEBadValue;
    const std::string defaultName = DefaultFileName(*c, format);
    const std::string filter = std::string("*.") + Suffix(format);
    const char *title = format == EXPORT_CSV ? "Save data" : "Save picture";
    std::string chosen;
    const int answer =
        FileSelectPopup("", defaultName.c_str(), filter.c_str(), title, VAL_SAVE_BUTTON, 0, 1, 1, 1, &chosen);
    if (answer <= 0 || chosen.empty()) return 0;
    // The dialog ran an event loop: look the control up again.
    c = FindControl(panel, control);
    if (!c) return UIEInvalidControl;
    Plot *plot = PlotOf(*c);
    const QString path = QString::fromLocal8Bit(chosen.c_str());
    QString error;
    QByteArray csv;
    bool ok = true;
    if (format == EXPORT_CSV)
        ok = c->graph ? GraphCsv(*c->graph, c->csvColumns, &csv, &error)
                      : StripCsv(*c->strip, c->csvColumns, &csv, &error);
    if (ok) {
        // Written whole or not at all: an old file of that name stays until the new one is done.
        QSaveFile file(path);
        ok = file.open(QIODevice::WriteOnly);
        if (ok && format == EXPORT_CSV)
            ok = file.write(csv) == csv.size();
        else if (ok)
            ok = WritePicture(*c, plot, format, &file, &error);
        if (ok) ok = file.commit();
        if (!ok && error.isEmpty()) error = file.errorString();
    }
    if (ok) {
        Report(QStringLiteral("Saved %1").arg(path));
        return 1;
    }
    Report(QStringLiteral("Cannot save %1: %2").arg(path, error));
    return UIEBadValue;
}

std::vector<MenuEntry> MenuEntries(const Control &c) {
    std::vector<MenuEntry> entries;
    for (int format : {EXPORT_PNG, EXPORT_PDF, EXPORT_SVG})
        entries.push_back(
            {QStringLiteral("Save picture as %1...").arg(QString::fromLatin1(Suffix(format)).toUpper()),
             format});
    if (CanExport(c, EXPORT_CSV))
        entries.push_back(
            {c.strip ? QStringLiteral("Save history as CSV...") : QStringLiteral("Save line as CSV..."),
             EXPORT_CSV});
    const Plot *plot = c.graph ? c.graph->plot : nullptr;
    if (plot && plot->zoomable) entries.push_back({QStringLiteral("Reset zoom"), 0});
    return entries;
}

bool ZoomHeld(const Control &c) {
    return c.graph && c.graph->plot->zoomed;
}

} // namespace kvor_ui

namespace {

void ShowContextMenu(QWidget *widget, const QPoint &globalPos) {
    Control *c = ControlOf(widget);
    if (!c) return;
    const int panel = widget->property("kvorPanel").toInt();
    const int control = c->id;
    QMenu menu(widget);
    for (const MenuEntry &e : MenuEntries(*c)) {
        if (e.format == 0) menu.addSeparator();
        QAction *action = menu.addAction(e.text);
        action->setData(e.format);
        if (e.format == 0) action->setEnabled(ZoomHeld(*c));
    }
    QAction *chosen = menu.exec(globalPos);
    if (!chosen) return;
    const int format = chosen->data().toInt();
    if (format != 0) {
        ExportPlot(panel, control, format);
    } else if (Control *again = FindControl(panel, control)) {
        if (again->graph) again->graph->plot->ResetZoom();
    }
}

} // namespace

namespace kvor_ui {

void SetGraphOptions(Control &c, const ControlDesc &desc) {
    c.csvColumns = desc.csvColumns;
    if (!c.graph || !desc.zoom) return;
    Plot *plot = c.graph->plot;
    plot->zoomable = true;
    plot->setInteractions(QCP::iRangeDrag | QCP::iRangeZoom);
    plot->axisRect()->setRangeDrag(Qt::Horizontal | Qt::Vertical);
    plot->axisRect()->setRangeZoom(Qt::Horizontal | Qt::Vertical);
}

} // namespace kvor_ui

void SetExportReport(ExportReportPtr report) {
    g_exportReport = report;
}
