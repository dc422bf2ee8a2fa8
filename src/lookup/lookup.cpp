// Lookups: the index is built once, then the lookups of the command line are
// answered in the order given, then those read from standard input, each as
// it comes. With -lookup vardex is a server that may run while the file is
// written again: it follows its file, and rebuilds the index when it changed.
#include "lookup/lookup.h"

#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <string_view>

#include "lookup/answers.h"
#include "messages.h"
#include "output_writer.h"
#include "reader/field_reader.h"
#include "run_options.h"

namespace {

// A lookup holds at most this many bytes; a longer one is one bad lookup,
// cut to them.
constexpr std::size_t longest_lookup = 4096;
constexpr std::size_t stdin_buffer_size = 64 * 1024;

// --- Following the file -------------------------------------------------------

struct Server {
    OutputWriter& out;
    DebugFile& file;
    LookupFailure& failure;
    lookup::LookupIndex& index;
    const lookup::AnswerWriter& writer;
    bool json;
    const char* path;
    // The file the index was built from, when it is a file.
    bool has_identity = false;
    FileIdentity indexed{};
    // The file could not be read again, for `reason`; it is tried again
    // when the path names another version of it.
    bool unreadable = false;
    std::string_view reason{};
    FileIdentity tried{};
};

void note_indexed_file(Server& server) {
    server.has_identity = server.file.identity(server.indexed);
    server.unreadable = false;
}

bool file_changed(const Server& server) {
    FileIdentity open{}, named{};
    if (!server.file.identity(open) || !identity_of_path(server.path, named)) return true;
    return !(open == server.indexed) || named.device != open.device || named.inode != open.inode;
}

void read_file_again(Server& server) {
    server.unreadable = true;
    if (!identity_of_path(server.path, server.tried)) server.tried = {};
    try {
        if (!server.file.open(server.path)) {
            server.reason = std::strerror(errno);
            return;
        }
        server.file.check_magic_number();
        lookup::build_index(server.file, server.index);
        note_indexed_file(server);
    } catch (const InputFailed& failed) {
        server.reason = failed.message;
    }
}

// Before the lines that have arrived are answered: a file written again, or
// another file renamed over its name, is read again.
void follow_file(Server& server) {
    if (server.unreadable) {
        FileIdentity named{};
        if (identity_of_path(server.path, named) && !(named == server.tried)) read_file_again(server);
    } else if (server.has_identity && file_changed(server)) {
        read_file_again(server);
    }
}

// --- Answering ------------------------------------------------------------------

bool is_blank(char c) { return c == ' ' || c == '\t'; }

// One reading of a lookup, from the command line or a line of standard
// input: a carriage return at its end is dropped; longer than longest_lookup
// it is one bad lookup, cut to them; spaces and tabs around it are ignored.
// An answer that read a record the index does not hold there, or the end of
// the file, is taken back and given again from the file read again.
bool answer_text(Server& server, std::string_view text) {
    if (text.ends_with('\r')) text.remove_suffix(1);
    if (text.size() > longest_lookup)
        return lookup::answer_bad(text.substr(0, longest_lookup), server.writer, server.out);
    while (!text.empty() && is_blank(text.front())) text.remove_prefix(1);
    while (!text.empty() && is_blank(text.back())) text.remove_suffix(1);
    for (int attempt = 0; attempt < 3 && !server.unreadable; ++attempt) {
        OutputWriter& out = server.out;
        const std::size_t mark = out.used;
        const std::uint64_t written_before = out.written;
        try {
            return lookup::answer(server.file, server.index, text, server.writer, out);
        } catch (const lookup::IndexStale&) {
        } catch (const InputFailed&) {
        }
        // Taken back, unless part of it has gone out.
        if (out.written == written_before) out.used = mark;
        read_file_again(server);
    }
    if (!server.unreadable) {
        server.unreadable = true;
        server.reason = "it changes while it is read";
    }
    server.writer.unreadable(server.out, text, server.path, server.reason);
    return false;
}

// One line of standard input, without its newline; in text mode an empty
// line follows its answer, so that a reader knows the answer is complete.
bool answer_line(Server& server, const char* line, std::size_t length) {
    const bool found = answer_text(server, {line, length});
    if (!server.json) server.out.put('\n');
    return found;
}

// Reads lookups from standard input up to its end. Every answer is written
// out before the next read, which may wait for input; lines that came
// together are answered together, in one write.
bool answer_lookups_from_standard_input(Server& server) {
    const int input = fileno(stdin);
    char stdin_buffer[stdin_buffer_size];
    bool all_found = true;
    std::size_t begin = 0, end = 0;
    bool dropping_rest_of_line = false;
    for (;;) {
        while (const void* newline = std::memchr(stdin_buffer + begin, '\n', end - begin)) {
            auto length = static_cast<std::size_t>(static_cast<const char*>(newline) - (stdin_buffer + begin));
            if (!dropping_rest_of_line) all_found = answer_line(server, stdin_buffer + begin, length) && all_found;
            dropping_rest_of_line = false;
            begin += length + 1;
        }
        // Longer than a lookup with a carriage return: answered now, and the
        // rest of its line dropped as it comes.
        if (!dropping_rest_of_line && end - begin > longest_lookup + 1) {
            all_found = answer_line(server, stdin_buffer + begin, end - begin) && all_found;
            dropping_rest_of_line = true;
        }
        if (dropping_rest_of_line) begin = end;
        std::memmove(stdin_buffer, stdin_buffer + begin, end - begin);
        end -= begin;
        begin = 0;
        server.out.flush();
        ssize_t count = read(input, stdin_buffer + end, stdin_buffer_size - end);
        if (count > 0) {
            end += static_cast<std::size_t>(count);
            follow_file(server);
            continue;
        }
        if (count < 0 && errno == EINTR) continue;
        if (count < 0 && errno != EBADF)
            fatal_error(server.failure.messages, "I/O failure: can't read lookups from standard input");
        break;
    }
    if (end != 0 && !dropping_rest_of_line) all_found = answer_line(server, stdin_buffer, end) && all_found;
    return all_found;
}

}  // namespace

void LookupFailure::fail(std::string_view message) const {
    if (recoverable) throw InputFailed{message};
    messages.fail(message);
}

int answer_lookups(DebugFile& file, LookupFailure& failure, lookup::LookupIndex& index, const RunOptions& options) {
    if (!file.is_seekable()) file.fail("Lookups need a debugging file that can be read twice, not a pipe");
    lookup::build_index(file, index);
    const bool json = options.mode == OutputMode::Json;
    Server server{
        failure.messages.out,   file, failure, index, json ? lookup::json_answers : lookup::text_answers, json,
        options.debug_file_name};
    note_indexed_file(server);
    bool all_found = true;
    for (int i = 0; i < options.lookup_count; ++i) all_found = answer_text(server, options.lookups[i]) && all_found;
    if (options.lookups_from_standard_input) {
        // The server's own reading of the file may fail without ending it.
        failure.recoverable = true;
        all_found = answer_lookups_from_standard_input(server) && all_found;
    }
    return all_found ? 0 : 1;
}
