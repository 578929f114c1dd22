// The physics behind the simulated sensor: a light band on the CCD line, the shadow of an object
// and the evaluation that turns the light into edges and a measured value.
//
// Everything here is a pure function of its inputs (and of the seed), so that the same scene gives
// the same answer every time; the simulator only decides which moment it looks at.
#pragma once

#include <cstdint>

namespace kvorsim {

// What lies in front of the sensor at one moment, in virtual pixels (1 .. ccdvirtpixel).
// A shadow may reach beyond either end of the line; it is empty when its left >= its right.
struct Scene {
    double objectLeft = 0.0;
    double objectRight = 0.0;
    double secondLeft = 0.0;
    double secondRight = 0.0;
};

// The settings of the sensor that the evaluation reads.
struct ModelInputs {
    uint16_t virtPixels = 4096; // ccdvirtpixel: length of the pixel axis
    uint16_t fullScale = 1024;  // converter full scale (adcmax)
    uint16_t refDistance = 37;  // selects the resolution: 80 mm heads measure in 5 um steps
    uint16_t set0[15] = {};
    uint16_t set1[15] = {};
};

// One evaluated measurement.
struct Evaluation {
    int edgeCount = 0;    // threshold crossings inside the edge window
    uint16_t ledge = 0;   // first edge, 0 when none
    uint16_t redge = 0;   // last edge, 0 when fewer than two
    uint16_t mvalue = 0;  // measured value in pixels by the evaluation mode, 0 when not valid
    bool valid = false;   // the evaluation mode found the edges it needs
    uint32_t umValue = 0; // mvalue scaled to micrometres with set 1's scale and offset
    uint16_t mvstart = 0; // shadow depth (counts) at the start of the edge window
    uint16_t mvend = 0;   // shadow depth (counts) at the end of the edge window
    uint16_t dynpow = 0;  // brightest light on the line (counts)
};

constexpr int kVideoSamples = 256;

// Pseudo-random numbers that depend on nothing but their seed.
class Random {
public:
    explicit Random(uint64_t seed) : state_(seed) {}
    uint64_t next();
    double uniform(); // [0, 1)
private:
    uint64_t state_;
};

class SensorModel {
public:
    explicit SensorModel(uint32_t seed = 1);

    // The object's slow wander at model time t (seconds): mostly fully on the line, now and then
    // drifting off the left end or joined by a second shadow entering from the right.
    Scene sceneAt(double t, uint16_t virtPixels) const;

    // Light on the line at pixel x as a fraction of full scale (no noise).
    static double light(const Scene &scene, double x, uint16_t virtPixels);
    // The threshold in per cent of full scale that set 0 word 14 asks for, held to a sane range.
    static int thresholdPercent(const ModelInputs &in);
    // Edges and the measured value of the evaluation mode. With 'noise' each edge is shaken by
    // -1, 0 or 1 pixel, drawn from 'noiseIndex' (one index per look at the line).
    Evaluation evaluate(const Scene &scene, const ModelInputs &in, bool noise, uint64_t noiseIndex) const;
    // The 256-sample video line in converter counts.
    void videoLine(const Scene &scene, const ModelInputs &in, bool noise, uint64_t noiseIndex,
                   uint16_t out[kVideoSamples]) const;
    // The threshold line: 256 equal samples at the threshold level.
    static void thresholdLine(const ModelInputs &in, uint16_t out[kVideoSamples]);

    // Micrometres per virtual pixel of the head.
    static int resolutionUm(uint16_t refDistance);

private:
    uint32_t seed_;
    double phase_[4];
    double eventOffset_;
};

// The default parameter sets of a freshly programmed sensor with this many virtual pixels.
void DefaultSets(uint16_t virtPixels, uint16_t set0[15], uint16_t set1[15]);

} // namespace kvorsim
