// kvor-bench: the program's loops against the simulated sensor, offscreen, over a real
// pseudo-terminal, driven as the operator drives them (RUN, VIDEO and STOP clicks).
//
// It prints one line per figure, each with its goal. It never fails on a figure: the exit code
// only says whether the measurements could be taken at all.
//
// CPU time is the GUI thread's own (getrusage with RUSAGE_THREAD, read on that thread): the
// simulated sensor runs in the same process, on a thread of its own, and is not the program.
#include <QApplication>
#include <QDir>
#include <QFile>
#include <QTemporaryDir>
#include <QTest>
#include <QWidget>

#include <chrono>
#include <condition_variable>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <functional>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include <malloc.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <unistd.h>

#include "K-VOR-RNZazorU30.h"
#include "alloc_count.h"
#include "bench_stats.h"
#include "com232.h"
#include "connection.h"
#include "devwatch.h"
#include "measure.h"
#include "recorder.h"
#include "recorder_app.h"
#include "qcustomplot.h"
#include "recorder_window.h"
#include "rs232.h"
#include "sensor_sim.h"
#include "state.h"
#include "testhooks.h"
#include "userint.h"
#include "utility.h"

using namespace kvorbench;

namespace {

constexpr int kBaud = 19200;
constexpr double kStartupPauses = 4 * 0.1; // the start-up exchange waits 0.1 s four times
constexpr size_t kMemoryExchanges = 10000;
constexpr size_t kMemoryStep = 1000;
constexpr double kWatchdogSeconds = 240.0;

struct Settings {
    double warmup = 1.0;        // seconds of a loop before its figures are taken
    double pacedSeconds = 12.0; // RUN at the line's pace
    double videoSeconds = 10.0;
    int stopTrials = 15;
    int startupTrials = 3;
    size_t memoryExchanges = kMemoryExchanges;
    double unpacedDeadline = 90.0; // an unpaced RUN that takes longer is cut short
    double reconnectWait = 10.0;   // seconds of waiting for an unplugged device
    std::string only;              // one part only (for profiling): run, stop, video, free, reconnect, record
    std::string allocationSites;   // where the paced RUN's stacks of allocations go (empty: not traced)
    size_t recordAnswers = 1000000; // answers fed straight to the recorder
    size_t trendAnswers = 2200000;  // a day at the line's pace, for the trend's redraw
};

// --- measuring ----------------------------------------------------------------------------------

double ThreadCpuSeconds() {
    rusage u;
    if (getrusage(RUSAGE_THREAD, &u) != 0) return 0.0;
    return static_cast<double>(u.ru_utime.tv_sec + u.ru_stime.tv_sec) +
           static_cast<double>(u.ru_utime.tv_usec + u.ru_stime.tv_usec) / 1e6;
}

// The part of it spent in the kernel (system calls, waking up).
double ThreadSystemSeconds() {
    rusage u;
    if (getrusage(RUSAGE_THREAD, &u) != 0) return 0.0;
    return static_cast<double>(u.ru_stime.tv_sec) + static_cast<double>(u.ru_stime.tv_usec) / 1e6;
}

// A "Key:   1234 kB" line of /proc/self/status, in kB; -1 when missing.
long StatusKb(const char *key) {
    std::ifstream in("/proc/self/status");
    std::string line;
    const size_t n = std::strlen(key);
    while (std::getline(in, line)) {
        if (line.compare(0, n, key) == 0 && line.size() > n && line[n] == ':')
            return std::strtol(line.c_str() + n + 1, nullptr, 10);
    }
    return -1;
}

// Restarts the peak resident size (VmHWM) from the present one.
bool ResetPeakRss() {
    std::ofstream out("/proc/self/clear_refs");
    out << "5";
    out.flush();
    return static_cast<bool>(out);
}

std::string LoadAverage() {
    std::ifstream in("/proc/loadavg");
    std::string a, b, c;
    in >> a >> b >> c;
    return a + " " + b + " " + c;
}

// A moment of a run as seen from the GUI thread.
struct Mark {
    double t = 0.0;
    double cpu = 0.0, system = 0.0;
    size_t requests = 0;
    long stripPaints = 0, graphPaints = 0, videoPaints = 0;
    long long allocations = 0;
    long rssKb = 0;
};

kvorsim::Simulator *g_sim = nullptr;
kvorsim::Options g_options; // the simulator's, as it was started

Mark Snap(bool withRss = false) {
    Mark m;
    m.t = Timer();
    m.cpu = ThreadCpuSeconds();
    m.system = ThreadSystemSeconds();
    m.requests = g_sim->requestCount();
    m.stripPaints = GraphRepaintCount(pHandle, PANEL_STRIPCHART);
    m.graphPaints = GraphRepaintCount(pHandle, PANEL_GRAPH);
    m.videoPaints = GraphRepaintCount(pHandle, PANEL_VIDEOGRAPH);
    m.allocations = ThreadAllocations();
    if (withRss) m.rssKb = StatusKb("VmRSS");
    return m;
}

// The requests logged between two marks, from a log that began at 'base' requests.
std::vector<kvorsim::Request> Between(const std::vector<kvorsim::Request> &log, size_t base, const Mark &from,
                                      const Mark &to) {
    std::vector<kvorsim::Request> part;
    for (size_t k = from.requests; k < to.requests; ++k) {
        const size_t i = k - base;
        if (k >= base && i < log.size()) part.push_back(log[i]);
    }
    return part;
}

// --- acting as the operator ---------------------------------------------------------------------

QWidget *StopButton() {
    return static_cast<QWidget *>(CtrlWidget(pHandle, PANEL_BTNStop));
}

// The mouse goes down on STOP: its left-click event ends a running loop.
void PressStop() {
    QWidget *w = StopButton();
    QTest::mousePress(w, Qt::LeftButton, Qt::KeyboardModifiers(), w->rect().center());
}

// The mouse comes up again: the commit undims the buttons and lets the sensor settle.
void ReleaseStop() {
    QWidget *w = StopButton();
    QTest::mouseRelease(w, Qt::LeftButton, Qt::KeyboardModifiers(), w->rect().center());
}

void Settle(double seconds) {
    const double end = Timer() + seconds;
    while (Timer() < end)
        ProcessSystemEvents();
}

std::string Status() {
    char text[256] = {0};
    GetCtrlVal(pHandle, PANEL_STATUS, text, sizeof text);
    return text;
}

// --- reporting ----------------------------------------------------------------------------------

std::string Fixed(double v, int decimals) {
    char buf[64];
    std::snprintf(buf, sizeof buf, "%.*f", decimals, v);
    return buf;
}

std::vector<std::string> g_lines;

void Figure(const std::string &tag, const std::string &text, const std::string &goal, bool met) {
    char buf[512];
    std::snprintf(buf, sizeof buf, "%-4s %-84s goal %-18s %s", tag.c_str(), text.c_str(), goal.c_str(),
                  met ? "met" : "NOT MET");
    g_lines.push_back(buf);
}

void Note(const std::string &text) {
    g_lines.push_back("     " + text);
}

void Progress(const char *what) {
    std::fprintf(stderr, "kvor-bench: %s\n", what);
}

// --- the runs -----------------------------------------------------------------------------------

struct Results {
    double idleCpu = 0, idlePassesPerSecond = 0;
    double applyUs = 0, applyCpuUs = 0, applyAllocs = -1;
    double barFrameUs = 0, stripFrameUs = 0;
    double barFrameAllocs = -1, stripFrameAllocs = -1;
    // start-up
    std::vector<double> startup;
    bool startupOk = true;
    // paced RUN
    double pacedSystem = 0; // the kernel's part of pacedCpu
    double pacedRate = 0, pacedCpu = 0, turnMedian = 0, turnP99 = 0, turnMax = 0;
    double programTurnMedian = 0, programTurnP99 = 0, simLateMean = 0, turnMean = 0;
    double pacedStripPerAnswer = 0, pacedGraphPerAnswer = 0, pacedAllocs = -1;
    size_t pacedExchanges = 0, turnCount = 0;
    std::string pacedEnd;
    bool pacedComplete = false, videoComplete = false, freeComplete = false;
    bool ranRun = false, ranStop = false, ranVideo = false, ranFree = false;
    // STOP
    std::vector<double> stops;
    double wholeClickStop = -1;
    // VIDEO
    double videoRate = 0, videoCpu = 0, videoPaintsPerPass = 0;
    size_t videoPasses = 0;
    // unpaced RUN
    double freeRate = 0, freeCpu = 0, freeStripPerSecond = 0, freeGraphPerSecond = 0, freeAllocs = -1;
    size_t freeExchanges = 0;
    std::vector<Mark> memory;
    long peakKb = -1;
    // waiting for an unplugged device, and reconnecting when it is back
    bool ranReconnect = false, reconnectOk = false;
    double waitSeconds = 0, waitCpu = 0, reconnectSeconds = -1;
    long waitChecks = 0;
};

void MeasureStartup(const Settings &s, Results &r) {
    for (int k = 0; k < s.startupTrials; ++k) {
        g_sim->takeRequests();
        if (k > 0) CloseCom(com); // as a change of port does before it opens the port again
        const double t0 = Timer();
        InitRS232(com);
        r.startup.push_back(Timer() - t0);
        // A start-up that talked to the sensor sends line check, hardware, two sets, firmware.
        const std::vector<kvorsim::Request> log = g_sim->takeRequests();
        const int expected[kStartupAnswers] = {5, 10, 2, 2, 7};
        bool ok = log.size() == kStartupAnswers;
        for (size_t i = 0; ok && i < log.size(); ++i)
            ok = log[i].command == expected[i] && log[i].answered >= 0.0;
        r.startupOk = r.startupOk && ok;
        if (k == 0) {
            // The rest of the program's own start, then the windows, as the operator sees them.
            InitGUI();
            DisplayPanel(pHandle);
            DisplayPanel(pPara1);
        }
        Settle(0.2);
    }
}

// A wait that polls with nothing arriving: what the program costs while the line is busy.
void MeasureIdle(Results &r) {
    Settle(0.2);
    const double t0 = Timer(), c0 = ThreadCpuSeconds();
    long passes = 0;
    while (Timer() - t0 < 2.0) {
        ProcessSystemEvents();
        ++passes;
    }
    const double dt = Timer() - t0;
    r.idleCpu = (ThreadCpuSeconds() - c0) / dt;
    r.idlePassesPerSecond = static_cast<double>(passes) / dt;
}

// What applying one answer costs the GUI thread, drawing excluded: the indicators, the bar graph
// and the history, exactly as the RUN loop calls them.
void MeasureApply(Results &r) {
    SetCtrlAttribute(pHandle, PANEL_STRIPCHART, ATTR_VISIBLE, 1);
    const int n = 2000;
    const double t0 = Timer(), c0 = ThreadCpuSeconds();
    const long long a0 = ThreadAllocations();
    for (int i = 0; i < n; ++i) {
        Mvalue = static_cast<uint16_t>(500 + i % 40);
        Ledge = static_cast<uint16_t>(400 + i % 7);
        Redge = static_cast<uint16_t>(600 + i % 5);
        PlotVIDEOBarGraph();
        PlotRAWGraph();
    }
    r.applyUs = (Timer() - t0) / n * 1e6;
    r.applyCpuUs = (ThreadCpuSeconds() - c0) / n * 1e6;
    if (a0 >= 0) r.applyAllocs = static_cast<double>(ThreadAllocations() - a0) / n;
    Settle(0.2);
}

// CPU and heap allocations of one frame of a plot: the window paints it, with what it shows now,
// at once.
double MeasureFrame(int control, double *allocations) {
    auto *plot = static_cast<QWidget *>(CtrlWidget(pHandle, control));
    if (!plot || !plot->isVisible()) return 0.0;
    const int n = 200;
    const double c0 = ThreadCpuSeconds();
    const long long a0 = ThreadAllocations();
    for (int i = 0; i < n; ++i)
        plot->repaint();
    const double us = (ThreadCpuSeconds() - c0) / n * 1e6;
    if (a0 >= 0) *allocations = static_cast<double>(ThreadAllocations() - a0) / n;
    Settle(0.1);
    return us;
}

// The measuring window of one loop: marked from inside the loop, after its warm-up and at its
// end, when STOP is pressed.
struct Window {
    Mark begin, end;
    bool ended = false; // the window ran to its end (and not the loop into a time-out first)
    std::vector<double> programTurns;
    std::string status; // the status line when the loop had ended
};

// Clicks a loop's button and measures a window of it; returns once the loop has ended. A loop
// that ends early leaves its marks untaken: the calls planned for later find the window gone.
// With 'sites', the window's allocations on the GUI thread are traced into that file.
void RunWindow(int button, double warmup, double seconds, Window &w, const std::string &sites = std::string()) {
    auto alive = std::make_shared<bool>(true);
    TakeComTurnarounds(com);
    AfterDelay(warmup, [alive, &w, sites] {
        if (!*alive) return;
        w.begin = Snap();
        TakeComTurnarounds(com);
        if (!sites.empty()) TraceAllocations(true);
    });
    AfterDelay(warmup + seconds, [alive, &w, sites] {
        if (!*alive) return;
        TraceAllocations(false);
        w.end = Snap();
        if (!sites.empty() && !WriteAllocationSites(sites.c_str()))
            std::fprintf(stderr, "kvor-bench: cannot write %s\n", sites.c_str());
        w.programTurns = TakeComTurnarounds(com);
        w.ended = true;
        PressStop();
    });
    UserClick(pHandle, button); // returns when the loop has ended
    *alive = false;
    w.status = Status();
    if (w.ended) ReleaseStop();
}

void MeasurePacedRun(const Settings &s, Results &r) {
    g_sim->setPacing(true);
    g_sim->takeRequests();
    const size_t base = g_sim->requestCount();
    Window w;
    RunWindow(PANEL_BTNRun, s.warmup, s.pacedSeconds, w, s.allocationSites);
    r.pacedEnd = w.status;
    r.pacedComplete = w.ended;
    const Mark &m0 = w.begin, &m1 = w.end;
    const std::vector<double> &programTurns = w.programTurns;
    const std::vector<kvorsim::Request> log = g_sim->takeRequests();
    const std::vector<kvorsim::Request> window = Between(log, base, m0, m1);
    r.pacedExchanges = window.size();
    r.pacedRate = RatePerSecond(ReceivedTimes(window, 8));
    r.pacedCpu = m1.t > m0.t ? (m1.cpu - m0.cpu) / (m1.t - m0.t) : 0.0;
    r.pacedSystem = m1.t > m0.t ? (m1.system - m0.system) / (m1.t - m0.t) : 0.0;
    const std::vector<double> turns = Turnarounds(window);
    r.turnCount = turns.size();
    r.turnMedian = Median(turns);
    r.turnP99 = Percentile(turns, 99.0);
    r.turnMax = Max(turns);
    // Where the time of an exchange goes beyond the line: the simulator's lateness in sending the
    // answer's last byte (its timer waking late), and the turnaround.
    std::vector<double> late;
    for (const kvorsim::Request &q : window)
        if (q.answered >= 0.0)
            late.push_back(q.answered - q.received -
                           RunExchangeSeconds(g_options.baud, g_options.processingDelay));
    r.simLateMean = Mean(late);
    r.turnMean = Mean(turns);
    r.programTurnMedian = Median(programTurns);
    r.programTurnP99 = Percentile(programTurns, 99.0);
    const double n = w.ended ? static_cast<double>(m1.requests - m0.requests) : 0.0;
    if (n > 0) {
        r.pacedStripPerAnswer = static_cast<double>(m1.stripPaints - m0.stripPaints) / n;
        r.pacedGraphPerAnswer = static_cast<double>(m1.graphPaints - m0.graphPaints) / n;
        if (m0.allocations >= 0) r.pacedAllocs = static_cast<double>(m1.allocations - m0.allocations) / n;
    }
    Settle(0.1);
}

void MeasureStop(const Settings &s, Results &r) {
    g_sim->setPacing(true);
    for (int k = 0; k < s.stopTrials; ++k) {
        // Spread over a few exchanges, so that the click meets the loop in every phase.
        const double after = 0.3 + 0.0131 * k;
        auto pressed = std::make_shared<double>(-1.0); // stays -1 when the loop ended first
        AfterDelay(after, [pressed] {
            if (stop_flag != 0) return; // the loop is over: nothing to stop
            *pressed = Timer();
            PressStop();
        });
        UserClick(pHandle, PANEL_BTNRun);
        const double ended = Timer();
        if (*pressed >= 0.0) {
            ReleaseStop();
            r.stops.push_back(ended - *pressed);
        }
        // The call planned for a loop that ended early must not meet the next one.
        const double until = Timer() + after + 0.5;
        while (Timer() < until && *pressed < 0.0 && pressed.use_count() > 1)
            ProcessSystemEvents();
    }
    // A click whose press and release come in one event pass: the release's commit runs inside
    // the loop's event pass too, and its settle holds the loop that long.
    auto clicked = std::make_shared<double>(-1.0);
    AfterDelay(0.3, [clicked] {
        if (stop_flag != 0) return;
        *clicked = Timer();
        UserClick(pHandle, PANEL_BTNStop);
    });
    UserClick(pHandle, PANEL_BTNRun);
    const double ended = Timer();
    if (*clicked >= 0.0) r.wholeClickStop = ended - *clicked;
    const double until = Timer() + 1.0;
    while (Timer() < until && *clicked < 0.0 && clicked.use_count() > 1)
        ProcessSystemEvents();
    g_sim->takeRequests();
    Settle(0.1);
}

void MeasureVideo(const Settings &s, Results &r) {
    g_sim->setPacing(true);
    g_sim->takeRequests();
    const size_t base = g_sim->requestCount();
    Window w;
    RunWindow(PANEL_BTNVideo, s.warmup, s.videoSeconds, w);
    r.videoComplete = w.ended;
    const Mark &m0 = w.begin, &m1 = w.end;
    const std::vector<kvorsim::Request> log = g_sim->takeRequests();
    const std::vector<double> passes =
        w.ended ? ReceivedTimes(Between(log, base, m0, m1), 8) : std::vector<double>();
    r.videoPasses = passes.size();
    r.videoRate = RatePerSecond(passes);
    r.videoCpu = m1.t > m0.t ? (m1.cpu - m0.cpu) / (m1.t - m0.t) : 0.0;
    if (!passes.empty())
        r.videoPaintsPerPass =
            static_cast<double>(m1.videoPaints - m0.videoPaints) / static_cast<double>(passes.size());
    Settle(0.1);
}

void MeasureUnpacedRun(const Settings &s, Results &r) {
    g_sim->setPacing(false);
    g_sim->takeRequests();
    ResetPeakRss();
    const size_t base = g_sim->requestCount();
    const double deadline = Timer() + s.unpacedDeadline;
    size_t next = kMemoryStep;
    bool pressed = false;
    auto alive = std::make_shared<bool>(true);
    std::function<void()> watch = [&, alive] {
        if (!*alive) return; // the loop ended without us
        const size_t n = g_sim->requestCount() - base;
        g_sim->takeRequests(); // the simulator's log is not the program: keep it from growing
        while (next <= s.memoryExchanges && n >= next) {
            r.memory.push_back(Snap(true));
            next += kMemoryStep;
        }
        if (n >= s.memoryExchanges || Timer() > deadline) {
            pressed = true;
            PressStop();
            return;
        }
        AfterDelay(0.002, watch);
    };
    AfterDelay(0.002, watch);
    UserClick(pHandle, PANEL_BTNRun);
    *alive = false;
    if (pressed) ReleaseStop();
    r.freeComplete = r.memory.size() * kMemoryStep >= s.memoryExchanges;
    r.peakKb = StatusKb("VmHWM");
    g_sim->takeRequests();
    g_sim->setPacing(true);
    if (r.memory.size() >= 2) {
        const Mark &a = r.memory.front();
        const Mark &b = r.memory.back();
        const double dt = b.t - a.t;
        r.freeExchanges = b.requests - a.requests;
        if (dt > 0) {
            r.freeRate = static_cast<double>(r.freeExchanges) / dt;
            r.freeCpu = (b.cpu - a.cpu) / dt;
            r.freeStripPerSecond = static_cast<double>(b.stripPaints - a.stripPaints) / dt;
            r.freeGraphPerSecond = static_cast<double>(b.graphPaints - a.graphPaints) / dt;
        }
        if (a.allocations >= 0 && r.freeExchanges > 0)
            r.freeAllocs =
                static_cast<double>(b.allocations - a.allocations) / static_cast<double>(r.freeExchanges);
    }
    Settle(0.1);
}

void Report(const Results &r, const kvorsim::Options &opt) {
    const double exchange = RunExchangeSeconds(opt.baud, opt.processingDelay);
    const double pass = VideoPassSeconds(opt.baud, opt.processingDelay);
    const double runLimit = 1.0 / exchange;
    const double videoLimit = 1.0 / pass;
    const double ms = 1000.0;

    if (r.ranRun) {
        // 1.
        const double ratio = r.pacedRate / runLimit;
        Figure("1",
               "RUN at " + std::to_string(opt.baud) + " baud, paced: " + Fixed(r.pacedRate, 2) +
                   " exchanges/s = " + Fixed(ratio, 3) + " of the limit " + Fixed(runLimit, 2) + "/s",
               ">= 0.98", ratio >= 0.98);
        Note("limit = 1 / (processing " + Fixed(opt.processingDelay * ms, 1) + " ms + 720 bits / " +
             std::to_string(opt.baud) + " = " + Fixed(exchange * ms, 2) + " ms); " +
             std::to_string(r.pacedExchanges) + " exchanges; repaints per answer: strip chart " +
             Fixed(r.pacedStripPerAnswer, 2) + ", bar graph " + Fixed(r.pacedGraphPerAnswer, 2));
        Note("an exchange took " + Fixed(r.pacedRate > 0 ? 1000.0 / r.pacedRate : 0.0, 3) +
             " ms on average: " + Fixed(exchange * ms, 2) + " ms of line and processing, " +
             Fixed(r.simLateMean * ms, 3) + " ms of the simulator sending late, " +
             Fixed(r.turnMean * ms, 3) + " ms of turnaround (mean)");
        if (!r.pacedComplete) Note("THE RUN ENDED BEFORE ITS WINDOW DID, with: " + r.pacedEnd);
        // 2.
        Figure("2",
               "CPU of the GUI thread during paced RUN: " + Fixed(r.pacedCpu, 4) + " of one core (" +
                   Fixed(r.pacedRate > 0 ? r.pacedCpu / r.pacedRate * 1e6 : 0.0, 0) + " us per exchange)",
               "<= 0.015", r.pacedComplete && r.pacedCpu <= 0.015);
        Note("an idle wait: " + Fixed(r.idlePassesPerSecond, 0) + " event passes/s at " +
             Fixed(r.idleCpu, 4) + " of a core");
        Note("applying one answer without drawing it: " + Fixed(r.applyUs, 0) + " us (" +
             Fixed(r.applyCpuUs, 0) + " us CPU" +
             (r.applyAllocs >= 0 ? ", " + Fixed(r.applyAllocs, 1) + " heap allocations" : "") + ")");
        Note("of it in the kernel (system calls, waking up): " + Fixed(r.pacedSystem, 4) + " of a core (" +
             Fixed(r.pacedRate > 0 ? r.pacedSystem / r.pacedRate * 1e6 : 0.0, 0) + " us per exchange)");
        Note("one frame painted, CPU: bar graph " + Fixed(r.barFrameUs, 0) + " us, strip chart " +
             Fixed(r.stripFrameUs, 0) + " us; heap allocations: bar graph " + Fixed(r.barFrameAllocs, 1) +
             ", strip chart " + Fixed(r.stripFrameAllocs, 1));
        if (r.pacedAllocs >= 0)
            Note("heap allocations on the GUI thread: " + Fixed(r.pacedAllocs, 1) + " per exchange (goal <= 50: " +
                 (r.pacedAllocs <= 50 ? "met" : "NOT MET") + ")");
        // 3.
        Figure("3",
               "turnaround, answer's last byte to next request's first byte: median " +
                   Fixed(r.turnMedian * ms, 3) + " ms, p99 " + Fixed(r.turnP99 * ms, 3) + " ms",
               "<= 1 ms / <= 5 ms", r.turnMedian <= 0.001 && r.turnP99 <= 0.005);
        Note(std::to_string(r.turnCount) + " turnarounds, largest " + Fixed(r.turnMax * ms, 3) +
             " ms; inside the program (last bytes taken in to the write): median " +
             Fixed(r.programTurnMedian * ms, 3) + " ms, p99 " + Fixed(r.programTurnP99 * ms, 3) + " ms");
    }
    if (r.ranFree) {
        // 4.
        Figure("4",
               "RUN without pacing, every answer applied: " + Fixed(r.freeRate, 0) + " exchanges/s (" +
                   Fixed(r.freeRate / runLimit, 1) + " x the line)",
               ">= 1000", r.freeRate >= 1000.0);
        Note("repaints per second: strip chart " + Fixed(r.freeStripPerSecond, 1) + ", bar graph " +
             Fixed(r.freeGraphPerSecond, 1) + "; GUI thread " + Fixed(r.freeCpu, 2) + " of a core, " +
             Fixed(r.freeRate > 0 ? r.freeCpu / r.freeRate * 1e6 : 0.0, 0) + " us per exchange" +
             (r.freeAllocs >= 0 ? "; " + Fixed(r.freeAllocs, 1) + " heap allocations per exchange" : ""));
        if (!r.freeComplete) Note("THE UNPACED RUN ENDED EARLY");
    }
    if (r.ranVideo) {
        // 5.
        const double vratio = r.videoRate / videoLimit;
        Figure("5",
               "VIDEO at " + std::to_string(opt.baud) + " baud: " + Fixed(r.videoRate, 3) +
                   " passes/s = " + Fixed(vratio, 3) + " of the limit " + Fixed(videoLimit, 3) + "/s",
               ">= 0.98", vratio >= 0.98);
        Note("limit = 1 / (5 x " + Fixed(opt.processingDelay * ms, 1) + " ms + 7280 bits / " +
             std::to_string(opt.baud) + " = " + Fixed(pass * ms, 2) + " ms); " +
             std::to_string(r.videoPasses) + " passes; " + Fixed(r.videoPaintsPerPass, 2) +
             " video repaints per pass; GUI thread " + Fixed(r.videoCpu, 4) + " of a core");
        if (!r.videoComplete) Note("THE VIDEO LOOP ENDED BEFORE ITS WINDOW DID");
    }
    // 6.
    const double stopMedian = Median(r.stops), stopMax = Max(r.stops);
    if (r.ranStop)
        Figure("6a",
               "STOP click to the end of the RUN loop: median " + Fixed(stopMedian * ms, 2) +
                   " ms, largest " + Fixed(stopMax * ms, 2) + " ms of " + std::to_string(r.stops.size()),
               "<= 20 ms", !r.stops.empty() && stopMax <= 0.020);
    if (r.ranStop && r.wholeClickStop >= 0.0)
        Note("from mouse-down on STOP; a click whose release comes in the same event pass ends the loop "
             "after " +
             Fixed(r.wholeClickStop * ms, 1) +
             " ms: STOP's commit waits 0.2 s before the loop sees its flag");
    const double line = LineSeconds(StartupLineBytes(), opt.baud);
    std::vector<double> beyond;
    for (double t : r.startup)
        beyond.push_back(t - kStartupPauses - line);
    const double beyondMedian = Median(beyond);
    Figure("6b",
           "start-up exchange beyond its pauses and line time: median " + Fixed(beyondMedian * ms, 1) +
               " ms, largest " + Fixed(Max(beyond) * ms, 1) + " ms",
           "<= 50 ms", r.startupOk && Max(beyond) <= 0.050);
    std::string each;
    for (double t : r.startup)
        each += (each.empty() ? "" : ", ") + Fixed(t * ms, 1);
    Note("whole exchange " + each + " ms = 400 ms of pauses + " + Fixed(line * ms, 2) + " ms of " +
         std::to_string(StartupLineBytes()) + " bytes + the rest, of which " +
         Fixed(kStartupAnswers * opt.processingDelay * ms, 0) + " ms is the simulator's processing" +
         (r.startupOk ? "" : "; A START-UP DID NOT TALK TO THE SENSOR"));
    // 7.
    if (!r.ranFree) return;
    long growth = 0;
    std::string samples;
    if (r.memory.size() >= 2) {
        growth = r.memory.back().rssKb - r.memory.front().rssKb;
        for (const Mark &m : r.memory)
            samples += (samples.empty() ? "" : " ") + std::to_string(m.rssKb);
    }
    Figure("7",
           "resident memory over " + std::to_string(r.memory.size() * kMemoryStep) +
               " unpaced exchanges: peak " + std::to_string(r.peakKb) + " kB, growth " +
               std::to_string(growth) + " kB from the first to the last thousand",
           "no growth", r.memory.size() >= 2 && growth <= 0);
    Note("VmRSS at every thousand (kB): " + samples);
}

// Runs the program's main loop (as the program waits for the operator) until done() holds or
// 'seconds' have passed; true when done() held.
bool RunMainLoopUntil(const std::function<bool()> &done, double seconds) {
    const double end = Timer() + seconds;
    std::function<void()> look;
    look = [&] {
        if ((done && done()) || Timer() >= end) {
            QuitUserInterface(0);
            return;
        }
        AfterDelay(done ? 0.01 : end - Timer(), look);
    };
    AfterDelay(done ? 0.01 : seconds, look);
    RunUserInterface();
    return done && done();
}

// The device is unplugged while the program waits for the operator: its CPU while it watches
// for the device to come back, then the time from plugging it in to a port open again.
void MeasureReconnect(const Settings &s, Results &r) {
    // The sensor by a name of its own, as a USB adapter by its by-id name: the name goes when the
    // device is unplugged and comes back, to a new terminal, when it is plugged in.
    QTemporaryDir dir;
    const std::string link = dir.path().toStdString() + "/ttyKVOR";
    if (!dir.isValid() || ::symlink(g_sim->slavePath().c_str(), link.c_str()) != 0) return;
    CloseCom(com);
    SetComPortDevice(com, link);
    InitRS232(com);
    ConnectionStarted("");
    g_sim->disconnectAfter(0);
    ::unlink(link.c_str());
    if (!RunMainLoopUntil([] { return ConnectionWaiting(); }, 5.0)) return;
    const long checks0 = DeviceWatchChecks();
    const double cpu0 = ThreadCpuSeconds();
    const double t0 = Timer();
    RunMainLoopUntil(nullptr, s.reconnectWait);
    r.waitSeconds = Timer() - t0;
    r.waitCpu = (ThreadCpuSeconds() - cpu0) / r.waitSeconds;
    r.waitChecks = DeviceWatchChecks() - checks0;
    const double plugged = Timer();
    if (!g_sim->reconnect() || ::symlink(g_sim->slavePath().c_str(), link.c_str()) != 0) return;
    r.reconnectOk =
        RunMainLoopUntil([] { return !ConnectionWaiting() && ComPortStatus(com) == kComOpen; }, 10.0);
    if (r.reconnectOk) r.reconnectSeconds = Timer() - plugged;
    ConnectionShutdown();
    CloseCom(com);
    // The parts after this one measure with the sensor on its own terminal again.
    SetComPortDevice(com, g_sim->devicePath());
    InitRS232(com);
}

void ReportReconnect(const Results &r) {
    if (!r.ranReconnect) return;
    Figure("8",
           "CPU of the GUI thread waiting for an unplugged device: " + Fixed(r.waitCpu, 5) + " of one core",
           "< 0.01", r.waitSeconds > 0 && r.waitCpu < 0.01);
    Note(Fixed(r.waitSeconds, 1) + " s of the program's main loop with the device gone; " +
         std::to_string(r.waitChecks) + " looks at the device path");
    Figure("9", "device plugged back in to the port open again: " + Fixed(r.reconnectSeconds, 2) + " s",
           "<= 3 s", r.reconnectOk && r.reconnectSeconds <= 3.0);
    Note("the watch looks once a second; the rest is the start-up exchange with its four 0.1 s pauses");
}

// --- the recorder -------------------------------------------------------------------------------

double ProcessCpuSeconds() {
    rusage u;
    if (getrusage(RUSAGE_SELF, &u) != 0) return 0.0;
    return static_cast<double>(u.ru_utime.tv_sec + u.ru_stime.tv_sec) +
           static_cast<double>(u.ru_utime.tv_usec + u.ru_stime.tv_usec) / 1e6;
}

std::string BenchDir() {
    const std::string dir = QDir::tempPath().toStdString() + "/kvor-bench-record-" + std::to_string(getpid());
    QDir().mkpath(QString::fromStdString(dir));
    return dir;
}

// An answer as RUN hands it out, its value wandering a little, taken 'seconds' into a recording.
RawAnswer BenchAnswer(size_t i, double seconds) {
    RawAnswer a{};
    a.valuePx = static_cast<uint16_t>(2000 + (i * 7919) % 97);
    a.leftEdge = static_cast<uint16_t>(a.valuePx - 480);
    a.rightEdge = a.valuePx;
    a.umValue = 30000u + a.valuePx;
    a.setpointPx = 2048;
    a.tolerancePx = 100;
    a.edges = 2;
    a.analogMax = 2100;
    a.analogMin = 1990;
    a.analogOut = a.valuePx;
    a.inTolerance = a.valuePx >= 1948 && a.valuePx <= 2148;
    a.scale = 16384;
    a.monotonic = 1000.0 + seconds;
    a.wallMs = 1796634902000LL + static_cast<int64_t>(seconds * 1000.0);
    return a;
}

// RUN at the line's pace with recording on and the recorder window showing its plots.
void MeasureRecordedRun(const Settings &s, const kvorsim::Options &opt) {
    const std::string dir = BenchDir();
    const std::string path = dir + "/paced.csv";
    SetUpRecorder(pPopup);
    DisplayPanel(pPopup);
    std::string error;
    if (!StartRecordingInto(path, &error)) {
        Note("recording could not start: " + error);
        return;
    }
    g_sim->setPacing(true);
    g_sim->takeRequests();
    const size_t base = g_sim->requestCount();
    Window w;
    const double p0 = ProcessCpuSeconds();
    RunWindow(PANEL_BTNRun, s.warmup, s.pacedSeconds, w);
    const double p1 = ProcessCpuSeconds();
    const uint64_t rows = TheRecorder().Rows();
    TheRecorder().Stop();
    const std::vector<kvorsim::Request> log = g_sim->takeRequests();
    const std::vector<kvorsim::Request> window = Between(log, base, w.begin, w.end);
    const double rate = RatePerSecond(ReceivedTimes(window, 8));
    const double limit = 1.0 / RunExchangeSeconds(opt.baud, opt.processingDelay);
    const double cpu = w.end.t > w.begin.t ? (w.end.cpu - w.begin.cpu) / (w.end.t - w.begin.t) : 0.0;
    Figure("R1",
           "RUN at " + std::to_string(opt.baud) + " baud, paced, recording on: " + Fixed(rate, 2) + "/s, " +
               Fixed(rate / limit, 3) + " of the limit",
           ">= 0.98", w.ended && rate / limit >= 0.98);
    Note("CPU of the GUI thread meanwhile: " + Fixed(cpu, 4) + " of one core; whole process (simulator too) " +
         Fixed((p1 - p0) / (s.warmup + s.pacedSeconds), 4) + "; " + std::to_string(rows) + " rows recorded");
    if (!w.ended) Note("THE RUN ENDED BEFORE ITS WINDOW DID, with: " + w.status);
    HidePanel(pPopup);
    ShutDownRecorder();
    Settle(0.1);
    std::remove(path.c_str());
    QDir(QString::fromStdString(dir)).removeRecursively();
}

// Feeds answers first .. first + n - 1 straight to the recorder, as fast as the GUI thread can.
void Feed(Recorder &rec, size_t first, size_t n) {
    for (size_t i = first; i < first + n; ++i)
        rec.OnRawAnswer(BenchAnswer(i, i / 25.5));
}

// Resident memory in use: what the allocator keeps free for later goes back to the system first,
// so that the figure shows what the recorder holds, not the allocator's cache.
long LiveKb() {
    malloc_trim(0);
    return StatusKb("VmRSS");
}

// Waits until the writer has written every row handed to it (at most 30 s).
void CatchUp(Recorder &rec) {
    const double until = Timer() + 30.0;
    while (rec.Recording() && rec.RowsWritten() < rec.Rows() && Timer() < until)
        Settle(0.005);
}

// The recorder alone: answers fed straight to it, without pacing.
void MeasureRecorderAlone(const Settings &s) {
    const std::string dir = BenchDir();
    RecordFacts facts;
    facts.program = "kvor-bench";
    std::string error;
    const size_t burst = 100000;
    {
        // In bursts of 100 000 answers, the writer catching up in between: every row recorded.
        Recorder rec;
        const long rss0 = LiveKb();
        if (!rec.Start(dir + "/bursts.csv", facts, 1000.0, 1796634902000LL, &error)) {
            Note("the recorder could not start: " + error);
            return;
        }
        double cpu = 0.0, wall = 0.0;
        long long allocs = 0;
        long rssFirst = 0, peak = 0;
        const double p0 = ProcessCpuSeconds();
        for (size_t first = 0; first < s.recordAnswers; first += burst) {
            const double t0 = Timer(), c0 = ThreadCpuSeconds();
            const long long a0 = ThreadAllocations();
            Feed(rec, first, std::min(burst, s.recordAnswers - first));
            cpu += ThreadCpuSeconds() - c0;
            wall += Timer() - t0;
            allocs += ThreadAllocations() - a0;
            peak = std::max(peak, StatusKb("VmRSS"));
            CatchUp(rec);
            if (first == 0) rssFirst = LiveKb();
        }
        const double p1 = ProcessCpuSeconds();
        const long rssFed = LiveKb();
        const uint64_t rows = rec.RowsWritten();
        rec.Stop();
        const long rssStopped = LiveKb();
        const double n = static_cast<double>(s.recordAnswers);
        const double us = cpu / n * 1e6;
        Figure("R2", "recorder CPU per answer on the GUI thread (row, hand-over, statistics, trend): " + Fixed(us, 2) + " us",
               "<= 50 us", us <= 50.0);
        Note("the GUI thread took " + Fixed(wall / n * 1e6, 2) + " us per answer; with the writer thread " +
             Fixed((p1 - p0) / n * 1e6, 2) + " us of CPU per answer; " + std::to_string(rows) + " of " +
             std::to_string(s.recordAnswers) + " rows in the file; " + Fixed(static_cast<double>(allocs) / n, 2) +
             " heap allocations per answer");
        Figure("R3",
               "resident memory after " + std::to_string(s.recordAnswers) + " answers: " + std::to_string(rssFed) +
                   " kB, growth from the first " + std::to_string(burst) + ": " + std::to_string(rssFed - rssFirst) + " kB",
               "bounded", rec.Rows() == s.recordAnswers && rssFed - rssFirst < 1024);
        Note("before recording " + std::to_string(rss0) + " kB; at most " + std::to_string(peak) +
             " kB with a burst's rows waiting for the writer; " + std::to_string(rssStopped) + " kB once stopped");
    }
    {
        // All at once: the GUI thread outruns the writer's one write() per row.
        Recorder rec;
        std::string text;
        rec.OnFailure([&text](const std::string &t) { text = t; });
        if (!rec.Start(dir + "/free.csv", facts, 1000.0, 1796634902000LL, &error)) return;
        const long rss0 = StatusKb("VmRSS");
        const double t0 = Timer();
        size_t fed = 0;
        long peak = 0;
        for (; fed < s.recordAnswers && rec.Recording(); fed += 10000) {
            Feed(rec, fed, 10000);
            peak = std::max(peak, StatusKb("VmRSS"));
        }
        const double t1 = Timer();
        const bool stopped = !rec.Recording();
        rec.Stop();
        Note("R3b all " + std::to_string(s.recordAnswers) + " answers without a pause: fed at " +
             Fixed(static_cast<double>(fed) / (t1 - t0), 0) + "/s, the writer wrote " +
             std::to_string(rec.RowsWritten()) + " rows; " +
             (stopped ? "the recording stopped once 32 MB of rows waited (\"" + text + "\")"
                      : std::string("every row written")) +
             "; resident at most " + std::to_string(peak - rss0) + " kB above the start");
    }
    QDir(QString::fromStdString(dir)).removeRecursively();
}

// Redrawing the trend and the histogram of a day's recording.
void MeasureTrendRedraw(const Settings &s) {
    const std::string dir = BenchDir();
    const std::string path = dir + "/day.csv";
    SetUpRecorder(pPopup);
    DisplayPanel(pPopup);
    RecorderWindow *window = TheRecorderWindow();
    RecordFacts facts;
    facts.program = "kvor-bench";
    Recorder &rec = TheRecorder();
    std::string error;
    if (!window || !rec.Start(path, facts, 1000.0, 1796634902000LL, &error)) {
        Note("the recorder could not start: " + error);
        return;
    }
    // Fed in steps that let the writer catch up: what matters here is the day's summary.
    for (size_t i = 0; i < s.trendAnswers; ++i) {
        rec.OnRawAnswer(BenchAnswer(i, i / 25.5));
        if (i % 100000 == 99999) {
            const double until = Timer() + 30.0;
            while (rec.RowsWritten() < i + 1 && Timer() < until)
                Settle(0.01);
        }
    }
    if (!rec.Recording()) Note("THE RECORDING STOPPED EARLY");
    rec.Stop();
    Settle(0.1);
    std::vector<double> times;
    for (int k = 0; k < 20; ++k) {
        const double t0 = Timer();
        window->UpdatePlots(true);
        times.push_back(Timer() - t0);
    }
    const double median = Median(times) * 1000.0;
    Figure("R4",
           "redraw of the trend and the histogram of " + std::to_string(s.trendAnswers) + " rows (" +
               Fixed(rec.Trend().Buckets().back().tLast / 3600.0, 1) + " h): median " + Fixed(median, 2) + " ms",
           "<= 50 ms", median <= 50.0);
    Note("largest of 20: " + Fixed(Max(times) * 1000.0, 2) + " ms; the trend holds " +
         std::to_string(rec.Trend().Buckets().size()) + " buckets of " + std::to_string(rec.Trend().Span()) +
         " rows; plot " + std::to_string(window->TrendPlot()->width()) + " x " +
         std::to_string(window->TrendPlot()->height()) + " px");
    HidePanel(pPopup);
    ShutDownRecorder();
    std::remove(path.c_str());
    QDir(QString::fromStdString(dir)).removeRecursively();
}

// Ends the process if the benchmark hangs, however it hangs.
class Watchdog {
  public:
    explicit Watchdog(double seconds)
        : thread_([this, seconds] {
              std::unique_lock<std::mutex> lock(mu_);
              if (!cv_.wait_for(lock, std::chrono::duration<double>(seconds), [this] { return done_; })) {
                  std::fprintf(stderr, "kvor-bench: no end after %.0f s, giving up\n", seconds);
                  std::_Exit(3);
              }
          }) {}
    ~Watchdog() {
        {
            std::lock_guard<std::mutex> lock(mu_);
            done_ = true;
        }
        cv_.notify_all();
        thread_.join();
    }

  private:
    std::mutex mu_;
    std::condition_variable cv_;
    bool done_ = false;
    std::thread thread_;
};

} // namespace

int main(int argc, char **argv) {
    Settings settings;
    for (int i = 1; i < argc; ++i) {
        if (std::strcmp(argv[i], "--quick") == 0) {
            settings.warmup = 0.5;
            settings.pacedSeconds = 3.0;
            settings.videoSeconds = 3.0;
            settings.stopTrials = 5;
            settings.startupTrials = 2;
            settings.memoryExchanges = 3000;
            settings.reconnectWait = 4.0;
            settings.recordAnswers = 200000;
            settings.trendAnswers = 500000;
        } else if (std::strcmp(argv[i], "--only") == 0 && i + 1 < argc) {
            settings.only = argv[++i];
            settings.startupTrials = 1;
        } else if (std::strcmp(argv[i], "--alloc-sites") == 0 && i + 1 < argc) {
            settings.allocationSites = argv[++i];
        } else {
            std::printf("usage: kvor-bench [--quick] [--only run|stop|video|free|reconnect|record] "
                        "[--alloc-sites FILE]\n");
            return std::strcmp(argv[i], "--help") == 0 ? 0 : 2;
        }
    }
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM")) qputenv("QT_QPA_PLATFORM", "offscreen");
    if (qEnvironmentVariableIsEmpty("XDG_RUNTIME_DIR")) {
        const QString dir = QDir::tempPath() + "/kvor-xdg-bench";
        QDir().mkpath(dir);
        QFile::setPermissions(dir, QFileDevice::ReadOwner | QFileDevice::WriteOwner | QFileDevice::ExeOwner);
        qputenv("XDG_RUNTIME_DIR", dir.toLocal8Bit());
    }
    Watchdog watchdog(kWatchdogSeconds);

    if (InitRunTime(argc, argv) == 0) return 2;
    RegisterCallbacks(kPanelFileCallbacks, kPanelFileCallbackCount);
    if (LoadAllPanels("K-VOR-RNZazorU30.uir") < 0) {
        std::fprintf(stderr, "kvor-bench: cannot load the panel file\n");
        return 2;
    }
    GetProjectDir(&proj_dir);
    InitVars();

    kvorsim::Options options; // 19200 baud, paced, 2 ms processing
    options.pacing = true;
    options.baud = kBaud;
    g_options = options;
    kvorsim::Simulator sim(options);
    if (!sim.start()) {
        std::fprintf(stderr, "kvor-bench: cannot start the simulated sensor: %s\n", sim.error().c_str());
        return 2;
    }
    g_sim = &sim;
    SetComPortDevice(1, sim.devicePath());
    com = 1;

    const std::string loadBefore = LoadAverage();
    Results r;
    Progress("start-up exchange");
    MeasureStartup(settings, r);
    auto wanted = [&settings](const char *part) { return settings.only.empty() || settings.only == part; };
    MeasureIdle(r);
    MeasureApply(r);
    r.barFrameUs = MeasureFrame(PANEL_GRAPH, &r.barFrameAllocs);
    r.stripFrameUs = MeasureFrame(PANEL_STRIPCHART, &r.stripFrameAllocs);
    if (wanted("run")) {
        Progress("RUN at the line's pace");
        MeasurePacedRun(settings, r);
        r.ranRun = true;
    }
    if (wanted("stop")) {
        Progress("STOP");
        MeasureStop(settings, r);
        r.ranStop = true;
    }
    if (wanted("video")) {
        Progress("VIDEO at the line's pace");
        MeasureVideo(settings, r);
        r.ranVideo = true;
    }
    if (wanted("free")) {
        Progress("RUN without pacing");
        MeasureUnpacedRun(settings, r);
        r.ranFree = true;
    }
    if (wanted("reconnect")) {
        Progress("waiting for an unplugged device, and reconnecting");
        MeasureReconnect(settings, r);
        r.ranReconnect = true;
    }

    Report(r, options);
    ReportReconnect(r);
    if (wanted("record")) {
        Progress("the recorder");
        MeasureRecordedRun(settings, options);
        MeasureRecorderAlone(settings);
        MeasureTrendRedraw(settings);
    }
    std::printf("kvor-bench: %ld cores online, load average %s before, %s after\n",
                sysconf(_SC_NPROCESSORS_ONLN), loadBefore.c_str(), LoadAverage().c_str());
    for (const std::string &l : g_lines)
        std::printf("%s\n", l.c_str());
    std::fflush(stdout);

    CloseCom(com);
    g_sim = nullptr;
    sim.stop();
    for (int *h : {&pPara1, &pPara2, &pCalib, &pPopup, &pHandle}) {
        if (*h > 0) DiscardPanel(*h);
        *h = 0;
    }
    return 0;
}
