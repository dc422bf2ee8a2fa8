// The one writer of standard output: a fixed buffer written out in large
// blocks, flushed before every exit (fatal errors included). Printers write
// through one of two outputs with the same put: into one reservation made for
// a whole record, or piece by piece, each piece asking for its own room.
#pragma once

#include <cassert>
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <string_view>

#include "number_format.h"

// The piece writers store whole blocks (8-byte numbers, 32-byte copies of
// short names) with no branch on the length of what they write, so a store
// may reach this far past the end of what was written; every room asked for
// includes it once.
constexpr std::size_t output_overstore = 32;

// Copies a text known at compile time to `next`; returns the end of the copy.
template <std::size_t size>
inline char* copy_literal(char* next, const char (&text)[size]) {
    std::memcpy(next, text, size - 1);
    return next + size - 1;
}

// Copies a string that the field reader handed out (at most 255 bytes, and
// input_padding readable from its start) to `next`, a short one as one fixed
// block; returns the end of the copy.
inline char* copy_field(char* next, std::string_view field) {
    if (field.size() <= 32)
        std::memcpy(next, field.data(), 32);
    else
        std::memcpy(next, field.data(), field.size());
    return next + field.size();
}

// What an output mode that can take back a line cut by a fatal error (JSON)
// does before the buffer is written out: returns how many bytes at the end
// of what the buffer holds to keep back for now. They are written by a later
// flush; a second flush at once writes all.
struct OutputHold {
    virtual std::size_t keep_back(const char* buffer, std::size_t used) = 0;

  protected:
    ~OutputHold() = default;
};

struct OutputWriter {
    static constexpr std::size_t capacity = 64 * 1024;
    // The most room one put asks for: a longer text goes out in parts
    // (StreamOutput), since room beyond the buffer's capacity is never found.
    static constexpr std::size_t largest_piece = 16 * 1024;

    std::size_t used = 0;
    std::FILE* sink = nullptr;  // stdout unless a harness redirects it
    OutputHold* hold = nullptr;
    // How many bytes have been written out: output up to there can no longer
    // be taken back.
    std::uint64_t written = 0;

    void put(char c) {
        if (used == capacity) flush_buffer();
        buffer[used++] = c;
    }
    void put(std::string_view text);
    // Writes the buffer to the sink. A write that fails ends the run with
    // status 2 and a line on standard error.
    void flush_buffer();
    // Writes the buffer and flushes the sink's own buffering too.
    void flush();

    // Room for a piece of at most `size` bytes (at most the capacity),
    // written through the pointer returned and closed by end_piece with the
    // end of what was written.
    char* begin_piece(std::size_t size) {
        assert(size <= capacity);
        while (capacity - used < size) flush_buffer();
        return buffer + used;
    }
    void end_piece(char* end) { used = static_cast<std::size_t>(end - buffer); }

    char buffer[capacity];
};

// --- Pieces -----------------------------------------------------------------
// What a printer puts: texts known at compile time, characters, and pieces
// of a mode (numbers, positions, strings in the mode's quoting), each a small
// struct with max_size() (the most it writes) and write(next) (writes at
// `next`, returns the end, may store output_overstore further).

template <std::size_t size>
constexpr std::size_t max_size_of(const char (&)[size]) {
    return size - 1;
}
constexpr std::size_t max_size_of(char) { return 1; }
template <typename Piece>
constexpr std::size_t max_size_of(const Piece& piece) {
    return piece.max_size();
}

template <std::size_t size>
inline char* write_piece(char* next, const char (&text)[size]) {
    return copy_literal(next, text);
}
inline char* write_piece(char* next, char c) {
    *next = c;
    return next + 1;
}
template <typename Piece>
inline char* write_piece(char* next, const Piece& piece) {
    return piece.write(next);
}
template <typename... Pieces>
inline char* write_pieces(char* next, const Pieces&... pieces) {
    ((next = write_piece(next, pieces)), ...);
    return next;
}

// How many bytes of a text of any length one part holds, where a piece that
// writes such a text is put in parts.
constexpr std::size_t text_part_size = 1024;

// A text of any length that may stand anywhere (a table's name, a path, a
// message), with nothing readable past it.
struct Text {
    std::string_view text;
    std::size_t max_size() const { return text.size(); }
    char* write(char* next) const {
        std::memcpy(next, text.data(), text.size());
        return next + text.size();
    }
    template <typename Out>
    void put_in_parts(Out& o) const {
        for (std::size_t at = 0; at < text.size(); at += text_part_size) o.put(Text{text.substr(at, text_part_size)});
    }
};

// A string field as it stands, with no quoting.
struct Raw {
    std::string_view text;
    std::size_t max_size() const { return text.size(); }
    char* write(char* next) const { return copy_field(next, text); }
};

// A number in decimal ("%u"), written by the writer for its field's width.
template <typename Value>
struct Number {
    Value value;
    static constexpr std::size_t max_size() { return 20; }
    char* write(char* next) const {
        if constexpr (sizeof(Value) == 1)
            return digits::write_byte_decimal(next, value);
        else if constexpr (sizeof(Value) == 2)
            return digits::write_word_decimal(next, value);
        else
            return digits::write_decimal(next, value);
    }
};
template <typename Value>
Number(Value) -> Number<Value>;

// An address field (below 2^24) in decimal.
struct AddressNumber {
    std::uint32_t value;
    static constexpr std::size_t max_size() { return 20; }
    char* write(char* next) const { return digits::write_address_decimal(next, value); }
};

// The two hexadecimal digits of a byte.
struct HexPair {
    std::uint8_t value;
    static constexpr std::size_t max_size() { return 2; }
    char* write(char* next) const { return digits::write_hex_pair(next, value); }
};

// --- The two outputs ----------------------------------------------------------

// Writes into room reserved for a whole record: no check per piece.
struct ReservedOutput {
    char* next;

    template <typename... Pieces>
    [[gnu::always_inline]] void put(const Pieces&... pieces) {
        next = write_pieces(next, pieces...);
    }
};

// Writes piece by piece, each put with room of its own, so that what was put
// before a failed read stays. A put that would ask for more than
// OutputWriter::largest_piece writes its pieces one by one instead, and a
// piece over a text of any length (one with put_in_parts) in parts.
struct StreamOutput {
    OutputWriter& out;

    template <typename... Pieces>
    void put(const Pieces&... pieces) {
        const std::size_t room = (max_size_of(pieces) + ... + output_overstore);
        if (room > OutputWriter::largest_piece) [[unlikely]]
            (put_alone(pieces), ...);
        else
            put_within(room, pieces...);
    }

  private:
    template <typename... Pieces>
    void put_within(std::size_t room, const Pieces&... pieces) {
        char* const start = out.begin_piece(room);
        char* const next = write_pieces(start, pieces...);
        assert(static_cast<std::size_t>(next - start) <= room - output_overstore);
        out.end_piece(next);
    }

    template <typename Piece>
    void put_alone(const Piece& piece) {
        const std::size_t room = max_size_of(piece) + output_overstore;
        if constexpr (requires { piece.put_in_parts(*this); }) {
            if (room > OutputWriter::largest_piece) return piece.put_in_parts(*this);
        }
        put_within(room, piece);
    }
};

inline void OutputWriter::put(std::string_view text) { StreamOutput{*this}.put(Text{text}); }
