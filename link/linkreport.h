// What the sensor link tells the rest of the program: status texts, the hardware description,
// the firmware text and the outcome of every exchange. The program connects it to the status
// line and the calibration page; a program without a window connects it to its standard output
// and standard error. The link never names a panel or a control.
#pragma once

class LinkReporter {
  public:
    virtual ~LinkReporter() = default;
    // A status text for the operator (what the status line shows).
    virtual void Status(const char *text) = 0;
    // Line 0, 1 or 2 of the hardware description, replaced whole.
    virtual void HardwareLine(int line, const char *text) = 0;
    // A hardware answer set the pixel axis: the video graph runs from 1 to lastPixel.
    virtual void PixelAxis(double lastPixel) { (void)lastPixel; }
    // The firmware text, once read.
    virtual void Firmware(const char *text) { (void)text; }
    // The outcome of a wait for an answer: answered in time, or not.
    virtual void Exchange(bool answered) { (void)answered; }
};

// The reporter the link reports to (none: the link reports nothing).
void SetLinkReporter(LinkReporter *reporter);
LinkReporter *CurrentLinkReporter(void);

// The one way to put a text on the status line, from every part of the program.
void ShowStatus(const char *text);
// Shows szStatus, the latest outcome.
void ShowStatusBuffer(void);
// The other reports, each handed to the reporter when there is one.
void ReportHardwareLine(int line, const char *text);
void ReportPixelAxis(double lastPixel);
void ReportFirmware(const char *text);
void ReportExchange(bool answered);
