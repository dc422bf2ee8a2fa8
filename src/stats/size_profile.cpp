// The size profile's reading of the file (the game model's) and the totals
// and orders of the report.
#include "stats/size_profile.h"

#include <unistd.h>

#include <algorithm>
#include <cstdlib>
#include <cstring>
#include <new>

#include "output_writer.h"

namespace {

// The keys, the shapes and the bits of the numbered routines.
constexpr std::size_t routine_keys_size = sizeof(std::uint64_t) * (2 * word_count + word_count / 64);

// What the compiler names an unnamed object, followed by its number.
constexpr std::string_view nameless_object = "nameless_obj__";

constexpr std::string_view names_not_kept = "Couldn't keep the names read from a pipe in a temporary file";

// Where the story file's header keeps its length.
constexpr std::size_t story_length_offset = 0x1A;

// "(routine N)", the key of a routine without a name, into `scratch`.
std::string_view nameless_key(unsigned number, Name& scratch) {
    ReservedOutput o{scratch.text};
    o.put("(routine ", Number{static_cast<std::uint16_t>(number)}, ')');
    scratch.size = static_cast<std::uint8_t>(o.next - scratch.text);
    return scratch.view();
}

// A name that holds a number the compiler made, which one deleted object
// changes in every later name: a routine of an unnamed object
// ("nameless_obj__237.before", or "nameless_obj__237" itself) is named after
// the object's number. Its shape is the name without that number
// ("nameless_obj__.before"), hashed into `shape_hash`; false for other names.
bool numbered_shape(std::string_view name, std::uint64_t& shape_hash) {
    if (!name.starts_with(nameless_object)) return false;
    std::size_t digits = nameless_object.size();
    while (digits < name.size() && name[digits] >= '0' && name[digits] <= '9') ++digits;
    if (digits == nameless_object.size()) return false;
    shape_hash = name_hash(name.substr(digits), name_hash(nameless_object));
    return true;
}

// What the profile learns beside the model: each routine's name, kept from
// a file read once only, hashed into the key of a build to compare.
struct RoutineNames : ModelOnly {
    static constexpr bool reads_names = true;
    SizeProfile& profile;
    void symbol(const SymbolRecord&, std::uint64_t) {}
    void routine(const RoutineStart& routine, std::uint64_t) {
        const std::string_view name = routine.name.view();
        if (KeptNames* names = profile.kept_names) {
            names->offset[routine.number] = names->used;
            names->length[routine.number] = static_cast<std::uint8_t>(name.size());
            std::fwrite(name.data(), 1, name.size(), names->file);
            names->used += static_cast<std::uint32_t>(name.size());
        }
        if (profile.routine_keys != nullptr) {
            Name scratch;
            profile.routine_keys[routine.number] =
                name_hash(name.empty() ? nameless_key(routine.number, scratch) : name);
            if (numbered_shape(name, profile.routine_shapes[routine.number])) {
                profile.numbered[routine.number / 64] |= std::uint64_t{1} << routine.number % 64;
                profile.files_with_numbered[routine.at.file / 64] |= std::uint64_t{1} << routine.at.file % 64;
            }
        }
    }
};

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

// The measured routines stand in file order: each is sorted as one key of
// its size (largest first) and that place, which costs a fraction of a
// comparison that reads two spans (a third of -stats on 65,536 routines).
void sort_routines(SizeProfile& profile) {
    const RoutineSpan* spans = profile.model->routines.span;
    std::uint64_t* keys = profile.sort_keys;
    const int count = profile.measured_count;
    for (int i = 0; i < count; ++i)
        keys[i] = (0xFFFFFFFFu - code_bytes_of(spans[profile.routines_by_size[i]])) << 32 |
                  static_cast<std::uint64_t>(i) << 16 | profile.routines_by_size[i];
    std::sort(keys, keys + count);
    for (int i = 0; i < count; ++i) profile.routines_by_size[i] = static_cast<std::uint16_t>(keys[i]);
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
    if (memory == nullptr) throw std::bad_alloc();
    return memory;
}

void ReleaseSizeProfile::operator()(SizeProfile* profile) const {
    release_game_model(profile->model);
    if (profile->kept_names != nullptr && profile->kept_names->file != nullptr) std::fclose(profile->kept_names->file);
    release_table(profile->kept_names);
    if (profile->routine_keys != nullptr) unmap_table(profile->routine_keys, routine_keys_size);
    release_table(profile);
}

SizeProfileHandle read_size_profile(DebugFile& file, bool compared) {
    constexpr std::string_view out_of_memory = "Out of memory for the tables of the game";
    SizeProfileHandle profile(new_table<SizeProfile>());
    if (profile == nullptr || (profile->model = new_game_model()) == nullptr) file.fail(out_of_memory);
    profile->file = &file;
    if (!file.is_seekable() && (profile->kept_names = new_table<KeptNames>()) == nullptr) file.fail(out_of_memory);
    if (profile->kept_names != nullptr && (profile->kept_names->file = std::tmpfile()) == nullptr)
        file.fail(names_not_kept);
    if (compared && (profile->routine_keys = static_cast<std::uint64_t*>(map_table(routine_keys_size))) == nullptr)
        file.fail(out_of_memory);
    if (compared) {
        profile->routine_shapes = profile->routine_keys + word_count;
        profile->numbered = profile->routine_shapes + word_count;
    }
    if (profile->kept_names == nullptr && profile->routine_keys == nullptr) {
        ModelOnly nothing_beside;
        profile->complete = read_game_model(file, *profile->model, nothing_beside, true);
    } else {
        RoutineNames names{{}, *profile};
        profile->complete = read_game_model(file, *profile->model, names, true);
    }
    if (profile->kept_names != nullptr && std::fflush(profile->kept_names->file) != 0) file.fail(names_not_kept);
    total_code(*profile);
    sort_routines(*profile);
    sort_files(*profile);
    profile->story = story_size_of(*profile->model);
    return profile;
}

std::uint64_t name_hash(std::string_view text, std::uint64_t hash) {
    for (const char c : text) hash = (hash ^ static_cast<unsigned char>(c)) * 0x100000001b3;
    return hash;
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
    DebugFile& file = *profile.file;
    if (const KeptNames* kept = profile.kept_names) {
        const std::size_t size = kept->length[number];
        if (pread(fileno(kept->file), scratch.text, size, kept->offset[number]) != static_cast<ssize_t>(size))
            file.fail(names_not_kept);
        scratch.text[size] = '\0';
        scratch.size = static_cast<std::uint8_t>(size);
        return scratch.view();
    }
    if (!file.seek(profile.model->routines.span[number].record() + 1))  // past its type byte
        file.fail("I/O failure: can't read from debugging info file");
    RoutineStart routine;
    read_routine_head(file, routine);
    scratch = routine.name;
    return scratch.view();
}

std::string_view routine_key(const SizeProfile& profile, unsigned number, Name& scratch) {
    const std::string_view name = routine_name(profile, number, scratch);
    return name.empty() ? nameless_key(number, scratch) : name;
}
