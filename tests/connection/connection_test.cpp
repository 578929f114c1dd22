// The connection that looks after itself: the remembered port, the port list with devices
// outside the numbering rule, the link lamp, the reconnection after a device came back, and the
// reason a port cannot be opened. All against the simulated sensor on a pseudo-terminal.
#include <gtest/gtest.h>

#include <QComboBox>
#include <QElapsedTimer>
#include <QFile>
#include <QTemporaryDir>

#include <grp.h>
#include <sys/fsuid.h>
#include <sys/stat.h>
#include <unistd.h>

#include <string>
#include <vector>

#include "K-VOR-RNZazorU30.h"
#include "com232.h"
#include "connection.h"
#include "connection_support.h"
#include "devwatch.h"
#include "linkevents.h"
#include "rs232.h"
#include "settings.h"
#include "state.h"
#include "testhooks.h"
#include "userint.h"

void LinkedSensorTest::SetUp() {
    SensorTest::SetUp();
    ConnectionShutdown(); // the lamp grey and no watch, whatever an earlier test left
}

void LinkedSensorTest::TearDown() {
    ConnectionShutdown();
    SetSerialByIdDirectory("");
    ForgetAssignedComPorts();
    for (int port : {2, 5, 41, 60})
        SetComPortDevice(port, "");
    SensorTest::TearDown();
    SetComPortDevice(1, "");
}

namespace {

const char *const kFirmware = "K-VOR-RN SIM firmware 3.00";

std::vector<int> Commands(const std::vector<kvorsim::Request> &requests) {
    std::vector<int> commands;
    for (const kvorsim::Request &r : requests)
        commands.push_back(r.command);
    return commands;
}

int LampColor() {
    int color = -1;
    GetCtrlAttribute(pHandle, PANEL_LEDLink, ATTR_FRAME_COLOR, &color);
    return color;
}

std::string LampTip() {
    char text[512] = {0};
    GetCtrlToolTip(pHandle, PANEL_LEDLink, text, sizeof text);
    return text;
}

std::vector<std::string> PortLabels() {
    std::vector<std::string> labels;
    auto *ring = static_cast<QComboBox *>(CtrlWidget(pHandle, PANEL_DropDCom));
    for (int i = 0; ring && i < ring->count(); ++i)
        labels.push_back(ring->itemText(i).toStdString());
    return labels;
}

bool Contains(const std::string &text, const std::string &part) {
    return text.find(part) != std::string::npos;
}

void WriteRemembered(int port, const std::string &device) {
    ASSERT_EQ(SettingsSetInt(kSettingPortNumber, port), 0);
    ASSERT_EQ(SettingsSetString(kSettingPortDevice, device), 0);
}

} // namespace

// --- settings ---------------------------------------------------------------------------------

TEST(Settings, LiveInTheUsersConfigFolderAndCanBeSwitchedOff) {
    TemporaryHome home;
    SettingsEnable(1);
    EXPECT_EQ(SettingsFilePath(), home.path() + "/.config/kvor-zodid/kvor-zodid.conf");
    EXPECT_EQ(SettingsGetInt("port/number", 7), 7);
    EXPECT_EQ(SettingsGetString("port/device", "none"), "none");
    EXPECT_EQ(SettingsSetInt("port/number", 17), 0);
    EXPECT_EQ(SettingsSetString("port/device", "/dev/serial/by-id/usb-x"), 0);
    EXPECT_TRUE(QFile::exists(QString::fromStdString(SettingsFilePath())));
    EXPECT_EQ(SettingsGetInt("port/number", 0), 17);
    EXPECT_EQ(SettingsGetString("port/device", ""), "/dev/serial/by-id/usb-x");
    // A text where a number belongs reads as the fallback.
    EXPECT_EQ(SettingsSetString("port/number", "seventeen"), 0);
    EXPECT_EQ(SettingsGetInt("port/number", 3), 3);

    // Switched off: nothing read, nothing written.
    SettingsEnable(0);
    EXPECT_EQ(SettingsGetString("port/device", "off"), "off");
    EXPECT_LT(SettingsSetInt("port/number", 5), 0);
    SettingsEnable(1);
    EXPECT_EQ(SettingsGetString("port/number", ""), "seventeen");

    // Another home, another file: the location is looked up every time.
    {
        TemporaryHome other;
        EXPECT_EQ(SettingsGetInt("port/number", -1), -1);
    }
    EXPECT_EQ(SettingsGetString("port/device", ""), "/dev/serial/by-id/usb-x");
}

// --- the port to start on ---------------------------------------------------------------------

class StartPortTest : public LinkedSensorTest {};

TEST_F(StartPortTest, CommandLineThenRememberedThenPortOne) {
    const std::string present = sim->devicePath(); // exists: the link to the sensor
    const std::string gone = linkDir() + "/ttyGONE";
    struct Case {
        const char *name;
        int stored; // 0: nothing stored
        std::string storedDevice;
        ConnectionStart start;
        int expectPort;
        std::string expectDevice; // ComPortDevice(expectPort) afterwards
        std::string expectNote;   // "" for none
        int expectStored;         // what the settings hold afterwards
    };
    ConnectionStart plain;
    ConnectionStart com7;
    com7.com = 7;
    ConnectionStart simulated;
    simulated.simulatorPort = 1;
    ConnectionStart mapped;
    mapped.firstMappedPort = 3;
    ConnectionStart noSettings;
    noSettings.useSettings = false;
    const std::vector<Case> cases = {
        {"nothing stored", 0, "", plain, 1, present, "", 0},
        {"a device outside the rule", 60, present, plain, 60, present, "", 60},
        {"the port and its device", 1, present, plain, 1, present, "", 1},
        {"gone, number outside the rule", 60, gone, plain, 1, present,
         "Remembered device " + gone + " not present: COM1 " + present + " by the numbering rule", 60},
        {"gone, number inside the rule", 5, gone, plain, 5, "/dev/ttyS4",
         "Remembered device " + gone + " not present: COM5 /dev/ttyS4 by the numbering rule", 5},
        {"a number out of range", 999, present, plain, 1, present, "", 999},
        {"--com wins and is remembered", 60, present, com7, 7, "/dev/ttyS6", "", 7},
        {"the simulator wins and is not remembered", 60, present, simulated, 1, present, "", 60},
        {"--port wins for this run only", 60, present, mapped, 3, "/dev/ttyS2", "", 60},
        {"--no-settings ignores the file", 60, present, noSettings, 1, present, "", 60},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(c.name);
        TemporaryHome caseHome;
        SetComPortDevice(60, "");
        SettingsEnable(1);
        if (c.stored) WriteRemembered(c.stored, c.storedDevice);
        std::string note = "stale";
        const int port = ConnectionStartPort(c.start, &note);
        EXPECT_EQ(port, c.expectPort);
        EXPECT_EQ(ComPortDevice(port), c.expectDevice);
        EXPECT_EQ(note, c.expectNote);
        SettingsEnable(1);
        EXPECT_EQ(SettingsGetInt(kSettingPortNumber, 0), c.expectStored);
    }
    SettingsEnable(1);
}

TEST_F(StartPortTest, AChoiceInTheDropDownIsRememberedWithItsDevice) {
    SettingsEnable(1);
    Connect();
    SetComPortDevice(41, "/nonexistent/kvor-port");
    ASSERT_EQ(UserSetValue(pHandle, PANEL_DropDCom, 41), 0);
    EXPECT_EQ(com, 41);
    EXPECT_EQ(SettingsGetInt(kSettingPortNumber, 0), 41);
    EXPECT_EQ(SettingsGetString(kSettingPortDevice, ""), "/nonexistent/kvor-port");
    EXPECT_EQ(StatusText(), "No serial port found"); // the error texts are as they were

    ASSERT_EQ(UserSetValue(pHandle, PANEL_DropDCom, 1), 0);
    EXPECT_EQ(SettingsGetInt(kSettingPortNumber, 0), 1);
    EXPECT_EQ(SettingsGetString(kSettingPortDevice, ""), sim->devicePath());
    EXPECT_EQ(StatusText(), kFirmware);

    // With the settings off, a choice changes nothing in the file.
    SettingsEnable(0);
    ASSERT_EQ(UserSetValue(pHandle, PANEL_DropDCom, 41), 0);
    SettingsEnable(1);
    EXPECT_EQ(SettingsGetInt(kSettingPortNumber, 0), 1);
}

// --- the port list ----------------------------------------------------------------------------

TEST_F(StartPortTest, StableNamesGetAFreeNumberAndAreRememberedByName) {
    QTemporaryDir byId;
    ASSERT_TRUE(byId.isValid());
    const std::string name = byId.path().toStdString() + "/usb-KVOR_Sensor_A1-if00-port0";
    const std::string gone = byId.path().toStdString() + "/usb-KVOR_Sensor_B2-if00-port0";
    ASSERT_EQ(::symlink(sim->slavePath().c_str(), name.c_str()), 0);
    ASSERT_EQ(::symlink("/nonexistent/ttyUSB9", gone.c_str()), 0);
    SetSerialByIdDirectory(byId.path().toStdString());

    std::vector<ComPortChoice> choices(64);
    const int n = ListComPorts(choices.data(), 64);
    choices.resize(n);
    int named = 0, dangling = 0;
    for (const ComPortChoice &c : choices) {
        if (c.device == name) {
            named = c.port;
            EXPECT_TRUE(c.present);
            EXPECT_EQ(c.target, sim->slavePath());
        }
        if (c.device == gone) {
            dangling = c.port;
            EXPECT_FALSE(c.present);
        }
    }
    // Numbers above the rule's, lowest first, the same on every look.
    ASSERT_GT(named, 48);
    ASSERT_GT(dangling, 48);
    EXPECT_NE(named, dangling);
    EXPECT_EQ(ComPortDevice(named), name);
    EXPECT_EQ(ListComPorts(nullptr, 0), n);
    EXPECT_EQ(ComPortDevice(named), name);

    // The drop-down shows the number, the name and where it leads.
    SetCtrlVal(pHandle, PANEL_DropDCom, 1);
    bool labelled = false;
    for (const std::string &label : PortLabels())
        labelled = labelled || (Contains(label, "COM" + std::to_string(named) + "  " + name) &&
                                Contains(label, "(" + sim->slavePath() + ")"));
    EXPECT_TRUE(labelled);

    // Chosen by its name, it opens and is remembered by that name.
    ASSERT_EQ(UserSetValue(pHandle, PANEL_DropDCom, named), 0);
    EXPECT_EQ(StatusText(), kFirmware);
    EXPECT_EQ(SettingsGetInt(kSettingPortNumber, 0), named);
    EXPECT_EQ(SettingsGetString(kSettingPortDevice, ""), name);
    CloseCom(named);

    // Next run: the adapter came back as another device (a new terminal), under the same name.
    ASSERT_TRUE(sim->reconnect());
    ASSERT_EQ(::unlink(name.c_str()), 0);
    ASSERT_EQ(::symlink(sim->slavePath().c_str(), name.c_str()), 0);
    ForgetAssignedComPorts();
    std::string note;
    com = ConnectionStartPort(ConnectionStart(), &note);
    EXPECT_EQ(com, named);
    EXPECT_EQ(note, "");
    EXPECT_EQ(ComPortDevice(com), name);
    InitRS232(com);
    EXPECT_EQ(StatusText(), kFirmware);
    CloseCom(com);
    SetComPortDevice(named, "");
}

// --- the link lamp ----------------------------------------------------------------------------

TEST_F(StartPortTest, LampFollowsEveryOutcomeAndNamesPortDeviceAndFirmware) {
    EXPECT_EQ(LinkLampState(), kLampGrey);
    EXPECT_EQ(LampColor(), LinkLampColor(kLampGrey));

    Connect();
    EXPECT_EQ(LinkLampState(), kLampGreen);
    EXPECT_EQ(LampColor(), LinkLampColor(kLampGreen));
    const std::string tip = LampTip();
    EXPECT_TRUE(Contains(tip, "COM1")) << tip;
    EXPECT_TRUE(Contains(tip, sim->devicePath())) << tip;
    EXPECT_TRUE(Contains(tip, kFirmware)) << tip;

    // A request without an answer: red. The next answered one: green again.
    kvorsim::Fault drop;
    drop.kind = kvorsim::Fault::Drop;
    sim->inject(drop);
    UserClick(pHandle, PANEL_BTNGet);
    EXPECT_EQ(LinkLampState(), kLampGreen); // set 1 was answered after set 0 timed out
    sim->inject(drop);
    UserClick(pHandle, PANEL_ButtonReset);
    EXPECT_EQ(LinkLampState(), kLampRed);
    EXPECT_EQ(LampColor(), LinkLampColor(kLampRed));
    UserClick(pHandle, PANEL_ButtonReset);
    EXPECT_EQ(LinkLampState(), kLampGreen);

    // Another port that cannot be opened: the port is closed, grey.
    SetComPortDevice(41, "/nonexistent/kvor-port");
    ASSERT_EQ(UserSetValue(pHandle, PANEL_DropDCom, 41), 0);
    EXPECT_EQ(LinkLampState(), kLampGrey);
    EXPECT_EQ(LampColor(), LinkLampColor(kLampGrey));
    EXPECT_TRUE(Contains(LampTip(), "COM41: /nonexistent/kvor-port")) << LampTip();
    EXPECT_TRUE(Contains(LampTip(), "Firmware: not read")) << LampTip();

    // The three colours differ.
    EXPECT_NE(LinkLampColor(kLampGreen), LinkLampColor(kLampRed));
    EXPECT_NE(LinkLampColor(kLampGrey), LinkLampColor(kLampRed));
    EXPECT_NE(LinkLampColor(kLampGrey), LinkLampColor(kLampGreen));
}

// --- reconnection -----------------------------------------------------------------------------

class ReconnectTest : public LinkedSensorTest {
  protected:
    void StartConnected() {
        Connect();
        ConnectionStarted("");
        ASSERT_TRUE(DeviceWatchRunning());
        ASSERT_EQ(LinkLampState(), kLampGreen);
    }
    void WaitForLoss(bool saysSo = true) {
        ASSERT_TRUE(WaitUntil([] { return ConnectionWaiting(); }, 4.0));
        EXPECT_EQ(LinkLampState(), kLampRed);
        EXPECT_NE(ComPortStatus(com), kComOpen);
        if (saysSo) {
            EXPECT_EQ(StatusText(),
                      "Device " + sim->devicePath() + " lost - waiting for it to come back ...");
        }
    }
    // Plugs the device back in; true when the program reconnected within 3 s, without a click.
    bool PlugInAndWait(bool bySimulator) {
        sim->clearRequests();
        QElapsedTimer t;
        t.start();
        if (bySimulator) {
            if (!sim->reconnect()) return false;
        } else if (::symlink(sim->slavePath().c_str(), options.linkPath.c_str()) != 0) {
            return false;
        }
        const bool back =
            WaitUntil([] { return !ConnectionWaiting() && ComPortStatus(com) == kComOpen; }, 5.0);
        elapsed = t.elapsed() / 1000.0;
        return back && elapsed < 3.0;
    }
    double elapsed = 0.0;
};

TEST_F(ReconnectTest, DeviceUnpluggedAndPluggedBackInReconnectsWithoutAClick) {
    // Unplugged as the simulator goes away (the terminal hangs up and its link goes), or by the
    // link alone being removed and made again while the terminal stays.
    for (const bool bySimulator : {true, false}) {
        SCOPED_TRACE(bySimulator ? "terminal gone" : "link removed");
        StartConnected();
        if (bySimulator) {
            sim->disconnectAfter(0);
        } else {
            ASSERT_EQ(::unlink(options.linkPath.c_str()), 0);
        }
        WaitForLoss();
        ASSERT_TRUE(PlugInAndWait(bySimulator)) << "took " << elapsed << " s";
        EXPECT_EQ(LinkLampState(), kLampGreen);
        // The start-up exchange, as after a port change: line check, hardware, both sets, firmware.
        EXPECT_EQ(Commands(sim->requests()), (std::vector<int>{5, 10, 2, 2, 7}));
        EXPECT_EQ(StatusText(), kFirmware);
        CloseCom(com);
        ConnectionShutdown();
    }
}

TEST_F(ReconnectTest, RunThatWasRunningEndsAndIsNotStartedAgain) {
    StartConnected();
    AfterDelay(0.4, [this] { sim->disconnectAfter(0); });
    UserClick(pHandle, PANEL_BTNRun); // returns when the loop has ended
    EXPECT_EQ(stop_flag, 1);
    EXPECT_EQ(StatusText(), "Timeout RS232-Line!"); // the loop ended as it always has
    WaitForLoss(false);
    ASSERT_TRUE(PlugInAndWait(true)) << "took " << elapsed << " s";
    // Nothing but the start-up exchange: no RAW request comes after it.
    EXPECT_FALSE(WaitUntil([this] { return sim->requestCount() > 5; }, 1.2));
    EXPECT_EQ(Commands(sim->requests()), (std::vector<int>{5, 10, 2, 2, 7}));
    EXPECT_EQ(stop_flag, 1);
}

TEST_F(ReconnectTest, OperatorsUnsentValuesSurviveTheReconnection) {
    StartConnected();
    uint16_t sensorSet0[15];
    sim->ramSet(0, sensorSet0);
    ASSERT_NE(sensorSet0[6], 1234);
    // An edit not sent to the sensor.
    ASSERT_EQ(UserSetValue(pPara2, PARA2_Setpoint, 1234), 0);
    sim->disconnectAfter(0);
    WaitForLoss();
    ASSERT_TRUE(PlugInAndWait(true));
    unsigned short shown = 0;
    GetCtrlVal(pPara2, PARA2_Setpoint, &shown);
    EXPECT_EQ(shown, 1234);
    EXPECT_EQ(parameter.set0[6], sensorSet0[6]); // what the sensor holds, as read
    EXPECT_EQ(StatusText(), std::string(kFirmware) + " - panel values kept, not sent to the sensor");

    // Without an edit, nothing is said.
    UserClick(pHandle, PANEL_BTNGet);
    sim->disconnectAfter(0);
    WaitForLoss();
    ASSERT_TRUE(PlugInAndWait(true));
    EXPECT_EQ(StatusText(), kFirmware);
}

TEST_F(ReconnectTest, AnotherPortChosenMeanwhileEndsTheWait) {
    StartConnected();
    sim->disconnectAfter(0);
    WaitForLoss();
    SetComPortDevice(41, "/nonexistent/kvor-port");
    ASSERT_EQ(UserSetValue(pHandle, PANEL_DropDCom, 41), 0);
    EXPECT_FALSE(ConnectionWaiting());
    EXPECT_EQ(LinkLampState(), kLampGrey);
    sim->clearRequests();
    ASSERT_TRUE(sim->reconnect());
    EXPECT_FALSE(WaitUntil([this] { return sim->requestCount() > 0; }, 1.5));
    EXPECT_EQ(com, 41);
}

// --- why a port cannot be opened --------------------------------------------------------------

TEST(PermissionText, NamesTheGroupThatMayOpenTheDevice) {
    struct Case {
        std::string group, text;
    };
    const std::vector<Case> cases = {
        {"dialout", "permission denied: add the user to the dialout group"},
        {"uucp", "permission denied: add the user to the uucp group"},
        {"", "permission denied: the user may not read and write the device"},
    };
    for (const Case &c : cases)
        EXPECT_EQ(ComPermissionText(c.group), c.text);
}

class OpenFailureTest : public LinkedSensorTest {};

TEST_F(OpenFailureTest, ADeviceThisUserMayNotOpenSaysWhyAndWhatHelps) {
    const std::string slave = sim->slavePath();
    struct stat before;
    ASSERT_EQ(::stat(slave.c_str(), &before), 0);
    const struct group *dialout = ::getgrnam("dialout");
    if (!dialout) GTEST_SKIP() << "no dialout group on this system";
    // The device belongs to the dialout group, which may read and write it; the user is not in it.
    // As root, the open is made with the rights of another user for the while.
    ASSERT_EQ(::chown(slave.c_str(), before.st_uid, dialout->gr_gid), 0);
    ASSERT_EQ(::chmod(slave.c_str(), 0660), 0);
    const bool root = ::geteuid() == 0;
    if (root) ::setfsuid(65534);
    if (!root && before.st_uid == ::geteuid()) ::chmod(slave.c_str(), 0060); // the owner may not
    // The terminal itself: the link lives in a folder only its owner may enter.
    SetComPortDevice(2, slave);
    com = 2;
    InitRS232(2);
    if (root) ::setfsuid(0);
    ::chmod(slave.c_str(), before.st_mode & 07777);
    ::chown(slave.c_str(), before.st_uid, before.st_gid);
    EXPECT_EQ(StatusText(), "Cannot open port (permission denied: add the user to the dialout group)");
    EXPECT_EQ(LinkLampState(), kLampGrey);

    // Allowed again, the same port opens.
    InitRS232(2);
    EXPECT_EQ(StatusText(), kFirmware);
}

TEST_F(OpenFailureTest, APortInUseKeepsItsTextAsItWas) {
    Connect();
    // A second port on the same device: locked by the first.
    SetComPortDevice(2, sim->devicePath());
    InitRS232(2);
    EXPECT_EQ(StatusText(), "Cannot open port");
    EXPECT_EQ(std::string(szStatus), "Cannot open port");
    EXPECT_EQ(ComOpenErrorReason(2), "");
    CloseCom(2);
}

// --- the device watch -------------------------------------------------------------------------

TEST(DeviceWatch, LooksAtMostOnceASecondUntilStopped) {
    int calls = 0;
    // Asked for more often than once a second, it still looks only once a second.
    ASSERT_EQ(StartDeviceWatch([](void *data) { ++*static_cast<int *>(data); }, &calls, 0.05), 0);
    EXPECT_TRUE(DeviceWatchRunning());
    QElapsedTimer t;
    t.start();
    ASSERT_TRUE(WaitUntil([&calls] { return calls >= 2; }, 5.0));
    EXPECT_GE(t.elapsed(), 1800);
    StopDeviceWatch();
    EXPECT_FALSE(DeviceWatchRunning());
    const int stopped = calls;
    EXPECT_FALSE(WaitUntil([&calls, stopped] { return calls > stopped; }, 1.3));
}
