// Layout of the debugging file: the record type codes, the skipping of a
// record body, and the table of direction names used by object details.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <string_view>
#include <utility>

#include "reader/field_reader.h"
#include "record_kinds.h"

// Reads the body of one record, whose type byte has been read, from `file`
// and does what a reading does with it, to the state of that reading: each
// reading (an output mode, the model of the game) has a table of them
// indexed by type.
template <typename Reading>
using RecordHandler = void (*)(DebugFile& file, Reading& reading);

constexpr int game_header_size = 64;

// --- Record layouts ------------------------------------------------------------
// Each layout is decoded here, once, by a function generic over the field
// reader: BufferedFields or StreamFields to learn a record's values,
// SkippedFields to drop it (skip_record). The printers read their records
// field by field in this same order, so that a record cut by the end of the
// file prints what came before the cut.

// Sizes of the fixed-size fields and entries.
constexpr std::size_t word_size = 2;
constexpr std::size_t address_size = 3;
constexpr std::size_t line_ref_size = 4;
constexpr std::size_t sequence_point_size = line_ref_size + word_size;
constexpr std::size_t version_numbers_size = 1 + 1 + word_size;

struct FileRecord {
    std::uint8_t number;
    Name include_name;  // as written where the file was included
    Name file_name;     // the file's path
};

template <typename In>
void read_file_record(In& in, FileRecord& file) {
    file.number = in.byte();
    in.name(file.include_name);
    in.name(file.file_name);
}

// The names of a file number, from its last File record: the one table of
// source files that every mode and query keeps.
struct SourceFileNames {
    bool declared;
    Name include_name;
    Name file_name;
    void note(const FileRecord& file) {
        declared = true;
        include_name = file.include_name;
        file_name = file.file_name;
    }
    // The file name after its last / or \.
    std::string_view last_part() const;
};

// Class, Object, Global, Attribute, Property, FakeAction, Action and Array:
// a name, with the number of its kind (an Array's is its address; a Class
// has none) and, for classes and objects, where its definition stands.
struct SymbolRecord {
    RecordType type;
    unsigned number;
    Name name;
    bool has_position;
    LineRef start;
};

template <typename In>
void read_symbol_record(In& in, RecordType type, SymbolRecord& symbol) {
    symbol.type = type;
    symbol.number = 0;
    symbol.has_position = type == Class || type == Object;
    if (type == Global)
        symbol.number = in.byte();
    else if (type != Class)
        symbol.number = in.word();
    in.name(symbol.name);
    if (symbol.has_position) {
        symbol.start = in.line_ref();
        in.line_ref();  // the end of the definition
    }
}

template <typename In>
void read_game_header(In& in, std::uint8_t (&bytes)[game_header_size]) {
    for (std::uint8_t& byte : bytes) byte = in.byte();
}

struct PointsHead {
    std::uint16_t routine;
    unsigned count;
};

struct SequencePointEntry {
    LineRef at;
    std::uint16_t code_offset;  // within the routine
};

// A SequencePoints record is its head, then `count` points.
template <typename In>
PointsHead read_points_head(In& in) {
    PointsHead head;
    head.routine = in.word();
    head.count = in.count(sequence_point_size);
    return head;
}

template <typename In>
SequencePointEntry read_sequence_point(In& in) {
    SequencePointEntry point;
    point.at = in.line_ref();
    point.code_offset = in.word();
    return point;
}

template <typename In>
void skip_sequence_points(In& in, unsigned count) {
    in.skip(std::size_t{count} * sequence_point_size);
}

// A Routine record, but for the names of its locals, which are dropped.
struct RoutineStart {
    std::uint16_t number;
    LineRef at;
    std::uint32_t code_offset;
    Name name;
};

// Up to its name, for a query that reads no further: the list of its locals
// that follows has no bound.
template <typename In>
void read_routine_head(In& in, RoutineStart& routine) {
    routine.number = in.word();
    routine.at = in.line_ref();
    routine.code_offset = in.address();
    in.name(routine.name);
}

template <typename In>
void read_routine_start(In& in, RoutineStart& routine) {
    read_routine_head(in, routine);
    in.skip_list();  // the names of its locals
}

struct RoutineEndRecord {
    std::uint16_t number;
    LineRef at;
    std::uint32_t code_offset;
};

template <typename In>
RoutineEndRecord read_routine_end(In& in) {
    RoutineEndRecord end;
    end.number = in.word();
    end.at = in.line_ref();
    end.code_offset = in.address();
    return end;
}

// Calls `visit(name, address)` for each entry of a MemoryMap record.
template <typename In, typename Visit>
void read_memory_map(In& in, Visit visit) {
    Name name;
    for (std::string_view read; !(read = in.string()).empty();) {
        name.assign(read);
        visit(name.view(), in.address());
    }
}

// ObjectDetails: only skipped outside the printers.
template <typename In>
void read_object_details(In& in) {
    in.word();       // the object's number
    in.string();     // its short name
    in.line_ref();   // where its properties begin
    in.line_ref();   // where its name property begins
    in.skip_list();  // its name words
    in.skip_list();  // its exits
}

// DirectiveEnd and LibraryInclude: one position.
template <typename In>
LineRef read_position_record(In& in) {
    return in.line_ref();
}

// Reads and drops the body of a record of `type`. Flattened, so that the
// decoder's fields known at compile time leave one skip for each run of
// fixed-size fields.
template <int type>
[[gnu::flatten]] void skip_record_of(DebugFile& file) {
    SkippedFields in{file};
    if constexpr (type == File) {
        FileRecord file;
        read_file_record(in, file);
    } else if constexpr (type == Header) {
        in.skip(game_header_size);
    } else if constexpr (type == SequencePoints) {
        skip_sequence_points(in, read_points_head(in).count);
    } else if constexpr (type == Routine) {
        RoutineStart routine;
        read_routine_start(in, routine);
    } else if constexpr (type == MemoryMap) {
        read_memory_map(in, [](std::string_view, std::uint32_t) {});
    } else if constexpr (type == RoutineEnd) {
        read_routine_end(in);
    } else if constexpr (type == ObjectDetails) {
        read_object_details(in);
    } else if constexpr (type == DirectiveEnd || type == LibraryInclude) {
        read_position_record(in);
    } else {
        static_assert(record_kinds[type].bears_name);
        SymbolRecord symbol;
        read_symbol_record(in, static_cast<RecordType>(type), symbol);
    }
    in.finish();
}

using RecordSkipper = void (*)(DebugFile& file);

template <std::size_t... types>
constexpr std::array<RecordSkipper, last_record_type + 1> skippers_of(std::index_sequence<types...>) {
    return {nullptr, skip_record_of<types + 1>...};
}
constexpr std::array<RecordSkipper, last_record_type + 1> record_skippers =
    skippers_of(std::make_index_sequence<last_record_type>());

// The same for a type known only at run time; any type but 1..17 has no
// body and reads nothing.
inline void skip_record(DebugFile& file, int type) {
    if (type >= 1 && type <= last_record_type) record_skippers[type](file);
}

// Direction property names for the indices 1..12 of a direction entry.
constexpr std::string_view DirectionTable[13] = {
    "", "n_to", "ne_to", "e_to", "se_to", "s_to", "sw_to", "w_to", "nw_to", "u_to", "d_to", "in_to", "out_to",
};

// The names of DirectionTable in 8-byte slots, each with its length in the
// last byte, so that a name is copied as one word.
struct PaddedDirectionNames {
    char slot[13][8];
    constexpr PaddedDirectionNames() : slot{} {
        for (int index = 1; index <= 12; ++index) {
            for (std::size_t i = 0; i < DirectionTable[index].size(); ++i) slot[index][i] = DirectionTable[index][i];
            slot[index][7] = static_cast<char>(DirectionTable[index].size());
        }
    }
};
inline constexpr PaddedDirectionNames padded_direction_names;

// Room for the name of any direction index, "dir255_to" included.
struct DirectionName {
    char text[16];
};

// The name of direction `index`: from the table for 1..12, "dir<index>_to"
// for any other index, which is never looked up in the table.
std::string_view direction_name(unsigned index, DirectionName& scratch);

// Writes the name of direction `index` at `next` (storing up to 8 bytes, or
// 16 for an index outside 1..12); returns the end of the name.
inline char* write_direction_name(char* next, unsigned index) {
    if (index - 1 < 12) {
        const char* slot = padded_direction_names.slot[index];
        std::memcpy(next, slot, 8);
        return next + slot[7];
    }
    DirectionName scratch;
    std::string_view name = direction_name(index, scratch);
    std::memcpy(next, name.data(), sizeof scratch.text);
    return next + name.size();
}
