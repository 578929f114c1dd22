// The handling of the hardware-information and firmware-information answers, end to end through
// the serial services: the program sends its request over a real pseudo-terminal, the fuzzer
// answers on the far side with the input's bytes, and GetHARDWAREInfo or GetVERSIONInfo takes
// the answer as it would take a sensor's.
//
// Input: byte 0 chooses the request (even: hardware, odd: firmware) and, for the firmware, the
// board type (bit 1 set: 0, the word form; else 101, the text form); the rest is the answer.
//
// A replaced clock keeps every wait short: the answer is on the line before the wait's first
// reading, and the wait times out as soon as nothing more can come.
#include <cerrno>
#include <cstdint>
#include <cstring>
#include <string>
#include <vector>

#include <fcntl.h>
#include <poll.h>
#include <pty.h>
#include <sys/ioctl.h>
#include <termios.h>
#include <unistd.h>

#include "K-VOR-RNZazorU30.h"
#include "com232.h"
#include "fuzz_support.h"
#include "testhooks.h"
#include "rs232.h"
#include "state.h"
#include "utility.h"

using kvorfuzz::Check;

namespace {

constexpr int kPort = 1;
constexpr size_t kMostAnswer = 2048;
int g_master = -1;
int g_slave = -1; // kept open, so that the line never hangs up between inputs

std::vector<uint8_t> g_answer;
int g_reading = 0;
bool g_firmware = false;

// Throws away what the program wrote (its requests).
void DrainRequests() {
    uint8_t sink[512];
    while (::read(g_master, sink, sizeof sink) > 0) {
    }
}

// Puts the answer on the line and waits until the far end holds all of it.
void SendAnswer() {
    size_t sent = 0;
    while (sent < g_answer.size()) {
        const ssize_t n = ::write(g_master, g_answer.data() + sent, g_answer.size() - sent);
        if (n > 0) {
            sent += static_cast<size_t>(n);
        } else if (n < 0 && errno != EAGAIN && errno != EINTR) {
            kvorfuzz::Broken("cannot write to the pseudo-terminal");
        } else {
            pollfd p{g_master, POLLOUT, 0};
            ::poll(&p, 1, 10);
        }
    }
    for (int i = 0; i < 10000; ++i) {
        int waiting = 0;
        if (::ioctl(g_slave, FIONREAD, &waiting) != 0) break;
        if (static_cast<size_t>(waiting) >= g_answer.size()) return;
        ::usleep(10);
    }
}

double FuzzClock() {
    const int reading = g_reading++;
    if (reading == 0) {
        // The wait takes its start: the request has gone out.
        DrainRequests();
        SendAnswer();
        return 1000.0;
    }
    const int queued = GetInQLen(com);
    if (g_firmware) {
        // The firmware poll reads the queue before each reading; everything is there by now.
        return queued >= 72 ? 1000.0 : 1000.0 + 2.0;
    }
    // The hardware wait: a frame is taken in by the receive notification during the next event
    // passes; fewer than 36 bytes never will be.
    if (rx_flag == 1) return 1000.0;
    if (queued >= 0 && queued < 36 && reading > 1) return 1000.0 + 2.0;
    return reading > 50 ? 1000.0 + 2.0 : 1000.0;
}

bool Terminated(const char *text, size_t capacity) { return ::strnlen(text, capacity) < capacity; }

} // namespace

extern "C" int LLVMFuzzerInitialize(int *argc, char ***argv) {
    kvorfuzz::StartRuntime(argc, argv);
    kvorfuzz::LoadProgramPanels();
    if (::openpty(&g_master, &g_slave, nullptr, nullptr, nullptr) != 0) kvorfuzz::Broken("no pseudo-terminal");
    termios t;
    for (int fd : {g_master, g_slave}) {
        ::tcgetattr(fd, &t);
        ::cfmakeraw(&t);
        ::tcsetattr(fd, TCSANOW, &t);
    }
    ::fcntl(g_master, F_SETFL, ::fcntl(g_master, F_GETFL) | O_NONBLOCK);
    SetComPortDevice(kPort, ::ptsname(g_master));
    com = kPort;
    if (OpenComConfig(kPort, "", 19200, 0, 8, 1, 4096, 4096) < 0) kvorfuzz::Broken("cannot open the port");
    SetComTime(kPort, TIMEOUT);
    InstallRxNotification();
    SetTimerFunction(&FuzzClock);
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size) {
    if (size < 1) return 0;
    g_firmware = (data[0] & 1) != 0;
    g_answer.assign(data + 1, data + (size < kMostAnswer + 1 ? size : kMostAnswer + 1));
    g_reading = 0;

    if (!g_firmware) {
        // Known values, so that a failed answer shows if it changed them.
        pixB = 1;
        pixE = 1024;
        ADCMAX = 1024;
        xArray8[255] = -1.0;
        const int result = GetHARDWAREInfo();
        const bool frame = g_answer.size() >= 36;
        const bool hardwareAnswer = frame && g_answer[2] == 0 && g_answer[3] == 10;
        Check(result == (hardwareAnswer ? 1 : 0), "only a whole frame with command word 10 is a hardware answer");
        if (result == 1) {
            const uint16_t received = static_cast<uint16_t>(g_answer[12] << 8 | g_answer[13]);
            Check(ccdvirtpixel == received || ccdvirtpixel == 1024, "an unknown pixel count becomes 1024");
            Check(xArray8[1] >= 1.0 && xArray8[1] <= 32.0 && xArray8[255] == 255.0 * xArray8[1],
                  "the video x positions are one step apart");
            Check(ADCMAX == 1024 || ADCMAX == 256, "video full scale");
            Check(pixB == 1 && pixE >= 1, "edge range");
        } else {
            Check(xArray8[255] == -1.0 && pixE == 1024 && ADCMAX == 1024, "a failed answer derives nothing");
        }
    } else {
        pcbtype = (data[0] & 2) ? 0 : 101;
        CopyText(szStatus, "before");
        const int n = GetVERSIONInfo();
        Check(n >= 0 && n <= 4096, "the firmware read reports the bytes it found");
        Check(nBytesR >= 0 && nBytesR <= static_cast<int>(sizeof szReadBuf), "never more than the buffer holds");
        Check(Terminated(szStatus, sizeof szStatus) && Terminated(szVersion, sizeof szVersion),
              "status and version texts stay terminated inside their buffers");
        if (nBytesR != 72) {
            Check(std::strcmp(szStatus, "before") == 0 || std::strcmp(szStatus, "Timeout - reading firmware info!") == 0,
                  "an answer of another length shows nothing of itself");
        }
    }
    // Leftovers of this answer must not reach the next one.
    FlushInQ(com);
    return 0;
}
