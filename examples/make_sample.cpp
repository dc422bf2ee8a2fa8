// Writes the sample debugging file examples/gameinfo.dbg: a tiny game of
// three source files that holds every record kind at least once.
//
//   make_sample examples/gameinfo.dbg
#include <cstdio>

#include "debug_file_builder.h"

int main(int argc, char** argv) {
    if (argc != 2) {
        std::fputs("usage: make_sample OUTPUT\n", stderr);
        return 2;
    }
    std::vector<unsigned char> game_header(64);
    for (unsigned i = 0; i < 64; ++i) game_header[i] = static_cast<unsigned char>(i * 37 + 5);

    DebugFileBuilder file;
    file.header(6, 36, 1632)
        .file(1, "lantern", "games/lantern/lantern.src")
        .file(2, "Quibrel", "games/lantern/lib/Quibrel.h")
        .file(3, "rooms", "games/lantern/rooms.src")
        .library_include({1, 12, 1})
        .attribute(0, "light")
        .attribute(1, "open")
        .property(3, "description")
        .property(4, "name")
        .global(16, "score")
        .global(17, "location")
        .action(1, "Take")
        .action(2, "Go")
        .fake_action(4096, "LetGo")
        .array(1842, "inventory_stack")
        .class_("Room", {2, 310, 1}, {2, 318, 2})
        .object(27, "hall", {3, 4, 1}, {3, 11, 2})
        .object_details(27, "Great Hall", {3, 5, 5}, {3, 6, 5}, {"great", "hall"}, {{1, "cellar"}, {11, "garden"}})
        .object(28, "cellar", {3, 13, 1}, {3, 18, 2})
        .object_details(28, "Damp Cellar", {3, 14, 5}, {0, 0, 0}, {"cellar"}, {{9, "hall"}})
        .object(29, "nameless_obj__29", {1, 40, 1}, {1, 43, 2})
        .object_details(29, "brass lantern", {1, 41, 5}, {1, 42, 5}, {"brass", "lantern", "lamp"}, {})
        .routine(1, {1, 20, 1}, 0x1a2, "Initialise", {"x", "obj"})
        .sequence_points(1, {{{1, 21, 5}, 0}, {{1, 22, 5}, 7}, {{1, 23, 5}, 12}})
        .routine_end(1, {1, 24, 1}, 0x1b9)
        .routine(2, {3, 30, 1}, 0x1c0, "LightSub")
        .sequence_points(2, {{{3, 31, 5}, 0}})
        .routine_end(2, {3, 33, 1}, 0x1d4)
        .directive_end({1, 60, 1})
        .game_header(game_header)
        .memory_map({{"abbreviations table", 0x40},
                     {"objects", 0x2b6},
                     {"dictionary", 0x11e4},
                     {"code area", 0x1a0},
                     {"end of file", 0x12f00}})
        .end();

    return file.write_to(argv[1]) ? 0 : 1;
}
