// The lookup index: the game model of one reading of the debugging file,
// and beside it what only lookups need, so that every answer after it reads
// only the records it names. The one table the format does not bound,
// source lines, has a fixed room: the records it cannot hold are read when
// a source line is asked for.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string_view>

#include "reader/game_model.h"

namespace lookup {

struct IndexTables;

struct LookupIndex {
    GameModel* model = nullptr;
    IndexTables* tables = nullptr;
    std::size_t line_count = 0;
    std::size_t name_count = 0;
    // The first SequencePoints record that the line index does not hold (it
    // had no more room); ~0 when it holds them all. The records from there
    // on are summarized, each summary standing for `records_per_summary`.
    std::uint64_t lines_unindexed_from = ~std::uint64_t{0};
    unsigned line_summary_count = 0;
    unsigned records_per_summary = 1;
    unsigned records_in_last_summary = 0;
    std::uint64_t last_summarized_record = 0;
    unsigned points_run_count = 0;
    // Drawn for each reading, so that no file can be written whose names
    // share one hash.
    std::uint64_t hash_seed = 0;
    // The tables are put in the order that answers search them when the
    // first answer needs them, so that the reading itself does no more than read.
    bool in_order = false;

    LookupIndex() = default;
    LookupIndex(const LookupIndex&) = delete;
    LookupIndex& operator=(const LookupIndex&) = delete;
    ~LookupIndex();
};

// Thrown by a query when a record it reads is not the one the index holds
// there: the file changed after the index was built.
struct IndexStale {};

// Reads the records from the version numbers to the End record into the
// index, forgetting what it held before.
void build_index(DebugFile& file, LookupIndex& index);

// The file numbers whose File record names FILE: by its include name, its
// file name or the last part of its file name; one bit per number.
struct FileSet {
    std::uint64_t bits[4];
    bool has(int file) const { return (bits[(file & 0xFF) / 64] >> (file % 64)) & 1; }
    bool empty() const { return (bits[0] | bits[1] | bits[2] | bits[3]) == 0; }
};
FileSet files_named(const LookupIndex& index, std::string_view file);

// The routine holding a code offset (see routine_at in game_model.h); -1 when none.
long routine_holding(LookupIndex& index, std::uint32_t code_offset);
// Reads the first Routine record of `number`, which the model holds.
void read_routine_of(DebugFile& file, const LookupIndex& index, unsigned number, RoutineStart& routine);

// Of a routine's sequence points, the one with the greatest offset not above
// `offset_in_routine` (the first of equal ones); false when there is none.
bool point_of_offset(DebugFile& file, const LookupIndex& index, unsigned routine, unsigned offset_in_routine,
                     SequencePointEntry& point);

// A sequence point on a source line, with its routine's Routine record
// (none when the routine number has no Routine record).
struct PointOnLine {
    SequencePointEntry point;
    unsigned routine_number;
    const RoutineStart* routine;
};
using PointVisit = void (*)(void* answer, const PointOnLine& found);
// Visits, in file order, each sequence point on `line` in one of `files`.
void for_each_point_on_line(DebugFile& file, LookupIndex& index, const FileSet& files, unsigned line, PointVisit visit,
                            void* answer);

// The first line after `line` on which a sequence point of one of `files`
// stands; 0 when there is none.
unsigned next_line_with_code(DebugFile& file, LookupIndex& index, const FileSet& files, unsigned line);

// A record that bears a name: a symbol record, or a routine's, whose code
// offset then stands beside it.
struct FoundSymbol {
    SymbolRecord symbol;
    std::uint32_t code_offset;
};
// Whether two names are the same with ASCII letters compared case-insensitively.
bool same_name(std::string_view a, std::string_view b);

using SymbolVisit = void (*)(void* answer, const FoundSymbol& found);
// Visits, in file order, each record that counts named `name`, with ASCII
// letters compared case-insensitively.
void for_each_symbol_named(DebugFile& file, LookupIndex& index, std::string_view name, SymbolVisit visit, void* answer);
// Reads the first record of `type` and `number` (not a class); false when there is none.
bool read_symbol_of(DebugFile& file, const LookupIndex& index, RecordType type, unsigned number, FoundSymbol& found);

}  // namespace lookup
