// Lookups in the debugging file: the source position of a code address (as
// an interpreter reports it), the code addresses of a source line, and the
// records that bear a name or a number.
#pragma once

#include "lookup/index.h"

// Reads the open debugging file, from its version numbers, once into `index`,
// then answers the lookups of the command line in the order given and, with
// -lookup, those of standard input, each as it comes. Returns the exit
// status: 0 when every lookup found its answer, 1 otherwise.
int answer_lookups(lookup::LookupIndex& index);
