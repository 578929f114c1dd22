// The one time-out rule of every wait for the sensor: an answer that comes when exactly 1.5 s
// have passed is still taken; a moment later the wait has ended with its time-out. One table
// over every wait the program has, driven through the procedures and buttons that run them.
#include <gtest/gtest.h>

#include <functional>
#include <string>
#include <vector>

#include "../measure/loop_helpers.h"
#include "K-VOR-RNZazorU30.h"
#include "com232.h"
#include "fixtures.h"
#include "link_support.h"
#include "measure.h"
#include "rs232.h"
#include "state.h"
#include "userint.h"

namespace {

class TimeOutRule : public SensorTest {
  protected:
    void SetUp() override {
        SensorTest::SetUp();
        if (HasFatalFailure()) return;
        Connect();
    }
    void TearDown() override {
        FakeClock::remove();
        SensorTest::TearDown();
    }
};

std::vector<uint8_t> BlockOf(uint16_t first) {
    std::vector<uint8_t> bytes(128);
    for (int i = 0; i < 64; ++i) {
        bytes[2 * i] = static_cast<uint8_t>((first + i) >> 8);
        bytes[2 * i + 1] = static_cast<uint8_t>((first + i) & 0xFF);
    }
    return bytes;
}

} // namespace

TEST_F(TimeOutRule, ExactlyOneAndAHalfSecondsIsStillInTime) {
    struct Outcome {
        int result;       // what the procedure returned (-1: nothing to compare)
        const char *text; // the status line, or szStatus where the procedure shows nothing
    };
    struct Case {
        const char *name;
        int command;                     // the request whose own answer never comes (-1: none)
        std::vector<uint8_t> answer;     // what arrives instead at exactly 1.5 s
        std::function<int()> run;
        bool shown;                      // the outcome is on the status line (else in szStatus)
        Outcome answered, timedOut;
    };
    const std::vector<uint16_t> hardware = {1, 1024, 8, 101, 4096, 4, 1, 1024, 300, 37, 1024};
    const Case cases[] = {
        {"standard wait", -1, Frame(0x00AA, 2, 0, {7}),
         [] {
             rx_flag = 0;
             return WaitRxFull();
         },
         false, {1, "before"}, {0, "Timeout-RS-232..."}},
        {"line check", 5, Frame(0x00AA, 5, 0, {}), [] { return CheckComLine(com); }, true,
         {1, "Echo Check - Line Ok!"}, {0, "Timeout-RS-232..."}},
        {"hardware information", 10, Frame(0x00AA, 10, 1, hardware), [] { return GetHARDWAREInfo(); }, false,
         {1, "before"}, {0, "Timeout-RS-232..."}},
        {"GET", 2, Frame(0x00AA, 2, 0, {500}),
         [] {
             PushGET(RAM, 0);
             return -1;
         },
         true, {-1, "Parameter-frame received! - Line Ok!"}, {-1, "Timeout-RS-232..."}},
        {"raw-data request", 8, Frame(0x00AA, 8, 0, {900}), [] { return PushGETRAW(); }, true,
         {1, "Line Ok!"}, {0, "Timeout RS232-Line!"}},
        {"data block", 9, BlockOf(100),
         [] {
             RemoveRxNotification();
             FlushInQ(com);
             const int result = ReadData64(64, 0);
             InstallRxNotification();
             return result;
         },
         true, {1, "Data[64] block received!"}, {0, "Timeout-RS-232 while reading 64 data-words!"}},
        {"reset of the analog extremes", 11, Frame(0x00AA, 11, 0, {}),
         [] {
             UserClick(pHandle, PANEL_ButtonReset);
             return -1;
         },
         true, {-1, "Reset of analog-output Max/Min OK!"}, {-1, "Timeout-RS-232..."}},
        {"teach", 6, Frame(0x00AA, 6, 0, {}),
         [] {
             UserClick(pHandle, PANEL_ButtonTeach);
             return -1;
         },
         true, {-1, "Parameter-frame received! - Line Ok!"}, {-1, "Timeout RS232-Line!"}},
    };

    FakeClock::now = 1000.0;
    FakeClock::install();
    for (const Case &c : cases) {
        SCOPED_TRACE(c.name);
        sim->clearFaults();
        if (c.command >= 0) {
            kvorsim::Fault drop;
            drop.kind = kvorsim::Fault::Drop;
            drop.command = c.command;
            drop.count = 2;
            sim->inject(drop);
        }
        auto outcome = [&c] { return c.shown ? StatusText() : std::string(szStatus); };
        for (bool answer : {true, false}) {
            SCOPED_TRACE(answer ? "answer at exactly 1.5 s" : "no answer, clock just past 1.5 s");
            CopyText(szStatus, "before");
            SetCtrlVal(pHandle, PANEL_STATUS, "before");
            const double start = FakeClock::now;
            Schedule schedule;
            // A wait that never ends must not hang the run.
            schedule.after(10.0, [] { FakeClock::now += 100.0; });
            if (answer) {
                schedule.after(0.05, [] { FakeClock::now += 1.5; });
                schedule.after(0.15, [this, &c] { sim->sendUnsolicited(c.answer); });
            } else {
                schedule.after(0.05, [] { FakeClock::now += 1.5 + 1e-6; });
            }
            const int result = c.run();
            const Outcome &expected = answer ? c.answered : c.timedOut;
            if (expected.result >= 0) {
                EXPECT_EQ(result, expected.result);
            }
            EXPECT_EQ(outcome(), expected.text);
            EXPECT_LT(FakeClock::now, start + 50.0) << "the wait had to be ended from outside";
        }
    }
}
