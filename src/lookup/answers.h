// Answers to lookups: each lookup is read and computed once, into values that
// a text writer or a JSON writer writes, so that the two forms say the same.
// An answer of many rows (the code of a source line, the records of a name)
// is handed to the writer row by row, so that it needs no room of its own.
#pragma once

#include <string_view>

#include "lookup/index.h"
#include "output_writer.h"

namespace lookup {

enum class LookupKind { Bad, Address, CodeOffset, Symbol, SourceLine };

struct Lookup {
    std::string_view text;  // as given
    LookupKind kind;
    unsigned long value;  // Address, CodeOffset: as given; Symbol with a kind: the number
    bool by_number;       // Symbol: KIND NUMBER rather than a name
    RecordType symbol_type;
    std::string_view file;  // SourceLine
    unsigned line;
};

struct AddressAnswer {
    bool found;
    bool no_code_area;  // an address given in a file without a code area
    bool below_code_area;
    std::uint32_t code_offset;  // known unless no_code_area or below_code_area
    std::uint32_t offset_in_routine;
    LineRef at;
    RoutineStart routine;
};

// One sequence point of a source line; its code offset is known when its
// routine's Routine record is there.
struct CodeRow {
    LineRef at;
    std::uint32_t code_offset;
    std::uint32_t offset_in_routine;
    unsigned routine_number;
    const RoutineStart* routine;  // nullptr when there is none
};

// The writers of one output form, over the model whose files and code area
// the answers name. A list answer is written as its rows come, then closed
// with whether it had any.
struct AnswerWriter {
    void (*bad)(OutputWriter& out, const Lookup& lookup);
    void (*address)(OutputWriter& out, const GameModel& game, const Lookup& lookup, const AddressAnswer& answer);
    void (*code_row)(OutputWriter& out, const GameModel& game, const Lookup& lookup, const CodeRow& row, bool first);
    void (*symbol_row)(OutputWriter& out, const GameModel& game, const Lookup& lookup, const FoundSymbol& row,
                       bool first);
    // A FILE:LINE lookup that found no code may name the next line that has
    // some (0: none).
    void (*close_list)(OutputWriter& out, const Lookup& lookup, bool found, unsigned next_line);
    // The answer to `lookup` when the file changed and could not be read again.
    void (*unreadable)(OutputWriter& out, std::string_view lookup, std::string_view path, std::string_view reason);
};

extern const AnswerWriter text_answers;
extern const AnswerWriter json_answers;

// Answers one lookup with `writer`; true when it found its answer.
bool answer(DebugFile& file, LookupIndex& index, std::string_view text, const AnswerWriter& writer, OutputWriter& out);
// Answers `text` as a bad lookup, whatever it reads as (a line cut short).
bool answer_bad(std::string_view text, const AnswerWriter& writer, OutputWriter& out);

}  // namespace lookup
