// The packet mappings between pp and the parameter record or the measured values.
#include "com232.h"

#include "state.h"

void CopyVarsToPP(uint16_t set) {
    if (set == 0) {
        for (int k = 0; k < 15; ++k)
            pp[k] = parameter.set0[k];
        return;
    }
    // Set 1 carries the two 32-bit values as low half first, each half a word of its own.
    const uint32_t offset = static_cast<uint32_t>(parameter.offset);
    for (int k = 0; k < 11; ++k)
        pp[k] = parameter.set1[k];
    pp[11] = static_cast<uint16_t>(parameter.scale & 0xFFFF);
    pp[12] = static_cast<uint16_t>(parameter.scale >> 16);
    pp[13] = static_cast<uint16_t>(offset & 0xFFFF);
    pp[14] = static_cast<uint16_t>(offset >> 16);
}

void CopyPPtoVars(uint16_t set) {
    if (set == 0) {
        for (int k = 0; k < 15; ++k)
            parameter.set0[k] = pp[k];
        return;
    }
    for (int k = 0; k < 11; ++k)
        parameter.set1[k] = pp[k];
    parameter.scale = static_cast<uint32_t>(pp[11]) | (static_cast<uint32_t>(pp[12]) << 16);
    // The offset is signed: the 32-bit pattern is taken as it stands.
    const uint32_t offset = static_cast<uint32_t>(pp[13]) | (static_cast<uint32_t>(pp[14]) << 16);
    parameter.offset = static_cast<int32_t>(offset);
}

void CopyPPtoRAWVars(void) {
    Ledge = pp[0];
    Redge = pp[1];
    Mvalue = pp[2];
    umValue = static_cast<uint32_t>(pp[3]) | (static_cast<uint32_t>(pp[4]) << 16);
    parameter.set0[6] = pp[5]; // the sensor reports the setpoint it works with
    tol = pp[6];
    edcnt = pp[7];
    mvstart = pp[8];
    mvend = pp[9];
    dynpow = pp[10];
    anaMax = pp[11];
    anaMin = pp[12];
    in0 = pp[13];
    raw14 = pp[14];
    raw15 = pp[15];
}
