#include "output_writer.h"

#include <cerrno>
#include <cstring>

#include "run_exit.h"

namespace {

// A listing cut short must not pass for a complete one: the run stops at the
// first write that fails, says why on standard error, since standard output
// is what failed, and ends with status 2, which no other run ends with. A
// broken pipe ends the process by SIGPIPE before the write returns, as it
// does any filter.
[[noreturn]] void output_failed(int error) {
    std::fputs("vardex: can't write to standard output: ", stderr);
    std::fputs(error != 0 ? std::strerror(error) : "write error", stderr);
    std::fputc('\n', stderr);
    end_run(2);
}

}  // namespace

void OutputWriter::flush_buffer() {
    if (used == 0) return;
    std::size_t kept = hold != nullptr ? hold->keep_back(buffer, used) : 0;
    std::size_t size = used - kept;
    errno = 0;
    if (std::fwrite(buffer, 1, size, sink ? sink : stdout) != size) output_failed(errno);
    written += size;
    std::memmove(buffer, buffer + size, kept);
    used = kept;
}

void OutputWriter::flush() {
    do flush_buffer();
    while (used != 0);
    errno = 0;
    if (std::fflush(sink ? sink : stdout) != 0) output_failed(errno);
}
