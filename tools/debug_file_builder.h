// A small readable builder of debugging files, for tests, the sample file,
// the benchmark inputs and the fuzz seeds:
//
//   std::string file = DebugFileBuilder().header(5, 4, 540)
//                          .file(1, "main", "games/tale/main.src")
//                          .object(3, "lamp", {1, 10, 2}, {1, 14, 1})
//                          .end()
//                          .bytes();
#pragma once

#include <cstdint>
#include <cstdio>
#include <initializer_list>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

struct Position {
    unsigned file;
    unsigned line;
    unsigned character;
};

struct SequencePoint {
    Position position;
    unsigned code_offset;
};

struct MapEntry {
    std::string_view name;
    unsigned long address;
};

// A direction entry: the direction index and the destination's name.
struct Exit {
    unsigned direction;
    std::string_view destination;
};

class DebugFileBuilder {
  public:
    // The magic number and the three version numbers.
    DebugFileBuilder& header(unsigned major, unsigned minor, unsigned revision) {
        byte(0xDE).byte(0xBF).byte(major).byte(minor).word(revision);
        return *this;
    }

    // Field encodings.
    DebugFileBuilder& byte(unsigned value) {
        data_.push_back(static_cast<char>(value & 0xFF));
        return *this;
    }
    DebugFileBuilder& word(unsigned value) { return byte(value >> 8).byte(value); }
    DebugFileBuilder& address(unsigned long value) {
        return byte(static_cast<unsigned>(value >> 16))
            .byte(static_cast<unsigned>(value >> 8))
            .byte(static_cast<unsigned>(value));
    }
    DebugFileBuilder& string(std::string_view text) {
        data_.append(text);
        return byte(0);
    }
    DebugFileBuilder& line_ref(Position p) { return byte(p.file).word(p.line).byte(p.character); }
    DebugFileBuilder& string_list(std::initializer_list<std::string_view> items) {
        for (std::string_view item : items) string(item);
        return byte(0);
    }
    DebugFileBuilder& raw(std::string_view bytes) {
        data_.append(bytes);
        return *this;
    }

    // Whole records, by type.
    DebugFileBuilder& end() { return byte(0); }
    DebugFileBuilder& file(unsigned number, std::string_view include_name, std::string_view file_name) {
        return byte(1).byte(number).string(include_name).string(file_name);
    }
    DebugFileBuilder& class_(std::string_view name, Position start, Position end) {
        return byte(2).string(name).line_ref(start).line_ref(end);
    }
    DebugFileBuilder& object(unsigned number, std::string_view name, Position start, Position end) {
        return byte(3).word(number).string(name).line_ref(start).line_ref(end);
    }
    DebugFileBuilder& global(unsigned number, std::string_view name) { return byte(4).byte(number).string(name); }
    DebugFileBuilder& attribute(unsigned number, std::string_view name) { return byte(5).word(number).string(name); }
    DebugFileBuilder& property(unsigned number, std::string_view name) { return byte(6).word(number).string(name); }
    DebugFileBuilder& fake_action(unsigned number, std::string_view name) { return byte(7).word(number).string(name); }
    DebugFileBuilder& action(unsigned number, std::string_view name) { return byte(8).word(number).string(name); }
    DebugFileBuilder& game_header(const std::vector<unsigned char>& bytes64) {
        byte(9);
        for (unsigned char b : bytes64) byte(b);
        return *this;
    }
    DebugFileBuilder& sequence_points(unsigned routine, std::initializer_list<SequencePoint> points) {
        return sequence_points(routine, std::vector<SequencePoint>(points));
    }
    DebugFileBuilder& sequence_points(unsigned routine, const std::vector<SequencePoint>& points) {
        byte(10).word(routine).word(static_cast<unsigned>(points.size()));
        for (const SequencePoint& point : points) line_ref(point.position).word(point.code_offset);
        return *this;
    }
    DebugFileBuilder& routine(unsigned number, Position start, unsigned long code_start, std::string_view name,
                              std::initializer_list<std::string_view> locals = {}) {
        return byte(11).word(number).line_ref(start).address(code_start).string(name).string_list(locals);
    }
    DebugFileBuilder& array(unsigned address, std::string_view name) { return byte(12).word(address).string(name); }
    DebugFileBuilder& memory_map(std::initializer_list<MapEntry> entries) {
        byte(13);
        for (const MapEntry& entry : entries) string(entry.name).address(entry.address);
        return byte(0);
    }
    DebugFileBuilder& routine_end(unsigned number, Position end, unsigned long code_end) {
        return byte(14).word(number).line_ref(end).address(code_end);
    }
    DebugFileBuilder& object_details(unsigned number, std::string_view short_name, Position with_start,
                                     Position name_start, std::initializer_list<std::string_view> name_words,
                                     std::initializer_list<Exit> exits) {
        byte(15).word(number).string(short_name).line_ref(with_start).line_ref(name_start).string_list(name_words);
        for (const Exit& exit : exits) byte(exit.direction).string(exit.destination);
        return byte(0);
    }
    DebugFileBuilder& directive_end(Position p) { return byte(16).line_ref(p); }
    DebugFileBuilder& library_include(Position p) { return byte(17).line_ref(p); }

    const std::string& bytes() const { return data_; }
    std::string& bytes() { return data_; }
    std::size_t size() const { return data_.size(); }
    // Writes the file to `path`; false, with the reason on standard error, on failure.
    bool write_to(const char* path) const {
        std::FILE* output = std::fopen(path, "wb");
        if (output == nullptr) {
            std::perror(path);
            return false;
        }
        std::fwrite(data_.data(), 1, data_.size(), output);
        return std::fclose(output) == 0;
    }
    void clear() { data_.clear(); }

  private:
    std::string data_;
};
