#include "json_export/json_printers.h"

#include <utility>

#include "json_export/json_writer.h"
#include "output_writer.h"
#include "reader/field_reader.h"
#include "reader/record_loop.h"
#include "record_printing.h"

namespace {

constexpr auto files_then_line = digits::make_byte_parts<32>("{\"file\":", ",\"line\":");
constexpr auto characters_then_close = digits::make_byte_parts<16>(",\"char\":", "}");
// {"file":F,"line":L,"char":C}.
using Position = PositionOf<files_then_line, characters_then_close>;

// The comma before every item of a list but the first.
struct Comma {
    bool wanted;
    static constexpr std::size_t max_size() { return 1; }
    char* write(char* next) const {
        *next = ',';
        return next + wanted;
    }
};

// Each put writes a member's name with its value once the value is read (at
// most one read a put), so that a line cut short ends after a whole value.

constexpr auto print_file = [](auto& in, auto& o, auto&) {
    o.put("{\"kind\":\"file\",\"number\":", Number{in.byte()});
    o.put(",\"include_name\":", JsonString{in.string()});
    o.put(",\"path\":", JsonString{in.string()}, "}\n");
};

constexpr auto print_class = [](auto& in, auto& o, auto&) {
    o.put("{\"kind\":\"class\",\"name\":", JsonString{in.string()});
    o.put(",\"start\":", Position{in.line_ref()});
    o.put(",\"end\":", Position{in.line_ref()}, "}\n");
};

constexpr auto print_object = [](auto& in, auto& o, auto&) {
    o.put("{\"kind\":\"object\",\"number\":", Number{in.word()});
    o.put(",\"name\":", JsonString{in.string()});
    o.put(",\"start\":", Position{in.line_ref()});
    o.put(",\"end\":", Position{in.line_ref()}, "}\n");
};

// Global, Attribute, Property and the actions: a number and a name.
template <std::size_t size, typename Value, typename In, typename Out>
void print_numbered_name(In& in, Out& o, const char (&opening)[size], Value number) {
    o.put(opening, Number{number});
    o.put(",\"name\":", JsonString{in.string()}, "}\n");
}

constexpr auto print_header = [](auto& in, auto& o, auto&) {
    o.put("{\"kind\":\"header\",\"bytes\":\"");
    for (int i = 0; i < game_header_size; ++i) o.put(HexPair{in.byte()});
    o.put("\"}\n");
};

constexpr auto print_sequence_points = [](auto& in, auto& o, auto&) {
    o.put("{\"kind\":\"sequence_points\",\"routine\":", Number{in.word()}, ",\"points\":[");
    const unsigned entries = in.count(4 + 2);
    for (unsigned i = 0; i < entries; ++i) {
        o.put(Comma{i != 0}, "{\"at\":", Position{in.line_ref()});
        o.put(",\"offset\":", Number{in.word()}, '}');
    }
    o.put("]}\n");
};

constexpr auto print_routine = [](auto& in, auto& o, auto&) {
    o.put("{\"kind\":\"routine\",\"number\":", Number{in.word()});
    o.put(",\"start\":", Position{in.line_ref()});
    o.put(",\"address\":", AddressNumber{in.address()});
    o.put(",\"name\":", JsonString{in.string()}, ",\"locals\":[");
    bool first = true;
    in.for_each_string([&](std::string_view local) { o.put(Comma{!std::exchange(first, false)}, JsonString{local}); });
    o.put("]}\n");
};

constexpr auto print_array = [](auto& in, auto& o, auto&) {
    o.put("{\"kind\":\"array\",\"address\":", Number{in.word()});
    o.put(",\"name\":", JsonString{in.string()}, "}\n");
};

constexpr auto print_memory_map = [](auto& in, auto& o, auto&) {
    o.put("{\"kind\":\"memory_map\",\"entries\":[");
    bool first = true;
    for (std::string_view name; !(name = in.string()).empty(); first = false) {
        o.put(Comma{!first}, "{\"name\":", JsonString{name});
        o.put(",\"address\":", AddressNumber{in.address()}, '}');
    }
    o.put("]}\n");
};

constexpr auto print_routine_end = [](auto& in, auto& o, auto&) {
    o.put("{\"kind\":\"routine_end\",\"number\":", Number{in.word()});
    o.put(",\"end\":", Position{in.line_ref()});
    o.put(",\"address\":", AddressNumber{in.address()}, "}\n");
};

constexpr auto print_object_details = [](auto& in, auto& o, auto&) {
    o.put("{\"kind\":\"object_details\",\"number\":", Number{in.word()});
    o.put(",\"short_name\":", JsonString{in.string()});
    o.put(",\"with_at\":", Position{in.line_ref()});
    o.put(",\"name_at\":", Position{in.line_ref()}, ",\"names\":[");
    bool first = true;
    in.for_each_string([&](std::string_view name) { o.put(Comma{!std::exchange(first, false)}, JsonString{name}); });
    o.put("],\"exits\":[");
    first = true;
    in.for_each_string([&](std::string_view exit) {
        auto index = static_cast<unsigned char>(exit[0]);
        o.put(Comma{!std::exchange(first, false)}, "{\"index\":", Number{index}, ",\"direction\":\"", Direction{index},
              "\",\"to\":", JsonString{exit.substr(1)}, '}');
    });
    o.put("]}\n");
};

template <std::size_t size, typename In, typename Out>
void print_position_record(In& in, Out& o, const char (&opening)[size]) {
    o.put(opening, Position{in.line_ref()}, "}\n");
}

void print_json_unknown_type(DebugFile&, JsonListing& listing, int type) {
    StreamOutput{listing.out}.put("{\"kind\":\"unknown_type\",\"type\":", Number{static_cast<std::uint8_t>(type)},
                                  "}\n");
}

template <int type, auto printer>
constexpr RecordHandler<JsonListing> in_json = print_record<JsonListing, type, printer>;

}  // namespace

void JsonListing::begin_streamed_record(DebugFile& file, int type) {
    // A file that can be read again is first read to the record's end, so
    // that a record the file cuts short fails before any of its line is
    // written; a pipe cannot be, so its line may be closed as cut.
    if (file.is_seekable()) {
        const std::uint64_t body_offset = file.offset();
        skip_record(file, type);
        file.seek(body_offset);
    }
    output.open_record_line();
}

constexpr RecordHandlers<JsonListing> json_printers = {
    nullptr,
    in_json<File, print_file>,
    in_json<Class, print_class>,
    in_json<Object, print_object>,
    in_json<Global, [](auto& in, auto& o,
                       auto&) { print_numbered_name(in, o, "{\"kind\":\"global\",\"number\":", in.byte()); }>,
    in_json<Attribute, [](auto& in, auto& o,
                          auto&) { print_numbered_name(in, o, "{\"kind\":\"attribute\",\"number\":", in.word()); }>,
    in_json<Property, [](auto& in, auto& o,
                         auto&) { print_numbered_name(in, o, "{\"kind\":\"property\",\"number\":", in.word()); }>,
    in_json<FakeAction, [](auto& in, auto& o,
                           auto&) { print_numbered_name(in, o, "{\"kind\":\"fake_action\",\"number\":", in.word()); }>,
    in_json<Action, [](auto& in, auto& o,
                       auto&) { print_numbered_name(in, o, "{\"kind\":\"action\",\"number\":", in.word()); }>,
    in_json<Header, print_header>,
    in_json<SequencePoints, print_sequence_points>,
    in_json<Routine, print_routine>,
    in_json<Array, print_array>,
    in_json<MemoryMap, print_memory_map>,
    in_json<RoutineEnd, print_routine_end>,
    in_json<ObjectDetails, print_object_details>,
    in_json<DirectiveEnd,
            [](auto& in, auto& o, auto&) { print_position_record(in, o, "{\"kind\":\"directive_end\",\"at\":"); }>,
    in_json<LibraryInclude,
            [](auto& in, auto& o, auto&) { print_position_record(in, o, "{\"kind\":\"library_include\",\"at\":"); }>,
};

void list_in_json(DebugFile& file, JsonListing& listing, const bool* selected) {
    read_records<json_printers>(file, listing, selected, print_json_unknown_type);
}

void print_json_version_line(DebugFile& in, OutputWriter& out) {
    std::uint8_t major = in.byte();
    std::uint8_t minor = in.byte();
    std::uint16_t revision = in.word();
    StreamOutput{out}.put("{\"kind\":\"version\",\"major\":", Number{major}, ",\"minor\":", Number{minor},
                          ",\"revision\":", Number{revision}, "}\n");
}

void print_json_end(OutputWriter& out) { out.put("{\"kind\":\"end\"}\n"); }
