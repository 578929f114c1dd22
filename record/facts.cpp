#include "facts.h"

#include "K-VOR-RNZazorU30.h"
#include "rs232.h"
#include "state.h"
#include "userint.h"

namespace {

// The panels and the sensor speak Latin-1; the recording is UTF-8.
std::string Utf8FromLatin1(const char *text) {
    std::string out;
    for (const unsigned char *p = reinterpret_cast<const unsigned char *>(text); *p; ++p) {
        if (*p < 0x80) {
            out += static_cast<char>(*p);
        } else {
            out += static_cast<char>(0xC0 | (*p >> 6));
            out += static_cast<char>(0x80 | (*p & 0x3F));
        }
    }
    return out;
}

} // namespace

RecordFacts CollectRecordFacts(void) {
    RecordFacts f;
    f.program = Utf8FromLatin1(szSoftName);
    f.version = Utf8FromLatin1(szSoftVersion);
    f.port = com;
    f.device = ComPortDevice(com);
    for (int i = 0; i < 3; ++i) {
        char line[256] = {0};
        if (pCalib > 0 && GetTextBoxLine(pCalib, CALIB_HWINFO, i, line, sizeof line) >= 0)
            f.hardware[i] = Utf8FromLatin1(line);
    }
    // The firmware text once the sensor sent it; before that the status line says why not.
    f.firmware = Utf8FromLatin1(szVersion[0] != '\0' ? szVersion : szStatus);
    for (int k = 0; k < 15; ++k)
        f.set0[k] = parameter.set0[k];
    // Set 1 packed as the parameter file holds it: words 0-10, then scale and offset, each as
    // its low and high half.
    const uint32_t offset = static_cast<uint32_t>(parameter.offset);
    for (int k = 0; k < 11; ++k)
        f.set1[k] = parameter.set1[k];
    f.set1[11] = static_cast<uint16_t>(parameter.scale & 0xFFFF);
    f.set1[12] = static_cast<uint16_t>(parameter.scale >> 16);
    f.set1[13] = static_cast<uint16_t>(offset & 0xFFFF);
    f.set1[14] = static_cast<uint16_t>(offset >> 16);
    f.scale = parameter.scale;
    f.offset = parameter.offset;
    return f;
}
