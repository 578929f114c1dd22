// A wait for the sensor processes events, so an operation the operator starts meanwhile (a
// teach, a SEND with its read-back, a port change) runs its own exchange inside it. The wait that
// was interrupted must not take that exchange's answer for its own.
#include <gtest/gtest.h>

#include <functional>
#include <string>
#include <vector>

#include "../measure/loop_helpers.h"
#include "com232.h"
#include "exchange.h"
#include "fixtures.h"
#include "link_support.h"
#include "state.h"

namespace {

// Set 1 as the simulated sensor holds it here: words unlike set 0 and unlike a hardware answer.
std::vector<uint16_t> Set1Words() {
    std::vector<uint16_t> w(15);
    for (int i = 0; i < 15; ++i)
        w[static_cast<size_t>(i)] = static_cast<uint16_t>(0x4320 + i);
    return w;
}

class NestedExchangeTest : public SensorTest {
  protected:
    void SetUp() override {
        SensorTest::SetUp();
        if (HasFatalFailure()) return;
        sim->setRamSet(1, Set1Words().data());
        Connect();
    }
};

} // namespace

TEST_F(NestedExchangeTest, AnInterruptedWaitNeverTakesTheAnswerOfTheExchangeInsideIt) {
    struct Case {
        const char *what;
        int command;                 // of the interrupted request; its own answer never comes
        std::function<int()> run;    // the interrupted operation; its result
        std::function<void()> check; // what it must have left as it was
    };
    const std::vector<uint16_t> set0Before(parameter.set0, parameter.set0 + 15);
    const uint16_t virtualPixelsBefore = ccdvirtpixel;
    const double lastPointBefore = xArray8[255];
    const std::vector<Case> cases = {
        {"parameter read", CMD_READ_RAM,
         [] {
             const int got = ExchangeParameterSet(CMD_READ_RAM, 0);
             if (got) CopyPPtoVars(0);
             return got;
         },
         [&] {
             EXPECT_EQ(std::vector<uint16_t>(parameter.set0, parameter.set0 + 15), set0Before);
             EXPECT_EQ(std::string(szStatus), "Timeout-RS-232...");
         }},
        {"hardware information", CMD_HARDWARE, [] { return GetHARDWAREInfo(); },
         [&] {
             EXPECT_EQ(ccdvirtpixel, virtualPixelsBefore);
             EXPECT_EQ(xArray8[255], lastPointBefore);
         }},
        {"line check", CMD_LINE_CHECK, [] { return CheckComLine(com); },
         [] { EXPECT_EQ(std::string(szStatus), "Timeout-RS-232..."); }},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(c.what);
        sim->clearRequests();
        kvorsim::Fault drop;
        drop.kind = kvorsim::Fault::Drop;
        drop.command = c.command;
        sim->inject(drop);
        // While the interrupted request waits, set 1 is read and answered.
        int nested = -1;
        Schedule schedule;
        schedule.when([this, &c] { return sim->requestCount() >= 1 && AwaitedCommand() == c.command; },
                      [&nested] { nested = ExchangeParameterSet(CMD_READ_RAM, 1); });
        EXPECT_EQ(c.run(), 0);
        EXPECT_EQ(nested, 1) << "the exchange inside the wait did not run";
        EXPECT_EQ(rx_flag, 0);
        c.check();
        EXPECT_EQ(AwaitedCommand(), ANY_FRAME);
    }
    // The line goes on as before.
    sim->clearFaults();
    EXPECT_EQ(CheckComLine(com), 1);
    EXPECT_EQ(GetHARDWAREInfo(), 1);
}
