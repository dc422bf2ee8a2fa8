// Standard output that cannot be written: the run stops at once with status 2
// and says why on standard error, in every mode; a broken pipe ends it by
// SIGPIPE as it does any filter.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <signal.h>
#include <sys/stat.h>
#include <unistd.h>

#include <string>
#include <thread>

#include "run_vardex.h"

namespace {

struct Mode {
    const char* name;
    std::vector<std::string> args;
    std::string stdin_text;
};

const Mode modes[] = {
    {"text", {"-all"}, ""},
    {"python", {"-python"}, "\n*\n"},
};

// Records that print about 150 bytes each in both modes.
std::string objects(unsigned count) {
    DebugFileBuilder records;
    for (unsigned i = 0; i < count; ++i)
        records.object(i, "lamp", {1, 10, 2}, {1, 14, 1})
            .object_details(i, "brass lamp", {1, 11, 5}, {1, 12, 5}, {"brass", "lamp"}, {{1, "hall"}});
    return records.bytes();
}

const std::string no_space = "vardex: can't write to standard output: No space left on device\n";
const std::string bad_descriptor = "vardex: can't write to standard output: Bad file descriptor\n";

}  // namespace

TEST(OutputErrors, AFailedWriteEndsTheRunWithStatus2AndOneLineOnStandardError) {
    const std::string header = debug_file().file(1, "main", "main.src").bytes();
    struct Case {
        const char* what;
        std::string file;  // none: the file is missing, so the failed write is the fatal line's
        Stdout stdout_to;
        const std::string& message;
    };
    const Case cases[] = {
        {"sample, /dev/full", read_whole_file(VARDEX_SAMPLE), Stdout::DevFull, no_space},
        {"sample, closed", read_whole_file(VARDEX_SAMPLE), Stdout::Closed, bad_descriptor},
        {"1 MB of output, /dev/full", header + objects(7000) + DebugFileBuilder().end().bytes(), Stdout::DevFull,
         no_space},
        {"1 MB of output, closed", header + objects(7000) + DebugFileBuilder().end().bytes(), Stdout::Closed,
         bad_descriptor},
        {"cut short, /dev/full", header + objects(10), Stdout::DevFull, no_space},
        {"missing file, /dev/full", "", Stdout::DevFull, no_space},
        {"missing file, closed", "", Stdout::Closed, bad_descriptor},
    };
    for (const Mode& mode : modes) {
        for (const Case& c : cases) {
            RunRequest request;
            request.args = mode.args;
            request.stdin_text = mode.stdin_text;
            if (!c.file.empty()) request.debug_file = &c.file;
            request.stdout_to = c.stdout_to;
            RunResult result = run_vardex(request);
            EXPECT_EQ(result.status, 2) << mode.name << ", " << c.what;
            EXPECT_EQ(result.err, c.message) << mode.name << ", " << c.what;
        }
    }
}

TEST(OutputErrors, ABrokenPipeEndsTheRunBySigpipeWithoutAMessage) {
    const std::string file =
        debug_file().file(1, "main", "main.src").bytes() + objects(7000) + DebugFileBuilder().end().bytes();
    for (const Mode& mode : modes) {
        RunRequest request;
        request.args = mode.args;
        request.stdin_text = mode.stdin_text;
        request.debug_file = &file;
        request.stdout_to = Stdout::ClosedPipe;
        RunResult result = run_vardex(request);
        EXPECT_EQ(result.status, 128 + SIGPIPE) << mode.name;
        EXPECT_EQ(result.err, "") << mode.name;
    }
}

// The debugging file is a pipe fed without end: the run must stop reading
// soon after its first write fails, not read on to the end of its input.
TEST(OutputErrors, ReadingStopsAtTheFirstFailedWrite) {
    const std::string chunk = objects(1000);
    const std::size_t feed_limit = 64u << 20;
    struct sigaction ignore {
    }, previous{};
    ignore.sa_handler = SIG_IGN;
    sigaction(SIGPIPE, &ignore, &previous);  // the feeder learns of the end from EPIPE
    for (const Mode& mode : modes) {
        const std::string directory = make_temporary_directory();
        const std::string fifo = directory + "/gameinfo.dbg";
        ASSERT_EQ(mkfifo(fifo.c_str(), 0600), 0);
        std::size_t fed = 0;
        std::thread feeder([&] {
            int pipe = open(fifo.c_str(), O_WRONLY);
            if (pipe < 0) return;
            std::string bytes = debug_file().file(1, "main", "main.src").bytes();
            while (fed < feed_limit) {
                ssize_t written = write(pipe, bytes.data(), bytes.size());
                if (written <= 0) break;
                fed += static_cast<std::size_t>(written);
                bytes.erase(0, static_cast<std::size_t>(written));
                if (bytes.empty()) bytes = chunk;
            }
            close(pipe);
        });
        RunRequest request;
        request.args = mode.args;
        request.stdin_text = mode.stdin_text;
        request.working_directory = directory;
        request.stdout_to = Stdout::DevFull;
        RunResult result = run_vardex(request);
        // Should the run never have opened the pipe, the feeder is let go.
        close(open(fifo.c_str(), O_RDONLY | O_NONBLOCK));
        feeder.join();
        EXPECT_EQ(result.status, 2) << mode.name;
        EXPECT_EQ(result.err, no_space) << mode.name;
        // The output buffer fills from about 64 KiB of input; the pipe and the
        // reader's buffer hold 64 KiB each.
        EXPECT_LT(fed, 1u << 20) << mode.name;
    }
    sigaction(SIGPIPE, &previous, nullptr);
}

// Output appended to the file being read would be read back as records and
// grow without end: refused before anything is written, in every mode.
TEST(OutputErrors, OutputOntoTheDebuggingFileItselfIsRefused) {
    const std::string sample = read_whole_file(VARDEX_SAMPLE);
    const Mode json_and_lookup[] = {{"json", {"-json", "-all"}, ""}, {"lookup", {"-lookup=0x349"}, ""}};
    for (const Mode& mode : {modes[0], modes[1], json_and_lookup[0], json_and_lookup[1]}) {
        RunRequest request;
        request.args = mode.args;
        request.stdin_text = mode.stdin_text;
        request.debug_file = &sample;
        request.working_directory = make_temporary_directory();
        request.stdout_to = Stdout::DebugFile;
        RunResult result = run_vardex(request);
        EXPECT_EQ(result.status, 2) << mode.name;
        EXPECT_EQ(result.err, "vardex: standard output is the debugging file itself\n") << mode.name;
        EXPECT_EQ(read_whole_file(request.working_directory + "/gameinfo.dbg"), sample) << mode.name;
    }
}
