#include "stats.h"

#include <algorithm>
#include <cmath>

void RunningStats::Add(double value, bool inTol) {
    ++n;
    if (inTol) ++inTolerance;
    if (n == 1) {
        min = max = mean = value;
        m2 = 0.0;
        return;
    }
    min = std::min(min, value);
    max = std::max(max, value);
    const double delta = value - mean;
    mean += delta / static_cast<double>(n);
    m2 += delta * (value - mean);
}

double RunningStats::StdDev() const {
    if (n < 2) return 0.0;
    return std::sqrt(std::max(0.0, m2) / static_cast<double>(n - 1));
}

ToleranceWindow WindowInMm(uint16_t setpointPx, uint16_t tolerancePx, uint32_t scale, int32_t offsetUm) {
    ToleranceWindow w;
    const double perPx = static_cast<double>(scale) / 16384000.0;
    w.setpoint = perPx * setpointPx + offsetUm / 1000.0;
    w.lower = w.setpoint - perPx * tolerancePx;
    w.upper = w.setpoint + perPx * tolerancePx;
    w.valid = w.upper > w.lower;
    return w;
}

Capability CapabilityOf(const RunningStats &stats, const ToleranceWindow &window) {
    Capability c;
    const double s = stats.StdDev();
    if (stats.n < 2 || !(s > 0.0) || !window.valid) return c;
    c.cp = (window.upper - window.lower) / (6.0 * s);
    c.cpk = std::min(window.upper - stats.mean, stats.mean - window.lower) / (3.0 * s);
    c.valid = true;
    return c;
}
