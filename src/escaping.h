// Escaping of names and paths for the output modes that quote them: which
// bytes a quoted string can hold as they are, and how the others are written
// (JSON strings, Python string literals, XML text, \xNN in one-line texts).
// Each writer writes at `next` and returns the end of what it wrote.
#pragma once

#include <bit>
#include <cstddef>
#include <cstdint>
#include <string_view>
#if defined(__SSE2__)
#include <emmintrin.h>
#endif

#include "output_writer.h"

// Whether a quoted string may have to escape `byte`: not printable ASCII, or
// `first` or `second`. The 0 byte that ends a string field is one.
constexpr bool is_escape_candidate(unsigned char byte, char first, char second) {
    return byte < 0x20 || byte >= 0x7F || byte == static_cast<unsigned char>(first) ||
           byte == static_cast<unsigned char>(second);
}

// One bit for each of the 16 bytes at `bytes` that is_escape_candidate;
// bit i stands for byte i.
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
    for (int i = 0; i < 16; ++i) mask |= std::uint32_t{is_escape_candidate(bytes[i], first, second)} << i;
    return mask;
#endif
}

// The same for the 32 bytes at `bytes`.
inline std::uint32_t escape_candidates(const unsigned char* bytes, char first, char second) {
    return escape_candidates_16(bytes, first, second) | escape_candidates_16(bytes + 16, first, second) << 16;
}

// Whether `text`, a string field (0-terminated, 32 bytes readable from its
// start), is shorter than 32 bytes and has no escape candidate: then it is
// copied as one block, as most names are. Its first candidate is then its
// terminator, found in one look for a name shorter than 16 bytes.
inline bool is_short_plain(std::string_view text, char first, char second) {
    const auto* bytes = reinterpret_cast<const unsigned char*>(text.data());
    std::uint32_t marks = escape_candidates_16(bytes, first, second);
    if (marks == 0) marks = escape_candidates_16(bytes + 16, first, second) << 16;
    return static_cast<std::size_t>(std::countr_zero(marks)) == text.size();
}

// Whether `text` (any length, nothing readable past it) has no escape candidate.
bool is_plain(std::string_view text, char first, char second);

// The most bytes each form writes for a byte: "\xNN", "&quot;", "\u001b", "\xNN".
constexpr std::size_t one_line_bytes_per_byte = 4;
constexpr std::size_t xml_bytes_per_byte = 6;
constexpr std::size_t json_bytes_per_byte = 6;
constexpr std::size_t python_bytes_per_byte = 4;

// Each byte 0x00..0x1F and 0x7F as \xNN, so that a name or a path cannot
// break the line it stands in (an answer, a report, a fatal-error line); with
// `python_quotes`, a backslash before \ and " too, so that it cannot close
// the docstring it stands in.
char* write_one_line_text(char* next, std::string_view text, bool python_quotes);

// XML text that may stand in an attribute too: &, <, > and " as entities;
// control bytes, 0x7F and bytes of no well-formed UTF-8 sequence or of
// U+FFFE and U+FFFF, which XML cannot hold, as \xNN text.
char* write_xml_text(char* next, std::string_view text);

// What stands between the quotes of a JSON string, so that any parser reads
// back the characters the bytes stand for.
char* write_json_string_contents(char* next, std::string_view text);

// What stands between two `quote` characters of a Python string literal that
// denotes exactly these bytes.
char* write_python_literal(char* next, std::string_view text, char quote);

// A string field as a quoted JSON string.
struct JsonString {
    std::string_view text;
    std::size_t max_size() const { return 2 + json_bytes_per_byte * text.size(); }
    char* write(char* next) const {
        *next++ = '"';
        if (is_short_plain(text, '"', '\\'))
            next = copy_field(next, text);
        else
            next = write_json_string_contents(next, text);
        *next = '"';
        return next + 1;
    }
};

// A string field between `quote` characters of a Python literal.
struct PythonText {
    std::string_view text;
    char quote;
    std::size_t max_size() const { return python_bytes_per_byte * text.size(); }
    char* write(char* next) const {
        if (is_short_plain(text, '\\', quote)) return copy_field(next, text);
        return write_python_literal(next, text, quote);
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
        return write_python_literal(next, text, '\'');
    }
};
