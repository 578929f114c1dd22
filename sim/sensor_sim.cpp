#include "sensor_sim.h"

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <chrono>
#include <cmath>
#include <condition_variable>
#include <cstdio>
#include <cstring>
#include <deque>
#include <functional>
#include <future>
#include <limits>
#include <mutex>
#include <thread>

#include <fcntl.h>
#include <poll.h>
#include <pty.h>
#include <sys/ioctl.h>
#include <sys/prctl.h>
#include <sys/stat.h>
#include <termios.h>
#include <unistd.h>

#include "sim_wire.h"

namespace kvorsim {

namespace {

using Clock = std::chrono::steady_clock;
constexpr double kNever = std::numeric_limits<double>::infinity();
// Paced answers leave in small chunks, so the thread wakes every few milliseconds, not per byte.
constexpr size_t kChunkBytes = 8;
// A line has no back-pressure: what the far end does not take is lost, but we keep at most this
// much waiting for the clock.
constexpr size_t kMaxQueuedBytes = 1u << 20;
// The request log keeps the newest requests of a long demonstration.
constexpr size_t kMaxLogEntries = 100000;
constexpr const char *kDefaultFirmware = "K-VOR-RN SIM firmware 3.00";
// Closing the master throws away what the far end has not read yet, so a disconnect waits for
// the last answer to be taken, but not for ever. Written bytes reach the slave a moment later, so
// an empty slave only counts once they had time to arrive (or were seen and then taken).
constexpr double kDisconnectGrace = 0.5;
constexpr double kDisconnectSettle = 0.05;

void CloseFd(int &fd) {
    if (fd >= 0) ::close(fd);
    fd = -1;
}

bool MakeRaw(int fd, int baud) {
    termios t;
    if (::tcgetattr(fd, &t) != 0) return false;
    ::cfmakeraw(&t);
    t.c_cflag |= CLOCAL | CREAD;
    const speed_t speed = baud == 9600 ? B9600 : baud == 38400 ? B38400 : B19200;
    ::cfsetispeed(&t, speed);
    ::cfsetospeed(&t, speed);
    t.c_cc[VMIN] = 1;
    t.c_cc[VTIME] = 0;
    return ::tcsetattr(fd, TCSANOW, &t) == 0;
}

std::string Errno(const std::string &what) {
    return what + ": " + std::strerror(errno);
}

} // namespace

struct Simulator::Impl {
    // One answer (or unsolicited run of bytes) on its way out. Byte k (counting from 1) leaves no
    // earlier than t0 + k * byteTime.
    struct Tx {
        std::vector<uint8_t> bytes;
        size_t sent = 0;
        double t0 = 0.0;
        double byteTime = 0.0;
        uint64_t seq = 0; // the request it answers (its place in the log), 0 for none
    };
    // Work for the simulator thread; 'done' is fulfilled when it ran (or was cancelled by stop).
    struct Task {
        std::function<void()> f;
        std::shared_ptr<std::promise<void>> done;
    };

    explicit Impl(const Options &o) : opt(o), model(o.seed), receiver(0.25) {
        DefaultSets(hw.ccdvirtpixel, ram[0], ram[1]);
        std::memcpy(eeprom, ram, sizeof ram);
        if (opt.baud <= 0) opt.baud = 19200;
        if (opt.processingDelay < 0.0) opt.processingDelay = 0.0;
    }

    // ----- guarded by mu -----
    mutable std::mutex mu;
    mutable std::condition_variable logCv;
    Options opt;
    HardwareInfo hw;
    uint16_t ram[2][15] = {};
    uint16_t eeprom[2][15] = {};
    std::string firmware = kDefaultFirmware;
    bool rawOverrideOn = false;
    uint16_t rawOverride[16] = {};
    bool videoOverrideOn = false;
    uint16_t videoOverride[256] = {};
    bool sceneOn = false;
    Scene fixedScene;
    bool frozen = false;
    double frozenAt = 0.0;
    double timeShift = 0.0;
    bool haveExtremes = false;
    uint16_t anaMax = 0, anaMin = 0;
    uint64_t captures = 0;
    bool haveCapture = false;
    Evaluation lastEval;
    uint16_t lastVideo[256] = {};
    int lastCommand = -1;
    std::vector<Request> log;
    size_t logTotal = 0;
    uint64_t seqCount = 0;    // requests since the start; never reset, unlike logTotal
    uint64_t logFirstSeq = 0; // the sequence number of log[0]
    std::vector<Fault> faults;
    int disconnectCountdown = -1;
    bool disconnectWhenDrained = false;
    std::vector<std::vector<uint8_t>> unsolicited;
    std::vector<Task> tasks;
    std::string err;
    std::string ptsPath;
    bool isConnected = false;
    bool isRunning = false;
    bool stopping = false;
    uint64_t skipped = 0;
    FILE *logf = nullptr;
    bool logfOwned = false;
    Clock::time_point epoch = Clock::now();

    // ----- owned by the simulator thread while it runs -----
    const SensorModel model;
    FrameReceiver receiver;
    std::thread thread;
    int wakeRead = -1, wakeWrite = -1;
    int master = -1, slave = -1;
    std::deque<Tx> out;
    double lineFreeAt = 0.0;   // when the last queued byte will have left
    double rxLineFreeAt = 0.0; // when the last received byte would have arrived on a real line
    double frameRead = 0.0;    // when the first byte of the request being collected was read
    double nextUnsolicited = kNever;
    double drainedAt = kNever; // when the output ran empty before a planned disconnect
    bool sawUnread = false;    // the far end had bytes to read since then
    std::mutex fileMu;         // one EEPROM file write at a time

    double now() const { return std::chrono::duration<double>(Clock::now() - epoch).count(); }
    double byteTimeLocked() const { return opt.pacing ? 10.0 / opt.baud : 0.0; }
    double modelTimeLocked(double t) const { return frozen ? frozenAt : t + timeShift; }

    ModelInputs inputsLocked() const {
        ModelInputs in;
        in.virtPixels = hw.ccdvirtpixel;
        in.fullScale = hw.adcmax;
        in.refDistance = hw.refdistance;
        std::memcpy(in.set0, ram[0], sizeof in.set0);
        std::memcpy(in.set1, ram[1], sizeof in.set1);
        return in;
    }

    Scene sceneLocked(double t) const {
        return sceneOn ? fixedScene : model.sceneAt(modelTimeLocked(t), hw.ccdvirtpixel);
    }

    // One look at the line: the measurement and the video line of the same moment.
    void captureLocked(double t) {
        const ModelInputs in = inputsLocked();
        const Scene sc = sceneLocked(t);
        ++captures;
        lastEval = model.evaluate(sc, in, opt.noise, captures);
        model.videoLine(sc, in, opt.noise, captures, lastVideo);
        haveCapture = true;
        if (lastEval.valid) {
            if (!haveExtremes) {
                anaMax = anaMin = lastEval.mvalue;
                haveExtremes = true;
            } else {
                anaMax = std::max(anaMax, lastEval.mvalue);
                anaMin = std::min(anaMin, lastEval.mvalue);
            }
        }
    }

    void rawWordsLocked(uint16_t w[16]) const {
        if (rawOverrideOn) {
            std::memcpy(w, rawOverride, sizeof rawOverride);
            return;
        }
        const Evaluation &e = lastEval;
        w[0] = e.ledge;
        w[1] = e.redge;
        w[2] = e.mvalue;
        w[3] = static_cast<uint16_t>(e.umValue & 0xFFFF);
        w[4] = static_cast<uint16_t>(e.umValue >> 16);
        w[5] = ram[0][6];
        w[6] = ram[0][7];
        w[7] = static_cast<uint16_t>(std::min(e.edgeCount, 65535));
        w[8] = e.mvstart;
        w[9] = e.mvend;
        w[10] = e.dynpow;
        w[11] = haveExtremes ? anaMax : 0;
        w[12] = haveExtremes ? anaMin : 0;
        w[13] = 0;
        w[14] = static_cast<uint16_t>(captures & 0xFFFF);
        w[15] = 0;
    }

    std::vector<uint8_t> rawFrameLocked(double t) {
        captureLocked(t);
        uint16_t w[16];
        rawWordsLocked(w);
        return BuildFrame(kAnswerStart, 8, w[0], w + 1);
    }

    void writeLogLocked(const std::string &line) {
        if (!logf) return;
        std::fputs(line.c_str(), logf);
        std::fputc('\n', logf);
        std::fflush(logf);
    }

    void warnLocked(const std::string &msg) {
        err = msg;
        if (logf)
            writeLogLocked("# " + msg);
        else
            std::fprintf(stderr, "kvor-sensor-sim: %s\n", msg.c_str());
    }

    // The answer to one request, before any fault; empty when the sensor stays silent.
    // 'saveEeprom' is set when the EEPROM changed and the file has to follow.
    std::vector<uint8_t> answerLocked(const Request &r, double t, bool *saveEeprom) {
        const int set = r.argument == 0 ? 0 : 1;
        switch (r.command) {
        case 1:
        case 3: {
            uint16_t(&dst)[15] = r.command == 1 ? ram[set] : eeprom[set];
            if (!opt.ignoreWrites) {
                std::memcpy(dst, r.values, sizeof dst);
                if (r.command == 3) *saveEeprom = true;
            }
            if (!opt.answerWrites) return {};
            return BuildFrame(kAnswerStart, r.command, r.argument, dst);
        }
        case 2:
            return BuildFrame(kAnswerStart, 2, r.argument, ram[set]);
        case 4:
            return BuildFrame(kAnswerStart, 4, r.argument, eeprom[set]);
        case 5:
            return BuildFrame(kAnswerStart, 5, r.argument, r.values);
        case 6: {
            // The sensor evaluates with the set the panels show, and takes what it measures now
            // as the new setpoint. Without a valid measurement the old setpoint stays.
            const uint16_t keep = ram[0][6];
            std::memcpy(ram[0], r.values, sizeof ram[0]);
            ram[0][6] = keep;
            captureLocked(t);
            if (rawOverrideOn)
                ram[0][6] = rawOverride[2];
            else if (lastEval.valid)
                ram[0][6] = lastEval.mvalue;
            return BuildFrame(kAnswerStart, 6, 0, ram[0]);
        }
        case 7:
            return FirmwareAnswer(firmware, hw.pcbtype);
        case 8:
            return rawFrameLocked(t);
        case 9: {
            const uint16_t *line = nullptr;
            uint16_t threshold[256];
            if (r.values[0] != 0) {
                SensorModel::thresholdLine(inputsLocked(), threshold);
                line = threshold;
            } else if (videoOverrideOn) {
                line = videoOverride;
            } else {
                // A video read right after a raw-data request shows the line of that very
                // measurement; otherwise the first block takes a fresh look.
                if (!haveCapture || (r.argument == 0 && lastCommand != 8)) captureLocked(t);
                line = lastVideo;
            }
            return BlockAnswer(line, r.argument);
        }
        case 10: {
            const uint16_t v[15] = {hw.ccdmaxpixel,
                                    hw.ccdresolution,
                                    hw.pcbtype,
                                    hw.ccdvirtpixel,
                                    hw.ccdsubpixel,
                                    hw.ccdpixB,
                                    hw.ccdpixE,
                                    hw.softversion,
                                    hw.refdistance,
                                    hw.adcmax,
                                    0,
                                    0,
                                    0,
                                    0,
                                    0};
            return BuildFrame(kAnswerStart, 10, hw.ccdtype, v);
        }
        case 11: {
            captureLocked(t);
            haveExtremes = lastEval.valid;
            anaMax = anaMin = lastEval.valid ? lastEval.mvalue : 0;
            uint16_t v[15] = {};
            v[0] = anaMax;
            v[1] = anaMin;
            return BuildFrame(kAnswerStart, 11, 0, v);
        }
        default:
            return {};
        }
    }

    // Applies the injected faults to one answer; returns the extra delay, or -1 to drop it.
    double applyFaultsLocked(uint16_t command, std::vector<uint8_t> &a) {
        double delay = 0.0;
        bool drop = false;
        for (Fault &f : faults) {
            if (f.count == 0 || (f.command >= 0 && f.command != command)) continue;
            if (f.count > 0) --f.count;
            switch (f.kind) {
            case Fault::Drop:
                drop = true;
                break;
            case Fault::Truncate: {
                const size_t n = f.bytes > 0 ? static_cast<size_t>(f.bytes) : (a.empty() ? 0 : a.size() - 1);
                if (n < a.size()) a.resize(n);
                break;
            }
            case Fault::Extend: {
                const size_t n =
                    f.bytes > 0 ? std::min<size_t>(static_cast<size_t>(f.bytes), 65536) : a.size() + 4;
                if (n > a.size()) a.resize(n, 0xEE);
                break;
            }
            case Fault::CorruptStart:
                if (a.size() >= 2) PutWord(&a[0], f.value);
                break;
            case Fault::CorruptCommand:
                if (a.size() >= 4) PutWord(&a[2], f.value);
                break;
            case Fault::Delay:
                delay += f.seconds > 0.0 ? f.seconds : 2.0;
                break;
            case Fault::Replace:
                a = f.data;
                break;
            }
        }
        faults.erase(
            std::remove_if(faults.begin(), faults.end(), [](const Fault &f) { return f.count == 0; }),
            faults.end());
        return drop ? -1.0 : delay;
    }

    // Notes when the last byte of the answer to request 'seq' went out, if it is still logged.
    void markAnsweredLocked(uint64_t seq, double t) {
        if (seq < logFirstSeq || seq - logFirstSeq >= log.size()) return;
        log[static_cast<size_t>(seq - logFirstSeq)].answered = t;
    }

    // 'firstByte' is when the request's first byte was read, 'complete' when its last byte would
    // have arrived on a real line.
    void handleRequest(const uint8_t frame[kFrameBytes], double complete, double firstByte) {
        Request r;
        r.received = firstByte;
        r.start = WordAt(frame);
        r.command = WordAt(frame + 2);
        r.argument = WordAt(frame + 4);
        for (int i = 0; i < 15; ++i)
            r.values[i] = WordAt(frame + 6 + 2 * i);
        bool save = false;
        std::vector<uint8_t> answer;
        double at = complete;
        double byteTime = 0.0;
        uint64_t seq = 0;
        {
            std::lock_guard<std::mutex> lock(mu);
            r.time = now();
            if (log.size() >= kMaxLogEntries) {
                log.erase(log.begin(), log.begin() + kMaxLogEntries / 10);
                logFirstSeq += kMaxLogEntries / 10;
            }
            seq = ++seqCount;
            if (log.empty()) logFirstSeq = seq;
            log.push_back(r);
            ++logTotal;
            writeLogLocked(FormatRequestLine(r.time, r.start, r.command, r.argument, r.values));
            answer = answerLocked(r, r.time, &save);
            lastCommand = r.command;
            if (disconnectWhenDrained) answer.clear(); // going away: no more answers
            if (!answer.empty()) {
                const double delay = applyFaultsLocked(r.command, answer);
                if (delay < 0.0) answer.clear();
                at += delay;
            }
            byteTime = byteTimeLocked();
            if (byteTime > 0.0) at += opt.processingDelay;
            if (disconnectCountdown > 0 && --disconnectCountdown == 0) {
                disconnectWhenDrained = true;
                disconnectCountdown = -1;
            }
        }
        logCv.notify_all();
        if (save) saveEeprom();
        if (!answer.empty()) enqueue(std::move(answer), at, byteTime, seq);
    }

    void saveEeprom() {
        std::lock_guard<std::mutex> fileLock(fileMu);
        uint16_t copy[2][15];
        std::string path;
        {
            std::lock_guard<std::mutex> lock(mu);
            std::memcpy(copy, eeprom, sizeof copy);
            path = opt.eepromFile;
        }
        if (path.empty()) return;
        std::string e;
        if (!SaveEepromFile(path, copy, &e)) {
            std::lock_guard<std::mutex> lock(mu);
            warnLocked(e);
        }
    }

    // ----- the thread's side -----

    void enqueue(std::vector<uint8_t> bytes, double t0, double byteTime, uint64_t seq = 0) {
        size_t queued = 0;
        for (const Tx &x : out)
            queued += x.bytes.size() - x.sent;
        if (queued + bytes.size() > kMaxQueuedBytes) {
            std::lock_guard<std::mutex> lock(mu);
            warnLocked("output queue full, an answer was lost");
            return;
        }
        Tx x;
        x.t0 = std::max(t0, lineFreeAt);
        x.byteTime = byteTime;
        x.seq = seq;
        lineFreeAt = x.t0 + byteTime * static_cast<double>(bytes.size());
        x.bytes = std::move(bytes);
        out.push_back(std::move(x));
    }

    // Writes what is due; returns the time at which more becomes due.
    double transmit(double t) {
        while (!out.empty()) {
            Tx &x = out.front();
            const size_t size = x.bytes.size();
            size_t allowed = size;
            if (x.byteTime > 0.0) {
                const double k = std::floor((t - x.t0) / x.byteTime + 1e-9);
                allowed = k <= 0.0 ? 0 : std::min(size, static_cast<size_t>(k));
            } else if (t < x.t0) {
                allowed = 0;
            }
            if (allowed > x.sent) {
                if (master < 0) {
                    out.clear();
                    return kNever;
                }
                const ssize_t n = ::write(master, x.bytes.data() + x.sent, allowed - x.sent);
                if (n > 0) {
                    x.sent += static_cast<size_t>(n);
                } else if (n < 0 && errno == EINTR) {
                    continue;
                } else {
                    // Nobody takes the bytes (the line has no handshake): they are lost, as
                    // they would be on a real line.
                    out.pop_front();
                    continue;
                }
            }
            if (x.sent >= size) {
                if (x.seq != 0) {
                    std::lock_guard<std::mutex> lock(mu);
                    markAnsweredLocked(x.seq, now());
                }
                out.pop_front();
                continue;
            }
            if (x.byteTime <= 0.0) return x.t0;
            const size_t target = std::min(size, x.sent + kChunkBytes);
            return x.t0 + x.byteTime * static_cast<double>(target);
        }
        return kNever;
    }

    void receive(double t) {
        uint8_t buf[4096];
        for (;;) {
            const ssize_t n = ::read(master, buf, sizeof buf);
            if (n < 0 && errno == EINTR) continue;
            if (n <= 0) return;
            double bt;
            {
                std::lock_guard<std::mutex> lock(mu);
                bt = byteTimeLocked();
            }
            // On a real line the request takes its time to arrive; the answer starts after it.
            const double startAt = std::max(rxLineFreeAt, t);
            rxLineFreeAt = startAt + bt * static_cast<double>(n);
            uint8_t frame[kFrameBytes];
            for (ssize_t i = 0; i < n; ++i) {
                const double at = startAt + bt * static_cast<double>(i + 1);
                if (receiver.push(buf[i], at, frame)) {
                    handleRequest(frame, at, frameRead);
                } else if (receiver.pending() == 1) {
                    frameRead = t; // this byte starts a request
                }
            }
            std::lock_guard<std::mutex> lock(mu);
            skipped = receiver.skipped();
        }
    }

    bool openPty(std::string *error) {
        int m = -1, s = -1;
        if (::openpty(&m, &s, nullptr, nullptr, nullptr) != 0) {
            *error = Errno("cannot open a pseudo-terminal");
            return false;
        }
        // Raw at once on both sides: until the program opens the slave, and after it has closed
        // it again, an echoing slave would send our answers straight back to us.
        int baud;
        {
            std::lock_guard<std::mutex> lock(mu);
            baud = opt.baud;
        }
        char name[256] = {};
        if (!MakeRaw(s, baud) || !MakeRaw(m, baud) || ::ttyname_r(s, name, sizeof name - 1) != 0) {
            *error = Errno("cannot set up the pseudo-terminal");
            ::close(m);
            ::close(s);
            return false;
        }
        ::fcntl(m, F_SETFD, FD_CLOEXEC);
        ::fcntl(s, F_SETFD, FD_CLOEXEC);
        ::fcntl(m, F_SETFL, ::fcntl(m, F_GETFL) | O_NONBLOCK);
        std::string link;
        {
            std::lock_guard<std::mutex> lock(mu);
            link = opt.linkPath;
        }
        if (!link.empty() && !makeLink(name, link, error)) {
            ::close(m);
            ::close(s);
            return false;
        }
        // We keep our own slave descriptor open for as long as the pseudo-terminal lives: the
        // master then never sees a hang-up when the program closes and reopens the port. It takes
        // no lock and sets no exclusive mode, so the program can still open the device.
        master = m;
        slave = s;
        receiver.reset();
        out.clear();
        lineFreeAt = rxLineFreeAt = 0.0;
        std::lock_guard<std::mutex> lock(mu);
        ptsPath = name;
        isConnected = true;
        return true;
    }

    static bool makeLink(const std::string &target, const std::string &link, std::string *error) {
        struct stat st;
        if (::lstat(link.c_str(), &st) == 0 && !S_ISLNK(st.st_mode)) {
            *error = "link path " + link + " exists and is not a symbolic link; not replacing it";
            return false;
        }
        const std::string tmp = link + ".new";
        if (::lstat(tmp.c_str(), &st) == 0) {
            if (!S_ISLNK(st.st_mode)) {
                *error = "cannot make the link " + link + ": " + tmp + " is in the way";
                return false;
            }
            ::unlink(tmp.c_str()); // left over from an interrupted run
        }
        if (::symlink(target.c_str(), tmp.c_str()) != 0) {
            *error = Errno("cannot make the link " + link);
            return false;
        }
        if (::rename(tmp.c_str(), link.c_str()) != 0) {
            *error = Errno("cannot make the link " + link);
            ::unlink(tmp.c_str());
            return false;
        }
        return true;
    }

    void removeLink() {
        std::string link, pts;
        {
            std::lock_guard<std::mutex> lock(mu);
            link = opt.linkPath;
            pts = ptsPath;
        }
        if (link.empty()) return;
        // Only our own link goes: a dangling link could later lead to someone else's terminal.
        char target[256] = {};
        const ssize_t n = ::readlink(link.c_str(), target, sizeof target - 1);
        if (n > 0 && pts == std::string(target, static_cast<size_t>(n))) ::unlink(link.c_str());
    }

    void closePty() {
        {
            // Whoever sees the hang-up must already find us disconnected.
            std::lock_guard<std::mutex> lock(mu);
            isConnected = false;
            disconnectWhenDrained = false;
        }
        removeLink();
        CloseFd(master);
        CloseFd(slave);
        out.clear();
        receiver.reset();
        drainedAt = kNever;
        sawUnread = false;
    }

    void wake() {
        if (wakeWrite >= 0) {
            const uint8_t b = 1;
            const ssize_t n = ::write(wakeWrite, &b, 1);
            (void)n; // a full pipe already holds a wake-up
        }
    }

    // Runs f on the simulator thread and waits for it. False when the simulator is not running
    // (or stops first), and f did not run.
    bool runOnThread(const std::function<void()> &f) {
        std::unique_lock<std::mutex> lock(mu);
        if (!isRunning || stopping) return false;
        Task task{f, std::make_shared<std::promise<void>>()};
        std::future<void> fut = task.done->get_future();
        tasks.push_back(task);
        lock.unlock();
        wake();
        fut.wait();
        return true;
    }

    void run() {
        // The thread's timers may otherwise fire up to 50 us late by design: paced bytes leave
        // when they are due.
        ::prctl(PR_SET_TIMERSLACK, 1UL, 0UL, 0UL, 0UL);
        for (;;) {
            std::vector<Task> todo;
            std::vector<std::vector<uint8_t>> extra;
            double period, bt;
            bool drainThenClose;
            {
                std::lock_guard<std::mutex> lock(mu);
                if (stopping) break;
                todo.swap(tasks);
                extra.swap(unsolicited);
                period = opt.unsolicitedPeriod;
                bt = byteTimeLocked();
                drainThenClose = disconnectWhenDrained;
            }
            for (Task &task : todo) {
                task.f();
                task.done->set_value();
            }
            double t = now();
            if (master >= 0) {
                for (auto &b : extra)
                    enqueue(std::move(b), t, bt);
                if (period > 0.0) {
                    if (nextUnsolicited == kNever) nextUnsolicited = t + period;
                    if (t >= nextUnsolicited) {
                        std::vector<uint8_t> f;
                        {
                            std::lock_guard<std::mutex> lock(mu);
                            f = rawFrameLocked(t);
                        }
                        enqueue(std::move(f), t, bt);
                        nextUnsolicited = t + period;
                    }
                } else {
                    nextUnsolicited = kNever;
                }
            }
            double due = master >= 0 ? transmit(t) : kNever;
            if (drainThenClose && out.empty() && master >= 0) {
                if (drainedAt == kNever) drainedAt = t;
                int unread = 0;
                if (::ioctl(slave, FIONREAD, &unread) != 0) unread = 0;
                sawUnread = sawUnread || unread > 0;
                const double waited = t - drainedAt;
                if ((unread == 0 && (sawUnread || waited >= kDisconnectSettle)) ||
                    waited >= kDisconnectGrace) {
                    closePty();
                    due = kNever;
                } else {
                    due = std::min(due, t + 0.01);
                }
            }
            if (master >= 0 && period > 0.0) due = std::min(due, nextUnsolicited);

            pollfd fds[2];
            fds[0] = {wakeRead, POLLIN, 0};
            nfds_t nfds = 1;
            if (master >= 0) {
                fds[1] = {master, POLLIN, 0};
                nfds = 2;
            }
            // Paced bytes leave on time to well under a millisecond: a millisecond-grained poll
            // would add up to a millisecond to every answer, more than the far end's turnaround.
            timespec timeout = {1, 0};
            if (due != kNever) {
                const double wait = std::min(std::max(0.0, due - now()), 1.0);
                timeout.tv_sec = static_cast<time_t>(wait);
                timeout.tv_nsec = static_cast<long>((wait - static_cast<double>(timeout.tv_sec)) * 1e9);
            }
            const int rc = ::ppoll(fds, nfds, due != kNever ? &timeout : nullptr, nullptr);
            if (rc < 0 && errno != EINTR) {
                std::lock_guard<std::mutex> lock(mu);
                warnLocked(Errno("poll failed"));
                break;
            }
            if (rc <= 0) continue;
            if (fds[0].revents & POLLIN) {
                uint8_t buf[64];
                while (::read(wakeRead, buf, sizeof buf) > 0) {
                }
            }
            if (nfds == 2 && (fds[1].revents & (POLLIN | POLLHUP | POLLERR))) {
                receive(now());
                if (fds[1].revents & (POLLHUP | POLLERR)) {
                    // We hold a slave descriptor, so this should not happen; never spin on it.
                    pollfd w = {wakeRead, POLLIN, 0};
                    ::poll(&w, 1, 20);
                }
            }
        }
    }
};

// ---------------------------------------------------------------------------------------------

Simulator::Simulator(const Options &options) : d(new Impl(options)) {}

Simulator::~Simulator() {
    stop();
}

bool Simulator::start() {
    {
        std::lock_guard<std::mutex> lock(d->mu);
        if (d->isRunning) return true;
        d->err.clear();
    }
    std::string eepromPath, logPath;
    {
        std::lock_guard<std::mutex> lock(d->mu);
        eepromPath = d->opt.eepromFile;
        logPath = d->opt.logFile;
    }
    std::string e;
    if (!eepromPath.empty()) {
        uint16_t sets[2][15];
        bool missing = false;
        if (!LoadEepromFile(eepromPath, sets, &missing, &e)) {
            std::lock_guard<std::mutex> lock(d->mu);
            d->err = e;
            return false;
        }
        std::lock_guard<std::mutex> lock(d->mu);
        if (!missing) std::memcpy(d->eeprom, sets, sizeof sets);
    }
    {
        // Power-up: the working sets come from the EEPROM.
        std::lock_guard<std::mutex> lock(d->mu);
        std::memcpy(d->ram, d->eeprom, sizeof d->ram);
    }
    FILE *lf = nullptr;
    bool owned = false;
    if (logPath == "-") {
        lf = stderr;
    } else if (!logPath.empty()) {
        lf = std::fopen(logPath.c_str(), "a");
        if (!lf) {
            std::lock_guard<std::mutex> lock(d->mu);
            d->err = Errno("cannot open the log file " + logPath);
            return false;
        }
        owned = true;
    }
    int p[2];
    if (::pipe2(p, O_CLOEXEC | O_NONBLOCK) != 0) {
        if (owned) std::fclose(lf);
        std::lock_guard<std::mutex> lock(d->mu);
        d->err = Errno("cannot make a wake-up pipe");
        return false;
    }
    if (!d->openPty(&e)) {
        if (owned) std::fclose(lf);
        ::close(p[0]);
        ::close(p[1]);
        std::lock_guard<std::mutex> lock(d->mu);
        d->err = e;
        return false;
    }
    d->wakeRead = p[0];
    d->wakeWrite = p[1];
    d->nextUnsolicited = kNever;
    {
        std::lock_guard<std::mutex> lock(d->mu);
        d->logf = lf;
        d->logfOwned = owned;
        d->stopping = false;
        // The log counts from the start; the model's clock goes on where it stood.
        const Clock::time_point epoch = Clock::now();
        d->timeShift += std::chrono::duration<double>(epoch - d->epoch).count();
        d->epoch = epoch;
    }
    d->thread = std::thread([this] { d->run(); });
    std::lock_guard<std::mutex> lock(d->mu);
    d->isRunning = true;
    return true;
}

void Simulator::stop() {
    {
        std::lock_guard<std::mutex> lock(d->mu);
        if (!d->isRunning) return;
        d->stopping = true;
    }
    d->wake();
    if (d->thread.joinable()) d->thread.join();
    d->closePty();
    CloseFd(d->wakeRead);
    CloseFd(d->wakeWrite);
    std::vector<Impl::Task> orphaned;
    {
        std::lock_guard<std::mutex> lock(d->mu);
        d->isRunning = false;
        orphaned.swap(d->tasks);
        if (d->logfOwned && d->logf) std::fclose(d->logf);
        d->logf = nullptr;
        d->logfOwned = false;
    }
    // A caller that queued work just before the stop must not wait for ever; the work is moot.
    for (Impl::Task &task : orphaned)
        task.done->set_value();
}

bool Simulator::running() const {
    std::lock_guard<std::mutex> lock(d->mu);
    return d->isRunning;
}

std::string Simulator::devicePath() const {
    std::lock_guard<std::mutex> lock(d->mu);
    return d->opt.linkPath.empty() ? d->ptsPath : d->opt.linkPath;
}

std::string Simulator::slavePath() const {
    std::lock_guard<std::mutex> lock(d->mu);
    return d->ptsPath;
}

bool Simulator::connected() const {
    std::lock_guard<std::mutex> lock(d->mu);
    return d->isRunning && d->isConnected;
}

std::string Simulator::error() const {
    std::lock_guard<std::mutex> lock(d->mu);
    return d->err;
}

std::vector<Request> Simulator::requests() const {
    std::lock_guard<std::mutex> lock(d->mu);
    return d->log;
}

std::vector<Request> Simulator::takeRequests() {
    std::lock_guard<std::mutex> lock(d->mu);
    std::vector<Request> taken;
    taken.swap(d->log);
    return taken;
}

size_t Simulator::requestCount() const {
    std::lock_guard<std::mutex> lock(d->mu);
    return d->logTotal;
}

void Simulator::clearRequests() {
    std::lock_guard<std::mutex> lock(d->mu);
    d->log.clear();
    d->logTotal = 0;
}

bool Simulator::waitForRequests(size_t n, double timeoutSeconds) const {
    std::unique_lock<std::mutex> lock(d->mu);
    const auto deadline = Clock::now() + std::chrono::duration_cast<Clock::duration>(
                                             std::chrono::duration<double>(std::max(0.0, timeoutSeconds)));
    return d->logCv.wait_until(lock, deadline, [&] { return d->logTotal >= n; });
}

void Simulator::setPacing(bool on) {
    std::lock_guard<std::mutex> lock(d->mu);
    d->opt.pacing = on;
}

void Simulator::setAnswerWrites(bool on) {
    std::lock_guard<std::mutex> lock(d->mu);
    d->opt.answerWrites = on;
}

void Simulator::setIgnoreWrites(bool on) {
    std::lock_guard<std::mutex> lock(d->mu);
    d->opt.ignoreWrites = on;
}

void Simulator::setHardware(const HardwareInfo &hw) {
    std::lock_guard<std::mutex> lock(d->mu);
    d->hw = hw;
}

HardwareInfo Simulator::hardware() const {
    std::lock_guard<std::mutex> lock(d->mu);
    return d->hw;
}

void Simulator::setFirmwareText(const std::string &text) {
    std::lock_guard<std::mutex> lock(d->mu);
    d->firmware = text;
}

void Simulator::setRamSet(int set, const uint16_t words[15]) {
    if (!words) return;
    std::lock_guard<std::mutex> lock(d->mu);
    std::memcpy(d->ram[set == 0 ? 0 : 1], words, sizeof d->ram[0]);
}

void Simulator::ramSet(int set, uint16_t words[15]) const {
    if (!words) return;
    std::lock_guard<std::mutex> lock(d->mu);
    std::memcpy(words, d->ram[set == 0 ? 0 : 1], sizeof d->ram[0]);
}

void Simulator::setEepromSet(int set, const uint16_t words[15]) {
    if (!words) return;
    {
        std::lock_guard<std::mutex> lock(d->mu);
        std::memcpy(d->eeprom[set == 0 ? 0 : 1], words, sizeof d->eeprom[0]);
    }
    d->saveEeprom();
}

void Simulator::eepromSet(int set, uint16_t words[15]) const {
    if (!words) return;
    std::lock_guard<std::mutex> lock(d->mu);
    std::memcpy(words, d->eeprom[set == 0 ? 0 : 1], sizeof d->eeprom[0]);
}

void Simulator::setRawOverride(const uint16_t words[16]) {
    std::lock_guard<std::mutex> lock(d->mu);
    d->rawOverrideOn = words != nullptr;
    if (words) std::memcpy(d->rawOverride, words, sizeof d->rawOverride);
}

void Simulator::setVideoOverride(const uint16_t line[256]) {
    std::lock_guard<std::mutex> lock(d->mu);
    d->videoOverrideOn = line != nullptr;
    if (line) std::memcpy(d->videoOverride, line, sizeof d->videoOverride);
}

uint16_t Simulator::measuredValue() const {
    std::lock_guard<std::mutex> lock(d->mu);
    if (d->rawOverrideOn) return d->rawOverride[2];
    const Evaluation e = d->model.evaluate(d->sceneLocked(d->now()), d->inputsLocked(), false, 0);
    return e.mvalue;
}

uint16_t Simulator::analogMax() const {
    std::lock_guard<std::mutex> lock(d->mu);
    return d->haveExtremes ? d->anaMax : 0;
}

uint16_t Simulator::analogMin() const {
    std::lock_guard<std::mutex> lock(d->mu);
    return d->haveExtremes ? d->anaMin : 0;
}

void Simulator::freezeModel(double seconds) {
    std::lock_guard<std::mutex> lock(d->mu);
    d->frozen = true;
    d->frozenAt = seconds;
}

void Simulator::unfreezeModel() {
    std::lock_guard<std::mutex> lock(d->mu);
    if (!d->frozen) return;
    d->timeShift = d->frozenAt - d->now();
    d->frozen = false;
}

double Simulator::modelTime() const {
    std::lock_guard<std::mutex> lock(d->mu);
    return d->modelTimeLocked(d->now());
}

void Simulator::setScene(const Scene &scene) {
    std::lock_guard<std::mutex> lock(d->mu);
    d->sceneOn = true;
    d->fixedScene = scene;
}

void Simulator::clearScene() {
    std::lock_guard<std::mutex> lock(d->mu);
    d->sceneOn = false;
}

Scene Simulator::scene() const {
    std::lock_guard<std::mutex> lock(d->mu);
    return d->sceneLocked(d->now());
}

void Simulator::setNoise(bool on) {
    std::lock_guard<std::mutex> lock(d->mu);
    d->opt.noise = on;
}

void Simulator::inject(const Fault &fault) {
    std::lock_guard<std::mutex> lock(d->mu);
    if (fault.count != 0) d->faults.push_back(fault);
}

void Simulator::clearFaults() {
    std::lock_guard<std::mutex> lock(d->mu);
    d->faults.clear();
    d->disconnectCountdown = -1;
}

void Simulator::sendUnsolicited(const std::vector<uint8_t> &bytes) {
    if (bytes.empty()) return;
    {
        std::lock_guard<std::mutex> lock(d->mu);
        if (!d->isRunning) return;
        d->unsolicited.push_back(bytes);
    }
    d->wake();
}

void Simulator::disconnectAfter(int requests) {
    if (requests > 0) {
        std::lock_guard<std::mutex> lock(d->mu);
        d->disconnectCountdown = requests;
        return;
    }
    {
        std::lock_guard<std::mutex> lock(d->mu);
        d->disconnectCountdown = -1;
        if (requests < 0 || !d->isRunning) return;
    }
    d->runOnThread([this] {
        if (d->master >= 0) d->closePty();
    });
}

bool Simulator::reconnect() {
    {
        std::lock_guard<std::mutex> lock(d->mu);
        if (!d->isRunning) {
            d->err = "the simulator is not running";
            return false;
        }
    }
    bool ok = false;
    std::string e = "the simulator stopped";
    d->runOnThread([this, &ok, &e] {
        if (d->master >= 0) d->closePty();
        ok = d->openPty(&e);
    });
    if (!ok) {
        std::lock_guard<std::mutex> lock(d->mu);
        d->err = e;
    }
    return ok;
}

uint64_t Simulator::skippedBytes() const {
    std::lock_guard<std::mutex> lock(d->mu);
    return d->skipped;
}

} // namespace kvorsim
