// Python mode's selection lists (read from standard input) and the table of
// source files built from the File records as they stream past.
#pragma once

#include <cstddef>
#include <cstdio>
#include <string_view>

#include "reader/records.h"

// Each list holds its names one after another, each ended by a 0 byte, and
// the whole ended by an empty name.
constexpr std::size_t selection_line_capacity = 16384;
constexpr std::size_t selection_line_limit = 16381;

struct SelectionLists {
    char exclude_list[selection_line_capacity];
    char include_list[selection_line_capacity];
    bool include_all;
};

// Python mode keeps at most this much of an include name.
constexpr std::size_t include_name_limit = 63;
constexpr int source_file_count = 256;

// Where the parts of a file's names that Python mode writes begin.
struct PathStarts {
    unsigned char short_name;     // just after the include name's last "/"
    unsigned char relative_path;  // base_offset and leading "./" pairs dropped
};

// The names with "\" and ":" made "/", and the include name cut to its limit.
struct SourceFileTable {
    SourceFileNames files[source_file_count];
    PathStarts starts[source_file_count];
    std::size_t base_offset;
    int last_file_number;
};

// Reads the exclude line and the include line from `stream`.
void read_selection_lines(std::FILE* stream, SelectionLists& selection);

std::string_view relative_path_of(const SourceFileTable& files, int file_number);

// An object of the file is written: not excluded, and included or all are.
bool is_selected(const SelectionLists& selection, const SourceFileTable& files, int file_number);
// The file is named in the sources list: not excluded.
bool is_listed_in_sources(const SelectionLists& selection, const SourceFileTable& files, int file_number);

// Python-mode handler of a File record: updates the table, prints nothing.
void note_source_file(DebugFile& file, SourceFileTable& files);
