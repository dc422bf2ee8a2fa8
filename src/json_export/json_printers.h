// JSON mode: every selected record as one line of JSON, written as it is read.
#pragma once

#include "json_export/json_writer.h"
#include "reader/records.h"
#include "record_printing.h"

// The state of a listing in JSON mode.
struct JsonListing {
    // At most 24 bytes for a byte read: a direction entry of two bytes, with
    // an index outside the table, is written as
    // {"index":255,"direction":"dir255_to","to":""}.
    static constexpr OutputBound output_bound{24, 128};
    OutputWriter& out;
    json::JsonOutput& output;

    void begin_streamed_record(DebugFile& file, int type);
    void end_streamed_record() { output.close_record_line(); }
};

// Reads the records up to the End record, a line for each of the types
// `selected`.
void list_in_json(DebugFile& file, JsonListing& listing, const bool* selected);

void print_json_version_line(DebugFile& file, OutputWriter& out);
void print_json_end(OutputWriter& out);
