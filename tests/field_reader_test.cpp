// The field reader, the record skipper and the writer, tested directly.
#include "reader/field_reader.h"

#include <gtest/gtest.h>

#include <charconv>
#include <cstdio>
#include <string>
#include <vector>

#include "debug_file_builder.h"
#include "output_pieces.h"
#include "reader/records.h"
#include "run_options.h"

namespace {

// Feeds `bytes` to the field reader as the debugging file.
void attach_bytes(const std::string& bytes) {
    std::FILE* stream = std::tmpfile();
    ASSERT_NE(stream, nullptr);
    std::fwrite(bytes.data(), 1, bytes.size(), stream);
    std::rewind(stream);
    attach_debug_stream(stream);
}

// Runs `write` with the writer's output captured.
template <typename Write>
std::string captured_output(Write write) {
    std::FILE* sink = std::tmpfile();
    out.sink = sink;
    write();
    out.flush();
    out.sink = nullptr;
    std::string text(static_cast<std::size_t>(std::ftell(sink)), '\0');
    std::rewind(sink);
    std::size_t read = std::fread(text.data(), 1, text.size(), sink);
    text.resize(read);
    std::fclose(sink);
    return text;
}

const std::string padding_to_buffer_edge(64 * 1024 - 1, 'x');

}  // namespace

TEST(FieldReader, DecodesBigEndianFields) {
    attach_bytes(
        DebugFile().byte(7).byte(0x01).byte(0x02).byte(0x00).byte(0x01).byte(0xA2).line_ref({2, 42, 5}).bytes());
    EXPECT_EQ(read_byte(), 7);
    EXPECT_EQ(read_word(), 258u);
    EXPECT_EQ(read_address(), 418ul);
    LineRef ref = read_line_ref();
    EXPECT_EQ(ref.file, 2);
    EXPECT_EQ(ref.line, 42);
    EXPECT_EQ(ref.character, 5);
    close_debug_file();
}

TEST(FieldReader, FieldsSplitAcrossABufferRefillDecodeTheSame) {
    for (std::size_t extra = 0; extra < 4; ++extra) {
        std::string padding = padding_to_buffer_edge.substr(0, padding_to_buffer_edge.size() - extra);
        attach_bytes(DebugFile()
                         .raw(padding)
                         .word(0xFFFF)
                         .address(0xABCDEF)
                         .line_ref({255, 65535, 255})
                         .string("split")
                         .bytes());
        skip_bytes(padding.size());
        EXPECT_EQ(read_word(), 0xFFFFu) << extra;
        EXPECT_EQ(read_address(), 0xABCDEFul) << extra;
        LineRef ref = read_line_ref();
        EXPECT_EQ(ref.file, 255);
        EXPECT_EQ(ref.line, 65535);
        EXPECT_EQ(ref.character, 255);
        StringField field;
        EXPECT_EQ(read_string(field), 5u);
        EXPECT_STREQ(field, "split");
        close_debug_file();
    }
}

TEST(FieldReader, StringsAreCutTo255BytesAndTheStreamStaysInStep) {
    const std::string long_name(300, 'a');
    const std::string huge_name(200000, 'b');
    attach_bytes(DebugFile().string("").string(long_name).byte(9).string(huge_name).string("next").bytes());
    StringField field;
    EXPECT_EQ(read_string(field), 0u);
    EXPECT_STREQ(field, "");
    EXPECT_EQ(read_string(field), 255u);
    EXPECT_EQ(std::string(field), long_name.substr(0, 255));
    EXPECT_EQ(read_byte(), 9);
    EXPECT_EQ(read_string(field), 255u);
    EXPECT_EQ(read_string(field), 4u);
    EXPECT_STREQ(field, "next");
    close_debug_file();
}

TEST(FieldReader, SkippingStringsAndListsCrossesRefills) {
    attach_bytes(DebugFile()
                     .string(std::string(100000, 'c'))
                     .string_list({"one", "two", padding_to_buffer_edge})
                     .byte(42)
                     .bytes());
    EXPECT_EQ(skip_string(), 100000u);
    skip_string_list();
    EXPECT_EQ(read_byte(), 42);
    close_debug_file();
}

// Lists found ahead in the window must end where the window ends, even where
// the buffer beyond it still holds the 0 bytes of an earlier, longer file;
// and must agree with reading item by item.
TEST(FieldReader, ListsFoundAheadStopAtTheWindowEnd) {
    attach_bytes(std::string(64 * 1024, '\0'));
    skip_bytes(64 * 1024);
    close_debug_file();

    struct ListCase {
        std::vector<std::size_t> item_sizes;
    };
    const ListCase lists[] = {{{}},
                              {{1}},
                              {{62}},
                              {{63}},
                              {{30, 31}},
                              {{31, 31}},
                              {{32, 32}},
                              {std::vector<std::size_t>(31, 1)},
                              {std::vector<std::size_t>(32, 1)},
                              {{20, 20, 20}}};
    for (const ListCase& list : lists) {
        std::string encoded;
        std::vector<std::string> items;
        for (std::size_t size : list.item_sizes) {
            items.emplace_back(size, static_cast<char>('a' + items.size() % 26));
            encoded += items.back() + '\0';
        }
        encoded += '\0';
        for (std::size_t kept = encoded.size() - 1; kept <= encoded.size(); ++kept) {
            attach_bytes(encoded.substr(0, kept));
            if (read_magic_byte() != -1) take_up_to(input.next - 1);  // fills the window
            ListAhead found;
            bool whole = kept == encoded.size() && encoded.size() <= 64;
            ASSERT_EQ(list_ahead(input.next, found), whole) << encoded.size() << " bytes, " << kept << " in the file";
            if (whole) {
                EXPECT_EQ(found.end, encoded.size() - 1);
                std::vector<std::string> seen;
                for_each_item(input.next, found, [&](std::string_view item) { seen.emplace_back(item); });
                EXPECT_EQ(seen, items);
            }
            release_debug_file();
        }
    }
}

TEST(FieldReader, MagicNumberReadsGiveNoByteValueAtEndOfFile) {
    attach_bytes("\xDE");
    EXPECT_EQ(read_magic_byte(), 0xDE);
    EXPECT_EQ(read_magic_byte(), -1);
    EXPECT_EQ(read_magic_byte(), -1);
    close_debug_file();
}

TEST(FieldReaderDeathTest, EndOfFileInsideAFieldIsFatal) {
    auto read_past_end = [](const std::string& bytes, auto read) {
        attach_bytes(bytes);
        out.sink = stderr;
        read();
    };
    EXPECT_EXIT(read_past_end("", [] { read_byte(); }), testing::ExitedWithCode(1),
                "^Fatal error: Unexpected end of debugging info file\n$");
    EXPECT_EXIT(read_past_end("\x01", [] { read_word(); }), testing::ExitedWithCode(1),
                "Unexpected end of debugging info file");
    EXPECT_EXIT(read_past_end("abc",
                              [] {
                                  StringField field;
                                  read_string(field);
                              }),
                testing::ExitedWithCode(1), "Unexpected end of debugging info file");
    EXPECT_EXIT(read_past_end("\x05", [] { skip_record(SequencePoints); }), testing::ExitedWithCode(1),
                "Unexpected end of debugging info file");
}

TEST(FieldReaderDeathTest, OpenFailureQuotesTheWholePath) {
    const std::string long_path = "/nonexistent/" + std::string(300, 'p') + "/gameinfo.dbg";
    EXPECT_EXIT(
        {
            out.sink = stderr;
            open_debug_file(long_path.c_str());
        },
        testing::ExitedWithCode(1), "^Fatal error: Couldn't open debugging info file \"" + long_path + "\"\n$");
}

TEST(OutputPieces, EscapedTextsHaveControlBytesEscapedAndWithPythonQuotesQuotesToo) {
    struct Case {
        std::string path, text, python;
    };
    const Case cases[] = {
        {"games/tale/gameinfo.dbg", "games/tale/gameinfo.dbg", "games/tale/gameinfo.dbg"},
        {"caf\xc3\xa9 \xff'$(x)", "caf\xc3\xa9 \xff'$(x)", "caf\xc3\xa9 \xff'$(x)"},
        {"a\"b", "a\"b", "a\\\"b"},
        {R"(/x""")", R"(/x""")", R"(/x\"\"\")"},
        {R"(C:\dir\)", R"(C:\dir\)", R"(C:\\dir\\)"},
        {R"(\x0a)", R"(\x0a)", R"(\\x0a)"},
        {"a\nb\rc\td", R"(a\x0ab\x0dc\x09d)", R"(a\x0ab\x0dc\x09d)"},
        {std::string("\x01\x1f\x7f\x1b[31m\0", 9), R"(\x01\x1f\x7f\x1b[31m\x00)", R"(\x01\x1f\x7f\x1b[31m\x00)"},
        {"/x\"\"\"\nimport os#", R"(/x"""\x0aimport os#)", R"(/x\"\"\"\x0aimport os#)"},
    };
    for (const Case& c : cases) {
        EXPECT_EQ(captured_output([&] { StreamOutput().put(Escaped{c.path}); }), c.text) << c.path;
        EXPECT_EQ(captured_output([&] { StreamOutput().put(Escaped{c.path, true}); }), c.python) << c.path;
        EXPECT_EQ(one_line_width(c.path), c.text.size()) << c.path;
    }
}

TEST(RecordSkipper, EverySkippedRecordEndsAtTheNextTypeByte) {
    std::vector<unsigned char> header_bytes(64, 0xFF);
    DebugFile cases[] = {
        DebugFile().file(1, "a", "b"),
        DebugFile().class_("", {1, 2, 3}, {4, 5, 6}),
        DebugFile().object(0xFFFF, "o", {0, 0, 0}, {0, 0, 0}),
        DebugFile().global(255, "g"),
        DebugFile().attribute(1, "at"),
        DebugFile().property(2, "pr"),
        DebugFile().fake_action(3, "fa"),
        DebugFile().action(4, "ac"),
        DebugFile().game_header(header_bytes),
        DebugFile().sequence_points(1, {{{1, 2, 3}, 4}, {{5, 6, 7}, 8}}),
        DebugFile().sequence_points(1, {}),
        DebugFile().routine(1, {1, 1, 1}, 5, "", {}),
        DebugFile().routine(1, {1, 1, 1}, 5, "r", {"x", "y"}),
        DebugFile().array(7, "arr"),
        DebugFile().memory_map({}),
        DebugFile().memory_map({{"m", 1}, {"n", 2}}),
        DebugFile().routine_end(1, {1, 1, 1}, 9),
        DebugFile().object_details(1, "", {0, 0, 0}, {0, 0, 0}, {}, {}),
        DebugFile().object_details(1, "s", {1, 2, 3}, {1, 2, 3}, {"w1", "w2"}, {{1, "x"}, {200, ""}}),
        DebugFile().directive_end({1, 2, 3}),
        DebugFile().library_include({1, 2, 3}),
    };
    for (DebugFile& record : cases) {
        int type = static_cast<unsigned char>(record.bytes()[0]);
        attach_bytes(record.bytes().substr(1) + "\x2A");
        skip_record(type);
        EXPECT_EQ(read_byte(), 42) << "record type " << type;
        close_debug_file();
    }
}

TEST(DirectionNames, TableIndicesAndNumberedFallback) {
    DirectionName scratch;
    EXPECT_EQ(direction_name(1, scratch), "n_to");
    EXPECT_EQ(direction_name(6, scratch), "sw_to");
    EXPECT_EQ(direction_name(12, scratch), "out_to");
    EXPECT_EQ(direction_name(13, scratch), "dir13_to");
    EXPECT_EQ(direction_name(200, scratch), "dir200_to");
    EXPECT_EQ(direction_name(255, scratch), "dir255_to");
}

TEST(OutputPieces, WriteNumbersMembersAndCells) {
    struct Case {
        std::string written, expected;
    };
    const Case cases[] = {
        {captured_output([] { StreamOutput().put(Hex{0x6bc0}, ' ', Hex{0}, ' ', Hex{0xFFFFFFFFFFFFFFFF}); }),
         "0x6bc0 0x0 0xffffffffffffffff"},
        {captured_output([] {
             StreamOutput().put(Hex{0x3c, 5}, ' ', Hex{0xabcdef, 5});
         }),
         "0x0003c 0xabcdef"},
        {captured_output([] {
             StreamOutput().put('{', JsonMember{"a", 0, true}, JsonMember{"bytes", 4294967296});
         }),
         R"({"a":0,"bytes":4294967296)"},
        {captured_output([] { StreamOutput().put(JsonText{"a\"\n\xff"}, JsonNull{}, JsonContents{"\\"}); }),
         R"("a\"\nÿ"null\\)"},
        {captured_output([] {
             StreamOutput().put('|', LeftAligned{Escaped{"a\tb"}, 8}, '|', RightAligned{Number{42u}, 5}, '|',
                                RightAligned{Text{"wide"}, 2}, '|', Repeated{'#', 3}, '|');
         }),
         R"(|a\x09b  |   42|wide|###|)"},
        {captured_output([] {
             StreamOutput().put(VersionLine{6, 36, 65535});
         }),
         "Debugging file from Ostrel 6.36 (v 65535)\n"},
    };
    for (const Case& c : cases) EXPECT_EQ(c.written, c.expected);
}

// A text longer than the output buffer goes out in parts, none of them
// asking for more room than the buffer has, and no UTF-8 sequence split.
TEST(OutputPieces, TextsOfAnyLengthGoOutWhole) {
    std::string long_text;
    while (long_text.size() < 3 * 64 * 1024)
        long_text +=
            "\x01"
            "caf\xc3\xa9 ";
    std::string escaped, json;
    for (char c : long_text) {
        escaped += c == '\x01' ? std::string("\\x01") : std::string(1, c);
        json += c == '\x01' ? std::string("\\u0001") : std::string(1, c);
    }
    EXPECT_EQ(captured_output([&] { StreamOutput().put('<', Text{long_text}, '>'); }), '<' + long_text + '>');
    EXPECT_EQ(captured_output([&] { StreamOutput().put(Escaped{long_text}, '\n'); }), escaped + '\n');
    EXPECT_EQ(captured_output([&] { StreamOutput().put(JsonText{long_text}); }), '"' + json + '"');
}

TEST(OutputWriter, DecimalsAgreeWithToCharsAtEveryLength) {
    char written[32];
    char expected[32];
    auto check = [&](unsigned long value) {
        char* end = digits::write_decimal(written, value);
        char* expected_end = std::to_chars(expected, expected + sizeof expected, value).ptr;
        ASSERT_EQ(std::string_view(written, static_cast<std::size_t>(end - written)),
                  std::string_view(expected, static_cast<std::size_t>(expected_end - expected)));
    };
    for (unsigned long value = 0; value <= 100100; ++value) check(value);
    for (unsigned long value : {999999ul, 1000000ul, 16777215ul, 4294967295ul}) check(value);
    for (unsigned value = 0; value < 256; ++value) {
        char* end = digits::write_byte_decimal(written, static_cast<std::uint8_t>(value));
        EXPECT_EQ(std::string(written, end), std::to_string(value));
    }
}

TEST(OutputWriter, KeepsOrderAcrossManyFlushes) {
    std::string expected;
    std::string text = captured_output([&] {
        const std::string big(200000, 'z');
        for (int i = 0; i < 50000; ++i) {
            StreamOutput().put(Number{i}, ',');
            expected += std::to_string(i) + ",";
        }
        out.put(big);
        expected += big;
    });
    EXPECT_EQ(text, expected);
}
