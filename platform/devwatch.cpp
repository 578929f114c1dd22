// Device watch over a coarse QTimer: once a second is plenty for a cable that is plugged back
// in, and the timer wakes the thread only then.
#include "devwatch.h"

#include <QCoreApplication>
#include <QFileInfo>
#include <QTimer>

#include <cmath>

#include "ui_internal.h"

namespace {

QTimer *g_timer = nullptr;
DeviceWatchFunction g_fn = nullptr;
void *g_data = nullptr;
long g_checks = 0;
bool g_inCheck = false;

void Check() {
    // A check that processes events (a reconnection runs an exchange) never nests another.
    if (g_inCheck || !g_fn) return;
    g_inCheck = true;
    ++g_checks;
    const DeviceWatchFunction fn = g_fn;
    fn(g_data);
    g_inCheck = false;
}

} // namespace

int StartDeviceWatch(DeviceWatchFunction fn, void *data, double intervalSeconds) {
    if (!QCoreApplication::instance() || !fn) return -1;
    if (!(intervalSeconds >= 1.0)) intervalSeconds = 1.0;
    if (intervalSeconds > 3600.0) intervalSeconds = 3600.0;
    if (!g_timer) {
        g_timer = new QTimer(QCoreApplication::instance());
        g_timer->setTimerType(Qt::CoarseTimer);
        QObject::connect(g_timer, &QTimer::timeout, g_timer, &Check);
    }
    g_fn = fn;
    g_data = data;
    g_timer->start(static_cast<int>(std::lround(intervalSeconds * 1000.0)));
    return 0;
}

void StopDeviceWatch(void) {
    if (g_timer) g_timer->stop();
    g_fn = nullptr;
    g_data = nullptr;
}

int DeviceWatchRunning(void) {
    return g_timer && g_timer->isActive() && g_fn ? 1 : 0;
}

long DeviceWatchChecks(void) {
    return g_checks;
}

int SerialDevicePresent(const char *path) {
    if (!path || !*path) return 0;
    return QFileInfo::exists(QString::fromLocal8Bit(path)) ? 1 : 0;
}

int CallbackRunning(void) {
    return kvor_ui::CallbackRunning() ? 1 : 0;
}
