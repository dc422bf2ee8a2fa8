// The kinds of record a debugging file holds, and the one table that says
// what each is called everywhere: the section switch that lists it, its
// JSON kind (also its label in the size profile) and, for the kinds that
// bear a name, the word a KIND NUMBER lookup names it by.
#pragma once

#include <string_view>

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

struct RecordKind {
    RecordType type;
    std::string_view section_switch;  // empty: listed only by -all
    std::string_view json_kind;
    bool bears_name;                // found by a name lookup
    unsigned long greatest_number;  // of a KIND NUMBER lookup; 0: the kind has no number to look up
};

// Indexed by type.
constexpr RecordKind record_kinds[last_record_type + 1] = {
    {End, "", "end", false, 0},
    {File, "files", "file", false, 0},
    {Class, "classes", "class", true, 0},
    {Object, "objects", "object", true, 0xFFFF},
    {Global, "globals", "global", true, 0xFF},
    {Attribute, "attributes", "attribute", true, 0xFFFF},
    {Property, "properties", "property", true, 0xFFFF},
    {FakeAction, "fakes", "fake_action", true, 0xFFFF},
    {Action, "actions", "action", true, 0xFFFF},
    {Header, "header", "header", false, 0},
    {SequencePoints, "code", "sequence_points", false, 0},
    {Routine, "routines", "routine", true, 0xFFFF},
    {Array, "codeless", "array", true, 0xFFFF},
    {MemoryMap, "map", "memory_map", false, 0},
    {RoutineEnd, "routines", "routine_end", false, 0},
    {ObjectDetails, "", "object_details", false, 0},
    {DirectiveEnd, "", "directive_end", false, 0},
    {LibraryInclude, "", "library_include", false, 0},
};

constexpr bool kinds_in_type_order() {
    for (int type = 0; type <= last_record_type; ++type)
        if (record_kinds[type].type != type) return false;
    return true;
}
static_assert(kinds_in_type_order());

// The one switch that lists two kinds that no other switch pairs:
// sequence points and arrays, both placed by code addresses.
constexpr std::string_view lines_switch = "lines";

// What the size profile calls type bytes above the last type.
constexpr std::string_view unknown_kind_label = "unknown_type";
