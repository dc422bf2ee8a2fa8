// The driver: one run of vardex, step by step, in the order of its output.
#include "vardex.h"

#include <sys/stat.h>
#include <unistd.h>

#include <cstdint>
#include <cstdio>

#include "json_export/json_printers.h"
#include "json_export/json_writer.h"
#include "lookup/lookup.h"
#include "output_writer.h"
#include "python_export/python_emitter.h"
#include "python_export/source_files.h"
#include "reader/field_reader.h"
#include "run_exit.h"
#include "run_options.h"
#include "stats/stats.h"
#include "text_listing/text_printers.h"

namespace {

void print_version_line() {
    int major = read_byte();
    int minor = read_byte();
    unsigned revision = read_word();
    out.put("Debugging file from Ostrel ");
    out.put_decimal(major);
    out.put('.');
    out.put_decimal(minor);
    out.put(" (v ");
    out.put_decimal(revision);
    out.put(")\n");
}

void report_unknown_type(int type) {
    out.put("Unknown type ");
    out.put_decimal(type);
    out.put('\n');
}

void nothing() {}

void open_python_text() {
    out.flush();  // help and notices show before input is awaited
    read_selection_lines(stdin);
    print_docstring_opening();
}

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
            return {open_python_text,      print_version_line,
                    print_python_preamble, {python_handlers, nullptr, report_unknown_type},
                    print_sources_list,    1};
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

}  // namespace

int run_vardex(int argc, char** argv) {
    set_default_options();
    parse_switches(argc, argv);
    refuse_output_onto_the_debug_file();
    if (options.stats_report) return report_stats_of_file();
    if (options.lookup_count != 0 || options.lookups_from_standard_input) return answer_lookups_of_file();
    const ListingSteps steps = listing_steps(options.mode);
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
