// The record loop: reads records up to the End record, each through the
// handler that a reading (an output mode, the model of the game, a walk)
// gives for its type, with the state of that reading.
#pragma once

#include <type_traits>

#include "reader/field_reader.h"
#include "reader/records.h"

// A reading's handlers by record type: a null entry skips the record.
template <typename Reading>
using RecordHandlers = std::array<RecordHandler<Reading>, last_record_type + 1>;

// What a reading does with a type byte above the last type (no body follows).
template <typename Reading>
using UnknownTypeHandler = void (*)(DebugFile& file, Reading& reading, int type);

namespace record_loop_detail {
template <auto& handlers, int type, typename Reading>
[[gnu::always_inline]] inline void handle(DebugFile& file, Reading& reading, const bool* selected) {
    // A plain test, folded all the same: the table is constant.
    if (handlers[type] == nullptr || (selected != nullptr && !selected[type])) return skip_record_of<type>(file);
    handlers[type](file, reading);
}
}  // namespace record_loop_detail

// Reads records up to the End record: each to the handler of its type when
// `selected` (by type; null selects all) has it, skipped otherwise. Every
// handler consumes its whole body, so the next byte is always a type byte.
// The handlers are known at compile time and the loop is flattened, so that
// each is called, inlined, where the loop tests its type: a record costs no
// call of its own (measured: 4.65 instructions per byte of the default
// listing through a table of handlers, 4.49 inlined).
template <auto& handlers, typename Reading>
[[gnu::flatten]] void read_records(DebugFile& file, Reading& reading, const bool* selected = nullptr,
                                   std::type_identity_t<UnknownTypeHandler<Reading>> report_unknown = nullptr) {
    using record_loop_detail::handle;
    for (;;) {
        switch (const int type = file.type_byte()) {
            case End:
                return;
            case 1:
                handle<handlers, 1>(file, reading, selected);
                break;
            case 2:
                handle<handlers, 2>(file, reading, selected);
                break;
            case 3:
                handle<handlers, 3>(file, reading, selected);
                break;
            case 4:
                handle<handlers, 4>(file, reading, selected);
                break;
            case 5:
                handle<handlers, 5>(file, reading, selected);
                break;
            case 6:
                handle<handlers, 6>(file, reading, selected);
                break;
            case 7:
                handle<handlers, 7>(file, reading, selected);
                break;
            case 8:
                handle<handlers, 8>(file, reading, selected);
                break;
            case 9:
                handle<handlers, 9>(file, reading, selected);
                break;
            case 10:
                handle<handlers, 10>(file, reading, selected);
                break;
            case 11:
                handle<handlers, 11>(file, reading, selected);
                break;
            case 12:
                handle<handlers, 12>(file, reading, selected);
                break;
            case 13:
                handle<handlers, 13>(file, reading, selected);
                break;
            case 14:
                handle<handlers, 14>(file, reading, selected);
                break;
            case 15:
                handle<handlers, 15>(file, reading, selected);
                break;
            case 16:
                handle<handlers, 16>(file, reading, selected);
                break;
            case 17:
                handle<handlers, 17>(file, reading, selected);
                break;
            default:
                if (report_unknown != nullptr) report_unknown(file, reading, type);
        }
    }
}
