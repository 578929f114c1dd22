// The recording file: appending to a recording, refusing other files, whole rows when the
// program is killed or the file cannot grow.
#include <gtest/gtest.h>

#include <QTemporaryDir>

#include <atomic>
#include <cerrno>
#include <chrono>
#include <csignal>
#include <cstdio>
#include <cstring>
#include <fstream>
#include <functional>
#include <random>
#include <sstream>
#include <string>
#include <vector>

#include <dlfcn.h>
#include <sys/mman.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <thread>
#include <time.h>
#include <unistd.h>

#include "csv.h"
#include "fixtures.h"
#include "recorder.h"

// fdatasync() as the system gives it, unless a test asks for the error a failing device or a
// full network disk gives only when the data is handed to the disk.
namespace {
std::atomic<int> g_syncError{0};
} // namespace

extern "C" int fdatasync(int fd) {
    if (const int err = g_syncError.load()) {
        errno = err;
        return -1;
    }
    using Sync = int (*)(int);
    static const Sync real = reinterpret_cast<Sync>(dlsym(RTLD_NEXT, "fdatasync"));
    return real ? real(fd) : 0;
}

namespace {

std::string ReadFile(const std::string &path) {
    std::ifstream in(path, std::ios::binary);
    std::stringstream s;
    s << in.rdbuf();
    return s.str();
}

void WriteFile(const std::string &path, const std::string &text) {
    std::ofstream out(path, std::ios::binary);
    out << text;
}

std::vector<std::string> Lines(const std::string &text) {
    std::vector<std::string> lines;
    size_t pos = 0;
    for (size_t end; (end = text.find('\n', pos)) != std::string::npos; pos = end + 1)
        lines.push_back(text.substr(pos, end - pos));
    if (pos < text.size()) lines.push_back(text.substr(pos)); // an unfinished last line
    return lines;
}

size_t Count(const std::vector<std::string> &lines, const std::string &line) {
    size_t n = 0;
    for (const std::string &l : lines)
        n += l == line;
    return n;
}

RecordFacts Facts() {
    RecordFacts f;
    f.program = "K-VOR-RN-Zodid";
    f.version = "Version 3.0b";
    f.port = 1;
    f.device = "/dev/null";
    f.offset = 30000;
    return f;
}

// A RUN answer whose value tells its number: umValue = i.
RawAnswer Numbered(uint32_t i, double seconds) {
    RawAnswer a{};
    a.leftEdge = 900;
    a.rightEdge = 1100;
    a.valuePx = 1000;
    a.umValue = i;
    a.setpointPx = 1000;
    a.tolerancePx = 50;
    a.edges = 2;
    a.scale = 16384;
    a.inTolerance = true;
    a.monotonic = 100.0 + seconds;
    a.wallMs = 1796634902000LL + static_cast<int64_t>(seconds * 1000.0);
    return a;
}

// Rows are whole: 13 fields each, numbered 0, 1, 2, ... by their value_mm. Returns their count,
// or -1 (with a failure) at the first row that is not.
long WholeNumberedRows(const std::vector<std::string> &lines) {
    long rows = 0;
    bool header = false;
    for (const std::string &l : lines) {
        if (!header) {
            header = l == kRecordHeaderRow;
            continue;
        }
        std::vector<std::string> f;
        std::stringstream s(l);
        for (std::string x; std::getline(s, x, ',');)
            f.push_back(x);
        char expected[32];
        std::snprintf(expected, sizeof expected, "%ld.%03ld", rows / 1000, rows % 1000);
        if (f.size() != 13 || f[5] != expected || f[12] != "1") {
            ADD_FAILURE() << "row " << rows << " is not whole: '" << l << "'";
            return -1;
        }
        ++rows;
    }
    EXPECT_TRUE(header) << "no header row";
    return rows;
}

class RecordFile : public ::testing::Test {
  protected:
    void SetUp() override { ASSERT_TRUE(dir.isValid()); }
    std::string Path(const char *name) const { return dir.filePath(name).toStdString(); }
    // Records answers first .. first + n - 1 into 'path' as one recording.
    bool Record(const std::string &path, uint32_t first, uint32_t n, std::string *error) {
        Recorder rec;
        if (!rec.Start(path, Facts(), 100.0, 1796634902000LL, error)) return false;
        for (uint32_t i = first; i < first + n; ++i)
            rec.OnRawAnswer(Numbered(i, (i - first) * 0.001));
        RawAnswer video = Numbered(999999, 0.0);
        video.video = true; // VIDEO's answers are not recorded
        rec.OnRawAnswer(video);
        rec.Stop();
        EXPECT_EQ(rec.Rows(), n);
        EXPECT_EQ(rec.RowsWritten(), n);
        return true;
    }
    QTemporaryDir dir;
};

} // namespace

TEST_F(RecordFile, AppendingToARecordingWritesNoSecondHeader) {
    const std::string path = Path("sub/folder/run.csv"); // the folders are made
    std::string error;
    ASSERT_TRUE(Record(path, 0, 3, &error)) << error;
    ASSERT_TRUE(Record(path, 3, 4, &error)) << error;
    const std::string text = ReadFile(path);
    EXPECT_EQ(text.back(), '\n');
    EXPECT_EQ(text.find('\r'), std::string::npos) << "LF line ends only";
    const std::vector<std::string> lines = Lines(text);
    EXPECT_EQ(Count(lines, kRecordHeaderRow), 1u);
    size_t comments = 0;
    for (const std::string &l : lines)
        comments += l.rfind("#", 0) == 0;
    EXPECT_EQ(comments, 9u) << "the comment lines come once, before the header row";
    EXPECT_EQ(WholeNumberedRows(lines), 7);
}

TEST_F(RecordFile, OtherFilesAreRefusedAndLeftAlone) {
    struct Case {
        const char *name;
        std::string content;
        const char *says;
    };
    const Case cases[] = {
        {"other.csv", "time,value\n1,2\n", "holds other columns"},
        {"wider.csv", std::string(kRecordHeaderRow) + ",note\n", "holds other columns"},
        {"notes.txt", "# just a note\n", "not a recording"},
        {"binary.bin",
         std::string("\x7f"
                     "ELF\x02\x01",
                     6),
         "not a recording"},
    };
    for (const Case &c : cases) {
        const std::string path = Path(c.name);
        WriteFile(path, c.content);
        std::string error;
        Recorder rec;
        EXPECT_FALSE(rec.Start(path, Facts(), 0.0, 0, &error)) << c.name;
        EXPECT_FALSE(rec.Recording());
        EXPECT_NE(error.find(path), std::string::npos) << error;
        EXPECT_NE(error.find(c.says), std::string::npos) << error;
        EXPECT_EQ(ReadFile(path), c.content) << c.name;
        std::string checked;
        EXPECT_FALSE(CsvWriter::Check(path, &checked));
        EXPECT_EQ(checked, error);
    }
    // A folder is no file; an empty file is a new recording.
    std::string error;
    Recorder rec;
    EXPECT_FALSE(rec.Start(dir.path().toStdString(), Facts(), 0.0, 0, &error));
    EXPECT_NE(error.find("Cannot record into"), std::string::npos) << error;
    WriteFile(Path("empty.csv"), "");
    EXPECT_TRUE(CsvWriter::Check(Path("empty.csv"), &error)) << error;
    EXPECT_TRUE(Record(Path("empty.csv"), 0, 1, &error)) << error;
    EXPECT_EQ(Count(Lines(ReadFile(Path("empty.csv"))), kRecordHeaderRow), 1u);
}

TEST_F(RecordFile, AnUnfinishedLastLineIsEndedBeforeOurRows) {
    const std::string path = Path("cut.csv");
    WriteFile(path, std::string(kRecordHeaderRow) + "\n2026-12-07T10:15:02.123+01:00,0.0");
    std::string error;
    ASSERT_TRUE(Record(path, 0, 2, &error)) << error;
    const std::vector<std::string> lines = Lines(ReadFile(path));
    ASSERT_EQ(lines.size(), 4u);
    EXPECT_EQ(lines[1], "2026-12-07T10:15:02.123+01:00,0.0") << "what was there stays";
    EXPECT_EQ(lines[2].substr(29, 7), ",0.000,");
}

// The program is killed while it records at the line's pace: the file holds whole rows only,
// numbered without a gap, and at most the rows of the last second are missing.
TEST_F(RecordFile, AKilledRecorderLeavesWholeRowsOnly) {
    const std::string path = Path("killed.csv");
    auto *produced = static_cast<std::atomic<long> *>(
        mmap(nullptr, sizeof(std::atomic<long>), PROT_READ | PROT_WRITE, MAP_SHARED | MAP_ANONYMOUS, -1, 0));
    ASSERT_NE(produced, MAP_FAILED);
    new (produced) std::atomic<long>(0);
    constexpr double kPace = 1.0 / 1500.0; // about the line's pace
    const pid_t child = fork();
    ASSERT_GE(child, 0);
    if (child == 0) {
        Recorder rec;
        std::string error;
        if (!rec.Start(path, Facts(), 100.0, 1796634902000LL, &error)) _exit(3);
        const auto start = std::chrono::steady_clock::now();
        for (uint32_t i = 0;; ++i) {
            rec.OnRawAnswer(Numbered(i, i * kPace));
            produced->store(static_cast<long>(i) + 1);
            std::this_thread::sleep_until(start + std::chrono::duration<double>((i + 1) * kPace));
        }
    }
    // Kill it once it has produced a good number of rows, at a moment that falls anywhere in the
    // writer's tenth of a second.
    std::random_device seed;
    const long at = 3000 + static_cast<long>(seed() % 150);
    const bool grew = WaitUntil([&] { return produced->load() >= at; }, 20.0);
    kill(child, SIGKILL);
    int status = 0;
    waitpid(child, &status, 0);
    ASSERT_TRUE(grew) << "the child wrote too little";
    ASSERT_TRUE(WIFSIGNALED(status));
    const long made = produced->load();
    munmap(produced, sizeof(std::atomic<long>));

    const std::string text = ReadFile(path);
    ASSERT_FALSE(text.empty());
    EXPECT_EQ(text.back(), '\n') << "the file ends in a whole row";
    const long rows = WholeNumberedRows(Lines(text));
    ASSERT_GT(rows, 0);
    const long lost = made - rows;
    std::printf(
        "killed recorder: %ld rows produced, %ld in the file, %ld lost (%.0f ms of rows at %.0f rows/s)\n",
        made, rows, lost, lost * kPace * 1000.0, 1.0 / kPace);
    EXPECT_GE(lost, 0);
    EXPECT_LE(lost, static_cast<long>(1.0 / kPace)) << "more than a second of rows lost";
}

// Runs 'body' in a child process whose files cannot grow beyond 4000 bytes (not a multiple of a
// row's length: a row is cut by the limit). What the body puts in its report comes back, with
// the child's exit code: the body's answer, or -1 when the child did not exit.
namespace {

struct ChildRun {
    int code = -1;
    std::string report;
};
ChildRun InChildWithFilesUpTo4000Bytes(const std::function<int(std::string *report)> &body) {
    ChildRun run;
    int pipefd[2];
    if (pipe(pipefd) != 0) return run;
    const pid_t child = fork();
    if (child < 0) return run;
    if (child == 0) {
        close(pipefd[0]);
        signal(SIGXFSZ, SIG_IGN);
        rlimit lim{4000, 4000};
        setrlimit(RLIMIT_FSIZE, &lim);
        std::string report;
        const int code = body(&report);
        (void)!write(pipefd[1], report.data(), report.size());
        _exit(code);
    }
    close(pipefd[1]);
    char buf[512];
    for (ssize_t n; (n = read(pipefd[0], buf, sizeof buf)) > 0;)
        run.report.append(buf, static_cast<size_t>(n));
    close(pipefd[0]);
    int status = 0;
    waitpid(child, &status, 0);
    if (WIFEXITED(status)) run.code = WEXITSTATUS(status);
    return run;
}

} // namespace

// A file that cannot grow (here: the file-size limit) stops the recording with a clear text;
// the file ends on a whole row, and every row the recorder counted as written is in it.
TEST_F(RecordFile, AFileThatCannotGrowStopsTheRecordingOnAWholeRow) {
    const std::string path = Path("limited.csv");
    const ChildRun run = InChildWithFilesUpTo4000Bytes([&path](std::string *report) {
        Recorder rec;
        std::string error, text;
        bool called = false;
        rec.OnFailure([&](const std::string &t) { called = true, text = t; });
        if (!rec.Start(path, Facts(), 100.0, 1796634902000LL, &error)) return 3;
        for (uint32_t i = 0; i < 100000 && rec.Recording(); ++i) {
            rec.OnRawAnswer(Numbered(i, i * 0.001));
            if (i % 50 == 0) usleep(2000); // answers come at a pace; the writer gets its turns
        }
        if (rec.Recording() || !called) return 4;
        *report = text + "\n" + std::to_string(rec.RowsWritten());
        return 0;
    });
    ASSERT_EQ(run.code, 0) << "3: could not start, 4: did not stop with a text";
    const std::string &report = run.report;
    const size_t nl = report.find('\n');
    ASSERT_NE(nl, std::string::npos);
    EXPECT_EQ(report.substr(0, nl), "Recording stopped: the file has reached its size limit (" + path + ").");
    const std::string text = ReadFile(path);
    EXPECT_LE(text.size(), 4000u);
    EXPECT_EQ(text.back(), '\n');
    EXPECT_EQ(WholeNumberedRows(Lines(text)), std::stol(report.substr(nl + 1)));
}

// Rows still queued when the recording stops are written by the stop itself. When that last
// write fails, the stop says so: the failure goes to OnFailure once, as it does during a
// recording, and Stop() answers false.
TEST_F(RecordFile, AWriteThatFailsWhileStoppingIsReported) {
    const std::string path = Path("stopped.csv");
    const ChildRun run = InChildWithFilesUpTo4000Bytes([&path](std::string *report) {
        Recorder rec;
        std::string error, text;
        int called = 0;
        rec.OnFailure([&](const std::string &t) { ++called, text = t; });
        if (!rec.Start(path, Facts(), 100.0, 1796634902000LL, &error)) return 3;
        // Far more than the limit holds, handed over at once: the writer meets the limit at
        // the stop, not before.
        for (uint32_t i = 0; i < 200; ++i)
            rec.OnRawAnswer(Numbered(i, i * 0.001));
        const bool stopped = rec.Stop();
        if (rec.Recording()) return 4;
        *report = std::to_string(called) + "\n" + (stopped ? "true" : "false") + "\n" + text + "\n" +
                  std::to_string(rec.RowsWritten());
        return 0;
    });
    ASSERT_EQ(run.code, 0) << "3: could not start, 4: still recording after the stop";
    const std::string &report = run.report;
    const std::vector<std::string> lines = Lines(report);
    ASSERT_EQ(lines.size(), 4u) << report;
    EXPECT_EQ(lines[0], "1") << "the failure is reported once";
    EXPECT_EQ(lines[1], "false") << "a stop that lost rows is no success";
    EXPECT_EQ(lines[2], "Recording stopped: the file has reached its size limit (" + path + ").");
    const std::string text = ReadFile(path);
    EXPECT_EQ(text.back(), '\n');
    EXPECT_EQ(WholeNumberedRows(Lines(text)), std::stol(lines[3]));
    EXPECT_LT(std::stol(lines[3]), 200);
}

// The disk takes the rows only when the file is closed (a failing device, a network disk that is
// full): the stop reports that as it reports a failed write, and the rows stay whole in the file.
TEST_F(RecordFile, AFailedHandOverToTheDiskAtTheStopIsReported) {
    struct Case {
        int err;
        const char *reason;
    };
    const Case cases[] = {{0, nullptr}, {ENOSPC, "the disk is full"}, {EIO, std::strerror(EIO)}};
    int k = 0;
    for (const Case &c : cases) {
        const std::string path = Path(("synced" + std::to_string(k++) + ".csv").c_str());
        Recorder rec;
        std::vector<std::string> texts;
        rec.OnFailure([&texts](const std::string &t) { texts.push_back(t); });
        std::string error;
        ASSERT_TRUE(rec.Start(path, Facts(), 100.0, 1796634902000LL, &error)) << error;
        for (uint32_t i = 0; i < 5; ++i)
            rec.OnRawAnswer(Numbered(i, i * 0.001));
        g_syncError = c.err;
        const bool stopped = rec.Stop();
        g_syncError = 0;
        std::vector<std::string> expected;
        if (c.reason) expected.push_back("Recording stopped: " + std::string(c.reason) + " (" + path + ").");
        EXPECT_EQ(stopped, c.reason == nullptr) << c.err;
        EXPECT_EQ(texts, expected);
        EXPECT_EQ(WholeNumberedRows(Lines(ReadFile(path))), 5);
    }
}
