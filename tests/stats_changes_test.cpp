// -stats -diff=OLD and -svg through the real binary: the rows of what
// changed between two built files, how the two files' errors are named, and
// the picture parsed back against the report.
#include <gtest/gtest.h>

#include <fstream>

#include "run_vardex.h"

namespace {

// Writes OLD as old.dbg and NEW as gameinfo.dbg in a fresh directory and runs
// vardex there.
RunResult run_with_old(const std::vector<std::string>& args, const DebugFile& old_file, const DebugFile& new_file) {
    RunRequest request;
    request.working_directory = make_temporary_directory();
    old_file.write_to((request.working_directory + "/old.dbg").c_str());
    request.debug_file = &new_file.bytes();
    request.args = args;
    return run_vardex(request);
}

DebugFile story(unsigned length) {
    std::vector<unsigned char> header(64);
    header[0] = 5;
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
DebugFile build(unsigned length, const std::vector<BuiltRoutine>& routines, unsigned long strings) {
    DebugFile file = story(length).file(1, "main", "main.src").file(2, "lib", "lib/x.h");
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
    const DebugFile old_build = build(0x1000,
                                      {{1, 1, "Main", 100},
                                       {2, 2, "Parse", 50},
                                       {3, 1, "Gone", 30},
                                       {4, 255, "", 8},
                                       {5, 1, "Same", 10},
                                       {6, 1, "Main", 1}},
                                      0x300);
    // Main grows and Parse shrinks by as much (ties by name); the second Main
    // counts for nothing, the nameless routine 4 is matched by its number.
    const DebugFile new_build = build(
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
    const DebugFile good = build(0x1000, {{1, 1, "Main", 100}}, 0x300);
    DebugFile cut = good;
    cut.bytes().resize(cut.size() - 4);
    struct Case {
        std::vector<std::string> args;
        const DebugFile& old_file;
        const DebugFile& new_file;
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

TEST(StatsChanges, PictureEscapesNamesAndColoursRoutinesByTheirChange) {
    const DebugFile old_build = build(0x1000, {{1, 1, "Grows", 100}, {2, 2, "Shrinks", 50}, {3, 1, "Same", 30}}, 0x300);
    const DebugFile new_build = build(0x1000,
                                      {{1, 1, "Grows", 140},
                                       {2, 2, "Shrinks", 10},
                                       {3, 1, "Same", 30},
                                       {4, 1, std::string("N\"<&>\x01\xff\xc3\xa9", 9), 20}},
                                      0x300);
    const std::string picture = run_with_old({"-svg", "-diff=old.dbg"}, old_build, new_build).out;
    struct Case {
        std::string title;
        std::string fill;
    };
    const Case cases[] = {
        {"Grows: 140 bytes (70.0%) main.src:1", "#e8806f"},
        {"Shrinks: 10 bytes (5.0%) lib/x.h:1", "#7fbf7b"},
        {"Same: 30 bytes (15.0%) main.src:1", "#d0d0d0"},
        {"N&quot;&lt;&amp;&gt;\\x01\\xff\xc3\xa9: 20 bytes (10.0%) main.src:1", "#9c8ce0"},
    };
    for (const Case& each : cases) {
        const std::size_t title = picture.find("<title>" + each.title + "</title>");
        ASSERT_NE(title, std::string::npos) << each.title << "\n" << picture;
        EXPECT_NE(picture.rfind("fill=\"" + each.fill + "\"", title), std::string::npos) << each.title;
        EXPECT_GT(picture.rfind("fill=\"" + each.fill + "\"", title), picture.rfind("<rect", title)) << each.title;
    }
    EXPECT_TRUE(picture.starts_with("<svg xmlns=\"http://www.w3.org/2000/svg\"")) << picture;
    EXPECT_TRUE(picture.ends_with("</svg>\n"));
}
