#include "run_options.h"

#include <string_view>

#include "messages.h"
#include "record_kinds.h"

namespace {

constexpr std::string_view help_text =
    "\"Vardex\" is an utility to print out the information in an Evrol format \n"
    "  debugging data file, produced by Ostrel v 5.4 or later.  By default it \n"
    "  prints everything except line references in human readable text format. \n"
    "  If the switch -python is used it outputs a python source suited for kelm \n"
    "  and ignores the section selection switches. \n"
    "  Otherwise the following switches \n"
    "  may be used:\n"
    "\n"
    "    -files  -classes  -objects  -globals  -attributes  -fakes  -actions  -map\n"
    "    -properties  -header  -lines  -code  -codeless  -routines  \n"
    "    -help  -all\n"
    "    -text  -json  -stats  -diff=OLD  -svg\n"
    "    -lookup=ADDRESS  -lookup=FILE:LINE  -lookup=NAME  -lookup  -story=FILE\n";

void set_all_section_flags(RunOptions& options, bool value) {
    for (bool& flag : options.section_flags) flag = value;
}

bool is_mode_switch(std::string_view name) { return name == "text" || name == "python" || name == "json"; }

constexpr std::string_view lookup_prefix = "lookup=";

bool is_lookup_value(std::string_view name) { return name.starts_with(lookup_prefix); }

constexpr std::string_view story_prefix = "story=";

// -story=FILE belongs with the lookups: it names no kind to list.
bool is_lookup_switch(std::string_view name) {
    return is_lookup_value(name) || name == "lookup" || name.starts_with(story_prefix);
}

constexpr std::string_view diff_prefix = "diff=";

// -stats, -diff=OLD and -svg choose a report, not the kinds listed.
bool is_stats_switch(std::string_view name) {
    return name == "stats" || name == "svg" || name.starts_with(diff_prefix);
}

OutputMode mode_named(std::string_view name) {
    return name == "python" ? OutputMode::Python : name == "json" ? OutputMode::Json : OutputMode::Text;
}

void apply_switch(RunOptions& options, const Messages& messages, const char* argument) {
    std::string_view name(argument);
    if (name == "help" || name == "-help") {  // --help, as most programs take it
        print_help_text(messages);
        return;
    }
    // A section switch lists the kinds it names in the table of kinds.
    bool names_a_section = false;
    for (const RecordKind& kind : record_kinds) {
        if (kind.section_switch.empty() || name != kind.section_switch) continue;
        options.section_flags[kind.type] = true;
        names_a_section = true;
    }
    if (name == lines_switch) {
        options.section_flags[SequencePoints] = options.section_flags[Array] = true;
        names_a_section = true;
    }
    if (names_a_section) return;
    if (name == "all") {
        set_all_section_flags(options, true);
    } else if (is_mode_switch(name)) {
        // Set before, by the last of them.
    } else if (is_stats_switch(name)) {
        options.stats_report = true;
        if (name == "svg") options.stats_picture = true;
        if (name.starts_with(diff_prefix)) options.stats_old_file_name = argument + diff_prefix.size();
    } else if (name == "lookup") {
        options.lookups_from_standard_input = true;
    } else if (name.starts_with(story_prefix)) {
        options.story_file_name = argument + story_prefix.size();
    } else {
        print_notice(messages, {"Switch -", name, options.mode == OutputMode::Json ? " unknown" : " unknown\n"});
    }
}

}  // namespace

RunOptions default_options() {
    RunOptions options;
    set_all_section_flags(options, true);
    options.section_flags[SequencePoints] = false;
    options.section_flags[Array] = false;
    options.debug_file_name = "gameinfo.dbg";
    options.file_names_given[0] = options.file_names_given[1] = nullptr;
    options.file_name_count = 0;
    options.mode = OutputMode::Text;
    options.lookups = nullptr;
    options.lookup_count = 0;
    options.stats_report = false;
    options.stats_old_file_name = nullptr;
    options.stats_picture = false;
    options.lookups_from_standard_input = false;
    options.story_file_name = nullptr;
    return options;
}

void print_help_text(const Messages& messages) { print_notice(messages, {help_text}); }

OutputMode mode_of_switches(int argc, char** argv) {
    OutputMode mode = OutputMode::Text;
    for (int i = 1; i < argc; ++i)
        if (argv[i][0] == '-' && is_mode_switch(argv[i] + 1)) mode = mode_named(argv[i] + 1);
    return mode;
}

void parse_switches(int argc, char** argv, RunOptions& options, const Messages& messages) {
    options.mode = mode_of_switches(argc, argv);
    bool section_switches_given = false;
    for (int i = 1; i < argc; ++i) {
        if (argv[i][0] != '-') continue;
        std::string_view name = argv[i] + 1;
        if (!is_mode_switch(name) && !is_lookup_switch(name) && !is_stats_switch(name)) section_switches_given = true;
    }
    if (argc <= 1) return;
    if (section_switches_given) set_all_section_flags(options, false);
    options.lookups = argv;
    for (int i = 1; i < argc; ++i) {
        std::string_view argument = argv[i];
        if (!argument.starts_with('-')) {
            if (options.file_name_count < 2) options.file_names_given[options.file_name_count] = argv[i];
            ++options.file_name_count;
            options.debug_file_name = argv[i];
        } else if (is_lookup_value(argument.substr(1)))
            argv[options.lookup_count++] = argv[i] + 1 + lookup_prefix.size();  // a slot already read
        else
            apply_switch(options, messages, argv[i] + 1);
    }
}
