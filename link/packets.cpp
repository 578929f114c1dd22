// The packet mappings between pp and the parameter record or the measured values.
#include "com232.h"

#include "protocol.h"
#include "state.h"

void CopyVarsToPP(uint16_t set) {
    if (set == 0) {
        for (int k = 0; k < kPacketWords; ++k)
            pp[k] = parameter.set0[k];
        return;
    }
    // Set 1 carries the two 32-bit values as low half first, each half a word of its own.
    const uint32_t offset = static_cast<uint32_t>(parameter.offset);
    for (int k = 0; k < 11; ++k)
        pp[k] = parameter.set1[k];
    pp[SET1_SCALE_LOW] = static_cast<uint16_t>(parameter.scale & 0xFFFF);
    pp[SET1_SCALE_HIGH] = static_cast<uint16_t>(parameter.scale >> 16);
    pp[SET1_OFFSET_LOW] = static_cast<uint16_t>(offset & 0xFFFF);
    pp[SET1_OFFSET_HIGH] = static_cast<uint16_t>(offset >> 16);
}

void CopyPPtoVars(uint16_t set) {
    if (set == 0) {
        for (int k = 0; k < kPacketWords; ++k)
            parameter.set0[k] = pp[k];
        return;
    }
    for (int k = 0; k < 11; ++k)
        parameter.set1[k] = pp[k];
    parameter.scale = static_cast<uint32_t>(pp[SET1_SCALE_LOW]) | (static_cast<uint32_t>(pp[SET1_SCALE_HIGH]) << 16);
    // The offset is signed: the 32-bit pattern is taken as it stands.
    const uint32_t offset =
        static_cast<uint32_t>(pp[SET1_OFFSET_LOW]) | (static_cast<uint32_t>(pp[SET1_OFFSET_HIGH]) << 16);
    parameter.offset = static_cast<int32_t>(offset);
}

void CopyPPtoRAWVars(void) {
    Ledge = pp[RAW_LEFT_EDGE];
    Redge = pp[RAW_RIGHT_EDGE];
    Mvalue = pp[RAW_VALUE];
    umValue = static_cast<uint32_t>(pp[RAW_UM_LOW]) | (static_cast<uint32_t>(pp[RAW_UM_HIGH]) << 16);
    parameter.set0[SET0_SETPOINT] = pp[RAW_SETPOINT]; // the sensor reports the setpoint it works with
    tol = pp[RAW_TOLERANCE];
    edcnt = pp[RAW_EDGES];
    mvstart = pp[RAW_MVSTART];
    mvend = pp[RAW_MVEND];
    dynpow = pp[RAW_DYNPOW];
    anaMax = pp[RAW_ANALOG_MAX];
    anaMin = pp[RAW_ANALOG_MIN];
    in0 = pp[RAW_IN0];
    raw14 = pp[RAW_14];
    raw15 = pp[RAW_15];
}
