// One frame exchange and one wait: every request of the program goes out through SendFrame (or
// WriteFrame, for a frame built by hand), and every wait for an answer is WaitForAnswer.
#pragma once

#include <cstdint>

#include "protocol.h"

// Which of the two serial queues is emptied first before a request goes out.
enum Flush { FLUSH_NONE, FLUSH_IN_THEN_OUT, FLUSH_OUT_THEN_IN };

// Empties the queues of 'port' in the given order.
void FlushQueues(int port, Flush order);
// Writes the frame in szWriteBuf (36 bytes) to 'port'; the count goes to nBytesW. From now on,
// until the wait for it ends, the receive notification takes in only a frame with this command
// word (writes, which have no answer, leave that as it was); while no answer is awaited it takes
// in any frame. True when the whole frame went out.
bool WriteFrame(int port, uint16_t command);
// Empties the queues in the given order, builds the frame with FillTxBuf and writes it.
bool SendFrame(int port, Flush order, uint16_t command, uint16_t argument, const uint16_t *values);

// The answer a wait ends on.
enum { ANY_FRAME = -1, QUEUED_BYTES = 0 };
// How a wait passes its time, and what it shows when it runs out.
enum TimeoutText { TIMEOUT_TEXT_KEEP, TIMEOUT_TEXT_SHOW, TIMEOUT_TEXT_NONE };
struct AnswerWait {
    int answer = ANY_FRAME;     // a command word, ANY_FRAME, or QUEUED_BYTES
    int bytes = 0;              // with QUEUED_BYTES: how many bytes end the wait
    bool processEvents = true;  // false: poll the queue only (nothing else may run meanwhile)
    const char *timeoutText = nullptr;
    TimeoutText how = TIMEOUT_TEXT_KEEP; // KEEP: into szStatus; SHOW: onto the status line
};
// Waits by the program's time-out rule (tstart restarted here). With a command word it ends on
// rx_flag and that frame; ANY_FRAME on any frame; QUEUED_BYTES when 'bytes' bytes wait in the
// queue of com (*queued gets the count). 1 when it ended in time, 0 at the time-out.
int WaitForAnswer(const AnswerWait &wait, int *queued = nullptr);
// The time-out rule itself: tdiff is brought up to date; true only when more than TIMEOUT has
// passed since tstart (exactly TIMEOUT is still in time).
bool TimedOut(void);
// One pass of events for a loop that waits by that rule: it sleeps until news comes in or the
// time-out is due, and no longer.
void ProcessEventsUntilTimeOut(void);

// The command word the receive notification takes as an answer now (ANY_FRAME: any).
int AwaitedCommand(void);
void AwaitCommand(int command);
// Frames that came in while another answer was awaited, and were dropped.
unsigned long ForeignFrames(void);
// The receive notification asks here whether a frame with this command word is the awaited
// answer; a frame that is not is counted and dropped.
bool TakeFrameIn(uint16_t command);
