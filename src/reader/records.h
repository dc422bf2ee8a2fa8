// Layout of the debugging file: the record type codes, the skipping of a
// record body, and the table of direction names used by object details.
#pragma once

#include <cstring>
#include <string_view>

#include "reader/field_reader.h"

enum RecordType : int {
    End = 0,
    File = 1,
    Class = 2,
    Object = 3,
    Global = 4,
    Attribute = 5,
    Property = 6,
    FakeAction = 7,
    Action = 8,
    Header = 9,
    SequencePoints = 10,
    Routine = 11,
    Array = 12,
    MemoryMap = 13,
    RoutineEnd = 14,
    ObjectDetails = 15,
    DirectiveEnd = 16,
    LibraryInclude = 17,
};

constexpr int last_record_type = LibraryInclude;

// Reads the body of one record, whose type byte has been read, and writes
// what it holds; each output mode has a table of them indexed by type.
using RecordHandler = void (*)();

constexpr int game_header_size = 64;

// Drops strings up to and including the empty string that ends a list.
inline void skip_string_list() {
    ListAhead list;
    if (list_ahead(input.next, list)) {
        input.next += list.end + 1;
        return;
    }
    while (skip_string() != 0) {
    }
}

// Reads and drops the body of a record of `type` (1..17); any other type has
// no body and reads nothing. Inline, so that a caller that names the type
// skips its fields with no dispatch on it.
inline void skip_record(int type) {
    switch (type) {
        case File:
            skip_bytes(1);
            skip_string();
            skip_string();
            break;
        case Class:
            skip_string();
            skip_bytes(8);
            break;
        case Object:
            skip_bytes(2);
            skip_string();
            skip_bytes(8);
            break;
        case Global:
            skip_bytes(1);
            skip_string();
            break;
        case Attribute:
        case Property:
        case FakeAction:
        case Action:
            skip_bytes(2);
            skip_string();
            break;
        case Header:
            skip_bytes(game_header_size);
            break;
        case SequencePoints: {
            skip_bytes(2);
            unsigned count = read_word();
            skip_bytes(count * 6u);
            break;
        }
        case Routine:
            skip_bytes(2 + 4 + 3);
            skip_string();
            skip_string_list();
            break;
        case Array:
            skip_bytes(2);
            skip_string();
            break;
        case MemoryMap:
            while (skip_string() != 0) skip_bytes(3);
            break;
        case RoutineEnd:
            skip_bytes(2 + 4 + 3);
            break;
        case ObjectDetails:
            skip_bytes(2);
            skip_string();
            skip_bytes(8);
            skip_string_list();
            skip_string_list();
            break;
        case DirectiveEnd:
        case LibraryInclude:
            skip_bytes(4);
            break;
        default:
            break;
    }
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
