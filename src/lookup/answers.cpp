// Reading a lookup and computing its answer from the index and the few
// records it names.
#include "lookup/answers.h"

#include <charconv>
#include <cstdint>

#include "reader/records.h"
#include "reader/record_loop.h"

namespace lookup {

namespace {

// --- Reading a lookup --------------------------------------------------------

// An address: decimal, or hexadecimal after "0x" or "$"; at most 24 bits.
bool read_address_text(std::string_view text, unsigned long& value) {
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

// A number of a KIND NUMBER lookup: decimal, or hexadecimal after "0x".
bool read_number_text(std::string_view text, unsigned long limit, unsigned long& value) {
    int base = 10;
    if (text.starts_with("0x") || text.starts_with("0X")) {
        base = 16;
        text.remove_prefix(2);
    }
    if (text.empty()) return false;
    auto [end, error] = std::from_chars(text.data(), text.data() + text.size(), value, base);
    return error == std::errc() && end == text.data() + text.size() && value <= limit;
}

bool is_digit(char c) { return c >= '0' && c <= '9'; }

bool all_digits(std::string_view text) {
    if (text.empty()) return false;
    for (char c : text)
        if (!is_digit(c)) return false;
    return true;
}

bool begins_identifier(std::string_view text) {
    if (text.empty()) return false;
    char c = text[0];
    return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || c == '_';
}

struct KindWord {
    std::string_view word;
    SymbolKind kind;
    unsigned long greatest_number;
};

constexpr KindWord kind_words[] = {
    {"object", SymbolKind::Object, 0xFFFF},          {"global", SymbolKind::Global, 0xFF},
    {"attribute", SymbolKind::Attribute, 0xFFFF},    {"property", SymbolKind::Property, 0xFFFF},
    {"fake_action", SymbolKind::FakeAction, 0xFFFF}, {"action", SymbolKind::Action, 0xFFFF},
    {"routine", SymbolKind::Routine, 0xFFFF},        {"array", SymbolKind::Array, 0xFFFF},
};

bool any_file_named(std::string_view file) {
    for (int number = 0; number < 256; ++number)
        if (file_is_named(number, file)) return true;
    return false;
}

// FILE:LINE, or FILE:LINE:CHAR with the character ignored unless a File
// record is named FILE:LINE.
Lookup read_source_line(Lookup lookup, std::string_view file, std::string_view line) {
    std::size_t colon = file.rfind(':');
    if (colon != std::string_view::npos && all_digits(file.substr(colon + 1)) && !any_file_named(file)) {
        line = file.substr(colon + 1);
        file = file.substr(0, colon);
    }
    unsigned long number = 0;
    auto [end, error] = std::from_chars(line.data(), line.data() + line.size(), number);
    if (file.empty() || error != std::errc() || end != line.data() + line.size() || number == 0 || number > 0xFFFF)
        return lookup;
    lookup.kind = LookupKind::SourceLine;
    lookup.file = file;
    lookup.line = static_cast<unsigned>(number);
    return lookup;
}

}  // namespace

Lookup read_lookup(std::string_view text) {
    Lookup lookup{};
    lookup.text = text;
    lookup.kind = LookupKind::Bad;
    if (text.starts_with('+')) {
        if (read_address_text(text.substr(1), lookup.value)) lookup.kind = LookupKind::CodeOffset;
        return lookup;
    }
    // A lookup that begins like an address but is none may still be
    // FILE:LINE, as a file name may begin with a digit.
    if (!text.empty() && (is_digit(text[0]) || text[0] == '$') && read_address_text(text, lookup.value)) {
        lookup.kind = LookupKind::Address;
        return lookup;
    }
    for (const KindWord& kind : kind_words) {
        if (text.size() > kind.word.size() && text.starts_with(kind.word) && text[kind.word.size()] == ' ') {
            if (read_number_text(text.substr(kind.word.size() + 1), kind.greatest_number, lookup.value)) {
                lookup.kind = LookupKind::Symbol;
                lookup.by_number = true;
                lookup.symbol_kind = kind.kind;
            }
            return lookup;
        }
    }
    if (std::size_t colon = text.rfind(':'); colon != std::string_view::npos) {
        std::string_view after = text.substr(colon + 1);
        if (after.empty()) return lookup;
        if (all_digits(after)) return read_source_line(lookup, text.substr(0, colon), after);
    }
    if (begins_identifier(text)) lookup.kind = LookupKind::Symbol;
    return lookup;
}

namespace {

// --- Addresses ----------------------------------------------------------------

// The sequence point of an address: of the routine's points, the one with the
// greatest offset not above the address (the first of equal ones).
struct PointSearch {
    unsigned routine;
    unsigned long offset_in_routine;
    bool found;
    unsigned long offset;
    LineRef at;
    std::uint64_t last_record;
};

PointSearch point_search;

// Reads the entries of a SequencePoints record after its routine number.
void consider_points(unsigned count) {
    PointSearch& search = point_search;
    for (unsigned entry = 0; entry < count; ++entry) {
        LineRef at = read_line_ref();
        unsigned offset = read_word();
        if (offset <= search.offset_in_routine && (!search.found || offset > search.offset)) {
            search.found = true;
            search.offset = offset;
            search.at = at;
        }
    }
}

// In a walk over the records from the routine's first SequencePoints record to its last.
void consider_points_record() {
    std::uint64_t offset = input_offset() - 1;
    unsigned routine = read_word();
    unsigned count = read_word();
    if (routine == point_search.routine)
        consider_points(count);
    else
        skip_bytes(6ul * count);
    if (offset >= point_search.last_record) end_record_walk();
}

constexpr RecordHandler point_walk_handlers[last_record_type + 1] = {
    nullptr, nullptr, nullptr, nullptr, nullptr, nullptr, nullptr, nullptr, nullptr, nullptr, consider_points_record,
};
constexpr bool only_points[last_record_type + 1] = {false, false, false, false, false, false,
                                                    false, false, false, false, true};

void find_point(AddressAnswer& answer) {
    point_search = {answer.routine, answer.offset_in_routine, false, 0, {}, 0};
    std::uint64_t first = first_points_record(answer.routine);
    std::uint64_t last = last_points_record(answer.routine);
    if (first == 0) return;
    if (first == last) {
        // The usual file: one record of points per routine.
        go_to(first + 1);
        read_word();
        consider_points(read_word());
    } else {
        point_search.last_record = last;
        go_to(first);
        run_record_loop({point_walk_handlers, only_points, nullptr});
    }
    if (point_search.found) answer.at = point_search.at;
}

bool answer_address(const Lookup& lookup, const AnswerWriter& writer) {
    AddressAnswer answer{};
    if (lookup.kind == LookupKind::CodeOffset) {
        answer.code_offset = lookup.value;
    } else if (!has_code_area()) {
        answer.no_code_area = true;
    } else if (lookup.value < code_area_start()) {
        answer.below_code_area = true;
    } else {
        answer.code_offset = lookup.value - code_area_start();
    }
    if (!answer.no_code_area && !answer.below_code_area) {
        long routine = routine_at(answer.code_offset);
        if (routine >= 0) {
            answer.found = true;
            answer.routine = static_cast<unsigned>(routine);
            answer.offset_in_routine = answer.code_offset - routine_span(answer.routine).start;
            read_routine_head(answer.routine, answer.head);
            answer.at = answer.head.at;
            find_point(answer);
        }
    }
    writer.address(lookup, answer);
    return answer.found;
}

// --- Source lines -------------------------------------------------------------

struct LineSearch {
    const Lookup* lookup;
    const AnswerWriter* writer;
    std::uint64_t files[4];  // the file numbers that FILE names, bit N of word N / 64
    bool found;
};

LineSearch line_search;

bool in_files(int file) { return (line_search.files[(file & 0xFF) / 64] >> (file % 64)) & 1; }

// Writes a row for each point of a SequencePoints record on the line looked
// up, once its type byte is read. Code is placed only in a routine whose
// start is known.
void answer_points_record() {
    LineSearch& search = line_search;
    unsigned routine = read_word();
    unsigned count = read_word();
    RoutineSpan span = routine_span(routine);
    if (!span.has_start) {
        skip_bytes(6ul * count);
        return;
    }
    RoutineHead head;
    bool head_read = false;
    for (unsigned entry = 0; entry < count; ++entry) {
        LineRef at = read_line_ref();
        unsigned offset = read_word();
        if (unsigned(at.line) != search.lookup->line || !in_files(at.file)) continue;
        if (!head_read) {
            std::uint64_t resume_offset = input_offset();
            read_routine_head(routine, head);
            go_to(resume_offset);
            head_read = true;
        }
        search.writer->code_row(*search.lookup, {at, span.start + offset, routine, offset, &head}, !search.found);
        search.found = true;
    }
}

constexpr RecordHandler line_walk_handlers[last_record_type + 1] = {
    nullptr, nullptr, nullptr, nullptr, nullptr, nullptr, nullptr, nullptr, nullptr, nullptr, answer_points_record,
};

bool answer_source_line(const Lookup& lookup, const AnswerWriter& writer) {
    LineSearch& search = line_search;
    search = {&lookup, &writer, {}, false};
    // The index's records of each file named, merged into file order.
    LineRecords ranges[256];
    int range_count = 0;
    for (int number = 0; number < 256; ++number) {
        if (!file_is_named(number, lookup.file)) continue;
        search.files[number / 64] |= std::uint64_t{1} << (number % 64);
        LineRecords records = records_with_line(number, lookup.line);
        if (records.begin != records.end) ranges[range_count++] = records;
    }
    std::uint64_t previous = 0;
    for (;;) {
        LineRecords* next = nullptr;
        for (int i = 0; i < range_count; ++i)
            if (ranges[i].begin != ranges[i].end &&
                (next == nullptr || record_offset_of(*ranges[i].begin) < record_offset_of(*next->begin)))
                next = &ranges[i];
        if (next == nullptr) break;
        std::uint64_t offset = record_offset_of(*next->begin++);
        if (offset == previous) continue;  // a record holding the line in two of the files
        previous = offset;
        go_to(offset + 1);
        answer_points_record();
    }
    if (search.files[0] | search.files[1] | search.files[2] | search.files[3]) {
        if (std::uint64_t rest = lines_unindexed_from(); rest != ~std::uint64_t{0}) {
            go_to(rest);
            run_record_loop({line_walk_handlers, only_points, nullptr});
        }
    }
    writer.close_list(lookup, search.found);
    return search.found;
}

// --- Names and numbers ----------------------------------------------------------

// Reads the record at `offset` as a SymbolRow; false for a record of no
// symbol kind (which the index never names).
bool read_symbol(std::uint64_t offset, SymbolRow& row, StringField& name) {
    go_to(offset);
    row = {};
    int type = read_byte();
    switch (type) {
        case Class:
            row.kind = SymbolKind::Class;
            row.name = {name, read_string(name)};
            row.has_position = true;
            row.at = read_line_ref();
            return true;
        case Object:
            row.kind = SymbolKind::Object;
            row.number = read_word();
            row.name = {name, read_string(name)};
            row.has_position = true;
            row.at = read_line_ref();
            return true;
        case Global:
            row.kind = SymbolKind::Global;
            row.number = static_cast<unsigned>(read_byte());
            break;
        case Attribute:
        case Property:
        case FakeAction:
        case Action:
        case Array:
            row.kind = type == Attribute    ? SymbolKind::Attribute
                       : type == Property   ? SymbolKind::Property
                       : type == FakeAction ? SymbolKind::FakeAction
                       : type == Action     ? SymbolKind::Action
                                            : SymbolKind::Array;
            row.number = read_word();
            break;
        case Routine:
            row.kind = SymbolKind::Routine;
            row.number = read_word();
            row.has_position = true;
            row.at = read_line_ref();
            row.code_offset = read_address();
            break;
        default:
            return false;
    }
    row.name = {name, read_string(name)};
    return true;
}

bool answer_symbol(const Lookup& lookup, const AnswerWriter& writer) {
    SymbolRow row;
    StringField name;
    bool found = false;
    if (lookup.by_number) {
        std::uint64_t offset = record_of(lookup.symbol_kind, static_cast<unsigned>(lookup.value));
        if (offset != 0 && read_symbol(offset, row, name)) {
            writer.symbol_row(lookup, row, true);
            found = true;
        }
    } else {
        NameRecords records = records_named(lookup.text);
        for (const std::uint64_t* entry = records.begin; entry != records.end; ++entry) {
            if (!read_symbol(record_offset_of(*entry), row, name) || !same_name(row.name, lookup.text)) continue;
            writer.symbol_row(lookup, row, !found);
            found = true;
        }
    }
    writer.close_list(lookup, found);
    return found;
}

}  // namespace

bool answer(std::string_view text, const AnswerWriter& writer) {
    Lookup lookup = read_lookup(text);
    switch (lookup.kind) {
        case LookupKind::Address:
        case LookupKind::CodeOffset:
            return answer_address(lookup, writer);
        case LookupKind::SourceLine:
            return answer_source_line(lookup, writer);
        case LookupKind::Symbol:
            return answer_symbol(lookup, writer);
        case LookupKind::Bad:
            break;
    }
    writer.bad(lookup);
    return false;
}

bool answer_bad(std::string_view text, const AnswerWriter& writer) {
    Lookup lookup{};
    lookup.text = text;
    lookup.kind = LookupKind::Bad;
    writer.bad(lookup);
    return false;
}

}  // namespace lookup
