// The field reader: the only code that touches the debugging file. The open
// file is a value, DebugFile, made by whoever reads it: it owns the stream,
// a large buffer it refills, its position and what a failed read does, and
// decodes the field encodings (byte, word, address, string, LineRef).
#pragma once

#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string_view>

#include "reader/byte_scan.h"

// A string field holds at most 255 bytes; longer fields are cut to that and
// the rest is read and dropped, so the stream stays in step.
constexpr std::size_t string_field_capacity = 256;
using StringField = char[string_field_capacity];

struct LineRef {
    int file;
    int line;
    int character;
};

// How many bytes past the end of the input buffer may be read (never used):
// strings are looked for 32 bytes at a time and lists 64 at a time up to the
// window's end, and every string handed out has 32 bytes readable from its
// start, so that a short one is copied as one block.
constexpr std::size_t input_padding = 64;
constexpr std::size_t input_buffer_size = 64 * 1024;

// A string field kept past the next read (a read may refill the buffer and
// move the bytes a string_view shows).
struct Name {
    StringField text;
    std::uint8_t size;
    std::string_view view() const { return {text, size}; }
    // 0-terminated, with 32 bytes readable from its start, as a field is.
    void assign(std::string_view value) {
        std::memcpy(text, value.data(), value.size());
        text[value.size()] = '\0';
        size = static_cast<std::uint8_t>(value.size());
    }
};

// What a read that cannot be made does (the file ends inside a record, a
// read fails, the magic number is missing): end the run with the fatal line,
// or, for a server reading its file again, throw to where it goes on. It is
// called with the message of the fatal line and must not return.
struct ReadFailure {
    [[noreturn]] virtual void fail(std::string_view message) const = 0;

  protected:
    ~ReadFailure() = default;
};

// Thrown, instead of the failure, when a file that may end early (the file
// of a build that did not finish) ends before its End record: between two
// records, or inside one, which then counts for nothing.
struct FileEndsEarly {
    bool inside_record;
};

// What tells one version of a file from another, a rewrite that restores
// the times too: the time of the last change is one no one can set back.
struct FileIdentity {
    std::uint64_t device, inode, size;
    std::int64_t modified_seconds, modified_nanoseconds, changed_seconds, changed_nanoseconds;
    bool operator==(const FileIdentity&) const = default;
};
// Of the file `path` names now; false when there is none.
bool identity_of_path(const char* path, FileIdentity& identity);

// The open debugging file. Its reads are those of a record's fields (the
// operations of the readers below, which a record decoder is generic over):
// a read that finds no byte calls the failure policy.
class DebugFile {
  public:
    // The unread part of the buffer: [next, end). Only the reader moves it;
    // BufferedFields reads ahead in it and takes what it read (take_up_to).
    const unsigned char* next;
    const unsigned char* end;

    explicit DebugFile(const ReadFailure& on_failure);
    ~DebugFile();
    DebugFile(const DebugFile&) = delete;
    DebugFile& operator=(const DebugFile&) = delete;

    // Opens `path`; false when it cannot be opened.
    bool open(const char* path);
    // Reads from an already open stream (in memory, a pipe); an owned one is
    // closed with the file, a borrowed one left open for its owner.
    void attach(std::FILE* stream, bool owned = true);
    // Closes the file: a read that failed on the way is a failure now.
    void close();
    [[noreturn]] void fail(std::string_view message) const {
        on_failure->fail(message);
        std::abort();  // a policy never returns
    }

    // Whether the file may end before its End record: the reading throws
    // FileEndsEarly where it ends, for a reader that keeps what came before.
    void allow_early_end(bool allowed) { early_end_allowed = allowed; }

    // Reads the magic number, which a debugging file begins with.
    void check_magic_number();
    // Offset in the file of the next unread byte.
    std::uint64_t offset() const { return start_offset + static_cast<std::uint64_t>(next - buffer); }
    // Whether the file can be read again from an earlier offset (not a pipe).
    bool is_seekable() const { return stream != nullptr && seekable; }
    // Goes on reading at `offset`: within the buffer when it holds that
    // offset, otherwise by seeking the file. False, with nothing changed,
    // when the file cannot seek.
    bool seek(std::uint64_t offset);
    // Of the open file; false when it is not a file (a stream in memory).
    bool identity(FileIdentity& identity) const;

    // Moves the unread bytes of the buffer to its start and fills the rest
    // from the file, so that a record which runs past the buffer's end can be
    // read in one piece; false, with the unread bytes kept, when they fill
    // more than half the buffer or the file has no more bytes.
    bool refill_keeping_unread();
    // Takes the bytes up to `cursor`, read in the window by a BufferedFields.
    void take_up_to(const unsigned char* cursor) { next = cursor; }

    // The type byte that begins a record (or the End record).
    std::uint8_t type_byte() {
        if (next != end) return *next++;
        return type_byte_after_refill();
    }

    // --- Fields: the file ending inside one calls the failure policy ---------
    std::uint8_t byte() {
        if (next != end) return *next++;
        return byte_after_refill();
    }
    std::uint16_t word() {
        if (end - next >= 2) {
            auto value = static_cast<std::uint16_t>(next[0] << 8 | next[1]);
            next += 2;
            return value;
        }
        const unsigned high = byte();
        return static_cast<std::uint16_t>(high << 8 | byte());
    }
    std::uint32_t address() {
        if (end - next >= 3) {
            std::uint32_t value = std::uint32_t{next[0]} << 16 | std::uint32_t{next[1]} << 8 | next[2];
            next += 3;
            return value;
        }
        std::uint32_t value = std::uint32_t{byte()} << 16;
        value |= std::uint32_t{byte()} << 8;
        return value | byte();
    }
    LineRef line_ref() {
        if (end - next >= 4) {
            LineRef ref{next[0], next[1] << 8 | next[2], next[3]};
            next += 4;
            return ref;
        }
        LineRef ref;
        ref.file = byte();
        ref.line = word();
        ref.character = byte();
        return ref;
    }
    // A byte of the magic number: -1 when no byte can be read, so that a
    // short file or one that cannot be read fails the magic-number check.
    int magic_byte();

    // Reads a 0-terminated string into `field` (0-terminated there too) and
    // returns its length, at most 255.
    std::size_t read_string(StringField& field) {
        const unsigned char* terminator = find_terminator(next, end);
        auto length = static_cast<std::size_t>(terminator - next);
        if (terminator == end || length >= string_field_capacity) return read_string_across_refill(field);
        // A short string is copied as one fixed block; the buffer's padding
        // and the field's size leave room for it.
        if (length < 32)
            std::memcpy(field, next, 32);
        else
            std::memcpy(field, next, length);
        field[length] = '\0';
        next = terminator + 1;
        return length;
    }
    // Reads a string and gives its bytes (at most 255) where they stand, in
    // the buffer or in a field of the reader's own: valid until the next
    // read. At least 32 bytes are readable from its start (input_padding).
    std::string_view string() {
        const unsigned char* terminator = find_terminator(next, end);
        if (terminator == end) return {straddling_string, read_string_across_refill(straddling_string)};
        auto length = static_cast<std::size_t>(terminator - next);
        std::string_view value(reinterpret_cast<const char*>(next),
                               length < string_field_capacity ? length : string_field_capacity - 1);
        next = terminator + 1;
        return value;
    }
    void name(Name& kept) { kept.size = static_cast<std::uint8_t>(read_string(kept.text)); }
    // Reads a string and drops it; returns its full length (0 for the empty
    // string that ends a list).
    std::size_t skip_string() {
        const unsigned char* terminator = find_terminator(next, end);
        if (terminator == end) return skip_string_across_refill();
        auto length = static_cast<std::size_t>(terminator - next);
        next = terminator + 1;
        return length;
    }
    unsigned count(std::size_t) { return word(); }
    // Drops `size` bytes.
    void skip(std::size_t size) {
        if (static_cast<std::size_t>(end - next) >= size) {
            next += size;
            return;
        }
        skip_across_refill(size);
    }
    template <typename Visit>
    void for_each_string(Visit visit) {
        for (std::string_view item; !(item = string()).empty();) visit(item);
    }
    // Drops strings up to and including the empty string that ends a list.
    void skip_list() {
        ListAhead list;
        if (list_ahead(next, end, list)) {
            next += list.end + 1;
            return;
        }
        while (skip_string() != 0) {
        }
    }

  private:
    std::uint8_t byte_after_refill();
    std::uint8_t type_byte_after_refill();
    std::size_t read_string_across_refill(StringField& field);
    std::size_t skip_string_across_refill();
    void skip_across_refill(std::size_t count);
    bool refill();
    void require_input();
    [[noreturn]] void input_ended(bool inside_record = true) const;
    void empty_window_at(std::uint64_t offset);
    void window_ends_at(const unsigned char* window_end) {
        end = window_end;
        std::memset(buffer + (end - buffer), 0, input_padding);
    }
    std::size_t read_from_file(unsigned char* into, std::size_t size);
    bool move_to(std::uint64_t offset);

    const ReadFailure* on_failure;
    bool early_end_allowed = false;
    std::FILE* stream = nullptr;
    bool owns_stream = false;
    // Offset in the file of the buffer's first byte, and of the byte after
    // the last one read into it.
    std::uint64_t start_offset = 0;
    std::uint64_t window_end_offset = 0;
    // How much the next refill reads.
    std::size_t next_read_size = input_buffer_size;
    // Once the reader seeks a file, it reads at its own offset (one system
    // call a read, none for the seek); a stream with no descriptor (in
    // memory) is read where it was sought.
    bool reading_at_offsets = false;
    bool read_at_offset_failed = false;
    // Whether the file can be read again from an earlier offset (a file, not
    // a pipe), asked once when it is opened.
    bool seekable = false;
    // Where a string that runs past the window is put together.
    StringField straddling_string;
    // The input_padding bytes past the window's end are kept zero, so that
    // a look ahead past it reads known bytes (window_ends_at).
    unsigned char buffer[input_buffer_size + input_padding];
};

// --- Readers of a record's fields ---------------------------------------------
// A printer reads its record through one of two readers with the same
// operations, so that it is written once: first over the bytes the buffer
// holds (BufferedFields), then, if a read found its bytes missing there,
// again over the stream (the DebugFile itself).

// Reads fields from bytes in the buffer, up to `end` (at most the window's end),
// taking nothing from the input. Fixed-size fields are read with no check:
// one that passes `end` reads the buffer's padding instead, and the record
// has failed once `next` stands past `end`, which the caller tests once,
// when the printer is done. A string or a count that passes `end` fails at
// once, giving an empty string or no entries, so that every loop of a
// printer ends; the fixed fields read after a failure stay within
// max_read_past_failure bytes past `end`.
struct BufferedFields {
    // A Header record's 64 bytes are the most fixed-size bytes a printer
    // reads with no string or count between them.
    static constexpr std::size_t max_read_past_failure = 64;

    const unsigned char* next;
    const unsigned char* end;

    bool failed() const { return next > end; }
    std::uint8_t byte() { return *next++; }
    std::uint16_t word() {
        next += 2;
        return static_cast<std::uint16_t>(next[-2] << 8 | next[-1]);
    }
    std::uint32_t address() {
        next += 3;
        return std::uint32_t{next[-3]} << 16 | std::uint32_t{next[-2]} << 8 | next[-1];
    }
    LineRef line_ref() {
        next += 4;
        return {next[-4], next[-3] << 8 | next[-2], next[-1]};
    }
    // Cut to 255 bytes, with input_padding readable from its start.
    std::string_view string() {
        const unsigned char* terminator = find_terminator(next, end);
        if (terminator >= end) return fail();
        auto length = static_cast<std::size_t>(terminator - next);
        std::string_view value(reinterpret_cast<const char*>(next),
                               length < string_field_capacity ? length : string_field_capacity - 1);
        next = terminator + 1;
        return value;
    }
    void name(Name& kept) { kept.assign(string()); }
    // The word count of a list of `entry_size`-byte entries: 0, failed,
    // unless all its entries are here too.
    unsigned count(std::size_t entry_size) {
        unsigned entries = word();
        if (static_cast<std::size_t>(end - next) < entries * entry_size || failed()) {
            fail();
            return 0;
        }
        return entries;
    }
    // Drops `size` bytes (a run of fixed-size entries): failed when they are
    // not all here.
    void skip(std::size_t size) {
        if (static_cast<std::size_t>(end - next) < size || failed())
            fail();
        else
            next += size;
    }
    // Calls `visit` with each string of a list, up to its empty string. A
    // list within 64 bytes, as most are, is found with one look at them.
    template <typename Visit>
    [[gnu::always_inline]] void for_each_string(Visit visit) {
        ListAhead list;
        if (next + 64 <= end && list_ahead(next, end, list)) {
            const unsigned char* items = next;
            next += list.end + 1;
            for_each_item(items, list, visit);
            return;
        }
        for (std::string_view item; !(item = string()).empty();) visit(item);
    }
    void skip_list() {
        ListAhead list;
        if (next + 64 <= end && list_ahead(next, end, list)) {
            next += list.end + 1;
            return;
        }
        while (!string().empty()) {
        }
    }

  private:
    std::string_view fail() {
        next = end + 1;
        return {reinterpret_cast<const char*>(end), 0};  // readable as any string handed out
    }
};

static_assert(BufferedFields::max_read_past_failure <= input_padding);

// Reads fields from the file only to drop them: a record decoder run over
// it skips the record. The fixed-size fields between two strings or counts
// are dropped together, with one test of the window, when the next string or
// count is read or the record is done (finish): as the decoder's fields are
// known at compile time, so is each run's size.
struct SkippedFields {
    DebugFile& file;
    std::size_t pending = 0;

    std::uint8_t byte() { return dropped<std::uint8_t>(1); }
    std::uint16_t word() { return dropped<std::uint16_t>(2); }
    std::uint32_t address() { return dropped<std::uint32_t>(3); }
    LineRef line_ref() { return dropped<LineRef>(4); }
    void skip(std::size_t size) { pending += size; }
    template <typename Field>
    Field dropped(std::size_t size) {
        pending += size;
        return {};
    }
    // Read, not skipped, where a list of entries ends with an empty one.
    std::string_view string() {
        finish();
        return file.string();
    }
    void name(Name&) {
        finish();
        file.skip_string();
    }
    unsigned count(std::size_t) {
        finish();
        return file.word();
    }
    template <typename Visit>
    void for_each_string(Visit) {
        skip_list();
    }
    void skip_list() {
        finish();
        file.skip_list();
    }
    void finish() {
        if (pending != 0) file.skip(pending);
        pending = 0;
    }
};
