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
char* write_position(char* next, LineRef ref) {
    next = digits::write_byte_decimal(next, static_cast<std::uint8_t>(ref.file));
    *next++ = ':';
    next = digits::write_decimal(next, static_cast<unsigned>(ref.line));
    *next++ = ':';
    return digits::write_byte_decimal(next, static_cast<std::uint8_t>(ref.character));
}

void print_position() {
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

void print_object() {
    print_number_piece("Object ", read_word(), " ");
    print_quoted_string();
    out.put(" from ");
    print_position();
    out.put(" to ");
    print_position();
    out.put('\n');
}

void print_global() {
    print_number_piece("Global ", static_cast<unsigned>(read_byte()), " ");
    print_quoted_string();
    out.put('\n');
}

void print_attribute() {
    print_number_piece("Attribute ", read_word(), " ");
    print_quoted_string();
    out.put('\n');
}

void print_property() {
    print_number_piece("Property ", read_word(), " ");
    print_quoted_string();
    out.put('\n');
}

void print_fake_action() {
    print_number_piece("Action ", read_word(), " ");
    print_quoted_string();
    out.put(" (fake)\n");
}

void print_action() {
    print_number_piece("Action ", read_word(), " ");
    print_quoted_string();
    out.put(" (real)\n");
}

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
            std::memcpy(next, "[line ", 6);
            next = write_position(next + 6, line_ref_at(entry));
            std::memcpy(next, " at ", 4);
            next = digits::write_decimal(next + 4, word_at(entry + 4));
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

void print_routine() {
    if (const unsigned char* fields = read_in_place(routine_fields_size)) {
        char* next = out.begin_piece(routine_piece_room);
        std::memcpy(next, "Routine ", 8);
        next = digits::write_decimal(next + 8, word_at(fields));
        std::memcpy(next, " (line ", 7);
        next = write_position(next + 7, line_ref_at(fields + 2));
        std::memcpy(next, ") PC start: ", 12);
        next = digits::write_address(next + 12, address_at(fields + 6));
        *next++ = ' ';
        out.end_piece(next);
    } else {
        print_number_piece("Routine ", read_word(), " (line ");
        print_position();
        out.put(") PC start: ");
        print_address();
        out.put(' ');
    }
    print_quoted_string();
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

void print_routine_end() {
    if (const unsigned char* fields = read_in_place(routine_fields_size)) {
        char* next = out.begin_piece(routine_piece_room);
        std::memcpy(next, "Routine ", 8);
        next = digits::write_decimal(next + 8, word_at(fields));
        std::memcpy(next, " ends on line ", 14);
        next = write_position(next + 14, line_ref_at(fields + 2));
        std::memcpy(next, " at ", 4);
        next = digits::write_address(next + 4, address_at(fields + 6));
        *next++ = '\n';
        out.end_piece(next);
        return;
    }
    print_number_piece("Routine ", read_word(), " ends on line ");
    print_position();
    out.put(" at ");
    print_address();
    out.put('\n');
}

void print_object_details() {
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
    for (std::string_view name; !(name = read_string_view()).empty();) {
        out.put('"');
        out.put_field(name);
        out.put("\" ");
    }
    out.put("\ndirections: ");
    DirectionName scratch;
    for (std::string_view entry; !(entry = read_string_view()).empty();) {
        out.put(direction_name(static_cast<unsigned char>(entry[0]), scratch));
        out.put(' ');
        out.put_field(entry.substr(1));
        out.put(", ");
    }
    out.put('\n');
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
