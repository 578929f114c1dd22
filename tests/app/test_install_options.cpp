// --version and --check: what an installation is checked with.
#include <gtest/gtest.h>

#include <QCoreApplication>
#include <QDir>

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

} // namespace
