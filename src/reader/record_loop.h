// The record loop: reads records up to the End record, each through the
// handler that a reading (an output mode, the model of the game) gives for
// its type, with the state of that reading.
#pragma once

#include "reader/field_reader.h"
#include "reader/records.h"

// What the record loop does with each record: the handler of its type when
// the type is selected and the reading has one, skip_record otherwise; a
// type byte above the last type goes to report_unknown.
template <typename Reading>
struct RecordLoop {
    const RecordHandler<Reading>* handlers;  // by type; null entries skip
    const bool* selected;                    // by type; null selects every type
    void (*report_unknown)(DebugFile& file, Reading& reading, int type);
};

namespace record_loop_detail {
template <typename Reading, int type>
void skip(DebugFile& file, Reading&) {
    skip_record_of<type>(file);
}
template <typename Reading, std::size_t... types>
constexpr std::array<RecordHandler<Reading>, last_record_type + 1> skippers(std::index_sequence<types...>) {
    return {nullptr, skip<Reading, types + 1>...};
}
}  // namespace record_loop_detail

// Reads records up to the End record. Every handler consumes its whole body,
// so the next byte is always a type byte. The handler of each type is chosen
// once for the reading, so that a record costs one call through the table.
template <typename Reading>
void read_records(DebugFile& file, const RecordLoop<Reading>& loop, Reading& reading) {
    auto handlers = record_loop_detail::skippers<Reading>(std::make_index_sequence<last_record_type>());
    for (int type = 1; type <= last_record_type; ++type)
        if (loop.handlers[type] != nullptr && (loop.selected == nullptr || loop.selected[type]))
            handlers[type] = loop.handlers[type];
    for (;;) {
        const unsigned type = file.byte();
        if (type - 1 < last_record_type) {
            handlers[type](file, reading);
        } else if (type == End) {
            return;
        } else if (loop.report_unknown != nullptr) {
            loop.report_unknown(file, reading, static_cast<int>(type));
        }
    }
}
