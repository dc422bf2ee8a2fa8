#include "escaping.h"

bool is_plain(std::string_view text, char first, char second) {
    const auto* bytes = reinterpret_cast<const unsigned char*>(text.data());
    std::size_t size = text.size();
    std::size_t i = 0;
    for (; size - i >= 32; i += 32)
        if (escape_candidates(bytes + i, first, second) != 0) return false;
    for (; i < size; ++i)
        if (bytes[i] < 0x20 || bytes[i] >= 0x7F || bytes[i] == static_cast<unsigned char>(first) ||
            bytes[i] == static_cast<unsigned char>(second))
            return false;
    return true;
}

char* write_one_line_text(char* next, const unsigned char* bytes, std::size_t size, bool python_quotes) {
    for (std::size_t i = 0; i < size; ++i) {
        unsigned char byte = bytes[i];
        if (byte < 0x20 || byte == 0x7F) {
            next = write_hex_escape(next, byte);
            continue;
        }
        if (python_quotes && (byte == '\\' || byte == '"')) *next++ = '\\';
        *next++ = static_cast<char>(byte);
    }
    return next;
}

std::size_t one_line_width(std::string_view text) {
    std::size_t width = text.size();
    for (char c : text)
        if (static_cast<unsigned char>(c) < 0x20 || c == 0x7F) width += 3;
    return width;
}

std::size_t utf8_sequence_length(const unsigned char* bytes, std::size_t available) {
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

namespace {

char* write_unicode_escape(char* next, unsigned code_point) {
    next = copy_literal(next, "\\u");
    next = digits::write_hex_pair(next, code_point >> 8);
    return digits::write_hex_pair(next, code_point & 0xFF);
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

}  // namespace

char* write_json_string_contents(char* next, const unsigned char* bytes, std::size_t size) {
    for (std::size_t i = 0; i < size;) {
        // While 32 bytes are left, the bytes up to the next special one are
        // copied in one block. The block may write past them, but no further
        // than the rest of the string will be written.
        if (size - i >= 32) {
            std::uint32_t special = escape_candidates(bytes + i, '"', '\\');
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
                next = copy_literal(next, "\\n");
                break;
            case '\t':
                next = copy_literal(next, "\\t");
                break;
            case '\r':
                next = copy_literal(next, "\\r");
                break;
            case '\b':
                next = copy_literal(next, "\\b");
                break;
            case '\f':
                next = copy_literal(next, "\\f");
                break;
            default:
                next = write_unicode_escape(next, byte);
                break;
        }
        ++i;
    }
    return next;
}

char* write_python_literal(char* next, const unsigned char* bytes, std::size_t size, char quote) {
    const auto quote_byte = static_cast<unsigned char>(quote);
    std::size_t i = 0;
    while (i < size) {
        unsigned char byte = bytes[i];
        if (byte >= 0x20 && byte < 0x7F && byte != '\\' && byte != quote_byte) {
            *next++ = static_cast<char>(byte);
            ++i;
            continue;
        }
        if (byte >= 0x80) {
            // A well-formed UTF-8 sequence stands as it is.
            std::size_t length = utf8_sequence_length(bytes + i, size - i);
            if (length != 0) {
                std::memcpy(next, bytes + i, length);
                next += length;
                i += length;
                continue;
            }
        }
        if (byte == '\\' || byte == quote_byte) {
            *next++ = '\\';
            *next++ = static_cast<char>(byte);
        } else {
            next = write_hex_escape(next, byte);
        }
        ++i;
    }
    return next;
}
