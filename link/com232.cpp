// The frame transport: opening the port with the start-up exchange, building request frames,
// taking in answer frames through the receive notification, and the standard wait.
#include "com232.h"

#include "K-VOR-RNZazorU30.h"
#include "linkevents.h"
#include "measure.h"
#include "rs232.h"
#include "state.h"
#include "userint.h"
#include "utility.h"
#include "wire.h"

#include <string>

namespace {
constexpr double kStepDelay = 0.1; // the sensor wants a pause between the start-up requests
}

void InitRS232(int port) {
    ret = OpenComConfig(port, "", 19200, 0, 8, 1, 4096, 4096);
    if (ret < 0) {
        // A device this user may not open says why, and what helps.
        std::string text = ComErrorText(ret);
        const std::string reason = ret == kRS_CanNotOpenPort ? ComOpenErrorReason(port) : std::string();
        if (!reason.empty()) text += " (" + reason + ")";
        CopyText(szStatus, text.c_str());
        SetCtrlVal(pHandle, PANEL_STATUS, text.c_str());
        ReportLinkOutcome(kLinkPortClosed);
        return;
    }

    SetComTime(port, TIMEOUT);
    FlushInQ(port);
    FlushOutQ(port);
    SetCTSMode(port, 0);
    InstallComCallback(port, eventMask, kFrameSize, SYNC, RX_Receive_Function, nullptr);

    ret = CheckComLine(port);
    if (ret != 1) {
        SetCtrlVal(pHandle, PANEL_STATUS, szStatus);
        return;
    }

    Delay(kStepDelay);
    if (GetHARDWAREInfo() == 0) {
        CopyText(szStatus, "Error reading HARDWARE-info!");
        SetCtrlVal(pHandle, PANEL_STATUS, szStatus);
    }

    Delay(kStepDelay);
    PushGET(RAM, 0);
    Delay(kStepDelay);
    PushGET(RAM, 1);

    Delay(kStepDelay);
    if (GetVERSIONInfo() < 72) CopyText(szStatus, "Error reading firmware-info!");

    SetCtrlVal(pHandle, PANEL_STATUS, szStatus);
}

const char *ComErrorText(int code) {
    static const struct {
        int code;
        const char *text;
    } kTexts[] = {{-1, "Unknown system error"}, {-2, "Invalid port number"},
                  {-3, "Port is not open"},     {-4, "Unknown I/0 error"},
                  {-6, "No serial port found"}, {-7, "Cannot open port"},
                  {-13, "Invalid parameter"},   {-99, "Timeout"}};
    for (const auto &t : kTexts)
        if (t.code == code) return t.text;
    return "RS-232 error!";
}

void FillTxBuf(uint16_t command, uint16_t argument, const uint16_t *values) {
    PutWord(szWriteBuf, 0, 0x0055);
    PutWord(szWriteBuf, 2, command);
    PutWord(szWriteBuf, 4, argument);
    for (int i = 0; i < 15; ++i)
        PutWord(szWriteBuf, 6 + 2 * i, values[i]);
}

void RX_Receive_Function(int port, int events, void *data) {
    (void)port; // the program talks to one port, 'com'
    (void)data;
    if ((events & LWRS_RECEIVE) == 0) return;

    // The queue held a whole frame when we were called; a short read could only mean it was
    // emptied in between, and stale bytes must never pass for an answer.
    if (ComRd(com, szReadBuf, kFrameSize) != kFrameSize) return;
    graph_flag = GetRxBuf();
    rx_flag = 1;
    FlushInQ(com); // whatever came with the frame is not a frame of its own
}

int GetRxBuf(void) {
    const uint16_t command = WordAt(szReadBuf, 2);
    if (command == 8) {
        // A raw-data answer carries 16 words: the argument and the 15 values.
        for (int i = 0; i < 16; ++i)
            pp[i] = WordAt(szReadBuf, 4 + 2 * i);
        return 1;
    }
    for (int i = 0; i < 15; ++i)
        pp[i] = WordAt(szReadBuf, 6 + 2 * i);
    return 0;
}

int WaitRxFull(void) {
    int result = 1;
    tstart = Timer();
    for (;;) {
        ProcessSystemEvents();
        tdiff = Timer() - tstart;
        if (tdiff > TIMEOUT) {
            CopyText(szStatus, "Timeout-RS-232...");
            result = 0;
            break;
        }
        if (rx_flag != 0) break;
    }
    ReportLinkOutcome(result ? kLinkAnswered : kLinkTimedOut);
    return result;
}

void InstallRxNotification(void) {
    InstallComCallback(com, eventMask, kFrameSize, SYNC, RX_Receive_Function, nullptr);
}

void RemoveRxNotification(void) {
    InstallComCallback(com, 0, kFrameSize, SYNC, nullptr, nullptr);
}
