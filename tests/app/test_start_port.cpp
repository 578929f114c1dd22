// The port the program starts on: --com, --no-settings and the port remembered from the last
// run, through whole runs of the program against the simulated sensor.
#include <gtest/gtest.h>

#include <QTemporaryDir>

#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "K-VOR-RNZazorU30.h"
#include "connection.h"
#include "fixtures.h"
#include "rs232.h"
#include "sensor_sim.h"
#include "settings.h"
#include "state.h"
#include "testhooks.h"
#include "userint.h"

namespace {

int RunProgram(std::vector<std::string> args) {
    std::vector<char *> argv;
    for (std::string &a : args)
        argv.push_back(&a[0]);
    argv.push_back(nullptr);
    return KvorMain(static_cast<int>(args.size()), argv.data());
}

// Runs fn once the main window is shown (the start-up exchange is over), then closes it.
void OnceStarted(std::function<void()> fn) {
    AfterDelay(0.02, [fn] {
        if (pHandle <= 0 || !PanelVisible(pHandle)) {
            OnceStarted(fn);
            return;
        }
        fn();
        UserClosePanel(pHandle);
    });
}

class StartPort : public ::testing::Test {
  protected:
    void SetUp() override {
        ASSERT_TRUE(home.isValid());
        oldHome = qgetenv("HOME");
        oldConfig = qgetenv("XDG_CONFIG_HOME");
        qputenv("HOME", home.path().toLocal8Bit());
        qputenv("XDG_CONFIG_HOME", (home.path() + "/.config").toLocal8Bit());
        kvorsim::Options options;
        options.pacing = false;
        // A name of the test's own: a terminal number freed by the simulator may be taken by
        // another test's simulator at once, and would then still be "present".
        options.linkPath = home.path().toStdString() + "/kvor-sensor";
        sim = std::make_unique<kvorsim::Simulator>(options);
        ASSERT_TRUE(sim->start()) << sim->error();
    }
    void TearDown() override {
        sim.reset();
        for (int port : {1, 60})
            SetComPortDevice(port, "");
        SettingsEnable(1);
        qputenv("HOME", oldHome);
        qputenv("XDG_CONFIG_HOME", oldConfig);
    }
    // One whole run; what the program showed once it had started.
    struct Seen {
        int rc = -99;
        int com = 0;
        int dropDown = 0;
        std::string status;
        int lamp = -1;
    };
    Seen Run(const std::vector<std::string> &args) {
        Seen seen;
        OnceStarted([&seen] {
            seen.com = com;
            GetCtrlVal(pHandle, PANEL_DropDCom, &seen.dropDown);
            seen.status = StatusText();
            seen.lamp = LinkLampState();
        });
        seen.rc = RunProgram(args);
        return seen;
    }
    QTemporaryDir home;
    QByteArray oldHome, oldConfig;
    std::unique_ptr<kvorsim::Simulator> sim;
};

} // namespace

TEST_F(StartPort, RememberedPortIsWhereTheNextRunBegins) {
    const std::string device = sim->devicePath();
    // First run: --com with a mapping; both are remembered.
    Seen first = Run({"kvor-zodid", "--com", "60", "--port", "60=" + device});
    EXPECT_EQ(first.rc, 0);
    EXPECT_EQ(first.com, 60);
    EXPECT_EQ(first.dropDown, 60);
    EXPECT_EQ(first.status, "K-VOR-RN SIM firmware 3.00");
    EXPECT_EQ(first.lamp, kLampGreen);
    EXPECT_EQ(SettingsGetInt(kSettingPortNumber, 0), 60);
    EXPECT_EQ(SettingsGetString(kSettingPortDevice, ""), device);
    SetComPortDevice(60, "");

    // Second run, without options: it begins on the remembered port and its device.
    Seen second = Run({"kvor-zodid"});
    EXPECT_EQ(second.com, 60);
    EXPECT_EQ(second.dropDown, 60);
    EXPECT_EQ(second.status, "K-VOR-RN SIM firmware 3.00");
    SetComPortDevice(60, "");

    // Without the settings: port 1, and the file keeps what it had.
    SetComPortDevice(1, "/nonexistent/kvor-port");
    Seen third = Run({"kvor-zodid", "--no-settings"});
    EXPECT_EQ(third.com, 1);
    EXPECT_EQ(third.status, "No serial port found");
    EXPECT_EQ(third.lamp, kLampGrey);
    SettingsEnable(1);
    EXPECT_EQ(SettingsGetInt(kSettingPortNumber, 0), 60);

    // The remembered device has gone: the rule's port, and the status line says so.
    sim->stop();
    Seen fourth = Run({"kvor-zodid"});
    EXPECT_EQ(fourth.com, 1);
    EXPECT_EQ(fourth.status, "Remembered device " + device +
                                 " not present: COM1 /nonexistent/kvor-port by the numbering rule - "
                                 "No serial port found");
}

TEST(StartPortOptions, HelpNamesTheSettingsFileAndBadNumbersAreRefused) {
    ::testing::internal::CaptureStdout();
    EXPECT_EQ(RunProgram({"kvor-zodid", "--help"}), 0);
    const std::string usage = ::testing::internal::GetCapturedStdout();
    EXPECT_NE(usage.find("--com N"), std::string::npos);
    EXPECT_NE(usage.find("--no-settings"), std::string::npos);
    EXPECT_NE(usage.find(SettingsFilePath()), std::string::npos) << usage;

    for (const char *bad : {"0", "256", "x", "-3", ""}) {
        ::testing::internal::CaptureStderr();
        EXPECT_EQ(RunProgram({"kvor-zodid", "--com", bad}), -1) << bad;
        const std::string err = ::testing::internal::GetCapturedStderr();
        EXPECT_NE(err.find("--com needs a port number from 1 to 255"), std::string::npos) << err;
    }
    ::testing::internal::CaptureStderr();
    EXPECT_EQ(RunProgram({"kvor-zodid", "--com"}), -1);
    ::testing::internal::GetCapturedStderr();
}
