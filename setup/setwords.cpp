// The values of the two parameter sets by name, as the panels show them.
#include "setwords.h"

#include <cstdio>
#include <cstring>

#include "K-VOR-RNZazorU30.h"
#include "protocol.h"

bool operator==(const SetWords &a, const SetWords &b) { return std::memcmp(a.w, b.w, sizeof a.w) == 0; }

SetWords RecordWords(const ParameterRecord &record) {
    SetWords s;
    for (int k = 0; k < 15; ++k)
        s.w[0][k] = record.set0[k];
    for (int k = 0; k < 11; ++k)
        s.w[1][k] = record.set1[k];
    const uint32_t offset = static_cast<uint32_t>(record.offset);
    s.w[1][SET1_SCALE_LOW] = static_cast<uint16_t>(record.scale & 0xFFFFu);
    s.w[1][SET1_SCALE_HIGH] = static_cast<uint16_t>(record.scale >> 16);
    s.w[1][SET1_OFFSET_LOW] = static_cast<uint16_t>(offset & 0xFFFFu);
    s.w[1][SET1_OFFSET_HIGH] = static_cast<uint16_t>(offset >> 16);
    return s;
}

ParameterRecord RecordWithWords(const ParameterRecord &base, const SetWords &s) {
    ParameterRecord r = base;
    for (int k = 0; k < 15; ++k)
        r.set0[k] = s.w[0][k];
    for (int k = 0; k < 11; ++k)
        r.set1[k] = s.w[1][k];
    r.scale = static_cast<uint32_t>(s.w[1][SET1_SCALE_LOW]) | (static_cast<uint32_t>(s.w[1][SET1_SCALE_HIGH]) << 16);
    r.offset = static_cast<int32_t>(static_cast<uint32_t>(s.w[1][SET1_OFFSET_LOW]) |
                                    (static_cast<uint32_t>(s.w[1][SET1_OFFSET_HIGH]) << 16));
    return r;
}

namespace {

// The drop-downs' texts, as the panel file gives them.
const char *const kOffOn[] = {"Off", "On"};
const char *const kEvalModes[] = {"Left edge", "Right edge", "Width", "Centre", "Gap"};
const char *const kP09[] = {"0", "1", "2"};
const char *const kAnalogModes[] = {"Measured value", "Measured value (inv.)", "Maximum", "Minimum",
                                    "Max - Min", "Mode 5", "Mode 6", "Mode 7"};
const char *const kHardware[] = {"0: Standard", "1: Fixed window", "2: Analog", "3: Analog, fixed window"};

template <size_t N> constexpr int Count(const char *const (&)[N]) { return static_cast<int>(N); }

std::vector<ValueDesc> BuildValues(void) {
    using K = ValueDesc;
    std::vector<ValueDesc> v = {
        {"Parameter P00", "P00", 0, SET0_P00, 1, K::Number, nullptr, 0, &pPara2, PARA2_P00},
        {"Switch P01", "P01", 0, SET0_P01, 1, K::Choice, kOffOn, Count(kOffOn), &pPara2, PARA2_P01},
        {"Switch P02", "P02", 0, SET0_P02, 1, K::Choice, kOffOn, Count(kOffOn), &pPara1, PARA1_P02},
        {"Evaluation mode", "Eval mode", 0, SET0_EVAL_MODE, 1, K::Choice, kEvalModes, Count(kEvalModes), &pPara1,
         PARA1_EvalMode},
        {"Left edge limit", "Left edge", 0, SET0_LEFT_EDGE, 1, K::Number, nullptr, 0, &pHandle, PANEL_NEDITEdgeLeft},
        {"Right edge limit", "Right edge", 0, SET0_RIGHT_EDGE, 1, K::Number, nullptr, 0, &pHandle,
         PANEL_NEDITEdgeRight},
        {"Setpoint [pixel]", "Setpoint", 0, SET0_SETPOINT, 1, K::Number, nullptr, 0, &pPara2, PARA2_Setpoint},
        {"Tolerance [pixel]", "Tolerance", 0, SET0_TOLERANCE, 1, K::Number, nullptr, 0, &pPara1,
         PARA1_NEDITTolerance},
        {"Parameter P08", "P08", 0, SET0_P08, 1, K::Number, nullptr, 0, &pPara1, PARA1_P08},
        {"Parameter P09", "P09", 0, SET0_P09, 1, K::Choice, kP09, Count(kP09), &pPara1, PARA1_P09},
        {"Analog mode", "Analog mode", 0, SET0_ANALOG_MODE, 1, K::Choice, kAnalogModes, Count(kAnalogModes),
         &pPara1, PARA1_AnaMode},
        {"Switch P11", "P11", 0, SET0_P11, 1, K::Choice, kOffOn, Count(kOffOn), &pPara1, PARA1_P11},
        {"Parameter P12", "P12", 0, SET0_P12, 1, K::Number, nullptr, 0, &pCalib, CALIB_P12},
        {"Hardware variant", "Hardware", 0, SET0_HARDWARE_VARIANT, 1, K::Choice, kHardware, Count(kHardware),
         &pPara1, PARA1_DROPHardware},
        {"Video threshold [%]", "Video threshold", 0, SET0_VIDEO_THRESHOLD, 1, K::Number, nullptr, 0, &pPara2,
         PARA2_SLIDEVideoThreshold},
    };
    for (int k = 0; k < 11; ++k)
        v.push_back({"", "", 1, k, 1, K::Number, nullptr, 0, nullptr, 0});
    v.push_back({"Scale factor", "Scale", 1, SET1_SCALE_LOW, 2, K::Scale, nullptr, 0, &pCalib, CALIB_Scale});
    v.push_back({"Offset", "Offset", 1, SET1_OFFSET_LOW, 2, K::Offset, nullptr, 0, &pCalib, CALIB_Offset});
    return v;
}

uint32_t Value32(const ValueDesc &d, const SetWords &s) {
    const uint16_t *w = s.w[d.set];
    if (d.words == 1) return w[d.word];
    return static_cast<uint32_t>(w[d.word]) | (static_cast<uint32_t>(w[d.word + 1]) << 16);
}

bool Differs(const ValueDesc &d, const SetWords &a, const SetWords &b) { return Value32(d, a) != Value32(d, b); }

} // namespace

const std::vector<ValueDesc> &ParameterValues(void) {
    static const std::vector<ValueDesc> values = BuildValues();
    return values;
}

std::string ValueName(const ValueDesc &d) {
    if (d.label[0] != '\0') return d.label;
    return "Set " + std::to_string(d.set) + " word " + std::to_string(d.word);
}

std::string ValueNumber(const ValueDesc &d, const SetWords &s) {
    const uint32_t v = Value32(d, s);
    if (d.kind == ValueDesc::Offset) return std::to_string(static_cast<int32_t>(v));
    return std::to_string(v);
}

std::string ValueText(const ValueDesc &d, const SetWords &s) {
    const uint32_t v = Value32(d, s);
    char text[64];
    switch (d.kind) {
    case ValueDesc::Choice:
        if (v < static_cast<uint32_t>(d.itemCount)) return d.items[v];
        return std::to_string(v);
    case ValueDesc::Scale:
        std::snprintf(text, sizeof text, "%.5f", static_cast<double>(v) / 16384.0);
        return text;
    case ValueDesc::Offset:
        return std::to_string(static_cast<int32_t>(v));
    default:
        return std::to_string(v);
    }
}

std::vector<ValueDifference> DifferingValues(const SetWords &a, const SetWords &b) {
    std::vector<ValueDifference> out;
    for (const ValueDesc &d : ParameterValues())
        if (Differs(d, a, b)) out.push_back({&d, ValueName(d), ValueText(d, a), ValueText(d, b)});
    return out;
}

std::string ShortDifferenceList(const std::vector<ValueDifference> &diffs, const SetWords &a, const SetWords &b,
                                size_t most) {
    std::string out;
    for (size_t i = 0; i < diffs.size() && i < most; ++i) {
        const ValueDesc &d = *diffs[i].desc;
        if (!out.empty()) out += ", ";
        out += d.shortName[0] != '\0' ? std::string(d.shortName) : ValueName(d);
        out += " " + ValueNumber(d, a) + "/" + ValueNumber(d, b);
    }
    if (diffs.size() > most) out += ", ...";
    return out;
}
