#include "python_export/source_files.h"

#include <algorithm>
#include <cstring>

#include "reader/field_reader.h"

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

void normalise_separators(Name& name) {
    for (std::size_t i = 0; i < name.size; ++i)
        if (name.text[i] == '\\' || name.text[i] == ':') name.text[i] = '/';
}

std::size_t after_last_slash(std::string_view text) {
    std::size_t slash = text.rfind('/');
    return slash == std::string_view::npos ? 0 : slash + 1;
}

// True when `name` equals one of the names of `list`; the empty name never does.
bool in_name_list(std::string_view name, const char* list) {
    if (name.empty()) return false;
    for (std::string_view entry; !(entry = list).empty(); list += entry.size() + 1)
        if (name == entry) return true;
    return false;
}

std::string_view short_name_of(const SourceFileTable& files, int file_number) {
    return files.files[file_number & 0xFF].include_name.view().substr(files.starts[file_number & 0xFF].short_name);
}

}  // namespace

void read_selection_lines(std::FILE* stream, SelectionLists& selection) {
    make_name_list(selection.exclude_list, read_line(stream, selection.exclude_list));
    std::size_t length = read_line(stream, selection.include_list);
    selection.include_all = length != 0 && selection.include_list[0] == '*';
    if (selection.include_all) length = 0;
    make_name_list(selection.include_list, length);
}

std::string_view relative_path_of(const SourceFileTable& files, int file_number) {
    return files.files[file_number & 0xFF].file_name.view().substr(files.starts[file_number & 0xFF].relative_path);
}

bool is_selected(const SelectionLists& selection, const SourceFileTable& files, int file_number) {
    std::string_view short_name = short_name_of(files, file_number);
    if (in_name_list(short_name, selection.exclude_list)) return false;
    return selection.include_all || in_name_list(short_name, selection.include_list);
}

bool is_listed_in_sources(const SelectionLists& selection, const SourceFileTable& files, int file_number) {
    return !in_name_list(short_name_of(files, file_number), selection.exclude_list);
}

void note_source_file(DebugFile& in, SourceFileTable& source_files) {
    FileRecord file;
    read_file_record(in, file);
    if (file.include_name.size > include_name_limit) {
        file.include_name.size = include_name_limit;
        file.include_name.text[include_name_limit] = '\0';
    }
    normalise_separators(file.include_name);
    normalise_separators(file.file_name);
    source_files.last_file_number = file.number;
    source_files.files[file.number].note(file);

    const std::string_view path = file.file_name.view();
    if (file.number == 1) source_files.base_offset = after_last_slash(path);
    PathStarts& starts = source_files.starts[file.number];
    starts.short_name = static_cast<unsigned char>(after_last_slash(file.include_name.view()));
    std::size_t start = std::min(source_files.base_offset, path.size());
    while (path.size() - start >= 2 && path[start] == '.' && path[start + 1] == '/') start += 2;
    starts.relative_path = static_cast<unsigned char>(start);
}
