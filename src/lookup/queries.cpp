// The queries of the lookup index: each reads the few records its answer
// needs through the reader's decoders, checking that each is the record the
// index holds there, and hands out their values.
#include <algorithm>

#include "lookup/index_tables.h"
#include "reader/record_loop.h"

namespace lookup {

namespace {

void go_to(DebugFile& file, std::uint64_t offset) {
    if (!file.seek(offset)) file.fail("I/O failure: can't read from debugging info file");
}

// Reads the type byte at `offset`, which must be `type`.
void go_to_record(DebugFile& file, std::uint64_t offset, RecordType type) {
    go_to(file, offset);
    if (file.byte() != type) throw IndexStale{};
}

// Reads the record at `offset`, which bears a name.
void read_symbol_at(DebugFile& file, std::uint64_t offset, FoundSymbol& found) {
    go_to(file, offset);
    const int type = file.byte();
    found.code_offset = 0;
    if (type == Routine) {
        RoutineStart routine;
        read_routine_head(file, routine);
        found.symbol = {Routine, routine.number, routine.name, true, routine.at};
        found.code_offset = routine.code_offset;
        return;
    }
    if (type > last_record_type || !record_kinds[type].bears_name) throw IndexStale{};
    read_symbol_record(file, static_cast<RecordType>(type), found.symbol);
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

// --- The walk over the SequencePoints records -----------------------------------
// The record loop from some record on, up to a record where it stops, with
// every record but the SequencePoints records skipped: `take` gets the head
// of each and the offset of its type byte, and reads or skips its points.

template <typename Take>
struct PointsWalk {
    std::uint64_t stop;
    std::uint64_t end_record;
    Take& take;
};

template <typename Take>
void walk_points_record(DebugFile& file, PointsWalk<Take>& walk) {
    const std::uint64_t record = file.offset() - 1;
    if (record >= walk.stop) return go_to(file, walk.end_record);  // the loop ends there
    walk.take(file, read_points_head(file), record);
}

template <typename Take>
constexpr RecordHandlers<PointsWalk<Take>> points_walk = [] {
    RecordHandlers<PointsWalk<Take>> handlers{};
    handlers[SequencePoints] = walk_points_record<Take>;
    return handlers;
}();

template <typename Take>
void walk_points(DebugFile& file, const LookupIndex& index, std::uint64_t from, std::uint64_t stop, Take take) {
    PointsWalk<Take> walk{stop, index.model->end_record, take};
    go_to(file, from);
    read_records<points_walk<Take>>(file, walk);
}

// --- Points of an offset ---------------------------------------------------------

struct PointSearch {
    unsigned routine;
    unsigned offset_in_routine;
    bool found;
    SequencePointEntry best;
};

// The points of a SequencePoints record of the routine searched, whose
// head is read: the first with the greatest offset not above the one
// searched, unless an earlier record had it.
void consider_points(DebugFile& file, PointSearch& search, unsigned count) {
    for (unsigned entry = 0; entry < count; ++entry) {
        const SequencePointEntry point = read_sequence_point(file);
        if (point.code_offset <= search.offset_in_routine &&
            (!search.found || point.code_offset > search.best.code_offset)) {
            search.found = true;
            search.best = point;
        }
    }
}

void consider_points_at(DebugFile& file, PointSearch& search, std::uint64_t record) {
    go_to_record(file, record, SequencePoints);
    const PointsHead head = read_points_head(file);
    if (head.routine != search.routine) throw IndexStale{};
    consider_points(file, search, head.count);
}

// The routine's records from `first` to `last`: read where they stand when
// they are one or `two`, otherwise walked to, from the first to the last.
void consider_records(DebugFile& file, const LookupIndex& index, PointSearch& search, std::uint64_t first,
                      std::uint64_t last, bool two = false) {
    if (first == last || two) {
        consider_points_at(file, search, first);
        if (first != last) consider_points_at(file, search, last);
        return;
    }
    bool last_record_read = false;
    walk_points(file, index, first, last + 1, [&](DebugFile& in, const PointsHead& head, std::uint64_t record) {
        if (head.routine == search.routine)
            consider_points(in, search, head.count);
        else
            skip_sequence_points(in, head.count);
        last_record_read = record == last && head.routine == search.routine;
    });
    if (!last_record_read) throw IndexStale{};
}

// The runs of a routine that has them: those whose offsets hold the one
// searched, and the first of those below it with the greatest highest
// offset; in file order.
void search_runs(DebugFile& file, const LookupIndex& index, PointSearch& search) {
    const PointsRun* runs = index.tables->points_runs;
    const PointsRun* end = runs + index.points_run_count;
    const PointsRun* first = std::lower_bound(runs, end, search.routine,
                                              [](const PointsRun& r, unsigned routine) { return r.routine < routine; });
    const PointsRun* below = nullptr;
    const unsigned t = search.offset_in_routine;
    for (const PointsRun* r = first; r != end && r->routine == search.routine; ++r)
        if (r->lowest <= r->highest && r->highest <= t && (below == nullptr || r->highest > below->highest)) below = r;
    for (const PointsRun* r = first; r != end && r->routine == search.routine; ++r)
        if (r == below || (r->lowest <= t && t < r->highest))
            consider_records(file, index, search, r->first(), r->last());
}

// --- Points on a line ----------------------------------------------------------

// The Routine records an answer has read, each once for all its rows (up
// to its name), in slots of a hash drawn for each reading, so that no file
// can choose routines that share one.
constexpr unsigned routine_slot_bits = 6;
struct ReadRoutines {
    std::uint32_t number_in[1 << routine_slot_bits];  // + 1; 0 for none
    RoutineStart routine[1 << routine_slot_bits];
};

struct LineWalk {
    const LookupIndex& index;
    const FileSet& files;
    unsigned line;
    PointVisit visit;
    void* answer;
    ReadRoutines& read;
};

// The record of `number`, read unless the answer has it.
const RoutineStart& routine_of(DebugFile& file, LineWalk& walk, unsigned number) {
    const auto slot =
        static_cast<unsigned>((number ^ walk.index.hash_seed) * 0x9E3779B97F4A7C15u >> (64 - routine_slot_bits));
    RoutineStart& routine = walk.read.routine[slot];
    if (walk.read.number_in[slot] != number + 1) {
        const std::uint64_t resume = file.offset();
        read_routine_of(file, walk.index, number, routine);
        go_to(file, resume);
        walk.read.number_in[slot] = number + 1;
    }
    return routine;
}

// The points of a SequencePoints record, whose head is read, on the line
// walked, with its routine's record. Returns how many there were.
unsigned visit_points_on_line(DebugFile& file, LineWalk& walk, const PointsHead& head) {
    const bool has_routine = walk.index.model->routines.span[head.routine].has_start;
    unsigned visited = 0;
    for (unsigned entry = 0; entry < head.count; ++entry) {
        const SequencePointEntry point = read_sequence_point(file);
        if (unsigned(point.at.line) != walk.line || !walk.files.has(point.at.file)) continue;
        const RoutineStart* routine = has_routine ? &routine_of(file, walk, head.routine) : nullptr;
        walk.visit(walk.answer, {point, head.routine, routine});
        ++visited;
    }
    return visited;
}

bool may_hold(const LineSummary& summary, const FileSet& files, unsigned line) {
    return (summary.many_files || files.has(summary.file)) && summary.lowest <= line && line <= summary.highest;
}

}  // namespace

long routine_holding(LookupIndex& index, std::uint32_t code_offset) {
    put_in_order(index);
    return routine_at(*index.model, index.tables->by_start, code_offset);
}

void read_routine_of(DebugFile& file, const LookupIndex& index, unsigned number, RoutineStart& routine) {
    const RoutineSpan& span = index.model->routines.span[number & 0xFFFF];
    go_to_record(file, span.record(), Routine);
    read_routine_head(file, routine);
    if (routine.number != number || routine.code_offset != span.start) throw IndexStale{};
}

bool point_of_offset(DebugFile& file, const LookupIndex& index, unsigned routine, unsigned offset_in_routine,
                     SequencePointEntry& point) {
    const RoutineTable& routines = index.model->routines;
    const std::uint64_t first = routines.first_points.get(routine);
    if (first == 0) return false;
    PointSearch search{routine, offset_in_routine, false, {}};
    if (index.tables->has_runs[routine])
        search_runs(file, index, search);
    else
        consider_records(file, index, search, first, routines.last_points.get(routine),
                         index.tables->points_records[routine] == 2);
    point = search.best;
    return search.found;
}

void for_each_point_on_line(DebugFile& file, LookupIndex& index, const FileSet& files, unsigned line, PointVisit visit,
                            void* answer) {
    if (files.empty()) return;
    put_in_order(index);
    ReadRoutines read;
    std::fill(std::begin(read.number_in), std::end(read.number_in), 0);
    LineWalk walk{index, files, line, visit, answer, read};
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
        go_to_record(file, offset, SequencePoints);
        if (visit_points_on_line(file, walk, read_points_head(file)) == 0) throw IndexStale{};
    }
    // The records beyond the line index: those of the summaries that may
    // hold the line, each run of them in one walk.
    const LineSummary* summaries = index.tables->line_summaries;
    const unsigned count = index.line_summary_count;
    for (unsigned i = 0; i < count; ++i) {
        if (!may_hold(summaries[i], files, line)) continue;
        unsigned after = i + 1;
        while (after < count && may_hold(summaries[after], files, line)) ++after;
        const std::uint64_t stop = after < count ? summaries[after].record() : no_offset;
        go_to_record(file, summaries[i].record(), SequencePoints);
        walk_points(
            file, index, summaries[i].record(), stop,
            [&](DebugFile& in, const PointsHead& head, std::uint64_t) { visit_points_on_line(in, walk, head); });
        i = after;
    }
}

unsigned next_line_with_code(DebugFile& file, LookupIndex& index, const FileSet& files, unsigned line) {
    constexpr unsigned none = 0x10000;
    if (files.empty() || line >= 0xFFFF) return 0;
    put_in_order(index);
    unsigned best = none;  // above any line while none is found
    const std::uint64_t* lines = index.tables->arena;
    const std::uint64_t* lines_end = lines + index.line_count;
    for (int file = 0; file < file_number_count; ++file) {
        if (!files.has(file)) continue;
        const std::uint64_t after = std::uint64_t(file) << 56 | std::uint64_t(line + 1) << record_offset_bits;
        const std::uint64_t* next = std::lower_bound(lines, lines_end, after);
        if (next != lines_end && (*next >> 56) == static_cast<unsigned>(file))
            best = std::min(best, static_cast<unsigned>(*next >> record_offset_bits & 0xFFFF));
    }
    // The records beyond the line index whose summary may hold a line between.
    const LineSummary* summaries = index.tables->line_summaries;
    const unsigned count = index.line_summary_count;
    for (unsigned i = 0; i < count; ++i) {
        const LineSummary& summary = summaries[i];
        if (!(summary.many_files || files.has(summary.file)) || summary.highest <= line || summary.lowest >= best)
            continue;
        const std::uint64_t stop = i + 1 < count ? summaries[i + 1].record() : no_offset;
        go_to_record(file, summary.record(), SequencePoints);
        walk_points(file, index, summary.record(), stop, [&](DebugFile& in, const PointsHead& head, std::uint64_t) {
            for (unsigned entry = 0; entry < head.count; ++entry) {
                const SequencePointEntry point = read_sequence_point(in);
                const auto at_line = static_cast<unsigned>(point.at.line);
                if (at_line > line && at_line < best && files.has(point.at.file)) best = at_line;
            }
        });
    }
    return best == none ? 0 : best;
}

void for_each_symbol_named(DebugFile& file, LookupIndex& index, std::string_view name, SymbolVisit visit,
                           void* answer) {
    put_in_order(index);
    const std::uint64_t hash = name_hash(index, name);
    const std::uint64_t* names_end = index.tables->arena + arena_size;
    const Entries records = entries_with_key(names_end - index.name_count, names_end, hash << record_offset_bits);
    FoundSymbol found;
    for (const std::uint64_t* entry = records.begin; entry != records.end; ++entry) {
        read_symbol_at(file, *entry & offset_mask, found);
        if (name_hash(index, found.symbol.name.view()) != hash) throw IndexStale{};
        if (same_name(found.symbol.name.view(), name)) visit(answer, found);
    }
}

bool read_symbol_of(DebugFile& file, const LookupIndex& index, RecordType type, unsigned number, FoundSymbol& found) {
    const std::uint64_t offset = first_record_of(*index.model, type, number);
    if (offset == 0) return false;
    read_symbol_at(file, offset, found);
    if (found.symbol.type != type || found.symbol.number != number) throw IndexStale{};
    return true;
}

}  // namespace lookup
