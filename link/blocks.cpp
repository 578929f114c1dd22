// Measurement data: the raw-data answer and the 64-word blocks of the video and threshold lines.
#include "com232.h"

#include "K-VOR-RNZazorU30.h"
#include "linkevents.h"
#include "rs232.h"
#include "state.h"
#include "userint.h"
#include "utility.h"
#include "wire.h"

namespace {

constexpr int kBlockWords = 64;
constexpr int kBlockSize = 2 * kBlockWords; // a block is a bare run of 128 bytes
constexpr int kLineWords = 256;

const char *BlockWaitText(uint16_t start) {
    switch (start) {
    case 0:
        return "Waiting for Data[64] Block 0 ...";
    case 64:
        return "Waiting for Data[64] Block 1 ...";
    case 128:
        return "Waiting for Data[64] Block 2 ...";
    case 192:
        return "Waiting for Data[64] Block 3 ...";
    default:
        return "Waiting for Data[64] Block x ...";
    }
}

} // namespace

int PushGETRAW(void) {
    FlushInQ(com);
    FlushOutQ(com);

    parameter.command = 8;
    parameter.argument = 0;
    FillTxBuf(parameter.command, parameter.argument, pp);
    nBytesW = ComWrt(com, szWriteBuf, kFrameSize);
    if (nBytesW == kFrameSize) SetCtrlVal(pHandle, PANEL_STATUS, "Line Ok!");

    // Only a raw-data answer ends the wait; any other frame clears graph_flag and we go on.
    graph_flag = 0;
    tstart = Timer();
    for (;;) {
        if (graph_flag == 1) {
            ReportLinkOutcome(kLinkAnswered);
            return 1;
        }
        ProcessSystemEvents();
        tdiff = Timer() - tstart;
        if (tdiff > TIMEOUT) {
            ReportLinkOutcome(kLinkTimedOut);
            SetCtrlVal(pHandle, PANEL_STATUS, "Timeout RS232-Line!");
            stop_flag = 1;
            return 0;
        }
    }
}

int ReadData64(uint16_t start, uint16_t selector) {
    int result = 0;
    parameter.command = 9;

    FlushOutQ(com);
    FlushInQ(com);

    PutWord(szWriteBuf, 0, parameter.start);
    PutWord(szWriteBuf, 2, parameter.command);
    PutWord(szWriteBuf, 4, start);
    PutWord(szWriteBuf, 6, selector);
    for (int pos = 8; pos < kFrameSize; ++pos)
        szWriteBuf[pos] = 0;
    nBytesW = ComWrt(com, szWriteBuf, kFrameSize);

    SetCtrlVal(pHandle, PANEL_STATUS, BlockWaitText(start));

    int n = 0;
    tstart = Timer();
    do {
        ProcessSystemEvents();
        n = GetInQLen(com);
        tdiff = Timer() - tstart;
        if (tdiff > TIMEOUT) {
            CopyText(szStatus, "Timeout-RS-232 while reading 64 data-words!");
            break;
        }
    } while (n < kBlockSize);

    nBytesR = ComRd(com, szReadBuf, ReadCount(n, static_cast<int>(sizeof szReadBuf)));
    ReportLinkOutcome(nBytesR == kBlockSize ? kLinkAnswered : kLinkTimedOut);

    if (nBytesR == kBlockSize) {
        CopyText(szStatus, "Data[64] block received!");
        uint16_t *line = (selector == 0) ? adcbuf : thdArrayEE;
        // The lines end at element 255: a block that starts above 192 keeps only the words that
        // fit, and one that starts beyond the line stores nothing.
        for (int i = 0; i < kBlockWords && start + i < kLineWords; ++i)
            line[start + i] = WordAt(szReadBuf, 2 * i);
        result = 1;
    }

    SetCtrlVal(pHandle, PANEL_STATUS, szStatus);
    return result;
}
