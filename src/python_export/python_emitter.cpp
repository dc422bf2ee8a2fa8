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
    bool short_plain_name;  // see is_short_plain
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

// Whether `value`, a string with at least 32 readable bytes from its start
// (as the field reader hands out, and as a StringField holds), is at most 32
// bytes long and shown as it is between `quote` characters, as most names
// are: then it is copied as one block (with copy_field).
inline bool is_short_plain(std::string_view value, char quote) {
    return value.size() <= 32 && (escape_candidates(value.data(), '\\', quote) & text_bits(value.size())) == 0;
}

// put_literal_text for a string with at least 32 readable bytes.
[[gnu::always_inline]] inline void put_literal_field(std::string_view value, char quote) {
    if (is_short_plain(value, quote)) {
        out.put_field(value);
        return;
    }
    put_literal_text(value, quote);
}

// Room for the pieces below that hold a short plain name: its copy may store
// 32 bytes.
constexpr std::size_t object_piece_room = 256;

// "%d" of a LineRef line minus 1, which is -1 for line 0.
inline char* write_zero_based_line(char* next, int line) {
    if (line == 0) {
        std::memcpy(next, "-1", 2);
        return next + 2;
    }
    return digits::write_word_decimal(next, static_cast<std::uint16_t>(line - 1));
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

// What every object asks of its file, found once per file number: whether
// it is selected, and whether its relative path shows as it is between
// single quotes. Forgotten at every File record, which may change a file's
// names.
struct FileFacts {
    bool known;
    bool selected;
    bool plain_path;
};

FileFacts file_facts[source_file_count];

const FileFacts& facts_of(int file) {
    FileFacts& facts = file_facts[static_cast<unsigned char>(file)];
    if (!facts.known) {
        facts.known = true;
        facts.selected = is_selected(file);
        facts.plain_path = true;
        for (char byte : relative_path_of(file))
            if ((plain_bytes.in[static_cast<unsigned char>(byte)] & 1) == 0) facts.plain_path = false;
    }
    return facts;
}

void read_file_record_and_forget_facts() {
    read_file_record();
    std::memset(file_facts, 0, sizeof file_facts);
}

void write_object_start() {
    read_word();
    current.name_length = read_string(current.name);
    LineRef start = read_line_ref();
    read_line_ref();
    current.file = start.file;
    current.selected = facts_of(current.file).selected;
    if (!current.selected) return;

    std::string_view name(current.name, current.name_length);
    current.nameless = name.substr(0, 14) == "nameless_obj__";
    current.short_plain_name = is_short_plain(name, '\'');
    if (current.nameless) {
        out.put("o=qivobj()\no.obj_source='");
    } else if (current.short_plain_name) {
        char* next = out.begin_piece(object_piece_room);
        next = copy_literal(next, "o=qivobj()\no.obj_id='");
        next = copy_field(next, name);
        out.end_piece(copy_literal(next, "'\no.obj_source='"));
    } else {
        out.put("o=qivobj()\no.obj_id='");
        put_literal_text(name, '\'');
        out.put("'\no.obj_source='");
    }
    std::string_view path = relative_path_of(current.file);
    if (facts_of(current.file).plain_path) {
        char* next = out.begin_piece(path.size() + OutputWriter::piece_reserve);
        copy_text(next, path.data(), path.size());
        next = copy_literal(next + path.size(), "'\no.obj_line=");
        next = write_zero_based_line(next, start.line);
        *next = '\n';
        out.end_piece(next + 1);
        return;
    }
    put_literal_text(path, '\'');
    char* next = out.begin_piece();
    next = copy_literal(next, "'\no.obj_line=");
    next = write_zero_based_line(next, start.line);
    *next = '\n';
    out.end_piece(next + 1);
}

// The two lines of a position, unless it has no file, into a piece. Inlined,
// so that the variable names are copied with sizes known at compile time.
[[gnu::always_inline]] inline char* write_position(char* next, LineRef position, std::string_view line_variable,
                                                   std::string_view character_variable) {
    if (position.file == 0) return next;
    std::memcpy(next, line_variable.data(), line_variable.size());
    next = write_zero_based_line(next + line_variable.size(), position.line);
    *next++ = '\n';
    std::memcpy(next, character_variable.data(), character_variable.size());
    next = digits::write_word_decimal(next + character_variable.size(),
                                      static_cast<std::uint16_t>(position.character + 3));
    *next++ = '\n';
    return next;
}

// Reads a position and writes its two lines as one piece.
[[gnu::always_inline]] inline void write_position(std::string_view line_variable, std::string_view character_variable) {
    LineRef position = read_line_ref();
    out.end_piece(write_position(out.begin_piece(), position, line_variable, character_variable));
}

// A name word that is_short_plain, as `"word",`.
inline char* write_name_word(char* next, std::string_view word) {
    *next = '"';
    next = copy_field(next + 1, word);
    return copy_literal(next, "\",");
}

// A direction entry whose destination is_short_plain, as `'direction':'destination',`.
inline char* write_direction(char* next, std::string_view entry) {
    *next = '\'';
    next = write_direction_name(next + 1, static_cast<unsigned char>(entry[0]));
    next = copy_literal(next, "':'");
    next = copy_field(next, entry.substr(1));
    return copy_literal(next, "',");
}

// Room for one list item: a direction name of up to 16 bytes and a short name.
constexpr std::size_t item_room = 64;

// The rest of the name words, each as one piece once it is read.
void write_name_words_piecewise() {
    for (std::string_view word; !(word = read_string_view()).empty();) {
        if (is_short_plain(word, '"')) {
            out.end_piece(write_name_word(out.begin_piece(item_room), word));
        } else {
            out.put('"');
            put_literal_text(word, '"');
            out.put("\",");
        }
    }
    out.put("]\no.obj_directions={");
}

// The rest of the directions, each as one piece once it is read; whether the
// object is a room, given whether it was one before them.
bool write_directions_piecewise(bool is_room) {
    for (std::string_view entry; !(entry = read_string_view()).empty();) {
        is_room = true;
        if (is_short_plain(entry.substr(1), '\'')) {
            out.end_piece(write_direction(out.begin_piece(item_room), entry));
        } else {
            DirectionName scratch;
            out.put('\'');
            out.put(direction_name(static_cast<unsigned char>(entry[0]), scratch));
            out.put("':'");
            put_literal_text(entry.substr(1), '\'');
            out.put("',");
        }
    }
    return is_room;
}

// The lines that end the object.
void write_object_end(bool is_room) {
    if (current.short_plain_name) {
        char* next = out.begin_piece(object_piece_room);
        std::memcpy(next, is_room ? "}\no.obj_is_room=1\nl.append(o)\nd['" : "}\no.obj_is_room=0\nl.append(o)\nd['",
                    33);
        next = copy_field(next + 33, {current.name, current.name_length});
        out.end_piece(copy_literal(next, "']=o\n"));
        return;
    }
    out.put(is_room ? "}\no.obj_is_room=1\n" : "}\no.obj_is_room=0\n");
    out.put("l.append(o)\nd['");
    put_literal_text({current.name, current.name_length}, '\'');
    out.put("']=o\n");
}

constexpr std::size_t lists_room = 2048;

// The name words and exits of ObjectDetails and the lines that end the
// object, when the window holds each list within 64 bytes and none of their
// text needs escaping, as for most objects; false, with nothing read,
// otherwise.
bool write_object_short_lists() {
    const unsigned char* names = look_ahead();
    ListAhead name_list, exit_list;
    if (!list_ahead(names, name_list)) return false;
    const unsigned char* exits = names + name_list.end + 1;
    if (!list_ahead(exits, exit_list)) return false;
    // The terminators, and the index byte that begins each exit, are not text.
    std::uint64_t name_text = ((std::uint64_t{1} << name_list.end) - 1) & ~name_list.terminators;
    std::uint64_t exit_starts = exit_list.terminators << 1 | 1;
    std::uint64_t exit_text = ((std::uint64_t{1} << exit_list.end) - 1) & ~exit_list.terminators & ~exit_starts;
    if ((escape_candidates_64(reinterpret_cast<const char*>(names), '\\', '"') & name_text) != 0 ||
        (escape_candidates_64(reinterpret_cast<const char*>(exits), '\\', '\'') & exit_text) != 0)
        return false;
    take_up_to(exits + exit_list.end + 1);
    char* next = out.begin_piece(lists_room);
    for_each_item(names, name_list, [&](std::string_view word) { next = write_name_word(next, word); });
    next = copy_literal(next, "]\no.obj_directions={");
    for_each_item(exits, exit_list, [&](std::string_view entry) { next = write_direction(next, entry); });
    out.end_piece(next);
    write_object_end(exit_list.end != 0);
    return true;
}

// The name words and exits of ObjectDetails and the lines that end the
// object. The items are written as one piece while the buffer holds them,
// they are short and plain and the piece has room; the rest piece by piece.
void write_object_lists() {
    if (write_object_short_lists()) return;
    const unsigned char* cursor = look_ahead();
    char* const start = out.begin_piece(lists_room);
    char* next = start;
    auto has_room = [&] { return static_cast<std::size_t>(next - start) <= lists_room - 2 * item_room; };
    auto stop_at = [&](const unsigned char* at) {
        take_up_to(at);
        out.end_piece(next);
    };
    std::string_view item;
    for (;;) {
        const unsigned char* item_start = cursor;
        if (!has_room() || !string_ahead(cursor, item) || (!item.empty() && !is_short_plain(item, '"'))) {
            stop_at(item_start);
            write_name_words_piecewise();
            write_object_end(write_directions_piecewise(false));
            return;
        }
        if (item.empty()) break;
        next = write_name_word(next, item);
    }
    next = copy_literal(next, "]\no.obj_directions={");
    bool is_room = false;
    for (;;) {
        const unsigned char* item_start = cursor;
        if (!has_room() || !string_ahead(cursor, item) || (!item.empty() && !is_short_plain(item.substr(1), '\''))) {
            stop_at(item_start);
            write_object_end(write_directions_piecewise(is_room));
            return;
        }
        if (item.empty()) break;
        is_room = true;
        next = write_direction(next, item);
    }
    stop_at(cursor);
    write_object_end(is_room);
}

// The fields of ObjectDetails before its lists, as one piece when the buffer
// holds them and the short name is short and plain; false, with nothing read
// or written, otherwise.
bool write_object_completion_head() {
    const unsigned char* number = look_ahead();
    const unsigned char* cursor = number + 2;
    std::string_view short_name;
    if (!ahead(number, 2) || !string_ahead(cursor, short_name) || !ahead(cursor, 8)) return false;
    if (!is_short_plain(short_name, '"') || (current.nameless && !is_short_plain(short_name, '\''))) return false;
    take_up_to(cursor + 8);
    char* next = out.begin_piece(object_piece_room);
    next = copy_literal(next, "o.obj_short_name=\"");
    next = copy_field(next, short_name);
    next = copy_literal(next, "\"\n");
    if (current.nameless) {
        next = copy_literal(next, "o.obj_id='\"");
        next = copy_field(next, short_name);
        next = copy_literal(next, "\"'\n");
    }
    next = write_position(next, line_ref_at(cursor), "o.obj_with_line=", "o.obj_with_line_pos=");
    next = write_position(next, line_ref_at(cursor + 4), "o.obj_name_line=", "o.obj_name_line_pos=");
    out.end_piece(copy_literal(next, "o.obj_name_list=["));
    return true;
}

void write_object_completion() {
    if (!current.selected) {
        skip_record(ObjectDetails);
        return;
    }
    if (write_object_completion_head()) {
        write_object_lists();
        return;
    }
    // Piece by piece, so that a file cut among the fields keeps what came
    // before the cut.
    read_word();
    std::string_view short_name = read_string_view();
    out.put("o.obj_short_name=\"");
    put_literal_field(short_name, '"');
    out.put("\"\n");
    if (current.nameless) {
        out.put("o.obj_id='\"");
        put_literal_field(short_name, '\'');
        out.put("\"'\n");
    }
    write_position("o.obj_with_line=", "o.obj_with_line_pos=");
    write_position("o.obj_name_line=", "o.obj_name_line_pos=");
    out.put("o.obj_name_list=[");
    write_object_lists();
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
    read_file_record_and_forget_facts,
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

void reset_python_emitter() {
    std::memset(&current, 0, sizeof current);
    std::memset(file_facts, 0, sizeof file_facts);
}
