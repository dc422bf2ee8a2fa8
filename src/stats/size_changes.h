// What changed from one build's size profile to another's, part by part:
// the sections (by name), the source files (by path) and the routines (by
// name, or "(routine N)" without one; by their place in their file when
// named after a number the compiler made), for the text and JSON report of
// -diff=OLD and for the picture's colours. Entries are matched by hashes of
// their names, since routines' names are not kept: a row holds the entry of
// each build it stands for, and its name is read when the row is shown.
#pragma once

#include <cstdint>
#include <memory>
#include <string_view>

#include "stats/size_profile.h"

inline std::uint64_t magnitude(std::int64_t change) {
    return change < 0 ? 0 - static_cast<std::uint64_t>(change) : static_cast<std::uint64_t>(change);
}

enum class Part { Sections, Files, Routines };

// A changed entry: its index in each build's table (a memory-map entry, a
// file number, a routine number) where it stands there.
struct ChangedRow {
    std::uint16_t old_index;
    std::uint16_t new_index;
    bool in_old;
    bool in_new;
};

// The changed rows of a part, largest change first; those of one change are
// put in order as they are shown (for_each_row).
struct PartChanges {
    Part part;
    ChangedRow* rows;
    int count;
};

struct SizeChanges {
    const SizeProfile* old_profile;
    const SizeProfile* new_profile;
    bool sections_unsized;  // a map of separate regions in either build: no section rows
    PartChanges sections;
    PartChanges files;
    PartChanges routines;
    ChangedRow* row_room;
};

struct ReleaseSizeChanges {
    void operator()(SizeChanges* changes) const;
};
using SizeChangesHandle = std::unique_ptr<SizeChanges, ReleaseSizeChanges>;

SizeChangesHandle compare_size_profiles(const SizeProfile& old_profile, const SizeProfile& new_profile);

// A row as it is shown.
struct SizeRow {
    std::string_view name;
    bool in_old;
    bool in_new;
    std::uint64_t old_bytes;
    std::uint64_t new_bytes;
    std::string_view old_name;  // of a routine paired by its place, where it was named otherwise
    std::int64_t change() const { return static_cast<std::int64_t>(new_bytes - old_bytes); }
};

// Calls `visit(context, row)` for the first `limit` rows of a part in the
// order of the report: largest change first, then the larger entry (its new
// size, else its old), then by name. Names are read a
// bounded batch at a time, in the order of the files; a part's rows beyond a
// batch take further reads.
void visit_rows(SizeChanges& changes, PartChanges& part, int limit, void (*visit)(void* context, const SizeRow& row),
                void* context);

template <typename Visit>
void for_each_row(SizeChanges& changes, PartChanges& part, int limit, Visit visit) {
    visit_rows(
        changes, part, limit, [](void* context, const SizeRow& row) { (*static_cast<Visit*>(context))(row); }, &visit);
}
