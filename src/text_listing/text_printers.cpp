#include "text_listing/text_printers.h"

#include "output_writer.h"
#include "reader/field_reader.h"
#include "reader/record_loop.h"
#include "record_printing.h"

namespace {

constexpr auto files_then_colon = digits::make_byte_parts<8>("", ":");
constexpr auto colons_then_character = digits::make_byte_parts<8>(":", "");
// "%d:%d:%d".
using Position = PositionOf<files_then_colon, colons_then_character>;

// "%05lx (%ld)".
struct Address {
    std::uint32_t value;
    static constexpr std::size_t max_size() {
        return 2 * sizeof value + sizeof " ()" - 1 + digits::most_decimal_digits<std::uint32_t>;
    }
    char* write(char* next) const { return digits::write_address(next, value); }
};

// Each put below writes what is due once the read among its pieces (at most
// one) has been made: a file cut inside a field keeps the puts before it.

constexpr auto print_file = [](auto& in, auto& o, auto&) {
    o.put("File ", Number{in.byte()}, ' ');
    o.put('"', Raw{in.string()}, "\" expanding to ");
    o.put('"', Raw{in.string()}, "\"\n");
};

constexpr auto print_class = [](auto& in, auto& o, auto&) {
    o.put("Class ");
    o.put('"', Raw{in.string()}, "\" from ");
    o.put(Position{in.line_ref()}, " to ");
    o.put(Position{in.line_ref()}, '\n');
};

constexpr auto print_object = [](auto& in, auto& o, auto&) {
    o.put("Object ", Number{in.word()}, ' ');
    o.put('"', Raw{in.string()}, "\" from ");
    o.put(Position{in.line_ref()}, " to ");
    o.put(Position{in.line_ref()}, '\n');
};

// Global, Attribute, Property and the actions: a number and a name.
template <std::size_t title_size, std::size_t ending_size, typename Value, typename In, typename Out>
void print_numbered_name(In& in, Out& o, const char (&title)[title_size], Value number,
                         const char (&ending)[ending_size]) {
    o.put(title, Number{number}, ' ');
    o.put('"', Raw{in.string()}, ending);
}

constexpr auto print_header = [](auto& in, auto& o, auto&) {
    o.put("Header of game file is:\n");
    for (int i = 0; i < game_header_size; ++i) o.put(HexPair{in.byte()}, ' ');
    o.put('\n');
};

constexpr auto print_sequence_points = [](auto& in, auto& o, auto&) {
    o.put("seq. points from ", Number{in.word()}, ": ");
    for (unsigned entries = in.count(4 + 2); entries != 0; --entries) {
        o.put("[line ");
        o.put(Position{in.line_ref()});
        o.put(" at ", Number{in.word()}, ']');
    }
    o.put('\n');
};

constexpr auto print_routine = [](auto& in, auto& o, auto&) {
    o.put("Routine ", Number{in.word()}, " (line ");
    o.put(Position{in.line_ref()}, ") PC start: ");
    o.put(Address{in.address()}, ' ');
    o.put('"', Raw{in.string()}, '"');
    in.for_each_string([&](std::string_view local) { o.put(' ', Raw{local}); });
    o.put('\n');
};

constexpr auto print_array = [](auto& in, auto& o, auto&) {
    std::uint16_t address = in.word();
    o.put("Array ", Raw{in.string()}, " at ", Number{address}, '\n');
};

constexpr auto print_memory_map = [](auto& in, auto& o, auto&) {
    o.put("Memory map:\n");
    for (std::string_view name; !(name = in.string()).empty();) {
        o.put(Raw{name}, " at ");
        o.put(Address{in.address()}, '\n');
    }
};

constexpr auto print_routine_end = [](auto& in, auto& o, auto&) {
    o.put("Routine ", Number{in.word()}, " ends on line ");
    o.put(Position{in.line_ref()}, " at ");
    o.put(Address{in.address()}, '\n');
};

constexpr auto print_object_details = [](auto& in, auto& o, auto&) {
    o.put("Details to obj ", Number{in.word()}, ":\n");
    o.put("short_name \"", Raw{in.string()}, "\"\nproperties (with) begin at ");
    o.put(Position{in.line_ref()}, "\nname property begins at ");
    o.put(Position{in.line_ref()}, "\nname list: ");
    in.for_each_string([&](std::string_view name) { o.put('"', Raw{name}, "\" "); });
    o.put("\ndirections: ");
    in.for_each_string([&](std::string_view exit) {
        o.put(Direction{static_cast<unsigned char>(exit[0])}, ' ', Raw{exit.substr(1)}, ", ");
    });
    o.put('\n');
};

constexpr auto print_directive_end = [](auto& in, auto& o, auto&) {
    o.put("Directive end; found at ");
    o.put(Position{in.line_ref()}, '\n');
};

constexpr auto print_library_include = [](auto& in, auto& o, auto&) {
    o.put("Include \"Quibrel\" found at ");
    o.put(Position{in.line_ref()}, '\n');
};

template <int type, auto printer>
constexpr RecordHandler<TextListing> in_text = print_record<TextListing, type, printer>;

}  // namespace

constexpr RecordHandlers<TextListing> text_printers = {
    nullptr,
    in_text<File, print_file>,
    in_text<Class, print_class>,
    in_text<Object, print_object>,
    in_text<Global, [](auto& in, auto& o, auto&) { print_numbered_name(in, o, "Global ", in.byte(), "\"\n"); }>,
    in_text<Attribute, [](auto& in, auto& o, auto&) { print_numbered_name(in, o, "Attribute ", in.word(), "\"\n"); }>,
    in_text<Property, [](auto& in, auto& o, auto&) { print_numbered_name(in, o, "Property ", in.word(), "\"\n"); }>,
    in_text<FakeAction,
            [](auto& in, auto& o, auto&) { print_numbered_name(in, o, "Action ", in.word(), "\" (fake)\n"); }>,
    in_text<Action, [](auto& in, auto& o, auto&) { print_numbered_name(in, o, "Action ", in.word(), "\" (real)\n"); }>,
    in_text<Header, print_header>,
    in_text<SequencePoints, print_sequence_points>,
    in_text<Routine, print_routine>,
    in_text<Array, print_array>,
    in_text<MemoryMap, print_memory_map>,
    in_text<RoutineEnd, print_routine_end>,
    in_text<ObjectDetails, print_object_details>,
    in_text<DirectiveEnd, print_directive_end>,
    in_text<LibraryInclude, print_library_include>,
};

void list_in_text(DebugFile& file, TextListing& listing, const bool* selected,
                  UnknownTypeHandler<TextListing> report_unknown) {
    read_records<text_printers>(file, listing, selected, report_unknown);
}

void print_banner(OutputWriter& out) { out.put("Vardex 1 (try \"vardex -help\" for instructions)\n"); }
