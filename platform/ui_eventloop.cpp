// The event loop: RunUserInterface, QuitUserInterface, ProcessSystemEvents, AfterDelay.
//
// Callbacks may wait for the sensor in loops of their own that call ProcessSystemEvents, so
// loops nest: the main loop dispatches a click, whose callback loops and dispatches further
// clicks, timers and serial notifications. A quit request is therefore only recorded here; the
// main loop sees it once the callback that is running has returned.
#include <QAbstractEventDispatcher>
#include <QApplication>
#include <QTimer>

#include <algorithm>
#include <cmath>
#include <functional>
#include <map>

#include "hooks_internal.h"
#include "testhooks.h"
#include "ui_internal.h"
#include "utility.h"

using namespace kvor_ui;

namespace {

bool g_quitRequested = false;
int g_quitCode = 0;

// How long ProcessSystemEvents waits for the next event when nothing is pending. Whatever a
// waiting loop waits for raises an event and ends the wait at once: serial bytes, a click, a
// timer. Only a loop's own time-out raises none, and is noticed up to this much late: under 2 per
// cent of the 1.5 s time-outs. Every wake-up costs the thread tens of microseconds; waking every
// millisecond kept 3 to 4 per cent of a core busy through every wait for the sensor, and at 25 ms
// a RUN at the pace of the line (an answer every 40 ms, its bytes coming in every 4 ms) wakes
// only when something has happened.
constexpr int kIdleWaitMs = 25;

// Wakes a waiting ProcessSystemEvents when nothing else happens.
QTimer *Tick() {
    static QTimer *tick = nullptr;
    if (!tick) {
        tick = new QTimer;
        tick->setSingleShot(true);
        tick->setTimerType(Qt::PreciseTimer);
        tick->setInterval(kIdleWaitMs);
    }
    return tick;
}

// Wakes a ProcessSystemEventsUntil at its caller's time-out. It stays armed from one pass to
// the next of the same wait: starting a timer costs a heap allocation, and a wait makes a pass
// for every piece of news.
struct DeadlineTick {
    QTimer timer;
    double armedFor = -1.0; // the deadline it is armed for
};

DeadlineTick &Deadline() {
    static DeadlineTick *tick = nullptr;
    if (!tick) {
        tick = new DeadlineTick;
        tick->timer.setSingleShot(true);
        tick->timer.setTimerType(Qt::PreciseTimer);
    }
    return *tick;
}

// The dispatcher for one pass, once the panels discarded meanwhile are gone; null before the
// run time is up.
QAbstractEventDispatcher *PassDispatcher() {
    if (!AppReady()) return nullptr;
    QAbstractEventDispatcher *dispatcher = QAbstractEventDispatcher::instance();
    if (dispatcher) CollectDiscardedPanels();
    return dispatcher;
}

} // namespace

namespace kvor_ui {
void ForgetQuitRequest() {
    g_quitRequested = false;
}
} // namespace kvor_ui

int RunUserInterface(void) {
    if (!AppReady()) return UIENotInitialised;
    QAbstractEventDispatcher *dispatcher = QAbstractEventDispatcher::instance();
    if (!dispatcher) return UIENotInitialised;
    while (!g_quitRequested) {
        CollectDiscardedPanels();
        dispatcher->processEvents(QEventLoop::AllEvents | QEventLoop::WaitForMoreEvents);
    }
    g_quitRequested = false;
    CollectDiscardedPanels();
    return g_quitCode;
}

int QuitUserInterface(int code) {
    g_quitCode = code;
    g_quitRequested = true;
    if (QAbstractEventDispatcher *dispatcher = QAbstractEventDispatcher::instance()) dispatcher->wakeUp();
    return 0;
}

int ProcessSystemEvents(void) {
    QAbstractEventDispatcher *dispatcher = PassDispatcher();
    if (!dispatcher) return UIENotInitialised;
    // One pass of the dispatcher: it handles whatever is pending at once, and when nothing is,
    // waits for the next event, but not so long that a polling caller misses its time-out by
    // much. (A look without waiting first would cost a second pass whenever nothing is
    // pending, which is most of the time.)
    QTimer *tick = Tick();
    tick->start();
    dispatcher->processEvents(QEventLoop::AllEvents | QEventLoop::WaitForMoreEvents);
    // Something else may have ended the wait: the tick would only end the next one early.
    tick->stop();
    return 0;
}

int ProcessSystemEventsUntil(double deadline) {
    // A test's own clock moves without events: it is looked at every tick, as in any pass.
    if (kvor_ui::g_clockOverride) return ProcessSystemEvents();
    QAbstractEventDispatcher *dispatcher = PassDispatcher();
    if (!dispatcher) return UIENotInitialised;
    DeadlineTick &tick = Deadline();
    if (!tick.timer.isActive() || tick.armedFor != deadline) {
        // At least a millisecond: a deadline just reached, but not yet passed by the caller's
        // rule, must not make the passes spin.
        const double ms = std::ceil((deadline - Timer()) * 1000.0);
        tick.timer.start(static_cast<int>(std::min(std::max(ms, 1.0), 86400000.0)));
        tick.armedFor = deadline;
    }
    dispatcher->processEvents(QEventLoop::AllEvents | QEventLoop::WaitForMoreEvents);
    return 0;
}

