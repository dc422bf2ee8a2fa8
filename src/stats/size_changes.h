// What changed from one build's size profile to another's: rows matched by
// name, each with its old and new bytes, for the text and JSON report of
// -diff=OLD and for the picture's colours. Routines are matched by the
// hashes of their keys; their names are read again when their rows are shown.
#pragma once

#include <cstdint>
#include <memory>
#include <string_view>

#include "stats/size_profile.h"

inline std::uint64_t magnitude(std::int64_t change) {
    return change < 0 ? 0 - static_cast<std::uint64_t>(change) : static_cast<std::uint64_t>(change);
}

struct SizeRow {
    std::string_view name;
    bool in_old;
    bool in_new;
    std::uint64_t old_bytes;
    std::uint64_t new_bytes;
    std::int64_t change() const { return static_cast<std::int64_t>(new_bytes - old_bytes); }
};

// The changed rows of one part, largest change first (ties by name).
struct SizeRows {
    SizeRow* rows;
    int count;
};

// A changed routine, of the new build when it is there, else of the old.
struct RoutineRow {
    std::uint32_t old_bytes;
    std::uint32_t new_bytes;
    std::uint16_t number;
    bool in_old;
    bool in_new;
    std::int64_t change() const { return std::int64_t{new_bytes} - old_bytes; }
};

// Every changed row of the sections (by name; none when a map's sizes are
// unknown), the source files (by path) and the routines (the first of each
// key).
struct SizeChanges {
    const SizeProfile* old_profile;
    const SizeProfile* new_profile;
    SizeRows sections;
    SizeRows files;
    bool sections_unsized;  // a map of separate regions in either build
    // Largest change first; those of one change are put in name order as
    // they are shown (for_each_routine_row).
    RoutineRow* routines;
    int routine_count;
    // Room for the rows and the names made for files without one.
    SizeRow* row_room;
    char* name_room;
};

struct ReleaseSizeChanges {
    void operator()(SizeChanges* changes) const;
};
using SizeChangesHandle = std::unique_ptr<SizeChanges, ReleaseSizeChanges>;

SizeChangesHandle compare_size_profiles(const SizeProfile& old_profile, const SizeProfile& new_profile);

// The key of a routine row, found in the routine keys of its build.
std::uint64_t routine_row_key(const SizeChanges& changes, const RoutineRow& row);

// Calls `visit(context, row)` for the first `limit` routine rows in the
// order of the report, each as a SizeRow named by its key: largest change
// first, ties by name. Names are read again a bounded batch at a time, in
// the order of the files; a part's rows beyond a batch take further reads.
void visit_routine_rows(SizeChanges& changes, int limit, void (*visit)(void* context, const SizeRow& row),
                        void* context);

template <typename Visit>
void for_each_routine_row(SizeChanges& changes, int limit, Visit visit) {
    visit_routine_rows(
        changes, limit, [](void* context, const SizeRow& row) { (*static_cast<Visit*>(context))(row); }, &visit);
}
