// kvor-sensor-sim: a simulated K-VOR-RN sensor on a pseudo-terminal, for learning the program,
// demonstrations and tests without hardware. Prints the device path on standard output and runs
// until interrupted.
#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <string>

#include <pthread.h>
#include <signal.h>

#include "sensor_sim.h"

namespace {

const char kUsage[] =
    "Usage: kvor-sensor-sim [options]\n"
    "A simulated K-VOR-RN sensor on a pseudo-terminal. Prints the device path, answers requests\n"
    "until interrupted (Ctrl+C) and logs each request (time, command, argument, values).\n"
    "\n"
    "  --link PATH              make PATH a symbolic link to the device\n"
    "  --eeprom FILE            keep the EEPROM parameter sets in FILE\n"
    "  --no-pacing              answer at once instead of at the pace of the line\n"
    "  --baud N                 line speed for pacing (default 19200)\n"
    "  --seed N                 seed of the moving object and the noise (default 1)\n"
    "  --no-noise               no video noise, no edge jitter\n"
    "  --log FILE               request log (default: standard error; 'none': no log)\n"
    "  --answer-writes          answer the write requests 1 and 3 with one frame\n"
    "  --ignore-writes          take the write requests 1 and 3 but keep the sets as they are\n"
    "  --unsolicited SECONDS    send a measurement frame every SECONDS without a request\n"
    "\n"
    "Faults:\n"
    "  --drop N                 no answer to the next N requests\n"
    "  --drop-command C         no answer to command C, ever\n"
    "  --truncate BYTES         cut the answer to BYTES bytes\n"
    "  --extend BYTES           pad the answer to BYTES bytes\n"
    "  --corrupt-start          answer with start word 0x0055 instead of 0x00AA\n"
    "  --corrupt-command V      answer with command word V\n"
    "  --delay SECONDS          answer SECONDS late\n"
    "  --fault-count N          truncate/extend/corrupt/delay apply to N answers (default 1,\n"
    "                           -1: every answer)\n"
    "  --fault-command C        truncate/extend/corrupt/delay apply to command C only\n"
    "  --disconnect-after N     close the pseudo-terminal after N requests\n"
    "  --reconnect-after SECONDS  after a disconnect, open a new one (prints its path)\n"
    "  --help                   this text\n";

bool ParseLong(const char *s, long lo, long hi, long *out) {
    if (!s || !*s) return false;
    char *end = nullptr;
    errno = 0;
    const long v = std::strtol(s, &end, 0);
    if (errno != 0 || *end != '\0' || v < lo || v > hi) return false;
    *out = v;
    return true;
}

bool ParseSeconds(const char *s, double *out) {
    if (!s || !*s) return false;
    char *end = nullptr;
    errno = 0;
    const double v = std::strtod(s, &end);
    if (errno != 0 || *end != '\0' || !(v >= 0.0) || v > 3600.0) return false;
    *out = v;
    return true;
}

int Usage(const char *msg, const char *arg) {
    std::fprintf(stderr, "kvor-sensor-sim: %s%s%s\n", msg, arg ? " " : "", arg ? arg : "");
    std::fprintf(stderr, "Try 'kvor-sensor-sim --help'.\n");
    return 2;
}

} // namespace

int main(int argc, char **argv) {
    kvorsim::Options opt;
    opt.logFile = "-";
    kvorsim::Fault shaped; // the fault options that take --fault-count/--fault-command
    bool haveShaped[5] = {false, false, false, false, false};
    long truncateBytes = 0, extendBytes = 0, corruptCommand = 0, faultCount = 1, faultCommand = -1, dropN = 0,
         dropCommand = -1, disconnectAfter = 0;
    double delay = 0.0, reconnectAfter = -1.0;

    for (int i = 1; i < argc; ++i) {
        const std::string a = argv[i];
        const char *v = i + 1 < argc ? argv[i + 1] : nullptr;
        long n = 0;
        double sec = 0.0;
        if (a == "--help" || a == "-h") {
            std::fputs(kUsage, stdout);
            return 0;
        } else if (a == "--no-pacing") {
            opt.pacing = false;
        } else if (a == "--no-noise") {
            opt.noise = false;
        } else if (a == "--answer-writes") {
            opt.answerWrites = true;
        } else if (a == "--ignore-writes") {
            opt.ignoreWrites = true;
        } else if (a == "--corrupt-start") {
            haveShaped[2] = true;
        } else if (!v) {
            static const char *const withValue[] = {"--link",
                                                    "--eeprom",
                                                    "--log",
                                                    "--baud",
                                                    "--seed",
                                                    "--unsolicited",
                                                    "--drop",
                                                    "--drop-command",
                                                    "--truncate",
                                                    "--extend",
                                                    "--corrupt-command",
                                                    "--delay",
                                                    "--fault-count",
                                                    "--fault-command",
                                                    "--disconnect-after",
                                                    "--reconnect-after"};
            for (const char *o : withValue)
                if (a == o) return Usage("missing value for", a.c_str());
            return Usage("unknown option", a.c_str());
        } else if (a == "--link") {
            opt.linkPath = v;
            ++i;
        } else if (a == "--eeprom") {
            opt.eepromFile = v;
            ++i;
        } else if (a == "--log") {
            opt.logFile = std::string(v) == "none" ? "" : v;
            ++i;
        } else if (a == "--baud") {
            if (!ParseLong(v, 300, 4000000, &n)) return Usage("bad baud rate", v);
            opt.baud = static_cast<int>(n);
            ++i;
        } else if (a == "--seed") {
            if (!ParseLong(v, 0, 0xFFFFFFFFL, &n)) return Usage("bad seed", v);
            opt.seed = static_cast<uint32_t>(n);
            ++i;
        } else if (a == "--unsolicited") {
            if (!ParseSeconds(v, &sec) || sec < 0.01) return Usage("bad period", v);
            opt.unsolicitedPeriod = sec;
            ++i;
        } else if (a == "--drop") {
            if (!ParseLong(v, 1, 1000000000L, &dropN)) return Usage("bad count", v);
            ++i;
        } else if (a == "--drop-command") {
            if (!ParseLong(v, 0, 65535, &dropCommand)) return Usage("bad command", v);
            ++i;
        } else if (a == "--truncate") {
            if (!ParseLong(v, 0, 65535, &truncateBytes)) return Usage("bad byte count", v);
            haveShaped[0] = true;
            ++i;
        } else if (a == "--extend") {
            if (!ParseLong(v, 1, 65536, &extendBytes)) return Usage("bad byte count", v);
            haveShaped[1] = true;
            ++i;
        } else if (a == "--corrupt-command") {
            if (!ParseLong(v, 0, 65535, &corruptCommand)) return Usage("bad command word", v);
            haveShaped[3] = true;
            ++i;
        } else if (a == "--delay") {
            if (!ParseSeconds(v, &delay)) return Usage("bad delay", v);
            haveShaped[4] = true;
            ++i;
        } else if (a == "--fault-count") {
            if (!ParseLong(v, -1, 1000000000L, &faultCount) || faultCount == 0)
                return Usage("bad fault count", v);
            ++i;
        } else if (a == "--fault-command") {
            if (!ParseLong(v, 0, 65535, &faultCommand)) return Usage("bad command", v);
            ++i;
        } else if (a == "--disconnect-after") {
            if (!ParseLong(v, 1, 1000000000L, &disconnectAfter)) return Usage("bad count", v);
            ++i;
        } else if (a == "--reconnect-after") {
            if (!ParseSeconds(v, &reconnectAfter)) return Usage("bad delay", v);
            ++i;
        } else {
            return Usage("unknown option", a.c_str());
        }
    }

    // Signals are taken by sigtimedwait below, never by a handler on some other thread.
    sigset_t sigs;
    sigemptyset(&sigs);
    sigaddset(&sigs, SIGINT);
    sigaddset(&sigs, SIGTERM);
    sigaddset(&sigs, SIGHUP);
    pthread_sigmask(SIG_BLOCK, &sigs, nullptr);
    ::signal(SIGPIPE, SIG_IGN);

    kvorsim::Simulator sim(opt);
    if (dropN > 0) {
        kvorsim::Fault f;
        f.kind = kvorsim::Fault::Drop;
        f.count = static_cast<int>(dropN);
        sim.inject(f);
    }
    if (dropCommand >= 0) {
        kvorsim::Fault f;
        f.kind = kvorsim::Fault::Drop;
        f.command = static_cast<int>(dropCommand);
        f.count = -1;
        sim.inject(f);
    }
    const kvorsim::Fault::Kind kinds[5] = {kvorsim::Fault::Truncate, kvorsim::Fault::Extend,
                                           kvorsim::Fault::CorruptStart, kvorsim::Fault::CorruptCommand,
                                           kvorsim::Fault::Delay};
    for (int k = 0; k < 5; ++k) {
        if (!haveShaped[k]) continue;
        kvorsim::Fault f = shaped;
        f.kind = kinds[k];
        f.command = static_cast<int>(faultCommand);
        f.count = static_cast<int>(faultCount);
        f.bytes = static_cast<int>(k == 0 ? truncateBytes : extendBytes);
        f.value = static_cast<uint16_t>(k == 2 ? 0x0055 : corruptCommand);
        f.seconds = delay;
        sim.inject(f);
    }
    if (disconnectAfter > 0) sim.disconnectAfter(static_cast<int>(disconnectAfter));

    if (!sim.start()) {
        std::fprintf(stderr, "kvor-sensor-sim: %s\n", sim.error().c_str());
        return 1;
    }
    std::printf("%s\n", sim.devicePath().c_str());
    std::fflush(stdout);
    if (!opt.linkPath.empty())
        std::fprintf(stderr, "kvor-sensor-sim: %s -> %s\n", opt.linkPath.c_str(), sim.slavePath().c_str());

    double disconnectedFor = 0.0;
    const timespec tick = {0, 100 * 1000 * 1000};
    for (;;) {
        siginfo_t info;
        const int sig = sigtimedwait(&sigs, &info, &tick);
        if (sig == SIGINT || sig == SIGTERM || sig == SIGHUP) break;
        if (sim.connected()) {
            disconnectedFor = 0.0;
            continue;
        }
        disconnectedFor += 0.1;
        if (reconnectAfter >= 0.0 && disconnectedFor >= reconnectAfter) {
            disconnectedFor = 0.0;
            if (sim.reconnect()) {
                std::printf("%s\n", sim.devicePath().c_str());
                std::fflush(stdout);
            } else {
                std::fprintf(stderr, "kvor-sensor-sim: %s\n", sim.error().c_str());
            }
        }
    }
    sim.stop();
    return 0;
}
