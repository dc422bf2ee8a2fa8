#include "reader/records.h"

#include <charconv>

#include "reader/field_reader.h"

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

std::string_view SourceFileNames::last_part() const {
    std::string_view path = file_name.view();
    std::size_t last_separator = path.find_last_of("/\\");
    return last_separator == std::string_view::npos ? path : path.substr(last_separator + 1);
}
