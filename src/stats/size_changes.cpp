// Matching two builds' profiles part by part: each build's entries sorted by
// name (the first of each name counting), then walked side by side.
#include "stats/size_changes.h"

#include <algorithm>
#include <charconv>
#include <cstdlib>
#include <cstring>

namespace {

constexpr int section_rows = 2 * memory_map_capacity;
constexpr int file_rows = 2 * file_number_count;
constexpr int routine_rows = 2 * word_count;
// "(routine 65535)" and "file 255" fit in 16 bytes.
constexpr std::size_t made_name_size = 16;
constexpr std::size_t name_room_size = made_name_size * (word_count + file_number_count) * 2;

// One build's entry of a part, in file order.
struct Entry {
    std::string_view name;
    std::uint64_t bytes;
};

// Entries of one part of one build, freed when done.
struct Entries {
    Entry* entries = static_cast<Entry*>(allocate_table(sizeof(Entry) * word_count));
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
    std::sort(rows, rows + count, [](const SizeRow& x, const SizeRow& y) {
        const std::int64_t x_change = x.change(), y_change = y.change();
        const std::uint64_t x_magnitude = x_change < 0 ? 0 - static_cast<std::uint64_t>(x_change) : x_change;
        const std::uint64_t y_magnitude = y_change < 0 ? 0 - static_cast<std::uint64_t>(y_change) : y_change;
        return x_magnitude != y_magnitude ? x_magnitude > y_magnitude : x.name < y.name;
    });
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
        const SourceFileNames& file = profile.model->files[number];
        char made[made_name_size] = "file ";
        std::string_view name =
            file.declared
                ? file.file_name.view()
                : room.keep(
                      {made, static_cast<std::size_t>(std::to_chars(made + 5, made + sizeof made, number).ptr - made)});
        part.add(name, profile.file_code[number].bytes);
    }
}

void add_routines(const SizeProfile& profile, Entries& part, NameRoom& room) {
    const RoutineTable& routines = profile.model->routines;
    for (unsigned i = 0; i < routines.count; ++i) {
        const unsigned number = routines.in_file_order[i];
        if (!is_measured(routines.span[number])) continue;
        char scratch[24];
        std::string_view name = routine_key(profile, number, scratch);
        if (name.data() == scratch) name = room.keep(name);
        part.add(name, code_bytes_of(routines.span[number]));
    }
}

}  // namespace

std::string_view routine_key(const SizeProfile& profile, unsigned number, char (&scratch)[24]) {
    Name unused;
    std::string_view name = routine_name(profile, number, unused);
    if (!name.empty()) return name;
    std::memcpy(scratch, "(routine ", 9);
    char* end = std::to_chars(scratch + 9, scratch + sizeof scratch, number).ptr;
    *end++ = ')';
    return {scratch, static_cast<std::size_t>(end - scratch)};
}

void ReleaseSizeChanges::operator()(SizeChanges* changes) const {
    std::free(changes->row_room);
    std::free(changes->name_room);
    std::free(changes);
}

SizeChangesHandle compare_size_profiles(const SizeProfile& old_profile, const SizeProfile& new_profile) {
    SizeChangesHandle changes(static_cast<SizeChanges*>(allocate_table(sizeof(SizeChanges))));
    changes->row_room =
        static_cast<SizeRow*>(allocate_table(sizeof(SizeRow) * (section_rows + file_rows + routine_rows)));
    changes->name_room = static_cast<char*>(allocate_table(name_room_size));
    NameRoom room{changes->name_room};
    SizeRow* rows = changes->row_room;

    changes->sections_unsized = old_profile.model->memory_map_falls || new_profile.model->memory_map_falls;
    if (!changes->sections_unsized) {
        Entries old_part, new_part;
        add_sections(old_profile, old_part);
        add_sections(new_profile, new_part);
        changes->sections = match(old_part, new_part, rows);
    }
    rows += section_rows;
    {
        Entries old_part, new_part;
        add_files(old_profile, old_part, room);
        add_files(new_profile, new_part, room);
        changes->files = match(old_part, new_part, rows);
    }
    rows += file_rows;
    Entries old_part, new_part;
    add_routines(old_profile, old_part, room);
    add_routines(new_profile, new_part, room);
    changes->routines = match(old_part, new_part, rows);
    return changes;
}
