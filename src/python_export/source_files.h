// Python mode's selection lists (read from standard input) and the table of
// source files built from the File records as they stream past.
#pragma once

#include <cstddef>
#include <cstdio>
#include <string_view>

// Each list holds its names one after another, each ended by a 0 byte, and
// the whole ended by an empty name.
constexpr std::size_t selection_line_capacity = 16384;
constexpr std::size_t selection_line_limit = 16381;

struct SelectionLists {
    char exclude_list[selection_line_capacity];
    char include_list[selection_line_capacity];
    bool include_all;
};

extern SelectionLists selection;

constexpr std::size_t include_name_capacity = 64;
constexpr std::size_t file_name_capacity = 256;
constexpr int source_file_count = 256;

struct SourceFile {
    char include_name[include_name_capacity];
    char file_name[file_name_capacity];
    unsigned char include_name_length;
    unsigned char file_name_length;
    unsigned char short_name_start;     // just after the include name's last "/"
    unsigned char relative_path_start;  // base_offset and leading "./" pairs dropped
};

struct SourceFileTable {
    SourceFile files[source_file_count];
    std::size_t base_offset;
    int last_file_number;
};

extern SourceFileTable source_files;

// Reads the exclude line and the include line from `stream`.
void read_selection_lines(std::FILE* stream);

// True when `name` equals one of the names of `list`; the empty name never does.
bool in_name_list(std::string_view name, const char* list);

std::string_view short_name_of(int file_number);
std::string_view relative_path_of(int file_number);

// An object of the file is written: not excluded, and included or all are.
bool is_selected(int file_number);
// The file is named in the sources list: not excluded.
bool is_listed_in_sources(int file_number);

// Python-mode handler of a File record: updates the table, prints nothing.
void read_file_record();

// Empties the lists and the table (for a new run in the same process).
void reset_source_files();
