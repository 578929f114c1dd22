// Where the program finds its data files: beside the binary, and in an installed tree the
// share/kvor-zodid folder beside its bin/ folder, wherever that tree was put.
#include <gtest/gtest.h>

#include <QCoreApplication>
#include <QDir>
#include <QFile>
#include <QTemporaryDir>

#include <string>

#include "userint.h"

namespace {

std::string Found(const QString &name) {
    char path[4096] = {0};
    if (FindDataFilePath(name.toLocal8Bit().constData(), path, sizeof path) != 0) return std::string();
    return path;
}

bool Touch(const QString &path) {
    QFile f(path);
    return f.open(QIODevice::WriteOnly) && f.write("x") == 1;
}

} // namespace

TEST(DataFiles, FoundBesideTheBinaryAndInTheShareFolderOfItsTree) {
    const QString bin = QCoreApplication::applicationDirPath();
    // A name no other file has, so that neither the current folder nor an installed copy of the
    // program can supply it.
    const QString name = QStringLiteral("kvor-data-probe-%1.txt").arg(QCoreApplication::applicationPid());
    EXPECT_EQ(Found(name), std::string());

    // The tree's share folder: bin/../share/kvor-zodid.
    const QString share = QDir::cleanPath(bin + QStringLiteral("/../share/kvor-zodid"));
    const bool shareExisted = QDir(share).exists();
    ASSERT_TRUE(QDir().mkpath(share));
    const QString inShare = share + QLatin1Char('/') + name;
    ASSERT_TRUE(Touch(inShare));
    EXPECT_EQ(Found(name), inShare.toStdString());

    // Beside the binary comes first.
    const QString beside = bin + QLatin1Char('/') + name;
    ASSERT_TRUE(Touch(beside));
    EXPECT_EQ(Found(name), beside.toStdString());

    QFile::remove(beside);
    QFile::remove(inShare);
    if (!shareExisted) {
        QDir().rmdir(share);
        QDir().rmdir(QFileInfo(share).path());
    }
    EXPECT_EQ(Found(name), std::string());
}
