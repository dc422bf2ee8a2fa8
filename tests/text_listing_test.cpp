// Text mode: every record kind's exact listing, and what stays printed when
// the file ends inside a record.
#include <gtest/gtest.h>

#include "all_kinds.h"
#include "run_vardex.h"

namespace {

std::string listing_of(const DebugFileBuilder& records, std::vector<std::string> args = {"-all"}) {
    DebugFileBuilder file = debug_file();
    file.raw(records.bytes()).end();
    RunResult result = run_vardex(args, file);
    EXPECT_EQ(result.status, 1);
    std::string prefix = banner + version_line;
    EXPECT_EQ(result.out.substr(0, prefix.size()), prefix);
    return result.out.substr(std::min(prefix.size(), result.out.size()));
}

const std::string unexpected_end = "Fatal error: Unexpected end of debugging info file\n";

}  // namespace

TEST(TextListing, EveryKindPrintsItsExactFormat) {
    std::string expected = banner + version_line + listing_of_every_kind([](int) { return true; });
    EXPECT_EQ(run_vardex({"-all"}, file_of_every_kind()).out, expected);
}

TEST(TextListing, NamesArePrintedRawNeverAsFormats) {
    EXPECT_EQ(
        listing_of(DebugFileBuilder().global(1, "say \"%s%d\\n\"").array(5, "%x\\").file(2, "c:\\x", "d:\\y\\z.h")),
        "Global 1 \"say \"%s%d\\n\"\"\n"
        "Array %x\\ at 5\n"
        "File 2 \"c:\\x\" expanding to \"d:\\y\\z.h\"\n");
}

TEST(TextListing, EmptyListsAndCounts) {
    EXPECT_EQ(listing_of(DebugFileBuilder()
                             .routine(1, {0, 0, 0}, 0, "", {})
                             .sequence_points(1, {})
                             .memory_map({})
                             .object_details(2, "", {0, 0, 0}, {0, 0, 0}, {}, {})),
              "Routine 1 (line 0:0:0) PC start: 00000 (0) \"\"\n"
              "seq. points from 1: \n"
              "Memory map:\n"
              "Details to obj 2:\nshort_name \"\"\nproperties (with) begin at 0:0:0\n"
              "name property begins at 0:0:0\nname list: \ndirections: \n");
}

TEST(TextListing, AnEmptyNameEndsNothingButItsList) {
    EXPECT_EQ(
        listing_of(
            DebugFileBuilder().class_("", {1, 2, 3}, {4, 5, 6}).object(1, "", {0, 0, 0}, {0, 0, 0}).global(2, "g")),
        "Class \"\" from 1:2:3 to 4:5:6\n"
        "Object 1 \"\" from 0:0:0 to 0:0:0\n"
        "Global 2 \"g\"\n");
}

TEST(TextListing, DirectionEntriesAndUnusualIndices) {
    EXPECT_EQ(listing_of(DebugFileBuilder().object_details(1, "x", {1, 1, 1}, {1, 1, 1}, {},
                                                           {{2, "a"},
                                                            {3, "b"},
                                                            {4, "c"},
                                                            {5, "d"},
                                                            {6, "e"},
                                                            {7, "f"},
                                                            {8, "g"},
                                                            {9, "h"},
                                                            {10, "i"},
                                                            {11, "j"},
                                                            {200, "k"},
                                                            {1, ""}})),
              "Details to obj 1:\nshort_name \"x\"\nproperties (with) begin at 1:1:1\nname property begins at 1:1:1\n"
              "name list: \ndirections: ne_to a, e_to b, se_to c, s_to d, sw_to e, w_to f, nw_to g, u_to h, d_to i, "
              "in_to j, dir200_to k, n_to , \n");
}

TEST(TextListing, LongStringsAreCutTo255AndTheStreamStaysInStep) {
    std::string long_name(1000, 'n');
    EXPECT_EQ(listing_of(DebugFileBuilder().global(1, long_name).global(2, "after")),
              "Global 1 \"" + long_name.substr(0, 255) + "\"\nGlobal 2 \"after\"\n");
}

TEST(TextListing, UnknownTypesAreReportedAndTheNextByteIsAType) {
    EXPECT_EQ(listing_of(DebugFileBuilder().byte(200).byte(18).global(1, "g").byte(255)),
              "Unknown type 200\nUnknown type 18\nGlobal 1 \"g\"\nUnknown type 255\n");
}

TEST(TextListing, AnEmptyStreamListsNothing) { EXPECT_EQ(listing_of(DebugFileBuilder()), ""); }

// Each record as the pieces it prints, each tied to how many bytes of the
// record have been read when it is printed. Cutting the file at any byte
// must leave exactly the pieces due by then, then the fatal error.
TEST(TextListing, ACutFileKeepsThePiecesAlreadyDue) {
    struct Piece {
        std::size_t bytes_read;
        std::string text;
    };
    struct Record {
        DebugFileBuilder bytes;
        std::vector<Piece> pieces;
    };
    std::vector<unsigned char> game_header(64, 0xAB);
    std::vector<Piece> header_pieces = {{1, "Header of game file is:\n"}};
    for (std::size_t i = 1; i <= 64; ++i) header_pieces.push_back({1 + i, i == 64 ? "ab \n" : "ab "});
    const Record records[] = {
        {DebugFileBuilder().file(1, "m", "d/m.src"),
         {{2, "File 1 "}, {4, "\"m\" expanding to "}, {12, "\"d/m.src\"\n"}}},
        {DebugFileBuilder().class_("C", {1, 2, 3}, {1, 4, 5}),
         {{1, "Class "}, {3, "\"C\" from "}, {7, "1:2:3 to "}, {11, "1:4:5\n"}}},
        {DebugFileBuilder().object(9, "o", {1, 2, 3}, {1, 4, 5}),
         {{3, "Object 9 "}, {5, "\"o\" from "}, {9, "1:2:3 to "}, {13, "1:4:5\n"}}},
        {DebugFileBuilder().global(4, "g"), {{2, "Global 4 "}, {4, "\"g\"\n"}}},
        {DebugFileBuilder().attribute(5, "a"), {{3, "Attribute 5 "}, {5, "\"a\"\n"}}},
        {DebugFileBuilder().property(6, "p"), {{3, "Property 6 "}, {5, "\"p\"\n"}}},
        {DebugFileBuilder().fake_action(7, "f"), {{3, "Action 7 "}, {5, "\"f\" (fake)\n"}}},
        {DebugFileBuilder().action(8, "r"), {{3, "Action 8 "}, {5, "\"r\" (real)\n"}}},
        {DebugFileBuilder().game_header(game_header), header_pieces},
        {DebugFileBuilder().sequence_points(3, {{{1, 2, 3}, 10}, {{1, 5, 6}, 20}}),
         {{3, "seq. points from 3: "},
          {5, "[line "},
          {9, "1:2:3"},
          {11, " at 10][line "},
          {15, "1:5:6"},
          {17, " at 20]\n"}}},
        {DebugFileBuilder().routine(3, {1, 2, 3}, 418, "R", {"x", "yz"}),
         {{3, "Routine 3 (line "},
          {7, "1:2:3) PC start: "},
          {10, "001a2 (418) "},
          {12, "\"R\""},
          {14, " x"},
          {17, " yz"},
          {18, "\n"}}},
        {DebugFileBuilder().array(12, "arr"), {{7, "Array arr at 12\n"}}},
        {DebugFileBuilder().memory_map({{"m", 1}, {"n", 2}}),
         {{1, "Memory map:\n"}, {3, "m at "}, {6, "00001 (1)\n"}, {8, "n at "}, {11, "00002 (2)\n"}, {12, ""}}},
        {DebugFileBuilder().routine_end(3, {1, 2, 3}, 5),
         {{3, "Routine 3 ends on line "}, {7, "1:2:3 at "}, {10, "00005 (5)\n"}}},
        {DebugFileBuilder().object_details(9, "s", {1, 2, 3}, {1, 4, 5}, {"w"}, {{1, "h"}}),
         {{3, "Details to obj 9:\n"},
          {5, "short_name \"s\"\nproperties (with) begin at "},
          {9, "1:2:3\nname property begins at "},
          {13, "1:4:5\nname list: "},
          {15, "\"w\" "},
          {16, "\ndirections: "},
          {19, "n_to h, "},
          {20, "\n"}}},
        {DebugFileBuilder().directive_end({1, 2, 3}), {{1, "Directive end; found at "}, {5, "1:2:3\n"}}},
        {DebugFileBuilder().library_include({1, 2, 3}), {{1, "Include \"Quibrel\" found at "}, {5, "1:2:3\n"}}},
    };
    for (const Record& record : records) {
        const std::string& bytes = record.bytes.bytes();
        ASSERT_EQ(record.pieces.back().bytes_read, bytes.size()) << bytes;
        std::string head = debug_file().bytes();
        for (std::size_t cut = 0; cut <= bytes.size(); ++cut) {
            std::string expected = banner + version_line;
            for (const Piece& piece : record.pieces)
                if (piece.bytes_read <= cut) expected += piece.text;
            RunResult result = run_vardex_in_bulk({"-all"}, head + bytes.substr(0, cut));
            EXPECT_EQ(result.out, expected + unexpected_end) << "record type " << int(bytes[0]) << " cut at " << cut;
        }
    }
}
