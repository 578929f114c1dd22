// The event loop: RunUserInterface, QuitUserInterface, ProcessSystemEvents, AfterDelay.
//
// Callbacks may wait for the sensor in loops of their own that call ProcessSystemEvents, so
// loops nest: the main loop dispatches a click, whose callback loops and dispatches further
// clicks, timers and serial notifications. A quit request is therefore only recorded here; the
// main loop sees it once the callback that is running has returned.
#include <QAbstractEventDispatcher>
#include <QApplication>
#include <QTimer>

#include <cmath>
#include <functional>
#include <map>

#include "testhooks.h"
#include "ui_internal.h"

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
    if (!AppReady()) return UIENotInitialised;
    QAbstractEventDispatcher *dispatcher = QAbstractEventDispatcher::instance();
    if (!dispatcher) return UIENotInitialised;
    CollectDiscardedPanels();
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

