#include "csv.h"

#include <cstdio>
#include <cstring>
#include <ctime>

const char kRecordHeaderRow[] = "time,t_s,left_edge_px,right_edge_px,value_px,value_mm,edges,tolerance_px,"
                                "setpoint_px,analog_out,analog_max,analog_min,in_tolerance";

namespace {

// A comment's text on one line: line breaks and other control characters become spaces.
std::string OneLine(const std::string &text) {
    std::string out = text;
    for (char &c : out)
        if (static_cast<unsigned char>(c) < 0x20 || c == 0x7F) c = ' ';
    return out;
}

void FormatLocalIsoTime(int64_t wallMs, char *buf, size_t size) {
    int64_t secs = wallMs / 1000;
    int64_t ms = wallMs % 1000;
    if (ms < 0) {
        ms += 1000;
        secs -= 1;
    }
    const std::time_t t = static_cast<std::time_t>(secs);
    std::tm tm{};
    localtime_r(&t, &tm);
    const long off = tm.tm_gmtoff; // seconds east of UTC
    const long aoff = off < 0 ? -off : off;
    std::snprintf(buf, size, "%04d-%02d-%02dT%02d:%02d:%02d.%03d%c%02ld:%02ld", tm.tm_year + 1900,
                  tm.tm_mon + 1, tm.tm_mday, tm.tm_hour, tm.tm_min, tm.tm_sec, static_cast<int>(ms),
                  off < 0 ? '-' : '+', aoff / 3600, (aoff % 3600) / 60);
}

} // namespace

std::string LocalIsoTime(int64_t wallMs) {
    char buf[64];
    FormatLocalIsoTime(wallMs, buf, sizeof buf);
    return buf;
}

std::string RecordCommentLines(const RecordFacts &f, int64_t startWallMs) {
    std::string s;
    s += "# program: " + OneLine(f.program) + " " + OneLine(f.version) + "\n";
    s += "# port: " + std::to_string(f.port) + " " + OneLine(f.device) + "\n";
    for (int i = 0; i < 3; ++i)
        s += "# hardware " + std::to_string(i + 1) + ": " + OneLine(f.hardware[i]) + "\n";
    s += "# firmware: " + OneLine(f.firmware) + "\n";
    s += "# parameters (set 0 words 0-14, set 1 words 0-14):";
    for (int k = 0; k < 15; ++k)
        s += " " + std::to_string(f.set0[k]);
    for (int k = 0; k < 15; ++k)
        s += " " + std::to_string(f.set1[k]);
    s += "\n";
    s +=
        "# scale: " + std::to_string(f.scale) + " (x 1/16384), offset: " + std::to_string(f.offset) + " um\n";
    s += "# started: " + LocalIsoTime(startWallMs) + "\n";
    return s;
}

size_t FormatRecordRow(const RawAnswer &a, double seconds, char *buf) {
    char iso[64];
    FormatLocalIsoTime(a.wallMs, iso, sizeof iso);
    int64_t milli = static_cast<int64_t>(seconds * 1000.0 + (seconds < 0 ? -0.5 : 0.5));
    if (milli < 0) milli = 0; // an answer from before the start of the recording counts from 0
    const int n =
        std::snprintf(buf, kMaxRowLength, "%s,%lld.%03lld,%u,%u,%u,%u.%03u,%u,%u,%u,%d,%u,%u,%d\n", iso,
                      static_cast<long long>(milli / 1000), static_cast<long long>(milli % 1000), a.leftEdge,
                      a.rightEdge, a.valuePx, a.umValue / 1000, a.umValue % 1000, a.edges, a.tolerancePx,
                      a.setpointPx, a.analogOut, a.analogMax, a.analogMin, a.inTolerance ? 1 : 0);
    return n > 0 ? static_cast<size_t>(n) : 0;
}

ExistingFile ClassifyExisting(const std::string &head) {
    if (head.empty()) return ExistingFile::kEmpty;
    size_t pos = 0;
    while (pos < head.size()) {
        size_t end = head.find('\n', pos);
        if (end == std::string::npos) return ExistingFile::kNoHeader; // no whole first row
        std::string line = head.substr(pos, end - pos);
        if (!line.empty() && line.back() == '\r') line.pop_back();
        if (!line.empty() && line[0] != '#') {
            // Only exactly our columns: our rows appended under other columns would not line up.
            return line == kRecordHeaderRow ? ExistingFile::kMatches : ExistingFile::kOtherHeader;
        }
        pos = end + 1;
    }
    return ExistingFile::kNoHeader;
}
