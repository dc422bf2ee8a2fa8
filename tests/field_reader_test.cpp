// The field reader, the record skipper and the writer, tested directly.
#include "reader/field_reader.h"

#include <gtest/gtest.h>

#include <charconv>
#include <cstdio>
#include <string>
#include <vector>

#include "debug_file_builder.h"
#include "messages.h"
#include "output_pieces.h"
#include "reader/records.h"
#include "run_options.h"

namespace {

// The writer of the tests, as a run has one, and a failed read that ends the
// run with the fatal line, as in text mode.
OutputWriter out;
const Messages text_messages{out};

// Feeds `bytes` to `file` as the debugging file.
void attach_bytes(DebugFile& file, const std::string& bytes) {
    std::FILE* stream = std::tmpfile();
    ASSERT_NE(stream, nullptr);
    std::fwrite(bytes.data(), 1, bytes.size(), stream);
    std::rewind(stream);
    file.attach(stream);
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
    DebugFile file(text_messages);
    attach_bytes(
        file,
        DebugFileBuilder().byte(7).byte(0x01).byte(0x02).byte(0x00).byte(0x01).byte(0xA2).line_ref({2, 42, 5}).bytes());
    EXPECT_EQ(file.byte(), 7);
    EXPECT_EQ(file.word(), 258u);
    EXPECT_EQ(file.address(), 418ul);
    LineRef ref = file.line_ref();
    EXPECT_EQ(ref.file, 2);
    EXPECT_EQ(ref.line, 42);
    EXPECT_EQ(ref.character, 5);
    file.close();
}

TEST(FieldReader, FieldsSplitAcrossABufferRefillDecodeTheSame) {
    DebugFile file(text_messages);
    for (std::size_t extra = 0; extra < 4; ++extra) {
        std::string padding = padding_to_buffer_edge.substr(0, padding_to_buffer_edge.size() - extra);
        attach_bytes(file, DebugFileBuilder()
                               .raw(padding)
                               .word(0xFFFF)
                               .address(0xABCDEF)
                               .line_ref({255, 65535, 255})
                               .string("split")
                               .bytes());
        file.skip(padding.size());
        EXPECT_EQ(file.word(), 0xFFFFu) << extra;
        EXPECT_EQ(file.address(), 0xABCDEFul) << extra;
        LineRef ref = file.line_ref();
        EXPECT_EQ(ref.file, 255);
        EXPECT_EQ(ref.line, 65535);
        EXPECT_EQ(ref.character, 255);
        StringField field;
        EXPECT_EQ(file.read_string(field), 5u);
        EXPECT_STREQ(field, "split");
        file.close();
    }
}

TEST(FieldReader, StringsAreCutTo255BytesAndTheStreamStaysInStep) {
    DebugFile file(text_messages);
    const std::string long_name(300, 'a');
    const std::string huge_name(200000, 'b');
    attach_bytes(file,
                 DebugFileBuilder().string("").string(long_name).byte(9).string(huge_name).string("next").bytes());
    StringField field;
    EXPECT_EQ(file.read_string(field), 0u);
    EXPECT_STREQ(field, "");
    EXPECT_EQ(file.read_string(field), 255u);
    EXPECT_EQ(std::string(field), long_name.substr(0, 255));
    EXPECT_EQ(file.byte(), 9);
    EXPECT_EQ(file.read_string(field), 255u);
    EXPECT_EQ(file.read_string(field), 4u);
    EXPECT_STREQ(field, "next");
    file.close();
}

TEST(FieldReader, SkippingStringsAndListsCrossesRefills) {
    DebugFile file(text_messages);
    attach_bytes(file, DebugFileBuilder()
                           .string(std::string(100000, 'c'))
                           .string_list({"one", "two", padding_to_buffer_edge})
                           .byte(42)
                           .bytes());
    EXPECT_EQ(file.skip_string(), 100000u);
    file.skip_list();
    EXPECT_EQ(file.byte(), 42);
    file.close();
}

// Lists found ahead in the window must end where the window ends, even where
// the buffer beyond it still holds the 0 bytes of an earlier, longer file;
// and must agree with reading item by item.
TEST(FieldReader, ListsFoundAheadStopAtTheWindowEnd) {
    DebugFile file(text_messages);
    attach_bytes(file, std::string(64 * 1024, '\0'));
    file.skip(64 * 1024);
    file.close();

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
            attach_bytes(file, encoded.substr(0, kept));
            if (file.magic_byte() != -1) file.take_up_to(file.next - 1);  // fills the window
            ListAhead found;
            bool whole = kept == encoded.size() && encoded.size() <= 64;
            ASSERT_EQ(list_ahead(file.next, file.end, found), whole)
                << encoded.size() << " bytes, " << kept << " in the file";
            if (whole) {
                EXPECT_EQ(found.end, encoded.size() - 1);
                std::vector<std::string> seen;
                for_each_item(file.next, found, [&](std::string_view item) { seen.emplace_back(item); });
                EXPECT_EQ(seen, items);
            }
        }
    }
}

TEST(FieldReader, MagicNumberReadsGiveNoByteValueAtEndOfFile) {
    DebugFile file(text_messages);
    attach_bytes(file, "\xDE");
    EXPECT_EQ(file.magic_byte(), 0xDE);
    EXPECT_EQ(file.magic_byte(), -1);
    EXPECT_EQ(file.magic_byte(), -1);
    file.close();
}

TEST(FieldReaderDeathTest, EndOfFileInsideAFieldIsFatal) {
    DebugFile file(text_messages);
    auto read_past_end = [&file](const std::string& bytes, auto read) {
        attach_bytes(file, bytes);
        out.sink = stderr;
        read();
    };
    EXPECT_EXIT(read_past_end("", [&file] { file.byte(); }), testing::ExitedWithCode(1),
                "^Fatal error: Unexpected end of debugging info file\n$");
    EXPECT_EXIT(read_past_end("\x01", [&file] { file.word(); }), testing::ExitedWithCode(1),
                "Unexpected end of debugging info file");
    EXPECT_EXIT(read_past_end("abc",
                              [&file] {
                                  StringField field;
                                  file.read_string(field);
                              }),
                testing::ExitedWithCode(1), "Unexpected end of debugging info file");
    EXPECT_EXIT(read_past_end("\x05", [&file] { skip_record(file, SequencePoints); }), testing::ExitedWithCode(1),
                "Unexpected end of debugging info file");
}

TEST(FieldReaderDeathTest, OpenFailureQuotesTheWholePath) {
    DebugFile file(text_messages);
    const std::string long_path = "/nonexistent/" + std::string(300, 'p') + "/gameinfo.dbg";
    EXPECT_EXIT(
        {
            out.sink = stderr;
            if (!file.open(long_path.c_str()))
                fatal_error_with_path(text_messages, "Couldn't open debugging info file", long_path);
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
        EXPECT_EQ(captured_output([&] { StreamOutput{out}.put(Escaped{c.path}); }), c.text) << c.path;
        EXPECT_EQ(captured_output([&] { StreamOutput{out}.put(Escaped{c.path, true}); }), c.python) << c.path;
    }
}

TEST(RecordSkipper, EverySkippedRecordEndsAtTheNextTypeByte) {
    DebugFile file(text_messages);
    std::vector<unsigned char> header_bytes(64, 0xFF);
    DebugFileBuilder cases[] = {
        DebugFileBuilder().file(1, "a", "b"),
        DebugFileBuilder().class_("", {1, 2, 3}, {4, 5, 6}),
        DebugFileBuilder().object(0xFFFF, "o", {0, 0, 0}, {0, 0, 0}),
        DebugFileBuilder().global(255, "g"),
        DebugFileBuilder().attribute(1, "at"),
        DebugFileBuilder().property(2, "pr"),
        DebugFileBuilder().fake_action(3, "fa"),
        DebugFileBuilder().action(4, "ac"),
        DebugFileBuilder().game_header(header_bytes),
        DebugFileBuilder().sequence_points(1, {{{1, 2, 3}, 4}, {{5, 6, 7}, 8}}),
        DebugFileBuilder().sequence_points(1, {}),
        DebugFileBuilder().routine(1, {1, 1, 1}, 5, "", {}),
        DebugFileBuilder().routine(1, {1, 1, 1}, 5, "r", {"x", "y"}),
        DebugFileBuilder().array(7, "arr"),
        DebugFileBuilder().memory_map({}),
        DebugFileBuilder().memory_map({{"m", 1}, {"n", 2}}),
        DebugFileBuilder().routine_end(1, {1, 1, 1}, 9),
        DebugFileBuilder().object_details(1, "", {0, 0, 0}, {0, 0, 0}, {}, {}),
        DebugFileBuilder().object_details(1, "s", {1, 2, 3}, {1, 2, 3}, {"w1", "w2"}, {{1, "x"}, {200, ""}}),
        DebugFileBuilder().directive_end({1, 2, 3}),
        DebugFileBuilder().library_include({1, 2, 3}),
    };
    for (DebugFileBuilder& record : cases) {
        int type = static_cast<unsigned char>(record.bytes()[0]);
        attach_bytes(file, record.bytes().substr(1) + "\x2A");
        skip_record(file, type);
        EXPECT_EQ(file.byte(), 42) << "record type " << type;
        file.close();
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
        {captured_output([] { StreamOutput{out}.put(Hex{0x6bc0}, ' ', Hex{0}, ' ', Hex{0xFFFFFFFFFFFFFFFF}); }),
         "0x6bc0 0x0 0xffffffffffffffff"},
        {captured_output([] {
             StreamOutput{out}.put(Hex{0x3c, 5}, ' ', Hex{0xabcdef, 5});
         }),
         "0x0003c 0xabcdef"},
        {captured_output([] {
             StreamOutput{out}.put('{', JsonMember{"a", 0, true}, JsonMember{"bytes", 4294967296});
         }),
         R"({"a":0,"bytes":4294967296)"},
        {captured_output([] { StreamOutput{out}.put(JsonText{"a\"\n\xff"}, JsonNull{}, JsonContents{"\\"}); }),
         R"("a\"\nÿ"null\\)"},
        {captured_output([] {
             StreamOutput{out}.put('|', LeftAligned{Escaped{"a\tb"}, 8}, '|', RightAligned{Number{42u}, 5}, '|',
                                   RightAligned{Text{"wide"}, 2}, '|');
         }),
         R"(|a\x09b  |   42|wide|)"},
        {captured_output([] {
             StreamOutput{out}.put(VersionLine{6, 36, 65535});
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
    EXPECT_EQ(captured_output([&] { StreamOutput{out}.put('<', Text{long_text}, '>'); }), '<' + long_text + '>');
    EXPECT_EQ(captured_output([&] { StreamOutput{out}.put(Escaped{long_text}, '\n'); }), escaped + '\n');
    EXPECT_EQ(captured_output([&] { StreamOutput{out}.put(JsonText{long_text}); }), '"' + json + '"');
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
            StreamOutput{out}.put(Number{i}, ',');
            expected += std::to_string(i) + ",";
        }
        out.put(big);
        expected += big;
    });
    EXPECT_EQ(text, expected);
}
