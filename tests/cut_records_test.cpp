// Records cut short by the end of the file in JSON and Python mode (what is
// printed before the cut, and a JSON line that has partly gone out), and
// records across the input buffer's refill.
#include <gtest/gtest.h>

#include <cstdlib>
#include <fstream>
#include <sstream>

#include "all_kinds.h"
#include "run_vardex.h"

namespace {

struct Piece {
    std::size_t bytes_read;  // of the record, when the piece is due
    std::string text;
};

// Cuts `record`, after `head`, at every byte: the output is `head_output`,
// the pieces due by then and `fatal_line`.
void expect_every_cut(const std::vector<std::string>& args, const std::string& stdin_text, const std::string& head,
                      const std::string& head_output, const std::string& record, const std::vector<Piece>& pieces,
                      const std::string& fatal_line) {
    ASSERT_EQ(pieces.back().bytes_read, record.size()) << "record type " << int(record[0]);
    for (std::size_t cut = 0; cut <= record.size(); ++cut) {
        std::string expected = head_output;
        for (const Piece& piece : pieces)
            if (piece.bytes_read <= cut) expected += piece.text;
        RunResult result = run_vardex(args, head + record.substr(0, cut), stdin_text);
        EXPECT_EQ(result.out, expected + fatal_line) << "record type " << int(record[0]) << " cut at " << cut;
    }
}

std::vector<std::string> lines_of(const std::string& text) {
    std::vector<std::string> lines;
    std::istringstream stream(text);
    for (std::string line; std::getline(stream, line);) lines.push_back(line);
    return lines;
}

const std::string json_fatal_line =
    "{\"kind\":\"fatal_error\",\"message\":\"Unexpected end of debugging info file\"}\n";

}  // namespace

// JSON mode takes a cut record back whole, whatever kind and wherever the
// cut (the 64 bytes of a Header alike, so cut at a few of them).
TEST(CutRecords, JsonTakesEveryKindBackAtEveryCut) {
    const std::string head = debug_file().bytes();
    const std::string version_line = "{\"kind\":\"version\",\"major\":6,\"minor\":36,\"revision\":1632}\n";
    const DebugFileBuilder records[] = {
        DebugFileBuilder().file(1, "m", "d"),
        DebugFileBuilder().class_("C", {1, 2, 3}, {1, 4, 5}),
        DebugFileBuilder().object(9, "o", {1, 2, 3}, {1, 4, 5}),
        DebugFileBuilder().global(4, "g"),
        DebugFileBuilder().attribute(5, "a"),
        DebugFileBuilder().property(6, "p"),
        DebugFileBuilder().fake_action(7, "f"),
        DebugFileBuilder().action(8, "r"),
        DebugFileBuilder().sequence_points(3, {{{1, 2, 3}, 10}, {{1, 5, 6}, 20}}),
        DebugFileBuilder().routine(3, {1, 2, 3}, 418, "R", {"x"}),
        DebugFileBuilder().array(12, "a"),
        DebugFileBuilder().memory_map({{"m", 1}}),
        DebugFileBuilder().routine_end(3, {1, 2, 3}, 5),
        DebugFileBuilder().object_details(9, "s", {1, 2, 3}, {1, 4, 5}, {"w"}, {{1, "h"}}),
        DebugFileBuilder().directive_end({1, 2, 3}),
        DebugFileBuilder().library_include({1, 2, 3}),
    };
    for (const DebugFileBuilder& record : records) {
        const std::string line =
            run_vardex({"-json", "-all"}, head + record.bytes() + '\0').out.substr(version_line.size());
        expect_every_cut({"-json", "-all"}, "", head, version_line, record.bytes(),
                         {{record.size(), line.substr(0, line.find('\n') + 1)}}, json_fatal_line);
    }
    const std::string header = DebugFileBuilder().game_header(std::vector<unsigned char>(64, 0xAB)).bytes();
    for (std::size_t cut : {0, 1, 2, 33, 64})
        EXPECT_EQ(run_vardex({"-json", "-all"}, head + header.substr(0, cut)).out, version_line + json_fatal_line);
}

// Python mode writes an object's details as they are read; the other
// records it writes are written whole once read.
TEST(CutRecords, PythonKeepsThePiecesAlreadyDue) {
    const std::string head =
        debug_file().file(1, "main", "games/main.src").object(3, "lamp", {1, 10, 2}, {1, 14, 1}).bytes();
    const std::string head_output = run_vardex({"-python"}, head + '\0', "\n*\n").out;
    const std::string opened = head_output.substr(0, head_output.rfind("Zkelm_qivSources"));
    const std::string unexpected_end = "Fatal error: Unexpected end of debugging info file\n";
    struct Case {
        DebugFileBuilder record;
        std::vector<Piece> pieces;
    };
    const Case cases[] = {
        {DebugFileBuilder().object_details(9, "s", {1, 2, 3}, {1, 4, 5}, {"w"}, {{1, "h"}}),
         {{5, "o.obj_short_name=\"s\"\n"},
          {9, "o.obj_with_line=1\no.obj_with_line_pos=6\n"},
          {13, "o.obj_name_line=3\no.obj_name_line_pos=8\no.obj_name_list=["},
          {15, "\"w\","},
          {16, "]\no.obj_directions={"},
          {19, "'n_to':'h',"},
          {20, "}\no.obj_is_room=1\nl.append(o)\nd['lamp']=o\n"}}},
        {DebugFileBuilder().object(4, "box", {1, 7, 0}, {1, 8, 0}),
         {{15, "o=qivobj()\no.obj_id='box'\no.obj_source='main.src'\no.obj_line=6\n"}}},
        {DebugFileBuilder().routine(2, {1, 20, 1}, 0x1a2, "Initialise", {"x"}),
         {{24, "Zkelm_qivSource_initialise=('main.src',19,11)\n"}}},
        {DebugFileBuilder().directive_end({1, 30, 1}), {{5, "Zkelm_qivSource_mainEnd=('main.src',29)\n"}}},
        {DebugFileBuilder().library_include({1, 3, 1}), {{5, "Zkelm_qivSource_includeQuibrel=('main.src',2)\n"}}},
    };
    for (const Case& c : cases)
        expect_every_cut({"-python"}, "\n*\n", head, opened, c.record.bytes(), c.pieces, unexpected_end);
    // The kinds Python mode reads and writes nothing for, cut in their middle.
    for (const ListedRecord& record : records_of_every_kind()) {
        if (record.type == 3 || record.type == 11 || record.type >= 15) continue;
        RunResult cut = run_vardex({"-python"}, head + record.bytes.substr(0, record.bytes.size() / 2 + 1), "\n*\n");
        EXPECT_EQ(cut.out, opened + unexpected_end) << "record type " << record.type;
    }
}

// A record whose line outgrew the output buffer, read from a pipe, cannot be
// taken back once the file ends inside it: its line is closed as valid JSON
// with "cut":true, and the fatal_error line follows.
TEST(CutRecords, JsonClosesALineThatPartlyWentOut) {
    std::vector<SequencePoint> points(2000, SequencePoint{{1, 2, 3}, 4});
    std::string file = debug_file().sequence_points(9, points).bytes();
    file.resize(file.size() - 3);
    const std::string directory = make_temporary_directory();
    std::ofstream(directory + "/cut.dbg", std::ios::binary) << file;
    std::string command = "cd " + directory + " && cat cut.dbg | " VARDEX_BINARY " -json -all /dev/stdin > out.txt";
    EXPECT_NE(std::system(command.c_str()), 0);
    const std::string output = read_whole_file(directory + "/out.txt");
    std::vector<std::string> lines = lines_of(output);
    ASSERT_EQ(lines.size(), 3u);
    EXPECT_EQ(lines[1].substr(0, 54), "{\"kind\":\"sequence_points\",\"routine\":9,\"points\":[{\"at\":");
    EXPECT_EQ(lines[1].substr(lines[1].size() - 13), "],\"cut\":true}") << lines[1].substr(lines[1].size() - 80);
    EXPECT_EQ(lines[2] + '\n', json_fatal_line);

    std::ofstream(directory + "/out.jsonl", std::ios::binary) << output;
    std::ofstream(directory + "/parse.py") << "import json, sys\n"
                                              "for line in open(sys.argv[1], 'rb').read().split(b'\\n')[:-1]:\n"
                                              "    r = json.loads(line)\n"
                                              "    print(r['kind'], len(r.get('points', [])), r.get('cut'))\n";
    command = "cd " + directory + " && python3 parse.py out.jsonl > parsed.txt 2>&1";
    EXPECT_EQ(std::system(command.c_str()), 0) << read_whole_file(directory + "/parsed.txt");
    const std::vector<std::string> parsed = lines_of(read_whole_file(directory + "/parsed.txt"));
    ASSERT_EQ(parsed.size(), 3u);
    EXPECT_EQ(parsed[0], "version 0 None");
    EXPECT_EQ(parsed[1].substr(0, 15) + parsed[1].substr(parsed[1].size() - 5), "sequence_points True");
    EXPECT_EQ(parsed[2], "fatal_error 0 None");
}

// JSON records that cross the input buffer's refill are written as anywhere
// else: placements of every kind across the 64 KiB boundary.
TEST(CutRecords, JsonRecordsAcrossTheInputRefillPrintAsAnywhereElse) {
    std::string group;
    for (const ListedRecord& record : records_of_every_kind()) group += record.bytes;
    const std::string head = debug_file().bytes();
    const std::vector<std::string> alone = lines_of(run_vardex({"-json", "-all"}, head + group + '\0').out);
    for (std::size_t before_refill = 0; before_refill <= group.size(); before_refill += 7) {
        DebugFileBuilder padding;
        std::size_t padding_lines = 0;
        for (std::size_t left = 64 * 1024 - before_refill - head.size(); left != 0; ++padding_lines) {
            std::size_t length = std::min<std::size_t>(left - 3, 250);
            if (left - 3 - length == 1 || left - 3 - length == 2) length -= 3;
            padding.global(1, std::string(length, 'g'));
            left -= 3 + length;
        }
        std::vector<std::string> lines =
            lines_of(run_vardex({"-json", "-all"}, head + padding.bytes() + group + '\0').out);
        ASSERT_EQ(lines.size(), alone.size() + padding_lines) << before_refill;
        lines.erase(lines.begin() + 1, lines.begin() + 1 + static_cast<std::ptrdiff_t>(padding_lines));
        EXPECT_EQ(lines, alone) << before_refill << " bytes of the records before the refill";
    }
}

// Python mode keeps an object's name, and a routine's, past the reads after
// it: a refill of the whole buffer among them must not change them.
TEST(CutRecords, PythonNamesBeforeARefillStayTheirs) {
    auto globals = [](std::size_t size) {
        DebugFileBuilder padding;
        for (std::size_t left = size; left != 0;) {
            std::size_t length = std::min<std::size_t>(left - 3, 250);
            if (left - 3 - length == 1 || left - 3 - length == 2) length -= 3;
            padding.global(1, std::string(length, 'g'));
            left -= 3 + length;
        }
        return padding.bytes();
    };
    const std::string head = debug_file().file(1, "main", "games/main.src").bytes();
    const std::string object = DebugFileBuilder().object(3, "lamp", {1, 10, 2}, {1, 14, 1}).bytes();
    const std::string routine = DebugFileBuilder().routine(2, {1, 20, 1}, 0x1a2, "Initialise", {"x"}).bytes();
    const std::string details = DebugFileBuilder().object_details(3, "s", {0, 0, 0}, {0, 0, 0}, {}, {}).bytes();
    const std::string tail = globals(70000) + '\0';
    for (std::size_t after_name = 1; after_name <= 8; ++after_name) {
        // The refill comes `after_name` bytes after the name's terminator.
        const std::string before_object = globals(64 * 1024 - head.size() - (object.size() - 8 + after_name));
        std::string out = run_vardex({"-python"}, head + before_object + object + details + tail, "\n*\n").out;
        EXPECT_NE(out.find("o.obj_id='lamp'\n"), std::string::npos) << after_name;
        EXPECT_NE(out.find("d['lamp']=o\n"), std::string::npos) << after_name;
        const std::string before_routine = globals(64 * 1024 - head.size() - (routine.size() - 2 + after_name % 2));
        out = run_vardex({"-python"}, head + before_routine + routine + tail, "\n*\n").out;
        EXPECT_NE(out.find("Zkelm_qivSource_initialise=('main.src',19,11)\n"), std::string::npos) << after_name;
    }
}
