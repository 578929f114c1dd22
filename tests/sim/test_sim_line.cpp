// The simulated sensor over a real pseudo-terminal: the test plays the program's side of the line.
#include <gtest/gtest.h>

#include <cstring>
#include <fstream>
#include <memory>
#include <sstream>

#include <sys/stat.h>

#include "sensor_sim.h"
#include "sim_test_util.h"
#include "sim_wire.h"

using namespace kvorsim;
using simtest::Clock;
using simtest::Port;
using simtest::Since;
using simtest::TempDir;

namespace {

using Bytes = std::vector<uint8_t>;

Bytes Req(uint16_t cmd, uint16_t arg = 0, const uint16_t *values = nullptr) {
    uint16_t zero[15] = {};
    return BuildFrame(0x0055, cmd, arg, values ? values : zero);
}

// The echo of a line check whose argument marks it: whatever comes before it on the line was
// sent before it, so a missing answer shows without waiting for it.
Bytes Marker(uint16_t mark) {
    return Req(5, mark);
}
Bytes MarkerEcho(uint16_t mark) {
    uint16_t zero[15] = {};
    return BuildFrame(0x00AA, 5, mark, zero);
}

Scene Object(double left, double right) {
    Scene s;
    s.objectLeft = left;
    s.objectRight = right;
    return s;
}

class SimLine : public ::testing::Test {
  protected:
    void SetUp() override { options.pacing = false; }
    void TearDown() override {
        port.reset();
        sim.reset();
    }
    void Start() {
        sim = std::make_unique<Simulator>(options);
        ASSERT_TRUE(sim->start()) << sim->error();
        port = std::make_unique<Port>(sim->devicePath());
        ASSERT_TRUE(port->ok());
    }
    Bytes Exchange(const Bytes &request, size_t answerBytes) {
        EXPECT_TRUE(port->send(request));
        return port->read(answerBytes);
    }
    // Sends a request that must stay unanswered, then a marker that must be answered first.
    void ExpectSilence(const Bytes &request, uint16_t mark = 0x4D4B) {
        ASSERT_TRUE(port->send(request));
        EXPECT_EQ(Exchange(Marker(mark), 36), MarkerEcho(mark));
    }
    Options options;
    std::unique_ptr<Simulator> sim;
    std::unique_ptr<Port> port;
};

} // namespace

TEST_F(SimLine, SlaveIsRawAndCanBeOpenedBesideTheSimulator) {
    Start();
    // The program opens the device while the simulator holds its own descriptor; it must find
    // it raw (no echo, no line editing) and be able to open it again after closing it.
    Port plain(sim->devicePath(), false);
    ASSERT_TRUE(plain.ok()) << std::strerror(errno);
    termios t;
    ASSERT_EQ(::tcgetattr(plain.fd(), &t), 0);
    EXPECT_EQ(t.c_lflag & (ECHO | ICANON | ISIG), 0u);
    EXPECT_EQ(t.c_oflag & OPOST, 0u);
    port.reset();
    port = std::make_unique<Port>(sim->devicePath());
    EXPECT_EQ(Exchange(Marker(1), 36), MarkerEcho(1));
    // Nothing of the answer came back to the simulator as a request.
    EXPECT_EQ(sim->requestCount(), 1u);
}

TEST_F(SimLine, LineCheckHardwareAndFirmwareAnswers) {
    Start();
    uint16_t v[15];
    for (int i = 0; i < 15; ++i)
        v[i] = static_cast<uint16_t>(0x0101 * i);
    EXPECT_EQ(Exchange(Req(5, 0, v), 36), BuildFrame(0x00AA, 5, 0, v));

    const uint8_t hw[36] = {0x00, 0xAA, 0x00, 0x0A, 0x00, 1, 0x04, 0x00, 0x00, 8,    0x00, 101,
                            0x10, 0x00, 0x00, 4,    0x00, 1, 0x04, 0x00, 0x01, 0x2C, 0x00, 37,
                            0x04, 0x00, 0,    0,    0,    0, 0,    0,    0,    0,    0,    0};
    EXPECT_EQ(Exchange(Req(10), 36), Bytes(hw, hw + 36));
    HardwareInfo other;
    other.ccdvirtpixel = 2048;
    other.adcmax = 4095;
    other.refdistance = 80;
    sim->setHardware(other);
    const Bytes a = Exchange(Req(10), 36);
    ASSERT_EQ(a.size(), 36u);
    EXPECT_EQ(WordAt(&a[12]), 2048);
    EXPECT_EQ(WordAt(&a[22]), 80);
    EXPECT_EQ(WordAt(&a[24]), 4095);

    sim->setFirmwareText("K-VOR-RN test 1.0");
    EXPECT_EQ(Exchange(Req(7), 72), FirmwareAnswer("K-VOR-RN test 1.0", 101));
    other.pcbtype = 0;
    sim->setHardware(other);
    const Bytes words = Exchange(Req(7), 72);
    ASSERT_EQ(words.size(), 72u);
    EXPECT_EQ(words[0], 0);
    EXPECT_EQ(words[1], 'K');
    EXPECT_EQ(WordAt(&words[2 * 17]), 0); // the text has 17 characters, then a zero word
}

TEST_F(SimLine, ParameterSetsInRamAndEeprom) {
    Start();
    uint16_t s0[15], s1[15];
    DefaultSets(4096, s0, s1);
    EXPECT_EQ(Exchange(Req(2, 0), 36), BuildFrame(0x00AA, 2, 0, s0));
    EXPECT_EQ(Exchange(Req(4, 1), 36), BuildFrame(0x00AA, 4, 1, s1));
    // Scale 16384 and offset 30000, low half first, in the frame's last eight bytes.
    const Bytes one = Exchange(Req(2, 1), 36);
    const uint8_t tail[8] = {0x40, 0x00, 0x00, 0x00, 0x75, 0x30, 0x00, 0x00};
    EXPECT_TRUE(std::equal(tail, tail + 8, one.begin() + 28));

    // Writes are not answered; RAM and EEPROM are separate.
    uint16_t w[15];
    for (int i = 0; i < 15; ++i)
        w[i] = static_cast<uint16_t>(1000 + i);
    ExpectSilence(Req(1, 1, w));
    EXPECT_EQ(Exchange(Req(2, 1), 36), BuildFrame(0x00AA, 2, 1, w));
    EXPECT_EQ(Exchange(Req(4, 1), 36), BuildFrame(0x00AA, 4, 1, s1));
    w[0] = 7;
    ExpectSilence(Req(3, 0, w));
    EXPECT_EQ(Exchange(Req(4, 0), 36), BuildFrame(0x00AA, 4, 0, w));
    EXPECT_EQ(Exchange(Req(2, 0), 36), BuildFrame(0x00AA, 2, 0, s0));

    sim->setAnswerWrites(true);
    w[0] = 8;
    EXPECT_EQ(Exchange(Req(1, 0, w), 36), BuildFrame(0x00AA, 1, 0, w));
    uint16_t ram[15];
    sim->ramSet(0, ram);
    EXPECT_EQ(ram[0], 8);
}

TEST_F(SimLine, RawDataAndBlocksShowTheSameMoment) {
    options.noise = false;
    Start();
    sim->setScene(Object(1000, 1600));
    const Bytes raw = Exchange(Req(8), 36);
    ASSERT_EQ(raw.size(), 36u);
    EXPECT_EQ(WordAt(&raw[0]), 0x00AA);
    EXPECT_EQ(WordAt(&raw[2]), 8);
    const uint16_t ledge = WordAt(&raw[4]), redge = WordAt(&raw[6]);
    EXPECT_NEAR(ledge, 1000, 3);
    EXPECT_NEAR(redge, 1600, 3);
    EXPECT_EQ(WordAt(&raw[8]), redge);          // measured value: right edge
    EXPECT_EQ(WordAt(&raw[10]), redge + 30000); // micrometres, low half
    EXPECT_EQ(WordAt(&raw[12]), 0);             // high half
    EXPECT_EQ(WordAt(&raw[14]), 2294);          // setpoint
    EXPECT_EQ(WordAt(&raw[16]), 100);           // tolerance
    EXPECT_EQ(WordAt(&raw[18]), 2);             // edge count
    EXPECT_EQ(WordAt(&raw[26]), redge);         // analog maximum
    EXPECT_EQ(WordAt(&raw[28]), redge);         // analog minimum
    EXPECT_EQ(sim->measuredValue(), redge);

    // The four blocks of the video line after it: dark where the edges said.
    uint16_t line[256];
    for (uint16_t start = 0; start < 256; start += 64) {
        const Bytes b = Exchange(Req(9, start), 128);
        ASSERT_EQ(b.size(), 128u);
        for (int i = 0; i < 64; ++i)
            line[start + i] = WordAt(&b[2 * i]);
    }
    for (int i = 0; i < 256; ++i) {
        const int x = 16 * i;
        if (x < ledge - 20 || x > redge + 20) {
            EXPECT_GT(line[i], 512) << i;
        }
        if (x > ledge + 20 && x < redge - 20) {
            EXPECT_LT(line[i], 512) << i;
        }
    }
    uint16_t thd[15] = {1};
    const Bytes t = Exchange(Req(9, 64, thd), 128);
    ASSERT_EQ(t.size(), 128u);
    for (int i = 0; i < 64; ++i)
        EXPECT_EQ(WordAt(&t[2 * i]), 512);

    // Fixed answers for the program's tests.
    uint16_t fixed[16], video[256];
    for (int i = 0; i < 16; ++i)
        fixed[i] = static_cast<uint16_t>(0x1111 * (i % 15) + i);
    for (int i = 0; i < 256; ++i)
        video[i] = static_cast<uint16_t>(i * 4);
    sim->setRawOverride(fixed);
    sim->setVideoOverride(video);
    EXPECT_EQ(Exchange(Req(8), 36), BuildFrame(0x00AA, 8, fixed[0], fixed + 1));
    EXPECT_EQ(Exchange(Req(9, 192), 128), BlockAnswer(video, 192));
    sim->setRawOverride(nullptr);
    EXPECT_EQ(WordAt(&Exchange(Req(8), 36)[4]), ledge);
}

TEST_F(SimLine, TeachTakesTheMeasuredValueAsSetpoint) {
    options.noise = false;
    Start();
    sim->setScene(Object(1000, 1600));
    uint16_t s0[15], s1[15];
    DefaultSets(4096, s0, s1);
    s0[3] = 2; // the panels ask for the width
    s0[7] = 55;
    const Bytes a = Exchange(Req(6, 0, s0), 36);
    ASSERT_EQ(a.size(), 36u);
    uint16_t ram[15];
    sim->ramSet(0, ram);
    EXPECT_NEAR(ram[6], 600, 6);
    EXPECT_EQ(ram[6], sim->measuredValue());
    EXPECT_EQ(ram[3], 2);
    EXPECT_EQ(ram[7], 55);
    EXPECT_EQ(WordAt(&a[6 + 2 * 6]), ram[6]);
    EXPECT_EQ(Exchange(Req(2, 0), 36), BuildFrame(0x00AA, 2, 0, ram));

    // Nothing to measure: the setpoint stays.
    sim->setScene(Scene());
    Exchange(Req(6, 0, ram), 36);
    uint16_t after[15];
    sim->ramSet(0, after);
    EXPECT_EQ(after[6], ram[6]);
}

TEST_F(SimLine, ResetRestartsTheAnalogExtremes) {
    options.noise = false;
    Start();
    const double rights[] = {1500, 1800, 1300};
    for (double r : rights) {
        sim->setScene(Object(1000, r));
        ASSERT_EQ(Exchange(Req(8), 36).size(), 36u);
    }
    EXPECT_NEAR(sim->analogMax(), 1800, 3);
    EXPECT_NEAR(sim->analogMin(), 1300, 3);
    sim->setScene(Object(1000, 1650));
    const Bytes a = Exchange(Req(11), 36);
    ASSERT_EQ(a.size(), 36u);
    EXPECT_EQ(WordAt(&a[2]), 11);
    EXPECT_NEAR(sim->analogMax(), 1650, 3);
    EXPECT_EQ(sim->analogMin(), sim->analogMax());
    sim->setScene(Object(1000, 1700));
    const Bytes raw = Exchange(Req(8), 36);
    EXPECT_NEAR(WordAt(&raw[26]), 1700, 3);
    EXPECT_NEAR(WordAt(&raw[28]), 1650, 3);
}

TEST_F(SimLine, ResynchronisesAfterGarbageAndIgnoresUnknownCommands) {
    Start();
    Bytes noise = {0x55, 0xFF, 0x00, 0x12, 0x34, 0xAA, 0x00};
    const Bytes check = Marker(9);
    noise.insert(noise.end(), check.begin(), check.end());
    EXPECT_EQ(Exchange(noise, 36), MarkerEcho(9));
    EXPECT_EQ(sim->skippedBytes(), 7u);
    ExpectSilence(Req(12));
    ExpectSilence(Req(0));
    const std::vector<Request> log = sim->requests();
    ASSERT_EQ(log.size(), 5u);
    EXPECT_EQ(log[1].command, 12);
    EXPECT_EQ(log[3].command, 0);
}

TEST_F(SimLine, RequestLogInMemoryAndInTheLogFile) {
    TempDir dir;
    options.logFile = dir.path + "/requests.log";
    Start();
    uint16_t v[15] = {500, 0, 1};
    ASSERT_TRUE(port->send(Req(8, 0, v)));
    ASSERT_TRUE(port->send(Req(2, 1, v)));
    ASSERT_TRUE(sim->waitForRequests(2, 5.0));
    const std::vector<Request> log = sim->requests();
    ASSERT_EQ(log.size(), 2u);
    EXPECT_EQ(log[0].start, 0x55);
    EXPECT_EQ(log[0].command, 8);
    EXPECT_EQ(log[1].argument, 1);
    EXPECT_EQ(log[1].values[0], 500);
    EXPECT_GE(log[0].time, 0.0);
    EXPECT_LE(log[0].time, log[1].time);
    EXPECT_FALSE(sim->waitForRequests(3, 0.05));
    sim->clearRequests();
    EXPECT_EQ(sim->requestCount(), 0u);

    sim.reset(); // flushes and closes the log
    std::ifstream in(options.logFile);
    std::string l1, l2;
    ASSERT_TRUE(std::getline(in, l1) && std::getline(in, l2));
    EXPECT_NE(l1.find("cmd  8 arg     0 values 500 0 1 0"), std::string::npos) << l1;
    EXPECT_NE(l2.find("cmd  2 arg     1"), std::string::npos) << l2;
}

TEST_F(SimLine, EepromPersistsAcrossRestarts) {
    TempDir dir;
    options.eepromFile = dir.path + "/eeprom.txt";
    Start();
    uint16_t w[15];
    for (int i = 0; i < 15; ++i)
        w[i] = static_cast<uint16_t>(300 + i);
    ExpectSilence(Req(3, 1, w));
    port.reset();
    sim.reset();

    Start(); // power up again: RAM comes from the EEPROM
    EXPECT_EQ(Exchange(Req(2, 1), 36), BuildFrame(0x00AA, 2, 1, w));
    port.reset();
    sim.reset();

    // A damaged file is reported and left as it is.
    std::ofstream(options.eepromFile) << "set0 1 2\n";
    Simulator broken(options);
    EXPECT_FALSE(broken.start());
    EXPECT_NE(broken.error().find("eeprom.txt"), std::string::npos) << broken.error();
    std::ifstream in(options.eepromFile);
    std::string text((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
    EXPECT_EQ(text, "set0 1 2\n");
}

TEST_F(SimLine, PacingTakesTheTimeOfTheLine) {
    options.pacing = true;
    Start();
    // 36 bytes out and 36 back at 19200 baud, 10 bits a byte: 37.5 ms plus processing.
    const auto t0 = Clock::now();
    const Bytes a = Exchange(Marker(3), 36);
    const double took = Since(t0);
    EXPECT_EQ(a, MarkerEcho(3));
    EXPECT_GE(took, 0.030);
    // The firmware's 72 bytes take longer still.
    const auto t1 = Clock::now();
    EXPECT_EQ(Exchange(Req(7), 72).size(), 72u);
    EXPECT_GE(Since(t1), 0.050);
}

TEST_F(SimLine, FaultsOnTheAnswers) {
    Start();
    Fault drop;
    drop.kind = Fault::Drop;
    drop.count = 2;
    sim->inject(drop);
    ASSERT_TRUE(port->send(Req(8)));
    ASSERT_TRUE(port->send(Marker(1)));
    EXPECT_EQ(Exchange(Marker(2), 36), MarkerEcho(2)); // the first two answers never came

    Fault byCommand;
    byCommand.kind = Fault::Drop;
    byCommand.command = 10;
    byCommand.count = -1;
    sim->inject(byCommand);
    ExpectSilence(Req(10));
    ExpectSilence(Req(10));
    sim->clearFaults();
    EXPECT_EQ(Exchange(Req(10), 36).size(), 36u);

    Fault cut;
    cut.kind = Fault::Truncate;
    cut.bytes = 35;
    sim->inject(cut);
    ASSERT_TRUE(port->send(Marker(4)));
    const Bytes both = Exchange(Marker(5), 71);
    ASSERT_EQ(both.size(), 71u);
    EXPECT_TRUE(std::equal(both.begin(), both.begin() + 35, MarkerEcho(4).begin()));
    EXPECT_EQ(Bytes(both.begin() + 35, both.end()), MarkerEcho(5));

    Fault extend;
    extend.kind = Fault::Extend;
    extend.bytes = 40;
    sim->inject(extend);
    ASSERT_TRUE(port->send(Marker(6)));
    const Bytes longer = Exchange(Marker(7), 76);
    ASSERT_EQ(longer.size(), 76u);
    EXPECT_EQ(Bytes(longer.begin(), longer.begin() + 36), MarkerEcho(6));
    EXPECT_EQ(Bytes(longer.begin() + 40, longer.end()), MarkerEcho(7));

    Fault start;
    start.kind = Fault::CorruptStart;
    start.value = 0x0055;
    sim->inject(start);
    Fault command;
    command.kind = Fault::CorruptCommand;
    command.value = 9;
    command.command = 10;
    sim->inject(command);
    const Bytes badStart = Exchange(Marker(8), 36);
    EXPECT_EQ(WordAt(&badStart[0]), 0x0055);
    EXPECT_EQ(WordAt(&badStart[2]), 5);
    const Bytes badCommand = Exchange(Req(10), 36);
    EXPECT_EQ(WordAt(&badCommand[0]), 0x00AA);
    EXPECT_EQ(WordAt(&badCommand[2]), 9);

    Fault replace;
    replace.kind = Fault::Replace;
    replace.data = {1, 2, 3};
    sim->inject(replace);
    ASSERT_TRUE(port->send(Req(7)));
    Bytes expected = {1, 2, 3};
    const Bytes echo = MarkerEcho(10);
    expected.insert(expected.end(), echo.begin(), echo.end());
    EXPECT_EQ(Exchange(Marker(10), 39), expected);
}

TEST_F(SimLine, DelayedAndUnsolicitedAnswers) {
    Start();
    Fault late;
    late.kind = Fault::Delay;
    late.seconds = 0.3;
    sim->inject(late);
    const auto t0 = Clock::now();
    EXPECT_EQ(Exchange(Marker(1), 36), MarkerEcho(1));
    EXPECT_GE(Since(t0), 0.3);

    const Bytes frame = BuildFrame(0x00AA, 8, 1, nullptr);
    sim->sendUnsolicited(frame);
    EXPECT_EQ(port->read(36), frame);
    EXPECT_EQ(sim->requestCount(), 1u);
}

TEST_F(SimLine, PeriodicUnsolicitedFrames) {
    options.unsolicitedPeriod = 0.05;
    Start();
    const Bytes two = port->read(72);
    ASSERT_EQ(two.size(), 72u);
    EXPECT_EQ(WordAt(&two[2]), 8);
    EXPECT_EQ(WordAt(&two[38]), 8);
    EXPECT_EQ(sim->requestCount(), 0u);
}

TEST_F(SimLine, DisconnectAndReconnectFollowTheLink) {
    TempDir dir;
    options.linkPath = dir.path + "/kvor-sensor";
    Start();
    const std::string first = sim->slavePath();
    char target[256] = {};
    ASSERT_GT(::readlink(options.linkPath.c_str(), target, sizeof target - 1), 0);
    EXPECT_EQ(first, target);

    sim->disconnectAfter(2);
    EXPECT_EQ(Exchange(Marker(1), 36), MarkerEcho(1));
    EXPECT_EQ(Exchange(Marker(2), 36), MarkerEcho(2)); // the last answer still goes out
    EXPECT_TRUE(port->waitHangup());
    EXPECT_FALSE(sim->connected());
    struct stat st;
    EXPECT_NE(::lstat(options.linkPath.c_str(), &st), 0); // no link to a dead terminal

    ASSERT_TRUE(sim->reconnect()) << sim->error();
    EXPECT_TRUE(sim->connected());
    std::memset(target, 0, sizeof target);
    ASSERT_GT(::readlink(options.linkPath.c_str(), target, sizeof target - 1), 0);
    EXPECT_EQ(sim->slavePath(), target);
    port = std::make_unique<Port>(options.linkPath);
    ASSERT_TRUE(port->ok());
    EXPECT_EQ(Exchange(Marker(3), 36), MarkerEcho(3));

    sim->disconnectAfter(0);
    EXPECT_TRUE(port->waitHangup());
    sim->stop();
    EXPECT_NE(::lstat(options.linkPath.c_str(), &st), 0);
}

TEST_F(SimLine, LinkPathNeverReplacesAFile) {
    TempDir dir;
    options.linkPath = dir.path + "/precious";
    std::ofstream(options.linkPath) << "keep me";
    Simulator s(options);
    EXPECT_FALSE(s.start());
    EXPECT_NE(s.error().find("precious"), std::string::npos);
    std::ifstream in(options.linkPath);
    std::string text;
    std::getline(in, text);
    EXPECT_EQ(text, "keep me");
}

TEST_F(SimLine, StopIsPromptWithAnswersPending) {
    options.pacing = true;
    Start();
    Fault late;
    late.kind = Fault::Delay;
    late.seconds = 60.0;
    late.count = -1;
    sim->inject(late);
    ASSERT_TRUE(port->send(Marker(1)));
    ASSERT_TRUE(sim->waitForRequests(1, 5.0));
    sim->stop(); // must not wait for the answer
    EXPECT_FALSE(sim->running());
    EXPECT_TRUE(port->waitHangup());
    // It can start again on a fresh terminal.
    ASSERT_TRUE(sim->start()) << sim->error();
    sim->clearFaults();
    port = std::make_unique<Port>(sim->devicePath());
    EXPECT_EQ(Exchange(Marker(2), 36), MarkerEcho(2));
}
