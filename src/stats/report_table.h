// The size profile's one table shape, in which both reports (one build, and
// the changes since an old one) write every part: a row per entry, a cell
// per column. The text writes a heading line and aligned columns, each as
// wide as its heading or its widest cell; JSON writes `,"member":[{...}]`.
// A column may belong to one form only (a percent to the text, a file
// number to JSON); the page writes the text's tables as HTML tables. Beside
// it, the pieces the report and the picture share.
#pragma once

#include <cassert>
#include <cstdint>
#include <initializer_list>
#include <span>
#include <string_view>

#include "output_pieces.h"
#include "stats/size_changes.h"
#include "stats/size_profile.h"
#include "stats/stats.h"

namespace stats {

// `part` of `total` in tenths of a percent, rounded half up, with integers
// only, so that the report is the same on every machine: "52.3%".
struct Percent {
    std::uint64_t part;
    std::uint64_t total;
    static constexpr std::size_t max_size() { return Number<std::uint64_t>::max_size() + 3; }
    char* write(char* next) const {
        const std::uint64_t tenths = total == 0 ? 0 : (part * 2000 + total) / (2 * total);
        next = Number{tenths / 10}.write(next);
        *next++ = '.';
        *next++ = static_cast<char>('0' + tenths % 10);
        *next = '%';
        return next + 1;
    }
};

// A change with its sign, "+312", "-40", "0"; without the plus in JSON.
struct Change {
    std::int64_t value;
    bool plus = true;
    static constexpr std::size_t max_size() { return 1 + Number<std::uint64_t>::max_size(); }
    char* write(char* next) const {
        *next = value < 0 ? '-' : '+';
        next += value < 0 || (plus && value > 0);
        return Number{magnitude(value)}.write(next);
    }
};

// The name of a file number: its File record's file name, or "file N"
// written into `scratch`.
std::string_view file_path(const GameModel& model, int number, Name& scratch);

// --- Tables ----------------------------------------------------------------------

// What a cell holds, and so how each form writes it.
enum class CellKind : std::uint8_t {
    Empty,     // nothing: a line of text ends before its last empty cells; no JSON member
    Label,     // escaped to one line; in JSON a string, or null where not known
    Number,    // "-" in text and null in JSON where not known
    Change,    // with its sign, but no plus in JSON; "-" in text and null in JSON where not known
    Relative,  // a change relative to `total` with its sign, "+4.2%"; in JSON a number; none where not known
    Address,   // 0x0003c in text, a number in JSON
    Percent,   // of `total`, text only
    Place,     // "path:line", text only
};

// A label or a number, written where they stand, or a cell of another kind.
struct Cell {
    CellKind kind = CellKind::Empty;
    bool known = true;
    std::uint64_t value = 0;
    std::uint64_t total = 0;
    std::string_view text;  // a label, a place's path: at most a field's 255 bytes (4 more in a note)

    Cell() = default;
    Cell(std::string_view label, bool is_known = true) : kind(CellKind::Label), known(is_known), text(label) {}
    Cell(const char* label) : Cell(std::string_view{label}) {}
    Cell(std::uint64_t number, bool is_known = true) : kind(CellKind::Number), known(is_known), value(number) {}
    Cell(CellKind of, std::uint64_t number, std::uint64_t of_total = 0, std::string_view path = {})
        : kind(of), value(number), total(of_total), text(path) {}
};

namespace cell {
inline Cell change(std::int64_t value, bool known = true) {
    Cell change{CellKind::Change, static_cast<std::uint64_t>(value)};
    change.known = known;
    return change;
}
inline Cell relative(std::int64_t change, std::uint64_t old_size, bool known) {
    Cell relative{CellKind::Relative, static_cast<std::uint64_t>(change), old_size};
    relative.known = known;
    return relative;
}
inline Cell address(std::uint32_t value) { return {CellKind::Address, value}; }
inline Cell percent(std::uint64_t part, std::uint64_t total) { return {CellKind::Percent, part, total}; }
inline Cell place(std::string_view path, std::uint32_t line) { return {CellKind::Place, line, 0, path}; }
// A file's path (file_path), null in JSON when no File record names it.
Cell path(const GameModel& model, int number, Name& scratch);
}  // namespace cell

// How the text shows a column, if at all.
enum class Align : std::uint8_t { Right, Left, JsonOnly };

struct Column {
    std::string_view heading;  // the text's: none over notes that end a line
    std::string_view member;   // the JSON row's: none for a column of the text only
    Align align = Align::Right;
};

constexpr std::size_t max_columns = 11;

// A row's cells, one for each column in its order.
using Row = std::initializer_list<Cell>;

// The text's rule: a column is as wide as its heading or its widest cell;
// cells are two spaces apart, and a line ends at its last cell that is not
// empty, unpadded if it is aligned left.
void widen(std::span<const Cell> row, std::size_t* widths);
void put_headings(OutputWriter& out, std::span<const Column> columns, std::size_t* widths);
void put_text_row(OutputWriter& out, std::span<const Column> columns, std::span<const Cell> row,
                  const std::size_t* widths);
void put_json_row(OutputWriter& out, std::span<const Column> columns, std::span<const Cell> row, bool first);

// The page's: a table of the text's columns, each cell as the text writes
// it, escaped as HTML; the text's other lines as they stand, escaped, in a
// block that keeps them (a line may be written in several pieces).
void put_page_headings(OutputWriter& out, std::span<const Column> columns);
void put_page_row(OutputWriter& out, std::span<const Column> columns, std::span<const Cell> row);
void put_page_text(OutputWriter& out, std::string_view text);
// The most a text() call of the report writes, as the page gathers it.
constexpr std::size_t page_lines_capacity = 2048;

// A report being written in text, in JSON or as the tables of a page, which
// hold what the text does: what stands in the text (and the page) only or in
// JSON only is put through text() or json(), whole lines in text().
struct Report {
    OutputWriter& out;
    ReportForm form;

    bool in_text() const { return form != ReportForm::Json; }
    template <typename... Pieces>
    void text(const Pieces&... pieces) const {
        if (form == ReportForm::Text) StreamOutput{out}.put(pieces...);
        if (form == ReportForm::Page) {
            char lines[page_lines_capacity + output_overstore];
            assert((max_size_of(pieces) + ... + 0) <= page_lines_capacity);
            put_page_text(out, {lines, static_cast<std::size_t>(write_pieces(lines, pieces...) - lines)});
        }
    }
    template <typename... Pieces>
    void json(const Pieces&... pieces) const {
        if (form == ReportForm::Json) StreamOutput{out}.put(pieces...);
    }

    // Writes a table whose rows `each_row(visit)` calls `visit(Row)` for, in
    // order: twice in text, measuring the columns first.
    template <typename EachRow>
    void table(std::string_view member, std::span<const Column> columns, EachRow each_row) const {
        if (form == ReportForm::Page) {
            put_page_headings(out, columns);
            each_row([&](Row row) { put_page_row(out, columns, row); });
            return StreamOutput{out}.put("</table>");
        }
        if (!in_text()) {
            json(",\"", Text{member}, "\":[");
            int count = 0;
            each_row([&](Row row) { put_json_row(out, columns, row, count++ == 0); });
            return json(']');
        }
        std::size_t widths[max_columns] = {};
        each_row([&](Row row) { widen(row, widths); });
        put_headings(out, columns, widths);
        each_row([&](Row row) { put_text_row(out, columns, row, widths); });
    }
};

}  // namespace stats
