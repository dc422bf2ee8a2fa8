// Python mode: writes Python source that builds the game's objects for a
// consumer program, which defines the class qivobj and runs the text.
#pragma once

#include "python_export/source_files.h"
#include "reader/records.h"

struct CurrentObject {
    // The latest Object record was written, so its details complete it. Kept
    // from the Object record: a File record between the two must not make the
    // details of an unwritten object complete the previous one.
    bool selected;
    bool nameless;
    int file;
    StringField name;
    std::size_t name_length;
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

// The state of one run in Python mode, which the driver makes for it.
struct PythonExport {
    SelectionLists selection;
    SourceFileTable source_files;
    CurrentObject current;
    FileFacts file_facts[source_file_count];
};

// Starts a run with `state`, which the handlers below use; its selection
// lists are read before the first record.
void begin_python_export(PythonExport& state);

// Indexed by record type 0..17; entry 0 (End) is empty.
extern const RecordHandler python_handlers[18];

void print_docstring_opening();
void print_python_preamble();
void print_sources_list();
