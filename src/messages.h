// The messages of a run that are not records: fatal errors and notices, in
// the form of the run's output mode.
#pragma once

#include <initializer_list>
#include <string_view>

// Prints "Fatal error: <message>" on standard output (in JSON mode, a
// fatal_error line), flushes it and ends the process with status 1.
[[noreturn]] void fatal_error(std::string_view message);
// Same, with the message followed by a space and the quoted path.
[[noreturn]] void fatal_error_with_path(std::string_view message, std::string_view path);

// Names `path` in the fatal errors after it, for a run that reads two files:
// "Fatal error in PATH: ..." (in JSON, the message followed by the quoted
// path); null names none.
void name_file_in_fatal_errors(const char* path);

enum class OutputMode;
// Writes a path as it stands between the quotes of a fatal-error line: every
// byte 0x00..0x1F and 0x7F as \xNN, so that the message stays one line (a
// path cannot forge the last line); in Python mode, where it stands inside
// the docstring, a backslash before \ and " too, so that the docstring
// cannot be closed by it. Other bytes pass unchanged.
void put_escaped_path(std::string_view path, OutputMode mode);

// A notice (an unknown switch, the help text): its parts one after another.
void print_notice(std::initializer_list<std::string_view> parts);
