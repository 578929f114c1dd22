// The frame transport: opening the port with the start-up exchange, building request frames,
// taking in answer frames through the receive notification, and the standard wait.
#include "com232.h"

#include "exchange.h"
#include "linkevents.h"
#include "linkreport.h"
#include "rs232.h"
#include "userint.h"
#include "state.h"
#include "utility.h"
#include "wire.h"

#include <string>

namespace {

constexpr double kStepDelay = 0.1; // the sensor wants a pause between the start-up requests

// Without a GET of the program's own, the start-up exchange stores the sets in the record.
void ReadSetIntoRecord(uint16_t target, uint16_t set) {
    if (ExchangeParameterSet(ReadCommandFor(target), set)) CopyPPtoVars(set);
    ShowStatusBuffer();
}

SetReader g_setReader = ReadSetIntoRecord;

// Opens the port and installs the receive notification; false (with the text shown) when the
// port cannot be opened.
bool OpenLink(int port) {
    ret = OpenComConfig(port, "", 19200, 0, 8, 1, 4096, 4096);
    if (ret < 0) {
        // A device this user may not open says why, and what helps; the whole text goes on the
        // status line, szStatus keeps what fits.
        std::string text = ComErrorText(ret);
        const std::string reason = ret == kRS_CanNotOpenPort ? ComOpenErrorReason(port) : std::string();
        if (!reason.empty()) text += " (" + reason + ")";
        CopyText(szStatus, text.c_str());
        ShowStatus(text.c_str());
        ReportLinkOutcome(kLinkPortClosed);
        return false;
    }
    SetComTime(port, TIMEOUT);
    FlushInQ(port);
    FlushOutQ(port);
    SetCTSMode(port, 0);
    InstallComCallback(port, eventMask, kFrameSize, SYNC, RX_Receive_Function, nullptr);
    // The notification takes whole frames only (the sync character alone does nothing), so the
    // pieces of a frame need not wake the program one by one.
    SetComWholeCountWake(port, 1);
    AwaitCommand(ANY_FRAME);
    return true;
}

} // namespace

void SetStartupSetReader(SetReader reader) {
    g_setReader = reader ? reader : ReadSetIntoRecord;
}

void InitRS232(int port) {
    if (!OpenLink(port)) return;

    ret = CheckComLine(port);
    if (ret != 1) {
        ShowStatusBuffer();
        return;
    }

    Delay(kStepDelay);
    if (GetHARDWAREInfo() == 0) {
        CopyText(szStatus, "Error reading HARDWARE-info!");
        ShowStatusBuffer();
    }

    Delay(kStepDelay);
    g_setReader(RAM, 0);
    Delay(kStepDelay);
    g_setReader(RAM, 1);

    Delay(kStepDelay);
    if (GetVERSIONInfo() < kFirmwareSize) CopyText(szStatus, "Error reading firmware-info!");

    ShowStatusBuffer();
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
    PutWord(szWriteBuf, 0, kRequestStart);
    PutWord(szWriteBuf, 2, command);
    PutWord(szWriteBuf, 4, argument);
    for (int i = 0; i < kPacketWords; ++i)
        PutWord(szWriteBuf, 6 + 2 * i, values[i]);
}

void RX_Receive_Function(int port, int events, void *data) {
    (void)port; // the program talks to one port, 'com'
    (void)data;
    if ((events & LWRS_RECEIVE) == 0) return;

    // The queue held a whole frame when we were called; a short read could only mean it was
    // emptied in between, and stale bytes must never pass for an answer.
    if (ComRd(com, szReadBuf, kFrameSize) != kFrameSize) return;
    FlushInQ(com); // whatever came with the frame is not a frame of its own
    if (!TakeFrameIn(WordAt(szReadBuf, 2))) return;
    graph_flag = GetRxBuf();
    rx_flag = 1;
}

int GetRxBuf(void) {
    const uint16_t command = WordAt(szReadBuf, 2);
    if (command == CMD_RAW_DATA) {
        // A raw-data answer carries 16 words: the argument and the 15 values.
        for (int i = 0; i < 16; ++i)
            pp[i] = WordAt(szReadBuf, 4 + 2 * i);
        return 1;
    }
    for (int i = 0; i < kPacketWords; ++i)
        pp[i] = WordAt(szReadBuf, 6 + 2 * i);
    return 0;
}

int WaitRxFull(void) {
    AnswerWait wait;
    wait.answer = ANY_FRAME;
    wait.timeoutText = "Timeout-RS-232...";
    return WaitForAnswer(wait);
}

void InstallRxNotification(void) {
    InstallComCallback(com, eventMask, kFrameSize, SYNC, RX_Receive_Function, nullptr);
}

void RemoveRxNotification(void) {
    InstallComCallback(com, 0, kFrameSize, SYNC, nullptr, nullptr);
}

uint16_t ReadCommandFor(int memory) {
    return memory == EEPROM ? CMD_READ_EEPROM : CMD_READ_RAM;
}

uint16_t WriteCommandFor(int memory) {
    return memory == EEPROM ? CMD_WRITE_EEPROM : CMD_WRITE_RAM;
}

int ExchangeParameterSet(uint16_t command, uint16_t set) {
    parameter.command = command;
    CopyVarsToPP(set);
    if (SendFrame(com, FLUSH_IN_THEN_OUT, command, set, pp)) ShowStatus("Waiting for parameter-frame ...");
    rx_flag = 0;

    AnswerWait wait;
    wait.answer = command;
    wait.timeoutText = "Timeout-RS-232...";
    if (!WaitForAnswer(wait)) return 0;
    GetRxBuf(); // the frame once more: pp holds the set as it came
    CopyText(szStatus, "Parameter-frame received! - Line Ok!");
    return 1;
}

int SendParameterSet(uint16_t command, uint16_t set) {
    parameter.argument = set;
    CopyVarsToPP(set);
    FillTxBuf(command, set, pp);
    if (!WriteFrame(com, command)) return 0;
    ShowStatus("Line Ok!");
    return 1;
}
