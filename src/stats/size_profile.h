// The size profile: a view of the game model that one reading learns, with
// the totals and orders the report lists it in. Like the model it keeps
// where records stand, not their names: a routine's name is read again from
// its Routine record when the report shows it. Only a file that cannot be
// read twice (a pipe) has its routines' names kept, in a temporary file.
// A build compared with another keeps a hash of each routine's name, which
// the routines are matched by, and is opened again by its path to read names;
// of a name that holds a number the compiler made, the hash of its shape.
#pragma once

#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <memory>
#include <string_view>

#include "reader/game_model.h"

// The code bytes of one source file.
struct FileCode {
    std::uint32_t routines;
    std::uint64_t bytes;
};

// The names of the first Routine record of each number, read from a pipe:
// kept one after another in a temporary file, not in memory, which could
// not hold 65,536 names of 255 bytes within its bound.
struct KeptNames {
    std::FILE* file;
    std::uint32_t offset[word_count];
    std::uint8_t length[word_count];
    std::uint32_t used;
};

// The story file's length and its version's limit, from the first bytes of
// the story file that the Header record holds.
struct StorySize {
    bool known;  // the header's byte 0 is a version from 1 to 8
    unsigned version;
    std::uint32_t bytes;
    std::uint32_t limit;
};

struct SizeProfile {
    GameModel* model;
    StorySize story;
    // The build's file, held open to read names again from it.
    DebugFile* file;
    KeptNames* kept_names;  // null when names are read again from the file
    // The file ends before its End record (the build did not finish): the
    // profile holds what it holds up to its last whole record.
    bool complete;
    // A build compared with another: the hash of each routine's key
    // (routine_key), by which the routines of the two builds are matched;
    // of those named after a number the compiler made, a bit each and the
    // hash of each one's shape (its name without the number). One mapping.
    std::uint64_t* routine_keys;
    std::uint64_t* routine_shapes;
    std::uint64_t* numbered;
    std::uint64_t files_with_numbered[file_number_count / 64];  // a bit each

    int measured_count;  // routines with an end not below their start
    std::uint32_t without_end;
    std::uint64_t code_bytes;
    FileCode file_code[file_number_count];
    std::uint16_t routines_by_size[word_count];     // measured, largest first, ties in file order
    std::uint64_t sort_keys[word_count];            // room to sort them in
    std::uint8_t files_by_size[file_number_count];  // with measured routines, largest first
    int file_count;
};

// Zeroed memory for a table of the report, bounded by the format; released
// with free. Out of memory throws std::bad_alloc.
void* allocate_table(std::size_t size);

struct ReleaseSizeProfile {
    void operator()(SizeProfile* profile) const;
};
using SizeProfileHandle = std::unique_ptr<SizeProfile, ReleaseSizeProfile>;

// Reads `file` from its version numbers to the End record, or to its last
// whole record when it ends before that, and orders what it learnt; memory running out fails as a read does. The names
// of the routines are kept when the file cannot be read twice; the file stays open for the names of the report, read
// from it again. A build `compared` with another has routine keys.
SizeProfileHandle read_size_profile(DebugFile& file, bool compared);

inline bool is_measured(const RoutineSpan& routine) { return routine.has_end && routine.end >= routine.start; }
inline std::uint64_t code_bytes_of(const RoutineSpan& routine) { return routine.end - routine.start; }

StorySize story_size_of(const GameModel& model);

// The size of the memory map's entry at `position` (in file order): up to
// the next entry's address, the last up to the story's end when that is
// known and higher. False when it cannot be known for sure: when an address
// falls below the one before it (entries of separate regions), no entry can
// be sized.
bool section_size(const SizeProfile& profile, int position, std::uint32_t& size);

// The name of routine `number`, which has a Routine record: kept, or read
// from that record into `scratch`, from the build's file. Valid until
// `scratch` changes.
std::string_view routine_name(const SizeProfile& profile, unsigned number, Name& scratch);

// What a routine is matched by in another build: its name, or
// "(routine N)" when it has none.
std::string_view routine_key(const SizeProfile& profile, unsigned number, Name& scratch);

// Whether a routine of a compared build is named after a number the
// compiler made (an unnamed object's: "nameless_obj__237.before").
inline bool is_numbered(const SizeProfile& profile, unsigned number) {
    return (profile.numbered[number / 64] >> number % 64 & 1) != 0;
}

// The hash that names are matched by between builds (64-bit FNV-1a: two
// names of 65,536 a build share one with odds of about 2^-30). A text hashed
// in pieces passes the hash of those before it.
constexpr std::uint64_t empty_name_hash = 0xcbf29ce484222325;
std::uint64_t name_hash(std::string_view text, std::uint64_t hash = empty_name_hash);
