// A start with a display that cannot be reached ends with -1 and one line, never Qt's abort.
// (Every test program itself starts through the same check, on the offscreen platform.)
#include <gtest/gtest.h>

#include <QCoreApplication>
#include <QFileInfo>
#include <QProcess>
#include <QProcessEnvironment>

#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

namespace {

// An X display number nobody serves here.
int UnusedDisplay() {
    for (int n = 917; n < 1000; ++n)
        if (!QFileInfo::exists(QStringLiteral("/tmp/.X11-unix/X%1").arg(n))) return n;
    return 999;
}

// A TCP port on this machine that refuses connections (bound, then given back).
int RefusingPort() {
    const int fd = socket(AF_INET, SOCK_STREAM, 0);
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    socklen_t size = sizeof address;
    int port = 6999;
    if (fd >= 0 && bind(fd, reinterpret_cast<sockaddr *>(&address), sizeof address) == 0 &&
        getsockname(fd, reinterpret_cast<sockaddr *>(&address), &size) == 0)
        port = ntohs(address.sin_port);
    if (fd >= 0) close(fd);
    return port;
}

} // namespace

TEST(Display, UnreachableDisplaysEndTheStartWithOneLine) {
    const QString program = QCoreApplication::applicationDirPath() + QStringLiteral("/kvor-zodid");
    ASSERT_TRUE(QFileInfo(program).isExecutable()) << program.toStdString();
    const int dead = UnusedDisplay();
    const int tcp = RefusingPort();

    struct Case {
        const char *what;
        QString platform; // QT_QPA_PLATFORM, empty: unset
        QString display;  // DISPLAY, empty: unset
        const char *says; // part of the line
    };
    const Case cases[] = {
        {"dead local X server", QString(), QStringLiteral(":%1").arg(dead), "no X server answers"},
        {"dead X server, xcb named", QStringLiteral("xcb"), QStringLiteral(":%1.0").arg(dead), "no X server answers"},
        {"dead X server over TCP", QString(), QStringLiteral("127.0.0.1:%1").arg(tcp > 6000 ? tcp - 6000 : 999),
         "no X server answers"},
        {"unknown platform plugin", QStringLiteral("nonsense"), QString(), "no platform plugin \"nonsense\""},
        {"every listed plugin unusable", QStringLiteral("nonsense;xcb"), QStringLiteral(":%1").arg(dead),
         "no platform plugin \"nonsense\""},
        {"no display at all", QString(), QString(), "no display"},
        {"malformed DISPLAY", QString(), QStringLiteral("nohost"), "DISPLAY=nohost"},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(c.what);
        QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
        for (const char *var : {"QT_QPA_PLATFORM", "DISPLAY", "WAYLAND_DISPLAY", "XDG_SESSION_TYPE"})
            env.remove(QLatin1String(var));
        if (!c.platform.isEmpty()) env.insert(QStringLiteral("QT_QPA_PLATFORM"), c.platform);
        if (!c.display.isEmpty()) env.insert(QStringLiteral("DISPLAY"), c.display);
        QProcess run;
        run.setProcessEnvironment(env);
        run.start(program, {QStringLiteral("--port"), QStringLiteral("1=/nonexistent/kvor-port")});
        ASSERT_TRUE(run.waitForStarted(10000));
        if (!run.waitForFinished(20000)) {
            run.kill();
            run.waitForFinished(5000);
            ADD_FAILURE() << "the program did not end";
            continue;
        }
        EXPECT_EQ(run.exitStatus(), QProcess::NormalExit); // not an abort
        EXPECT_EQ(run.exitCode(), 255);
        const QString err = QString::fromLocal8Bit(run.readAllStandardError());
        EXPECT_EQ(err.count(QLatin1Char('\n')), 1) << err.toStdString();
        EXPECT_TRUE(err.startsWith(QLatin1String("kvor-zodid: "))) << err.toStdString();
        EXPECT_TRUE(err.contains(QLatin1String(c.says))) << err.toStdString();
    }
}
