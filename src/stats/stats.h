// -stats: a size profile of the game, telling where the story file's space
// goes: the records of the debugging file, the sections of the story file
// (its memory map), and the code by source file and by routine; with
// -diff=OLD, what changed since an old build; with -svg, as a picture; with
// -html, as a web page of the picture and the text's tables.
#pragma once

class DebugFile;
struct OutputWriter;
struct SizeProfile;

// How a size profile is written: text, one JSON line, an SVG picture, or a
// web page.
enum class ReportForm { Text, Json, Picture, Page };

// Reads the version numbers and every record of the open debugging file,
// whose magic number has been read, then writes the report in `form`.
// Nothing of it is written before the End record has been read, so a fatal
// error leaves no report. Returns the exit status, 0.
int print_stats_report(OutputWriter& out, DebugFile& file, ReportForm form);

// Writes what changed from `old_profile` to `new_profile`, both read whole
// with their routines' names kept, in `form`. Returns the exit status, 0.
int print_stats_changes(OutputWriter& out, ReportForm form, const SizeProfile& old_profile,
                        const SizeProfile& new_profile);
