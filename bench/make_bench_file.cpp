// Writes a large well-formed debugging file with the mix of records a real
// game produces, block after block, for timing vardex:
//
//   make_bench_file [-objects] OUTPUT [MEGABYTES]     (default 1024)
//   make_bench_file -game OUTPUT                      (lookup_files.cpp)
//   make_bench_file -hostile KIND OUTPUT MEGABYTES    (lookup_files.cpp)
//
// The routine-heavy mix (the default): each block stands for 100 routines
// and holds 100 Routine, 100 SequencePoints of 20 entries and 100 RoutineEnd
// records, 60 Object records each followed by its ObjectDetails, 20 Class,
// 50 Global, 40 Attribute, 50 Property, 80 Action, 10 FakeAction and 30
// Array records, one Header and one MemoryMap of 20 entries, the other kinds
// spread evenly among the routines.
//
// The object-heavy mix (-objects), as a large game with many objects gives:
// each block holds 25 routines with SequencePoints of 8 entries, 130 Object
// records each followed by its ObjectDetails (short names of words and
// spaces, 1 to 6 name words, exits on a third of them), 10 Class, 100
// Global, 40 Attribute, 90 Property, 90 Action, 10 FakeAction and 10 Array
// records, one Header and one MemoryMap: about 27 bytes a record, and 3.5
// times as many Object and ObjectDetails records per byte.
//
// File records come once at the start, one End at the very end. The output
// is the same for the same mix and size on every run.
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <string_view>
#include <vector>

#include "debug_file_builder.h"

namespace {

// A fixed-seed generator, so that every run writes the same file.
std::uint64_t random_state = 0x9E3779B97F4A7C15u;

std::uint32_t next_random() {
    random_state ^= random_state << 13;
    random_state ^= random_state >> 7;
    random_state ^= random_state << 17;
    return static_cast<std::uint32_t>(random_state >> 16);
}

unsigned random_between(unsigned low, unsigned high) { return low + next_random() % (high - low + 1); }

constexpr int source_file_count = 8;
constexpr std::string_view include_names[source_file_count] = {
    "main", "QuibrelParse", "QuibrelVerbs", "rooms", "people", "objects", "puzzles", "QuibrelGrammar"};
constexpr std::string_view file_names[source_file_count] = {
    "tale/main.src",   "tale/./lib/QuibrelParse.h", "tale/./lib/QuibrelVerbs.h", "tale/rooms.src",
    "tale/people.src", "tale/objects.src",          "tale/puzzles.src",          "tale/./lib/QuibrelGrammar.h",
};

// Names come from a pool made once: building the file must be much faster
// than reading it.
constexpr std::size_t pool_size = 4096;
std::vector<std::string> identifiers;  // 4..24 characters
std::vector<std::string> short_names;  // words and spaces, now and then a quote or an accent
std::vector<std::string> words;        // 4..9 lower-case letters

std::string random_identifier(unsigned length) {
    static constexpr char characters[] = "abcdefghijklmnopqrstuvwxyz_0123456789";
    std::string name(1, characters[random_between(0, 25)]);
    while (name.size() < length) name += characters[random_between(0, sizeof characters - 2)];
    return name;
}

std::string random_word() {
    std::string word;
    for (unsigned i = random_between(4, 9); i > 0; --i) word += static_cast<char>('a' + random_between(0, 25));
    return word;
}

std::string random_short_name() {
    std::string name = random_word();
    while (name.size() < 12 && next_random() % 2 == 0) name += ' ' + random_word();
    unsigned flavour = next_random() % 40;
    if (flavour == 0) name += "'s";
    if (flavour == 1) name.insert(1, "\xC3\xA9");  // a well-formed two-byte sequence
    if (flavour == 2) name = '"' + name + '"';
    if (name.size() > 24) name.resize(24);
    if (name.size() < 4) name += "room";
    return name;
}

void make_name_pools() {
    for (std::size_t i = 0; i < pool_size; ++i) {
        identifiers.push_back(random_identifier(random_between(4, 24)));
        short_names.push_back(random_short_name());
        words.push_back(random_word());
    }
}

// Pools of the object-heavy mix, made only for it, so that the
// routine-heavy file stays as it always was.
std::vector<std::string> short_identifiers;  // 3..12 characters
std::vector<std::string> object_names;       // 1 to 3 short words with spaces
std::vector<std::string> short_words;        // 2..7 lower-case letters

std::string random_object_name() {
    std::string name;
    for (unsigned i = random_between(1, 3); i > 0; --i) {
        if (!name.empty()) name += ' ';
        for (unsigned j = random_between(2, 7); j > 0; --j) name += static_cast<char>('a' + random_between(0, 25));
    }
    unsigned flavour = next_random() % 50;
    if (flavour == 0) name += "'s";
    if (flavour == 1) name.insert(1, "\xC3\xA9");
    return name;
}

void make_object_pools() {
    for (std::size_t i = 0; i < pool_size; ++i) {
        short_identifiers.push_back(random_identifier(random_between(3, 12)));
        object_names.push_back(random_object_name());
        std::string word;
        for (unsigned j = random_between(2, 7); j > 0; --j) word += static_cast<char>('a' + random_between(0, 25));
        short_words.push_back(word);
    }
}

std::string_view identifier() { return identifiers[next_random() % pool_size]; }
std::string_view short_name() { return short_names[next_random() % pool_size]; }
std::string_view word() { return words[next_random() % pool_size]; }

Position position() { return {random_between(1, source_file_count), random_between(1, 9000), random_between(1, 80)}; }

// Running numbers, continued from block to block as a compiler's would be.
unsigned routine_number = 0;
unsigned object_number = 0;
unsigned long code_address = 0x4a10;
unsigned line_of_routine = 1;

// Which mix is written, and what differs between the two.
bool object_heavy = false;

void add_routine(DebugFileBuilder& file) {
    const unsigned point_count = object_heavy ? 8 : 20;
    ++routine_number;
    unsigned source = random_between(1, source_file_count);
    line_of_routine = line_of_routine % 60000 + 1;
    Position start{source, line_of_routine, 1};
    unsigned long start_address = code_address;
    // A game has one Initialise routine, which Python mode marks.
    std::string_view name = routine_number == 1 ? "Initialise" : identifier();
    switch (random_between(2, 4)) {
        case 2:
            file.routine(routine_number, start, start_address, name, {word(), word()});
            break;
        case 3:
            file.routine(routine_number, start, start_address, name, {word(), word(), word()});
            break;
        default:
            file.routine(routine_number, start, start_address, name, {word(), word(), word(), word()});
            break;
    }
    std::vector<SequencePoint> points;
    unsigned offset = 0;
    for (unsigned i = 0; i < point_count; ++i) {
        points.push_back({{source, line_of_routine + i, random_between(1, 40)}, offset});
        offset += random_between(2, 30);
    }
    file.sequence_points(routine_number, points);
    code_address = (code_address + offset + random_between(1, 8)) & 0xFFFFFF;
    file.routine_end(routine_number, {source, line_of_routine + point_count, 1}, code_address);
}

void add_object(DebugFileBuilder& file) {
    ++object_number;
    unsigned number = object_number & 0xFFFF;
    std::string nameless;
    std::string_view name = identifier();
    if (next_random() % 20 == 0) {
        nameless = "nameless_obj__" + std::to_string(number);
        name = nameless;
    }
    file.object(number, name, position(), position());

    // The builder takes lists as initializer lists, so the counts are spelled out.
    std::string_view n1 = word(), n2 = word(), n3 = word(), n4 = word();
    unsigned word_count = random_between(2, 4);
    Exit e1{random_between(1, 12), identifier()}, e2{random_between(1, 12), identifier()};
    Exit e3{random_between(1, 12), identifier()}, e4{random_between(1, 12), identifier()};
    unsigned exit_count = random_between(0, 4);
    Position with = position();
    Position name_property = next_random() % 8 == 0 ? Position{0, 0, 0} : position();
    auto details = [&](std::initializer_list<std::string_view> name_words) {
        switch (exit_count) {
            case 0:
                file.object_details(number, short_name(), with, name_property, name_words, {});
                break;
            case 1:
                file.object_details(number, short_name(), with, name_property, name_words, {e1});
                break;
            case 2:
                file.object_details(number, short_name(), with, name_property, name_words, {e1, e2});
                break;
            case 3:
                file.object_details(number, short_name(), with, name_property, name_words, {e1, e2, e3});
                break;
            default:
                file.object_details(number, short_name(), with, name_property, name_words, {e1, e2, e3, e4});
                break;
        }
    };
    if (word_count == 2)
        details({n1, n2});
    else if (word_count == 3)
        details({n1, n2, n3});
    else
        details({n1, n2, n3, n4});
}

std::string_view short_identifier() { return short_identifiers[next_random() % pool_size]; }
std::string_view object_name() { return object_names[next_random() % pool_size]; }
std::string_view short_word() { return short_words[next_random() % pool_size]; }

// An object of the object-heavy mix: 1 to 6 name words, exits on a third.
void add_small_object(DebugFileBuilder& file) {
    ++object_number;
    unsigned number = object_number & 0xFFFF;
    std::string nameless;
    std::string_view name = short_identifier();
    if (next_random() % 10 == 0) {
        nameless = "nameless_obj__" + std::to_string(number);
        name = nameless;
    }
    file.object(number, name, position(), position());

    std::string_view w[6];
    for (std::string_view& each : w) each = short_word();
    Exit e[4];
    for (Exit& each : e) each = {random_between(1, 12), short_identifier()};
    unsigned exit_count = next_random() % 3 == 0 ? random_between(1, 4) : 0;
    Position with = position();
    Position name_property = next_random() % 8 == 0 ? Position{0, 0, 0} : position();
    // The builder takes lists as initializer lists, so the counts are spelled out.
    auto details = [&](std::initializer_list<std::string_view> name_words) {
        std::string_view short_name = object_name();
        switch (exit_count) {
            case 0:
                file.object_details(number, short_name, with, name_property, name_words, {});
                break;
            case 1:
                file.object_details(number, short_name, with, name_property, name_words, {e[0]});
                break;
            case 2:
                file.object_details(number, short_name, with, name_property, name_words, {e[0], e[1]});
                break;
            case 3:
                file.object_details(number, short_name, with, name_property, name_words, {e[0], e[1], e[2]});
                break;
            default:
                file.object_details(number, short_name, with, name_property, name_words, {e[0], e[1], e[2], e[3]});
                break;
        }
    };
    switch (random_between(1, 6)) {
        case 1:
            details({w[0]});
            break;
        case 2:
            details({w[0], w[1]});
            break;
        case 3:
            details({w[0], w[1], w[2]});
            break;
        case 4:
            details({w[0], w[1], w[2], w[3]});
            break;
        case 5:
            details({w[0], w[1], w[2], w[3], w[4]});
            break;
        default:
            details({w[0], w[1], w[2], w[3], w[4], w[5]});
            break;
    }
}

void add_header(DebugFileBuilder& file) {
    std::vector<unsigned char> bytes(64);
    for (unsigned char& byte : bytes) byte = static_cast<unsigned char>(next_random());
    file.game_header(bytes);
}

void add_memory_map(DebugFileBuilder& file) {
    file.byte(13);
    unsigned long address = 0;
    for (int i = 0; i < 20; ++i) {
        address += random_between(0x40, 0x4000);
        file.string(identifier()).address(address & 0xFFFFFF);
    }
    file.byte(0);
}

// The kinds other than routines, with their count per block of 100 steps.
enum Kind {
    ObjectKind,
    ClassKind,
    GlobalKind,
    AttributeKind,
    PropertyKind,
    ActionKind,
    FakeKind,
    ArrayKind,
    KindCount
};
constexpr unsigned routine_heavy_per_block[KindCount] = {60, 20, 50, 40, 50, 80, 10, 30};
constexpr unsigned object_heavy_per_block[KindCount] = {130, 10, 100, 40, 90, 90, 10, 10};
// Of the 100 steps of an object-heavy block, one in this many has a routine.
constexpr unsigned object_heavy_routine_step = 4;

void add_record(DebugFileBuilder& file, Kind kind) {
    switch (kind) {
        case ObjectKind:
            if (object_heavy)
                add_small_object(file);
            else
                add_object(file);
            break;
        case ClassKind:
            file.class_(identifier(), position(), position());
            break;
        case GlobalKind:
            file.global(random_between(16, 255), identifier());
            break;
        case AttributeKind:
            file.attribute(random_between(0, 47), identifier());
            break;
        case PropertyKind:
            file.property(random_between(1, 300), identifier());
            break;
        case ActionKind:
            file.action(random_between(0, 400), identifier());
            break;
        case FakeKind:
            file.fake_action(random_between(4096, 4200), identifier());
            break;
        case ArrayKind:
            file.array(random_between(0x100, 0xFFFF), identifier());
            break;
        case KindCount:
            break;
    }
}

void add_block(DebugFileBuilder& file) {
    const unsigned* per_block = object_heavy ? object_heavy_per_block : routine_heavy_per_block;
    for (unsigned step = 0; step < 100; ++step) {
        if (!object_heavy || step % object_heavy_routine_step == 0) add_routine(file);
        for (int kind = 0; kind < KindCount; ++kind) {
            unsigned due = per_block[kind] * (step + 1) / 100 - per_block[kind] * step / 100;
            for (unsigned i = 0; i < due; ++i) add_record(file, static_cast<Kind>(kind));
        }
        if (step == 0) add_header(file);
        if (step == 50) add_memory_map(file);
    }
}

}  // namespace

// The files of the lookup benchmark, in lookup_files.cpp.
int make_game_file(const char* path);
int make_hostile_file(std::string_view kind, const char* path, double megabytes);

int main(int argc, char** argv) {
    if (argc == 3 && std::string_view(argv[1]) == "-game") return make_game_file(argv[2]);
    if (argc == 5 && std::string_view(argv[1]) == "-hostile")
        return make_hostile_file(argv[2], argv[3], std::atof(argv[4]));
    if (argc >= 2 && std::string_view(argv[1]) == "-objects") {
        object_heavy = true;
        --argc;
        ++argv;
    }
    if (argc < 2 || argc > 3) {
        std::fprintf(stderr,
                     "usage: make_bench_file [-objects] OUTPUT [MEGABYTES]\n"
                     "       make_bench_file -game OUTPUT\n"
                     "       make_bench_file -hostile points|lines|repeats|collisions|names|long-names|locals|ranges|picture OUTPUT "
                     "MEGABYTES\n");
        return 2;
    }
    double megabytes = argc == 3 ? std::atof(argv[2]) : 1024;
    if (!(megabytes > 0)) {
        std::fprintf(stderr, "make_bench_file: size must be a positive number of megabytes (MiB)\n");
        return 2;
    }
    const auto target = static_cast<std::uint64_t>(megabytes * 1024 * 1024);
    std::FILE* output = std::fopen(argv[1], "wb");
    if (output == nullptr) {
        std::perror(argv[1]);
        return 1;
    }
    make_name_pools();
    if (object_heavy) make_object_pools();

    DebugFileBuilder file;
    file.header(6, 36, 1632);
    for (unsigned i = 0; i < source_file_count; ++i) file.file(i + 1, include_names[i], file_names[i]);
    std::uint64_t written = 0;
    // Whole blocks while they fit, so the file ends within one block of the size.
    do {
        add_block(file);
        if (written + file.size() + 1 > target && written != 0) {
            file.clear();
            break;
        }
        written += std::fwrite(file.bytes().data(), 1, file.size(), output);
        file.clear();
    } while (written < target);
    file.end();
    written += std::fwrite(file.bytes().data(), 1, file.size(), output);
    if (std::fclose(output) != 0) {
        std::perror(argv[1]);
        return 1;
    }
    std::printf("%s: %llu bytes\n", argv[1], static_cast<unsigned long long>(written));
    return 0;
}
