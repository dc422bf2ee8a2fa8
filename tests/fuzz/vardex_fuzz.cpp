// libFuzzer target: one whole run of vardex per input, in-process. The first
// bytes choose the switches and the selection lines (fuzz_input.h); the rest
// is the debugging file, read from memory, or two builds: those of -diff=OLD,
// or the versions of a file that the server of -lookup reads again as it is
// written between batches of lookups.
#include <unistd.h>

#include <algorithm>
#include <cctype>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string_view>
#include <vector>

#include "fuzz_input.h"
#include "json_export/json_writer.h"
#include "lookup/lookup.h"
#include "python_export/python_emitter.h"
#include "python_export/source_files.h"
#include "reader/field_reader.h"
#include "run_exit.h"
#include "run_options.h"
#include "vardex.h"

namespace {

// Thrown by end_run, so that a fatal error returns to the harness instead of
// ending the fuzzer's process.
struct RunEnded {
    int status;
};

// The last bytes the run wrote: enough to check how it ended, without keeping
// output that grows with the input.
struct OutputTail {
    char text[4096];
    std::size_t size;
    std::size_t total;
};

OutputTail tail;

// Python mode: after the preamble no line may end inside a string literal, so
// that no name can break out of its quotes into the code the consumer runs.
// A fatal-error line may (its text has an apostrophe), and it is always last.
struct LiteralCheck {
    bool in_body;
    char quote;  // 0 outside a literal
    bool escaped;
    bool line_ended_inside_literal;
    char line[32];
    std::size_t line_length;
};

LiteralCheck literal;

[[noreturn]] void fail(const char* what);

void check_python_byte(char c) {
    if (literal.line_ended_inside_literal) fail("a line of Python ends inside a string literal");
    if (!literal.in_body) {
        if (c != '\n') {
            if (literal.line_length < sizeof literal.line) literal.line[literal.line_length++] = c;
            return;
        }
        literal.in_body = std::string_view(literal.line, literal.line_length) == "d=Zkelm_qivObjDict";
        literal.line_length = 0;
        return;
    }
    if (c == '\n') {
        literal.line_ended_inside_literal = literal.quote != 0;
        literal.quote = 0;
        literal.escaped = false;
    } else if (literal.quote == 0) {
        if (c == '\'' || c == '"') literal.quote = c;
    } else if (literal.escaped) {
        literal.escaped = false;
    } else if (c == '\\') {
        literal.escaped = true;
    } else if (c == literal.quote) {
        literal.quote = 0;
    }
}

// JSON mode: every line one JSON object; strings hold no raw control byte
// and only well-formed UTF-8 (checked by its lead and continuation bytes).
struct JsonCheck {
    bool in_string;
    bool escaped;
    int hex_digits_left;
    int continuation_bytes_left;
    int depth;
    bool line_started;
};

JsonCheck json_check;

void check_json_byte(char c) {
    auto byte = static_cast<unsigned char>(c);
    JsonCheck& check = json_check;
    if (check.in_string) {
        if (check.continuation_bytes_left > 0) {
            if ((byte & 0xC0) != 0x80) fail("a JSON string is not UTF-8");
            --check.continuation_bytes_left;
        } else if (check.hex_digits_left > 0) {
            if (!std::isxdigit(byte)) fail("a \\u escape without four hex digits");
            --check.hex_digits_left;
        } else if (check.escaped) {
            if (std::strchr("\"\\/bfnrtu", c) == nullptr || c == '\0') fail("an unknown escape in a JSON string");
            if (c == 'u') check.hex_digits_left = 4;
            check.escaped = false;
        } else if (c == '"') {
            check.in_string = false;
        } else if (c == '\\') {
            check.escaped = true;
        } else if (byte < 0x20) {
            fail("a control byte in a JSON string");
        } else if (byte >= 0x80) {
            if (byte >= 0xC2 && byte <= 0xDF)
                check.continuation_bytes_left = 1;
            else if (byte >= 0xE0 && byte <= 0xEF)
                check.continuation_bytes_left = 2;
            else if (byte >= 0xF0 && byte <= 0xF4)
                check.continuation_bytes_left = 3;
            else
                fail("a JSON string is not UTF-8");
        }
        return;
    }
    if (c == '\n') {
        if (check.depth != 0 || !check.line_started) fail("a JSON line is not one whole object");
        check.line_started = false;
        return;
    }
    if (!check.line_started) {
        if (c != '{') fail("a JSON line does not begin with an object");
        check.line_started = true;
    } else if (check.depth == 0) {
        fail("text after the object of a JSON line");
    }
    if (c == '"') check.in_string = true;
    if (c == '{' || c == '[') ++check.depth;
    if ((c == '}' || c == ']') && --check.depth < 0) fail("a JSON line closes more than it opens");
}

// What the switches of the run ask for, as the checks need it.
struct RunKind {
    OutputMode mode;
    bool stats_report;
    bool lookups;
    bool picture;
    bool changes;
    bool server;  // lookups from standard input
    bool budgets;
};

RunKind run_kind;

RunKind kind_of_run(int argc, char** argv) {
    RunKind kind{mode_of_switches(argc, argv), false, false, false, false, false, false};
    for (int i = 1; i < argc; ++i) {
        const std::string_view argument = argv[i];
        kind.picture = kind.picture || argument == "-svg" || argument == "-html";
        kind.changes = kind.changes || argument.starts_with("-diff=");
        kind.budgets = kind.budgets || argument.starts_with("-max-growth=") || argument.starts_with("-min-left=");
        kind.stats_report = kind.stats_report || argument == "-stats" || argument.starts_with("-rows=") ||
                            kind.picture || kind.changes || kind.budgets;
        kind.lookups = kind.lookups || argument.starts_with("-lookup");
        kind.server = kind.server || argument == "-lookup";
    }
    return kind;
}

bool answers_lookups() { return run_kind.lookups; }

ssize_t keep_tail(void*, const char* data, std::size_t size) {
    if (run_kind.mode == OutputMode::Python && !answers_lookups() && !run_kind.stats_report)
        for (std::size_t i = 0; i < size; ++i) check_python_byte(data[i]);
    if (run_kind.mode == OutputMode::Json && !run_kind.picture)
        for (std::size_t i = 0; i < size; ++i) check_json_byte(data[i]);
    tail.total += size;
    std::size_t capacity = sizeof tail.text;
    if (size >= capacity) {
        std::memcpy(tail.text, data + size - capacity, capacity);
        tail.size = capacity;
    } else {
        std::size_t kept = tail.size + size <= capacity ? tail.size : capacity - size;
        std::memmove(tail.text, tail.text + tail.size - kept, kept);
        std::memcpy(tail.text + kept, data, size);
        tail.size = kept + size;
    }
    return static_cast<ssize_t>(size);
}

std::FILE* output_sink() {
    static std::FILE* sink = [] {
        std::FILE* stream = fopencookie(nullptr, "w", {nullptr, keep_tail, nullptr, nullptr});
        std::setvbuf(stream, nullptr, _IONBF, 0);
        return stream;
    }();
    return sink;
}

// fmemopen refuses an empty buffer on some C libraries; an empty stream
// reads from a buffer of one byte that it never reaches.
std::FILE* memory_stream(const std::uint8_t* data, std::size_t size) {
    static char empty[1];
    if (size == 0) {
        std::FILE* stream = fmemopen(empty, 1, "r");
        std::fgetc(stream);
        return stream;
    }
    return fmemopen(const_cast<std::uint8_t*>(data), size, "r");
}

[[noreturn]] void fail(const char* what) {
    std::fprintf(stderr, "vardex_fuzz: %s\nlast output:\n%.*s\n", what, static_cast<int>(tail.size), tail.text);
    std::abort();
}

bool ends_with(std::string_view text, std::string_view end) {
    return text.size() >= end.size() && text.substr(text.size() - end.size()) == end;
}

constexpr std::string_view fatal_lines[] = {
    "Fatal error: Debugging info file does not begin with magic number DEBF.\n",
    "Fatal error: Unexpected end of debugging info file\n",
    "Fatal error: I/O failure: can't read from debugging info file\n",
    "Fatal error: I/O failure: can't close debugging info file\n",
};

std::string_view last_line(std::string_view text) {
    std::size_t start = text.size() < 2 ? std::string_view::npos : text.rfind('\n', text.size() - 2);
    return start == std::string_view::npos ? text : text.substr(start + 1);
}

// JSON mode, lookups and the size profile: status 0 after a complete run;
// JSON lines end with the end record, the report or the fatal error.
void check_end_of_json_or_lookups(int status, bool ended_by_fatal_error) {
    std::string_view text(tail.text, tail.size);
    if (ended_by_fatal_error && status != 1) fail("exit status after a fatal error is not 1");
    // A size profile ends with 1 too when a file ends before its End record
    // or a budget cannot be checked, and with 3 when a budget is exceeded.
    const bool status_of_profile = run_kind.stats_report && (status == 1 || (status == 3 && run_kind.budgets));
    if (!ended_by_fatal_error && !answers_lookups() && status != 0 && !status_of_profile)
        fail("exit status of a complete run is not 0");
    // The size profile writes nothing of its report before the whole file is read.
    if (run_kind.stats_report && !answers_lookups() && ended_by_fatal_error &&
        (text.find("Debugging file from") != std::string_view::npos ||
         text.find("{\"kind\":\"stats\"") != std::string_view::npos))
        fail("a fatal error ended the size profile after some of its report");
    // Lookups read from an empty standard input alone write nothing.
    if (tail.total != 0 && !ends_with(text, "\n")) fail("the output does not end with a newline");
    if (run_kind.mode != OutputMode::Json) {
        if (ended_by_fatal_error && last_line(text).rfind("Fatal error", 0) != 0)
            fail("a fatal error did not end the answers with its line");
        return;
    }
    if (json_check.in_string || json_check.depth != 0) fail("the JSON output ends inside a line");
    std::string_view last = last_line(text);
    const bool complete_end =
        answers_lookups() ||
        (run_kind.stats_report
             ? last.rfind(run_kind.changes ? "{\"kind\":\"stats_diff\"," : "{\"kind\":\"stats\",", 0) == 0 ||
                   last.rfind("{\"kind\":\"budget\",", 0) == 0 ||
                   (last.size() == text.size() && tail.total > tail.size)  // began before the tail
             : last == "{\"kind\":\"end\"}\n");
    if (ended_by_fatal_error ? last.rfind("{\"kind\":\"fatal_error\",\"message\":\"", 0) != 0 : !complete_end)
        fail("the JSON output does not end with its end, report or fatal-error line");
}

// A run ends with status 1, and with one fatal-error line, or in Python mode
// with the sources list, or in text mode at the end of a line.
void check_end_of_run(int status, bool ended_by_fatal_error) {
    if (run_kind.picture && !answers_lookups()) {
        std::string_view text(tail.text, tail.size);
        if (ended_by_fatal_error ? text.find("{\"kind\":\"fatal_error\"") == std::string_view::npos &&
                                       last_line(text).rfind("Fatal error", 0) != 0
                                 : !ends_with(text, "</svg>\n") && !ends_with(text, "</html>\n"))
            fail("a picture does not end with its closing tag or a fatal error");
        return;
    }
    if (run_kind.mode == OutputMode::Json || answers_lookups() || run_kind.stats_report)
        return check_end_of_json_or_lookups(status, ended_by_fatal_error);
    if (status != 1) fail("exit status is not 1");
    std::string_view text(tail.text, tail.size);
    if (literal.line_ended_inside_literal && !ended_by_fatal_error)
        fail("the last line of Python ends inside a string literal");
    if (ended_by_fatal_error) {
        for (std::string_view line : fatal_lines)
            if (ends_with(text, line)) return;
        fail("a fatal error did not end the output with its line");
    }
    if (!ends_with(text, "\n")) fail("the output does not end with a newline");
    if (run_kind.mode != OutputMode::Python) return;
    if (!ends_with(text, "]\n")) fail("Python output does not end with the sources list");
    std::size_t line_start = text.rfind('\n', text.size() - 2);
    if (line_start == std::string_view::npos) {
        if (tail.total == tail.size) fail("Python output has a single line");
        return;  // the sources list is longer than the tail
    }
    if (text.substr(line_start + 1).rfind("Zkelm_qivSources=[", 0) != 0)
        fail("last Python line is not the sources list");
}

// The server's file, written between batches of lookups as the other build:
// a file, not memory, since the server reads it again by its path.
struct Rereading {
    int stdin_writer = -1;     // -1 once the input has ended
    std::string_view batches;  // those still to come, each before a separator
    std::string_view builds[2];
    int next_build = 1;
};

Rereading rereading;

struct ServerFile {
    std::string path;
    ServerFile() {
        char name[] = "/tmp/vardex_fuzz_XXXXXX";
        close(mkstemp(name));
        path = name;
    }
    ~ServerFile() { unlink(path.c_str()); }
    void write(std::string_view bytes) const {
        std::FILE* stream = std::fopen(path.c_str(), "wb");
        std::fwrite(bytes.data(), 1, bytes.size(), stream);
        std::fclose(stream);
    }
};

const ServerFile& server_file() {
    static const ServerFile file;
    return file;
}

// Writes the next batch that is not empty to standard input, or ends it:
// a read of the server must find one or the other.
void write_next_batch(Rereading& r) {
    while (!r.batches.empty()) {
        const std::size_t end = std::min(r.batches.find(batch_separator), r.batches.size());
        const std::string_view batch = r.batches.substr(0, end);
        r.batches.remove_prefix(std::min(end + 1, r.batches.size()));
        if (!batch.empty()) {
            if (write(r.stdin_writer, batch.data(), batch.size()) != static_cast<ssize_t>(batch.size())) std::abort();
            if (!r.batches.empty()) return;
        }
    }
    close(r.stdin_writer);
    r.stdin_writer = -1;
}

// Before the server waits for lookups: the file written as the other build,
// then the next batch.
void before_reading_lookups(void*) {
    Rereading& r = rereading;
    if (r.stdin_writer < 0) return;
    server_file().write(r.builds[r.next_build]);
    r.next_build ^= 1;
    write_next_batch(r);
}

}  // namespace

void end_run(int status) { throw RunEnded{status}; }

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    if (size < fuzz_prefix_size) return -1;
    unsigned long mask = 0;
    for (std::size_t i = 0; i < 4; ++i) mask = mask << 8 | data[i];
    std::size_t stdin_size = data[4];
    if (size < fuzz_prefix_size + stdin_size) return -1;
    const std::uint8_t* stdin_text = data + fuzz_prefix_size;
    const std::uint8_t* debug_file = stdin_text + stdin_size;
    std::size_t debug_file_size = size - fuzz_prefix_size - stdin_size;
    const std::string_view file_bytes(reinterpret_cast<const char*>(debug_file), debug_file_size);
    const std::size_t split = file_bytes.find(build_separator);
    const std::string_view first_build = file_bytes.substr(0, split);
    const std::string_view second_build =
        split == std::string_view::npos ? file_bytes : file_bytes.substr(split + build_separator.size());

    static char program_name[] = "vardex";
    static std::vector<std::string> switch_texts(std::begin(fuzz_switches), std::end(fuzz_switches));
    static std::string server_path = server_file().path;
    char* argv[1 + fuzz_switch_count + 2];
    int argc = 0;
    argv[argc++] = program_name;
    for (std::size_t i = 0; i < fuzz_switch_count; ++i)
        if (mask & (1ul << i)) argv[argc++] = switch_texts[i].data();
    argv[argc] = nullptr;
    run_kind = kind_of_run(argc, argv);
    // A server given two builds reads a file written between its batches.
    const bool rereads = run_kind.server && !run_kind.stats_report && split != std::string_view::npos;
    if (rereads) argv[argc++] = server_path.data();
    argv[argc] = nullptr;

    // The checks of this run start afresh.
    tail.size = tail.total = 0;
    literal = LiteralCheck{};
    json_check = JsonCheck{};

    // Standard input is a pipe, which lookups read by its descriptor; it holds
    // at most 255 bytes, less than a pipe takes at once.
    int stdin_pipe[2];
    if (pipe(stdin_pipe) != 0) std::abort();
    const std::string_view input(reinterpret_cast<const char*>(stdin_text), stdin_size);
    rereading = {stdin_pipe[1], input, {first_build, second_build}, 1};
    if (rereads) {
        server_file().write(first_build);
        write_next_batch(rereading);
    } else {
        if (stdin_size != 0 && write(stdin_pipe[1], stdin_text, stdin_size) != static_cast<ssize_t>(stdin_size))
            std::abort();
        close(stdin_pipe[1]);
        rereading.stdin_writer = -1;
    }
    std::FILE* selection_lines = fdopen(stdin_pipe[0], "r");
    RunStreams streams{nullptr, nullptr, output_sink(), before_reading_lookups, nullptr};
    if (run_kind.changes) {
        streams.old_build = memory_stream(debug_file, first_build.size());
        streams.debug_file =
            memory_stream(reinterpret_cast<const std::uint8_t*>(second_build.data()), second_build.size());
    } else if (!rereads) {
        streams.debug_file = memory_stream(debug_file, debug_file_size);
    }
    // The C library lets a program assign its standard streams.
    std::FILE* real_stdin = stdin;
    stdin = selection_lines;

    int status;
    bool ended_by_fatal_error = false;
    try {
        status = run_vardex(argc, argv, streams);
    } catch (const RunEnded& ended) {
        status = ended.status;
        ended_by_fatal_error = true;
    }

    stdin = real_stdin;
    std::fclose(selection_lines);
    if (rereading.stdin_writer >= 0) close(rereading.stdin_writer);
    if (streams.debug_file != nullptr) std::fclose(streams.debug_file);
    if (streams.old_build != nullptr) std::fclose(streams.old_build);
    check_end_of_run(status, ended_by_fatal_error);
    return 0;
}
