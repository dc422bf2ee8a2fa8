// The one writer of standard output: a fixed buffer written out in large
// blocks, flushed before every exit (fatal errors included).
#pragma once

#include <bit>
#include <charconv>
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <string_view>
#if defined(__SSE2__)
#include <emmintrin.h>
#endif

// Number writers for pieces of output: each writes at `next` and returns the
// end of what it wrote. They copy whole table entries (and, for addresses on
// little-endian machines, whole 8-byte words) with no branch on the number of
// digits, which a listing of random-looking numbers would mispredict; so they
// may store up to 8 bytes past the end they return, and a piece keeps room
// for that.
namespace digits {

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

// "%u:%u:%u" for a source position: its file and character (bytes) and its
// line (a word). Inline, as most records print one or two.
inline char* write_position(char* next, std::uint8_t file, std::uint16_t line, std::uint8_t character) {
    next = write_byte_decimal(next, file);
    *next++ = ':';
    next = write_word_decimal(next, line);
    *next++ = ':';
    return write_byte_decimal(next, character);
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

// Copies the part of a BytePartTable (all `size` bytes of its slot); returns
// the end of its text.
template <std::size_t size>
inline char* copy_byte_part(char* next, const char (&part)[size]) {
    std::memcpy(next, part, size);
    return next + part[size - 1];
}

// write_address for any value, on any machine.
char* write_any_address(char* next, unsigned long value);

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

// memcpy without a call for the short texts that make up most of the output:
// two overlapping moves cover every size from 4 to 32. A size known at
// compile time leaves one of the cases.
inline void copy_text(char* to, const char* from, std::size_t size) {
    if (size > 32) {
        std::memcpy(to, from, size);
    } else if (size >= 16) {
        std::memcpy(to, from, 16);
        std::memcpy(to + size - 16, from + size - 16, 16);
    } else if (size >= 8) {
        std::memcpy(to, from, 8);
        std::memcpy(to + size - 8, from + size - 8, 8);
    } else if (size >= 4) {
        std::memcpy(to, from, 4);
        std::memcpy(to + size - 4, from + size - 4, 4);
    } else if (size != 0) {
        to[0] = from[0];
        to[size / 2] = from[size / 2];
        to[size - 1] = from[size - 1];
    }
}

// One bit for each of the 32 bytes at `bytes` that is not printable ASCII
// (below 0x20, 0x7F and above) or is `first` or `second`: the bytes that a
// quoted literal may have to escape. Bit i stands for byte i; the caller
// masks off the bits past its text. A name of any length up to 32 is tested
// at once, with no branch on its length.
inline std::uint32_t escape_candidates(const char* bytes, char first, char second) {
#if defined(__SSE2__)
    auto half = [&](const char* at) {
        __m128i text = _mm_loadu_si128(reinterpret_cast<const __m128i*>(at));
        // One more than each byte, compared as signed: the controls become
        // 0x01..0x20, and 0x7F and the bytes from 0x80 on negative numbers,
        // all below 0x21, which no other byte reaches.
        __m128i marks = _mm_cmpgt_epi8(_mm_set1_epi8(0x21), _mm_add_epi8(text, _mm_set1_epi8(1)));
        marks = _mm_or_si128(marks, _mm_cmpeq_epi8(text, _mm_set1_epi8(first)));
        marks = _mm_or_si128(marks, _mm_cmpeq_epi8(text, _mm_set1_epi8(second)));
        return static_cast<std::uint32_t>(_mm_movemask_epi8(marks));
    };
    return half(bytes) | half(bytes + 16) << 16;
#else
    std::uint32_t mask = 0;
    for (int i = 0; i < 32; ++i) {
        auto byte = static_cast<unsigned char>(bytes[i]);
        if (byte < 0x20 || byte >= 0x7F || bytes[i] == first || bytes[i] == second) mask |= std::uint32_t{1} << i;
    }
    return mask;
#endif
}

// escape_candidates for the 64 bytes at `bytes`.
inline std::uint64_t escape_candidates_64(const char* bytes, char first, char second) {
    return escape_candidates(bytes, first, second) | std::uint64_t{escape_candidates(bytes + 32, first, second)} << 32;
}

// The bits of an escape_candidates mask that stand for a text of `size` bytes.
inline std::uint32_t text_bits(std::size_t size) {
    return size >= 32 ? ~std::uint32_t{0} : (std::uint32_t{1} << size) - 1;
}

// Copies a text known at compile time into a piece at `next`; returns the
// end of the copy.
template <std::size_t size>
inline char* copy_literal(char* next, const char (&text)[size]) {
    std::memcpy(next, text, size - 1);
    return next + size - 1;
}

// Copies the 64 bytes at `from` to `to` with every 0 byte made a space.
inline void copy_with_zeros_as_spaces_64(char* to, const unsigned char* from) {
#if defined(__SSE2__)
    const __m128i space = _mm_set1_epi8(' ');
    for (int i = 0; i < 64; i += 16) {
        __m128i bytes = _mm_loadu_si128(reinterpret_cast<const __m128i*>(from + i));
        __m128i zeros = _mm_cmpeq_epi8(bytes, _mm_setzero_si128());
        _mm_storeu_si128(reinterpret_cast<__m128i*>(to + i), _mm_or_si128(bytes, _mm_and_si128(zeros, space)));
    }
#else
    for (int i = 0; i < 64; ++i) to[i] = from[i] == 0 ? ' ' : static_cast<char>(from[i]);
#endif
}

// Copies a string that the field reader handed out (at most 255 bytes, and
// at least 32 readable from its start) into a piece at `next`, a short one
// as one fixed block; returns the end of the copy. May store up to 32 bytes.
inline char* copy_field(char* next, std::string_view field) {
    if (field.size() <= 32)
        std::memcpy(next, field.data(), 32);
    else
        std::memcpy(next, field.data(), field.size());
    return next + field.size();
}

constexpr std::size_t output_capacity = 64 * 1024;

// The writer's buffer stands apart from its record, so that the compiler
// knows that text written into it leaves `used` unchanged, and keeps `used`
// in a register from one piece of output to the next.
inline char output_buffer[output_capacity];

struct OutputWriter {
    static constexpr std::size_t capacity = output_capacity;
    // Room kept free at the end so that one small formatted piece (a number,
    // an address) can always be written without a capacity check per digit.
    static constexpr std::size_t piece_reserve = 64;

    std::size_t used = 0;
    std::FILE* sink = nullptr;  // stdout unless a harness redirects it
    // Called before the buffer is written out, while what it holds can still
    // be taken back (an output mode that drops a record cut by a fatal error):
    // returns how many bytes at the end of the buffer to keep back for now.
    // They are written by a later flush; a second flush at once writes all.
    std::size_t (*before_flush)() = nullptr;

    void put(char c) {
        if (used == capacity) flush_buffer();
        output_buffer[used++] = c;
    }
    void put(std::string_view text) {
        if (text.size() <= capacity - used) {
            copy_text(output_buffer + used, text.data(), text.size());
            used += text.size();
        } else {
            put_long(text);
        }
    }
    // A string that the field reader handed out: at least 32 bytes are
    // readable from its start, so a short one is copied as one fixed block
    // rather than by a call sized at run time.
    void put_field(std::string_view text) {
        if (text.size() <= 32 && capacity - used >= 32) {
            std::memcpy(output_buffer + used, text.data(), 32);
            used += text.size();
        } else {
            put(text);
        }
    }
    // "%ld".
    void put_decimal(long value) {
        char* next = begin_piece();
        if (value < 0) {
            *next++ = '-';
            next = digits::write_decimal(next, 0ul - static_cast<unsigned long>(value));
        } else {
            next = digits::write_decimal(next, static_cast<unsigned long>(value));
        }
        end_piece(next);
    }
    // "%05lx (%ld)".
    void put_address(unsigned long value) { end_piece(digits::write_address(begin_piece(), value)); }
    // "%02x " for one byte.
    void put_hex_byte_and_space(unsigned value);

    // Writes the buffer to the sink. A write that fails ends the run with
    // status 2 and a line on standard error.
    void flush_buffer();
    // Writes the buffer and flushes the sink's own buffering too.
    void flush();

    // Room for one piece of at most piece_reserve bytes, written through the
    // pointer returned and closed by end_piece with the end of what was written.
    char* begin_piece() { return begin_piece(piece_reserve); }
    // Room for a larger piece, of at most `size` bytes (at most the capacity).
    char* begin_piece(std::size_t size) {
        while (capacity - used < size) flush_buffer();
        return output_buffer + used;
    }
    void end_piece(char* end) { used = static_cast<std::size_t>(end - output_buffer); }

  private:
    void put_long(std::string_view text);
};

extern OutputWriter out;
