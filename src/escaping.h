// Escaping of names and paths for the output modes that quote them: which
// bytes a quoted string can hold as they are, and how the others are written
// (JSON strings, Python string literals, \xNN in one-line messages).
#pragma once

#include <bit>
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <string_view>
#if defined(__SSE2__)
#include <emmintrin.h>
#endif

#include "number_format.h"
#include "output_writer.h"

// One bit for each of the 16 bytes at `bytes` that is not printable ASCII
// (below 0x20, 0x7F and above) or is `first` or `second`: the bytes that a
// quoted string may have to escape, and the 0 byte that ends a string field.
// Bit i stands for byte i.
inline std::uint32_t escape_candidates_16(const unsigned char* bytes, char first, char second) {
#if defined(__SSE2__)
    __m128i text = _mm_loadu_si128(reinterpret_cast<const __m128i*>(bytes));
    // One more than each byte, compared as signed: the controls become
    // 0x01..0x20, and 0x7F and the bytes from 0x80 on negative numbers, all
    // below 0x21, which no other byte reaches.
    __m128i marks = _mm_cmpgt_epi8(_mm_set1_epi8(0x21), _mm_add_epi8(text, _mm_set1_epi8(1)));
    marks = _mm_or_si128(marks, _mm_cmpeq_epi8(text, _mm_set1_epi8(first)));
    marks = _mm_or_si128(marks, _mm_cmpeq_epi8(text, _mm_set1_epi8(second)));
    return static_cast<std::uint32_t>(_mm_movemask_epi8(marks));
#else
    std::uint32_t mask = 0;
    for (int i = 0; i < 16; ++i)
        if (bytes[i] < 0x20 || bytes[i] >= 0x7F || bytes[i] == static_cast<unsigned char>(first) ||
            bytes[i] == static_cast<unsigned char>(second))
            mask |= std::uint32_t{1} << i;
    return mask;
#endif
}

// The same for the 32 bytes at `bytes`.
inline std::uint32_t escape_candidates(const unsigned char* bytes, char first, char second) {
    return escape_candidates_16(bytes, first, second) | escape_candidates_16(bytes + 16, first, second) << 16;
}

// Whether `text`, a string field (0-terminated, with 32 bytes readable from
// its start), is shorter than 32 bytes and holds no byte that
// escape_candidates marks: then it is copied as one block, as most names
// are. Its first mark is then its terminator, found in one look for a name
// shorter than 16 bytes.
inline bool is_short_plain(std::string_view text, char first, char second) {
    const auto* bytes = reinterpret_cast<const unsigned char*>(text.data());
    std::uint32_t marks = escape_candidates_16(bytes, first, second);
    if (marks == 0) marks = escape_candidates_16(bytes + 16, first, second) << 16;
    return static_cast<std::size_t>(std::countr_zero(marks)) == text.size();
}

// Whether no byte of `text` (of any length, nothing readable past it) is one
// that escape_candidates marks.
bool is_plain(std::string_view text, char first, char second);

// "\xNN" for one byte.
inline char* write_hex_escape(char* next, unsigned char byte) {
    next[0] = '\\';
    next[1] = 'x';
    return digits::write_hex_pair(next + 2, byte);
}

// --- Texts kept to one line -----------------------------------------------------

// At most four bytes ("\xNN") are written for a byte of a one-line text.
constexpr std::size_t one_line_bytes_per_byte = 4;

// `size` bytes with each byte 0x00..0x1F and 0x7F written as \xNN, so that a
// name or a path cannot break the line it stands in (an answer, a report, a
// fatal-error line); with `python_quotes`, a backslash before \ and " too, so
// that it cannot close the docstring it stands in. Other bytes pass unchanged.
char* write_one_line_text(char* next, const unsigned char* bytes, std::size_t size, bool python_quotes);

// How many bytes write_one_line_text writes for `text` without python_quotes:
// its width in a column of a text report.
std::size_t one_line_width(std::string_view text);

// Length of the well-formed UTF-8 sequence that starts at `bytes` (2 to 4),
// or 0 when no well-formed sequence of more than one byte starts there:
// overlong forms, surrogates and code points above U+10FFFF are not.
std::size_t utf8_sequence_length(const unsigned char* bytes, std::size_t available);

// --- JSON strings -------------------------------------------------------------

// At most six bytes ("\u001b") are written for a byte of a JSON string.
constexpr std::size_t json_bytes_per_byte = 6;

// What stands between the quotes of a JSON string for `size` bytes, so that
// any parser reads back the characters they stand for.
char* write_json_string_contents(char* next, const unsigned char* bytes, std::size_t size);

// A string field as a quoted JSON string.
struct JsonString {
    std::string_view text;
    std::size_t max_size() const { return 2 + json_bytes_per_byte * text.size(); }
    char* write(char* next) const {
        *next++ = '"';
        if (is_short_plain(text, '"', '\\'))
            next = copy_field(next, text);
        else
            next = write_json_string_contents(next, reinterpret_cast<const unsigned char*>(text.data()), text.size());
        *next = '"';
        return next + 1;
    }
};

// --- Python string literals -------------------------------------------------

// At most four bytes ("\xNN") are written for a byte of a Python literal.
constexpr std::size_t python_bytes_per_byte = 4;

// What stands between two `quote` characters for a Python string literal
// that denotes exactly these bytes.
char* write_python_literal(char* next, const unsigned char* bytes, std::size_t size, char quote);

// A string field (or a StringField) between `quote` characters of a Python literal.
struct PythonText {
    std::string_view text;
    char quote;
    std::size_t max_size() const { return python_bytes_per_byte * text.size(); }
    char* write(char* next) const {
        if (is_short_plain(text, '\\', quote)) return copy_field(next, text);
        return write_python_literal(next, reinterpret_cast<const unsigned char*>(text.data()), text.size(), quote);
    }
};

// A text with nothing readable past it (a path of the source-file table)
// between single quotes of a Python literal; `plain` when it is known to need
// no escape.
struct PythonPath {
    std::string_view text;
    bool plain;
    std::size_t max_size() const { return python_bytes_per_byte * text.size(); }
    char* write(char* next) const {
        if (plain) return Text{text}.write(next);
        return write_python_literal(next, reinterpret_cast<const unsigned char*>(text.data()), text.size(), '\'');
    }
};
