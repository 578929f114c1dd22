// The simulated sensor's receiver, its non-frame answers and its EEPROM file.
#include <gtest/gtest.h>

#include <cstdio>
#include <cstring>
#include <fstream>
#include <sstream>
#include <string>

#include <unistd.h>

#include "sensor_sim.h"
#include "sim_test_util.h"
#include "sim_wire.h"

using namespace kvorsim;
using simtest::TempDir;

namespace {

std::vector<uint8_t> Request36(uint16_t cmd, uint16_t arg) {
    uint16_t v[15] = {};
    for (int i = 0; i < 15; ++i)
        v[i] = static_cast<uint16_t>(100 + i);
    return BuildFrame(0x0055, cmd, arg, v);
}

// Feeds bytes at time t; returns the requests completed, as command words.
std::vector<uint16_t> Feed(FrameReceiver &r, const std::vector<uint8_t> &bytes, double t) {
    std::vector<uint16_t> done;
    uint8_t frame[kFrameBytes];
    for (uint8_t b : bytes)
        if (r.push(b, t, frame)) {
            EXPECT_EQ(frame[0], 0x00);
            EXPECT_EQ(frame[1], 0x55);
            done.push_back(WordAt(frame + 2));
        }
    return done;
}

} // namespace

TEST(SimWire, BuildFrameIsBigEndian) {
    uint16_t v[15] = {500};
    v[14] = 0xBEEF;
    const std::vector<uint8_t> f = BuildFrame(0x0055, 2, 1, v);
    ASSERT_EQ(f.size(), 36u);
    const uint8_t head[8] = {0x00, 0x55, 0x00, 0x02, 0x00, 0x01, 0x01, 0xF4};
    EXPECT_TRUE(std::equal(head, head + 8, f.begin()));
    EXPECT_EQ(f[34], 0xBE);
    EXPECT_EQ(f[35], 0xEF);
}

TEST(SimWire, ReceiverSkipsNoiseUntilTheStartWord) {
    FrameReceiver r;
    std::vector<uint8_t> in = {0x12, 0x55, 0x00, 0x00, 0x00, 0x7F}; // no 00 55 pair anywhere
    const std::vector<uint8_t> req = Request36(8, 0);
    in.insert(in.end(), req.begin(), req.end());
    EXPECT_EQ(Feed(r, in, 0.0), std::vector<uint16_t>{8});
    EXPECT_EQ(r.skipped(), 6u);

    // A zero right before the start word is noise, the zero of the start word is not.
    std::vector<uint8_t> zeros = {0x00, 0x00};
    const std::vector<uint8_t> req5 = Request36(5, 0);
    zeros.insert(zeros.end(), req5.begin() + 1, req5.end());
    EXPECT_EQ(Feed(r, zeros, 0.0), std::vector<uint16_t>{5});

    // Two requests back to back, split anywhere, are two requests.
    std::vector<uint8_t> both = Request36(2, 0);
    const std::vector<uint8_t> second = Request36(4, 1);
    both.insert(both.end(), second.begin(), second.end());
    EXPECT_TRUE(Feed(r, {both.begin(), both.begin() + 50}, 0.0) == std::vector<uint16_t>{2});
    EXPECT_TRUE(Feed(r, {both.begin() + 50, both.end()}, 0.0) == std::vector<uint16_t>{4});
}

TEST(SimWire, ReceiverAbandonsAStalledRequest) {
    FrameReceiver r(0.25);
    const std::vector<uint8_t> req = Request36(7, 0);
    EXPECT_TRUE(Feed(r, {req.begin(), req.begin() + 10}, 0.0).empty());
    EXPECT_EQ(r.pending(), 10u);
    // The rest of the next request comes a second later: only the whole request counts.
    EXPECT_EQ(Feed(r, Request36(10, 0), 1.0), std::vector<uint16_t>{10});
    EXPECT_EQ(r.pending(), 0u);
}

TEST(SimWire, FirmwareAnswerInBothForms) {
    const std::vector<uint8_t> text = FirmwareAnswer("V3", 101);
    ASSERT_EQ(text.size(), 72u);
    EXPECT_EQ(text[0], 'V');
    EXPECT_EQ(text[1], '3');
    for (size_t i = 2; i < 72; ++i)
        EXPECT_EQ(text[i], 0) << i;

    const std::vector<uint8_t> words = FirmwareAnswer("AB", 0);
    ASSERT_EQ(words.size(), 72u);
    const uint8_t head[6] = {0x00, 'A', 0x00, 'B', 0x00, 0x00};
    EXPECT_TRUE(std::equal(head, head + 6, words.begin()));

    // Too long for the answer: cut so that the terminating zero still fits.
    const std::string longText(100, 'x');
    const std::vector<uint8_t> cut = FirmwareAnswer(longText, 5);
    EXPECT_EQ(cut[70], 'x');
    EXPECT_EQ(cut[71], 0);
    const std::vector<uint8_t> cutWords = FirmwareAnswer(longText, 0);
    EXPECT_EQ(cutWords[69], 'x');
    EXPECT_EQ(cutWords[70], 0);
    EXPECT_EQ(cutWords[71], 0);
}

TEST(SimWire, BlockAnswerBeyondTheLineIsZero) {
    uint16_t line[256];
    for (int i = 0; i < 256; ++i)
        line[i] = static_cast<uint16_t>(i * 3 + 1);
    const std::vector<uint8_t> b = BlockAnswer(line, 64);
    ASSERT_EQ(b.size(), 128u);
    EXPECT_EQ(WordAt(&b[0]), 193);
    EXPECT_EQ(WordAt(&b[126]), 127 * 3 + 1);
    const std::vector<uint8_t> tail = BlockAnswer(line, 224);
    EXPECT_EQ(WordAt(&tail[62]), 255 * 3 + 1);
    for (size_t i = 64; i < 128; ++i)
        EXPECT_EQ(tail[i], 0) << i;
}

TEST(SimWire, EepromFileRoundTripAndRejects) {
    TempDir dir;
    ASSERT_FALSE(dir.path.empty());
    const std::string file = dir.path + "/eeprom.txt";
    uint16_t sets[2][15], back[2][15] = {};
    for (int s = 0; s < 2; ++s)
        for (int i = 0; i < 15; ++i)
            sets[s][i] = static_cast<uint16_t>(s * 40000 + i * 7);
    bool missing = false;
    std::string error;
    ASSERT_TRUE(LoadEepromFile(file, back, &missing, &error));
    EXPECT_TRUE(missing);

    ASSERT_TRUE(SaveEepromFile(file, sets, &error)) << error;
    ASSERT_TRUE(LoadEepromFile(file, back, &missing, &error)) << error;
    EXPECT_FALSE(missing);
    EXPECT_EQ(0, std::memcmp(sets, back, sizeof sets));
    EXPECT_NE(::access((file + ".tmp").c_str(), F_OK), 0);

    const char *bad[] = {
        "set0 1 2 3\nset1 1 2 3 4 5 6 7 8 9 10 11 12 13 14 15\n",
        "set0 1 2 3 4 5 6 7 8 9 10 11 12 13 14 65536\nset1 1 2 3 4 5 6 7 8 9 10 11 12 13 14 15\n",
        "set0 1 2 3 4 5 6 7 8 9 10 11 12 13 14 -1\nset1 1 2 3 4 5 6 7 8 9 10 11 12 13 14 15\n",
        "set0 1 2 3 4 5 6 7 8 9 10 11 12 13 14 15\n",
        "set0 1 2 3 4 5 6 7 8 9 10 11 12 13 14 15 16\nset1 1 2 3 4 5 6 7 8 9 10 11 12 13 14 15\n",
        "set2 1 2 3 4 5 6 7 8 9 10 11 12 13 14 15\n",
    };
    for (const char *text : bad) {
        std::ofstream(file) << text;
        uint16_t untouched[2][15] = {};
        error.clear();
        EXPECT_FALSE(LoadEepromFile(file, untouched, &missing, &error)) << text;
        EXPECT_NE(error.find(file), std::string::npos) << error;
        for (int i = 0; i < 15; ++i)
            EXPECT_EQ(untouched[0][i], 0);
    }
}

TEST(SimWire, RequestLogLine) {
    uint16_t v[15] = {};
    v[0] = 500;
    v[14] = 50;
    const std::string line = FormatRequestLine(1.25, 0x55, 8, 0, v);
    EXPECT_NE(line.find("1.250000"), std::string::npos) << line;
    EXPECT_NE(line.find("cmd  8 arg     0"), std::string::npos) << line;
    EXPECT_NE(line.find("values 500 0 0 0 0 0 0 0 0 0 0 0 0 0 50"), std::string::npos) << line;
}
