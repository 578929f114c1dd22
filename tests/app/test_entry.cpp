// The entry point: loading the panels, the command line, and whole runs of the program in-process
// that end when the operator closes the main window.
#include <gtest/gtest.h>

#include <QApplication>
#include <QCoreApplication>
#include <QFile>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QTemporaryDir>
#include <QWidget>

#include <algorithm>
#include <cstring>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "K-VOR-RNZazorU30.h"
#include "fixtures.h"
#include "testhooks.h"
#include "rs232.h"
#include "state.h"
#include "userint.h"

namespace {

bool AnyWindowShown() {
    for (QWidget *w : QApplication::topLevelWidgets())
        if (w->isVisible()) return true;
    return false;
}

QByteArray PanelFileText() {
    QFile f(QCoreApplication::applicationDirPath() + "/K-VOR-RNZazorU30.uir");
    EXPECT_TRUE(f.open(QIODevice::ReadOnly));
    return f.readAll();
}

// Runs KvorMain with the given arguments, as the program's main would.
int RunMain(std::vector<std::string> args) {
    std::vector<char *> argv;
    for (std::string &a : args)
        argv.push_back(&a[0]);
    argv.push_back(nullptr);
    return KvorMain(static_cast<int>(args.size()), argv.data());
}

class PanelFileFailure : public ::testing::Test {
  protected:
    void SetUp() override { ASSERT_TRUE(dir.isValid()); }
    // Loads the panels from 'text' written to a temp file; the result and what went to stderr.
    int Load(const char *name, const QByteArray *text, std::string *err) {
        const QString path = dir.filePath(name);
        if (text) {
            QFile f(path);
            EXPECT_TRUE(f.open(QIODevice::WriteOnly));
            f.write(*text);
        }
        ::testing::internal::CaptureStderr();
        const int result = LoadAllPanels(path.toLocal8Bit().constData());
        *err = ::testing::internal::GetCapturedStderr();
        return result;
    }
    void ExpectNothingLeft() {
        EXPECT_FALSE(AnyWindowShown());
        EXPECT_EQ(pHandle, 0);
        EXPECT_EQ(pPopup, 0);
        EXPECT_EQ(pPara1, 0);
        EXPECT_EQ(pPara2, 0);
        EXPECT_EQ(pCalib, 0);
    }
    QTemporaryDir dir;
};

TEST_F(PanelFileFailure, PanelFileWithoutResource4) {
    QJsonDocument doc = QJsonDocument::fromJson(PanelFileText());
    QJsonObject root = doc.object();
    QJsonArray panels;
    for (const QJsonValue &p : root.value("panels").toArray())
        if (p.toObject().value("resource_id").toInt() != 4) panels.append(p);
    root["panels"] = panels;
    const QByteArray text = QJsonDocument(root).toJson();

    std::string err;
    EXPECT_EQ(Load("no4.uir", &text, &err), -1);
    EXPECT_NE(err.find("cannot load panel 4"), std::string::npos) << err;
    EXPECT_EQ(std::count(err.begin(), err.end(), '\n'), 1) << err;
    ExpectNothingLeft();
}

TEST_F(PanelFileFailure, MissingPanelFile) {
    std::string err;
    EXPECT_EQ(Load("absent.uir", nullptr, &err), -1);
    EXPECT_NE(err.find("cannot load panel 2"), std::string::npos) << err;
    ExpectNothingLeft();
}

TEST_F(PanelFileFailure, MalformedPanelFile) {
    const QByteArray text = PanelFileText().left(2000);
    std::string err;
    EXPECT_EQ(Load("cut.uir", &text, &err), -1);
    EXPECT_NE(err.find("cannot load panel 2"), std::string::npos) << err;
    ExpectNothingLeft();
}

TEST_F(PanelFileFailure, TheRealFileLoadsAfterwards) {
    std::string err;
    const QByteArray text = PanelFileText();
    ASSERT_EQ(Load("good.uir", &text, &err), 0) << err;
    for (int *h : {&pPara1, &pPara2, &pCalib, &pPopup, &pHandle}) {
        EXPECT_GT(*h, 0);
        DiscardPanel(*h);
        *h = 0;
    }
}

TEST(CommandLine, HelpAndBadOptions) {
    ::testing::internal::CaptureStdout();
    EXPECT_EQ(RunMain({"kvor-zodid", "--help"}), 0);
    const std::string usage = ::testing::internal::GetCapturedStdout();
    EXPECT_NE(usage.find("--simulate"), std::string::npos);
    EXPECT_NE(usage.find("--port N=DEVICE"), std::string::npos);

    const std::vector<std::vector<std::string>> bad = {
        {"kvor-zodid", "--frobnicate"},
        {"kvor-zodid", "--port"},
        {"kvor-zodid", "--port", "1"},
        {"kvor-zodid", "--port", "x=/dev/ttyS0"},
        {"kvor-zodid", "--port", "0=/dev/ttyS0"},
        {"kvor-zodid", "--port", "1="},
        {"kvor-zodid", "--port", "99999=/dev/ttyS0"},
        {"kvor-zodid", "--eeprom", "ee.bin"},
        {"kvor-zodid", "--simulate", "--eeprom"},
    };
    for (const auto &args : bad) {
        ::testing::internal::CaptureStderr();
        EXPECT_EQ(RunMain(args), -1) << args.back();
        const std::string err = ::testing::internal::GetCapturedStderr();
        EXPECT_EQ(err.rfind("kvor-zodid: ", 0), 0u) << err;
        EXPECT_FALSE(AnyWindowShown());
    }
    SetComPortDevice(1, "");
}

// A whole run of the program. The checks run from inside its event loop; a guard ends the loop
// should the close never arrive, so that a fault fails the test instead of hanging it.
class WholeRun : public ::testing::Test {
  protected:
    void TearDown() override {
        SetComPortDevice(1, "");
        ClearFileSelectAnswers();
    }
    void Guard(double seconds) {
        std::shared_ptr<bool> done = finished;
        AfterDelay(seconds, [done] {
            if (*done) return;
            ADD_FAILURE() << "the program did not end";
            QuitUserInterface(0);
        });
    }
    std::shared_ptr<bool> finished = std::make_shared<bool>(false);
};

TEST_F(WholeRun, ClosingTheMainWindowEndsWithZero) {
    bool checked = false;
    AfterDelay(0.05, [&checked] {
        checked = true;
        EXPECT_TRUE(PanelVisible(pHandle));
        EXPECT_TRUE(PanelVisible(pPara1));
        EXPECT_FALSE(PanelVisible(pPara2));
        EXPECT_FALSE(PanelVisible(pCalib));
        EXPECT_FALSE(PanelVisible(pPopup));
        // The port could not be opened: the status says so instead of "InitVars".
        EXPECT_NE(StatusText(), "InitVars");
        EXPECT_FALSE(StatusText().empty());
        int left = 0, top = 0;
        GetPanelAttribute(pPara1, ATTR_LEFT, &left);
        GetPanelAttribute(pPara1, ATTR_TOP, &top);
        EXPECT_EQ(left, 8);
        EXPECT_EQ(top, 105);
        UserClosePanel(pHandle);
    });
    Guard(30.0);
    EXPECT_EQ(RunMain({"kvor-zodid", "--port", "1=/nonexistent/kvor-port"}), 0);
    *finished = true;
    EXPECT_TRUE(checked);
    EXPECT_EQ(stop_flag, 1);
    EXPECT_EQ(pHandle, 0);
    EXPECT_FALSE(AnyWindowShown());
    EXPECT_EQ(CloseCom(1), 0); // a third close is as harmless as the second
}

// Runs fn once the program has shown its main window, that is once the start-up exchange is
// over and the event loop runs. Scheduled callbacks also fire inside the exchange's own waits;
// there they only schedule themselves again.
void WhenStarted(std::function<void()> fn) {
    AfterDelay(0.02, [fn] {
        if (pHandle <= 0 || !PanelVisible(pHandle)) {
            WhenStarted(fn);
            return;
        }
        fn();
    });
}

// Closes the main window once it is shown, unless *done is set first: a run that should have
// been refused then ends instead of hanging the test.
void CloseOnceShown(std::shared_ptr<bool> done) {
    AfterDelay(0.02, [done] {
        if (*done) return;
        if (pHandle > 0 && PanelVisible(pHandle)) {
            UserClosePanel(pHandle);
            return;
        }
        CloseOnceShown(done);
    });
}

TEST_F(WholeRun, SimulatorAndAMappingOfPortOneAreRefusedTogether) {
    // Port 1 is the simulated sensor's: a mapping of port 1 would be dropped without a word.
    CloseOnceShown(finished);
    ::testing::internal::CaptureStderr();
    EXPECT_EQ(RunMain({"kvor-zodid", "--simulate", "--port", "1=/nonexistent/kvor-port"}), -1);
    *finished = true;
    const std::string err = ::testing::internal::GetCapturedStderr();
    EXPECT_NE(err.find("kvor-zodid: --port 1 cannot be given with --simulate"), std::string::npos) << err;
    EXPECT_FALSE(AnyWindowShown());

    // Another port beside the simulated sensor is the operator's to map.
    auto again = std::make_shared<bool>(false);
    CloseOnceShown(again);
    EXPECT_EQ(RunMain({"kvor-zodid", "--simulate", "--port", "2=/nonexistent/kvor-port"}), 0);
    *again = true;
    EXPECT_EQ(ComPortDevice(2), "/nonexistent/kvor-port");
    SetComPortDevice(2, "");
}

TEST_F(WholeRun, SimulatedSensorCompletesTheStartUpExchange) {
    std::string status, hw0;
    WhenStarted([&] {
        status = StatusText();
        char line[128] = {0};
        GetTextBoxLine(pCalib, CALIB_HWINFO, 0, line, sizeof line);
        hw0 = line;
        UserClosePanel(pHandle);
    });
    Guard(60.0);
    const std::string port1 = ComPortDevice(1);
    EXPECT_EQ(RunMain({"kvor-zodid", "--simulate"}), 0);
    *finished = true;
    EXPECT_EQ(ComPortDevice(1), port1); // the simulator's device is not left behind
    // The exchange ends on the firmware text of the simulated sensor.
    EXPECT_EQ(status, "K-VOR-RN SIM firmware 3.00");
    EXPECT_EQ(hw0, "1024-pixel; 7.8\xB5m pixel-pitch");
    EXPECT_EQ(ccdvirtpixel, 4096);
    EXPECT_EQ(pixE, 4096);
}

TEST_F(WholeRun, AfterStartUpThePanelsShowTheSensor) {
    // The program started as it always starts, against a sensor on port 1 whose sets differ
    // from every panel default, some words beyond their limits. Once the window is up, every
    // parameter control, the tolerance in mm and its dimming, the hardware description and the
    // status line must come from that sensor.
    struct Case {
        const char *name;
        kvorsim::HardwareInfo hw;
        uint16_t ram0[15], ram1[15];
        uint16_t shown[15]; // set 0 as the controls must show it, held to its limits
        double scale;
        int offset;
        double toleranceMm;
        int toleranceDimmed;
        const char *lines[3];
        const char *firmware;
    };
    kvorsim::HardwareInfo hw80;
    hw80.ccdvirtpixel = 2048;
    hw80.refdistance = 80;
    kvorsim::HardwareInfo hw37;
    hw37.ccdvirtpixel = 4096;
    hw37.refdistance = 37;
    // clang-format off
    const Case cases[] = {
        {"variant 2, 80 mm head", hw80,
         {1001, 1, 0, 2, 120, 2000, 1500, 250, 1025, 2, 5, 1, 4321, 2, 5},
         {1, 2, 3, 4, 5, 6, 7, 8, 9, 10, 11, 24576, 0, 0xFFFE, 0xFFFF},
         {500, 1, 0, 2, 120, 2000, 1500, 250, 1024, 2, 5, 1, 4321, 2, 10},
         1.5, -2, 0.375, 0,
         {"1024-pixel; 7.8\xB5m pixel-pitch", "4096-subpixel; resolution=5\xB5m", "working-range = 80mm +/- 10mm"},
         "K-VOR-RN whole run A"},
        {"variant 3, 37 mm head", hw37,
         {0, 0, 1, 4, 1, 0, 512, 4097, 0, 3, 8, 2, 0, 3, 951},
         {0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 32768, 0, 1234, 0},
         {0, 0, 1, 4, 1, 1, 512, 4096, 0, 0, 0, 0, 0, 3, 950},
         2.0, 1234, 8.192, 1,
         {"1024-pixel; 7.8\xB5m pixel-pitch", "4096-subpixel; resolution=1\xB5m", "working-range = 37 +/- 2.0mm"},
         "K-VOR-RN whole run B"},
    };
    // clang-format on
    struct Bound {
        int *panel;
        int control;
        int word;
    };
    const Bound controls[] = {
        {&pHandle, PANEL_NEDITEdgeLeft, 4}, {&pHandle, PANEL_NEDITEdgeRight, 5}, {&pPara1, PARA1_P11, 11},
        {&pPara1, PARA1_AnaMode, 10},       {&pPara1, PARA1_P02, 2},              {&pPara1, PARA1_EvalMode, 3},
        {&pPara1, PARA1_NEDITTolerance, 7}, {&pPara1, PARA1_DROPHardware, 13},    {&pPara1, PARA1_P08, 8},
        {&pPara1, PARA1_P09, 9},            {&pPara2, PARA2_P00, 0},              {&pPara2, PARA2_SLIDEVideoThreshold, 14},
        {&pPara2, PARA2_P01, 1},            {&pPara2, PARA2_Setpoint, 6},         {&pCalib, CALIB_P12, 12},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(c.name);
        kvorsim::Options options;
        options.pacing = false;
        kvorsim::Simulator sensor(options);
        ASSERT_TRUE(sensor.start()) << sensor.error();
        sensor.setHardware(c.hw);
        sensor.setRamSet(0, c.ram0);
        sensor.setRamSet(1, c.ram1);
        sensor.setFirmwareText(c.firmware);

        bool looked = false;
        std::vector<unsigned short> shown;
        double scale = 0.0, toleranceMm = -1.0;
        int offset = 0, dimmed = -1;
        std::string status, lines[3];
        WhenStarted([&] {
            looked = true;
            for (const Bound &b : controls) {
                unsigned short v = 0xBEEF;
                GetCtrlVal(*b.panel, b.control, &v);
                shown.push_back(v);
            }
            GetCtrlVal(pCalib, CALIB_Scale, &scale);
            GetCtrlVal(pCalib, CALIB_Offset, &offset);
            GetCtrlVal(pHandle, PANEL_TOLVALUE, &toleranceMm);
            GetCtrlAttribute(pPara1, PARA1_NEDITTolerance, ATTR_DIMMED, &dimmed);
            status = StatusText();
            for (int i = 0; i < 3; ++i) {
                char line[128] = {0};
                GetTextBoxLine(pCalib, CALIB_HWINFO, i, line, sizeof line);
                lines[i] = line;
            }
            UserClosePanel(pHandle);
        });
        finished = std::make_shared<bool>(false);
        Guard(60.0);
        EXPECT_EQ(RunMain({"kvor-zodid", "--port", "1=" + sensor.devicePath()}), 0);
        *finished = true;

        ASSERT_TRUE(looked);
        ASSERT_EQ(shown.size(), 15u);
        for (size_t i = 0; i < 15; ++i)
            EXPECT_EQ(shown[i], c.shown[controls[i].word]) << "control of set 0 word " << controls[i].word;
        EXPECT_DOUBLE_EQ(scale, c.scale);
        EXPECT_EQ(offset, c.offset);
        EXPECT_NEAR(toleranceMm, c.toleranceMm, 1e-9);
        EXPECT_EQ(dimmed, c.toleranceDimmed);
        for (int i = 0; i < 3; ++i)
            EXPECT_EQ(lines[i], c.lines[i]) << "description line " << i;
        EXPECT_EQ(status, c.firmware);
    }
}

TEST_F(WholeRun, ClosingDuringRunEndsTheLoopAndTheProgram) {
    bool runReturned = false;
    bool closedWhileRunning = false;
    WhenStarted([&] {
        AfterDelay(0.5, [&closedWhileRunning] {
            closedWhileRunning = stop_flag == 0;
            UserClosePanel(pHandle);
        });
        UserClick(pHandle, PANEL_BTNRun); // returns only when the RUN loop has ended
        runReturned = true;
        EXPECT_EQ(stop_flag, 1);
    });
    Guard(60.0);
    EXPECT_EQ(RunMain({"kvor-zodid", "--simulate"}), 0);
    *finished = true;
    EXPECT_TRUE(closedWhileRunning);
    EXPECT_TRUE(runReturned);
    EXPECT_FALSE(AnyWindowShown());
}

TEST_F(WholeRun, SimulatedEepromOutlivesTheProgram) {
    QTemporaryDir dir;
    ASSERT_TRUE(dir.isValid());
    const std::string eeprom = dir.filePath("eeprom.txt").toStdString();

    // First run: write a set with a new setpoint into the sensor's EEPROM.
    WhenStarted([&eeprom] {
        UserSetValue(pHandle, PANEL_RBTEeprom, 1);
        SetCtrlVal(pPara2, PARA2_Setpoint, 777);
        UserClick(pHandle, PANEL_BTNSend);
        EXPECT_TRUE(WaitUntil([&eeprom] { return QFile(QString::fromStdString(eeprom)).size() > 0; }, 10.0));
        UserClosePanel(pHandle);
    });
    Guard(60.0);
    EXPECT_EQ(RunMain({"kvor-zodid", "--simulate", "--eeprom", eeprom}), 0);
    *finished = true;

    // Second run: the sensor powers up with that set and the start-up exchange reads it.
    unsigned short setpoint = 0;
    finished = std::make_shared<bool>(false);
    WhenStarted([&setpoint] {
        GetCtrlVal(pPara2, PARA2_Setpoint, &setpoint);
        UserClosePanel(pHandle);
    });
    Guard(60.0);
    EXPECT_EQ(RunMain({"kvor-zodid", "--simulate", "--eeprom=" + eeprom}), 0);
    *finished = true;
    EXPECT_EQ(setpoint, 777);

    // An EEPROM file the simulator cannot read stops the start like a missing panel does.
    const std::string bad = dir.filePath("bad.txt").toStdString();
    QFile f(QString::fromStdString(bad));
    ASSERT_TRUE(f.open(QIODevice::WriteOnly));
    f.write("not an eeprom\n");
    f.close();
    ::testing::internal::CaptureStderr();
    EXPECT_EQ(RunMain({"kvor-zodid", "--simulate", "--eeprom", bad}), -1);
    const std::string err = ::testing::internal::GetCapturedStderr();
    EXPECT_NE(err.find("cannot start the simulated sensor"), std::string::npos) << err;
    EXPECT_FALSE(AnyWindowShown());
}

} // namespace
