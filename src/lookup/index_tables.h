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

// The SequencePoints records of each routine that has more than one, with
// the lowest and highest code offset of their points, so that an address
// reads only those that may hold its point. A record of one offset that an
// earlier record of the routine has as its only offset too is dropped when
// room runs out (the earlier one wins); a routine whose records do not fit
// is searched by a walk from its first record to its last.
constexpr unsigned points_range_capacity = 32 * 1024;
struct PointsRange {
    std::uint32_t record_low;
    std::uint8_t record_high;
    std::uint16_t routine;
    std::uint16_t lowest;
    std::uint16_t highest;
    std::uint64_t record() const { return record_low | std::uint64_t{record_high} << 32; }
};

struct IndexTables {
    RoutinesByStart by_start;
    FileNameSlot file_names[file_name_slots];
    std::uint64_t arena[arena_size];
    LineSummary line_summaries[line_summary_capacity];
    PointsRange points_ranges[points_range_capacity];
    // Of each routine: the code offsets of its first SequencePoints record
    // (lowest | highest << 16), whether its records are in points_ranges, and
    // whether they did not all fit.
    std::uint32_t first_points_range[word_count];
    std::uint8_t points_ranged[word_count];  // 1 in points_ranges, 2 not all there
};

// The hash of a name in the name index, with ASCII letters folded to lower case.
std::uint64_t name_hash(const LookupIndex& index, std::string_view name);
// Sorts the tables for the queries, once, at the first.
void put_in_order(LookupIndex& index);

}  // namespace lookup
