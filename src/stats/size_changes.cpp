// Matching two builds' profiles part by part: each build's entries sorted by
// the hash of their names (the first of each counting), then walked side by
// side.
#include "stats/size_changes.h"

#include <algorithm>
#include <cstdlib>
#include <memory>
#include <utility>

#include "stats/report_table.h"

namespace {

constexpr int section_rows = 2 * memory_map_capacity;
constexpr int file_rows = 2 * file_number_count;
constexpr int routine_rows = 2 * word_count;
// The names of rows held at once while they are put in name order.
constexpr int name_batch_size = 8192;

const SizeProfile& build_of(const SizeChanges& changes, bool in_new) {
    return in_new ? *changes.new_profile : *changes.old_profile;
}

// An entry's bytes in a build.
std::uint64_t bytes_of(Part part, const SizeProfile& profile, unsigned index) {
    std::uint32_t size = 0;
    switch (part) {
        case Part::Sections:
            section_size(profile, static_cast<int>(index), size);
            return size;
        case Part::Files:
            return profile.file_code[index].bytes;
        case Part::Routines:
            break;
    }
    return code_bytes_of(profile.model->routines.span[index]);
}

// An entry's name in a build, read into `scratch` when it is not at hand.
std::string_view name_of(Part part, const SizeProfile& profile, unsigned index, Name& scratch) {
    switch (part) {
        case Part::Sections:
            return profile.model->memory_map[index].name.view();
        case Part::Files:
            return stats::file_path(*profile.model, static_cast<int>(index), scratch);
        case Part::Routines:
            break;
    }
    return routine_key(profile, index, scratch);
}

std::int64_t change_of(const SizeChanges& changes, Part part, const ChangedRow& row) {
    const std::uint64_t old_bytes = row.in_old ? bytes_of(part, *changes.old_profile, row.old_index) : 0;
    const std::uint64_t new_bytes = row.in_new ? bytes_of(part, *changes.new_profile, row.new_index) : 0;
    return static_cast<std::int64_t>(new_bytes - old_bytes);
}

// A part's entries in a build, as the profile lists them (files largest
// first), but sections of unknown size.
int entries_of(Part part, const SizeProfile& profile, std::uint16_t* indices) {
    int count = 0;
    const RoutineTable& routines = profile.model->routines;
    std::uint32_t size;
    switch (part) {
        case Part::Sections:
            for (int i = 0; i < profile.model->memory_map_size; ++i)
                if (section_size(profile, i, size)) indices[count++] = static_cast<std::uint16_t>(i);
            break;
        case Part::Files:
            for (int i = 0; i < profile.file_count; ++i) indices[count++] = profile.files_by_size[i];
            break;
        case Part::Routines:
            for (unsigned i = 0; i < routines.count; ++i)
                if (is_measured(routines.span[routines.in_file_order[i]])) indices[count++] = routines.in_file_order[i];
            break;
    }
    return count;
}

// The entries of a part in a build by key, the first listed of each key
// only; returns how many. A routine's key was hashed as the file was read;
// the others' are hashed into `room`.
int entries_by_key(Part part, const SizeProfile& profile, std::uint16_t* indices, const std::uint64_t*& keys,
                   std::uint64_t (&room)[memory_map_capacity]) {
    const int count = entries_of(part, profile, indices);
    keys = profile.routine_keys;
    if (part != Part::Routines) {
        Name scratch;
        for (int i = 0; i < count; ++i) room[indices[i]] = name_hash(name_of(part, profile, indices[i], scratch));
        keys = room;
    }
    // Sorted as pairs of key and place, which compare without reading the
    // keys through the indices (a third of -diff on 65,536 routines).
    const auto by_key = std::make_unique<std::pair<std::uint64_t, std::uint32_t>[]>(static_cast<std::size_t>(count));
    for (int i = 0; i < count; ++i) by_key[i] = {keys[indices[i]], static_cast<std::uint32_t>(i) << 16 | indices[i]};
    std::sort(by_key.get(), by_key.get() + count);
    int kept = 0;
    for (int i = 0; i < count; ++i)
        if (i == 0 || by_key[i].first != by_key[i - 1].first)
            indices[kept++] = static_cast<std::uint16_t>(by_key[i].second);
    return kept;
}

// The changed rows of a part, largest change first; those of one change in no order yet.
PartChanges match(const SizeChanges& changes, Part part, ChangedRow* rows) {
    auto* indices = static_cast<std::uint16_t*>(allocate_table(sizeof(std::uint16_t) * 2 * word_count));
    std::uint64_t old_room[memory_map_capacity], new_room[memory_map_capacity];
    const std::uint64_t *old_keys, *new_keys;
    const std::uint16_t *a = indices, *b = indices + word_count;
    const std::uint16_t* const a_end = a + entries_by_key(part, *changes.old_profile, indices, old_keys, old_room);
    const std::uint16_t* const b_end =
        b + entries_by_key(part, *changes.new_profile, indices + word_count, new_keys, new_room);
    int count = 0;
    while (a != a_end || b != b_end) {
        if (b == b_end || (a != a_end && old_keys[*a] < new_keys[*b])) {
            rows[count++] = {*a++, 0, true, false};
        } else if (a == a_end || new_keys[*b] < old_keys[*a]) {
            rows[count++] = {0, *b++, false, true};
        } else {
            rows[count] = {*a++, *b++, true, true};
            count += change_of(changes, part, rows[count]) != 0;
        }
    }
    std::free(indices);
    std::sort(rows, rows + count, [&changes, part](const ChangedRow& x, const ChangedRow& y) {
        return magnitude(change_of(changes, part, x)) > magnitude(change_of(changes, part, y));
    });
    return {part, rows, count};
}

// A row with its name, held while a batch is put in order.
struct NamedRow {
    Name name;
    std::int64_t change;
    std::uint64_t bytes;  // in the new build, else the old
    const ChangedRow* row;
};

// Largest change first; of one change the larger entry, so that where every
// routine grew alike (a new version of the compiler) the largest are shown;
// then by name.
bool named_before(const NamedRow& a, const NamedRow& b) {
    if (magnitude(a.change) != magnitude(b.change)) return magnitude(a.change) > magnitude(b.change);
    if (a.bytes != b.bytes) return a.bytes > b.bytes;
    return a.name.view() < b.name.view();
}

// The `capacity` rows that come first of those offered.
struct NameBatch {
    NamedRow slot[name_batch_size];
    std::uint16_t heap[name_batch_size];  // slots, the one to come last on top
    int held;
    int capacity;

    void offer(const NamedRow& row) {
        auto before = [this](unsigned a, unsigned b) { return named_before(slot[a], slot[b]); };
        if (held < capacity) {
            slot[held] = row;
            heap[held] = static_cast<std::uint16_t>(held);
            std::push_heap(heap, heap + ++held, before);
        } else if (named_before(row, slot[heap[0]])) {
            std::pop_heap(heap, heap + held, before);
            slot[heap[held - 1]] = row;
            std::push_heap(heap, heap + held, before);
        }
    }
    // The rows held, in order, through heap.
    void put_in_order() {
        std::sort_heap(heap, heap + held, [this](unsigned a, unsigned b) { return named_before(slot[a], slot[b]); });
    }
    const NamedRow& operator[](int i) const { return slot[heap[i]]; }
};

// The end of the rows from `start` of one change's size.
int end_of_run(const SizeChanges& changes, const PartChanges& part, int start) {
    const std::uint64_t size = magnitude(change_of(changes, part.part, part.rows[start]));
    int end = start + 1;
    while (end < part.count && magnitude(change_of(changes, part.part, part.rows[end])) == size) ++end;
    return end;
}

// Where a row's name is read: its build (the old first), then its place in the file.
bool read_before(const SizeChanges& changes, Part part, const ChangedRow& a, const ChangedRow& b) {
    if (a.in_new != b.in_new) return b.in_new;
    const unsigned a_index = a.in_new ? a.new_index : a.old_index, b_index = b.in_new ? b.new_index : b.old_index;
    if (part != Part::Routines) return a_index < b_index;
    const RoutineSpan* spans = build_of(changes, a.in_new).model->routines.span;
    return spans[a_index].record() < spans[b_index].record();
}

}  // namespace

void ReleaseSizeChanges::operator()(SizeChanges* changes) const {
    std::free(changes->row_room);
    std::free(changes);
}

SizeChangesHandle compare_size_profiles(const SizeProfile& old_profile, const SizeProfile& new_profile) {
    SizeChangesHandle changes(static_cast<SizeChanges*>(allocate_table(sizeof(SizeChanges))));
    changes->old_profile = &old_profile;
    changes->new_profile = &new_profile;
    changes->row_room =
        static_cast<ChangedRow*>(allocate_table(sizeof(ChangedRow) * (section_rows + file_rows + routine_rows)));
    changes->sections_unsized = old_profile.model->memory_map_falls || new_profile.model->memory_map_falls;
    changes->sections = {Part::Sections, changes->row_room, 0};
    if (!changes->sections_unsized) changes->sections = match(*changes, Part::Sections, changes->row_room);
    changes->files = match(*changes, Part::Files, changes->row_room + section_rows);
    changes->routines = match(*changes, Part::Routines, changes->row_room + section_rows + file_rows);
    return changes;
}

std::int64_t row_change(const SizeChanges& changes, const PartChanges& part, const ChangedRow& row) {
    return change_of(changes, part.part, row);
}

std::uint64_t routine_row_key(const SizeChanges& changes, const ChangedRow& row) {
    return row.in_new ? changes.new_profile->routine_keys[row.new_index]
                      : changes.old_profile->routine_keys[row.old_index];
}

void visit_rows(SizeChanges& changes, PartChanges& part, int limit, void (*visit)(void* context, const SizeRow& row),
                void* context) {
    auto* batch = static_cast<NameBatch*>(allocate_table(sizeof(NameBatch)));
    int visited = 0;
    for (int start = 0; start < part.count && visited < limit;) {
        // Whole runs of one change while the batch holds them, or one longer run.
        int end = end_of_run(changes, part, start);
        while (end < part.count && end_of_run(changes, part, end) - start <= std::min(name_batch_size, limit - visited))
            end = end_of_run(changes, part, end);
        std::sort(part.rows + start, part.rows + end, [&changes, &part](const ChangedRow& a, const ChangedRow& b) {
            return read_before(changes, part.part, a, b);
        });
        // Each reading keeps the rows that come first after those shown.
        NamedRow last{};
        for (int shown = 0; shown < end - start && visited < limit;) {
            batch->held = 0;
            batch->capacity = std::min(name_batch_size, limit - visited);
            NamedRow read;
            Name scratch;
            for (int i = start; i < end; ++i) {
                const ChangedRow& row = part.rows[i];
                read.row = &row;
                read.change = change_of(changes, part.part, row);
                read.bytes =
                    bytes_of(part.part, build_of(changes, row.in_new), row.in_new ? row.new_index : row.old_index);
                read.name.assign(name_of(part.part, build_of(changes, row.in_new),
                                         row.in_new ? row.new_index : row.old_index, scratch));
                if (shown == 0 || named_before(last, read)) batch->offer(read);
            }
            if (batch->held == 0) break;  // names that changed since they were first read
            batch->put_in_order();
            for (int i = 0; i < batch->held && visited < limit; ++i, ++visited) {
                const ChangedRow& row = *(*batch)[i].row;
                const std::uint64_t old_bytes =
                    row.in_old ? bytes_of(part.part, *changes.old_profile, row.old_index) : 0;
                visit(context, {(*batch)[i].name.view(), row.in_old, row.in_new, old_bytes,
                                old_bytes + static_cast<std::uint64_t>((*batch)[i].change)});
            }
            last = (*batch)[batch->held - 1];
            shown += batch->held;
        }
        start = end;
    }
    std::free(batch);
}
