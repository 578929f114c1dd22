// The parameter-file reader: any bytes as the file that the operator loads. ReadParaFromFile
// either takes exactly 30 values (each cut to 16 bits) into both sets, or changes nothing and
// says so; and whatever the array-file reader accepts, the writer writes back so that it reads
// the same again.
#include <cstdint>
#include <cstring>
#include <string>

#include "fuzz_support.h"
#include "testhooks.h"
#include "params.h"
#include "userint.h"
#include "state.h"
#include "utility.h"

using kvorfuzz::Check;

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size) {
    const std::string path = kvorfuzz::WriteScratchFile("KVORpara.cfg", data, size);

    // The record as the operator had it.
    for (int k = 0; k < 15; ++k) parameter.set0[k] = static_cast<uint16_t>(0xA500 + k);
    for (int k = 0; k < 11; ++k) parameter.set1[k] = static_cast<uint16_t>(0x5A00 + k);
    parameter.scale = 0xDEADBEEFu;
    parameter.offset = -12345;
    const ParameterRecord before = parameter;
    szStatus[0] = '\0';

    ClearFileSelectAnswers();
    PresetFileSelectAnswer(VAL_EXISTING_FILE_SELECTED, path);
    ReadParaFromFile();

    uint32_t values[30] = {0};
    const int read = FileToArray(path.c_str(), values, VAL_UNSIGNED_INTEGER, 30, 1, VAL_GROUPS_TOGETHER,
                                 VAL_GROUPS_AS_COLUMNS, VAL_ASCII);
    Check(::strnlen(szStatus, sizeof szStatus) < sizeof szStatus, "status text stays terminated");
    if (read == 0) {
        Check(std::strcmp(szStatus, "Parameter file read") == 0, "a file that reads says so");
        for (int k = 0; k < 15; ++k) Check(parameter.set0[k] == (values[k] & 0xFFFFu), "set 0 from values 1 to 15");
        for (int k = 0; k < 11; ++k)
            Check(parameter.set1[k] == (values[15 + k] & 0xFFFFu), "set 1 from values 16 to 26");
        Check(parameter.scale == ((values[26] & 0xFFFFu) | (values[27] & 0xFFFFu) << 16), "scale from its halves");
        Check(static_cast<uint32_t>(parameter.offset) == ((values[28] & 0xFFFFu) | (values[29] & 0xFFFFu) << 16),
              "offset from its halves");

        // Written back, it reads back the same.
        const std::string again = kvorfuzz::WriteScratchFile("again.cfg", nullptr, 0);
        Check(ArrayToFile(again.c_str(), values, VAL_UNSIGNED_INTEGER, 30, 1, VAL_GROUPS_TOGETHER,
                          VAL_GROUPS_AS_COLUMNS, VAL_SEP_BY_COMMA, 10, VAL_ASCII, VAL_TRUNCATE) == 0,
              "the values read can be written");
        uint32_t back[30] = {0};
        Check(FileToArray(again.c_str(), back, VAL_UNSIGNED_INTEGER, 30, 1, VAL_GROUPS_TOGETHER,
                          VAL_GROUPS_AS_COLUMNS, VAL_ASCII) == 0 &&
                  std::memcmp(back, values, sizeof back) == 0,
              "what is written reads back exactly");
    } else {
        Check(std::strcmp(szStatus, "Error reading parameter file!") == 0, "a file that does not read says so");
        Check(std::memcmp(&parameter, &before, sizeof parameter) == 0, "a file that does not read changes nothing");
    }
    return 0;
}
