// The run options, filled from the command line once and read-only after.
#pragma once

enum class OutputMode { Text = 0, Python = 1, Json = 2 };
constexpr int output_mode_count = 3;

constexpr int section_flag_count = 64;

struct RunOptions {
    // SectionFlags: text mode prints a record whose flag is set, skips it otherwise.
    bool section_flags[section_flag_count];
    const char* debug_file_name;  // the last given: it counts
    // The first two file names given, and how many were: a run that reads
    // one file for its answers refuses several.
    const char* file_names_given[2];
    int file_name_count;
    OutputMode mode;
    // The values of the -lookup=VALUE switches, in the order given.
    const char* const* lookups;
    int lookup_count;
    // -stats: the size profile instead of a listing.
    bool stats_report;
    // -diff=OLD: the changes of the size profile since OLD (null: none).
    const char* stats_old_file_name;
    // -svg: the size profile as a picture.
    bool stats_picture;
    // -lookup: lookups are read from standard input as well.
    bool lookups_from_standard_input;
    // -story=FILE: the story file whose build the lookups must answer for.
    const char* story_file_name;
};

struct Messages;

// Every kind printed but sequence points and arrays, file "gameinfo.dbg", text mode.
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
