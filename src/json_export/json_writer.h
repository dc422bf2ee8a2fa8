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
constexpr std::size_t position_room = 56;

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
    const __m128i one = _mm_set1_epi8(1);
    const __m128i below_space_plus_one = _mm_set1_epi8(0x21);
    const __m128i quote = _mm_set1_epi8('"');
    const __m128i backslash = _mm_set1_epi8('\\');
    auto mask_of = [&](const unsigned char* at) {
        __m128i v = _mm_loadu_si128(reinterpret_cast<const __m128i*>(at));
        // One more than each byte, compared as signed: the controls become
        // 0x01..0x20, and DEL and the bytes from 0x80 on negative numbers,
        // all below 0x21, which no other byte reaches.
        __m128i special = _mm_cmpgt_epi8(below_space_plus_one, _mm_add_epi8(v, one));
        special = _mm_or_si128(special, _mm_or_si128(_mm_cmpeq_epi8(v, quote), _mm_cmpeq_epi8(v, backslash)));
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

// The special bytes of the 64 bytes at `bytes`.
inline std::uint64_t special_byte_mask_64(const unsigned char* bytes) {
    return special_byte_mask(bytes) | std::uint64_t{special_byte_mask(bytes + 32)} << 32;
}

// A short string with no special byte, as found by unmarked_string_ahead
// with special_byte_mask (32 bytes readable from its start), quoted.
inline char* write_plain_string(char* next, std::string_view text) {
    *next = '"';
    std::memcpy(next + 1, text.data(), 32);
    next += 1 + text.size();
    *next++ = '"';
    return next;
}

// The next string field, quoted, found and checked in one look when it is
// short and plain, as most are; read field by field otherwise.
inline char* write_next_string(char* next) {
    const unsigned char* cursor = look_ahead();
    std::string_view text;
    if (unmarked_string_ahead(cursor, text, special_byte_mask)) {
        take_up_to(cursor);
        return write_plain_string(next, text);
    }
    return write_field_string(next, read_string_view());
}

// The parts of a position after `{"file":` that hold a byte.
inline constexpr auto files_then_line = digits::make_byte_parts<16>("", ",\"line\":");
inline constexpr auto characters_then_close = digits::make_byte_parts<16>(",\"char\":", "}");

// A position after the `{"file":` that the caller's member name ends with:
// `F,"line":L,"char":C}`. May store 16 bytes past its end.
inline char* write_position_fields(char* next, LineRef ref) {
    next = digits::copy_byte_part(next, files_then_line.part[static_cast<std::uint8_t>(ref.file)]);
    next = digits::write_word_decimal(next, static_cast<std::uint16_t>(ref.line));
    return digits::copy_byte_part(next, characters_then_close.part[static_cast<std::uint8_t>(ref.character)]);
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
