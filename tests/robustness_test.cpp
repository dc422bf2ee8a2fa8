// Property tests over damaged, hostile and unusual inputs, in both modes: the
// run always ends, with status 1 and either its normal output or one clear
// fatal-error line, and never needs more memory for a larger input.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <signal.h>
#include <sys/ptrace.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cstdlib>
#include <fstream>
#include <random>
#include <string>
#include <vector>

#include "run_vardex.h"

namespace {

struct Mode {
    std::string name;
    std::vector<std::string> args;
    std::string stdin_text;
};

void PrintTo(const Mode& mode, std::ostream* stream) { *stream << mode.name; }

const Mode text_mode{"text", {"-all"}, ""};
const Mode python_mode{"python", {"-python"}, "\n*\n"};

RunResult run_in(const Mode& mode, const std::string& file) { return run_vardex(mode.args, file, mode.stdin_text); }

RunResult run_one_of_many(const Mode& mode, const std::string& file) {
    return run_vardex_in_bulk(mode.args, file, mode.stdin_text);
}

const std::string bad_magic = "Fatal error: Debugging info file does not begin with magic number DEBF.\n";
const std::string unexpected_end = "Fatal error: Unexpected end of debugging info file\n";

// A child that hangs would otherwise hold the test until CTest's own timeout.
struct Deadline {
    explicit Deadline(unsigned seconds) { alarm(seconds); }
    ~Deadline() { alarm(0); }
};

bool ends_with(const std::string& text, const std::string& end) {
    return text.size() >= end.size() && text.compare(text.size() - end.size(), end.size(), end) == 0;
}

// Written with += since g++ 12 warns wrongly about "text" + std::to_string(n).
std::string numbered(std::string text, unsigned number) {
    text += std::to_string(number);
    return text;
}

// The Python text after the preamble: the objects, markers and sources list.
std::string python_body(const std::string& output) {
    const std::string preamble_end = "l=Zkelm_qivObjList\nd=Zkelm_qivObjDict\n\n";
    std::size_t at = output.find(preamble_end);
    return at == std::string::npos ? "no preamble in: " + output : output.substr(at + preamble_end.size());
}

class EveryMode : public testing::TestWithParam<Mode> {};

INSTANTIATE_TEST_SUITE_P(Robustness, EveryMode, testing::Values(text_mode, python_mode),
                         [](const testing::TestParamInfo<Mode>& info) { return info.param.name; });

// A run that ended early: everything before the fatal line is what the whole
// file prints up to that point, and the fatal line is the one thing after it.
testing::AssertionResult cut_run_is_sound(const RunResult& cut, const std::string& whole_output,
                                          const std::string& fatal_line) {
    if (cut.status != 1) return testing::AssertionFailure() << "exit status " << cut.status;
    if (!ends_with(cut.out, fatal_line)) return testing::AssertionFailure() << "output ends:\n" << cut.out;
    std::size_t printed = cut.out.size() - fatal_line.size();
    if (cut.out.find("Fatal error: ") != printed)
        return testing::AssertionFailure() << "more than one fatal line:\n" << cut.out;
    if (whole_output.compare(0, printed, cut.out, 0, printed) != 0)
        return testing::AssertionFailure() << "output differs from the whole file's:\n" << cut.out;
    return testing::AssertionSuccess();
}

TEST_P(EveryMode, EveryProperPrefixOfTheSampleEndsWithOneFatalLine) {
    const Mode& mode = GetParam();
    const std::string sample = read_whole_file(VARDEX_SAMPLE);
    ASSERT_GT(sample.size(), 100u);
    const std::string whole_output = run_in(mode, sample).out;
    ASSERT_EQ(whole_output.find("Fatal error"), std::string::npos);

    Deadline deadline(300);
    for (std::size_t length = 0; length < sample.size(); ++length) {
        RunResult cut = run_one_of_many(mode, sample.substr(0, length));
        ASSERT_TRUE(cut_run_is_sound(cut, whole_output, length < 2 ? bad_magic : unexpected_end))
            << "prefix of " << length << " bytes";
    }
}

// Global records of `size` bytes in all (at least 3), and their listing.
void add_padding(DebugFileBuilder& file, std::string& listing, std::size_t size) {
    for (std::size_t left = size; left != 0;) {
        std::size_t length = std::min<std::size_t>(left - 3, 250);
        if (left - 3 - length == 1 || left - 3 - length == 2) length -= 3;
        file.global(1, std::string(length, 'g'));
        listing += "Global 1 \"" + std::string(length, 'g') + "\"\n";
        left -= 3 + length;
    }
}

// Records that the input buffer holds whole are written in one piece, the
// others piece by piece: where a record stands against the 64 KiB refill
// must change nothing, in the whole file or cut inside the record. The names
// are around the 32 bytes that a name is tested and copied by, with bytes to
// escape at their edges. One file holds a copy of the records across each of
// its refills, with the refill at every byte of them in turn, so that one
// run tries them all; Python mode writes nothing for the Global records
// between the copies.
TEST_P(EveryMode, RecordsAcrossTheInputRefillPrintAsAnywhereElse) {
    const Mode& mode = GetParam();
    const std::string n31(31, 'a'), n32(32, 'b'), n33(33, 'c'), quoted32 = std::string(31, 'q') + "'";
    DebugFileBuilder group;
    std::vector<std::size_t> record_ends;
    auto then = [&](DebugFileBuilder&) { record_ends.push_back(group.size()); };
    then(group.object(7, n32, {1, 10, 2}, {1, 0, 3}));
    then(group.object_details(7, n31 + "\"", {1, 5, 6}, {0, 0, 0}, {n33, "a\\b", "x", n32, quoted32},
                              {{2, n31}, {13, quoted32}, {12, "h"}}));
    then(group.object(8, "nameless_obj__8", {1, 1, 1}, {1, 2, 2}));
    then(group.object_details(8, quoted32, {0, 0, 0}, {1, 0, 9}, {"w"}, {}));
    then(group.object(9, quoted32, {1, 3, 3}, {1, 4, 4}));
    then(group.object_details(9, std::string(40, 's'), {1, 7, 7}, {1, 8, 8}, {std::string(40, 'w')}, {{1, n33}}));
    // Lists short enough to be taken in one look, with bytes to escape in
    // their text and direction indices that are quotes and backslashes.
    then(group.object(10, "b", {1, 5, 5}, {1, 6, 6}));
    then(group.object_details(10, "b", {1, 1, 1}, {1, 2, 2}, {"a\"b", "c\\d", "e'f", "g"},
                              {{'"', "it's"}, {'\'', "q\"r"}, {'\\', "s\\t"}, {3, "u"}}));
    then(group.global(3, n32).action(4, n33).attribute(5, "").routine(6, {1, 20, 2}, 0x4a10, "Initialise", {"x", "y"}));

    // The output of the records alone is what stands between the output of
    // the File record alone and its end (the sources list in Python mode).
    const std::string prefix = debug_file().file(1, "main", "games/main.src").bytes();
    const std::string alone = run_in(mode, prefix + group.bytes() + '\0').out;
    const std::string prefix_only = run_in(mode, prefix + '\0').out;
    ASSERT_EQ(alone.find("Fatal error"), std::string::npos) << alone;
    std::size_t head = 0;
    while (head < prefix_only.size() && prefix_only[head] == alone[head]) ++head;
    const std::string closing = prefix_only.substr(head);
    const std::string group_output = alone.substr(head, alone.size() - head - closing.size());

    constexpr std::size_t refill = 64 * 1024;
    DebugFileBuilder copies;
    std::string expected = prefix_only.substr(0, head);
    std::vector<std::size_t> copy_output_ends;
    for (std::size_t before_refill = 0; before_refill <= group.size(); ++before_refill) {
        std::size_t refill_offset = refill * (before_refill + 1);
        std::string padding_listing;
        add_padding(copies, padding_listing, refill_offset - before_refill - prefix.size() - copies.size());
        copies.raw(group.bytes());
        if (mode.name == text_mode.name) expected += padding_listing;
        expected += group_output;
        copy_output_ends.push_back(expected.size());
    }
    expected += closing;
    const std::string whole = run_one_of_many(mode, prefix + copies.bytes() + '\0').out;
    if (whole != expected) {
        std::size_t differs = 0;
        while (differs < whole.size() && differs < expected.size() && whole[differs] == expected[differs]) ++differs;
        std::size_t before_refill = 0;
        while (before_refill < copy_output_ends.size() && copy_output_ends[before_refill] <= differs) ++before_refill;
        FAIL() << "with " << before_refill << " bytes of the records before the refill, output differs from:\n"
               << expected.substr(differs, 200) << "\nin:\n"
               << whole.substr(differs, 200);
    }

    // Cut inside the records, with the first object's details across the
    // refill: at every byte of it after the refill, then at every fifth byte
    // (cuts before the refill leave a file the buffer holds whole).
    const std::size_t before_refill = (record_ends[0] + record_ends[1]) / 2;
    DebugFileBuilder padding;
    std::string padding_listing;
    add_padding(padding, padding_listing, refill - before_refill - prefix.size());
    const std::string file = prefix + padding.bytes() + group.bytes() + '\0';
    const std::string uncut = run_in(mode, file).out;
    Deadline deadline(300);
    for (std::size_t in_group = before_refill; in_group < group.size(); ++in_group) {
        if (in_group > record_ends[1] && in_group % 5 != 0) continue;
        std::size_t length = prefix.size() + padding.size() + in_group;
        ASSERT_TRUE(cut_run_is_sound(run_one_of_many(mode, file.substr(0, length)), uncut, unexpected_end))
            << before_refill << " bytes before the refill, cut after " << length;
    }
}

// One to three byte flips, insertions or deletions after the header.
std::string corrupted(const std::string& file, std::mt19937& random, std::string& edits) {
    constexpr std::size_t header_size = 6;
    std::string damaged = file;
    unsigned count = 1 + random() % 3;
    for (unsigned i = 0; i < count; ++i) {
        std::size_t at = header_size + random() % (damaged.size() - header_size);
        char byte = static_cast<char>(random() % 256);
        switch (random() % 3) {
            case 0:
                damaged[at] = static_cast<char>(damaged[at] ^ (byte | 1));
                edits += " flip@" + std::to_string(at);
                break;
            case 1:
                damaged.insert(at, 1, byte);
                edits += " insert@" + std::to_string(at);
                break;
            default:
                damaged.erase(at, 1);
                edits += " delete@" + std::to_string(at);
                break;
        }
    }
    return damaged;
}

TEST_P(EveryMode, RandomCorruptionsOfTheSampleEndWithStatusOne) {
    const Mode& mode = GetParam();
    const std::string sample = read_whole_file(VARDEX_SAMPLE);
    const std::string fatal_lines[] = {bad_magic, unexpected_end,
                                       "Fatal error: I/O failure: can't read from debugging info file\n"};
    std::mt19937 random(20261208);
    Deadline deadline(300);
    for (int run = 0; run < 200; ++run) {
        std::string edits;
        std::string damaged = corrupted(sample, random, edits);
        SCOPED_TRACE("run " + std::to_string(run) + ":" + edits);
        RunResult result = run_one_of_many(mode, damaged);
        ASSERT_EQ(result.status, 1);
        ASSERT_TRUE(ends_with(result.out, "\n")) << result.out;
        std::size_t fatal = result.out.find("Fatal error: ");
        if (fatal != std::string::npos) {
            std::string line = result.out.substr(fatal);
            ASSERT_TRUE(std::find(std::begin(fatal_lines), std::end(fatal_lines), line) != std::end(fatal_lines))
                << result.out;
        } else if (mode.name == "python") {
            std::size_t last_line = result.out.rfind('\n', result.out.size() - 2) + 1;
            ASSERT_EQ(result.out.compare(last_line, 18, "Zkelm_qivSources=["), 0) << result.out;
        }
    }
}

const std::string huge(1024 * 1024, 'x');
const std::string cut(255, 'x');

TEST(HostileFiles, A1MiBStringIsCutTo255AndTheRecordsAfterItAreReadInStep) {
    DebugFileBuilder text_file = debug_file()
                                     .file(1, huge, huge)
                                     .object(3, huge, {1, 2, 3}, {1, 4, 5})
                                     .object_details(3, huge, {1, 5, 6}, {0, 0, 0}, {huge, "lamp"}, {{1, huge}})
                                     .routine(7, {1, 8, 9}, 0x1a2, huge, {huge})
                                     .memory_map({{huge, 0x40}})
                                     .global(4, "after")
                                     .end();
    EXPECT_EQ(run_in(text_mode, text_file.bytes()).out,
              banner + version_line + "File 1 \"" + cut + "\" expanding to \"" + cut + "\"\n" + "Object 3 \"" + cut +
                  "\" from 1:2:3 to 1:4:5\n" + "Details to obj 3:\nshort_name \"" + cut +
                  "\"\nproperties (with) begin at 1:5:6\nname property begins at 0:0:0\nname list: \"" + cut +
                  "\" \"lamp\" \ndirections: n_to " + cut.substr(1) + ", \n" +
                  "Routine 7 (line 1:8:9) PC start: 001a2 (418) \"" + cut + "\" " + cut + "\n" + "Memory map:\n" + cut +
                  " at 00040 (64)\n" + "Global 4 \"after\"\n");

    DebugFileBuilder python_file = debug_file()
                                       .file(1, "main", huge)
                                       .object(3, huge, {1, 2, 3}, {1, 4, 5})
                                       .object_details(3, huge, {1, 5, 6}, {0, 0, 0}, {huge, "lamp"}, {{1, huge}})
                                       .routine(7, {1, 8, 9}, 0x1a2, "Initialise " + huge, {huge})
                                       .directive_end({1, 7, 0})
                                       .end();
    EXPECT_EQ(python_body(run_in(python_mode, python_file.bytes()).out),
              "o=qivobj()\no.obj_id='" + cut + "'\no.obj_source='" + cut + "'\no.obj_line=1\n" + "o.obj_short_name=\"" +
                  cut + "\"\no.obj_with_line=4\no.obj_with_line_pos=9\n" + "o.obj_name_list=[\"" + cut +
                  "\",\"lamp\",]\n" + "o.obj_directions={'n_to':'" + cut.substr(1) +
                  "',}\no.obj_is_room=1\nl.append(o)\nd['" + cut + "']=o\n" + "Zkelm_qivSource_initialise=('" + cut +
                  "',7,19)\n" + "Zkelm_qivSource_mainEnd=('" + cut + "',6)\n" + "Zkelm_qivSources=['" + cut + "',]\n");
}

TEST(UnusualFiles, SixtyFiveThousandSequencePointsInOneRecord) {
    std::vector<SequencePoint> points(0xFFFF, SequencePoint{{1, 0xFFFF, 0xFF}, 0xFFFF});
    DebugFileBuilder file = debug_file().file(1, "main", "main.src").sequence_points(0xFFFF, points);
    file.directive_end({1, 0xFFFF, 0}).end();

    std::string entries;
    for (std::size_t i = 0; i < points.size(); ++i) entries += "[line 1:65535:255 at 65535]";
    EXPECT_EQ(run_in(text_mode, file.bytes()).out, banner + version_line +
                                                       "File 1 \"main\" expanding to \"main.src\"\n"
                                                       "seq. points from 65535: " +
                                                       entries + "\nDirective end; found at 1:65535:0\n");
    EXPECT_EQ(python_body(run_in(python_mode, file.bytes()).out),
              "Zkelm_qivSource_mainEnd=('main.src',65534)\nZkelm_qivSources=['main.src',]\n");
}

TEST(UnusualFiles, LargestNumbersAreUnsigned) {
    const Position far{255, 0xFFFF, 0xFF};
    DebugFileBuilder file = DebugFileBuilder().header(255, 255, 0xFFFF);
    file.file(255, "last", "last.src")
        .object(0xFFFF, "o", far, far)
        .object_details(0xFFFF, "O", far, far, {}, {})
        .attribute(0xFFFF, "a")
        .property(0xFFFF, "p")
        .fake_action(0xFFFF, "f")
        .action(0xFFFF, "t")
        .global(255, "g")
        .routine(0xFFFF, far, 0xFFFFFF, "Initialise")
        .sequence_points(0xFFFF, {{far, 0xFFFF}})
        .routine_end(0xFFFF, far, 0xFFFFFF)
        .array(0xFFFF, "arr")
        .memory_map({{"top", 0xFFFFFF}})
        .game_header(std::vector<unsigned char>(64, 0xFF))
        .directive_end(far)
        .library_include(far)
        .end();

    std::string ff_bytes;
    for (int i = 0; i < 64; ++i) ff_bytes += "ff ";
    EXPECT_EQ(run_in(text_mode, file.bytes()).out,
              banner +
                  "Debugging file from Ostrel 255.255 (v 65535)\n"
                  "File 255 \"last\" expanding to \"last.src\"\n"
                  "Object 65535 \"o\" from 255:65535:255 to 255:65535:255\n"
                  "Details to obj 65535:\nshort_name \"O\"\nproperties (with) begin at 255:65535:255\n"
                  "name property begins at 255:65535:255\nname list: \ndirections: \n"
                  "Attribute 65535 \"a\"\nProperty 65535 \"p\"\nAction 65535 \"f\" (fake)\n"
                  "Action 65535 \"t\" (real)\nGlobal 255 \"g\"\n"
                  "Routine 65535 (line 255:65535:255) PC start: ffffff (16777215) \"Initialise\"\n"
                  "seq. points from 65535: [line 255:65535:255 at 65535]\n"
                  "Routine 65535 ends on line 255:65535:255 at ffffff (16777215)\n"
                  "Array arr at 65535\nMemory map:\ntop at ffffff (16777215)\n"
                  "Header of game file is:\n" +
                  ff_bytes +
                  "\nDirective end; found at 255:65535:255\n"
                  "Include \"Quibrel\" found at 255:65535:255\n");

    // Files 1 to 254 were never declared: they have empty names and paths.
    std::string undeclared;
    for (int i = 1; i < 255; ++i) undeclared += "'',";
    EXPECT_EQ(python_body(run_in(python_mode, file.bytes()).out),
              "o=qivobj()\no.obj_id='o'\no.obj_source='last.src'\no.obj_line=65534\n"
              "o.obj_short_name=\"O\"\no.obj_with_line=65534\no.obj_with_line_pos=258\n"
              "o.obj_name_line=65534\no.obj_name_line_pos=258\no.obj_name_list=[]\no.obj_directions={}\n"
              "o.obj_is_room=0\nl.append(o)\nd['o']=o\n"
              "Zkelm_qivSource_initialise=('last.src',65534,265)\n"
              "Zkelm_qivSource_mainEnd=('last.src',65534)\n"
              "Zkelm_qivSource_includeQuibrel=('last.src',65534)\n"
              "Zkelm_qivSources=[" +
                  undeclared + "'last.src',]\n");
}

TEST(UnusualFiles, FileRecordsNumbered0To255) {
    DebugFileBuilder file = debug_file();
    std::string listing, sources;
    for (unsigned n = 0; n <= 255; ++n) {
        std::string name = numbered("f", n);
        file.file(n, name, "games/" + name + ".src");
        listing += numbered("File ", n) + " \"" + name + "\" expanding to \"games/" + name + ".src\"\n";
        if (n > 0) sources += "'" + name + ".src',";
    }
    file.object(1, "first", {0, 1, 1}, {0, 2, 1}).object(2, "last", {255, 3, 1}, {255, 4, 1}).end();

    EXPECT_EQ(run_in(text_mode, file.bytes()).out, banner + version_line + listing +
                                                       "Object 1 \"first\" from 0:1:1 to 0:2:1\n"
                                                       "Object 2 \"last\" from 255:3:1 to 255:4:1\n");
    // File 0 comes before file 1 sets the main directory, so it keeps its whole path.
    EXPECT_EQ(python_body(run_in(python_mode, file.bytes()).out),
              "o=qivobj()\no.obj_id='first'\no.obj_source='games/f0.src'\no.obj_line=0\n"
              "o=qivobj()\no.obj_id='last'\no.obj_source='f255.src'\no.obj_line=2\n"
              "Zkelm_qivSources=[" +
                  sources + "]\n");
}

TEST(UnusualFiles, NameListsOf100000Words) {
    constexpr unsigned word_count = 100000;
    DebugFileBuilder file = debug_file().file(1, "main", "main.src").object(1, "bag", {1, 1, 1}, {1, 2, 1});
    file.byte(15).word(1).string("bag").line_ref({0, 0, 0}).line_ref({0, 0, 0});
    for (unsigned i = 0; i < word_count; ++i) file.string(numbered("w", i));
    file.byte(0).byte(1).string("hall").byte(0);
    file.byte(11).word(2).line_ref({1, 3, 1}).address(0x10).string("R");
    for (unsigned i = 0; i < word_count; ++i) file.string(numbered("w", i));
    file.byte(0).directive_end({1, 9, 0}).end();

    std::string quoted_words, local_names, python_words;
    for (unsigned i = 0; i < word_count; ++i) {
        std::string word = numbered("w", i);
        quoted_words += "\"" + word + "\" ";
        local_names += " " + word;
        python_words += "\"" + word + "\",";
    }
    EXPECT_EQ(run_in(text_mode, file.bytes()).out,
              banner + version_line +
                  "File 1 \"main\" expanding to \"main.src\"\n"
                  "Object 1 \"bag\" from 1:1:1 to 1:2:1\n"
                  "Details to obj 1:\nshort_name \"bag\"\nproperties (with) begin at 0:0:0\n"
                  "name property begins at 0:0:0\nname list: " +
                  quoted_words + "\ndirections: n_to hall, \nRoutine 2 (line 1:3:1) PC start: 00010 (16) \"R\"" +
                  local_names + "\nDirective end; found at 1:9:0\n");
    EXPECT_EQ(python_body(run_in(python_mode, file.bytes()).out),
              "o=qivobj()\no.obj_id='bag'\no.obj_source='main.src'\no.obj_line=0\n"
              "o.obj_short_name=\"bag\"\no.obj_name_list=[" +
                  python_words +
                  "]\no.obj_directions={'n_to':'hall',}\no.obj_is_room=1\nl.append(o)\nd['bag']=o\n"
                  "Zkelm_qivSource_mainEnd=('main.src',8)\nZkelm_qivSources=['main.src',]\n");
}

struct PeakRun {
    int status = -1;
    long peak_kib = -1;  // the child's own high-water mark of resident memory
};

// Runs vardex on `path` and reads its peak resident memory just before it
// exits. The child's own figure: rusage would also count the pages it
// inherits from this process before exec.
PeakRun run_measuring_peak_memory(const Mode& mode, const std::string& directory, const std::string& path) {
    std::string input_path = directory + "/.stdin";
    std::ofstream(input_path) << mode.stdin_text;
    std::vector<std::string> args = {VARDEX_BINARY};
    args.insert(args.end(), mode.args.begin(), mode.args.end());
    args.push_back(path);
    std::vector<char*> argv;
    for (std::string& arg : args) argv.push_back(arg.data());
    argv.push_back(nullptr);
    // A traced process cannot run the leak checker, which traces itself.
    std::string asan_options = std::string(getenv("ASAN_OPTIONS") ? getenv("ASAN_OPTIONS") : "") + ":detect_leaks=0";

    pid_t child = fork();
    if (child == 0) {
        int input = open(input_path.c_str(), O_RDONLY);
        int output = open("/dev/null", O_WRONLY);
        if (input < 0 || output < 0) _exit(127);
        dup2(input, 0);
        dup2(output, 1);
        setenv("ASAN_OPTIONS", asan_options.c_str(), 1);
        if (ptrace(PTRACE_TRACEME, 0, nullptr, nullptr) != 0) _exit(126);
        execv(argv[0], argv.data());
        _exit(127);
    }
    PeakRun run;
    int status = 0;
    waitpid(child, &status, 0);
    if (!WIFSTOPPED(status)) {
        run.status = WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
        return run;
    }
    ptrace(PTRACE_SETOPTIONS, child, nullptr, reinterpret_cast<void*>(PTRACE_O_TRACEEXIT | PTRACE_O_EXITKILL));
    ptrace(PTRACE_CONT, child, nullptr, nullptr);
    for (;;) {
        waitpid(child, &status, 0);
        if (WIFEXITED(status)) {
            run.status = WEXITSTATUS(status);
            return run;
        }
        if (WIFSIGNALED(status)) {
            run.status = 128 + WTERMSIG(status);
            return run;
        }
        long signal = 0;
        if (status >> 8 == (SIGTRAP | (PTRACE_EVENT_EXIT << 8))) {
            std::ifstream proc_status("/proc/" + std::to_string(child) + "/status");
            for (std::string line; std::getline(proc_status, line);)
                if (line.rfind("VmHWM:", 0) == 0) run.peak_kib = std::atol(line.c_str() + 6);
        } else {
            signal = WSTOPSIG(status);
        }
        ptrace(PTRACE_CONT, child, nullptr, reinterpret_cast<void*>(signal));
    }
}

TEST_P(EveryMode, PeakMemoryDoesNotGrowWithTheInput) {
    const Mode& mode = GetParam();
    const std::string directory = make_temporary_directory();
    const std::string small_path = directory + "/small.dbg";
    const std::string large_path = directory + "/large.dbg";
    std::ofstream(small_path, std::ios::binary) << read_whole_file(VARDEX_SAMPLE);
    {
        // 48 MiB in one name and one list of words, written a piece at a
        // time so that this process stays small too.
        std::ofstream large(large_path, std::ios::binary);
        large << debug_file().file(1, "main", "main.src").byte(3).word(1).bytes();
        for (int i = 0; i < 32; ++i) large << huge;
        large << DebugFileBuilder()
                     .byte(0)
                     .line_ref({1, 1, 1})
                     .line_ref({1, 2, 1})
                     .byte(15)
                     .word(1)
                     .string("bag")
                     .bytes();
        large << DebugFileBuilder().line_ref({0, 0, 0}).line_ref({0, 0, 0}).bytes();
        for (int i = 0; i < 16; ++i) large << DebugFileBuilder().string(huge).bytes();
        large << DebugFileBuilder().byte(0).byte(0).end().bytes();
    }

    PeakRun small = run_measuring_peak_memory(mode, directory, small_path);
    if (small.status == 126) GTEST_SKIP() << "this system does not allow tracing a child";
    PeakRun large = run_measuring_peak_memory(mode, directory, large_path);
    ASSERT_EQ(small.status, 1);
    ASSERT_EQ(large.status, 1);
    ASSERT_GT(small.peak_kib, 0);
    EXPECT_LT(large.peak_kib, small.peak_kib + 4 * 1024) << "peak KiB, small input: " << small.peak_kib;
}

}  // namespace
