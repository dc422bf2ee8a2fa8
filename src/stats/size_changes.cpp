// Matching two builds' profiles part by part: each build's entries sorted by
// the hash of their names (the first of each counting), then walked side by
// side; routines named after an unnamed object's number, by their place.
#include "stats/size_changes.h"

#include <algorithm>
#include <cstdlib>
#include <memory>
#include <new>
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
        case Part::Routines:  // but those paired by their place
            for (unsigned i = 0; i < routines.count; ++i) {
                const unsigned number = routines.in_file_order[i];
                if (is_measured(routines.span[number]) && !is_numbered(profile, number))
                    indices[count++] = static_cast<std::uint16_t>(number);
            }
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

// Walks the entries of a part in both builds side by side by key, calling
// `visit(row)` for each: of both builds where their keys match, else of one.
template <typename Visit>
void walk_by_key(const SizeChanges& changes, Part part, Visit visit) {
    const std::size_t room = part == Part::Routines ? word_count : memory_map_capacity;  // of entries a build
    auto* indices = static_cast<std::uint16_t*>(allocate_table(sizeof(std::uint16_t) * 2 * room));
    std::uint64_t old_room[memory_map_capacity], new_room[memory_map_capacity];
    const std::uint64_t *old_keys, *new_keys;
    const std::uint16_t *a = indices, *b = indices + room;
    const std::uint16_t* const a_end = a + entries_by_key(part, *changes.old_profile, indices, old_keys, old_room);
    const std::uint16_t* const b_end =
        b + entries_by_key(part, *changes.new_profile, indices + room, new_keys, new_room);
    while (a != a_end || b != b_end) {
        if (b == b_end || (a != a_end && old_keys[*a] < new_keys[*b]))
            visit(ChangedRow{*a++, 0, true, false});
        else if (a == a_end || new_keys[*b] < old_keys[*a])
            visit(ChangedRow{0, *b++, false, true});
        else
            visit(ChangedRow{*a++, *b++, true, true});
    }
    std::free(indices);
}

// --- Routines named after a number the compiler made ---------------------------
// They are paired by their place among their source file's routines, as a
// text diff aligns lines: the routines of the file matched by name are the
// anchors, of which the longest run in the same order in both builds is
// kept (a moved routine breaks nothing); between two anchors kept, the
// numbered routines of each build are aligned by their shape.

// The most cells of a gap aligned in full, (old + 1) * (new + 1); a larger
// one is paired in order within each shape.
constexpr int gap_cells = 1 << 16;

// A build's measured routines grouped by source file, in file order.
struct ByFile {
    std::uint16_t routine[word_count];
    int start[file_number_count + 1];
};

// The tables of the pairing, bounded by the format, mapped once.
struct Pairing {
    ByFile build[2];                      // old, new
    int file_partner[file_number_count];  // an old file's new file by path, or -1
    bool new_file_paired[file_number_count];
    std::uint32_t named_partner[word_count];  // of an old routine: 1 + the new routine of its name, or 0
    // The longest run of anchors (old places): the last of the best run of
    // each length so far, and of each anchor the one before it in its run.
    std::uint16_t run_end[word_count];
    std::uint16_t previous[word_count];
    std::uint16_t best[gap_cells];  // of each pair of gap suffixes: pairs, those of one size counting twice
};

void group_by_file(const SizeProfile& profile, ByFile& by_file) {
    int next[file_number_count];
    for (int file = 0; file < file_number_count; ++file) {
        next[file] = by_file.start[file];
        by_file.start[file + 1] = by_file.start[file] + static_cast<int>(profile.file_code[file].routines);
    }
    const RoutineTable& routines = profile.model->routines;
    for (unsigned i = 0; i < routines.count; ++i) {
        const std::uint16_t number = routines.in_file_order[i];
        const RoutineSpan& routine = routines.span[number];
        if (!is_measured(routine)) continue;
        by_file.routine[next[routine.file]++] = number;
    }
}

// The rows of a part that changed, as they are found.
struct RowsOut {
    const SizeChanges& changes;
    Part part;
    ChangedRow* rows;
    int count;
    void add(const ChangedRow& row) {
        rows[count] = row;
        count += !(row.in_old && row.in_new) || change_of(changes, part, row) != 0;
    }
    void removed(unsigned number) { add({static_cast<std::uint16_t>(number), 0, true, false}); }
    void added(unsigned number) { add({0, static_cast<std::uint16_t>(number), false, true}); }
    void paired(unsigned old_number, unsigned new_number) {
        add({static_cast<std::uint16_t>(old_number), static_cast<std::uint16_t>(new_number), true, true});
    }
};

// What pairing an old numbered routine with a new one is worth: nothing
// between shapes that differ, twice as much for routines of one size (most
// likely the same routine renumbered), so that the fewest rows are left.
unsigned pair_worth(const SizeChanges& changes, unsigned old_number, unsigned new_number) {
    const SizeProfile &a = *changes.old_profile, &b = *changes.new_profile;
    if (a.routine_shapes[old_number] != b.routine_shapes[new_number]) return 0;
    return 1u +
           (code_bytes_of(a.model->routines.span[old_number]) == code_bytes_of(b.model->routines.span[new_number]));
}

// Aligns the numbered routines of one gap, `m` old ones at `a` and `n` new
// ones at `b`: the common ends of one shape and size, then the rest in full
// as a diff does where `best` holds it, else in order within each shape.
void align_gap(RowsOut& out, std::uint16_t* best, std::uint16_t* a, int m, std::uint16_t* b, int n) {
    const SizeChanges& changes = out.changes;
    for (; m > 0 && n > 0 && pair_worth(changes, a[0], b[0]) == 2; --m, --n) out.paired(*a++, *b++);
    for (; m > 0 && n > 0 && pair_worth(changes, a[m - 1], b[n - 1]) == 2; --m, --n) out.paired(a[m - 1], b[n - 1]);
    if (std::int64_t{m + 1} * (n + 1) <= gap_cells) {
        const int width = n + 1;
        auto at = [best, width](int i, int j) -> std::uint16_t& { return best[i * width + j]; };
        for (int i = m; i >= 0; --i)
            for (int j = n; j >= 0; --j) {
                if (i == m || j == n) {
                    at(i, j) = 0;
                    continue;
                }
                const unsigned worth = pair_worth(changes, a[i], b[j]);
                at(i, j) = std::max({at(i + 1, j), at(i, j + 1),
                                     static_cast<std::uint16_t>(worth == 0 ? 0 : worth + at(i + 1, j + 1))});
            }
        int i = 0, j = 0;
        while (i < m && j < n) {
            const unsigned worth = pair_worth(changes, a[i], b[j]);
            if (worth != 0 && at(i, j) == worth + at(i + 1, j + 1))
                out.paired(a[i++], b[j++]);
            else if (at(i, j) == at(i + 1, j))
                out.removed(a[i++]);
            else
                out.added(b[j++]);
        }
        for (; i < m; ++i) out.removed(a[i]);
        for (; j < n; ++j) out.added(b[j]);
        return;
    }
    // Too large to align in full: the first of a shape with the first, and so on.
    const std::uint64_t *old_shapes = changes.old_profile->routine_shapes,
                        *new_shapes = changes.new_profile->routine_shapes;
    std::stable_sort(a, a + m, [old_shapes](unsigned x, unsigned y) { return old_shapes[x] < old_shapes[y]; });
    std::stable_sort(b, b + n, [new_shapes](unsigned x, unsigned y) { return new_shapes[x] < new_shapes[y]; });
    const std::uint16_t *a_end = a + m, *b_end = b + n;
    while (a != a_end || b != b_end) {
        if (b == b_end || (a != a_end && old_shapes[*a] < new_shapes[*b]))
            out.removed(*a++);
        else if (a == a_end || new_shapes[*b] < old_shapes[*a])
            out.added(*b++);
        else
            out.paired(*a++, *b++);
    }
}

// Pairs the numbered routines of an old file with those of its new file;
// -1 for a file of one build only.
void pair_in_file(RowsOut& out, Pairing& pairing, int old_file, int new_file) {
    ByFile &old_build = pairing.build[0], &new_build = pairing.build[1];
    const int old_start = old_file < 0 ? 0 : old_build.start[old_file];
    const int old_end = old_file < 0 ? 0 : old_build.start[old_file + 1];
    const int new_start = new_file < 0 ? 0 : new_build.start[new_file];
    const int new_end = new_file < 0 ? 0 : new_build.start[new_file + 1];
    const RoutineSpan* new_spans = out.changes.new_profile->model->routines.span;
    // An old place's anchor: the new routine of its name in the new file, or -1.
    auto anchor_of = [&](int place) {
        const std::uint32_t partner = pairing.named_partner[old_build.routine[place]];
        return partner != 0 && new_spans[partner - 1].file == new_file ? static_cast<int>(partner - 1) : -1;
    };
    auto new_order = [&](unsigned place) -> unsigned { return new_spans[anchor_of(static_cast<int>(place))].order; };
    // The longest run of anchors in the same order in both (patience sorting).
    int length = 0;
    unsigned last_order = 0;  // of the run's last anchor
    for (int place = old_start; place < old_end; ++place) {
        const int anchor = anchor_of(place);
        if (anchor < 0) continue;
        const unsigned order = new_spans[anchor].order;
        // Anchors mostly stand in order: each one then makes the run longer.
        int k = length;
        if (length > 0 && last_order > order)
            k = static_cast<int>(std::lower_bound(pairing.run_end, pairing.run_end + length, order,
                                                  [&](unsigned end, unsigned of) { return new_order(end) < of; }) -
                                 pairing.run_end);
        if (k > 0) pairing.previous[place] = pairing.run_end[k - 1];
        pairing.run_end[k] = static_cast<std::uint16_t>(place);
        if (k >= length - 1) last_order = order;
        length = std::max(length, k + 1);
    }
    // The run in order, over the ends no longer needed.
    for (int k = length - 1, anchor = length == 0 ? 0 : pairing.run_end[k]; k >= 0; anchor = pairing.previous[anchor])
        pairing.run_end[k--] = static_cast<std::uint16_t>(anchor);
    const SizeProfile &old_profile = *out.changes.old_profile, &new_profile = *out.changes.new_profile;
    int old_place = old_start, new_place = new_start;
    for (int k = 0; k <= length; ++k) {
        const int old_anchor = k < length ? pairing.run_end[k] : old_end;
        const int new_anchor = k < length ? anchor_of(old_anchor) : -1;
        // The numbered routines of the gap, moved to its start: its places are not read again.
        std::uint16_t *old_gap = old_build.routine + old_place, *new_gap = new_build.routine + new_place;
        int old_count = 0, new_count = 0;
        for (; old_place < old_anchor; ++old_place)
            if (is_numbered(old_profile, old_build.routine[old_place]))
                old_gap[old_count++] = old_build.routine[old_place];
        for (; new_place < new_end && new_build.routine[new_place] != new_anchor; ++new_place)
            if (is_numbered(new_profile, new_build.routine[new_place]))
                new_gap[new_count++] = new_build.routine[new_place];
        if (old_count + new_count != 0) align_gap(out, pairing.best, old_gap, old_count, new_gap, new_count);
        ++old_place;
        ++new_place;
    }
}

// The rows of the numbered routines, after `out`'s of those matched by name.
void pair_numbered(RowsOut& out, Pairing& pairing) {
    for (int file = 0; file < file_number_count; ++file) pairing.file_partner[file] = -1;
    walk_by_key(out.changes, Part::Files, [&pairing](const ChangedRow& row) {
        if (!row.in_old || !row.in_new) return;
        pairing.file_partner[row.old_index] = row.new_index;
        pairing.new_file_paired[row.new_index] = true;
    });
    auto has_numbered = [](const SizeProfile& profile, int file) {
        return file >= 0 && (profile.files_with_numbered[file / 64] >> file % 64 & 1) != 0;
    };
    const SizeProfile &old_profile = *out.changes.old_profile, &new_profile = *out.changes.new_profile;
    for (int file = 0; file < file_number_count; ++file) {
        const int partner = pairing.file_partner[file];
        if (has_numbered(old_profile, file) || has_numbered(new_profile, partner))
            pair_in_file(out, pairing, file, partner);
        if (!pairing.new_file_paired[file] && has_numbered(new_profile, file)) pair_in_file(out, pairing, -1, file);
    }
}

// The changed rows of a part, largest change first; those of one change in no order yet.
PartChanges match(const SizeChanges& changes, Part part, ChangedRow* rows) {
    RowsOut out{changes, part, rows, 0};
    bool numbered = false;  // a routine of either build
    for (int i = 0; part == Part::Routines && i < file_number_count / 64; ++i)
        numbered |= (changes.old_profile->files_with_numbered[i] | changes.new_profile->files_with_numbered[i]) != 0;
    if (!numbered) {
        walk_by_key(changes, part, [&out](const ChangedRow& row) { out.add(row); });
    } else {
        Pairing* const pairing = new_table<Pairing>();
        if (pairing == nullptr) throw std::bad_alloc();
        group_by_file(*changes.old_profile, pairing->build[0]);
        group_by_file(*changes.new_profile, pairing->build[1]);
        walk_by_key(changes, part, [&out, pairing](const ChangedRow& row) {
            out.add(row);
            if (row.in_old && row.in_new) pairing->named_partner[row.old_index] = 1u + row.new_index;
        });
        pair_numbered(out, *pairing);
        release_table(pairing);
    }
    std::sort(rows, rows + out.count, [&changes, part](const ChangedRow& x, const ChangedRow& y) {
        return magnitude(change_of(changes, part, x)) > magnitude(change_of(changes, part, y));
    });
    return {part, rows, out.count};
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
                const std::string_view name = (*batch)[i].name.view();
                std::string_view old_name;
                if (part.part == Part::Routines && row.in_old && row.in_new &&
                    is_numbered(*changes.old_profile, row.old_index)) {
                    old_name = routine_name(*changes.old_profile, row.old_index, scratch);
                    if (old_name == name) old_name = {};
                }
                visit(context, {name, row.in_old, row.in_new, old_bytes,
                                old_bytes + static_cast<std::uint64_t>((*batch)[i].change), old_name});
            }
            last = (*batch)[batch->held - 1];
            shown += batch->held;
        }
        start = end;
    }
    std::free(batch);
}
