// The messages of a run that are not records: fatal errors and notices, in
// the form of the run's output mode.
#pragma once

#include <initializer_list>
#include <string_view>

// A part of a fatal error's message: a text, or a path, which is written as
// a one-line text (output_pieces.h: Escaped), so that it cannot forge the
// last line; in Python mode, where it stands inside the docstring, with its
// backslashes and double quotes escaped too.
struct MessagePart {
    std::string_view text;
    bool is_path = false;
};

// Prints "Fatal error: <message>" on standard output (in JSON mode, a
// fatal_error line), flushes it and ends the process with status 1.
[[noreturn]] void fatal_error(std::string_view message);
// Same, with a message of parts.
[[noreturn]] void fatal_error_of(std::initializer_list<MessagePart> message);
// Same, with the message followed by a space and the quoted path.
[[noreturn]] void fatal_error_with_path(std::string_view message, std::string_view path);

// Names `path` in the fatal errors after it, for a run that reads two files:
// "Fatal error in PATH: ..." (in JSON, the message followed by the quoted
// path); null names none.
void name_file_in_fatal_errors(const char* path);

// A notice (an unknown switch, the help text): its parts one after another.
void print_notice(std::initializer_list<std::string_view> parts);

// How an output mode of its own form (JSON) writes these lines: the fatal
// line (the flush and the end follow), and a notice.
struct MessageForm {
    void (*fatal_line)(std::initializer_list<MessagePart> message);
    void (*notice)(std::initializer_list<std::string_view> parts);
};

enum class OutputMode;
// Set by the driver before the switches are read, for each such mode; the
// other modes write plain text lines.
void set_message_form(OutputMode mode, const MessageForm& form);
