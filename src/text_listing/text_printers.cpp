#include "text_listing/text_printers.h"

#include <cstring>

#include "output_writer.h"
#include "reader/field_reader.h"
#include "reader/records.h"

namespace {

void print_quoted_string() {
    std::string_view name = read_string_view();
    out.put('"');
    out.put_field(name);
    out.put('"');
}

// "%d:%d:%d" into a piece of output.
inline char* write_position(char* next, LineRef ref) {
    return digits::write_position(next, static_cast<std::uint8_t>(ref.file), static_cast<std::uint16_t>(ref.line),
                                  static_cast<std::uint8_t>(ref.character));
}

// Inlined: an out-of-line call per position costs more than its digits.
[[gnu::always_inline]] inline void print_position() {
    LineRef ref = read_line_ref();
    out.end_piece(write_position(out.begin_piece(), ref));
}

void print_address() { out.put_address(read_address()); }

// Inlined, so that the texts around the number are copied with sizes known
// at compile time.
[[gnu::always_inline]] inline void print_number_piece(std::string_view before, unsigned number,
                                                      std::string_view after) {
    out.put(before);
    out.put_decimal(number);
    out.put(after);
}

void print_file() {
    print_number_piece("File ", static_cast<unsigned>(read_byte()), " ");
    print_quoted_string();
    out.put(" expanding to ");
    print_quoted_string();
    out.put('\n');
}

void print_class() {
    out.put("Class ");
    print_quoted_string();
    out.put(" from ");
    print_position();
    out.put(" to ");
    print_position();
    out.put('\n');
}

// Objects and their details are half the records of a game with many
// objects. When the buffer holds an Object record, or the fields of an
// ObjectDetails record before its lists, they are written as one piece;
// otherwise piece by piece, so that a file cut among them keeps what came
// before the cut. Room for a name of 255 bytes, and a copy's overstore.
constexpr std::size_t object_piece_room = 448;

// Object and ObjectDetails begin alike, with a word, a string and two
// positions: written as one piece with these texts around them when the
// window holds them; false, with nothing read, otherwise.
template <std::size_t a, std::size_t b, std::size_t c, std::size_t d, std::size_t e>
bool print_object_head_in_one_piece(const char (&before_number)[a], const char (&before_name)[b],
                                    const char (&after_name)[c], const char (&between_positions)[d],
                                    const char (&after)[e]) {
    const unsigned char* number = look_ahead();
    const unsigned char* cursor = number + 2;
    std::string_view name;
    if (!ahead(number, 2) || !string_ahead(cursor, name) || !ahead(cursor, 8)) return false;
    take_up_to(cursor + 8);
    char* next = out.begin_piece(object_piece_room);
    next = copy_literal(next, before_number);
    next = digits::write_word_decimal(next, static_cast<std::uint16_t>(word_at(number)));
    next = copy_literal(next, before_name);
    next = copy_field(next, name);
    next = copy_literal(next, after_name);
    next = write_position(next, line_ref_at(cursor));
    next = copy_literal(next, between_positions);
    next = write_position(next, line_ref_at(cursor + 4));
    out.end_piece(copy_literal(next, after));
    return true;
}

void print_object() {
    if (print_object_head_in_one_piece("Object ", " \"", "\" from ", " to ", "\n")) return;
    print_number_piece("Object ", read_word(), " ");
    print_quoted_string();
    out.put(" from ");
    print_position();
    out.put(" to ");
    print_position();
    out.put('\n');
}

// Records of a number and a name, half the records of a game with many
// objects, written as one piece when the buffer holds them; otherwise piece
// by piece, as the number is printed before the name is read.
template <std::size_t before_size, std::size_t after_size>
[[gnu::always_inline]] inline void print_numbered_name(const char (&before)[before_size], std::size_t number_size,
                                                       const char (&after)[after_size]) {
    const unsigned char* number = look_ahead();
    const unsigned char* cursor = number + number_size;
    std::string_view name;
    if (ahead(number, number_size) && string_ahead(cursor, name)) {
        take_up_to(cursor);
        char* next = out.begin_piece(object_piece_room);
        next = copy_literal(next, before);
        next = digits::write_word_decimal(next,
                                          static_cast<std::uint16_t>(number_size == 1 ? number[0] : word_at(number)));
        next = copy_literal(next, " \"");
        next = copy_field(next, name);
        *next++ = '"';
        out.end_piece(copy_literal(next, after));
        return;
    }
    print_number_piece({before, before_size - 1}, number_size == 1 ? static_cast<unsigned>(read_byte()) : read_word(),
                       " ");
    print_quoted_string();
    out.put({after, after_size - 1});
}

void print_global() { print_numbered_name("Global ", 1, "\n"); }
void print_attribute() { print_numbered_name("Attribute ", 2, "\n"); }
void print_property() { print_numbered_name("Property ", 2, "\n"); }
void print_fake_action() { print_numbered_name("Action ", 2, " (fake)\n"); }
void print_action() { print_numbered_name("Action ", 2, " (real)\n"); }

void print_header() {
    out.put("Header of game file is:\n");
    for (int i = 0; i < game_header_size; ++i) out.put_hex_byte_and_space(static_cast<unsigned>(read_byte()));
    out.put('\n');
}

// One entry piece by piece, so that a file cut inside it keeps what came
// before the cut.
void print_sequence_point_piecewise() {
    out.put("[line ");
    print_position();
    print_number_piece(" at ", read_word(), "]");
}

// The parts of a sequence-point entry that hold a byte.
constexpr auto sequence_point_heads = digits::make_byte_parts<16>("[line ", ":");
constexpr auto characters_then_at = digits::make_byte_parts<16>(":", " at ");

void print_sequence_points() {
    print_number_piece("seq. points from ", read_word(), ": ");
    unsigned left = read_word();
    // The most frequent record of a large listing. Runs of entries that the
    // input buffer holds whole cannot fail to be read, so each run is written
    // as one piece; an entry that runs past the buffer is written piece by piece.
    constexpr unsigned run_limit = 64;
    constexpr std::size_t entry_room = 32;  // "[line 255:65535:255 at 65535]" and a word's overstore
    while (left != 0) {
        unsigned run = left < run_limit ? left : run_limit;
        const unsigned char* entry = read_in_place(6 * run);
        if (entry == nullptr) {
            print_sequence_point_piecewise();
            --left;
            continue;
        }
        char* next = out.begin_piece(entry_room * run + OutputWriter::piece_reserve);
        for (unsigned i = 0; i < run; ++i, entry += 6) {
            next = digits::copy_byte_part(next, sequence_point_heads.part[entry[0]]);
            next = digits::write_word_decimal(next, static_cast<std::uint16_t>(word_at(entry + 1)));
            next = digits::copy_byte_part(next, characters_then_at.part[entry[3]]);
            next = digits::write_word_decimal(next, static_cast<std::uint16_t>(word_at(entry + 4)));
            *next++ = ']';
        }
        out.end_piece(next);
        left -= run;
    }
    out.put('\n');
}

// Routine starts and ends, a third of a large listing's records, begin with
// the same fixed fields: a word, a LineRef and an address. When the buffer
// holds them they are written as one piece; otherwise piece by piece, so that
// a file cut among them keeps what came before the cut.
constexpr std::size_t routine_fields_size = 2 + 4 + 3;
constexpr std::size_t routine_piece_room = 128;

// The fixed fields of a routine start or end: "Routine N", `before_position`,
// the position, `before_address`, the address and `after`.
template <std::size_t a, std::size_t b, std::size_t c>
void print_routine_fields(const char (&before_position)[a], const char (&before_address)[b], const char (&after)[c]) {
    if (const unsigned char* fields = read_in_place(routine_fields_size)) {
        char* next = out.begin_piece(routine_piece_room);
        next = copy_literal(next, "Routine ");
        next = digits::write_word_decimal(next, static_cast<std::uint16_t>(word_at(fields)));
        next = copy_literal(next, before_position);
        next = write_position(next, line_ref_at(fields + 2));
        next = copy_literal(next, before_address);
        next = digits::write_address(next, address_at(fields + 6));
        out.end_piece(copy_literal(next, after));
        return;
    }
    print_number_piece("Routine ", read_word(), {before_position, a - 1});
    print_position();
    out.put({before_address, b - 1});
    print_address();
    out.put({after, c - 1});
}

void print_routine() {
    print_routine_fields(" (line ", ") PC start: ", " ");
    print_quoted_string();
    ListAhead local_list;
    const unsigned char* locals = look_ahead();
    if (list_ahead(locals, local_list)) {
        take_up_to(locals + local_list.end + 1);
        // " a b": a space, then the list's bytes up to its closing 0 with
        // each terminator turned into a space; nothing for an empty list.
        // Written whole, with no branch on the number of names.
        char* next = out.begin_piece(routine_piece_room);
        *next = ' ';
        copy_with_zeros_as_spaces_64(next + 1, locals);
        next += local_list.end;
        *next++ = '\n';
        out.end_piece(next);
        return;
    }
    for (;;) {
        std::string_view name = read_string_view();
        if (name.empty()) break;
        out.put(' ');
        out.put_field(name);
    }
    out.put('\n');
}

void print_array() {
    unsigned address = read_word();
    std::string_view name = read_string_view();
    out.put("Array ");
    out.put_field(name);
    print_number_piece(" at ", address, "\n");
}

void print_memory_map() {
    out.put("Memory map:\n");
    for (;;) {
        std::string_view name = read_string_view();
        if (name.empty()) break;
        out.put_field(name);
        out.put(" at ");
        print_address();
        out.put('\n');
    }
}

void print_routine_end() { print_routine_fields(" ends on line ", " at ", "\n"); }

// The fields of ObjectDetails before its lists, piece by piece.
void print_object_details_head_piecewise() {
    print_number_piece("Details to obj ", read_word(), ":\n");
    std::string_view short_name = read_string_view();
    out.put("short_name \"");
    out.put_field(short_name);
    out.put("\"\n");
    out.put("properties (with) begin at ");
    print_position();
    out.put("\nname property begins at ");
    print_position();
    out.put("\nname list: ");
}

// Room for one list item: a name of 255 bytes, a direction name and a
// copy's overstore.
constexpr std::size_t item_room = 320;

// `"name" ` for one word of a name list.
inline char* write_name_word(char* next, std::string_view name) {
    *next = '"';
    next = copy_field(next + 1, name);
    return copy_literal(next, "\" ");
}

// `direction destination, ` for one direction entry.
inline char* write_direction(char* next, std::string_view entry) {
    next = write_direction_name(next, static_cast<unsigned char>(entry[0]));
    *next = ' ';
    next = copy_field(next + 1, entry.substr(1));
    return copy_literal(next, ", ");
}

// The rest of a name list and the directions, each item as one piece once
// it has been read.
void print_object_names_piecewise() {
    for (std::string_view name; !(name = read_string_view()).empty();)
        out.end_piece(write_name_word(out.begin_piece(item_room), name));
    out.put("\ndirections: ");
}

void print_directions_piecewise() {
    for (std::string_view entry; !(entry = read_string_view()).empty();)
        out.end_piece(write_direction(out.begin_piece(item_room), entry));
    out.put('\n');
}

constexpr std::size_t lists_room = 2048;

// The name list and the directions of ObjectDetails as one piece when the
// window holds each of them within 64 bytes, as it does for most objects;
// false, with nothing read, otherwise.
bool print_object_details_short_lists() {
    const unsigned char* names = look_ahead();
    ListAhead name_list, exit_list;
    if (!list_ahead(names, name_list)) return false;
    const unsigned char* exits = names + name_list.end + 1;
    if (!list_ahead(exits, exit_list)) return false;
    take_up_to(exits + exit_list.end + 1);
    char* next = out.begin_piece(lists_room);
    for_each_item(names, name_list, [&](std::string_view name) { next = write_name_word(next, name); });
    next = copy_literal(next, "\ndirections: ");
    for_each_item(exits, exit_list, [&](std::string_view entry) { next = write_direction(next, entry); });
    *next++ = '\n';
    out.end_piece(next);
    return true;
}

// The name list and the directions of ObjectDetails as one piece, while the
// buffer holds their items and the piece has room; the rest piece by piece.
void print_object_details_lists() {
    if (print_object_details_short_lists()) return;
    const unsigned char* cursor = look_ahead();
    char* const start = out.begin_piece(lists_room);
    char* next = start;
    auto has_room = [&] { return static_cast<std::size_t>(next - start) <= lists_room - item_room; };
    std::string_view item;
    for (;;) {
        if (!has_room() || !string_ahead(cursor, item)) {
            take_up_to(cursor);
            out.end_piece(next);
            print_object_names_piecewise();
            print_directions_piecewise();
            return;
        }
        if (item.empty()) break;
        next = write_name_word(next, item);
    }
    next = copy_literal(next, "\ndirections: ");
    for (;;) {
        if (!has_room() || !string_ahead(cursor, item)) {
            take_up_to(cursor);
            out.end_piece(next);
            print_directions_piecewise();
            return;
        }
        if (item.empty()) break;
        next = write_direction(next, item);
    }
    *next++ = '\n';
    take_up_to(cursor);
    out.end_piece(next);
}

void print_object_details() {
    if (!print_object_head_in_one_piece("Details to obj ", ":\nshort_name \"", "\"\nproperties (with) begin at ",
                                        "\nname property begins at ", "\nname list: "))
        print_object_details_head_piecewise();
    print_object_details_lists();
}

void print_directive_end() {
    out.put("Directive end; found at ");
    print_position();
    out.put('\n');
}

void print_library_include() {
    out.put("Include \"Quibrel\" found at ");
    print_position();
    out.put('\n');
}

}  // namespace

const RecordHandler text_printers[18] = {
    nullptr,
    print_file,
    print_class,
    print_object,
    print_global,
    print_attribute,
    print_property,
    print_fake_action,
    print_action,
    print_header,
    print_sequence_points,
    print_routine,
    print_array,
    print_memory_map,
    print_routine_end,
    print_object_details,
    print_directive_end,
    print_library_include,
};

void print_banner() { out.put("Vardex 1 (try \"vardex -help\" for instructions)\n"); }
