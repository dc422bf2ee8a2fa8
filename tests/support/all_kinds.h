// A debugging file that holds every record kind, with the text listing each
// record prints, so that tests can compose the expected listing for any
// choice of sections.
#pragma once

#include <string>
#include <vector>

#include "debug_file_builder.h"
#include "run_vardex.h"

struct ListedRecord {
    int type;
    std::string bytes;    // type byte and body
    std::string listing;  // what text mode prints for it
};

inline std::vector<ListedRecord> records_of_every_kind() {
    std::vector<unsigned char> game_header(64);
    std::string header_line;
    for (unsigned i = 0; i < 64; ++i) {
        game_header[i] = static_cast<unsigned char>(i * 4 + 3);
        char group[4];
        std::snprintf(group, sizeof group, "%02x ", game_header[i]);
        header_line += group;
    }
    auto record = [](int type, const DebugFileBuilder& file, std::string listing) {
        return ListedRecord{type, file.bytes(), std::move(listing)};
    };
    return {
        record(1, DebugFileBuilder().file(1, "main", "games/tale/main.src"),
               "File 1 \"main\" expanding to \"games/tale/main.src\"\n"),
        record(17, DebugFileBuilder().library_include({1, 3, 1}), "Include \"Quibrel\" found at 1:3:1\n"),
        record(2, DebugFileBuilder().class_("Room", {1, 5, 1}, {1, 9, 2}), "Class \"Room\" from 1:5:1 to 1:9:2\n"),
        record(3, DebugFileBuilder().object(65535, "lamp", {1, 10, 2}, {1, 14, 1}),
               "Object 65535 \"lamp\" from 1:10:2 to 1:14:1\n"),
        record(15,
               DebugFileBuilder().object_details(65535, "brass lamp", {1, 11, 5}, {0, 0, 0}, {"brass", "lamp"},
                                                 {{1, "hall"}, {12, ""}, {13, "attic"}}),
               "Details to obj 65535:\nshort_name \"brass lamp\"\nproperties (with) begin at 1:11:5\n"
               "name property begins at 0:0:0\nname list: \"brass\" \"lamp\" \n"
               "directions: n_to hall, out_to , dir13_to attic, \n"),
        record(4, DebugFileBuilder().global(255, "score"), "Global 255 \"score\"\n"),
        record(5, DebugFileBuilder().attribute(0, "light"), "Attribute 0 \"light\"\n"),
        record(6, DebugFileBuilder().property(65535, "name"), "Property 65535 \"name\"\n"),
        record(7, DebugFileBuilder().fake_action(4096, "LetGo"), "Action 4096 \"LetGo\" (fake)\n"),
        record(8, DebugFileBuilder().action(1, "Take"), "Action 1 \"Take\" (real)\n"),
        record(9, DebugFileBuilder().game_header(game_header), "Header of game file is:\n" + header_line + "\n"),
        record(11, DebugFileBuilder().routine(7, {1, 20, 1}, 0x1a2, "Main", {"x", "y"}),
               "Routine 7 (line 1:20:1) PC start: 001a2 (418) \"Main\" x y\n"),
        record(10, DebugFileBuilder().sequence_points(7, {{{1, 21, 5}, 0}, {{1, 22, 5}, 65535}}),
               "seq. points from 7: [line 1:21:5 at 0][line 1:22:5 at 65535]\n"),
        record(14, DebugFileBuilder().routine_end(7, {1, 23, 1}, 0xFFFFFF),
               "Routine 7 ends on line 1:23:1 at ffffff (16777215)\n"),
        record(12, DebugFileBuilder().array(1842, "stack"), "Array stack at 1842\n"),
        record(13, DebugFileBuilder().memory_map({{"objects", 0x2b6}, {"end", 0}}),
               "Memory map:\nobjects at 002b6 (694)\nend at 00000 (0)\n"),
        record(16, DebugFileBuilder().directive_end({1, 30, 1}), "Directive end; found at 1:30:1\n"),
    };
}

// The whole file: header, every record, End.
inline std::string file_of_every_kind() {
    std::string bytes = debug_file().bytes();
    for (const ListedRecord& record : records_of_every_kind()) bytes += record.bytes;
    return bytes + '\0';
}

// The listing of the records whose type `wanted` accepts.
template <typename Wanted>
std::string listing_of_every_kind(Wanted wanted) {
    std::string listing;
    for (const ListedRecord& record : records_of_every_kind())
        if (wanted(record.type)) listing += record.listing;
    return listing;
}
