#include "python_export/source_files.h"

#include <cstring>

#include "reader/field_reader.h"

SelectionLists selection;
SourceFileTable source_files;

namespace {

// Reads one line into `line` (at most the limit, the rest of a longer line is
// read and dropped) and returns its length. A carriage return just before the
// newline is dropped; end of input ends the line as a newline would.
std::size_t read_line(std::FILE* stream, char* line) {
    std::size_t length = 0;
    std::size_t line_length = 0;
    int c;
    while ((c = std::getc(stream)) != EOF && c != '\n') {
        if (length < selection_line_limit) line[length++] = static_cast<char>(c);
        ++line_length;
    }
    // Only a carriage return that stood just before the newline, not one kept
    // from the middle of an overlong line.
    if (c == '\n' && length != 0 && length == line_length && line[length - 1] == '\r') --length;
    return length;
}

// Turns a line into a list: every "/" ends a name, and an empty name ends the list.
void make_name_list(char* line, std::size_t length) {
    for (std::size_t i = 0; i < length; ++i)
        if (line[i] == '/') line[i] = '\0';
    line[length] = '\0';
    line[length + 1] = '\0';
}

void normalise_separators(char* text, std::size_t length) {
    for (std::size_t i = 0; i < length; ++i)
        if (text[i] == '\\' || text[i] == ':') text[i] = '/';
}

std::size_t after_last_slash(const char* text, std::size_t length) {
    for (std::size_t i = length; i > 0; --i)
        if (text[i - 1] == '/') return i;
    return 0;
}

}  // namespace

void read_selection_lines(std::FILE* stream) {
    make_name_list(selection.exclude_list, read_line(stream, selection.exclude_list));
    std::size_t length = read_line(stream, selection.include_list);
    selection.include_all = length != 0 && selection.include_list[0] == '*';
    if (selection.include_all) length = 0;
    make_name_list(selection.include_list, length);
}

bool in_name_list(std::string_view name, const char* list) {
    if (name.empty()) return false;
    while (*list != '\0') {
        std::size_t length = std::strlen(list);
        if (name == std::string_view(list, length)) return true;
        list += length + 1;
    }
    return false;
}

std::string_view short_name_of(int file_number) {
    const SourceFile& file = source_files.files[file_number & 0xFF];
    return {file.include_name + file.short_name_start,
            static_cast<std::size_t>(file.include_name_length - file.short_name_start)};
}

std::string_view relative_path_of(int file_number) {
    const SourceFile& file = source_files.files[file_number & 0xFF];
    return {file.file_name + file.relative_path_start,
            static_cast<std::size_t>(file.file_name_length - file.relative_path_start)};
}

bool is_selected(int file_number) {
    std::string_view short_name = short_name_of(file_number);
    if (in_name_list(short_name, selection.exclude_list)) return false;
    return selection.include_all || in_name_list(short_name, selection.include_list);
}

bool is_listed_in_sources(int file_number) { return !in_name_list(short_name_of(file_number), selection.exclude_list); }

void read_file_record() {
    int number = read_byte();
    source_files.last_file_number = number;
    SourceFile& file = source_files.files[number];

    StringField field;
    std::size_t length = read_string(field);
    if (length > include_name_capacity - 1) length = include_name_capacity - 1;
    std::memcpy(file.include_name, field, length);
    file.include_name[length] = '\0';
    file.include_name_length = static_cast<unsigned char>(length);

    length = read_string(file.file_name);
    file.file_name_length = static_cast<unsigned char>(length);

    normalise_separators(file.include_name, file.include_name_length);
    normalise_separators(file.file_name, file.file_name_length);

    if (number == 1) source_files.base_offset = after_last_slash(file.file_name, file.file_name_length);
    file.short_name_start = static_cast<unsigned char>(after_last_slash(file.include_name, file.include_name_length));

    std::size_t start = source_files.base_offset < length ? source_files.base_offset : length;
    while (length - start >= 2 && file.file_name[start] == '.' && file.file_name[start + 1] == '/') start += 2;
    file.relative_path_start = static_cast<unsigned char>(start);
}

void reset_source_files() {
    std::memset(&selection, 0, sizeof selection);
    std::memset(&source_files, 0, sizeof source_files);
}
