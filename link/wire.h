// Words on the serial line: 16 bits, high byte first, whatever the host's byte order.
#pragma once

#include <cstdint>

inline uint16_t WordAt(const char *buf, int pos) {
    return static_cast<uint16_t>((static_cast<unsigned char>(buf[pos]) << 8) |
                                 static_cast<unsigned char>(buf[pos + 1]));
}

inline void PutWord(char *buf, int pos, uint16_t word) {
    buf[pos] = static_cast<char>(word >> 8);
    buf[pos + 1] = static_cast<char>(word & 0xFF);
}

// How many of the 'waiting' bytes a read into a buffer of 'size' bytes may take: never more than
// the buffer holds, and none when the port reports an error (a negative length).
inline int ReadCount(int waiting, int size) {
    if (waiting < 0) return 0;
    return waiting < size ? waiting : size;
}
