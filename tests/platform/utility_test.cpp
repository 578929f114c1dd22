// Utility services: the parameter file layout, formatting, the file dialog, the program directory.
#include <gtest/gtest.h>

#include <QCoreApplication>
#include <QDir>
#include <QFile>
#include <QTemporaryDir>

#include <cstdint>
#include <cstring>
#include <limits>
#include <string>

#include <csignal>
#include <sys/resource.h>

#include "testhooks.h"
#include "file_limits.h"
#include "userint.h"
#include "utility.h"

namespace {

std::string Local(const QString &path) {
    return path.toLocal8Bit().toStdString();
}

QByteArray ReadAll(const QString &path) {
    QFile f(path);
    return f.open(QIODevice::ReadOnly) ? f.readAll() : QByteArray("<unreadable>");
}

void WriteAll(const QString &path, const QByteArray &bytes) {
    QFile f(path);
    ASSERT_TRUE(f.open(QIODevice::WriteOnly | QIODevice::Truncate));
    f.write(bytes);
}

int Save(const QString &path, const std::uint32_t *values, int n = 30) {
    return ArrayToFile(Local(path).c_str(), values, VAL_UNSIGNED_INTEGER, n, 1, VAL_GROUPS_TOGETHER,
                       VAL_GROUPS_AS_COLUMNS, VAL_SEP_BY_COMMA, 10, VAL_ASCII, VAL_TRUNCATE);
}

int Load(const QString &path, std::uint32_t *values, int n = 30) {
    return FileToArray(Local(path).c_str(), values, VAL_UNSIGNED_INTEGER, n, 1, VAL_GROUPS_TOGETHER,
                       VAL_GROUPS_AS_COLUMNS, VAL_ASCII);
}

TEST(ArrayFiles, WritesOneRightAlignedFieldPerLineAndReadsItBack) {
    QTemporaryDir dir;
    const QString path = dir.filePath("KVORpara.cfg");
    std::uint32_t out[30];
    for (int i = 0; i < 30; ++i)
        out[i] = static_cast<std::uint32_t>(i * 1000);
    out[0] = 0;
    out[26] = 16384;
    out[28] = 65535;
    out[29] = 4294967295u;
    ASSERT_EQ(Save(path, out), 0);
    const QByteArray text = ReadAll(path);
    const QList<QByteArray> lines = text.split('\n');
    ASSERT_EQ(lines.size(), 31); // a newline after every value
    EXPECT_EQ(lines[0], QByteArray("         0"));
    EXPECT_EQ(lines[26], QByteArray("     16384"));
    EXPECT_EQ(lines[29], QByteArray("4294967295"));
    EXPECT_TRUE(lines[30].isEmpty());

    std::uint32_t in[30] = {};
    ASSERT_EQ(Load(path, in), 0);
    EXPECT_EQ(0, std::memcmp(in, out, sizeof out));

    // Saving over a longer file replaces it entirely.
    WriteAll(path, QByteArray(4000, '9'));
    ASSERT_EQ(Save(path, out), 0);
    EXPECT_EQ(ReadAll(path), text);

    // Signed and real numbers read back the same way.
    const std::int32_t signedOut[3] = {-1, 2147483647, -2147483647 - 1};
    std::int32_t signedIn[3] = {};
    const QString s = dir.filePath("signed.txt");
    ASSERT_EQ(
        ArrayToFile(Local(s).c_str(), signedOut, VAL_INTEGER, 3, 1, 0, 0, 0, 10, VAL_ASCII, VAL_TRUNCATE), 0);
    ASSERT_EQ(FileToArray(Local(s).c_str(), signedIn, VAL_INTEGER, 3, 1, 0, 0, VAL_ASCII), 0);
    EXPECT_EQ(0, std::memcmp(signedIn, signedOut, sizeof signedOut));
    const double realOut[3] = {0.1, -1.5e-300, 1.0 / 3.0};
    double realIn[3] = {};
    ASSERT_EQ(ArrayToFile(Local(s).c_str(), realOut, VAL_DOUBLE, 3, 1, 0, 0, 0, 10, VAL_ASCII, VAL_TRUNCATE),
              0);
    ASSERT_EQ(FileToArray(Local(s).c_str(), realIn, VAL_DOUBLE, 3, 1, 0, 0, VAL_ASCII), 0);
    EXPECT_EQ(0, std::memcmp(realIn, realOut, sizeof realOut));
}

TEST(ArrayFiles, AnythingButExactlyTheValuesIsARefusedFile) {
    QTemporaryDir dir;
    const QString path = dir.filePath("bad.cfg");
    auto file = [](int line, const QByteArray &field) {
        QByteArray text;
        for (int i = 0; i < 30; ++i)
            text += (i == line ? field : QByteArray::number(i + 1)) + "\n";
        return text;
    };
    const QByteArray good = file(-1, QByteArray());
    const QByteArray cases[] = {
        QByteArray(),                      // empty
        good.left(good.lastIndexOf("30")), // 29 values
        good + "31\n",                     // 31 values
        file(16, "seventeen"),             // a word
        file(4, "-5"),                     // a sign
        file(4, "+5"),
        file(4, "4294967296"), // above the range
        file(4, "0x10"),
        file(4, "5.0"),
        file(4, QByteArray("5\0", 2)),
    };
    for (size_t i = 0; i < sizeof cases / sizeof cases[0]; ++i) {
        WriteAll(path, cases[i]);
        std::uint32_t values[30];
        for (std::uint32_t &v : values)
            v = 0xDEADBEEF;
        EXPECT_LT(Load(path, values), 0) << "case " << i;
        for (std::uint32_t v : values)
            ASSERT_EQ(v, 0xDEADBEEFu) << "case " << i;
    }
    // Other white space between the numbers is fine.
    WriteAll(path, QByteArray(good).replace('\n', " \t\r\n"));
    std::uint32_t values[30];
    EXPECT_EQ(Load(path, values), 0);
    EXPECT_EQ(values[29], 30u);
    std::uint32_t untouched[30] = {};
    EXPECT_EQ(Load(dir.filePath("missing.cfg"), untouched), UTIL_FileIOError);
}

TEST(ArrayFiles, AWriteThatCannotBeDoneFailsAndChangesNothing) {
    std::uint32_t values[30] = {1, 2, 3};
    EXPECT_EQ(Save(QStringLiteral("/nonexistent-kvor-dir/sub/KVORpara.cfg"), values), UTIL_FileIOError);
    // A value that could not be read back is refused before the old file is touched.
    QTemporaryDir dir;
    const QString path = dir.filePath("values.txt");
    WriteAll(path, "old contents\n");
    const double bad[2] = {1.0, std::numeric_limits<double>::infinity()};
    EXPECT_LT(ArrayToFile(Local(path).c_str(), bad, VAL_DOUBLE, 2, 1, 0, 0, 0, 10, VAL_ASCII, VAL_TRUNCATE),
              0);
    EXPECT_EQ(ReadAll(path), QByteArray("old contents\n"));
}

TEST(ArrayFiles, AFailedWriteLeavesTheOldFileIntact) {
    // A write that runs out of room half-way, as on a full disk. A file-size limit refuses the
    // write whatever rights the test runs with (root included): every byte past the first 64
    // fails.
    std::uint32_t values[30];
    for (int i = 0; i < 30; ++i)
        values[i] = 4000000000u + static_cast<std::uint32_t>(i);
    QTemporaryDir dir;
    ASSERT_TRUE(dir.isValid());
    const QString path = dir.filePath("KVORpara.cfg");
    WriteAll(path, "old contents\n");

    int result = 0;
    {
        const FileSizeLimit limit(64);
        ASSERT_TRUE(limit.Set());
        result = Save(path, values);
    }

    EXPECT_EQ(result, UTIL_FileIOError);
    EXPECT_EQ(ReadAll(path), QByteArray("old contents\n"));
    // Nothing half-written is left beside it.
    EXPECT_EQ(QDir(dir.path()).entryList(QDir::Files | QDir::Hidden | QDir::NoDotAndDotDot),
              QStringList{"KVORpara.cfg"});

    // Within the limit again, the same write replaces the file.
    ASSERT_EQ(Save(path, values), 0);
    std::uint32_t back[30] = {};
    ASSERT_EQ(Load(path, back), 0);
    EXPECT_EQ(0, std::memcmp(back, values, sizeof values));
}

TEST(Formatting, WordsBecomeCharactersUpToTheFirstZero) {
    int words[36] = {};
    const char *hello = "V3.0b 2004";
    for (size_t i = 0; i < std::strlen(hello); ++i)
        words[i] = 0x100 + hello[i]; // low byte counts
    char text[72];
    EXPECT_EQ(Fmt(text, sizeof text, "%72c<%36i", words, 36), 10);
    EXPECT_STREQ(text, hello);

    for (int &w : words)
        w = 'A';
    EXPECT_EQ(Fmt(text, sizeof text, "%72c<%36i", words, 36), 36);
    EXPECT_EQ(std::string(text), std::string(36, 'A'));
    char small[10];
    EXPECT_EQ(Fmt(small, sizeof small, "%72c<%36i", words, 36), 9);
    EXPECT_EQ(std::string(small), std::string(9, 'A'));

    std::memcpy(text, "stale", 6);
    EXPECT_LT(Fmt(text, sizeof text, "%s", words, 36), 0);
    EXPECT_STREQ(text, "");
    EXPECT_LT(Fmt(text, 0, "%72c<%36i", words, 36), 0);
}

TEST(FileDialog, PresetAnswersComeInOrderAndTheRequestIsRecorded) {
    ClearFileSelectAnswers();
    PresetFileSelectAnswer(VAL_NEW_FILE_SELECTED, "/tmp/a.cfg");
    PresetFileSelectAnswer(VAL_NO_FILE_SELECTED, "");
    std::string path = "unchanged";
    EXPECT_EQ(FileSelectPopup("/opt", "KVORpara.cfg", "*.cfg", "K-VOR-MZ-Series Parameter File",
                              VAL_OK_BUTTON, 0, 1, 1, 1, &path),
              VAL_NEW_FILE_SELECTED);
    EXPECT_EQ(path, "/tmp/a.cfg");
    const FileSelectRequest r = LastFileSelectRequest();
    EXPECT_EQ(r.directory, "/opt");
    EXPECT_EQ(r.fileName, "KVORpara.cfg");
    EXPECT_EQ(r.filter, "*.cfg");
    EXPECT_EQ(r.title, "K-VOR-MZ-Series Parameter File");
    EXPECT_EQ(r.buttonLabel, VAL_OK_BUTTON);
    EXPECT_EQ(r.restrictExtension, 1);
    EXPECT_EQ(FileSelectPopup("/opt", "KVORpara.cfg", "*.cfg", "Load", VAL_LOAD_BUTTON, 0, 1, 1, 1, &path),
              VAL_NO_FILE_SELECTED);
    EXPECT_EQ(path, "/tmp/a.cfg"); // a cancelled dialog leaves the old path
    EXPECT_EQ(LastFileSelectRequest().buttonLabel, VAL_LOAD_BUTTON);
    // With no answer preset, no dialog can be shown offscreen: cancelled, never a hang.
    EXPECT_EQ(FileSelectPopup("/opt", "x.cfg", "*.cfg", "t", VAL_LOAD_BUTTON, 0, 1, 1, 1, &path),
              VAL_NO_FILE_SELECTED);
}

TEST(ProjectDir, IsTheProgramsOwnDirectory) {
    std::string dir;
    EXPECT_EQ(GetProjectDir(&dir), 0);
    EXPECT_EQ(QDir(QString::fromLocal8Bit(dir.c_str())), QDir(QCoreApplication::applicationDirPath()));
}

} // namespace
