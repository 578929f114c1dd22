// The receive-frame decoder and the raw-value mapping, with the displays that every raw-data
// answer feeds: any 36 bytes as a received frame, then any display settings, then GetRxBuf,
// CopyPPtoRAWVars, PlotVIDEOBarGraph and PlotRAWGraph as the RUN loop calls them.
//
// Input: bytes 0-35 the frame (missing bytes are zero); then, two bytes each, high byte first:
// evaluation mode, analog mode, left edge, right edge, ccdvirtpixel, pixB, pixE; one byte zoom.
#include <cstdint>
#include <cstring>

#include "K-VOR-RNZazorU30.h"
#include "com232.h"
#include "fuzz_support.h"
#include "testhooks.h"
#include "measure.h"
#include "state.h"
#include "userint.h"

using kvorfuzz::Check;

namespace {

uint16_t Word(const uint8_t *data, size_t size, size_t pos) {
    const unsigned hi = pos < size ? data[pos] : 0;
    const unsigned lo = pos + 1 < size ? data[pos + 1] : 0;
    return static_cast<uint16_t>(hi << 8 | lo);
}

} // namespace

extern "C" int LLVMFuzzerInitialize(int *argc, char ***argv) {
    kvorfuzz::StartRuntime(argc, argv);
    kvorfuzz::LoadProgramPanels();
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size) {
    std::memset(szReadBuf, 0, 36);
    std::memcpy(szReadBuf, data, size < 36 ? size : 36);
    size_t pos = 36;
    parameter.set0[3] = Word(data, size, pos);
    parameter.set0[10] = Word(data, size, pos + 2);
    parameter.set0[4] = Word(data, size, pos + 4);
    parameter.set0[5] = Word(data, size, pos + 6);
    if (size > pos + 8) ccdvirtpixel = Word(data, size, pos + 8);
    if (size > pos + 10) pixB = Word(data, size, pos + 10);
    if (size > pos + 12) pixE = Word(data, size, pos + 12);
    SetCtrlVal(pHandle, PANEL_ZOOM, size > pos + 14 ? data[pos + 14] & 1 : 0);

    const uint16_t before15 = pp[15];
    const int raw = GetRxBuf();

    const uint16_t command = Word(data, size, 2);
    Check(raw == (command == 8 ? 1 : 0), "a raw-data answer is the frame with command word 8");
    if (raw) {
        for (int i = 0; i < 16; ++i)
            Check(pp[i] == Word(data, size, 4 + 2 * i), "a raw-data answer fills pp from byte 4 on");
        CopyPPtoRAWVars();
        Check(Ledge == pp[0] && Redge == pp[1] && Mvalue == pp[2], "edges and measured value");
        Check(umValue == (static_cast<uint32_t>(pp[4]) << 16 | pp[3]), "umValue from two words, low first");
        Check(parameter.set0[6] == pp[5] && tol == pp[6] && raw15 == pp[15], "setpoint, tolerance, last word");
        PlotVIDEOBarGraph();
        PlotRAWGraph();
        Check(GetGraphItems(pHandle, PANEL_GRAPH).size() <= 4, "one answer draws at most four bars");
    } else {
        for (int i = 0; i < 15; ++i)
            Check(pp[i] == Word(data, size, 6 + 2 * i), "any other frame fills pp from byte 6 on");
        Check(pp[15] == before15, "any other frame leaves pp[15]");
    }
    return 0;
}
