// Writes the seed corpus of the fuzz target: the sample debugging file under
// several switch sets, and small files that reach each record kind, the
// Python selection and the limits of the reader.
//
//   make_fuzz_seeds CORPUS_DIRECTORY SAMPLE_FILE
#include <cstdio>
#include <fstream>
#include <iterator>
#include <string>

#include "debug_file_builder.h"
#include "fuzz_input.h"

namespace {

std::string directory;

void write_seed(const std::string& name, unsigned long switches, std::string_view stdin_text,
                const std::string& debug_file) {
    std::ofstream stream(directory + "/seed-" + name, std::ios::binary);
    std::string input = fuzz_input(switches, stdin_text, debug_file);
    stream.write(input.data(), static_cast<std::streamsize>(input.size()));
}

unsigned long switch_bit(std::string_view name) {
    for (std::size_t i = 0; i < fuzz_switch_count; ++i)
        if (fuzz_switches[i] == name) return 1ul << i;
    return 0;
}

DebugFileBuilder game() { return DebugFileBuilder().header(6, 36, 1632); }

}  // namespace

int main(int argc, char** argv) {
    if (argc != 3) {
        std::fputs("usage: make_fuzz_seeds CORPUS_DIRECTORY SAMPLE_FILE\n", stderr);
        return 2;
    }
    directory = argv[1];
    std::ifstream sample_stream(argv[2], std::ios::binary);
    std::string sample((std::istreambuf_iterator<char>(sample_stream)), std::istreambuf_iterator<char>());
    if (sample.empty()) {
        std::fprintf(stderr, "make_fuzz_seeds: cannot read %s\n", argv[2]);
        return 1;
    }

    write_seed("sample-text-all", all_switch, "", sample);
    write_seed("sample-text-default", 0, "", sample);
    write_seed("sample-text-sections", switch_bit("-objects") | switch_bit("-lines") | switch_bit("-routines"), "",
               sample);
    write_seed("sample-python-all", python_switch, "\n*\n", sample);
    write_seed("sample-python-selected", python_switch, "Quibrel/x\nrooms/lantern\n", sample);
    write_seed("help-unknown-switches", switch_bit("-help") | switch_bit("-"), "", sample);
    write_seed("sample-lookups-from-stdin", switch_bit("-lookup"),
               "0x349\n+0x10\nrooms:31\nrooms.src:31:5\ninitialise\nobject 27\nglobal 0x10\n\n\x01x\r\nmain", sample);
    write_seed("sample-lookups-json", switch_bit("-lookup") | switch_bit("-json") | switch_bit("-lookup=+7"),
               "0x349\nrooms:31\nRoom\nbad:\n", sample);
    write_seed("python-then-text", python_switch | switch_bit("-text"), "\n*\n", sample);

    write_seed("empty", all_switch, "", "");
    write_seed("magic-only", all_switch, "", "\xDE\xBF");
    write_seed("header-and-end", python_switch, "\n*\n", game().end().bytes());
    write_seed("unknown-types", all_switch, "", game().byte(18).byte(200).byte(255).end().bytes());

    std::string long_name(300, 'n');
    write_seed("long-strings", all_switch, "",
               game().file(1, long_name, long_name).object(1, long_name, {1, 1, 1}, {1, 2, 1}).end().bytes());

    std::vector<SequencePoint> points(40, SequencePoint{{1, 0xFFFF, 0xFF}, 0xFFFF});
    write_seed("limits", all_switch, "",
               game()
                   .sequence_points(0xFFFF, points)
                   .object(0xFFFF, "o", {255, 0xFFFF, 255}, {0, 0, 0})
                   .routine_end(0xFFFF, {255, 0xFFFF, 255}, 0xFFFFFF)
                   .memory_map({{"m", 0xFFFFFF}, {"n", 0}})
                   .end()
                   .bytes());

    DebugFileBuilder files = game();
    files.file(3, "deep", "./././x.h").file(1, "main", "C:\\games\\tale\\main.src").file(2, "lib\\parser", "..\\p.h");
    files.file(0, "zero", "").file(255, "last", "games/tale/last.src");
    files.object(5, "hall", {1, 3, 1}, {1, 9, 1})
        .object_details(5, "Hall", {1, 4, 2}, {0, 0, 0}, {"hall", "big"}, {{1, "cellar"}, {12, "out"}, {13, "x"}})
        .object(6, "nameless_obj__6", {255, 0, 1}, {255, 1, 1})
        .object_details(6, "lamp's \"light\"\\", {255, 2, 1}, {255, 3, 1}, {"lamp"}, {{200, "nowhere"}})
        .directive_end({2, 0, 0})
        .library_include({0, 1, 1})
        .end();
    write_seed("python-files", python_switch, "deep/zero\n*\n", files.bytes());
    write_seed("python-include-list", python_switch, "\nmain/last\n", files.bytes());
    write_seed("text-files", all_switch, "", files.bytes());

    DebugFileBuilder routines = game();
    routines.file(1, "main", "main.src")
        .routine(1, {1, 10, 2}, 0x1a2, "InItIaLiSe", {"a", "b"})
        .routine(2, {1, 20, 2}, 0x1b0, "Initialise more")
        .routine(3, {1, 30, 2}, 0x1c0, "Initialise2")
        .routine_end(3, {1, 31, 1}, 0x1d0)
        .array(0xFFFF, "table")
        .class_("Room", {1, 1, 1}, {1, 2, 1})
        .global(255, "g")
        .attribute(1, "a")
        .property(2, "p")
        .fake_action(3, "f")
        .action(4, "t")
        .game_header(std::vector<unsigned char>(64, 0xFF))
        .end();
    write_seed("python-routines", python_switch, "\n*\n", routines.bytes());
    write_seed("text-routines", all_switch, "", routines.bytes());
    write_seed("stats-routines", switch_bit("-stats"), "", routines.bytes());
    write_seed("stats-json-lookups", switch_bit("-stats") | switch_bit("-json") | switch_bit("-lookup=+7"), "",
               routines.bytes());

    std::string utf8 = "caf\xC3\xA9 \xE2\x82\xAC \xF0\x9F\x90\x89 \xC0\xAF \xED\xA0\x80 \xFF\x01\x7F'\"\\";
    write_seed("python-escapes", python_switch, "\n*\n",
               game()
                   .file(1, utf8, utf8)
                   .object(1, utf8, {1, 1, 1}, {1, 2, 1})
                   .object_details(1, utf8, {1, 1, 1}, {1, 1, 1}, {utf8}, {{3, utf8}})
                   .end()
                   .bytes());
    write_seed("stats-escapes", switch_bit("-stats"), "",
               game().file(1, utf8, utf8).routine(1, {1, 1, 1}, 0, utf8).routine_end(1, {1, 2, 1}, 9).end().bytes());
    write_seed("stats-json-sample", switch_bit("-stats") | switch_bit("-json"), "", sample);

    // Two builds: the old and the new of -diff=OLD, or a server's file
    // before and after it is written again between batches of lookups.
    DebugFileBuilder grown = game();
    grown.file(1, "main", "main.src")
        .routine(1, {1, 10, 2}, 0x1a2, "InItIaLiSe", {"a", "b"})
        .sequence_points(1, {{{1, 11, 3}, 2}, {{1, 12, 3}, 9}})
        .routine_end(1, {1, 13, 1}, 0x1c0)
        .routine(4, {1, 40, 2}, 0x1c0, "New")
        .routine_end(4, {1, 41, 1}, 0x1d0)
        .memory_map({{"code area", 0x10}})
        .game_header(std::vector<unsigned char>(64, 0x05))
        .end();
    const std::string two_builds = routines.bytes() + std::string(build_separator) + grown.bytes();
    write_seed("diff-routines", switch_bit("-diff=old.dbg"), "", two_builds);
    write_seed("svg-routines", switch_bit("-svg"), "", routines.bytes());
    write_seed("html-diff", switch_bit("-html") | switch_bit("-diff=old.dbg"), "", two_builds);
    write_seed("budgets-diff-cut",
               switch_bit("-diff=old.dbg") | switch_bit("-rows=1") | switch_bit("-max-growth=8") |
                   switch_bit("-min-left=90000"),
               "", two_builds.substr(0, two_builds.size() - 1));
    write_seed("server-rereads", switch_bit("-lookup"),
               "0x1b2\nmain:11\ninitialise\x1e+0x1c4\nnew\nroutine 4\x1e\x1emain:12\n", two_builds);
    write_seed("server-rereads-json", switch_bit("-lookup") | switch_bit("-json"), "+0x1a4\x1emain:11\x1eNEW\n",
               two_builds);
    return 0;
}
