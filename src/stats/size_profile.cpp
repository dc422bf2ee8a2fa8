// The size profile's reading of the file (the game model's) and the totals
// and orders of the report.
#include "stats/size_profile.h"

#include <algorithm>
#include <cstdlib>
#include <cstring>

#include "messages.h"

namespace {

// Where the story file's header keeps its length.
constexpr std::size_t story_length_offset = 0x1A;

// A file read once only keeps the names of its routines as it reads them.
void keep_routine_name(void* query, const SymbolRecord& symbol, std::uint64_t) {
    if (symbol.type != Routine) return;
    KeptNames& names = *static_cast<KeptNames*>(query);
    const std::string_view name = symbol.name.view();
    names.offset[symbol.number] = static_cast<std::uint32_t>(names.used);
    names.length[symbol.number] = static_cast<std::uint8_t>(name.size());
    std::memcpy(names.text + names.used, name.data(), name.size());
    names.used += name.size();
}

void skip_points(void*, const PointsHead& head, std::uint64_t) {
    StreamFields in;
    skip_sequence_points(in, head.count);
}

void total_code(SizeProfile& profile) {
    const RoutineTable& routines = profile.model->routines;
    for (unsigned i = 0; i < routines.count; ++i) {
        const unsigned number = routines.in_file_order[i];
        const RoutineSpan& routine = routines.span[number];
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

void sort_routines(SizeProfile& profile) {
    const RoutineSpan* spans = profile.model->routines.span;
    std::sort(profile.routines_by_size, profile.routines_by_size + profile.measured_count,
              [spans](unsigned a_number, unsigned b_number) {
                  const RoutineSpan& a = spans[a_number];
                  const RoutineSpan& b = spans[b_number];
                  if (code_bytes_of(a) != code_bytes_of(b)) return code_bytes_of(a) > code_bytes_of(b);
                  return a.order < b.order;
              });
}

void sort_files(SizeProfile& profile) {
    for (int number = 0; number < file_number_count; ++number)
        if (profile.file_code[number].routines != 0)
            profile.files_by_size[profile.file_count++] = static_cast<std::uint8_t>(number);
    const FileCode* code = profile.file_code;
    std::sort(profile.files_by_size, profile.files_by_size + profile.file_count, [code](unsigned a, unsigned b) {
        return code[a].bytes != code[b].bytes ? code[a].bytes > code[b].bytes : a < b;
    });
}

}  // namespace

void* allocate_table(std::size_t size) {
    void* memory = std::calloc(1, size);
    if (memory == nullptr) fatal_error("Out of memory for the tables of the game");
    return memory;
}

void ReleaseSizeProfile::operator()(SizeProfile* profile) const {
    release_game_model(profile->model);
    std::free(profile->kept_names);
    std::free(profile);
}

SizeProfileHandle read_size_profile(bool keep_names) {
    SizeProfileHandle profile(static_cast<SizeProfile*>(allocate_table(sizeof(SizeProfile))));
    profile->model = new_game_model();
    if (!keep_names && input_is_seekable()) {
        read_game_model(*profile->model);
    } else {
        profile->kept_names = static_cast<KeptNames*>(allocate_table(sizeof(KeptNames)));
        const ModelReaders keep_names{profile->kept_names, keep_routine_name, skip_points};
        read_game_model(*profile->model, &keep_names);
    }
    total_code(*profile);
    sort_routines(*profile);
    sort_files(*profile);
    profile->story = story_size_of(*profile->model);
    return profile;
}

StorySize story_size_of(const GameModel& model) {
    const std::uint8_t* header = model.game_header;
    const unsigned version = header[0];
    if (!model.has_game_header || version < 1 || version > 8) return {};
    // The length is stored in units that grow with the version, as the limit does.
    const std::uint32_t unit = version <= 3 ? 2 : version <= 5 ? 4 : 8;
    const std::uint32_t length = (std::uint32_t{header[story_length_offset]} << 8) | header[story_length_offset + 1];
    return {true, version, length * unit, unit * 64 * 1024};
}

bool section_size(const SizeProfile& profile, int position, std::uint32_t& size) {
    const GameModel& model = *profile.model;
    if (model.memory_map_falls) return false;
    const std::uint32_t address = model.memory_map[position].address;
    if (position + 1 < model.memory_map_size) {
        size = model.memory_map[position + 1].address - address;
        return true;
    }
    if (model.memory_map_left_out != 0 || !profile.story.known || profile.story.bytes <= address) return false;
    size = profile.story.bytes - address;
    return true;
}

std::string_view routine_name(const SizeProfile& profile, unsigned number, Name& scratch) {
    if (const KeptNames* kept = profile.kept_names) return {kept->text + kept->offset[number], kept->length[number]};
    if (!seek_input(profile.model->routines.span[number].record() + 1))  // past its type byte
        fatal_error("I/O failure: can't read from debugging info file");
    StreamFields in;
    RoutineStart routine;
    read_routine_start(in, routine);
    scratch = routine.name;
    return scratch.view();
}
