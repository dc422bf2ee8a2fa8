// Answers to lookups: each lookup is read and computed once, into values that
// a text writer or a JSON writer writes, so that the two forms say the same.
// An answer of many rows (the code of a source line, the records of a name)
// is handed to the writer row by row, so that it needs no room of its own.
#pragma once

#include <cstddef>
#include <string_view>

#include "lookup/index.h"

namespace lookup {

enum class LookupKind { Bad, Address, CodeOffset, Symbol, SourceLine };

struct Lookup {
    std::string_view text;  // as given
    LookupKind kind;
    unsigned long value;  // Address, CodeOffset: as given; Symbol with a kind: the number
    bool by_number;       // Symbol: KIND NUMBER rather than a name
    SymbolKind symbol_kind;
    std::string_view file;  // SourceLine
    unsigned line;
};

// Reads a lookup given as `text` (once the index is built: FILE:LINE:CHAR
// depends on the File records).
Lookup read_lookup(std::string_view text);

struct AddressAnswer {
    bool found;
    bool no_code_area;  // an address given in a file without a code area
    bool below_code_area;
    unsigned long code_offset;  // known unless no_code_area or below_code_area
    unsigned routine;
    unsigned long offset_in_routine;
    LineRef at;
    RoutineHead head;
};

// One sequence point of a source line.
struct CodeRow {
    LineRef at;
    unsigned long code_offset;
    unsigned routine;
    unsigned long offset_in_routine;
    const RoutineHead* head;
};

// One record of a name or number.
struct SymbolRow {
    SymbolKind kind;
    unsigned number;
    std::string_view name;
    bool has_position;
    LineRef at;
    unsigned long code_offset;  // routines
};

// The writers of one output form. A list answer is written as its rows come,
// then closed with whether it had any.
struct AnswerWriter {
    void (*bad)(const Lookup& lookup);
    void (*address)(const Lookup& lookup, const AddressAnswer& answer);
    void (*code_row)(const Lookup& lookup, const CodeRow& row, bool first);
    void (*symbol_row)(const Lookup& lookup, const SymbolRow& row, bool first);
    void (*close_list)(const Lookup& lookup, bool found);
};

extern const AnswerWriter text_answers;
extern const AnswerWriter json_answers;

// Answers one lookup with `writer`; true when it found its answer.
bool answer(std::string_view text, const AnswerWriter& writer);
// Answers `text` as a bad lookup, whatever it reads as (a line cut short).
bool answer_bad(std::string_view text, const AnswerWriter& writer);

}  // namespace lookup
