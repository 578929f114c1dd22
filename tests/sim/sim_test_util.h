// Helpers of the simulated sensor's tests: the far end of the line (the program's side of the
// pseudo-terminal) and a temporary directory.
#pragma once

#include <cerrno>
#include <chrono>
#include <cstdint>
#include <filesystem>
#include <string>
#include <vector>

#include <fcntl.h>
#include <poll.h>
#include <termios.h>
#include <unistd.h>

namespace simtest {

using Clock = std::chrono::steady_clock;

inline double Since(Clock::time_point t) {
    return std::chrono::duration<double>(Clock::now() - t).count();
}

// The program's end of the line, opened like a serial port.
class Port {
public:
    explicit Port(const std::string &path, bool raw = true) {
        fd_ = ::open(path.c_str(), O_RDWR | O_NOCTTY | O_NONBLOCK | O_CLOEXEC);
        if (fd_ >= 0 && raw) {
            termios t;
            ::tcgetattr(fd_, &t);
            ::cfmakeraw(&t);
            ::tcsetattr(fd_, TCSANOW, &t);
        }
    }
    ~Port() {
        if (fd_ >= 0) ::close(fd_);
    }
    Port(const Port &) = delete;
    Port &operator=(const Port &) = delete;

    bool ok() const { return fd_ >= 0; }
    int fd() const { return fd_; }

    bool send(const std::vector<uint8_t> &bytes) {
        return ::write(fd_, bytes.data(), bytes.size()) == static_cast<ssize_t>(bytes.size());
    }

    // Reads until n bytes have come or the deadline has passed; returns what came.
    std::vector<uint8_t> read(size_t n, double timeoutSeconds = 5.0) {
        std::vector<uint8_t> got;
        const auto start = Clock::now();
        while (got.size() < n) {
            const double left = timeoutSeconds - Since(start);
            if (left <= 0.0) break;
            pollfd p = {fd_, POLLIN, 0};
            if (::poll(&p, 1, static_cast<int>(left * 1000.0) + 1) <= 0) continue;
            if (p.revents & (POLLHUP | POLLERR)) break;
            uint8_t buf[512];
            const ssize_t k = ::read(fd_, buf, std::min(sizeof buf, n - got.size()));
            if (k > 0)
                got.insert(got.end(), buf, buf + k);
            else if (k == 0 || (errno != EAGAIN && errno != EINTR))
                break;
        }
        return got;
    }

    // True when the far end went away (hang-up) before the deadline.
    bool waitHangup(double timeoutSeconds = 5.0) {
        const auto start = Clock::now();
        while (Since(start) < timeoutSeconds) {
            pollfd p = {fd_, POLLIN, 0};
            if (::poll(&p, 1, 50) > 0) {
                if (p.revents & (POLLHUP | POLLERR)) return true;
                uint8_t buf[256];
                const ssize_t k = ::read(fd_, buf, sizeof buf);
                if (k == 0 || (k < 0 && errno == EIO)) return true;
            }
        }
        return false;
    }

private:
    int fd_ = -1;
};

struct TempDir {
    std::string path;
    TempDir() {
        char tmpl[] = "/tmp/kvor-sim-test-XXXXXX";
        const char *p = ::mkdtemp(tmpl);
        path = p ? p : "";
    }
    ~TempDir() {
        std::error_code ec;
        if (!path.empty()) std::filesystem::remove_all(path, ec);
    }
};

} // namespace simtest
