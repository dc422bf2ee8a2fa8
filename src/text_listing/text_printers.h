// Text mode: one printer per record type, each reading its record body and
// printing it piece by piece as the fields are read.
#pragma once

#include "reader/record_loop.h"
#include "reader/records.h"
#include "record_printing.h"

// The state of a listing in text mode.
struct TextListing {
    OutputWriter& out;
    // At most 10 bytes of text for a byte read: the fixed texts of
    // ObjectDetails and its two positions, 140 bytes for 14 bytes read, are
    // the most.
    static constexpr OutputBound output_bound{10, 64};
    void begin_streamed_record(DebugFile&, int) {}
    void end_streamed_record() {}
};

// Reads the records up to the End record, printing those of the types
// `selected`.
void list_in_text(DebugFile& file, TextListing& listing, const bool* selected,
                  UnknownTypeHandler<TextListing> report_unknown);

void print_banner(OutputWriter& out);
