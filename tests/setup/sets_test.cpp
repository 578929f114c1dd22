// The parameter values by name, the verification text, the verified SEND, the unsent marks with
// their counter, Compare and the set-up sheet in the window, against the simulated sensor.
#include <gtest/gtest.h>

#include <QDir>
#include <QFile>
#include <QProcess>
#include <QStandardPaths>
#include <QTableWidget>
#include <QTemporaryDir>

#include <csignal>
#include <cstring>

#include <sys/resource.h>

#include "K-VOR-RNZazorU30.h"
#include "file_limits.h"
#include "com232.h"
#include "connection.h"
#include "rs232.h"
#include "fixtures.h"
#include "params.h"
#include "protocol.h"
#include "report.h"
#include "sensorsets.h"
#include "setupwindow.h"
#include "setwords.h"
#include "state.h"
#include "testhooks.h"
#include "userint.h"
#include "utility.h"

namespace {

SetWords Words(uint16_t fill) {
    SetWords s;
    for (auto &set : s.w)
        for (uint16_t &w : set)
            w = fill;
    return s;
}

} // namespace

// --- values by name ---------------------------------------------------------------------------

TEST(SetWordsTest, RecordRoundTripKeepsEveryWordAndTheSignedOffset) {
    ParameterRecord r{};
    for (int k = 0; k < 15; ++k)
        r.set0[k] = static_cast<uint16_t>(100 + k);
    for (int k = 0; k < 11; ++k)
        r.set1[k] = static_cast<uint16_t>(200 + k);
    r.scale = 0x12345678u;
    r.offset = -5;
    const SetWords w = RecordWords(r);
    EXPECT_EQ(w.w[1][SET1_SCALE_LOW], 0x5678);
    EXPECT_EQ(w.w[1][SET1_SCALE_HIGH], 0x1234);
    EXPECT_EQ(w.w[1][SET1_OFFSET_LOW], 0xFFFB);
    EXPECT_EQ(w.w[1][SET1_OFFSET_HIGH], 0xFFFF);
    const ParameterRecord back = RecordWithWords(ParameterRecord{}, w);
    EXPECT_EQ(std::memcmp(back.set0, r.set0, sizeof r.set0), 0);
    EXPECT_EQ(std::memcmp(back.set1, r.set1, sizeof r.set1), 0);
    EXPECT_EQ(back.scale, r.scale);
    EXPECT_EQ(back.offset, -5);
}

TEST(SetWordsTest, EveryWordBelongsToExactlyOneValue) {
    int owner[2][15] = {};
    for (const ValueDesc &d : ParameterValues())
        for (int k = 0; k < d.words; ++k)
            ++owner[d.set][d.word + k];
    for (int set = 0; set < 2; ++set)
        for (int k = 0; k < 15; ++k)
            EXPECT_EQ(owner[set][k], 1) << "set " << set << " word " << k;
}

TEST(SetWordsTest, DifferencesNameTheValueAndShowItAsTheControlDoes) {
    struct Case {
        int set, word;
        uint16_t a, b;
        const char *name, *textA, *textB;
    } cases[] = {
        {0, SET0_SETPOINT, 512, 500, "Setpoint [pixel]", "512", "500"},
        {0, SET0_EVAL_MODE, 1, 4, "Evaluation mode", "Right edge", "Gap"},
        {0, SET0_HARDWARE_VARIANT, 3, 9, "Hardware variant", "3: Analog, fixed window", "9"},
        {1, 3, 7, 8, "Set 1 word 3", "7", "8"},
        {1, SET1_SCALE_HIGH, 0, 1, "Scale factor", "0.00000", "4.00000"},
        {1, SET1_OFFSET_HIGH, 0, 0xFFFF, "Offset", "0", "-65536"},
    };
    for (const Case &c : cases) {
        SetWords a = Words(0), b = Words(0);
        a.w[c.set][c.word] = c.a;
        b.w[c.set][c.word] = c.b;
        const std::vector<ValueDifference> d = DifferingValues(a, b);
        ASSERT_EQ(d.size(), 1u) << c.name;
        EXPECT_EQ(d[0].name, c.name);
        EXPECT_EQ(d[0].a, c.textA) << c.name;
        EXPECT_EQ(d[0].b, c.textB) << c.name;
    }
    EXPECT_TRUE(DifferingValues(Words(3), Words(3)).empty());
}

TEST(SetWordsTest, VerifyTextNamesTheFirstFewWithinTheStatusLine) {
    SetWords written = Words(0), read = Words(0);
    EXPECT_EQ(VerifyText(written, read, DifferingValues(written, read)), "Parameter set written and verified");
    written.w[0][SET0_SETPOINT] = 512;
    read.w[0][SET0_SETPOINT] = 500;
    written.w[0][SET0_P08] = 3;
    EXPECT_EQ(VerifyText(written, read, DifferingValues(written, read)),
              "Verify failed: 2 values differ (Setpoint 512/500, P08 3/0)");
    // Every word differs: the text stays short enough for the status line.
    const SetWords all = Words(65535);
    const std::string text = VerifyText(all, Words(0), DifferingValues(all, Words(0)));
    EXPECT_EQ(text.rfind("Verify failed: 28 values differ (", 0), 0u) << text;
    EXPECT_LE(text.size(), 120u) << text;
    EXPECT_NE(text.find(", ...)"), std::string::npos) << text;
}

// The names are those the panels show: a label changed in the panel file must change here too.
class PanelNamesTest : public ProgramTest {};
TEST_F(PanelNamesTest, EveryControlledValueIsNamedAsItsControl) {
    int controlled = 0;
    for (const ValueDesc &d : ParameterValues()) {
        if (!d.panel) continue;
        ++controlled;
        char label[256] = {0};
        ASSERT_EQ(GetCtrlAttribute(*d.panel, d.control, ATTR_LABEL_TEXT, label, sizeof label), 0) << d.label;
        EXPECT_STREQ(label, d.label);
    }
    EXPECT_EQ(controlled, 17);
}

// --- the window against the sensor ------------------------------------------------------------

class SetsWindowTest : public SensorTest {
  protected:
    void SetUp() override {
        SensorTest::SetUp();
        Connect();
        StartUnsentMarks();
    }
    void TearDown() override {
        SetCtrlChangeObserver(nullptr);
        SensorTest::TearDown();
    }
    int Marked(int panel, int control) {
        int v = -1;
        GetCtrlAttribute(panel, control, ATTR_MARKED, &v);
        return v;
    }
    std::string Counter() {
        char text[128] = {0};
        GetCtrlVal(pHandle, PANEL_TXTUnsent, text, sizeof text);
        return text;
    }
    size_t CountCommands(uint16_t command) {
        size_t n = 0;
        for (const kvorsim::Request &r : sim->requests())
            n += r.command == command;
        return n;
    }
};

TEST_F(SetsWindowTest, SendWritesReadsBackAndSaysVerified) {
    for (int which : {RAM, EEPROM}) {
        target = which;
        sim->clearRequests();
        const uint16_t wanted = static_cast<uint16_t>(1500 + which);
        UserSetValue(pPara2, PARA2_Setpoint, wanted);
        EXPECT_EQ(Marked(pPara2, PARA2_Setpoint), 1);
        EXPECT_EQ(Counter(), "1 change not sent");
        UserClick(pHandle, PANEL_BTNSend);
        ASSERT_TRUE(WaitUntil([&] { return StatusText() == "Parameter set written and verified"; })) << StatusText();
        const std::vector<kvorsim::Request> log = sim->requests();
        ASSERT_EQ(log.size(), 4u);
        const uint16_t write = which == RAM ? CMD_WRITE_RAM : CMD_WRITE_EEPROM;
        const uint16_t read = which == RAM ? CMD_READ_RAM : CMD_READ_EEPROM;
        EXPECT_EQ(log[0].command, write);
        EXPECT_EQ(log[1].command, write);
        EXPECT_EQ(log[2].command, read);
        EXPECT_EQ(log[3].command, read);
        EXPECT_EQ(log[2].argument, 0);
        EXPECT_EQ(log[3].argument, 1);
        EXPECT_GE(log[2].time - log[1].time, 0.09);
        EXPECT_GE(log[3].time - log[2].time, 0.09);
        uint16_t held[15];
        which == RAM ? sim->ramSet(0, held) : sim->eepromSet(0, held);
        EXPECT_EQ(held[SET0_SETPOINT], wanted);
        EXPECT_EQ(Marked(pPara2, PARA2_Setpoint), 0);
        EXPECT_EQ(UnsentCount(), 0);
        EXPECT_EQ(Counter(), "");
    }
}

TEST_F(SetsWindowTest, SensorIgnoringWritesFailsTheVerifyAndKeepsThePanels) {
    sim->setIgnoreWrites(true);
    uint16_t before[15];
    sim->ramSet(0, before);
    const uint16_t wanted = static_cast<uint16_t>(before[SET0_SETPOINT] + 7);
    UserSetValue(pPara2, PARA2_Setpoint, wanted);
    UserClick(pHandle, PANEL_BTNSend);
    const std::string expected = "Verify failed: 1 value differs (Setpoint " + std::to_string(wanted) + "/" +
                                 std::to_string(before[SET0_SETPOINT]) + ")";
    ASSERT_TRUE(WaitUntil([&] { return StatusText() == expected; })) << StatusText();
    unsigned short shown = 0;
    GetCtrlVal(pPara2, PARA2_Setpoint, &shown);
    EXPECT_EQ(shown, wanted);                         // the read-back did not overwrite the panel
    EXPECT_EQ(parameter.set0[SET0_SETPOINT], wanted); // nor the record
    EXPECT_EQ(Marked(pPara2, PARA2_Setpoint), 1);     // the sensor still lacks it
    EXPECT_EQ(Counter(), "1 change not sent");
}

TEST_F(SetsWindowTest, SilentReadBackShowsTheTimeOutNeverSuccess) {
    kvorsim::Fault silent;
    silent.kind = kvorsim::Fault::Drop;
    silent.command = CMD_READ_RAM;
    silent.count = -1;
    sim->inject(silent);
    target = RAM;
    UserSetValue(pPara1, PARA1_P08, 77);
    UserClick(pHandle, PANEL_BTNSend);
    ASSERT_TRUE(WaitUntil([&] { return StatusText() == "Timeout-RS-232..."; }, 6.0)) << StatusText();
    EXPECT_FALSE(WaitUntil([&] { return StatusText().find("verified") != std::string::npos; }, 0.3));
    unsigned short shown = 0;
    GetCtrlVal(pPara1, PARA1_P08, &shown);
    EXPECT_EQ(shown, 77);
    EXPECT_EQ(Marked(pPara1, PARA1_P08), 1);
    EXPECT_EQ(CountCommands(CMD_WRITE_RAM), 2u);
}

// A line that sends every frame straight back (a loop-back plug, an echoing converter, no sensor
// behind it) returns the read request itself, which carries the words just written. That is no
// read-back: the sensor's answers begin with 0x00AA.
TEST_F(SetsWindowTest, OwnRequestComingBackIsNoReadBack) {
    kvorsim::Fault echo; // the sensor's words under the request's start word: the request's bytes
    echo.kind = kvorsim::Fault::CorruptStart;
    echo.command = CMD_READ_RAM;
    echo.value = kRequestStart;
    echo.count = -1;
    sim->inject(echo);
    target = RAM;
    UserSetValue(pPara1, PARA1_P08, 78);
    UserClick(pHandle, PANEL_BTNSend);
    ASSERT_TRUE(WaitUntil([&] { return StatusText() == "read error - not sync byte 0xAA!"; }, 6.0)) << StatusText();
    EXPECT_EQ(Marked(pPara1, PARA1_P08), 1);
    EXPECT_EQ(Counter(), "1 change not sent");
    // An answer of the sensor itself verifies as before.
    sim->clearFaults();
    UserClick(pHandle, PANEL_BTNSend);
    ASSERT_TRUE(WaitUntil([&] { return StatusText() == "Parameter set written and verified"; })) << StatusText();
    EXPECT_EQ(Counter(), "");
}

// A write that cannot go out (the port closed under the program) ends the SEND with the sets
// not written named on the status line, not with "Transmit..." left standing; the marks stay.
TEST_F(SetsWindowTest, SendThatCannotGoOutSaysSo) {
    target = EEPROM;
    UserSetValue(pPara1, PARA1_P08, 79);
    CloseCom(com);
    sim->clearRequests();
    UserClick(pHandle, PANEL_BTNSend);
    ASSERT_TRUE(WaitUntil([&] { return StatusText() == "Error writing parameter sets 0 and 1!"; }, 3.0))
        << StatusText();
    EXPECT_EQ(Marked(pPara1, PARA1_P08), 1);
    EXPECT_EQ(Counter(), "1 change not sent");
    EXPECT_EQ(sim->requestCount(), 0u);
}

TEST_F(SetsWindowTest, MarksFollowEveryEditAndClearOnGet) {
    EXPECT_EQ(Counter(), "");
    unsigned short p08 = 0, left = 0;
    GetCtrlVal(pPara1, PARA1_P08, &p08);
    GetCtrlVal(pHandle, PANEL_NEDITEdgeLeft, &left);
    UserSetValue(pPara1, PARA1_P08, p08 + 1);
    EXPECT_EQ(Marked(pPara1, PARA1_P08), 1);
    EXPECT_EQ(Counter(), "1 change not sent");
    UserSetValue(pPara1, PARA1_EvalMode, 3); // a drop-down without a callback of its own
    UserSetValue(pHandle, PANEL_NEDITEdgeLeft, left + 5);
    UserSetValue(pCalib, CALIB_Scale, 2.5);
    EXPECT_EQ(Counter(), "4 changes not sent");
    EXPECT_EQ(Marked(pCalib, CALIB_Scale), 1);
    EXPECT_EQ(Marked(pPara2, PARA2_Setpoint), 0);
    // Back to what the sensor holds: no longer marked.
    UserSetValue(pPara1, PARA1_P08, p08);
    EXPECT_EQ(Marked(pPara1, PARA1_P08), 0);
    EXPECT_EQ(Counter(), "3 changes not sent");
    // A GET brings the sensor's sets: they are what the pages are measured against now, so a
    // value the sensor changed meanwhile is not taken for an edit.
    uint16_t ram0[15];
    sim->ramSet(0, ram0);
    ram0[SET0_SETPOINT] = static_cast<uint16_t>(ram0[SET0_SETPOINT] + 3);
    sim->setRamSet(0, ram0);
    target = RAM;
    UserClick(pHandle, PANEL_BTNGet);
    unsigned short setpoint = 0;
    GetCtrlVal(pPara2, PARA2_Setpoint, &setpoint);
    EXPECT_EQ(setpoint, ram0[SET0_SETPOINT]);
    EXPECT_EQ(Counter(), "");
    EXPECT_EQ(Marked(pPara2, PARA2_Setpoint), 0);
    EXPECT_EQ(Marked(pCalib, CALIB_Scale), 0);
    EXPECT_EQ(Marked(pHandle, PANEL_NEDITEdgeLeft), 0);
}

TEST_F(SetsWindowTest, CompareShowsTheDifferingValuesWithTheirNames) {
    uint16_t ram1[15];
    sim->ramSet(1, ram1);
    ram1[3] = static_cast<uint16_t>(ram1[3] + 11);
    sim->setRamSet(1, ram1);
    uint16_t ram0[15];
    sim->ramSet(0, ram0);
    UserSetValue(pPara2, PARA2_Setpoint, ram0[SET0_SETPOINT] + 1);
    target = RAM;
    UserClick(pHandle, PANEL_BTNCompare);
    ASSERT_TRUE(WaitUntil([&] { return LastCompareRows().size() == 2; })) << StatusText();
    const std::vector<CompareRow> rows = LastCompareRows();
    EXPECT_EQ(rows[0].name, "Setpoint [pixel]");
    EXPECT_EQ(rows[0].panel, std::to_string(ram0[SET0_SETPOINT] + 1));
    EXPECT_EQ(rows[0].other, std::to_string(ram0[SET0_SETPOINT]));
    EXPECT_EQ(rows[1].name, "Set 1 word 3");
    EXPECT_EQ(rows[1].other, std::to_string(ram1[3]));
    EXPECT_EQ(StatusText(), "2 values differ between the panels and RAM");
    // The table in its window says the same.
    auto *window = static_cast<QWidget *>(CompareWindowWidget());
    ASSERT_NE(window, nullptr);
    EXPECT_TRUE(window->isVisible());
    auto *table = window->findChild<QTableWidget *>();
    ASSERT_NE(table, nullptr);
    ASSERT_EQ(table->rowCount(), 2);
    EXPECT_EQ(table->item(1, 0)->text(), QStringLiteral("Set 1 word 3"));
    EXPECT_EQ(table->horizontalHeaderItem(2)->text(), QStringLiteral("RAM"));
    // Compare leaves the panels and the record alone.
    unsigned short shown = 0;
    GetCtrlVal(pPara2, PARA2_Setpoint, &shown);
    EXPECT_EQ(shown, ram0[SET0_SETPOINT] + 1);
    window->close();
}

TEST_F(SetsWindowTest, CompareWithAFileAndWithABadOne) {
    QTemporaryDir dir;
    const std::string good = (dir.path() + "/good.cfg").toStdString();
    const std::string bad = (dir.path() + "/bad.cfg").toStdString();
    ASSERT_EQ(WriteParaFile(good), 0); // the record: what the panels show after the start-up
    QFile f(QString::fromStdString(bad));
    ASSERT_TRUE(f.open(QIODevice::WriteOnly));
    f.write("1,2,3\n");
    f.close();
    UserClick(pHandle, PANEL_RBTFile);
    ASSERT_EQ(target, DATFILE);
    const ParameterRecord before = parameter;
    UserSetValue(pPara1, PARA1_P08, 5);
    PresetFileSelectAnswer(1, good);
    UserClick(pHandle, PANEL_BTNCompare);
    std::vector<CompareRow> rows = LastCompareRows();
    ASSERT_EQ(rows.size(), 1u);
    EXPECT_EQ(rows[0].name, "Parameter P08");
    EXPECT_EQ(rows[0].panel, "5");
    EXPECT_EQ(LastCompareTitle(), "Compare: panels and File");
    EXPECT_EQ(std::memcmp(parameter.set0, before.set0, sizeof before.set0), 0);
    PresetFileSelectAnswer(1, bad);
    UserClick(pHandle, PANEL_BTNCompare);
    EXPECT_EQ(StatusText(), "Error reading parameter file!");
    EXPECT_EQ(sim->requestCount(), 0u);
    if (auto *w = static_cast<QWidget *>(CompareWindowWidget())) w->close();
}

TEST_F(SetsWindowTest, ReportWritesTheSheetOfThePanels) {
    QTemporaryDir dir;
    const std::string path = (dir.path() + "/sheet.pdf").toStdString();
    UserSetValue(pPara2, PARA2_Setpoint, 1234);
    PresetFileSelectAnswer(1, path);
    UserClick(pHandle, PANEL_BTNReport);
    EXPECT_EQ(StatusText(), "Set-up sheet written: " + path);
    QFile pdf(QString::fromStdString(path));
    ASSERT_TRUE(pdf.open(QIODevice::ReadOnly));
    EXPECT_TRUE(pdf.read(5) == "%PDF-");
    EXPECT_EQ(LastFileSelectRequest().buttonLabel, VAL_SAVE_BUTTON);
    const std::string text = SetupSheetText(CurrentSetupSheet(PanelWords(), "the panels"));
    EXPECT_NE(text.find("Setpoint [pixel]\n1234"), std::string::npos) << text;
    EXPECT_NE(text.find("K-VOR-RN SIM firmware"), std::string::npos) << text;
    // A place that cannot be written: said so, no success.
    PresetFileSelectAnswer(1, (dir.path() + "/no/such/dir/sheet.pdf").toStdString());
    UserClick(pHandle, PANEL_BTNReport);
    EXPECT_EQ(StatusText().rfind("Cannot write ", 0), 0u) << StatusText();
}

TEST(SetupSheetTest, TheSheetHoldsEverythingTheSetUpNeeds) {
    SetupSheet sheet;
    sheet.when = "2026-01-02 03:04:05";
    sheet.program = "K-VOR-RN-Zodid";
    sheet.version = "Version 3.0b";
    sheet.port = "COM3";
    sheet.device = "/dev/ttyUSB0";
    sheet.hw[0] = "line zero";
    sheet.hw[1] = "line one";
    sheet.hw[2] = "line two";
    sheet.firmware = "FW 1.2";
    sheet.source = "EEPROM of the sensor";
    sheet.sets = Words(0);
    sheet.sets.w[0][SET0_EVAL_MODE] = 2;
    sheet.sets.w[1][SET1_SCALE_LOW] = 8192; // 0.5
    sheet.sets.w[1][SET1_OFFSET_LOW] = 30000;
    const std::string text = SetupSheetText(sheet);
    for (const char *want : {"2026-01-02 03:04:05", "K-VOR-RN-Zodid Version 3.0b", "COM3 (/dev/ttyUSB0)", "line zero",
                             "line one", "line two", "FW 1.2", "EEPROM of the sensor", "Evaluation mode\nWidth",
                             "Scale factor\n0.50000", "Offset\n30000", "Set 1 word 10", "Bar graph"})
        EXPECT_NE(text.find(want), std::string::npos) << want << "\n" << text;
}

// A sheet that cannot be written whole (a full disk: here a file-size limit, which holds whatever
// rights the test runs with) or under its own name is a failure, and the sheet that was there
// before stays as it was.
TEST(SetupSheetTest, ASheetNotWrittenWholeIsAFailureAndKeepsTheOldOne) {
    QTemporaryDir dir;
    ASSERT_TRUE(dir.isValid());
    const std::string path = (dir.path() + "/sheet.pdf").toStdString();
    {
        QFile old(QString::fromStdString(path));
        ASSERT_TRUE(old.open(QIODevice::WriteOnly));
        old.write("the old sheet\n");
    }
    SetupSheet sheet;
    sheet.sets = Words(7);
    int result = 0;
    {
        const FileSizeLimit limit(2048);
        ASSERT_TRUE(limit.Set());
        result = WriteSetupSheet(path, sheet);
    }
    EXPECT_EQ(result, -1);
    QFile kept(QString::fromStdString(path));
    ASSERT_TRUE(kept.open(QIODevice::ReadOnly));
    EXPECT_EQ(kept.readAll(), QByteArray("the old sheet\n"));
    EXPECT_EQ(QDir(dir.path()).entryList(QDir::Files | QDir::Hidden | QDir::NoDotAndDotDot),
              QStringList{"sheet.pdf"});

    // Within the limit the same sheet replaces it.
    EXPECT_EQ(WriteSetupSheet(path, sheet), 0);
    QFile replaced(QString::fromStdString(path));
    ASSERT_TRUE(replaced.open(QIODevice::ReadOnly));
    EXPECT_TRUE(replaced.read(5) == "%PDF-");

    // A name whose bytes are not text in the system's encoding: no sheet under another name.
    EXPECT_EQ(WriteSetupSheet(dir.path().toStdString() + "/sheet\xE9.pdf", sheet), -1);
    EXPECT_EQ(QDir(dir.path()).entryList(QDir::Files | QDir::Hidden | QDir::NoDotAndDotDot),
              QStringList{"sheet.pdf"});
}

TEST_F(SetsWindowTest, ScaleAndOffsetAsReadAreNotTakenForEdits) {
    // A scale factor the page shows rounded to five decimals, and a negative offset.
    uint16_t ram1[15];
    sim->ramSet(1, ram1);
    ram1[SET1_SCALE_LOW] = 16385;
    ram1[SET1_SCALE_HIGH] = 3;
    ram1[SET1_OFFSET_LOW] = 0xFFF0;
    ram1[SET1_OFFSET_HIGH] = 0xFFFF;
    sim->setRamSet(1, ram1);
    target = RAM;
    UserClick(pHandle, PANEL_BTNGet);
    EXPECT_EQ(parameter.offset, -16);
    EXPECT_EQ(Counter(), "");
    EXPECT_EQ(Marked(pCalib, CALIB_Scale), 0);
    // And a SEND of them verifies.
    UserClick(pHandle, PANEL_BTNSend);
    EXPECT_TRUE(WaitUntil([&] { return StatusText() == "Parameter set written and verified"; })) << StatusText();
}

TEST_F(SetsWindowTest, SendDuringRunIsVerifiedBetweenTheLoopsAnswers) {
    uint16_t ram0[15];
    sim->ramSet(0, ram0);
    const uint16_t wanted = static_cast<uint16_t>(ram0[SET0_P08] == 9 ? 8 : 9);
    UserSetValue(pPara1, PARA1_P08, wanted);
    target = RAM;
    std::string statusAfterSend;
    AfterDelay(0.3, [] { UserClick(pHandle, PANEL_BTNSend); });
    AfterDelay(1.2, [&] {
        statusAfterSend = StatusText();
        UserClick(pHandle, PANEL_BTNStop);
    });
    UserClick(pHandle, PANEL_BTNRun); // returns when the loop has ended
    sim->ramSet(0, ram0);
    EXPECT_EQ(ram0[SET0_P08], wanted);
    EXPECT_EQ(UnsentCount(), 0) << statusAfterSend;
    // The two writes and the two reads went out in order, each read answered before the next
    // request.
    std::vector<uint16_t> commands;
    for (const kvorsim::Request &r : sim->requests())
        if (r.command != CMD_RAW_DATA) commands.push_back(r.command);
    EXPECT_EQ(commands, (std::vector<uint16_t>{CMD_WRITE_RAM, CMD_WRITE_RAM, CMD_READ_RAM, CMD_READ_RAM}));
}

// After a reconnection the pages keep the operator's values, and they stay marked as not sent.
class SetsReconnectTest : public SensorTest {
  protected:
    SetsReconnectTest() { options.linkPath = links.path().toStdString() + "/ttyKVOR"; }
    void TearDown() override {
        ConnectionShutdown();
        SetCtrlChangeObserver(nullptr);
        SensorTest::TearDown();
    }
    QTemporaryDir links;
};

TEST_F(SetsReconnectTest, UnsentValuesStayMarkedAfterAReconnection) {
    Connect();
    ConnectionStarted("");
    StartUnsentMarks();
    uint16_t ram0[15];
    sim->ramSet(0, ram0);
    const uint16_t edited = static_cast<uint16_t>(ram0[SET0_SETPOINT] + 10);
    UserSetValue(pPara2, PARA2_Setpoint, edited);
    ASSERT_EQ(UnsentCount(), 1);
    sim->disconnectAfter(0);
    ASSERT_TRUE(WaitUntil([] { return ConnectionWaiting(); }, 5.0));
    ASSERT_TRUE(sim->reconnect());
    ASSERT_TRUE(WaitUntil([] { return !ConnectionWaiting() && ComPortStatus(com) == kComOpen; }, 5.0));
    unsigned short shown = 0;
    GetCtrlVal(pPara2, PARA2_Setpoint, &shown);
    EXPECT_EQ(shown, edited);
    EXPECT_EQ(UnsentCount(), 1);
    int marked = 0;
    GetCtrlAttribute(pPara2, PARA2_Setpoint, ATTR_MARKED, &marked);
    EXPECT_EQ(marked, 1);
}
