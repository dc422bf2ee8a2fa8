#include "stats/report_table.h"

#include <algorithm>
#include <cassert>

namespace stats {

namespace {

// A cell as JSON or the text writes it.
template <bool json>
struct CellPiece {
    Cell cell;
    std::size_t max_size() const { return json_bytes_per_byte * cell.text.size() + 32; }
    char* write(char* next) const {
        switch (cell.kind) {
            case CellKind::Empty:
                return next;
            case CellKind::Label:
                if (json) return cell.known ? JsonText{cell.text}.write(next) : JsonNull{}.write(next);
                return Escaped{cell.text}.write(next);
            case CellKind::Number:
                if (cell.known) return Number{cell.value}.write(next);
                return json ? JsonNull{}.write(next) : write_piece(next, '-');
            case CellKind::Change:
                if (!cell.known) return json ? JsonNull{}.write(next) : write_piece(next, '-');
                return Change{static_cast<std::int64_t>(cell.value), !json}.write(next);
            case CellKind::Relative: {
                if (!cell.known) return json ? JsonNull{}.write(next) : next;
                // The sign of Change, then the digits of Percent, without its "%" in JSON.
                const auto change = static_cast<std::int64_t>(cell.value);
                *next = change < 0 ? '-' : '+';
                next += change < 0 || !json;
                next = Percent{magnitude(change), cell.total}.write(next);
                return json ? next - 1 : next;
            }
            case CellKind::Address:
                return json ? Number{cell.value}.write(next) : Hex{cell.value, 5}.write(next);
            case CellKind::Percent:
                return Percent{cell.value, cell.total}.write(next);
            case CellKind::Place:
                break;
        }
        return Number{cell.value}.write(write_piece(Escaped{cell.text}.write(next), ':'));
    }
};

// Room for a cell as the text writes it.
constexpr std::size_t cell_text_room = json_bytes_per_byte * string_field_capacity + 64 + output_overstore;

// A cell as the text writes it, escaped for a page.
struct PageCell {
    Cell cell;
    std::size_t max_size() const { return xml_bytes_per_byte * CellPiece<false>{cell}.max_size(); }
    char* write(char* next) const {
        char text[cell_text_room];
        assert((CellPiece<false>{cell}.max_size() <= sizeof text - output_overstore));
        return write_xml_text(next, {text, static_cast<std::size_t>(CellPiece<false>{cell}.write(text) - text)});
    }
};

// A row of the page's table, of headings or of cells.
void put_page_cells(OutputWriter& out, std::span<const Column> columns, std::span<const Cell> row, bool headings) {
    StreamOutput o{out};
    o.put("<tr>");
    for (std::size_t c = 0; c < columns.size(); ++c) {
        if (columns[c].align == Align::JsonOnly) continue;
        o.put(headings ? Text{"<th"} : Text{"<td"},
              columns[c].align == Align::Right ? Text{" class=\"r\">"} : Text{">"}, PageCell{row[c]},
              headings ? Text{"</th>"} : Text{"</td>"});
    }
    o.put("</tr>\n");
}

}  // namespace

std::string_view file_path(const GameModel& model, int number, Name& scratch) {
    const SourceFileNames& file = model.files[number];
    if (file.declared) return file.file_name.view();
    // The compiler's own routines stand on file 255 and the built-ins on
    // file 0, neither with a File record; another number is unknown.
    if (number == 255) return "(compiler's own routines)";
    if (number == 0) return "(built-ins)";
    ReservedOutput o{scratch.text};
    o.put("?? (file ", Number{static_cast<std::uint8_t>(number)}, ')');
    scratch.size = static_cast<std::uint8_t>(o.next - scratch.text);
    return scratch.view();
}

Cell cell::path(const GameModel& model, int number, Name& scratch) {
    return {file_path(model, number, scratch), model.files[number].declared};
}

void widen(std::span<const Cell> row, std::size_t* widths) {
    char scratch[cell_text_room];
    for (std::size_t c = 0; c < row.size(); ++c) {
        assert((CellPiece<false>{row[c]}.max_size() <= sizeof scratch - output_overstore));
        widths[c] = std::max(widths[c], static_cast<std::size_t>(CellPiece<false>{row[c]}.write(scratch) - scratch));
    }
}

void put_headings(OutputWriter& out, std::span<const Column> columns, std::size_t* widths) {
    Cell headings[max_columns];
    for (std::size_t c = 0; c < columns.size(); ++c)
        if (!columns[c].heading.empty()) headings[c] = columns[c].heading;
    widen({headings, columns.size()}, widths);
    put_text_row(out, columns, {headings, columns.size()}, widths);
}

void put_text_row(OutputWriter& out, std::span<const Column> columns, std::span<const Cell> row,
                  const std::size_t* widths) {
    std::size_t end = columns.size();
    while (end > 0 && (columns[end - 1].align == Align::JsonOnly || row[end - 1].kind == CellKind::Empty)) --end;
    StreamOutput o{out};
    const char* gap = "";
    for (std::size_t c = 0; c < end; ++c) {
        const CellPiece<false> cell{row[c]};
        if (columns[c].align == Align::Right)
            o.put(Text{gap}, RightAligned<CellPiece<false>>{cell, widths[c]});
        else if (columns[c].align == Align::Left)
            o.put(Text{gap}, LeftAligned<CellPiece<false>>{cell, c + 1 == end ? 0 : widths[c]});
        gap = columns[c].align == Align::JsonOnly ? gap : "  ";
    }
    o.put('\n');
}

void put_page_headings(OutputWriter& out, std::span<const Column> columns) {
    Cell headings[max_columns];
    for (std::size_t c = 0; c < columns.size(); ++c) headings[c] = columns[c].heading;
    StreamOutput{out}.put("<table>\n");
    put_page_cells(out, columns, {headings, columns.size()}, true);
}

void put_page_row(OutputWriter& out, std::span<const Column> columns, std::span<const Cell> row) {
    put_page_cells(out, columns, row, false);
}

void put_page_text(OutputWriter& out, std::string_view text) {
    for (std::size_t end; (end = text.find('\n')) != std::string_view::npos; text.remove_prefix(end + 1))
        StreamOutput{out}.put(XmlText{text.substr(0, end)}, '\n');
    StreamOutput{out}.put(XmlText{text});
}

void put_json_row(OutputWriter& out, std::span<const Column> columns, std::span<const Cell> row, bool first) {
    // One put for the row: one room asked for, not one a member.
    struct JsonRow {
        std::span<const Column> columns;
        std::span<const Cell> row;
        bool first;
        std::size_t max_size() const {
            std::size_t size = 3;
            for (std::size_t c = 0; c < columns.size(); ++c)
                size += 4 + columns[c].member.size() + CellPiece<true>{row[c]}.max_size();
            return size;
        }
        char* write(char* next) const {
            *next = ',';
            next += !first;
            char opening = '{';
            for (std::size_t c = 0; c < columns.size(); ++c) {
                if (columns[c].member.empty() || row[c].kind == CellKind::Empty) continue;
                *next++ = opening;
                *next++ = '"';
                next = copy_literal(Text{columns[c].member}.write(next), "\":");
                next = CellPiece<true>{row[c]}.write(next);
                opening = ',';
            }
            *next = '}';
            return next + 1;
        }
    };
    StreamOutput{out}.put(JsonRow{columns, row, first});
}

}  // namespace stats
