// Text mode: one printer per record type, each reading its record body and
// printing it piece by piece as the fields are read.
#pragma once

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

// Indexed by record type 0..17; entry 0 (End) is empty.
extern const RecordHandler<TextListing> text_printers[18];

void print_banner(OutputWriter& out);
