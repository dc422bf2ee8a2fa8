// Looking for the 0 bytes that end strings and lists in the input buffer,
// many bytes at a time, with no branch on where they stand.
#pragma once

#include <bit>
#include <cstdint>
#include <string_view>
#if defined(__SSE2__)
#include <emmintrin.h>
#endif

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

// The first 0 byte from `from` on, or `end` when there is none before it.
// Most strings are names shorter than 32 bytes, so the bytes are tested 32 at
// a time, with no branch on where among them the 0 byte is (a branch on a
// name's length would be mispredicted for every other name). This may look
// up to 31 bytes past `end`, which stands at most at the window's end:
// input_padding covers that.
inline const unsigned char* find_terminator(const unsigned char* from, const unsigned char* end) {
    for (; from < end; from += 32) {
        std::uint32_t zeros = zero_byte_mask(from);
        if (zeros != 0) {
            const unsigned char* zero = from + std::countr_zero(zeros);
            return zero < end ? zero : end;
        }
    }
    return end;
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

// The list at `cursor` when the bytes up to `end` hold it within 64 bytes;
// false, with nothing changed, otherwise. Its items are then found from the
// bits alone, with no search from one item to the next: the walk through a
// record's lists costs one step a list rather than one a string.
inline bool list_ahead(const unsigned char* cursor, const unsigned char* end, ListAhead& list) {
    std::uint64_t zeros = zero_byte_mask_64(cursor);
    // The closing empty string is the first 0 byte that starts the list or
    // follows another 0 byte.
    std::uint64_t empty_strings = zeros & (zeros << 1 | 1);
    if (empty_strings == 0) return false;
    auto closing = static_cast<unsigned>(std::countr_zero(empty_strings));
    if (closing >= static_cast<std::size_t>(end - cursor)) return false;
    list.terminators = zeros & ((std::uint64_t{1} << closing) - 1);
    list.end = closing;
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
