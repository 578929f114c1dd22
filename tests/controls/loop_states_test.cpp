// A teach given during RUN while RUN's answer is late. (The buttons and the memory target during
// and after each loop are ButtonTest.ButtonsAndMemoryTargetDuringAndAfterEachLoop's.)
#include <gtest/gtest.h>

#include "state.h"

#include <algorithm>
#include <vector>

#include "../measure/loop_helpers.h"
#include "K-VOR-RNZazorU30.h"
#include "exchange.h"
#include "fixtures.h"
#include "measure.h"
#include "protocol.h"
#include "testhooks.h"
#include "userint.h"

namespace {

const uint16_t kRaw[16] = {900, 1100, 1000, 51234, 0, 1000, 50, 2, 0, 0, 0, 1700, 300, 0, 0, 0};

class LoopStates : public SensorTest {
  protected:
    void SetUp() override {
        SensorTest::SetUp();
        if (HasFatalFailure()) return;
        Connect();
        sim->setRawOverride(kRaw);
    }
};

} // namespace

TEST_F(LoopStates, TeachDuringRunWaitsForTheAnswerAndAStrayFrameIsNoParameterSet) {
    // The sensor answers RUN a little late, so the teach is clicked while an answer is on its
    // way. The teach waits for it: it goes out after that answer and before the next request, no
    // measurement is lost, and RUN goes on afterwards. While the teach reads the sets back, a
    // raw-data frame comes instead of set 0: it must not land in the parameter set (the panels and
    // the next SEND would carry measured values).
    uint16_t ram0[15];
    sim->ramSet(0, ram0);
    kvorsim::Fault late;
    late.kind = kvorsim::Fault::Delay;
    late.command = CMD_RAW_DATA;
    late.count = -1;
    late.seconds = 0.2;
    sim->inject(late);
    kvorsim::Fault stray;
    stray.kind = kvorsim::Fault::Replace;
    stray.command = CMD_READ_RAM;
    stray.data = SensorFrame(CMD_RAW_DATA, kRaw[0], kRaw + 1);
    sim->inject(stray);
    const unsigned long foreignBefore = ForeignFrames();
    size_t teachAt = 0;
    Schedule loop;
    loop.when([&] { return sim->requestCount() >= 3; },
              [&] {
                  teachAt = sim->requestCount();
                  UserClick(pHandle, PANEL_ButtonTeach);
              });
    loop.when([&] { return teachAt > 0 && sim->requestCount() >= teachAt + 6; },
              [] { UserClick(pHandle, PANEL_BTNStop); });
    loop.safetyStop(20.0);

    UserClick(pHandle, PANEL_BTNRun);

    EXPECT_FALSE(loop.safetyFired());
    // Only the stray frame was dropped: RUN's own answers all arrived where they were awaited.
    EXPECT_EQ(ForeignFrames() - foreignBefore, 1u);
    const std::vector<int> sent = Commands(*sim);
    const auto teach = std::find(sent.begin(), sent.end(), static_cast<int>(CMD_TEACH));
    ASSERT_NE(teach, sent.end());
    ASSERT_GT(teach - sent.begin(), 0);
    EXPECT_EQ(*(teach - 1), CMD_RAW_DATA);
    ASSERT_GE(sent.end() - teach, 4);
    EXPECT_EQ(std::vector<int>(teach + 1, teach + 4),
              (std::vector<int>{CMD_READ_RAM, CMD_READ_RAM, CMD_RAW_DATA}));
    // Set 0 is as the sensor holds it, apart from the setpoint that the teach and RUN's answers
    // bring.
    for (int k = 0; k < 15; ++k) {
        if (k == SET0_SETPOINT) continue;
        EXPECT_EQ(parameter.set0[k], ram0[k]) << "set 0 word " << k;
    }
    unsigned short tolerance = 0;
    GetCtrlVal(pPara1, PARA1_NEDITTolerance, &tolerance);
    EXPECT_EQ(tolerance, ram0[SET0_TOLERANCE]);
}
