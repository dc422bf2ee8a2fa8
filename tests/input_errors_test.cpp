// Files that are not debugging files, or end too soon: one clear fatal line.
#include <gtest/gtest.h>

#include <filesystem>

#include "run_vardex.h"

namespace {

const std::string bad_magic = "Fatal error: Debugging info file does not begin with magic number DEBF.\n";
const std::string unexpected_end = "Fatal error: Unexpected end of debugging info file\n";

}  // namespace

TEST(InputErrors, FilesWithoutTheMagicNumber) {
    const std::string cases[] = {
        "",         "\xDE",
        "\xBF\xDE", "\xDE\xBE\x06\x24",
        "gameinfo", DebugFileBuilder().byte(0xDF).byte(0xBF).byte(6).byte(36).word(1632).end().bytes(),
    };
    for (const std::string& bytes : cases) {
        RunResult text = run_vardex({}, bytes);
        EXPECT_EQ(text.out, banner + bad_magic) << testing::PrintToString(bytes);
        EXPECT_EQ(text.status, 1);
        RunResult python = run_vardex({"-python"}, bytes, "\n*\n");
        EXPECT_EQ(python.out.substr(python.out.size() - bad_magic.size()), bad_magic);
        EXPECT_EQ(python.out.find("Debugging file from"), std::string::npos);
    }
}

TEST(InputErrors, ADirectoryIsNotADebuggingFile) {
    std::string directory = make_temporary_directory();
    std::filesystem::create_directory(directory + "/gameinfo.dbg");
    RunRequest request;
    request.working_directory = directory;
    RunResult result = run_vardex(request);
    EXPECT_EQ(result.out, banner + bad_magic);
    EXPECT_EQ(result.status, 1);
}

TEST(InputErrors, AFileEndingBeforeItsEndRecordStopsTheRun) {
    const std::string header = debug_file().bytes();
    struct Case {
        std::string bytes;
        std::string listing;
    };
    const Case cases[] = {
        {header.substr(0, 2), ""},
        {header.substr(0, 5), ""},
        {header, version_line},
        {header + DebugFileBuilder().global(1, "g").bytes(), version_line + "Global 1 \"g\"\n"},
        {header + DebugFileBuilder().byte(200).bytes(), version_line + "Unknown type 200\n"},
    };
    for (const Case& c : cases) {
        RunResult result = run_vardex({}, c.bytes);
        EXPECT_EQ(result.out, banner + c.listing + unexpected_end) << testing::PrintToString(c.bytes);
        EXPECT_EQ(result.status, 1);
    }
}

TEST(InputErrors, NothingAfterTheEndRecordIsRead) {
    std::string bytes = debug_file().global(1, "g").end().bytes() + "\xC8 trailing bytes";
    RunResult result = run_vardex({}, bytes);
    EXPECT_EQ(result.out, banner + version_line + "Global 1 \"g\"\n");
    EXPECT_EQ(result.status, 1);
}

// A path that the caller does not control must neither forge the last line
// in text mode nor, in Python mode, close the docstring and add code after it.
TEST(InputErrors, AHostilePathStaysOneLineInsideItsMessage) {
    const std::string docstring_opening =
        "\"\"\"\n"
        "Ostrel debugging info extracted by Vardex\n"
        "  Objects, source positions, name words and exits of one compiled game,\n"
        "  read from the debugging file that the compiler wrote beside it.\n"
        "\n";
    const std::string open_failure = "Fatal error: Couldn't open debugging info file \"";
    struct Case {
        std::string path, text, python;
    };
    const Case cases[] = {
        {"missing.dbg", "missing.dbg", "missing.dbg"},
        {"/x\"\"\"\nimport os#", R"(/x"""\x0aimport os#)", R"(/x\"\"\"\x0aimport os#)"},
        {"x\"\"\"\nZkelm_qivSources=[]#", R"(x"""\x0aZkelm_qivSources=[]#)", R"(x\"\"\"\x0aZkelm_qivSources=[]#)"},
        {"a\\\"\n\"\"\"\\", R"(a\"\x0a"""\)", R"(a\\\"\x0a\"\"\"\\)"},
        {"q'''\r\n\x7f", R"(q'''\x0d\x0a\x7f)", R"(q'''\x0d\x0a\x7f)"},
    };
    for (const Case& c : cases) {
        RunRequest request;
        request.args = {c.path};
        RunResult text = run_vardex(request);
        EXPECT_EQ(text.out, banner + open_failure + c.text + "\"\n") << c.path;
        EXPECT_EQ(text.status, 1);
        request.args = {"-python", c.path};
        request.stdin_text = "\n*\n";
        RunResult python = run_vardex(request);
        EXPECT_EQ(python.out, docstring_opening + open_failure + c.python + "\"\n") << c.path;
        EXPECT_EQ(python.out.find("\"\"\"", 3), std::string::npos) << "the docstring is closed in:\n" << python.out;
        EXPECT_EQ(python.status, 1);
    }
}
