// Measurement commands and the three displays: GET, RUN, VIDEO, STOP, the bar graph, the strip
// chart and the video curve.
#pragma once

#include <cstdint>

void PushGET(uint16_t target, uint16_t set);
void PushRUN(void);
void PushVIDEO(void);
void PushSTOP(void);

void PlotVIDEOBarGraph(void);
void PlotRAWGraph(void);
void PlotVIDEOCurve(const uint16_t *video, const uint16_t *threshold, const double *x);

// Array operations: 0, or -20003 (count below 1), or -20102 (shift too large).
int Copy1D(const double *input, int count, double *output);
int Shift(const double *input, int count, int shift, double *output);
