// JSON Lines output: every line one JSON object. Strings are written so that
// any parser reads back exactly the characters they stand for, whatever bytes
// the debugging file holds, and a record cut by a fatal error is taken back
// whole, so that every line written parses.
#pragma once

#include <cassert>
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <initializer_list>
#include <string_view>
#if defined(__SSE2__)
#include <emmintrin.h>
#endif

#include "output_writer.h"
#include "reader/field_reader.h"

namespace json {

// Room for a string field as a JSON string: its quotes and at most six bytes
// ("\u001b") for each of its bytes.
constexpr std::size_t string_room = 2 + 6 * (string_field_capacity - 1);
// Room for {"file":255,"line":65535,"char":255} and the number writers' overstore.
constexpr std::size_t position_room = 48;

template <std::size_t size>
inline char* put_literal(char* next, const char (&text)[size]) {
    std::memcpy(next, text, size - 1);
    return next + size - 1;
}

// One bit for each of the 32 bytes at `bytes` that a JSON string cannot hold
// as it is: controls, '"', '\\' and DEL, and bytes from 0x80 on, which are
// written as UTF-8 only after a look at their sequence.
inline std::uint32_t special_byte_mask(const unsigned char* bytes) {
#if defined(__SSE2__)
    const __m128i space = _mm_set1_epi8(0x20);
    const __m128i quote = _mm_set1_epi8('"');
    const __m128i backslash = _mm_set1_epi8('\\');
    const __m128i del = _mm_set1_epi8(0x7F);
    auto mask_of = [&](const unsigned char* at) {
        __m128i v = _mm_loadu_si128(reinterpret_cast<const __m128i*>(at));
        // Signed, so bytes from 0x80 on count as below the space too.
        __m128i special = _mm_or_si128(_mm_cmplt_epi8(v, space), _mm_cmpeq_epi8(v, quote));
        special = _mm_or_si128(special, _mm_or_si128(_mm_cmpeq_epi8(v, backslash), _mm_cmpeq_epi8(v, del)));
        return static_cast<std::uint32_t>(_mm_movemask_epi8(special));
    };
    return mask_of(bytes) | mask_of(bytes + 16) << 16;
#else
    std::uint32_t mask = 0;
    for (int i = 0; i < 32; ++i)
        if (bytes[i] < 0x20 || bytes[i] >= 0x7F || bytes[i] == '"' || bytes[i] == '\\') mask |= std::uint32_t{1} << i;
    return mask;
#endif
}

// The contents of a JSON string for `size` bytes, byte by byte: at most six
// bytes written for each.
char* write_string_contents(char* next, const unsigned char* bytes, std::size_t size);

// A string the field reader handed out (32 bytes readable from its start),
// quoted. A short plain name, the usual case, is copied as one block.
inline char* write_field_string(char* next, std::string_view text) {
    const auto* bytes = reinterpret_cast<const unsigned char*>(text.data());
    std::size_t size = text.size();
    *next++ = '"';
    if (size < 32 && (special_byte_mask(bytes) & ((std::uint32_t{1} << size) - 1)) == 0) {
        std::memcpy(next, bytes, 32);
        next += size;
    } else {
        next = write_string_contents(next, bytes, size);
    }
    *next++ = '"';
    return next;
}

inline char* write_position(char* next, LineRef ref) {
    next = put_literal(next, "{\"file\":");
    next = digits::write_byte_decimal(next, static_cast<std::uint8_t>(ref.file));
    next = put_literal(next, ",\"line\":");
    next = digits::write_decimal(next, static_cast<unsigned>(ref.line));
    next = put_literal(next, ",\"char\":");
    next = digits::write_byte_decimal(next, static_cast<std::uint8_t>(ref.character));
    *next++ = '}';
    return next;
}

// The record being written: where its line starts in the output buffer and
// its body in the file. Until the buffer has to be written out in the middle
// of the record, a fatal error takes the line back; before that write, the
// record is first read to its end once, so that a record the file cuts short
// fails before any of it leaves the buffer.
struct OpenRecord {
    bool open;
    bool can_take_back;
    int type;
    std::size_t output_mark;
    std::uint64_t body_offset;
};

extern OpenRecord record;

// Starts the line of a record of `type`, whose type byte has been read, with
// room for `size` bytes. A printer asks for room before it reads the fields it
// writes there, so that no field it holds is moved by a check of the record.
inline char* begin_record(int type, std::size_t size) {
    char* next = out.begin_piece(size);
    record = {true, true, type, out.used, input_offset()};
    return next;
}

// Ends the line begun by begin_record with "}\n".
inline void end_record(char* next) {
    *next++ = '}';
    *next++ = '\n';
    assert(next <= output_buffer + OutputWriter::capacity);
    out.end_piece(next);
    record.open = false;
}

// Makes fatal errors and the writing out of the buffer work as above; called
// once, before anything is written in this mode.
void start_json_output();

// Writes `text` of any length as a quoted JSON string, or only what stands
// between the quotes.
void put_string(std::string_view text);
void put_string_contents(std::string_view text);

// {"kind":"notice","message":"..."} with the parts of the message one after another.
void write_notice(std::initializer_list<std::string_view> message_parts);

}  // namespace json
