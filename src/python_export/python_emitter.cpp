#include "python_export/python_emitter.h"

#include <cstdint>
#include <cstring>
#include <string_view>

#include "output_writer.h"
#include "python_export/source_files.h"
#include "reader/field_reader.h"
#include "reader/records.h"

namespace {

struct CurrentObject {
    // The latest Object record was written, so its details complete it. Kept
    // from the Object record: a File record between the two must not make the
    // details of an unwritten object complete the previous one.
    bool selected;
    bool nameless;
    int file;
    StringField name;
    std::size_t name_length;
};

CurrentObject current;
StringField text;

constexpr char hex_digits[] = "0123456789abcdef";

// Length of the well-formed UTF-8 sequence that starts at `bytes`, or 0.
std::size_t utf8_sequence_length(const unsigned char* bytes, std::size_t available) {
    unsigned lead = bytes[0];
    std::size_t length;
    unsigned low = 0x80, high = 0xBF;  // bounds of the second byte
    if (lead >= 0xC2 && lead <= 0xDF) {
        length = 2;
    } else if (lead >= 0xE0 && lead <= 0xEF) {
        length = 3;
        if (lead == 0xE0) low = 0xA0;   // no overlong forms
        if (lead == 0xED) high = 0x9F;  // no surrogates
    } else if (lead >= 0xF0 && lead <= 0xF4) {
        length = 4;
        if (lead == 0xF0) low = 0x90;   // no overlong forms
        if (lead == 0xF4) high = 0x8F;  // nothing above U+10FFFF
    } else {
        return 0;
    }
    if (available < length) return 0;
    if (bytes[1] < low || bytes[1] > high) return 0;
    for (std::size_t i = 2; i < length; ++i)
        if (bytes[i] < 0x80 || bytes[i] > 0xBF) return 0;
    return length;
}

// For each byte, which literals show it as it is: bit 0 those between single
// quotes, bit 1 those between double quotes (printable ASCII but the
// backslash and that quote).
struct PlainBytes {
    unsigned char in[256];
};

constexpr PlainBytes make_plain_bytes() {
    PlainBytes plain{};
    for (int byte = 0x20; byte < 0x7F; ++byte)
        if (byte != '\\') plain.in[byte] = static_cast<unsigned char>((byte != '\'' ? 1 : 0) | (byte != '"' ? 2 : 0));
    return plain;
}

constexpr PlainBytes plain_bytes = make_plain_bytes();

// Marks the bytes of `word` that a literal between `quote` characters cannot
// show as they are; none when it can show them all.
std::uint64_t escape_marks(std::uint64_t word, char quote) {
    constexpr std::uint64_t ones = 0x0101010101010101u;
    constexpr std::uint64_t highs = 0x8080808080808080u;
    auto has_zero = [](std::uint64_t x) { return (x - ones) & ~x & highs; };
    return ((word - 0x20 * ones) & ~word & highs)  // below 0x20
           | (word & highs)                        // 0x80 and above
           | has_zero(word ^ (0x7F * ones)) | has_zero(word ^ ('\\' * ones)) |
           has_zero(word ^ (static_cast<unsigned char>(quote) * ones));
}

// Whether the literal shows all of the `size` bytes as they are, tested a
// word at a time, as most names are plain; the last word ends with the text,
// overlapping the one before it, and so does the second half of a text of
// 4 to 7 bytes.
bool all_plain(const unsigned char* bytes, std::size_t size, char quote) {
    if (size < 4) return false;
    if (size < 8) {
        std::uint32_t first, last;
        std::memcpy(&first, bytes, 4);
        std::memcpy(&last, bytes + size - 4, 4);
        return escape_marks(first | std::uint64_t{last} << 32, quote) == 0;
    }
    std::uint64_t word;
    std::uint64_t marks = 0;
    for (std::size_t i = 0; i + 8 < size; i += 8) {
        std::memcpy(&word, bytes + i, 8);
        marks |= escape_marks(word, quote);
    }
    std::memcpy(&word, bytes + size - 8, 8);
    return (marks | escape_marks(word, quote)) == 0;
}

void put_hex_escape(unsigned char byte) {
    char escape[4] = {'\\', 'x', hex_digits[byte >> 4], hex_digits[byte & 0xF]};
    out.put({escape, 4});
}

// Writes `value` so that, between `quote` characters, it is a Python string
// literal denoting exactly these bytes.
void put_literal_text(std::string_view value, char quote) {
    const auto* bytes = reinterpret_cast<const unsigned char*>(value.data());
    std::size_t size = value.size();
    if (all_plain(bytes, size, quote)) {
        out.put(value);
        return;
    }
    const unsigned char plain_here = quote == '\'' ? 1 : 2;
    std::size_t plain_start = 0;
    std::size_t i = 0;
    while (i < size) {
        unsigned char byte = bytes[i];
        if (plain_bytes.in[byte] & plain_here) {
            ++i;
            continue;
        }
        if (byte >= 0x80) {
            std::size_t length = utf8_sequence_length(bytes + i, size - i);
            if (length != 0) {
                i += length;
                continue;
            }
        }
        out.put(value.substr(plain_start, i - plain_start));
        if (byte == '\\' || byte == static_cast<unsigned char>(quote)) {
            out.put('\\');
            out.put(static_cast<char>(byte));
        } else {
            put_hex_escape(byte);
        }
        plain_start = ++i;
    }
    out.put(value.substr(plain_start));
}

void put_zero_based_line(int line) { out.put_decimal(static_cast<long>(line) - 1); }

void put_source_marker(std::string_view variable) {
    LineRef position = read_line_ref();
    out.put(variable);
    out.put("=('");
    put_literal_text(relative_path_of(position.file), '\'');
    out.put("',");
    put_zero_based_line(position.line);
    out.put(")\n");
}

void write_object_start() {
    read_word();
    current.name_length = read_string(current.name);
    LineRef start = read_line_ref();
    read_line_ref();
    current.file = start.file;
    current.selected = is_selected(current.file);
    if (!current.selected) return;

    std::string_view name(current.name, current.name_length);
    current.nameless = name.substr(0, 14) == "nameless_obj__";
    out.put("o=qivobj()\n");
    if (!current.nameless) {
        out.put("o.obj_id='");
        put_literal_text(name, '\'');
        out.put("'\n");
    }
    out.put("o.obj_source='");
    put_literal_text(relative_path_of(current.file), '\'');
    out.put("'\no.obj_line=");
    put_zero_based_line(start.line);
    out.put('\n');
}

// Writes the two lines of a position unless it has no file. Inlined, so that
// the variable names are copied with sizes known at compile time.
[[gnu::always_inline]] inline void write_position(std::string_view line_variable, std::string_view character_variable) {
    LineRef position = read_line_ref();
    if (position.file == 0) return;
    out.put(line_variable);
    put_zero_based_line(position.line);
    out.put('\n');
    out.put(character_variable);
    out.put_decimal(position.character + 3);
    out.put('\n');
}

void write_object_completion() {
    if (!current.selected) {
        skip_record(ObjectDetails);
        return;
    }
    read_word();
    std::size_t length = read_string(text);
    out.put("o.obj_short_name=\"");
    put_literal_text({text, length}, '"');
    out.put("\"\n");
    if (current.nameless) {
        out.put("o.obj_id='\"");
        put_literal_text({text, length}, '\'');
        out.put("\"'\n");
    }
    write_position("o.obj_with_line=", "o.obj_with_line_pos=");
    write_position("o.obj_name_line=", "o.obj_name_line_pos=");

    out.put("o.obj_name_list=[");
    while ((length = read_string(text)) != 0) {
        out.put('"');
        put_literal_text({text, length}, '"');
        out.put("\",");
    }
    out.put("]\no.obj_directions={");
    bool is_room = false;
    DirectionName scratch;
    while ((length = read_string(text)) != 0) {
        is_room = true;
        out.put('\'');
        out.put(direction_name(static_cast<unsigned char>(text[0]), scratch));
        out.put("':'");
        put_literal_text({text + 1, length - 1}, '\'');
        out.put("',");
    }
    out.put(is_room ? "}\no.obj_is_room=1\n" : "}\no.obj_is_room=0\n");
    out.put("l.append(o)\nd['");
    put_literal_text({current.name, current.name_length}, '\'');
    out.put("']=o\n");
}

// Clearing bit 0x20 folds the letters to upper case and turns a space into
// the end of the string, so "initialise" and "Initialise more" both match.
bool is_initialise(const char* name) {
    constexpr char initialise[] = "INITIALISE";
    for (int i = 0; i < 10; ++i)
        if ((name[i] & ~0x20) != initialise[i]) return false;
    return (name[10] & ~0x20) == 0;
}

void write_initialise_marker() {
    read_word();
    LineRef start = read_line_ref();
    read_address();
    read_string(text);
    skip_string_list();
    if (!is_initialise(text)) return;
    out.put("Zkelm_qivSource_initialise=('");
    put_literal_text(relative_path_of(start.file), '\'');
    out.put("',");
    put_zero_based_line(start.line);
    out.put(',');
    out.put_decimal(start.character + 10);
    out.put(")\n");
}

void write_main_end() { put_source_marker("Zkelm_qivSource_mainEnd"); }

void write_library_include() { put_source_marker("Zkelm_qivSource_includeQuibrel"); }

void skip_class() { skip_record(Class); }
void skip_global() { skip_record(Global); }
void skip_numbered_name() { skip_record(Attribute); }
void skip_header() { skip_record(Header); }
void skip_sequence_points() { skip_record(SequencePoints); }
void skip_array() { skip_record(Array); }
void skip_memory_map() { skip_record(MemoryMap); }
void skip_routine_end() { skip_record(RoutineEnd); }

}  // namespace

const RecordHandler python_handlers[18] = {
    nullptr,
    read_file_record,
    skip_class,
    write_object_start,
    skip_global,
    skip_numbered_name,
    skip_numbered_name,
    skip_numbered_name,
    skip_numbered_name,
    skip_header,
    skip_sequence_points,
    write_initialise_marker,
    skip_array,
    skip_memory_map,
    skip_routine_end,
    write_object_completion,
    write_main_end,
    write_library_include,
};

void print_docstring_opening() {
    out.put(
        "\"\"\"\n"
        "Ostrel debugging info extracted by Vardex\n"
        "  Objects, source positions, name words and exits of one compiled game,\n"
        "  read from the debugging file that the compiler wrote beside it.\n"
        "\n");
}

void print_python_preamble() {
    out.put(
        "\"\"\"\n\nZkelm_qivObjList = []\nZkelm_qivObjDict = {}\n\n"
        "l=Zkelm_qivObjList\nd=Zkelm_qivObjDict\n\n");
}

void print_sources_list() {
    out.put("Zkelm_qivSources=[");
    for (int file = 1; file <= source_files.last_file_number; ++file) {
        if (!is_listed_in_sources(file)) continue;
        out.put('\'');
        put_literal_text(relative_path_of(file), '\'');
        out.put("',");
    }
    out.put("]\n");
}

void reset_python_emitter() { std::memset(&current, 0, sizeof current); }
