// The one reading of the file for lookups, the game model's, and the
// tables it fills beside the model through its readers. Peak memory stays
// below 16 MiB whatever the file holds: the model, about 5 MiB, and one
// arena of 64-bit entries shared by the name index (at most one entry for
// each of the 524,544 records that count, growing down from the top) and the
// line index (one entry for each source line of each SequencePoints record,
// growing up from the bottom). When they meet, the line index gives way: it
// keeps the records before some offset and source-line lookups read the
// records from there on.
#include "lookup/index.h"

#include <algorithm>
#include <cstdlib>

#include "reader/record_loop.h"

namespace lookup {

namespace {

constexpr std::uint64_t offset_mask = largest_record_offset;
constexpr std::uint64_t no_offset = ~std::uint64_t{0};
constexpr std::size_t arena_size = 960 * 1024;
// Each time the line index gives way, it frees at least this much room.
constexpr std::size_t least_room_made = arena_size / 16;

// The names of the File records, each entered under its hash: a FILE of a
// lookup is found with one probe or two, whatever the number of files.
constexpr unsigned file_name_slots = 1024;  // three names for each of 256 numbers, and room
struct FileNameSlot {
    std::uint32_t hash;
    std::uint16_t file;  // number + 1; 0 for an empty slot
    std::uint8_t which;  // 0 include name, 1 file name, 2 its last part
};

}  // namespace

struct IndexTables {
    RoutinesByStart by_start;
    FileNameSlot file_names[file_name_slots];
    // Line entries (file << 56 | line << 40 | record offset) from the bottom,
    // name entries (24-bit name hash << 40 | record offset) from the top.
    std::uint64_t arena[arena_size];
};

namespace {

unsigned char fold(unsigned char c) { return c >= 'A' && c <= 'Z' ? static_cast<unsigned char>(c + 32) : c; }

std::uint32_t fnv_hash(std::string_view text, bool folded) {
    std::uint32_t hash = 2166136261u;
    for (char c : text) {
        auto byte = static_cast<unsigned char>(c);
        hash = (hash ^ (folded ? fold(byte) : byte)) * 16777619u;
    }
    return hash;
}

std::uint64_t name_hash(std::string_view name) {
    std::uint32_t hash = fnv_hash(name, true);
    return (hash ^ hash >> 24) & 0xFFFFFF;
}

std::uint64_t* names_begin(LookupIndex& index) { return index.tables->arena + arena_size - index.name_count; }

// During the reading the line entries stand in file order, so the records
// from some offset on are the entries at the end. Drops them and indexes no
// record after them.
void stop_indexing_lines_from(LookupIndex& index, std::uint64_t offset) {
    const std::uint64_t* arena = index.tables->arena;
    while (index.line_count != 0 && (arena[index.line_count - 1] & offset_mask) >= offset) --index.line_count;
    index.lines_unindexed_from = std::min(index.lines_unindexed_from, offset);
}

// --- The readers beside the model's reading ------------------------------------

void index_symbol(void* query, std::string_view name, std::uint64_t offset) {
    LookupIndex& index = *static_cast<LookupIndex*>(query);
    // Room for one more name: the line index gives way, its last records
    // first. The names that count never fill the arena alone.
    if (index.line_count + index.name_count == arena_size) {
        std::size_t kept = index.line_count - std::min(index.line_count, least_room_made);
        stop_indexing_lines_from(index, index.tables->arena[kept] & offset_mask);
    }
    ++index.name_count;
    *names_begin(index) = name_hash(name) << record_offset_bits | offset;
}

void index_points(void* query, const PointsHead& head, std::uint64_t offset) {
    LookupIndex& index = *static_cast<LookupIndex*>(query);
    StreamFields in;
    if (index.lines_unindexed_from != no_offset) {
        skip_sequence_points(in, head.count);
        return;
    }
    // One entry per line, not per point: a run of points on one line (the
    // statements of a line) makes one entry.
    std::uint64_t previous = no_offset;
    for (unsigned entry = 0; entry < head.count; ++entry) {
        const LineRef at = read_sequence_point(in).at;
        const std::uint64_t line = std::uint64_t(at.file) << 56 | std::uint64_t(at.line) << record_offset_bits;
        if (line == previous) continue;
        previous = line;
        if (index.line_count + index.name_count == arena_size) {
            stop_indexing_lines_from(index, offset);
            skip_sequence_points(in, head.count - entry - 1);
            return;
        }
        index.tables->arena[index.line_count++] = line | offset;
    }
}

void add_file_name(IndexTables& tables, std::string_view name, int file, std::uint8_t which) {
    const std::uint32_t hash = fnv_hash(name, false);
    for (unsigned slot = hash % file_name_slots;; slot = (slot + 1) % file_name_slots) {
        if (tables.file_names[slot].file == 0) {
            tables.file_names[slot] = {hash, static_cast<std::uint16_t>(file + 1), which};
            return;
        }
    }
}

std::string_view file_name_of(const GameModel& model, const FileNameSlot& slot) {
    const SourceFileNames& names = model.files[slot.file - 1];
    return slot.which == 0 ? names.include_name.view() : slot.which == 1 ? names.file_name.view() : names.last_part();
}

void put_in_order(LookupIndex& index) {
    if (index.in_order) return;
    index.in_order = true;
    std::uint64_t* arena = index.tables->arena;
    std::sort(arena, arena + index.line_count);
    index.line_count = static_cast<std::size_t>(std::unique(arena, arena + index.line_count) - arena);
    std::sort(names_begin(index), arena + arena_size);
    order_routines_by_start(*index.model, index.tables->by_start);
}

// The entries of `arena` from `first` to `last` whose key (the bits above
// the record offset) is `key`.
struct Entries {
    const std::uint64_t* begin;
    const std::uint64_t* end;
};
Entries entries_with_key(const std::uint64_t* first, const std::uint64_t* last, std::uint64_t key) {
    first = std::lower_bound(first, last, key);
    return {first, std::upper_bound(first, last, key | offset_mask)};
}

void go_to(std::uint64_t offset) {
    if (!seek_input(offset)) input_failure("I/O failure: can't read from debugging info file");
}

// Reads the type byte at `offset`, which must be `type`.
void go_to_record(std::uint64_t offset, RecordType type) {
    go_to(offset);
    StreamFields in;
    if (in.byte() != type) throw IndexStale{};
}

// Reads the record at `offset`, which bears a name.
void read_symbol_at(std::uint64_t offset, FoundSymbol& found) {
    go_to(offset);
    StreamFields in;
    const int type = in.byte();
    found.code_offset = 0;
    if (type == Routine) {
        RoutineStart routine;
        read_routine_start(in, routine);
        found.symbol = {Routine, routine.number, routine.name, true, routine.at};
        found.code_offset = routine.code_offset;
        return;
    }
    if (type > last_record_type || !record_kinds[type].bears_name) throw IndexStale{};
    read_symbol_record(in, static_cast<RecordType>(type), found.symbol);
}

// --- Walks over the records ---------------------------------------------------
// A walk runs the record loop from some record on; its handler, which takes
// no arguments, finds the walk's state here, and ends the walk by going to
// the End record.

struct PointSearch {
    unsigned routine;
    unsigned offset_in_routine;
    bool found;
    SequencePointEntry best;
    std::uint64_t last_record;
    bool last_record_read;
};

struct LineWalk {
    LookupIndex* index;
    const FileSet* files;
    unsigned line;
    PointVisit visit;
    void* answer;
};

const LookupIndex* walked_index;
PointSearch* point_search;
LineWalk* line_walk;

void consider_points(PointSearch& search, unsigned count) {
    StreamFields in;
    for (unsigned entry = 0; entry < count; ++entry) {
        const SequencePointEntry point = read_sequence_point(in);
        if (point.code_offset <= search.offset_in_routine &&
            (!search.found || point.code_offset > search.best.code_offset)) {
            search.found = true;
            search.best = point;
        }
    }
}

void consider_points_record() {
    StreamFields in;
    const std::uint64_t offset = input_offset() - 1;
    const PointsHead head = read_points_head(in);
    if (head.routine == point_search->routine)
        consider_points(*point_search, head.count);
    else
        skip_sequence_points(in, head.count);
    if (offset < point_search->last_record) return;
    point_search->last_record_read = offset == point_search->last_record && head.routine == point_search->routine;
    go_to(walked_index->model->end_record);
}

// The points of a SequencePoints record, whose head is read, on the line
// walked; its routine's record is read at the first of them. Returns how
// many there were.
unsigned visit_points_on_line(LineWalk& walk, const PointsHead& head) {
    StreamFields in;
    const bool has_routine = walk.index->model->routines.span[head.routine].has_start;
    RoutineStart routine;
    bool routine_read = !has_routine;
    unsigned visited = 0;
    for (unsigned entry = 0; entry < head.count; ++entry) {
        const SequencePointEntry point = read_sequence_point(in);
        if (unsigned(point.at.line) != walk.line || !walk.files->has(point.at.file)) continue;
        if (!routine_read) {
            const std::uint64_t resume = input_offset();
            read_routine_of(*walk.index, head.routine, routine);
            go_to(resume);
            routine_read = true;
        }
        walk.visit(walk.answer, {point, head.routine, has_routine ? &routine : nullptr});
        ++visited;
    }
    return visited;
}

void walk_points_on_line() {
    StreamFields in;
    visit_points_on_line(*line_walk, read_points_head(in));
}

constexpr RecordHandler point_search_handlers[last_record_type + 1] = {
    nullptr, nullptr, nullptr, nullptr, nullptr, nullptr, nullptr, nullptr, nullptr, nullptr, consider_points_record,
};
constexpr RecordHandler line_walk_handlers[last_record_type + 1] = {
    nullptr, nullptr, nullptr, nullptr, nullptr, nullptr, nullptr, nullptr, nullptr, nullptr, walk_points_on_line,
};
constexpr bool only_points[last_record_type + 1] = {false, false, false, false, false, false,
                                                    false, false, false, false, true};

}  // namespace

bool same_name(std::string_view a, std::string_view b) {
    if (a.size() != b.size()) return false;
    for (std::size_t i = 0; i < a.size(); ++i)
        if (fold(static_cast<unsigned char>(a[i])) != fold(static_cast<unsigned char>(b[i]))) return false;
    return true;
}

LookupIndex::~LookupIndex() {
    release_game_model(model);
    std::free(tables);
}

void build_index(LookupIndex& index) {
    release_game_model(index.model);
    std::free(index.tables);
    index.line_count = index.name_count = 0;
    index.lines_unindexed_from = no_offset;
    index.in_order = false;
    index.model = new_game_model();
    // calloc, so that the pages of the tables that a file leaves empty are never touched.
    index.tables = static_cast<IndexTables*>(std::calloc(1, sizeof(IndexTables)));
    if (index.tables == nullptr) fatal_error("Out of memory for the lookup index");
    const ModelReaders readers{&index, index_symbol, index_points};
    read_game_model(*index.model, &readers);
    for (int file = 0; file < file_number_count; ++file) {
        const SourceFileNames& names = index.model->files[file];
        if (!names.declared) continue;
        add_file_name(*index.tables, names.include_name.view(), file, 0);
        add_file_name(*index.tables, names.file_name.view(), file, 1);
        add_file_name(*index.tables, names.last_part(), file, 2);
    }
}

FileSet files_named(const LookupIndex& index, std::string_view file) {
    FileSet files{};
    const std::uint32_t hash = fnv_hash(file, false);
    for (unsigned slot = hash % file_name_slots; index.tables->file_names[slot].file != 0;
         slot = (slot + 1) % file_name_slots) {
        const FileNameSlot& entry = index.tables->file_names[slot];
        if (entry.hash == hash && file_name_of(*index.model, entry) == file)
            files.bits[(entry.file - 1) / 64] |= std::uint64_t{1} << ((entry.file - 1) % 64);
    }
    return files;
}

long routine_holding(LookupIndex& index, std::uint32_t code_offset) {
    put_in_order(index);
    return routine_at(*index.model, index.tables->by_start, code_offset);
}

void read_routine_of(const LookupIndex& index, unsigned number, RoutineStart& routine) {
    const RoutineSpan& span = index.model->routines.span[number & 0xFFFF];
    go_to_record(span.record(), Routine);
    StreamFields in;
    read_routine_start(in, routine);
    if (routine.number != number || routine.code_offset != span.start) throw IndexStale{};
}

bool point_of_offset(const LookupIndex& index, unsigned routine, unsigned offset_in_routine,
                     SequencePointEntry& point) {
    const RoutineTable& routines = index.model->routines;
    const std::uint64_t first = routines.first_points.get(routine);
    const std::uint64_t last = routines.last_points.get(routine);
    if (first == 0) return false;
    PointSearch search{routine, offset_in_routine, false, {}, last, false};
    if (first == last) {
        // The usual file: one record of points per routine.
        go_to_record(first, SequencePoints);
        StreamFields in;
        const PointsHead head = read_points_head(in);
        if (head.routine != routine) throw IndexStale{};
        consider_points(search, head.count);
    } else {
        walked_index = &index;
        point_search = &search;
        go_to(first);
        run_record_loop({point_search_handlers, only_points, nullptr});
        if (!search.last_record_read) throw IndexStale{};
    }
    point = search.best;
    return search.found;
}

void for_each_point_on_line(LookupIndex& index, const FileSet& files, unsigned line, PointVisit visit, void* answer) {
    if (files.empty()) return;
    put_in_order(index);
    LineWalk walk{&index, &files, line, visit, answer};
    // The index's records of each file named, merged into file order.
    Entries ranges[file_number_count];
    int range_count = 0;
    const std::uint64_t* lines_end = index.tables->arena + index.line_count;
    for (int file = 0; file < file_number_count; ++file) {
        if (!files.has(file)) continue;
        const std::uint64_t key = std::uint64_t(file) << 56 | std::uint64_t(line & 0xFFFF) << record_offset_bits;
        Entries records = entries_with_key(index.tables->arena, lines_end, key);
        if (records.begin != records.end) ranges[range_count++] = records;
    }
    std::uint64_t previous = 0;
    for (;;) {
        Entries* next = nullptr;
        for (int i = 0; i < range_count; ++i)
            if (ranges[i].begin != ranges[i].end &&
                (next == nullptr || (*ranges[i].begin & offset_mask) < (*next->begin & offset_mask)))
                next = &ranges[i];
        if (next == nullptr) break;
        const std::uint64_t offset = *next->begin++ & offset_mask;
        if (offset == previous) continue;  // a record holding the line in two of the files
        previous = offset;
        go_to_record(offset, SequencePoints);
        StreamFields in;
        if (visit_points_on_line(walk, read_points_head(in)) == 0) throw IndexStale{};
    }
    if (index.lines_unindexed_from != no_offset) {
        line_walk = &walk;
        go_to_record(index.lines_unindexed_from, SequencePoints);
        go_to(index.lines_unindexed_from);
        run_record_loop({line_walk_handlers, only_points, nullptr});
    }
}

void for_each_symbol_named(LookupIndex& index, std::string_view name, SymbolVisit visit, void* answer) {
    put_in_order(index);
    const Entries records =
        entries_with_key(names_begin(index), index.tables->arena + arena_size, name_hash(name) << record_offset_bits);
    FoundSymbol found;
    for (const std::uint64_t* entry = records.begin; entry != records.end; ++entry) {
        read_symbol_at(*entry & offset_mask, found);
        if (name_hash(found.symbol.name.view()) != *entry >> record_offset_bits) throw IndexStale{};
        if (same_name(found.symbol.name.view(), name)) visit(answer, found);
    }
}

bool read_symbol_of(const LookupIndex& index, RecordType type, unsigned number, FoundSymbol& found) {
    const std::uint64_t offset = first_record_of(*index.model, type, number);
    if (offset == 0) return false;
    read_symbol_at(offset, found);
    if (found.symbol.type != type || found.symbol.number != number) throw IndexStale{};
    return true;
}

}  // namespace lookup
