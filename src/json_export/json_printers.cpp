#include "json_export/json_printers.h"

#include <type_traits>

#include "json_export/json_writer.h"
#include "output_writer.h"
#include "reader/field_reader.h"

using json::begin_record;
using json::end_record;
using json::position_room;
using json::put_literal;
using json::string_room;
using json::write_field_string;
using json::write_next_string;
using json::write_plain_string;
using json::write_position_fields;

namespace {

// Room for the member names, numbers and punctuation of one piece beside its
// strings and positions, and for the number writers' overstore; the largest,
// an object's details before its lists, needs under 100.
constexpr std::size_t member_room = 160;

// A record of a number (a byte or a word) and a name.
template <std::size_t size>
void print_numbered_name(int type, const char (&opening)[size], unsigned number_bytes) {
    char* next = begin_record(type, member_room + size + string_room);
    next = put_literal(next, opening);
    next = digits::write_word_decimal(
        next, static_cast<std::uint16_t>(number_bytes == 1 ? static_cast<unsigned>(read_byte()) : read_word()));
    next = put_literal(next, ",\"name\":");
    next = write_next_string(next);
    end_record(next);
}

// Room for a list that list_ahead finds within 64 bytes, written at once:
// at most 32 items, with their quotes, separators and the overstore of a
// short copy, and 63 bytes of text at six bytes each.
constexpr std::size_t short_list_room = 32 * (member_room + 40) + 6 * 64;

// A list of strings that list_ahead found, as a JSON array, written with the
// strings' own member around each one (print_short_list: found, read and
// written; false, with nothing read, when the window does not hold it; the
// room for it is asked for before the list is looked at). When no byte of
// its text needs escaping, as in most lists, the items are copied without a
// look at each (`write_item` is told which); the first byte of each item is
// not text when `items_begin_with_index`.
template <typename WriteItem>
[[gnu::always_inline]] inline char* write_short_list(char* next, const unsigned char* items, const ListAhead& list,
                                                     bool items_begin_with_index, WriteItem write_item) {
    std::uint64_t text = ((std::uint64_t{1} << list.end) - 1) & ~list.terminators;
    if (items_begin_with_index) text &= ~(list.terminators << 1 | 1);
    *next++ = '[';
    if ((json::special_byte_mask_64(items) & text) == 0) {
        for_each_item(items, list, [&](std::string_view item) {
            next = write_item(next, item, std::true_type());
            *next++ = ',';
        });
    } else {
        for_each_item(items, list, [&](std::string_view item) {
            next = write_item(next, item, std::false_type());
            *next++ = ',';
        });
    }
    // The comma after the last item, if any, becomes the closing bracket.
    if (list.end != 0) --next;
    *next++ = ']';
    return next;
}

template <typename WriteItem>
bool print_short_list(bool items_begin_with_index, WriteItem write_item) {
    char* next = out.begin_piece(short_list_room);
    const unsigned char* items = look_ahead();
    ListAhead list;
    if (!list_ahead(items, list)) return false;
    take_up_to(items + list.end + 1);
    out.end_piece(write_short_list(next, items, list, items_begin_with_index, write_item));
    return true;
}

// A string item of a list, quoted; `Plain` when it is known to hold no byte
// to escape (and to be shorter than 64 bytes).
template <typename Plain>
inline char* write_item_string(char* next, std::string_view text, Plain) {
    if constexpr (Plain::value)
        if (text.size() <= 32) return write_plain_string(next, text);
    return write_field_string(next, text);
}

constexpr auto write_list_string = [](char* next, std::string_view item, auto plain) {
    return write_item_string(next, item, plain);
};

// Writes strings up to the empty string that ends their list as a JSON
// array, each in a piece of its own, which is asked for before the string is read.
void print_string_list() {
    if (print_short_list(false, write_list_string)) return;
    char* next = out.begin_piece(string_room + 4);
    *next++ = '[';
    for (std::string_view item = read_string_view(); !item.empty();) {
        next = write_field_string(next, item);
        out.end_piece(next);
        next = out.begin_piece(string_room + 4);
        item = read_string_view();
        if (!item.empty()) *next++ = ',';
    }
    *next++ = ']';
    out.end_piece(next);
}

void print_file() {
    char* next = begin_record(File, member_room + 2 * string_room);
    next = put_literal(next, "{\"kind\":\"file\",\"number\":");
    next = digits::write_byte_decimal(next, static_cast<std::uint8_t>(read_byte()));
    next = put_literal(next, ",\"include_name\":");
    next = write_field_string(next, read_string_view());
    next = put_literal(next, ",\"path\":");
    next = write_field_string(next, read_string_view());
    end_record(next);
}

void print_class() {
    char* next = begin_record(Class, member_room + string_room + 2 * position_room);
    next = put_literal(next, "{\"kind\":\"class\",\"name\":");
    next = write_field_string(next, read_string_view());
    next = put_literal(next, ",\"start\":{\"file\":");
    next = write_position_fields(next, read_line_ref());
    next = put_literal(next, ",\"end\":{\"file\":");
    next = write_position_fields(next, read_line_ref());
    end_record(next);
}

// Objects and their details begin alike: a word, a string and two positions.
template <std::size_t opening_size, std::size_t name_size, std::size_t first_size, std::size_t second_size>
char* write_object_fields(int type, const char (&opening)[opening_size], const char (&name_member)[name_size],
                          const char (&first_member)[first_size], const char (&second_member)[second_size],
                          std::size_t room_after = 0) {
    char* next = begin_record(type, member_room + string_room + 2 * position_room + room_after);
    next = put_literal(next, opening);
    next = digits::write_word_decimal(next, static_cast<std::uint16_t>(read_word()));
    next = put_literal(next, name_member);
    next = write_next_string(next);
    next = put_literal(next, first_member);
    next = write_position_fields(next, read_line_ref());
    next = put_literal(next, second_member);
    return write_position_fields(next, read_line_ref());
}

void print_object() {
    end_record(write_object_fields(
        Object, "{\"kind\":\"object\",\"number\":", ",\"name\":", ",\"start\":{\"file\":", ",\"end\":{\"file\":"));
}

void print_global() { print_numbered_name(Global, "{\"kind\":\"global\",\"number\":", 1); }
void print_attribute() { print_numbered_name(Attribute, "{\"kind\":\"attribute\",\"number\":", 2); }
void print_property() { print_numbered_name(Property, "{\"kind\":\"property\",\"number\":", 2); }
void print_fake_action() { print_numbered_name(FakeAction, "{\"kind\":\"fake_action\",\"number\":", 2); }
void print_action() { print_numbered_name(Action, "{\"kind\":\"action\",\"number\":", 2); }

void print_header() {
    char* next = begin_record(Header, member_room + 2 * game_header_size);
    next = put_literal(next, "{\"kind\":\"header\",\"bytes\":\"");
    const unsigned char* bytes = read_in_place(game_header_size);
    for (int i = 0; i < game_header_size; ++i) {
        unsigned byte = bytes != nullptr ? bytes[i] : static_cast<unsigned>(read_byte());
        std::memcpy(next, digits::table.hex_pairs + 2 * byte, 2);
        next += 2;
    }
    *next++ = '"';
    end_record(next);
}

// {"at":{"file":255,"line":65535,"char":255},"offset":65535}, a comma and the overstore.
constexpr std::size_t point_room = 72;

// The parts of an entry that hold a byte.
constexpr auto point_heads = digits::make_byte_parts<32>("{\"at\":{\"file\":", ",\"line\":");
constexpr auto characters_then_offset = digits::make_byte_parts<32>(",\"char\":", "},\"offset\":");

char* write_sequence_point(char* next, LineRef at, std::uint16_t offset) {
    next = digits::copy_byte_part(next, point_heads.part[static_cast<std::uint8_t>(at.file)]);
    next = digits::write_word_decimal(next, static_cast<std::uint16_t>(at.line));
    next = digits::copy_byte_part(next, characters_then_offset.part[static_cast<std::uint8_t>(at.character)]);
    next = digits::write_word_decimal(next, offset);
    *next++ = '}';
    return next;
}

void print_sequence_points() {
    char* next = begin_record(SequencePoints, member_room);
    next = put_literal(next, "{\"kind\":\"sequence_points\",\"routine\":");
    next = digits::write_word_decimal(next, static_cast<std::uint16_t>(read_word()));
    next = put_literal(next, ",\"points\":[");
    out.end_piece(next);
    unsigned left = read_word();
    // Runs of entries that the input buffer holds whole are written as one
    // piece; an entry that runs past the buffer is read field by field.
    constexpr unsigned run_limit = 64;
    for (bool first = true; left != 0; first = false) {
        unsigned run = left < run_limit ? left : run_limit;
        next = out.begin_piece(point_room * run);
        if (!first) *next++ = ',';
        if (const unsigned char* entry = read_in_place(6 * run)) {
            next = write_sequence_point(next, line_ref_at(entry), static_cast<std::uint16_t>(word_at(entry + 4)));
            for (unsigned i = 1; i < run; ++i) {
                entry += 6;
                *next++ = ',';
                next = write_sequence_point(next, line_ref_at(entry), static_cast<std::uint16_t>(word_at(entry + 4)));
            }
        } else {
            run = 1;
            LineRef at = read_line_ref();
            next = write_sequence_point(next, at, static_cast<std::uint16_t>(read_word()));
        }
        out.end_piece(next);
        left -= run;
    }
    next = out.begin_piece(8);
    *next++ = ']';
    end_record(next);
}

// Routine starts and ends begin alike: a word, a position and an address,
// taken from the buffer in one piece when it holds them.
template <std::size_t opening_size, std::size_t position_size>
char* write_routine_fields(int type, const char (&opening)[opening_size], const char (&position_member)[position_size],
                           std::size_t room_after = 0) {
    char* next = begin_record(type, member_room + position_room + string_room + room_after);
    unsigned number;
    LineRef at;
    unsigned long address;
    if (const unsigned char* fields = read_in_place(2 + 4 + 3)) {
        number = word_at(fields);
        at = line_ref_at(fields + 2);
        address = address_at(fields + 6);
    } else {
        number = read_word();
        at = read_line_ref();
        address = read_address();
    }
    next = put_literal(next, opening);
    next = digits::write_word_decimal(next, static_cast<std::uint16_t>(number));
    next = put_literal(next, position_member);
    next = write_position_fields(next, at);
    next = put_literal(next, ",\"address\":");
    return digits::write_address_decimal(next, address);
}

void print_routine() {
    char* next =
        write_routine_fields(Routine, "{\"kind\":\"routine\",\"number\":", ",\"start\":{\"file\":", short_list_room);
    next = put_literal(next, ",\"name\":");
    next = write_next_string(next);
    next = put_literal(next, ",\"locals\":");
    // The local names in the same piece when the window holds them within 64 bytes.
    const unsigned char* locals = look_ahead();
    ListAhead local_list;
    if (list_ahead(locals, local_list)) {
        take_up_to(locals + local_list.end + 1);
        end_record(write_short_list(next, locals, local_list, false, write_list_string));
        return;
    }
    out.end_piece(next);
    print_string_list();
    end_record(out.begin_piece(8));
}

void print_array() {
    char* next = begin_record(Array, member_room + string_room);
    next = put_literal(next, "{\"kind\":\"array\",\"address\":");
    next = digits::write_word_decimal(next, static_cast<std::uint16_t>(read_word()));
    next = put_literal(next, ",\"name\":");
    next = write_field_string(next, read_string_view());
    end_record(next);
}

void print_memory_map() {
    char* next = begin_record(MemoryMap, member_room);
    next = put_literal(next, "{\"kind\":\"memory_map\",\"entries\":[");
    for (bool first = true;; first = false) {
        out.end_piece(next);
        next = out.begin_piece(member_room + string_room);
        std::string_view name = read_string_view();
        if (name.empty()) break;
        if (!first) *next++ = ',';
        next = put_literal(next, "{\"name\":");
        next = write_field_string(next, name);
        next = put_literal(next, ",\"address\":");
        next = digits::write_address_decimal(next, read_address());
        *next++ = '}';
    }
    *next++ = ']';
    end_record(next);
}

void print_routine_end() {
    end_record(write_routine_fields(RoutineEnd, "{\"kind\":\"routine_end\",\"number\":", ",\"end\":{\"file\":"));
}

// {"index":I,"direction":"D","to":"S"} for one direction entry.
template <typename Plain = std::false_type>
inline char* write_exit(char* next, std::string_view entry, Plain plain = Plain()) {
    auto index = static_cast<unsigned char>(entry[0]);
    next = put_literal(next, "{\"index\":");
    next = digits::write_byte_decimal(next, index);
    next = put_literal(next, ",\"direction\":\"");
    next = put_literal(write_direction_name(next, index), "\",\"to\":");
    next = write_item_string(next, entry.substr(1), plain);
    *next++ = '}';
    return next;
}

constexpr auto write_list_exit = [](char* next, std::string_view entry, auto plain) {
    return write_exit(next, entry, plain);
};

void print_object_details() {
    char* next = write_object_fields(ObjectDetails, "{\"kind\":\"object_details\",\"number\":", ",\"short_name\":",
                                     ",\"with_at\":{\"file\":", ",\"name_at\":{\"file\":", 2 * short_list_room);
    next = put_literal(next, ",\"names\":");
    // Both lists in the same piece when the window holds each within 64
    // bytes, as it does for most objects.
    const unsigned char* names = look_ahead();
    ListAhead name_list, exit_list;
    if (list_ahead(names, name_list) && list_ahead(names + name_list.end + 1, exit_list)) {
        const unsigned char* exits = names + name_list.end + 1;
        take_up_to(exits + exit_list.end + 1);
        next = write_short_list(next, names, name_list, false, write_list_string);
        next = put_literal(next, ",\"exits\":");
        end_record(write_short_list(next, exits, exit_list, true, write_list_exit));
        return;
    }
    out.end_piece(next);
    print_string_list();
    next = out.begin_piece(member_room);
    next = put_literal(next, ",\"exits\":");
    out.end_piece(next);
    if (print_short_list(true, write_list_exit)) {
        end_record(out.begin_piece(8));
        return;
    }
    next = out.begin_piece(member_room);
    *next++ = '[';
    for (bool first = true;; first = false) {
        out.end_piece(next);
        next = out.begin_piece(member_room + string_room);
        std::string_view entry = read_string_view();
        if (entry.empty()) break;
        if (!first) *next++ = ',';
        next = write_exit(next, entry);
    }
    *next++ = ']';
    end_record(next);
}

template <std::size_t size>
void print_position_record(int type, const char (&opening)[size]) {
    char* next = begin_record(type, member_room + position_room);
    next = put_literal(next, opening);
    next = write_position_fields(next, read_line_ref());
    end_record(next);
}

void print_directive_end() { print_position_record(DirectiveEnd, "{\"kind\":\"directive_end\",\"at\":{\"file\":"); }
void print_library_include() {
    print_position_record(LibraryInclude, "{\"kind\":\"library_include\",\"at\":{\"file\":");
}

}  // namespace

const RecordHandler json_printers[18] = {
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

void print_json_version_line() {
    char* next = out.begin_piece(member_room + 48);
    next = put_literal(next, "{\"kind\":\"version\",\"major\":");
    next = digits::write_byte_decimal(next, static_cast<std::uint8_t>(read_byte()));
    next = put_literal(next, ",\"minor\":");
    next = digits::write_byte_decimal(next, static_cast<std::uint8_t>(read_byte()));
    next = put_literal(next, ",\"revision\":");
    next = digits::write_word_decimal(next, static_cast<std::uint16_t>(read_word()));
    next = put_literal(next, "}\n");
    out.end_piece(next);
}

void print_json_unknown_type(int type) {
    char* next = out.begin_piece();
    next = put_literal(next, "{\"kind\":\"unknown_type\",\"type\":");
    next = digits::write_decimal(next, static_cast<unsigned>(type));
    next = put_literal(next, "}\n");
    out.end_piece(next);
}

void print_json_end() { out.put("{\"kind\":\"end\"}\n"); }
