// The event loop: quitting from nested callbacks, waiting without spinning, delayed calls, clock.
#include <gtest/gtest.h>

#include <chrono>
#include <ctime>
#include <string>
#include <vector>

#include "testhooks.h"
#include "platform_test_util.h"
#include "userint.h"
#include "utility.h"

namespace {

const char *kLoop = R"({
 "panels": [
  {"resource_id": 1, "name": "L", "title": "Loop", "width": 300, "height": 200,
   "callback": "T_RecordPanel",
   "controls": [
    {"name": "GO", "kind": "command_button", "left": 10, "top": 10, "width": 80, "height": 26,
     "label": "GO", "callback": "T_Record"}
   ]}
 ]})";

class EventLoop : public ::testing::Test {
  protected:
    void SetUp() override {
        RegisterRecorders();
        h = LoadPanel(0, file.path().c_str(), 1);
        ASSERT_GT(h, 0);
        DisplayPanel(h);
    }
    void TearDown() override {
        g_onEvent = nullptr;
        SetTimerFunction(nullptr);
        if (h > 0) DiscardPanel(h);
    }
    PanelFile file{kLoop};
    int h = 0;
};

TEST_F(EventLoop, QuitFromANestedCallbackEndsTheLoopAfterTheCallbackReturns) {
    std::vector<std::string> trace;
    g_onEvent = [&](int panel, int control, int event) {
        if (control != 2 || event != EVENT_COMMIT) return;
        QuitUserInterface(7);
        trace.push_back("quit asked");
        // Events keep flowing in a nested wait after the request.
        bool nested = false;
        AfterDelay(0.01, [&] { nested = true; });
        PollUntil([&] { return nested; }, 5.0);
        trace.push_back(nested ? "nested events ran" : "nested events lost");
        (void)panel;
        trace.push_back("callback returns");
    };
    AfterDelay(0.01, [this] { UserClick(h, 2); });
    const int code = RunUserInterface();
    trace.push_back("loop returned");
    EXPECT_EQ(code, 7);
    EXPECT_EQ(trace, (std::vector<std::string>{"quit asked", "nested events ran", "callback returns",
                                               "loop returned"}));
}

// The operator may close the main window while start-up still waits for the sensor, before the
// loop runs: the loop then ends at once. A new set of panels starts without that request.
TEST_F(EventLoop, AQuitAskedBeforeTheLoopRunsEndsItAtOnce) {
    QuitUserInterface(3);
    EXPECT_EQ(RunUserInterface(), 3);
    QuitUserInterface(4);
    DiscardPanel(h);
    h = LoadPanel(0, file.path().c_str(), 1);
    ASSERT_GT(h, 0);
    bool ran = false;
    AfterDelay(0.02, [&] {
        ran = true;
        QuitUserInterface(5);
    });
    EXPECT_EQ(RunUserInterface(), 5);
    EXPECT_TRUE(ran);
}

TEST_F(EventLoop, TheCloseButtonCanEndTheLoop) {
    g_onEvent = [](int, int control, int event) {
        if (control == 0 && event == EVENT_CLOSE) QuitUserInterface(0);
    };
    AfterDelay(0.01, [this] { UserClosePanel(h); });
    EXPECT_EQ(RunUserInterface(), 0);
    EXPECT_EQ(Recorded().size(), 1u);
    EXPECT_TRUE(PanelVisible(h)); // closing is the program's business
}

TEST_F(EventLoop, WaitingForEventsDoesNotSpin) {
    for (int i = 0; i < 20; ++i)
        ProcessSystemEvents(); // let the shown window settle
    const std::clock_t cpu0 = std::clock();
    const auto wall0 = std::chrono::steady_clock::now();
    for (int i = 0; i < 40; ++i)
        ProcessSystemEvents();
    const double wall = std::chrono::duration<double>(std::chrono::steady_clock::now() - wall0).count();
    const double cpu = static_cast<double>(std::clock() - cpu0) / CLOCKS_PER_SEC;
    EXPECT_GT(wall, 0.2) << "an idle call waits for the next event, some 25 ms at most";
    EXPECT_LT(wall, 60.0) << "and then returns";
    EXPECT_LT(cpu, 0.5 * wall) << "cpu " << cpu << " s in " << wall << " s";
}

double g_fakeNow = 0.0;
double FakeNow() {
    return g_fakeNow;
}

// A wait with a time-out of its own sleeps until news comes or the time-out is due: not a pass
// every 25 ms. Counted in passes, not timed: a slow machine only makes fewer.
TEST_F(EventLoop, AWaitWithATimeOutWakesForNewsOrAtItsTimeOutOnly) {
    for (int i = 0; i < 20; ++i)
        ProcessSystemEvents(); // let the shown window settle
    const double deadline = Timer() + 0.3;
    int passes = 0;
    while (Timer() <= deadline && passes < 1000) {
        ProcessSystemEventsUntil(deadline);
        ++passes;
    }
    EXPECT_LE(Timer() - deadline, 1.0) << "it returned once the time-out was due";
    EXPECT_LE(passes, 3) << "a pass every 25 ms would take a dozen";

    // News ends a pass at once, and the next pass of the same wait goes on to its time-out.
    bool news = false;
    AfterDelay(0.02, [&] { news = true; });
    const double second = Timer() + 0.3;
    passes = 0;
    while (!news && passes < 1000) {
        ProcessSystemEventsUntil(second);
        ++passes;
    }
    EXPECT_TRUE(news);
    EXPECT_LT(Timer(), second) << "the news ended the pass before the time-out";
    while (Timer() <= second && passes < 1000) {
        ProcessSystemEventsUntil(second);
        ++passes;
    }
    EXPECT_LE(passes, 4);

    // With a replaced clock, which moves without an event, every pass is a short one.
    SetTimerFunction(&FakeNow);
    g_fakeNow = 0.0;
    const auto wall0 = std::chrono::steady_clock::now();
    ProcessSystemEventsUntil(3600.0);
    EXPECT_LT(std::chrono::duration<double>(std::chrono::steady_clock::now() - wall0).count(), 30.0);
    SetTimerFunction(nullptr);
}

TEST_F(EventLoop, DelayedCallsRunOnlyInsideEventProcessing) {
    bool ran = false;
    AfterDelay(0.0, [&] { ran = true; });
    Delay(0.02); // handles no events
    EXPECT_FALSE(ran);
    EXPECT_TRUE(PollUntil([&] { return ran; }, 2.0));

    // A precise timer: 30 ms comes after about 30 ms, not a coarse step later.
    bool late = false;
    const double t0 = Timer();
    double fired = 0.0;
    AfterDelay(0.03, [&] {
        late = true;
        fired = Timer();
    });
    ASSERT_TRUE(PollUntil([&] { return late; }, 2.0));
    EXPECT_GE(fired - t0, 0.025);
    EXPECT_LT(fired - t0, 0.5);
}

TEST_F(EventLoop, TheClockCanBeReplaced) {
    const double a = Timer();
    Delay(0.01);
    const double b = Timer();
    EXPECT_GE(b - a, 0.009);
    SetTimerFunction(&FakeNow);
    g_fakeNow = 1000.0;
    EXPECT_DOUBLE_EQ(Timer(), 1000.0);
    g_fakeNow = 1001.5;
    EXPECT_DOUBLE_EQ(Timer(), 1001.5);
    SetTimerFunction(nullptr);
    EXPECT_GE(Timer(), b);
}

} // namespace
