// What the model learns from each record, once its layout's reader has
// decoded it.
#include "reader/game_model.h"

#include <sys/mman.h>

#include <algorithm>

void learn_file(GameModel& model, const FileRecord& file) {
    model.files[file.number].note(file);
    model.declared_files[file.number / 64] |= std::uint64_t{1} << (file.number % 64);
}

// What a map teaches is kept only once the whole record is read: a map cut
// by the end of the file teaches nothing.
void learn_memory_map(DebugFile& file, GameModel& model) {
    const bool first_map = !model.has_memory_map;
    bool has_code_area = model.has_code_area, falls = false;
    std::uint32_t code_area = model.code_area, previous = 0;
    int size = 0;
    std::uint64_t left_out = 0;
    read_memory_map(file, [&](std::string_view name, std::uint32_t address) {
        if (!has_code_area && name == "code area") {
            has_code_area = true;
            code_area = address;
        }
        if (!first_map) return;
        falls = falls || address < previous;
        previous = address;
        if (size == memory_map_capacity) {
            ++left_out;
            return;
        }
        MemoryMapEntry& entry = model.memory_map[size++];
        entry.name.assign(name);
        entry.address = address;
    });
    model.has_code_area = has_code_area;
    model.code_area = code_area;
    if (!first_map) return;
    model.has_memory_map = true;
    model.memory_map_size = size;
    model.memory_map_left_out = left_out;
    model.memory_map_falls = falls;
}

void learn_game_header(DebugFile& file, GameModel& model) {
    if (model.has_game_header) return file.skip(game_header_size);
    read_game_header(file, model.game_header);
    model.has_game_header = true;
}

bool learn_symbol(GameModel& model, RecordType type, unsigned number, std::uint64_t offset) {
    if (type == Class) {
        if (model.class_count == word_count) return false;
        ++model.class_count;
        return true;
    }
    if (type == Global) {
        if (model.first_global.get(number) != 0) return false;
        model.first_global.set(number, offset);
        return true;
    }
    RecordOffsets<word_count>& first = model.first_numbered[numbered_slot(type)];
    if (first.get(number) != 0) return false;
    first.set(number, offset);
    return true;
}

bool learn_routine_start(GameModel& model, const RoutineStart& routine, std::uint64_t offset) {
    RoutineSpan& span = model.routines.span[routine.number];
    if (span.has_start) return false;
    span.has_start = true;
    span.start = routine.code_offset;
    span.record_low = static_cast<std::uint32_t>(offset);
    span.record_high = static_cast<std::uint8_t>(offset >> 32);
    span.file = static_cast<std::uint8_t>(routine.at.file);
    span.line = static_cast<std::uint16_t>(routine.at.line);
    span.character = static_cast<std::uint8_t>(routine.at.character);
    span.order = static_cast<std::uint16_t>(model.routines.count);
    model.routines.in_file_order[model.routines.count++] = routine.number;
    return true;
}

void learn_routine_end(GameModel& model, const RoutineEndRecord& end) {
    RoutineSpan& span = model.routines.span[end.number];
    if (span.has_end) return;
    span.has_end = true;
    span.end = end.code_offset;
}

void learn_points_head(GameModel& model, const PointsHead& head, std::uint64_t offset) {
    RoutineTable& routines = model.routines;
    if (routines.first_points.get(head.routine) == 0) routines.first_points.set(head.routine, offset);
    routines.last_points.set(head.routine, offset);
}

void* map_table(std::size_t size) {
    void* table = mmap(nullptr, size, PROT_READ | PROT_WRITE, MAP_PRIVATE | MAP_ANONYMOUS, -1, 0);
    return table == MAP_FAILED ? nullptr : table;
}

void unmap_table(void* table, std::size_t size) { munmap(table, size); }

GameModel* new_game_model() { return new_table<GameModel>(); }

void release_game_model(GameModel* model) { release_table(model); }

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
    // Every routine with code has a Routine record: the routines in file order.
    for (unsigned i = 0; i < model.routines.count; ++i) {
        const std::uint16_t number = model.routines.in_file_order[i];
        if (spans[number].has_code()) order.number[count++] = number;
    }
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
