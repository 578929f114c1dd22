// The two parameter sets as words, the values they hold by name, and their differences.
//
// A frame carries one set as 15 words. Set 0 words each belong to one control; set 1 carries
// eleven words no control holds, then the scale factor and the offset, two words each. A value
// here is what the operator sees: one control (or one word of set 1 named by its position).
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "state.h"

// Both sets as the frames carry them.
struct SetWords {
    uint16_t w[2][15] = {};
};
bool operator==(const SetWords &a, const SetWords &b);
inline bool operator!=(const SetWords &a, const SetWords &b) { return !(a == b); }

// The words of a record as a SEND would carry them, and a record with these words (everything
// else taken from 'base').
SetWords RecordWords(const ParameterRecord &record);
ParameterRecord RecordWithWords(const ParameterRecord &base, const SetWords &words);

// One value as the operator sees it.
struct ValueDesc {
    const char *label;     // the control's label (with its unit), or "" for a bare set 1 word
    const char *shortName; // for the status line
    int set;               // 0 or 1
    int word;              // first word
    int words;             // 1, or 2 for the scale factor and the offset (low word first)
    enum Kind { Number, Choice, Scale, Offset } kind;
    const char *const *items; // Choice: the texts the drop-down shows for 0, 1, ...
    int itemCount;
    int *panel;            // the panel of its control (nullptr: no control holds it)
    int control;
};

// Every value of both sets: set 0 in word order, then set 1 words 0 to 10, the scale factor
// and the offset.
const std::vector<ValueDesc> &ParameterValues(void);
// The name as on the panel ("Set 1 word 3" for a word no control holds).
std::string ValueName(const ValueDesc &d);
// The value as its control shows it: the drop-down's text, the scale factor with five decimals
// (as the Calibration page), the offset signed.
std::string ValueText(const ValueDesc &d, const SetWords &words);
// The raw number(s) as the frames carry them, e.g. "512" or "16384" (scale: the 32-bit value).
std::string ValueNumber(const ValueDesc &d, const SetWords &words);

struct ValueDifference {
    const ValueDesc *desc;
    std::string name, a, b; // name, the first and the second value as shown
};
// The values that differ between a and b, in the order of ParameterValues().
std::vector<ValueDifference> DifferingValues(const SetWords &a, const SetWords &b);
// "Setpoint 512/500, P08 3/0" for the first 'most' differences (raw numbers, written/read).
std::string ShortDifferenceList(const std::vector<ValueDifference> &diffs, const SetWords &a, const SetWords &b,
                                size_t most);
