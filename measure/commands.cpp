// GET, RUN, VIDEO and STOP: the operations that talk to the sensor for parameters and
// measurements.
//
// Every wait here polls: it calls ProcessSystemEvents on each pass, and that is where the receive
// notification and the other callbacks (STOP above all) run. RUN and VIDEO are therefore an event
// loop nested inside the callback of the button that started them; they return only when
// stop_flag has become 1.
#include "measure.h"

#include <cstring>
#include <deque>

#include "K-VOR-RNZazorU30.h"
#include "com232.h"
#include "exchange.h"
#include "feed_internal.h"
#include "linkreport.h"
#include "params.h"
#include "rs232.h"
#include "state.h"
#include "userint.h"
#include "utility.h"

namespace {

Loop g_loop = LOOP_NONE;
unsigned long g_foreignAtRequest = 0; // dropped frames when RUN's request went out
bool g_switchToVideo = false;
std::deque<void (*)(void)> g_pending;

// The three command buttons the loops dim (PANEL_CMDBTN13 is RUN, PANEL_CMDBTN11 GET,
// PANEL_CMDBTN3 VIDEO; STOP is none of them).
void DimCommandButton(int control, int dimmed) {
    SetCtrlAttribute(pHandle, control, ATTR_DIMMED, dimmed);
}

// RUN and VIDEO always measure what the sensor holds in RAM; the radio group follows.
void SelectRamTarget(void) {
    SetCtrlVal(pHandle, PANEL_RBTRam, 1);
    target = RAM;
    SetCtrlVal(pHandle, PANEL_RBTEeprom, 0);
    SetCtrlVal(pHandle, PANEL_RBTFile, 0);
}

// Operations asked for while the loop waited run here, between an answer and the next request.
void RunPendingOperations(void) {
    while (!g_pending.empty()) {
        void (*operation)(void) = g_pending.front();
        g_pending.pop_front();
        operation();
    }
}

// However a loop ended, the program is idle again: the three buttons are available, and what
// the displays show is no longer live.
void EndLoop(void) {
    g_loop = LOOP_NONE;
    AwaitCommand(ANY_FRAME);
    DimCommandButton(PANEL_CMDBTN13, 0);
    DimCommandButton(PANEL_CMDBTN11, 0);
    DimCommandButton(PANEL_CMDBTN3, 0);
    PublishMeasurementStopped();
    RunPendingOperations(); // asked for in the last wait; they report their own outcome
}

// The next raw-data request of the RUN loop: set 0 as the variables hold it now, the time-out
// running from here.
void SendRunRequest(void) {
    CopyVarsToPP(0);
    FlushQueues(com, FLUSH_IN_THEN_OUT);
    FillTxBuf(CMD_RAW_DATA, 0, pp);
    rx_flag = 0;
    tstart = Timer();
    g_foreignAtRequest = ForeignFrames();
    WriteFrame(com, CMD_RAW_DATA);
}

// One pass of the RUN loop after an answer came in: the answer is taken in, whatever waited for
// the line runs, the next request goes out, and only then do the listeners draw and record, so
// that they cost the loop no time of the line. False when the loop is to end.
bool TakeRunAnswer(void) {
    ReportExchange(true);
    RawAnswer answer;
    CopyPPtoRAWVars();
    FillRawAnswer(&answer, false);
    graph_flag = 0;
    RunPendingOperations();
    if (stop_flag != 0 || g_switchToVideo) {
        PublishRawAnswer(answer);
        return false;
    }
    SendRunRequest();
    PublishRawAnswer(answer);
    return true;
}

void RunLoop(void) {
    for (;;) {
        if (graph_flag == 1) {
            if (!TakeRunAnswer()) break;
        } else if (rx_flag == 1 || ForeignFrames() != g_foreignAtRequest) {
            // A frame came, but not the answer: it is not drawn and not stored, and the next
            // request goes out, as after an answer.
            SendRunRequest();
        }
        if (TimedOut()) {
            ShowStatus("Timeout RS232-Line!");
            ReportExchange(false);
            stop_flag = 1;
            break;
        }
        ProcessEventsUntilTimeOut();
        if (stop_flag != 0) break;
    }
}

// The four blocks of the video line, read straight from the queue with the notification off
// (it would take their first 36 bytes for a frame). 1 when all four came. A line that did not
// come whole is not kept: adcbuf goes back to the last whole line, the one the curve shows and
// the threshold slide draws again.
int ReadVideoLine(void) {
    uint16_t lastWhole[256];
    static_assert(sizeof lastWhole == sizeof adcbuf, "the whole video line is kept");
    std::memcpy(lastWhole, adcbuf, sizeof lastWhole);
    RemoveRxNotification();
    FlushInQ(com);
    FlushOutQ(com);
    int result = ReadData64(0, 0);
    if (result > 0) result = ReadData64(64, 0);
    if (result > 0) result = ReadData64(128, 0);
    if (result > 0) result = ReadData64(192, 0);
    InstallRxNotification();
    if (result <= 0) std::memcpy(adcbuf, lastWhole, sizeof lastWhole);
    return result;
}

// One pass of VIDEO: a raw-data answer, then the video line. A missing block only costs this
// pass its picture; a missing answer ends the loop (PushGETRAW sets stop_flag).
void VideoPass(void) {
    if (PushGETRAW() != 1) {
        stop_flag = 1;
        return;
    }
    RawAnswer answer;
    CopyPPtoRAWVars();
    FillRawAnswer(&answer, true);
    if (ReadVideoLine() <= 0) return;
    SetAxisScalingMode(pHandle, PANEL_VIDEOGRAPH, VAL_XAXIS, VAL_MANUAL, 1.0, static_cast<double>(ccdvirtpixel));
    VideoLine line;
    FillVideoLine(&line);
    PublishRawAnswer(answer);
    PublishVideoLine(line);
}

} // namespace

Loop RunningLoop(void) {
    return g_loop;
}

void RunWhenLineIsFree(void (*operation)(void)) {
    if (!operation) return;
    if (g_loop == LOOP_NONE) {
        operation();
    } else {
        g_pending.push_back(operation);
    }
}

void SwitchRunToVideo(void) {
    if (g_loop == LOOP_RUN) g_switchToVideo = true;
}

void PushGET(uint16_t memory, uint16_t set) {
    // Only RAM and EEPROM are read over the line. Anything else (the file target, whose set
    // ReadParaFromFile has already loaded) sends nothing: parameter.command may still hold a write
    // command from the last SEND, and a read must never go out as a write.
    if (memory == RAM || memory == EEPROM) {
        if (ExchangeParameterSet(ReadCommandFor(memory), set)) CopyPPtoVars(set);
    }
    ShowStatusBuffer();
    // Set 1 is always read last, so only then do both sets stand in the variables.
    if (set == 1) SetPanelValues();
}

void PushRUN(void) {
    ListenWithDisplays();
    SetCtrlAttribute(pHandle, PANEL_VIDEOGRAPH, ATTR_VISIBLE, 0);
    SetCtrlAttribute(pHandle, PANEL_STRIPCHART, ATTR_VISIBLE, 1);
    DimCommandButton(PANEL_CMDBTN13, 1);
    DimCommandButton(PANEL_CMDBTN11, 1);
    SetActiveCtrl(pHandle, PANEL_BTNStop); // while the loop runs, a key press goes to STOP
    SelectRamTarget();

    g_loop = LOOP_RUN;
    g_switchToVideo = false;
    stop_flag = 0;
    graph_flag = 0;
    rx_flag = 0;
    tstart = Timer();
    g_foreignAtRequest = ForeignFrames();
    // After a time-out here stop_flag is already 1, and the loop ends at its first check.
    PushGETRAW();
    RunLoop();

    rx_flag = 0;
    graph_flag = 0;
    FlushInQ(com);
    FlushOutQ(com);
    EndLoop();
    if (g_switchToVideo && stop_flag == 0) {
        g_switchToVideo = false;
        PushVIDEO();
        return;
    }
    g_switchToVideo = false;
    SetActiveCtrl(pHandle, PANEL_BTNRun);
}

void PushVIDEO(void) {
    ListenWithDisplays();
    SetCtrlAttribute(pHandle, PANEL_STRIPCHART, ATTR_VISIBLE, 0);
    SetCtrlAttribute(pHandle, PANEL_VIDEOGRAPH, ATTR_VISIBLE, 1);
    DimCommandButton(PANEL_CMDBTN13, 1);
    DimCommandButton(PANEL_CMDBTN11, 1);
    DimCommandButton(PANEL_CMDBTN3, 1);
    SetActiveCtrl(pHandle, PANEL_BTNStop);

    g_loop = LOOP_VIDEO;
    stop_flag = 0;
    do {
        VideoPass();
        ProcessSystemEvents();
        if (stop_flag == 0) RunPendingOperations();
    } while (stop_flag == 0);

    // However the loop ended, the link is left as every other requester expects it: notification
    // on, nothing stale in either queue.
    InstallRxNotification();
    FlushOutQ(com);
    FlushInQ(com);
    EndLoop();
    SetActiveCtrl(pHandle, PANEL_BTNVideo);
}

void PushSTOP(void) {
    stop_flag = 1;
    DimCommandButton(PANEL_CMDBTN11, 0);
    DimCommandButton(PANEL_CMDBTN13, 0);
    DimCommandButton(PANEL_CMDBTN3, 0);
}
