// The run options, filled from the command line once and read-only after.
#pragma once

#include <cstdint>

#include "record_kinds.h"

enum class OutputMode { Text = 0, Python = 1, Json = 2 };

struct RunOptions {
    // By record type: text and JSON mode list a record whose flag is set.
    bool section_flags[last_record_type + 1];
    const char* debug_file_name = "gameinfo.dbg";  // the last given: it counts
    // The first two file names given, and how many were: a run that reads
    // one file for its answers refuses several.
    const char* file_names_given[2] = {};
    int file_name_count = 0;
    OutputMode mode = OutputMode::Text;
    // The values of the -lookup=VALUE switches, in the order given.
    const char* const* lookups = nullptr;
    int lookup_count = 0;
    bool stats_report = false;                  // -stats: the size profile instead of a listing
    const char* stats_old_file_name = nullptr;  // -diff=OLD: the changes since OLD
    bool stats_picture = false;                 // -svg: the size profile as a picture
    bool stats_page = false;                    // -html: the picture and the tables as a web page
    bool lookups_from_standard_input = false;   // -lookup
    const char* story_file_name = nullptr;      // -story=FILE: the story file the lookups answer for
    int stats_rows = 20;                        // -rows=N: the rows of each table of the text, 0 for all
    std::int64_t max_growth = -1;               // -max-growth=BYTES (a budget), -1 when not given
    std::int64_t min_left = -1;                 // -min-left=BYTES (a budget), -1 when not given
};

struct Messages;

// Every kind listed but sequence points and arrays, file "gameinfo.dbg", text mode.
RunOptions default_options();

// The output mode the switches choose (the last mode switch), known before
// any switch is applied, so that notices are written in the form of the
// mode, wherever its switch stands.
OutputMode mode_of_switches(int argc, char** argv);

// Reads the switches and the file name from the arguments after the program
// name into `options`. The help text and unknown-switch notices are printed
// on the way. The lookup values are gathered at the front of argv, in the
// slots of arguments already read (as getopt moves arguments), so that any
// number of them needs no room of its own.
void parse_switches(int argc, char** argv, RunOptions& options, const Messages& messages);

void print_help_text(const Messages& messages);
