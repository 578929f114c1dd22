// Test main: every test program runs offscreen, with the program's callbacks registered.
#include <gtest/gtest.h>

#include <QtGlobal>
#include <QDir>
#include <QTemporaryDir>

#include "K-VOR-RNZazorU30.h"
#include "panel_reports.h"
#include "userint.h"

int main(int argc, char **argv) {
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM")) qputenv("QT_QPA_PLATFORM", "offscreen");
    if (qEnvironmentVariableIsEmpty("XDG_RUNTIME_DIR")) {
        const QString dir = QDir::tempPath() + "/kvor-xdg-tests";
        QDir().mkpath(dir);
        QFile::setPermissions(dir, QFileDevice::ReadOwner | QFileDevice::WriteOwner |
                                       QFileDevice::ExeOwner);
        qputenv("XDG_RUNTIME_DIR", dir.toLocal8Bit());
    }
    // The program keeps the port it used last in the user's settings: no test reads or changes
    // the real ones. (Tests of the settings point these at a directory of their own.)
    static QTemporaryDir config;
    if (config.isValid()) qputenv("XDG_CONFIG_HOME", config.path().toLocal8Bit());
    ::testing::InitGoogleTest(&argc, argv);
    if (InitRunTime(argc, argv) == 0) return 2;
    RegisterCallbacks(kPanelFileCallbacks, kPanelFileCallbackCount);
    ConnectLinkToPanels();
    return RUN_ALL_TESTS();
}
