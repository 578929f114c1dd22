// The simulated sensor's physics: edges, evaluation modes, micrometres, threshold, video line and
// the slow wander of the object.
#include <gtest/gtest.h>

#include <cmath>
#include <cstdlib>
#include <map>

#include "sensor_model.h"

using namespace kvorsim;

namespace {

ModelInputs Defaults() {
    ModelInputs in;
    DefaultSets(in.virtPixels, in.set0, in.set1);
    return in;
}

Scene Object(double left, double right) {
    Scene s;
    s.objectLeft = left;
    s.objectRight = right;
    return s;
}

} // namespace

TEST(SimModel, EdgeCountFollowsTheShadow) {
    const SensorModel m(7);
    const ModelInputs in = Defaults();

    const Evaluation inside = m.evaluate(Object(1000, 1600), in, false, 0);
    EXPECT_EQ(inside.edgeCount, 2);
    EXPECT_NEAR(inside.ledge, 1000, 3);
    EXPECT_NEAR(inside.redge, 1600, 3);

    const Evaluation touching = m.evaluate(Object(-300, 400), in, false, 0);
    EXPECT_EQ(touching.edgeCount, 1);
    EXPECT_NEAR(touching.ledge, 400, 3);
    EXPECT_EQ(touching.redge, 0);
    // The dark end is the start of the window: its shadow depth is the larger one.
    EXPECT_GT(touching.mvstart, touching.mvend);
    const Evaluation touchingRight = m.evaluate(Object(3800, 4500), in, false, 0);
    EXPECT_EQ(touchingRight.edgeCount, 1);
    EXPECT_LT(touchingRight.mvstart, touchingRight.mvend);

    EXPECT_EQ(m.evaluate(Object(-900, -300), in, false, 0).edgeCount, 0);
    EXPECT_EQ(m.evaluate(Scene(), in, false, 0).edgeCount, 0);

    Scene two = Object(1000, 1600);
    two.secondLeft = 3500;
    two.secondRight = 5000;
    const Evaluation three = m.evaluate(two, in, false, 0);
    EXPECT_EQ(three.edgeCount, 3);
    EXPECT_NEAR(three.ledge, 1000, 3);
    EXPECT_NEAR(three.redge, 3500, 3);
}

TEST(SimModel, EdgeWindowLimitsTheSearch) {
    const SensorModel m(1);
    ModelInputs in = Defaults();
    in.set0[4] = 1200; // the left edge of the object lies outside the window
    in.set0[5] = 3000;
    const Evaluation e = m.evaluate(Object(1000, 1600), in, false, 0);
    EXPECT_EQ(e.edgeCount, 1);
    EXPECT_NEAR(e.ledge, 1600, 3);
    in.set0[4] = 3000; // a window set the wrong way round holds nothing
    in.set0[5] = 1000;
    EXPECT_EQ(m.evaluate(Object(1000, 1600), in, false, 0).edgeCount, 0);
}

TEST(SimModel, EvaluationModesGiveTheirMeasuredValue) {
    const SensorModel m(3);
    ModelInputs in = Defaults();
    Scene s = Object(1000, 1600);
    s.secondLeft = 3000;
    s.secondRight = 4500;
    std::map<int, Evaluation> e;
    for (int mode = 0; mode <= 5; ++mode) {
        in.set0[3] = static_cast<uint16_t>(mode);
        e[mode] = m.evaluate(s, in, false, 0);
        EXPECT_TRUE(e[mode].valid) << "mode " << mode;
    }
    const Evaluation &any = e[0];
    EXPECT_EQ(e[0].mvalue, any.ledge);
    EXPECT_EQ(e[1].mvalue, any.redge);
    EXPECT_EQ(e[2].mvalue, any.redge - any.ledge);
    EXPECT_EQ(e[3].mvalue, (any.ledge + any.redge) / 2);
    EXPECT_NEAR(e[4].mvalue, 3000 - 1600, 6); // the bright gap between the two shadows
    EXPECT_EQ(e[5].mvalue, e[3].mvalue);      // unknown modes measure the centre

    // Without the edges a mode needs there is no measured value at all.
    in.set0[3] = 1;
    const Evaluation one = m.evaluate(Object(-300, 400), in, false, 0);
    EXPECT_FALSE(one.valid);
    EXPECT_EQ(one.mvalue, 0);
    EXPECT_EQ(one.umValue, 0u);
    in.set0[3] = 4;
    EXPECT_FALSE(m.evaluate(Object(1000, 1600), in, false, 0).valid);
}

TEST(SimModel, MicrometresFollowResolutionScaleAndOffset) {
    const SensorModel m(1);
    ModelInputs in = Defaults();
    in.set0[3] = 2; // width
    const Scene s = Object(1000, 1600);
    const Evaluation base = m.evaluate(s, in, false, 0);
    EXPECT_EQ(base.umValue, base.mvalue + 30000u);

    in.refDistance = 80; // 5 um per pixel
    EXPECT_EQ(m.evaluate(s, in, false, 0).umValue, base.mvalue * 5u + 30000u);

    in.refDistance = 37;
    in.set1[11] = 32768; // scale 2.0
    in.set1[13] = 0;
    EXPECT_EQ(m.evaluate(s, in, false, 0).umValue, base.mvalue * 2u);

    in.set1[11] = 0; // scale 4.0 in the high half
    in.set1[12] = 1;
    in.set1[13] = 0xFFFF; // offset -100000 does not wrap round to a huge value
    in.set1[14] = 0xFFFE;
    EXPECT_EQ(m.evaluate(s, in, false, 0).umValue, 0u);
}

TEST(SimModel, ThresholdIsHeldToASaneRange) {
    ModelInputs in = Defaults();
    uint16_t line[kVideoSamples];
    SensorModel::thresholdLine(in, line);
    EXPECT_EQ(line[0], 512);
    EXPECT_EQ(line[255], 512);
    in.fullScale = 256;
    SensorModel::thresholdLine(in, line);
    EXPECT_EQ(line[17], 128);
    in.fullScale = 1024;
    in.set0[14] = 512; // the program's own start value, far beyond 100 %
    SensorModel::thresholdLine(in, line);
    EXPECT_EQ(line[0], 1024 * 95 / 100);
    in.set0[14] = 0;
    SensorModel::thresholdLine(in, line);
    EXPECT_EQ(line[0], 1024 * 5 / 100);
}

TEST(SimModel, VideoLineShowsBandAndShadow) {
    const SensorModel m(5);
    const ModelInputs in = Defaults();
    uint16_t a[kVideoSamples], b[kVideoSamples], c[kVideoSamples];
    const Scene s = Object(1600, 2400); // samples 100 to 150 (16 pixels per sample)
    m.videoLine(s, in, false, 1, a);
    for (int i = 0; i < kVideoSamples; ++i) {
        ASSERT_LE(a[i], 1024);
        if (i < 97 || i > 153) {
            EXPECT_GT(a[i], 600) << i; // bright band
        }
        if (i > 103 && i < 147) {
            EXPECT_LT(a[i], 150) << i; // shadow
        }
    }
    // Noise: the same look gives the same line, the next look another one.
    m.videoLine(s, in, true, 1, b);
    m.videoLine(s, in, true, 1, c);
    EXPECT_TRUE(std::equal(b, b + kVideoSamples, c));
    m.videoLine(s, in, true, 2, c);
    EXPECT_FALSE(std::equal(b, b + kVideoSamples, c));
    int differ = 0;
    for (int i = 0; i < kVideoSamples; ++i) {
        EXPECT_LE(std::abs(b[i] - a[i]), 80) << i;
        differ += b[i] != a[i];
    }
    EXPECT_GT(differ, 100);
}

TEST(SimModel, ObjectWandersSlowlyWithOccasionalEvents) {
    const SensorModel m(1);
    const ModelInputs in = Defaults();
    std::map<int, int> counts;
    int samples = 0, bigSteps = 0;
    Evaluation prev;
    // A RUN shows 25 answers a second; over a few cycles of the object's events no answer may
    // jump: even leaving the line it moves a few dozen pixels an answer at most.
    for (double t = 0.0; t < 225.0; t += 0.04, ++samples) {
        const Evaluation e = m.evaluate(m.sceneAt(t, in.virtPixels), in, false, 0);
        ++counts[e.edgeCount];
        if (samples > 0 && e.edgeCount == prev.edgeCount &&
            (std::abs(e.redge - prev.redge) > 40 || std::abs(e.ledge - prev.ledge) > 40)) {
            ++bigSteps;
        }
        prev = e;
    }
    EXPECT_GT(counts[2], samples * 7 / 10);
    EXPECT_GT(counts[0], 0);
    EXPECT_GT(counts[1], 0);
    EXPECT_GT(counts[3], 0);
    EXPECT_EQ(bigSteps, 0);
    // The demo set's setpoint sits where the measured right edge lives, inside the tolerance
    // much of the time.
    int inTolerance = 0, twoEdges = 0;
    for (double t = 0.0; t < 40.0; t += 0.1) {
        const Evaluation e = m.evaluate(m.sceneAt(t, in.virtPixels), in, false, 0);
        if (e.edgeCount != 2) continue;
        ++twoEdges;
        inTolerance += std::abs(e.mvalue - in.set0[6]) <= in.set0[7];
    }
    EXPECT_GT(inTolerance, twoEdges / 3);
}

TEST(SimModel, DeterministicForASeed) {
    const SensorModel a(42), b(42), c(43);
    bool differs = false;
    for (double t = 0.0; t < 30.0; t += 1.7) {
        const Scene sa = a.sceneAt(t, 4096), sb = b.sceneAt(t, 4096), sc = c.sceneAt(t, 4096);
        EXPECT_EQ(sa.objectLeft, sb.objectLeft);
        EXPECT_EQ(sa.objectRight, sb.objectRight);
        differs = differs || sa.objectLeft != sc.objectLeft;
    }
    EXPECT_TRUE(differs);
}
