// Text mode: one printer per record type, each reading its record body and
// printing it piece by piece as the fields are read.
#pragma once

#include "reader/records.h"

// Indexed by record type 0..17; entry 0 (End) is empty.
extern const RecordHandler text_printers[18];

void print_banner();
