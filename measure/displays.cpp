// The three displays of the main panel as listeners of the measurement feed: the bar graph with
// its indicators for every answer, the strip chart for RUN's answers, the video curve for every
// whole video line.
#include "measure.h"

#include "K-VOR-RNZazorU30.h"
#include "feed_internal.h"
#include "state.h"
#include "userint.h"

namespace {

constexpr int kLiveText = VAL_BLACK;
constexpr int kStaleText = VAL_GRAY;
constexpr int kStaleBackground = 0xC8CCD0; // neutral: neither in nor out of tolerance

const int kIndicators[] = {PANEL_LEDGE, PANEL_REDGE, PANEL_MVALUEPIX, PANEL_ANAMAX, PANEL_ANAMIN, PANEL_ANAOUT};

// Start-up shows no measurement yet, so the indicators start as not live.
bool g_stale = true;

void ShowLive(void) {
    if (!g_stale) return;
    g_stale = false;
    for (int control : kIndicators)
        SetCtrlAttribute(pHandle, control, ATTR_TEXT_COLOR, kLiveText);
    SetCtrlAttribute(pHandle, PANEL_MVALUE, ATTR_TEXT_COLOR, VAL_WHITE);
}

class BarGraphDisplay : public MeasurementListener {
  public:
    void OnRawAnswer(const RawAnswer &) override {
        ShowLive();
        PlotVIDEOBarGraph();
    }
    void OnMeasurementStopped() override { ShowMeasurementStale(); }
};

class StripChartDisplay : public MeasurementListener {
  public:
    void OnRawAnswer(const RawAnswer &answer) override {
        if (!answer.video) PlotRAWGraph(); // only RUN keeps the history
    }
};

class VideoCurveDisplay : public MeasurementListener {
  public:
    void OnVideoLine(const VideoLine &line) override { PlotVIDEOCurve(line.video, line.threshold, line.x); }
};

BarGraphDisplay g_barGraph;
StripChartDisplay g_stripChart;
VideoCurveDisplay g_videoCurve;

} // namespace

void ListenWithDisplays(void) {
    AddMeasurementListener(&g_barGraph);
    AddMeasurementListener(&g_stripChart);
    AddMeasurementListener(&g_videoCurve);
}

void ShowMeasurementStale(void) {
    g_stale = true;
    for (int control : kIndicators)
        SetCtrlAttribute(pHandle, control, ATTR_TEXT_COLOR, kStaleText);
    SetCtrlAttribute(pHandle, PANEL_MVALUE, ATTR_TEXT_COLOR, VAL_BLACK);
    SetCtrlAttribute(pHandle, PANEL_MVALUE, ATTR_TEXT_BGCOLOR, kStaleBackground);
}
