// Matching two builds' profiles part by part: each build's entries sorted by
// name (for routines, by the hash of their keys; the first of each counting),
// then walked side by side.
#include "stats/size_changes.h"

#include <algorithm>
#include <cstdlib>
#include <cstring>

#include "stats/report_pieces.h"

namespace {

constexpr int section_rows = 2 * memory_map_capacity;
constexpr int file_rows = 2 * file_number_count;
constexpr int routine_rows = 2 * word_count;
// "file 255" fits in 16 bytes.
constexpr std::size_t made_name_size = 16;
constexpr std::size_t name_room_size = made_name_size * file_rows;
// The names of routine rows held at once while they are put in name order.
constexpr int name_batch_size = 8192;

// One build's entry of a part, in file order.
struct Entry {
    std::string_view name;
    std::uint64_t bytes;
};

// Entries of one part of one build, freed when done.
struct Entries {
    Entry* entries = static_cast<Entry*>(allocate_table(sizeof(Entry) * memory_map_capacity));
    int count = 0;
    ~Entries() { std::free(entries); }
    void add(std::string_view name, std::uint64_t bytes) { entries[count++] = {name, bytes}; }
    // Sorted by name, keeping the first entry of each name only.
    void keep_first_of_each_name() {
        std::stable_sort(entries, entries + count, [](const Entry& a, const Entry& b) { return a.name < b.name; });
        count = static_cast<int>(
            std::unique(entries, entries + count, [](const Entry& a, const Entry& b) { return a.name == b.name; }) -
            entries);
    }
};

// The names made for what has none, kept as long as the rows.
struct NameRoom {
    char* next;
    std::string_view keep(std::string_view name) {
        std::memcpy(next, name.data(), name.size());
        next += name.size();
        return {next - name.size(), name.size()};
    }
};

// Whether a row of change `a_change` and name `a_name` comes before one of
// `b_change` and `b_name`: largest change first, ties by name.
bool comes_before(std::int64_t a_change, std::string_view a_name, std::int64_t b_change, std::string_view b_name) {
    if (magnitude(a_change) != magnitude(b_change)) return magnitude(a_change) > magnitude(b_change);
    return a_name < b_name;
}

SizeRows match(Entries& old_part, Entries& new_part, SizeRow* rows) {
    old_part.keep_first_of_each_name();
    new_part.keep_first_of_each_name();
    int count = 0;
    const Entry *a = old_part.entries, *a_end = a + old_part.count;
    const Entry *b = new_part.entries, *b_end = b + new_part.count;
    while (a != a_end || b != b_end) {
        if (b == b_end || (a != a_end && a->name < b->name)) {
            rows[count++] = {a->name, true, false, a->bytes, 0};
            ++a;
        } else if (a == a_end || b->name < a->name) {
            rows[count++] = {b->name, false, true, 0, b->bytes};
            ++b;
        } else {
            if (a->bytes != b->bytes) rows[count++] = {b->name, true, true, a->bytes, b->bytes};
            ++a;
            ++b;
        }
    }
    std::sort(rows, rows + count,
              [](const SizeRow& x, const SizeRow& y) { return comes_before(x.change(), x.name, y.change(), y.name); });
    return {rows, count};
}

void add_sections(const SizeProfile& profile, Entries& part) {
    for (int i = 0; i < profile.model->memory_map_size; ++i) {
        std::uint32_t size;
        if (section_size(profile, i, size)) part.add(profile.model->memory_map[i].name.view(), size);
    }
}

void add_files(const SizeProfile& profile, Entries& part, NameRoom& room) {
    for (int i = 0; i < profile.file_count; ++i) {
        const int number = profile.files_by_size[i];
        stats::FileLabel made;
        std::string_view name = stats::file_path(*profile.model, number, made);
        if (name.data() == made.text) name = room.keep(name);
        part.add(name, profile.file_code[number].bytes);
    }
}

// The measured routines of a build by key, the first of each key only;
// returns how many.
int routines_by_key(const SizeProfile& profile, std::uint16_t* numbers) {
    const RoutineTable& routines = profile.model->routines;
    int count = 0;
    for (unsigned i = 0; i < routines.count; ++i)
        if (is_measured(routines.span[routines.in_file_order[i]])) numbers[count++] = routines.in_file_order[i];
    const std::uint64_t* keys = profile.routine_keys;
    std::stable_sort(numbers, numbers + count, [keys](unsigned a, unsigned b) { return keys[a] < keys[b]; });
    return static_cast<int>(
        std::unique(numbers, numbers + count, [keys](unsigned a, unsigned b) { return keys[a] == keys[b]; }) - numbers);
}

// The changed routines, largest change first; those of one change in no order yet.
int match_routines(const SizeProfile& old_profile, const SizeProfile& new_profile, RoutineRow* rows) {
    auto* numbers = static_cast<std::uint16_t*>(allocate_table(sizeof(std::uint16_t) * 2 * word_count));
    const int old_count = routines_by_key(old_profile, numbers);
    const int new_count = routines_by_key(new_profile, numbers + word_count);
    const std::uint16_t *a = numbers, *a_end = a + old_count;
    const std::uint16_t *b = numbers + word_count, *b_end = b + new_count;
    auto bytes = [](const SizeProfile& profile, unsigned number) {
        return static_cast<std::uint32_t>(code_bytes_of(profile.model->routines.span[number]));
    };
    const std::uint64_t *old_keys = old_profile.routine_keys, *new_keys = new_profile.routine_keys;
    int count = 0;
    while (a != a_end || b != b_end) {
        if (b == b_end || (a != a_end && old_keys[*a] < new_keys[*b])) {
            rows[count++] = {bytes(old_profile, *a), 0, *a, true, false};
            ++a;
        } else if (a == a_end || new_keys[*b] < old_keys[*a]) {
            rows[count++] = {0, bytes(new_profile, *b), *b, false, true};
            ++b;
        } else {
            if (bytes(old_profile, *a) != bytes(new_profile, *b))
                rows[count++] = {bytes(old_profile, *a), bytes(new_profile, *b), *b, true, true};
            ++a;
            ++b;
        }
    }
    std::free(numbers);
    std::sort(rows, rows + count,
              [](const RoutineRow& x, const RoutineRow& y) { return magnitude(x.change()) > magnitude(y.change()); });
    return count;
}

const SizeProfile& build_of(const SizeChanges& changes, const RoutineRow& row) {
    return row.in_new ? *changes.new_profile : *changes.old_profile;
}

// A routine row with its name, held while a batch is put in order.
struct NamedRow {
    Name name;
    const RoutineRow* row;
};

bool named_before(const NamedRow& a, const NamedRow& b) {
    return comes_before(a.row->change(), a.name.view(), b.row->change(), b.name.view());
}

// The `capacity` rows that come first of those offered.
struct NameBatch {
    NamedRow slot[name_batch_size];
    std::uint16_t heap[name_batch_size];  // slots, the one to come last on top
    int held;
    int capacity;

    void offer(const NamedRow& row) {
        auto by_order = [this](unsigned a, unsigned b) { return named_before(slot[a], slot[b]); };
        if (held < capacity) {
            slot[held] = row;
            heap[held] = static_cast<std::uint16_t>(held);
            std::push_heap(heap, heap + ++held, by_order);
        } else if (named_before(row, slot[heap[0]])) {
            std::pop_heap(heap, heap + held, by_order);
            slot[heap[held - 1]] = row;
            std::push_heap(heap, heap + held, by_order);
        }
    }
    // The rows held, in order, through heap.
    void put_in_order() {
        std::sort_heap(heap, heap + held, [this](unsigned a, unsigned b) { return named_before(slot[a], slot[b]); });
    }
    const NamedRow& operator[](int i) const { return slot[heap[i]]; }
};

// The end of the rows from `start` of one change's size.
int end_of_run(const RoutineRow* rows, int start, int count) {
    int end = start + 1;
    while (end < count && magnitude(rows[end].change()) == magnitude(rows[start].change())) ++end;
    return end;
}

}  // namespace

void ReleaseSizeChanges::operator()(SizeChanges* changes) const {
    std::free(changes->row_room);
    std::free(changes->name_room);
    std::free(changes->routines);
    std::free(changes);
}

SizeChangesHandle compare_size_profiles(const SizeProfile& old_profile, const SizeProfile& new_profile) {
    SizeChangesHandle changes(static_cast<SizeChanges*>(allocate_table(sizeof(SizeChanges))));
    changes->old_profile = &old_profile;
    changes->new_profile = &new_profile;
    changes->row_room = static_cast<SizeRow*>(allocate_table(sizeof(SizeRow) * (section_rows + file_rows)));
    changes->name_room = static_cast<char*>(allocate_table(name_room_size));
    NameRoom room{changes->name_room};

    changes->sections_unsized = old_profile.model->memory_map_falls || new_profile.model->memory_map_falls;
    if (!changes->sections_unsized) {
        Entries old_part, new_part;
        add_sections(old_profile, old_part);
        add_sections(new_profile, new_part);
        changes->sections = match(old_part, new_part, changes->row_room);
    }
    Entries old_part, new_part;
    add_files(old_profile, old_part, room);
    add_files(new_profile, new_part, room);
    changes->files = match(old_part, new_part, changes->row_room + section_rows);
    changes->routines = static_cast<RoutineRow*>(allocate_table(sizeof(RoutineRow) * routine_rows));
    changes->routine_count = match_routines(old_profile, new_profile, changes->routines);
    return changes;
}

std::uint64_t routine_row_key(const SizeChanges& changes, const RoutineRow& row) {
    return build_of(changes, row).routine_keys[row.number];
}

void visit_routine_rows(SizeChanges& changes, int limit, void (*visit)(void* context, const SizeRow& row),
                        void* context) {
    RoutineRow* const rows = changes.routines;
    const int count = changes.routine_count;
    auto* batch = static_cast<NameBatch*>(allocate_table(sizeof(NameBatch)));
    int visited = 0;
    for (int start = 0; start < count && visited < limit;) {
        // Whole runs of one change while the batch holds them, or one longer
        // run, read in the order of the files: old build first, by offset.
        int end = end_of_run(rows, start, count);
        while (end < count && end_of_run(rows, end, count) - start <= std::min(name_batch_size, limit - visited))
            end = end_of_run(rows, end, count);
        std::sort(rows + start, rows + end, [&changes](const RoutineRow& a, const RoutineRow& b) {
            if (a.in_new != b.in_new) return b.in_new;
            return build_of(changes, a).model->routines.span[a.number].record() <
                   build_of(changes, b).model->routines.span[b.number].record();
        });
        // Each reading keeps the rows that come first after those shown.
        NamedRow last{};
        for (int shown = 0; shown < end - start && visited < limit;) {
            batch->held = 0;
            batch->capacity = std::min(name_batch_size, limit - visited);
            NamedRow read;
            Name scratch;
            for (int i = start; i < end; ++i) {
                read.row = rows + i;
                read.name.assign(routine_key(build_of(changes, rows[i]), rows[i].number, scratch));
                if (shown == 0 || named_before(last, read)) batch->offer(read);
            }
            if (batch->held == 0) break;  // names that changed since they were first read
            batch->put_in_order();
            for (int i = 0; i < batch->held && visited < limit; ++i, ++visited) {
                const RoutineRow& row = *(*batch)[i].row;
                visit(context, {(*batch)[i].name.view(), row.in_old, row.in_new, row.old_bytes, row.new_bytes});
            }
            last = (*batch)[batch->held - 1];
            shown += batch->held;
        }
        start = end;
    }
    std::free(batch);
}
