#include "reader/record_loop.h"

#include "reader/field_reader.h"

// Every handler consumes its whole body, so the next byte is always a type
// byte. The handler of each type is chosen once for the run, so that a record
// costs one call through the table.
void run_record_loop(const RecordLoop& loop) {
    RecordHandler handlers[last_record_type + 1] = {};
    for (int type = 1; type <= last_record_type; ++type)
        handlers[type] = loop.selected == nullptr || loop.selected[type] ? loop.handlers[type] : record_skippers[type];
    void (*const report_unknown)(int) = loop.report_unknown;
    for (;;) {
        int type = read_byte();
        if (type == End) return;
        if (type > last_record_type) {
            if (report_unknown != nullptr) report_unknown(type);
        } else {
            handlers[type]();
        }
    }
}
