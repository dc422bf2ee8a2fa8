// -stats: a size profile of the game, telling where the story file's space
// goes: the records of the debugging file, the sections of the story file
// (its memory map), and the code by source file and by routine; with
// -diff=OLD, what changed since an old build; with -svg, as a picture.
#pragma once

class DebugFile;
struct RunOptions;
struct OutputWriter;
struct SizeProfile;

// Reads the version numbers and every record of the open debugging file,
// whose magic number has been read, then writes the report: text, one JSON
// line in JSON mode, or the picture. Nothing of it is written before the
// End record has been read, so a fatal error leaves no report. Returns the
// exit status, 0.
int print_stats_report(OutputWriter& out, DebugFile& file, const RunOptions& options);

// Writes what changed from `old_profile` to `new_profile`, both read whole
// with their routines' names kept. Returns the exit status, 0.
int print_stats_changes(OutputWriter& out, const SizeProfile& old_profile, const SizeProfile& new_profile,
                        const RunOptions& options);
