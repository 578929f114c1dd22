#include "sim_wire.h"

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <sstream>

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include "sensor_sim.h"

namespace kvorsim {

bool FrameReceiver::push(uint8_t byte, double t, uint8_t frame[kFrameBytes]) {
    if (len_ > 0 && t - last_ > gap_) {
        skipped_ += len_;
        len_ = 0;
    }
    last_ = t;
    if (len_ == 0) {
        if (byte == 0x00)
            buf_[len_++] = byte;
        else
            ++skipped_;
        return false;
    }
    if (len_ == 1) {
        if (byte == 0x55) {
            buf_[len_++] = byte;
        } else if (byte == 0x00) {
            ++skipped_; // the earlier zero was noise; this one may start the request
        } else {
            skipped_ += 2;
            len_ = 0;
        }
        return false;
    }
    buf_[len_++] = byte;
    if (len_ < kFrameBytes) return false;
    std::memcpy(frame, buf_, kFrameBytes);
    len_ = 0;
    return true;
}

std::vector<uint8_t> BuildFrame(uint16_t start, uint16_t command, uint16_t argument,
                                const uint16_t values[15]) {
    std::vector<uint8_t> f(kFrameBytes, 0);
    PutWord(&f[0], start);
    PutWord(&f[2], command);
    PutWord(&f[4], argument);
    for (int i = 0; i < 15; ++i)
        PutWord(&f[6 + 2 * i], values ? values[i] : 0);
    return f;
}

std::vector<uint8_t> FirmwareAnswer(const std::string &text, uint16_t pcbtype) {
    std::vector<uint8_t> a(kFirmwareBytes, 0);
    if (pcbtype == 0) {
        const size_t n = std::min(text.size(), kFirmwareBytes / 2 - 1);
        for (size_t i = 0; i < n; ++i)
            a[2 * i + 1] = static_cast<uint8_t>(text[i]);
    } else {
        const size_t n = std::min(text.size(), kFirmwareBytes - 1);
        std::memcpy(a.data(), text.data(), n);
    }
    return a;
}

std::vector<uint8_t> BlockAnswer(const uint16_t line[256], uint16_t start) {
    std::vector<uint8_t> a(2 * kBlockWords, 0);
    for (size_t i = 0; i < kBlockWords; ++i) {
        const size_t k = static_cast<size_t>(start) + i;
        PutWord(&a[2 * i], k < 256 ? line[k] : 0);
    }
    return a;
}

std::string FormatRequestLine(double time, uint16_t start, uint16_t command, uint16_t argument,
                              const uint16_t values[15]) {
    char buf[256];
    int n = std::snprintf(buf, sizeof buf, "%11.6f start 0x%04X cmd %2u arg %5u values", time,
                          static_cast<unsigned>(start), static_cast<unsigned>(command),
                          static_cast<unsigned>(argument));
    std::string s(buf, n > 0 ? std::min<size_t>(static_cast<size_t>(n), sizeof buf - 1) : 0);
    for (int i = 0; i < 15; ++i) {
        n = std::snprintf(buf, sizeof buf, " %u", static_cast<unsigned>(values[i]));
        if (n > 0) s.append(buf, std::min<size_t>(static_cast<size_t>(n), sizeof buf - 1));
    }
    return s;
}

bool LoadEepromFile(const std::string &path, uint16_t sets[2][15], bool *missing, std::string *error) {
    *missing = false;
    struct stat st;
    if (::stat(path.c_str(), &st) != 0) {
        if (errno == ENOENT) {
            *missing = true;
            return true;
        }
        *error = "cannot read EEPROM file " + path + ": " + std::strerror(errno);
        return false;
    }
    std::ifstream in(path);
    if (!S_ISREG(st.st_mode) || !in) {
        *error = "cannot read EEPROM file " + path + ": not a readable file";
        return false;
    }
    uint16_t read[2][15] = {};
    bool seen[2] = {false, false};
    std::string line;
    int lineNo = 0;
    while (std::getline(in, line)) {
        ++lineNo;
        std::istringstream ls(line);
        std::string key;
        if (!(ls >> key) || key[0] == '#') continue;
        const auto bad = [&](const char *why) {
            *error = "EEPROM file " + path + ", line " + std::to_string(lineNo) + ": " + why;
            return false;
        };
        int set = key == "set0" ? 0 : key == "set1" ? 1 : -1;
        if (set < 0) return bad("expected set0 or set1");
        if (seen[set]) return bad("set given twice");
        for (int i = 0; i < 15; ++i) {
            std::string tok;
            if (!(ls >> tok)) return bad("fewer than 15 words");
            char *end = nullptr;
            errno = 0;
            const unsigned long v = std::strtoul(tok.c_str(), &end, 10);
            if (errno != 0 || *end != '\0' || tok[0] == '-' || v > 65535)
                return bad("a word is not a number from 0 to 65535");
            read[set][i] = static_cast<uint16_t>(v);
        }
        std::string extra;
        if (ls >> extra) return bad("more than 15 words");
        seen[set] = true;
    }
    if (in.bad()) {
        *error = "cannot read EEPROM file " + path;
        return false;
    }
    if (!seen[0] || !seen[1]) {
        *error = "EEPROM file " + path + ": set0 and set1 are both needed";
        return false;
    }
    std::memcpy(sets, read, sizeof read);
    return true;
}

bool SaveEepromFile(const std::string &path, const uint16_t sets[2][15], std::string *error) {
    std::string text = "# EEPROM of the simulated K-VOR-RN sensor: parameter sets 0 and 1\n";
    for (int s = 0; s < 2; ++s) {
        text += s == 0 ? "set0" : "set1";
        for (int i = 0; i < 15; ++i)
            text += " " + std::to_string(sets[s][i]);
        text += "\n";
    }
    const std::string tmp = path + ".tmp";
    const int fd = ::open(tmp.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0644);
    if (fd < 0) {
        *error = "cannot write EEPROM file " + tmp + ": " + std::strerror(errno);
        return false;
    }
    size_t done = 0;
    while (done < text.size()) {
        const ssize_t n = ::write(fd, text.data() + done, text.size() - done);
        if (n < 0 && errno == EINTR) continue;
        if (n <= 0) {
            *error = "cannot write EEPROM file " + tmp + ": " + std::strerror(errno);
            ::close(fd);
            ::unlink(tmp.c_str());
            return false;
        }
        done += static_cast<size_t>(n);
    }
    const bool synced = ::fsync(fd) == 0;
    const bool closed = ::close(fd) == 0;
    if (!synced || !closed) {
        *error = "cannot write EEPROM file " + tmp + ": " + std::strerror(errno);
        ::unlink(tmp.c_str());
        return false;
    }
    if (::rename(tmp.c_str(), path.c_str()) != 0) {
        *error = "cannot replace EEPROM file " + path + ": " + std::strerror(errno);
        ::unlink(tmp.c_str());
        return false;
    }
    return true;
}

} // namespace kvorsim
