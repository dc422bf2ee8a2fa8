// JSON mode: every selected record as one line of JSON, written as it is read.
#pragma once

#include "reader/records.h"

// Indexed by record type 0..17; entry 0 (End) is empty.
extern const RecordHandler json_printers[18];

void print_json_version_line();
void print_json_unknown_type(int type);
void print_json_end();
