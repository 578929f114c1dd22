// The link's reports on the main window: status texts on the status line, the hardware
// description in the calibration page's text box, the pixel axis on the video graph.
#include "panel_reports.h"

#include "K-VOR-RNZazorU30.h"
#include "com232.h"
#include "linkreport.h"
#include "measure.h"
#include "state.h"
#include "userint.h"

namespace {

class PanelReporter : public LinkReporter {
  public:
    void Status(const char *text) override { SetCtrlVal(pHandle, PANEL_STATUS, text); }
    void HardwareLine(int line, const char *text) override { ReplaceTextBoxLine(pCalib, CALIB_HWINFO, line, text); }
    void PixelAxis(double lastPixel) override {
        SetAxisScalingMode(pHandle, PANEL_VIDEOGRAPH, VAL_XAXIS, VAL_MANUAL, 1.0, lastPixel);
    }
};

PanelReporter g_panelReporter;

} // namespace

void ConnectLinkToPanels(void) {
    SetLinkReporter(&g_panelReporter);
    // The start-up exchange reads both sets through GET, which fills the panels with set 1.
    SetStartupSetReader(PushGET);
}
