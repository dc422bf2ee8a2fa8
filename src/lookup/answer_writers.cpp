// The two forms of the answers: text lines and JSON lines. A text answer
// takes a line per row; a JSON answer takes exactly one line.
#include <charconv>
#include <cstdint>

#include "json_export/json_writer.h"
#include "lookup/answers.h"
#include "output_writer.h"

namespace lookup {

namespace {

constexpr std::string_view bad_lookup_advice = ": give an address, +offset or FILE:LINE";
constexpr std::string_view no_code_area_advice = "no code area in the memory map; give +OFFSET";
constexpr std::string_view changed_file = ": debugging file changed and could not be read again: ";

// --- Text ---------------------------------------------------------------------

// Names and paths in a text answer keep it one line: control bytes are
// written as \xNN.
void put_answer_text(std::string_view text) {
    for (char c : text) {
        auto byte = static_cast<unsigned char>(c);
        if (byte >= 0x20 && byte != 0x7F) {
            out.put(c);
            continue;
        }
        char escape[4] = {'\\', 'x', "0123456789abcdef"[byte >> 4], "0123456789abcdef"[byte & 0xF]};
        out.put({escape, 4});
    }
}

void put_hex(unsigned long value) {
    char* next = out.begin_piece();
    *next++ = '0';
    *next++ = 'x';
    out.end_piece(std::to_chars(next, next + 24, value, 16).ptr);
}

// The file name of a file number's File record, or the number.
std::string_view path_of(const GameModel& game, int file, char (&number)[4]) {
    const SourceFileNames& names = game.files[file & 0xFF];
    if (names.declared) return names.file_name.view();
    return {number, static_cast<std::size_t>(std::to_chars(number, number + 4, file).ptr - number)};
}

// PATH:LINE:CHAR and the colon after it.
void put_text_position(const GameModel& game, LineRef at) {
    char number[4];
    put_answer_text(path_of(game, at.file, number));
    out.put(':');
    out.put_decimal(at.line);
    out.put(':');
    out.put_decimal(at.character);
    out.put(": ");
}

// A code address: absolute, or +OFFSET when the file has no code area.
void put_text_code_address(const GameModel& game, unsigned long code_offset) {
    if (!game.has_code_area) {
        out.put('+');
        put_hex(code_offset);
    } else {
        put_hex(game.code_area + code_offset);
    }
}

void put_text_routine(std::string_view name, unsigned number) {
    out.put(" in routine ");
    put_answer_text(name);
    out.put(" (");
    out.put_decimal(number);
    out.put(')');
}

void put_address_as_given(const Lookup& lookup) {
    if (lookup.kind == LookupKind::CodeOffset) out.put('+');
    put_hex(lookup.value);
}

void text_bad(const Lookup& lookup) {
    out.put("Bad lookup ");
    put_answer_text(lookup.text);
    out.put(bad_lookup_advice);
    out.put('\n');
}

void text_address(const GameModel& game, const Lookup& lookup, const AddressAnswer& answer) {
    if (!answer.found) {
        put_address_as_given(lookup);
        if (answer.no_code_area) {
            out.put(": ");
            out.put(no_code_area_advice);
        } else {
            out.put(": not in any routine");
        }
        out.put('\n');
        return;
    }
    put_text_position(game, answer.at);
    put_address_as_given(lookup);
    out.put(" is");
    put_text_routine(answer.routine.name.view(), answer.routine.number);
    out.put(", ");
    out.put_decimal(static_cast<long>(answer.offset_in_routine));
    out.put(" bytes in\n");
}

void text_code_row(const GameModel& game, const Lookup&, const CodeRow& row, bool) {
    put_text_position(game, row.at);
    if (row.routine == nullptr) {
        out.put("routine ");
        out.put_decimal(row.routine_number);
        out.put(", ");
        out.put_decimal(row.offset_in_routine);
        out.put(" bytes in\n");
        return;
    }
    put_text_code_address(game, row.code_offset);
    put_text_routine(row.routine->name.view(), row.routine->number);
    out.put('\n');
}

void text_symbol_row(const GameModel& game, const Lookup&, const FoundSymbol& row, bool) {
    const SymbolRecord& symbol = row.symbol;
    if (symbol.has_position) put_text_position(game, symbol.start);
    out.put(record_kinds[symbol.type].json_kind);
    if (symbol.type != Class) {
        out.put(' ');
        out.put_decimal(symbol.number);
    }
    out.put(" \"");
    put_answer_text(symbol.name.view());
    out.put('"');
    if (symbol.type == Routine) {
        out.put(" at ");
        put_text_code_address(game, row.code_offset);
    }
    out.put('\n');
}

void text_close_list(const Lookup& lookup, bool found) {
    if (found) return;
    put_answer_text(lookup.text);
    out.put(lookup.kind == LookupKind::SourceLine ? ": no code\n" : ": not found\n");
}

void text_unreadable(std::string_view, std::string_view path, std::string_view reason) {
    put_answer_text(path);
    out.put(changed_file);
    put_answer_text(reason);
    out.put('\n');
}

// --- JSON -----------------------------------------------------------------------

void put_json_number(std::string_view member, unsigned long value) {
    out.put(',');
    out.put('"');
    out.put(member);
    out.put("\":");
    out.put_decimal(static_cast<long>(value));
}

void open_json_answer(const Lookup& lookup, bool found) {
    out.put("{\"kind\":\"lookup\",\"lookup\":");
    json::put_string(lookup.text);
    out.put(found ? ",\"found\":true" : ",\"found\":false");
}

void put_json_position(const GameModel& game, LineRef at) {
    char number[4];
    put_json_number("file", static_cast<unsigned>(at.file));
    out.put(",\"path\":");
    json::put_string(path_of(game, at.file, number));
    put_json_number("line", static_cast<unsigned>(at.line));
    put_json_number("char", static_cast<unsigned>(at.character));
}

void put_json_routine(std::string_view name, unsigned number) {
    out.put(",\"routine\":");
    json::put_string(name);
    put_json_number("routine_number", number);
}

// "address" (when the file has a code area) and "code_offset", the members
// opening an object.
void open_json_code(const GameModel& game, unsigned long code_offset) {
    out.put('{');
    if (game.has_code_area) {
        out.put("\"address\":");
        out.put_decimal(static_cast<long>(game.code_area + code_offset));
        out.put(',');
    }
    out.put("\"code_offset\":");
    out.put_decimal(static_cast<long>(code_offset));
}

void json_bad(const Lookup& lookup) {
    open_json_answer(lookup, false);
    out.put(",\"error\":\"Bad lookup ");
    json::put_string_contents(lookup.text);
    json::put_string_contents(bad_lookup_advice);
    out.put("\"}\n");
}

void json_address(const GameModel& game, const Lookup& lookup, const AddressAnswer& answer) {
    open_json_answer(lookup, answer.found);
    if (game.has_code_area)
        put_json_number("address", lookup.kind == LookupKind::Address ? lookup.value : game.code_area + lookup.value);
    if (!answer.no_code_area && !answer.below_code_area) put_json_number("code_offset", answer.code_offset);
    if (answer.no_code_area) {
        out.put(",\"error\":\"");
        json::put_string_contents(no_code_area_advice);
        out.put("\"");
    }
    if (answer.found) {
        put_json_position(game, answer.at);
        put_json_routine(answer.routine.name.view(), answer.routine.number);
        put_json_number("offset_in_routine", answer.offset_in_routine);
    }
    out.put("}\n");
}

void open_json_list(const Lookup& lookup, bool first, std::string_view member) {
    if (!first) {
        out.put(',');
        return;
    }
    open_json_answer(lookup, true);
    out.put(member);
}

void json_code_row(const GameModel& game, const Lookup& lookup, const CodeRow& row, bool first) {
    open_json_list(lookup, first, ",\"code\":[");
    if (row.routine == nullptr) {
        out.put("{\"routine\":null");
        put_json_number("routine_number", row.routine_number);
    } else {
        open_json_code(game, row.code_offset);
        put_json_routine(row.routine->name.view(), row.routine->number);
    }
    put_json_number("offset_in_routine", row.offset_in_routine);
    put_json_position(game, row.at);
    out.put('}');
}

void json_symbol_row(const GameModel& game, const Lookup& lookup, const FoundSymbol& row, bool first) {
    const SymbolRecord& symbol = row.symbol;
    open_json_list(lookup, first, ",\"symbols\":[");
    out.put("{\"kind\":\"");
    out.put(record_kinds[symbol.type].json_kind);
    out.put('"');
    if (symbol.type != Class) put_json_number("number", symbol.number);
    out.put(",\"name\":");
    json::put_string(symbol.name.view());
    if (symbol.has_position) put_json_position(game, symbol.start);
    if (symbol.type == Routine) {
        if (game.has_code_area) put_json_number("address", game.code_area + row.code_offset);
        put_json_number("code_offset", row.code_offset);
    }
    out.put('}');
}

void json_close_list(const Lookup& lookup, bool found) {
    if (found) {
        out.put("]}\n");
        return;
    }
    open_json_answer(lookup, false);
    out.put("}\n");
}

void json_unreadable(std::string_view lookup, std::string_view path, std::string_view reason) {
    out.put("{\"kind\":\"lookup\",\"lookup\":");
    json::put_string(lookup);
    out.put(",\"found\":false,\"error\":\"");
    json::put_string_contents(path);
    json::put_string_contents(changed_file);
    json::put_string_contents(reason);
    out.put("\"}\n");
}

}  // namespace

const AnswerWriter text_answers = {text_bad,        text_address,    text_code_row,
                                   text_symbol_row, text_close_list, text_unreadable};
const AnswerWriter json_answers = {json_bad,        json_address,    json_code_row,
                                   json_symbol_row, json_close_list, json_unreadable};

}  // namespace lookup
