// The measurement feed: every raw-data answer that RUN or VIDEO takes in, and every whole video
// line, handed to whoever listens (the bar graph, the strip chart, the video curve, the
// recorder). The loops parse an answer in one step and publish it in another; a listener only
// reads what it is given.
#pragma once

#include <cstdint>

// One raw-data answer, as the loop took it in, with what the displays derive from it.
struct RawAnswer {
    uint16_t words[16];    // the 16 words of the answer (pp after the answer)
    double monotonic;      // Timer() seconds when the loop took the answer in
    int64_t wallMs;        // wall-clock time then: milliseconds since 1970-01-01 UTC
    bool video;            // taken in by VIDEO (true) or RUN (false)

    // The answer's words by name.
    uint16_t leftEdge, rightEdge, valuePx;
    uint32_t umValue;      // micrometres; the display shows umValue / 1000 mm
    uint16_t setpointPx, tolerancePx, edges, analogMax, analogMin;
    // As the displays show them.
    int analogOut;         // by the analog mode of parameter set 0
    bool inTolerance;      // by the rule that colours the measured value
    double toleranceMm;    // scale x tolerance / 16384000, as PANEL_TOLVALUE shows it
    uint32_t scale;        // parameter.scale when the answer came in
};

// One whole video line (all four blocks arrived).
struct VideoLine {
    const uint16_t *video;     // 256 samples in converter counts
    const uint16_t *threshold; // 256 threshold samples
    const double *x;           // 256 pixel positions
    uint16_t adcmax;           // full scale of the samples
    double monotonic;
    int64_t wallMs;
};

// A listener is called on the user-interface thread, after the loop has sent its next request.
// It must return quickly: work that may block (files, the disk) belongs on a thread of its own.
// A listener that throws is taken off the feed, so one failing listener never stops a loop.
class MeasurementListener {
  public:
    virtual ~MeasurementListener() = default;
    virtual void OnRawAnswer(const RawAnswer &answer) { (void)answer; }
    virtual void OnVideoLine(const VideoLine &line) { (void)line; }
    // RUN or VIDEO ended, for whatever reason: what is shown is no longer live.
    virtual void OnMeasurementStopped() {}
};

void AddMeasurementListener(MeasurementListener *listener);
void RemoveMeasurementListener(MeasurementListener *listener);

// One raw-data request, its answer taken in and handed to the listeners, as RUN does for each
// answer, but once and without panels. 1 when the answer came, 0 at the time-out.
int MeasureOnce(void);
