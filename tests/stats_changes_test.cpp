// -stats -diff=OLD and -svg through the real binary: the rows of what
// changed between two built files, how the two files' errors are named, and
// the picture parsed back against the report.
#include <gtest/gtest.h>

#include <fstream>
#include <sstream>

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

// A build: two source files, routines one after another from 0x100, a map;
// of version 0, a story of unknown size (the 32-bit target has no header).
DebugFileBuilder build(unsigned length, const std::vector<BuiltRoutine>& routines, unsigned long strings,
                       unsigned char version = 5) {
    DebugFileBuilder file = story(length, version).file(1, "main", "main.src").file(2, "lib", "lib/x.h");
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
    // Main grows and Parse shrinks by as much (ties by the larger new size);
    // the second Main counts for nothing, the nameless routine 4 is matched
    // by its number.
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
              "Sections     old    new  change  percent\n"
              "code area    512    768    +256   +50.0%\n"
              "strings    15616  15424    -192    -1.2%\n"
              "Sections: 16320 -> 16384 bytes (+64), 3 -> 3 sections (2 changed)\n"
              "\n"
              "Source file  old  new  change  percent\n"
              "main.src     141  150      +9    +6.4%\n"
              "Code: 199 -> 208 bytes (+9), 3 -> 3 source files (1 changed)\n"
              "\n"
              "Routine  old  new  change  percent\n"
              "Main     100  140     +40   +40.0%\n"
              "New\"<      -   40     +40           added\n"
              "Parse     50   10     -40   -80.0%\n"
              "Gone      30    -     -30  -100.0%  removed\n"
              "Code: 199 -> 208 bytes (+9), 6 -> 5 routines (1 added, 1 removed, 2 changed)\n");
    RunResult json = run_with_old({"-json", "-diff=old.dbg"}, old_build, new_build);
    EXPECT_EQ(json.status, 0);
    EXPECT_EQ(json.out.substr(json.out.find("\"routines\":")),
              "\"routines\":[{\"name\":\"Main\",\"old\":100,\"new\":140,\"change\":40,\"percent\":40.0},"
              "{\"name\":\"New\\\"<\",\"old\":null,\"new\":40,\"change\":40,\"percent\":null},"
              "{\"name\":\"Parse\",\"old\":50,\"new\":10,\"change\":-40,\"percent\":-80.0},"
              "{\"name\":\"Gone\",\"old\":30,\"new\":null,\"change\":-30,\"percent\":-100.0}],"
              "\"totals\":{\"story\":{\"old_bytes\":16384,\"new_bytes\":16448,\"change\":64},"
              "\"sections\":{\"old_bytes\":16320,\"new_bytes\":16384,\"change\":64,\"old_count\":3,"
              "\"new_count\":3,\"added\":0,\"removed\":0,\"changed\":2},"
              "\"files\":{\"old_bytes\":199,\"new_bytes\":208,\"change\":9,\"old_count\":3,\"new_count\":3,"
              "\"added\":0,\"removed\":0,\"changed\":1},"
              "\"routines\":{\"old_bytes\":199,\"new_bytes\":208,\"change\":9,\"old_count\":6,\"new_count\":5,"
              "\"added\":1,\"removed\":1,\"changed\":2}}}\n");
}

TEST(StatsChanges, EitherFilesErrorNamesIt) {
    const DebugFileBuilder good = build(0x1000, {{1, 1, "Main", 100}}, 0x300);
    DebugFileBuilder cut = good;
    cut.bytes().resize(4);               // inside the version numbers
    DebugFileBuilder unfinished = good;  // a build that did not finish: no End byte
    unfinished.bytes().pop_back();
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
        {{"-diff=gameinfo.dbg"}, cut, good, "...Routine: no changes\nCode: 100 -> 100 bytes (0), 1 -> 1 routine\n", 0},
        {{"-diff=old.dbg"},
         unfinished,
         good,
         "...Routine: no changes\nCode: 100 -> 100 bytes (0), 1 -> 1 routine\n",
         1},
        {{"-json", "-diff=old.dbg"},
         good,
         unfinished,
         "{\"kind\":\"stats_diff\",\"complete\":false,\"old_complete\":true,\"new_complete\":false,\"story\":{"
         "\"old\":{\"version\":5,\"bytes\":16384,\"limit\":262144},\"new\":{\"version\":5,\"bytes\":16384,"
         "\"limit\":262144}},\"records\":[],\"sections\":[],\"files\":[],\"routines\":[],\"totals\":{\"story\":{"
         "\"old_bytes\":16384,\"new_bytes\":16384,\"change\":0},\"sections\":{\"old_bytes\":16320,\"new_bytes\":"
         "16320,\"change\":0,\"old_count\":3,\"new_count\":3,\"added\":0,\"removed\":0,\"changed\":0},\"files\":{"
         "\"old_bytes\":100,\"new_bytes\":100,\"change\":0,\"old_count\":1,\"new_count\":1,\"added\":0,\"removed\":"
         "0,\"changed\":0},\"routines\":{\"old_bytes\":100,\"new_bytes\":100,\"change\":0,\"old_count\":1,"
         "\"new_count\":1,\"added\":0,\"removed\":0,\"changed\":0}}}\n",
         1},
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
         "Routine  old  new  change  percent\nMain     100    -    -100  -100.0%  removed\n",
         0},
        {{"-json", "-diff=old.dbg"},
         no_routines,
         good,
         false,
         "\"routines\":[{\"name\":\"Main\",\"old\":null,\"new\":100,\"change\":100,\"percent\":null}],",
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

// Where every routine grew alike, the rows shown are the largest routines;
// -rows=N cuts the text only.
TEST(StatsChanges, RowsOfOneChangeLargestFirstAsManyAsAsked) {
    std::vector<BuiltRoutine> old_routines, new_routines = {{6, 2, "a", 50}};
    for (unsigned number = 1; number <= 5; ++number) {
        const std::string name(1, static_cast<char>('a' + number));
        old_routines.push_back({number, 1, name, 10 * (number % 3) + 50});
        new_routines.push_back({number, 1, name, 10 * (number % 3) + 54});
    }
    const DebugFileBuilder old_build = build(0x1000, old_routines, 0x800);
    const DebugFileBuilder new_build = build(0x1000, new_routines, 0x800);
    const RunResult text = run_with_old({"-diff=old.dbg", "-rows=3"}, old_build, new_build);
    EXPECT_TRUE(
        text.out.ends_with("Routine  old  new  change  percent\n"
                           "a          -   50     +50           added\n"
                           "c         70   74      +4    +5.7%\n"
                           "f         70   74      +4    +5.7%\n"
                           "3 more changes\n"
                           "Code: 310 -> 380 bytes (+70), 5 -> 6 routines (1 added, 5 changed)\n"))
        << text.out;
    const RunResult json = run_with_old({"-json", "-diff=old.dbg", "-rows=1"}, old_build, new_build);
    EXPECT_NE(json.out.find("\"routines\":[{\"name\":\"a\",\"old\":null,\"new\":50,\"change\":50,\"percent\":null},"
                            "{\"name\":\"c\",\"old\":70,\"new\":74,\"change\":4,\"percent\":5.7},"
                            "{\"name\":\"f\",\"old\":70,\"new\":74,\"change\":4,\"percent\":5.7},"
                            "{\"name\":\"b\",\"old\":60,\"new\":64,\"change\":4,\"percent\":6.7},"
                            "{\"name\":\"e\",\"old\":60,\"new\":64,\"change\":4,\"percent\":6.7},"
                            "{\"name\":\"d\",\"old\":50,\"new\":54,\"change\":4,\"percent\":8.0}],"),
              std::string::npos)
        << json.out;
}

TEST(StatsChanges, BudgetsPassedEndTheRunWithStatus3) {
    // The story grows by 64 bytes, the code by 9; 245696 bytes are left.
    const std::vector<BuiltRoutine> old_routines = {{1, 1, "Main", 100}, {2, 2, "Parse", 99}};
    const std::vector<BuiltRoutine> new_routines = {{1, 1, "Main", 108}, {2, 2, "Parse", 100}};
    const DebugFileBuilder sized[] = {build(0x1000, old_routines, 0x300), build(0x1010, new_routines, 0x300)};
    const DebugFileBuilder unsized[] = {build(0x1000, old_routines, 0x300, 0), build(0x1010, new_routines, 0x300, 0)};
    const std::string totals = "Code: 199 -> 208 bytes (+9), 2 -> 2 routines (2 changed)\n";
    const std::string json_budget = "}}}\n{\"kind\":\"budget\",\"budget\":";
    struct Case {
        std::vector<std::string> args;
        const DebugFileBuilder* builds;
        std::string end;  // of the output, after the report's last line
        int status;
    };
    const Case cases[] = {
        {{"-max-growth=64", "-min-left=245696"}, sized, totals, 0},
        {{"-max-growth=63"}, sized, totals + "Budget exceeded: the story grew by 64 bytes, 1 over -max-growth=63\n", 3},
        {{"-max-growth=0", "-min-left=0"},
         unsized,
         totals + "Budget exceeded: the code grew by 9 bytes, 9 over -max-growth=0\n"
                  "Budget not checked: -min-left=0: the story file's limit is unknown\n",
         1},
        {{"-json", "-max-growth=63", "-min-left=245697"},
         sized,
         json_budget + "\"max-growth\",\"bytes\":63,\"of\":\"story\",\"grew\":64,\"exceeded\":true,\"over_by\":1}\n"
                       "{\"kind\":\"budget\",\"budget\":\"min-left\",\"bytes\":245697,\"of\":\"story\",\"left\":245696,"
                       "\"exceeded\":true,\"over_by\":1}\n",
         3},
        {{"-json", "-min-left=1"},
         unsized,
         json_budget + "\"min-left\",\"bytes\":1,\"of\":\"story\",\"left\":null,\"exceeded\":null,\"over_by\":null}\n",
         1},
        {{"-svg", "-max-growth=63"}, sized, "</svg>\n", 3},
        {{"-html", "-min-left=1"}, unsized, "</html>\n", 1},
    };
    for (const Case& each : cases) {
        std::vector<std::string> args = each.args;
        args.push_back("-diff=old.dbg");
        const RunResult result = run_with_old(args, each.builds[0], each.builds[1]);
        EXPECT_EQ(result.status, each.status) << each.end;
        EXPECT_TRUE(result.out.ends_with(each.end)) << result.out;
    }
}

// More rows than the text holds at once are read twice, with the same rows.
TEST(StatsChanges, ManyRowsAreTheSameReadTwice) {
    std::vector<BuiltRoutine> old_routines, new_routines;
    for (unsigned number = 1; number <= 1030; ++number) {
        std::string name = std::to_string(number);
        name.insert(0, 1, 'r');
        old_routines.push_back({number, 1, name, number});
        new_routines.push_back({number, 1, name, number + 1});
    }
    const DebugFileBuilder old_build = build(0x1000, old_routines, 0x90000);
    const DebugFileBuilder new_build = build(0x1000, new_routines, 0x90000);
    const std::string all = run_with_old({"-diff=old.dbg", "-rows=0"}, old_build, new_build).out;
    const std::string kept = run_with_old({"-diff=old.dbg", "-rows=1024"}, old_build, new_build).out;
    EXPECT_NE(all.find("Routine   old   new  change  percent\nr1030    1030  1031      +1    +0.1%\nr1029 "),
              std::string::npos)
        << all;
    EXPECT_TRUE(
        all.ends_with("r1          1     2      +1  +100.0%\nCode: 530965 -> 531995 bytes (+1030), 1030 -> "
                      "1030 routines (1030 changed)\n"))
        << all;
    EXPECT_EQ(kept.substr(0, kept.find("6 more changes\n")), all.substr(0, all.find("r6 ")));
}

TEST(StatsChanges, RoutinesNamedAfterAnObjectsNumberPairedByTheirPlace) {
    // A build's routines from "NAME BYTES ..." in file order: "#237.before" is
    // "nameless_obj__237.before"; those after "|" stand in the second file.
    auto routines = [](const std::string& text) {
        std::vector<BuiltRoutine> list;
        std::istringstream in(text);
        unsigned file = 1;
        for (std::string name; in >> name;) {
            if (name == "|") {
                file = 2;
                continue;
            }
            unsigned long bytes = 0;
            in >> bytes;
            if (name[0] == '#') name.replace(0, 1, "nameless_obj__");
            list.push_back({static_cast<unsigned>(list.size() + 1), file, name, bytes});
        }
        return list;
    };
    // A gap too large to align in full: 300 objects of a property each, the
    // 150th deleted, between two routines that grew.
    std::string many_old = "#0.first 10", many_new = "#0.first 11";
    for (unsigned i = 1; i <= 300; ++i) {
        const std::string property = ".p" + std::to_string(i) + " " + std::to_string(10 + i % 13);
        many_old += " #" + std::to_string(i) + property;
        if (i != 150) many_new += " #" + std::to_string(i < 150 ? i : i - 1) + property;
    }
    many_old += " #301.last 12";
    many_new += " #300.last 13";
    struct Case {
        const char* what;
        std::string old_routines;
        std::string new_routines;
        std::string rows;  // the routines' part of the text
    };
    const Case cases[] = {
        {"the issue's example: one object and one routine deleted, 3 rows, not 11",
         "Initialise 50 #235.before 40 #236.before 32 #237.before 36 #237.after 28 #238.before 44 #239.before 30 "
         "#239.each_turn 18 #240.before 26 ScoreTable 164 Parse 200",
         "Initialise 50 #235.before 40 #236.before 36 #236.after 28 #237.before 44 #238.before 30 "
         "#238.each_turn 18 #239.before 26 Parse 212",
         "Routine                   old  new  change  percent\n"
         "ScoreTable                164    -    -164  -100.0%  removed\n"
         "nameless_obj__236.before   32    -     -32  -100.0%  removed\n"
         "Parse                     200  212     +12    +6.0%\n"
         "Code: 668 -> 484 bytes (-184), 11 -> 9 routines (2 removed, 1 changed)\n"},
        {"one deleted, the next renumbered and grown; the object's own routine too",
         "Main 10 #1 8 #2.after 12 #3.before 40 #4 6", "Main 10 #1 8 #2.before 44 #3 6",
         "Routine                 old  new  change  percent\n"
         "nameless_obj__2.after    12    -     -12  -100.0%  removed\n"
         "nameless_obj__2.before   40   44      +4   +10.0%  was nameless_obj__3.before\n"
         "Code: 76 -> 68 bytes (-8), 5 -> 4 routines (1 removed, 1 changed)\n"},
        {"one added before two others", "Main 10 #7.before 20 #8.before 30 Last 5",
         "Main 10 #7.before 16 #8.before 20 #9.before 30 Last 5",
         "Routine                 old  new  change  percent\n"
         "nameless_obj__7.before    -   16     +16           added\n"
         "Code: 65 -> 81 bytes (+16), 4 -> 5 routines (1 added)\n"},
        {"two files: a deletion in the first renumbers the second's",
         "Main 10 #1.before 20 #2.before 30 | Lib 5 #3.before 40 #4.after 50",
         "Main 10 #1.before 30 | Lib 5 #2.before 40 #3.after 56",
         "Routine                 old  new  change  percent\n"
         "nameless_obj__1.before   20    -     -20  -100.0%  removed\n"
         "nameless_obj__3.after    50   56      +6   +12.0%  was nameless_obj__4.after\n"
         "Code: 155 -> 141 bytes (-14), 6 -> 5 routines (1 removed, 1 changed)\n"},
        {"a moved routine breaks no alignment; a name with other digits is matched by name",
         "Parse 5 #1.before 20 Room12 10 #2.before 30 #3.before 40", "#1.before 20 Room12 11 #2.before 40 Parse 5",
         "Routine                 old  new  change  percent\n"
         "nameless_obj__2.before   30    -     -30  -100.0%  removed\n"
         "Room12                   10   11      +1   +10.0%\n"
         "Code: 105 -> 76 bytes (-29), 5 -> 4 routines (1 removed, 1 changed)\n"},
        {"a file without anchors, aligned by shape", "| #5.before 20 #5.after 22 #6.life 24 #7.before 26 #7.after 28",
         "| #5.before 20 #5.after 22 #6.before 27 #6.after 28",
         "Routine                 old  new  change  percent\n"
         "nameless_obj__6.life     24    -     -24  -100.0%  removed\n"
         "nameless_obj__6.before   26   27      +1    +3.8%  was nameless_obj__7.before\n"
         "Code: 120 -> 97 bytes (-23), 5 -> 4 routines (1 removed, 1 changed)\n"},
        {"a file of one build: its numbered routines added", "Main 10", "Main 10 | #9.before 20",
         "Routine                 old  new  change  percent\n"
         "nameless_obj__9.before    -   20     +20           added\n"
         "Code: 10 -> 30 bytes (+20), 1 -> 2 routines (1 added)\n"},
        {"a gap too large to align in full, paired in order within each shape", many_old, many_new,
         "Routine                 old  new  change  percent\n"
         "nameless_obj__150.p150   17    -     -17  -100.0%  removed\n"
         "nameless_obj__300.last   12   13      +1    +8.3%  was nameless_obj__301.last\n"
         "nameless_obj__0.first    10   11      +1   +10.0%\n"
         "Code: 4817 -> 4802 bytes (-15), 302 -> 301 routines (1 removed, 2 changed)\n"},
    };
    for (const Case& each : cases) {
        const RunResult result =
            run_with_old({"-stats", "-diff=old.dbg"}, build(0x1000, routines(each.old_routines), 0x300),
                         build(0x1000, routines(each.new_routines), 0x300));
        EXPECT_EQ(result.status, 0) << each.what;
        EXPECT_EQ(result.out.substr(result.out.find("\nRoutine") + 1), each.rows) << each.what;
    }
    // JSON names the old routine of a renamed row only, also from a pipe, whose names are kept.
    const RunResult json =
        run_with_old({"-json", "-diff=/dev/stdin"}, build(0x1000, routines(cases[1].old_routines), 0x300),
                     build(0x1000, routines(cases[1].new_routines), 0x300), true);
    const std::size_t at = json.out.find("\"routines\":");
    EXPECT_EQ(json.out.substr(at, json.out.find(",\"totals\":") - at),
              "\"routines\":[{\"name\":\"nameless_obj__2.after\",\"old\":12,\"new\":null,\"change\":-12,"
              "\"percent\":-100.0},{\"name\":\"nameless_obj__2.before\",\"old\":40,\"new\":44,\"change\":4,"
              "\"percent\":10.0,\"old_name\":\"nameless_obj__3.before\"}]");
}
