// Number formatting for pieces of output: decimal, hexadecimal and address
// forms written at a pointer, with no branch on the number of digits.
#pragma once

#include <bit>
#include <charconv>
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <limits>
#include <string_view>

// Number writers for pieces of output: each writes at `next` and returns the
// end of what it wrote. They copy whole table entries (and, for addresses on
// little-endian machines, whole 8-byte words) with no branch on the number of
// digits, which a listing of random-looking numbers would mispredict; so they
// may store up to 8 bytes past the end they return, and a piece keeps room
// for that.
namespace digits {

// The most digits of a value of an unsigned type, in decimal and in hexadecimal.
template <typename Value>
constexpr std::size_t most_decimal_digits = std::numeric_limits<Value>::digits10 + 1;
template <typename Value>
constexpr std::size_t most_hex_digits = 2 * sizeof(Value);

struct Table {
    char decimal_pairs[200];     // "00" .. "99"
    char decimal_triples[4000];  // "000" .. "999", four bytes each
    // "0" .. "999", then "000" .. "999": four bytes each, the last holding
    // the length. The first half writes a number's last three digits when
    // they are all of it, the second when digits come before them.
    char low_decimals[8000];
    char leading_decimals[400];  // "", "1" .. "99": four bytes each, the last holding the length
    char hex_pairs[512];         // "00" .. "ff"
};

constexpr Table make_table() {
    Table table{};
    for (int i = 0; i < 100; ++i) {
        table.decimal_pairs[2 * i] = static_cast<char>('0' + i / 10);
        table.decimal_pairs[2 * i + 1] = static_cast<char>('0' + i % 10);
    }
    for (int i = 0; i < 1000; ++i) {
        table.decimal_triples[4 * i] = static_cast<char>('0' + i / 100);
        table.decimal_triples[4 * i + 1] = static_cast<char>('0' + i / 10 % 10);
        table.decimal_triples[4 * i + 2] = static_cast<char>('0' + i % 10);
    }
    for (int i = 0; i < 1000; ++i) {
        char* text = table.low_decimals + 4 * i;
        int length = i >= 100 ? 3 : i >= 10 ? 2 : 1;
        for (int digit = length - 1, rest = i; digit >= 0; --digit, rest /= 10)
            text[digit] = static_cast<char>('0' + rest % 10);
        text[3] = static_cast<char>(length);
        char* padded = table.low_decimals + 4 * (1000 + i);
        for (int digit = 0; digit < 3; ++digit) padded[digit] = table.decimal_triples[4 * i + digit];
        padded[3] = 3;
    }
    for (int i = 1; i < 100; ++i) {
        char* text = table.leading_decimals + 4 * i;
        int length = i >= 10 ? 2 : 1;
        for (int digit = length - 1, rest = i; digit >= 0; --digit, rest /= 10)
            text[digit] = static_cast<char>('0' + rest % 10);
        text[3] = static_cast<char>(length);
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

inline std::uint64_t decimal_pair(unsigned value) {
    std::uint16_t pair;
    std::memcpy(&pair, table.decimal_pairs + 2 * value, 2);
    return pair;
}

inline std::uint64_t decimal_triple(unsigned value) {
    std::uint32_t triple;  // the fourth byte is 0
    std::memcpy(&triple, table.decimal_triples + 4 * value, 4);
    return triple;
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

// "%u" for a number below 100000, without a branch on the number of digits:
// the digits before the last three (none for a number below 1000) come with
// their count from one table, then the last three with theirs from another,
// in the half that pads them with zeros only when digits came before them.
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

// "%u" for a word field, which needs no test for larger numbers.
inline char* write_word_decimal(char* next, std::uint16_t value) { return write_decimal_below_100000(next, value); }

// "%u" for a byte field.
inline char* write_byte_decimal(char* next, std::uint8_t value) {
    const char* entry = table.low_decimals + 4 * value;
    std::memcpy(next, entry, 4);
    return next + entry[3];
}

// For each byte value, its "%u" between the texts `before` and `after`, in
// slots of `size` bytes with the length in the last: a part of a line that
// holds a byte field, written with one copy (copy_byte_part).
template <std::size_t size>
struct BytePartTable {
    char part[256][size];
};

template <std::size_t size>
constexpr BytePartTable<size> make_byte_parts(std::string_view before, std::string_view after) {
    BytePartTable<size> table{};
    for (unsigned value = 0; value < 256; ++value) {
        char* part = table.part[value];
        std::size_t length = 0;
        for (char c : before) part[length++] = c;
        unsigned digits = value >= 100 ? 3 : value >= 10 ? 2 : 1;
        for (unsigned i = digits, rest = value; i > 0; --i, rest /= 10)
            part[length + i - 1] = static_cast<char>('0' + rest % 10);
        length += digits;
        for (char c : after) part[length++] = c;
        part[size - 1] = static_cast<char>(length);
    }
    return table;
}

// The length of the longest text of a BytePartTable.
template <std::size_t size>
constexpr std::size_t longest_part(const BytePartTable<size>& table) {
    std::size_t longest = 0;
    for (const auto& part : table.part) longest = longest > std::size_t(part[size - 1]) ? longest : part[size - 1];
    return longest;
}

// Copies the part of a BytePartTable (all `size` bytes of its slot); returns
// the end of its text.
template <std::size_t size>
inline char* copy_byte_part(char* next, const char (&part)[size]) {
    std::memcpy(next, part, size);
    return next + part[size - 1];
}

// write_address for any value, on any machine.
char* write_any_address(char* next, unsigned long value);

// The two lower-case hexadecimal digits of a byte.
inline char* write_hex_pair(char* next, unsigned byte) {
    std::memcpy(next, table.hex_pairs + 2 * (byte & 0xFF), 2);
    return next + 2;
}

// "%0*lx": the lower-case hexadecimal digits of `value`, at least `least`
// of them (at least 1).
inline char* write_hex(char* next, unsigned long value, int least) {
    const int needed = (std::bit_width(value) + 3) / 4;
    const int count = needed > least ? needed : least;
    for (int i = count - 1; i >= 0; --i, value >>= 4) next[i] = table.hex_pairs[2 * (value & 0xF) + 1];
    return next + count;
}

// "%lu" for an address field (below 2^24) with no branch on the number of
// digits: all eight digits at once, then the leading zeros dropped.
inline char* write_address_decimal(char* next, unsigned long value) {
    if (!word_stores || value >= 0x1000000) return write_decimal(next, value);
    auto small = static_cast<unsigned>(value);
    std::uint64_t word =
        decimal_pair(small / 1000000) | decimal_triple(small / 1000 % 1000) << 16 | decimal_triple(small % 1000) << 40;
    return store_digits(next, word, 8);
}

// "%05lx (%ld)": at least five lower-case hex digits, then the decimal value.
inline char* write_address(char* next, unsigned long value) {
    if (!word_stores || value >= 0x1000000) return write_any_address(next, value);
    std::uint64_t hex = hex_pair(static_cast<unsigned>(value >> 16)) |
                        hex_pair(static_cast<unsigned>((value >> 8) & 0xFF)) << 16 |
                        hex_pair(static_cast<unsigned>(value & 0xFF)) << 32;
    int skip = value < 0x100000 ? 1 : 0;
    hex >>= 8 * skip;
    std::memcpy(next, &hex, 8);
    next += 6 - skip;
    std::memcpy(next, " (", 2);
    next = write_address_decimal(next + 2, value);
    *next = ')';
    return next + 1;
}

}  // namespace digits
