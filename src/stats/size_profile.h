// The size profile: a view of the game model that one reading learns, with
// the totals and orders the report lists it in. Like the model it keeps
// where records stand, not their names: a routine's name is read again from
// its Routine record when the report shows it. Only a file that cannot be
// read twice (a pipe) has its routines' names kept, bounded by the format.
#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>
#include <string_view>

#include "reader/game_model.h"

// The code bytes of one source file.
struct FileCode {
    std::uint32_t routines;
    std::uint64_t bytes;
};

// The names of the first Routine record of each number, one after another.
struct KeptNames {
    std::uint32_t offset[word_count];
    std::uint8_t length[word_count];
    std::size_t used;
    // 32 bytes more, readable from the start of each name, as from a field.
    char text[word_count * (string_field_capacity - 1) + 32];
};

struct SizeProfile {
    GameModel* model;
    KeptNames* kept_names;  // null when names are read again from the file

    int measured_count;  // routines with an end not below their start
    std::uint32_t without_end;
    std::uint64_t code_bytes;
    FileCode file_code[file_number_count];
    std::uint16_t routines_by_size[word_count];     // measured, largest first, ties in file order
    std::uint8_t files_by_size[file_number_count];  // with measured routines, largest first
    int file_count;
    std::uint16_t sections_by_address[memory_map_capacity];  // ties in file order
};

struct ReleaseSizeProfile {
    void operator()(SizeProfile* profile) const;
};
using SizeProfileHandle = std::unique_ptr<SizeProfile, ReleaseSizeProfile>;

// Reads the open debugging file from its version numbers to the End record
// and orders what it learnt; a fatal error when memory runs out.
SizeProfileHandle read_size_profile();

inline bool is_measured(const RoutineSpan& routine) { return routine.has_end && routine.end >= routine.start; }
inline std::uint64_t code_bytes_of(const RoutineSpan& routine) { return routine.end - routine.start; }

// The name of routine `number`, which has a Routine record: kept, or read
// from that record into `scratch`. Valid until `scratch` changes.
std::string_view routine_name(const SizeProfile& profile, unsigned number, Name& scratch);
