// The tables that lookups keep beside the game model, shared by the reading
// that fills them (index.cpp) and the queries that search them (queries.cpp).
// Their room is fixed, about 9 MiB, so that with the model (about 5 MiB)
// peak memory stays below 16 MiB whatever the file holds.
#pragma once

#include <cstddef>
#include <cstdint>

#include "lookup/index.h"

namespace lookup {

constexpr std::uint64_t offset_mask = largest_record_offset;
constexpr std::uint64_t no_offset = ~std::uint64_t{0};

// Line entries (file << 56 | line << 40 | record offset) from the bottom,
// name entries (24-bit name hash << 40 | record offset) from the top.
constexpr std::size_t arena_size = 960 * 1024;

// The names of the File records, each entered under its hash: a FILE of a
// lookup is found with one probe or two, whatever the number of files.
constexpr unsigned file_name_slots = 1024;  // three names for each of 256 numbers, and room
struct FileNameSlot {
    std::uint32_t hash;
    std::uint16_t file;  // number + 1; 0 for an empty slot
    std::uint8_t which;  // 0 include name, 1 file name, 2 its last part
};

// A run of SequencePoints records beyond the line index, from `record` up
// to the next summary's: the file of their points (or many) and their
// lowest and highest line, so that a line is looked for only in the runs
// that may hold it. A run is one record until the room runs out; then
// neighbours are merged.
constexpr unsigned line_summary_capacity = 32 * 1024;
struct LineSummary {
    std::uint32_t record_low;
    std::uint8_t record_high;
    std::uint8_t file;
    bool many_files;
    std::uint16_t lowest;
    std::uint16_t highest;
    std::uint64_t record() const { return record_low | std::uint64_t{record_high} << 32; }
};

// The SequencePoints records of the routines that have more than one, in
// runs: records of one routine that follow one another among its records,
// from `first` to `last` (with others' records between), and the lowest and
// highest code offset of their points, so that an address reads only the
// runs that may hold its point. A run is one record while there is room;
// when it runs out, the runs of the routines that have the most are merged,
// two into one, so that every routine keeps its share, and a routine left
// with one run has none: its records are read from its first to its last.
constexpr unsigned points_run_capacity = 32 * 1024;
struct PointsRun {
    std::uint32_t first_low, last_low;
    std::uint8_t first_high, last_high;
    std::uint16_t routine;
    std::uint16_t lowest, highest;
    std::uint64_t first() const { return first_low | std::uint64_t{first_high} << 32; }
    std::uint64_t last() const { return last_low | std::uint64_t{last_high} << 32; }
};

struct IndexTables {
    RoutinesByStart by_start;
    FileNameSlot file_names[file_name_slots];
    std::uint64_t arena[arena_size];
    LineSummary line_summaries[line_summary_capacity];
    PointsRun points_runs[points_run_capacity];
    // Of each routine: the code offsets of all its points (lowest | highest
    // << 16), how many SequencePoints records it has (3 standing for more),
    // and whether its runs are in points_runs.
    std::uint32_t points_range[word_count];
    std::uint8_t points_records[word_count];
    bool has_runs[word_count];
};

// The hash of a name in the name index, with ASCII letters folded to lower case.
std::uint64_t name_hash(const LookupIndex& index, std::string_view name);
// Sorts the tables for the queries, once, at the first.
void put_in_order(LookupIndex& index);

// A SequencePoints record of `routine` whose points span `range` (lowest |
// highest << 16), noted before the model learns it: the routine's last
// record is then the one before.
void note_points_range(LookupIndex& index, std::uint64_t record, unsigned routine, std::uint32_t range);
// The runs for the queries: by routine, then in file order.
void put_runs_in_order(LookupIndex& index);

}  // namespace lookup
