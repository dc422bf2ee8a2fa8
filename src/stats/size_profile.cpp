// One reading of the debugging file through the record loop: every record is
// measured by the input offsets around it, and the few kinds the report
// needs are read on the way.
#include "stats/size_profile.h"

#include <algorithm>
#include <cstring>
#include <string_view>

#include "reader/field_reader.h"
#include "reader/records.h"
#include "stats/stats.h"
#include "reader/record_loop.h"

SizeProfile profile;
char routine_names[routine_number_count * (string_field_capacity - 1) + 32];

namespace {

void learn_file_path() {
    FilePath& file = profile.files[read_byte()];
    skip_string();  // the include name
    file.path_length = read_string(file.path);
    file.named = true;
}

void learn_memory_map() {
    if (profile.has_memory_map) {
        skip_record(MemoryMap);
        return;
    }
    profile.has_memory_map = true;
    StringField name;
    for (std::size_t length; (length = read_string(name)) != 0;) {
        unsigned long address = read_address();
        if (profile.section_count == section_capacity) {
            ++profile.sections_left_out;
            continue;
        }
        Section& section = profile.sections[profile.section_count++];
        std::memcpy(section.name, name, length);
        section.name_length = length;
        section.address = address;
    }
}

void learn_routine_start() {
    unsigned number = read_word();
    LineRef at = read_line_ref();
    unsigned long start = read_address();
    std::string_view name = read_string_view();
    RoutineSize& routine = profile.routines[number];
    if (!routine.has_start) {
        routine.has_start = true;
        routine.file = static_cast<std::uint8_t>(at.file);
        routine.line = static_cast<std::uint16_t>(at.line);
        routine.character = static_cast<std::uint8_t>(at.character);
        routine.start = static_cast<std::uint32_t>(start);
        routine.name_offset = static_cast<std::uint32_t>(profile.routine_names_used);
        routine.name_length = static_cast<std::uint8_t>(name.size());
        std::memcpy(routine_names + profile.routine_names_used, name.data(), name.size());
        profile.routine_names_used += name.size();
        routine.file_order = static_cast<std::uint32_t>(profile.routine_count);
        profile.routines_in_file_order[profile.routine_count++] = static_cast<std::uint16_t>(number);
    }
    skip_string_list();  // the local names
}

void learn_routine_end() {
    unsigned number = read_word();
    skip_bytes(4);  // the end position
    unsigned long end = read_address();
    RoutineSize& routine = profile.routines[number];
    if (routine.has_end) return;
    routine.has_end = true;
    routine.end = static_cast<std::uint32_t>(end);
}

template <int type>
void skip_body() {
    skip_record(type);
}

// Reads a record's body with `read_body` and adds the record to the tally of
// its type; the type byte before the body counts too.
template <int type, void (*read_body)()>
void measure() {
    const std::uint64_t type_byte_offset = input_offset() - 1;
    read_body();
    RecordTally& tally = profile.records[type];
    ++tally.count;
    tally.bytes += input_offset() - type_byte_offset;
}

constexpr RecordHandler measurers[last_record_type + 1] = {
    nullptr,
    measure<File, learn_file_path>,
    measure<Class, skip_body<Class>>,
    measure<Object, skip_body<Object>>,
    measure<Global, skip_body<Global>>,
    measure<Attribute, skip_body<Attribute>>,
    measure<Property, skip_body<Property>>,
    measure<FakeAction, skip_body<FakeAction>>,
    measure<Action, skip_body<Action>>,
    measure<Header, skip_body<Header>>,
    measure<SequencePoints, skip_body<SequencePoints>>,
    measure<Routine, learn_routine_start>,
    measure<Array, skip_body<Array>>,
    measure<MemoryMap, learn_memory_map>,
    measure<RoutineEnd, learn_routine_end>,
    measure<ObjectDetails, skip_body<ObjectDetails>>,
    measure<DirectiveEnd, skip_body<DirectiveEnd>>,
    measure<LibraryInclude, skip_body<LibraryInclude>>,
};

// A type byte above the last type has no body: the loop goes on at the next byte.
void tally_unknown_type(int) {
    ++profile.unknown_types.count;
    ++profile.unknown_types.bytes;
}

bool is_measured(const RoutineSize& routine) { return routine.has_end && routine.end >= routine.start; }

void total_code() {
    for (int i = 0; i < profile.routine_count; ++i) {
        const unsigned number = profile.routines_in_file_order[i];
        const RoutineSize& routine = profile.routines[number];
        if (!is_measured(routine)) {
            ++profile.without_end;
            continue;
        }
        profile.routines_by_size[profile.measured_count++] = static_cast<std::uint16_t>(number);
        profile.code_bytes += code_bytes_of(routine);
        FileCode& file = profile.file_code[routine.file];
        ++file.routines;
        file.bytes += code_bytes_of(routine);
    }
}

void sort_routines() {
    std::sort(profile.routines_by_size, profile.routines_by_size + profile.measured_count,
              [](unsigned a_number, unsigned b_number) {
                  const RoutineSize& a = profile.routines[a_number];
                  const RoutineSize& b = profile.routines[b_number];
                  if (code_bytes_of(a) != code_bytes_of(b)) return code_bytes_of(a) > code_bytes_of(b);
                  return a.file_order < b.file_order;
              });
}

void sort_files() {
    for (int number = 0; number < file_number_count; ++number)
        if (profile.file_code[number].routines != 0)
            profile.files_by_size[profile.file_count++] = static_cast<std::uint8_t>(number);
    std::sort(profile.files_by_size, profile.files_by_size + profile.file_count, [](unsigned a, unsigned b) {
        const std::uint64_t a_bytes = profile.file_code[a].bytes, b_bytes = profile.file_code[b].bytes;
        return a_bytes != b_bytes ? a_bytes > b_bytes : a < b;
    });
}

void sort_sections() {
    for (int i = 0; i < profile.section_count; ++i) profile.sections_by_address[i] = static_cast<std::uint16_t>(i);
    std::sort(profile.sections_by_address, profile.sections_by_address + profile.section_count,
              [](unsigned a, unsigned b) {
                  const unsigned long a_address = profile.sections[a].address;
                  const unsigned long b_address = profile.sections[b].address;
                  return a_address != b_address ? a_address < b_address : a < b;
              });
}

}  // namespace

void read_size_profile() {
    profile.major = read_byte();
    profile.minor = read_byte();
    profile.revision = read_word();
    run_record_loop({measurers, nullptr, tally_unknown_type});
}

void order_size_profile() {
    total_code();
    sort_routines();
    sort_files();
    sort_sections();
}

void reset_stats() { std::memset(&profile, 0, sizeof profile); }
