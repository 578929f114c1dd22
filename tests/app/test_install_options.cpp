// --version and --check: what an installation is checked with.
#include <gtest/gtest.h>

#include <QCoreApplication>
#include <QDir>
#include <QFileInfo>
#include <QProcess>
#include <QProcessEnvironment>

#include <string>
#include <vector>

#include "state.h"

namespace {

int RunMain(std::vector<std::string> args) {
    std::vector<char *> argv;
    for (std::string &a : args)
        argv.push_back(&a[0]);
    argv.push_back(nullptr);
    return KvorMain(static_cast<int>(args.size()), argv.data());
}

TEST(InstallOptions, VersionPrintsTheProgramAndItsVersionOnly) {
    ::testing::internal::CaptureStdout();
    EXPECT_EQ(RunMain({"kvor-zodid", "--version"}), 0);
    EXPECT_EQ(::testing::internal::GetCapturedStdout(), "kvor-zodid 3.0b\n");
    EXPECT_EQ(pHandle, 0); // nothing was loaded
}

// Beside the test program lie the panel file and the bitmaps, as beside the built program.
TEST(InstallOptions, CheckSaysWhereEachFileWasFoundAndLeavesNoPanel) {
    ::testing::internal::CaptureStdout();
    const int result = RunMain({"kvor-zodid", "--check"});
    const std::string out = ::testing::internal::GetCapturedStdout();
    EXPECT_EQ(result, 0) << out;
    const std::string dir = QDir(QCoreApplication::applicationDirPath()).absolutePath().toStdString();
    for (const char *file : {"K-VOR-RNZazorU30.uir", "av.bmp", "quandrel.bmp", "merantic.bmp", "torvel.bmp"})
        EXPECT_NE(out.find(std::string(file) + ": " + dir + "/" + file + "\n"), std::string::npos) << out;
    for (int handle : {pHandle, pPopup, pPara1, pPara2, pCalib})
        EXPECT_EQ(handle, 0);
}

// The check shows no window: a platform named for windows in the environment, with no display
// behind it (a login over the network), must not make it fail.
TEST(InstallOptions, CheckNeedsNoDisplayWhateverPlatformIsNamed) {
    const QString program = QCoreApplication::applicationDirPath() + QStringLiteral("/kvor-zodid");
    ASSERT_TRUE(QFileInfo(program).isExecutable()) << program.toStdString();
    for (const char *platform : {"", "xcb", "wayland", "xcb;wayland"}) {
        SCOPED_TRACE(platform);
        QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
        for (const char *var : {"QT_QPA_PLATFORM", "DISPLAY", "WAYLAND_DISPLAY", "XDG_SESSION_TYPE"})
            env.remove(QLatin1String(var));
        if (*platform) env.insert(QStringLiteral("QT_QPA_PLATFORM"), QLatin1String(platform));
        QProcess run;
        run.setProcessEnvironment(env);
        run.start(program, {QStringLiteral("--check")});
        ASSERT_TRUE(run.waitForStarted(10000));
        if (!run.waitForFinished(20000)) {
            run.kill();
            run.waitForFinished(5000);
            ADD_FAILURE() << "the check did not end";
            continue;
        }
        const QString out = QString::fromLocal8Bit(run.readAllStandardOutput());
        EXPECT_EQ(run.exitStatus(), QProcess::NormalExit);
        EXPECT_EQ(run.exitCode(), 0) << run.readAllStandardError().toStdString();
        EXPECT_TRUE(out.startsWith(QLatin1String("K-VOR-RNZazorU30.uir: /"))) << out.toStdString();
    }
}

} // namespace
