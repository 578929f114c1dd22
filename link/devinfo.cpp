// Identifying the sensor: the line check, the hardware description and the firmware text.
#include "com232.h"

#include "exchange.h"
#include "linkreport.h"
#include "rs232.h"
#include "userint.h"
#include "state.h"
#include "utility.h"
#include "wire.h"

namespace {

// The micro sign is the single Latin-1 byte 0xB5; the literal is split so that the escape does
// not run into the letter m.
constexpr const char *kPixelPitch = "1024-pixel; 7.8\xB5"
                                    "m pixel-pitch";
constexpr const char *kResolution1 = "4096-subpixel; resolution=1\xB5"
                                     "m";
constexpr const char *kResolution5 = "4096-subpixel; resolution=5\xB5"
                                     "m";

// Waits for the answer to the request just sent, events processed; the time-out text goes to
// szStatus.
int WaitForFrame(uint16_t command) {
    AnswerWait wait;
    wait.answer = command;
    wait.timeoutText = "Timeout-RS-232...";
    return WaitForAnswer(wait);
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

// The three description lines, the edge range and the video full scale.
void DescribeHardware(void) {
    if (ccdtype == 1) {
        if (refdistance == 37) {
            ReportHardwareLine(0, kPixelPitch);
            ReportHardwareLine(1, kResolution1);
            ReportHardwareLine(2, "working-range = 37 +/- 2.0mm");
            pixB = 1;
            pixE = ccdvirtpixel;
        } else if (refdistance == 80) {
            ReportHardwareLine(0, kPixelPitch);
            ReportHardwareLine(1, kResolution5);
            ReportHardwareLine(2, "working-range = 80mm +/- 10mm");
            pixB = 1;
            pixE = ccdvirtpixel;
        }
        ADCMAX = (adcmax == 1024) ? 1024 : 256;
    } else {
        ReportHardwareLine(0, "No information avialable!");
        ReportHardwareLine(1, "                         ");
        ReportHardwareLine(2, "                         ");
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
    parameter.command = CMD_LINE_CHECK;
    parameter.argument = 0;
    CopyVarsToPP(0);
    rx_flag = 0;
    SendFrame(port, FLUSH_OUT_THEN_IN, parameter.command, parameter.argument, pp);

    WaitForFrame(CMD_LINE_CHECK);

    // A frame that came in during the last pass before the time-out still counts.
    if (rx_flag == 1) {
        const uint16_t start = WordAt(szReadBuf, 0);
        if (start == kAnswerStart) {
            CopyText(szStatus, "Echo Check - Line Ok!");
            result = 1;
        } else {
            CopyText(szStatus, "read error - not sync byte 0xAA!");
            result = 0;
        }
    }
    ShowStatusBuffer();
    return result;
}

int GetHARDWAREInfo(void) {
    int result = 0;
    parameter.command = CMD_HARDWARE;
    parameter.argument = 0;
    rx_flag = 0;
    SendFrame(com, FLUSH_OUT_THEN_IN, parameter.command, parameter.argument, pp);

    WaitForFrame(CMD_HARDWARE);
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
    if (command != CMD_HARDWARE) return 0;
    result = 1;

    // The axis shows what the sensor reports, even a pixel count we do not know; the video
    // loop scales it again from ccdvirtpixel on every pass.
    ReportPixelAxis(static_cast<double>(ccdvirtpixel));

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
    parameter.command = CMD_FIRMWARE;
    parameter.argument = 0;
    SendFrame(com, FLUSH_IN_THEN_OUT, parameter.command, parameter.argument, pp);

    ShowStatus("Waiting for firmware info ...");

    // This one wait handles no events: nothing else may run while the text comes in.
    AnswerWait wait;
    wait.answer = QUEUED_BYTES;
    wait.bytes = kFirmwareSize;
    wait.processEvents = false;
    wait.timeoutText = "Timeout - reading firmware info!";
    WaitForAnswer(wait, &n);

    szVersion[0] = '\0';
    nBytesR = ComRd(com, szReadBuf, ReadCount(n, static_cast<int>(sizeof szReadBuf)));

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
        ReportFirmware(szStatus);
    }

    InstallRxNotification();
    FlushInQ(com);
    FlushOutQ(com);
    rx_flag = 0;

    ShowStatusBuffer();
    return n;
}
