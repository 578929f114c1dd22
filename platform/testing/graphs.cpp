// The testing library: what graphs and strip charts hold, how often their plots were drawn, and
// the operator's use of a graph's context menu.
#include <QObject>
#include <QWidget>

#include <unordered_map>

#include "graph_internal.h"
#include "testhooks.h"

using namespace kvor_ui;

namespace {

// Drawings per plot widget, counted from the start of the program. A plot's count goes with the
// plot, so a new plot (perhaps at the old one's address) starts from nought. Kept to the very end:
// plots may still go while the program's statics do.
std::unordered_map<const QWidget *, long> &Paints() {
    static auto *paints = new std::unordered_map<const QWidget *, long>;
    return *paints;
}

void CountPaint(QWidget *plot) {
    auto [it, added] = Paints().try_emplace(plot, 0);
    if (added) QObject::connect(plot, &QObject::destroyed, [plot] { Paints().erase(plot); });
    ++it->second;
}

const bool g_counting = [] {
    kvor_ui::g_plotPainted = &CountPaint;
    return true;
}();

} // namespace

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
    const Control *c = FindControl(panel, control);
    // The control's widget is its plot.
    if (!c || (!c->graph && !c->strip) || !c->widget) return 0;
    const auto it = Paints().find(c->widget.data());
    return it == Paints().end() ? 0 : it->second;
}

int UserExportGraph(int panel, int control, int format) {
    return ExportPlot(panel, control, format);
}

std::vector<std::string> GraphMenuEntries(int panel, int control) {
    std::vector<std::string> texts;
    const Control *c = FindControl(panel, control);
    if (!c || (!c->graph && !c->strip)) return texts;
    for (const MenuEntry &e : MenuEntries(*c))
        texts.push_back(e.text.toStdString());
    return texts;
}

bool GraphZoomed(int panel, int control) {
    const Control *c = FindControl(panel, control);
    return c && ZoomHeld(*c);
}
