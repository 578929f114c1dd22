// Both parameter sets over the line, with the read-back that verifies a write.
#include "sensorsets.h"

#include <cstring>

#include "com232.h"
#include "protocol.h"
#include "state.h"
#include "utility.h"

int ReadSensorSets(int memory, SetWords *out) {
    SetWords got;
    for (uint16_t set = 0; set < 2; ++set) {
        if (set == 1) Delay(kSetPause);
        if (!ExchangeParameterSet(ReadCommandFor(memory), set)) return 0;
        // The read request carries the set's present words, so a line that sends it straight
        // back (no sensor behind a loop-back or an echoing converter) would pass a write for
        // verified. The sensor's own answers begin with 0x00AA, never with the request's start.
        if (std::memcmp(szReadBuf, szWriteBuf, kFrameSize) == 0) {
            CopyText(szStatus, "read error - not sync byte 0xAA!");
            return 0;
        }
        std::memcpy(got.w[set], pp, sizeof got.w[set]);
    }
    *out = got;
    return 1;
}

int WriteSensorSets(int memory) {
    const uint16_t command = WriteCommandFor(memory);
    parameter.start = kRequestStart;
    parameter.command = command;
    const int first = SendParameterSet(command, 0);
    Delay(kSetPause);
    const int second = SendParameterSet(command, 1);
    // A set that did not go out whole (the line gone, the port closed) is named: the "Line Ok!" of
    // the other set must not stand for the write.
    if (!first && !second) {
        CopyText(szStatus, "Error writing parameter sets 0 and 1!");
    } else if (!first) {
        CopyText(szStatus, "Error writing parameter set 0!");
    } else if (!second) {
        CopyText(szStatus, "Error writing parameter set 1!");
    }
    return first && second;
}

std::string VerifyText(const SetWords &written, const SetWords &readBack,
                       const std::vector<ValueDifference> &differences) {
    if (differences.empty()) return "Parameter set written and verified";
    std::string text = "Verify failed: " + std::to_string(differences.size()) +
                       (differences.size() == 1 ? " value differs" : " values differ");
    // The status line holds about a hundred characters: the first few, written/read.
    size_t most = 3;
    std::string list;
    while (true) {
        list = ShortDifferenceList(differences, written, readBack, most);
        if (list.size() <= 80 || most == 1) break;
        --most;
    }
    return text + " (" + list + ")";
}

VerifyResult VerifyWrittenSets(int memory, const SetWords &written) {
    VerifyResult result;
    Delay(kSetPause);
    if (!ReadSensorSets(memory, &result.readBack)) {
        result.text = szStatus[0] != '\0' ? szStatus : "Timeout-RS-232...";
        return result;
    }
    result.answered = true;
    result.differences = DifferingValues(written, result.readBack);
    result.text = VerifyText(written, result.readBack, result.differences);
    return result;
}
