// Trust during RUN and VIDEO: every request keeps its own answer, VIDEO takes over from RUN,
// nothing stale looks live, a reset shows its state, a cancelled file GET changes nothing.
#include <gtest/gtest.h>

#include "state.h"

#include <QDir>
#include <QTemporaryDir>

#include <algorithm>
#include <string>
#include <vector>

#include "../measure/loop_helpers.h"
#include "K-VOR-RNZazorU30.h"
#include "com232.h"
#include "exchange.h"
#include "fixtures.h"
#include "measure.h"
#include "params.h"
#include "testhooks.h"
#include "userint.h"
#include "utility.h"

namespace {

// Ledge, Redge, Mvalue 1000 (1.234 mm), setpoint 990, tol 50, two edges, analog max 1700, min 300.
const uint16_t kRaw[16] = {900, 1100, 1000, 1234, 0, 990, 50, 2, 0, 0, 0, 1700, 300, 0, 0, 0};
constexpr int kStale = 0xC8CCD0;

int BackgroundOf(int control) {
    int colour = -1;
    GetCtrlAttribute(pHandle, control, ATTR_TEXT_BGCOLOR, &colour);
    return colour;
}

std::vector<uint16_t> SimSet(const kvorsim::Simulator &sim, int set) {
    uint16_t w[15];
    sim.ramSet(set, w);
    return std::vector<uint16_t>(w, w + 15);
}

class TrustTest : public SensorTest {
  protected:
    void SetUp() override {
        SensorTest::SetUp();
        if (HasFatalFailure()) return;
        Connect();
        sim->setRawOverride(kRaw);
    }
    Schedule schedule;
};

} // namespace

TEST_F(TrustTest, TeachDuringRunKeepsBothSetsTheSensorsOwn) {
    // The sensor's answer to the teach carries words unlike a parameter set; the raw answers of
    // RUN are on the line all the while. Neither may end up as a parameter set.
    std::vector<uint8_t> odd = kvorsim::BuildFrame(0x00AA, 6, 0, std::vector<uint16_t>(15, 0xEEEE).data());
    kvorsim::Fault f;
    f.kind = kvorsim::Fault::Replace;
    f.command = 6;
    f.data = odd;
    size_t teachAt = 0;
    schedule.when([&] { return sim->requestCount() >= 3; },
                  [&] {
                      sim->inject(f);
                      UserClick(pHandle, PANEL_ButtonTeach);
                      teachAt = sim->requestCount();
                  });
    schedule.when([&] { return teachAt > 0 && CountCommand(*sim, 2) >= 2 && sim->requestCount() >= teachAt + 5; },
                  [] { UserClick(pHandle, PANEL_BTNStop); });
    schedule.safetyStop(20.0);
    UserClick(pHandle, PANEL_BTNRun);
    ASSERT_FALSE(schedule.safetyFired());

    // The teach went out between two RUN exchanges, then its re-read, then RUN again.
    const std::vector<int> commands = Commands(*sim);
    const std::vector<int> teach = {8, 6, 2, 2, 8};
    EXPECT_NE(std::search(commands.begin(), commands.end(), teach.begin(), teach.end()), commands.end());
    const std::vector<uint16_t> afterTeach0 = SimSet(*sim, 0), afterTeach1 = SimSet(*sim, 1);
    EXPECT_EQ(afterTeach0[6], 1000) << "the sensor took the measured value as its setpoint";
    // SEND to RAM writes back exactly what the sensor holds (the setpoint the panels show is the
    // one RUN last reported, which the sensor now works with).
    sim->clearRequests();
    UserClick(pHandle, PANEL_BTNSend);
    ASSERT_TRUE(sim->waitForRequests(2, 5.0));
    EXPECT_EQ(SimSet(*sim, 0), afterTeach0);
    EXPECT_EQ(SimSet(*sim, 1), afterTeach1);
    EXPECT_NE(parameter.set0[3], 0xEEEE);
}

TEST_F(TrustTest, TeachClickedWhileGetWaitsLeavesBothSetsTheSensorsOwn) {
    // The teach runs at once (no loop runs), inside the wait of GET's set 0, whose answer never
    // comes. Its re-read of both sets must not pass for GET's set 0.
    std::vector<uint16_t> set1(15);
    for (size_t i = 0; i < set1.size(); ++i)
        set1[i] = static_cast<uint16_t>(0x4320 + i);
    sim->setRamSet(1, set1.data());
    kvorsim::Fault drop;
    drop.kind = kvorsim::Fault::Drop;
    drop.command = CMD_READ_RAM;
    sim->inject(drop);
    target = RAM;
    schedule.when([&] { return CountCommand(*sim, CMD_READ_RAM) >= 1 && AwaitedCommand() == CMD_READ_RAM; },
                  [] { UserClick(pHandle, PANEL_ButtonTeach); });
    schedule.safetyStop(20.0);

    UserClick(pHandle, PANEL_BTNGet);

    // GET's set 0 (dropped), the teach and its re-read, GET's set 1.
    EXPECT_EQ(Commands(*sim), (std::vector<int>{2, 6, 2, 2, 2}));
    EXPECT_EQ(std::vector<uint16_t>(parameter.set0, parameter.set0 + 15), SimSet(*sim, 0));
    EXPECT_EQ(PacketOf(1), SimSet(*sim, 1));
    EXPECT_EQ(SimSet(*sim, 0)[6], 1000) << "the sensor took the measured value as its setpoint";
}

TEST_F(TrustTest, TeachAndResetDuringVideoRunBetweenWholePasses) {
    for (int button : {PANEL_ButtonTeach, PANEL_ButtonReset}) {
        SCOPED_TRACE(button == PANEL_ButtonTeach ? "teach" : "reset");
        sim->clearRequests();
        bool clicked = false;
        schedule.when([&] { return CountCommand(*sim, 9) >= 5; },
                      [&] {
                          UserClick(pHandle, button);
                          clicked = true;
                      });
        schedule.when([&] { return clicked && CountCommand(*sim, 8) >= 4; }, [] { UserClick(pHandle, PANEL_BTNStop); });
        schedule.safetyStop(20.0);
        UserClick(pHandle, PANEL_BTNVideo);
        ASSERT_FALSE(schedule.safetyFired());
        EXPECT_NE(StatusText(), "Timeout RS232-Line!");
        EXPECT_NE(StatusText(), "Timeout-RS-232 while reading 64 data-words!");
        // Every pass whole: a raw-data request and four blocks; the operation only between passes.
        const std::vector<int> c = Commands(*sim);
        const std::vector<int> expected =
            button == PANEL_ButtonTeach ? std::vector<int>{9, 6, 2, 2, 8} : std::vector<int>{9, 11, 8};
        EXPECT_NE(std::search(c.begin(), c.end(), expected.begin(), expected.end()), c.end());
        for (size_t i = 0; i < c.size(); ++i)
            if (c[i] == 8 && i + 4 < c.size() && c[i + 4] != 6 && c[i + 4] != 11 && i + 4 < c.size() - 1) {
                EXPECT_EQ(std::count(c.begin() + static_cast<long>(i) + 1, c.begin() + static_cast<long>(i) + 5, 9), 4)
                    << "pass at request " << i;
            }
    }
}

TEST_F(TrustTest, VideoDuringRunTakesOverWithWholePassesAndNoTimeOut) {
    bool switched = false;
    schedule.when([&] { return sim->requestCount() >= 4; },
                  [&] {
                      UserClick(pHandle, PANEL_BTNVideo);
                      switched = true;
                  });
    schedule.when([&] { return switched && CountCommand(*sim, 9) >= 12; }, [] { UserClick(pHandle, PANEL_BTNStop); });
    schedule.safetyStop(20.0);
    UserClick(pHandle, PANEL_BTNRun);
    ASSERT_FALSE(schedule.safetyFired());
    EXPECT_NE(StatusText(), "Timeout RS232-Line!");
    EXPECT_NE(StatusText(), "Timeout-RS-232 while reading 64 data-words!");
    // After the switch: 8, then blocks 0, 64, 128, 192, again and again.
    const std::vector<kvorsim::Request> log = sim->requests();
    size_t first9 = 0;
    while (first9 < log.size() && log[first9].command != 9) ++first9;
    ASSERT_GE(first9, 1u);
    size_t passes = 0;
    for (size_t i = first9 - 1; i + 4 < log.size(); i += 5) {
        ASSERT_EQ(log[i].command, 8) << i;
        for (int b = 0; b < 4; ++b) {
            EXPECT_EQ(log[i + 1 + b].command, 9) << i;
            EXPECT_EQ(log[i + 1 + b].argument, 64 * b) << i;
        }
        ++passes;
    }
    EXPECT_GE(passes, 3u);
    int visible = -1;
    GetCtrlAttribute(pHandle, PANEL_VIDEOGRAPH, ATTR_VISIBLE, &visible);
    EXPECT_EQ(visible, 1);
}

TEST_F(TrustTest, ValuesNotFromALiveAnswerAreGreyAndTheButtonsIdle) {
    EXPECT_EQ(BackgroundOf(PANEL_MVALUE), kStale) << "before any answer";
    bool sawLive = false;
    schedule.when([&] { return sim->requestCount() >= 4; },
                  [&] {
                      sawLive = BackgroundOf(PANEL_MVALUE) == VAL_DK_GREEN;
                      sim->disconnectAfter(0); // the device goes away mid-RUN
                  });
    schedule.safetyStop(20.0);
    UserClick(pHandle, PANEL_BTNRun);
    ASSERT_FALSE(schedule.safetyFired());
    EXPECT_TRUE(sawLive) << "an answer inside the band shows green";
    EXPECT_EQ(StatusText(), "Timeout RS232-Line!");
    EXPECT_EQ(BackgroundOf(PANEL_MVALUE), kStale) << "the last value no longer looks live";
    int dimmed = -1;
    for (int control : {PANEL_BTNRun, PANEL_BTNGet, PANEL_BTNVideo}) {
        GetCtrlAttribute(pHandle, control, ATTR_DIMMED, &dimmed);
        EXPECT_EQ(dimmed, 0) << control;
    }
}

TEST_F(TrustTest, ResetWhileStoppedShowsTheExtremesClearedUntilTheNextAnswer) {
    schedule.when([&] { return sim->requestCount() >= 3; }, [] { UserClick(pHandle, PANEL_BTNStop); });
    UserClick(pHandle, PANEL_BTNRun);
    unsigned int max = 0, min = 0;
    GetCtrlVal(pHandle, PANEL_ANAMAX, &max);
    ASSERT_EQ(max, 1700u);
    UserClick(pHandle, PANEL_ButtonReset);
    EXPECT_EQ(StatusText(), "Reset of analog-output Max/Min OK!");
    GetCtrlVal(pHandle, PANEL_ANAMAX, &max);
    GetCtrlVal(pHandle, PANEL_ANAMIN, &min);
    EXPECT_EQ(max, 0u);
    EXPECT_EQ(min, 0u);
    int text = -1;
    GetCtrlAttribute(pHandle, PANEL_ANAMAX, ATTR_TEXT_COLOR, &text);
    EXPECT_EQ(text, VAL_GRAY);
}

TEST_F(TrustTest, ACancelledFileGetChangesNothing) {
    QTemporaryDir dir;
    const std::string path = dir.filePath("sets.cfg").toStdString();
    ASSERT_EQ(WriteParaFile(path), 0);
    UserClick(pHandle, PANEL_RBTFile);
    // A successful read first, then an edit on the panels, then a cancelled load.
    PresetFileSelectAnswer(VAL_EXISTING_FILE_SELECTED, path);
    UserClick(pHandle, PANEL_BTNGet);
    ASSERT_EQ(StatusText(), "Parameter file read");
    for (const char *before : {"Some other text", "Error writing parameter file!"}) {
        SetCtrlVal(pHandle, PANEL_STATUS, before);
        SetCtrlVal(pPara2, PARA2_P00, 321u);
        PresetFileSelectAnswer(VAL_NO_FILE_SELECTED, "");
        UserClick(pHandle, PANEL_BTNGet);
        EXPECT_EQ(StatusText(), before);
        unsigned short p00 = 0;
        GetCtrlVal(pPara2, PARA2_P00, &p00);
        EXPECT_EQ(p00, 321) << "the unsent edit stays";
    }
}

TEST_F(TrustTest, RunStartedRightAfterStopGetsItsFirstAnswer) {
    // At the line's pace the last request of a stopped RUN still has its answer on the way. A RUN
    // started at once must not meet that answer's tail and lose its own first answer.
    sim->setPacing(true);
    for (int round = 0; round < 8; ++round) {
        SCOPED_TRACE(round);
        const size_t start = sim->requestCount();
        // Stopped just after a request went out, while its answer is on the line.
        schedule.when([this, start] { return sim->requestCount() >= start + 3; }, [] { stop_flag = 1; });
        schedule.safetyStop(10.0);
        PushRUN();
        ASSERT_NE(StatusText(), "Timeout RS232-Line!");
        const size_t again = sim->requestCount();
        schedule.when([this, again] { return sim->requestCount() >= again + 2; }, [] { stop_flag = 1; });
        PushRUN();
        EXPECT_NE(StatusText(), "Timeout RS232-Line!") << "the first answer after the restart was lost";
        EXPECT_GE(sim->requestCount(), again + 2);
    }
}
