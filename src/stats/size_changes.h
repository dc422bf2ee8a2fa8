// What changed from one build's size profile to another's: rows matched by
// name, each with its old and new bytes, for the text and JSON report of
// -diff=OLD and for the picture's colours.
#pragma once

#include <cstdint>
#include <memory>
#include <string_view>

#include "stats/size_profile.h"

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

// Every changed row of the sections (by name; none when a map's sizes are
// unknown), the source files (by path) and the routines (the first of each
// name; one without a name by its number). Both profiles keep their
// routines' names.
struct SizeChanges {
    SizeRows sections;
    SizeRows files;
    SizeRows routines;
    bool sections_unsized;  // a map of separate regions in either build
    // Room for the rows and the names made for files and routines without one.
    SizeRow* row_room;
    char* name_room;
};

struct ReleaseSizeChanges {
    void operator()(SizeChanges* changes) const;
};
using SizeChangesHandle = std::unique_ptr<SizeChanges, ReleaseSizeChanges>;

SizeChangesHandle compare_size_profiles(const SizeProfile& old_profile, const SizeProfile& new_profile);

// The key a routine is matched by: its name, or "(routine N)" without one.
std::string_view routine_key(const SizeProfile& profile, unsigned number, char (&scratch)[24]);
