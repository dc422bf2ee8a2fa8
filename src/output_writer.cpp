#include "output_writer.h"

#include <algorithm>
#include <charconv>
#include <cstring>

OutputWriter out;

namespace {

constexpr char hex_digits[] = "0123456789abcdef";

}  // namespace

void OutputWriter::put_long(std::string_view text) {
    while (!text.empty()) {
        if (used == capacity) flush_buffer();
        std::size_t chunk = std::min(text.size(), capacity - used);
        std::memcpy(buffer + used, text.data(), chunk);
        used += chunk;
        text.remove_prefix(chunk);
    }
}

void OutputWriter::put_decimal(long value) {
    char* start = reserve_piece();
    used += static_cast<std::size_t>(std::to_chars(start, start + piece_reserve, value).ptr - start);
}

void OutputWriter::put_address(unsigned long value) {
    char* start = reserve_piece();
    char digits[16];
    char* digits_end = std::to_chars(digits, digits + sizeof digits, value, 16).ptr;
    std::size_t count = static_cast<std::size_t>(digits_end - digits);
    char* next = start;
    for (std::size_t pad = count; pad < 5; ++pad) *next++ = '0';
    std::memcpy(next, digits, count);
    next += count;
    *next++ = ' ';
    *next++ = '(';
    next = std::to_chars(next, start + piece_reserve, value).ptr;
    *next++ = ')';
    used += static_cast<std::size_t>(next - start);
}

void OutputWriter::put_hex_byte_and_space(unsigned value) {
    char* start = reserve_piece();
    start[0] = hex_digits[(value >> 4) & 0xF];
    start[1] = hex_digits[value & 0xF];
    start[2] = ' ';
    used += 3;
}

void OutputWriter::flush_buffer() {
    if (used != 0) {
        // A failed write cannot be reported anywhere but here; the run goes on
        // and ends with the same status as ever.
        std::fwrite(buffer, 1, used, sink ? sink : stdout);
        used = 0;
    }
}

void OutputWriter::flush() {
    flush_buffer();
    std::fflush(sink ? sink : stdout);
}
