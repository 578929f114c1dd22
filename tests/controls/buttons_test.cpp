// The command buttons, the memory target and the serial-port choice, operated as the operator
// operates them.
#include <gtest/gtest.h>

#include "state.h"

#include <algorithm>
#include <cstdio>
#include <string>
#include <vector>

#include "../measure/loop_helpers.h"
#include "K-VOR-RNZazorU30.h"
#include "com232.h"
#include "fixtures.h"
#include "testhooks.h"
#include "measure.h"
#include "rs232.h"
#include "userint.h"
#include "utility.h"

namespace {

int Dimmed(int control) {
    int dimmed = -1;
    GetCtrlAttribute(pHandle, control, ATTR_DIMMED, &dimmed);
    return dimmed;
}

int Radio(int control) {
    int on = -1;
    GetCtrlVal(pHandle, control, &on);
    return on;
}

std::vector<int> Radios() {
    return {Radio(PANEL_RBTRam), Radio(PANEL_RBTEeprom), Radio(PANEL_RBTFile)};
}

std::string TempPath(const char *name) {
    std::string dir = ::testing::TempDir();
    if (!dir.empty() && dir.back() != '/') dir += '/';
    return dir + name;
}

const uint16_t kRaw[16] = {900, 1100, 1000, 51234, 0, 1000, 50, 2, 0, 0, 0, 1700, 300, 0, 0, 0};

class ButtonTest : public SensorTest {
  protected:
    void SetUp() override {
        SensorTest::SetUp();
        if (HasFatalFailure()) return;
        Connect();
    }
    Schedule schedule;
};

} // namespace

// --- RUN and STOP ---------------------------------------------------------------------------

TEST_F(ButtonTest, GetIsDimmedWhileRunLoopsSoNoRawAnswerIsStoredAsAParameterSet) {
    // GET takes the first frame of any command as its answer; inside RUN that would be a
    // raw-data answer, stored as set 0 and sent back to the sensor by the next SEND.
    sim->setRawOverride(kRaw);
    const uint16_t toleranceBefore = parameter.set0[7];
    int getDimmed = -1;
    size_t atClick = 0;
    schedule.when([&] { return sim->requestCount() >= 3; },
                  [&] {
                      getDimmed = Dimmed(PANEL_BTNGet);
                      UserClick(pHandle, PANEL_BTNGet);
                      atClick = sim->requestCount();
                  });
    schedule.when([&] { return atClick > 0 && sim->requestCount() >= atClick + 3; },
                  [] { UserClick(pHandle, PANEL_BTNStop); });
    schedule.safetyStop(20.0);

    UserClick(pHandle, PANEL_BTNRun);

    EXPECT_FALSE(schedule.safetyFired());
    EXPECT_EQ(getDimmed, 1);
    for (const kvorsim::Request &r : sim->requests()) EXPECT_EQ(r.command, 8);
    EXPECT_EQ(parameter.set0[7], toleranceBefore);
}

TEST_F(ButtonTest, StopFromTheKeyboardLeavesRunRunningAClickEndsIt) {
    sim->setRawOverride(kRaw);
    size_t atCommit = 0;
    int stopAfterCommit = -1;
    int runDimmedDuringLoop = -1;
    schedule.when([&] { return sim->requestCount() >= 3; },
                  [&] {
                      runDimmedDuringLoop = Dimmed(PANEL_CMDBTN13);
                      UserCommit(pHandle, PANEL_BTNStop);
                      stopAfterCommit = stop_flag;
                      atCommit = sim->requestCount();
                  });
    schedule.when([&] { return atCommit > 0 && sim->requestCount() >= atCommit + 3; },
                  [] { UserClick(pHandle, PANEL_BTNStop); });
    schedule.safetyStop(20.0);

    UserClick(pHandle, PANEL_BTNRun); // returns when the loop has ended

    EXPECT_FALSE(schedule.safetyFired());
    EXPECT_EQ(runDimmedDuringLoop, 1);
    EXPECT_EQ(stopAfterCommit, 0);
    EXPECT_GE(sim->requestCount(), atCommit + 3);
    EXPECT_EQ(stop_flag, 1);
    EXPECT_EQ(Dimmed(PANEL_CMDBTN11), 0);
    EXPECT_EQ(Dimmed(PANEL_CMDBTN13), 0);
    EXPECT_EQ(Dimmed(PANEL_CMDBTN3), 0);
    // Nothing goes out once the loop has ended.
    const size_t after = sim->requestCount();
    EXPECT_FALSE(WaitUntil([&] { return sim->requestCount() > after + 1; }, 0.3));
}

TEST_F(ButtonTest, StopCommitReleasesTheButtonsWithoutStopping) {
    stop_flag = 0;
    SetCtrlAttribute(pHandle, PANEL_CMDBTN11, ATTR_DIMMED, 1);
    SetCtrlAttribute(pHandle, PANEL_CMDBTN13, ATTR_DIMMED, 1);
    SetCtrlAttribute(pHandle, PANEL_CMDBTN3, ATTR_DIMMED, 1);
    EXPECT_EQ(CC_BTNStop(pHandle, PANEL_BTNStop, EVENT_COMMIT, nullptr, 0, 0), 0);
    EXPECT_EQ(stop_flag, 0);
    EXPECT_EQ(Dimmed(PANEL_CMDBTN11), 0);
    EXPECT_EQ(Dimmed(PANEL_CMDBTN13), 0);
    EXPECT_EQ(Dimmed(PANEL_CMDBTN3), 0);
    EXPECT_EQ(CC_BTNStop(pHandle, PANEL_BTNStop, EVENT_LEFT_CLICK, nullptr, 0, 0), 0);
    EXPECT_EQ(stop_flag, 1);
}

TEST_F(ButtonTest, ClosingTheMainWindowEndsRun) {
    sim->setRawOverride(kRaw);
    schedule.when([&] { return sim->requestCount() >= 3; }, [] { UserClosePanel(pHandle); });
    schedule.safetyStop(20.0);

    UserClick(pHandle, PANEL_BTNRun);

    EXPECT_FALSE(schedule.safetyFired());
    EXPECT_EQ(stop_flag, 1);
    const size_t after = sim->requestCount();
    EXPECT_FALSE(WaitUntil([&] { return sim->requestCount() > after + 1; }, 0.3));
}

TEST_F(ButtonTest, PortChangeEndsRunAndRepeatsTheStartUpExchange) {
    sim->setRawOverride(kRaw);
    SetComPortDevice(2, sim->devicePath());
    schedule.when([&] { return sim->requestCount() >= 3; }, [] { UserSetValue(pHandle, PANEL_DropDCom, 2); });
    schedule.safetyStop(30.0);

    UserClick(pHandle, PANEL_BTNRun);

    EXPECT_FALSE(schedule.safetyFired());
    EXPECT_EQ(com, 2);
    EXPECT_EQ(stop_flag, 1);
    // The RUN requests, then the start-up exchange on the new port (its sequence is checked by
    // the start-up tests), and no RUN request after it began.
    bool exchangeBegan = false;
    for (const kvorsim::Request &r : sim->requests()) {
        if (r.command == 5) exchangeBegan = true;
        if (r.command == 8) {
            EXPECT_FALSE(exchangeBegan) << "a RUN request after the port change";
        }
    }
    EXPECT_TRUE(exchangeBegan);
    EXPECT_EQ(StatusText(), "K-VOR-RN SIM firmware 3.00");
}

TEST_F(ButtonTest, PortChangeWhenIdle) {
    SetComPortDevice(2, sim->devicePath());
    SetCtrlVal(pHandle, PANEL_DropDCom, 2);
    EXPECT_EQ(CC_DropDCom(pHandle, PANEL_DropDCom, EVENT_COMMIT, nullptr, 0, 0), 0);
    EXPECT_EQ(com, 2);
    // The exchange ran to its end on the new port: it ends on the firmware text.
    EXPECT_EQ(CountCommand(*sim, 5), 1u);
    EXPECT_EQ(StatusText(), "K-VOR-RN SIM firmware 3.00");
}

// --- VIDEO ----------------------------------------------------------------------------------

TEST_F(ButtonTest, ButtonsAndMemoryTargetDuringAndAfterEachLoop) {
    // {RUN, GET, VIDEO} dimmed, while the loop runs and once it has ended. Every loop starts with
    // the EEPROM radio on and measures RAM: only the RAM radio may be on from then on. GET is
    // clicked during the loop; dimmed, it must send nothing (it would take a raw-data answer
    // for a parameter set).
    struct Case {
        const char *name;
        int button;
        bool endsBySilence; // the sensor stops answering instead of the operator clicking STOP
        std::vector<int> during, after;
    };
    const Case cases[] = {
        {"RUN ended by STOP", PANEL_BTNRun, false, {1, 1, 0}, {0, 0, 0}},
        {"RUN ended by a time-out", PANEL_BTNRun, true, {1, 1, 0}, {0, 0, 0}},
        {"VIDEO ended by STOP", PANEL_BTNVideo, false, {1, 1, 1}, {0, 0, 0}},
        {"VIDEO ended by a time-out", PANEL_BTNVideo, true, {1, 1, 1}, {0, 0, 0}},
    };
    sim->setRawOverride(kRaw);
    auto buttons = [] { return std::vector<int>{Dimmed(PANEL_BTNRun), Dimmed(PANEL_BTNGet), Dimmed(PANEL_BTNVideo)}; };
    for (const Case &c : cases) {
        SCOPED_TRACE(c.name);
        for (int b : {PANEL_BTNRun, PANEL_BTNGet, PANEL_BTNVideo})
            SetCtrlAttribute(pHandle, b, ATTR_DIMMED, 0);
        sim->clearFaults();
        sim->clearRequests();
        UserClick(pHandle, PANEL_RBTEeprom);
        ASSERT_EQ(target, EEPROM);
        ASSERT_EQ(Radios(), (std::vector<int>{0, 1, 0}));

        std::vector<int> during, radiosDuring;
        int targetDuring = 0;
        Schedule loop;
        loop.when([&] { return sim->requestCount() >= 6; },
                  [&] {
                      during = buttons();
                      radiosDuring = Radios();
                      targetDuring = target;
                      UserClick(pHandle, PANEL_BTNGet);
                      if (c.endsBySilence) {
                          kvorsim::Fault drop;
                          drop.kind = kvorsim::Fault::Drop;
                          drop.command = 8;
                          drop.count = -1;
                          sim->inject(drop);
                      } else {
                          UserClick(pHandle, PANEL_BTNStop);
                      }
                  });
        loop.safetyStop(20.0);

        UserClick(pHandle, c.button);

        EXPECT_FALSE(loop.safetyFired());
        EXPECT_EQ(during, c.during);
        EXPECT_EQ(buttons(), c.after);
        EXPECT_EQ(radiosDuring, (std::vector<int>{1, 0, 0}));
        EXPECT_EQ(targetDuring, RAM);
        EXPECT_EQ(Radios(), (std::vector<int>{1, 0, 0}));
        EXPECT_EQ(target, RAM);
        if (c.endsBySilence) {
            EXPECT_EQ(StatusText(), "Timeout RS232-Line!");
        }
        const std::vector<int> sent = Commands(*sim);
        EXPECT_EQ(std::count(sent.begin(), sent.end(), 2) + std::count(sent.begin(), sent.end(), 4), 0)
            << "GET went out during the loop";
    }
}

// --- SEND -----------------------------------------------------------------------------------

TEST_F(ButtonTest, SendWritesBothSetsApartThenReadsThemBack) {
    for (int which : {RAM, EEPROM}) {
        sim->clearRequests();
        target = which;
        SetCtrlVal(pPara2, PARA2_P00, 333u); // the panels are what goes out
        parameter.set1[3] = 99;
        CopyText(szStatus, "");
        SetCtrlVal(pHandle, PANEL_STATUS, "");

        UserClick(pHandle, PANEL_BTNSend);

        EXPECT_EQ(parameter.set0[0], 333);
        const std::vector<uint16_t> set0 = PacketOf(0);
        const std::vector<uint16_t> set1 = PacketOf(1);
        // The two writes, 0.1 s apart and unanswered, then both sets read back from the same memory.
        ASSERT_TRUE(sim->waitForRequests(4, 5.0));
        EXPECT_FALSE(WaitUntil([&] { return sim->requestCount() > 4; }, 0.2));
        std::vector<kvorsim::Request> log = sim->requests();
        ASSERT_EQ(log.size(), 4u);
        const uint16_t command = (which == EEPROM) ? 3 : 1;
        EXPECT_EQ(log[2].command, command + 1);
        EXPECT_EQ(log[3].command, command + 1);
        EXPECT_EQ(log[2].argument, 0);
        EXPECT_EQ(log[3].argument, 1);
        EXPECT_EQ(log[0].command, command);
        EXPECT_EQ(log[1].command, command);
        EXPECT_EQ(log[0].argument, 0);
        EXPECT_EQ(log[1].argument, 1);
        EXPECT_EQ(std::vector<uint16_t>(log[0].values, log[0].values + 15), set0);
        EXPECT_EQ(std::vector<uint16_t>(log[1].values, log[1].values + 15), set1);
        EXPECT_GE(log[1].time - log[0].time, 0.09);
        EXPECT_EQ(StatusText(), "Parameter set written and verified");
    }
    // What was written to RAM is what the sensor now holds.
    uint16_t ram0[15];
    sim->ramSet(0, ram0);
    EXPECT_EQ(ram0[0], 333);
}

TEST_F(ButtonTest, SendToFileCancelledWritesNothing) {
    UserClick(pHandle, PANEL_RBTFile);
    ASSERT_EQ(target, DATFILE);
    PresetFileSelectAnswer(0, "");
    file_name.clear();

    UserClick(pHandle, PANEL_BTNSend);

    EXPECT_EQ(StatusText(), "Transmit...");
    FileSelectRequest asked = LastFileSelectRequest();
    EXPECT_EQ(asked.directory, proj_dir);
    EXPECT_EQ(asked.fileName, "KVORpara.cfg");
    EXPECT_EQ(asked.filter, "*.cfg");
    EXPECT_EQ(asked.title, "K-VOR-MZ-Series Parameter File");
    EXPECT_EQ(asked.buttonLabel, VAL_OK_BUTTON);
    EXPECT_EQ(asked.restrictDirectory, 0);
    EXPECT_EQ(asked.restrictExtension, 1);
    EXPECT_EQ(asked.allowCancel, 1);
    EXPECT_EQ(asked.allowMakeDirectory, 1);
    EXPECT_FALSE(WaitUntil([&] { return sim->requestCount() > 0; }, 0.3));

    // A chosen file receives both sets; still no frame, still "Transmit...".
    const std::string path = TempPath("kvor-send-test.cfg");
    std::remove(path.c_str());
    SetCtrlVal(pPara2, PARA2_Setpoint, 1234u);
    PresetFileSelectAnswer(VAL_NEW_FILE_SELECTED, path);
    UserClick(pHandle, PANEL_BTNSend);
    EXPECT_EQ(StatusText(), "Transmit...");
    unsigned int values[30] = {0};
    ASSERT_EQ(FileToArray(path.c_str(), values, VAL_UNSIGNED_INTEGER, 30, 1, VAL_GROUPS_TOGETHER,
                          VAL_GROUPS_AS_COLUMNS, VAL_ASCII),
              0);
    EXPECT_EQ(values[6], 1234u);
    EXPECT_EQ(sim->requestCount(), 0u);
    std::remove(path.c_str());
}

// --- GET ------------------------------------------------------------------------------------

TEST_F(ButtonTest, GetReadsBothSetsFromTheTarget) {
    for (int which : {RAM, EEPROM}) {
        sim->clearRequests();
        target = which;
        UserClick(pHandle, PANEL_BTNGet);
        std::vector<kvorsim::Request> log = sim->requests();
        ASSERT_EQ(log.size(), 2u);
        const uint16_t command = (which == EEPROM) ? 4 : 2;
        EXPECT_EQ(log[0].command, command);
        EXPECT_EQ(log[1].command, command);
        EXPECT_EQ(log[0].argument, 0);
        EXPECT_EQ(log[1].argument, 1);
        EXPECT_GE(log[1].time - log[0].time, 0.09);
        EXPECT_EQ(StatusText(), "Parameter-frame received! - Line Ok!");
    }
    uint16_t eeprom0[15];
    sim->eepromSet(0, eeprom0);
    unsigned short setpoint = 0;
    GetCtrlVal(pPara2, PARA2_Setpoint, &setpoint);
    EXPECT_EQ(setpoint, eeprom0[6]);
}

TEST_F(ButtonTest, GetFromFileSendsNothingAndShowsTheFile) {
    unsigned int values[30] = {0};
    for (int i = 0; i < 30; ++i)
        values[i] = 10u + static_cast<unsigned int>(i);
    values[6] = 2222;   // setpoint
    values[7] = 50;     // tolerance
    values[26] = 24576; // scale 1.5
    values[27] = 0;
    const std::string path = TempPath("kvor-get-test.cfg");
    ASSERT_EQ(ArrayToFile(path.c_str(), values, VAL_UNSIGNED_INTEGER, 30, 1, VAL_GROUPS_TOGETHER,
                          VAL_GROUPS_AS_COLUMNS, VAL_SEP_BY_COMMA, 10, VAL_ASCII, VAL_TRUNCATE),
              0);
    UserClick(pHandle, PANEL_RBTFile);
    PresetFileSelectAnswer(VAL_EXISTING_FILE_SELECTED, path);

    UserClick(pHandle, PANEL_BTNGet);

    EXPECT_FALSE(WaitUntil([&] { return sim->requestCount() > 0; }, 0.3));
    EXPECT_EQ(parameter.set0[6], 2222);
    unsigned short setpoint = 0;
    GetCtrlVal(pPara2, PARA2_Setpoint, &setpoint);
    EXPECT_EQ(setpoint, 2222);
    float scale = 0;
    GetCtrlVal(pCalib, CALIB_Scale, &scale);
    EXPECT_FLOAT_EQ(scale, 1.5f);
    // No exchange, so the status line shows again what szStatus held.
    EXPECT_EQ(StatusText(), std::string(szStatus));
    EXPECT_NE(StatusText(), "Timeout-RS-232...");
    std::remove(path.c_str());
}

// --- memory target --------------------------------------------------------------------------

TEST_F(ProgramTest, MemoryTargetRadioButtonsStayExclusive) {
    struct Step {
        int click;
        int target;
        std::vector<int> radios;
    } steps[] = {
        {PANEL_RBTRam, RAM, {1, 0, 0}},       // switching RAM off switches it straight back on
        {PANEL_RBTEeprom, EEPROM, {0, 1, 0}}, // on
        {PANEL_RBTEeprom, RAM, {1, 0, 0}},    // off: back to RAM
        {PANEL_RBTFile, DATFILE, {0, 0, 1}},  // on
        {PANEL_RBTFile, RAM, {1, 0, 0}},      // off: back to RAM
        {PANEL_RBTFile, DATFILE, {0, 0, 1}},
        {PANEL_RBTEeprom, EEPROM, {0, 1, 0}}, // from file straight to EEPROM
        {PANEL_RBTRam, RAM, {1, 0, 0}},       // and back to RAM
    };
    ASSERT_EQ(Radios(), (std::vector<int>{1, 0, 0}));
    for (const Step &s : steps) {
        UserClick(pHandle, s.click);
        EXPECT_EQ(target, s.target) << "click on " << s.click;
        EXPECT_EQ(Radios(), s.radios) << "click on " << s.click;
    }
}

TEST_F(ProgramTest, RunAndVideoWithoutSensorSelectRamAndTimeOut) {
    // No port is open: the first raw-data request goes nowhere. The clock moves on 0.4 s with
    // every reading, so each wait runs into its time-out at once.
    SetTimerFunction(+[] {
        static double now = 1000.0;
        return now += 0.4;
    });
    UserClick(pHandle, PANEL_RBTFile);
    ASSERT_EQ(target, DATFILE);
    UserClick(pHandle, PANEL_BTNRun);
    EXPECT_EQ(target, RAM);
    EXPECT_EQ(Radios(), (std::vector<int>{1, 0, 0}));
    EXPECT_EQ(StatusText(), "Timeout RS232-Line!");
    EXPECT_EQ(stop_flag, 1);
    // However RUN ended, the program is idle again: RUN, GET and VIDEO are all available.
    EXPECT_EQ(Dimmed(PANEL_CMDBTN13), 0);
    EXPECT_EQ(Dimmed(PANEL_CMDBTN11), 0);
    EXPECT_EQ(Dimmed(PANEL_CMDBTN3), 0);

    UserClick(pHandle, PANEL_RBTFile);
    ASSERT_EQ(target, DATFILE);
    UserClick(pHandle, PANEL_BTNVideo);
    EXPECT_EQ(target, RAM);
    EXPECT_EQ(Radios(), (std::vector<int>{1, 0, 0}));
    EXPECT_EQ(StatusText(), "Timeout RS232-Line!");
    EXPECT_EQ(stop_flag, 1);
    // VIDEO releases all three itself.
    EXPECT_EQ(Dimmed(PANEL_CMDBTN13), 0);
    EXPECT_EQ(Dimmed(PANEL_CMDBTN11), 0);
    EXPECT_EQ(Dimmed(PANEL_CMDBTN3), 0);
}

TEST_F(ProgramTest, CallbacksIgnoreEventsTheyDoNotHandle) {
    struct Entry {
        CtrlCallbackPtr callback;
        int panel;
        int control;
        int ignored;
    };
    const Entry entries[] = {
        {CC_BTNRun, pHandle, PANEL_BTNRun, EVENT_LEFT_CLICK},
        {CC_BTNStop, pHandle, PANEL_BTNStop, EVENT_VAL_CHANGED},
        {CC_BTNVideo, pHandle, PANEL_BTNVideo, EVENT_LEFT_CLICK},
        {CC_BTNSend, pHandle, PANEL_BTNSend, EVENT_LEFT_CLICK},
        {CC_BTNGet, pHandle, PANEL_BTNGet, EVENT_LEFT_CLICK},
        {CC_RBTRam, pHandle, PANEL_RBTRam, EVENT_COMMIT},
        {CC_RBTEeprom, pHandle, PANEL_RBTEeprom, EVENT_COMMIT},
        {CC_RBTFile, pHandle, PANEL_RBTFile, EVENT_COMMIT},
        {CC_DropDCom, pHandle, PANEL_DropDCom, EVENT_VAL_CHANGED},
        {CC_ButtonTeach, pHandle, PANEL_ButtonTeach, EVENT_LEFT_CLICK},
        {CC_ButtonReset, pHandle, PANEL_ButtonReset, EVENT_LEFT_CLICK},
        {CC_NEDITEdgeLeft, pHandle, PANEL_NEDITEdgeLeft, EVENT_VAL_CHANGED},
        {CC_NEDITEdgeRight, pHandle, PANEL_NEDITEdgeRight, EVENT_VAL_CHANGED},
        {CC_NEDITTolerance, pPara1, PARA1_NEDITTolerance, EVENT_COMMIT},
        {CC_DROPHardware, pPara1, PARA1_DROPHardware, EVENT_VAL_CHANGED},
        {CC_SLIDEVideoThreshold, pPara2, PARA2_SLIDEVideoThreshold, EVENT_COMMIT},
        {CC_TOGGBTN_Para1, pHandle, PANEL_TOGGBTN_Para1, EVENT_VAL_CHANGED},
        {CC_TOGGBTN_Para2, pHandle, PANEL_TOGGBTN_Para2, EVENT_VAL_CHANGED},
        {CC_TOGGBTN_Calib, pHandle, PANEL_TOGGBTN_Calib, EVENT_VAL_CHANGED},
        {CC_TOGGBTN_Recorder, pHandle, PANEL_TOGGBTN_Recorder, EVENT_LEFT_CLICK},
    };
    SetCtrlVal(pHandle, PANEL_STATUS, "untouched");
    SetCtrlVal(pHandle, PANEL_RBTRam, 0);
    SetCtrlVal(pHandle, PANEL_NEDITEdgeLeft, 60000u);
    SetCtrlVal(pHandle, PANEL_TOGGBTN_Para2, 1);
    SetCtrlVal(pHandle, PANEL_TOGGBTN_Recorder, 1);
    SetCtrlVal(pHandle, PANEL_TOLVALUE, 9.0);
    thdArray[0] = 7;
    stop_flag = 0;
    const int comBefore = com;
    for (const Entry &e : entries) {
        for (int event : {e.ignored, static_cast<int>(EVENT_NONE), 99}) {
            EXPECT_EQ(e.callback(e.panel, e.control, event, nullptr, 0, 0), 0);
        }
    }
    EXPECT_EQ(StatusText(), "untouched");
    EXPECT_EQ(stop_flag, 0);
    EXPECT_EQ(target, RAM);
    EXPECT_EQ(com, comBefore);
    EXPECT_EQ(Radio(PANEL_RBTRam), 0);
    unsigned short edge = 0;
    GetCtrlVal(pHandle, PANEL_NEDITEdgeLeft, &edge);
    EXPECT_EQ(edge, 60000);
    EXPECT_EQ(Radio(PANEL_TOGGBTN_Para2), 1);
    EXPECT_FALSE(PanelVisible(pPopup));
    double tolmm = 0;
    GetCtrlVal(pHandle, PANEL_TOLVALUE, &tolmm);
    EXPECT_EQ(tolmm, 9.0);
    EXPECT_EQ(thdArray[0], 7);
}
