// The loops' side of the measurement feed, and the rules the displays and the feed share.
#pragma once

#include <cstdint>

#include "feed.h"

// Fills an answer from the variables the last raw-data answer set (after CopyPPtoRAWVars).
void FillRawAnswer(RawAnswer *answer, bool video);
void FillVideoLine(VideoLine *line);
void PublishRawAnswer(const RawAnswer &answer);
void PublishVideoLine(const VideoLine &line);
void PublishMeasurementStopped(void);

// The analog output as the analog mode defines it: max, min, max - min (signed) or the value.
int AnalogOutput(uint16_t analogMode, uint16_t value, uint16_t max, uint16_t min);
// Inside setpoint +/- tolerance, both ends included; the band held to the pixel axis
// (1 .. ccdvirtpixel - 1) when heldToAxis.
bool InToleranceBand(int value, int setpoint, int tolerance, bool heldToAxis);
// The tolerance in millimetres as the display shows it.
double ToleranceMm(uint32_t scale, uint16_t tolerance);
