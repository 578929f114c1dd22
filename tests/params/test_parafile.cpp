// The parameter file: what a saved file holds, the round trip, malformed files, failed saves and
// long paths.
#include <gtest/gtest.h>

#include <QDir>
#include <QFile>
#include <QTemporaryDir>

#include <cstdint>
#include <fstream>
#include <sstream>
#include <string>
#include <vector>

#include "K-VOR-RNZazorU30.h"
#include "com232.h"
#include "fixtures.h"
#include "testhooks.h"
#include "params.h"
#include "state.h"
#include "userint.h"
#include "utility.h"

namespace {

std::string ReadAll(const std::string &path) {
    std::ifstream in(path, std::ios::binary);
    std::stringstream ss;
    ss << in.rdbuf();
    return ss.str();
}

void WriteAll(const std::string &path, const std::string &text) {
    std::ofstream out(path, std::ios::binary | std::ios::trunc);
    out << text;
}

// The numbers of a parameter file, read independently of the program: decimal fields separated
// by blanks, line ends or commas. Fails the test on anything else.
std::vector<uint64_t> Numbers(const std::string &path) {
    std::string text = ReadAll(path);
    for (char &c : text)
        if (c == ',') c = ' ';
    std::istringstream in(text);
    std::vector<uint64_t> values;
    std::string token;
    while (in >> token) {
        EXPECT_EQ(token.find_first_not_of("0123456789"), std::string::npos) << "field '" << token << "'";
        values.push_back(std::stoull(token));
    }
    return values;
}

bool SameRecord(const ParameterRecord &a, const ParameterRecord &b) {
    for (int k = 0; k < 15; ++k)
        if (a.set0[k] != b.set0[k]) return false;
    for (int k = 0; k < 11; ++k)
        if (a.set1[k] != b.set1[k]) return false;
    return a.scale == b.scale && a.offset == b.offset;
}

class ParameterFile : public ProgramTest {
  protected:
    void SetUp() override {
        ProgramTest::SetUp();
        ASSERT_TRUE(dir.isValid());
        path = dir.filePath("KVORpara.cfg").toStdString();
        file_name = path;
    }
    // Panels showing a set in which every word is distinct and inside its limits.
    void ShowDistinctSet() {
        SetCtrlVal(pHandle, PANEL_NEDITEdgeLeft, 101);
        SetCtrlVal(pHandle, PANEL_NEDITEdgeRight, 3001);
        SetCtrlVal(pPara1, PARA1_P11, 1);
        SetCtrlVal(pPara1, PARA1_AnaMode, 5);
        SetCtrlVal(pPara1, PARA1_P02, 0);
        SetCtrlVal(pPara1, PARA1_EvalMode, 2);
        SetCtrlVal(pPara1, PARA1_NEDITTolerance, 251);
        SetCtrlVal(pPara1, PARA1_DROPHardware, 2);
        SetCtrlVal(pPara1, PARA1_P08, 901);
        SetCtrlVal(pPara1, PARA1_P09, 2);
        SetCtrlVal(pPara2, PARA2_P00, 701);
        SetCtrlVal(pPara2, PARA2_SLIDEVideoThreshold, 333);
        SetCtrlVal(pPara2, PARA2_P01, 1);
        SetCtrlVal(pPara2, PARA2_Setpoint, 1501);
        SetCtrlVal(pCalib, CALIB_P12, 4321);
        SetCtrlVal(pCalib, CALIB_Offset, -123456);
        SetCtrlVal(pCalib, CALIB_Scale, 2.25);
        for (int k = 0; k < 11; ++k)
            parameter.set1[k] = static_cast<uint16_t>(50000 + 7 * k);
    }
    void Scribble() {
        for (uint16_t &w : parameter.set0)
            w = 7;
        for (uint16_t &w : parameter.set1)
            w = 7;
        parameter.scale = 7;
        parameter.offset = 7;
    }
    // Writes 'count' values with the platform's own array-file writer.
    std::string WriteArray(const char *name, const std::vector<uint32_t> &values) {
        const std::string p = dir.filePath(name).toStdString();
        EXPECT_EQ(ArrayToFile(p.c_str(), values.data(), VAL_UNSIGNED_INTEGER, static_cast<int>(values.size()),
                              1, VAL_GROUPS_TOGETHER, VAL_GROUPS_AS_COLUMNS, VAL_SEP_BY_COMMA, 10, VAL_ASCII,
                              VAL_TRUNCATE),
                  0);
        return p;
    }
    QTemporaryDir dir;
    std::string path;
};

TEST_F(ParameterFile, SavedFileHoldsBothSetsAsThirtyValues) {
    SetCtrlVal(pCalib, CALIB_Scale, 1.0);
    SetCtrlVal(pCalib, CALIB_Offset, 30000);
    SetCtrlVal(pPara2, PARA2_Setpoint, 1234);
    for (int k = 0; k < 11; ++k)
        parameter.set1[k] = static_cast<uint16_t>(100 + k);
    SendParaToFile();

    const std::vector<uint64_t> v = Numbers(path);
    ASSERT_EQ(v.size(), 30u);
    EXPECT_EQ(v[6], 1234u); // value 7: set 0 word 6, from the panel
    for (int k = 0; k < 15; ++k)
        EXPECT_EQ(v[k], parameter.set0[k]) << "value " << k + 1;
    for (int k = 0; k < 11; ++k)
        EXPECT_EQ(v[15 + k], 100u + k) << "value " << 16 + k;
    EXPECT_EQ(v[26], 16384u);
    EXPECT_EQ(v[27], 0u);
    EXPECT_EQ(v[28], 30000u);
    EXPECT_EQ(v[29], 0u);
}

TEST_F(ParameterFile, NegativeOffsetAndFractionalScale) {
    SetCtrlVal(pCalib, CALIB_Offset, -1);
    SetCtrlVal(pCalib, CALIB_Scale, 1.5);
    SendParaToFile();
    const std::vector<uint64_t> v = Numbers(path);
    ASSERT_EQ(v.size(), 30u);
    EXPECT_EQ(v[26], 24576u);
    EXPECT_EQ(v[27], 0u);
    EXPECT_EQ(v[28], 65535u);
    EXPECT_EQ(v[29], 65535u);

    Scribble();
    PresetFileSelectAnswer(VAL_EXISTING_FILE_SELECTED, path);
    ReadParaFromFile();
    EXPECT_EQ(parameter.offset, -1);
    EXPECT_EQ(parameter.scale, 24576u);
}

TEST_F(ParameterFile, RoundTripRestoresBothSetsExactly) {
    ShowDistinctSet();
    SendParaToFile();
    const ParameterRecord saved = parameter;
    EXPECT_EQ(saved.offset, -123456);
    EXPECT_EQ(saved.scale, 36864u);

    Scribble();
    file_name = "elsewhere";
    PresetFileSelectAnswer(VAL_EXISTING_FILE_SELECTED, path);
    ReadParaFromFile();
    EXPECT_TRUE(SameRecord(parameter, saved));
    EXPECT_EQ(file_name, path);
    EXPECT_EQ(StatusText(), "Parameter file read");

    const FileSelectRequest r = LastFileSelectRequest();
    EXPECT_EQ(r.directory, proj_dir);
    EXPECT_EQ(r.fileName, "KVORpara.cfg");
    EXPECT_EQ(r.filter, "*.cfg");
    EXPECT_EQ(r.title, "K-VOR-RN-Series-Parameter-File");
    EXPECT_EQ(r.buttonLabel, VAL_LOAD_BUTTON);
    EXPECT_EQ(r.restrictDirectory, 0);
    EXPECT_EQ(r.restrictExtension, 1);
    EXPECT_EQ(r.allowCancel, 1);
    EXPECT_EQ(r.allowMakeDirectory, 1);
}

TEST_F(ParameterFile, CancelledLoadChangesNothing) {
    ShowDistinctSet();
    SendParaToFile();
    Scribble();
    const ParameterRecord before = parameter;
    CopyText(szStatus, "before");
    PresetFileSelectAnswer(VAL_NO_FILE_SELECTED, "");
    ReadParaFromFile();
    EXPECT_TRUE(SameRecord(parameter, before));
    EXPECT_EQ(file_name, path);
    EXPECT_STREQ(szStatus, "before");
}

TEST_F(ParameterFile, SavingOverAnExistingFileReplacesItWhole) {
    WriteAll(path, std::string(5000, '9') + "\n" + std::string(5000, '1') + "\n");
    SendParaToFile();
    EXPECT_EQ(Numbers(path).size(), 30u);
    EXPECT_LT(ReadAll(path).size(), 1000u);
    const ParameterRecord saved = parameter;
    Scribble();
    PresetFileSelectAnswer(VAL_EXISTING_FILE_SELECTED, path);
    ReadParaFromFile();
    EXPECT_TRUE(SameRecord(parameter, saved));
}

TEST_F(ParameterFile, ValuesAbove16BitsKeepTheirLowHalf) {
    std::vector<uint32_t> values(30, 0);
    values[0] = 65536u + 500u;         // set 0 word 0
    values[6] = 4294967295u;           // set 0 word 6
    values[15] = 0x12345678u;          // set 1 word 0
    values[26] = 0x00014000u;          // scale, low half 0x4000
    values[27] = 0xFFFF0000u;          // scale, high half 0
    values[28] = 0x7FFF0000u + 30000u; // offset, low half
    values[29] = 65536u;               // offset, high half 0
    const std::string p = WriteArray("big.cfg", values);
    PresetFileSelectAnswer(VAL_EXISTING_FILE_SELECTED, p);
    ReadParaFromFile();
    EXPECT_EQ(parameter.set0[0], 500);
    EXPECT_EQ(parameter.set0[6], 65535);
    EXPECT_EQ(parameter.set1[0], 0x5678);
    EXPECT_EQ(parameter.scale, 16384u);
    EXPECT_EQ(parameter.offset, 30000);
}

TEST_F(ParameterFile, MalformedFilesLeaveTheRecordUnchanged) {
    const std::vector<uint32_t> good(30, 1234567u);
    const std::string valid = ReadAll(WriteArray("valid.cfg", good));
    ASSERT_NE(valid.find("1234567"), std::string::npos);
    auto replaced = [&valid](const std::string &field) {
        std::string text = valid;
        text.replace(text.find("1234567"), 7, field);
        return text;
    };
    struct Bad {
        const char *what;
        std::string file;
    };
    std::vector<Bad> bad = {
        {"too few", WriteArray("few.cfg", std::vector<uint32_t>(29, 1234567u))},
        {"too many", WriteArray("many.cfg", std::vector<uint32_t>(31, 1234567u))},
        {"missing", dir.filePath("missing.cfg").toStdString()},
    };
    const std::pair<const char *, std::string> edits[] = {
        {"a word", replaced("abcdefg")},           {"a negative number", replaced("     -1")},
        {"above 32 bits", replaced("4294967296")}, {"far above 64 bits", replaced("99999999999999999999999")},
        {"a fraction", replaced("   12.5")},       {"empty", ""},
    };
    int n = 0;
    for (const auto &e : edits) {
        const std::string p = dir.filePath(QString("bad%1.cfg").arg(n++)).toStdString();
        WriteAll(p, e.second);
        bad.push_back({e.first, p});
    }

    ShowDistinctSet();
    GetPanelValues();
    for (const Bad &b : bad) {
        const ParameterRecord before = parameter;
        uint16_t ppBefore[16];
        for (int k = 0; k < 16; ++k)
            ppBefore[k] = pp[k];
        SetCtrlVal(pHandle, PANEL_STATUS, "");
        PresetFileSelectAnswer(VAL_EXISTING_FILE_SELECTED, b.file);
        ReadParaFromFile();
        EXPECT_TRUE(SameRecord(parameter, before)) << b.what;
        for (int k = 0; k < 16; ++k)
            EXPECT_EQ(pp[k], ppBefore[k]) << b.what;
        EXPECT_EQ(StatusText(), "Error reading parameter file!") << b.what;
        EXPECT_STREQ(szStatus, "Error reading parameter file!") << b.what;
    }

    // The same layout with a good value in place of the first field is accepted.
    const std::string p = dir.filePath("fine.cfg").toStdString();
    WriteAll(p, replaced("   4242"));
    PresetFileSelectAnswer(VAL_EXISTING_FILE_SELECTED, p);
    ReadParaFromFile();
    EXPECT_EQ(parameter.set0[0], 4242);
    EXPECT_EQ(StatusText(), "Parameter file read");
}

TEST_F(ParameterFile, FailedSaveKeepsTheOldFileAndSaysSo) {
    // A name of the longest length a directory entry may have: the file exists, but no
    // temporary file with a longer name can be made beside it, so the save cannot complete.
    const std::string longName = dir.filePath(QString(255, QChar('p'))).toStdString();
    const std::string old = "the old parameter file\n";
    WriteAll(longName, old);
    ASSERT_EQ(ReadAll(longName), old);
    file_name = longName;
    SetCtrlVal(pHandle, PANEL_STATUS, "Transmit...");
    SendParaToFile();
    EXPECT_EQ(ReadAll(longName), old);
    EXPECT_EQ(StatusText(), "Error writing parameter file!");

    // A directory that does not exist.
    file_name = dir.filePath("no-such-dir/KVORpara.cfg").toStdString();
    SetCtrlVal(pHandle, PANEL_STATUS, "Transmit...");
    SendParaToFile();
    EXPECT_FALSE(QFile::exists(QString::fromStdString(file_name)));
    EXPECT_EQ(StatusText(), "Error writing parameter file!");
}

TEST_F(ParameterFile, SuccessfulSaveLeavesTheStatusLine) {
    SetCtrlVal(pHandle, PANEL_STATUS, "Transmit...");
    SendParaToFile();
    EXPECT_EQ(StatusText(), "Transmit...");
    EXPECT_EQ(Numbers(path).size(), 30u);
}

TEST_F(ParameterFile, LongPathIsKeptWhole) {
    QString sub = dir.path();
    for (int i = 0; i < 4; ++i)
        sub += "/" + QString(70, QChar('a' + i));
    ASSERT_TRUE(QDir().mkpath(sub));
    const std::string longPath = (sub + "/KVORpara.cfg").toStdString();
    ASSERT_GT(longPath.size(), 259u);

    ShowDistinctSet();
    file_name = longPath;
    SendParaToFile();
    EXPECT_EQ(Numbers(longPath).size(), 30u);
    EXPECT_FALSE(QFile::exists(QString::fromStdString(longPath.substr(0, 259))));
    const ParameterRecord saved = parameter;

    Scribble();
    file_name.clear();
    PresetFileSelectAnswer(VAL_EXISTING_FILE_SELECTED, longPath);
    ReadParaFromFile();
    EXPECT_EQ(file_name, longPath);
    EXPECT_TRUE(SameRecord(parameter, saved));
}

} // namespace

namespace {

// A file name that is not valid text in the system's encoding (a Latin-1 byte, as old systems
// and other machines' shares leave them) cannot be opened under that name. Neither the save nor
// the read may then go to a file of a similar name instead.
TEST_F(ParameterFile, NameTheSystemCannotSpellIsAnErrorNotAnotherFile) {
    const std::string odd = dir.path().toStdString() + "/para\xE9.cfg";
    ShowDistinctSet();
    file_name = odd;
    SetCtrlVal(pHandle, PANEL_STATUS, "Transmit...");
    SendParaToFile();
    EXPECT_EQ(StatusText(), "Error writing parameter file!");
    EXPECT_TRUE(QDir(dir.path()).entryList(QDir::Files).isEmpty()) << QDir(dir.path()).entryList().join(' ').toStdString();

    // A file whose name differs only there is another file: not read in its place.
    const std::string lookalike = dir.path().toStdString() + "/para\xEF\xBF\xBD.cfg";
    WriteArray("para\xEF\xBF\xBD.cfg", std::vector<uint32_t>(30, 77u));
    ASSERT_TRUE(QFile::exists(QString::fromStdString(lookalike)));
    GetPanelValues();
    const ParameterRecord before = parameter;
    PresetFileSelectAnswer(VAL_EXISTING_FILE_SELECTED, odd);
    EXPECT_EQ(ReadParaFromFile(), -1);
    EXPECT_TRUE(SameRecord(parameter, before));
}

} // namespace
