// UTF-8 as the output modes that carry names need it: which bytes of a name
// form well-formed sequences.
#pragma once

#include <cstddef>

// Length of the well-formed UTF-8 sequence that starts at `bytes` (2 to 4),
// or 0 when no well-formed sequence of more than one byte starts there:
// overlong forms, surrogates and code points above U+10FFFF are not.
inline std::size_t utf8_sequence_length(const unsigned char* bytes, std::size_t available) {
    unsigned lead = bytes[0];
    std::size_t length;
    unsigned low = 0x80, high = 0xBF;  // bounds of the second byte
    if (lead >= 0xC2 && lead <= 0xDF) {
        length = 2;
    } else if (lead >= 0xE0 && lead <= 0xEF) {
        length = 3;
        if (lead == 0xE0) low = 0xA0;   // no overlong forms
        if (lead == 0xED) high = 0x9F;  // no surrogates
    } else if (lead >= 0xF0 && lead <= 0xF4) {
        length = 4;
        if (lead == 0xF0) low = 0x90;   // no overlong forms
        if (lead == 0xF4) high = 0x8F;  // nothing above U+10FFFF
    } else {
        return 0;
    }
    if (available < length) return 0;
    if (bytes[1] < low || bytes[1] > high) return 0;
    for (std::size_t i = 2; i < length; ++i)
        if (bytes[i] < 0x80 || bytes[i] > 0xBF) return 0;
    return length;
}
