// The recording's pure parts: the row and header format, the statistics against values worked
// out by hand, and the bounded summaries behind the trend and the histogram.
#include <gtest/gtest.h>

#include <clocale>
#include <cmath>
#include <cstdlib>
#include <ctime>
#include <random>
#include <string>
#include <vector>

#include "csv.h"
#include "stats.h"
#include "summary.h"

namespace {

// Sets the time zone for one test and restores it afterwards.
class TimeZone {
  public:
    explicit TimeZone(const char *tz) {
        const char *old = std::getenv("TZ");
        had_ = old != nullptr;
        if (had_) old_ = old;
        setenv("TZ", tz, 1);
        tzset();
    }
    ~TimeZone() {
        if (had_) {
            setenv("TZ", old_.c_str(), 1);
        } else {
            unsetenv("TZ");
        }
        tzset();
    }

  private:
    bool had_ = false;
    std::string old_;
};

RawAnswer Answer() {
    RawAnswer a{};
    a.leftEdge = 900;
    a.rightEdge = 1100;
    a.valuePx = 1000;
    a.umValue = 74565;
    a.setpointPx = 990;
    a.tolerancePx = 50;
    a.edges = 2;
    a.analogMax = 300;
    a.analogMin = 1700;
    a.analogOut = -1400;
    a.inTolerance = true;
    a.wallMs = 1796634902123LL; // 2026-12-07T09:15:02.123Z
    return a;
}

std::string Row(const RawAnswer &a, double seconds) {
    char buf[kMaxRowLength];
    return std::string(buf, FormatRecordRow(a, seconds, buf));
}

} // namespace

TEST(RecordFormat, RowCarriesTheAnswerInTheHeadersOrder) {
    TimeZone tz("CET-1");
    EXPECT_EQ(Row(Answer(), 12.3456),
              "2026-12-07T10:15:02.123+01:00,12.346,900,1100,1000,74.565,2,50,990,-1400,300,1700,1\n");

    struct Case {
        const char *tz;
        int64_t wallMs;
        double seconds;
        uint32_t um;
        bool in;
        const char *start, *tail;
    };
    const Case cases[] = {
        // A zone west of UTC; a millisecond of 0; the last answer before a whole second.
        {"EST5", 1796634902000LL, 0.0, 5, false, "2026-12-07T04:15:02.000-05:00,0.000,",
         ",0.005,2,50,990,-1400,300,1700,0\n"},
        {"UTC0", 1796634902999LL, 86399.9995, 30000999, true, "2026-12-07T09:15:02.999+00:00,86400.000,",
         ",30000.999,2,50,990,-1400,300,1700,1\n"},
        // Half-hour zones; an answer taken a moment before the start counts from 0.
        {"IST-5:30", 1796634902050LL, -0.0004, 0, true, "2026-12-07T14:45:02.050+05:30,0.000,", ",0.000,2,"},
    };
    for (const Case &c : cases) {
        TimeZone zone(c.tz);
        RawAnswer a = Answer();
        a.wallMs = c.wallMs;
        a.umValue = c.um;
        a.inTolerance = c.in;
        const std::string row = Row(a, c.seconds);
        EXPECT_EQ(row.rfind(c.start, 0), 0u) << c.tz << ": " << row;
        EXPECT_NE(row.find(c.tail), std::string::npos) << c.tz << ": " << row;
    }
}

TEST(RecordFormat, NumbersKeepThePointInACommaLocale) {
    // Whatever locale the user has: the rows never take the decimal separator from it.
    const char *set = std::setlocale(LC_ALL, "de_DE.UTF-8");
    if (!set) set = std::setlocale(LC_ALL, "fr_FR.UTF-8");
    TimeZone tz("UTC0");
    const std::string row = Row(Answer(), 1.5);
    std::setlocale(LC_ALL, "C");
    EXPECT_EQ(row, "2026-12-07T09:15:02.123+00:00,1.500,900,1100,1000,74.565,2,50,990,-1400,300,1700,1\n");
    if (!set) GTEST_SKIP() << "no comma locale installed; checked in the C locale only";
}

TEST(RecordFormat, CommentLinesCarryTheFactsOnOneLineEach) {
    TimeZone tz("UTC0");
    RecordFacts f;
    f.program = "K-VOR-RN-Zodid";
    f.version = "Version 3.0b";
    f.port = 1;
    f.device = "/dev/pts/7";
    f.hardware[0] = "1024-pixel; 7.8\xC2\xB5m pixel-pitch";
    f.hardware[1] = "two\nlines";
    f.firmware = "K-VOR-RN SIM firmware 3.00";
    for (int k = 0; k < 15; ++k) {
        f.set0[k] = static_cast<uint16_t>(k + 1);
        f.set1[k] = static_cast<uint16_t>(101 + k);
    }
    f.scale = 16384;
    f.offset = -30000;
    const std::string s = RecordCommentLines(f, 1796634902123LL);
    std::vector<std::string> lines;
    size_t pos = 0;
    for (size_t end; (end = s.find('\n', pos)) != std::string::npos; pos = end + 1)
        lines.push_back(s.substr(pos, end - pos));
    EXPECT_EQ(pos, s.size()) << "every line ends in LF";
    ASSERT_EQ(lines.size(), 9u);
    for (const std::string &l : lines)
        EXPECT_EQ(l.rfind("# ", 0), 0u) << l;
    EXPECT_EQ(lines[0], "# program: K-VOR-RN-Zodid Version 3.0b");
    EXPECT_EQ(lines[1], "# port: 1 /dev/pts/7");
    EXPECT_EQ(lines[2], "# hardware 1: 1024-pixel; 7.8\xC2\xB5m pixel-pitch");
    EXPECT_EQ(lines[3], "# hardware 2: two lines");
    EXPECT_EQ(lines[5], "# firmware: K-VOR-RN SIM firmware 3.00");
    EXPECT_EQ(lines[6],
              "# parameters (set 0 words 0-14, set 1 words 0-14): 1 2 3 4 5 6 7 8 9 10 11 12 13 14 15 "
              "101 102 103 104 105 106 107 108 109 110 111 112 113 114 115");
    EXPECT_EQ(lines[7], "# scale: 16384 (x 1/16384), offset: -30000 um");
    EXPECT_EQ(lines[8], "# started: 2026-12-07T09:15:02.123+00:00");
}

TEST(RecordFormat, ExistingFilesAreClassifiedByTheirHeaderRow) {
    const std::string ours = std::string(kRecordHeaderRow) + "\n";
    struct Case {
        std::string head;
        ExistingFile kind;
    };
    const Case cases[] = {
        {"", ExistingFile::kEmpty},
        {"# program: x\n# started: y\n" + ours + "2026-...,0.000\n", ExistingFile::kMatches},
        {ours, ExistingFile::kMatches},
        {std::string(kRecordHeaderRow) + "\r\n", ExistingFile::kMatches},
        {std::string(kRecordHeaderRow) + ",extra\n", ExistingFile::kOtherHeader},
        {"time,value\n1,2\n", ExistingFile::kOtherHeader},
        {"# only a comment\n", ExistingFile::kNoHeader},
        {"no line end", ExistingFile::kNoHeader},
        {"#\n\n" + ours, ExistingFile::kMatches},
    };
    for (const Case &c : cases)
        EXPECT_EQ(static_cast<int>(ClassifyExisting(c.head)), static_cast<int>(c.kind)) << c.head;
}

// Five values worked out by hand: mean 10.1, squared deviations 0.01 + 0.01 + 0.04 + 0 + 0.04 =
// 0.10, s = sqrt(0.10 / 4) = 0.158113883. Window 9.8 .. 10.6: Cp = 0.8 / (6 s) = 0.843274,
// Cpk = min(0.5, 0.3) / (3 s) = 0.632456.
TEST(RecordStats, SmallSetAgainstHandValues) {
    RunningStats s;
    const double values[] = {10.0, 10.2, 9.9, 10.1, 10.3};
    const bool in[] = {true, true, false, true, true};
    for (int i = 0; i < 5; ++i)
        s.Add(values[i], in[i]);
    EXPECT_EQ(s.n, 5u);
    EXPECT_DOUBLE_EQ(s.min, 9.9);
    EXPECT_DOUBLE_EQ(s.max, 10.3);
    EXPECT_NEAR(s.mean, 10.1, 1e-12);
    EXPECT_NEAR(s.Range(), 0.4, 1e-12);
    EXPECT_NEAR(s.StdDev(), 0.158113883, 1e-9);
    EXPECT_DOUBLE_EQ(s.ToleranceShare(), 0.8);

    ToleranceWindow w;
    w.valid = true;
    w.lower = 9.8;
    w.upper = 10.6;
    const Capability c = CapabilityOf(s, w);
    ASSERT_TRUE(c.valid);
    EXPECT_NEAR(c.cp, 0.843274, 1e-6);
    EXPECT_NEAR(c.cpk, 0.632456, 1e-6);

    // A mean outside the window gives a negative Cpk.
    w.lower = 10.2;
    w.upper = 10.8;
    EXPECT_NEAR(CapabilityOf(s, w).cpk, -0.1 / (3 * 0.158113883), 1e-6);
}

TEST(RecordStats, TooFewValuesOrNoSpreadGiveNoCapability) {
    ToleranceWindow w{true, 9.0, 11.0, 10.0};
    RunningStats s;
    EXPECT_FALSE(CapabilityOf(s, w).valid);
    s.Add(10.0, true);
    EXPECT_EQ(s.StdDev(), 0.0);
    EXPECT_FALSE(CapabilityOf(s, w).valid);
    s.Add(10.0, true);
    EXPECT_FALSE(CapabilityOf(s, w).valid) << "no spread";
    s.Add(10.5, true);
    EXPECT_TRUE(CapabilityOf(s, w).valid);
    EXPECT_FALSE(CapabilityOf(s, ToleranceWindow{}).valid);
}

TEST(RecordStats, StableForADayOfValuesFarFromZero) {
    // Two million values of 30000 mm +/- a micrometre: a sum of squares in double loses them.
    RunningStats s;
    for (int i = 0; i < 2000000; ++i)
        s.Add(30000.0 + ((i & 1) ? 0.001 : -0.001), true);
    EXPECT_NEAR(s.mean, 30000.0, 1e-9);
    EXPECT_NEAR(s.StdDev(), 0.001 * std::sqrt(2000000.0 / 1999999.0), 1e-9);
}

TEST(RecordStats, WindowConvertedByTheScaleAndOffset) {
    struct Case {
        uint16_t setpoint, tol;
        uint32_t scale;
        int32_t offset;
        double lower, upper;
    };
    const Case cases[] = {
        {512, 100, 16384, 30000, 30.412, 30.612},
        {512, 100, 32768, 0, 0.824, 1.224},
        // A scale above 32 bits' worth of product with the tolerance.
        {4000, 60000, 4000000000u, -5000,
         4000000000.0 * 4000 / 16384000.0 - 5.0 - 4000000000.0 * 60000 / 16384000.0,
         4000000000.0 * 4000 / 16384000.0 - 5.0 + 4000000000.0 * 60000 / 16384000.0},
    };
    for (const Case &c : cases) {
        const ToleranceWindow w = WindowInMm(c.setpoint, c.tol, c.scale, c.offset);
        EXPECT_TRUE(w.valid);
        EXPECT_NEAR(w.lower, c.lower, 1e-9 * std::max(1.0, std::fabs(c.lower)));
        EXPECT_NEAR(w.upper, c.upper, 1e-9 * std::max(1.0, std::fabs(c.upper)));
    }
    EXPECT_FALSE(WindowInMm(512, 0, 16384, 0).valid) << "a tolerance of 0 is no window";
}

TEST(RecordSummary, TrendStaysBoundedAndKeepsEveryExtreme) {
    TrendSummary trend(8);
    std::mt19937 rng(7);
    std::uniform_real_distribution<double> d(-1.0, 1.0);
    double lo = 1e9, hi = -1e9;
    for (int i = 0; i < 1000; ++i) {
        const double v = i == 500 ? 50.0 : (i == 777 ? -50.0 : d(rng));
        lo = std::min(lo, v);
        hi = std::max(hi, v);
        trend.Add(i * 0.01, v);
        ASSERT_LE(trend.Buckets().size(), 8u);
    }
    EXPECT_EQ(trend.Count(), 1000u);
    EXPECT_EQ(trend.Span(), 128u); // 1000 values in at most 8 buckets of a power of two
    // The buckets cover the values in order, each whole span but the last.
    const auto &b = trend.Buckets();
    EXPECT_DOUBLE_EQ(b.front().tFirst, 0.0);
    EXPECT_DOUBLE_EQ(b.back().tLast, 9.99);
    for (size_t i = 0; i + 1 < b.size(); ++i)
        EXPECT_NEAR(b[i + 1].tFirst, b[i].tLast + 0.01, 1e-9) << i;
    double blo = 1e9, bhi = -1e9;
    for (const auto &x : b) {
        blo = std::min(blo, x.min);
        bhi = std::max(bhi, x.max);
    }
    EXPECT_EQ(blo, lo);
    EXPECT_EQ(bhi, hi);
    // Per column: fewer columns than buckets still show both spikes.
    const auto cols = trend.Columns(3);
    ASSERT_LE(cols.size(), 3u);
    double clo = 1e9, chi = -1e9;
    for (const auto &c : cols) {
        clo = std::min(clo, c.min);
        chi = std::max(chi, c.max);
    }
    EXPECT_EQ(clo, -50.0);
    EXPECT_EQ(chi, 50.0);
}

TEST(RecordSummary, HistogramWidensToFitEveryValue) {
    ValueHistogram h;
    std::vector<uint32_t> values;
    for (uint32_t v = 30000; v < 30100; ++v)
        values.push_back(v);
    values.push_back(29000); // below: the bins widen downward too
    values.push_back(45000);
    values.push_back(0);
    for (uint32_t v : values)
        h.Add(v);
    EXPECT_EQ(h.Total(), values.size());
    ASSERT_EQ(h.Counts().size(), static_cast<size_t>(ValueHistogram::kBins));
    uint64_t sum = 0;
    for (uint64_t c : h.Counts())
        sum += c;
    EXPECT_EQ(sum, values.size());
    // Each value sits in the bin that covers it.
    std::vector<uint64_t> expected(ValueHistogram::kBins, 0);
    for (uint32_t v : values) {
        const uint64_t g = v / h.Width();
        ASSERT_GE(g, h.Base());
        ASSERT_LT(g - h.Base(), static_cast<uint64_t>(ValueHistogram::kBins));
        ++expected[g - h.Base()];
    }
    EXPECT_EQ(h.Counts(), expected);
    EXPECT_EQ(h.FirstUsed(), static_cast<int>(0 / h.Width() - h.Base()));
    EXPECT_EQ(h.LastUsed(), static_cast<int>(45000 / h.Width() - h.Base()));
    EXPECT_EQ(h.Width(), 256u); // 45000 um over 256 bins: the first power of two that fits

    // Values within 256 um keep 1 um bins.
    ValueHistogram narrow;
    for (uint32_t v = 1000; v < 1200; ++v)
        narrow.Add(v);
    EXPECT_EQ(narrow.Width(), 1u);
    EXPECT_EQ(narrow.LastUsed() - narrow.FirstUsed(), 199);
}
