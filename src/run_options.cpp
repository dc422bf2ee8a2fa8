#include "run_options.h"

#include <charconv>
#include <climits>
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
    "    -lookup=ADDRESS  -lookup=FILE:LINE  -lookup=NAME  -lookup  -story=FILE\n"
    "    -html  -rows=N  -max-growth=BYTES  -min-left=BYTES\n";

void set_all_section_flags(RunOptions& options, bool value) {
    for (bool& flag : options.section_flags) flag = value;
}

constexpr std::string_view lookup_prefix = "lookup=";
// -story=FILE belongs with the lookups: it names no kind to list.
constexpr std::string_view story_prefix = "story=";
constexpr std::string_view diff_prefix = "diff=";
// The switches of the size profile that take a number (the text's rows, the
// budgets): what they count, and the most each takes.
struct NumberSwitch {
    std::string_view prefix;
    std::string_view unit;
    std::uint64_t largest;
};
constexpr NumberSwitch number_switches[] = {
    {"rows=", "rows", INT_MAX}, {"max-growth=", "bytes", UINT32_MAX}, {"min-left=", "bytes", UINT32_MAX}};

bool is_mode_switch(std::string_view name) { return name == "text" || name == "python" || name == "json"; }

// -stats, -diff=OLD, -svg, -html and the switches that take a number choose a report.
bool is_stats_switch(std::string_view name) {
    for (const NumberSwitch& number_switch : number_switches)
        if (name.starts_with(number_switch.prefix)) return true;
    return name == "stats" || name == "svg" || name == "html" || name.starts_with(diff_prefix);
}

// The value of a switch that takes a number, if `name` is that switch, into
// `value`: a whole number up to its most, or the run ends before anything is
// read, as a budget that could not be read would let any build through.
template <typename Value>
void take_number(const Messages& messages, std::string_view name, const NumberSwitch& number_switch, Value& value) {
    if (!name.starts_with(number_switch.prefix)) return;
    const std::string_view digits = name.substr(number_switch.prefix.size());
    std::uint64_t number = 0;
    const auto [end, error] = std::from_chars(digits.data(), digits.data() + digits.size(), number);
    if (error == std::errc{} && end == digits.data() + digits.size() && number <= number_switch.largest) {
        value = static_cast<Value>(number);
        return;
    }
    char most[24];
    const std::string_view most_text(most, std::to_chars(most, most + sizeof most, number_switch.largest).ptr);
    fatal_error_of(messages,
                   {{"-"}, {name, true}, {" is not a number of "}, {number_switch.unit}, {" from 0 to "}, {most_text}});
}

// Any other switch, even an unknown one, makes a listing of the kinds switched on alone.
bool chooses_kinds(std::string_view name) {
    return !is_mode_switch(name) && !is_stats_switch(name) && name != "lookup" && !name.starts_with(lookup_prefix) &&
           !name.starts_with(story_prefix);
}

OutputMode mode_named(std::string_view name) {
    return name == "python" ? OutputMode::Python : name == "json" ? OutputMode::Json : OutputMode::Text;
}

void apply_switch(RunOptions& options, const Messages& messages, const char* argument) {
    const std::string_view name(argument);
    if (name == "help" || name == "-help") {  // --help, as most programs take it
        print_help_text(messages);
    } else if (name == "all") {
        set_all_section_flags(options, true);
    } else if (name == lines_switch) {
        options.section_flags[SequencePoints] = options.section_flags[Array] = true;
    } else if (is_stats_switch(name)) {
        options.stats_report = true;
        if (name == "svg") options.stats_picture = true;
        if (name == "html") options.stats_page = true;
        if (name.starts_with(diff_prefix)) options.stats_old_file_name = argument + diff_prefix.size();
        take_number(messages, name, number_switches[0], options.stats_rows);
        take_number(messages, name, number_switches[1], options.max_growth);
        take_number(messages, name, number_switches[2], options.min_left);
    } else if (name == "lookup") {
        options.lookups_from_standard_input = true;
    } else if (name.starts_with(story_prefix)) {
        options.story_file_name = argument + story_prefix.size();
    } else if (!is_mode_switch(name)) {  // a mode was set before, by the last of its switches
        // A section switch lists the kinds it names in the table of kinds.
        bool names_kinds = false;
        for (const RecordKind& kind : record_kinds)
            if (!kind.section_switch.empty() && name == kind.section_switch)
                options.section_flags[kind.type] = names_kinds = true;
        if (!names_kinds)
            print_notice(messages, {"Switch -", name, options.mode == OutputMode::Json ? " unknown" : " unknown\n"});
    }
}

}  // namespace

RunOptions default_options() {
    RunOptions options;
    set_all_section_flags(options, true);
    options.section_flags[SequencePoints] = options.section_flags[Array] = false;
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
    if (argc <= 1) return;
    for (int i = 1; i < argc; ++i)
        if (argv[i][0] == '-' && chooses_kinds(argv[i] + 1)) set_all_section_flags(options, false);
    options.lookups = argv;
    for (int i = 1; i < argc; ++i) {
        const std::string_view argument = argv[i];
        if (!argument.starts_with('-')) {
            if (options.file_name_count < 2) options.file_names_given[options.file_name_count] = argv[i];
            ++options.file_name_count;
            options.debug_file_name = argv[i];
        } else if (argument.substr(1).starts_with(lookup_prefix)) {
            argv[options.lookup_count++] = argv[i] + 1 + lookup_prefix.size();  // a slot already read
        } else {
            apply_switch(options, messages, argv[i] + 1);
        }
    }
}
