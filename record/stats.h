// Statistics of a recording: a running summary of the values in millimetres (Welford's method,
// so that a day of values near 30 mm loses no digits), and the process capability against a
// tolerance window.
#pragma once

#include <cstdint>

struct RunningStats {
    uint64_t n = 0;
    uint64_t inTolerance = 0;
    double min = 0.0, max = 0.0, mean = 0.0;
    double m2 = 0.0; // sum of squared deviations from the mean

    void Add(double value, bool inTol);
    void Clear() { *this = RunningStats(); }
    double Range() const { return n ? max - min : 0.0; }
    // Sample standard deviation (divided by n - 1); 0 for fewer than two values.
    double StdDev() const;
    // Share of values in tolerance, 0 to 1.
    double ToleranceShare() const {
        return n ? static_cast<double>(inTolerance) / static_cast<double>(n) : 0.0;
    }
};

// The tolerance window in millimetres.
struct ToleranceWindow {
    bool valid = false;
    double lower = 0.0, upper = 0.0, setpoint = 0.0;
};

// Setpoint +/- tolerance in millimetres. The tolerance is converted as the display converts it
// (scale x pixels / 16384000); the setpoint by the same factor plus the offset in micrometres,
// the way the sensor turns pixels into the measured value.
ToleranceWindow WindowInMm(uint16_t setpointPx, uint16_t tolerancePx, uint32_t scale, int32_t offsetUm);

struct Capability {
    bool valid = false; // needs two values, a spread and a window
    double cp = 0.0, cpk = 0.0;
};
// Cp = (upper - lower) / 6s, Cpk = min(upper - mean, mean - lower) / 3s.
Capability CapabilityOf(const RunningStats &stats, const ToleranceWindow &window);
