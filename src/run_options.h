// The run options, filled from the command line once and read-only after.
#pragma once

enum class OutputMode { Text = 0, Python = 1, Json = 2 };

constexpr int section_flag_count = 64;
// Lookups kept from the command line; more end the run with a fatal error.
constexpr int lookup_capacity = 4096;

struct RunOptions {
    // SectionFlags: text mode prints a record whose flag is set, skips it otherwise.
    bool section_flags[section_flag_count];
    const char* debug_file_name;
    OutputMode mode;
    // The values of the -lookup=VALUE switches, in the order given.
    const char* lookups[lookup_capacity];
    int lookup_count;
    // -stats: the size profile instead of a listing.
    bool stats_report;
};

extern RunOptions options;

// Every kind printed but sequence points and arrays, file "gameinfo.dbg", text mode.
void set_default_options();

// Reads the switches and the file name from the arguments after the program
// name. The help text and unknown-switch notices are printed on the way.
void parse_switches(int argc, char** argv);

void print_help_text();
