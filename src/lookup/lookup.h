// Lookups in the debugging file: the source position of a code address (as
// an interpreter reports it) and the code addresses of a source line.
#pragma once

// Answers the lookups of the run options, one after another in the order
// given, from the open debugging file, read up to its first record. The file
// is read more than once. Returns the exit status: 0 when every lookup found
// its answer, 1 otherwise.
int answer_lookups();
// Forgets what an earlier run learnt (for a new run in the same process).
void reset_lookups();
