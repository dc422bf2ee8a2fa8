#include "python_export/python_emitter.h"

#include <cstdint>
#include <cstring>
#include <string_view>

#include "escaping.h"
#include "output_writer.h"
#include "python_export/source_files.h"
#include "reader/field_reader.h"
#include "reader/records.h"
#include "record_printing.h"

namespace {

const FileFacts& facts_of(PythonExport& python, int file) {
    FileFacts& facts = python.file_facts[static_cast<unsigned char>(file)];
    if (!facts.known) {
        facts.known = true;
        facts.selected = is_selected(python.selection, python.source_files, file);
        facts.plain_path = is_plain(relative_path_of(python.source_files, file), '\\', '\'');
    }
    return facts;
}

// "%d" of a LineRef line minus 1, which is -1 for line 0.
struct ZeroBasedLine {
    int line;
    static constexpr std::size_t max_size() { return 5; }
    char* write(char* next) const {
        if (line == 0) return copy_literal(next, "-1");
        return digits::write_word_decimal(next, static_cast<std::uint16_t>(line - 1));
    }
};

// The relative path of a file between single quotes.
PythonPath path_of(PythonExport& python, int file) {
    return {relative_path_of(python.source_files, file), facts_of(python, file).plain_path};
}

// The two lines of a position, unless it has no file: its zero-based line
// and its character plus 3.
struct PositionLines {
    LineRef at;
    std::string_view line_variable;
    std::string_view character_variable;
    std::size_t max_size() const { return line_variable.size() + character_variable.size() + 5 + 5 + 2; }
    char* write(char* next) const {
        if (at.file == 0) return next;
        next = ZeroBasedLine{at.line}.write(Text{line_variable}.write(next));
        *next++ = '\n';
        next = Number{static_cast<std::uint16_t>(at.character + 3)}.write(Text{character_variable}.write(next));
        *next = '\n';
        return next + 1;
    }
};

constexpr auto print_object_start = [](auto& in, auto& o, PythonExport& python) {
    CurrentObject& object = python.current;
    in.word();
    object.name.assign(in.string());  // copied before the next read, which may refill the buffer
    const LineRef start = in.line_ref();
    in.line_ref();
    object.file = start.file;
    object.selected = facts_of(python, object.file).selected;
    if (!object.selected) return;
    const std::string_view name = object.name.view();
    object.nameless = name.starts_with("nameless_obj__");
    o.put("o=qivobj()\n");
    if (!object.nameless) o.put("o.obj_id='", PythonText{name, '\''}, "'\n");
    o.put("o.obj_source='", path_of(python, object.file), "'\no.obj_line=", ZeroBasedLine{start.line}, '\n');
};

constexpr auto print_object_completion = [](auto& in, auto& o, PythonExport& python) {
    in.word();
    std::string_view short_name = in.string();
    o.put("o.obj_short_name=\"", PythonText{short_name, '"'}, "\"\n");
    if (python.current.nameless) o.put("o.obj_id='\"", PythonText{short_name, '\''}, "\"'\n");
    o.put(PositionLines{in.line_ref(), "o.obj_with_line=", "o.obj_with_line_pos="});
    o.put(PositionLines{in.line_ref(), "o.obj_name_line=", "o.obj_name_line_pos="}, "o.obj_name_list=[");
    in.for_each_string([&](std::string_view word) { o.put('"', PythonText{word, '"'}, "\","); });
    o.put("]\no.obj_directions={");
    bool is_room = false;
    in.for_each_string([&](std::string_view exit) {
        o.put('\'', Direction{static_cast<unsigned char>(exit[0])}, "':'", PythonText{exit.substr(1), '\''}, "',");
        is_room = true;
    });
    o.put("}\no.obj_is_room=", is_room ? '1' : '0', "\nl.append(o)\nd['", PythonText{python.current.name.view(), '\''},
          "']=o\n");
};

// Clearing bit 0x20 folds the letters to upper case and turns a space into
// the end of the string, so "initialise" and "Initialise more" both match.
// The name has 32 bytes readable from its start.
bool is_initialise(std::string_view name) {
    constexpr char initialise[] = "INITIALISE";
    for (int i = 0; i < 10; ++i)
        if ((name.data()[i] & ~0x20) != initialise[i]) return false;
    return name.size() == 10 || (name.data()[10] & ~0x20) == 0;
}

constexpr auto print_initialise_marker = [](auto& in, auto& o, PythonExport& python) {
    in.word();
    LineRef start = in.line_ref();
    in.address();
    const bool initialise = is_initialise(in.string());  // before the next read, which may refill the buffer
    in.skip_list();
    if (!initialise) return;
    o.put("Zkelm_qivSource_initialise=('", path_of(python, start.file), "',", ZeroBasedLine{start.line}, ',',
          Number{static_cast<std::uint16_t>(start.character + 10)}, ")\n");
};

template <std::size_t size, typename In, typename Out>
void print_source_marker(In& in, Out& o, PythonExport& python, const char (&variable)[size]) {
    LineRef at = in.line_ref();
    o.put(variable, "=('", path_of(python, at.file), "',", ZeroBasedLine{at.line}, ")\n");
}

template <int type, auto printer>
constexpr RecordHandler<PythonExport> in_python = print_record<PythonExport, type, printer>;

void read_file_record_and_forget_facts(DebugFile& file, PythonExport& python) {
    note_source_file(file, python.source_files);
    std::memset(python.file_facts, 0, sizeof python.file_facts);
}

void print_object_completion_if_selected(DebugFile& file, PythonExport& python) {
    if (!python.current.selected) return skip_record_of<ObjectDetails>(file);
    in_python<ObjectDetails, print_object_completion>(file, python);
}

}  // namespace

constexpr RecordHandlers<PythonExport> python_handlers = [] {
    RecordHandlers<PythonExport> handlers{};
    handlers[File] = read_file_record_and_forget_facts;
    handlers[Object] = in_python<Object, print_object_start>;
    handlers[Routine] = in_python<Routine, print_initialise_marker>;
    handlers[ObjectDetails] = print_object_completion_if_selected;
    handlers[DirectiveEnd] = in_python<DirectiveEnd, [](auto& in, auto& o, PythonExport& python) {
        print_source_marker(in, o, python, "Zkelm_qivSource_mainEnd");
    }>;
    handlers[LibraryInclude] = in_python<LibraryInclude, [](auto& in, auto& o, PythonExport& python) {
        print_source_marker(in, o, python, "Zkelm_qivSource_includeQuibrel");
    }>;
    return handlers;
}();

void export_records(DebugFile& file, PythonExport& python, UnknownTypeHandler<PythonExport> report_unknown) {
    read_records<python_handlers>(file, python, nullptr, report_unknown);
}

void print_docstring_opening(OutputWriter& out) {
    out.put(
        "\"\"\"\n"
        "Ostrel debugging info extracted by Vardex\n"
        "  Objects, source positions, name words and exits of one compiled game,\n"
        "  read from the debugging file that the compiler wrote beside it.\n"
        "\n");
}

void print_python_preamble(OutputWriter& out) {
    out.put(
        "\"\"\"\n\nZkelm_qivObjList = []\nZkelm_qivObjDict = {}\n\n"
        "l=Zkelm_qivObjList\nd=Zkelm_qivObjDict\n\n");
}

void print_sources_list(PythonExport& python) {
    StreamOutput o{python.out};
    o.put("Zkelm_qivSources=[");
    for (int file = 1; file <= python.source_files.last_file_number; ++file)
        if (is_listed_in_sources(python.selection, python.source_files, file)) o.put('\'', path_of(python, file), "',");
    o.put("]\n");
}
