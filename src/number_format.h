// Number writers for pieces of output: each writes at `next` and returns the
// end of what it wrote. They copy whole table entries (and, for addresses on
// little-endian machines, whole 8-byte words) with no branch on the number of
// digits, which a listing of random-looking numbers would mispredict; so they
// may store up to 8 bytes past the end they return, and a piece keeps room
// for that.
#pragma once

#include <algorithm>
#include <bit>
#include <charconv>
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <limits>
#include <string_view>

namespace digits {

template <typename Value>
constexpr std::size_t most_decimal_digits = std::numeric_limits<Value>::digits10 + 1;

constexpr int digit_count(unsigned value) { return value >= 100 ? 3 : value >= 10 ? 2 : 1; }

// Writes the last `length` decimal digits of `value` at `slot`.
constexpr void fill_digits(char* slot, unsigned value, int length) {
    for (int digit = length - 1; digit >= 0; --digit, value /= 10) slot[digit] = static_cast<char>('0' + value % 10);
}

// Slots of four bytes, the last holding the length of the digits before it.
struct Table {
    // "0" .. "999", then "000" .. "999": the first half writes a number's
    // last three digits when they are all of it, the second when digits come
    // before them.
    char low_decimals[8000];
    char leading_decimals[400];  // "", "1" .. "99"
    char hex_pairs[512];         // "00" .. "ff", two bytes each
};

constexpr Table make_table() {
    Table table{};
    for (unsigned i = 0; i < 1000; ++i) {
        char* slot = table.low_decimals + 4 * i;
        fill_digits(slot, i, slot[3] = static_cast<char>(digit_count(i)));
        fill_digits(slot + 4000, i, slot[4003] = 3);
    }
    for (unsigned i = 1; i < 100; ++i) {
        char* slot = table.leading_decimals + 4 * i;
        fill_digits(slot, i, slot[3] = static_cast<char>(digit_count(i)));
    }
    constexpr char hex[] = "0123456789abcdef";
    for (int i = 0; i < 256; ++i) {
        table.hex_pairs[2 * i] = hex[i >> 4];
        table.hex_pairs[2 * i + 1] = hex[i & 0xF];
    }
    return table;
}

inline constexpr Table table = make_table();
inline constexpr bool word_stores = std::endian::native == std::endian::little;

// The three digits of a value below 1000 in the low bytes, 0 above them.
inline std::uint64_t decimal_triple(unsigned value) {
    std::uint32_t triple;
    std::memcpy(&triple, table.low_decimals + 4 * (1000 + value), 4);
    return triple & 0xFFFFFF;
}

// The two digits of a value below 100.
inline std::uint64_t decimal_pair(unsigned value) {
    std::uint16_t pair;
    std::memcpy(&pair, table.low_decimals + 4 * (1000 + value) + 1, 2);
    return pair;
}

inline std::uint64_t hex_pair(unsigned value) {
    std::uint16_t pair;
    std::memcpy(&pair, table.hex_pairs + 2 * value, 2);
    return pair;
}

// Stores the `width` digits held in `word` (first digit in the lowest byte)
// without their leading '0' characters, but at least the last digit.
inline char* store_digits(char* next, std::uint64_t word, int width) {
    std::uint64_t marks = (word ^ 0x3030303030303030u) | std::uint64_t{1} << (8 * (width - 1));
    int zeros = std::countr_zero(marks) / 8;
    word >>= 8 * zeros;
    std::memcpy(next, &word, 8);
    return next + width - zeros;
}

// "%u" for a number below 100000: the digits before the last three (none
// below 1000) from one table, then the last three from the half of the other
// that pads them with zeros only when digits came before them.
inline char* write_decimal_below_100000(char* next, std::uint32_t number) {
    // number / 1000, exact below 100000.
    auto high = static_cast<std::uint32_t>((std::uint64_t{number} * 4294968) >> 32);
    std::uint32_t low = number - high * 1000;
    const char* head = table.leading_decimals + 4 * high;
    std::memcpy(next, head, 4);
    next += head[3];
    // The padded half by masking, not by a conditional that may become a branch.
    const char* tail = table.low_decimals + 4 * (low + (1000 & (0u - (high != 0))));
    std::memcpy(next, tail, 4);
    return next + tail[3];
}

// "%lu".
inline char* write_decimal(char* next, unsigned long value) {
    if (value >= 100000) return std::to_chars(next, next + 24, value).ptr;
    return write_decimal_below_100000(next, static_cast<std::uint32_t>(value));
}

inline char* write_word_decimal(char* next, std::uint16_t value) { return write_decimal_below_100000(next, value); }

inline char* write_byte_decimal(char* next, std::uint8_t value) {
    const char* slot = table.low_decimals + 4 * value;
    std::memcpy(next, slot, 4);
    return next + slot[3];
}

// For each byte value, its "%u" between the texts `before` and `after`, in
// slots of `size` bytes with the length in the last: a part of a line that
// holds a byte field, written with one copy (copy_byte_part).
template <std::size_t size>
struct BytePartTable {
    char part[256][size];
    std::size_t longest;  // the length of the longest part
};

template <std::size_t size>
constexpr BytePartTable<size> make_byte_parts(std::string_view before, std::string_view after) {
    BytePartTable<size> table{};
    for (unsigned value = 0; value < 256; ++value) {
        char* part = table.part[value];
        before.copy(part, before.size());
        fill_digits(part + before.size(), value, digit_count(value));
        after.copy(part + before.size() + digit_count(value), after.size());
        part[size - 1] = static_cast<char>(before.size() + digit_count(value) + after.size());
    }
    table.longest = before.size() + 3 + after.size();
    return table;
}

// Copies a part of a BytePartTable (its whole slot); returns the end of its text.
template <std::size_t size>
inline char* copy_byte_part(char* next, const char (&part)[size]) {
    std::memcpy(next, part, size);
    return next + part[size - 1];
}

// The two lower-case hexadecimal digits of a byte.
inline char* write_hex_pair(char* next, unsigned byte) {
    std::memcpy(next, table.hex_pairs + 2 * (byte & 0xFF), 2);
    return next + 2;
}

// "%0*lx": the lower-case hexadecimal digits of `value`, at least `least`
// of them (at least 1).
inline char* write_hex(char* next, unsigned long value, int least) {
    const int count = std::max(static_cast<int>(std::bit_width(value) + 3) / 4, least);
    for (int i = count - 1; i >= 0; --i, value >>= 4) next[i] = table.hex_pairs[2 * (value & 0xF) + 1];
    return next + count;
}

// "%lu" for an address field (below 2^24): all eight digits at once, then
// the leading zeros dropped.
inline char* write_address_decimal(char* next, unsigned long value) {
    if (!word_stores || value >= 0x1000000) return write_decimal(next, value);
    auto small = static_cast<unsigned>(value);
    std::uint64_t word =
        decimal_pair(small / 1000000) | decimal_triple(small / 1000 % 1000) << 16 | decimal_triple(small % 1000) << 40;
    return store_digits(next, word, 8);
}

// "%05lx (%ld)": at least five lower-case hex digits, then the decimal value.
inline char* write_address(char* next, unsigned long value) {
    if (!word_stores || value >= 0x1000000) {
        next = write_hex(next, value, 5);
    } else {
        std::uint64_t hex = hex_pair(static_cast<unsigned>(value >> 16)) |
                            hex_pair(static_cast<unsigned>((value >> 8) & 0xFF)) << 16 |
                            hex_pair(static_cast<unsigned>(value & 0xFF)) << 32;
        int skip = value < 0x100000 ? 1 : 0;
        hex >>= 8 * skip;
        std::memcpy(next, &hex, 8);
        next += 6 - skip;
    }
    std::memcpy(next, " (", 2);
    next = write_address_decimal(next + 2, value);
    *next = ')';
    return next + 1;
}

}  // namespace digits
