// The driver: one run of vardex, step by step, in the order of its output.
#include "vardex.h"

#include <sys/stat.h>
#include <unistd.h>

#include <cstdint>
#include <cstdio>
#include <memory>

#include "json_export/json_printers.h"
#include "json_export/json_writer.h"
#include "lookup/lookup.h"
#include "output_pieces.h"
#include "python_export/python_emitter.h"
#include "python_export/source_files.h"
#include "reader/debug_file.h"
#include "reader/field_reader.h"
#include "run_exit.h"
#include "run_options.h"
#include "stats/size_profile.h"
#include "stats/stats.h"
#include "text_listing/text_printers.h"

namespace {

void print_version_line() {
    StreamFields in;
    const std::uint8_t major = in.byte();
    const std::uint8_t minor = in.byte();
    StreamOutput().put(VersionLine{major, minor, in.word()});
}

void report_unknown_type(int type) {
    StreamOutput().put("Unknown type ", Number{static_cast<std::uint8_t>(type)}, '\n');
}

void nothing() {}

// The steps of a listing that differ between the output modes.
struct ListingSteps {
    void (*print_opening)();
    void (*print_version_line)();
    void (*print_preamble)();
    RecordLoop records;
    void (*print_closing)();
    int exit_status;
};

ListingSteps listing_steps(OutputMode mode) {
    switch (mode) {
        case OutputMode::Python:
            return {print_docstring_opening, print_version_line,
                    print_python_preamble,   {python_handlers, nullptr, report_unknown_type},
                    print_sources_list,      1};
        case OutputMode::Json:
            return {json::start_json_output,
                    print_json_version_line,
                    nothing,
                    {json_printers, options.section_flags, print_json_unknown_type},
                    print_json_end,
                    0};
        case OutputMode::Text:
            break;
    }
    return {print_banner, print_version_line,
            nothing,      {text_printers, options.section_flags, report_unknown_type},
            nothing,      1};
}

// Output appended to its own input would be read back as records, each
// listed at more than its size, and grow without end. As cat does, such a
// run is refused before anything is written or read.
void refuse_output_onto_the_debug_file() {
    struct stat input_status {};
    struct stat output_status {};
    if (fstat(STDOUT_FILENO, &output_status) != 0 || !S_ISREG(output_status.st_mode)) return;
    if (stat(options.debug_file_name, &input_status) != 0) return;
    if (input_status.st_dev != output_status.st_dev || input_status.st_ino != output_status.st_ino) return;
    std::fputs("vardex: standard output is the debugging file itself\n", stderr);
    end_run(2);
}

// Lookups instead of a listing: the answers, and nothing else.
int answer_lookups_of_file() {
    if (options.mode == OutputMode::Json) json::start_json_output();
    open_debug_file(options.debug_file_name);
    check_magic_number();
    lookup::LookupIndex index;
    int status = answer_lookups(index);
    out.flush();
    close_debug_file();
    return status;
}

// The size profile instead of a listing, then the answers to any lookups.
int report_stats_of_file() {
    if (options.mode == OutputMode::Json) json::start_json_output();
    open_debug_file(options.debug_file_name);
    check_magic_number();
    const std::uint64_t version_offset = input_offset();
    // Lookups that cannot be answered (from a pipe) fail before the report.
    const bool lookups_given = options.lookup_count != 0 || options.lookups_from_standard_input;
    lookup::LookupIndex index;
    if (lookups_given && !input_is_seekable()) return answer_lookups(index);
    int status = print_stats_report();
    if (lookups_given) {
        seek_input(version_offset);
        status = answer_lookups(index) == 0 ? status : 1;
    }
    out.flush();
    close_debug_file();
    return status;
}

// One build of -diff=OLD, read whole and closed, its fatal errors naming it.
SizeProfileHandle read_build(const char* path) {
    name_file_in_fatal_errors(path);
    open_debug_file(path);
    check_magic_number();
    SizeProfileHandle profile = read_size_profile(path);
    close_debug_file();
    return profile;
}

// One pipe named as both builds would be read to its end as the old one,
// leaving nothing for the new one (and a named pipe opened again would wait
// for a writer that never comes).
void refuse_one_pipe_as_both_builds() {
    struct stat old_status {};
    struct stat new_status {};
    if (stat(options.stats_old_file_name, &old_status) != 0 || stat(options.debug_file_name, &new_status) != 0) return;
    if (!S_ISFIFO(old_status.st_mode) && !S_ISSOCK(old_status.st_mode)) return;
    if (old_status.st_dev == new_status.st_dev && old_status.st_ino == new_status.st_ino)
        fatal_error_with_path("Couldn't read both builds from one pipe", options.debug_file_name);
}

// The changes since an old build: the field reader reads one file at a
// time, so OLD is read whole first, then NEW; then the answers to any
// lookups, from NEW.
int report_stats_changes() {
    if (options.mode == OutputMode::Json) json::start_json_output();
    refuse_one_pipe_as_both_builds();
    int status;
    {
        const SizeProfileHandle old_profile = read_build(options.stats_old_file_name);
        const SizeProfileHandle new_profile = read_build(options.debug_file_name);
        name_file_in_fatal_errors(nullptr);
        status = print_stats_changes(*old_profile, *new_profile);
    }
    if (options.lookup_count != 0 || options.lookups_from_standard_input) {
        open_debug_file(options.debug_file_name);
        check_magic_number();
        lookup::LookupIndex index;
        status = answer_lookups(index) == 0 ? status : 1;
        close_debug_file();
    }
    out.flush();
    return status;
}

// A lookup typed with a space (-lookup 0x6bc0 game.dbg), or two builds given
// to one report, would otherwise lose a file name silently, as the last one
// counts; the listing modes keep that rule, which callers rely on.
void refuse_several_file_names() {
    const bool lookups = options.lookup_count != 0 || options.lookups_from_standard_input;
    if (options.file_name_count < 2 || !(lookups || options.stats_report)) return;
    const MessagePart first{options.file_names_given[0], true};
    const MessagePart second{options.file_names_given[1], true};
    if (lookups)
        fatal_error_of({{"Lookups take one debugging file, but \""},
                        first,
                        {"\" and \""},
                        second,
                        {"\" were given (write a lookup as -lookup=VALUE)"}});
    fatal_error_of({{"The size profile takes one debugging file, but \""},
                    first,
                    {"\" and \""},
                    second,
                    {options.stats_old_file_name != nullptr ? "\" were given"
                                                            : "\" were given (compare two builds with -diff=OLD)"}});
}

}  // namespace

int run_vardex(int argc, char** argv) {
    set_message_form(OutputMode::Json, json::message_form);
    set_default_options();
    parse_switches(argc, argv);
    refuse_several_file_names();
    refuse_output_onto_the_debug_file();
    if (options.stats_old_file_name != nullptr) return report_stats_changes();
    if (options.stats_report) return report_stats_of_file();
    if (options.lookup_count != 0 || options.lookups_from_standard_input) return answer_lookups_of_file();
    const ListingSteps steps = listing_steps(options.mode);
    std::unique_ptr<PythonExport> python;
    if (options.mode == OutputMode::Python) {
        python = std::make_unique<PythonExport>();
        begin_python_export(*python);
        out.flush();  // help and notices show before input is awaited
        read_selection_lines(stdin, python->selection);
    }
    steps.print_opening();
    open_debug_file(options.debug_file_name);
    check_magic_number();
    steps.print_version_line();
    steps.print_preamble();
    run_record_loop(steps.records);
    steps.print_closing();
    out.flush();
    close_debug_file();
    return steps.exit_status;
}
