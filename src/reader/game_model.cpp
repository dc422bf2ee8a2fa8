// The one reading of the file for the queries, through the record loop:
// each record is decoded by its layout's reader and measured by the input
// offsets around it.
#include "reader/game_model.h"

#include <algorithm>
#include <cstdlib>

#include "messages.h"
#include "reader/record_loop.h"

namespace {

// The model being read and the readers beside it, for the record loop's
// handlers, which take no arguments; set for one reading only.
struct Reading {
    GameModel* model;
    const ModelReaders* readers;
    RecordTally* last_tally;  // of the record being read
    std::uint64_t last_type_byte;
};
Reading reading;

void learn_file(StreamFields& in, std::uint64_t) {
    FileRecord file;
    read_file_record(in, file);
    reading.model->files[file.number].note(file);
}

void learn_memory_map(StreamFields& in, std::uint64_t) {
    GameModel& model = *reading.model;
    const bool first_map = !model.has_memory_map;
    model.has_memory_map = true;
    std::uint32_t previous = 0;
    read_memory_map(in, [&](std::string_view name, std::uint32_t address) {
        if (!model.has_code_area && name == "code area") {
            model.has_code_area = true;
            model.code_area = address;
        }
        if (!first_map) return;
        model.memory_map_falls = model.memory_map_falls || address < previous;
        previous = address;
        if (model.memory_map_size == memory_map_capacity) {
            ++model.memory_map_left_out;
            return;
        }
        MemoryMapEntry& entry = model.memory_map[model.memory_map_size++];
        entry.name.assign(name);
        entry.address = address;
    });
}

void learn_game_header(StreamFields& in, std::uint64_t) {
    GameModel& model = *reading.model;
    if (model.has_game_header) {
        in.skip(game_header_size);
        return;
    }
    model.has_game_header = true;
    read_game_header(in, model.game_header);
}

// Whether a symbol record of `type` is the first of its kind and number,
// noting it if so.
template <RecordType type>
bool note_first_symbol(const SymbolRecord& symbol, std::uint64_t offset) {
    GameModel& model = *reading.model;
    if constexpr (type == Class) {
        if (model.class_count == word_count) return false;
        ++model.class_count;
        return true;
    } else if constexpr (type == Global) {
        if (model.first_global.get(symbol.number) != 0) return false;
        model.first_global.set(symbol.number, offset);
        return true;
    } else {
        RecordOffsets<word_count>& first = model.first_numbered[numbered_slot(type)];
        if (first.get(symbol.number) != 0) return false;
        first.set(symbol.number, offset);
        return true;
    }
}

// A reading with no readers keeps no name: it reads a record's numbers and
// drops its names, as a skipped record's.
struct NamesDropped : StreamFields {
    void name(Name&) { skip_string(); }
    void skip_list() { skip_string_list(); }
};

template <RecordType type>
void learn_symbol(StreamFields& in, std::uint64_t offset) {
    // Only the queries with readers (lookups) ask where a symbol stands.
    if (reading.readers == nullptr) {
        skip_record_of<type>();
        return;
    }
    SymbolRecord symbol;
    read_symbol_record(in, type, symbol);
    if (note_first_symbol<type>(symbol, offset)) reading.readers->symbol(reading.readers->query, symbol, offset);
}

void learn_routine_start(StreamFields& in, std::uint64_t offset) {
    GameModel& model = *reading.model;
    RoutineStart routine;
    if (reading.readers == nullptr) {
        NamesDropped numbers;
        read_routine_start(numbers, routine);
    } else {
        read_routine_start(in, routine);
    }
    RoutineSpan& span = model.routines.span[routine.number];
    if (span.has_start) return;
    span.has_start = true;
    span.start = routine.code_offset;
    span.record_low = static_cast<std::uint32_t>(offset);
    span.record_high = static_cast<std::uint8_t>(offset >> 32);
    span.file = static_cast<std::uint8_t>(routine.at.file);
    span.line = static_cast<std::uint16_t>(routine.at.line);
    span.character = static_cast<std::uint8_t>(routine.at.character);
    span.order = static_cast<std::uint16_t>(model.routines.count);
    model.routines.in_file_order[model.routines.count++] = routine.number;
    if (reading.readers != nullptr) {
        SymbolRecord symbol;  // the name's bytes copied, not its whole field
        symbol.type = Routine;
        symbol.number = routine.number;
        symbol.name.assign(routine.name.view());
        symbol.has_position = true;
        symbol.start = routine.at;
        reading.readers->symbol(reading.readers->query, symbol, offset);
    }
}

void learn_routine_end(StreamFields& in, std::uint64_t) {
    const RoutineEndRecord end = read_routine_end(in);
    RoutineSpan& span = reading.model->routines.span[end.number];
    if (span.has_end) return;
    span.has_end = true;
    span.end = end.code_offset;
}

void learn_points(StreamFields& in, std::uint64_t offset) {
    RoutineTable& routines = reading.model->routines;
    const PointsHead head = read_points_head(in);
    if (routines.first_points.get(head.routine) == 0) routines.first_points.set(head.routine, offset);
    routines.last_points.set(head.routine, offset);
    if (reading.readers != nullptr)
        reading.readers->points(reading.readers->query, head, offset);
    else
        skip_sequence_points(in, head.count);
}

template <int type>
void skip_body(StreamFields&, std::uint64_t) {
    skip_record_of<type>();
}

// Counts a record and reads its body with `learn`. A record's bytes, its
// type byte included, are those up to the next type byte, which adds them
// to the tally of the record before it.
void start_record(RecordTally& tally, std::uint64_t type_byte) {
    reading.last_tally->bytes += type_byte - reading.last_type_byte;
    reading.last_tally = &tally;
    reading.last_type_byte = type_byte;
    ++tally.count;
}

template <int type, void (*learn)(StreamFields&, std::uint64_t)>
void measure() {
    const std::uint64_t type_byte = input_offset() - 1;
    start_record(reading.model->records[type], type_byte);
    StreamFields in;
    learn(in, type_byte);
}

constexpr RecordHandler learners[last_record_type + 1] = {
    nullptr,
    measure<File, learn_file>,
    measure<Class, learn_symbol<Class>>,
    measure<Object, learn_symbol<Object>>,
    measure<Global, learn_symbol<Global>>,
    measure<Attribute, learn_symbol<Attribute>>,
    measure<Property, learn_symbol<Property>>,
    measure<FakeAction, learn_symbol<FakeAction>>,
    measure<Action, learn_symbol<Action>>,
    measure<Header, learn_game_header>,
    measure<SequencePoints, learn_points>,
    measure<Routine, learn_routine_start>,
    measure<Array, learn_symbol<Array>>,
    measure<MemoryMap, learn_memory_map>,
    measure<RoutineEnd, learn_routine_end>,
    measure<ObjectDetails, skip_body<ObjectDetails>>,
    measure<DirectiveEnd, skip_body<DirectiveEnd>>,
    measure<LibraryInclude, skip_body<LibraryInclude>>,
};

// A type byte above the last type has no body: the loop goes on at the next byte.
void tally_unknown_type(int) { start_record(reading.model->unknown_types, input_offset() - 1); }

}  // namespace

GameModel* new_game_model() {
    // calloc, so that the pages of the tables that a file leaves empty are never touched.
    auto* model = static_cast<GameModel*>(std::calloc(1, sizeof(GameModel)));
    if (model == nullptr) fatal_error("Out of memory for the tables of the game");
    return model;
}

void release_game_model(GameModel* model) { std::free(model); }

void read_game_model(GameModel& model, const ModelReaders* readers) {
    StreamFields in;
    model.version_major = in.byte();
    model.version_minor = in.byte();
    model.version_revision = in.word();
    RecordTally before_first_record{};
    reading = {&model, readers, &before_first_record, input_offset()};
    run_record_loop({learners, nullptr, tally_unknown_type});
    model.end_record = input_offset() - 1;
    reading.last_tally->bytes += model.end_record - reading.last_type_byte;
    reading = {};
    // Checked once at the end: an offset kept of a larger file is cut.
    if (model.end_record > largest_record_offset) fatal_error("Debugging info file too large for lookups");
}

std::uint64_t first_record_of(const GameModel& model, RecordType type, unsigned number) {
    if (type == Global) return model.first_global.get(number & 0xFF);
    if (type == Routine) {
        const RoutineSpan& span = model.routines.span[number & 0xFFFF];
        return span.has_start ? span.record() : 0;
    }
    const int slot = numbered_slot(type);
    return slot < 0 ? 0 : model.first_numbered[slot].get(number & 0xFFFF);
}

void order_routines_by_start(const GameModel& model, RoutinesByStart& order) {
    const RoutineSpan* spans = model.routines.span;
    unsigned count = 0;
    for (unsigned number = 0; number < word_count; ++number)
        if (spans[number].has_code()) order.number[count++] = static_cast<std::uint16_t>(number);
    auto by_start = [spans](unsigned a, unsigned b) { return spans[a].start < spans[b].start; };
    if (!std::is_sorted(order.number, order.number + count, by_start))
        std::sort(order.number, order.number + count, by_start);
    std::uint32_t reach = 0;
    for (unsigned i = 0; i < count; ++i) {
        reach = std::max(reach, spans[order.number[i]].end);
        order.reach[i] = reach;
    }
    order.count = count;
}

long routine_at(const GameModel& model, const RoutinesByStart& order, std::uint32_t code_offset) {
    const RoutineSpan* spans = model.routines.span;
    const std::uint16_t* after =
        std::upper_bound(order.number, order.number + order.count, code_offset,
                         [spans](std::uint32_t offset, unsigned n) { return offset < spans[n].start; });
    long found = -1;
    unsigned found_order = word_count;
    for (long i = after - order.number - 1; i >= 0 && order.reach[i] > code_offset; --i) {
        const RoutineSpan& span = spans[order.number[i]];
        if (span.end > code_offset && span.order < found_order) {
            found = order.number[i];
            found_order = span.order;
        }
    }
    return found;
}
