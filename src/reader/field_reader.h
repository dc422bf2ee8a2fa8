// The field reader: the only code that touches the debugging file. It owns
// the open file and a large buffer it refills and decodes the field
// encodings (byte, word, address, string, LineRef). A read that finds no
// byte ends the run through fatal_error (messages.h).
#pragma once

#include <bit>
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <string_view>

#include "messages.h"
#if defined(__SSE2__)
#include <emmintrin.h>
#endif

// A string field holds at most 255 bytes; longer fields are cut to that and
// the rest is read and dropped, so the stream stays in step.
constexpr std::size_t string_field_capacity = 256;
using StringField = char[string_field_capacity];

struct LineRef {
    int file;
    int line;
    int character;
};

void open_debug_file(const char* path);
// Reads from an already open stream instead of a named file. Attached before
// the run, it also stands in for the file that open_debug_file names.
void attach_debug_stream(std::FILE* stream);
void close_debug_file();
// Closes, unchecked, a stream that a fatal error left open, and empties the
// buffer (for a new run in the same process).
void release_debug_file();

// How many bytes past the end of the input buffer may be read (never used):
// strings are looked for 32 bytes at a time and lists 64 at a time up to the
// window's end, and every string handed out has 32 bytes readable from its
// start, so that a short one is copied as one block.
constexpr std::size_t input_padding = 64;

struct InputWindow {
    const unsigned char* next = nullptr;
    const unsigned char* end = nullptr;
    // The start of the buffer and its offset in the file.
    const unsigned char* start = nullptr;
    std::uint64_t start_offset = 0;
};
// The unread part of the input buffer; only the field reader moves it.
extern InputWindow input;

// Offset in the file of the next unread byte.
inline std::uint64_t input_offset() {
    return input.start_offset + static_cast<std::uint64_t>(input.next - input.start);
}
// Whether the file can be read again from an earlier offset (not a pipe).
bool input_is_seekable();
// Goes on reading at `offset`: within the buffer when it holds that offset,
// otherwise by seeking the file. False, with nothing changed, when the file
// cannot seek.
bool seek_input(std::uint64_t offset);

// Slow path of read_byte: refills the buffer; at end of file or on a read
// failure it ends the run with a fatal error.
int read_byte_after_refill();

// Moves the unread bytes of the buffer to its start and fills the rest from
// the file, so that a record which runs past the buffer's end can be read in
// one piece; false, with the unread bytes kept, when they fill more than half
// the buffer or the file has no more bytes.
bool refill_keeping_unread();

// One byte, 0..255. The file ending here is a fatal error: every field after
// the magic number is part of a record that must be complete.
inline int read_byte() {
    if (input.next != input.end) return *input.next++;
    return read_byte_after_refill();
}

// A byte of the magic number: -1 when no byte can be read, so that a short
// file or one that cannot be read fails the magic-number check.
int read_magic_byte();

inline unsigned read_word() {
    if (input.end - input.next >= 2) {
        unsigned value = (unsigned{input.next[0]} << 8) | input.next[1];
        input.next += 2;
        return value;
    }
    unsigned high = static_cast<unsigned>(read_byte());
    return (high << 8) | static_cast<unsigned>(read_byte());
}

inline unsigned long read_address() {
    if (input.end - input.next >= 3) {
        unsigned long value =
            (static_cast<unsigned long>(input.next[0]) << 16) | (unsigned{input.next[1]} << 8) | input.next[2];
        input.next += 3;
        return value;
    }
    unsigned long value = static_cast<unsigned long>(read_byte()) << 16;
    value |= static_cast<unsigned long>(read_byte()) << 8;
    return value | static_cast<unsigned long>(read_byte());
}

inline LineRef read_line_ref() {
    LineRef ref;
    if (input.end - input.next >= 4) {
        ref = {input.next[0], (input.next[1] << 8) | input.next[2], input.next[3]};
        input.next += 4;
        return ref;
    }
    ref.file = read_byte();
    ref.line = static_cast<int>(read_word());
    ref.character = read_byte();
    return ref;
}

// One bit for each 0 byte among the 32 bytes at `bytes`, bit i for byte i.
inline std::uint32_t zero_byte_mask(const unsigned char* bytes) {
#if defined(__SSE2__)
    const __m128i zero = _mm_setzero_si128();
    __m128i low = _mm_loadu_si128(reinterpret_cast<const __m128i*>(bytes));
    __m128i high = _mm_loadu_si128(reinterpret_cast<const __m128i*>(bytes + 16));
    auto low_mask = static_cast<std::uint32_t>(_mm_movemask_epi8(_mm_cmpeq_epi8(low, zero)));
    auto high_mask = static_cast<std::uint32_t>(_mm_movemask_epi8(_mm_cmpeq_epi8(high, zero)));
    return low_mask | high_mask << 16;
#else
    std::uint32_t mask = 0;
    for (int i = 0; i < 32; ++i)
        if (bytes[i] == 0) mask |= std::uint32_t{1} << i;
    return mask;
#endif
}

// The first 0 byte from `from` on, or input.end when the window holds none.
// Most strings are names shorter than 32 bytes, so the bytes are tested 32 at
// a time, with no branch on where among them the 0 byte is (a branch on a
// name's length would be mispredicted for every other name). This may look
// up to 31 bytes past `end`, at most input.end: input_padding covers that.
inline const unsigned char* find_terminator(const unsigned char* from, const unsigned char* end = input.end) {
    for (; from < end; from += 32) {
        std::uint32_t zeros = zero_byte_mask(from);
        if (zeros != 0) {
            const unsigned char* zero = from + std::countr_zero(zeros);
            return zero < end ? zero : end;
        }
    }
    return end;
}

// Slow paths of the string reads below: a string that runs past the window.
std::size_t read_string_across_refill(StringField& field);
std::string_view read_string_view_across_refill();
std::size_t skip_string_across_refill();

// Reads a 0-terminated string into `field` (0-terminated there too) and
// returns its length, at most 255.
inline std::size_t read_string(StringField& field) {
    const unsigned char* terminator = find_terminator(input.next);
    auto length = static_cast<std::size_t>(terminator - input.next);
    if (terminator == input.end || length >= string_field_capacity) return read_string_across_refill(field);
    // A short string is copied as one fixed block; the buffer's padding and
    // the field's size leave room for it.
    if (length < 32) {
        std::memcpy(field, input.next, 32);
    } else {
        std::memcpy(field, input.next, length);
    }
    field[length] = '\0';
    input.next = terminator + 1;
    return length;
}

// Reads a string and gives its bytes (at most 255) where they stand, in the
// input buffer or in a field of the reader's own: valid until the next read.
// At least 32 bytes are readable from its start (input_padding).
inline std::string_view read_string_view() {
    const unsigned char* terminator = find_terminator(input.next);
    auto length = static_cast<std::size_t>(terminator - input.next);
    if (terminator == input.end) return read_string_view_across_refill();
    std::string_view value(reinterpret_cast<const char*>(input.next),
                           length < string_field_capacity ? length : string_field_capacity - 1);
    input.next = terminator + 1;
    return value;
}

// Reads a string and drops it; returns its full length (0 for the empty
// string that ends a list).
inline std::size_t skip_string() {
    const unsigned char* terminator = find_terminator(input.next);
    if (terminator == input.end) return skip_string_across_refill();
    auto length = static_cast<std::size_t>(terminator - input.next);
    input.next = terminator + 1;
    return length;
}

// A list of non-empty strings ended by an empty one, as found ahead in the
// window by one look at 64 bytes: a bit for each item's terminator, bit i
// for the byte at offset i, and the offset of the list's closing 0 byte.
struct ListAhead {
    std::uint64_t terminators;
    unsigned end;
};

// One bit for each 0 byte among the 64 bytes at `bytes`.
inline std::uint64_t zero_byte_mask_64(const unsigned char* bytes) {
    return zero_byte_mask(bytes) | std::uint64_t{zero_byte_mask(bytes + 32)} << 32;
}

// The list at `cursor` when the window holds it within 64 bytes; false, with
// nothing changed, otherwise. Its items are then found from the bits alone,
// with no search from one item to the next: the walk through a record's
// lists costs one step a list rather than one a string.
inline bool list_ahead(const unsigned char* cursor, ListAhead& list) {
    std::uint64_t zeros = zero_byte_mask_64(cursor);
    // The closing empty string is the first 0 byte that starts the list or
    // follows another 0 byte.
    std::uint64_t empty_strings = zeros & (zeros << 1 | 1);
    if (empty_strings == 0) return false;
    auto end = static_cast<unsigned>(std::countr_zero(empty_strings));
    if (end >= static_cast<std::size_t>(input.end - cursor)) return false;
    list.terminators = zeros & ((std::uint64_t{1} << end) - 1);
    list.end = end;
    return true;
}

// Calls `visit` with each item of a list found by list_ahead at `start`.
template <typename Visit>
inline void for_each_item(const unsigned char* start, const ListAhead& list, Visit visit) {
    const unsigned char* item = start;
    for (std::uint64_t bits = list.terminators; bits != 0; bits &= bits - 1) {
        const unsigned char* terminator = start + std::countr_zero(bits);
        visit(std::string_view(reinterpret_cast<const char*>(item), static_cast<std::size_t>(terminator - item)));
        item = terminator + 1;
    }
}

// Takes the bytes up to `cursor`, read in the window by a BufferedFields
// (below), as read.
inline void take_up_to(const unsigned char* cursor) { input.next = cursor; }

// Slow path of skip_bytes.
void skip_bytes_across_refill(std::size_t count);

// Drops `count` bytes.
inline void skip_bytes(std::size_t count) {
    if (static_cast<std::size_t>(input.end - input.next) >= count) {
        input.next += count;
        return;
    }
    skip_bytes_across_refill(count);
}

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

// --- Readers of a record's fields ---------------------------------------------
// A printer reads its record through one of two readers with the same
// operations, so that it is written once: first over the bytes the buffer
// holds, then, if a read found its bytes missing there, again over the stream.

// Reads fields from bytes in the buffer, up to `end` (at most input.end),
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
        if (next + 64 <= end && list_ahead(next, list)) {
            const unsigned char* items = next;
            next += list.end + 1;
            for_each_item(items, list, visit);
            return;
        }
        for (std::string_view item; !(item = string()).empty();) visit(item);
    }
    void skip_list() {
        ListAhead list;
        if (next + 64 <= end && list_ahead(next, list)) {
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

// Drops strings up to and including the empty string that ends a list.
inline void skip_string_list() {
    ListAhead list;
    if (list_ahead(input.next, list)) {
        input.next += list.end + 1;
        return;
    }
    while (skip_string() != 0) {
    }
}

// Reads fields from the stream, refilling the buffer as needed: the end of
// the file inside a field ends the run with a fatal error. A string it
// gives stands in the buffer, so it is valid only until the next read.
struct StreamFields {
    std::uint8_t byte() { return static_cast<std::uint8_t>(read_byte()); }
    std::uint16_t word() { return static_cast<std::uint16_t>(read_word()); }
    std::uint32_t address() { return static_cast<std::uint32_t>(read_address()); }
    LineRef line_ref() { return read_line_ref(); }
    std::string_view string() { return read_string_view(); }
    void name(Name& kept) { kept.size = static_cast<std::uint8_t>(read_string(kept.text)); }
    unsigned count(std::size_t) { return read_word(); }
    void skip(std::size_t size) { skip_bytes(size); }
    template <typename Visit>
    void for_each_string(Visit visit) {
        for (std::string_view item; !(item = string()).empty();) visit(item);
    }
    void skip_list() { skip_string_list(); }
};

// Reads fields from the stream only to drop them: a record decoder run over
// it skips the record. The fixed-size fields between two strings or counts
// are dropped together, with one test of the window, when the next string or
// count is read or the record is done (finish): as the decoder's fields are
// known at compile time, so is each run's size.
struct SkippedFields {
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
        return read_string_view();
    }
    void name(Name&) {
        finish();
        skip_string();
    }
    unsigned count(std::size_t) {
        finish();
        return read_word();
    }
    template <typename Visit>
    void for_each_string(Visit) {
        skip_list();
    }
    void skip_list() {
        finish();
        skip_string_list();
    }
    void finish() {
        if (pending != 0) skip_bytes(pending);
        pending = 0;
    }
};
