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
        "",
        "\xDE",
        "\xBF\xDE",
        "\xDE\xBE\x06\x24",
        "gameinfo",
        DebugFile().byte(0xDF).byte(0xBF).byte(6).byte(36).word(1632).end().bytes(),
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
        {header + DebugFile().global(1, "g").bytes(), version_line + "Global 1 \"g\"\n"},
        {header + DebugFile().byte(200).bytes(), version_line + "Unknown type 200\n"},
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
