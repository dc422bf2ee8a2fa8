// Lookups: the index is built once, then the lookups of the command line are
// answered in the order given, then those read from standard input, each as
// it comes. With -lookup vardex is a server that may run while the file is
// written again: it follows its file, and rebuilds the index when it changed.
#include "lookup/lookup.h"

#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <ctime>
#include <string_view>

#include "lookup/answers.h"
#include "messages.h"
#include "output_writer.h"
#include "reader/field_reader.h"
#include "run_options.h"
#include "vardex.h"

namespace {

// A lookup holds at most this many bytes; a longer one is one bad lookup,
// cut to them.
constexpr std::size_t longest_lookup = 4096;
constexpr std::size_t stdin_buffer_size = 64 * 1024;

// --- Following the file -------------------------------------------------------

// Readings of a file that keeps changing under them before it is given up
// until its path names another version of it.
constexpr int readings_tried = 4;

struct Server {
    OutputWriter& out;
    DebugFile& file;
    LookupFailure& failure;
    lookup::LookupIndex& index;
    const lookup::AnswerWriter& writer;
    const RunOptions& options;
    const RunStreams& streams;
    const char* path;
    lookup::AnswerHold hold;
    // The version of the file the index was built from, when it is a file.
    // Racy when it changed within the clock tick its reading began in: a
    // change during the reading may have left it the same, so it is read
    // again before the next batch.
    bool has_identity = false;
    bool racy = false;
    FileIdentity indexed{};
    // The file could not be read again, for `reason`; it is tried again
    // when the path names another version of it.
    bool unreadable = false;
    std::string_view reason{};
    FileIdentity tried{};
    // -story=FILE: its version and first bytes, and whether the index's
    // Header record is a copy of them (lookups are refused while it is not).
    FileIdentity story{};
    std::string_view story_unreadable{};
    bool story_differs = false;
    bool story_unchecked = false;
};

bool changed_since(const FileIdentity& identity, const timespec& time) {
    return identity.changed_seconds > time.tv_sec ||
           (identity.changed_seconds == time.tv_sec && identity.changed_nanoseconds >= time.tv_nsec);
}

// Reads the story file's first bytes again and checks the index's Header
// record against them. A file of the 32-bit target has no Header record:
// it is said once that it cannot be checked.
void check_story(Server& server) {
    const char* story_path = server.options.story_file_name;
    if (story_path == nullptr) return;
    if (!identity_of_path(story_path, server.story)) server.story = {};
    std::uint8_t first_bytes[game_header_size];
    std::FILE* story = std::fopen(story_path, "rb");
    server.story_unreadable = story == nullptr ? std::strerror(errno) : "";
    const std::size_t size = story == nullptr ? 0 : std::fread(first_bytes, 1, sizeof first_bytes, story);
    if (story != nullptr) std::fclose(story);
    const GameModel& game = *server.index.model;
    server.story_differs = story != nullptr && game.has_game_header &&
                           (size != sizeof first_bytes || std::memcmp(first_bytes, game.game_header, size) != 0);
    const bool was_unchecked = server.story_unchecked;
    server.story_unchecked = story != nullptr && !game.has_game_header;
    if (server.story_unchecked && !was_unchecked)
        print_notice(server.failure.messages, {"Debugging file \"", server.path,
                                               "\" has no Header record: it cannot be checked against story file \"",
                                               story_path, server.options.mode == OutputMode::Json ? "\"" : "\"\n"});
}

// Reads the open file into the index, then checks it against the story
// file; false when the file changed during the reading.
bool index_file(Server& server) {
    timespec started{};
    clock_gettime(CLOCK_REALTIME_COARSE, &started);
    FileIdentity before{}, after{};
    const bool is_file = server.file.identity(before);
    if (server.file.offset() == 0) server.file.check_magic_number();  // unless the run read it
    lookup::build_index(server.file, server.index);
    if (is_file && (!server.file.identity(after) || !(after == before))) return false;
    check_story(server);
    server.has_identity = is_file;
    server.indexed = before;
    server.racy = is_file && changed_since(before, started);
    server.unreadable = false;
    return true;
}

// Reads the file its path names now, afresh: nothing buffered from the
// version before is read again.
void read_file_again(Server& server) {
    server.unreadable = true;
    server.reason = "it changes while it is read";
    for (int reading = 0; reading < readings_tried; ++reading) {
        if (!identity_of_path(server.path, server.tried)) server.tried = {};
        try {
            if (!server.file.open(server.path)) {
                server.reason = std::strerror(errno);
                return;
            }
            if (index_file(server)) return;
        } catch (const InputFailed& failed) {
            server.reason = failed.message;
            // Cut short by a change: read again; otherwise the file is as read.
            FileIdentity now{};
            if (!identity_of_path(server.path, now) || now == server.tried) return;
        }
    }
}

// Before the lines that have arrived are answered: a file written again, or
// another file renamed over its name, is read again, and a story file
// written again is checked again.
void follow_file(Server& server) {
    FileIdentity named{};
    const bool is_named = identity_of_path(server.path, named);
    if (server.unreadable ? is_named && !(named == server.tried)
                          : server.has_identity && (server.racy || !is_named || !(named == server.indexed)))
        read_file_again(server);
    FileIdentity story{};
    if (server.options.story_file_name == nullptr || server.unreadable) return;
    if (!identity_of_path(server.options.story_file_name, story)) story = {};
    if (!(story == server.story)) check_story(server);
}

// --- Answering ------------------------------------------------------------------

bool is_blank(char c) { return c == ' ' || c == '\t'; }

// The answer to a lookup that is not answered, for the reason the server
// has; false when it has none.
bool refuse(Server& server, std::string_view text) {
    const char* story = server.options.story_file_name;
    if (server.unreadable)
        server.writer.refused(server.out, text, false,
                              {server.path, ": debugging file changed and could not be read again: ", server.reason});
    else if (!server.story_unreadable.empty())
        server.writer.refused(server.out, text, false,
                              {server.path, ": story file ", story, " could not be read: ", server.story_unreadable});
    else if (server.story_differs)
        server.writer.refused(server.out, text, false,
                              {server.path, ": not of the build of story file ", story,
                               ": its Header record is not the story file's first 64 bytes"});
    else
        return false;
    return true;
}

// One reading of a lookup, from the command line or a line of standard
// input: a carriage return at its end is dropped; longer than longest_lookup
// it is one bad lookup, cut to them; spaces and tabs around it are ignored.
// An answer that read a record the index does not hold there, or the end of
// the file, is taken back and given again from the file read again; one
// longer than the output buffer, part of which went out, ends with a line
// that says so instead.
bool answer_text(Server& server, std::string_view text) {
    if (text.ends_with('\r')) text.remove_suffix(1);
    if (text.size() > longest_lookup)
        return lookup::answer_bad(text.substr(0, longest_lookup), server.writer, server.out);
    while (!text.empty() && is_blank(text.front())) text.remove_prefix(1);
    while (!text.empty() && is_blank(text.back())) text.remove_suffix(1);
    lookup::AnswerHold& hold = server.hold;
    for (int attempt = 0; attempt < 3; ++attempt) {
        if (refuse(server, text)) return false;
        hold.begin();
        try {
            const bool found = lookup::answer(server.file, server.index, text, server.writer, hold);
            hold.open = false;
            return found;
        } catch (const lookup::IndexStale&) {
        } catch (const InputFailed&) {
        }
        hold.open = false;
        const bool partly_out = hold.partly_out();
        server.out.used = static_cast<std::size_t>((partly_out ? hold.rows_end : hold.start) - server.out.written);
        if (partly_out)
            server.writer.refused(server.out, text, true,
                                  {server.path, ": debugging file changed during the answer; ask again"});
        read_file_again(server);
        if (partly_out) return false;
    }
    server.unreadable = true;
    server.reason = "it changes while it is read";
    return !refuse(server, text);
}

// One line of standard input, without its newline; in text mode an empty
// line follows its answer, so that a reader knows the answer is complete.
bool answer_line(Server& server, const char* line, std::size_t length) {
    const bool found = answer_text(server, {line, length});
    if (server.options.mode != OutputMode::Json) server.out.put('\n');
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
        if (server.streams.before_reading_lookups != nullptr)
            server.streams.before_reading_lookups(server.streams.harness);
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

int answer_lookups(DebugFile& file, LookupFailure& failure, lookup::LookupIndex& index, const RunOptions& options,
                   const RunStreams& streams) {
    if (!file.is_seekable()) file.fail("Lookups need a debugging file that can be read twice, not a pipe");
    const bool json = options.mode == OutputMode::Json;
    Server server{failure.messages.out,
                  file,
                  failure,
                  index,
                  lookup::answer_writer(json),
                  options,
                  streams,
                  options.debug_file_name,
                  lookup::AnswerHold(failure.messages.out)};
    if (!index_file(server)) read_file_again(server);
    const char* story = options.story_file_name;
    if (!server.story_unreadable.empty()) fatal_error_with_path(failure.messages, "Couldn't open story file", story);
    if (server.story_differs)
        fatal_error_of(failure.messages, {{"Debugging file \""},
                                          {options.debug_file_name, true},
                                          {"\" is not of the build of story file \""},
                                          {story, true},
                                          {"\": its Header record is not the story file's first 64 bytes"}});
    bool all_found = true;
    for (int i = 0; i < options.lookup_count; ++i) all_found = answer_text(server, options.lookups[i]) && all_found;
    if (options.lookups_from_standard_input) {
        // The server's own reading of the file may fail without ending it.
        failure.recoverable = true;
        all_found = answer_lookups_from_standard_input(server) && all_found;
    }
    return all_found ? 0 : 1;
}
