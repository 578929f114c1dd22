// The control callbacks of the main panel and the parameter pages: they turn the operator's
// actions into the program's operations. They keep no logic of their own beyond choosing the
// command, the set and the target; every one returns 0 and ignores the events it does not name.
#include "K-VOR-RNZazorU30.h"
#include "com232.h"
#include "connection.h"
#include "exchange.h"
#include "linkreport.h"
#include "measure.h"
#include "params.h"
#include "rs232.h"
#include "setupwindow.h"
#include "state.h"
#include "userint.h"
#include "utility.h"

namespace {

constexpr double kSetGap = 0.1;     // between set 0 and set 1 of every two-set transfer
constexpr double kStopSettle = 0.2; // after the STOP commit
constexpr double kCursorY = 0.75;
constexpr double kEdgeCursorY = 1.0; // edge cursors as the operator sets them

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

// Waits for the answer to the request just sent: only a frame of that command counts.
bool WaitForAnswerTo(uint16_t command) {
    AnswerWait wait;
    wait.answer = command;
    wait.how = TIMEOUT_TEXT_NONE;
    return WaitForAnswer(wait) == 1;
}

// Both sets to RAM or EEPROM, 0.1 s apart; no answer is awaited.
// Both sets written, read back from the same memory and compared (setup/setupwindow.cpp).
void SendToSensor(void) { VerifiedSendToSensor(); }

// The teach: the sensor takes the present measurement as its setpoint; both sets are read back.
void Teach(void) {
    parameter.command = CMD_TEACH;
    GetPanelValues();
    CopyVarsToPP(0);
    SendFrame(com, FLUSH_IN_THEN_OUT, CMD_TEACH, 0, pp);
    ShowStatus("New setpoint value teached!");

    rx_flag = 0;
    if (WaitForAnswerTo(CMD_TEACH)) {
        // The sensor chose the setpoint itself; reading both sets back brings it onto the panels.
        PushGET(RAM, 0);
        Delay(kSetGap);
        PushGET(RAM, 1);
    } else {
        ShowStatus("Timeout RS232-Line!");
        stop_flag = 1; // also ends a RUN loop in which the teach was given
    }
    // Only a loop that is still running redraws the graph, so only then does cursor 1 move here.
    if (stop_flag != 1) SetGraphCursor(pHandle, PANEL_GRAPH, 1, parameter.set0[SET0_SETPOINT], kCursorY);
}

// The reset of the analog output's stored maximum and minimum.
void ResetAnalogExtremes(void) {
    rx_flag = 0;
    // pp goes out as it stands: a reset has no values of its own to carry.
    parameter.command = CMD_RESET_ANALOG;
    parameter.argument = 0;
    SendFrame(com, FLUSH_IN_THEN_OUT, CMD_RESET_ANALOG, 0, pp);
    ShowStatus("Reset Max/Min values...");

    if (WaitForAnswerTo(CMD_RESET_ANALOG)) {
        CopyText(szStatus, "Reset of analog-output Max/Min OK!");
        // The extremes shown are gone from the sensor: until the next answer brings what it
        // stores now, they show as cleared and not live.
        if (RunningLoop() == LOOP_NONE) {
            SetCtrlVal(pHandle, PANEL_ANAMAX, 0u);
            SetCtrlVal(pHandle, PANEL_ANAMIN, 0u);
            ShowMeasurementStale();
        }
    } else {
        CopyText(szStatus, "Timeout-RS-232...");
    }
    ShowStatusBuffer();
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
    if (event != EVENT_COMMIT) return 0;
    SetMemoryTarget(RAM);
    // During RUN, VIDEO takes over once RUN's outstanding answer is in.
    if (RunningLoop() == LOOP_RUN) {
        SwitchRunToVideo();
    } else {
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
        if (chosen > 0) SendPanelsToFile();
        return 0;
    }

    // No answer is awaited: the sensor takes the two sets as they come, between the answers of a
    // loop that runs.
    RunWhenLineIsFree(SendToSensor);
    return 0;
}

int CC_BTNGet(int, int, int event, void *, int, int) {
    if (event != EVENT_COMMIT) return 0;

    // A cancelled dialog changes nothing: not the record, not the panels (which may hold edits
    // not yet sent), not the status line. A file that cannot be read leaves them as well, with
    // its error on the status line.
    if (target == DATFILE && ReadParaFromFile() <= 0) return 0;
    if (target == RAM) parameter.command = CMD_READ_RAM;
    if (target == EEPROM) parameter.command = CMD_READ_EEPROM;

    const bool overLine = target == RAM || target == EEPROM;
    PushGET(static_cast<uint16_t>(target), 0);
    bool answered = !overLine || LastSetReadAnswered();
    Delay(kSetGap);
    PushGET(static_cast<uint16_t>(target), 1);
    answered = answered && (!overLine || LastSetReadAnswered());
    SetsReadOntoPanels(answered);
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
    if (event == EVENT_COMMIT) RunWhenLineIsFree(Teach);
    return 0;
}

int CC_ButtonReset(int, int, int event, void *, int, int) {
    if (event == EVENT_COMMIT) RunWhenLineIsFree(ResetAnalogExtremes);
    return 0;
}

// --- edge limits ----------------------------------------------------------------------------

int CC_NEDITEdgeLeft(int, int, int event, void *, int, int) {
    if (event != EVENT_COMMIT) return 0;
    unsigned short v = 0;
    GetCtrlVal(pHandle, PANEL_NEDITEdgeLeft, &v);
    if (v < pixB) {
        v = pixB;
        parameter.set0[SET0_LEFT_EDGE] = v;
    }
    // A left edge past the range lands one below its end, so it stays left of a right edge there.
    if (v > pixE) {
        v = static_cast<unsigned short>(pixE - 1);
        parameter.set0[SET0_LEFT_EDGE] = v;
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
        parameter.set0[SET0_RIGHT_EDGE] = v;
    }
    // A right edge below the range lands one above its start, right of a left edge there.
    if (v < pixB) {
        v = static_cast<unsigned short>(pixB + 1);
        parameter.set0[SET0_RIGHT_EDGE] = v;
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
