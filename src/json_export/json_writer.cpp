#include "json_export/json_writer.h"

#include <bit>
#include <cstring>

#include "reader/records.h"
#include "text_encoding.h"

namespace json {

OpenRecord record;

namespace {

char* write_unicode_escape(char* next, unsigned code_point) {
    constexpr char hex[] = "0123456789abcdef";
    next = put_literal(next, "\\u");
    for (int shift = 12; shift >= 0; shift -= 4) *next++ = hex[(code_point >> shift) & 0xF];
    return next;
}

// The code point of a well-formed sequence of `length` bytes.
unsigned code_point_of(const unsigned char* bytes, std::size_t length) {
    unsigned value = bytes[0] & (0x7F >> length);
    for (std::size_t i = 1; i < length; ++i) value = value << 6 | (bytes[i] & 0x3F);
    return value;
}

// Line separators that some readers of text split lines at (as Python's
// str.splitlines does) are escaped, so that a record stays one line for them too.
bool is_line_separator(unsigned code_point) {
    return code_point == 0x85 || code_point == 0x2028 || code_point == 0x2029;
}

// Before the buffer is written out in the middle of a record: the lines
// before the record's go out, and the record's line so far is kept back, so
// that a fatal error can still take it back. When that line alone fills the
// buffer, the record is read once to its end, from its first byte, before it
// goes out: a record that the file cuts short ends the run here, while its
// line can still be taken back. A file that cannot be read again (a pipe) is
// not checked.
std::size_t hold_open_record() {
    if (!record.open || !record.can_take_back) return 0;
    if (record.output_mark != 0) {
        std::size_t line_so_far = out.used - record.output_mark;
        record.output_mark = 0;
        return line_so_far;
    }
    std::uint64_t resume_offset = input_offset();
    if (input_is_seekable() && seek_input(record.body_offset)) {
        skip_record(record.type);
        seek_input(resume_offset);
    }
    record.can_take_back = false;
    return 0;
}

void write_fatal_error_line(std::string_view message, std::string_view path) {
    if (record.open) {
        if (record.can_take_back)
            out.used = record.output_mark;
        else
            out.put('\n');  // the record's line is out already; the fatal line still stands alone
        record.open = false;
    }
    out.put("{\"kind\":\"fatal_error\",\"message\":\"");
    put_string_contents(message);
    if (path.data() != nullptr) {  // the message as "MESSAGE \"PATH\""
        put_string_contents(" \"");
        put_string_contents(path);
        put_string_contents("\"");
    }
    out.put("\"}\n");
}

}  // namespace

char* write_string_contents(char* next, const unsigned char* bytes, std::size_t size) {
    for (std::size_t i = 0; i < size;) {
        // While 32 bytes are left, the bytes up to the next special one are
        // copied in one block. The block may write past them, but no further
        // than the rest of the string will be written.
        if (size - i >= 32) {
            std::uint32_t special = special_byte_mask(bytes + i);
            std::memcpy(next, bytes + i, 32);
            auto plain = static_cast<std::size_t>(std::countr_zero(special));
            next += plain;
            i += plain;
            if (plain == 32) continue;
        }
        unsigned byte = bytes[i];
        if (byte >= 0x20 && byte < 0x7F) {
            if (byte == '"' || byte == '\\') *next++ = '\\';
            *next++ = static_cast<char>(byte);
            ++i;
            continue;
        }
        if (byte >= 0x80) {
            std::size_t length = utf8_sequence_length(bytes + i, size - i);
            if (length != 0) {
                unsigned code_point = code_point_of(bytes + i, length);
                if (is_line_separator(code_point)) {
                    next = write_unicode_escape(next, code_point);
                } else {
                    std::memcpy(next, bytes + i, length);
                    next += length;
                }
                i += length;
                continue;
            }
            // Any other byte stands for the Latin-1 character of its value.
            if (is_line_separator(byte)) {
                next = write_unicode_escape(next, byte);
            } else {
                *next++ = static_cast<char>(0xC0 | byte >> 6);
                *next++ = static_cast<char>(0x80 | (byte & 0x3F));
            }
            ++i;
            continue;
        }
        switch (byte) {
            case '\n':
                next = put_literal(next, "\\n");
                break;
            case '\t':
                next = put_literal(next, "\\t");
                break;
            case '\r':
                next = put_literal(next, "\\r");
                break;
            case '\b':
                next = put_literal(next, "\\b");
                break;
            case '\f':
                next = put_literal(next, "\\f");
                break;
            default:
                next = write_unicode_escape(next, byte);
                break;
        }
        ++i;
    }
    return next;
}

void put_string_contents(std::string_view text) {
    const auto* bytes = reinterpret_cast<const unsigned char*>(text.data());
    // Pieces end only between characters, so that no sequence is split.
    constexpr std::size_t piece_bytes = 1024;
    for (std::size_t i = 0; i < text.size();) {
        std::size_t end = text.size() - i <= piece_bytes ? text.size() : i + piece_bytes;
        while (end < text.size() && (bytes[end] & 0xC0) == 0x80 && end - i < piece_bytes + 3) ++end;
        char* next = out.begin_piece(6 * (end - i) + 8);
        out.end_piece(write_string_contents(next, bytes + i, end - i));
        i = end;
    }
}

void put_string(std::string_view text) {
    out.put('"');
    put_string_contents(text);
    out.put('"');
}

void write_notice(std::initializer_list<std::string_view> message_parts) {
    out.put("{\"kind\":\"notice\",\"message\":\"");
    for (std::string_view part : message_parts) put_string_contents(part);
    out.put("\"}\n");
}

void start_json_output() {
    out.before_flush = hold_open_record;
    fatal_error_writer = write_fatal_error_line;
}

}  // namespace json
