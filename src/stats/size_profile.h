// What the size profile learns in one reading of the debugging file, and
// the orders the report lists it in. Memory is bounded by the format, not by
// the file: a table of the 65536 routine numbers with their names, the 256
// file numbers and a fixed number of memory-map entries.
#pragma once

#include <cstddef>
#include <cstdint>

#include "reader/field_reader.h"
#include "reader/records.h"

struct RecordTally {
    std::uint64_t count;
    std::uint64_t bytes;  // type bytes included
};

struct Section {
    StringField name;
    std::size_t name_length;
    unsigned long address;
};

// Entries kept of the memory map: a compiler writes a few dozen.
constexpr int section_capacity = 1024;

// The last File record of each file number.
struct FilePath {
    bool named;
    StringField path;
    std::size_t path_length;
};

// The first Routine record of each routine number and the first RoutineEnd
// of that number, wherever it stands.
struct RoutineSize {
    bool has_start;
    bool has_end;
    std::uint8_t file;  // of its start position
    std::uint8_t character;
    std::uint16_t line;
    std::uint32_t start;  // code addresses
    std::uint32_t end;
    std::uint32_t name_offset;  // in routine_names
    std::uint8_t name_length;
    std::uint32_t file_order;  // of its Routine record among the routines
};

constexpr int routine_number_count = 65536;
constexpr int file_number_count = 256;

// The code bytes of one source file.
struct FileCode {
    std::uint32_t routines;
    std::uint64_t bytes;
};

struct SizeProfile {
    int major;
    int minor;
    unsigned revision;

    RecordTally records[last_record_type + 1];
    RecordTally unknown_types;  // type bytes above the last type: one byte each

    // The entries of the first MemoryMap record, in file order.
    bool has_memory_map;
    int section_count;
    std::uint64_t sections_left_out;  // past section_capacity
    Section sections[section_capacity];

    FilePath files[file_number_count];

    RoutineSize routines[routine_number_count];
    std::uint16_t routines_in_file_order[routine_number_count];
    int routine_count;
    std::size_t routine_names_used;

    // Known once the records are read (order_size_profile).
    int measured_count;  // routines with an end not below their start
    std::uint32_t without_end;
    std::uint64_t code_bytes;
    FileCode file_code[file_number_count];
    std::uint16_t routines_by_size[routine_number_count];  // measured, largest first, ties in file order
    std::uint8_t files_by_size[file_number_count];         // with measured routines, largest first
    int file_count;
    std::uint16_t sections_by_address[section_capacity];  // ties in file order
};

extern SizeProfile profile;
// The names of the routines, one after another, at most 255 bytes each, and
// 32 bytes more, so that 32 bytes are readable from the start of each name
// (json::write_field_string copies a short name as one block).
extern char routine_names[routine_number_count * (string_field_capacity - 1) + 32];

// Reads the version numbers and the records up to the End record.
void read_size_profile();
// Totals the code and sorts the routines, files and sections for the report.
void order_size_profile();

inline std::uint64_t code_bytes_of(const RoutineSize& routine) { return routine.end - routine.start; }
