// The debugging file as a whole, beside the field reader that reads it:
// its magic number, what tells one version of it from another, and opening
// it again, for a lookup server that follows its file while it is written
// again.
#pragma once

#include <cstdint>
#include <string_view>

// A reading that may fail without ending the run (a lookup server reading
// its file again) sets a handler: a file that cannot be read, ends inside a
// record or lacks the magic number then calls it, with the message of the
// fatal error it would end the run with. It must not return.
using InputFailureHandler = void (*)(std::string_view message);
extern InputFailureHandler input_failure_handler;
[[noreturn]] void input_failure(std::string_view message);

// Reads the magic number, which a debugging file begins with.
void check_magic_number();
// Opens `path` in place of the open file; false when it cannot be opened.
bool reopen_debug_file(const char* path);

// What tells one version of a file from another: a file renamed over it, or
// the same file written again.
struct FileIdentity {
    std::uint64_t device, inode, size;
    std::int64_t modified_seconds, modified_nanoseconds;
    bool operator==(const FileIdentity&) const = default;
};
// Of the open file, and of the file `path` names now; false when there is
// none (a stream in memory, a path removed).
bool identity_of_open_file(FileIdentity& identity);
bool identity_of_path(const char* path, FileIdentity& identity);
