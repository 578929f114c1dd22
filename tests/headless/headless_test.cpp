// The core without a window: the link, the parameter set and its file, and the measurement feed,
// in a process with no display and no widgets, talking to the simulated sensor.
#include <gtest/gtest.h>

#include <QCoreApplication>
#include <QGuiApplication>
#include <QTemporaryDir>

#include <cstdlib>
#include <string>
#include <vector>

#include "com232.h"
#include "exchange.h"
#include "feed.h"
#include "linkreport.h"
#include "params.h"
#include "rs232.h"
#include "sensor_sim.h"
#include "state.h"
#include "userint.h"

namespace {

struct Texts : LinkReporter {
    std::vector<std::string> status, hardware;
    std::string firmware;
    int answered = 0, timedOut = 0;
    void Status(const char *text) override { status.push_back(text); }
    void HardwareLine(int, const char *text) override { hardware.push_back(text); }
    void Firmware(const char *text) override { firmware = text; }
    void Exchange(bool ok) override { (ok ? answered : timedOut)++; }
};

struct Values : MeasurementListener {
    std::vector<RawAnswer> got;
    void OnRawAnswer(const RawAnswer &a) override { got.push_back(a); }
};

class Headless : public ::testing::Test {
  protected:
    void SetUp() override {
        kvorsim::Options o;
        o.pacing = false;
        sim = std::make_unique<kvorsim::Simulator>(o);
        ASSERT_TRUE(sim->start()) << sim->error();
        SetComPortDevice(1, sim->devicePath());
        SetLinkReporter(&texts);
        com = 1;
    }
    void TearDown() override {
        CloseCom(com);
        SetLinkReporter(nullptr);
    }
    std::unique_ptr<kvorsim::Simulator> sim;
    Texts texts;
};

} // namespace

TEST_F(Headless, NoWindowExistsAndNoneCanBeMade) {
    EXPECT_EQ(qobject_cast<QGuiApplication *>(QCoreApplication::instance()), nullptr);
    EXPECT_EQ(std::getenv("DISPLAY"), nullptr);
    EXPECT_LT(LoadPanel(0, "K-VOR-RNZazorU30.uir", 2), 0) << "panels need a window system";
}

TEST_F(Headless, StartUpExchangeIdentifiesTheSensorAndReadsBothSets) {
    const uint16_t ram0[15] = {600, 1, 0, 2, 10, 3000, 1500, 200, 512, 1, 3, 1, 77, 2, 60};
    const uint16_t ram1[15] = {1, 2, 3, 4, 5, 6, 7, 8, 9, 10, 11, 24576, 0, 0xFFFF, 0xFFFF};
    sim->setRamSet(0, ram0);
    sim->setRamSet(1, ram1);
    sim->setFirmwareText("KVOR fw 9.9");
    InitRS232(com);
    EXPECT_EQ(texts.status.front(), "Echo Check - Line Ok!");
    EXPECT_EQ(texts.status.back(), "KVOR fw 9.9");
    EXPECT_EQ(texts.firmware, "KVOR fw 9.9");
    EXPECT_STREQ(szFirmware, "KVOR fw 9.9");
    ASSERT_EQ(texts.hardware.size(), 3u);
    EXPECT_STREQ(szHwLine[2], "working-range = 37 +/- 2.0mm");
    EXPECT_EQ(std::vector<uint16_t>(parameter.set0, parameter.set0 + 15), std::vector<uint16_t>(ram0, ram0 + 15));
    EXPECT_EQ(parameter.scale, 24576u);
    EXPECT_EQ(parameter.offset, -1);
    EXPECT_EQ(texts.timedOut, 0);
    EXPECT_GE(texts.answered, 4);
}

TEST_F(Headless, SetsTravelBetweenSensorAndFileAndTheFeedHandsOutAnswers) {
    InitRS232(com);
    QTemporaryDir dir;
    const std::string path = dir.filePath("sets.cfg").toStdString();
    ASSERT_EQ(WriteParaFile(path), 0);
    const std::vector<uint16_t> saved(parameter.set0, parameter.set0 + 15);
    parameter.set0[6] = 4321;
    ASSERT_EQ(ReadParaFile(path), 0);
    EXPECT_EQ(std::vector<uint16_t>(parameter.set0, parameter.set0 + 15), saved);

    // Written to EEPROM and read back through the one exchange.
    parameter.set0[6] = 777;
    EXPECT_EQ(SendParameterSet(CMD_WRITE_EEPROM, 0), 1);
    ASSERT_EQ(ExchangeParameterSet(CMD_READ_EEPROM, 0), 1);
    EXPECT_EQ(pp[6], 777);

    const uint16_t raw[16] = {900, 1100, 1000, 1234, 0, 990, 50, 2, 0, 0, 0, 1700, 300, 0, 0, 0};
    sim->setRawOverride(raw);
    Values values;
    AddMeasurementListener(&values);
    for (int i = 0; i < 3; ++i)
        EXPECT_EQ(MeasureOnce(), 1);
    RemoveMeasurementListener(&values);
    ASSERT_EQ(values.got.size(), 3u);
    EXPECT_EQ(values.got[2].valuePx, 1000);
    EXPECT_EQ(values.got[2].umValue, 1234u);
    EXPECT_TRUE(values.got[2].inTolerance);
}

int main(int argc, char **argv) {
    // No display of any kind: the core must not need one.
    unsetenv("DISPLAY");
    unsetenv("WAYLAND_DISPLAY");
    unsetenv("QT_QPA_PLATFORM");
    ::testing::InitGoogleTest(&argc, argv);
    if (InitHeadlessRunTime(argc, argv, 0) == 0) return 2;
    return RUN_ALL_TESTS();
}
