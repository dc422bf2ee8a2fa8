// -stats -diff=OLD and -svg through the real binary: the rows of what
// changed between two built files, how the two files' errors are named, and
// the picture parsed back against the report.
#include <gtest/gtest.h>

#include <fstream>

#include "run_vardex.h"

namespace {

// Writes OLD as old.dbg and NEW as gameinfo.dbg in a fresh directory and runs
// vardex there; with `old_on_stdin`, OLD stands on standard input, a pipe.
RunResult run_with_old(const std::vector<std::string>& args, const DebugFileBuilder& old_file,
                       const DebugFileBuilder& new_file, bool old_on_stdin = false) {
    RunRequest request;
    request.working_directory = make_temporary_directory();
    request.stdin_is_pipe = old_on_stdin;
    if (old_on_stdin) request.stdin_text.assign(old_file.bytes().begin(), old_file.bytes().end());
    old_file.write_to((request.working_directory + "/old.dbg").c_str());
    request.debug_file = &new_file.bytes();
    request.args = args;
    return run_vardex(request);
}

DebugFileBuilder story(unsigned length, unsigned char version = 5) {
    std::vector<unsigned char> header(64);
    header[0] = version;
    header[0x1a] = static_cast<unsigned char>(length >> 8);
    header[0x1b] = static_cast<unsigned char>(length);
    return debug_file().game_header(header);
}

struct BuiltRoutine {
    unsigned number;
    unsigned file;
    std::string name;
    unsigned long bytes;
};

// A build: two source files, routines one after another from 0x100, a map.
DebugFileBuilder build(unsigned length, const std::vector<BuiltRoutine>& routines, unsigned long strings) {
    DebugFileBuilder file = story(length).file(1, "main", "main.src").file(2, "lib", "lib/x.h");
    unsigned long at = 0x100;
    for (const BuiltRoutine& routine : routines) {
        file.routine(routine.number, {routine.file, 1, 1}, at, routine.name)
            .routine_end(routine.number, {routine.file, 2, 1}, at + routine.bytes);
        at += routine.bytes;
    }
    return file.memory_map({{"objects", 0x40}, {"code area", 0x100}, {"strings", strings}}).end();
}

}  // namespace

TEST(StatsChanges, RowsOfWhatGrewShrankCameAndWentLargestFirst) {
    const DebugFileBuilder old_build = build(0x1000,
                                             {{1, 1, "Main", 100},
                                              {2, 2, "Parse", 50},
                                              {3, 1, "Gone", 30},
                                              {4, 255, "", 8},
                                              {5, 1, "Same", 10},
                                              {6, 1, "Main", 1}},
                                             0x300);
    // Main grows and Parse shrinks by as much (ties by name); the second Main
    // counts for nothing, the nameless routine 4 is matched by its number.
    const DebugFileBuilder new_build = build(
        0x1010, {{1, 1, "Main", 140}, {2, 2, "Parse", 10}, {4, 255, "", 8}, {5, 1, "Same", 10}, {9, 2, "New\"<", 40}},
        0x400);
    RunResult text = run_with_old({"-stats", "-diff=old.dbg"}, old_build, new_build);
    EXPECT_EQ(text.status, 0);
    EXPECT_EQ(text.out.substr(text.out.find("Story file change")),
              "Story file change: +64 bytes\n"
              "\n"
              "Records      old count  new count  old bytes  new bytes  change\n"
              "routine              6          5         93         78     -15\n"
              "routine_end          6          5         60         50     -10\n"
              "\n"
              "Sections     old    new  change\n"
              "code area    512    768    +256\n"
              "strings    15616  15424    -192\n"
              "\n"
              "Source file  old  new  change\n"
              "main.src     141  150      +9\n"
              "\n"
              "Routine  old  new  change\n"
              "Main     100  140     +40\n"
              "New\"<      -   40     +40  added\n"
              "Parse     50   10     -40\n"
              "Gone      30    -     -30  removed\n");
    RunResult json = run_with_old({"-json", "-diff=old.dbg"}, old_build, new_build);
    EXPECT_EQ(json.status, 0);
    EXPECT_EQ(json.out.substr(json.out.find("\"routines\":")),
              "\"routines\":[{\"name\":\"Main\",\"old\":100,\"new\":140,\"change\":40},"
              "{\"name\":\"New\\\"<\",\"old\":null,\"new\":40,\"change\":40},"
              "{\"name\":\"Parse\",\"old\":50,\"new\":10,\"change\":-40},"
              "{\"name\":\"Gone\",\"old\":30,\"new\":null,\"change\":-30}]}\n");
}

TEST(StatsChanges, EitherFilesErrorNamesIt) {
    const DebugFileBuilder good = build(0x1000, {{1, 1, "Main", 100}}, 0x300);
    DebugFileBuilder cut = good;
    cut.bytes().resize(cut.size() - 4);
    struct Case {
        std::vector<std::string> args;
        const DebugFileBuilder& old_file;
        const DebugFileBuilder& new_file;
        std::string out;  // its end after "..."
        int status;
    };
    const Case cases[] = {
        {{"-diff=old.dbg"}, cut, good, "Fatal error in old.dbg: Unexpected end of debugging info file\n", 1},
        {{"-json", "-diff=old.dbg"},
         good,
         cut,
         "{\"kind\":\"fatal_error\",\"message\":\"Unexpected end of debugging info file \\\"gameinfo.dbg\\\"\"}\n",
         1},
        {{"-diff=none.dbg"}, good, good, "Fatal error: Couldn't open debugging info file \"none.dbg\"\n", 1},
        {{"-diff=gameinfo.dbg"}, cut, good, "...Routine: no changes\n", 0},
    };
    for (const Case& each : cases) {
        RunResult result = run_with_old(each.args, each.old_file, each.new_file);
        EXPECT_EQ(result.status, each.status) << each.out;
        if (each.out.starts_with("..."))
            EXPECT_TRUE(result.out.ends_with(each.out.substr(3))) << result.out;
        else
            EXPECT_EQ(result.out, each.out);
    }
}

TEST(StatsChanges, BadInputEndsInAClearLineOrAReport) {
    const DebugFileBuilder good = build(0x1000, {{1, 1, "Main", 100}}, 0x300);
    const DebugFileBuilder no_routines = story(0x800, 8).file(1, "main", "main.src").end();
    struct Case {
        std::vector<std::string> args;
        const DebugFileBuilder& old_file;
        const DebugFileBuilder& new_file;
        bool old_on_stdin;
        std::string out_part;
        int status;
    };
    const Case cases[] = {
        {{"-diff=old.dbg", "none.dbg"},
         good,
         good,
         false,
         "Fatal error: Couldn't open debugging info file \"none.dbg\"\n",
         1},
        // A pipe is read to its end as the old build and cannot be read again.
        {{"-diff=/dev/stdin", "/dev/stdin"},
         good,
         good,
         true,
         "Fatal error: Couldn't read both builds from one pipe \"/dev/stdin\"\n",
         1},
        // Builds of different versions, one without routines; names kept from a pipe.
        {{"-diff=old.dbg"},
         good,
         no_routines,
         false,
         "Story file: version 8, 16384 bytes of 524288 (3.1%), 507904 bytes left\n"
         "Old build: Debugging file from Ostrel 6.36 (v 1632)\n"
         "Old story file: version 5, 16384 bytes of 262144 (6.3%), 245760 bytes left\n"
         "Story file change: 0 bytes\n",
         0},
        {{"-diff=/dev/stdin"},
         good,
         no_routines,
         true,
         "Routine  old  new  change\nMain     100    -    -100  removed\n",
         0},
        {{"-json", "-diff=old.dbg"},
         no_routines,
         good,
         false,
         "\"routines\":[{\"name\":\"Main\",\"old\":null,\"new\":100,\"change\":100}]}\n",
         0},
    };
    for (const Case& each : cases) {
        RunResult result = run_with_old(each.args, each.old_file, each.new_file, each.old_on_stdin);
        EXPECT_EQ(result.status, each.status) << each.out_part;
        EXPECT_NE(result.out.find(each.out_part), std::string::npos) << result.out;
    }
}

TEST(StatsChanges, PictureFollowsThePairingAndDrawsWhatWentAsGhosts) {
    // Routines change number between the builds: the picture follows the
    // rows' pairing, not the numbers. The compiler's own routines are gone.
    const DebugFileBuilder old_build =
        build(0x1000, {{1, 1, "Grows", 100}, {2, 1, "Gone", 60}, {3, 1, "Same", 30}, {4, 255, "Veneer", 20}}, 0x300);
    const DebugFileBuilder new_build =
        build(0x1000, {{9, 1, "Grows", 140}, {3, 1, "Same", 30}, {2, 1, std::string("N\"<&>\x01\xff\xc3\xa9", 9), 20}},
              0x300);
    const std::string picture = run_with_old({"-svg", "-diff=old.dbg"}, old_build, new_build).out;
    struct Case {
        std::string rect;  // how its rectangle begins, up to its tooltip
        std::string file;  // the path of the file whose group holds it
    };
    const Case cases[] = {
        {"<rect class=\"routine\" data-name=\"Grows\" x=\"1143.8\" y=\"94\" width=\"56.2\" height=\"145.8\" "
         "fill=\"#ef8a62\" stroke=\"#fff\" stroke-width=\".5\" data-old=\"100\" data-new=\"140\"><title>Grows: 100 "
         "\u2192 140 bytes (+40, +40.0%) main.src:1</title>",
         "main.src"},
        {"<rect class=\"routine\" data-name=\"N&quot;&lt;&amp;&gt;\\x01\\xff\xc3\xa9\" x=\"1177.5\" y=\"302.3\" "
         "width=\"22.5\" height=\"52.1\" fill=\"#6f8fcf\" stroke=\"#fff\" stroke-width=\".5\" data-old=\"\" "
         "data-new=\"20\"><title>N&quot;&lt;&amp;&gt;\\x01\\xff\xc3\xa9: - \u2192 20 bytes (+20, new) "
         "main.src:1</title>",
         "main.src"},
        // At its old size in the file it stood in, whose total did not change.
        {"<rect class=\"ghost\" data-name=\"Gone\" x=\"1143.8\" y=\"239.8\" width=\"56.2\" height=\"62.5\" "
         "fill=\"#f7f7f7\" stroke=\"#808080\" stroke-dasharray=\"3 2\" data-old=\"60\" data-new=\"\"><title>Gone: 60 "
         "\u2192 - bytes (-60, removed) main.src:1</title>",
         "main.src"},
        {"<rect class=\"ghost\" data-name=\"Veneer\"", "(compiler's own routines)"},
        {"<rect class=\"ghost\" data-name=\"(compiler's own routines)\" x=\"1143.8\" y=\"354.4\" width=\"56.2\" "
         "height=\"20.8\" fill=\"none\" stroke=\"#606060\" stroke-width=\"1.5\" stroke-dasharray=\"5 3\" "
         "data-old=\"20\" data-new=\"\"><title>(compiler's own routines): 20 \u2192 - bytes (-20, removed)</title>",
         "(compiler's own routines)"},
    };
    for (const Case& each : cases) {
        const std::size_t rect = picture.find(each.rect);
        ASSERT_NE(rect, std::string::npos) << each.rect << "\n" << picture;
        const std::size_t file = picture.rfind("data-name=\"", picture.find("</g>", rect));
        EXPECT_EQ(picture.substr(file, 12 + each.file.size()), "data-name=\"" + each.file + "\"") << each.rect;
    }
    EXPECT_NE(picture.find(">gameinfo.dbg since old.dbg</text>\n<text x=\"4\" y=\"38\" font-size=\"13\" "
                           "pointer-events=\"none\">story file 16384 \u2192 16384 bytes (0) of 262144 (6.3%), 245760 "
                           "bytes left; code 210 \u2192 190 bytes (-20), 4 \u2192 3 routines</text>\n"),
              std::string::npos);
}
