// The edges of a whole run: the highest port number on the command line, and closing the window
// while RUN is running.
#include <gtest/gtest.h>

#include <memory>
#include <string>
#include <vector>

#include "K-VOR-RNZazorU30.h"
#include "fixtures.h"
#include "rs232.h"
#include "state.h"
#include "testhooks.h"
#include "userint.h"
#include "utility.h"

namespace {

int RunWhole(std::vector<std::string> args) {
    std::vector<char *> argv;
    for (std::string &a : args)
        argv.push_back(&a[0]);
    argv.push_back(nullptr);
    return KvorMain(static_cast<int>(args.size()), argv.data());
}

void OnceShown(std::function<void()> fn) {
    AfterDelay(0.02, [fn] {
        if (pHandle <= 0 || !PanelVisible(pHandle)) {
            OnceShown(fn);
            return;
        }
        fn();
    });
}

} // namespace

TEST(RunEdges, EveryPortNumberFromOneToTheHighestIsTakenOnTheCommandLine) {
    const std::string highest = std::to_string(MaxComPort());
    for (const std::vector<std::string> &args :
         {std::vector<std::string>{"kvor-zodid", "--com", "1", "--check"},
          std::vector<std::string>{"kvor-zodid", "--com", highest, "--check"},
          std::vector<std::string>{"kvor-zodid", "--com=" + highest, "--check"}}) {
        ::testing::internal::CaptureStdout();
        ::testing::internal::CaptureStderr();
        EXPECT_EQ(RunWhole(args), 0) << args[1] << " " << args.back();
        ::testing::internal::GetCapturedStdout();
        const std::string err = ::testing::internal::GetCapturedStderr();
        EXPECT_EQ(err.find("--com needs"), std::string::npos) << err;
    }
    ::testing::internal::CaptureStderr();
    EXPECT_EQ(RunWhole({"kvor-zodid", "--com", std::to_string(MaxComPort() + 1), "--check"}), -1);
    EXPECT_NE(::testing::internal::GetCapturedStderr().find("--com needs a port number from 1 to " + highest),
              std::string::npos);
    SetComPortDevice(1, "");
}

TEST(RunEdges, ClosingTheWindowEndsRunAtOnceNotByItsTimeOut) {
    // The program's clock stands still once the window is up, so RUN can never time out: only the
    // close can end it. A guard ends everything should the close not do so.
    auto finished = std::make_shared<bool>(false);
    auto guardFired = std::make_shared<bool>(false);
    bool closedWhileRunning = false;
    OnceShown([&] {
        FakeClock::now = Timer();
        FakeClock::install();
        AfterDelay(0.3, [&closedWhileRunning] {
            closedWhileRunning = stop_flag == 0;
            UserClosePanel(pHandle);
        });
        AfterDelay(15.0, [finished, guardFired] {
            if (*finished) return;
            *guardFired = true;
            stop_flag = 1;
            QuitUserInterface(0);
        });
        UserClick(pHandle, PANEL_BTNRun);
    });
    const int result = RunWhole({"kvor-zodid", "--simulate", "--no-settings"});
    *finished = true;
    FakeClock::remove();
    EXPECT_EQ(result, 0);
    EXPECT_TRUE(closedWhileRunning);
    EXPECT_FALSE(*guardFired) << "RUN went on after the window was closed";
    SetComPortDevice(1, "");
}
