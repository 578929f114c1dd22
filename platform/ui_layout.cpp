// Resizable panels: the panel file's positions stay the layout; a resizable panel's canvas grows
// with its window, and each control follows the growth as its anchors say. A window smaller than
// the panel file's size scrolls, so every control can still be reached.
#include <QGuiApplication>
#include <QPointer>
#include <QResizeEvent>
#include <QScreen>
#include <QScrollArea>
#include <QScrollBar>
#include <QStyle>
#include <QTimer>
#include <QVBoxLayout>

#include <algorithm>

#include "ui_internal.h"

using namespace kvor_ui;

namespace {

// Room left for the window manager's frame and title bar when a window is fitted to a screen
// area before it has a frame to measure.
constexpr int kFrameWidth = 8;
constexpr int kFrameHeight = 40;
// The smallest a resizable window may be made; anything below its content scrolls.
constexpr int kMinWindowWidth = 320;
constexpr int kMinWindowHeight = 240;

// The canvas lays its controls out again whenever its size changes.
class Canvas : public QWidget {
  public:
    Canvas(int handle, std::uint64_t serial) : handle_(handle), serial_(serial) {}

  protected:
    void resizeEvent(QResizeEvent *event) override {
        QWidget::resizeEvent(event);
        Panel *p = FindPanel(handle_, serial_);
        if (!p) return;
        const int growX = std::max(0, width() - p->baseWidth);
        const int growY = std::max(0, height() - p->baseHeight);
        for (auto &entry : p->controls) {
            Control &c = *entry.second;
            if (c.growX == growX && c.growY == growY) continue;
            c.growX = growX;
            c.growY = growY;
            if (c.anchors != 0 && c.anchors != (ANCHOR_LEFT | ANCHOR_TOP)) PlaceControl(c);
        }
    }

  private:
    int handle_;
    std::uint64_t serial_;
};

// A window too short for its panel shows the panel's lower part when the program shows it: the
// status line and the measurement buttons matter more than the top of the logo strip. (A window
// the operator restores keeps where it was scrolled to.)
class ShowLowerPart : public QObject {
  public:
    explicit ShowLowerPart(QScrollArea *scroll) : QObject(scroll), scroll_(scroll) {}
    bool eventFilter(QObject *, QEvent *event) override {
        if (event->type() == QEvent::Show && !event->spontaneous()) {
            QPointer<QScrollArea> scroll = scroll_;
            QTimer::singleShot(0, scroll_, [scroll] {
                if (scroll) scroll->verticalScrollBar()->setValue(scroll->verticalScrollBar()->maximum());
            });
        }
        return false;
    }

  private:
    QScrollArea *scroll_;
};

} // namespace

namespace kvor_ui {

QWidget *PanelCanvas(const Panel &panel) {
    return panel.canvas ? panel.canvas.data() : panel.widget.data();
}

QRect LaidOutRect(const Control &c) {
    int x = c.left, y = c.top, w = c.width, h = c.height;
    const int a = c.anchors == 0 ? (ANCHOR_LEFT | ANCHOR_TOP) : c.anchors;
    if ((a & ANCHOR_RIGHT) && (a & ANCHOR_LEFT))
        w += c.growX;
    else if (a & ANCHOR_RIGHT)
        x += c.growX;
    if ((a & ANCHOR_BOTTOM) && (a & ANCHOR_TOP))
        h += c.growY;
    else if (a & ANCHOR_BOTTOM)
        y += c.growY;
    return QRect(x, y, std::max(0, w), std::max(0, h));
}

bool ParseAnchors(const QString &text, int *anchors) {
    int a = 0;
    const QStringList words = text.split(QLatin1Char(' '), Qt::SkipEmptyParts);
    for (const QString &word : words) {
        if (word == QLatin1String("left"))
            a |= ANCHOR_LEFT;
        else if (word == QLatin1String("right"))
            a |= ANCHOR_RIGHT;
        else if (word == QLatin1String("top"))
            a |= ANCHOR_TOP;
        else if (word == QLatin1String("bottom"))
            a |= ANCHOR_BOTTOM;
        else
            return false;
    }
    // Anchored to neither side of a direction, a control keeps its place in it.
    if (!(a & (ANCHOR_LEFT | ANCHOR_RIGHT))) a |= ANCHOR_LEFT;
    if (!(a & (ANCHOR_TOP | ANCHOR_BOTTOM))) a |= ANCHOR_TOP;
    *anchors = a;
    return true;
}

QWidget *BuildResizableWindow(QWidget *window, Panel &panel, int width, int height) {
    auto *scroll = new QScrollArea(window);
    scroll->setFrameShape(QFrame::NoFrame);
    scroll->setWidgetResizable(true);
    auto *canvas = new Canvas(panel.handle, panel.serial);
    canvas->setAutoFillBackground(true);
    canvas->setMinimumSize(width, height);
    canvas->resize(width, height);
    scroll->setWidget(canvas);
    scroll->viewport()->setAutoFillBackground(true);
    auto *layout = new QVBoxLayout(window);
    layout->setContentsMargins(0, 0, 0, 0);
    layout->setSpacing(0);
    layout->addWidget(scroll);
    window->installEventFilter(new ShowLowerPart(scroll));
    window->setMinimumSize(std::min(width, kMinWindowWidth), std::min(height, kMinWindowHeight));
    panel.canvas = canvas;
    panel.baseWidth = width;
    panel.baseHeight = height;
    QSize wanted(width, height);
    const QScreen *screen = QGuiApplication::primaryScreen();
    if (screen)
        FitWindowToArea(window, wanted, screen->availableGeometry());
    else
        window->resize(wanted);
    return canvas;
}

void FitWindowToArea(QWidget *window, const QSize &wanted, const QRect &available) {
    const QSize room(std::max(kMinWindowWidth, available.width() - kFrameWidth),
                     std::max(kMinWindowHeight, available.height() - kFrameHeight));
    QSize size = wanted.boundedTo(room);
    // Cut short in one direction, the window scrolls in it: its scroll bar takes room that
    // the other direction gives when it can, so that one does not scroll as well.
    const int bar = window->style()->pixelMetric(QStyle::PM_ScrollBarExtent, nullptr, window);
    if (size.height() < wanted.height()) size.setWidth(std::min(room.width(), wanted.width() + bar));
    if (size.width() < wanted.width()) size.setHeight(std::min(room.height(), wanted.height() + bar));
    window->resize(size);
    if (size != wanted) window->move(available.topLeft());
}

} // namespace kvor_ui
