// -stats: a size profile of the game, telling where the story file's space
// goes: the records of the debugging file, the sections of the story file
// (its memory map), and the code by source file and by routine; with
// -diff=OLD, what changed since an old build; with -svg, as a picture; with
// -html, as a web page of the picture and the text's tables.
#pragma once

#include <cstdint>

class DebugFile;
struct OutputWriter;
struct SizeProfile;

// How a size profile is written: text, one JSON line, an SVG picture, or a
// web page.
enum class ReportForm { Text, Json, Picture, Page };

// What a report lists and checks besides its form: the rows of each table
// of the text (0 for all), and the budgets a build script sets, in bytes,
// -1 when not given: the most the story (or the code) may grow by since the
// old build, the least the new story must have left before its limit.
struct ReportControls {
    int rows = 20;
    std::int64_t max_growth = -1;
    std::int64_t min_left = -1;
};

// Reads the version numbers and every record of the open debugging file,
// whose magic number has been read, then writes the report in `form` (a
// picture names the file by `path`) and a line for each budget exceeded.
// Nothing of it is written before the last record has been read, so a fatal
// error leaves no report. Returns the exit status: 0; 3 when a budget is
// exceeded; 1 when one cannot be checked, or when the file ends before its
// End record (what it holds up to there is reported).
int print_stats_report(OutputWriter& out, DebugFile& file, ReportForm form, const ReportControls& controls,
                       const char* path);

// Writes what changed from `old_profile` to `new_profile`, both read whole
// with their routines' names kept, in `form` (a picture names the builds by
// `old_path` and `new_path`), then the budgets' lines. Returns the exit
// status, as print_stats_report does (1 when either file ends before its End
// record).
int print_stats_changes(OutputWriter& out, ReportForm form, const ReportControls& controls,
                        const SizeProfile& old_profile, const SizeProfile& new_profile, const char* old_path,
                        const char* new_path);
