// -stats: a size profile of the game, telling where the story file's space
// goes: the records of the debugging file, the sections of the story file
// (its memory map), and the code by source file and by routine.
#pragma once

// Reads the version numbers and every record of the open debugging file,
// whose magic number has been read, then writes the report: text, or one
// JSON line in JSON mode. Nothing of it is written before the End record has
// been read, so a fatal error leaves no report. Returns the exit status, 0.
int print_stats_report();
