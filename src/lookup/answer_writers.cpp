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

constexpr std::string_view kind_words[] = {"class",       "object", "global",  "attribute", "property",
                                           "fake_action", "action", "routine", "array"};

std::string_view word_of(SymbolKind kind) { return kind_words[static_cast<int>(kind)]; }

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
std::string_view path_of(int file, char (&number)[4]) {
    const SourceFile& names = source_file(file);
    if (names.declared) return {names.file_name, names.file_name_length};
    return {number, static_cast<std::size_t>(std::to_chars(number, number + 4, file).ptr - number)};
}

// PATH:LINE:CHAR and the colon after it.
void put_text_position(LineRef at) {
    char number[4];
    put_answer_text(path_of(at.file, number));
    out.put(':');
    out.put_decimal(at.line);
    out.put(':');
    out.put_decimal(at.character);
    out.put(": ");
}

// A code address: absolute, or +OFFSET when the file has no code area.
void put_text_code_address(unsigned long code_offset) {
    if (!has_code_area()) {
        out.put('+');
        put_hex(code_offset);
    } else {
        put_hex(code_area_start() + code_offset);
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

void text_address(const Lookup& lookup, const AddressAnswer& answer) {
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
    put_text_position(answer.at);
    put_address_as_given(lookup);
    out.put(" is");
    put_text_routine(answer.head.name_view(), answer.routine);
    out.put(", ");
    out.put_decimal(static_cast<long>(answer.offset_in_routine));
    out.put(" bytes in\n");
}

void text_code_row(const Lookup&, const CodeRow& row, bool) {
    put_text_position(row.at);
    put_text_code_address(row.code_offset);
    put_text_routine(row.head->name_view(), row.routine);
    out.put('\n');
}

void text_symbol_row(const Lookup&, const SymbolRow& row, bool) {
    if (row.has_position) put_text_position(row.at);
    out.put(word_of(row.kind));
    if (row.kind != SymbolKind::Class) {
        out.put(' ');
        out.put_decimal(row.number);
    }
    out.put(" \"");
    put_answer_text(row.name);
    out.put('"');
    if (row.kind == SymbolKind::Routine) {
        out.put(" at ");
        put_text_code_address(row.code_offset);
    }
    out.put('\n');
}

void text_close_list(const Lookup& lookup, bool found) {
    if (found) return;
    put_answer_text(lookup.text);
    out.put(lookup.kind == LookupKind::SourceLine ? ": no code\n" : ": not found\n");
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

void put_json_position(LineRef at) {
    char number[4];
    put_json_number("file", static_cast<unsigned>(at.file));
    out.put(",\"path\":");
    json::put_string(path_of(at.file, number));
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
void open_json_code(unsigned long code_offset) {
    out.put('{');
    if (has_code_area()) {
        out.put("\"address\":");
        out.put_decimal(static_cast<long>(code_area_start() + code_offset));
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

void json_address(const Lookup& lookup, const AddressAnswer& answer) {
    open_json_answer(lookup, answer.found);
    if (has_code_area())
        put_json_number("address",
                        lookup.kind == LookupKind::Address ? lookup.value : code_area_start() + lookup.value);
    if (!answer.no_code_area && !answer.below_code_area) put_json_number("code_offset", answer.code_offset);
    if (answer.no_code_area) {
        out.put(",\"error\":\"");
        json::put_string_contents(no_code_area_advice);
        out.put("\"");
    }
    if (answer.found) {
        put_json_position(answer.at);
        put_json_routine(answer.head.name_view(), answer.routine);
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

void json_code_row(const Lookup& lookup, const CodeRow& row, bool first) {
    open_json_list(lookup, first, ",\"code\":[");
    open_json_code(row.code_offset);
    put_json_routine(row.head->name_view(), row.routine);
    put_json_number("offset_in_routine", row.offset_in_routine);
    put_json_position(row.at);
    out.put('}');
}

void json_symbol_row(const Lookup& lookup, const SymbolRow& row, bool first) {
    open_json_list(lookup, first, ",\"symbols\":[");
    out.put("{\"kind\":\"");
    out.put(word_of(row.kind));
    out.put('"');
    if (row.kind != SymbolKind::Class) put_json_number("number", row.number);
    out.put(",\"name\":");
    json::put_string(row.name);
    if (row.has_position) put_json_position(row.at);
    if (row.kind == SymbolKind::Routine) {
        if (has_code_area()) put_json_number("address", code_area_start() + row.code_offset);
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

}  // namespace

const AnswerWriter text_answers = {text_bad, text_address, text_code_row, text_symbol_row, text_close_list};
const AnswerWriter json_answers = {json_bad, json_address, json_code_row, json_symbol_row, json_close_list};

}  // namespace lookup
