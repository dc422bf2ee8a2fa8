// The two forms of the answers: text lines and JSON lines, written with the
// pieces of every output. A text answer takes a line per row, its names and
// paths kept to one line; a JSON answer takes exactly one line.
#include "lookup/answers.h"
#include "output_pieces.h"

namespace lookup {

namespace {

constexpr std::string_view bad_lookup_advice = ": give an address, +offset, FILE:LINE, NAME or KIND NUMBER";
constexpr std::string_view no_code_area_advice = "no code area in the memory map; give +OFFSET";

// The file name of a file number's File record; empty for a number without one.
std::string_view path_of(const GameModel& game, int file) {
    const SourceFileNames& names = game.files[file & 0xFF];
    return names.declared ? names.file_name.view() : std::string_view{};
}

// --- Text ---------------------------------------------------------------------

// PATH:LINE:CHAR and the colon after it.
void put_text_position(OutputWriter& out, const GameModel& game, LineRef at) {
    StreamOutput o{out};
    // A file that no File record names (the compiler's own routines, the
    // built-ins) is written as symbolizers write an unknown source, so that
    // no parser takes its number for a path.
    if (game.files[at.file & 0xFF].declared)
        o.put(Escaped{path_of(game, at.file)});
    else
        o.put("??");
    o.put(':', Number{static_cast<unsigned>(at.line)}, ':', Number{static_cast<unsigned>(at.character)}, ": ");
}

// A code address: absolute, or +OFFSET when the file has no code area.
void put_text_code_address(OutputWriter& out, const GameModel& game, std::uint32_t code_offset) {
    if (game.has_code_area)
        StreamOutput{out}.put(Hex{game.code_area + code_offset});
    else
        StreamOutput{out}.put('+', Hex{code_offset});
}

void put_text_routine(OutputWriter& out, const RoutineStart& routine) {
    StreamOutput{out}.put(" in routine ", Escaped{routine.name.view()}, " (", Number{routine.number}, ')');
}

void put_address_as_given(OutputWriter& out, const Lookup& lookup) {
    if (lookup.kind == LookupKind::CodeOffset)
        StreamOutput{out}.put('+', Hex{lookup.value});
    else
        StreamOutput{out}.put(Hex{lookup.value});
}

void text_bad(OutputWriter& out, const Lookup& lookup) {
    StreamOutput{out}.put("Bad lookup ", Escaped{lookup.text}, Text{bad_lookup_advice}, '\n');
}

void text_address(OutputWriter& out, const GameModel& game, const Lookup& lookup, const AddressAnswer& answer) {
    if (!answer.found) {
        put_address_as_given(out, lookup);
        if (answer.no_code_area)
            StreamOutput{out}.put(": ", Text{no_code_area_advice}, '\n');
        else
            StreamOutput{out}.put(": not in any routine\n");
        return;
    }
    put_text_position(out, game, answer.at);
    put_address_as_given(out, lookup);
    StreamOutput{out}.put(" is");
    put_text_routine(out, answer.routine);
    StreamOutput{out}.put(", ", Number{answer.offset_in_routine}, " bytes in\n");
}

void text_code_row(OutputWriter& out, const GameModel& game, const Lookup&, const CodeRow& row, bool) {
    put_text_position(out, game, row.at);
    if (row.routine == nullptr) {
        StreamOutput{out}.put("routine ", Number{row.routine_number}, ", ", Number{row.offset_in_routine},
                              " bytes in\n");
        return;
    }
    put_text_code_address(out, game, row.code_offset);
    put_text_routine(out, *row.routine);
    StreamOutput{out}.put('\n');
}

void text_symbol_row(OutputWriter& out, const GameModel& game, const Lookup&, const FoundSymbol& row, bool) {
    const SymbolRecord& symbol = row.symbol;
    if (symbol.has_position) put_text_position(out, game, symbol.start);
    StreamOutput o{out};
    o.put(Text{record_kinds[symbol.type].json_kind});
    if (symbol.type != Class) o.put(' ', Number{symbol.number});
    o.put(" \"", Escaped{symbol.name.view()}, '"');
    if (symbol.type == Routine) {
        o.put(" at ");
        put_text_code_address(out, game, row.code_offset);
    }
    o.put('\n');
}

void text_close_list(OutputWriter& out, const Lookup& lookup, bool found, unsigned next_line) {
    if (found) return;
    StreamOutput o{out};
    o.put(Escaped{lookup.text}, Text{lookup.kind == LookupKind::SourceLine ? ": no code" : ": not found"});
    if (next_line != 0) o.put("; next code on line ", Number{static_cast<std::uint16_t>(next_line)});
    o.put('\n');
}

void text_refused(OutputWriter& out, std::string_view, bool, std::initializer_list<std::string_view> message) {
    for (std::string_view part : message) StreamOutput{out}.put(Escaped{part});
    StreamOutput{out}.put('\n');
}

// --- JSON -----------------------------------------------------------------------

void open_json_answer(OutputWriter& out, std::string_view lookup, bool found) {
    StreamOutput{out}.put("{\"kind\":\"lookup\",\"lookup\":", JsonText{lookup},
                          found ? Text{",\"found\":true"} : Text{",\"found\":false"});
}

void put_json_position(OutputWriter& out, const GameModel& game, LineRef at) {
    StreamOutput o{out};
    o.put(JsonMember{"file", static_cast<unsigned>(at.file)}, ",\"path\":");
    if (game.files[at.file & 0xFF].declared)
        o.put(JsonText{path_of(game, at.file)});
    else
        o.put(JsonNull{});  // as the size profile has it: no file to open
    o.put(JsonMember{"line", static_cast<unsigned>(at.line)}, JsonMember{"char", static_cast<unsigned>(at.character)});
}

void put_json_routine(OutputWriter& out, const RoutineStart& routine) {
    StreamOutput{out}.put(",\"routine\":", JsonText{routine.name.view()}, JsonMember{"routine_number", routine.number});
}

// "address" (when the file has a code area) and "code_offset", the members
// opening an object.
void open_json_code(OutputWriter& out, const GameModel& game, std::uint32_t code_offset) {
    StreamOutput o{out};
    o.put('{');
    if (game.has_code_area) o.put(JsonMember{"address", game.code_area + code_offset, true}, ',');
    o.put(JsonMember{"code_offset", code_offset, true});
}

void json_bad(OutputWriter& out, const Lookup& lookup) {
    open_json_answer(out, lookup.text, false);
    StreamOutput{out}.put(",\"error\":\"Bad lookup ", JsonContents{lookup.text}, JsonContents{bad_lookup_advice},
                          "\"}\n");
}

void json_address(OutputWriter& out, const GameModel& game, const Lookup& lookup, const AddressAnswer& answer) {
    open_json_answer(out, lookup.text, answer.found);
    StreamOutput o{out};
    if (game.has_code_area)
        o.put(JsonMember{"address", lookup.kind == LookupKind::Address ? lookup.value : game.code_area + lookup.value});
    if (!answer.no_code_area && !answer.below_code_area) o.put(JsonMember{"code_offset", answer.code_offset});
    if (answer.no_code_area) o.put(",\"error\":\"", JsonContents{no_code_area_advice}, '"');
    if (answer.found) {
        put_json_position(out, game, answer.at);
        put_json_routine(out, answer.routine);
        o.put(JsonMember{"offset_in_routine", answer.offset_in_routine});
    }
    o.put("}\n");
}

void open_json_list(OutputWriter& out, const Lookup& lookup, bool first, std::string_view member) {
    if (!first) {
        StreamOutput{out}.put(',');
        return;
    }
    open_json_answer(out, lookup.text, true);
    StreamOutput{out}.put(Text{member});
}

void json_code_row(OutputWriter& out, const GameModel& game, const Lookup& lookup, const CodeRow& row, bool first) {
    open_json_list(out, lookup, first, ",\"code\":[");
    if (row.routine == nullptr) {
        StreamOutput{out}.put("{\"routine\":", JsonNull{}, JsonMember{"routine_number", row.routine_number});
    } else {
        open_json_code(out, game, row.code_offset);
        put_json_routine(out, *row.routine);
    }
    StreamOutput{out}.put(JsonMember{"offset_in_routine", row.offset_in_routine});
    put_json_position(out, game, row.at);
    StreamOutput{out}.put('}');
}

void json_symbol_row(OutputWriter& out, const GameModel& game, const Lookup& lookup, const FoundSymbol& row,
                     bool first) {
    const SymbolRecord& symbol = row.symbol;
    open_json_list(out, lookup, first, ",\"symbols\":[");
    StreamOutput o{out};
    o.put("{\"kind\":\"", Text{record_kinds[symbol.type].json_kind}, '"');
    if (symbol.type != Class) o.put(JsonMember{"number", symbol.number});
    o.put(",\"name\":", JsonText{symbol.name.view()});
    if (symbol.has_position) put_json_position(out, game, symbol.start);
    if (symbol.type == Routine) {
        if (game.has_code_area) o.put(JsonMember{"address", game.code_area + row.code_offset});
        o.put(JsonMember{"code_offset", row.code_offset});
    }
    o.put('}');
}

void json_close_list(OutputWriter& out, const Lookup& lookup, bool found, unsigned next_line) {
    if (!found) open_json_answer(out, lookup.text, false);
    if (next_line != 0) StreamOutput{out}.put(JsonMember{"next_line", next_line});
    StreamOutput{out}.put(Text{found ? "]}\n" : "}\n"});
}

void json_refused(OutputWriter& out, std::string_view lookup, bool list_open,
                  std::initializer_list<std::string_view> message) {
    if (list_open)
        StreamOutput{out}.put(']');
    else
        open_json_answer(out, lookup, false);
    StreamOutput{out}.put(",\"error\":\"");
    for (std::string_view part : message) StreamOutput{out}.put(JsonContents{part});
    StreamOutput{out}.put("\"}\n");
}

constexpr AnswerWriter text_answers = {text_bad,        text_address,    text_code_row,
                                       text_symbol_row, text_close_list, text_refused};
constexpr AnswerWriter json_answers = {json_bad,        json_address,    json_code_row,
                                       json_symbol_row, json_close_list, json_refused};

}  // namespace

const AnswerWriter& answer_writer(bool json) { return json ? json_answers : text_answers; }

}  // namespace lookup
