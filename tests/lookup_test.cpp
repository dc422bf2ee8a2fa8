// Lookups through the real binary: code addresses to source positions and
// source lines to code addresses, names and numbers to records, in text and
// JSON, from the command line and from standard input, and bad lookups.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <poll.h>
#include <sys/ioctl.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <utility>

#include "run_vardex.h"

namespace {

// Code area at 0x1000. Routine 1 [0x100, 0x120) with points at 0, 7, 7
// (two on line 12) and 12; routine 2 [0x120, 0x130) without points;
// routine 3 [0x140, 0x150) with its first point at 4, overlapped by
// routine 4 [0x140, 0x160); routine 5 without an end; a point in file 7,
// which no File record names.
DebugFileBuilder game_with_routines(bool with_code_area = true) {
    DebugFileBuilder file =
        debug_file()
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

RunResult look_up(const std::vector<std::string>& values, const DebugFileBuilder& file = game_with_routines(),
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
        {"0x1146", "??:52:5: 0x1146 is in routine Late (3), 6 bytes in"},
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
        DebugFileBuilder file = debug_file().file(1, "main", "games/tale/main.src");
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

// How a lookup is read, the same from the command line and from standard
// input: every kind of bad lookup the manual lists, in its order, and the
// text around a lookup.
TEST(Lookup, ReadingRulesAreTheSameFromBothInputs) {
    const std::string bad = ": give an address, +offset, FILE:LINE, NAME or KIND NUMBER\n";
    const std::string main_routine = "games/tale/main.src:10:1: routine 1 \"Main\" at 0x1100\n";
    const std::string long_lookup = std::string(4097, 'a');
    struct Case {
        std::string lookup;
        std::string answer;
    };
    const Case cases[] = {
        {"", "Bad lookup " + bad},
        {" \t", "Bad lookup " + bad},
        {"#x", "Bad lookup #x" + bad},
        {"0xZZ", "Bad lookup 0xZZ" + bad},
        {"0x1000000", "Bad lookup 0x1000000" + bad},
        {"+", "Bad lookup +" + bad},
        {"-5", "Bad lookup -5" + bad},
        {"main:", "Bad lookup main:" + bad},
        {"main:0", "Bad lookup main:0" + bad},
        {"main:65536", "Bad lookup main:65536" + bad},
        {":3", "Bad lookup :3" + bad},
        {"object x", "Bad lookup object x" + bad},
        {"object 65536", "Bad lookup object 65536" + bad},
        {"global 256", "Bad lookup global 256" + bad},
        {"array 0x", "Bad lookup array 0x" + bad},
        {long_lookup, "Bad lookup " + long_lookup.substr(0, 4096) + bad},
        {"ROUTINE 1", main_routine},
        {"Routine 0x1", main_routine},
        {" \tmain\t ", main_routine},
        {"main\r", main_routine},
        {"main \r", main_routine},
        {std::string(4092, ' ') + "main\r", main_routine},  // 4,096 bytes before the carriage return
    };
    std::vector<std::string> values;
    std::string input, expected, expected_from_input;
    for (const Case& c : cases) {
        values.push_back(c.lookup);
        input += c.lookup + "\n";
        expected += c.answer;
        expected_from_input += c.answer + "\n";
    }
    RunResult result = look_up(values);
    EXPECT_EQ(result.out, expected);
    EXPECT_EQ(result.status, 1);
    EXPECT_EQ(run_vardex({"-lookup"}, game_with_routines(), input).out, expected_from_input);
    // A last line without its newline reads the same.
    EXPECT_EQ(run_vardex({"-lookup"}, game_with_routines(), "main\r").out, main_routine + "\n");
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
        R"({"kind":"lookup","lookup":"0xZZ","found":false,"error":"Bad lookup 0xZZ: give an address, +offset, FILE:LINE, NAME or KIND NUMBER"})"
        "\n");
    EXPECT_EQ(result.status, 1);
}

TEST(Lookup, CutFilesAndPipesEndWithAFatalError) {
    std::string file = game_with_routines().bytes();
    RunResult cut = look_up({"0x1100"}, DebugFileBuilder().raw(file.substr(0, file.size() - 3)));
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

namespace {

// A record of every kind that bears a name; object 27 is repeated by a later
// record, which does not count.
DebugFileBuilder game_with_names() {
    return debug_file()
        .file(1, "main", "games/tale/main.src")
        .class_("Room", {1, 5, 1}, {1, 9, 2})
        .object(27, "hall", {1, 10, 1}, {1, 14, 2})
        .object(27, "Hall", {1, 20, 1}, {1, 24, 2})
        .object(28, "HALL", {1, 30, 1}, {1, 34, 2})
        .global(16, "score")
        .attribute(0, "light")
        .property(3, "description")
        .fake_action(4096, "LetGo")
        .action(1, "Take")
        .array(1842, "stack")
        .routine(1, {1, 40, 1}, 0x100, "Hall", {"x"})
        .routine_end(1, {1, 44, 1}, 0x120)
        .memory_map({{"code area", 0x1000}})
        .end();
}

struct Answer {
    std::string lookup;
    std::string text;
};

const Answer name_and_number_answers[] = {
    {"hall",
     "games/tale/main.src:10:1: object 27 \"hall\"\ngames/tale/main.src:30:1: object 28 \"HALL\"\n"
     "games/tale/main.src:40:1: routine 1 \"Hall\" at 0x1100\n"},
    {"ROOM", "games/tale/main.src:5:1: class \"Room\"\n"},
    {"Score", "global 16 \"score\"\n"},
    {"object 27", "games/tale/main.src:10:1: object 27 \"hall\"\n"},
    {"object 0x1c", "games/tale/main.src:30:1: object 28 \"HALL\"\n"},
    {"global 16", "global 16 \"score\"\n"},
    {"attribute 0", "attribute 0 \"light\"\n"},
    {"property 3", "property 3 \"description\"\n"},
    {"fake_action 4096", "fake_action 4096 \"LetGo\"\n"},
    {"action 1", "action 1 \"Take\"\n"},
    {"routine 1", "games/tale/main.src:40:1: routine 1 \"Hall\" at 0x1100\n"},
    {"array 1842", "array 1842 \"stack\"\n"},
    {"hal", "hal: not found\n"},
    {"object 29", "object 29: not found\n"},
    {"action 4096", "action 4096: not found\n"},
    {"Food::before", "Food::before: not found\n"},
};

}  // namespace

TEST(Lookup, NamesInAnyCaseAndNumbersOfEveryKind) {
    std::vector<std::string> values;
    std::string expected;
    for (const Answer& answer : name_and_number_answers) {
        values.push_back(answer.lookup);
        expected += answer.text;
    }
    RunResult result = look_up(values, game_with_names());
    EXPECT_EQ(result.out, expected);
    EXPECT_EQ(result.status, 1);
    EXPECT_EQ(look_up({"hall", "global 16"}, game_with_names()).status, 0);
}

// Each lookup of standard input gets the answer it gets on the command line;
// in text mode an empty line follows it, in JSON mode it is one line.
TEST(Lookup, StandardInputAnswersAsTheCommandLineDoes) {
    const Answer answers[] = {
        {"0x1107", "games/tale/main.src:12:5: 0x1107 is in routine Main (1), 7 bytes in\n"},
        {"0x1130", "0x1130: not in any routine\n"},
        {"main:12",
         "games/tale/main.src:12:5: 0x1107 in routine Main (1)\ngames/tale/main.src:12:9: 0x1107 in routine Main "
         "(1)\n"},
        {"main.src:13:2", "games/tale/main.src:13:5: 0x110c in routine Main (1)\n"},
        {"main:99", "main:99: no code\n"},
        {"Main", "games/tale/main.src:10:1: routine 1 \"Main\" at 0x1100\n"},
        {"routine 3", "games/tale/main.src:50:1: routine 3 \"Late\" at 0x1140\n"},
        {"x", "x: not found\n"},
        {"0xZZ", "Bad lookup 0xZZ: give an address, +offset, FILE:LINE, NAME or KIND NUMBER\n"},
    };
    std::vector<std::string> values;
    std::string input, on_command_line, from_input;
    for (const Answer& answer : answers) {
        values.push_back(answer.lookup);
        input += answer.lookup + "\n";
        on_command_line += answer.text;
        from_input += answer.text + "\n";
    }
    EXPECT_EQ(look_up(values).out, on_command_line);
    RunResult result = run_vardex({"-lookup=0x1100", "-lookup"}, game_with_routines(), input);
    EXPECT_EQ(result.out, "games/tale/main.src:11:5: 0x1100 is in routine Main (1), 0 bytes in\n" + from_input);
    EXPECT_EQ(result.status, 1);

    std::string json = look_up(values, game_with_routines(), "-json").out;
    EXPECT_EQ(std::count(json.begin(), json.end(), '\n'), std::ssize(answers));
    EXPECT_EQ(run_vardex({"-json", "-lookup"}, game_with_routines(), input).out, json);

    EXPECT_EQ(run_vardex({"-lookup"}, game_with_routines(), "0x1100\nmain:11").status, 0);
    RunResult closed_at_once = run_vardex({"-lookup"}, game_with_routines(), "");
    EXPECT_EQ(closed_at_once.out, "");
    EXPECT_EQ(closed_at_once.status, 0);
}

TEST(Lookup, LinesOfStandardInputAsTheyCome) {
    const std::string long_line(5000, 'a');
    const std::string input = std::string("\x01\x00z\n", 4) + "a\tb\n" + long_line + "\n" + "main:11\r\n\n0x1100";
    RunResult result = run_vardex({"-lookup"}, game_with_routines(), input);
    EXPECT_EQ(result.out,
              "Bad lookup \\x01\\x00z: give an address, +offset, FILE:LINE, NAME or KIND NUMBER\n\n"
              "a\\x09b: not found\n\n"
              "Bad lookup " +
                  long_line.substr(0, 4096) +
                  ": give an address, +offset, FILE:LINE, NAME or KIND NUMBER\n\n"
                  "games/tale/main.src:11:5: 0x1100 in routine Main (1)\n\n"
                  "Bad lookup : give an address, +offset, FILE:LINE, NAME or KIND NUMBER\n\n"
                  "games/tale/main.src:11:5: 0x1100 is in routine Main (1), 0 bytes in\n\n");
    EXPECT_EQ(result.status, 1);
}

// Every JSON answer: "address" from the code area, absent without one;
// "code_offset" wherever the code is known.
TEST(Lookup, JsonAddressesAndCodeOffsets) {
    struct Case {
        std::vector<std::string> values;
        bool with_code_area;
        std::string answers;
    };
    const Case cases[] = {
        {{"+0x100", "0x1100"},
         true,
         R"({"kind":"lookup","lookup":"+0x100","found":true,"address":4352,"code_offset":256,"file":1,)"
         R"("path":"games/tale/main.src","line":11,"char":5,"routine":"Main","routine_number":1,"offset_in_routine":0})"
         "\n"
         R"({"kind":"lookup","lookup":"0x1100","found":true,"address":4352,"code_offset":256,"file":1,)"
         R"("path":"games/tale/main.src","line":11,"char":5,"routine":"Main","routine_number":1,"offset_in_routine":0})"
         "\n"},
        {{"+0x100", "0x1100", "main:11", "routine 1"},
         false,
         R"({"kind":"lookup","lookup":"+0x100","found":true,"code_offset":256,"file":1,)"
         R"("path":"games/tale/main.src","line":11,"char":5,"routine":"Main","routine_number":1,"offset_in_routine":0})"
         "\n"
         R"({"kind":"lookup","lookup":"0x1100","found":false,"error":"no code area in the memory map; give +OFFSET"})"
         "\n"
         R"({"kind":"lookup","lookup":"main:11","found":true,"code":[{"code_offset":256,"routine":"Main",)"
         R"("routine_number":1,"offset_in_routine":0,"file":1,"path":"games/tale/main.src","line":11,"char":5}]})"
         "\n"
         R"({"kind":"lookup","lookup":"routine 1","found":true,"symbols":[{"kind":"routine","number":1,)"
         R"("name":"Main","file":1,"path":"games/tale/main.src","line":10,"char":1,"code_offset":256}]})"
         "\n"},
    };
    for (const Case& c : cases)
        EXPECT_EQ(look_up(c.values, game_with_routines(c.with_code_area), "-json").out, c.answers);
    EXPECT_EQ(look_up({"hall", "Room"}, game_with_names(), "-json").out,
              R"({"kind":"lookup","lookup":"hall","found":true,"symbols":[{"kind":"object","number":27,"name":"hall",)"
              R"("file":1,"path":"games/tale/main.src","line":10,"char":1},{"kind":"object","number":28,"name":"HALL",)"
              R"("file":1,"path":"games/tale/main.src","line":30,"char":1},{"kind":"routine","number":1,"name":"Hall",)"
              R"("file":1,"path":"games/tale/main.src","line":40,"char":1,"address":4352,"code_offset":256}]})"
              "\n"
              R"({"kind":"lookup","lookup":"Room","found":true,"symbols":[{"kind":"class","name":"Room","file":1,)"
              R"("path":"games/tale/main.src","line":5,"char":1}]})"
              "\n");
}

// FILE:LINE:CHAR, the form of every position vardex writes, reads as
// FILE:LINE unless a File record is named FILE:LINE.
TEST(Lookup, PositionsWithTheirCharacter) {
    DebugFileBuilder file = debug_file()
                                .file(1, "main", "games/tale/main.src")
                                .file(2, "odd:12", "odd:12")
                                .routine(1, {1, 10, 1}, 0x100, "Main")
                                .sequence_points(1, {{{1, 12, 5}, 3}, {{2, 5, 1}, 6}})
                                .routine_end(1, {1, 14, 1}, 0x120)
                                .end();
    EXPECT_EQ(look_up({"games/tale/main.src:12:5", "odd:12:5", "main:12:5:1"}, file).out,
              "games/tale/main.src:12:5: +0x103 in routine Main (1)\n"
              "odd:12:5:1: +0x106 in routine Main (1)\n"
              "main:12:5:1: no code\n");
}

// Records out of the usual order: a routine's points spread over several
// records among others, all of which count, and the code of a line listed
// in file order.
TEST(Lookup, PointsOfARoutineInSeveralRecords) {
    DebugFileBuilder file = debug_file()
                                .file(1, "main", "games/tale/main.src")
                                .sequence_points(9, {{{1, 21, 1}, 8}})
                                .routine(9, {1, 20, 1}, 0x100, "Nine")
                                .routine(8, {1, 30, 1}, 0x200, "Eight")
                                .sequence_points(8, {{{1, 21, 2}, 0}})
                                .sequence_points(9, {{{1, 22, 1}, 4}, {{1, 21, 3}, 12}})
                                .sequence_points(7, {{{1, 21, 4}, 2}})  // of a routine without its Routine record
                                .routine_end(9, {1, 23, 1}, 0x120)
                                .routine_end(8, {1, 31, 1}, 0x210)
                                .end();
    EXPECT_EQ(look_up({"+0x106", "+0x109", "+0x10c", "main:21"}, file).out,
              "games/tale/main.src:22:1: +0x106 is in routine Nine (9), 6 bytes in\n"
              "games/tale/main.src:21:1: +0x109 is in routine Nine (9), 9 bytes in\n"
              "games/tale/main.src:21:3: +0x10c is in routine Nine (9), 12 bytes in\n"
              "games/tale/main.src:21:1: +0x108 in routine Nine (9)\n"
              "games/tale/main.src:21:2: +0x200 in routine Eight (8)\n"
              "games/tale/main.src:21:3: +0x10c in routine Nine (9)\n"
              "games/tale/main.src:21:4: routine 7, 2 bytes in\n");
    EXPECT_EQ(look_up({"main:21:4"}, file, "-json").out,
              R"({"kind":"lookup","lookup":"main:21:4","found":true,"code":[{"code_offset":264,"routine":"Nine",)"
              R"("routine_number":9,"offset_in_routine":8,"file":1,"path":"games/tale/main.src","line":21,"char":1},)"
              R"({"code_offset":512,"routine":"Eight","routine_number":8,"offset_in_routine":0,"file":1,)"
              R"("path":"games/tale/main.src","line":21,"char":2},{"code_offset":268,"routine":"Nine",)"
              R"("routine_number":9,"offset_in_routine":12,"file":1,"path":"games/tale/main.src",)"
              R"("line":21,"char":3},{"routine":null,"routine_number":7,"offset_in_routine":2,"file":1,)"
              R"("path":"games/tale/main.src","line":21,"char":4}]})"
              "\n");
}

// More source lines than the line index holds, and names after them: the
// answers stay whole, the records beyond the index read when asked for.
TEST(Lookup, MoreLinesThanTheIndexHolds) {
    DebugFileBuilder file = debug_file().file(1, "main", "games/tale/main.src");
    std::string expected;
    for (unsigned routine = 0; routine < 20; ++routine) {
        std::vector<SequencePoint> points;
        for (unsigned i = 0; i < 60000; ++i) points.push_back({{1, i + 1, 1}, i});
        file.routine(routine, {1, 1, 1}, 0x10000 * routine, std::string("r").append(std::to_string(routine)))
            .sequence_points(routine, points)
            .routine_end(routine, {1, 1, 1}, 0x10000 * routine + 0xFFFF);
        char row[80];
        std::snprintf(row, sizeof row, "games/tale/main.src:7:1: +0x%x in routine r%u (%u)\n", 0x10000 * routine + 6,
                      routine, routine);
        expected += row;
    }
    file.object(1, "lamp", {1, 2, 3}, {1, 4, 5}).end();
    EXPECT_EQ(look_up({"main:7", "lamp"}, file).out, expected + "games/tale/main.src:2:3: object 1 \"lamp\"\n");
}

namespace {

void write_file(const std::string& path, const std::string& bytes) {
    std::FILE* stream = std::fopen(path.c_str(), "wb");
    std::fwrite(bytes.data(), 1, bytes.size(), stream);
    std::fclose(stream);
}

// vardex as a co-process: a lookup written, its answer read up to the empty
// line that ends it (in JSON, its line); a hang fails after 10 s.
struct CoProcess {
    pid_t child = -1;
    int to_vardex = -1;
    int from_vardex = -1;
    std::string pending;  // read beyond the last answer

    explicit CoProcess(std::vector<std::string> args) {
        int input[2], output[2];
        if (pipe(input) != 0 || pipe(output) != 0) return;
        std::vector<char*> argv{const_cast<char*>(VARDEX_BINARY)};
        for (std::string& arg : args) argv.push_back(arg.data());
        argv.push_back(nullptr);
        child = fork();
        if (child == 0) {
            dup2(input[0], 0);
            dup2(output[1], 1);
            close(input[1]);
            close(output[0]);
            execv(VARDEX_BINARY, argv.data());
            _exit(127);
        }
        close(input[0]);
        close(output[1]);
        to_vardex = input[1];
        from_vardex = output[0];
    }
    ~CoProcess() {
        if (child > 0) finish();
    }

    void send(const std::string& lookup) {
        EXPECT_EQ(write(to_vardex, lookup.data(), lookup.size()), static_cast<ssize_t>(lookup.size()));
    }
    std::string read_answer(bool json = false) {
        const std::string end = json ? "\n" : "\n\n";
        auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(10);
        for (std::size_t found; (found = pending.find(end)) == std::string::npos;) {
            pollfd ready{from_vardex, POLLIN, 0};
            auto left =
                std::chrono::duration_cast<std::chrono::milliseconds>(deadline - std::chrono::steady_clock::now());
            if (left.count() <= 0 || poll(&ready, 1, static_cast<int>(left.count())) != 1)
                return std::exchange(pending, "") + "(no answer)";
            char buffer[65536];
            ssize_t got = read(from_vardex, buffer, sizeof buffer);
            if (got <= 0) return std::exchange(pending, "") + "(vardex ended)";
            pending.append(buffer, static_cast<std::size_t>(got));
        }
        const std::size_t size = pending.find(end) + end.size();
        std::string answer = pending.substr(0, size);
        pending.erase(0, size);
        return answer;
    }
    std::string answer_to(const std::string& lookup, bool json = false) {
        send(lookup);
        return read_answer(json);
    }
    // The bytes it has read from files and pipes so far.
    long bytes_read() const {
        std::string io = read_whole_file("/proc/" + std::to_string(child) + "/io");
        return std::atol(io.c_str() + io.find("rchar: ") + 7);
    }
    // Ends its input; its exit status.
    int finish() {
        close(to_vardex);
        close(from_vardex);
        int status = 0;
        waitpid(child, &status, 0);
        child = -1;
        return WIFEXITED(status) ? WEXITSTATUS(status) : 128;
    }
};

}  // namespace

// A program that writes one lookup and waits for its answer gets it at
// once, from the file as it stands: written again in place (the same size
// or shorter), replaced by another renamed over it, removed and back.
TEST(Lookup, ACoProcessFollowsItsFileAsItIsWrittenAgain) {
    std::string directory = make_temporary_directory();
    std::string path = directory + "/game.dbg";
    const std::string game = game_with_routines().bytes();
    write_file(path, game);
    CoProcess vardex({"-lookup", path});
    auto answer_to = [&](const std::string& lookup) { return vardex.answer_to(lookup); };
    EXPECT_EQ(answer_to("0x1100\n"), "games/tale/main.src:11:5: 0x1100 is in routine Main (1), 0 bytes in\n\n");
    EXPECT_EQ(answer_to("main:12\n"),
              "games/tale/main.src:12:5: 0x1107 in routine Main (1)\n"
              "games/tale/main.src:12:9: 0x1107 in routine Main (1)\n\n");

    std::string renamed = game;
    renamed.replace(renamed.find("Main"), 4, "Mian");
    write_file(path, renamed);  // in place, the same size
    EXPECT_EQ(answer_to("0x1100\n"), "games/tale/main.src:11:5: 0x1100 is in routine Mian (1), 0 bytes in\n\n");
    EXPECT_EQ(answer_to("mian\n"), "games/tale/main.src:10:1: routine 1 \"Mian\" at 0x1100\n\n");

    const DebugFileBuilder shorter = debug_file()
                                         .file(1, "main", "games/tale/main.src")
                                         .routine(4, {1, 5, 1}, 0x100, "Wide")
                                         .routine_end(4, {1, 6, 1}, 0x110)
                                         .memory_map({{"code area", 0x1000}})
                                         .end();
    write_file(path, shorter.bytes());  // in place, shorter
    std::string two_answers = answer_to("0x1100\n0x1150\n");
    EXPECT_EQ(two_answers + vardex.read_answer(),
              "games/tale/main.src:5:1: 0x1100 is in routine Wide (4), 0 bytes in\n\n0x1150: not in any routine\n\n");

    write_file(path + ".new", game);
    ASSERT_EQ(std::rename((path + ".new").c_str(), path.c_str()), 0);
    EXPECT_EQ(answer_to("routine 4\n"), "lib/parser.h:60:1: routine 4 \"Wide\" at 0x1140\n\n");

    ASSERT_EQ(std::remove(path.c_str()), 0);
    EXPECT_EQ(answer_to("routine 4\n"),
              path + ": debugging file changed and could not be read again: No such file or directory\n\n");
    write_file(path, game.substr(0, game.size() - 5));
    EXPECT_EQ(answer_to("main\n"),
              path + ": debugging file changed and could not be read again: Unexpected end of debugging info file\n\n");
    write_file(path, game);
    EXPECT_EQ(answer_to("main\n"), "games/tale/main.src:10:1: routine 1 \"Main\" at 0x1100\n\n");
    EXPECT_EQ(vardex.finish(), 1);  // two lookups could not be answered
}

// A line without code names the next line of its file that has some, in
// both forms; a file number that no File record names has a null path in JSON.
TEST(Lookup, ALineWithoutCodeNamesTheNextAndUnnamedFilesHaveNoPath) {
    struct Case {
        std::string value;
        std::string text;
        std::string json;
    };
    const Case cases[] = {
        {"main:10", "main:10: no code; next code on line 11",
         R"({"kind":"lookup","lookup":"main:10","found":false,"next_line":11})"},
        {"main.src:14", "main.src:14: no code; next code on line 51",
         R"({"kind":"lookup","lookup":"main.src:14","found":false,"next_line":51})"},
        {"main:51", "games/tale/main.src:51:5: 0x1144 in routine Late (3)", ""},
        {"main:52", "main:52: no code", R"({"kind":"lookup","lookup":"main:52","found":false})"},  // the last line
        {"parser.h:30", "parser.h:30: no code", R"({"kind":"lookup","lookup":"parser.h:30","found":false})"},
        {"0x1146", "??:52:5: 0x1146 is in routine Late (3), 6 bytes in",
         R"({"kind":"lookup","lookup":"0x1146","found":true,"address":4422,"code_offset":326,"file":7,"path":null,)"
         R"("line":52,"char":5,"routine":"Late","routine_number":3,"offset_in_routine":6})"},
    };
    for (const Case& c : cases) {
        EXPECT_EQ(look_up({c.value}).out, c.text + "\n") << c.value;
        if (!c.json.empty()) {
            EXPECT_EQ(look_up({c.value}, game_with_routines(), "-json").out, c.json + "\n") << c.value;
        }
    }
}

namespace {

// The same size, the first 4 KiB different: parser.h named parsex.h.
struct Builds {
    std::string first;
    std::string second;
};

Builds builds_renaming_a_file(std::size_t filler_objects) {
    Builds builds;
    for (std::string* build : {&builds.first, &builds.second}) {
        DebugFileBuilder file = debug_file()
                                    .file(1, "main", "games/tale/main.src")
                                    .file(2, "parser", build == &builds.first ? "lib/parser.h" : "lib/parsex.h")
                                    .routine(2, {2, 30, 1}, 0x120, "Parse")
                                    .sequence_points(2, {{{2, 31, 5}, 2}})
                                    .routine_end(2, {2, 40, 1}, 0x130);
        for (std::size_t i = 0; i < filler_objects; ++i) file.object(i & 0xFFFF, "filler", {1, 2, 3}, {1, 4, 5});
        *build = file.memory_map({{"code area", 0x1000}}).end().bytes();
    }
    return builds;
}

const std::string parse_in_first = "lib/parser.h:31:5: 0x1122 is in routine Parse (2), 2 bytes in\n\n";
const std::string parse_in_second = "lib/parsex.h:31:5: 0x1122 is in routine Parse (2), 2 bytes in\n\n";

// 20,000 objects of one name, lamp in the first build, lamb in the second.
Builds builds_of_many_lamps() {
    Builds builds;
    for (std::string* build : {&builds.first, &builds.second}) {
        DebugFileBuilder file = debug_file().file(1, "main", "games/tale/main.src");
        for (unsigned i = 0; i < 20000; ++i)
            file.object(i, build == &builds.first ? "lamp" : "lamb", {1, 10, 1}, {1, 14, 2});
        *build = file.end().bytes();
    }
    return builds;
}

const std::string cut_answer = ": debugging file changed during the answer; ask again";

// An answer to "lamp" that a change of the file cut after part of it went
// out: whole rows of lamps, each once, in order, then the line that says so.
void expect_cut_lamps(const std::string& answer, const std::string& path, bool json) {
    const std::string close = json ? "],\"error\":\"" + path + cut_answer + "\"}\n" : path + cut_answer + "\n\n";
    ASSERT_TRUE(answer.ends_with(close)) << answer.substr(answer.size() - std::min<std::size_t>(200, answer.size()));
    const std::string rows = answer.substr(0, answer.size() - close.size());
    if (json) {
        EXPECT_TRUE(rows.starts_with(R"({"kind":"lookup","lookup":"lamp","found":true,"symbols":[{"kind":"object")"));
        EXPECT_TRUE(rows.ends_with("}"));
        EXPECT_EQ(rows.find('\n'), std::string::npos);
    }
    const std::string row_text = json ? R"({"kind":"object","number":)" : "games/tale/main.src:10:1: object ";
    unsigned count = 0;
    for (std::size_t at = rows.find(row_text); at != std::string::npos; at = rows.find(row_text, at + 1), ++count)
        ASSERT_EQ(std::atoi(rows.c_str() + at + row_text.size()), static_cast<int>(count));
    EXPECT_GT(count, 1000u);  // more than a buffer went out
    EXPECT_LT(count, 20000u);
}

std::vector<unsigned char> header_bytes(unsigned char first) {
    std::vector<unsigned char> bytes(64);
    for (unsigned i = 0; i < 64; ++i) bytes[i] = static_cast<unsigned char>(first + i);
    return bytes;
}

std::string story_of(unsigned char first) {
    const std::vector<unsigned char> bytes = header_bytes(first);
    return std::string(bytes.begin(), bytes.end()) + std::string(1000, 'z');
}

}  // namespace

// The server never answers for another version of its file than the one
// it stands at when the lookups arrive, nor for another build than its
// story file's, and never gives an answer twice.
TEST(Lookup, ACoProcessNeverAnswersForAnotherVersionOrBuild) {
    struct Case {
        const char* name;
        void (*run)(const std::string& directory);
    };
    const Case cases[] = {
        {"a rewrite of the same size that restores the times",
         [](const std::string& directory) {
             const std::string path = directory + "/game.dbg";
             const Builds builds = builds_renaming_a_file(0);
             write_file(path, builds.first);
             struct stat before {};
             ASSERT_EQ(stat(path.c_str(), &before), 0);
             CoProcess vardex({"-lookup", path});
             EXPECT_EQ(vardex.answer_to("0x1122\n"), parse_in_first);
             write_file(path, builds.second);
             const timespec times[2] = {before.st_atim, before.st_mtim};
             ASSERT_EQ(utimensat(AT_FDCWD, path.c_str(), times, 0), 0);
             EXPECT_EQ(vardex.answer_to("0x1122\n"), parse_in_second);
             EXPECT_EQ(vardex.answer_to("parser.h:31\n"), "parser.h:31: no code\n\n");  // reads no record
         }},
        {"a write that lands while the file is read again",
         [](const std::string& directory) {
             const std::string path = directory + "/game.dbg";
             const Builds builds = builds_renaming_a_file(1500000);  // 27 MB, read for a while
             write_file(path, builds.first);
             CoProcess vardex({"-lookup", path});
             EXPECT_EQ(vardex.answer_to("0x1122\n"), parse_in_first);
             write_file(path, builds.first);  // written again: read again at the next lookup
             const long before = vardex.bytes_read();
             vardex.send("0x1122\n");
             const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(10);
             while (vardex.bytes_read() < before + (1 << 20) && std::chrono::steady_clock::now() < deadline) {
             }
             // Its first 4 KiB, which the reading has passed, as a build's last write.
             std::FILE* stream = std::fopen(path.c_str(), "r+b");
             std::fwrite(builds.second.data(), 1, 4096, stream);
             std::fclose(stream);
             EXPECT_EQ(vardex.read_answer(), parse_in_second);
             EXPECT_EQ(vardex.answer_to("parser.h:31\n"), "parser.h:31: no code\n\n");
         }},
        {"a long answer cut by a change, in both forms",
         [](const std::string& directory) {
             const std::string path = directory + "/game.dbg";
             const Builds builds = builds_of_many_lamps();
             for (bool json : {false, true}) {
                 write_file(path, builds.first);
                 CoProcess vardex(json ? std::vector<std::string>{"-json", "-lookup", path}
                                       : std::vector<std::string>{"-lookup", path});
                 vardex.send("lamp\n");
                 // Its output fills the pipe, which is not read: it waits in the middle of the answer.
                 const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(10);
                 for (int waiting = 0; waiting < 65536 && std::chrono::steady_clock::now() < deadline;)
                     ioctl(vardex.from_vardex, FIONREAD, &waiting);
                 write_file(path, builds.second);
                 expect_cut_lamps(vardex.read_answer(json), path, json);
                 const std::string next = vardex.answer_to("lamb\n", json);
                 EXPECT_EQ(next.substr(0, 40), json ? R"({"kind":"lookup","lookup":"lamb","found")"
                                                    : "games/tale/main.src:10:1: object 0 \"lamb");
                 EXPECT_EQ(vardex.finish(), 1);
             }
         }},
        {"a story file of another build",
         [](const std::string& directory) {
             const std::string path = directory + "/game.dbg";
             const std::string story = directory + "/game.z5";
             DebugFileBuilder file = game_with_routines();
             write_file(path, file.bytes().substr(0, file.bytes().size() - 1) +
                                  DebugFileBuilder().game_header(header_bytes(5)).end().bytes());
             write_file(story, story_of(5));
             const std::string main = "games/tale/main.src:11:5: 0x1100 is in routine Main (1), 0 bytes in\n";
             const std::string other = path + ": not of the build of story file " + story +
                                       ": its Header record is not the story file's first 64 bytes\n";
             CoProcess vardex({"-lookup", "-story=" + story, path});
             EXPECT_EQ(vardex.answer_to("0x1100\n"), main + "\n");
             write_file(story, story_of(6));
             EXPECT_EQ(vardex.answer_to("0x1100\n"), other + "\n");
             write_file(story, story_of(5));
             EXPECT_EQ(vardex.answer_to("0x1100\n"), main + "\n");
             write_file(story, story_of(5).substr(0, 63));
             EXPECT_EQ(vardex.answer_to("0x1100\n"), other + "\n");
             EXPECT_EQ(vardex.finish(), 1);

             write_file(story, story_of(5));
             CoProcess in_json({"-json", "-lookup", "-story=" + story, path});
             EXPECT_TRUE(
                 in_json.answer_to("0x1100\n", true).starts_with(R"({"kind":"lookup","lookup":"0x1100","found":true)"));
             write_file(story, story_of(6));
             EXPECT_EQ(in_json.answer_to("0x1100\n", true),
                       R"({"kind":"lookup","lookup":"0x1100","found":false,"error":")" +
                           other.substr(0, other.size() - 1) + "\"}\n");

             RunRequest request;
             request.working_directory = directory;
             request.args = {"-lookup=0x1100", "-story=game.z5", "game.dbg"};
             RunResult refused = run_vardex(request);
             EXPECT_EQ(refused.out,
                       "Fatal error: Debugging file \"game.dbg\" is not of the build of story file \"game.z5\": its "
                       "Header record is not the story file's first 64 bytes\n");
             EXPECT_EQ(refused.status, 1);
             request.args = {"-lookup=0x1100", "-story=none.z5", "game.dbg"};
             EXPECT_EQ(run_vardex(request).out, "Fatal error: Couldn't open story file \"none.z5\"\n");
             write_file(path, game_with_routines().bytes());  // the 32-bit target's: no Header record
             request.args = {"-lookup=0x1100", "-story=game.z5", "game.dbg"};
             EXPECT_EQ(run_vardex(request).out,
                       "Debugging file \"game.dbg\" has no Header record: it cannot be "
                       "checked against story file \"game.z5\"\n" +
                           main);
         }},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        c.run(make_temporary_directory());
    }
}
