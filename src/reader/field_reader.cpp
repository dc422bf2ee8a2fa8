#include "reader/field_reader.h"

#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <climits>
#include <cstdlib>
#include <cstring>

#include "reader/debug_file.h"

InputWindow input;

namespace {

constexpr std::size_t input_buffer_size = 64 * 1024;
// After a seek the reader serves one record or a few (a lookup's answer), so
// its first read is small and the reads after it grow to the whole buffer:
// an answer costs a read of about a kilobyte, not a refill of 64 KiB.
constexpr std::size_t first_read_after_seek = 2048;
constexpr std::size_t read_before_seek = 512;

unsigned char input_buffer[input_buffer_size + input_padding];
// Where a string that runs past the window is put together.
StringField straddling_string;
std::FILE* debug_file = nullptr;
// File offset of the byte after the last one read into the buffer.
std::uint64_t window_end_offset = 0;
// How much the next refill reads.
std::size_t next_read_size = input_buffer_size;
// Once the reader seeks a file, it reads at its own offset (one system call
// a read, none for the seek); a stream with no descriptor (in memory) is
// read where it was sought.
bool reading_at_offsets = false;
bool read_at_offset_failed = false;
// Whether the open file can be read again from an earlier offset (a file,
// not a pipe), asked once when it is opened.
bool debug_file_seekable = false;

void empty_window_at(std::uint64_t offset) {
    input.next = input.end = input.start = input_buffer;
    input.start_offset = window_end_offset = offset;
}

// Reads the next bytes of the file to `into`, at most `size`.
std::size_t read_from_file(unsigned char* into, std::size_t size) {
    if (!reading_at_offsets) return std::fread(into, 1, size, debug_file);
    ssize_t got;
    do got = pread(fileno(debug_file), into, size, static_cast<off_t>(window_end_offset));
    while (got < 0 && errno == EINTR);
    read_at_offset_failed = got < 0;
    return got < 0 ? 0 : static_cast<std::size_t>(got);
}

// Fills the buffer from the file; false when nothing more could be read.
bool refill() {
    if (debug_file == nullptr) return false;
    std::size_t count = read_from_file(input_buffer, next_read_size);
    next_read_size = next_read_size * 4 < input_buffer_size ? next_read_size * 4 : input_buffer_size;
    input.next = input_buffer;
    input.end = input_buffer + count;
    input.start = input_buffer;
    input.start_offset = window_end_offset;
    window_end_offset += count;
    return count != 0;
}

[[noreturn]] void input_ended() {
    if (debug_file != nullptr && (std::ferror(debug_file) || read_at_offset_failed))
        input_failure("I/O failure: can't read from debugging info file");
    input_failure("Unexpected end of debugging info file");
}

FileIdentity identity_of(const struct stat& status) {
    return {static_cast<std::uint64_t>(status.st_dev), static_cast<std::uint64_t>(status.st_ino),
            static_cast<std::uint64_t>(status.st_size), static_cast<std::int64_t>(status.st_mtim.tv_sec),
            static_cast<std::int64_t>(status.st_mtim.tv_nsec)};
}

// Makes sure at least one unread byte is in the buffer.
inline void require_input() {
    if (input.next == input.end && !refill()) input_ended();
}

}  // namespace

InputFailureHandler input_failure_handler = nullptr;

void input_failure(std::string_view message) {
    if (input_failure_handler != nullptr) input_failure_handler(message);
    fatal_error(message);
}

void check_magic_number() {
    if (read_magic_byte() != 0xDE || read_magic_byte() != 0xBF)
        input_failure("Debugging info file does not begin with magic number DEBF.");
}

bool reopen_debug_file(const char* path) {
    std::FILE* stream = std::fopen(path, "rb");
    if (stream == nullptr) return false;
    release_debug_file();
    attach_debug_stream(stream);
    return true;
}

bool identity_of_open_file(FileIdentity& identity) {
    struct stat status {};
    if (debug_file == nullptr || fileno(debug_file) < 0 || fstat(fileno(debug_file), &status) != 0) return false;
    identity = identity_of(status);
    return true;
}

bool identity_of_path(const char* path, FileIdentity& identity) {
    struct stat status {};
    if (stat(path, &status) != 0) return false;
    identity = identity_of(status);
    return true;
}

void open_debug_file(const char* path) {
    // An in-process harness attaches its stream before the run; it stands in
    // for the named file. A normal run never has a stream open here.
    if (debug_file != nullptr) return;
    std::FILE* stream = std::fopen(path, "rb");
    if (stream == nullptr) fatal_error_with_path("Couldn't open debugging info file", path);
    attach_debug_stream(stream);
}

void attach_debug_stream(std::FILE* stream) {
    debug_file = stream;
    // The reader has its own large buffer; the stream's would only add a copy.
    std::setvbuf(debug_file, nullptr, _IONBF, 0);
    empty_window_at(0);
    next_read_size = input_buffer_size;
    reading_at_offsets = read_at_offset_failed = false;
    debug_file_seekable = std::fseek(debug_file, 0, SEEK_CUR) == 0;
}

void close_debug_file() {
    if (debug_file == nullptr) return;
    if (std::ferror(debug_file) || read_at_offset_failed) fatal_error("I/O failure: can't close debugging info file");
    std::fclose(debug_file);
    debug_file = nullptr;
    empty_window_at(0);
}

void release_debug_file() {
    if (debug_file != nullptr) std::fclose(debug_file);
    debug_file = nullptr;
    empty_window_at(0);
}

bool input_is_seekable() { return debug_file != nullptr && debug_file_seekable; }

namespace {

// Empties the window at `offset`, from which the next refill reads.
bool move_to(std::uint64_t offset) {
    if (reading_at_offsets || (fileno(debug_file) >= 0 && std::fseek(debug_file, 0, SEEK_CUR) == 0)) {
        reading_at_offsets = true;
    } else if (std::fseek(debug_file, static_cast<long>(offset), SEEK_SET) != 0) {
        return false;
    }
    empty_window_at(offset);
    return true;
}

}  // namespace

bool seek_input(std::uint64_t offset) {
    if (offset >= input.start_offset && offset <= window_end_offset) {
        input.next = input_buffer + (offset - input.start_offset);
        return true;
    }
    if (debug_file == nullptr || offset > static_cast<std::uint64_t>(LONG_MAX)) return false;
    // A step back of less than a buffer goes on with a reading from start to
    // end (a record read to its end, then read again): whole buffers from there.
    if (offset < input.start_offset && input.start_offset - offset <= input_buffer_size) {
        if (!move_to(offset)) return false;
        next_read_size = input_buffer_size;
        refill();
        return true;
    }
    // The records read together stand together (a routine's records follow
    // one another), so the read after a seek starts a little before the
    // offset sought, where the record before it may stand.
    std::uint64_t start = offset > read_before_seek ? offset - read_before_seek : 0;
    if (!move_to(start)) return false;
    next_read_size = first_read_after_seek;
    refill();
    if (window_end_offset < offset) {
        if (!move_to(offset)) return false;
        return true;
    }
    input.next = input_buffer + (offset - start);
    return true;
}

bool refill_keeping_unread() {
    const auto unread = static_cast<std::size_t>(input.end - input.next);
    if (debug_file == nullptr || unread > input_buffer_size / 2) return false;
    const std::uint64_t next_offset = input_offset();
    std::memmove(input_buffer, input.next, unread);
    std::size_t count = read_from_file(input_buffer + unread, input_buffer_size - unread);
    input.next = input.start = input_buffer;
    input.end = input_buffer + unread + count;
    input.start_offset = next_offset;
    window_end_offset += count;
    return count != 0;
}

int read_byte_after_refill() {
    require_input();
    return *input.next++;
}

int read_magic_byte() {
    if (input.next == input.end && !refill()) return -1;
    return *input.next++;
}

std::size_t read_string_across_refill(StringField& field) {
    std::size_t kept = 0;
    for (;;) {
        require_input();
        std::size_t available = static_cast<std::size_t>(input.end - input.next);
        const void* terminator = std::memchr(input.next, 0, available);
        std::size_t length = terminator
                                 ? static_cast<std::size_t>(static_cast<const unsigned char*>(terminator) - input.next)
                                 : available;
        std::size_t room = string_field_capacity - 1 - kept;
        std::size_t copied = length < room ? length : room;
        std::memcpy(field + kept, input.next, copied);
        kept += copied;
        if (terminator) {
            input.next += length + 1;
            field[kept] = '\0';
            return kept;
        }
        input.next = input.end;
    }
}

std::string_view read_string_view_across_refill() {
    return {straddling_string, read_string_across_refill(straddling_string)};
}

std::size_t skip_string_across_refill() {
    std::size_t total = 0;
    for (;;) {
        require_input();
        std::size_t available = static_cast<std::size_t>(input.end - input.next);
        const void* terminator = std::memchr(input.next, 0, available);
        if (terminator) {
            std::size_t length = static_cast<std::size_t>(static_cast<const unsigned char*>(terminator) - input.next);
            input.next += length + 1;
            return total + length;
        }
        total += available;
        input.next = input.end;
    }
}

void skip_bytes_across_refill(std::size_t count) {
    while (count != 0) {
        require_input();
        std::size_t available = static_cast<std::size_t>(input.end - input.next);
        std::size_t step = count < available ? count : available;
        input.next += step;
        count -= step;
    }
}
