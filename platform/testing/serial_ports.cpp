// The testing library: the program's own turnaround on a port, and the port list pointed at a
// directory of the test's own.
#include <QElapsedTimer>

#include <algorithm>
#include <functional>
#include <string>
#include <vector>

#include "hooks_internal.h"
#include "rs232.h"
#include "testhooks.h"

namespace {

// The newest turnarounds a port keeps. A fixed ring, so that recording never allocates.
constexpr size_t kTurnaroundRing = 4096;

struct TurnaroundLog {
    bool recording = false; // TakeComTurnarounds was called for the port
    std::vector<double> seconds;
    size_t next = 0, count = 0;
};

struct PortWatch {
    long reads = 0;       // how often bytes were taken in from the system
    qint64 lastInNs = -1; // when bytes last came in, while no write has followed them
    TurnaroundLog log;
    int writesToHook = 0;             // BeforeComWrite: writes to go until its function runs
    std::function<void()> beforeWrite;
};

// Kept to the very end: a port may still be closed while the program's statics go.
std::vector<PortWatch> &Ports() {
    static auto *ports = new std::vector<PortWatch>(static_cast<size_t>(MaxComPort()) + 1);
    return *ports;
}

bool ValidPort(int port) {
    return port >= 1 && port <= MaxComPort();
}

qint64 NowNs() {
    static const QElapsedTimer clock = [] {
        QElapsedTimer t;
        t.start();
        return t;
    }();
    return clock.nsecsElapsed();
}

void WatchTraffic(int port, kvor_com::Traffic traffic) {
    if (!ValidPort(port)) return;
    PortWatch &w = Ports()[static_cast<size_t>(port)];
    switch (traffic) {
    case kvor_com::kTrafficIn:
        w.lastInNs = NowNs();
        ++w.reads;
        break;
    case kvor_com::kTrafficClosed:
        w.lastInNs = -1;
        break;
    case kvor_com::kTrafficWriting: {
        if (w.beforeWrite && --w.writesToHook <= 0) {
            const std::function<void()> fn = std::move(w.beforeWrite);
            w.beforeWrite = nullptr;
            fn();
        }
        if (w.lastInNs < 0) return;
        const double gap = static_cast<double>(NowNs() - w.lastInNs) / 1e9;
        w.lastInNs = -1;
        TurnaroundLog &log = w.log;
        if (!log.recording) return; // nobody asked for them
        log.seconds[log.next] = gap;
        log.next = (log.next + 1) % kTurnaroundRing;
        log.count = std::min(log.count + 1, kTurnaroundRing);
        break;
    }
    }
}

// A program that takes turnarounds watches its ports from its start: the first write that
// TakeComTurnarounds sees may follow bytes that came in before it was first called.
const bool g_watching = [] {
    Ports();
    kvor_com::g_trafficWatch = &WatchTraffic;
    return true;
}();

} // namespace

std::vector<double> TakeComTurnarounds(int port) {
    std::vector<double> gaps;
    if (!ValidPort(port)) return gaps;
    TurnaroundLog &log = Ports()[static_cast<size_t>(port)].log;
    if (!log.recording) {
        // From now on the port keeps them.
        log.recording = true;
        log.seconds.assign(kTurnaroundRing, 0.0);
        return gaps;
    }
    gaps.reserve(log.count);
    const size_t first = (log.next + kTurnaroundRing - log.count) % kTurnaroundRing;
    for (size_t i = 0; i < log.count; ++i)
        gaps.push_back(log.seconds[(first + i) % kTurnaroundRing]);
    log.count = 0;
    return gaps;
}

void SetSerialByIdDirectory(const std::string &directory) {
    kvor_com::g_byIdDirectory = directory;
}

void ForgetAssignedComPorts(void) {
    kvor_com::ForgetAssignedPorts();
}

void BeforeComWrite(int port, int nth, std::function<void()> fn) {
    if (!ValidPort(port)) return;
    PortWatch &w = Ports()[static_cast<size_t>(port)];
    w.writesToHook = nth;
    w.beforeWrite = std::move(fn);
}

long ComReadCount(int port) {
    return ValidPort(port) ? Ports()[static_cast<size_t>(port)].reads : 0;
}
