// Measurement data: the raw-data answer and the 64-word blocks of the video and threshold lines.
#include "com232.h"

#include "exchange.h"
#include "linkreport.h"
#include "rs232.h"
#include "userint.h"
#include "state.h"
#include "utility.h"
#include "wire.h"

namespace {

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
    parameter.command = CMD_RAW_DATA;
    parameter.argument = 0;
    if (SendFrame(com, FLUSH_IN_THEN_OUT, parameter.command, parameter.argument, pp)) ShowStatus("Line Ok!");

    // Only a raw-data answer ends the wait.
    graph_flag = 0;
    AnswerWait wait;
    wait.answer = CMD_RAW_DATA;
    wait.timeoutText = "Timeout RS232-Line!";
    wait.how = TIMEOUT_TEXT_SHOW;
    if (WaitForAnswer(wait)) return 1;
    stop_flag = 1;
    return 0;
}

int ReadData64(uint16_t start, uint16_t selector) {
    int result = 0;
    parameter.command = CMD_DATA_BLOCK;

    // The request is built here from parameter.start, not by FillTxBuf.
    FlushQueues(com, FLUSH_OUT_THEN_IN);
    PutWord(szWriteBuf, 0, parameter.start);
    PutWord(szWriteBuf, 2, parameter.command);
    PutWord(szWriteBuf, 4, start);
    PutWord(szWriteBuf, 6, selector);
    for (int pos = 8; pos < kFrameSize; ++pos)
        szWriteBuf[pos] = 0;
    WriteFrame(com, parameter.command);

    ShowStatus(BlockWaitText(start));

    int n = 0;
    AnswerWait wait;
    wait.answer = QUEUED_BYTES;
    wait.bytes = kBlockSize;
    wait.timeoutText = "Timeout-RS-232 while reading 64 data-words!";
    WaitForAnswer(wait, &n);

    nBytesR = ComRd(com, szReadBuf, ReadCount(n, static_cast<int>(sizeof szReadBuf)));

    if (nBytesR == kBlockSize) {
        CopyText(szStatus, "Data[64] block received!");
        uint16_t *line = (selector == 0) ? adcbuf : thdArrayEE;
        // The lines end at element 255: a block that starts above 192 keeps only the words that
        // fit, and one that starts beyond the line stores nothing.
        for (int i = 0; i < kBlockWords && start + i < kLineWords; ++i)
            line[start + i] = WordAt(szReadBuf, 2 * i);
        result = 1;
    }

    ShowStatusBuffer();
    return result;
}
