// Runs the real vardex binary the way a user or a build tool does: with its
// arguments, standard input and working directory, capturing standard output
// and the exit status.
#pragma once

#include <string>
#include <vector>

#include "debug_file_builder.h"

struct RunResult {
    std::string out;
    std::string err;
    int status;  // exit status, or 128 + signal number when killed
};

// Where the run's standard output goes.
enum class Stdout {
    File,        // a file, read back as RunResult::out
    DevFull,     // /dev/full: every write fails with ENOSPC
    Closed,      // no descriptor 1 at all
    ClosedPipe,  // a pipe whose reading end is closed
    DebugFile,   // appended to the debugging file (gameinfo.dbg in the working directory)
};

struct RunRequest {
    std::vector<std::string> args;
    std::string stdin_text;
    bool stdin_is_pipe = false;  // a pipe holding stdin_text (at most 64 KiB), not a file
    // Written as gameinfo.dbg in a fresh working directory unless absent.
    const std::string* debug_file = nullptr;
    std::string working_directory;  // a fresh temporary one when empty
    Stdout stdout_to = Stdout::File;
    // Off for the bulk property tests: the leak check at exit costs a
    // sanitized run more than the run itself, and vardex allocates nothing.
    bool leak_check = true;
};

RunResult run_vardex(const RunRequest& request);

// The common cases: a file written as gameinfo.dbg in a fresh directory.
RunResult run_vardex(const std::vector<std::string>& args, const std::string& debug_file,
                     const std::string& stdin_text = "");
RunResult run_vardex(const std::vector<std::string>& args, const DebugFileBuilder& debug_file,
                     const std::string& stdin_text = "");

// The same, for the tests that run vardex hundreds of times: without the leak
// check at exit, which under the sanitizers takes longer than the run.
RunResult run_vardex_in_bulk(const std::vector<std::string>& args, const std::string& debug_file,
                             const std::string& stdin_text = "");

// A fresh, empty temporary directory, removed when the test program ends.
std::string make_temporary_directory();

std::string read_whole_file(const std::string& path);

// The two lines every text-mode run begins with, for version 6.36 (v 1632).
inline const std::string banner = "Vardex 1 (try \"vardex -help\" for instructions)\n";
inline const std::string version_line = "Debugging file from Ostrel 6.36 (v 1632)\n";

// A file builder with the header the expected texts assume.
inline DebugFileBuilder debug_file() { return DebugFileBuilder().header(6, 36, 1632); }
