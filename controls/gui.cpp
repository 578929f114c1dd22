// The control callbacks of the main panel and the parameter pages: they turn the operator's
// actions into the program's operations. They keep no logic of their own beyond choosing the
// command, the set and the target; every one returns 0 and ignores the events it does not name.
#include "K-VOR-RNZazorU30.h"
#include "com232.h"
#include "connection.h"
#include "linkevents.h"
#include "measure.h"
#include "params.h"
#include "rs232.h"
#include "state.h"
#include "userint.h"
#include "utility.h"

namespace {

constexpr double kSetGap = 0.1;     // between set 0 and set 1 of every two-set transfer
constexpr double kStopSettle = 0.2; // after the STOP commit
constexpr double kCursorY = 0.75;
constexpr double kEdgeCursorY = 1.0; // edge cursors as the operator sets them

void ShowStatus(const char *text) {
    SetCtrlVal(pHandle, PANEL_STATUS, text);
}

void SetDimmed(int panel, int control, int dimmed) {
    SetCtrlAttribute(panel, control, ATTR_DIMMED, dimmed);
}

void SetMemoryTarget(int which) {
    target = which;
    SetCtrlVal(pHandle, PANEL_RBTRam, which == RAM ? 1 : 0);
    SetCtrlVal(pHandle, PANEL_RBTEeprom, which == EEPROM ? 1 : 0);
    SetCtrlVal(pHandle, PANEL_RBTFile, which == DATFILE ? 1 : 0);
}

// Switching any memory-target button off falls back to RAM; the button switched off stays off.
void FallBackToRam(void) {
    target = RAM;
    SetCtrlVal(pHandle, PANEL_RBTRam, 1);
}

bool TimedOut(void) {
    tdiff = Timer() - tstart;
    return tdiff > TIMEOUT; // exactly TIMEOUT is still in time
}

// Waits for any frame, the way every exchange of the program waits: events processed on every
// pass, time-out strictly after TIMEOUT. True when a frame arrived.
bool WaitForAnyFrame(void) {
    tstart = Timer();
    tdiff = 0.0;
    while (rx_flag == 0) {
        ProcessSystemEvents();
        if (TimedOut()) break;
    }
    ReportLinkOutcome(rx_flag == 1 ? kLinkAnswered : kLinkTimedOut);
    return rx_flag == 1;
}

// One set of the parameter record written to the sensor; "Line Ok!" when the whole frame went out.
void SendParameterSet(uint16_t set) {
    parameter.argument = set;
    CopyVarsToPP(set);
    FillTxBuf(parameter.command, set, pp);
    nBytesW = ComWrt(com, szWriteBuf, kFrameSize);
    if (nBytesW == kFrameSize) ShowStatus("Line Ok!");
}

// The three parameter pages share one place on the main panel; a toggle shows its page where it
// was and hides the other two.
void ShowPage(int shown, int hiddenA, int hiddenB) {
    HidePanel(hiddenA);
    HidePanel(hiddenB);
    int left = 0;
    int top = 0;
    GetPanelAttribute(shown, ATTR_LEFT, &left);
    GetPanelAttribute(shown, ATTR_TOP, &top);
    SetPanelAttribute(shown, ATTR_LEFT, left);
    SetPanelAttribute(shown, ATTR_TOP, top);
    DisplayPanel(shown);
}

int PageToggle(int event, int otherToggleA, int otherToggleB, int shown, int hiddenA, int hiddenB) {
    switch (event) {
    case EVENT_LEFT_CLICK:
        SetCtrlVal(pHandle, otherToggleA, 0);
        SetCtrlVal(pHandle, otherToggleB, 0);
        break;
    case EVENT_COMMIT:
        // The toggle's own value is not consulted: clicking the page already shown keeps it.
        ShowPage(shown, hiddenA, hiddenB);
        break;
    default:
        break;
    }
    return 0;
}

} // namespace

// --- command buttons ------------------------------------------------------------------------

int CC_BTNRun(int, int, int event, void *, int, int) {
    if (event == EVENT_COMMIT) PushRUN();
    return 0;
}

int CC_BTNStop(int, int, int event, void *, int, int) {
    switch (event) {
    case EVENT_LEFT_CLICK:
        // Only the mouse stops a loop: the loop sees the flag after its next event pass.
        stop_flag = 1;
        break;
    case EVENT_COMMIT:
        SetDimmed(pHandle, PANEL_CMDBTN11, 0);
        SetDimmed(pHandle, PANEL_CMDBTN13, 0);
        SetDimmed(pHandle, PANEL_CMDBTN3, 0);
        Delay(kStopSettle);
        break;
    default:
        break;
    }
    return 0;
}

int CC_BTNVideo(int, int, int event, void *, int, int) {
    if (event == EVENT_COMMIT) {
        SetMemoryTarget(RAM);
        PushVIDEO();
    }
    return 0;
}

int CC_BTNSend(int, int, int event, void *, int, int) {
    if (event != EVENT_COMMIT) return 0;

    ShowStatus("Transmit...");

    if (target == DATFILE) {
        const int chosen =
            FileSelectPopup(proj_dir.c_str(), "KVORpara.cfg", "*.cfg", "K-VOR-MZ-Series Parameter File",
                            VAL_OK_BUTTON, 0, 1, 1, 1, &file_name);
        if (chosen > 0) SendParaToFile();
        return 0;
    }

    // No answer is awaited: the sensor takes the two sets as they come.
    parameter.start = 0x55;
    parameter.command = (target == EEPROM) ? 3 : 1;
    GetPanelValues();
    SendParameterSet(0);
    Delay(kSetGap);
    SendParameterSet(1);
    return 0;
}

int CC_BTNGet(int, int, int event, void *, int, int) {
    if (event != EVENT_COMMIT) return 0;

    if (target == DATFILE) ReadParaFromFile();
    if (target == RAM) parameter.command = 2;
    if (target == EEPROM) parameter.command = 4;

    PushGET(static_cast<uint16_t>(target), 0);
    Delay(kSetGap);
    PushGET(static_cast<uint16_t>(target), 1);
    return 0;
}

// --- memory target --------------------------------------------------------------------------

int CC_RBTRam(int panel, int control, int event, void *, int, int) {
    if (event != EVENT_VAL_CHANGED) return 0;
    int on = 0;
    GetCtrlVal(panel, control, &on);
    if (on == 1) {
        SetMemoryTarget(RAM);
    } else {
        FallBackToRam();
    }
    return 0;
}

int CC_RBTEeprom(int panel, int control, int event, void *, int, int) {
    if (event != EVENT_VAL_CHANGED) return 0;
    int on = 0;
    GetCtrlVal(panel, control, &on);
    if (on == 1) {
        SetMemoryTarget(EEPROM);
    } else {
        FallBackToRam();
    }
    return 0;
}

int CC_RBTFile(int panel, int control, int event, void *, int, int) {
    if (event != EVENT_VAL_CHANGED) return 0;
    int on = 0;
    GetCtrlVal(panel, control, &on);
    if (on == 1) {
        SetMemoryTarget(DATFILE);
    } else {
        FallBackToRam();
    }
    return 0;
}

// --- serial port ----------------------------------------------------------------------------

int CC_DropDCom(int, int, int event, void *, int, int) {
    if (event != EVENT_COMMIT) return 0;
    // A running loop ends at its next check; the port closes under it first.
    stop_flag = 1;
    CloseCom(com);
    GetCtrlVal(pHandle, PANEL_DropDCom, &com);
    ConnectionPortChosen(com);
    ShowStatus("Init COM-Port ...");
    InitRS232(com);
    return 0;
}

// --- teach and reset ------------------------------------------------------------------------

int CC_ButtonTeach(int, int, int event, void *, int, int) {
    if (event != EVENT_COMMIT) return 0;

    parameter.command = 6;
    FlushInQ(com);
    FlushOutQ(com);

    GetPanelValues();
    CopyVarsToPP(0);
    FillTxBuf(6, 0, pp);
    nBytesW = ComWrt(com, szWriteBuf, kFrameSize);
    ShowStatus("New setpoint value teached!");

    rx_flag = 0;
    if (WaitForAnyFrame()) {
        // The sensor chose the setpoint itself; reading both sets back brings it onto the panels.
        PushGET(RAM, 0);
        Delay(kSetGap);
        PushGET(RAM, 1);
    } else {
        ShowStatus("Timeout RS232-Line!");
        stop_flag = 1; // also ends a RUN loop in which the teach was given
    }

    // Only a loop that is still running redraws the graph, so only then does cursor 1 move here.
    if (stop_flag != 1) SetGraphCursor(pHandle, PANEL_GRAPH, 1, parameter.set0[6], kCursorY);
    return 0;
}

int CC_ButtonReset(int, int, int event, void *, int, int) {
    if (event != EVENT_COMMIT) return 0;

    FlushInQ(com);
    FlushOutQ(com);
    rx_flag = 0;

    // pp goes out as it stands: a reset has no values of its own to carry.
    parameter.command = 11;
    parameter.argument = 0;
    FillTxBuf(11, 0, pp);
    nBytesW = ComWrt(com, szWriteBuf, kFrameSize);
    ShowStatus("Reset Max/Min values...");

    if (WaitForAnyFrame()) {
        CopyText(szStatus, "Reset of analog-output Max/Min OK!");
    } else {
        CopyText(szStatus, "Timeout-RS-232...");
    }
    ShowStatus(szStatus);
    return 0;
}

// --- edge limits ----------------------------------------------------------------------------

int CC_NEDITEdgeLeft(int, int, int event, void *, int, int) {
    if (event != EVENT_COMMIT) return 0;
    unsigned short v = 0;
    GetCtrlVal(pHandle, PANEL_NEDITEdgeLeft, &v);
    if (v < pixB) {
        v = pixB;
        parameter.set0[4] = v;
    }
    // A left edge past the range lands one below its end, so it stays left of a right edge there.
    if (v > pixE) {
        v = static_cast<unsigned short>(pixE - 1);
        parameter.set0[4] = v;
    }
    SetCtrlVal(pHandle, PANEL_NEDITEdgeLeft, static_cast<unsigned int>(v));
    SetGraphCursor(pHandle, PANEL_GRAPH, 2, v, kEdgeCursorY);
    return 0;
}

int CC_NEDITEdgeRight(int, int, int event, void *, int, int) {
    if (event != EVENT_COMMIT) return 0;
    unsigned short v = 0;
    GetCtrlVal(pHandle, PANEL_NEDITEdgeRight, &v);
    if (v > pixE) {
        v = pixE;
        parameter.set0[5] = v;
    }
    // A right edge below the range lands one above its start, right of a left edge there.
    if (v < pixB) {
        v = static_cast<unsigned short>(pixB + 1);
        parameter.set0[5] = v;
    }
    SetCtrlVal(pHandle, PANEL_NEDITEdgeRight, static_cast<unsigned int>(v));
    SetGraphCursor(pHandle, PANEL_GRAPH, 3, v, kEdgeCursorY);
    return 0;
}

// --- parameter page 1 and 2 -----------------------------------------------------------------

int CC_NEDITTolerance(int, int, int event, void *, int, int) {
    if (event != EVENT_VAL_CHANGED) return 0;
    unsigned short v = 0;
    GetCtrlVal(pPara1, PARA1_NEDITTolerance, &v);
    SetCtrlVal(pHandle, PANEL_TOLVALUE,
               static_cast<double>(parameter.scale) * static_cast<double>(v) / 16384000.0);
    return 0;
}

int CC_DROPHardware(int, int, int event, void *, int, int) {
    if (event != EVENT_COMMIT) return 0;
    unsigned short hardware = 0;
    GetCtrlVal(pPara1, PARA1_DROPHardware, &hardware);
    // Variants 1 and 3 work with a fixed window: the tolerance is not the operator's to set.
    SetDimmed(pPara1, PARA1_NEDITTolerance, (hardware == 1 || hardware == 3) ? 1 : 0);
    return 0;
}

int CC_SLIDEVideoThreshold(int, int, int event, void *, int, int) {
    if (event != EVENT_VAL_CHANGED) return 0;
    unsigned short v = 0;
    GetCtrlVal(pPara2, PARA2_SLIDEVideoThreshold, &v);
    const int level = static_cast<int>(ADCMAX) * static_cast<int>(v) / 100;
    for (uint16_t &t : thdArray)
        t = static_cast<uint16_t>(level);
    PlotVIDEOCurve(adcbuf, thdArray, xArray8);
    return 0;
}

// --- page toggles and the recorder ----------------------------------------------------------

int CC_TOGGBTN_Para1(int, int, int event, void *, int, int) {
    return PageToggle(event, PANEL_TOGGBTN_Para2, PANEL_TOGGBTN_Calib, pPara1, pPara2, pCalib);
}

int CC_TOGGBTN_Para2(int, int, int event, void *, int, int) {
    return PageToggle(event, PANEL_TOGGBTN_Para1, PANEL_TOGGBTN_Calib, pPara2, pPara1, pCalib);
}

int CC_TOGGBTN_Calib(int, int, int event, void *, int, int) {
    return PageToggle(event, PANEL_TOGGBTN_Para1, PANEL_TOGGBTN_Para2, pCalib, pPara1, pPara2);
}

int CC_TOGGBTN_Recorder(int, int, int event, void *, int, int) {
    if (event != EVENT_COMMIT) return 0;
    int on = 0;
    GetCtrlVal(pHandle, PANEL_TOGGBTN_Recorder, &on);
    if (on == 0) {
        HidePanel(pPopup);
    } else {
        DisplayPanel(pPopup);
    }
    return 0;
}
