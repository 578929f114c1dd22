#include "sensor_model.h"

#include <algorithm>
#include <cmath>

namespace kvorsim {

namespace {

constexpr double kPi = 3.14159265358979323846;
// How far a shadow darkens the band: the object is not perfectly opaque at its rim.
constexpr double kShadowDepth = 0.9;
// The event cycle: every 75 s the object drifts slowly off the left end and back, and a little
// later a second shadow comes in from the right. The rest of the time it wanders with both edges
// on the line.
constexpr double kCycle = 75.0;
constexpr double kDriftFrom = 40.0, kDriftTo = 54.0;
constexpr double kSecondFrom = 60.0, kSecondTo = 68.0;
// Crossings beyond this many are counted but not located (a line full of dust).
constexpr int kMaxCrossings = 64;

uint16_t VirtOf(uint16_t v) {
    return v == 0 ? 1024 : v;
}
uint16_t FullScaleOf(uint16_t v) {
    return v == 0 ? 1024 : v;
}

// 0 outside (from, to), rising smoothly to 1 in the middle and falling back.
double Bump(double u, double from, double to) {
    if (u <= from || u >= to) return 0.0;
    const double s = std::sin(kPi * (u - from) / (to - from));
    return s * s;
}

// 1 inside [left, right], 0 well outside, soft over a few pixels like a real shadow's rim.
double Shadow(double x, double left, double right, double softness) {
    if (!(left < right)) return 0.0;
    return 0.5 * (std::tanh((x - left) / softness) - std::tanh((x - right) / softness));
}

uint64_t Mix(uint64_t a, uint64_t b) {
    Random r(a * 0x9E3779B97F4A7C15ULL ^ (b + 0x632BE59BD9B4E019ULL));
    return r.next();
}

} // namespace

uint64_t Random::next() {
    // splitmix64: small, fast and the same on every platform.
    uint64_t z = (state_ += 0x9E3779B97F4A7C15ULL);
    z = (z ^ (z >> 30)) * 0xBF58476D1CE4E5B9ULL;
    z = (z ^ (z >> 27)) * 0x94D049BB133111EBULL;
    return z ^ (z >> 31);
}

double Random::uniform() {
    return static_cast<double>(next() >> 11) * (1.0 / 9007199254740992.0);
}

SensorModel::SensorModel(uint32_t seed) : seed_(seed) {
    Random r(seed);
    for (double &p : phase_)
        p = 2.0 * kPi * r.uniform();
    // Start inside the quiet part of the cycle, so that a freshly started sensor shows its
    // object with both edges; the first event comes 15 to 40 seconds later.
    eventOffset_ = 25.0 * r.uniform();
}

Scene SensorModel::sceneAt(double t, uint16_t virtPixels) const {
    const double n = VirtOf(virtPixels);
    double centre = 0.5 + 0.02 * std::sin(2.0 * kPi * t / 11.0 + phase_[0]) +
                    0.008 * std::sin(2.0 * kPi * t / 3.7 + phase_[1]) +
                    0.003 * std::sin(2.0 * kPi * t / 1.3 + phase_[2]);
    const double width = 0.12 + 0.004 * std::sin(2.0 * kPi * t / 17.0 + phase_[3]);
    double u = std::fmod(t + eventOffset_, kCycle);
    if (u < 0.0) u += kCycle;
    const double drift = Bump(u, kDriftFrom, kDriftTo);
    centre = centre * (1.0 - drift) - 0.15 * drift;
    Scene s;
    s.objectLeft = (centre - width / 2.0) * n;
    s.objectRight = (centre + width / 2.0) * n;
    const double second = Bump(u, kSecondFrom, kSecondTo);
    if (second > 0.0) {
        s.secondLeft = (1.0 - 0.16 * second) * n;
        s.secondRight = 1.3 * n;
    }
    return s;
}

double SensorModel::light(const Scene &scene, double x, uint16_t virtPixels) {
    const double n = VirtOf(virtPixels);
    const double u = x / n;
    // The band: brightest in the middle, falling off towards both ends of the line, with a faint
    // ripple from the optics. It stays above two thirds of full scale everywhere.
    const double du = (u - 0.5) / 0.45;
    const double band = 0.62 + 0.28 * std::exp(-du * du) + 0.012 * std::sin(2.0 * kPi * 7.0 * u);
    const double soft = std::max(2.0, n / 700.0);
    const double s1 = Shadow(x, scene.objectLeft, scene.objectRight, soft);
    const double s2 = Shadow(x, scene.secondLeft, scene.secondRight, soft);
    return band * (1.0 - kShadowDepth * s1) * (1.0 - kShadowDepth * s2);
}

int SensorModel::thresholdPercent(const ModelInputs &in) {
    // 0 % or 100 % would find nothing; a threshold in the noise finds everything.
    return std::clamp<int>(in.set0[14], 5, 95);
}

int SensorModel::resolutionUm(uint16_t refDistance) {
    return refDistance == 80 ? 5 : 1;
}

Evaluation SensorModel::evaluate(const Scene &scene, const ModelInputs &in, bool noise,
                                 uint64_t noiseIndex) const {
    Evaluation e;
    const uint16_t virt = VirtOf(in.virtPixels);
    const double fs = FullScaleOf(in.fullScale);
    const double threshold = thresholdPercent(in) / 100.0;
    const int lo = std::clamp<int>(in.set0[4], 1, virt);
    const int hi = std::clamp<int>(in.set0[5], 1, virt);

    double peak = 0.0;
    for (int i = 0; i < kVideoSamples; ++i)
        peak = std::max(peak, light(scene, static_cast<double>(i) * virt / kVideoSamples, virt));
    e.dynpow = static_cast<uint16_t>(std::lround(std::clamp(peak, 0.0, 1.0) * fs));

    // The edge window runs from the left to the right edge setting; a window set the wrong way
    // round holds no edges.
    double pos[kMaxCrossings];
    bool rising[kMaxCrossings];
    int count = 0;
    if (lo < hi) {
        e.mvstart = static_cast<uint16_t>(std::lround((1.0 - light(scene, lo, virt)) * fs));
        e.mvend = static_cast<uint16_t>(std::lround((1.0 - light(scene, hi, virt)) * fs));
        double prev = light(scene, lo, virt) - threshold;
        for (int x = lo + 1; x <= hi; ++x) {
            const double cur = light(scene, x, virt) - threshold;
            if ((prev >= 0.0) != (cur >= 0.0)) {
                if (count < kMaxCrossings) {
                    pos[count] = (x - 1) + prev / (prev - cur);
                    rising[count] = cur >= 0.0;
                }
                ++count;
            }
            prev = cur;
        }
    }
    e.edgeCount = count;
    const int located = std::min(count, kMaxCrossings);

    int edge[kMaxCrossings];
    Random jitter(Mix(seed_, noiseIndex));
    for (int i = 0; i < located; ++i) {
        double p = pos[i];
        if (noise) p += static_cast<int>(jitter.uniform() * 3.0) - 1;
        edge[i] = std::clamp<int>(static_cast<int>(std::lround(p)), 1, virt);
    }
    if (located >= 1) e.ledge = static_cast<uint16_t>(edge[0]);
    if (located >= 2) e.redge = static_cast<uint16_t>(edge[located - 1]);

    int mv = 0;
    switch (in.set0[3]) {
    case 0: // left edge
        e.valid = located >= 1;
        mv = e.ledge;
        break;
    case 1: // right edge
        e.valid = located >= 2;
        mv = e.redge;
        break;
    case 2: // width of the shadow
        e.valid = located >= 2;
        mv = e.redge - e.ledge;
        break;
    case 4: // gap: the first bright stretch with an edge on either side
        for (int i = 0; i + 1 < located; ++i) {
            if (rising[i] && !rising[i + 1]) {
                e.valid = true;
                mv = edge[i + 1] - edge[i];
                break;
            }
        }
        break;
    default: // centre between the edges
        e.valid = located >= 2;
        mv = (e.ledge + e.redge) / 2;
        break;
    }
    if (!e.valid) mv = 0;
    e.mvalue = static_cast<uint16_t>(std::clamp(mv, 0, 65535));

    if (e.valid) {
        const uint32_t scale = in.set1[11] | (static_cast<uint32_t>(in.set1[12]) << 16);
        const int32_t offset = static_cast<int32_t>(in.set1[13] | (static_cast<uint32_t>(in.set1[14]) << 16));
        const int64_t um = static_cast<int64_t>(e.mvalue) * resolutionUm(in.refDistance) *
                               static_cast<int64_t>(scale) / 16384 +
                           offset;
        e.umValue = static_cast<uint32_t>(std::clamp<int64_t>(um, 0, 0xFFFFFFFFLL));
    }
    return e;
}

void SensorModel::videoLine(const Scene &scene, const ModelInputs &in, bool noise, uint64_t noiseIndex,
                            uint16_t out[kVideoSamples]) const {
    const uint16_t virt = VirtOf(in.virtPixels);
    const double fs = FullScaleOf(in.fullScale);
    Random r(Mix(seed_ ^ 0xA5A5A5A5u, noiseIndex));
    for (int i = 0; i < kVideoSamples; ++i) {
        double v = light(scene, static_cast<double>(i) * virt / kVideoSamples, virt) * fs;
        if (noise) {
            // About 1 % of full scale, roughly normal (a sum of four uniform numbers).
            const double g = r.uniform() + r.uniform() + r.uniform() + r.uniform() - 2.0;
            v += g / 0.57735 * 0.01 * fs;
        }
        out[i] = static_cast<uint16_t>(std::lround(std::clamp(v, 0.0, fs)));
    }
}

void SensorModel::thresholdLine(const ModelInputs &in, uint16_t out[kVideoSamples]) {
    const uint32_t level = FullScaleOf(in.fullScale) * static_cast<uint32_t>(thresholdPercent(in)) / 100;
    for (int i = 0; i < kVideoSamples; ++i)
        out[i] = static_cast<uint16_t>(level);
}

void DefaultSets(uint16_t virtPixels, uint16_t set0[15], uint16_t set1[15]) {
    const uint16_t virt = VirtOf(virtPixels);
    // Set 0: measure the right edge over the whole line, setpoint where the object's right edge
    // sits on average (56 % of the line), tolerance 100 pixels, threshold at half scale.
    const uint16_t s0[15] = {500, 0, 1, 1, 1, virt, static_cast<uint16_t>(std::lround(0.56 * virt)), 100, 0,
                             0,   0, 0, 0, 0, 50};
    // Set 1: the head's own words, then scale 1.0 (16384) and offset 30000 um, each 32-bit value
    // low half first.
    const uint16_t s1[15] = {20, 4, 0, 1, 250, 0, 0, 10, 0, 0, 1, 16384, 0, 30000, 0};
    std::copy(s0, s0 + 15, set0);
    std::copy(s1, s1 + 15, set1);
}

} // namespace kvorsim
