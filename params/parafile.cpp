// The parameter file: both parameter sets of the sensor as the thirty words of the two parameter
// packets, written as decimal text.
#include <string>

#include "com232.h"
#include "linkreport.h"
#include "params.h"
#include "state.h"
#include "userint.h"
#include "utility.h"

namespace {

const int kFileValues = 30;

// The outcome goes to szStatus as well: the GET command shows szStatus again after the read.
void ShowOutcome(const char *text) {
    CopyText(szStatus, text);
    ShowStatusBuffer();
}

} // namespace

void ParaFileValues(uint32_t values[30]) {
    // Values 1 to 15 are set 0, values 16 to 30 set 1, each word widened without sign.
    for (uint16_t set = 0; set < 2; ++set) {
        CopyVarsToPP(set);
        for (int k = 0; k < kPacketWords; ++k)
            values[set * kPacketWords + k] = pp[k];
    }
}

void TakeParaFileValues(const uint32_t values[30]) {
    // Only the low 16 bits of a value count. Set 1 also rebuilds the scale and the offset from
    // their halves.
    for (uint16_t set = 0; set < 2; ++set) {
        for (int k = 0; k < kPacketWords; ++k)
            pp[k] = static_cast<uint16_t>(values[set * kPacketWords + k] & 0xFFFFu);
        CopyPPtoVars(set);
    }
}

int WriteParaFile(const std::string &path) {
    uint32_t values[kFileValues];
    ParaFileValues(values);
    // The array file is written beside the old one and replaces it only when complete, so a
    // failed save leaves the file that was there untouched.
    const int result = ArrayToFile(path.c_str(), values, VAL_UNSIGNED_INTEGER, kFileValues, 1, VAL_GROUPS_TOGETHER,
                                   VAL_GROUPS_AS_COLUMNS, VAL_SEP_BY_COMMA, 10, VAL_ASCII, VAL_TRUNCATE);
    return result < 0 ? result : 0;
}

int ReadParaFileValues(const std::string &path, uint32_t values[30]) {
    // Anything but exactly thirty unsigned 32-bit decimal numbers is a read error, and 'values'
    // stays as it was.
    const int result = FileToArray(path.c_str(), values, VAL_UNSIGNED_INTEGER, kFileValues, 1,
                                   VAL_GROUPS_TOGETHER, VAL_GROUPS_AS_COLUMNS, VAL_ASCII);
    if (result != 0) return result < 0 ? result : -1;
    return 0;
}

int ReadParaFile(const std::string &path) {
    uint32_t values[kFileValues] = {0};
    const int result = ReadParaFileValues(path, values);
    if (result < 0) return result; // the record stays as it was
    TakeParaFileValues(values);
    return 0;
}

void SendParaToFile(void) {
    // The file receives what the panels show.
    GetPanelValues();
    if (WriteParaFile(file_name) < 0) ShowOutcome("Error writing parameter file!");
}

int ReadParaFromFile(void) {
    // The path is taken only when a file was chosen; a cancelled dialog leaves file_name alone.
    std::string chosen;
    const int selected = FileSelectPopup(proj_dir.c_str(), "KVORpara.cfg", "*.cfg", "K-VOR-RN-Series-Parameter-File",
                                         VAL_LOAD_BUTTON, 0, 1, 1, 1, &chosen);
    if (selected <= 0) return 0;
    file_name = chosen;

    if (ReadParaFile(file_name) < 0) {
        ShowOutcome("Error reading parameter file!");
        return -1;
    }
    // Without this the GET that follows would show whatever szStatus held before, an old error
    // text included.
    ShowOutcome("Parameter file read");
    return 1;
}
