// Runs a record printer, written once for both readers and both outputs:
// first over the bytes the input buffer holds, into one output reservation
// sized for the record; if a read finds its bytes missing there (the record
// runs past the buffer, or the file ends inside it), nothing is taken or
// written and the same printer runs again over the stream, piece by piece,
// so that a file cut inside a record keeps what was printed before the cut.
#pragma once

#include <cassert>
#include <cstddef>
#include <cstdint>

#include "output_writer.h"
#include "reader/field_reader.h"
#include "reader/records.h"

// The name of a direction index, as a piece of a record's output.
struct Direction {
    unsigned char index;
    static constexpr std::size_t max_size() { return sizeof(DirectionName::text); }
    char* write(char* next) const { return write_direction_name(next, index); }
};

// A source position: the part of `files` for its file byte, the line, the
// part of `characters` for its character byte.
template <auto& files, auto& characters>
struct PositionOf {
    LineRef at;
    static constexpr std::size_t max_size() {
        return files.longest + digits::most_decimal_digits<std::uint16_t> + characters.longest;
    }
    char* write(char* next) const {
        next = digits::copy_byte_part(next, files.part[static_cast<std::uint8_t>(at.file)]);
        next = digits::write_word_decimal(next, static_cast<std::uint16_t>(at.line));
        return digits::copy_byte_part(next, characters.part[static_cast<std::uint8_t>(at.character)]);
    }
};

// The most output a mode writes for a record: `per_input_byte` for each byte
// the record takes from the input (its type byte included), and `fixed`
// beside (texts of earlier records, such as Python's paths and object name,
// and output_overstore).
struct OutputBound {
    std::size_t per_input_byte;
    std::size_t fixed;
};

// Most records fit the first reservation; a longer one is tried once more
// with the whole output buffer before it is printed piece by piece.
constexpr std::size_t record_reservation = 8 * 1024;

// The input bytes a printer given `bytes` of a record may have written
// output for beyond them: the type byte, read before it; the byte past the
// end where a failed string or count leaves the reader; and the fixed-size
// fields read after that, before the failure is tested.
constexpr std::size_t unread_allowance = 1 + 1 + BufferedFields::max_read_past_failure;

// A Header record's bytes are the longest run of fixed-size fields.
static_assert(BufferedFields::max_read_past_failure >= game_header_size);

// The output room for a printer given `bytes` of a record.
template <typename Mode>
constexpr std::size_t room_for(std::size_t bytes) {
    return Mode::output_bound.fixed + Mode::output_bound.per_input_byte * (bytes + unread_allowance);
}

// How many bytes of a record the buffered reader may take for an output
// reservation of `reservation` bytes: the inverse of room_for.
template <typename Mode>
constexpr std::size_t bytes_for(std::size_t reservation) {
    return (reservation - Mode::output_bound.fixed) / Mode::output_bound.per_input_byte - unread_allowance;
}

// The record is first tried within the room the output buffer has left, when
// that room holds at least this many bytes of it, so that the buffer goes
// out full rather than as soon as a whole reservation no longer fits; a
// record longer than that room is tried again after a flush.
constexpr std::size_t least_bytes_within_room_left = 64;

template <typename Mode, typename Printer>
[[gnu::always_inline]] inline bool print_in_one_piece(DebugFile& file, Mode& mode, Printer printer, std::size_t limit,
                                                      bool within_room_left) {
    const auto window = static_cast<std::size_t>(file.end - file.next);
    std::size_t bytes = window < limit ? window : limit;
    if (within_room_left) {
        const std::size_t room = OutputWriter::capacity - mode.out.used;
        if (room >= room_for<Mode>(least_bytes_within_room_left) && room < room_for<Mode>(bytes))
            bytes = bytes_for<Mode>(room);
    }
    char* const start = mode.out.begin_piece(room_for<Mode>(bytes));
    BufferedFields in{file.next, file.next + bytes};
    ReservedOutput o{start};
    printer(in, o, mode);
    if (in.failed()) return false;
    // Within the bound for the bytes read and the type byte.
    assert(static_cast<std::size_t>(o.next - start) + output_overstore <=
           Mode::output_bound.fixed +
               Mode::output_bound.per_input_byte * static_cast<std::size_t>(in.next - file.next + 1));
    file.take_up_to(in.next);
    mode.out.end_piece(o.next);
    return true;
}

// A record that the buffer does not hold within the first reservation.
template <typename Mode, int type, auto printer>
[[gnu::noinline, gnu::cold]] void print_long_or_cut_record(DebugFile& file, Mode& mode) {
    // Within the room left if it holds the record, else after a flush.
    auto print_whole = [&] {
        constexpr std::size_t limit = bytes_for<Mode>(OutputWriter::capacity);
        return print_in_one_piece(file, mode, printer, limit, true) ||
               print_in_one_piece(file, mode, printer, limit, false);
    };
    if (static_cast<std::size_t>(file.end - file.next) > bytes_for<Mode>(record_reservation) && print_whole()) return;
    // A record across the buffer's end: read on, and try it whole again.
    if (file.refill_keeping_unread() && print_whole()) return;
    mode.begin_streamed_record(file, type);
    StreamOutput o{mode.out};
    printer(file, o, mode);
    mode.end_streamed_record();
}

// A printer is called as printer(in, o, mode), with the state of its mode,
// which holds the writer, `out`.
// Each mode names its bound and what it does around a record printed piece
// by piece (JSON mode marks its line, to take it back on a fatal error).
// Flattened, so that the printer's reads and writes stay in registers.
template <typename Mode, int type, auto printer>
[[gnu::flatten]] void print_record(DebugFile& file, Mode& mode) {
    if (!print_in_one_piece(file, mode, printer, bytes_for<Mode>(record_reservation), true))
        print_long_or_cut_record<Mode, type, printer>(file, mode);
}
