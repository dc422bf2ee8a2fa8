// What one reading of the debugging file learns of the game, for the
// queries that answer from it (the lookups and the size profile): the
// source files, the routines' spans, the code area, where the first record
// of each kind and number stands, and what each kind of record weighs. It is
// bounded by the format (256 file numbers; routine and symbol numbers are
// words, global numbers bytes), never by the file: it keeps where records
// stand, not their names, which a query reads again when it shows them.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string_view>

#include "reader/field_reader.h"
#include "reader/records.h"

constexpr unsigned word_count = 65536;
constexpr int file_number_count = 256;

// Offsets of record type bytes, in 40 bits: a file of up to 1 TiB.
constexpr int record_offset_bits = 40;
constexpr std::uint64_t largest_record_offset = (std::uint64_t{1} << record_offset_bits) - 1;

// Record offsets in five bytes each; 0 is no record (offset 0 is the magic number).
template <unsigned size>
struct RecordOffsets {
    std::uint32_t low[size];
    std::uint8_t high[size];
    std::uint64_t get(unsigned i) const { return low[i] | std::uint64_t{high[i]} << 32; }
    void set(unsigned i, std::uint64_t offset) {
        low[i] = static_cast<std::uint32_t>(offset);
        high[i] = static_cast<std::uint8_t>(offset >> 32);
    }
};

// The first Routine record of a routine number and the first RoutineEnd of
// that number, wherever it stands.
struct RoutineSpan {
    std::uint32_t start;  // code offsets
    std::uint32_t end;
    std::uint32_t record_low;  // offset of its Routine record, in 40 bits
    std::uint8_t record_high;
    std::uint8_t file;  // where its Routine record places it
    std::uint8_t character;
    std::uint16_t line;
    std::uint16_t order;  // of its Routine record among those of the routines
    bool has_start;
    bool has_end;

    std::uint64_t record() const { return record_low | std::uint64_t{record_high} << 32; }
    LineRef at() const { return {file, line, character}; }
    bool has_code() const { return has_start && has_end && start < end; }
};

struct RoutineTable {
    RoutineSpan span[word_count];
    // The SequencePoints records of each routine number: its first and last.
    RecordOffsets<word_count> first_points;
    RecordOffsets<word_count> last_points;
    // The routine numbers in the order of their first Routine records.
    std::uint16_t in_file_order[word_count];
    unsigned count;
};

struct RecordTally {
    std::uint64_t count;
    std::uint64_t bytes;  // type bytes included
};

struct MemoryMapEntry {
    Name name;
    std::uint32_t address;
};

// Entries kept of the memory map: a compiler writes a few dozen.
constexpr int memory_map_capacity = 1024;

// The kinds that a KIND NUMBER lookup finds by their number (routines are
// found through their span).
constexpr int numbered_kind_count = 6;
constexpr int numbered_slot(RecordType type) {
    switch (type) {
        case Object:
            return 0;
        case Attribute:
            return 1;
        case Property:
            return 2;
        case FakeAction:
            return 3;
        case Action:
            return 4;
        case Array:
            return 5;
        default:
            return -1;
    }
}

struct GameModel {
    unsigned version_major;
    unsigned version_minor;
    unsigned version_revision;

    SourceFileNames files[file_number_count];

    // The first "code area" entry of any memory map: where code offsets start.
    bool has_code_area;
    std::uint32_t code_area;

    // The entries of the first MemoryMap record, in file order.
    bool has_memory_map;
    int memory_map_size;
    std::uint64_t memory_map_left_out;  // past memory_map_capacity
    bool memory_map_falls;              // an address below the one before it (left-out entries too)
    MemoryMapEntry memory_map[memory_map_capacity];

    // The bytes of the first Header record: the first bytes of the story file.
    bool has_game_header;
    std::uint8_t game_header[game_header_size];

    RoutineTable routines;

    // The first record of each kind and number, and how many classes came
    // (classes have no number; the first 65536 count): noted by a reading
    // with readers (lookups), the only queries that ask for them.
    RecordOffsets<word_count> first_numbered[numbered_kind_count];
    RecordOffsets<file_number_count> first_global;
    unsigned class_count;

    RecordTally records[last_record_type + 1];
    RecordTally unknown_types;  // type bytes above the last type: one byte each

    std::uint64_t end_record;  // offset of the End record
};

// What a query learns beside the model in the same reading: called with
// each record of a name that counts (the first of its kind and number, the
// first 65536 classes; a routine's as a SymbolRecord of type Routine, its
// start its position) and the offset of its type byte, and with each
// SequencePoints record once its head is read, to read its points
// (read_sequence_point) or skip them (skip_sequence_points) before it returns.
struct ModelReaders {
    void* query;
    void (*symbol)(void* query, const SymbolRecord& symbol, std::uint64_t offset);
    void (*points)(void* query, const PointsHead& head, std::uint64_t offset);
};

// Makes an empty model, of which a reading touches only the pages it fills;
// a fatal error when memory runs out. Released by release_game_model.
GameModel* new_game_model();
void release_game_model(GameModel* model);

// Reads the version numbers, after the magic number, and every record up to
// the End record into `model`, calling `readers` (when given) on the way.
void read_game_model(GameModel& model, const ModelReaders* readers = nullptr);

// The first record of `type` and `number` (a named kind but Class and
// Routine), 0 when there is none.
std::uint64_t first_record_of(const GameModel& model, RecordType type, unsigned number);

// The routine holding a code offset: the first, in the order of their
// Routine records, whose code from its start up to its end holds it.
// Needs routines_by_start; -1 when none.
struct RoutinesByStart {
    // The routines with code, by start, and for each the greatest end among
    // it and those before it: the routines that may hold an offset are found
    // by one search and a short walk back.
    std::uint16_t number[word_count];
    std::uint32_t reach[word_count];
    unsigned count;
};
void order_routines_by_start(const GameModel& model, RoutinesByStart& order);
long routine_at(const GameModel& model, const RoutinesByStart& order, std::uint32_t code_offset);
