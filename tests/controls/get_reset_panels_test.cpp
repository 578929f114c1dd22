// What GET from a file and RESET leave on the panels when the program is idle: a GET that reads
// no file keeps the operator's unsent edits, and RESET clears the extremes it shows.
#include <gtest/gtest.h>

#include "state.h"

#include <cstdio>
#include <string>
#include <vector>

#include "K-VOR-RNZazorU30.h"
#include "fixtures.h"
#include "protocol.h"
#include "testhooks.h"
#include "userint.h"
#include "utility.h"

namespace {

class GetResetPanels : public SensorTest {
  protected:
    void SetUp() override {
        SensorTest::SetUp();
        if (HasFatalFailure()) return;
        Connect();
    }
    void TearDown() override {
        ClearFileSelectAnswers();
        SensorTest::TearDown();
    }
};

unsigned short P00Shown() {
    unsigned short v = 0;
    GetCtrlVal(pPara2, PARA2_P00, &v);
    return v;
}

} // namespace

TEST_F(GetResetPanels, GetFromAFileThatIsNotReadKeepsTheUnsentEdits) {
    const std::string bad = ::testing::TempDir() + "/kvor-get-reset-bad.cfg";
    {
        std::FILE *f = std::fopen(bad.c_str(), "w");
        ASSERT_NE(f, nullptr);
        std::fputs("1\n2\nthree\n", f);
        std::fclose(f);
    }
    struct Case {
        const char *name;
        int answer;
        std::string path;
        const char *status; // what the status line says afterwards
    };
    const Case cases[] = {
        {"dialog cancelled", VAL_NO_FILE_SELECTED, "", "before the GET"},
        {"file not readable as a parameter file", VAL_EXISTING_FILE_SELECTED, bad,
         "Error reading parameter file!"},
    };
    UserClick(pHandle, PANEL_RBTFile);
    for (const Case &c : cases) {
        SCOPED_TRACE(c.name);
        ASSERT_EQ(target, DATFILE);
        const uint16_t recordP00 = parameter.set0[SET0_P00];
        const unsigned short edited = static_cast<unsigned short>(recordP00 == 333 ? 334 : 333);
        SetCtrlVal(pPara2, PARA2_P00, static_cast<unsigned int>(edited)); // typed, not sent
        SetCtrlVal(pHandle, PANEL_STATUS, "before the GET");
        sim->clearRequests();
        PresetFileSelectAnswer(c.answer, c.path);

        UserClick(pHandle, PANEL_BTNGet);

        EXPECT_EQ(P00Shown(), edited);
        EXPECT_EQ(parameter.set0[SET0_P00], recordP00);
        EXPECT_EQ(StatusText(), c.status);
        EXPECT_EQ(sim->requestCount(), 0u);
    }
    std::remove(bad.c_str());
}

TEST_F(GetResetPanels, ResetWhenIdleShowsTheExtremesCleared) {
    SetCtrlVal(pHandle, PANEL_ANAMAX, 1700u);
    SetCtrlVal(pHandle, PANEL_ANAMIN, 300u);

    UserClick(pHandle, PANEL_ButtonReset);

    unsigned int max = 1, min = 1;
    GetCtrlVal(pHandle, PANEL_ANAMAX, &max);
    GetCtrlVal(pHandle, PANEL_ANAMIN, &min);
    EXPECT_EQ(max, 0u);
    EXPECT_EQ(min, 0u);
    EXPECT_EQ(StatusText(), "Reset of analog-output Max/Min OK!");
}
