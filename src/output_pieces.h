// The pieces of the lines that are not records (answers to lookups, the size
// profile, messages). A piece over a text of any length writes it in parts
// when it is long (put_in_parts), so that no put asks for more room than the
// output buffer has.
#pragma once

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <string_view>

#include "escaping.h"
#include "number_format.h"
#include "output_writer.h"

// A text of any length with each byte 0x00..0x1F and 0x7F written as \xNN;
// with `python_quotes`, a backslash before \ and " too (write_one_line_text).
struct Escaped {
    std::string_view text;
    bool python_quotes = false;
    std::size_t max_size() const { return one_line_bytes_per_byte * text.size(); }
    char* write(char* next) const { return write_one_line_text(next, text, python_quotes); }
    template <typename Out>
    void put_in_parts(Out& o) const {
        for (std::size_t at = 0; at < text.size(); at += text_part_size)
            o.put(Escaped{text.substr(at, text_part_size), python_quotes});
    }
};

// "0x" and the lower-case hexadecimal digits of `value`, at least
// `least_digits` of them: "0x6bc0" ("%#lx" but for 0), or "0x0003c" with 5.
struct Hex {
    unsigned long value;
    int least_digits = 1;
    std::size_t max_size() const { return 2 + std::max<std::size_t>(2 * sizeof value, least_digits); }
    char* write(char* next) const { return digits::write_hex(copy_literal(next, "0x"), value, least_digits); }
};

// A member of a JSON object with a number value: `,"name":123`, or without
// the comma when `first`. The name is written as it stands.
struct JsonMember {
    std::string_view name;
    std::uint64_t value;
    bool first = false;
    std::size_t max_size() const { return sizeof ",\"\":" - 1 + name.size() + Number<std::uint64_t>::max_size(); }
    char* write(char* next) const {
        *next = ',';
        return write_pieces(next + !first, '"', Text{name}, "\":", Number{value});
    }
};

// What stands between the quotes of a JSON string for a text of any length
// (nothing readable past it), so that any parser reads back its characters.
struct JsonContents {
    std::string_view text;
    std::size_t max_size() const { return json_bytes_per_byte * text.size(); }
    char* write(char* next) const { return write_json_string_contents(next, text); }
    // Parts end only between characters, so that no UTF-8 sequence is split.
    template <typename Out>
    void put_in_parts(Out& o) const {
        const auto* bytes = reinterpret_cast<const unsigned char*>(text.data());
        for (std::size_t at = 0; at < text.size();) {
            std::size_t end = text.size() - at <= text_part_size ? text.size() : at + text_part_size;
            while (end < text.size() && (bytes[end] & 0xC0) == 0x80 && end - at < text_part_size + 3) ++end;
            o.put(JsonContents{text.substr(at, end - at)});
            at = end;
        }
    }
};

// A quoted JSON string for a text of any length.
struct JsonText {
    std::string_view text;
    std::size_t max_size() const { return 2 + JsonContents{text}.max_size(); }
    char* write(char* next) const { return write_pieces(next, '"', JsonContents{text}, '"'); }
    template <typename Out>
    void put_in_parts(Out& o) const {
        o.put('"', JsonContents{text}, '"');
    }
};

// A name or a path (at most a field's 255 bytes) as XML text (write_xml_text).
struct XmlText {
    std::string_view text;
    std::size_t max_size() const { return xml_bytes_per_byte * text.size(); }
    char* write(char* next) const { return write_xml_text(next, text); }
};

// The JSON value null.
struct JsonNull {
    static constexpr std::size_t max_size() { return 4; }
    char* write(char* next) const { return copy_literal(next, "null"); }
};

// A cell of a text table: `piece` padded with spaces to `width` output bytes
// (widths measured as written, escapes included), on its right or its left.
template <typename Piece, bool padded_on_left>
struct AlignedCell {
    Piece piece;
    std::size_t width;
    std::size_t max_size() const { return std::max(width, max_size_of(piece)); }
    char* write(char* next) const {
        char* end = write_piece(next, piece);
        const auto size = static_cast<std::size_t>(end - next);
        if (size >= width) return end;
        if (padded_on_left) std::memmove(next + (width - size), next, size);
        std::memset(padded_on_left ? next : end, ' ', width - size);
        return next + width;
    }
};
template <typename Piece>
using LeftAligned = AlignedCell<Piece, false>;
template <typename Piece>
using RightAligned = AlignedCell<Piece, true>;

// The version line of the text forms (the listing, Python's docstring, the
// size profile).
struct VersionLine {
    std::uint8_t major;
    std::uint8_t minor;
    std::uint16_t revision;
    static constexpr std::size_t max_size() { return 64; }
    char* write(char* next) const {
        return write_pieces(next, "Debugging file from Ostrel ", Number{major}, '.', Number{minor}, " (v ",
                            Number{revision}, ")\n");
    }
};
