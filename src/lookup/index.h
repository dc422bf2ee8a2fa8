// The lookup index: what one reading of the debugging file learns, so that
// every answer after it reads only the records it needs. Its tables are
// bounded by the format (256 file numbers; routine, object, property,
// attribute, action and array numbers are words, global numbers bytes), and
// the one table the format does not bound, source lines, has a fixed room:
// the records it cannot hold are read when a source line is asked for.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string_view>

#include "reader/field_reader.h"

namespace lookup {

// The kinds of records that bear a name, as lookups name them.
enum class SymbolKind { Class, Object, Global, Attribute, Property, FakeAction, Action, Routine, Array };

struct SourceFile {
    bool declared;
    StringField include_name;
    StringField file_name;
    std::size_t include_name_length;
    std::size_t file_name_length;
};

// Reads the records from the current offset (the first record) to the End
// record and builds the index. Forgets the index of an earlier run first.
void build_index();

// The last File record of each file number.
const SourceFile& source_file(int number);
// Whether the File record of `number` names FILE: by its include name, its
// file name or the last part of its file name (after its last / or \).
bool file_is_named(int number, std::string_view file);

bool has_code_area();
unsigned long code_area_start();

// The first Routine record of each routine number, and the first RoutineEnd
// of that number, wherever it stands.
struct RoutineSpan {
    bool has_start;
    bool has_end;
    unsigned long start;  // code offsets
    unsigned long end;
};
RoutineSpan routine_span(unsigned number);
// The routine holding a code offset: the first, in the order of their Routine
// records, whose code from its start up to its end holds it; -1 when none.
long routine_at(unsigned long code_offset);

// The start position and name of a routine, read from its Routine record.
struct RoutineHead {
    LineRef at;
    StringField name;
    std::size_t name_length;
    std::string_view name_view() const { return {name, name_length}; }
};
// Reads it; the input then stands after the name.
void read_routine_head(unsigned number, RoutineHead& head);

// Offsets of the type bytes of the first and of the last SequencePoints
// record of a routine number; 0 when there is none.
std::uint64_t first_points_record(unsigned routine);
std::uint64_t last_points_record(unsigned routine);

// The SequencePoints records that hold a position in file `file` on line
// `line`, as a range of entries of the line index, in file order. Only the
// records before lines_unindexed_from() are in the index.
struct LineRecords {
    const std::uint64_t* begin;
    const std::uint64_t* end;
};
LineRecords records_with_line(int file, unsigned line);
inline std::uint64_t record_offset_of(std::uint64_t entry) { return entry & ((std::uint64_t{1} << 40) - 1); }
// The offset of the first SequencePoints record that the line index does not
// hold (the index had no more room); UINT64_MAX when it holds them all.
std::uint64_t lines_unindexed_from();

// The records whose names may be `name` (compared with ASCII letters folded
// to lower case), in file order: entries of the name index, whose record
// offsets the caller reads to compare the names.
struct NameRecords {
    const std::uint64_t* begin;
    const std::uint64_t* end;
};
NameRecords records_named(std::string_view name);
// Whether two names are the same with ASCII letters compared case-insensitively.
bool same_name(std::string_view a, std::string_view b);

// The offset of the type byte of the first record of `kind` and `number`
// (not for classes); 0 when there is none.
std::uint64_t record_of(SymbolKind kind, unsigned number);

// Goes on reading at `offset`, which the index found in the file.
void go_to(std::uint64_t offset);
// Ends a walk of the record loop that the caller started: the next record
// it reads is the End record.
void end_record_walk();

}  // namespace lookup
