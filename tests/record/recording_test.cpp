// The recorder in the program, against the simulated sensor on a pseudo-terminal: --record FILE
// over whole runs of the program, the recorder window during RUN, and a disk that fills while
// RUN measures.
#include <gtest/gtest.h>

#include "state.h"

#include <QApplication>
#include <QFileInfo>
#include <QLabel>
#include <QPushButton>
#include <QTemporaryDir>
#include <QTest>
#include <QTextDocument>

#include <cerrno>
#include <cmath>
#include <cstring>
#include <fstream>
#include <functional>
#include <memory>
#include <sstream>
#include <string>
#include <vector>

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include "../measure/loop_helpers.h"
#include "K-VOR-RNZazorU30.h"
#include "csv.h"
#include "feed.h"
#include "file_limits.h"
#include "fixtures.h"
#include "measure.h"
#include "qcustomplot.h"
#include "recorder.h"
#include "recorder_app.h"
#include "recorder_window.h"
#include "rs232.h"
#include "testhooks.h"
#include "userint.h"
#include "utility.h"

namespace {

// Every word different, so a word in the wrong column shows: umValue 0x12345 = 74.565 mm.
const uint16_t kRaw[16] = {900, 1100, 1000, 0x2345, 0x0001, 990, 50, 2, 11, 12, 13, 1700, 300, 14, 15, 16};

std::string ReadFile(const std::string &path) {
    std::ifstream in(path, std::ios::binary);
    std::stringstream s;
    s << in.rdbuf();
    return s.str();
}

std::vector<std::string> Split(const std::string &text, char sep) {
    std::vector<std::string> out;
    size_t pos = 0;
    for (size_t end; (end = text.find(sep, pos)) != std::string::npos; pos = end + 1)
        out.push_back(text.substr(pos, end - pos));
    if (pos < text.size()) out.push_back(text.substr(pos));
    return out;
}

// A parsed recording: its comment lines, how often the header row came, and the rows' fields.
struct Recording {
    std::vector<std::string> comments;
    int headers = 0;
    std::vector<std::vector<std::string>> rows;
    bool endsWithLf = false;
};

Recording Parse(const std::string &path) {
    Recording r;
    const std::string text = ReadFile(path);
    r.endsWithLf = !text.empty() && text.back() == '\n';
    for (const std::string &line : Split(text, '\n')) {
        if (line.rfind("#", 0) == 0) {
            r.comments.push_back(line);
        } else if (line == kRecordHeaderRow) {
            ++r.headers;
        } else {
            r.rows.push_back(Split(line, ','));
        }
    }
    return r;
}

// The row an answer must have become (t_s aside: it counts from the start of the recording).
void ExpectRowIs(const std::vector<std::string> &row, const RawAnswer &a, size_t i) {
    ASSERT_EQ(row.size(), 13u) << "row " << i;
    EXPECT_EQ(row[0], LocalIsoTime(a.wallMs)) << "row " << i;
    const std::vector<std::string> rest = {std::to_string(a.leftEdge),   std::to_string(a.rightEdge),
                                           std::to_string(a.valuePx),    "74.565",
                                           std::to_string(a.edges),      std::to_string(a.tolerancePx),
                                           std::to_string(a.setpointPx), std::to_string(a.analogOut),
                                           std::to_string(a.analogMax),  std::to_string(a.analogMin),
                                           a.inTolerance ? "1" : "0"};
    for (size_t k = 0; k < rest.size(); ++k)
        EXPECT_EQ(row[k + 2], rest[k]) << "row " << i << " column " << k + 2;
}

struct Collector : MeasurementListener {
    std::vector<RawAnswer> raw;
    void OnRawAnswer(const RawAnswer &a) override {
        if (!a.video) raw.push_back(a);
    }
};

int RunMain(std::vector<std::string> args) {
    std::vector<char *> argv;
    for (std::string &a : args)
        argv.push_back(&a[0]);
    argv.push_back(nullptr);
    return KvorMain(static_cast<int>(args.size()), argv.data());
}

// Runs fn once the program shows its main window (the start-up exchange is over). A test whose
// program may never start sets *givenUp when it ends, so that no later test's window runs fn.
void WhenStarted(std::function<void()> fn, std::shared_ptr<bool> givenUp = nullptr) {
    AfterDelay(0.02, [fn, givenUp] {
        if (givenUp && *givenUp) return;
        if (pHandle <= 0 || !PanelVisible(pHandle)) {
            WhenStarted(fn, givenUp);
            return;
        }
        fn();
    });
}

// One RUN from the RUN button that ends once 'collector' holds 'until' answers.
void RunUntil(Collector &collector, size_t until) {
    Schedule schedule;
    schedule.when([&collector, until] { return collector.raw.size() >= until; }, [] { stop_flag = 1; });
    schedule.safetyStop(20.0);
    UserClick(pHandle, PANEL_BTNRun); // returns when the loop has ended
    EXPECT_FALSE(schedule.safetyFired());
}

class RecordOption : public ::testing::Test {
  protected:
    void SetUp() override {
        ASSERT_TRUE(dir.isValid());
        sim.reset(new kvorsim::Simulator(kvorsim::Options()));
        ASSERT_TRUE(sim->start()) << sim->error();
        sim->setRawOverride(kRaw);
        device = sim->devicePath();
        path = dir.filePath("line.csv").toStdString();
    }
    void TearDown() override {
        RemoveMeasurementListener(&collector);
        SetComPortDevice(1, "");
    }
    // A whole run of the program with --record, doing 'during' once it has started, then closing.
    int Program(std::function<void()> during) {
        auto done = std::make_shared<bool>(false);
        WhenStarted([during] {
            during();
            UserClosePanel(pHandle);
        });
        AfterDelay(60.0, [done] {
            if (*done) return;
            ADD_FAILURE() << "the program did not end";
            QuitUserInterface(0);
        });
        const int rc = RunMain({"kvor-zodid", "--port", "1=" + device, "--record", path});
        *done = true;
        return rc;
    }
    QTemporaryDir dir;
    std::unique_ptr<kvorsim::Simulator> sim;
    std::string device, path;
    Collector collector;
};

} // namespace

TEST_F(RecordOption, EveryRunAnswerBecomesOneRowAndTheHeaderComesOnce) {
    // First run of the program: two RUNs.
    ASSERT_EQ(Program([this] {
                  EXPECT_TRUE(TheRecorder().Recording()) << "recording from the start";
                  AddMeasurementListener(&collector);
                  RunUntil(collector, 40);
                  RunUntil(collector, 70);
              }),
              0);
    const size_t first = collector.raw.size();
    EXPECT_FALSE(TheRecorder().Recording());
    Recording r = Parse(path);
    EXPECT_TRUE(r.endsWithLf);
    EXPECT_EQ(r.headers, 1);
    ASSERT_EQ(r.rows.size(), first) << "one row per RUN answer, no more, no less";
    // The sensor was asked once more than it answered into the file (the request that STOP
    // left open), and never less.
    EXPECT_GE(CountCommand(*sim, 8), first);
    for (size_t i = 0; i < first; ++i) {
        ExpectRowIs(r.rows[i], collector.raw[i], i);
        if (i > 0) {
            EXPECT_GE(std::stod(r.rows[i][1]), std::stod(r.rows[i - 1][1])) << "t_s in order";
        }
    }
    // What the header tells about the link and the sensor.
    ASSERT_EQ(r.comments.size(), 9u);
    EXPECT_EQ(r.comments[0], "# program: K-VOR-RN-Zodid Version 3.0b");
    EXPECT_EQ(r.comments[1], "# port: 1 " + device);
    EXPECT_EQ(r.comments[2], "# hardware 1: 1024-pixel; 7.8\xC2\xB5m pixel-pitch");
    EXPECT_EQ(r.comments[5], "# firmware: K-VOR-RN SIM firmware 3.00");
    EXPECT_EQ(Split(r.comments[6], ' ').size(), 10u + 30u);

    // A second run of the program continues the file: rows only.
    ASSERT_EQ(Program([this, first] {
                  AddMeasurementListener(&collector);
                  RunUntil(collector, first + 25);
              }),
              0);
    r = Parse(path);
    EXPECT_EQ(r.headers, 1);
    EXPECT_EQ(r.comments.size(), 9u);
    ASSERT_EQ(r.rows.size(), collector.raw.size());
    for (size_t i = first; i < collector.raw.size(); ++i)
        ExpectRowIs(r.rows[i], collector.raw[i], i);
    EXPECT_LT(std::stod(r.rows[first][1]), 5.0) << "a new recording counts from its own start";
}

TEST_F(RecordOption, AFileOfOtherColumnsIsRefusedBeforeTheProgramStarts) {
    {
        std::ofstream out(path);
        out << "time,value\n1,2\n";
    }
    bool started = false;
    auto givenUp = std::make_shared<bool>(false);
    WhenStarted(
        [&started] {
            started = true;
            UserClosePanel(pHandle);
        },
        givenUp);
    ::testing::internal::CaptureStderr();
    EXPECT_EQ(RunMain({"kvor-zodid", "--port", "1=" + device, "--record", path}), -1);
    *givenUp = true; // the program never showed its window: nothing may wait for it any more
    const std::string err = ::testing::internal::GetCapturedStderr();
    EXPECT_EQ(err, "kvor-zodid: --record: Cannot record into " + path +
                       ": it holds other columns than a recording. Choose another file.\n");
    EXPECT_FALSE(started);
    EXPECT_EQ(ReadFile(path), "time,value\n1,2\n");
    EXPECT_EQ(pHandle, 0);
    // Without a file name, the option is a usage error.
    ::testing::internal::CaptureStderr();
    EXPECT_EQ(RunMain({"kvor-zodid", "--record"}), -1);
    EXPECT_NE(::testing::internal::GetCapturedStderr().find("--record needs a file name"), std::string::npos);
}

// Unattended logging: the program closes while the disk is full and rows still wait for it.
// Nobody sees the window any more, so the loss is said on standard error.
TEST_F(RecordOption, RowsLostAtTheProgramsEndAreSaidOnStandardError) {
    const std::string small = dir.filePath("small").toStdString();
    const SmallDisk disk(small, "kvor-rec-exit");
    if (!disk.Mounted())
        GTEST_SKIP() << "cannot mount a small tmpfs here (" << disk.Why() << ")";
    path = small + "/line.csv";
    ::testing::internal::CaptureStderr();
    const int rc = Program([small] {
        ASSERT_TRUE(TheRecorder().Recording());
        ASSERT_TRUE(FillUp(small));
        RawAnswer a{};
        a.umValue = 74565;
        for (int i = 0; i < 100; ++i) { // more than the file's last page holds
            a.monotonic = Timer();
            TheRecorder().OnRawAnswer(a);
        }
    });
    const std::string err = ::testing::internal::GetCapturedStderr();
    EXPECT_EQ(rc, 0);
    EXPECT_EQ(err, "kvor-zodid: Recording stopped: the disk is full (" + path + ").\n");
    EXPECT_TRUE(Parse(path).endsWithLf) << "no half row";
}

// The recorder window during RUN against the simulated sensor's physical model.
class RecorderWindowTest : public SensorTest {
  protected:
    void SetUp() override {
        SensorTest::SetUp();
        if (HasFatalFailure()) return;
        ASSERT_TRUE(dir.isValid());
        Connect();
        ASSERT_TRUE(SetUpRecorder(pPopup));
        window = TheRecorderWindow();
        ASSERT_NE(window, nullptr);
        DisplayPanel(pPopup);
    }
    void TearDown() override {
        ShutDownRecorder();
        RemoveMeasurementListener(&collector);
        SensorTest::TearDown();
    }
    void Click(const char *button) {
        auto *b = window->findChild<QPushButton *>(button);
        ASSERT_NE(b, nullptr) << button;
        QTest::mouseClick(b, Qt::LeftButton);
    }
    void Run(size_t answers, std::function<void()> midway = nullptr) {
        Schedule schedule;
        const size_t half = collector.raw.size() + answers / 2;
        if (midway) schedule.when([this, half] { return collector.raw.size() >= half; }, midway);
        const size_t until = collector.raw.size() + answers;
        schedule.when([this, until] { return collector.raw.size() >= until; }, [] { stop_flag = 1; });
        schedule.safetyStop(20.0);
        PushRUN();
        EXPECT_FALSE(schedule.safetyFired());
    }
    QString Label(const char *name) {
        auto *l = window->findChild<QLabel *>(name);
        return l ? l->text() : QString("(no label %1)").arg(name);
    }
    // The label shows the value to 'decimals' places, then 'unit'. The window's running
    // statistics and the test's sums over the file differ in the last bits, so a value that lies
    // on a tie at the last place shown may round either way.
    void ExpectShown(const char *name, double value, int decimals, const QString &unit = QString()) {
        QString text = Label(name);
        ASSERT_TRUE(text.endsWith(unit)) << name << ": " << text.toStdString();
        text.chop(unit.size());
        bool ok = false;
        const double shown = text.toDouble(&ok);
        ASSERT_TRUE(ok) << name << ": " << text.toStdString();
        ASSERT_EQ(text.size() - text.indexOf('.') - 1, decimals) << name << ": " << text.toStdString();
        EXPECT_LE(std::fabs(shown - value), 0.5 * std::pow(10.0, -decimals) + 1e-9)
            << name << ": " << text.toStdString() << " for " << value;
    }
    QTemporaryDir dir;
    RecorderWindow *window = nullptr;
    Collector collector;
};

TEST_F(RecorderWindowTest, CountersStatisticsAndPlotsFollowTheFile) {
    AddMeasurementListener(&collector);
    const std::string first = dir.filePath("a.csv").toStdString();
    window->SetFilePath(QString::fromStdString(first));
    Click("start");
    ASSERT_TRUE(TheRecorder().Recording()) << window->Message().toStdString();
    std::string second;
    // 200 answers for each file: the switch comes up to 10 ms late, and on a busy machine a
    // hundred answers later, while the statistics below want more than 100 in the second.
    Run(400, [&] {
        // New file while recording: the recording goes on in a new file in the same folder.
        Click("newfile");
        second = window->FilePath().toStdString();
    });
    ASSERT_TRUE(TheRecorder().Recording());
    EXPECT_NE(second, first);
    EXPECT_EQ(QFileInfo(QString::fromStdString(second)).absolutePath(), dir.path());
    window->Refresh();

    // The labels show the recording of the second file; recompute it from that file.
    Click("stop");
    EXPECT_FALSE(TheRecorder().Recording());
    const Recording a = Parse(first), b = Parse(second);
    EXPECT_EQ(a.headers, 1);
    EXPECT_EQ(b.headers, 1);
    EXPECT_EQ(a.rows.size() + b.rows.size(), collector.raw.size()) << "no answer lost between the files";
    ASSERT_GT(b.rows.size(), 100u);
    double sum = 0, lo = 1e300, hi = -1e300;
    size_t in = 0;
    for (const auto &row : b.rows) {
        const double v = std::stod(row[5]);
        sum += v;
        lo = std::min(lo, v);
        hi = std::max(hi, v);
        in += row[12] == "1";
    }
    const double mean = sum / b.rows.size();
    double ss = 0;
    for (const auto &row : b.rows)
        ss += (std::stod(row[5]) - mean) * (std::stod(row[5]) - mean);
    const double sd = std::sqrt(ss / (b.rows.size() - 1));
    ASSERT_GT(sd, 0.0) << "the physical model has noise";
    EXPECT_EQ(Label("rows"), QString::number(b.rows.size()));
    EXPECT_EQ(Label("n"), QString::number(b.rows.size()));
    EXPECT_EQ(Label("min"), QString::number(lo, 'f', 3) + " mm");
    EXPECT_EQ(Label("max"), QString::number(hi, 'f', 3) + " mm");
    ExpectShown("mean", mean, 4, " mm");
    ExpectShown("stddev", sd, 4, " mm");
    EXPECT_EQ(Label("intol"), QString::number(100.0 * in / b.rows.size(), 'f', 1) + " %");
    const ToleranceWindow w = TheRecorder().Window();
    ASSERT_TRUE(w.valid);
    ExpectShown("cp", (w.upper - w.lower) / (6 * sd), 2);
    ExpectShown("cpk", std::min(w.upper - mean, mean - w.lower) / (3 * sd), 2);
    EXPECT_TRUE(window->Message().startsWith("Recording stopped: ")) << window->Message().toStdString();

    // The trend draws min/max columns no wider than the plot, the histogram holds every row.
    window->UpdatePlots(true);
    QCustomPlot *trend = window->TrendPlot();
    ASSERT_GE(trend->graphCount(), 2);
    EXPECT_GT(trend->graph(0)->dataCount(), 0);
    EXPECT_LE(trend->graph(0)->dataCount(), std::max(50, trend->axisRect()->width()));
    auto *bars = qobject_cast<QCPBars *>(window->HistogramPlot()->plottable(0));
    ASSERT_NE(bars, nullptr);
    double total = 0;
    for (auto it = bars->data()->constBegin(); it != bars->data()->constEnd(); ++it)
        total += it->value;
    EXPECT_EQ(total, static_cast<double>(b.rows.size()));
}

TEST_F(RecorderWindowTest, AFileThatCannotBeOpenedIsSaidInTheWindowAndOnTheStatusLine) {
    window->SetFilePath(dir.filePath("x.csv"));
    {
        std::ofstream out(dir.filePath("x.csv").toStdString());
        out << "a,b\n";
    }
    Click("start");
    EXPECT_FALSE(TheRecorder().Recording());
    const std::string text = "Cannot record into " + dir.filePath("x.csv").toStdString() +
                             ": it holds other columns than a recording. Choose another file.";
    EXPECT_EQ(window->Message().toStdString(), text);
    EXPECT_EQ(StatusText(), text);
}

// The state line and the message show the file's name as it is, whatever characters it holds.
TEST_F(RecorderWindowTest, TheFileNameIsShownAsItIs) {
    // What a label shows of its text, as the label reads it.
    auto shown = [this](const char *label) {
        auto *l = window->findChild<QLabel *>(label);
        if (!l) return std::string("(no label)");
        const bool rich = l->textFormat() == Qt::RichText ||
                          (l->textFormat() == Qt::AutoText && Qt::mightBeRichText(l->text()));
        QTextDocument doc;
        if (rich) {
            doc.setHtml(l->text());
        } else {
            doc.setPlainText(l->text());
        }
        return doc.toPlainText().toStdString();
    };
    for (const char *name : {"plain.csv", "a<b>c.csv", "R&amp;D.csv", "<i>x.csv"}) {
        SCOPED_TRACE(name);
        const std::string path = dir.filePath(name).toStdString();
        window->SetFilePath(QString::fromStdString(path));
        Click("start");
        ASSERT_TRUE(TheRecorder().Recording()) << window->Message().toStdString();
        EXPECT_EQ(shown("state"), "Recording every RUN answer into " + path);
        EXPECT_EQ(shown("message"), "Recording into " + path);
        Click("stop");
        EXPECT_EQ(shown("message"), "Recording stopped: 0 rows in " + path);
    }
    // A refused file: the failure names it as it is too.
    const std::string other = dir.filePath("<b>other.csv").toStdString();
    {
        std::ofstream out(other);
        out << "a,b\n";
    }
    window->SetFilePath(QString::fromStdString(other));
    Click("start");
    EXPECT_EQ(shown("message"), "Cannot record into " + other +
                                    ": it holds other columns than a recording. Choose another file.");
}

// A disk that fills during RUN: the recording stops with a clear text, RUN goes on, and the
// file keeps every row written before, whole.
TEST_F(RecorderWindowTest, ADiskThatFillsStopsTheRecordingAndRunGoesOn) {
    const std::string small = dir.filePath("small").toStdString();
    const SmallDisk disk(small, "kvor-rec-full");
    if (!disk.Mounted())
        GTEST_SKIP() << "cannot mount a small tmpfs here (" << disk.Why()
                     << "); RecordFile.AFileThatCannotGrowStopsTheRecordingOnAWholeRow covers a failing write";

    sim->setRawOverride(kRaw);
    AddMeasurementListener(&collector);
    const std::string path = small + "/run.csv";
    window->SetFilePath(QString::fromStdString(path));
    Click("start");
    ASSERT_TRUE(TheRecorder().Recording());

    size_t atFailure = 0;
    bool filled = false;
    Schedule schedule;
    schedule.when([this] { return TheRecorder().RowsWritten() >= 20; },
                  [&] {
                      filled = FillUp(small);
                  });
    schedule.when([&] { return filled && !TheRecorder().Recording(); },
                  [&] {
                      atFailure = collector.raw.size();
                      schedule.when([&] { return collector.raw.size() >= atFailure + 50; },
                                    [] { stop_flag = 1; });
                  });
    schedule.safetyStop(20.0);
    PushRUN();
    ASSERT_FALSE(schedule.safetyFired()) << "the recording did not stop, or RUN did not go on";
    EXPECT_GE(collector.raw.size(), atFailure + 50) << "RUN went on after the disk was full";

    const std::string text = "Recording stopped: the disk is full (" + path + ").";
    EXPECT_EQ(window->Message().toStdString(), text);
    EXPECT_EQ(StatusText(), text);
    const Recording r = Parse(path);
    EXPECT_TRUE(r.endsWithLf) << "no half row";
    EXPECT_EQ(r.headers, 1);
    EXPECT_EQ(r.rows.size(), TheRecorder().RowsWritten()) << "every row counted as written is there";
    EXPECT_GE(r.rows.size(), 20u);
    for (size_t i = 0; i < r.rows.size(); ++i)
        ExpectRowIs(r.rows[i], collector.raw[i], i);
}

// The disk fills while rows still wait for the writer, and the operator stops the recording or
// asks for a new file right then: the rows that could not be written are said to be lost, in
// the window and on the status line, and no "Recording stopped: N rows" claims a clean end.
TEST_F(RecorderWindowTest, AFullDiskAtTheStopIsSaidAndNotTakenForAnEnd) {
    const std::string small = dir.filePath("small").toStdString();
    const SmallDisk disk(small, "kvor-rec-stop");
    if (!disk.Mounted())
        GTEST_SKIP() << "cannot mount a small tmpfs here (" << disk.Why()
                     << "); RecordFile.AWriteThatFailsWhileStoppingIsReported covers the stop";

    RawAnswer a{};
    a.leftEdge = 900;
    a.rightEdge = 1100;
    a.valuePx = 1000;
    a.umValue = 74565;
    a.setpointPx = 990;
    a.tolerancePx = 50;
    a.scale = 16384;
    for (const char *button : {"stop", "newfile"}) {
        SCOPED_TRACE(button);
        const std::string path = small + "/" + button + ".csv";
        window->SetFilePath(QString::fromStdString(path));
        Click("start");
        ASSERT_TRUE(TheRecorder().Recording()) << window->Message().toStdString();
        ASSERT_TRUE(FillUp(small));
        // Rows handed over as RUN hands them, more than the file's last page holds, then the
        // click before the writer's next turn.
        for (int i = 0; i < 100; ++i) {
            a.monotonic = Timer();
            TheRecorder().OnRawAnswer(a);
        }
        SetCtrlVal(pHandle, PANEL_STATUS, "");
        Click(button);
        EXPECT_FALSE(TheRecorder().Recording()) << "a new file on a full disk is not taken for going on";
        const std::string text = "Recording stopped: the disk is full (" + path + ").";
        EXPECT_EQ(window->Message().toStdString(), text);
        EXPECT_EQ(StatusText(), text);
        const Recording r = Parse(path);
        EXPECT_TRUE(r.endsWithLf) << "no half row";
        EXPECT_EQ(r.rows.size(), TheRecorder().RowsWritten());
        ::unlink((small + "/filler").c_str());
    }
}
