#include "reader/records.h"

#include <charconv>

#include "reader/field_reader.h"

void skip_string_list() {
    while (skip_string() != 0) {
    }
}

void skip_record(int type) {
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

std::string_view direction_name(unsigned index, DirectionName& scratch) {
    if (index >= 1 && index <= 12) return DirectionTable[index];
    char* next = scratch.text;
    *next++ = 'd';
    *next++ = 'i';
    *next++ = 'r';
    next = std::to_chars(next, scratch.text + sizeof scratch.text - 3, index).ptr;
    *next++ = '_';
    *next++ = 't';
    *next++ = 'o';
    return {scratch.text, static_cast<std::size_t>(next - scratch.text)};
}
