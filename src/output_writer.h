// The one writer of standard output: a fixed buffer written out in large
// blocks, flushed before every exit (fatal errors included).
#pragma once

#include <cstddef>
#include <cstdio>
#include <cstring>
#include <string_view>

struct OutputWriter {
    static constexpr std::size_t capacity = 64 * 1024;
    // Room kept free at the end so that one small formatted piece (a number,
    // an address) can always be written without a capacity check per digit.
    static constexpr std::size_t piece_reserve = 64;

    char buffer[capacity];
    std::size_t used = 0;
    std::FILE* sink = nullptr;  // stdout unless a harness redirects it

    void put(char c) {
        if (used == capacity) flush_buffer();
        buffer[used++] = c;
    }
    void put(std::string_view text) {
        if (text.size() <= capacity - used) {
            std::memcpy(buffer + used, text.data(), text.size());
            used += text.size();
        } else {
            put_long(text);
        }
    }
    void put_decimal(long value);
    // "%05lx (%ld)": at least five lower-case hex digits, then the decimal value.
    void put_address(unsigned long value);
    // "%02x " for one byte.
    void put_hex_byte_and_space(unsigned value);

    // Writes the buffer to the sink.
    void flush_buffer();
    // Writes the buffer and flushes the sink's own buffering too.
    void flush();

  private:
    void put_long(std::string_view text);
    char* reserve_piece() {
        if (capacity - used < piece_reserve) flush_buffer();
        return buffer + used;
    }
};

extern OutputWriter out;
