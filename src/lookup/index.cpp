// The one reading of the file for lookups, through the record loop, and the
// tables it fills. Peak memory stays below 16 MiB whatever the file holds:
//   - the routine table and the number tables: a few MiB, all the format allows;
//   - one arena of 64-bit entries shared by the name index (at most one entry
//     for each of the 524,544 records that count, growing down from the top)
//     and the line index (one entry for each source line of each
//     SequencePoints record, growing up from the bottom). When they meet, the
//     line index gives way: it keeps the records before some offset and
//     source-line lookups read the records from there on.
#include "lookup/index.h"

#include <algorithm>
#include <cstdlib>
#include <cstring>

#include "reader/record_loop.h"
#include "reader/records.h"

namespace lookup {

namespace {

constexpr unsigned word_count = 65536;
constexpr std::uint64_t offset_mask = (std::uint64_t{1} << 40) - 1;
constexpr std::uint64_t no_offset = ~std::uint64_t{0};

// Record offsets of 40 bits in five bytes each; 0 is no record (offset 0 is
// the magic number).
template <unsigned size>
struct OffsetTable {
    std::uint32_t low[size];
    std::uint8_t high[size];
    std::uint64_t get(unsigned i) const { return low[i] | std::uint64_t{high[i]} << 32; }
    void set(unsigned i, std::uint64_t offset) {
        low[i] = static_cast<std::uint32_t>(offset);
        high[i] = static_cast<std::uint8_t>(offset >> 32);
    }
};

bool code_area_known;
unsigned long code_area;

struct RoutineTable {
    // Code offsets, with bit 31 set once known.
    std::uint32_t start[word_count];
    std::uint32_t end[word_count];
    OffsetTable<word_count> record;
    OffsetTable<word_count> first_points;
    OffsetTable<word_count> last_points;
    // The order of each number's first Routine record.
    std::uint16_t rank[word_count];
    unsigned count;
    // The routines with code (start below end), by start, and for each the
    // greatest end among it and those before it: the routines that may hold
    // an offset are found by one search and a short walk back.
    std::uint16_t by_start[word_count];
    std::uint32_t reach[word_count];
    unsigned with_code;
};
constexpr std::uint32_t known = 0x80000000u;

unsigned class_count;

// The arena: line entries (file << 56 | line << 40 | record offset) from the
// bottom, name entries (24-bit name hash << 40 | record offset) from the top.
constexpr std::size_t arena_size = 960 * 1024;

// The tables, about 12 MiB, of which a run touches the pages it fills. They
// are set aside when lookups start, once, so that a run of another mode does
// not carry them.
struct IndexTables {
    SourceFile files[256];
    RoutineTable routines;
    // Number tables of the kinds with a number (routines have their own).
    OffsetTable<word_count> numbered[5];  // Object, Attribute, Property, FakeAction, Action
    OffsetTable<word_count> arrays;
    std::uint64_t globals[256];
    std::uint64_t arena[arena_size];
};
IndexTables* tables;
std::size_t line_count;
std::size_t name_count;
std::uint64_t unindexed_from = no_offset;
// Each time the line index gives way, it frees at least this much room.
constexpr std::size_t least_room_made = arena_size / 16;

std::uint64_t end_record = 0;

std::uint64_t* names_begin() { return tables->arena + arena_size - name_count; }

unsigned char fold(unsigned char c) { return c >= 'A' && c <= 'Z' ? static_cast<unsigned char>(c + 32) : c; }

std::uint64_t name_hash(std::string_view name) {
    std::uint32_t hash = 2166136261u;
    for (char c : name) hash = (hash ^ fold(static_cast<unsigned char>(c))) * 16777619u;
    return (hash ^ hash >> 24) & 0xFFFFFF;
}

// During the reading the line entries stand in file order, so the records
// from some offset on are the entries at the end. Drops them and indexes no
// record after them.
void stop_indexing_lines_from(std::uint64_t offset) {
    while (line_count != 0 && (tables->arena[line_count - 1] & offset_mask) >= offset) --line_count;
    unindexed_from = std::min(unindexed_from, offset);
}

// Room for one more name entry: the line index gives way, its last records
// first. The names that count (at most 524,544) never fill the tables->arena alone,
// so there are line entries to drop.
void make_room_for_name() {
    std::size_t kept = line_count - std::min(line_count, least_room_made);
    stop_indexing_lines_from(tables->arena[kept] & offset_mask);
}

std::uint64_t record_offset() {
    std::uint64_t offset = input_offset() - 1;  // at the type byte
    if (offset > offset_mask) fatal_error("Debugging info file too large for lookups");
    return offset;
}

void add_name(std::string_view name, std::uint64_t offset) {
    if (line_count + name_count == arena_size) make_room_for_name();
    ++name_count;
    *names_begin() = name_hash(name) << 40 | offset;
}

// --- The handlers of the reading ------------------------------------------

void index_file() {
    SourceFile& file = tables->files[read_byte()];
    file.declared = true;
    file.include_name_length = read_string(file.include_name);
    file.file_name_length = read_string(file.file_name);
}

void index_code_area() {
    for (std::string_view name; !(name = read_string_view()).empty();) {
        bool is_code_area = !code_area_known && name == "code area";
        unsigned long address = read_address();
        if (is_code_area) {
            code_area_known = true;
            code_area = address;
        }
    }
}

// The name that follows, entered in the name index when the record counts.
void index_name_if(bool counts, std::uint64_t offset) {
    if (counts)
        add_name(read_string_view(), offset);
    else
        skip_string();
}

void index_class() {
    std::uint64_t offset = record_offset();
    bool counts = class_count < word_count;
    if (counts) ++class_count;
    index_name_if(counts, offset);
    skip_bytes(8);
}

bool first_of_number(OffsetTable<word_count>& table, unsigned number, std::uint64_t offset) {
    if (table.get(number) != 0) return false;
    table.set(number, offset);
    return true;
}

void index_object() {
    std::uint64_t offset = record_offset();
    index_name_if(first_of_number(tables->numbered[0], read_word(), offset), offset);
    skip_bytes(8);
}

void index_global() {
    std::uint64_t offset = record_offset();
    std::uint64_t& global = tables->globals[read_byte()];
    bool counts = global == 0;
    if (counts) global = offset;
    index_name_if(counts, offset);
}

// Attribute, Property, FakeAction and Action: a word and a name.
template <int table>
void index_numbered() {
    std::uint64_t offset = record_offset();
    index_name_if(first_of_number(tables->numbered[table], read_word(), offset), offset);
}

void index_array() {
    std::uint64_t offset = record_offset();
    index_name_if(first_of_number(tables->arrays, read_word(), offset), offset);
}

void index_routine() {
    std::uint64_t offset = record_offset();
    unsigned number = read_word();
    skip_bytes(4);
    unsigned long start = read_address();
    bool counts = (tables->routines.start[number] & known) == 0;
    if (counts) {
        tables->routines.start[number] = static_cast<std::uint32_t>(start) | known;
        tables->routines.record.set(number, offset);
        tables->routines.rank[number] = static_cast<std::uint16_t>(tables->routines.count++);
    }
    index_name_if(counts, offset);
    skip_string_list();
}

void index_routine_end() {
    unsigned number = read_word();
    skip_bytes(4);
    unsigned long end = read_address();
    if ((tables->routines.end[number] & known) == 0)
        tables->routines.end[number] = static_cast<std::uint32_t>(end) | known;
}

void index_points() {
    std::uint64_t offset = record_offset();
    unsigned routine = read_word();
    unsigned count = read_word();
    if (tables->routines.first_points.get(routine) == 0) tables->routines.first_points.set(routine, offset);
    tables->routines.last_points.set(routine, offset);
    if (unindexed_from != no_offset) {
        skip_bytes(6ul * count);
        return;
    }
    // One entry per line, not per point: a run of points on one line (the
    // statements of a line) makes one entry.
    std::uint64_t previous = no_offset;
    for (unsigned entry = 0; entry < count; ++entry) {
        const LineRef at = read_line_ref();
        read_word();
        const std::uint64_t line = std::uint64_t(at.file) << 56 | std::uint64_t(at.line) << 40;
        if (line == previous) continue;
        previous = line;
        if (line_count + name_count == arena_size) {
            stop_indexing_lines_from(offset);
            skip_bytes(6ul * (count - entry - 1));
            return;
        }
        tables->arena[line_count++] = line | offset;
    }
}

constexpr RecordHandler index_handlers[last_record_type + 1] = {
    nullptr,           index_file,        index_class,       index_object, index_global, index_numbered<1>,
    index_numbered<2>, index_numbered<3>, index_numbered<4>, nullptr,      index_points, index_routine,
    index_array,       index_code_area,   index_routine_end, nullptr,      nullptr,      nullptr,
};

constexpr bool index_selected[last_record_type + 1] = {
    false, true, true, true, true, true, true, true, true, false, true, true, true, true, true, false, false, false,
};

bool index_built;
// The tables are put in the order that answers search them when the first
// answer needs them, so that the reading itself does no more than read.
bool tables_in_order;

void order_routines_by_start();

void put_tables_in_order() {
    if (tables_in_order) return;
    tables_in_order = true;
    std::sort(tables->arena, tables->arena + line_count);
    line_count = static_cast<std::size_t>(std::unique(tables->arena, tables->arena + line_count) - tables->arena);
    std::sort(names_begin(), tables->arena + arena_size);
    order_routines_by_start();
}

// The tables start empty; a second run in the same process (the fuzz
// harness) empties them, and only then, so that a run touches no page of a
// table it does not fill.
void forget_index() {
    if (!index_built) return;
    std::memset(tables->files, 0, sizeof tables->files);
    code_area_known = false;
    code_area = 0;
    std::memset(tables->routines.start, 0, sizeof tables->routines.start);
    std::memset(tables->routines.end, 0, sizeof tables->routines.end);
    std::memset(&tables->routines.record, 0, sizeof tables->routines.record);
    std::memset(&tables->routines.first_points, 0, sizeof tables->routines.first_points);
    std::memset(&tables->routines.last_points, 0, sizeof tables->routines.last_points);
    tables->routines.count = tables->routines.with_code = 0;
    std::memset(tables->numbered, 0, sizeof tables->numbered);
    std::memset(&tables->arrays, 0, sizeof tables->arrays);
    std::memset(tables->globals, 0, sizeof tables->globals);
    class_count = 0;
    line_count = name_count = 0;
    unindexed_from = no_offset;
}

std::uint32_t start_of(unsigned number) { return tables->routines.start[number] & ~known; }
std::uint32_t end_of(unsigned number) { return tables->routines.end[number] & ~known; }

void order_routines_by_start() {
    unsigned count = 0;
    for (unsigned number = 0; number < word_count; ++number)
        if ((tables->routines.start[number] & known) && (tables->routines.end[number] & known) &&
            start_of(number) < end_of(number))
            tables->routines.by_start[count++] = static_cast<std::uint16_t>(number);
    auto by_start = [](unsigned a, unsigned b) { return start_of(a) < start_of(b); };
    if (!std::is_sorted(tables->routines.by_start, tables->routines.by_start + count, by_start))
        std::sort(tables->routines.by_start, tables->routines.by_start + count, by_start);
    std::uint32_t reach = 0;
    for (unsigned i = 0; i < count; ++i) {
        reach = std::max(reach, end_of(tables->routines.by_start[i]));
        tables->routines.reach[i] = reach;
    }
    tables->routines.with_code = count;
}

}  // namespace

void build_index() {
    if (tables == nullptr) {
        tables = static_cast<IndexTables*>(std::calloc(1, sizeof(IndexTables)));
        if (tables == nullptr) fatal_error("Out of memory for the lookup index");
    }
    forget_index();
    index_built = true;
    run_record_loop({index_handlers, index_selected, nullptr});
    end_record = input_offset() - 1;
    tables_in_order = false;
}

const SourceFile& source_file(int number) { return tables->files[number & 0xFF]; }

bool file_is_named(int number, std::string_view file) {
    const SourceFile& names = tables->files[number & 0xFF];
    if (!names.declared) return false;
    std::string_view path(names.file_name, names.file_name_length);
    std::size_t last_separator = path.find_last_of("/\\");
    std::string_view last_part = last_separator == std::string_view::npos ? path : path.substr(last_separator + 1);
    return file == std::string_view(names.include_name, names.include_name_length) || file == path || file == last_part;
}

bool has_code_area() { return code_area_known; }
unsigned long code_area_start() { return code_area; }

RoutineSpan routine_span(unsigned number) {
    number &= 0xFFFF;
    return {(tables->routines.start[number] & known) != 0, (tables->routines.end[number] & known) != 0,
            start_of(number), end_of(number)};
}

long routine_at(unsigned long code_offset) {
    put_tables_in_order();
    const std::uint16_t* first = tables->routines.by_start;
    const std::uint16_t* after =
        std::upper_bound(first, first + tables->routines.with_code, code_offset,
                         [](unsigned long offset, unsigned n) { return offset < start_of(n); });
    long found = -1;
    unsigned found_rank = word_count;
    for (long i = after - first - 1; i >= 0 && tables->routines.reach[i] > code_offset; --i) {
        unsigned number = tables->routines.by_start[i];
        if (end_of(number) > code_offset && tables->routines.rank[number] < found_rank) {
            found = number;
            found_rank = tables->routines.rank[number];
        }
    }
    return found;
}

void go_to(std::uint64_t offset) {
    if (!seek_input(offset)) fatal_error("I/O failure: can't read from debugging info file");
}

void end_record_walk() { go_to(end_record); }

void read_routine_head(unsigned number, RoutineHead& head) {
    go_to(tables->routines.record.get(number & 0xFFFF) + 1);
    read_word();
    head.at = read_line_ref();
    read_address();
    head.name_length = read_string(head.name);
}

std::uint64_t first_points_record(unsigned routine) { return tables->routines.first_points.get(routine & 0xFFFF); }
std::uint64_t last_points_record(unsigned routine) { return tables->routines.last_points.get(routine & 0xFFFF); }

LineRecords records_with_line(int file, unsigned line) {
    put_tables_in_order();
    std::uint64_t key = std::uint64_t(file & 0xFF) << 56 | std::uint64_t(line & 0xFFFF) << 40;
    const std::uint64_t* last = tables->arena + line_count;
    const std::uint64_t* first = std::lower_bound(tables->arena, tables->arena + line_count, key);
    const std::uint64_t* after = std::upper_bound(first, last, key | offset_mask);
    return {first, after};
}

std::uint64_t lines_unindexed_from() { return unindexed_from; }

NameRecords records_named(std::string_view name) {
    put_tables_in_order();
    std::uint64_t key = name_hash(name) << 40;
    const std::uint64_t* last = tables->arena + arena_size;
    const std::uint64_t* first = std::lower_bound(names_begin(), tables->arena + arena_size, key);
    const std::uint64_t* after = std::upper_bound(first, last, key | offset_mask);
    return {first, after};
}

bool same_name(std::string_view a, std::string_view b) {
    if (a.size() != b.size()) return false;
    for (std::size_t i = 0; i < a.size(); ++i)
        if (fold(static_cast<unsigned char>(a[i])) != fold(static_cast<unsigned char>(b[i]))) return false;
    return true;
}

std::uint64_t record_of(SymbolKind kind, unsigned number) {
    switch (kind) {
        case SymbolKind::Object:
            return tables->numbered[0].get(number & 0xFFFF);
        case SymbolKind::Attribute:
            return tables->numbered[1].get(number & 0xFFFF);
        case SymbolKind::Property:
            return tables->numbered[2].get(number & 0xFFFF);
        case SymbolKind::FakeAction:
            return tables->numbered[3].get(number & 0xFFFF);
        case SymbolKind::Action:
            return tables->numbered[4].get(number & 0xFFFF);
        case SymbolKind::Array:
            return tables->arrays.get(number & 0xFFFF);
        case SymbolKind::Global:
            return tables->globals[number & 0xFF];
        case SymbolKind::Routine:
            return tables->routines.record.get(number & 0xFFFF);
        case SymbolKind::Class:
            break;
    }
    return 0;
}

}  // namespace lookup
