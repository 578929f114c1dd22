// GET, RUN, VIDEO and STOP: the operations that talk to the sensor for parameters and
// measurements.
//
// Every wait here polls: it calls ProcessSystemEvents on each pass, and that is where the receive
// notification and the other callbacks (STOP above all) run. RUN and VIDEO are therefore an event
// loop nested inside the callback of the button that started them; they return only when
// stop_flag has become 1.
#include "measure.h"

#include "K-VOR-RNZazorU30.h"
#include "com232.h"
#include "linkevents.h"
#include "params.h"
#include "rs232.h"
#include "state.h"
#include "userint.h"
#include "utility.h"

namespace {

void ShowStatus(const char *text) {
    SetCtrlVal(pHandle, PANEL_STATUS, text);
}

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

bool TimedOut(void) {
    tdiff = Timer() - tstart;
    return tdiff > TIMEOUT; // exactly TIMEOUT is still in time
}

} // namespace

void PushGET(uint16_t target, uint16_t set) {
    // Only RAM and EEPROM are read over the line. Anything else (the file target, whose set
    // ReadParaFromFile has already loaded) sends nothing: parameter.command may still hold a write
    // command from the last SEND, and a read must never go out as a write.
    if (target == RAM || target == EEPROM) {
        parameter.command = (target == RAM) ? 2 : 4;

        CopyVarsToPP(set);
        FlushInQ(com);
        FlushOutQ(com);

        FillTxBuf(parameter.command, set, pp);
        nBytesW = ComWrt(com, szWriteBuf, kFrameSize);
        if (nBytesW == kFrameSize) ShowStatus("Waiting for parameter-frame ...");

        rx_flag = 0;
        tstart = Timer();

        // The first frame that comes in answers the request, whatever its command word.
        for (;;) {
            ProcessSystemEvents();
            if (rx_flag == 1) {
                ReportLinkOutcome(kLinkAnswered);
                GetRxBuf();
                CopyPPtoVars(set);
                CopyText(szStatus, "Parameter-frame received! - Line Ok!");
                break;
            }
            if (TimedOut()) {
                ReportLinkOutcome(kLinkTimedOut);
                CopyText(szStatus, "Timeout-RS-232...");
                break;
            }
        }
    }

    ShowStatus(szStatus);

    // Set 1 is always read last, so only then do both sets stand in the variables.
    if (set == 1) SetPanelValues();
}

void PushRUN(void) {
    SetCtrlAttribute(pHandle, PANEL_VIDEOGRAPH, ATTR_VISIBLE, 0);
    SetCtrlAttribute(pHandle, PANEL_STRIPCHART, ATTR_VISIBLE, 1);
    DimCommandButton(PANEL_CMDBTN13, 1);
    DimCommandButton(PANEL_CMDBTN11, 1);

    SelectRamTarget();

    stop_flag = 0;
    graph_flag = 0;
    rx_flag = 0;
    tstart = Timer();

    // After a time-out here stop_flag is already 1, and the loop ends at its first check.
    PushGETRAW();

    for (;;) {
        if (graph_flag == 1) {
            CopyPPtoRAWVars();
            PlotVIDEOBarGraph();
            PlotRAWGraph();
            graph_flag = 0;
            FlushInQ(com);
            FlushOutQ(com);
        }

        // One request outstanding at a time: the next goes out only once a frame has come in
        // (and a raw-data answer has been drawn), and the time-out runs from it.
        if (rx_flag == 1) {
            ReportLinkOutcome(kLinkAnswered);
            FlushInQ(com);
            FlushOutQ(com);
            CopyVarsToPP(0);
            FillTxBuf(8, 0, pp);
            rx_flag = 0;
            tstart = Timer();
            nBytesW = ComWrt(com, szWriteBuf, kFrameSize);
        }

        if (TimedOut()) {
            ReportLinkOutcome(kLinkTimedOut);
            ShowStatus("Timeout RS232-Line!");
            stop_flag = 1;
            break;
        }

        ProcessSystemEvents();
        if (stop_flag != 0) break;
    }

    rx_flag = 0;
    graph_flag = 0;
    FlushInQ(com);
    FlushOutQ(com);
    // GET stays dimmed until the STOP commit or the end of a VIDEO loop releases it.
    DimCommandButton(PANEL_CMDBTN13, 0);
}

void PushVIDEO(void) {
    int result = 0;

    SetCtrlAttribute(pHandle, PANEL_STRIPCHART, ATTR_VISIBLE, 0);
    SetCtrlAttribute(pHandle, PANEL_VIDEOGRAPH, ATTR_VISIBLE, 1);
    DimCommandButton(PANEL_CMDBTN13, 1);
    DimCommandButton(PANEL_CMDBTN11, 1);
    DimCommandButton(PANEL_CMDBTN3, 1);

    stop_flag = 0;

    do {
        result = PushGETRAW();
        if (result == 1) {
            CopyPPtoRAWVars();

            // The blocks are bare runs of 128 bytes: the notification would take their first 36
            // bytes for a frame, so it stays off while they are read straight from the queue.
            RemoveRxNotification();
            FlushInQ(com);
            FlushOutQ(com);

            result = ReadData64(0, 0);
            if (result > 0) result = ReadData64(64, 0);
            if (result > 0) result = ReadData64(128, 0);
            if (result > 0) result = ReadData64(192, 0);

            InstallRxNotification();

            // A missing block only costs this pass its picture; the loop goes on.
            if (result > 0) {
                SetAxisScalingMode(pHandle, PANEL_VIDEOGRAPH, VAL_XAXIS, VAL_MANUAL, 1.0,
                                   static_cast<double>(ccdvirtpixel));
                PlotVIDEOBarGraph();
                PlotVIDEOCurve(adcbuf, thdArray, xArray8);
            }
        } else {
            // No raw-data answer: the sensor is gone, so is the loop.
            stop_flag = 1;
        }

        ProcessSystemEvents();
    } while (stop_flag == 0);

    DimCommandButton(PANEL_CMDBTN13, 0);
    DimCommandButton(PANEL_CMDBTN11, 0);
    DimCommandButton(PANEL_CMDBTN3, 0);
    // However the loop ended, the link is left as every other requester expects it: notification
    // on, nothing stale in either queue.
    InstallRxNotification();
    FlushOutQ(com);
    FlushInQ(com);
}

void PushSTOP(void) {
    stop_flag = 1;
    DimCommandButton(PANEL_CMDBTN11, 0);
    DimCommandButton(PANEL_CMDBTN13, 0);
    DimCommandButton(PANEL_CMDBTN3, 0);
}
