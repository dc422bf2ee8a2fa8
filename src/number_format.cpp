#include "number_format.h"

#include <charconv>
#include <cstring>

char* digits::write_any_address(char* next, unsigned long value) {
    char hex[16];
    char* hex_end = std::to_chars(hex, hex + sizeof hex, value, 16).ptr;
    auto count = static_cast<std::size_t>(hex_end - hex);
    for (std::size_t pad = count; pad < 5; ++pad) *next++ = '0';
    std::memcpy(next, hex, count);
    next += count;
    *next++ = ' ';
    *next++ = '(';
    next = std::to_chars(next, next + 24, value).ptr;
    *next++ = ')';
    return next;
}
