// JSON mode through the real binary: one JSON object per line for every
// record, strings that read back as exactly the characters they stand for,
// and runs cut short that still parse to their last line.
#include <gtest/gtest.h>

#include <cstdlib>
#include <fstream>
#include <sstream>

#include "all_kinds.h"
#include "run_vardex.h"

namespace {

std::vector<std::string> lines_of(const std::string& text) {
    std::vector<std::string> lines;
    std::istringstream stream(text);
    for (std::string line; std::getline(stream, line);) lines.push_back(line);
    return lines;
}

// Each line parsed by python3's json module, and `expression` of the record
// `r` printed on a line of its own; a line that does not parse fails.
std::string parse_with_python(const std::string& json_lines, const std::string& expression) {
    std::string directory = make_temporary_directory();
    std::ofstream(directory + "/out.jsonl", std::ios::binary) << json_lines;
    std::ofstream(directory + "/parse.py") << "import json, sys\n"
                                              "for line in open(sys.argv[1], 'rb').read().split(b'\\n')[:-1]:\n"
                                              "    r = json.loads(line.decode('utf-8'))\n"
                                              "    print("
                                           << expression << ")\n";
    std::string command = "cd " + directory + " && python3 parse.py out.jsonl > parsed.txt 2>&1";
    int status = std::system(command.c_str());
    std::string parsed = read_whole_file(directory + "/parsed.txt");
    return status == 0 ? parsed : "python3 failed: " + parsed;
}

const std::string json_version_line = "{\"kind\":\"version\",\"major\":6,\"minor\":36,\"revision\":1632}";

}  // namespace

TEST(JsonOutput, EveryKindIsOneLineWithItsMembers) {
    RunResult result = run_vardex({"-json", "-all"}, file_of_every_kind());
    EXPECT_EQ(result.status, 0);
    std::string header_hex;
    for (unsigned i = 0; i < 64; ++i) {
        char pair[3];
        std::snprintf(pair, sizeof pair, "%02x", (i * 4 + 3) & 0xFF);
        header_hex += pair;
    }
    const std::vector<std::string> expected = {
        json_version_line,
        R"({"kind":"file","number":1,"include_name":"main","path":"games/tale/main.src"})",
        R"({"kind":"library_include","at":{"file":1,"line":3,"char":1}})",
        R"({"kind":"class","name":"Room","start":{"file":1,"line":5,"char":1},"end":{"file":1,"line":9,"char":2}})",
        R"({"kind":"object","number":65535,"name":"lamp","start":{"file":1,"line":10,"char":2},"end":{"file":1,"line":14,"char":1}})",
        R"({"kind":"object_details","number":65535,"short_name":"brass lamp","with_at":{"file":1,"line":11,"char":5},)"
        R"("name_at":{"file":0,"line":0,"char":0},"names":["brass","lamp"],"exits":[{"index":1,"direction":"n_to","to":"hall"},)"
        R"({"index":12,"direction":"out_to","to":""},{"index":13,"direction":"dir13_to","to":"attic"}]})",
        R"({"kind":"global","number":255,"name":"score"})",
        R"({"kind":"attribute","number":0,"name":"light"})",
        R"({"kind":"property","number":65535,"name":"name"})",
        R"({"kind":"fake_action","number":4096,"name":"LetGo"})",
        R"({"kind":"action","number":1,"name":"Take"})",
        R"({"kind":"header","bytes":")" + header_hex + R"("})",
        R"({"kind":"routine","number":7,"start":{"file":1,"line":20,"char":1},"address":418,"name":"Main","locals":["x","y"]})",
        R"({"kind":"sequence_points","routine":7,"points":[{"at":{"file":1,"line":21,"char":5},"offset":0},)"
        R"({"at":{"file":1,"line":22,"char":5},"offset":65535}]})",
        R"({"kind":"routine_end","number":7,"end":{"file":1,"line":23,"char":1},"address":16777215})",
        R"({"kind":"array","address":1842,"name":"stack"})",
        R"({"kind":"memory_map","entries":[{"name":"objects","address":694},{"name":"end","address":0}]})",
        R"({"kind":"directive_end","at":{"file":1,"line":30,"char":1}})",
        R"({"kind":"end"})",
    };
    EXPECT_EQ(lines_of(result.out), expected);
    EXPECT_EQ(parse_with_python(result.out, "r['kind']"),
              "version\nfile\nlibrary_include\nclass\nobject\nobject_details\nglobal\nattribute\nproperty\n"
              "fake_action\naction\nheader\nroutine\nsequence_points\nroutine_end\narray\nmemory_map\n"
              "directive_end\nend\n");
}

TEST(JsonOutput, EmptyListsSectionsNoticesAndTheLastMode) {
    DebugFileBuilder file = debug_file()
                                .routine(1, {1, 2, 3}, 0, "", {})
                                .sequence_points(1, {})
                                .memory_map({})
                                .object_details(2, "", {0, 0, 0}, {0, 0, 0}, {}, {})
                                .byte(200)
                                .end();
    RunResult result = run_vardex({"-json", "-routines", "-code", "-map", "-xyz"}, file);
    EXPECT_EQ(
        result.out,
        R"({"kind":"notice","message":"Switch -xyz unknown"})"
        "\n" +
            json_version_line +
            "\n"
            R"({"kind":"routine","number":1,"start":{"file":1,"line":2,"char":3},"address":0,"name":"","locals":[]})"
            "\n"
            R"({"kind":"sequence_points","routine":1,"points":[]})"
            "\n"
            R"({"kind":"memory_map","entries":[]})"
            "\n"
            R"({"kind":"unknown_type","type":200})"
            "\n"
            R"({"kind":"end"})"
            "\n");
    // The help text is one notice, even with -json after it; -text after -json lists text.
    EXPECT_EQ(parse_with_python(run_vardex({"-help", "-json", "-files"}, file).out, "r['kind'], len(r)"),
              "notice 2\nversion 4\nunknown_type 2\nend 1\n");
    EXPECT_EQ(
        parse_with_python(run_vardex({"-help", "-json"}, file).out, "r.get('message', '').count('\\n')").substr(0, 3),
        "14\n");
    EXPECT_EQ(run_vardex({"-json", "-text", "-files"}, file).out, banner + version_line + "Unknown type 200\n");
}

TEST(JsonOutput, StringsReadBackAsTheCharactersTheirBytesStandFor) {
    struct Case {
        std::string bytes;
        std::string read_back;  // Python's ascii() of the string parsed
    };
    const Case cases[] = {
        {"plain", "'plain'"},
        {"say \"hi\" \\o/", R"('say "hi" \\o/')"},
        {"new\nline\ttab\r\x01\x1f\x7f", R"('new\nline\ttab\r\x01\x1f\x7f')"},
        {"caf\xc3\xa9 \xe2\x82\xac \xf0\x9f\x90\x89", R"('caf\xe9 \u20ac \U0001f409')"},
        {"na\xefve \xff", R"('na\xefve \xff')"},                                    // Latin-1
        {"\xed\xa0\x80 \xc0\xaf \xe2\x82", R"('\xed\xa0\x80 \xc0\xaf \xe2\x82')"},  // not UTF-8
        {"a\xe2\x80\xa8"
         "b\xc2\x85"
         "c\x85",
         R"('a\u2028b\x85c\x85')"},
        {"\"quoted and long enough to pass 32 bytes\"", R"('"quoted and long enough to pass 32 bytes"')"},
    };
    // Each string also second in its lists, after an exit whose index byte is a quote.
    DebugFileBuilder file = debug_file();
    std::string expected;
    for (const Case& c : cases) {
        file.object(1, c.bytes, {1, 1, 1}, {1, 1, 1})
            .object_details(1, c.bytes, {0, 0, 0}, {0, 0, 0}, {"w", c.bytes}, {{'"', "x"}, {'\\', c.bytes}});
        expected += c.read_back + "\n" + c.read_back + " " + c.read_back + " " + c.read_back + "\n";
    }
    file.end();
    RunResult result = run_vardex({"-json", "-objects", "-all"}, file);
    EXPECT_EQ(result.out.find("\xe2\x80\xa8"), std::string::npos) << "a line separator left raw";
    EXPECT_EQ(parse_with_python(result.out,
                                "ascii(r['name']) if r['kind'] == 'object' else "
                                "' '.join([ascii(r['short_name']), ascii(r['names'][1]), ascii(r['exits'][1]['to'])]) "
                                "if r['kind'] == 'object_details' else r['kind']"),
              "version\n" + expected + "end\n");
}

TEST(JsonOutput, FatalErrorsEndTheOutputWithTheirLine) {
    RunResult missing = run_vardex({"-json", "no\"such\n.dbg"}, std::string());
    EXPECT_EQ(missing.out, R"({"kind":"fatal_error","message":"Couldn't open debugging info file \"no\"such\n.dbg\""})"
                           "\n");
    EXPECT_EQ(missing.status, 1);
    RunResult bad_magic = run_vardex({"-json"}, std::string("\xde\xbe"));
    EXPECT_EQ(bad_magic.out,
              R"({"kind":"fatal_error","message":"Debugging info file does not begin with magic number DEBF."})"
              "\n");
    EXPECT_EQ(bad_magic.status, 1);
}

// Every proper prefix of a file: the lines before the last are the first
// lines of the complete listing (no record cut short is written), and the
// last is the fatal error.
TEST(JsonOutput, ACutRecordIsNeverWritten) {
    std::vector<SequencePoint> points(65535, SequencePoint{{1, 2, 3}, 4});
    std::vector<std::string> words(20000, "somewhat-long-word");
    DebugFileBuilder large = debug_file().file(1, "main", "main.src").sequence_points(9, points);
    large.byte(15).word(1).string("x").line_ref({1, 2, 3}).line_ref({1, 2, 3});
    for (const std::string& word : words) large.string(word);
    large.byte(0).byte(0).end();
    const std::string fatal = R"({"kind":"fatal_error","message":"Unexpected end of debugging info file"})";

    struct Cut {
        const std::string* file;
        const std::vector<std::string>* complete;
        std::size_t length;
    };
    const std::string sample = read_whole_file(VARDEX_SAMPLE);
    const std::vector<std::string> sample_lines = lines_of(run_vardex({"-json", "-all"}, sample).out);
    const std::vector<std::string> large_lines = lines_of(run_vardex({"-json", "-all"}, large).out);
    std::vector<Cut> cuts;
    for (std::size_t length = 2; length < sample.size(); ++length) cuts.push_back({&sample, &sample_lines, length});
    for (std::size_t length :
         {std::size_t{60}, std::size_t{100000}, std::size_t{393000}, large.size() - 40000, large.size() - 2})
        cuts.push_back({&large.bytes(), &large_lines, length});

    std::string all_cut_output;
    for (const Cut& cut : cuts) {
        RunResult result = run_vardex_in_bulk({"-json", "-all"}, cut.file->substr(0, cut.length));
        std::vector<std::string> lines = lines_of(result.out);
        ASSERT_FALSE(lines.empty());
        EXPECT_EQ(lines.back(), fatal) << "cut at " << cut.length;
        lines.pop_back();
        ASSERT_LE(lines.size(), cut.complete->size());
        EXPECT_TRUE(std::equal(lines.begin(), lines.end(), cut.complete->begin())) << "cut at " << cut.length;
        EXPECT_EQ(result.status, 1);
        if (cut.file == &sample) all_cut_output += result.out;
    }
    std::string kinds = parse_with_python(all_cut_output, "r['kind']");
    EXPECT_EQ(kinds.find("python3 failed"), std::string::npos) << kinds;
}

// Read from a pipe, which cannot be read again: a record cut by the end of
// the file after the output buffer filled up in its line is still taken back.
TEST(JsonOutput, ACutRecordFromAPipeIsNeverWrittenEither) {
    // Records whose lines are written in several pieces, 5 KiB each.
    DebugFileBuilder file = debug_file();
    std::vector<SequencePoint> points(100, SequencePoint{{1, 2, 3}, 4});
    for (unsigned routine = 0; routine < 20; ++routine) file.sequence_points(routine, points);
    file.end();
    const std::vector<std::string> complete = lines_of(run_vardex({"-json", "-all"}, file).out);
    const std::size_t record_size = 1 + 2 + 2 + 6 * points.size();

    const std::string directory = make_temporary_directory();
    // Cuts in the records whose lines fill the first 64 KiB of output.
    for (std::size_t cut = 6 + 10 * record_size; cut < 6 + 14 * record_size; cut += 53) {
        std::ofstream(directory + "/cut.dbg", std::ios::binary) << file.bytes().substr(0, cut);
        std::string command = "cd " + directory + " && cat cut.dbg | " VARDEX_BINARY " -json -all /dev/stdin > out.txt";
        EXPECT_NE(std::system(command.c_str()), 0);
        std::vector<std::string> lines = lines_of(read_whole_file(directory + "/out.txt"));
        ASSERT_EQ(lines.size(), 1 + (cut - 6) / record_size + 1) << "cut at " << cut;
        EXPECT_EQ(lines.back(), R"({"kind":"fatal_error","message":"Unexpected end of debugging info file"})");
        EXPECT_TRUE(std::equal(lines.begin(), lines.end() - 1, complete.begin())) << "cut at " << cut;
    }
}
