// Lookups: the index is built once, then the lookups of the command line are
// answered in the order given, then those read from standard input, each as
// it comes.
#include "lookup/lookup.h"

#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <string_view>

#include "lookup/answers.h"
#include "output_writer.h"
#include "reader/field_reader.h"
#include "run_options.h"

namespace {

constexpr std::string_view lookup_prefix = "-lookup=";

// A lookup line holds at most this many bytes; a longer one is one bad
// lookup, cut to them.
constexpr std::size_t longest_lookup = 4096;
constexpr std::size_t stdin_buffer_size = 64 * 1024;
char stdin_buffer[stdin_buffer_size];

const lookup::AnswerWriter& answer_writer() {
    return options.mode == OutputMode::Json ? lookup::json_answers : lookup::text_answers;
}

bool is_blank(char c) { return c == ' ' || c == '\t'; }

// One reading of a lookup, from the command line or a line of standard
// input: a carriage return at its end is dropped; longer than longest_lookup
// it is one bad lookup, cut to them; spaces and tabs around it are ignored.
bool answer_text(lookup::LookupIndex& index, std::string_view text) {
    if (text.ends_with('\r')) text.remove_suffix(1);
    if (text.size() > longest_lookup) return lookup::answer_bad(text.substr(0, longest_lookup), answer_writer());
    while (!text.empty() && is_blank(text.front())) text.remove_prefix(1);
    while (!text.empty() && is_blank(text.back())) text.remove_suffix(1);
    return lookup::answer(index, text, answer_writer());
}

// One line of standard input, without its newline; in text mode an empty
// line follows its answer, so that a reader knows the answer is complete.
bool answer_line(lookup::LookupIndex& index, const char* line, std::size_t length) {
    const bool found = answer_text(index, {line, length});
    if (options.mode != OutputMode::Json) out.put('\n');
    return found;
}

// Reads lookups from standard input up to its end. Every answer is written
// out before the next read, which may wait for input; lines that came
// together are answered together, in one write.
bool answer_lookups_from_standard_input(lookup::LookupIndex& index) {
    const int input = fileno(stdin);
    bool all_found = true;
    std::size_t begin = 0, end = 0;
    bool dropping_rest_of_line = false;
    for (;;) {
        while (const void* newline = std::memchr(stdin_buffer + begin, '\n', end - begin)) {
            auto length = static_cast<std::size_t>(static_cast<const char*>(newline) - (stdin_buffer + begin));
            if (!dropping_rest_of_line) all_found = answer_line(index, stdin_buffer + begin, length) && all_found;
            dropping_rest_of_line = false;
            begin += length + 1;
        }
        // Longer than a lookup with a carriage return: answered now, and the
        // rest of its line dropped as it comes.
        if (!dropping_rest_of_line && end - begin > longest_lookup + 1) {
            all_found = answer_line(index, stdin_buffer + begin, end - begin) && all_found;
            dropping_rest_of_line = true;
        }
        if (dropping_rest_of_line) begin = end;
        std::memmove(stdin_buffer, stdin_buffer + begin, end - begin);
        end -= begin;
        begin = 0;
        out.flush();
        ssize_t count = read(input, stdin_buffer + end, stdin_buffer_size - end);
        if (count > 0) {
            end += static_cast<std::size_t>(count);
            continue;
        }
        if (count < 0 && errno == EINTR) continue;
        if (count < 0 && errno != EBADF) fatal_error("I/O failure: can't read lookups from standard input");
        break;
    }
    if (end != 0 && !dropping_rest_of_line) all_found = answer_line(index, stdin_buffer, end) && all_found;
    return all_found;
}

}  // namespace

int answer_lookups(lookup::LookupIndex& index) {
    if (!input_is_seekable()) fatal_error("Lookups need a debugging file that can be read twice, not a pipe");
    lookup::build_index(index);
    bool all_found = true;
    for (int i = 1; i < options.argument_count; ++i) {
        std::string_view argument = options.arguments[i];
        if (argument.starts_with(lookup_prefix))
            all_found = answer_text(index, argument.substr(lookup_prefix.size())) && all_found;
    }
    if (options.lookups_from_standard_input) all_found = answer_lookups_from_standard_input(index) && all_found;
    return all_found ? 0 : 1;
}
