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
#include "reader/record_loop.h"
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
    // The numbers that have a File record, one bit each, so that a reading
    // of few files touches only their entries.
    std::uint64_t declared_files[file_number_count / 64];

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

// Zeroed memory for a table bounded by the format, of which only the pages
// used are ever touched: mapped, not allocated, so that no page is cleared
// or faulted in before a reading fills it. Null when memory runs out.
void* map_table(std::size_t size);
void unmap_table(void* table, std::size_t size);
template <typename Table>
Table* new_table() {
    return static_cast<Table*>(map_table(sizeof(Table)));
}
template <typename Table>
void release_table(Table* table) {
    if (table != nullptr) unmap_table(table, sizeof(Table));
}

// Makes an empty model, of which a reading touches only the pages it fills;
// null when memory runs out. Released by release_game_model.
GameModel* new_game_model();
void release_game_model(GameModel* model);

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

// --- The reading that learns the model ----------------------------------------
// What the model learns from each kind of record, once it is decoded; each
// returns whether the record is the first of its kind and number, which a
// query beside the model then learns too.
void learn_file(GameModel& model, const FileRecord& file);
void learn_game_header(DebugFile& file, GameModel& model);
void learn_memory_map(DebugFile& file, GameModel& model);
bool learn_routine_start(GameModel& model, const RoutineStart& routine, std::uint64_t offset);
void learn_routine_end(GameModel& model, const RoutineEndRecord& end);
void learn_points_head(GameModel& model, const PointsHead& head, std::uint64_t offset);
bool learn_symbol(GameModel& model, RecordType type, unsigned number, std::uint64_t offset);

// Counts a record whose type byte stands at `type_byte` in `tally`. A
// record's bytes, its type byte included, are those up to the next type
// byte, which adds them to the tally of the record before it.
struct RecordMeasure {
    RecordTally* last_tally;
    std::uint64_t last_type_byte;
    void start_record(RecordTally& tally, std::uint64_t type_byte) {
        last_tally->bytes += type_byte - last_type_byte;
        last_tally = &tally;
        last_type_byte = type_byte;
        ++tally.count;
    }
};

// A query that learns nothing beside the model: the names are dropped
// unread, as only lookups ask for them.
struct ModelOnly {
    static constexpr bool reads_names = false;
    void symbol(const SymbolRecord&, std::uint64_t) {}
    void routine(const RoutineStart&, std::uint64_t) {}
    void points(DebugFile& file, const PointsHead& head, std::uint64_t) { skip_sequence_points(file, head.count); }
};

// A reading of the model with a query beside it, which learns in the same
// pass: with reads_names, each record of a name that counts (the first of
// its kind and number, the first 65536 classes) and the first Routine
// record of each number, with the offset of its type byte; and each
// SequencePoints record once its head is read, to read its points
// (read_sequence_point) or skip them (skip_sequence_points) before it returns.
template <typename Query>
struct ModelReading {
    GameModel& model;
    Query& query;
    RecordMeasure measure;
};

// Reads a record's numbers and drops its names.
struct NamesDropped {
    DebugFile& file;
    std::uint16_t word() { return file.word(); }
    std::uint32_t address() { return file.address(); }
    LineRef line_ref() { return file.line_ref(); }
    void name(Name&) { file.skip_string(); }
    void skip_list() { file.skip_list(); }
};

template <int type, typename Query>
void learn_record(DebugFile& file, ModelReading<Query>& reading) {
    const std::uint64_t type_byte = file.offset() - 1;
    reading.measure.start_record(reading.model.records[type], type_byte);
    GameModel& model = reading.model;
    if constexpr (type == File) {
        FileRecord record;
        read_file_record(file, record);
        learn_file(model, record);
    } else if constexpr (type == Header) {
        learn_game_header(file, model);
    } else if constexpr (type == MemoryMap) {
        learn_memory_map(file, model);
    } else if constexpr (type == RoutineEnd) {
        learn_routine_end(model, read_routine_end(file));
    } else if constexpr (type == SequencePoints) {
        const PointsHead head = read_points_head(file);
        reading.query.points(file, head, type_byte);  // knowing the records of the routine before it
        learn_points_head(model, head, type_byte);
    } else if constexpr (type == Routine) {
        RoutineStart routine;
        if constexpr (Query::reads_names) {
            read_routine_start(file, routine);
        } else {
            NamesDropped numbers{file};
            read_routine_start(numbers, routine);
        }
        if (learn_routine_start(model, routine, type_byte)) reading.query.routine(routine, type_byte);
    } else if constexpr (!record_kinds[type].bears_name || !Query::reads_names) {
        skip_record_of<type>(file);
    } else {
        SymbolRecord symbol;
        read_symbol_record(file, static_cast<RecordType>(type), symbol);
        if (learn_symbol(model, static_cast<RecordType>(type), symbol.number, type_byte))
            reading.query.symbol(symbol, type_byte);
    }
}

template <typename Query, std::size_t... types>
constexpr RecordHandlers<ModelReading<Query>> learners_of(std::index_sequence<types...>) {
    return {nullptr, learn_record<types + 1, Query>...};
}
template <typename Query>
constexpr RecordHandlers<ModelReading<Query>> model_learners =
    learners_of<Query>(std::make_index_sequence<last_record_type>());

// A type byte above the last type has no body: the loop goes on at the next byte.
template <typename Query>
void tally_unknown_type(DebugFile& file, ModelReading<Query>& reading, int) {
    reading.measure.start_record(reading.model.unknown_types, file.offset() - 1);
}

// Reads the version numbers, after the magic number, and every record up to
// the End record into `model`, and into `query` beside it. A file too large
// for the model's offsets fails as a read fails. A file that `may_end_early`
// (that of a build that did not finish) is read up to its last whole record
// if it ends before its End record: false then.
template <typename Query>
bool read_game_model(DebugFile& file, GameModel& model, Query& query, bool may_end_early = false) {
    model.version_major = file.byte();
    model.version_minor = file.byte();
    model.version_revision = file.word();
    RecordTally before_first_record{};
    ModelReading<Query> reading{model, query, {&before_first_record, file.offset()}};
    bool complete = true;
    file.allow_early_end(may_end_early);
    try {
        read_records<model_learners<Query>>(file, reading, nullptr, tally_unknown_type<Query>);
        model.end_record = file.offset() - 1;
    } catch (const FileEndsEarly& ended) {
        complete = false;
        model.end_record = file.offset();
        if (ended.inside_record) {  // counts for nothing
            --reading.measure.last_tally->count;
            model.end_record = reading.measure.last_type_byte;
        }
    }
    file.allow_early_end(false);
    reading.measure.last_tally->bytes += model.end_record - reading.measure.last_type_byte;
    // Checked once at the end: an offset kept of a larger file is cut.
    if (model.end_record > largest_record_offset) file.fail("Debugging info file too large for lookups");
    return complete;
}
