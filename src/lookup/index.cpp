// The one reading of the file for lookups, the game model's, and the
// tables it fills beside the model through its readers. One arena of 64-bit
// entries is shared by the name index (at most one entry for each of the
// 524,544 records that count, growing down from the top) and the line
// index (one entry for each source line of each SequencePoints record,
// growing up from the bottom). When they meet, the line index gives way: it
// keeps the records before some offset, and the records from there on are
// summarized.
#include <sys/random.h>

#include <algorithm>
#include <chrono>
#include <cstdlib>

#include "lookup/index_tables.h"

namespace lookup {

namespace {

// Each time the line index gives way, it frees at least this much room.
constexpr std::size_t least_room_made = arena_size / 16;

unsigned char fold(unsigned char c) { return c >= 'A' && c <= 'Z' ? static_cast<unsigned char>(c + 32) : c; }

std::uint32_t file_name_hash(std::string_view text) {
    std::uint32_t hash = 2166136261u;
    for (char c : text) hash = (hash ^ static_cast<unsigned char>(c)) * 16777619u;
    return hash;
}

std::uint64_t* names_begin(LookupIndex& index) { return index.tables->arena + arena_size - index.name_count; }

// --- Lines beyond the line index --------------------------------------------

// Room for more summaries: neighbours are merged, two into one; only those
// of one file, unless that makes too little room.
void merge_line_summaries(LookupIndex& index) {
    LineSummary* summaries = index.tables->line_summaries;
    unsigned count = index.line_summary_count;
    const auto by_record = [](const LineSummary& a, const LineSummary& b) { return a.record() < b.record(); };
    if (!std::is_sorted(summaries, summaries + count, by_record)) std::sort(summaries, summaries + count, by_record);
    for (bool any_files : {false, true}) {
        unsigned kept = 0;
        for (unsigned i = 0; i < count; ++i) {
            LineSummary merged = summaries[i];
            const LineSummary* next = i + 1 < count ? &summaries[i + 1] : nullptr;
            const bool one_file =
                next != nullptr && !merged.many_files && !next->many_files && merged.file == next->file;
            if (next != nullptr && (any_files || one_file)) {
                merged.many_files = !one_file;
                merged.lowest = std::min(merged.lowest, next->lowest);
                merged.highest = std::max(merged.highest, next->highest);
                ++i;
            }
            summaries[kept++] = merged;
        }
        count = kept;
        if (count <= line_summary_capacity * 3 / 4) break;
    }
    index.line_summary_count = count;
    index.records_per_summary *= 2;
    index.records_in_last_summary = index.records_per_summary;
}

// Adds lines from `lowest` to `highest` of a file, of the record at
// `record`, which stands after every record summarized so far.
void summarize_lines(LookupIndex& index, std::uint64_t record, int file, unsigned lowest, unsigned highest,
                     bool many_files = false) {
    LineSummary* summaries = index.tables->line_summaries;
    LineSummary* last = index.line_summary_count == 0 ? nullptr : &summaries[index.line_summary_count - 1];
    const bool same_record = last != nullptr && record == index.last_summarized_record;
    // A record before the last summarized (the line index giving way again,
    // for names) starts a summary of its own, as a record of another file does.
    if (!same_record && (last == nullptr || record < index.last_summarized_record || last->many_files || many_files ||
                         last->file != file || index.records_in_last_summary == index.records_per_summary)) {
        if (index.line_summary_count == line_summary_capacity) merge_line_summaries(index);
        last = &summaries[index.line_summary_count++];
        *last = {static_cast<std::uint32_t>(record), static_cast<std::uint8_t>(record >> 32),
                 static_cast<std::uint8_t>(file),    many_files,
                 static_cast<std::uint16_t>(lowest), static_cast<std::uint16_t>(highest)};
        index.records_in_last_summary = 1;
        index.last_summarized_record = record;
        return;
    }
    if (!same_record) ++index.records_in_last_summary;
    index.last_summarized_record = record;
    last->many_files = last->many_files || many_files || last->file != file;
    last->lowest = std::min<std::uint16_t>(last->lowest, static_cast<std::uint16_t>(lowest));
    last->highest = std::max<std::uint16_t>(last->highest, static_cast<std::uint16_t>(highest));
}

// The lines of one file that a record holds, gathered before they are summarized.
struct LineRun {
    int file = -1;
    unsigned lowest = 0xFFFF;
    unsigned highest = 0;
    void add(LookupIndex& index, std::uint64_t record, int of_file, unsigned line) {
        if (of_file != file) {
            end(index, record);
            file = of_file;
        }
        lowest = std::min(lowest, line);
        highest = std::max(highest, line);
    }
    void end(LookupIndex& index, std::uint64_t record) {
        if (file >= 0) summarize_lines(index, record, file, lowest, highest);
        *this = {};
    }
};

// During the reading the line entries stand in file order, so the records
// from some offset on are the entries at the end. Drops them, summarized,
// and indexes no record after them.
void stop_indexing_lines_from(LookupIndex& index, std::uint64_t offset) {
    const std::uint64_t* arena = index.tables->arena;
    std::size_t kept = index.line_count;
    while (kept != 0 && (arena[kept - 1] & offset_mask) >= offset) --kept;
    for (std::size_t i = kept; i < index.line_count; ++i)
        summarize_lines(index, arena[i] & offset_mask, static_cast<int>(arena[i] >> 56),
                        static_cast<unsigned>(arena[i] >> record_offset_bits) & 0xFFFF,
                        static_cast<unsigned>(arena[i] >> record_offset_bits) & 0xFFFF);
    index.line_count = kept;
    index.lines_unindexed_from = std::min(index.lines_unindexed_from, offset);
    // A record after these, or after the records summarized before them,
    // starts a summary of its own.
    index.records_in_last_summary = index.records_per_summary;
}

// --- The index's reading, beside the model's -------------------------------------

void index_name(LookupIndex& index, std::string_view name, std::uint64_t offset) {
    // Room for one more name: the line index gives way, its last records
    // first. The names that count never fill the arena alone.
    if (index.line_count + index.name_count == arena_size) {
        std::size_t kept = index.line_count - std::min(index.line_count, least_room_made);
        stop_indexing_lines_from(index, index.tables->arena[kept] & offset_mask);
    }
    ++index.name_count;
    *names_begin(index) = name_hash(index, name) << record_offset_bits | offset;
}

// The points of a record that the line index holds, wholly or up to where
// it gives way.
template <typename In>
void index_points_of(LookupIndex& index, In& in, const PointsHead& head, std::uint64_t offset) {
    std::uint32_t lowest = 0xFFFF, highest = 0;
    LineRun beyond_index;
    // One entry per line, not per point: a run of points on one line (the
    // statements of a line) makes one entry.
    std::uint64_t previous = no_offset;
    for (unsigned entry = 0; entry < head.count; ++entry) {
        const SequencePointEntry point = read_sequence_point(in);
        lowest = std::min<std::uint32_t>(lowest, point.code_offset);
        highest = std::max<std::uint32_t>(highest, point.code_offset);
        const std::uint64_t line = std::uint64_t(point.at.file) << 56 | std::uint64_t(point.at.line)
                                                                            << record_offset_bits;
        if (line == previous) continue;
        previous = line;
        if (index.lines_unindexed_from == no_offset && index.line_count + index.name_count == arena_size)
            stop_indexing_lines_from(index, offset);
        if (index.lines_unindexed_from == no_offset)
            index.tables->arena[index.line_count++] = line | offset;
        else
            beyond_index.add(index, offset, point.at.file, static_cast<unsigned>(point.at.line));
    }
    beyond_index.end(index, offset);
    note_points_range(index, offset, head.routine, lowest | highest << 16);
}

// The points of a record beyond the line index: only what its summary and
// its range need.
template <typename In>
void summarize_points_of(LookupIndex& index, In& in, const PointsHead& head, std::uint64_t offset) {
    std::uint32_t lowest = 0xFFFF, highest = 0;
    unsigned lowest_line = 0xFFFF, highest_line = 0;
    int file = -1;
    bool many_files = false;
    for (unsigned entry = 0; entry < head.count; ++entry) {
        const SequencePointEntry point = read_sequence_point(in);
        lowest = std::min<std::uint32_t>(lowest, point.code_offset);
        highest = std::max<std::uint32_t>(highest, point.code_offset);
        lowest_line = std::min(lowest_line, static_cast<unsigned>(point.at.line));
        highest_line = std::max(highest_line, static_cast<unsigned>(point.at.line));
        many_files = many_files || (file >= 0 && point.at.file != file);
        file = point.at.file;
    }
    if (file >= 0) summarize_lines(index, offset, file, lowest_line, highest_line, many_files);
    note_points_range(index, offset, head.routine, lowest | highest << 16);
}

void index_points(DebugFile& file, LookupIndex& index, const PointsHead& head, std::uint64_t offset) {
    // The points are read from the buffer when it holds them all, as they mostly are.
    if (static_cast<std::size_t>(file.end - file.next) >= std::size_t{head.count} * sequence_point_size) {
        BufferedFields in{file.next, file.end};
        if (index.lines_unindexed_from == no_offset)
            index_points_of(index, in, head, offset);
        else
            summarize_points_of(index, in, head, offset);
        file.take_up_to(in.next);
    } else if (index.lines_unindexed_from == no_offset) {
        index_points_of(index, file, head, offset);
    } else {
        summarize_points_of(index, file, head, offset);
    }
}

// What the index learns beside the model, in the model's reading.
struct IndexReading {
    static constexpr bool reads_names = true;
    LookupIndex& index;
    void symbol(const SymbolRecord& symbol, std::uint64_t offset) { index_name(index, symbol.name.view(), offset); }
    void routine(const RoutineStart& routine, std::uint64_t offset) { index_name(index, routine.name.view(), offset); }
    void points(DebugFile& file, const PointsHead& head, std::uint64_t offset) {
        index_points(file, index, head, offset);
    }
};

void add_file_name(IndexTables& tables, std::string_view name, int file, std::uint8_t which) {
    const std::uint32_t hash = file_name_hash(name);
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

std::uint64_t random_seed() {
    std::uint64_t seed = 0;
    if (getrandom(&seed, sizeof seed, GRND_NONBLOCK) != sizeof seed)
        seed = static_cast<std::uint64_t>(std::chrono::steady_clock::now().time_since_epoch().count());
    return seed;
}

}  // namespace

std::uint64_t name_hash(const LookupIndex& index, std::string_view name) {
    std::uint64_t hash = index.hash_seed;
    for (char c : name) hash = (hash ^ fold(static_cast<unsigned char>(c))) * 0x100000001B3u;
    hash ^= hash >> 33;
    hash *= 0xFF51AFD7ED558CCDu;
    hash ^= hash >> 33;
    return hash & 0xFFFFFF;
}

bool same_name(std::string_view a, std::string_view b) {
    if (a.size() != b.size()) return false;
    for (std::size_t i = 0; i < a.size(); ++i)
        if (fold(static_cast<unsigned char>(a[i])) != fold(static_cast<unsigned char>(b[i]))) return false;
    return true;
}

LookupIndex::~LookupIndex() {
    release_game_model(model);
    release_table(tables);
}

void build_index(DebugFile& file, LookupIndex& index) {
    release_game_model(index.model);
    release_table(index.tables);
    index.line_count = index.name_count = 0;
    index.lines_unindexed_from = no_offset;
    index.line_summary_count = index.records_in_last_summary = index.points_run_count = 0;
    index.last_summarized_record = 0;
    index.records_per_summary = 1;
    index.in_order = false;
    index.hash_seed = random_seed();
    index.model = new_game_model();
    if (index.model == nullptr) file.fail("Out of memory for the tables of the game");
    index.tables = new_table<IndexTables>();
    if (index.tables == nullptr) file.fail("Out of memory for the lookup index");
    IndexReading reading{index};
    read_game_model(file, *index.model, reading);
    for (int file = 0; file < file_number_count; ++file) {
        if ((index.model->declared_files[file / 64] >> (file % 64) & 1) == 0) continue;
        const SourceFileNames& names = index.model->files[file];
        add_file_name(*index.tables, names.include_name.view(), file, 0);
        add_file_name(*index.tables, names.file_name.view(), file, 1);
        add_file_name(*index.tables, names.last_part(), file, 2);
    }
}

void put_in_order(LookupIndex& index) {
    if (index.in_order) return;
    index.in_order = true;
    std::uint64_t* arena = index.tables->arena;
    std::sort(arena, arena + index.line_count);
    index.line_count = static_cast<std::size_t>(std::unique(arena, arena + index.line_count) - arena);
    std::sort(names_begin(index), arena + arena_size);
    LineSummary* summaries = index.tables->line_summaries;
    std::sort(summaries, summaries + index.line_summary_count,
              [](const LineSummary& a, const LineSummary& b) { return a.record() < b.record(); });
    put_runs_in_order(index);
    order_routines_by_start(*index.model, index.tables->by_start);
}

FileSet files_named(const LookupIndex& index, std::string_view file) {
    FileSet files{};
    const std::uint32_t hash = file_name_hash(file);
    for (unsigned slot = hash % file_name_slots; index.tables->file_names[slot].file != 0;
         slot = (slot + 1) % file_name_slots) {
        const FileNameSlot& entry = index.tables->file_names[slot];
        if (entry.hash == hash && file_name_of(*index.model, entry) == file)
            files.bits[(entry.file - 1) / 64] |= std::uint64_t{1} << ((entry.file - 1) % 64);
    }
    return files;
}

}  // namespace lookup
