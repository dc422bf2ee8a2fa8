// Switch parsing and the run's opening lines, through the real binary.
#include <gtest/gtest.h>

#include <set>

#include "all_kinds.h"
#include "run_vardex.h"

namespace {

const std::string help_text =
    "\"Vardex\" is an utility to print out the information in an Evrol format \n"
    "  debugging data file, produced by Ostrel v 5.4 or later.  By default it \n"
    "  prints everything except line references in human readable text format. \n"
    "  If the switch -python is used it outputs a python source suited for kelm \n"
    "  and ignores the section selection switches. \n"
    "  Otherwise the following switches \n"
    "  may be used:\n"
    "\n"
    "    -files  -classes  -objects  -globals  -attributes  -fakes  -actions  -map\n"
    "    -properties  -header  -lines  -code  -codeless  -routines  \n"
    "    -help  -all\n"
    "    -text  -json  -stats  -diff=OLD  -svg\n"
    "    -lookup=ADDRESS  -lookup=FILE:LINE  -lookup=NAME  -lookup  -story=FILE\n"
    "    -html  -rows=N  -max-growth=BYTES  -min-left=BYTES\n";

std::string listing_of(const std::set<int>& types) {
    return listing_of_every_kind([&](int type) { return types.count(type) != 0; });
}

const std::set<int> default_kinds = {1, 2, 3, 4, 5, 6, 7, 8, 9, 11, 13, 14, 15, 16, 17};
const std::set<int> every_kind = {1, 2, 3, 4, 5, 6, 7, 8, 9, 10, 11, 12, 13, 14, 15, 16, 17};

}  // namespace

TEST(Switches, SectionSwitchesChooseTheKindsListed) {
    struct Case {
        std::vector<std::string> args;
        std::set<int> kinds;
    };
    const Case cases[] = {
        {{}, default_kinds},
        {{"-text"}, default_kinds},
        {{"-python", "-text"}, default_kinds},
        {{"-all"}, every_kind},
        {{"-objects"}, {3}},
        {{"-objects", "-all"}, every_kind},
        {{"-all", "-objects"}, every_kind},
        {{"-files", "-classes", "-globals"}, {1, 2, 4}},
        {{"-attributes", "-properties", "-fakes", "-actions"}, {5, 6, 7, 8}},
        {{"-header", "-map"}, {9, 13}},
        {{"-lines"}, {10, 12}},
        {{"-code"}, {10}},
        {{"-codeless"}, {12}},
        {{"-routines"}, {11, 14}},
        {{"-Objects"}, {}},
    };
    const std::string file = file_of_every_kind();
    for (const Case& c : cases) {
        RunResult result = run_vardex(c.args, file);
        std::string notices = c.args == std::vector<std::string>{"-Objects"} ? "Switch -Objects unknown\n" : "";
        EXPECT_EQ(result.out, notices + banner + version_line + listing_of(c.kinds)) << testing::PrintToString(c.args);
        EXPECT_EQ(result.status, 1);
    }
}

TEST(Switches, HelpAndUnknownSwitchesPrintInArgumentOrderAndTheRunGoesOn) {
    const std::string file = file_of_every_kind();
    EXPECT_EQ(run_vardex({"-help"}, file).out, help_text + banner + version_line);
    EXPECT_EQ(run_vardex({"--help"}, file).out, help_text + banner + version_line);
    EXPECT_EQ(run_vardex({"-xyz", "-help", "-", "-help", "-objects"}, file).out,
              "Switch -xyz unknown\n" + help_text + "Switch - unknown\n" + help_text + banner + version_line +
                  listing_of({3}));
}

TEST(Switches, TheLastFileNameAndTheLastModeWin) {
    std::string directory = make_temporary_directory();
    std::string other = debug_file().global(9, "other").end().bytes();
    std::string wanted = debug_file().global(1, "wanted").end().bytes();
    {
        std::FILE* f = std::fopen((directory + "/other.dbg").c_str(), "wb");
        std::fwrite(other.data(), 1, other.size(), f);
        std::fclose(f);
        f = std::fopen((directory + "/wanted.dbg").c_str(), "wb");
        std::fwrite(wanted.data(), 1, wanted.size(), f);
        std::fclose(f);
    }
    RunRequest request;
    request.working_directory = directory;
    request.args = {"other.dbg", "-text", "wanted.dbg"};
    EXPECT_EQ(run_vardex(request).out, banner + version_line + "Global 1 \"wanted\"\n");

    request.args = {"-text", "-python", "wanted.dbg"};
    request.stdin_text = "\n*\n";
    EXPECT_EQ(run_vardex(request).out.substr(0, 4), "\"\"\"\n");
}

TEST(Switches, AMissingFileFollowsTheOpeningLines) {
    RunRequest request;
    RunResult text = run_vardex(request);
    EXPECT_EQ(text.out, banner + "Fatal error: Couldn't open debugging info file \"gameinfo.dbg\"\n");
    EXPECT_EQ(text.status, 1);

    request.args = {"-help", "-python", "missing file.dbg"};
    request.stdin_text = "\n*\n";
    RunResult python = run_vardex(request);
    EXPECT_EQ(python.out, help_text +
                              "\"\"\"\n"
                              "Ostrel debugging info extracted by Vardex\n"
                              "  Objects, source positions, name words and exits of one compiled game,\n"
                              "  read from the debugging file that the compiler wrote beside it.\n"
                              "\n"
                              "Fatal error: Couldn't open debugging info file \"missing file.dbg\"\n");
    EXPECT_EQ(python.status, 1);
}

// A run that answers from one file refuses several file names before it
// reads anything (a lookup typed with a space); the listing modes keep the
// rule that the last one counts.
TEST(Switches, SeveralFileNamesWhereOneIsRead) {
    const std::string lookups =
        "Lookups take one debugging file, but \"0x6bc0\" and \"gameinfo.dbg\" were given "
        "(write a lookup as -lookup=VALUE)";
    const std::string profile =
        "The size profile takes one debugging file, but \"a\\x0ab\" and \"gameinfo.dbg\" were given";
    struct Case {
        std::vector<std::string> args;
        std::string out;
        int status;
    };
    const Case cases[] = {
        {{"-lookup", "0x6bc0", "gameinfo.dbg"}, "Fatal error: " + lookups + "\n", 1},
        {{"-json", "-lookup=main", "0x6bc0", "gameinfo.dbg"},
         "{\"kind\":\"fatal_error\",\"message\":\"" +
             std::string("Lookups take one debugging file, but \\\"0x6bc0\\\" "
                         "and \\\"gameinfo.dbg\\\" were given (write a lookup "
                         "as -lookup=VALUE)") +
             "\"}\n",
         1},
        {{"-stats", "a\nb", "gameinfo.dbg"}, "Fatal error: " + profile + " (compare two builds with -diff=OLD)\n", 1},
        {{"-diff=gameinfo.dbg", "a\nb", "gameinfo.dbg", "c"}, "Fatal error: " + profile + "\n", 1},
        {{"-svg", "-json"},
         "{\"kind\":\"fatal_error\",\"message\":\"-svg writes an SVG picture, not JSON: give -svg or -json, not "
         "both\"}\n",
         1},
        {{"-html", "-json"},
         "{\"kind\":\"fatal_error\",\"message\":\"-html writes an HTML page, not JSON: give -html or -json, not "
         "both\"}\n",
         1},
        {{"-diff=old.dbg", "-svg", "-html"},
         "Fatal error: -html writes an HTML page, not an SVG picture: give -html or -svg, not both\n",
         1},
        {{"-objects", "missing.dbg", "gameinfo.dbg"},
         banner + version_line + "Object 3 \"lamp\" from 1:10:2 to 1:14:1\n",
         1},
    };
    const std::string file = debug_file().object(3, "lamp", {1, 10, 2}, {1, 14, 1}).end().bytes();
    for (const Case& c : cases) {
        RunResult result = run_vardex(c.args, file);
        EXPECT_EQ(result.out, c.out) << testing::PrintToString(c.args);
        EXPECT_EQ(result.status, c.status) << testing::PrintToString(c.args);
    }
}

// A value of -rows=, -max-growth= or -min-left= that is not a whole number
// in its bounds, or a growth with no old build, is refused before anything
// is read: the file named does not exist.
TEST(Switches, BadNumbersOfTheSizeProfileAreRefusedBeforeAnythingIsRead) {
    const std::string rows = " is not a number of rows from 0 to 2147483647";
    const std::string bytes = " is not a number of bytes from 0 to 4294967295";
    struct Case {
        std::vector<std::string> args;
        std::string out;
    };
    const Case cases[] = {
        {{"-rows=x"}, "Fatal error: -rows=x" + rows + "\n"},
        {{"-rows=-1"}, "Fatal error: -rows=-1" + rows + "\n"},
        {{"-rows=2147483648"}, "Fatal error: -rows=2147483648" + rows + "\n"},
        {{"-max-growth=", "-diff=old.dbg"}, "Fatal error: -max-growth=" + bytes + "\n"},
        {{"-max-growth=4294967296", "-diff=old.dbg"}, "Fatal error: -max-growth=4294967296" + bytes + "\n"},
        {{"-min-left=99999999999999999999"}, "Fatal error: -min-left=99999999999999999999" + bytes + "\n"},
        {{"-json", "-max-growth=1e3"}, "{\"kind\":\"fatal_error\",\"message\":\"-max-growth=1e3" + bytes + "\"}\n"},
        {{"-max-growth=1000"},
         "Fatal error: -max-growth=BYTES needs the old build to compare with: give -diff=OLD too\n"},
        {{"-rows=2147483647", "-max-growth=4294967295", "-min-left=4294967295", "-diff=old.dbg"},
         "Fatal error: Couldn't open debugging info file \"old.dbg\"\n"},
    };
    for (const Case& each : cases) {
        std::vector<std::string> args = each.args;
        args.push_back("missing.dbg");
        const RunResult result = run_vardex(args, "");
        EXPECT_EQ(result.out, each.out) << testing::PrintToString(each.args);
        EXPECT_EQ(result.status, 1) << testing::PrintToString(each.args);
    }
}
