// The whole run of vardex: switches, opening lines, the record loop and the
// closing lines. Returns the process exit status: 1 in text and Python mode,
// whatever happened; in JSON mode and for lookups 0 after a complete run, 3
// after a size profile whose budget was exceeded (output that cannot be
// written ends the process with status 2 instead).
#pragma once

#include <cstdio>

// Streams that stand in for the files a run names and for standard output
// (an in-process harness reads from memory and checks what is written): the
// debugging file, the old build of -diff=OLD.
struct RunStreams {
    std::FILE* debug_file = nullptr;
    std::FILE* old_build = nullptr;
    std::FILE* output = nullptr;  // standard output when null
    // Called before the server of -lookup waits for more lookups, so that a
    // harness can write the next batch and change the file between batches.
    void (*before_reading_lookups)(void* harness) = nullptr;
    void* harness = nullptr;
};

int run_vardex(int argc, char** argv, const RunStreams& streams = {});
