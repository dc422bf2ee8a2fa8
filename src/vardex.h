// The whole run of vardex: switches, opening lines, the record loop and the
// closing lines. Returns the process exit status: 1 in text and Python mode,
// whatever happened; in JSON mode and for lookups 0 after a complete run
// (output that cannot be written ends the process with status 2 instead).
#pragma once

#include "reader/records.h"

int run_vardex(int argc, char** argv);

// What the record loop does with each record: the handler of its type when
// the type is selected, skip_record otherwise; a type byte above the last
// type goes to report_unknown.
struct RecordLoop {
    const RecordHandler* handlers;
    const bool* selected;  // by type; nullptr selects every type
    void (*report_unknown)(int type);
};

// Reads records up to the End record.
void run_record_loop(const RecordLoop& loop);
