// Answers to lookups: each lookup is read and computed once, into values that
// a text writer or a JSON writer writes, so that the two forms say the same.
// An answer of many rows (the code of a source line, the records of a name)
// is handed to the writer row by row, so that it needs no room of its own.
#pragma once

#include <cstdint>
#include <initializer_list>
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
    // The answer to `lookup` when it cannot be given: one line of `message`
    // parts, or in JSON its "error", closing the list already open when
    // part of the answer went out before it was cut.
    void (*refused)(OutputWriter& out, std::string_view lookup, bool list_open,
                    std::initializer_list<std::string_view> message);
};

// The writer of answers in JSON, or in text.
const AnswerWriter& answer_writer(bool json);

// Where the answer being written stands in the output (counted from the
// first byte written out), so that nothing of it goes out before it is
// whole and can still be taken back; an answer longer than the output
// buffer goes out whole rows at a time. Held by the writer while it lives.
struct AnswerHold final : OutputHold {
    OutputWriter& out;
    OutputHold* const outer;
    bool open = false;
    std::uint64_t start = 0;
    std::uint64_t rows_end = 0;

    explicit AnswerHold(OutputWriter& writer) : out(writer), outer(writer.hold) { out.hold = this; }
    ~AnswerHold() { out.hold = outer; }
    AnswerHold(const AnswerHold&) = delete;
    AnswerHold& operator=(const AnswerHold&) = delete;

    std::uint64_t end() const { return out.written + out.used; }
    void begin() {
        open = true;
        start = rows_end = end();
    }
    bool partly_out() const { return out.written > start; }
    std::size_t keep_back(const char*, std::size_t used) override {
        if (!open) return 0;
        const std::uint64_t kept_from = start > out.written ? start : rows_end;
        return kept_from > out.written ? used - static_cast<std::size_t>(kept_from - out.written) : 0;
    }
};

// Answers one lookup with `writer`; true when it found its answer.
bool answer(DebugFile& file, LookupIndex& index, std::string_view text, const AnswerWriter& writer, AnswerHold& hold);
// Answers `text` as a bad lookup, whatever it reads as (a line cut short).
bool answer_bad(std::string_view text, const AnswerWriter& writer, OutputWriter& out);

}  // namespace lookup
