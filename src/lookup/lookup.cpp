// Lookups take three kinds of reading of the file, each through the record
// loop: one that learns the source files, the code area and where each
// routine's code lies; one that finds the sequence points the lookups need;
// and, for each source line asked for, one from its first sequence point on
// that writes where its code starts. Memory stays the same whatever the file
// holds: a table of the 256 file numbers and one of the 65536 routine numbers.
#include "lookup/lookup.h"

#include <charconv>
#include <cstdint>
#include <cstring>
#include <initializer_list>
#include <string_view>
#include <utility>

#include "escaping.h"
#include "json_export/json_writer.h"
#include "output_writer.h"
#include "reader/field_reader.h"
#include "reader/record_loop.h"
#include "reader/records.h"
#include "run_options.h"

namespace {

enum class LookupKind { Malformed, Address, CodeOffset, SourceLine };

struct Lookup {
    std::string_view text;  // as given after "-lookup="
    LookupKind kind;
    unsigned long value;    // Address, CodeOffset: as given
    std::string_view file;  // SourceLine
    unsigned line;

    // Address and CodeOffset, once the routines are known.
    bool below_code_area;
    bool in_routine;
    unsigned routine;
    unsigned long code_offset;
    unsigned long offset_in_routine;
    bool has_point;
    unsigned point_offset;
    LineRef point;

    // SourceLine: the file numbers whose File record FILE names (bit N of
    // word N / 64), and the first SequencePoints record holding the line.
    std::uint64_t files[4];
    bool has_code;
    std::uint64_t first_record_offset;
};

Lookup lookups[lookup_capacity];
int lookup_total;

// The last File record of each file number.
struct FileNames {
    bool declared;
    StringField include_name;
    StringField file_name;
    std::size_t include_name_length;
    std::size_t file_name_length;
};

FileNames file_names[256];

// The first Routine record of each routine number, and the first RoutineEnd
// of that number, wherever it stands.
struct RoutineSpan {
    bool has_start;
    bool has_end;
    unsigned long start;  // code offsets
    unsigned long end;
    std::uint64_t body_offset;  // of the Routine record, to read its name again
};

constexpr int routine_number_count = 65536;
RoutineSpan routines[routine_number_count];
// Routine numbers in the order of their Routine records.
std::uint16_t routines_in_file_order[routine_number_count];
int routine_record_count;
// Routines that hold the code offset of an address lookup, and lines of source-line lookups.
bool wanted_routines[routine_number_count];
bool wanted_lines[65536];

bool has_code_area;
unsigned long code_area_start;
int answering;  // the source-line lookup being answered

bool json_answers() { return options.mode == OutputMode::Json; }

// --- Reading the lookups ------------------------------------------------

// An address: decimal, or hexadecimal after "0x" or "$"; at most 24 bits.
bool parse_address(std::string_view text, unsigned long& value) {
    int base = 10;
    if (text.starts_with("0x") || text.starts_with("0X")) {
        base = 16;
        text.remove_prefix(2);
    } else if (text.starts_with('$')) {
        base = 16;
        text.remove_prefix(1);
    }
    if (text.empty()) return false;
    auto [end, error] = std::from_chars(text.data(), text.data() + text.size(), value, base);
    return error == std::errc() && end == text.data() + text.size() && value <= 0xFFFFFF;
}

void parse_lookup(Lookup& lookup, std::string_view text) {
    lookup = {};
    lookup.text = text;
    if (text.starts_with('+') && parse_address(text.substr(1), lookup.value)) {
        lookup.kind = LookupKind::CodeOffset;
    } else if (parse_address(text, lookup.value)) {
        lookup.kind = LookupKind::Address;
    } else if (std::size_t colon = text.rfind(':'); colon != std::string_view::npos && colon != 0) {
        std::string_view line = text.substr(colon + 1);
        unsigned long number = 0;
        auto [end, error] = std::from_chars(line.data(), line.data() + line.size(), number);
        if (line.empty() || error != std::errc() || end != line.data() + line.size() || number == 0 || number > 0xFFFF)
            return;
        lookup.kind = LookupKind::SourceLine;
        lookup.file = text.substr(0, colon);
        lookup.line = static_cast<unsigned>(number);
    }
}

// --- First reading: files, the code area and the routines -----------------

void learn_file() {
    FileNames& names = file_names[read_byte()];
    names.declared = true;
    names.include_name_length = read_string(names.include_name);
    names.file_name_length = read_string(names.file_name);
}

void learn_code_area() {
    StringField name;
    for (std::size_t length; (length = read_string(name)) != 0;) {
        unsigned long address = read_address();
        if (!has_code_area && std::string_view(name, length) == "code area") {
            has_code_area = true;
            code_area_start = address;
        }
    }
}

void learn_routine_start() {
    std::uint64_t body_offset = input_offset();
    unsigned number = read_word();
    skip_bytes(4);
    unsigned long start = read_address();
    skip_string();
    skip_string_list();
    RoutineSpan& routine = routines[number];
    if (routine.has_start) return;
    routine.has_start = true;
    routine.start = start;
    routine.body_offset = body_offset;
    routines_in_file_order[routine_record_count++] = static_cast<std::uint16_t>(number);
}

void learn_routine_end() {
    unsigned number = read_word();
    skip_bytes(4);
    unsigned long end = read_address();
    RoutineSpan& routine = routines[number];
    if (routine.has_end) return;
    routine.end = end;
    routine.has_end = true;
}

// --- Between the readings -------------------------------------------------

bool names_file(const FileNames& names, std::string_view file) {
    std::string_view path(names.file_name, names.file_name_length);
    std::size_t last_separator = path.find_last_of("/\\");
    std::string_view last_component = last_separator == std::string_view::npos ? path : path.substr(last_separator + 1);
    return file == std::string_view(names.include_name, names.include_name_length) || file == path ||
           file == last_component;
}

void place_in_routine(Lookup& lookup) {
    if (lookup.kind == LookupKind::Address) {
        if (!has_code_area) return;
        if (lookup.value < code_area_start) {
            lookup.below_code_area = true;
            return;
        }
        lookup.code_offset = lookup.value - code_area_start;
    } else {
        lookup.code_offset = lookup.value;
    }
    for (int i = 0; i < routine_record_count; ++i) {
        unsigned number = routines_in_file_order[i];
        const RoutineSpan& routine = routines[number];
        if (routine.has_end && routine.start <= lookup.code_offset && lookup.code_offset < routine.end) {
            lookup.in_routine = true;
            lookup.routine = number;
            lookup.offset_in_routine = lookup.code_offset - routine.start;
            wanted_routines[number] = true;
            return;
        }
    }
}

void find_source_files(Lookup& lookup) {
    for (int number = 0; number < 256; ++number)
        if (file_names[number].declared && names_file(file_names[number], lookup.file))
            lookup.files[number / 64] |= std::uint64_t{1} << (number % 64);
    wanted_lines[lookup.line] = true;
}

bool in_files(const Lookup& lookup, int file) { return (lookup.files[file / 64] >> (file % 64)) & 1; }

// --- Second reading: the sequence points the lookups need -----------------

void find_sequence_points() {
    std::uint64_t record_offset = input_offset() - 1;  // at the type byte
    unsigned routine = read_word();
    unsigned count = read_word();
    // Code can be placed only in a routine whose start is known.
    const bool placed = routines[routine].has_start;
    for (unsigned entry = 0; entry < count; ++entry) {
        LineRef at = read_line_ref();
        unsigned offset = read_word();
        if (wanted_routines[routine]) {
            for (int i = 0; i < lookup_total; ++i) {
                Lookup& lookup = lookups[i];
                // The greatest offset not above; of equal ones, the first.
                if (lookup.in_routine && lookup.routine == routine && offset <= lookup.offset_in_routine &&
                    (!lookup.has_point || offset > lookup.point_offset)) {
                    lookup.has_point = true;
                    lookup.point_offset = offset;
                    lookup.point = at;
                }
            }
        }
        if (placed && wanted_lines[at.line]) {
            for (int i = 0; i < lookup_total; ++i) {
                Lookup& lookup = lookups[i];
                if (lookup.kind == LookupKind::SourceLine && !lookup.has_code && lookup.line == unsigned(at.line) &&
                    in_files(lookup, at.file)) {
                    lookup.has_code = true;
                    lookup.first_record_offset = record_offset;
                }
            }
        }
    }
}

// --- Writing the answers --------------------------------------------------

// Names and paths in a text answer keep it one line: control bytes are
// written as \xNN.
void put_answer_text(std::string_view text) {
    for (char c : text) {
        auto byte = static_cast<unsigned char>(c);
        if (byte >= 0x20 && byte != 0x7F) {
            out.put(c);
            continue;
        }
        out.end_piece(write_hex_escape(out.begin_piece(), byte));
    }
}

void put_hex_address(unsigned long address) {
    char* next = out.begin_piece();
    *next++ = '0';
    *next++ = 'x';
    out.end_piece(std::to_chars(next, next + 24, address, 16).ptr);
}

void put_address_as_given(const Lookup& lookup) {
    if (lookup.kind == LookupKind::CodeOffset) out.put('+');
    put_hex_address(lookup.value);
}

// The file name of a file number's File record, or the number.
void put_path(int file) {
    const FileNames& names = file_names[file & 0xFF];
    std::string_view path(names.file_name, names.file_name_length);
    char number[4];
    if (!names.declared)
        path = {number, static_cast<std::size_t>(std::to_chars(number, number + 4, file).ptr - number)};
    if (json_answers())
        json::put_string(path);
    else
        put_answer_text(path);
}

void put_json_number(std::string_view member, unsigned long value) {
    out.put(',');
    out.put('"');
    out.put(member);
    out.put("\":");
    out.put_decimal(static_cast<long>(value));
}

void open_json_answer(const Lookup& lookup, bool found) {
    out.put("{\"kind\":\"lookup\",\"lookup\":");
    json::put_string(lookup.text);
    out.put(found ? ",\"found\":true" : ",\"found\":false");
}

// PATH:LINE:CHAR in text, or its members in JSON.
void put_position(LineRef at) {
    if (json_answers()) {
        put_json_number("file", static_cast<unsigned>(at.file));
        out.put(",\"path\":");
        put_path(at.file);
        put_json_number("line", static_cast<unsigned>(at.line));
        put_json_number("char", static_cast<unsigned>(at.character));
        return;
    }
    put_path(at.file);
    out.put(':');
    out.put_decimal(at.line);
    out.put(':');
    out.put_decimal(at.character);
    out.put(": ");
}

struct RoutineStart {
    LineRef at;
    StringField name;
    std::size_t name_length;
};

// Reads the Routine record of `number` again, and comes back.
void read_routine_start(unsigned number, RoutineStart& start) {
    std::uint64_t resume_offset = input_offset();
    if (!seek_input(routines[number].body_offset)) fatal_error("I/O failure: can't read from debugging info file");
    read_word();
    start.at = read_line_ref();
    read_address();
    start.name_length = read_string(start.name);
    if (!seek_input(resume_offset)) fatal_error("I/O failure: can't read from debugging info file");
}

void put_routine(const RoutineStart& start, unsigned number) {
    std::string_view name(start.name, start.name_length);
    if (json_answers()) {
        out.put(",\"routine\":");
        json::put_string(name);
        put_json_number("routine_number", number);
        return;
    }
    out.put(" in routine ");
    put_answer_text(name);
    out.put(" (");
    out.put_decimal(number);
    out.put(')');
}

constexpr std::string_view malformed_advice = ": give an address, +offset or FILE:LINE";
constexpr std::string_view no_code_area = ": no code area in the memory map; give +OFFSET";

bool answer_malformed(const Lookup& lookup) {
    if (json_answers()) {
        open_json_answer(lookup, false);
        out.put(",\"error\":\"Bad lookup ");
        json::put_string_contents(lookup.text);
        json::put_string_contents(malformed_advice);
        out.put("\"}\n");
    } else {
        out.put("Bad lookup ");
        put_answer_text(lookup.text);
        out.put(malformed_advice);
        out.put('\n');
    }
    return false;
}

bool answer_address(const Lookup& lookup) {
    const bool found = lookup.in_routine;
    RoutineStart start;
    if (found) read_routine_start(lookup.routine, start);
    if (json_answers()) {
        open_json_answer(lookup, found);
        put_json_number("address", lookup.value);
        if (lookup.kind == LookupKind::CodeOffset || (has_code_area && !lookup.below_code_area))
            put_json_number("code_offset", lookup.code_offset);
        if (lookup.kind == LookupKind::Address && !has_code_area) {
            out.put(",\"error\":\"");
            json::put_string_contents(no_code_area.substr(2));
            out.put("\"");
        }
    }
    if (!found) {
        if (json_answers()) {
            out.put("}\n");
            return false;
        }
        put_address_as_given(lookup);
        out.put(lookup.kind == LookupKind::Address && !has_code_area ? no_code_area : ": not in any routine");
        out.put('\n');
        return false;
    }
    put_position(lookup.has_point ? lookup.point : start.at);
    if (json_answers()) {
        put_routine(start, lookup.routine);
        put_json_number("offset_in_routine", lookup.offset_in_routine);
        out.put("}\n");
        return true;
    }
    put_address_as_given(lookup);
    out.put(" is");
    put_routine(start, lookup.routine);
    out.put(", ");
    out.put_decimal(static_cast<long>(lookup.offset_in_routine));
    out.put(" bytes in\n");
    return true;
}

// In the readings from a source-line lookup's first sequence point on: one
// answer line for each sequence point of its line.
void write_code_of_line() {
    const Lookup& lookup = lookups[answering];
    unsigned routine = read_word();
    unsigned count = read_word();
    if (!routines[routine].has_start) {
        skip_bytes(6ul * count);
        return;
    }
    for (unsigned entry = 0; entry < count; ++entry) {
        LineRef at = read_line_ref();
        unsigned offset = read_word();
        if (unsigned(at.line) != lookup.line || !in_files(lookup, at.file)) continue;
        RoutineStart start;
        read_routine_start(routine, start);
        unsigned long code_offset = routines[routine].start + offset;
        unsigned long address = has_code_area ? code_area_start + code_offset : code_offset;
        if (json_answers()) {
            open_json_answer(lookup, true);
            put_json_number("address", address);
            put_json_number("code_offset", code_offset);
            put_routine(start, routine);
            put_json_number("offset_in_routine", offset);
            put_position(at);
            out.put("}\n");
            continue;
        }
        put_position(at);
        if (!has_code_area) out.put('+');
        put_hex_address(address);
        put_routine(start, routine);
        out.put('\n');
    }
}

// The handlers of one reading of the file for lookups, and the record types it reads.
struct LookupReading {
    RecordHandler handlers[18];
    bool selected[18];
};

constexpr LookupReading reading_of(std::initializer_list<std::pair<RecordType, RecordHandler>> kinds) {
    LookupReading reading{};
    for (auto [type, handler] : kinds) {
        reading.handlers[type] = handler;
        reading.selected[type] = true;
    }
    return reading;
}

void read_records_from(std::uint64_t offset, const LookupReading& reading) {
    if (!seek_input(offset)) fatal_error("I/O failure: can't read from debugging info file");
    run_record_loop({reading.handlers, reading.selected, nullptr});
}

constexpr LookupReading learning = reading_of({{File, learn_file},
                                               {Routine, learn_routine_start},
                                               {MemoryMap, learn_code_area},
                                               {RoutineEnd, learn_routine_end}});
constexpr LookupReading finding = reading_of({{SequencePoints, find_sequence_points}});
constexpr LookupReading answering_lines = reading_of({{SequencePoints, write_code_of_line}});

bool answer_source_line(int index) {
    const Lookup& lookup = lookups[index];
    if (!lookup.has_code) {
        if (json_answers()) {
            open_json_answer(lookup, false);
            out.put("}\n");
        } else {
            put_answer_text(lookup.text);
            out.put(": no code\n");
        }
        return false;
    }
    answering = index;
    read_records_from(lookup.first_record_offset, answering_lines);
    return true;
}

}  // namespace

int answer_lookups() {
    if (options.lookup_count > lookup_capacity) fatal_error("Too many lookups: at most 4096 in one run");
    lookup_total = options.lookup_count;
    for (int i = 0; i < lookup_total; ++i) parse_lookup(lookups[i], options.lookups[i]);
    if (!input_is_seekable()) fatal_error("Lookups need a debugging file that can be read twice, not a pipe");
    const std::uint64_t first_record_offset = input_offset();

    read_records_from(first_record_offset, learning);

    for (int i = 0; i < lookup_total; ++i) {
        if (lookups[i].kind == LookupKind::Address || lookups[i].kind == LookupKind::CodeOffset)
            place_in_routine(lookups[i]);
        else if (lookups[i].kind == LookupKind::SourceLine)
            find_source_files(lookups[i]);
    }

    read_records_from(first_record_offset, finding);

    bool all_found = true;
    for (int i = 0; i < lookup_total; ++i) {
        const Lookup& lookup = lookups[i];
        bool answered = lookup.kind == LookupKind::Malformed    ? answer_malformed(lookup)
                        : lookup.kind == LookupKind::SourceLine ? answer_source_line(i)
                                                                : answer_address(lookup);
        all_found = all_found && answered;
    }
    return all_found ? 0 : 1;
}

void reset_lookups() {
    std::memset(routines, 0, sizeof routines);
    std::memset(file_names, 0, sizeof file_names);
    std::memset(wanted_routines, 0, sizeof wanted_routines);
    std::memset(wanted_lines, 0, sizeof wanted_lines);
    routine_record_count = 0;
    has_code_area = false;
    code_area_start = 0;
}
