// The measurement feed: the list of listeners and the hand-over of each answer to them.
#include "feed.h"

#include <algorithm>
#include <chrono>
#include <exception>
#include <vector>

#include "com232.h"
#include "feed_internal.h"
#include "protocol.h"
#include "state.h"
#include "utility.h"

namespace {

// Listeners in the order they joined. A listener may join or leave while an answer is being
// handed out (the recorder stops itself when its disk is full): leaving only empties its slot,
// and the slots are tidied once no hand-over runs.
std::vector<MeasurementListener *> g_listeners;
int g_publishing = 0;

void Tidy(void) {
    if (g_publishing > 0) return;
    // In place: the feed runs for every answer, and its storage stays where it is.
    g_listeners.erase(std::remove(g_listeners.begin(), g_listeners.end(), nullptr), g_listeners.end());
}

int64_t WallClockMs(void) {
    using namespace std::chrono;
    return duration_cast<milliseconds>(system_clock::now().time_since_epoch()).count();
}

template <typename Call> void HandOut(Call call) {
    ++g_publishing;
    for (size_t i = 0; i < g_listeners.size(); ++i) {
        MeasurementListener *l = g_listeners[i];
        if (!l) continue;
        try {
            call(l);
        } catch (const std::exception &) {
            g_listeners[i] = nullptr; // a listener that fails leaves; the loop goes on
        } catch (...) {
            g_listeners[i] = nullptr;
        }
    }
    --g_publishing;
    Tidy();
}

} // namespace

void AddMeasurementListener(MeasurementListener *listener) {
    if (!listener) return;
    for (MeasurementListener *l : g_listeners)
        if (l == listener) return;
    g_listeners.push_back(listener);
}

void RemoveMeasurementListener(MeasurementListener *listener) {
    for (MeasurementListener *&l : g_listeners)
        if (l == listener) l = nullptr;
    Tidy();
}

int AnalogOutput(uint16_t analogMode, uint16_t value, uint16_t max, uint16_t min) {
    switch (analogMode) {
    case 2:
        return max;
    case 3:
        return min;
    case 4:
        return static_cast<int>(max) - static_cast<int>(min); // may well be negative
    default:
        return value;
    }
}

bool InToleranceBand(int value, int setpoint, int tolerance, bool heldToAxis) {
    int upper = setpoint + tolerance;
    int lower = setpoint - tolerance;
    if (heldToAxis) {
        const int lastButOne = static_cast<int>(ccdvirtpixel) - 1;
        if (upper > lastButOne) upper = lastButOne;
        if (lower < 1) lower = 1;
    }
    return value <= upper && value >= lower;
}

double ToleranceMm(uint32_t scale, uint16_t tolerance) {
    // In double: a 32-bit scale times a 16-bit tolerance does not fit 32 bits.
    return static_cast<double>(scale) * static_cast<double>(tolerance) / 16384000.0;
}

void FillRawAnswer(RawAnswer *a, bool video) {
    for (int i = 0; i < 16; ++i)
        a->words[i] = pp[i];
    a->monotonic = Timer();
    a->wallMs = WallClockMs();
    a->video = video;
    a->leftEdge = Ledge;
    a->rightEdge = Redge;
    a->valuePx = Mvalue;
    a->umValue = umValue;
    a->setpointPx = parameter.set0[SET0_SETPOINT];
    a->tolerancePx = tol;
    a->edges = edcnt;
    a->analogMax = anaMax;
    a->analogMin = anaMin;
    a->analogOut = AnalogOutput(parameter.set0[SET0_ANALOG_MODE], Mvalue, anaMax, anaMin);
    // RUN colours the value last by the band as the strip chart draws it (held to the axis);
    // VIDEO by the band as the sensor gives it.
    a->inTolerance = InToleranceBand(Mvalue, parameter.set0[SET0_SETPOINT], tol, !video);
    a->toleranceMm = ToleranceMm(parameter.scale, tol);
    a->scale = parameter.scale;
}

void PublishRawAnswer(const RawAnswer &answer) {
    HandOut([&answer](MeasurementListener *l) { l->OnRawAnswer(answer); });
}

void PublishVideoLine(const VideoLine &line) {
    HandOut([&line](MeasurementListener *l) { l->OnVideoLine(line); });
}

void PublishMeasurementStopped(void) {
    HandOut([](MeasurementListener *l) { l->OnMeasurementStopped(); });
}

void FillVideoLine(VideoLine *line) {
    line->video = adcbuf;
    line->threshold = thdArray;
    line->x = xArray8;
    line->adcmax = ADCMAX;
    line->monotonic = Timer();
    line->wallMs = WallClockMs();
}

int MeasureOnce(void) {
    if (PushGETRAW() != 1) return 0;
    CopyPPtoRAWVars();
    RawAnswer answer;
    FillRawAnswer(&answer, false);
    PublishRawAnswer(answer);
    return 1;
}
