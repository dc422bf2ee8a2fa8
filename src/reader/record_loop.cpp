#include "reader/record_loop.h"

#include "reader/field_reader.h"

namespace {

// Skips a record of a type fixed at compile time, with no dispatch on it.
template <int type>
void skip_record_of() {
    skip_record(type);
}

constexpr RecordHandler record_skippers[last_record_type + 1] = {
    nullptr,
    skip_record_of<1>,
    skip_record_of<2>,
    skip_record_of<3>,
    skip_record_of<4>,
    skip_record_of<5>,
    skip_record_of<6>,
    skip_record_of<7>,
    skip_record_of<8>,
    skip_record_of<9>,
    skip_record_of<10>,
    skip_record_of<11>,
    skip_record_of<12>,
    skip_record_of<13>,
    skip_record_of<14>,
    skip_record_of<15>,
    skip_record_of<16>,
    skip_record_of<17>,
};

}  // namespace

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
