// The whole run of vardex: switches, opening lines, the record loop and the
// closing lines. Returns the process exit status: 1 in text and Python mode,
// whatever happened; in JSON mode and for lookups 0 after a complete run
// (output that cannot be written ends the process with status 2 instead).
#pragma once

#include "reader/record_loop.h"

int run_vardex(int argc, char** argv);
