// The runs of a routine's SequencePoints records (index_tables.h), kept as
// the index is read and made room for when they fill their table.
#include <algorithm>

#include "lookup/index_tables.h"

namespace lookup {

namespace {

bool by_routine_then_record(const PointsRun& a, const PointsRun& b) {
    return a.routine != b.routine ? a.routine < b.routine : a.first() < b.first();
}

// A record of one offset that an earlier record of the routine has as its
// only offset too never holds the point of an address (the earlier one
// wins): its run is dropped.
void drop_repeated_points(LookupIndex& index) {
    PointsRun* runs = index.tables->points_runs;
    const auto one_offset = [](const PointsRun& r) { return r.first() == r.last() && r.lowest == r.highest; };
    const auto key = [&](const PointsRun& r) {
        return std::uint64_t{r.routine} << 32 | std::uint64_t{!one_offset(r)} << 16 | r.lowest;
    };
    std::sort(runs, runs + index.points_run_count, [&](const PointsRun& a, const PointsRun& b) {
        return key(a) != key(b) ? key(a) < key(b) : a.first() < b.first();
    });
    unsigned kept = 0;
    for (unsigned i = 0; i < index.points_run_count; ++i)
        if (i == 0 || !one_offset(runs[i]) || key(runs[i]) != key(runs[i - 1])) runs[kept++] = runs[i];
    index.points_run_count = kept;
}

// Room for more runs: those of the routines with the most runs, more than
// half as many as the one with the most, are merged, two into one; a
// routine left with one run has none (it reads from its first record to
// its last).
void make_room_for_runs(LookupIndex& index) {
    PointsRun* runs = index.tables->points_runs;
    drop_repeated_points(index);
    while (index.points_run_count > points_run_capacity * 3 / 4) {
        const unsigned count = index.points_run_count;
        std::sort(runs, runs + count, by_routine_then_record);
        const auto end_of = [&](unsigned i) {
            unsigned j = i;
            while (j < count && runs[j].routine == runs[i].routine) ++j;
            return j;
        };
        unsigned most = 0, kept = 0;
        for (unsigned i = 0; i < count; i = end_of(i)) most = std::max(most, end_of(i) - i);
        for (unsigned i = 0, j = 0; i < count; i = j) {
            j = end_of(i);
            const unsigned step = (j - i) * 2 > most ? 2 : 1;  // two runs merged into one
            index.tables->has_runs[runs[i].routine] = j - i > step;
            for (unsigned k = i; k < j && j - i > step; k += step) {
                runs[kept] = runs[k];
                if (k + 1 < j && step == 2) {
                    runs[kept].last_low = runs[k + 1].last_low;
                    runs[kept].last_high = runs[k + 1].last_high;
                    runs[kept].lowest = std::min(runs[k].lowest, runs[k + 1].lowest);
                    runs[kept].highest = std::max(runs[k].highest, runs[k + 1].highest);
                }
                ++kept;
            }
        }
        index.points_run_count = kept;
    }
}

void add_points_run(LookupIndex& index, std::uint64_t first, std::uint64_t last, unsigned routine,
                    std::uint32_t range) {
    index.tables->points_runs[index.points_run_count++] = {
        static_cast<std::uint32_t>(first),      static_cast<std::uint32_t>(last),
        static_cast<std::uint8_t>(first >> 32), static_cast<std::uint8_t>(last >> 32),
        static_cast<std::uint16_t>(routine),    static_cast<std::uint16_t>(range),
        static_cast<std::uint16_t>(range >> 16)};
}

}  // namespace

void note_points_range(LookupIndex& index, std::uint64_t record, unsigned routine, std::uint32_t range) {
    IndexTables& tables = *index.tables;
    const RoutineTable& routines = index.model->routines;
    std::uint32_t& all = tables.points_range[routine];
    std::uint8_t& records = tables.points_records[routine];
    if (records == 0) {
        all = range;
        records = 1;
        return;
    }
    if (index.points_run_count + 2 > points_run_capacity) make_room_for_runs(index);
    // Its records so far become one run, unless they have runs.
    if (!tables.has_runs[routine])
        add_points_run(index, routines.first_points.get(routine), routines.last_points.get(routine), routine, all);
    add_points_run(index, record, record, routine, range);
    tables.has_runs[routine] = true;
    records = static_cast<std::uint8_t>(std::min(records + 1, 3));
    all = std::min(all & 0xFFFF, range & 0xFFFF) | std::max(all >> 16, range >> 16) << 16;
}

void put_runs_in_order(LookupIndex& index) {
    drop_repeated_points(index);
    std::sort(index.tables->points_runs, index.tables->points_runs + index.points_run_count, by_routine_then_record);
}

}  // namespace lookup
