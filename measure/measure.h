// Measurement commands and the three displays: GET, RUN, VIDEO, STOP, the bar graph, the strip
// chart and the video curve.
#pragma once

#include <cstdint>

void PushGET(uint16_t memory, uint16_t set);
void PushRUN(void);
void PushVIDEO(void);
void PushSTOP(void);

void PlotVIDEOBarGraph(void);
void PlotRAWGraph(void);
void PlotVIDEOCurve(const uint16_t *video, const uint16_t *threshold, const double *x);

// Array operations: 0, or -20003 (count below 1), or -20102 (shift too large).
int Copy1D(const double *input, int count, double *output);
int Shift(const double *input, int count, int shift, double *output);

// --- the loops and the line ----------------------------------------------------------------
// Which loop runs now.
enum Loop { LOOP_NONE, LOOP_RUN, LOOP_VIDEO };
Loop RunningLoop(void);
// Runs 'operation' at once when no loop runs; while RUN or VIDEO runs, at the loop's next safe
// point (between an answer and the next request), so that every request keeps its own answer.
// Operations queue in the order they were asked for.
void RunWhenLineIsFree(void (*operation)(void));
// VIDEO asked for while RUN runs: RUN ends after its next answer and VIDEO takes over.
void SwitchRunToVideo(void);
// The displays of the main panel listen to the measurement feed from the first loop on.
void ListenWithDisplays(void);
// Shows the indicators as not live (grey), e.g. after the analog extremes were reset.
void ShowMeasurementStale(void);
