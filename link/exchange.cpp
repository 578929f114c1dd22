// The frame exchange, the wait and the time-out rule.
#include "exchange.h"

#include <chrono>

#include "com232.h"
#include "linkreport.h"
#include "rs232.h"
#include "userint.h"
#include "state.h"
#include "utility.h"

namespace {

int g_awaited = ANY_FRAME;
unsigned long g_foreign = 0;

// A request whose answer has neither come in nor been given up on, and when it went out (on the
// wall's monotonic clock: a test's replaced Timer() must not hold this up).
bool g_outstanding = false;
std::chrono::steady_clock::time_point g_sentAt;
// The longest an answer can still be on its way after its request: the request's and the
// answer's 36 bytes at 19200 baud, the sensor's processing, and some room.
constexpr std::chrono::milliseconds kAnswerOnItsWay(60);

// Requests written so far. A wait that finds a request written since it began knows that another
// exchange ran inside its event passes.
unsigned long g_requestsWritten = 0;

// A loop stopped by the operator leaves its last request's answer on the way. A request sent at
// once would meet that answer's tail in the queue, and its own answer would be read out of
// step with the frames and lost. So the next request lets it come in first, for at most the
// time an answer takes.
void LetTheLastAnswerIn(void) {
    while (g_outstanding && std::chrono::steady_clock::now() - g_sentAt < kAnswerOnItsWay)
        ProcessSystemEvents();
    g_outstanding = false;
}

bool IsAnswerTo(uint16_t command) {
    switch (command) {
    case CMD_WRITE_RAM:
    case CMD_WRITE_EEPROM:
    case CMD_FIRMWARE:
    case CMD_DATA_BLOCK:
        return false; // no answer frame: nothing to wait for
    default:
        return true;
    }
}

// After a pass of events: has the wait's end come?
bool Ended(const AnswerWait &wait, int *queued) {
    if (wait.answer == QUEUED_BYTES) {
        const int n = GetInQLen(com);
        if (queued) *queued = n;
        return n >= wait.bytes;
    }
    if (wait.answer == CMD_RAW_DATA) return graph_flag == 1;
    return rx_flag != 0;
}

void ReportTimeout(const AnswerWait &wait) {
    if (!wait.timeoutText) return;
    switch (wait.how) {
    case TIMEOUT_TEXT_KEEP:
        CopyText(szStatus, wait.timeoutText);
        break;
    case TIMEOUT_TEXT_SHOW:
        ShowStatus(wait.timeoutText);
        break;
    case TIMEOUT_TEXT_NONE:
        break;
    }
}

} // namespace

void FlushQueues(int port, Flush order) {
    if (order == FLUSH_IN_THEN_OUT) {
        FlushInQ(port);
        FlushOutQ(port);
    } else if (order == FLUSH_OUT_THEN_IN) {
        FlushOutQ(port);
        FlushInQ(port);
    }
}

bool WriteFrame(int port, uint16_t command) {
    if (IsAnswerTo(command)) {
        g_awaited = command;
        g_outstanding = true;
        g_sentAt = std::chrono::steady_clock::now();
    }
    ++g_requestsWritten;
    nBytesW = ComWrt(port, szWriteBuf, kFrameSize);
    return nBytesW == kFrameSize;
}

bool SendFrame(int port, Flush order, uint16_t command, uint16_t argument, const uint16_t *values) {
    LetTheLastAnswerIn();
    FlushQueues(port, order);
    FillTxBuf(command, argument, values);
    return WriteFrame(port, command);
}

bool TimedOut(void) {
    tdiff = Timer() - tstart;
    return tdiff > TIMEOUT;
}

void ProcessEventsUntilTimeOut(void) {
    ProcessSystemEventsUntil(tstart + TIMEOUT);
}

int WaitForAnswer(const AnswerWait &wait, int *queued) {
    tstart = Timer();
    const unsigned long requestsBefore = g_requestsWritten;
    for (;;) {
        if (wait.processEvents) ProcessEventsUntilTimeOut();
        if (g_requestsWritten != requestsBefore) {
            // An operation started meanwhile (a click, a port change) ran an exchange of its own
            // inside this wait: the flags and the read buffer hold its answers, and it emptied
            // the queue or dropped this request's answer as a frame of another command. The
            // request is left unanswered, with its time-out text; the lamp keeps the outcome of
            // the exchange that did run.
            rx_flag = 0;
            graph_flag = 0;
            if (queued) *queued = 0;
            g_awaited = ANY_FRAME;
            g_outstanding = false;
            ReportTimeout(wait);
            return 0;
        }
        const bool late = TimedOut();
        // An answer that came in during the last pass still counts, even at the time-out.
        if (Ended(wait, queued)) {
            g_awaited = ANY_FRAME;
            g_outstanding = false;
            ReportExchange(true);
            return 1;
        }
        if (late) {
            g_awaited = ANY_FRAME;
            g_outstanding = false;
            ReportTimeout(wait);
            ReportExchange(false);
            return 0;
        }
    }
}

int AwaitedCommand(void) {
    return g_awaited;
}

void AwaitCommand(int command) {
    g_awaited = command;
}

unsigned long ForeignFrames(void) {
    return g_foreign;
}

// The receive notification hands every frame here: only the answer to the request outstanding
// is taken in. A frame of another command (a raw-data answer arriving after a teach went out,
// a stray frame on the line) is dropped before it can reach pp.
bool TakeFrameIn(uint16_t command) {
    if (g_awaited != ANY_FRAME && command != g_awaited) {
        ++g_foreign;
        return false;
    }
    g_outstanding = false;
    return true;
}
