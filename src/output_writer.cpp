#include "output_writer.h"

#include <algorithm>
#include <charconv>
#include <cstring>

OutputWriter out;

void OutputWriter::put_long(std::string_view text) {
    while (!text.empty()) {
        if (used == capacity) flush_buffer();
        std::size_t chunk = std::min(text.size(), capacity - used);
        std::memcpy(output_buffer + used, text.data(), chunk);
        used += chunk;
        text.remove_prefix(chunk);
    }
}

char* digits::write_any_address(char* next, unsigned long value) {
    char hex[16];
    char* hex_end = std::to_chars(hex, hex + sizeof hex, value, 16).ptr;
    auto count = static_cast<std::size_t>(hex_end - hex);
    for (std::size_t pad = count; pad < 5; ++pad) *next++ = '0';
    std::memcpy(next, hex, count);
    next += count;
    *next++ = ' ';
    *next++ = '(';
    next = std::to_chars(next, next + 24, value).ptr;
    *next++ = ')';
    return next;
}

void OutputWriter::put_hex_byte_and_space(unsigned value) {
    char* start = begin_piece();
    std::memcpy(start, digits::table.hex_pairs + 2 * (value & 0xFF), 2);
    start[2] = ' ';
    end_piece(start + 3);
}

void OutputWriter::flush_buffer() {
    if (used != 0) {
        if (before_flush != nullptr) before_flush();
        // A failed write cannot be reported anywhere but here; the run goes on
        // and ends with the same status as ever.
        std::fwrite(output_buffer, 1, used, sink ? sink : stdout);
        used = 0;
    }
}

void OutputWriter::flush() {
    flush_buffer();
    std::fflush(sink ? sink : stdout);
}
