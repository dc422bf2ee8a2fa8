// The driver: one run of vardex, step by step, in the order of its output.
#include "vardex.h"

#include <cstdio>

#include "output_writer.h"
#include "python_export/python_emitter.h"
#include "python_export/source_files.h"
#include "reader/field_reader.h"
#include "reader/records.h"
#include "run_options.h"
#include "text_listing/text_printers.h"

namespace {

void check_magic_number() {
    if (read_magic_byte() != 0xDE || read_magic_byte() != 0xBF)
        fatal_error("Debugging info file does not begin with magic number DEBF.");
}

void print_version_line() {
    int major = read_byte();
    int minor = read_byte();
    unsigned revision = read_word();
    out.put("Debugging file from Ostrel ");
    out.put_decimal(major);
    out.put('.');
    out.put_decimal(minor);
    out.put(" (v ");
    out.put_decimal(revision);
    out.put(")\n");
}

void report_unknown_type(int type) {
    out.put("Unknown type ");
    out.put_decimal(type);
    out.put('\n');
}

// Reads records up to the End record. Every handler consumes its whole body,
// so the next byte is always a type byte.
void run_record_loop() {
    const bool python = options.mode == OutputMode::Python;
    for (;;) {
        int type = read_byte();
        if (type == End) return;
        if (type > last_record_type) {
            report_unknown_type(type);
        } else if (python) {
            python_handlers[type]();
        } else if (options.section_flags[type]) {
            text_printers[type]();
        } else {
            skip_record(type);
        }
    }
}

}  // namespace

int run_vardex(int argc, char** argv) {
    set_default_options();
    parse_switches(argc, argv);
    const bool python = options.mode == OutputMode::Python;
    if (python) {
        out.flush();  // help and notices show before input is awaited
        read_selection_lines(stdin);
        print_docstring_opening();
    } else {
        print_banner();
    }
    open_debug_file(options.debug_file_name);
    check_magic_number();
    print_version_line();
    if (python) print_python_preamble();
    run_record_loop();
    if (python) print_sources_list();
    out.flush();
    close_debug_file();
    return 1;
}
