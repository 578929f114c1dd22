// The testing library: the operator closing a window, a delayed call from inside event
// processing, the widgets behind panels and controls, and a resizable window fitted to a
// screen area of the test's choosing.
#include <QObject>
#include <QRect>
#include <QSize>
#include <QTimerEvent>
#include <QWidget>

#include <cmath>
#include <functional>
#include <map>

#include "testhooks.h"
#include "ui_internal.h"

using namespace kvor_ui;

namespace {

// Runs the functions queued by AfterDelay; one object for all of them, so that a delayed call
// leaves nothing behind to be deleted later.
class DelayedCalls : public QObject {
  public:
    void Add(int ms, std::function<void()> fn) {
        const int id = startTimer(ms, Qt::PreciseTimer);
        if (id != 0) calls_[id] = std::move(fn);
    }

  protected:
    void timerEvent(QTimerEvent *event) override {
        const int id = event->timerId();
        killTimer(id);
        auto it = calls_.find(id);
        if (it == calls_.end()) return;
        std::function<void()> fn = std::move(it->second);
        calls_.erase(it);
        if (fn) fn();
    }

  private:
    std::map<int, std::function<void()>> calls_;
};

DelayedCalls *Delayed() {
    static DelayedCalls *calls = new DelayedCalls;
    return calls;
}

} // namespace

void AfterDelay(double seconds, std::function<void()> fn) {
    if (!AppReady() || !fn) return;
    double ms = std::ceil(seconds * 1000.0);
    if (!(ms >= 0.0)) ms = 0.0;
    if (ms > 2147483647.0) ms = 2147483647.0;
    Delayed()->Add(static_cast<int>(ms), std::move(fn));
}

int UserClosePanel(int panel) {
    Panel *p = FindPanel(panel);
    if (!p || !p->widget) return UIEInvalidPanel;
    if (!p->widget->isWindow()) return UIEInvalidPanel; // a page has no window to close
    // Through Qt's own close path, as the window's close button would go.
    p->widget->close();
    return 0;
}

void *PanelWidget(int panel) {
    Panel *p = FindPanel(panel);
    return p ? static_cast<QWidget *>(p->widget) : nullptr;
}

void *CtrlWidget(int panel, int control) {
    Control *c = FindControl(panel, control);
    return c ? static_cast<QWidget *>(c->widget) : nullptr;
}

bool PanelVisible(int panel) {
    Panel *p = FindPanel(panel);
    return p && p->widget && !p->widget->isHidden();
}

void *PanelCanvasWidget(int panel) {
    Panel *p = FindPanel(panel);
    return p ? static_cast<QWidget *>(PanelCanvas(*p)) : nullptr;
}

int FitPanelToScreenArea(int panel, int left, int top, int width, int height) {
    Panel *p = FindPanel(panel);
    if (!p || !p->widget || !p->widget->isWindow()) return UIEInvalidPanel;
    if (!p->canvas) return UIEInvalidPanel; // a panel of fixed size keeps it
    FitWindowToArea(p->widget, QSize(p->baseWidth, p->baseHeight), QRect(left, top, width, height));
    return 0;
}
