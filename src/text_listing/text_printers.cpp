#include "text_listing/text_printers.h"

#include "output_writer.h"
#include "reader/field_reader.h"
#include "reader/records.h"

namespace {

StringField name;

void print_quoted_string() {
    std::size_t length = read_string(name);
    out.put('"');
    out.put({name, length});
    out.put('"');
}

void print_position() {
    LineRef ref = read_line_ref();
    out.put_decimal(ref.file);
    out.put(':');
    out.put_decimal(ref.line);
    out.put(':');
    out.put_decimal(ref.character);
}

void print_address() { out.put_address(read_address()); }

void print_number_piece(std::string_view before, unsigned number, std::string_view after) {
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

void print_sequence_points() {
    print_number_piece("seq. points from ", read_word(), ": ");
    unsigned count = read_word();
    for (unsigned i = 0; i < count; ++i) {
        out.put("[line ");
        print_position();
        print_number_piece(" at ", read_word(), "]");
    }
    out.put('\n');
}

void print_routine() {
    print_number_piece("Routine ", read_word(), " (line ");
    print_position();
    out.put(") PC start: ");
    print_address();
    out.put(' ');
    print_quoted_string();
    for (;;) {
        std::size_t length = read_string(name);
        if (length == 0) break;
        out.put(' ');
        out.put({name, length});
    }
    out.put('\n');
}

void print_array() {
    unsigned address = read_word();
    std::size_t length = read_string(name);
    out.put("Array ");
    out.put({name, length});
    print_number_piece(" at ", address, "\n");
}

void print_memory_map() {
    out.put("Memory map:\n");
    for (;;) {
        std::size_t length = read_string(name);
        if (length == 0) break;
        out.put({name, length});
        out.put(" at ");
        print_address();
        out.put('\n');
    }
}

void print_routine_end() {
    print_number_piece("Routine ", read_word(), " ends on line ");
    print_position();
    out.put(" at ");
    print_address();
    out.put('\n');
}

void print_object_details() {
    print_number_piece("Details to obj ", read_word(), ":\n");
    std::size_t length = read_string(name);
    out.put("short_name \"");
    out.put({name, length});
    out.put("\"\n");
    out.put("properties (with) begin at ");
    print_position();
    out.put("\nname property begins at ");
    print_position();
    out.put("\nname list: ");
    while ((length = read_string(name)) != 0) {
        out.put('"');
        out.put({name, length});
        out.put("\" ");
    }
    out.put("\ndirections: ");
    DirectionName scratch;
    while ((length = read_string(name)) != 0) {
        out.put(direction_name(static_cast<unsigned char>(name[0]), scratch));
        out.put(' ');
        out.put({name + 1, length - 1});
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
