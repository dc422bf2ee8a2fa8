// -stats through the real binary: record counts and bytes, the sections of
// the memory map, code by source file and by routine, the JSON line read
// back, and how the report meets lookups, fatal errors and other switches.
#include <gtest/gtest.h>

#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <sstream>
#include <vector>

#include "all_kinds.h"
#include "run_vardex.h"

namespace {

// The report of `file` after its version line.
std::string report_parts(const RunResult& result) {
    if (result.out.rfind(version_line, 0) != 0) return "no version line: " + result.out;
    return result.out.substr(version_line.size());
}

// The part of a text report that begins with a line starting `first`, up to
// and with the blank line after it.
std::string part_of(const std::string& report, const std::string& first) {
    std::size_t start = report.rfind(first, 0) == 0 ? 0 : report.find('\n' + first);
    if (start == std::string::npos) return "no part " + first + " in:\n" + report;
    if (start != 0) ++start;
    std::size_t end = report.find("\n\n", start);
    return report.substr(start, end == std::string::npos ? std::string::npos : end + 2 - start);
}

// Python's json module reads the line back; `expression` of it, `r`, printed.
std::string parse_with_python(const std::string& json_line, const std::string& expression) {
    std::string directory = make_temporary_directory();
    std::ofstream(directory + "/out.json", std::ios::binary) << json_line;
    std::ofstream(directory + "/parse.py") << "import json, sys\n"
                                              "r = json.loads(open(sys.argv[1], 'rb').read().decode('utf-8'))\n"
                                              "print("
                                           << expression << ")\n";
    std::string command = "cd " + directory + " && python3 parse.py out.json > parsed.txt 2>&1";
    int status = std::system(command.c_str());
    std::string parsed = read_whole_file(directory + "/parsed.txt");
    return status == 0 ? parsed : "python3 failed: " + parsed;
}

std::ptrdiff_t count_of(const std::string& text, const std::string& part) {
    std::ptrdiff_t count = 0;
    for (std::size_t at = text.find(part); at != std::string::npos; at = text.find(part, at + 1)) ++count;
    return count;
}

constexpr const char* kind_names[] = {
    "end",      "file",        "class",       "object",         "global",          "attribute",
    "property", "fake_action", "action",      "header",         "sequence_points", "routine",
    "array",    "memory_map",  "routine_end", "object_details", "directive_end",   "library_include",
};

// Files 1 and 2 named, 255 and 0 not. Routine 3's end comes first; 4 has no
// end and 5 ends below its start; the second Routine and RoutineEnd of 1
// count for nothing; 7 is empty.
DebugFileBuilder game_with_routines() {
    return debug_file()
        .file(1, "main", "games/tale/main.src")
        .file(2, "parser", "lib/parser.h")
        .routine(1, {1, 10, 1}, 0x100, "Ma\tin", {"x"})
        .routine_end(1, {1, 20, 1}, 0x140)
        .routine(2, {2, 30, 1}, 0x140, "Parse")
        .routine_end(2, {2, 40, 1}, 0x150)
        .routine_end(3, {255, 2, 1}, 0x1a0)
        .routine(3, {255, 1, 1}, 0x150, "Veneer")
        .routine(4, {2, 70, 1}, 0x300, "Endless")
        .routine(5, {1, 80, 1}, 0x400, "Backwards")
        .routine_end(5, {1, 81, 1}, 0x3f0)
        .routine(1, {2, 5, 1}, 0x900, "Again")
        .routine_end(1, {2, 6, 1}, 0x999)
        .routine(6, {0, 0, 0}, 0x1a0, "Builtin")
        .routine_end(6, {0, 0, 0}, 0x1b0)
        .routine(7, {1, 90, 1}, 0x1b0, "Empty")
        .routine_end(7, {1, 91, 1}, 0x1b0)
        .end();
}

}  // namespace

TEST(Stats, CountsAndBytesOfEveryRecordKindAddUpToTheFile) {
    // Every kind twice, and an unknown type byte, which is one byte of its own.
    std::string file = debug_file().bytes();
    std::uint64_t bytes[18] = {};
    for (int round = 0; round < 2; ++round) {
        for (const ListedRecord& record : records_of_every_kind()) {
            file += record.bytes;
            bytes[record.type] += record.bytes.size();
        }
    }
    file += DebugFileBuilder().byte(200).end().bytes();
    std::string expected = "Records          count  bytes\n";
    for (int type = 1; type <= 17; ++type) {
        char line[64];
        std::snprintf(line, sizeof line, "%-15s  %5d  %5d\n", kind_names[type], 2, static_cast<int>(bytes[type]));
        expected += line;
    }
    char total[64];
    std::snprintf(total, sizeof total, "unknown_type         1      1\ntotal               35  %5d\n",
                  static_cast<int>(file.size() - 7));
    expected += total;
    RunResult result = run_vardex({"-stats", "-objects"}, file);  // a section switch changes nothing
    EXPECT_EQ(result.status, 0);
    EXPECT_EQ(part_of(report_parts(result), "Records"), expected + "\n");
}

// A Header record of a story file of `version` whose length field is `length`.
DebugFileBuilder story_header(unsigned version, unsigned length) {
    std::vector<unsigned char> header(64);
    header[0] = static_cast<unsigned char>(version);
    header[0x1a] = static_cast<unsigned char>(length >> 8);
    header[0x1b] = static_cast<unsigned char>(length);
    return DebugFileBuilder().game_header(header);
}

TEST(Stats, StorySizeAgainstTheLimitOfItsVersion) {
    struct Case {
        DebugFileBuilder header;
        std::string line;
        std::string json;
    };
    const Case cases[] = {
        {story_header(3, 0x8000), "version 3, 65536 bytes of 131072 (50.0%), 65536 bytes left",
         "{\"version\":3,\"bytes\":65536,\"limit\":131072}"},
        {story_header(5, 0x8ea3), "version 5, 146060 bytes of 262144 (55.7%), 116084 bytes left",
         "{\"version\":5,\"bytes\":146060,\"limit\":262144}"},
        {story_header(8, 0xffff), "version 8, 524280 bytes of 524288 (100.0%), 8 bytes left",
         "{\"version\":8,\"bytes\":524280,\"limit\":524288}"},
        {story_header(1, 0), "version 1, 0 bytes of 131072 (0.0%), 131072 bytes left",
         "{\"version\":1,\"bytes\":0,\"limit\":131072}"},
        {story_header(9, 0x8000), "size unknown (no version 1 to 8 in the header)", "null"},
        {story_header(0, 0x8000), "size unknown (no version 1 to 8 in the header)", "null"},
        {DebugFileBuilder(), "no Header record (the 32-bit target writes none); code 0 bytes in its routines", "null"},
    };
    for (const Case& each : cases) {
        // Only the first Header record counts.
        DebugFileBuilder file = debug_file().raw(each.header.bytes());
        if (each.header.size() != 0) file.raw(story_header(4, 1).bytes());
        file.end();
        EXPECT_EQ(part_of(report_parts(run_vardex({"-stats"}, file)), "Story"), "Story file: " + each.line + "\n\n");
        const std::string json = run_vardex({"-stats", "-json"}, file).out;
        EXPECT_NE(json.find("},\"story\":" + each.json + ",\"records\":"), std::string::npos) << json;
    }
}

TEST(Stats, SectionsInFileOrderSizedOnlyWhenTheAddressesRise) {
    struct Case {
        std::string name;
        DebugFileBuilder maps;
        std::string sections;
    };
    const Case cases[] = {
        {"rising, the last up to the story's end",
         story_header(5, 0x4c00)
             .memory_map({{"a", 0x40}, {"b", 0x40}, {"code area", 0x1a0}, {"strings area", 0x12f00}})
             .memory_map({{"ignored", 0}}),
         "Sections      address   size\n"
         "a             0x00040      0\n"
         "b             0x00040    352\n"
         "code area     0x001a0  77152\n"
         "strings area  0x12f00    256\n"},
        {"rising, a story that ends before the last", story_header(5, 1).memory_map({{"a", 0x40}, {"b", 0x80}}),
         "Sections  address  size\n"
         "a         0x00040    64\n"
         "b         0x00080     -\n"},
        {"separate regions",
         story_header(5, 0x4bc0).memory_map({{"code area", 0x3c}, {"global variables", 0}, {"strings", 0x800}}),
         "Sections          address  size\n"
         "code area         0x0003c     -\n"
         "global variables  0x00000     -\n"
         "strings           0x00800     -\n"
         "No sizes: the addresses fall back in file order (entries of separate regions)\n"},
        {"several at the last address", DebugFileBuilder().memory_map({{"z", 0xffffff}, {"y", 0xffffff}}),
         "Sections   address  size\n"
         "z         0xffffff     0\n"
         "y         0xffffff     -\n"},
        {"no entries", DebugFileBuilder().memory_map({}), "Sections: the memory map has no entries\n"},
        {"no map", DebugFileBuilder(), "Sections: no memory map\n"},
    };
    for (const Case& each : cases) {
        RunResult result = run_vardex({"-stats"}, debug_file().raw(each.maps.bytes()).end());
        EXPECT_EQ(part_of(report_parts(result), "Sections"), each.sections + "\n") << each.name;
    }
    // A map of 1026 entries keeps the first 1024.
    DebugFileBuilder large = debug_file().byte(13);
    for (unsigned long address = 0; address < 1026; ++address) large.string("s").address(address);
    large.byte(0).end();
    const std::string report = report_parts(run_vardex({"-stats"}, large));
    EXPECT_TRUE(part_of(report, "Sections")
                    .ends_with("s         0x003fe     1\ns         0x003ff     -\n"
                               "2 more entries left out\n\n"))
        << report;
    const std::string json = run_vardex({"-stats", "-json"}, large).out;
    EXPECT_EQ(count_of(json, "{\"name\":"), 1024);
    EXPECT_NE(json.find("],\"sections_left_out\":2,\"code\":"), std::string::npos);
}

TEST(Stats, CodeBySourceFileAndByRoutine) {
    const std::string report = report_parts(run_vardex({"-stats"}, game_with_routines()));
    EXPECT_EQ(part_of(report, "Code"),
              "Code: 176 bytes in 5 routines\n"
              "Source file                   routines  bytes  percent\n"
              "(compiler's own routines)            1     80    45.5%  ##################\n"
              "games/tale/main.src                  2     64    36.4%  ###############\n"
              "(built-ins)                          1     16     9.1%  ####\n"
              "lib/parser.h                         1     16     9.1%  ####\n"
              "(no end, or end below start)         2      -        -\n"
              "\n");
    EXPECT_EQ(part_of(report, "Largest"),
              "Largest routines\n"
              "bytes  percent  routine   start\n"
              "   80    45.5%  Veneer    ??:1\n"
              "   64    36.4%  Ma\\x09in  games/tale/main.src:10\n"
              "   16     9.1%  Parse     lib/parser.h:30\n"
              "   16     9.1%  Builtin   ??:0\n"
              "    0     0.0%  Empty     games/tale/main.src:90\n");
}

TEST(Stats, JsonIsOneLineThatReadsBack) {
    DebugFileBuilder file = game_with_routines();
    file.bytes().pop_back();  // the End record, after a map
    file.memory_map({{"code area", 0x1000}, {"end \"of\" file", 0x800}}).end();
    RunResult result = run_vardex({"-json", "-stats"}, file);
    EXPECT_EQ(result.status, 0);
    EXPECT_EQ(count_of(result.out, "\n"), 1);
    EXPECT_EQ(parse_with_python(result.out,
                                "r['kind'], r['version'], r['records'][-2:], r['sections'], r['code'], "
                                "[tuple(f.values()) for f in r['files']], [tuple(x.values()) for x in r['routines']]"),
              "stats {'major': 6, 'minor': 36, 'revision': 1632} "
              "[{'kind': 'memory_map', 'count': 1, 'bytes': 32}, {'kind': 'routine_end', 'count': 7, 'bytes': 70}] "
              "[{'name': 'code area', 'address': 4096, 'size': None}, "
              "{'name': 'end \"of\" file', 'address': 2048, 'size': None}] "
              "{'bytes': 176, 'routines': 5, 'without_end': 2} "
              "[(255, None, 1, 80), (1, 'games/tale/main.src', 2, 64), (0, None, 1, 16), (2, 'lib/parser.h', 1, 16)] "
              "[(3, 'Veneer', 80, 255, None, 1, 1, 336), (1, 'Ma\\tin', 64, 1, 'games/tale/main.src', 10, 1, 256), "
              "(2, 'Parse', 16, 2, 'lib/parser.h', 30, 1, 320), (6, 'Builtin', 16, 0, None, 0, 0, 416), "
              "(7, 'Empty', 0, 1, 'games/tale/main.src', 90, 1, 432)]\n");
}

TEST(Stats, TwentyLargestRoutinesWithTiesInFileOrder) {
    // Routines 23 down to 1, in that order; routine N takes 10 * (N % 3) bytes.
    DebugFileBuilder file = debug_file().file(1, "main", "main.src");
    for (unsigned number = 23; number >= 1; --number) {
        std::string name = std::to_string(number);
        name.insert(0, 1, 'r');
        file.routine(number, {1, number, 1}, 0x100 * number, name)
            .routine_end(number, {1, number, 9}, 0x100 * number + 10 * (number % 3));
    }
    const std::string json = run_vardex({"-stats", "-json"}, file.end()).out;
    std::string numbers;
    for (std::size_t at = json.find("{\"number\":"); at != std::string::npos; at = json.find("{\"number\":", at + 1))
        numbers += json.substr(at + 10, json.find(',', at) - at - 10) + ' ';
    EXPECT_EQ(numbers, "23 20 17 14 11 8 5 2 22 19 16 13 10 7 4 1 21 18 15 12 9 6 3 ");
    // The text lists the first 20 of them, or as many as -rows=N asks, 0 for all.
    struct Case {
        std::vector<std::string> args;
        std::string names;
    };
    const Case cases[] = {
        {{"-stats"}, "r23 r20 r17 r14 r11 r8 r5 r2 r22 r19 r16 r13 r10 r7 r4 r1 r21 r18 r15 r12 "},
        {{"-rows=3"}, "r23 r20 r17 "},
        {{"-rows=0"}, "r23 r20 r17 r14 r11 r8 r5 r2 r22 r19 r16 r13 r10 r7 r4 r1 r21 r18 r15 r12 r9 r6 r3 "},
    };
    for (const Case& each : cases) {
        std::istringstream lines(part_of(report_parts(run_vardex(each.args, file)), "Largest"));
        std::string names, line, bytes, percent, name;
        std::getline(lines, line);  // the title and the column names
        std::getline(lines, line);
        while (lines >> bytes >> percent >> name >> line) names += name + ' ';
        EXPECT_EQ(names, each.names) << each.args[0];
    }
}

TEST(Stats, EndsAsTheOtherModesDoAndComesBeforeLookups) {
    DebugFileBuilder cut = game_with_routines();
    cut.bytes().resize(4);  // inside the version numbers
    struct Case {
        std::string name;
        std::vector<std::string> args;
        const DebugFileBuilder& file;
        std::string output_end;  // the whole output, or its end after "..."
        int status;
    };
    const DebugFileBuilder game = game_with_routines();
    const DebugFileBuilder story = debug_file().raw(story_header(3, 0x8000).bytes()).end();  // 65536 bytes left
    const Case cases[] = {
        {"cut text", {"-stats"}, cut, "Fatal error: Unexpected end of debugging info file\n", 1},
        {"cut JSON",
         {"-stats", "-json"},
         cut,
         "{\"kind\":\"fatal_error\",\"message\":\"Unexpected end of debugging info file\"}\n",
         1},
        {"lookup found",
         {"-lookup=+0x141", "-stats"},
         game,
         "...games/tale/main.src:90\nlib/parser.h:30:1: +0x141 is in routine Parse (2), 1 bytes in\n",
         0},
        {"lookup not found",
         {"-stats", "-json", "-lookup=+0x999"},
         game,
         "...]}\n{\"kind\":\"lookup\",\"lookup\":\"+0x999\",\"found\":false,\"code_offset\":2457}\n",
         1},
        {"budget passed",
         {"-stats", "-min-left=65537"},
         story,
         "...\nBudget exceeded: the story has 65536 bytes left, 1 under -min-left=65537\n",
         3},
        {"budget not checked, then a lookup found",
         {"-min-left=0", "-lookup=+0x141"},
         game,
         "...main.src:90\nBudget not checked: -min-left=0: the story file's limit is unknown\n"
         "lib/parser.h:30:1: +0x141 is in routine Parse (2), 1 bytes in\n",
         1},
    };
    for (const Case& each : cases) {
        RunResult result = run_vardex(each.args, each.file);
        EXPECT_EQ(result.status, each.status) << each.name;
        if (each.output_end.rfind("...", 0) == 0) {
            std::string end = each.output_end.substr(3);
            EXPECT_TRUE(result.out.size() >= end.size() && result.out.ends_with(end)) << each.name << ":\n"
                                                                                      << result.out;
        } else {
            EXPECT_EQ(result.out, each.output_end) << each.name;
        }
    }
    RunRequest full;
    full.args = {"-stats"};
    full.debug_file = &game.bytes();
    full.stdout_to = Stdout::DevFull;
    EXPECT_EQ(run_vardex(full).status, 2);
}

TEST(Stats, AFileReadOnceGivesTheSameReport) {
    // A pipe cannot be read again for the names, so they are kept as read.
    const DebugFileBuilder game = game_with_routines();
    const std::string directory = make_temporary_directory();
    ASSERT_TRUE(game.write_to((directory + "/game.dbg").c_str()));
    for (std::string mode : {"-text", "-json"}) {
        std::string command =
            "cd " + directory + " && cat game.dbg | " VARDEX_BINARY " -stats " + mode + " /dev/stdin > piped.txt";
        EXPECT_EQ(std::system(command.c_str()), 0) << mode;
        EXPECT_EQ(read_whole_file(directory + "/piped.txt"), run_vardex({"-stats", mode}, game).out) << mode;
    }
}

// A build that did not finish leaves a file that stops before its End
// record: it is profiled up to its last whole record (one cut inside counts
// in no table), says so, and ends with status 1, read from a pipe too.
TEST(Stats, AFileThatEndsEarlyIsProfiledUpToItsLastWholeRecord) {
    const std::string head = debug_file()
                                 .raw(story_header(5, 0x200).bytes())
                                 .file(1, "main", "main.src")
                                 .routine(1, {1, 1, 1}, 0x100, "Main")
                                 .routine_end(1, {1, 2, 1}, 0x140)
                                 .bytes();
    const std::string second =
        DebugFileBuilder().routine(2, {1, 3, 1}, 0x140, "Second", {"x"}).routine_end(2, {1, 4, 1}, 0x150).bytes();
    const std::string map = DebugFileBuilder().memory_map({{"code area", 0x100}, {"strings", 0x600}}).bytes();
    const std::string note =
        "Incomplete: the debugging file ends before its End record (the build that wrote it did not finish)\n";
    struct Case {
        std::string name;
        std::string file;
        std::vector<std::string> args;
        std::string part;  // the first line of the part expected
        std::string expected;
    };
    const Case cases[] = {
        {"no End byte",
         head + second + map,
         {"-stats"},
         "Story",
         "Story file: version 5, 2048 bytes of 262144 (0.8%), 260096 bytes left\n" + note + "\n"},
        {"no End byte: every record counts",
         head + second + map,
         {"-stats"},
         "Records",
         "Records      count  bytes\nfile             1     16\nheader           1     65\nroutine          2     36\n"
         "memory_map       1     26\nroutine_end      2     20\ntotal            7    163\n\n"},
        {"inside the map",
         head + second + map.substr(0, 20),
         {"-stats"},
         "Records",
         "Records      count  bytes\nfile             1     16\nheader           1     65\nroutine          2     36\n"
         "routine_end      2     20\ntotal            6    137\n\n"},
        {"inside the map: no sections",
         head + second + map.substr(0, 20),
         {"-stats"},
         "Sections",
         "Sections: no memory map\n\n"},
        {"inside a routine",
         head + second.substr(0, 12),
         {"-stats"},
         "Code",
         "Code: 64 bytes in 1 routine\nSource file  routines  bytes  percent\n"
         "main.src            1     64   100.0%  ########################################\n\n"},
        {"JSON",
         head,
         {"-stats", "-json"},
         "{",
         "{\"kind\":\"stats\",\"complete\":false,\"version\":{\"major\":6,\"minor\":36,\"revision\":1632},\"story\":{"
         "\"version\":5,\"bytes\":2048,\"limit\":262144},\"records\":[{\"kind\":\"file\",\"count\":1,\"bytes\":16},{"
         "\"kind\":\"header\",\"count\":1,\"bytes\":65},{\"kind\":\"routine\",\"count\":1,\"bytes\":16},{\"kind\":"
         "\"routine_end\",\"count\":1,\"bytes\":10}],\"sections\":[],\"code\":{\"bytes\":64,\"routines\":1,"
         "\"without_end\":0},\"files\":[{\"file\":1,\"path\":\"main.src\",\"routines\":1,\"bytes\":64}],"
         "\"routines\":[{\"number\":1,\"name\":\"Main\",\"bytes\":64,\"file\":1,\"path\":\"main.src\",\"line\":1,"
         "\"char\":1,\"address\":256}]}\n"},
    };
    const std::string directory = make_temporary_directory();
    for (const Case& each : cases) {
        RunResult result = run_vardex(each.args, each.file);
        EXPECT_EQ(result.status, 1) << each.name;
        EXPECT_EQ(each.part == "{" ? result.out : part_of(report_parts(result), each.part), each.expected) << each.name;
        std::ofstream(directory + "/cut.dbg", std::ios::binary) << each.file;
        const std::string piped = "cd " + directory + " && cat cut.dbg | " VARDEX_BINARY;
        std::string command = piped;
        for (const std::string& arg : each.args) command += ' ' + arg;
        EXPECT_EQ(std::system((command + " /dev/stdin > piped.txt").c_str()) >> 8, 1) << each.name;
        EXPECT_EQ(read_whole_file(directory + "/piped.txt"), result.out) << each.name;
    }
    const RunResult picture = run_vardex({"-svg"}, head + second);
    EXPECT_EQ(picture.status, 1);
    EXPECT_NE(picture.out.find("gameinfo.dbg<tspan fill=\"#b2182b\"> \u2014 incomplete: the file ends before the End "
                               "record</tspan></text>"),
              std::string::npos)
        << picture.out;
}

TEST(Stats, PictureOfTheWholeStoryOrOfTheCodeAlone) {
    // A story of 65536 bytes: its header, the code area and the strings; a
    // routine of 3 bytes is too small to draw.
    auto game = [](const DebugFileBuilder& header) {
        return debug_file()
            .raw(header.bytes())
            .file(1, "main", "games/tale/main.src")
            .routine(1, {1, 10, 1}, 0x40, "Main<&>")
            .routine_end(1, {1, 20, 1}, 0x1040)
            .routine(2, {1, 50, 1}, 0x1040, "Tiny")
            .routine_end(2, {1, 51, 1}, 0x1043);
    };
    DebugFileBuilder story = game(story_header(5, 0x4000)).memory_map({{"code area", 0x40}, {"strings", 0x1043}});
    EXPECT_EQ(
        run_vardex({"-svg"}, story.end()).out,
        "<svg xmlns=\"http://www.w3.org/2000/svg\" viewBox=\"0 0 1200 894\" width=\"100%\" font-family=\"sans-serif\" "
        "font-size=\"11\" style=\"background:#fff\">\n"
        "<text x=\"4\" y=\"18\" font-size=\"15\" font-weight=\"bold\" pointer-events=\"none\">gameinfo.dbg</text>\n"
        "<text x=\"4\" y=\"38\" font-size=\"13\" pointer-events=\"none\">story file 65536 bytes of 262144 (25.0%), "
        "196608 bytes left; code 4099 bytes in 2 routines</text>\n"
        "<path d=\"M4 49h12v12h-12z\" fill=\"#efe3c8\"/><text x=\"20\" y=\"59.5\" "
        "pointer-events=\"none\">strings</text>\n"
        "<path d=\"M85 49h12v12h-12z\" fill=\"#d8c39b\"/><text x=\"101\" y=\"59.5\" pointer-events=\"none\">code "
        "area</text>\n"
        "<path d=\"M180 49h12v12h-12z\" fill=\"#bfb5a0\"/><text x=\"196\" y=\"59.5\" "
        "pointer-events=\"none\">(header)</text>\n"
        "<path d=\"M0 68h300v18h-300z\" fill=\"#c8c8c8\"><title>story file: 65536 bytes (25.0%) of "
        "262144</title></path>\n"
        "<text x=\"3\" y=\"78.5\" pointer-events=\"none\">story file 65536</text>\n"
        "<rect class=\"left\" x=\"300\" y=\"68\" width=\"900\" height=\"18\" fill=\"#fff\" stroke=\"#909090\" "
        "stroke-width=\".5\"><title>room left: 196608 bytes (75.0%)</title></rect>\n"
        "<text x=\"303\" y=\"78.5\" pointer-events=\"none\">room left 196608</text>\n"
        "<g class=\"section-group\">\n"
        "<rect class=\"section\" data-name=\"strings\" x=\"0\" y=\"94\" width=\"1123.8\" height=\"800\" "
        "fill=\"#efe3c8\" stroke=\"#fff\" stroke-width=\".5\"><title>strings: 61373 bytes (93.6%)</title></rect>\n"
        "<text x=\"3\" y=\"104.5\" font-weight=\"bold\" pointer-events=\"none\">strings 61373</text>\n"
        "</g>\n"
        "<g class=\"section-group\">\n"
        "<rect class=\"section\" data-name=\"code area\" x=\"1123.8\" y=\"94\" width=\"76.2\" height=\"787.7\" "
        "fill=\"#d8c39b\" stroke=\"#fff\" stroke-width=\".5\"><title>code area: 4099 bytes (6.3%)</title></rect>\n"
        "<g class=\"file-group\">\n"
        "<rect class=\"routine\" data-name=\"Main&lt;&amp;&gt;\" x=\"1123.8\" y=\"94\" width=\"76.2\" height=\"787.1\" "
        "fill=\"#8fb9d8\" stroke=\"#fff\" stroke-width=\".5\"><title>Main&lt;&amp;&gt;: 4096 bytes (99.9%) "
        "games/tale/main.src:10</title></rect>\n"
        "<text x=\"1126.8\" y=\"130.5\" pointer-events=\"none\">Mai… 4096</text>\n"
        "<rect class=\"small\" x=\"1123.8\" y=\"881.1\" width=\"76.2\" height=\"0.6\" fill=\"#8fb9d8\" "
        "fill-opacity=\".45\"><title>1 small routine: 3 bytes</title></rect>\n"
        "<rect class=\"file\" data-name=\"games/tale/main.src\" x=\"1123.8\" y=\"94\" width=\"76.2\" height=\"787.7\" "
        "fill=\"none\" stroke=\"#303030\" stroke-width=\"1.5\"><title>games/tale/main.src: 4099 bytes "
        "(100.0%)</title></rect>\n"
        "<text x=\"1126.8\" y=\"117.5\" font-weight=\"bold\" pointer-events=\"none\">ga… 4099</text>\n"
        "</g>\n"
        "<text x=\"1126.8\" y=\"104.5\" font-weight=\"bold\" pointer-events=\"none\">co… 4099</text>\n"
        "</g>\n"
        "<g class=\"section-group\">\n"
        "<rect class=\"section\" data-name=\"(header)\" x=\"1123.8\" y=\"881.7\" width=\"76.2\" height=\"12.3\" "
        "fill=\"#bfb5a0\" stroke=\"#fff\" stroke-width=\".5\"><title>(header): 64 bytes (0.1%)</title></rect>\n"
        "</g>\n"
        "</svg>\n");
    // Where the sections cannot be sized, the code alone, and why in the title.
    struct Case {
        DebugFileBuilder file;
        std::string title_end;
    };
    const Case cases[] = {
        {game(DebugFileBuilder()).memory_map({{"code area", 0x40}}),
         "story size unknown; code 4099 bytes in 2 routines; sections not drawn: no story size"},
        {game(story_header(5, 0x4000)).memory_map({{"code area", 0x100}, {"globals", 0}}),
         "bytes in 2 routines; sections not drawn: a memory map of separate regions"},
        {game(story_header(5, 0x4000)).memory_map({{"objects", 0x40}}),
         "sections not drawn: no code area in the memory map"},
        {game(story_header(5, 0x4000)), "sections not drawn: no memory map"},
    };
    for (const Case& each : cases) {
        const std::string picture = run_vardex({"-svg"}, DebugFileBuilder(each.file).end()).out;
        EXPECT_NE(picture.find(each.title_end + "</text>\n"), std::string::npos) << picture;
        EXPECT_EQ(count_of(picture, "<g class=\"section-group\">"), 0) << each.title_end;
        EXPECT_EQ(count_of(picture, "<g class=\"file-group\">"), 1) << each.title_end;
    }
}

TEST(Stats, PageHoldsThePictureAndTheTextsTablesWithNamesAsText) {
    const DebugFileBuilder file = debug_file()
                                      .file(1, "main", "a&b.src")
                                      .routine(1, {1, 10, 1}, 0x100, "</script><b>\"'", {})
                                      .routine_end(1, {1, 20, 1}, 0x140)
                                      .routine(2, {1, 30, 1}, 0x140, "Ma\tin")
                                      .routine_end(2, {1, 40, 1}, 0x150)
                                      .end();
    const std::string page = run_vardex({"-html"}, file).out;  // -html alone implies -stats
    EXPECT_TRUE(page.starts_with("<!DOCTYPE html>\n") && page.ends_with("</html>\n")) << page;
    EXPECT_NE(page.find(" data-name=\"&lt;/script&gt;&lt;b&gt;&quot;'\""), std::string::npos);
    EXPECT_NE(page.find("<title>&lt;/script&gt;&lt;b&gt;&quot;'"), std::string::npos);
    EXPECT_EQ(count_of(page, "</script>") + count_of(page, "<b>"), 1);  // the page's own script
    const std::size_t tables = page.find("\nLargest routines");
    EXPECT_EQ(page.substr(tables, page.find("</div>", tables) - tables),
              "\nLargest routines\n"
              "<table>\n"
              "<tr><th class=\"r\">bytes</th><th class=\"r\">percent</th><th>routine</th><th>start</th></tr>\n"
              "<tr><td class=\"r\">64</td><td class=\"r\">80.0%</td><td>&lt;/script&gt;&lt;b&gt;&quot;'</td>"
              "<td>a&amp;b.src:10</td></tr>\n"
              "<tr><td class=\"r\">16</td><td class=\"r\">20.0%</td><td>Ma\\x09in</td><td>a&amp;b.src:30</td></tr>\n"
              "</table>");
}
