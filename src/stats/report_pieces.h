// The size profile's own pieces of output (a percent, a change with its
// sign, a size that may be unknown) and the lines that every report begins
// with. Cells are padded with LeftAligned and RightAligned (output_pieces.h),
// to widths measured before a column is written.
#pragma once

#include <algorithm>
#include <cstdint>
#include <string_view>

#include "output_pieces.h"
#include "record_kinds.h"
#include "stats/size_changes.h"
#include "stats/size_profile.h"

namespace stats {

// `part` of `total` in tenths of a percent, rounded half up, with integers
// only, so that the report is the same on every machine: "52.3%".
struct Percent {
    std::uint64_t part;
    std::uint64_t total;
    static constexpr std::size_t max_size() { return Number<std::uint64_t>::max_size() + 3; }
    char* write(char* next) const {
        const std::uint64_t tenths = total == 0 ? 0 : (part * 2000 + total) / (2 * total);
        next = Number{tenths / 10}.write(next);
        *next++ = '.';
        *next++ = static_cast<char>('0' + tenths % 10);
        *next = '%';
        return next + 1;
    }
};

// A change with its sign, "+312", "-40", "0"; without the plus in JSON.
struct Change {
    std::int64_t value;
    bool plus = true;
    static constexpr std::size_t max_size() { return 1 + Number<std::uint64_t>::max_size(); }
    char* write(char* next) const {
        *next = value < 0 ? '-' : '+';
        next += value < 0 || (plus && value > 0);
        return Number{magnitude(value)}.write(next);
    }
};

// A size, or what stands where it is not known: "-" in a table, null in JSON.
struct MaybeNumber {
    bool known;
    std::uint64_t value;
    std::string_view absent;
    std::size_t max_size() const { return std::max(Number<std::uint64_t>::max_size(), absent.size()); }
    char* write(char* next) const { return known ? Number{value}.write(next) : Text{absent}.write(next); }
};

// The name of a file number: its File record's file name, or "file N"
// written into `scratch`.
inline std::string_view file_path(const GameModel& model, int number, Name& scratch) {
    const SourceFileNames& file = model.files[number];
    if (file.declared) return file.file_name.view();
    ReservedOutput o{scratch.text};
    o.put("file ", Number{static_cast<std::uint8_t>(number)});
    scratch.size = static_cast<std::uint8_t>(o.next - scratch.text);
    return scratch.view();
}

inline VersionLine version_line(const GameModel& model) {
    return {static_cast<std::uint8_t>(model.version_major), static_cast<std::uint8_t>(model.version_minor),
            static_cast<std::uint16_t>(model.version_revision)};
}

// Calls `visit(name, tally)` for each record kind present, in type order.
template <typename Visit>
void for_each_record_kind(const GameModel& model, Visit visit) {
    for (int type = 1; type <= last_record_type; ++type)
        if (model.records[type].count != 0) visit(record_kinds[type].json_kind, model.records[type]);
    if (model.unknown_types.count != 0) visit(unknown_kind_label, model.unknown_types);
}

// "Story file: ..." after `label`, the line of the story's size.
inline void print_story(OutputWriter& out, const StorySize& story, std::string_view label = "Story file") {
    StreamOutput o{out};
    if (!story.known) return o.put(Text{label}, ": size unknown (no version 1 to 8 in the header)\n");
    o.put(Text{label}, ": version ", Number{story.version}, ", ", Number{story.bytes}, " bytes of ");
    o.put(Number{story.limit}, " (", Percent{story.bytes, story.limit}, "), ", Number{story.limit - story.bytes},
          " bytes left\n");
}

// The opening of a JSON list's row object: a comma before every row but the first.
inline Text row_opening(int row) { return {row == 0 ? "{" : ",{"}; }

// A story member's value: {"version","bytes","limit"} or null.
inline void put_json_story(OutputWriter& out, const StorySize& story) {
    StreamOutput o{out};
    if (!story.known) return o.put(JsonNull{});
    o.put('{', JsonMember{"version", story.version, true}, JsonMember{"bytes", story.bytes},
          JsonMember{"limit", story.limit}, '}');
}

}  // namespace stats
