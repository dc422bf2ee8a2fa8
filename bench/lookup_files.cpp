// The files of the lookup benchmark (see make_bench_file.cpp):
//
//   make_bench_file -game OUTPUT
//       the largest realistic game: 65,536 routines as a compiler writes
//       them (Routine, SequencePoints, RoutineEnd; 1 to 24 points each, now
//       and then two on one line; names like Food::before and
//       nameless_obj__12.after), spread over 248 source files (as a game
//       built from many library and scene files is) and file 255 for the
//       compiler's own routines, 8,000 objects, and the globals, attributes,
//       properties, actions and arrays of a large game; a memory map whose
//       code area is as large as the routines' code. Beside it, 100,000
//       lookups of each kind, one per line, for piping into vardex -lookup:
//       OUTPUT.addresses, OUTPUT.names (names in any case, and KIND NUMBER)
//       and OUTPUT.lines (FILE:LINE).
//   make_bench_file -hostile points|lines|repeats|collisions|names|long-names|locals|ranges|picture OUTPUT MEGABYTES
//       files made to blow up an index, the cost of a lookup or a size
//       profile: routines of 65,535 sequence points each, on lines spread
//       over 200 files; routines as a compiler writes them, with more source
//       lines than the line index holds; one routine number in every Routine
//       and SequencePoints record (millions of records of one routine);
//       524,288 records whose names share one 32-bit FNV-1a hash; objects and
//       classes that all share one name; 65,536 routines, classes and objects
//       of distinct 255-byte names (then the same again, up to the size; 52
//       MiB at least); a routine whose list of locals fills the file, with
//       2,000 records of its points, each on one line; a routine of two
//       records of points at the file's two ends, after 20,000 routines of
//       three records each; 65,536 routines of 255-byte names over 250 files,
//       of which 5,900 just big enough for a box of the size picture (the
//       most it draws) and the rest of a byte (its size not asked). Beside
//       it, OUTPUT.lookups: 1,000 lookups that such a file makes costly
//       (FILE:LINE, addresses of the repeated routine, names of the
//       colliding hash that are not there).
#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <string>
#include <string_view>
#include <vector>

#include "debug_file_builder.h"

namespace {

std::uint64_t state = 0x2545F4914F6CDD1Du;

std::uint32_t next_random() {
    state ^= state << 13;
    state ^= state >> 7;
    state ^= state << 17;
    return static_cast<std::uint32_t>(state >> 16);
}

unsigned between(unsigned low, unsigned high) { return low + next_random() % (high - low + 1); }

std::string identifier() {
    static constexpr char letters[] = "abcdefghijklmnopqrstuvwxyz";
    std::string name(1, static_cast<char>(letters[between(0, 25)] - (next_random() % 3 == 0 ? 32 : 0)));
    for (unsigned i = between(3, 11); i > 0; --i) name += letters[between(0, 25)];
    return name;
}

// A name with the case of its letters changed at random: lookups find names in any case.
std::string in_any_case(std::string name) {
    for (char& c : name)
        if (next_random() % 4 == 0 && ((c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z'))) c ^= 0x20;
    return name;
}

bool write_file(const std::string& path, const std::string& bytes) {
    std::FILE* output = std::fopen(path.c_str(), "wb");
    if (output == nullptr) {
        std::perror(path.c_str());
        return false;
    }
    std::fwrite(bytes.data(), 1, bytes.size(), output);
    if (std::fclose(output) != 0) {
        std::perror(path.c_str());
        return false;
    }
    std::printf("%s: %zu bytes\n", path.c_str(), bytes.size());
    return true;
}

constexpr unsigned game_file_count = 248;
constexpr unsigned library_file_count = 40;
constexpr unsigned routine_count = 65536;
constexpr unsigned lookups_per_kind = 100000;
constexpr unsigned long code_area = 0x14a30;

struct GameRoutine {
    unsigned long start;
    unsigned long size;
};

}  // namespace

int make_game_file(const char* path) {
    DebugFileBuilder file;
    file.header(6, 36, 1632);
    std::vector<std::string> include_names;
    for (unsigned i = 1; i <= game_file_count; ++i) {
        const bool library = i > 1 && i <= library_file_count;
        std::string include_name = i == 1 ? "main" : library ? "lib" : "part";
        if (i > 1) include_name.append(std::to_string(i));
        std::string path = library ? "game/lib/" : "game/";
        path.append(include_name).append(library ? ".h" : ".src");
        file.file(i, include_name, path);
        include_names.push_back(include_name);
    }
    file.file(255, "veneer", "veneer");

    std::vector<std::string> names;  // of every record, for the name lookups
    auto named = [&](std::string name) {
        names.push_back(name);
        return name;
    };
    std::vector<unsigned> next_line(256, 1);
    auto position = [&](unsigned source) {
        Position at{source, next_line[source], between(1, 9)};
        next_line[source] += between(1, 4);
        return at;
    };
    for (unsigned i = 0; i < 48; ++i) file.attribute(i, named(identifier()));
    for (unsigned i = 1; i <= 400; ++i) file.property(i, named(identifier()));
    for (unsigned i = 0; i < 240; ++i) file.global(i, named(identifier()));
    for (unsigned i = 0; i < 300; ++i) file.action(i, named(identifier() + "Sub"));
    for (unsigned i = 0; i < 60; ++i) file.fake_action(4096 + i, named(identifier()));
    for (unsigned i = 0; i < 150; ++i) {
        unsigned source = between(1, game_file_count);
        file.class_(named(identifier()), position(source), position(source));
    }
    for (unsigned i = 1; i <= 8000; ++i) {
        unsigned source = between(1, game_file_count);
        std::string name = i % 10 == 0 ? std::string("nameless_obj__").append(std::to_string(i)) : identifier();
        file.object(i, named(name), position(source), position(source));
    }
    for (unsigned i = 0; i < 300; ++i) file.array(0x400 + 16 * i, named(identifier()));

    // Routines, as the compiler writes them; every tenth of file 255 (its own).
    std::vector<GameRoutine> routines(routine_count);
    std::vector<std::pair<unsigned, unsigned>> lines;  // (file, line) with code
    unsigned long code = 0;
    for (unsigned number = 0; number < routine_count; ++number) {
        unsigned source = number % 10 == 9 ? 255 : between(1, game_file_count);
        std::string name = number == 0       ? "Initialise"
                           : number % 7 == 0 ? identifier() + "::before"
                           : number % 11 == 0
                               ? std::string("nameless_obj__").append(std::to_string(number)).append(".after")
                               : identifier() + std::to_string(number);
        Position start = position(source);
        file.routine(number, start, code, named(name), {"x", "obj"});
        std::vector<SequencePoint> points;
        unsigned offset = 0;
        unsigned line = start.line + 1;
        for (unsigned i = between(1, 24); i > 0; --i) {
            points.push_back({{source, line, between(5, 9)}, offset});
            lines.push_back({source, line});
            offset += between(2, 14);
            if (next_random() % 5 != 0) line += between(1, 2);  // now and then two points on one line
        }
        next_line[source] = line + 2 > 60000 ? 1 : line + 2;  // the compiler's own file is long
        file.sequence_points(number, points);
        unsigned long size = offset + between(1, 6);
        file.routine_end(number, {source, line + 1, 1}, code + size);
        routines[number] = {code, size};
        code += size;
    }
    file.memory_map({{"abbreviations table", 0x40},
                     {"objects", 0x2b6},
                     {"code area", code_area},
                     {"strings area", code_area + code}});
    file.end();
    if (!write_file(path, file.bytes())) return 1;

    std::string addresses, symbols, source_lines;
    char text[64];
    for (unsigned i = 0; i < lookups_per_kind; ++i) {
        const GameRoutine& routine = routines[next_random() % routine_count];
        std::snprintf(text, sizeof text, "0x%lx\n", code_area + routine.start + next_random() % routine.size);
        addresses += text;
        if (i % 10 == 0) {
            static constexpr const char* kinds[] = {"object", "global", "property", "attribute", "routine"};
            static constexpr unsigned limits[] = {8000, 239, 400, 47, routine_count - 1};
            unsigned kind = next_random() % 5;
            symbols += std::string(kinds[kind]) + " " + std::to_string(between(1, limits[kind])) + "\n";
        } else {
            symbols += in_any_case(names[next_random() % names.size()]) + "\n";
        }
        auto [source, line] = lines[next_random() % lines.size()];
        source_lines += (source == 255 ? "veneer" : include_names[source - 1]) + ":" + std::to_string(line) + "\n";
    }
    std::string base = path;
    return write_file(base + ".addresses", addresses) && write_file(base + ".names", symbols) &&
                   write_file(base + ".lines", source_lines)
               ? 0
               : 1;
}

namespace {

// A name of 20 blocks of 6 letters, one of two for each block, all of which
// the 32-bit FNV-1a hash of lower-cased bytes takes to one state: 2^20 names
// with one hash, found block by block by the birthday paradox (a
// multicollision), as a file made to defeat a name index that trusts that
// hash can have them.
constexpr unsigned block_letters = 6;
constexpr unsigned blocks_tried = 400000;  // about 18 pairs of one state among them

struct CollidingNames {
    char blocks[20][2][block_letters];
    std::string name(unsigned choice) const {
        std::string text = "n_";  // a name begins with a letter
        for (unsigned block = 0; block < 20; ++block) text.append(blocks[block][(choice >> block) & 1], block_letters);
        return text;
    }
};

CollidingNames colliding_names() {
    static constexpr char letters[] = "abcdefghijklmnopqrstuvwxyz0123456789_";
    CollidingNames names{};
    std::uint32_t state = ((2166136261u ^ 'n') * 16777619u ^ '_') * 16777619u;
    std::vector<std::pair<std::uint32_t, std::uint64_t>> states(blocks_tried);
    for (unsigned stage = 0; stage < 20; ++stage) {
        for (auto& [hash, block] : states) {
            block = (std::uint64_t{next_random()} << 32 | next_random()) % 2565726409u;  // 37^6
            hash = state;
            for (std::uint64_t rest = block, i = 0; i < block_letters; ++i, rest /= 37)
                hash = (hash ^ static_cast<unsigned char>(letters[rest % 37])) * 16777619u;
        }
        std::sort(states.begin(), states.end());
        for (std::size_t i = 1; i < states.size(); ++i) {
            if (states[i].first != states[i - 1].first || states[i].second == states[i - 1].second) continue;
            for (unsigned side = 0; side < 2; ++side)
                for (std::uint64_t rest = states[i - side].second, j = 0; j < block_letters; ++j, rest /= 37)
                    names.blocks[stage][side][j] = letters[rest % 37];
            state = states[i].first;
            break;
        }
    }
    return names;
}

}  // namespace

int make_hostile_file(std::string_view kind, const char* path, double megabytes) {
    const auto target = static_cast<std::uint64_t>(megabytes * 1024 * 1024);
    std::FILE* output = std::fopen(path, "wb");
    if (output == nullptr) {
        std::perror(path);
        return 1;
    }
    DebugFileBuilder file;
    file.header(6, 36, 1632);
    for (unsigned i = 1; i <= 250; ++i)
        file.file(i, "part" + std::to_string(i), "game/part" + std::to_string(i) + ".src");
    file.memory_map({{"code area", 0x1000}});
    const CollidingNames names = kind == "collisions" ? colliding_names() : CollidingNames{};
    std::string lookups;  // beside the file, for piping into vardex -lookup
    char text[160];
    // A points file's lookups each read all of it: a few tell the cost.
    for (unsigned i = 0; i < (kind == "points" ? 20 : 1000); ++i) {
        if (kind == "lines" || kind == "points") {
            std::snprintf(text, sizeof text, "part%u:%u\n", between(1, 250), between(1, 65000));
        } else if (kind == "repeats") {
            std::snprintf(text, sizeof text, "0x%x\n", 0x1001 + next_random() % 0x10000);
        } else if (kind == "collisions") {
            std::snprintf(text, sizeof text, "%s\n", names.name((1u << 19) + between(0, (1u << 19) - 1)).c_str());
        } else if (kind == "locals") {
            static constexpr const char* costly[] = {"part1:100", "0x1005", "+0x10", "Lamp::before", "routine 0"};
            std::snprintf(text, sizeof text, "%s\n", costly[i % 5]);
        } else if (kind == "ranges") {
            std::snprintf(text, sizeof text, "0x%x\n",
                          i % 2 ? 0x1000 + between(0, 0xFF) : 0x11000 + between(0, 0xFFFF));
        } else {
            std::snprintf(text, sizeof text, "%s\n", i % 2 ? "lamb" : "Lamp::before");
        }
        lookups += text;
    }
    unsigned count = 0;
    std::uint64_t written = 0;
    const bool whole =
        kind == "locals" || kind == "ranges" || kind == "picture";  // written here, not by the loop below
    if (kind == "locals") {
        // A routine whose list of locals fills the file, then 2,000 records
        // of its points, each with one on line 100 of part1.
        file.routine(0, {1, 10, 1}, 0, "Lamp::before").bytes().pop_back();  // its list goes on
        for (unsigned local = 0; written + file.size() < target; ++local) {
            if (file.size() > (1u << 22)) {
                written += std::fwrite(file.bytes().data(), 1, file.size(), output);
                file.clear();
            }
            const int size = std::snprintf(text, sizeof text, "local%u", local);
            file.raw(std::string_view(text, static_cast<std::size_t>(size) + 1));  // with its 0 byte
        }
        file.raw(std::string_view("", 1));
        for (unsigned i = 0; i < 2000; ++i) file.sequence_points(0, {{{1, 100, 5}, i % 200}});
        file.routine_end(0, {1, 200, 1}, 0x1000);
    }
    if (kind == "ranges") {
        // Routine 0's first record of points; 20,000 routines of three
        // records each, more than a table of ranges shared by all routines
        // holds; objects up to the size; routine 0's second record.
        file.routine(0, {1, 1, 1}, 0, "first").sequence_points(0, {{{1, 2, 1}, 0}, {{1, 3, 1}, 0x80}});
        for (unsigned number = 1; number <= 20000; ++number) {
            std::snprintf(text, sizeof text, "r%u", number);
            file.routine(number, {2, number, 1}, 0x10000 + (number - 1) * 16ul, text);
            for (unsigned record = 0; record < 3; ++record)
                file.sequence_points(number, {{{2, number, record + 2}, record * 4}});
            file.routine_end(number, {2, number, 9}, 0x10000 + number * 16ul);
        }
        while (written + file.size() < target) {
            if (file.size() > (1u << 22)) {
                written += std::fwrite(file.bytes().data(), 1, file.size(), output);
                file.clear();
            }
            file.object(count++ & 0xFFFF, "filler", {1, 2, 3}, {1, 4, 5});
        }
        file.sequence_points(0, {{{1, 4, 1}, 0x40}, {{1, 5, 1}, 0xC0}}).routine_end(0, {1, 6, 1}, 0x100);
    }
    if (kind == "picture") {
        unsigned long at = 0;
        for (unsigned number = 0; number < 65536; ++number) {
            if (file.size() > (1u << 22)) {
                written += std::fwrite(file.bytes().data(), 1, file.size(), output);
                file.clear();
            }
            std::string name = std::string("r").append(std::to_string(number));
            name.resize(255, static_cast<char>('a' + number % 26));
            const unsigned long size = number < 5900 ? 1000 : 1;
            file.routine(number, {1 + number % 250, number, 1}, at, name)
                .routine_end(number, {1 + number % 250, number, 2}, at + size);
            at += size;
        }
    }
    // Every name of a long-names file is there, whatever the size asked.
    while (!whole && (written + file.size() < target || (kind == "long-names" && count < 65536))) {
        if (file.size() > (1u << 22)) {
            written += std::fwrite(file.bytes().data(), 1, file.size(), output);
            file.clear();
        }
        if (kind == "points") {
            // A routine of 65,535 points, on lines that never repeat in it.
            unsigned number = count++ & 0xFFFF;
            file.routine(number, {1, 1, 1}, number * 16ul, std::string("r").append(std::to_string(number)));
            std::vector<SequencePoint> points(65535);
            for (unsigned i = 0; i < 65535; ++i) points[i] = {{1 + i % 200, (i * 7 + number) & 0xFFFF, 1}, i};
            file.sequence_points(number, points);
            file.routine_end(number, {1, 2, 1}, number * 16ul + 16);
        } else if (kind == "lines") {
            // Routines as a compiler writes them, file after file, each of
            // 100 points on consecutive lines: more lines than the line index holds.
            unsigned number = count & 0xFFFF;
            unsigned source = 1 + count / 260 % 250;
            unsigned first_line = 1 + count % 260 * 250;
            ++count;
            file.routine(number, {source, first_line, 1}, number * 0x400ul,
                         std::string("r").append(std::to_string(count)));
            std::vector<SequencePoint> points(100);
            for (unsigned i = 0; i < 100; ++i) points[i] = {{source, first_line + i, 5}, i * 8};
            file.sequence_points(number, points);
            file.routine_end(number, {source, first_line + 100, 1}, number * 0x400ul + 0x400);
        } else if (kind == "long-names") {
            // Every number once, then again: only the first of each counts.
            unsigned number = count++ & 0xFFFF;
            std::string name = std::string("r").append(std::to_string(number));
            name.resize(255, static_cast<char>('a' + number % 26));
            file.routine(number, {1, number, 1}, number * 200ul, name)
                .routine_end(number, {1, number, 2}, number * 200ul + number % 199)
                .class_(name, {1, number, 3}, {1, number, 4})
                .object(number, name, {1, number, 5}, {1, number, 6});
        } else if (kind == "names") {
            // Objects and classes that all share one name.
            file.object(count++ & 0xFFFF, "lamp", {1, 2, 3}, {1, 4, 5}).class_("Lamp", {1, 6, 7}, {1, 8, 9});
        } else if (kind == "collisions") {
            // 524,288 records that count, of eight kinds, with names of one
            // hash; then objects that do not count.
            if (count < (1u << 19)) {
                const std::string name = names.name(count);
                const unsigned number = count & 0xFFFF;
                switch (count >> 16) {
                    case 0:
                        file.class_(name, {1, 1, 1}, {1, 2, 1});
                        break;
                    case 1:
                        file.object(number, name, {1, 1, 1}, {1, 2, 1});
                        break;
                    case 2:
                        file.attribute(number, name);
                        break;
                    case 3:
                        file.property(number, name);
                        break;
                    case 4:
                        file.fake_action(number, name);
                        break;
                    case 5:
                        file.action(number, name);
                        break;
                    case 6:
                        file.array(number, name);
                        break;
                    default:
                        file.routine(number, {1, 1, 1}, number * 4ul, name);
                        break;
                }
                ++count;
            } else {
                file.object(0, "later", {1, 1, 1}, {1, 2, 1});
            }
        } else {
            // One routine number in every record, routines overlapping.
            ++count;
            file.routine(7, {1, count & 0xFFFF, 1}, count & 0xFFFF, "seven");
            file.sequence_points(7, {{{1, count & 0xFFFF, 1}, count & 0xFF}});
            file.routine_end(7, {1, 1, 1}, 0x10000 + (count & 0xFFFF));
        }
    }
    file.end();
    written += std::fwrite(file.bytes().data(), 1, file.size(), output);
    if (std::fclose(output) != 0) {
        std::perror(path);
        return 1;
    }
    std::printf("%s: %llu bytes\n", path, static_cast<unsigned long long>(written));
    return write_file(std::string(path) + ".lookups", lookups) ? 0 : 1;
}
