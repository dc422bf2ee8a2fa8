// The pieces of the size profile's reports (the report, the changes since
// an old build, the picture): cells measured before they are written, so
// that text columns are aligned, the lines every report begins with, and
// JSON members.
#pragma once

#include <algorithm>
#include <charconv>
#include <cstdint>
#include <string_view>

#include "escaping.h"
#include "json_export/json_writer.h"
#include "output_writer.h"
#include "record_kinds.h"
#include "stats/size_profile.h"

namespace stats {

// A number or a short text, formatted to be measured before it is written.
struct Cell {
    char text[32];
    int size;
    std::string_view view() const { return {text, static_cast<std::size_t>(size)}; }
};

inline Cell decimal_cell(std::uint64_t value) {
    Cell cell;
    cell.size = static_cast<int>(std::to_chars(cell.text, cell.text + sizeof cell.text, value).ptr - cell.text);
    return cell;
}

// A change with its sign: "+312", "-40", "0".
inline Cell change_cell(std::int64_t change) {
    Cell cell;
    cell.text[0] = change < 0 ? '-' : '+';
    const std::uint64_t magnitude = change < 0 ? 0 - static_cast<std::uint64_t>(change) : change;
    cell.size = static_cast<int>(std::to_chars(cell.text + (change != 0), cell.text + sizeof cell.text, magnitude).ptr -
                                 cell.text);
    return cell;
}

inline Cell text_cell(std::string_view text) {
    Cell cell;
    text.copy(cell.text, sizeof cell.text);
    cell.size = static_cast<int>(std::min(text.size(), sizeof cell.text));
    return cell;
}

// "0x" and at least five hexadecimal digits, as the listing writes addresses.
inline Cell address_cell(unsigned long address) {
    Cell cell;
    char digits[16];
    int size = static_cast<int>(std::to_chars(digits, digits + sizeof digits, address, 16).ptr - digits);
    cell.text[0] = '0';
    cell.text[1] = 'x';
    cell.size = 2;
    for (int zeros = 5 - size; zeros > 0; --zeros) cell.text[cell.size++] = '0';
    for (int i = 0; i < size; ++i) cell.text[cell.size++] = digits[i];
    return cell;
}

// `part` of `total` in tenths of a percent, rounded half up, with integers
// only, so that the report is the same on every machine: "52.3%".
inline Cell percent_cell(std::uint64_t part, std::uint64_t total) {
    std::uint64_t tenths = total == 0 ? 0 : (part * 2000 + total) / (2 * total);
    Cell cell = decimal_cell(tenths / 10);
    cell.text[cell.size++] = '.';
    cell.text[cell.size++] = static_cast<char>('0' + tenths % 10);
    cell.text[cell.size++] = '%';
    return cell;
}

inline bool is_control(unsigned char byte) { return byte < 0x20 || byte == 0x7F; }

// Names and paths keep their line whole: a control byte is written as \xNN.
inline int text_width(std::string_view text) {
    int width = static_cast<int>(text.size());
    for (char c : text)
        if (is_control(static_cast<unsigned char>(c))) width += 3;
    return width;
}

inline void put_text(std::string_view text) {
    for (char c : text) {
        auto byte = static_cast<unsigned char>(c);
        if (!is_control(byte)) {
            out.put(c);
            continue;
        }
        out.end_piece(write_hex_escape(out.begin_piece(), byte));
    }
}

inline void put_spaces(int count) {
    for (; count > 0; --count) out.put(' ');
}

// A left-aligned first column, padded to `width`.
inline void put_left(std::string_view text, int width) {
    put_text(text);
    put_spaces(width - text_width(text));
}

// A right-aligned column, two spaces after the one before it.
inline void put_right(const Cell& cell, int width) {
    put_spaces(2 + width - cell.size);
    out.put(cell.view());
}

inline int widest(int width, const Cell& cell) { return std::max(width, cell.size); }

// The name of a file number: its File record's file name, or "file N".
inline std::string_view file_path(const GameModel& model, int number, Cell& scratch) {
    const SourceFileNames& file = model.files[number];
    if (file.declared) return file.file_name.view();
    scratch = text_cell("file ");
    scratch.size = static_cast<int>(std::to_chars(scratch.text + 5, scratch.text + sizeof scratch.text, number).ptr -
                                    scratch.text);
    return scratch.view();
}

inline void print_version_line(const GameModel& model) {
    out.put("Debugging file from Ostrel ");
    out.put_decimal(model.version_major);
    out.put('.');
    out.put_decimal(model.version_minor);
    out.put(" (v ");
    out.put_decimal(model.version_revision);
    out.put(")\n");
}

// Calls `visit(name, tally)` for each record kind present, in type order.
template <typename Visit>
void for_each_record_kind(const GameModel& model, Visit visit) {
    for (int type = 1; type <= last_record_type; ++type)
        if (model.records[type].count != 0) visit(record_kinds[type].json_kind, model.records[type]);
    if (model.unknown_types.count != 0) visit(unknown_kind_label, model.unknown_types);
}

// "Story file: ..." after `label`, the line of the story's size.
inline void print_story(const StorySize& story, std::string_view label = "Story file") {
    out.put(label);
    if (!story.known) {
        out.put(": size unknown (no version 1 to 8 in the header)\n");
        return;
    }
    out.put(": version ");
    out.put_decimal(story.version);
    out.put(", ");
    out.put_decimal(story.bytes);
    out.put(" bytes of ");
    out.put_decimal(story.limit);
    out.put(" (");
    out.put(percent_cell(story.bytes, story.limit).view());
    out.put("), ");
    out.put_decimal(story.limit - story.bytes);
    out.put(" bytes left\n");
}

inline void put_member(std::string_view name, std::uint64_t value) {
    out.put('"');
    out.put(name);
    out.put("\":");
    out.put_decimal(static_cast<long>(value));
}

// A story member's value: {"version","bytes","limit"} or null.
inline void put_json_story(const StorySize& story) {
    if (!story.known) {
        out.put("null");
        return;
    }
    out.put('{');
    put_member("version", story.version);
    out.put(',');
    put_member("bytes", story.bytes);
    out.put(',');
    put_member("limit", story.limit);
    out.put('}');
}

}  // namespace stats
