// Both parameter sets over the line: read into a buffer, written from the record, and a write
// verified by reading it back. The frames and pauses are those of GET and SEND.
#pragma once

#include <string>
#include <vector>

#include "setwords.h"

constexpr double kSetPause = 0.1; // seconds between the two sets, and before the read-back

// Reads set 0 and set 1 of 'memory' (RAM or EEPROM) into *out; the record is left as it was.
// 1, or 0 when a set was not answered (szStatus holds the time-out text) or came back as the
// request itself (szStatus: "read error - not sync byte 0xAA!").
int ReadSensorSets(int memory, SetWords *out);
// Writes both sets of the record into 'memory' ("Line Ok!" after each complete frame). 1 when
// both frames went out whole; otherwise 0, with szStatus naming the set or sets that did not.
int WriteSensorSets(int memory);

struct VerifyResult {
    bool answered = false;                  // both sets came back
    SetWords readBack;                      // what came back (answered only)
    std::vector<ValueDifference> differences; // written against read back
    std::string text;                       // the status text
    bool ok() const { return answered && differences.empty(); }
};
// After a write of 'written' into 'memory': waits the pause, reads both sets back into a buffer
// and compares every word. text: "Parameter set written and verified", "Verify failed: N
// values differ (...)" or the time-out text.
VerifyResult VerifyWrittenSets(int memory, const SetWords &written);
// The status text for a verification that was answered.
std::string VerifyText(const SetWords &written, const SetWords &readBack,
                       const std::vector<ValueDifference> &differences);
