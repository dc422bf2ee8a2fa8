#include "reader/field_reader.h"

#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <climits>

namespace {

// After a seek the reader serves one record or a few (a lookup's answer), so
// its first read is small and the reads after it grow to the whole buffer:
// an answer costs a read of about a kilobyte, not a refill of 64 KiB.
constexpr std::size_t first_read_after_seek = 2048;
constexpr std::size_t read_before_seek = 512;

FileIdentity identity_of(const struct stat& status) {
    return {static_cast<std::uint64_t>(status.st_dev),
            static_cast<std::uint64_t>(status.st_ino),
            static_cast<std::uint64_t>(status.st_size),
            status.st_mtim.tv_sec,
            status.st_mtim.tv_nsec,
            status.st_ctim.tv_sec,
            status.st_ctim.tv_nsec};
}

}  // namespace

DebugFile::DebugFile(const ReadFailure& failure) : on_failure(&failure) { empty_window_at(0); }

DebugFile::~DebugFile() {
    if (stream != nullptr && owns_stream) std::fclose(stream);
}

void DebugFile::empty_window_at(std::uint64_t at) {
    next = buffer;
    window_ends_at(buffer);
    start_offset = window_end_offset = at;
}

bool DebugFile::open(const char* path) {
    std::FILE* opened = std::fopen(path, "rb");
    if (opened == nullptr) return false;
    attach(opened);
    return true;
}

void DebugFile::attach(std::FILE* opened, bool owned) {
    if (stream != nullptr && owns_stream) std::fclose(stream);
    stream = opened;
    owns_stream = owned;
    // The reader has its own large buffer; the stream's would only add a copy.
    std::setvbuf(stream, nullptr, _IONBF, 0);
    empty_window_at(0);
    next_read_size = input_buffer_size;
    reading_at_offsets = read_at_offset_failed = false;
    seekable = std::fseek(stream, 0, SEEK_CUR) == 0;
}

void DebugFile::close() {
    if (stream == nullptr) return;
    const bool failed = std::ferror(stream) || read_at_offset_failed;
    if (owns_stream) std::fclose(stream);
    stream = nullptr;
    empty_window_at(0);
    if (failed) fail("I/O failure: can't close debugging info file");
}

void DebugFile::check_magic_number() {
    if (magic_byte() != 0xDE || magic_byte() != 0xBF)
        fail("Debugging info file does not begin with magic number DEBF.");
}

bool DebugFile::identity(FileIdentity& identity) const {
    struct stat status {};
    if (stream == nullptr || fileno(stream) < 0 || fstat(fileno(stream), &status) != 0) return false;
    identity = identity_of(status);
    return true;
}

bool identity_of_path(const char* path, FileIdentity& identity) {
    struct stat status {};
    if (stat(path, &status) != 0) return false;
    identity = identity_of(status);
    return true;
}

// Reads the next bytes of the file to `into`, at most `size`.
std::size_t DebugFile::read_from_file(unsigned char* into, std::size_t size) {
    if (!reading_at_offsets) return std::fread(into, 1, size, stream);
    ssize_t got;
    do got = pread(fileno(stream), into, size, static_cast<off_t>(window_end_offset));
    while (got < 0 && errno == EINTR);
    read_at_offset_failed = got < 0;
    return got < 0 ? 0 : static_cast<std::size_t>(got);
}

// Fills the buffer from the file; false when nothing more could be read.
bool DebugFile::refill() {
    if (stream == nullptr) return false;
    std::size_t count = read_from_file(buffer, next_read_size);
    next_read_size = next_read_size * 4 < input_buffer_size ? next_read_size * 4 : input_buffer_size;
    next = buffer;
    window_ends_at(buffer + count);
    start_offset = window_end_offset;
    window_end_offset += count;
    return count != 0;
}

void DebugFile::input_ended(bool inside_record) const {
    if (stream != nullptr && (std::ferror(stream) || read_at_offset_failed))
        fail("I/O failure: can't read from debugging info file");
    if (early_end_allowed) throw FileEndsEarly{inside_record};
    fail("Unexpected end of debugging info file");
}

// Makes sure at least one unread byte is in the buffer.
void DebugFile::require_input() {
    if (next == end && !refill()) input_ended();
}

// Empties the window at `offset`, from which the next refill reads.
bool DebugFile::move_to(std::uint64_t at) {
    if (reading_at_offsets || (fileno(stream) >= 0 && std::fseek(stream, 0, SEEK_CUR) == 0)) {
        reading_at_offsets = true;
    } else if (std::fseek(stream, static_cast<long>(at), SEEK_SET) != 0) {
        return false;
    }
    empty_window_at(at);
    return true;
}

bool DebugFile::seek(std::uint64_t at) {
    if (at >= start_offset && at <= window_end_offset) {
        next = buffer + (at - start_offset);
        return true;
    }
    if (stream == nullptr || at > static_cast<std::uint64_t>(LONG_MAX)) return false;
    // A step back of less than a buffer goes on with a reading from start to
    // end (a record read to its end, then read again): whole buffers from there.
    if (at < start_offset && start_offset - at <= input_buffer_size) {
        if (!move_to(at)) return false;
        next_read_size = input_buffer_size;
        refill();
        return true;
    }
    // The records read together stand together (a routine's records follow
    // one another), so the read after a seek starts a little before the
    // offset sought, where the record before it may stand.
    std::uint64_t from = at > read_before_seek ? at - read_before_seek : 0;
    if (!move_to(from)) return false;
    next_read_size = first_read_after_seek;
    refill();
    if (window_end_offset < at) return move_to(at);
    next = buffer + (at - from);
    return true;
}

bool DebugFile::refill_keeping_unread() {
    const auto unread = static_cast<std::size_t>(end - next);
    if (stream == nullptr || unread > input_buffer_size / 2) return false;
    const std::uint64_t next_offset = offset();
    std::memmove(buffer, next, unread);
    std::size_t count = read_from_file(buffer + unread, input_buffer_size - unread);
    next = buffer;
    window_ends_at(buffer + unread + count);
    start_offset = next_offset;
    window_end_offset += count;
    return count != 0;
}

std::uint8_t DebugFile::byte_after_refill() {
    require_input();
    return *next++;
}

std::uint8_t DebugFile::type_byte_after_refill() {
    if (next == end && !refill()) input_ended(false);
    return *next++;
}

int DebugFile::magic_byte() {
    if (next == end && !refill()) return -1;
    return *next++;
}

std::size_t DebugFile::read_string_across_refill(StringField& field) {
    std::size_t kept = 0;
    for (;;) {
        require_input();
        const auto available = static_cast<std::size_t>(end - next);
        const void* terminator = std::memchr(next, 0, available);
        const std::size_t length =
            terminator ? static_cast<std::size_t>(static_cast<const unsigned char*>(terminator) - next) : available;
        const std::size_t room = string_field_capacity - 1 - kept;
        const std::size_t copied = length < room ? length : room;
        std::memcpy(field + kept, next, copied);
        kept += copied;
        if (terminator) {
            next += length + 1;
            field[kept] = '\0';
            return kept;
        }
        next = end;
    }
}

std::size_t DebugFile::skip_string_across_refill() {
    std::size_t total = 0;
    for (;;) {
        require_input();
        const auto available = static_cast<std::size_t>(end - next);
        if (const void* terminator = std::memchr(next, 0, available)) {
            const auto length = static_cast<std::size_t>(static_cast<const unsigned char*>(terminator) - next);
            next += length + 1;
            return total + length;
        }
        total += available;
        next = end;
    }
}

void DebugFile::skip_across_refill(std::size_t count) {
    while (count != 0) {
        require_input();
        const auto available = static_cast<std::size_t>(end - next);
        const std::size_t step = count < available ? count : available;
        next += step;
        count -= step;
    }
}
