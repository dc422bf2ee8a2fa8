// Lookups through the real binary: code addresses to source positions and
// source lines to code addresses, in text and JSON, and malformed lookups.
#include <gtest/gtest.h>

#include <cstdio>
#include <cstdlib>

#include "run_vardex.h"

namespace {

// Code area at 0x1000. Routine 1 [0x100, 0x120) with points at 0, 7, 7
// (two on line 12) and 12; routine 2 [0x120, 0x130) without points;
// routine 3 [0x140, 0x150) with its first point at 4, overlapped by
// routine 4 [0x140, 0x160); routine 5 without an end; a point in file 7,
// which no File record names.
DebugFile game_with_routines(bool with_code_area = true) {
    DebugFile file = debug_file()
                         .file(1, "main", "games/tale/main.src")
                         .file(2, "lib", "lib/parser.h")
                         .routine(1, {1, 10, 1}, 0x100, "Main", {"x"})
                         .sequence_points(1, {{{1, 11, 5}, 0}, {{1, 12, 5}, 7}, {{1, 12, 9}, 7}, {{1, 13, 5}, 12}})
                         .routine_end(1, {1, 14, 1}, 0x120)
                         .routine(2, {2, 30, 1}, 0x120, "Parse")
                         .routine_end(2, {2, 40, 1}, 0x130)
                         .routine(3, {1, 50, 1}, 0x140, "Late")
                         .sequence_points(3, {{{1, 51, 5}, 4}, {{7, 52, 5}, 6}})
                         .routine_end(3, {1, 53, 1}, 0x150)
                         .routine(4, {2, 60, 1}, 0x140, "Wide")
                         .routine_end(4, {2, 61, 1}, 0x160)
                         .routine(5, {2, 70, 1}, 0x300, "Endless");
    if (with_code_area) file.memory_map({{"objects", 0x2b6}, {"code area", 0x1000}});
    return file.end();
}

RunResult look_up(const std::vector<std::string>& values, const DebugFile& file = game_with_routines(),
                  const std::string& mode = "") {
    std::vector<std::string> args;
    if (!mode.empty()) args.push_back(mode);
    for (const std::string& value : values) args.push_back("-lookup=" + value);
    return run_vardex(args, file);
}

}  // namespace

TEST(Lookup, AddressesInsideAtTheEdgesAndOutsideRoutines) {
    struct Case {
        std::string value;
        std::string answer;
    };
    const Case cases[] = {
        {"0x1100", "games/tale/main.src:11:5: 0x1100 is in routine Main (1), 0 bytes in"},
        {"4359", "games/tale/main.src:12:5: 0x1107 is in routine Main (1), 7 bytes in"},  // first of two at 7
        {"$110B", "games/tale/main.src:12:5: 0x110b is in routine Main (1), 11 bytes in"},
        {"+0x11f", "games/tale/main.src:13:5: +0x11f is in routine Main (1), 31 bytes in"},
        {"+288", "lib/parser.h:30:1: +0x120 is in routine Parse (2), 0 bytes in"},          // end of 1 is start of 2
        {"0x1142", "games/tale/main.src:50:1: 0x1142 is in routine Late (3), 2 bytes in"},  // before the first point
        {"0x1146", "7:52:5: 0x1146 is in routine Late (3), 6 bytes in"},
        {"0x1155", "lib/parser.h:60:1: 0x1155 is in routine Wide (4), 21 bytes in"},
        {"0x1130", "0x1130: not in any routine"},
        {"0x1300", "0x1300: not in any routine"},  // a routine without its end
        {"0xfff", "0xfff: not in any routine"},    // below the code area
    };
    std::vector<std::string> values;
    std::string expected;
    for (const Case& c : cases) {
        values.push_back(c.value);
        expected += c.answer + "\n";
        RunResult alone = look_up({c.value});
        EXPECT_EQ(alone.status, c.answer.find("not in") == std::string::npos ? 0 : 1) << c.value;
    }
    RunResult result = look_up(values);
    EXPECT_EQ(result.out, expected);
    EXPECT_EQ(result.status, 1);
}

TEST(Lookup, SourceLinesByIncludeNamePathAndLastComponent) {
    RunResult result = look_up({"main:12", "games/tale/main.src:11", "main.src:13", "parser.h:30", "main:99", "x:1"});
    EXPECT_EQ(result.out,
              "games/tale/main.src:12:5: 0x1107 in routine Main (1)\n"
              "games/tale/main.src:12:9: 0x1107 in routine Main (1)\n"
              "games/tale/main.src:11:5: 0x1100 in routine Main (1)\n"
              "games/tale/main.src:13:5: 0x110c in routine Main (1)\n"
              "parser.h:30: no code\n"
              "main:99: no code\n"
              "x:1: no code\n");
    EXPECT_EQ(result.status, 1);
    EXPECT_EQ(look_up({"main:12", "lib:99999"}).status, 1);
    EXPECT_EQ(look_up({"main:11", "0x1100"}).status, 0);
}

// Both directions agree whichever of a routine's two records comes first.
TEST(Lookup, ARoutineEndBeforeItsStartStillBoundsIt) {
    for (bool end_first : {false, true}) {
        DebugFile file = debug_file().file(1, "main", "games/tale/main.src");
        if (end_first) file.routine_end(5, {1, 12, 1}, 0x78);
        file.routine(5, {1, 9, 1}, 0x64, "Five").sequence_points(5, {{{1, 10, 5}, 2}});
        if (!end_first) file.routine_end(5, {1, 12, 1}, 0x78);
        RunResult result = look_up({"+100", "+0x66", "+0x78", "main:10"}, file.end());
        EXPECT_EQ(result.out,
                  "games/tale/main.src:9:1: +0x64 is in routine Five (5), 0 bytes in\n"
                  "games/tale/main.src:10:5: +0x66 is in routine Five (5), 2 bytes in\n"
                  "+0x78: not in any routine\n"
                  "games/tale/main.src:10:5: +0x66 in routine Five (5)\n")
            << (end_first ? "end first" : "start first");
    }
}

TEST(Lookup, WithoutACodeAreaOnlyCodeOffsetsAreAnswered) {
    RunResult result = look_up({"0x1100", "+0x100", "main:11"}, game_with_routines(false));
    EXPECT_EQ(result.out,
              "0x1100: no code area in the memory map; give +OFFSET\n"
              "games/tale/main.src:11:5: +0x100 is in routine Main (1), 0 bytes in\n"
              "games/tale/main.src:11:5: +0x100 in routine Main (1)\n");
    EXPECT_EQ(result.status, 1);
}

TEST(Lookup, MalformedLookupsAreAnsweredInTheirPlace) {
    const std::vector<std::string> values = {"",  "0xZZ", "main:", "main:0",     "0x1000000",  "object x",
                                             "+", ":3",   "-5",    "main:65536", "global 256", "array 0x"};
    std::string expected;
    for (const std::string& value : values)
        expected += "Bad lookup " + value + ": give an address, +offset or FILE:LINE\n";
    RunResult result = look_up(values);
    EXPECT_EQ(result.out, expected);
    EXPECT_EQ(result.status, 1);
    // Help and notices come first; there is no banner and no listing.
    EXPECT_EQ(run_vardex({"-lookup=0x1100", "-xyz"}, game_with_routines()).out,
              "Switch -xyz unknown\ngames/tale/main.src:11:5: 0x1100 is in routine Main (1), 0 bytes in\n");
}

TEST(Lookup, JsonAnswersOneLineEach) {
    RunResult result =
        look_up({"0x1107", "main:12", "0x1130", "main:99", "bad", "0xZZ"}, game_with_routines(), "-json");
    EXPECT_EQ(
        result.out,
        R"({"kind":"lookup","lookup":"0x1107","found":true,"address":4359,"code_offset":263,"file":1,)"
        R"("path":"games/tale/main.src","line":12,"char":5,"routine":"Main","routine_number":1,"offset_in_routine":7})"
        "\n"
        R"({"kind":"lookup","lookup":"main:12","found":true,"code":[{"address":4359,"code_offset":263,)"
        R"("routine":"Main","routine_number":1,"offset_in_routine":7,"file":1,"path":"games/tale/main.src","line":12,)"
        R"("char":5},{"address":4359,"code_offset":263,"routine":"Main","routine_number":1,"offset_in_routine":7,)"
        R"("file":1,"path":"games/tale/main.src","line":12,"char":9}]})"
        "\n"
        R"({"kind":"lookup","lookup":"0x1130","found":false,"address":4400,"code_offset":304})"
        "\n"
        R"({"kind":"lookup","lookup":"main:99","found":false})"
        "\n"
        R"({"kind":"lookup","lookup":"bad","found":false})"
        "\n"
        R"({"kind":"lookup","lookup":"0xZZ","found":false,"error":"Bad lookup 0xZZ: give an address, +offset or FILE:LINE"})"
        "\n");
    EXPECT_EQ(result.status, 1);
}

TEST(Lookup, CutFilesAndPipesEndWithAFatalError) {
    std::string file = game_with_routines().bytes();
    RunResult cut = look_up({"0x1100"}, DebugFile().raw(file.substr(0, file.size() - 3)));
    EXPECT_EQ(cut.out, "Fatal error: Unexpected end of debugging info file\n");
    EXPECT_EQ(cut.status, 1);

    std::string directory = make_temporary_directory();
    std::FILE* stream = std::fopen((directory + "/game.dbg").c_str(), "wb");
    std::fwrite(file.data(), 1, file.size(), stream);
    std::fclose(stream);
    std::string command =
        "cd " + directory + " && cat game.dbg | " VARDEX_BINARY " -lookup=+0x100 /dev/stdin > out.txt";
    EXPECT_NE(std::system(command.c_str()), 0);
    EXPECT_EQ(read_whole_file(directory + "/out.txt"),
              "Fatal error: Lookups need a debugging file that can be read twice, not a pipe\n");
}
