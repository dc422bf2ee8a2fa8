// The driver: one run of vardex, step by step, in the order of its output.
// It makes every value a run works on (the options, the messages, the open
// debugging file, the state of the output mode) and hands them down.
#include "vardex.h"

#include <sys/stat.h>
#include <unistd.h>

#include <cstdint>
#include <cstdio>
#include <memory>
#include <optional>

#include "json_export/json_printers.h"
#include "json_export/json_writer.h"
#include "lookup/lookup.h"
#include "output_pieces.h"
#include "python_export/python_emitter.h"
#include "python_export/source_files.h"
#include "reader/field_reader.h"
#include "reader/record_loop.h"
#include "run_exit.h"
#include "run_options.h"
#include "stats/size_profile.h"
#include "stats/stats.h"
#include "text_listing/text_printers.h"

namespace {

void print_version_line(DebugFile& in, OutputWriter& out) {
    const std::uint8_t major = in.byte();
    const std::uint8_t minor = in.byte();
    StreamOutput{out}.put(VersionLine{major, minor, in.word()});
}

template <typename Mode>
void report_unknown_type(DebugFile&, Mode& mode, int type) {
    StreamOutput{mode.out}.put("Unknown type ", Number{static_cast<std::uint8_t>(type)}, '\n');
}

// What a run reads and writes: its options and messages, and the streams
// that stand in for the files it names, if any (borrowed: left open).
struct Run {
    OutputWriter& out;
    const RunOptions& options;
    const Messages& messages;
    const RunStreams& streams;
};

ReportForm report_form(const RunOptions& options) {
    if (options.stats_picture) return ReportForm::Picture;
    if (options.stats_page) return ReportForm::Page;
    return options.mode == OutputMode::Json ? ReportForm::Json : ReportForm::Text;
}

ReportControls report_controls(const RunOptions& options) {
    return {options.stats_rows, options.max_growth, options.min_left};
}

bool lookups_given(const RunOptions& options) {
    return options.lookup_count != 0 || options.lookups_from_standard_input;
}

// Opens the debugging file `path` (or the stream that stands in for it) and
// reads its magic number.
void open_debug_file(DebugFile& file, const Messages& messages, const char* path, std::FILE* stream) {
    if (stream != nullptr)
        file.attach(stream, false);
    else if (!file.open(path))
        fatal_error_with_path(messages, "Couldn't open debugging info file", path);
    file.check_magic_number();
}

// Output appended to its own input would be read back as records, each
// listed at more than its size, and grow without end. As cat does, such a
// run is refused before anything is written or read.
void refuse_output_onto_the_debug_file(const RunOptions& options) {
    struct stat input_status {};
    struct stat output_status {};
    if (fstat(STDOUT_FILENO, &output_status) != 0 || !S_ISREG(output_status.st_mode)) return;
    if (stat(options.debug_file_name, &input_status) != 0) return;
    if (input_status.st_dev != output_status.st_dev || input_status.st_ino != output_status.st_ino) return;
    std::fputs("vardex: standard output is the debugging file itself\n", stderr);
    end_run(2);
}

// Lookups instead of a listing: the answers, and nothing else.
int answer_lookups_of_file(const Run& run) {
    LookupFailure failure(run.messages);
    DebugFile file(failure);
    open_debug_file(file, run.messages, run.options.debug_file_name, run.streams.debug_file);
    lookup::LookupIndex index;
    const int status = answer_lookups(file, failure, index, run.options, run.streams);
    run.out.flush();
    file.close();
    return status;
}

// The size profile instead of a listing, then the answers to any lookups.
int report_stats_of_file(const Run& run) {
    LookupFailure failure(run.messages);
    DebugFile file(failure);
    open_debug_file(file, run.messages, run.options.debug_file_name, run.streams.debug_file);
    const std::uint64_t version_offset = file.offset();
    lookup::LookupIndex index;
    // Lookups that cannot be answered (from a pipe) fail before the report.
    if (lookups_given(run.options) && !file.is_seekable())
        return answer_lookups(file, failure, index, run.options, run.streams);
    int status = print_stats_report(run.out, file, report_form(run.options), report_controls(run.options),
                                    run.options.debug_file_name);
    if (lookups_given(run.options)) {
        file.seek(version_offset);
        status = answer_lookups(file, failure, index, run.options, run.streams) == 0 ? status : 1;
    }
    run.out.flush();
    file.close();
    return status;
}

// One pipe named as both builds would be read to its end as the old one,
// leaving nothing for the new one (and a named pipe opened again would wait
// for a writer that never comes).
void refuse_one_pipe_as_both_builds(const Run& run) {
    struct stat old_status {};
    struct stat new_status {};
    const RunOptions& options = run.options;
    if (stat(options.stats_old_file_name, &old_status) != 0 || stat(options.debug_file_name, &new_status) != 0) return;
    if (!S_ISFIFO(old_status.st_mode) && !S_ISSOCK(old_status.st_mode)) return;
    if (old_status.st_dev == new_status.st_dev && old_status.st_ino == new_status.st_ino)
        fatal_error_with_path(run.messages, "Couldn't read both builds from one pipe", options.debug_file_name);
}

// The changes since an old build: both builds are read whole, OLD first,
// each with its fatal errors naming it, and held open for the names the
// report reads again; then the answers to any lookups, from NEW.
int report_stats_changes(const Run& run) {
    refuse_one_pipe_as_both_builds(run);
    Messages old_messages = run.messages;
    Messages new_messages = run.messages;
    old_messages.named_file = run.options.stats_old_file_name;
    new_messages.named_file = run.options.debug_file_name;
    int status;
    {
        DebugFile old_file(old_messages);
        DebugFile new_file(new_messages);
        open_debug_file(old_file, old_messages, run.options.stats_old_file_name, run.streams.old_build);
        const SizeProfileHandle old_profile = read_size_profile(old_file, true);
        open_debug_file(new_file, new_messages, run.options.debug_file_name, run.streams.debug_file);
        const SizeProfileHandle new_profile = read_size_profile(new_file, true);
        status = print_stats_changes(run.out, report_form(run.options), report_controls(run.options), *old_profile,
                                     *new_profile, run.options.stats_old_file_name, run.options.debug_file_name);
    }
    if (lookups_given(run.options)) {
        LookupFailure failure(run.messages);
        DebugFile file(failure);
        open_debug_file(file, run.messages, run.options.debug_file_name, nullptr);
        lookup::LookupIndex index;
        status = answer_lookups(file, failure, index, run.options, run.streams) == 0 ? status : 1;
        file.close();
    }
    run.out.flush();
    return status;
}

// A lookup typed with a space (-lookup 0x6bc0 game.dbg), or two builds given
// to one report, would otherwise lose a file name silently, as the last one
// counts; the listing modes keep that rule, which callers rely on.
void refuse_several_file_names(const Run& run) {
    const RunOptions& options = run.options;
    const bool lookups = lookups_given(options);
    if (options.file_name_count < 2 || !(lookups || options.stats_report)) return;
    const MessagePart first{options.file_names_given[0], true};
    const MessagePart second{options.file_names_given[1], true};
    if (lookups)
        fatal_error_of(run.messages, {{"Lookups take one debugging file, but \""},
                                      first,
                                      {"\" and \""},
                                      second,
                                      {"\" were given (write a lookup as -lookup=VALUE)"}});
    fatal_error_of(run.messages,
                   {{"The size profile takes one debugging file, but \""},
                    first,
                    {"\" and \""},
                    second,
                    {options.stats_old_file_name != nullptr ? "\" were given"
                                                            : "\" were given (compare two builds with -diff=OLD)"}});
}

// The listing of one mode: its opening, the version line, its preamble, the
// records, its closing. Text mode and Python mode end with status 1, as
// they always have; JSON mode with 0 after a complete listing.
int list_in_text(const Run& run, DebugFile& file) {
    print_banner(run.out);
    open_debug_file(file, run.messages, run.options.debug_file_name, run.streams.debug_file);
    print_version_line(file, run.out);
    TextListing listing{run.out};
    list_in_text(file, listing, run.options.section_flags, report_unknown_type<TextListing>);
    return 1;
}

int list_in_python(const Run& run, DebugFile& file) {
    PythonExport python{run.out};
    run.out.flush();  // help and notices show before input is awaited
    read_selection_lines(stdin, python.selection);
    print_docstring_opening(run.out);
    open_debug_file(file, run.messages, run.options.debug_file_name, run.streams.debug_file);
    print_version_line(file, run.out);
    print_python_preamble(run.out);
    export_records(file, python, report_unknown_type<PythonExport>);
    print_sources_list(python);
    return 1;
}

int list_in_json(const Run& run, DebugFile& file, json::JsonOutput& json) {
    open_debug_file(file, run.messages, run.options.debug_file_name, run.streams.debug_file);
    print_json_version_line(file, run.out);
    JsonListing listing{run.out, json};
    list_in_json(file, listing, run.options.section_flags);
    print_json_end(run.out);
    return 0;
}

int run_with(const Run& run, json::JsonOutput* json) {
    refuse_several_file_names(run);
    // The picture is SVG and the page HTML whatever the mode; taking -json
    // silently would hand a JSON reader a picture.
    if (run.options.stats_picture && json != nullptr)
        fatal_error(run.messages, "-svg writes an SVG picture, not JSON: give -svg or -json, not both");
    if (run.options.stats_page && json != nullptr)
        fatal_error(run.messages, "-html writes an HTML page, not JSON: give -html or -json, not both");
    if (run.options.stats_page && run.options.stats_picture)
        fatal_error(run.messages, "-html writes an HTML page, not an SVG picture: give -html or -svg, not both");
    // Growth needs an old build to grow from; without one the budget would go unchecked.
    if (run.options.max_growth >= 0 && run.options.stats_old_file_name == nullptr)
        fatal_error(run.messages, "-max-growth=BYTES needs the old build to compare with: give -diff=OLD too");
    refuse_output_onto_the_debug_file(run.options);
    if (run.options.stats_old_file_name != nullptr) return report_stats_changes(run);
    if (run.options.stats_report) return report_stats_of_file(run);
    if (lookups_given(run.options)) return answer_lookups_of_file(run);
    DebugFile file(run.messages);
    int status;
    if (run.options.mode == OutputMode::Python)
        status = list_in_python(run, file);
    else if (json != nullptr)
        status = list_in_json(run, file, *json);
    else
        status = list_in_text(run, file);
    run.out.flush();
    file.close();
    return status;
}

}  // namespace

int run_vardex(int argc, char** argv, const RunStreams& streams) {
    const std::unique_ptr<OutputWriter> out(new OutputWriter);  // its buffer left uninitialized
    out->sink = streams.output;
    const OutputMode mode = mode_of_switches(argc, argv);
    std::optional<json::JsonOutput> json;
    Messages messages(*out);
    if (mode == OutputMode::Json) messages.form = &json.emplace(*out);
    messages.python = mode == OutputMode::Python;
    RunOptions options = default_options();
    parse_switches(argc, argv, options, messages);
    return run_with({*out, options, messages, streams}, json ? &*json : nullptr);
}
