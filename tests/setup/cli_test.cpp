// The command line, run as its own process with no display, against the simulated sensor on a
// pseudo-terminal.
#include <gtest/gtest.h>

#include <QCoreApplication>
#include <QFile>
#include <QProcess>
#include <QProcessEnvironment>
#include <QStandardPaths>
#include <QTemporaryDir>

#include <string>
#include <vector>

#include "protocol.h"
#include "sensor_sim.h"
#include "settings.h"

namespace {

struct Outcome {
    int code = -1;
    std::string out, err;
};

class CliTest : public ::testing::Test {
  protected:
    void SetUp() override {
        kvorsim::Options options;
        options.pacing = false;
        sim = std::make_unique<kvorsim::Simulator>(options);
        ASSERT_TRUE(sim->start()) << sim->error();
        ASSERT_TRUE(dir.isValid());
    }

    // The program with the arguments, the simulator's device as port 1, no display at all.
    Outcome Kvor(const QStringList &args, bool mapPort = true) {
        QProcess p;
        QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
        env.remove("DISPLAY");
        env.remove("WAYLAND_DISPLAY");
        env.remove("QT_QPA_PLATFORM");
        env.insert("XDG_CONFIG_HOME", dir.path() + "/config");
        p.setProcessEnvironment(env);
        QStringList all;
        if (mapPort) all << "--port" << QString::fromStdString("1=" + sim->devicePath());
        all << args;
        p.start(QCoreApplication::applicationDirPath() + "/kvor-zodid", all);
        Outcome r;
        if (!p.waitForFinished(30000)) {
            p.kill();
            p.waitForFinished();
            ADD_FAILURE() << "kvor-zodid did not finish";
            return r;
        }
        r.code = p.exitStatus() == QProcess::NormalExit ? p.exitCode() : -1;
        r.out = p.readAllStandardOutput().toStdString();
        r.err = p.readAllStandardError().toStdString();
        return r;
    }

    QString Path(const char *name) { return dir.path() + "/" + name; }

    static std::vector<unsigned> FileValues(const QString &path) {
        QFile f(path);
        std::vector<unsigned> v;
        if (!f.open(QIODevice::ReadOnly)) return v;
        for (const QByteArray &line : f.readAll().split('\n'))
            if (!line.trimmed().isEmpty()) v.push_back(line.trimmed().toUInt());
        return v;
    }
    static void WriteValues(const QString &path, const std::vector<unsigned> &values) {
        QFile f(path);
        ASSERT_TRUE(f.open(QIODevice::WriteOnly));
        for (unsigned v : values)
            f.write(QByteArray::number(v) + "\n");
    }
    std::vector<unsigned> SensorValues(bool eeprom) {
        std::vector<unsigned> v;
        for (int set = 0; set < 2; ++set) {
            uint16_t w[15];
            eeprom ? sim->eepromSet(set, w) : sim->ramSet(set, w);
            v.insert(v.end(), w, w + 15);
        }
        return v;
    }
    size_t Count(uint16_t command) {
        size_t n = 0;
        for (const kvorsim::Request &r : sim->requests())
            n += r.command == command;
        return n;
    }

    std::unique_ptr<kvorsim::Simulator> sim;
    QTemporaryDir dir;
};

} // namespace

TEST_F(CliTest, InfoPrintsTheHardwareAndTheFirmware) {
    const Outcome r = Kvor({"info"});
    EXPECT_EQ(r.code, 0) << r.err;
    EXPECT_NE(r.out.find("Echo Check - Line Ok!"), std::string::npos) << r.out;
    EXPECT_NE(r.out.find("Hardware: 1024-pixel; 7.8\xC2\xB5m pixel-pitch"), std::string::npos) << r.out;
    EXPECT_NE(r.out.find("Firmware: K-VOR-RN SIM firmware"), std::string::npos) << r.out;
}

TEST_F(CliTest, BackupWritesTheChosenMemoryAsAParameterFile) {
    uint16_t ram0[15];
    sim->ramSet(0, ram0);
    ram0[SET0_P08] = 321; // RAM and EEPROM differ
    sim->setRamSet(0, ram0);
    Outcome r = Kvor({"backup", Path("ee.cfg")});
    EXPECT_EQ(r.code, 0) << r.err;
    EXPECT_EQ(FileValues(Path("ee.cfg")), SensorValues(true));
    EXPECT_EQ(Count(CMD_READ_EEPROM), 2u);
    r = Kvor({"backup", Path("ram.cfg"), "--from", "ram"});
    EXPECT_EQ(r.code, 0) << r.err;
    EXPECT_EQ(FileValues(Path("ram.cfg")), SensorValues(false));
    // A file that cannot be written.
    r = Kvor({"backup", Path("no/such/dir/x.cfg")});
    EXPECT_EQ(r.code, 3);
}

TEST_F(CliTest, RestoreWritesBothSetsReadsThemBackAndCompares) {
    std::vector<unsigned> values = SensorValues(true);
    values[SET0_SETPOINT] = 1777;
    values[15 + 3] = 9; // set 1 word 3
    WriteValues(Path("new.cfg"), values);
    sim->clearRequests();
    const Outcome r = Kvor({"restore", Path("new.cfg")});
    EXPECT_EQ(r.code, 0) << r.err;
    EXPECT_NE(r.out.find("Parameter set written and verified"), std::string::npos) << r.out;
    EXPECT_EQ(SensorValues(true), values);
    std::vector<kvorsim::Request> writes;
    for (const kvorsim::Request &q : sim->requests())
        if (q.command == CMD_WRITE_EEPROM) writes.push_back(q);
    ASSERT_EQ(writes.size(), 2u);
    EXPECT_EQ(writes[0].argument, 0);
    EXPECT_EQ(writes[1].argument, 1);
    EXPECT_GE(writes[1].time - writes[0].time, 0.09);
    EXPECT_EQ(Count(CMD_READ_EEPROM), 2u);
}

TEST_F(CliTest, RestoreIntoASensorThatIgnoresWritesExits4) {
    std::vector<unsigned> values = SensorValues(false);
    values[SET0_TOLERANCE] += 5;
    WriteValues(Path("ram.cfg"), values);
    sim->setIgnoreWrites(true);
    const Outcome r = Kvor({"restore", Path("ram.cfg"), "--to", "ram"});
    EXPECT_EQ(r.code, 4);
    EXPECT_NE(r.err.find("Verify failed: 1 value differs (Tolerance"), std::string::npos) << r.err;
    EXPECT_NE(r.out.find("Tolerance [pixel]"), std::string::npos) << r.out;
    EXPECT_EQ(Count(CMD_WRITE_RAM), 2u);
}

TEST_F(CliTest, MalformedOrMissingFileIsRefusedBeforeAnythingIsWritten) {
    QFile bad(Path("bad.cfg"));
    ASSERT_TRUE(bad.open(QIODevice::WriteOnly));
    bad.write("1,2,3\nnot a number\n");
    bad.close();
    for (const char *name : {"bad.cfg", "missing.cfg"}) {
        sim->clearRequests();
        const Outcome r = Kvor({"restore", Path(name)});
        EXPECT_EQ(r.code, 3) << name;
        EXPECT_NE(r.err.find("nothing written"), std::string::npos) << r.err;
        EXPECT_EQ(sim->requestCount(), 0u) << name;
    }
    EXPECT_EQ(Kvor({"compare", Path("bad.cfg")}).code, 3);
}

// The file holds 16-bit words. A value beyond them (a hand edit, a damaged file) is no value the
// sensor could have held: writing its low half, and then finding that half read back, would
// restore a set the file does not describe.
TEST_F(CliTest, ValueBeyondSixteenBitsIsRefusedBeforeAnythingIsWritten) {
    std::vector<unsigned> values = SensorValues(true);
    values[SET0_SETPOINT] = 65536u + 500u;
    WriteValues(Path("wide.cfg"), values);
    for (const char *command : {"restore", "compare"}) {
        sim->clearRequests();
        const Outcome r = Kvor({command, Path("wide.cfg")});
        EXPECT_EQ(r.code, 3) << command << ": " << r.out;
        EXPECT_NE(r.err.find("value 7 (66036)"), std::string::npos) << r.err;
        EXPECT_EQ(sim->requestCount(), 0u) << command;
    }
    EXPECT_NE(SensorValues(true)[SET0_SETPOINT], 500u);
    // 65535 is a word.
    values[SET0_SETPOINT] = 65535u;
    WriteValues(Path("top.cfg"), values);
    EXPECT_EQ(Kvor({"compare", Path("top.cfg")}).code, 1);
}

TEST_F(CliTest, SilentSensorExits2WithTheStatusText) {
    kvorsim::Fault silent;
    silent.kind = kvorsim::Fault::Drop;
    silent.count = -1;
    sim->inject(silent);
    WriteValues(Path("any.cfg"), SensorValues(true));
    for (const QStringList &args : {QStringList{"info"}, QStringList{"backup", Path("b.cfg")},
                                    QStringList{"restore", Path("any.cfg")}, QStringList{"compare", Path("any.cfg")}}) {
        const Outcome r = Kvor(args);
        EXPECT_EQ(r.code, 2) << args.join(' ').toStdString();
        EXPECT_NE(r.err.find("kvor-zodid: "), std::string::npos) << r.err;
    }
    EXPECT_FALSE(QFile::exists(Path("b.cfg")));
    EXPECT_EQ(Count(CMD_WRITE_EEPROM), 0u); // no echo: nothing written
    // A port with no device behind it: a line error.
    const Outcome r = Kvor({"--port", "7=" + Path("nothing"), "--com", "7", "info"}, false);
    EXPECT_EQ(r.code, 2);
}

TEST_F(CliTest, CompareReportsEachDifferingValueWithBothValues) {
    std::vector<unsigned> values = SensorValues(true);
    WriteValues(Path("same.cfg"), values);
    Outcome r = Kvor({"compare", Path("same.cfg")});
    EXPECT_EQ(r.code, 0) << r.err;
    values[SET0_SETPOINT] = values[SET0_SETPOINT] + 1;
    WriteValues(Path("one.cfg"), values);
    r = Kvor({"compare", Path("one.cfg")});
    EXPECT_EQ(r.code, 1) << r.err;
    const std::string fileValue = std::to_string(values[SET0_SETPOINT]);
    const std::string sensorValue = std::to_string(values[SET0_SETPOINT] - 1);
    const size_t at = r.out.find("Setpoint [pixel]");
    ASSERT_NE(at, std::string::npos) << r.out;
    const std::string line = r.out.substr(at, r.out.find('\n', at) - at);
    EXPECT_NE(line.find(fileValue), std::string::npos) << line;
    EXPECT_NE(line.find(sensorValue), std::string::npos) << line;
    EXPECT_LT(line.find(fileValue), line.rfind(sensorValue)) << line;
    // RAM holds the same here; --with chooses it.
    std::vector<unsigned> ram = SensorValues(false);
    WriteValues(Path("ram.cfg"), ram);
    EXPECT_EQ(Kvor({"compare", Path("ram.cfg"), "--with", "ram"}).code, 0);
}

TEST_F(CliTest, ReportWritesAPdfWithTheSetUp) {
    const Outcome r = Kvor({"report", Path("sheet.pdf")});
    ASSERT_EQ(r.code, 0) << r.err;
    QFile pdf(Path("sheet.pdf"));
    ASSERT_TRUE(pdf.open(QIODevice::ReadOnly));
    EXPECT_TRUE(pdf.read(5) == "%PDF-");
    const QString tool = QStandardPaths::findExecutable("pdftotext");
    if (tool.isEmpty()) GTEST_SKIP() << "pdftotext (poppler-utils) is not installed";
    QProcess p;
    p.start(tool, {"-layout", Path("sheet.pdf"), "-"});
    ASSERT_TRUE(p.waitForFinished(30000));
    QString text = QString::fromUtf8(p.readAllStandardOutput());
    // The PDF's fonts use ligatures.
    text.replace(QChar(0xFB01), "fi").replace(QChar(0xFB00), "ff").replace(QChar(0xFB02), "fl");
    const std::string t = text.toStdString();
    uint16_t ee0[15];
    sim->eepromSet(0, ee0);
    for (const std::string &want :
         {std::string("Set-up sheet"), std::string("K-VOR-RN-Zodid Version 3.0b"), "COM1 (" + sim->devicePath() + ")",
          std::string("working-range = 37 +/- 2.0mm"), std::string("K-VOR-RN SIM firmware"),
          std::string("EEPROM of the sensor"), std::string("Setpoint [pixel]"), std::to_string(ee0[SET0_SETPOINT]),
          std::string("Scale factor"), std::string("1.00000"), std::string("Set 1 word 0"), std::string("Bar graph")})
        EXPECT_NE(t.find(want), std::string::npos) << want << "\n" << t;
}

TEST_F(CliTest, WrongUsageExits64AndHelpListsTheCommands) {
    for (const QStringList &args :
         {QStringList{"bogus"}, QStringList{"backup"}, QStringList{"backup", "a.cfg", "--from", "flash"},
          QStringList{"restore", "a.cfg", "b.cfg"}, QStringList{"info", "--to", "ram"},
          QStringList{"--com", "x", "info"},
          // Options of the window that a command would leave aside without a word; port 1 is
          // mapped here, which the simulated sensor would take over.
          QStringList{"--record", Path("r.csv"), "info"}, QStringList{"--check", "info"},
          QStringList{"--simulate", "info"}}) {
        const Outcome r = Kvor(args);
        EXPECT_EQ(r.code, 64) << args.join(' ').toStdString();
    }
    EXPECT_EQ(sim->requestCount(), 0u);
    EXPECT_FALSE(QFile::exists(Path("r.csv")));
    const Outcome help = Kvor({"--help"}, false);
    EXPECT_EQ(help.code, 0);
    for (const char *want : {"info", "backup FILE", "restore FILE", "compare FILE", "report FILE.pdf",
                             "The memory is EEPROM unless given", "64 wrong usage"})
        EXPECT_NE(help.out.find(want), std::string::npos) << want;
}

TEST_F(CliTest, WithoutComTheRememberedPortIsUsed) {
    // The settings of an earlier run: port 3, on the simulator's device.
    const QByteArray oldConfig = qgetenv("XDG_CONFIG_HOME");
    qputenv("XDG_CONFIG_HOME", (dir.path() + "/config").toLocal8Bit());
    const bool stored = SettingsSetInt("port/number", 3) == 0 && SettingsSetString("port/device", sim->devicePath()) == 0;
    qputenv("XDG_CONFIG_HOME", oldConfig);
    ASSERT_TRUE(stored);
    Outcome r = Kvor({"info"}, false);
    EXPECT_EQ(r.code, 0) << r.err;
    EXPECT_NE(r.out.find("Port: COM3 " + sim->devicePath()), std::string::npos) << r.out;
    // --no-settings: port 1, which means no sensor here.
    r = Kvor({"--no-settings", "--port", "1=" + Path("nothing"), "info"}, false);
    EXPECT_EQ(r.code, 2);
}

TEST_F(CliTest, ACommandLeavesTheRememberedPortAlone) {
    // The settings file the program uses here, read and written by this test as well.
    struct ConfigHere {
        QByteArray old = qgetenv("XDG_CONFIG_HOME");
        ~ConfigHere() { qputenv("XDG_CONFIG_HOME", old); }
    } config;
    qputenv("XDG_CONFIG_HOME", (dir.path() + "/config").toLocal8Bit());
    const auto remembered = [] {
        return std::to_string(SettingsGetInt("port/number", 0)) + " " + SettingsGetString("port/device", "");
    };
    // The window's last port: 3, on a device of its own. A command on another port, chosen with
    // --com or with --port, must not move the window's next start there.
    ASSERT_EQ(SettingsSetInt("port/number", 3), 0);
    ASSERT_EQ(SettingsSetString("port/device", Path("window-port").toStdString()), 0);
    const std::string before = remembered();
    for (const QStringList &args : {QStringList{"--com", "1", "info"}, QStringList{"info"}}) {
        const Outcome r = Kvor(args);
        EXPECT_EQ(r.code, 0) << args.join(' ').toStdString() << ": " << r.err;
        EXPECT_EQ(remembered(), before) << args.join(' ').toStdString();
    }
}
