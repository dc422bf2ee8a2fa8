// Reading a lookup and computing its answer from the index and the few
// records it names.
#include "lookup/answers.h"

#include <charconv>
#include <cstdint>

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

// FILE:LINE, or FILE:LINE:CHAR with the character ignored unless a File
// record is named FILE:LINE.
Lookup read_source_line(const LookupIndex& index, Lookup lookup, std::string_view file, std::string_view line) {
    std::size_t colon = file.rfind(':');
    if (colon != std::string_view::npos && all_digits(file.substr(colon + 1)) && files_named(index, file).empty()) {
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

// Reads a lookup given as `text` (FILE:LINE:CHAR depends on the File records).
Lookup read_lookup(const LookupIndex& index, std::string_view text) {
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
    for (const RecordKind& kind : record_kinds) {
        const std::string_view word = kind.json_kind;
        if (kind.greatest_number != 0 && text.size() > word.size() && same_name(text.substr(0, word.size()), word) &&
            text[word.size()] == ' ') {
            if (read_number_text(text.substr(word.size() + 1), kind.greatest_number, lookup.value)) {
                lookup.kind = LookupKind::Symbol;
                lookup.by_number = true;
                lookup.symbol_type = kind.type;
            }
            return lookup;
        }
    }
    if (std::size_t colon = text.rfind(':'); colon != std::string_view::npos) {
        std::string_view after = text.substr(colon + 1);
        if (after.empty()) return lookup;
        if (all_digits(after)) return read_source_line(index, lookup, text.substr(0, colon), after);
    }
    if (begins_identifier(text)) lookup.kind = LookupKind::Symbol;
    return lookup;
}

// --- Answers -------------------------------------------------------------------

bool answer_address(DebugFile& file, LookupIndex& index, const Lookup& lookup, const AnswerWriter& writer,
                    OutputWriter& out) {
    const GameModel& game = *index.model;
    AddressAnswer answer{};
    if (lookup.kind == LookupKind::CodeOffset) {
        answer.code_offset = static_cast<std::uint32_t>(lookup.value);
    } else if (!game.has_code_area) {
        answer.no_code_area = true;
    } else if (lookup.value < game.code_area) {
        answer.below_code_area = true;
    } else {
        answer.code_offset = static_cast<std::uint32_t>(lookup.value - game.code_area);
    }
    if (!answer.no_code_area && !answer.below_code_area) {
        if (long routine = routine_holding(index, answer.code_offset); routine >= 0) {
            answer.found = true;
            answer.offset_in_routine = answer.code_offset - game.routines.span[routine].start;
            read_routine_of(file, index, static_cast<unsigned>(routine), answer.routine);
            answer.at = answer.routine.at;
            SequencePointEntry point;
            if (point_of_offset(file, index, static_cast<unsigned>(routine), answer.offset_in_routine, point))
                answer.at = point.at;
        }
    }
    writer.address(out, game, lookup, answer);
    return answer.found;
}

// A list answer in the making: its rows go to the writer as they are found.
struct ListAnswer {
    const GameModel* game;
    const Lookup* lookup;
    const AnswerWriter* writer;
    AnswerHold* hold;
    bool found;
};

void write_code_row(void* list, const PointOnLine& found) {
    ListAnswer& answer = *static_cast<ListAnswer*>(list);
    const std::uint32_t start = answer.game->routines.span[found.routine_number].start;
    answer.writer->code_row(
        answer.hold->out, *answer.game, *answer.lookup,
        {found.point.at, start + found.point.code_offset, found.point.code_offset, found.routine_number, found.routine},
        !answer.found);
    answer.found = true;
    answer.hold->rows_end = answer.hold->end();
}

void write_symbol_row(void* list, const FoundSymbol& found) {
    ListAnswer& answer = *static_cast<ListAnswer*>(list);
    answer.writer->symbol_row(answer.hold->out, *answer.game, *answer.lookup, found, !answer.found);
    answer.found = true;
    answer.hold->rows_end = answer.hold->end();
}

bool answer_source_line(DebugFile& file, LookupIndex& index, const Lookup& lookup, const AnswerWriter& writer,
                        AnswerHold& hold) {
    ListAnswer list{index.model, &lookup, &writer, &hold, false};
    const FileSet files = files_named(index, lookup.file);
    for_each_point_on_line(file, index, files, lookup.line, write_code_row, &list);
    writer.close_list(hold.out, lookup, list.found,
                      list.found ? 0 : next_line_with_code(file, index, files, lookup.line));
    return list.found;
}

bool answer_symbol(DebugFile& file, LookupIndex& index, const Lookup& lookup, const AnswerWriter& writer,
                   AnswerHold& hold) {
    ListAnswer list{index.model, &lookup, &writer, &hold, false};
    FoundSymbol found;
    if (!lookup.by_number)
        for_each_symbol_named(file, index, lookup.text, write_symbol_row, &list);
    else if (read_symbol_of(file, index, lookup.symbol_type, static_cast<unsigned>(lookup.value), found))
        write_symbol_row(&list, found);
    writer.close_list(hold.out, lookup, list.found, 0);
    return list.found;
}

}  // namespace

bool answer(DebugFile& file, LookupIndex& index, std::string_view text, const AnswerWriter& writer, AnswerHold& hold) {
    const Lookup lookup = read_lookup(index, text);
    switch (lookup.kind) {
        case LookupKind::Address:
        case LookupKind::CodeOffset:
            return answer_address(file, index, lookup, writer, hold.out);
        case LookupKind::SourceLine:
            return answer_source_line(file, index, lookup, writer, hold);
        case LookupKind::Symbol:
            return answer_symbol(file, index, lookup, writer, hold);
        case LookupKind::Bad:
            break;
    }
    writer.bad(hold.out, lookup);
    return false;
}

bool answer_bad(std::string_view text, const AnswerWriter& writer, OutputWriter& out) {
    Lookup lookup{};
    lookup.text = text;
    lookup.kind = LookupKind::Bad;
    writer.bad(out, lookup);
    return false;
}

}  // namespace lookup
