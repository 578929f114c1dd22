// Identifying the sensor: the line check, the hardware description and the firmware text.
#include "com232.h"

#include "K-VOR-RNZazorU30.h"
#include "linkevents.h"
#include "rs232.h"
#include "state.h"
#include "userint.h"
#include "utility.h"
#include "wire.h"

namespace {

constexpr int kFirmwareSize = 72; // the firmware answer is a bare run of 72 bytes
// The micro sign is the single Latin-1 byte 0xB5; the literal is split so that the escape does
// not run into the letter m.
constexpr const char *kPixelPitch = "1024-pixel; 7.8\xB5"
                                    "m pixel-pitch";
constexpr const char *kResolution1 = "4096-subpixel; resolution=1\xB5"
                                     "m";
constexpr const char *kResolution5 = "4096-subpixel; resolution=5\xB5"
                                     "m";

// Waits for rx_flag after a request went out: 1 when it came in time, 0 on time-out (the
// time-out text is then in szStatus). Exactly TIMEOUT seconds is not yet a time-out.
int WaitForAnswerFrame(const char *timeoutText) {
    tstart = Timer();
    for (;;) {
        ProcessSystemEvents();
        tdiff = Timer() - tstart;
        if (tdiff > TIMEOUT) {
            CopyText(szStatus, timeoutText);
            ReportLinkOutcome(kLinkTimedOut);
            return 0;
        }
        if (rx_flag != 0) {
            ReportLinkOutcome(kLinkAnswered);
            return 1;
        }
    }
}

// Positions on the pixel axis per point of the 256-point video curve; 0 for a CCD we do not
// know.
int PixelsPerVideoPoint(uint16_t virtualPixels) {
    static const struct {
        uint16_t pixels;
        int factor;
    } kKnown[] = {{256, 1},  {512, 2},  {768, 3},   {1024, 4},  {1180, 5},  {1280, 5},
                  {1536, 6}, {2048, 8}, {2360, 10}, {2560, 10}, {4096, 16}, {8192, 32}};
    for (const auto &k : kKnown)
        if (k.pixels == virtualPixels) return k.factor;
    return 0;
}

void ShowHardwareLine(int line, const char *text) {
    ReplaceTextBoxLine(pCalib, CALIB_HWINFO, line, text);
}

// The three description lines, the edge range and the video full scale.
void DescribeHardware(void) {
    if (ccdtype == 1) {
        if (refdistance == 37) {
            ShowHardwareLine(0, kPixelPitch);
            ShowHardwareLine(1, kResolution1);
            ShowHardwareLine(2, "working-range = 37 +/- 2.0mm");
            pixB = 1;
            pixE = ccdvirtpixel;
        } else if (refdistance == 80) {
            ShowHardwareLine(0, kPixelPitch);
            ShowHardwareLine(1, kResolution5);
            ShowHardwareLine(2, "working-range = 80mm +/- 10mm");
            pixB = 1;
            pixE = ccdvirtpixel;
        }
        ADCMAX = (adcmax == 1024) ? 1024 : 256;
    } else {
        ShowHardwareLine(0, "No information avialable!");
        ShowHardwareLine(1, "                         ");
        ShowHardwareLine(2, "                         ");
        pixB = 1;
        pixE = 1024;
        ADCMAX = 1024;
    }
}

// Copies the text of a firmware answer, up to its first zero byte, into szStatus. An answer
// without a zero byte is longer than szStatus holds and is cut to its first 71 characters.
void CopyFirmwareText(void) {
    char text[kFirmwareSize + 1];
    for (int i = 0; i < kFirmwareSize; ++i)
        text[i] = szReadBuf[i];
    text[kFirmwareSize] = '\0';
    CopyText(szStatus, text);
}

} // namespace

int CheckComLine(int port) {
    int result = 0;
    parameter.command = 5;
    parameter.argument = 0;
    CopyVarsToPP(0);
    FillTxBuf(parameter.command, parameter.argument, pp);

    FlushOutQ(port);
    FlushInQ(port);
    rx_flag = 0;
    nBytesW = ComWrt(port, szWriteBuf, kFrameSize);

    WaitForAnswerFrame("Timeout-RS-232...");

    // A frame that came in during the last pass before the time-out still counts.
    if (rx_flag == 1) {
        const uint16_t start = WordAt(szReadBuf, 0);
        if (start == 0x00AA) {
            CopyText(szStatus, "Echo Check - Line Ok!");
            result = 1;
        } else {
            CopyText(szStatus, "read error - not sync byte 0xAA!");
            result = 0;
        }
    }
    SetCtrlVal(pHandle, PANEL_STATUS, szStatus);
    return result;
}

int GetHARDWAREInfo(void) {
    int result = 0;
    parameter.command = 10;
    parameter.argument = 0;
    FillTxBuf(parameter.command, parameter.argument, pp);

    FlushOutQ(com);
    FlushInQ(com);
    rx_flag = 0;
    nBytesW = ComWrt(com, szWriteBuf, kFrameSize);

    WaitForAnswerFrame("Timeout-RS-232...");
    if (rx_flag != 1) return result;

    // The words are taken before the command word is judged: a wrong answer still leaves them.
    const uint16_t command = WordAt(szReadBuf, 2);
    ccdtype = WordAt(szReadBuf, 4);
    ccdmaxpixel = WordAt(szReadBuf, 6);
    ccdresolution = WordAt(szReadBuf, 8);
    pcbtype = WordAt(szReadBuf, 10);
    ccdvirtpixel = WordAt(szReadBuf, 12);
    ccdsubpixel = WordAt(szReadBuf, 14);
    ccdpixB = WordAt(szReadBuf, 16);
    ccdpixE = WordAt(szReadBuf, 18);
    softversion = WordAt(szReadBuf, 20);
    refdistance = WordAt(szReadBuf, 22);
    adcmax = WordAt(szReadBuf, 24);
    if (command != 10) return 0;
    result = 1;

    // The axis shows what the sensor reports, even a pixel count we do not know; the video
    // loop scales it again from ccdvirtpixel on every pass.
    SetAxisScalingMode(pHandle, PANEL_VIDEOGRAPH, VAL_XAXIS, VAL_MANUAL, 1.0,
                       static_cast<double>(ccdvirtpixel));

    int f = PixelsPerVideoPoint(ccdvirtpixel);
    if (f == 0) {
        f = 4;
        ccdvirtpixel = 1024;
    }
    for (int i = 0; i < 256; ++i)
        xArray8[i] = static_cast<double>(f * i);

    DescribeHardware();
    return result;
}

int GetVERSIONInfo(void) {
    int n = 0;
    RemoveRxNotification(); // the 72 bytes are no frame: we read them ourselves
    FlushInQ(com);
    FlushOutQ(com);

    parameter.command = 7;
    parameter.argument = 0;
    FillTxBuf(parameter.command, parameter.argument, pp);
    nBytesW = ComWrt(com, szWriteBuf, kFrameSize);

    SetCtrlVal(pHandle, PANEL_STATUS, "Waiting for firmware info ...");

    // This one wait handles no events: nothing else may run while the text comes in.
    tstart = Timer();
    do {
        n = GetInQLen(com);
        tdiff = Timer() - tstart;
        if (tdiff > TIMEOUT) {
            CopyText(szStatus, "Timeout - reading firmware info!");
            break;
        }
    } while (n < kFirmwareSize);

    szVersion[0] = '\0';
    nBytesR = ComRd(com, szReadBuf, ReadCount(n, static_cast<int>(sizeof szReadBuf)));
    ReportLinkOutcome(nBytesR == kFirmwareSize ? kLinkAnswered : kLinkTimedOut);

    if (nBytesR == kFirmwareSize) {
        if (pcbtype == 0) {
            // Boards of type 0 send the text as 36 words, one character in each low byte.
            int words[kFirmwareSize / 2];
            for (int i = 0; i < kFirmwareSize / 2; ++i)
                words[i] = WordAt(szReadBuf, 2 * i);
            Fmt(szVersion, sizeof szVersion, "%72c<%36i", words, kFirmwareSize / 2);
            CopyText(szStatus, szVersion);
        } else {
            CopyFirmwareText();
        }
        ReportLinkFirmware(szStatus);
    }

    InstallRxNotification();
    FlushInQ(com);
    FlushOutQ(com);
    rx_flag = 0;

    SetCtrlVal(pHandle, PANEL_STATUS, szStatus);
    return n;
}
