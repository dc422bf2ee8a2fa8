// The record loop: reads records up to the End record, each through the
// handler its output mode (or lookup) gives for its type.
#pragma once

#include "reader/records.h"

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
