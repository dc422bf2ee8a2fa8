// Lookups in the debugging file: the source position of a code address (as
// an interpreter reports it), the code addresses of a source line, and the
// records that bear a name or a number.
#pragma once

#include <string_view>

#include "lookup/index.h"

struct Messages;
struct RunOptions;
struct RunStreams;

// A read of the file that failed while the server reads it again.
struct InputFailed {
    std::string_view message;
};

// What a failed read does in a run of lookups: the fatal error, but while
// the server answers the lookups of standard input, which its reading of the
// file again may fail without ending it.
struct LookupFailure final : ReadFailure {
    const Messages& messages;
    bool recoverable = false;
    explicit LookupFailure(const Messages& run_messages) : messages(run_messages) {}
    [[noreturn]] void fail(std::string_view message) const override;
};

// Reads `file`, open with `failure` as its policy, from its version numbers
// once into `index`, then answers the lookups of the command line in the
// order given and, with -lookup, those of standard input, each as it comes.
// Returns the exit status: 0 when every lookup found its answer, 1 otherwise.
int answer_lookups(DebugFile& file, LookupFailure& failure, lookup::LookupIndex& index, const RunOptions& options,
                   const RunStreams& streams);
