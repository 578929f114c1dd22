// The parameter file: both parameter sets of the sensor as the thirty words of the two parameter
// packets, written as decimal text.
#include <string>

#include "K-VOR-RNZazorU30.h"
#include "com232.h"
#include "params.h"
#include "state.h"
#include "userint.h"
#include "utility.h"

namespace {

const int kFileValues = 30;
const int kPacketWords = 15;

// The outcome goes to szStatus as well: the GET command shows szStatus again after the read.
void ShowStatus(const char *text) {
    CopyText(szStatus, text);
    SetCtrlVal(pHandle, PANEL_STATUS, szStatus);
}

} // namespace

void SendParaToFile(void) {
    uint32_t values[kFileValues];

    // 1. The file receives what the panels show.
    GetPanelValues();

    // 2. Set 0 into values 1 to 15.
    CopyVarsToPP(0);
    for (int k = 0; k < kPacketWords; ++k)
        values[k] = pp[k];

    // 3. Set 1 into values 16 to 30.
    CopyVarsToPP(1);
    for (int k = 0; k < kPacketWords; ++k)
        values[kPacketWords + k] = pp[k];

    // 4. The array file is written beside the old one and replaces it only when complete, so a
    // failed save leaves the file that was there untouched.
    const int result =
        ArrayToFile(file_name.c_str(), values, VAL_UNSIGNED_INTEGER, kFileValues, 1, VAL_GROUPS_TOGETHER,
                    VAL_GROUPS_AS_COLUMNS, VAL_SEP_BY_COMMA, 10, VAL_ASCII, VAL_TRUNCATE);
    if (result < 0) ShowStatus("Error writing parameter file!");
}

void ReadParaFromFile(void) {
    // 1. The path is taken only when a file was chosen; a cancelled dialog leaves file_name alone.
    std::string chosen;
    const int selected =
        FileSelectPopup(proj_dir.c_str(), "KVORpara.cfg", "*.cfg", "K-VOR-RN-Series-Parameter-File",
                        VAL_LOAD_BUTTON, 0, 1, 1, 1, &chosen);

    // 2.
    if (selected <= 0) return;
    file_name = chosen;

    // 3. Anything but exactly thirty unsigned 32-bit decimal numbers is a read error, and the
    // record stays as it was.
    uint32_t values[kFileValues] = {0};
    if (FileToArray(file_name.c_str(), values, VAL_UNSIGNED_INTEGER, kFileValues, 1, VAL_GROUPS_TOGETHER,
                    VAL_GROUPS_AS_COLUMNS, VAL_ASCII) != 0) {
        ShowStatus("Error reading parameter file!");
        return;
    }

    // 4. Values 1 to 15 are set 0; only their low 16 bits count.
    for (int k = 0; k < kPacketWords; ++k)
        pp[k] = static_cast<uint16_t>(values[k] & 0xFFFFu);
    CopyPPtoVars(0);

    // 5. Values 16 to 30 are set 1, which also rebuilds the scale and the offset from their halves.
    for (int k = 0; k < kPacketWords; ++k)
        pp[k] = static_cast<uint16_t>(values[kPacketWords + k] & 0xFFFFu);
    CopyPPtoVars(1);

    // Without this the GET that follows would show whatever szStatus held before, an old error
    // text included.
    ShowStatus("Parameter file read");
}
