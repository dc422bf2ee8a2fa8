// Python mode: writes Python source that builds the game's objects for a
// consumer program, which defines the class qivobj and runs the text.
#pragma once

#include "reader/records.h"

// Indexed by record type 0..17; entry 0 (End) is empty.
extern const RecordHandler python_handlers[18];

void print_docstring_opening();
void print_python_preamble();
void print_sources_list();

// Forgets the current object (for a new run in the same process).
void reset_python_emitter();
