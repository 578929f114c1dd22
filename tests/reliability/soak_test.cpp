// A long run against the simulated sensor with faults at random (fixed seed): 100 000 RUN
// exchanges without pacing and 200 VIDEO passes. Every exchange must either have been drawn or
// have been reported, the process must not grow, and STOP must still end the loop at the end.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <memory>
#include <random>
#include <string>
#include <unistd.h>
#include <vector>

#include "K-VOR-RNZazorU30.h"
#include "com232.h"
#include "fixtures.h"
#include "testhooks.h"
#include "measure.h"
#include "reliability_support.h"
#include "rs232.h"
#include "state.h"
#include "userint.h"
#include "utility.h"

using namespace rel;

namespace {

constexpr uint32_t kSeed = 20240917;
// A raw-data answer with two edges: every drawing of it puts two bars on the bar graph.
const uint16_t kRaw[16] = {900, 1100, 1000, 51234, 0, 1000, 50, 2, 0, 0, 0, 1700, 300, 0, 0, 0};
constexpr int kBarsPerDrawing = 2;
constexpr int kCurvesPerVideoPass = 2;

// The sizes of the run; KVOR_SOAK_SCALE (a fraction) shortens it for slow builds.
double Scale() {
    const char *s = std::getenv("KVOR_SOAK_SCALE");
    if (!s || !*s) return 1.0;
    const double v = std::strtod(s, nullptr);
    return v > 0.0 && v <= 1.0 ? v : 1.0;
}

std::string UniqueLinkPath() {
    std::string dir = ::testing::TempDir();
    if (!dir.empty() && dir.back() != '/') dir += '/';
    return dir + "kvor-soak-" + std::to_string(::getpid());
}

// What may befall one loop, drawn at random.
enum class Event { None, Drop, Truncate, Extend, CorruptStart, CorruptCommand, Late, Noise, StrayFrame, LostLine };

const char *Name(Event e) {
    switch (e) {
    case Event::None: return "none";
    case Event::Drop: return "drop";
    case Event::Truncate: return "truncate";
    case Event::Extend: return "extend";
    case Event::CorruptStart: return "corrupt start";
    case Event::CorruptCommand: return "corrupt command";
    case Event::Late: return "late";
    case Event::Noise: return "noise";
    case Event::StrayFrame: return "stray frame";
    case Event::LostLine: return "lost line";
    }
    return "?";
}

LineFault AsFault(Event e) {
    switch (e) {
    case Event::Drop: return LineFault::Drop;
    case Event::Truncate: return LineFault::Truncate;
    case Event::Extend: return LineFault::Extend;
    case Event::CorruptStart: return LineFault::CorruptStart;
    case Event::CorruptCommand: return LineFault::CorruptCommand;
    case Event::Late: return LineFault::Late;
    default: return LineFault::None;
    }
}

bool Ends(Event e) { return e == Event::Drop || e == Event::Truncate || e == Event::Late || e == Event::LostLine; }

struct Tally {
    long exchanges = 0, drawn = 0, reported = 0, undrawn = 0, passes = 0, passesDrawn = 0;
    long faults[10] = {};
};

class SoakTest : public SensorTest {
protected:
    SoakTest() : SensorTest(false) { options.linkPath = UniqueLinkPath(); }
    void SetUp() override {
        SensorTest::SetUp();
        if (HasFatalFailure()) return;
        JumpClock::Install();
        Connect();
        ASSERT_NE(StatusText(), "Timeout-RS-232...");
        sim->setRawOverride(kRaw);
        parameter.set0[3] = 1; // evaluation mode 1: one window bar per drawing
        // Shown, so that every answer is really drawn and painted.
        DisplayPanel(pHandle);
    }
    void TearDown() override {
        JumpClock::Remove();
        SensorTest::TearDown();
    }

    // Each loop measures another object: edges, measured value, setpoint and tolerance at random,
    // always two edges, so that every drawing puts exactly two bars on the bar graph.
    void NewObject(std::mt19937 &rng) {
        uint16_t raw[16];
        std::copy(std::begin(kRaw), std::end(kRaw), raw);
        raw[0] = static_cast<uint16_t>(rng() % 4097);
        raw[1] = static_cast<uint16_t>(rng() % 4097);
        raw[2] = static_cast<uint16_t>(rng());
        raw[3] = static_cast<uint16_t>(rng());
        raw[4] = static_cast<uint16_t>(rng());
        raw[5] = static_cast<uint16_t>(rng() % 4097);
        raw[6] = static_cast<uint16_t>(rng() % 600);
        raw[11] = static_cast<uint16_t>(rng());
        raw[12] = static_cast<uint16_t>(rng());
        raw[7] = 2;
        sim->setRawOverride(raw);
        parameter.set0[3] = 1;
        parameter.set0[10] = static_cast<uint16_t>(rng() % 5); // every analog mode
    }

    // STOP waits until every planned event has befallen the loop.
    bool AllFired() const { return *fired_ >= planned_; }
    int planned_ = 0;
    std::shared_ptr<int> fired_ = std::make_shared<int>(0);

    // After a late answer: it comes in while nothing waits, then the line is quiet again.
    void AbsorbLateAnswer() {
        rx_flag = 0;
        EXPECT_TRUE(WaitUntil([] { return rx_flag == 1; }, 10.0)) << "the late answer never came";
    }

    // After the line was lost: the sensor comes back and the operator chooses the port again.
    void BringLineBack() {
        JumpClock::Hopeless(false);
        ASSERT_TRUE(sim->reconnect()) << sim->error();
        sim->clearRequests();
        ASSERT_EQ(UserSetValue(pHandle, PANEL_DropDCom, 1), 0);
        ASSERT_EQ(CountCommand(*sim, 5), 1u);
        ASSERT_NE(StatusText(), "Timeout-RS-232...");
        sim->setRawOverride(kRaw);
        parameter.set0[3] = 1;
    }

    // Arms what befalls the loop once 'at' requests of 'command' went out (of any command for
    // -1), at a moment when no request of 'command' is on its way: the loop then waits for an
    // answer of 'waitingFor' (-1: any moment).
    void Plan(Timetable &tt, Event e, int command, int waitingFor, size_t at, std::mt19937 &rng, Tally &tally,
              bool persistent = false) {
        if (e == Event::None) return;
        ++tally.faults[static_cast<int>(e)];
        ++planned_;
        auto fired = fired_;
        kvorsim::Simulator *s = sim;
        std::vector<uint8_t> bytes;
        if (e == Event::Noise) {
            bytes.resize(1 + rng() % 60);
            for (uint8_t &b : bytes) b = static_cast<uint8_t>(rng());
        } else if (e == Event::StrayFrame) {
            bytes = SensorFrame(static_cast<uint16_t>(1 + rng() % 11), 0, {7, 7, 7});
        }
        auto count = [s, command] { return command < 0 ? s->requestCount() : CountCommand(*s, command); };
        // A raw answer with another command word does not end the raw-data wait of VIDEO either.
        const bool hopeless = Ends(e) || (command == 8 && e == Event::CorruptCommand);
        tt.When([count, waitingFor, at] { return count() >= at && (waitingFor < 0 || parameter.command == waitingFor); },
                [s, e, command, bytes, count, hopeless, fired, persistent] {
                    ++*fired;
                    if (e == Event::Noise || e == Event::StrayFrame) {
                        s->sendUnsolicited(bytes);
                    } else if (e == Event::LostLine) {
                        s->disconnectAfter(0);
                        // Gone at once: from now on every wait is hopeless.
                        JumpClock::Hopeless(true);
                    } else {
                        kvorsim::Fault fault = MakeFault(AsFault(e), command < 0 ? 8 : command);
                        // An ending fault stays until the next run clears it: noise that came in
                        // the same moment may complete one cut answer, and the next must still end
                        // the loop.
                        if (persistent) fault.count = -1;
                        s->inject(fault);
                        const size_t before = count();
                        if (hopeless) {
                            // The wait for the lost answer is hopeless: skip it. (Should the
                            // request on its way when the fault went in have taken it, no request
                            // follows, and the wait simply runs its 1.5 s.)
                            const double settle =
                                e == Event::Truncate || e == Event::CorruptCommand ? 0.05 : 0.0;
                            auto seenAt = std::make_shared<double>(-1.0);
                            JumpClock::When([count, before, settle, seenAt] {
                                if (count() < before + 1) return false;
                                if (*seenAt < 0.0) *seenAt = JumpClock::Real();
                                return JumpClock::Real() - *seenAt >= settle;
                            });
                        }
                    }
                });
    }

    // One RUN from its button. The events befall it one after another; the last may be one that
    // ends it ('ending'), otherwise STOP ends it after 'length' requests.
    void RunOnce(size_t length, const std::vector<Event> &events, Event ending, std::mt19937 &rng, Tally &tally) {
        NewObject(rng);
        planned_ = 0;
        fired_ = std::make_shared<int>(0);
        sim->clearRequests();
        sim->clearFaults();
        JumpClock::When(nullptr);
        const int before = NewestPlotHandle(PANEL_GRAPH);
        Timetable tt;
        // Spread over the first half, the ending one last, so that every fault has met a request
        // before STOP. Not before the first answer: the loop's first request is not repeated, so
        // a garbled first answer ends the loop (as a lost one does).
        size_t at = 2;
        const size_t step = std::max<size_t>(1, length / (2 * (events.size() + 1)));
        for (Event e : events) {
            at += 1 + rng() % step;
            Plan(tt, e, -1, -1, at, rng, tally);
        }
        at += 1 + rng() % step;
        Plan(tt, ending, -1, -1, at, rng, tally, Ends(ending));
        // A loop that is to end by its fault gets no STOP, which could come first.
        if (!Ends(ending)) {
            tt.When([this, length] { return sim->requestCount() >= length && AllFired(); },
                    [] { UserClick(pHandle, PANEL_BTNStop); });
        }
        tt.SafetyStop(120.0);

        UserClick(pHandle, PANEL_BTNRun);

        ASSERT_FALSE(tt.SafetyFired()) << "RUN did not end (" << Name(ending) << ")";
        ASSERT_EQ(stop_flag, 1);
        const long requests = static_cast<long>(sim->requestCount());
        ASSERT_EQ(static_cast<long>(CountCommand(*sim, 8)), requests) << "RUN asked for something else";
        const long drawn = (NewestPlotHandle(PANEL_GRAPH) - before) / kBarsPerDrawing;
        const bool timedOut = StatusText() == "Timeout RS232-Line!";
        if (Ends(ending)) {
            // A lost answer ends the loop with its time-out text, and nothing is asked after it.
            ASSERT_TRUE(timedOut) << Name(ending) << ": " << StatusText();
            // However RUN ended, the program is idle again.
            EXPECT_EQ(LoopButtons(), (std::vector<int>{0, 0, 0}));
        } else {
            // Without a lost answer the loop ran until STOP: no time-out from nowhere.
            ASSERT_FALSE(timedOut) << "RUN timed out without a lost answer after " << requests << " exchanges";
            ASSERT_GE(requests, static_cast<long>(length));
            EXPECT_EQ(LoopButtons(), (std::vector<int>{0, 0, 0}));
        }
        // The ledger: every exchange was drawn, or ended in the reported time-out, or was still on
        // its way at STOP, or met a fault that may leave one answer undrawn (another command
        // word, bytes in front of it, a stray frame taken in its place).
        long mayGoUndrawn = 0;
        for (Event e : events) mayGoUndrawn += e == Event::CorruptStart ? 0 : 1;
        const long reported = timedOut ? 1 : 0;
        const long pendingAtStop = timedOut ? 0 : 1;
        EXPECT_LE(drawn, requests);
        EXPECT_LE(requests - drawn - reported, mayGoUndrawn + pendingAtStop)
            << requests << " exchanges, " << drawn << " drawn";
        tally.exchanges += requests;
        tally.drawn += drawn;
        tally.reported += reported;
        tally.undrawn += requests - drawn - reported;

        if (ending == Event::Late) AbsorbLateAnswer();
        if (ending == Event::LostLine) BringLineBack();
    }

    // One VIDEO from its button: the block events befall passes one after another; 'ending' (a
    // raw answer lost, or the line) ends it, otherwise STOP does after 'length' passes.
    void VideoOnce(size_t length, const std::vector<Event> &blockEvents, Event ending, std::mt19937 &rng,
                   Tally &tally) {
        NewObject(rng);
        planned_ = 0;
        fired_ = std::make_shared<int>(0);
        sim->clearRequests();
        sim->clearFaults();
        JumpClock::When(nullptr);
        const int before = NewestPlotHandle(PANEL_VIDEOGRAPH);
        Timetable tt;
        // A block fault goes in while its pass's raw answer is awaited, noise while a block is
        // read (in front of a raw answer it would garble it, and the loop would end as it ends
        // for a raw answer that never came), a raw fault while a block is awaited: no request of
        // the fault's kind is then on its way.
        size_t pass = 1;
        const size_t step = std::max<size_t>(1, length / (2 * (blockEvents.size() + 1)));
        for (Event e : blockEvents) {
            pass += 1 + rng() % step;
            if (e == Event::Noise || e == Event::StrayFrame)
                Plan(tt, e, 9, 9, 4 * (pass - 1) + 1, rng, tally);
            else
                Plan(tt, e, 9, 8, 4 * (pass - 1), rng, tally);
        }
        pass += 1 + rng() % step;
        Plan(tt, ending, 8, 9, pass, rng, tally);
        // A missing raw answer (or one with another command word) ends the loop with its text;
        // such a loop gets no STOP, which could come first.
        const bool ends = ending != Event::None && ending != Event::Extend && ending != Event::CorruptStart;
        if (!ends) {
            tt.When([this, length] { return CountCommand(*sim, 8) >= length && AllFired(); },
                    [] { UserClick(pHandle, PANEL_BTNStop); });
        }
        tt.SafetyStop(120.0);

        UserClick(pHandle, PANEL_BTNVideo);

        ASSERT_FALSE(tt.SafetyFired()) << "VIDEO did not end (" << Name(ending) << ")";
        ASSERT_EQ(stop_flag, 1);
        EXPECT_EQ(LoopButtons(), (std::vector<int>{0, 0, 0}));
        const long passes = static_cast<long>(CountCommand(*sim, 8));
        const long drawn = (NewestPlotHandle(PANEL_VIDEOGRAPH) - before) / kCurvesPerVideoPass;
        const bool timedOut = StatusText() == "Timeout RS232-Line!";
        if (ends) {
            ASSERT_TRUE(timedOut) << Name(ending) << ": " << StatusText();
        } else {
            ASSERT_FALSE(timedOut) << "VIDEO timed out without a lost raw answer";
            ASSERT_GE(passes, static_cast<long>(length));
        }
        // A pass draws unless a block of it failed (and is reported by its time-out or its
        // surplus) or its raw answer never came; a lost line costs the pass it cut and the next.
        long mayFail = 0;
        for (Event e : blockEvents) mayFail += e == Event::CorruptStart || e == Event::CorruptCommand ? 0 : 1;
        mayFail += ending == Event::LostLine ? 2 : (ends ? 1 : 0);
        EXPECT_LE(drawn, passes);
        EXPECT_LE(passes - drawn, mayFail) << passes << " passes, " << drawn << " drawn";
        tally.passes += passes;
        tally.passesDrawn += drawn;

        if (ending == Event::Late) AbsorbLateAnswer();
        if (ending == Event::LostLine) BringLineBack();
        // However VIDEO ended, the receive notification is on again.
        rx_flag = 0;
        sim->sendUnsolicited(SensorFrame(11, 0, {1}));
        EXPECT_TRUE(WaitUntil([] { return rx_flag == 1; }));
    }
};

// Faults that leave a loop running, and faults that end it. A stray frame (or noise as long as
// one) may come in after the request it was meant to disturb and answer the next one: in a RUN
// it then leaves one frame more on its way for good, in a VIDEO it may answer the raw-data
// request of the next pass. A lost answer later in the same loop may then be covered by it, so
// loops that are to end by a lost answer meet only faults that add no frame.
Event DrawPassing(std::mt19937 &rng, bool addsFrames = true) {
    static const Event kEvents[] = {Event::Extend, Event::CorruptStart, Event::CorruptCommand, Event::Noise,
                                    Event::StrayFrame};
    return kEvents[rng() % (addsFrames ? 5 : 3)];
}

Event DrawEnding(std::mt19937 &rng, bool lateAllowed) {
    // Late answers cost real seconds (the line is busy until they are out), so they are rare.
    if (lateAllowed && rng() % 8 == 0) return Event::Late;
    static const Event kEvents[] = {Event::None, Event::None,     Event::None, Event::Drop,
                                    Event::Truncate, Event::Drop, Event::Truncate, Event::LostLine};
    return kEvents[rng() % (sizeof kEvents / sizeof kEvents[0])];
}

std::vector<Event> DrawSeveral(std::mt19937 &rng, size_t most, bool addsFrames = true) {
    std::vector<Event> events(rng() % (most + 1));
    for (Event &e : events) e = DrawPassing(rng, addsFrames);
    return events;
}

} // namespace

TEST_F(SoakTest, HundredThousandRunExchangesAndTwoHundredVideoPassesUnderFaults) {
    const double scale = Scale();
    const long kRunExchanges = static_cast<long>(100000 * scale);
    const long kVideoPasses = static_cast<long>(200 * scale);
    std::mt19937 rng(kSeed);
    Tally tally;
    const double started = JumpClock::Real();

    // Warm up, so that caches, pools and the simulator's log have their working size: both loops
    // and a line that goes and comes back.
    RunOnce(3000, {}, Event::None, rng, tally);
    VideoOnce(10, {}, Event::None, rng, tally);
    RunOnce(1000, {}, Event::LostLine, rng, tally);
    ASSERT_FALSE(HasFatalFailure());
    const long rssStart = ResidentKiB();
    long rssMiddle = -1;

    int lateLeft = 4;
    while (tally.exchanges < kRunExchanges) {
        const Event ending = DrawEnding(rng, lateLeft > 0);
        if (ending == Event::Late) --lateLeft;
        const size_t length = 500 + rng() % 3500;
        RunOnce(length, DrawSeveral(rng, 6, !Ends(ending)), ending, rng, tally);
        ASSERT_FALSE(HasFatalFailure()) << "after " << tally.exchanges << " exchanges";
        if (rssMiddle < 0 && 2 * tally.exchanges >= kRunExchanges) rssMiddle = ResidentKiB();

        // VIDEO passes in between, spread over the run.
        if (tally.passes < kVideoPasses && tally.exchanges * kVideoPasses >= tally.passes * kRunExchanges) {
            Event v = DrawEnding(rng, lateLeft > 0);
            if (v == Event::Late) --lateLeft;
            if (v == Event::None && rng() % 2 == 0) v = DrawPassing(rng); // or a raw answer garbled
            if (v == Event::Noise || v == Event::StrayFrame) v = Event::None;
            const bool videoEnds = v != Event::None && v != Event::Extend && v != Event::CorruptStart;
            VideoOnce(8 + rng() % 12, DrawSeveral(rng, 3, !videoEnds), v, rng, tally);
            ASSERT_FALSE(HasFatalFailure()) << "after " << tally.passes << " video passes";
        }
    }
    while (tally.passes < kVideoPasses) {
        VideoOnce(10, DrawSeveral(rng, 3), Event::None, rng, tally);
        ASSERT_FALSE(HasFatalFailure());
    }
    const long rssEnd = ResidentKiB();

    // At the end STOP still ends a running loop.
    RunOnce(200, {}, Event::None, rng, tally);
    long faults = 0;
    for (int i = 1; i < 10; ++i) faults += tally.faults[i];
    std::printf("soak: %ld RUN exchanges (%ld drawn, %ld reported time-outs, %ld undrawn), %ld VIDEO passes "
                "(%ld drawn), %ld faults injected, %.1f s\n",
                tally.exchanges, tally.drawn, tally.reported, tally.undrawn, tally.passes, tally.passesDrawn, faults,
                JumpClock::Real() - started);
    for (int i = 1; i < 10; ++i) std::printf("soak:   %-16s %ld\n", Name(static_cast<Event>(i)), tally.faults[i]);
    std::printf("soak: resident memory %ld KiB after warm-up, %ld KiB half-way, %ld KiB at the end\n", rssStart,
                rssMiddle, rssEnd);

    EXPECT_GE(tally.exchanges, kRunExchanges);
    EXPECT_GE(tally.passes, kVideoPasses);
    if (kAddressSanitizer) {
        // Its quarantine holds freed memory back on purpose; its leak check at exit judges instead.
        std::printf("soak: memory growth judged by the leak checker in this build\n");
    } else {
        EXPECT_LT(rssEnd - rssStart, 2048L) << "resident memory grew by " << (rssEnd - rssStart) << " KiB";
    }
}
