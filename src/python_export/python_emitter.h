// Python mode: writes Python source that builds the game's objects for a
// consumer program, which defines the class qivobj and runs the text.
#pragma once

#include "escaping.h"
#include "python_export/source_files.h"
#include "reader/record_loop.h"
#include "reader/records.h"
#include "record_printing.h"

struct CurrentObject {
    // The latest Object record was written, so its details complete it. Kept
    // from the Object record: a File record between the two must not make the
    // details of an unwritten object complete the previous one.
    bool selected;
    bool nameless;
    int file;
    Name name;
};

// What every object asks of its file, found once per file number: whether
// it is selected, and whether its relative path shows as it is between
// single quotes. Forgotten at every File record, which may change a file's
// names.
struct FileFacts {
    bool known;
    bool selected;
    bool plain_path;
};

// The state of one run in Python mode, which the driver makes for it; its
// selection lists are read before the first record.
struct PythonExport {
    // At most 12 bytes for a byte read (the two lines of a position, 46
    // bytes for 4), beside the current object's name and a path, at most 4
    // bytes for each of their 255.
    static constexpr OutputBound output_bound{12, 2 * python_bytes_per_byte * 255 + 256};

    OutputWriter& out;
    SelectionLists selection{};
    SourceFileTable source_files{};
    CurrentObject current{};
    FileFacts file_facts[source_file_count]{};

    void begin_streamed_record(DebugFile&, int) {}
    void end_streamed_record() {}
};

// Reads the records up to the End record, writing the objects and markers.
void export_records(DebugFile& file, PythonExport& python, UnknownTypeHandler<PythonExport> report_unknown);

void print_docstring_opening(OutputWriter& out);
void print_python_preamble(OutputWriter& out);
void print_sources_list(PythonExport& python);
