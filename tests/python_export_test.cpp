// Python mode: selection lines, the source-file table, the written objects
// and markers, and the safety of the written literals.
#include <gtest/gtest.h>

#include <cstdlib>
#include <fstream>

#include "run_vardex.h"

namespace {

const std::string docstring_opening =
    "\"\"\"\n"
    "Ostrel debugging info extracted by Vardex\n"
    "  Objects, source positions, name words and exits of one compiled game,\n"
    "  read from the debugging file that the compiler wrote beside it.\n"
    "\n";
const std::string preamble =
    "\"\"\"\n\nZkelm_qivObjList = []\nZkelm_qivObjDict = {}\n\nl=Zkelm_qivObjList\nd=Zkelm_qivObjDict\n\n";
const std::string opening = docstring_opening + version_line + preamble;

// The Python text written for `records`, without the fixed opening lines.
std::string python_of(const DebugFileBuilder& records, const std::string& selection_lines = "\n*\n") {
    DebugFileBuilder file = debug_file();
    file.raw(records.bytes()).end();
    RunResult result = run_vardex({"-python"}, file, selection_lines);
    EXPECT_EQ(result.status, 1);
    EXPECT_EQ(result.out.substr(0, opening.size()), opening);
    return result.out.substr(std::min(opening.size(), result.out.size()));
}

// An object with details, in the file numbered `file`.
DebugFileBuilder& add_object(DebugFileBuilder& records, const std::string& name, unsigned file) {
    return records.object(1, name, {file, 10, 1}, {file, 12, 1}).object_details(1, "it", {0, 0, 0}, {0, 0, 0}, {}, {});
}

std::string object_lines(const std::string& name, const std::string& source) {
    return "o=qivobj()\no.obj_id='" + name + "'\no.obj_source='" + source +
           "'\no.obj_line=9\no.obj_short_name=\"it\"\no.obj_name_list=[]\no.obj_directions={}\n"
           "o.obj_is_room=0\nl.append(o)\nd['" +
           name + "']=o\n";
}

// Three source files in games/tale/: main, rooms and people.
DebugFileBuilder three_files() {
    DebugFileBuilder records;
    records.file(1, "main", "games/tale/main.src")
        .file(2, "rooms", "games/tale/rooms.src")
        .file(3, "people", "games/tale/people.src");
    add_object(records, "hall", 2);
    add_object(records, "guard", 3);
    add_object(records, "lamp", 1);
    return records;
}

}  // namespace

TEST(PythonExport, WritesObjectsMarkersAndSources) {
    DebugFileBuilder records;
    records.file(1, "tale", "games\\tale\\tale.src")
        .file(2, "Quibrel", "games/tale/lib/Quibrel.h")
        .library_include({1, 3, 1})
        .class_("Room", {1, 5, 1}, {1, 9, 2})
        .object(27, "hall", {1, 10, 1}, {1, 15, 2})
        .object_details(27, "Great Hall", {1, 11, 5}, {1, 12, 7}, {"great", "hall"}, {{1, "cellar"}, {11, "garden"}})
        .object(28, "nameless_obj__12", {2, 0, 1}, {2, 3, 2})
        .object_details(28, "brass lamp", {0, 0, 0}, {2, 1, 0}, {}, {})
        .routine(1, {1, 20, 4}, 0x1a2, "InItIaLiSe", {"x", "y"})
        .sequence_points(1, {{{1, 21, 5}, 0}})
        .routine_end(1, {1, 24, 1}, 0x1b9)
        .directive_end({1, 60, 1});
    EXPECT_EQ(python_of(records),
              "Zkelm_qivSource_includeQuibrel=('tale.src',2)\n"
              "o=qivobj()\n"
              "o.obj_id='hall'\n"
              "o.obj_source='tale.src'\n"
              "o.obj_line=9\n"
              "o.obj_short_name=\"Great Hall\"\n"
              "o.obj_with_line=10\n"
              "o.obj_with_line_pos=8\n"
              "o.obj_name_line=11\n"
              "o.obj_name_line_pos=10\n"
              "o.obj_name_list=[\"great\",\"hall\",]\n"
              "o.obj_directions={'n_to':'cellar','in_to':'garden',}\n"
              "o.obj_is_room=1\n"
              "l.append(o)\n"
              "d['hall']=o\n"
              "o=qivobj()\n"
              "o.obj_source='lib/Quibrel.h'\n"
              "o.obj_line=-1\n"
              "o.obj_short_name=\"brass lamp\"\n"
              "o.obj_id='\"brass lamp\"'\n"
              "o.obj_name_line=0\n"
              "o.obj_name_line_pos=3\n"
              "o.obj_name_list=[]\n"
              "o.obj_directions={}\n"
              "o.obj_is_room=0\n"
              "l.append(o)\n"
              "d['nameless_obj__12']=o\n"
              "Zkelm_qivSource_initialise=('tale.src',19,14)\n"
              "Zkelm_qivSource_mainEnd=('tale.src',59)\n"
              "Zkelm_qivSources=['tale.src','lib/Quibrel.h',]\n");
}

TEST(PythonExport, SelectionLinesChooseTheObjectsWritten) {
    struct Case {
        std::string lines;
        std::string objects;
        std::string sources;
    };
    const std::string hall = object_lines("hall", "rooms.src");
    const std::string guard = object_lines("guard", "people.src");
    const std::string lamp = object_lines("lamp", "main.src");
    const std::string all_sources = "Zkelm_qivSources=['main.src','rooms.src','people.src',]\n";
    const Case cases[] = {
        {"\n*\n", hall + guard + lamp, all_sources},
        {"rooms/people\n*\n", lamp, "Zkelm_qivSources=['main.src',]\n"},
        {"\nmain\n", lamp, all_sources},
        {"\nmain/people\n", guard + lamp, all_sources},
        {"\n\n", "", all_sources},
        {"", "", all_sources},
        {"\n", "", all_sources},
        {"\n*rubbish", hall + guard + lamp, all_sources},
        {"people\r\nrooms\r\n", hall, "Zkelm_qivSources=['main.src','rooms.src',]\n"},
        {"/rooms\n/main\n", "", all_sources},
        {"main//rooms\nrooms//people\n", hall, "Zkelm_qivSources=['rooms.src','people.src',]\n"},
        {"*\nrooms", hall, all_sources},
        {"Rooms/ main\nmain \n", "", all_sources},
        {"rooms.src\n*\n", hall + guard + lamp, all_sources},
    };
    for (const Case& c : cases) EXPECT_EQ(python_of(three_files(), c.lines), c.objects + c.sources) << c.lines;
}

TEST(PythonExport, LongSelectionLinesAreCutAndTheSecondLineStillRead) {
    const std::string hall = object_lines("hall", "rooms.src");
    const std::string all_sources = "Zkelm_qivSources=['main.src','rooms.src','people.src',]\n";
    // The exclude name "people" falls beyond the 16381 characters kept.
    std::string filler(16381, 'f');
    EXPECT_EQ(python_of(three_files(), filler + "/people\nrooms\n"), hall + all_sources);
    // "rooms" ends exactly at the limit and is kept whole.
    std::string exact = std::string(16375, 'f') + "/rooms";
    EXPECT_EQ(python_of(three_files(), exact + "\n*\n"), object_lines("guard", "people.src") +
                                                             object_lines("lamp", "main.src") +
                                                             "Zkelm_qivSources=['main.src','people.src',]\n");
    std::string include_line = std::string(100000, 'i') + "\n";
    EXPECT_EQ(python_of(three_files(), "\n" + include_line), all_sources);
}

TEST(PythonExport, RelativePathsFollowTheMainFilesDirectory) {
    DebugFileBuilder records;
    records.file(3, "early", "games/tale/early.h")
        .file(1, "main", "C:\\games\\tale\\main.src")
        .file(2, "dots", "C:/games/tale/././x.h")
        .file(4, "twodots", "C:/games/tale/../x.h")
        .file(5, "dotname", "C:/games/tale/.x.h")
        .file(6, "short", "a.h")
        .file(7, "elsewhere", "/opt/x/library/q.h")
        .file(9, "lib\\sub:Inc", "C:/games/tale/inc/i.h")
        .file(8, "again", "C:/games/tale/again.h")
        .file(8, "again", "C:/games/tale/new.h");
    add_object(records, "in_lib", 9);
    add_object(records, "undeclared", 20);
    EXPECT_EQ(python_of(records, "\n*\n"),
              object_lines("in_lib", "inc/i.h") + object_lines("undeclared", "") +
                  "Zkelm_qivSources=['main.src','x.h','games/tale/early.h','../x.h','.x.h','','/q.h','new.h',]\n");
    // Short names are what follows the include name's last separator.
    EXPECT_EQ(python_of(records, "Inc\n*\n"),
              object_lines("undeclared", "") +
                  "Zkelm_qivSources=['main.src','x.h','games/tale/early.h','../x.h','.x.h','','/q.h','new.h',]\n");
}

TEST(PythonExport, TheSourcesListEndsAtTheLastFileNumber) {
    EXPECT_EQ(python_of(DebugFileBuilder()), "Zkelm_qivSources=[]\n");
    EXPECT_EQ(
        python_of(DebugFileBuilder().file(1, "a", "a.h").file(2, "b", "b.h").file(3, "c", "c.h").file(2, "b", "b.h")),
        "Zkelm_qivSources=['a.h','b.h',]\n");
    EXPECT_EQ(python_of(DebugFileBuilder().file(2, "b", "b.h").file(1, "a", "a.h")), "Zkelm_qivSources=['a.h',]\n");
}

TEST(PythonExport, IncludeNamesKeep63Bytes) {
    std::string long_include(70, 'n');
    DebugFileBuilder records;
    records.file(1, long_include, "main.src");
    add_object(records, "o", 1);
    EXPECT_EQ(python_of(records, "\n" + long_include.substr(0, 63) + "\n"),
              object_lines("o", "main.src") + "Zkelm_qivSources=['main.src',]\n");
    EXPECT_EQ(python_of(records, "\n" + long_include + "\n"), "Zkelm_qivSources=['main.src',]\n");
}

TEST(PythonExport, TheInitialiseMarkerMatchesTheNameInAnyCase) {
    struct Case {
        std::string name;
        bool marks;
    };
    const Case cases[] = {
        {"Initialise", true},          {"initialise", true},   {"INITIALISE", true}, {"InItIaLiSe", true},
        {"Initialise and more", true}, {"Initialise2", false}, {"Initialis", false}, {"Initialise_", false},
        {" Initialise", false},        {"Initialize", false},  {"", false},
    };
    for (const Case& c : cases) {
        std::string expected = c.marks ? "Zkelm_qivSource_initialise=('m.src',0,10)\n" : "";
        EXPECT_EQ(python_of(DebugFileBuilder().file(1, "m", "m.src").routine(1, {1, 1, 0}, 0, c.name, {"local"})),
                  expected + "Zkelm_qivSources=['m.src',]\n")
            << c.name;
    }
}

TEST(PythonExport, MarkersIgnoreSelectionAndFileZero) {
    EXPECT_EQ(python_of(DebugFileBuilder()
                            .file(1, "m", "m.src")
                            .directive_end({0, 0, 0})
                            .library_include({1, 7, 0})
                            .routine(1, {0, 5, 2}, 0, "initialise"),
                        "m\n\n"),
              "Zkelm_qivSource_mainEnd=('',-1)\n"
              "Zkelm_qivSource_includeQuibrel=('m.src',6)\n"
              "Zkelm_qivSource_initialise=('',4,12)\n"
              "Zkelm_qivSources=[]\n");
}

TEST(PythonExport, DetailsArePairedWithTheLatestObject) {
    // Details before any object are skipped; an object without details is
    // created but never stored; an unselected object's details are skipped.
    DebugFileBuilder records;
    records.file(1, "m", "m.src")
        .file(2, "x", "x.src")
        .object_details(5, "orphan", {1, 1, 1}, {1, 1, 1}, {"w"}, {{1, "n"}})
        .object(6, "lonely", {1, 3, 1}, {1, 4, 1})
        .object(7, "hidden", {2, 3, 1}, {2, 4, 1})
        .object_details(7, "hidden", {2, 1, 1}, {2, 1, 1}, {"w"}, {{1, "n"}})
        .global(1, "g");
    EXPECT_EQ(python_of(records, "x\n*\n"),
              "o=qivobj()\no.obj_id='lonely'\no.obj_source='m.src'\no.obj_line=2\n"
              "Zkelm_qivSources=['m.src',]\n");
}

// The details complete the object only when the object itself was written,
// even when a File record between the two renames its file.
TEST(PythonExport, AFileRecordBetweenObjectAndDetailsChangesNothing) {
    DebugFileBuilder records;
    records.file(1, "m", "m.src").file(2, "x", "x.src");
    add_object(records, "first", 1);
    records.object(2, "hidden", {2, 3, 1}, {2, 4, 1})
        .file(2, "now_m", "x.src")
        .object_details(2, "hidden", {0, 0, 0}, {0, 0, 0}, {}, {})
        .object(3, "shown", {1, 3, 1}, {1, 4, 1})
        .file(1, "x", "m.src")
        .object_details(3, "it", {0, 0, 0}, {0, 0, 0}, {}, {});
    EXPECT_EQ(python_of(records, "x\n*\n"),
              object_lines("first", "m.src") +
                  "o=qivobj()\no.obj_id='shown'\no.obj_source='m.src'\no.obj_line=2\n"
                  "o.obj_short_name=\"it\"\no.obj_name_list=[]\no.obj_directions={}\no.obj_is_room=0\n"
                  "l.append(o)\nd['shown']=o\n"
                  "Zkelm_qivSources=[]\n");
}

TEST(PythonExport, UnknownTypesAndFatalErrorsLandAmongTheLines) {
    DebugFileBuilder file = debug_file();
    file.byte(99).file(1, "m", "m.src").object(1, "o", {1, 1, 1}, {1, 1, 1}).byte(15).word(1).string("cut");
    RunResult result = run_vardex({"-python"}, file, "\n*\n");
    EXPECT_EQ(result.out, opening +
                              "Unknown type 99\no=qivobj()\no.obj_id='o'\no.obj_source='m.src'\no.obj_line=0\n"
                              "o.obj_short_name=\"cut\"\nFatal error: Unexpected end of debugging info file\n");
    EXPECT_EQ(result.status, 1);
}

// Names are written as literals that denote exactly their bytes.
TEST(PythonExport, HostileNamesAreEscaped) {
    DebugFileBuilder records;
    records.file(1, "m", "dir\\here.src").file(2, "n", "dir\\it's.src").object(1, "a'b\"c\\d\ne", {1, 1, 1}, {1, 1, 1});
    records.object_details(1, "q'\"\x7f\x01", {0, 0, 0}, {0, 0, 0}, {"\"w'", "caf\xc3\xa9", "caf\xe9"}, {{1, "it's"}});
    records.object(2, "nameless_obj__1", {1, 1, 1}, {1, 1, 1})
        .object_details(2, "it's \"x\"", {0, 0, 0}, {0, 0, 0}, {}, {});
    EXPECT_EQ(python_of(records),
              "o=qivobj()\n"
              "o.obj_id='a\\'b\"c\\\\d\\x0ae'\n"
              "o.obj_source='here.src'\n"
              "o.obj_line=0\n"
              "o.obj_short_name=\"q'\\\"\\x7f\\x01\"\n"
              "o.obj_name_list=[\"\\\"w'\",\"caf\xc3\xa9\",\"caf\\xe9\",]\n"
              "o.obj_directions={'n_to':'it\\'s',}\n"
              "o.obj_is_room=1\n"
              "l.append(o)\n"
              "d['a\\'b\"c\\\\d\\x0ae']=o\n"
              "o=qivobj()\n"
              "o.obj_source='here.src'\n"
              "o.obj_line=0\n"
              "o.obj_short_name=\"it's \\\"x\\\"\"\n"
              "o.obj_id='\"it\\'s \"x\"\"'\n"
              "o.obj_name_list=[]\n"
              "o.obj_directions={}\n"
              "o.obj_is_room=0\n"
              "l.append(o)\n"
              "d['nameless_obj__1']=o\n"
              "Zkelm_qivSources=['here.src','it\\'s.src',]\n");
}

// The consumer's view: python3 runs the text and reads back every name.
TEST(PythonExport, TheConsumerReadsBackEveryNameExactly) {
    if (std::system("python3 -c pass") != 0) GTEST_SKIP() << "python3 is not installed";
    const std::vector<std::string> names = {
        "plain",
        "it's",
        "say \"hi\"",
        "back\\slash",
        "new\nline",
        "100% %s %d",
        "tab\there",
        "caf\xc3\xa9",
        "na\xefve",
        "\xe2\x82\xac euro",
        "\xf0\x9f\x90\x89",
        "\xed\xa0\x80",
        "\xc0\xaf",
        "\xf4\x90\x80\x80",
        "\xe2\x82",
        "'''\"\"\"",
        "\\x41\\n",
        "end\\",
        "\r\x7f\x1b[31m",
        "# comment')\nimport os",
    };
    DebugFileBuilder records;
    records.file(1, "main", "src/main.src").file(2, names[1], "src/" + names[4]);
    std::string expected;
    for (std::size_t i = 0; i < names.size(); ++i) {
        const std::string& name = names[i];
        records.object(static_cast<unsigned>(i), name, {1, 5, 0}, {1, 6, 0})
            .object_details(static_cast<unsigned>(i), name, {1, 5, 1}, {0, 0, 0}, {name, "w"}, {{3, name}});
        records.object(static_cast<unsigned>(i), "nameless_obj__" + std::to_string(i), {1, 5, 0}, {1, 6, 0})
            .object_details(static_cast<unsigned>(i), name, {1, 5, 1}, {0, 0, 0}, {}, {});
    }
    DebugFileBuilder file = debug_file();
    file.raw(records.bytes()).end();
    std::string directory = make_temporary_directory();
    RunRequest request;
    request.working_directory = directory;
    request.args = {"-python"};
    request.debug_file = &file.bytes();
    request.stdin_text = "\n*\n";
    RunResult result = run_vardex(request);
    ASSERT_EQ(result.out.find("Fatal error"), std::string::npos) << result.out;
    {
        std::ofstream(directory + "/objects.py", std::ios::binary) << result.out;
        std::ofstream check(directory + "/check.py", std::ios::binary);
        check << "class qivobj: pass\n"
                 "import sys\n"
                 "source = open(sys.argv[1], 'rb').read().decode('utf-8')\n"
                 "exec(compile(source, 'objects.py', 'exec'))\n"
                 "def raw(text):\n"
                 "    # Names arrive as their bytes: UTF-8 where well formed, one code point per other byte.\n"
                 "    return text.encode('utf-8', 'surrogateescape')\n"
                 "out = sys.stdout.buffer\n"
                 "for o in Zkelm_qivObjList:\n"
                 "    out.write(b'id=' + raw(o.obj_id).hex().encode() + b'\\n')\n"
                 "    out.write(b'short=' + raw(o.obj_short_name).hex().encode() + b'\\n')\n"
                 "    for w in o.obj_name_list: out.write(b'word=' + raw(w).hex().encode() + b'\\n')\n"
                 "    for k, v in o.obj_directions.items(): out.write(k.encode() + b'=' + raw(v).hex().encode() + "
                 "b'\\n')\n"
                 "for k in Zkelm_qivObjDict: out.write(b'key=' + raw(k).hex().encode() + b'\\n')\n"
                 "for s in Zkelm_qivSources: out.write(b'source=' + raw(s).hex().encode() + b'\\n')\n";
    }
    std::string command = "cd " + directory + " && python3 check.py objects.py > decoded.txt 2> errors.txt";
    ASSERT_EQ(std::system(command.c_str()), 0) << read_whole_file(directory + "/errors.txt");
    std::string decoded = read_whole_file(directory + "/decoded.txt");
    // A byte b outside well-formed UTF-8 reads back as the code point b.
    auto expected_hex = [](const std::string& name) {
        // Re-encoded the way the consumer sees it: well-formed UTF-8 kept,
        // any other byte as the code point of the same number.
        std::string hex;
        static const char digits[] = "0123456789abcdef";
        std::string encoded;
        for (std::size_t i = 0; i < name.size();) {
            unsigned char byte = static_cast<unsigned char>(name[i]);
            std::size_t length = 0;
            if (byte >= 0xC2 && byte <= 0xDF)
                length = 2;
            else if (byte >= 0xE0 && byte <= 0xEF)
                length = 3;
            else if (byte >= 0xF0 && byte <= 0xF4)
                length = 4;
            bool well_formed = length != 0 && i + length <= name.size();
            for (std::size_t k = 1; well_formed && k < length; ++k)
                well_formed = (static_cast<unsigned char>(name[i + k]) & 0xC0) == 0x80;
            if (well_formed && length == 3) {
                unsigned char second = static_cast<unsigned char>(name[i + 1]);
                well_formed = !(byte == 0xE0 && second < 0xA0) && !(byte == 0xED && second > 0x9F);
            }
            if (well_formed && length == 4) {
                unsigned char second = static_cast<unsigned char>(name[i + 1]);
                well_formed = !(byte == 0xF0 && second < 0x90) && !(byte == 0xF4 && second > 0x8F);
            }
            if (byte >= 0x80 && well_formed) {
                encoded += name.substr(i, length);
                i += length;
            } else if (byte >= 0x80) {
                encoded += static_cast<char>(0xC0 | (byte >> 6));
                encoded += static_cast<char>(0x80 | (byte & 0x3F));
                ++i;
            } else {
                encoded += static_cast<char>(byte);
                ++i;
            }
        }
        for (unsigned char byte : encoded) {
            hex += digits[byte >> 4];
            hex += digits[byte & 0xF];
        }
        return hex;
    };
    std::string wanted;
    for (std::size_t i = 0; i < names.size(); ++i) {
        wanted += "id=" + expected_hex(names[i]) + "\nshort=" + expected_hex(names[i]) +
                  "\nword=" + expected_hex(names[i]) + "\nword=77\ne_to=" + expected_hex(names[i]) + "\n";
        wanted += "id=" + expected_hex("\"" + names[i] + "\"") + "\nshort=" + expected_hex(names[i]) + "\n";
    }
    for (std::size_t i = 0; i < names.size(); ++i)
        wanted +=
            "key=" + expected_hex(names[i]) + "\nkey=" + expected_hex("nameless_obj__" + std::to_string(i)) + "\n";
    wanted += "source=" + expected_hex("main.src") + "\nsource=" + expected_hex(names[4]) + "\n";
    EXPECT_EQ(decoded, wanted);
}
