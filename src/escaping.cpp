#include "escaping.h"

#include <cstring>

namespace {

const unsigned char* bytes_of(std::string_view text) { return reinterpret_cast<const unsigned char*>(text.data()); }

char* write_hex_escape(char* next, unsigned char byte) {
    next[0] = '\\';
    next[1] = 'x';
    return digits::write_hex_pair(next + 2, byte);
}

char* write_unicode_escape(char* next, unsigned code_point) {
    next = copy_literal(next, "\\u");
    next = digits::write_hex_pair(next, code_point >> 8);
    return digits::write_hex_pair(next, code_point & 0xFF);
}

// Length of the well-formed UTF-8 sequence that starts at `bytes` (2 to 4),
// or 0 when none of more than one byte starts there: overlong forms,
// surrogates and code points above U+10FFFF are not well-formed.
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

bool is_plain(std::string_view text, char first, char second) {
    const unsigned char* bytes = bytes_of(text);
    std::size_t i = 0;
    for (; text.size() - i >= 32; i += 32)
        if (escape_candidates(bytes + i, first, second) != 0) return false;
    for (; i < text.size(); ++i)
        if (is_escape_candidate(bytes[i], first, second)) return false;
    return true;
}

char* write_one_line_text(char* next, std::string_view text, bool python_quotes) {
    for (char c : text) {
        const auto byte = static_cast<unsigned char>(c);
        if (byte < 0x20 || byte == 0x7F) {
            next = write_hex_escape(next, byte);
            continue;
        }
        if (python_quotes && (c == '\\' || c == '"')) *next++ = '\\';
        *next++ = c;
    }
    return next;
}

char* write_xml_text(char* next, std::string_view text) {
    const unsigned char* bytes = bytes_of(text);
    for (std::size_t i = 0; i < text.size();) {
        const unsigned char byte = bytes[i];
        std::size_t length = byte >= 0x80 ? utf8_sequence_length(bytes + i, text.size() - i) : 0;
        // XML holds every character but U+FFFE and U+FFFF (EF BF BE, EF BF BF).
        if (length == 3 && byte == 0xEF && bytes[i + 1] == 0xBF && bytes[i + 2] >= 0xBE) length = 0;
        if (length != 0) {
            std::memcpy(next, bytes + i, length);
            next += length;
            i += length;
            continue;
        }
        if (byte < 0x20 || byte >= 0x7F)
            next = write_hex_escape(next, byte);
        else if (byte == '&')
            next = copy_literal(next, "&amp;");
        else if (byte == '<')
            next = copy_literal(next, "&lt;");
        else if (byte == '>')
            next = copy_literal(next, "&gt;");
        else if (byte == '"')
            next = copy_literal(next, "&quot;");
        else
            *next++ = static_cast<char>(byte);
        ++i;
    }
    return next;
}

char* write_json_string_contents(char* next, std::string_view text) {
    const unsigned char* bytes = bytes_of(text);
    const std::size_t size = text.size();
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
        const unsigned byte = bytes[i];
        if (byte >= 0x20 && byte < 0x7F) {
            if (byte == '"' || byte == '\\') *next++ = '\\';
            *next++ = static_cast<char>(byte);
            ++i;
        } else if (byte >= 0x80) {
            const std::size_t length = utf8_sequence_length(bytes + i, size - i);
            // A byte of no well-formed sequence stands for the Latin-1 character of its value.
            const unsigned code_point = length != 0 ? code_point_of(bytes + i, length) : byte;
            if (is_line_separator(code_point)) {
                next = write_unicode_escape(next, code_point);
            } else if (length != 0) {
                std::memcpy(next, bytes + i, length);
                next += length;
            } else {
                *next++ = static_cast<char>(0xC0 | byte >> 6);
                *next++ = static_cast<char>(0x80 | (byte & 0x3F));
            }
            i += length != 0 ? length : 1;
        } else {
            constexpr std::string_view controls = "\n\t\r\b\f", letters = "ntrbf";
            const std::size_t named = controls.find(static_cast<char>(byte));
            if (named != std::string_view::npos) {
                *next++ = '\\';
                *next++ = letters[named];
            } else {
                next = write_unicode_escape(next, byte);
            }
            ++i;
        }
    }
    return next;
}

char* write_python_literal(char* next, std::string_view text, char quote) {
    const unsigned char* bytes = bytes_of(text);
    for (std::size_t i = 0; i < text.size();) {
        const unsigned char byte = bytes[i];
        // A well-formed UTF-8 sequence stands as it is.
        const std::size_t length = byte >= 0x80 ? utf8_sequence_length(bytes + i, text.size() - i) : 0;
        if (length != 0) {
            std::memcpy(next, bytes + i, length);
            next += length;
            i += length;
            continue;
        }
        if (byte < 0x20 || byte >= 0x7F) {
            next = write_hex_escape(next, byte);
        } else {
            if (byte == '\\' || byte == static_cast<unsigned char>(quote)) *next++ = '\\';
            *next++ = static_cast<char>(byte);
        }
        ++i;
    }
    return next;
}
