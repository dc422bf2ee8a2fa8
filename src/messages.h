// The messages of a run that are not records: fatal errors and notices, in
// the form of the run's output mode.
#pragma once

#include <initializer_list>
#include <string_view>

#include "output_writer.h"
#include "reader/field_reader.h"  // ReadFailure

// A part of a fatal error's message: a text, or a path, which is written as
// a one-line text (output_pieces.h: Escaped), so that it cannot forge the
// last line; in Python mode, where it stands inside the docstring, with its
// backslashes and double quotes escaped too.
struct MessagePart {
    std::string_view text;
    bool is_path = false;
};

// How an output mode of its own form (JSON) writes these lines: the fatal
// line (the flush and the end follow), and a notice.
struct MessageForm {
    virtual void fatal_line(std::initializer_list<MessagePart> message) = 0;
    virtual void notice(std::initializer_list<std::string_view> parts) = 0;

  protected:
    ~MessageForm() = default;
};

// How a run writes its messages, made by the driver for the run's mode. A
// read of the debugging file that fails ends the run with the fatal line.
struct Messages final : ReadFailure {
    OutputWriter& out;
    MessageForm* form = nullptr;  // null: plain text lines
    bool python = false;          // paths escaped as in a docstring
    // A run that reads two files names the one its fatal errors are about:
    // "Fatal error in PATH: ..." (in JSON, the message followed by the path).
    const char* named_file = nullptr;

    explicit Messages(OutputWriter& writer) : out(writer) {}
    [[noreturn]] void fail(std::string_view message) const override;
};

// Prints "Fatal error: <message>" on standard output (in JSON mode, a
// fatal_error line), flushes it and ends the process with status 1.
[[noreturn]] void fatal_error(const Messages& messages, std::string_view message);
[[noreturn]] void fatal_error_of(const Messages& messages, std::initializer_list<MessagePart> message);
// The message followed by a space and the quoted path.
[[noreturn]] void fatal_error_with_path(const Messages& messages, std::string_view message, std::string_view path);

// A notice (an unknown switch, the help text): its parts one after another.
void print_notice(const Messages& messages, std::initializer_list<std::string_view> parts);
