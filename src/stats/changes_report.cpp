// -diff=OLD: the report of what changed from an old build to a new one,
// text or one JSON line, each part's rows largest change first.
#include <algorithm>
#include <cstdint>
#include <span>
#include <string_view>

#include "output_pieces.h"
#include "run_options.h"
#include "stats/report_pieces.h"
#include "stats/size_changes.h"
#include "stats/size_picture.h"
#include "stats/stats.h"

namespace {

using namespace stats;

// The rows of each part that the text shows; a line counts the rest.
constexpr int changes_shown = 20;

struct KindChange {
    std::string_view kind;
    RecordTally old_tally;
    RecordTally new_tally;
    std::int64_t change() const { return static_cast<std::int64_t>(new_tally.bytes - old_tally.bytes); }
};

// The record kinds whose count or bytes changed, largest change first.
int record_changes(const GameModel& old_model, const GameModel& new_model, KindChange (&rows)[last_record_type + 1]) {
    int count = 0;
    auto add = [&](std::string_view kind, const RecordTally& a, const RecordTally& b) {
        if (a.count != b.count || a.bytes != b.bytes) rows[count++] = {kind, a, b};
    };
    for (int type = 1; type <= last_record_type; ++type)
        add(record_kinds[type].json_kind, old_model.records[type], new_model.records[type]);
    add(unknown_kind_label, old_model.unknown_types, new_model.unknown_types);
    std::sort(rows, rows + count, [](const KindChange& a, const KindChange& b) {
        return magnitude(a.change()) != magnitude(b.change()) ? magnitude(a.change()) > magnitude(b.change())
                                                              : a.kind < b.kind;
    });
    return count;
}

// --- Text --------------------------------------------------------------------

// The first rows of a part, widths measured on those shown.
void print_rows(OutputWriter& out, std::string_view title, SizeChanges& changes, PartChanges& part) {
    StreamOutput o{out};
    if (part.count == 0) return o.put(Text{title}, ": no changes\n");
    SizeRow rows[changes_shown];
    Name names[changes_shown];
    int shown = 0;
    std::size_t name_width = title.size(), old_width = 3, new_width = 3, change_width = 6;
    for_each_row(changes, part, changes_shown, [&](const SizeRow& row) {
        names[shown].assign(row.name);
        rows[shown] = row;
        rows[shown].name = names[shown].view();
        ++shown;
        name_width = std::max(name_width, one_line_width(row.name));
        old_width = std::max(old_width, written_size(MaybeNumber{row.in_old, row.old_bytes, "-"}));
        new_width = std::max(new_width, written_size(MaybeNumber{row.in_new, row.new_bytes, "-"}));
        change_width = std::max(change_width, written_size(Change{row.change()}));
    });
    o.put(LeftAligned{Text{title}, name_width}, "  ", RightAligned{Text{"old"}, old_width}, "  ",
          RightAligned{Text{"new"}, new_width}, "  ", RightAligned{Text{"change"}, change_width}, '\n');
    for (const SizeRow& row : std::span(rows, shown)) {
        o.put(LeftAligned{Escaped{row.name}, name_width}, "  ",
              RightAligned{MaybeNumber{row.in_old, row.old_bytes, "-"}, old_width}, "  ",
              RightAligned{MaybeNumber{row.in_new, row.new_bytes, "-"}, new_width}, "  ",
              RightAligned{Change{row.change()}, change_width});
        o.put(!row.in_old ? Text{"  added\n"} : !row.in_new ? Text{"  removed\n"} : Text{"\n"});
    }
    if (const int rest = part.count - shown; rest > 0)
        o.put(Number{static_cast<unsigned>(rest)}, rest == 1 ? Text{" more change\n"} : Text{" more changes\n"});
}

void print_record_changes(OutputWriter& out, const KindChange* rows, int count) {
    StreamOutput o{out};
    if (count == 0) return o.put("Records: no changes\n");
    // "Records", "old count", "new count", "old bytes", "new bytes", "change"
    std::size_t widths[6] = {7, 9, 9, 9, 9, 6};
    for (int i = 0; i < count; ++i) {
        const KindChange& row = rows[i];
        widths[0] = std::max(widths[0], row.kind.size());
        widths[1] = std::max(widths[1], written_size(Number{row.old_tally.count}));
        widths[2] = std::max(widths[2], written_size(Number{row.new_tally.count}));
        widths[3] = std::max(widths[3], written_size(Number{row.old_tally.bytes}));
        widths[4] = std::max(widths[4], written_size(Number{row.new_tally.bytes}));
        widths[5] = std::max(widths[5], written_size(Change{row.change()}));
    }
    auto put_row = [&](std::string_view kind, const auto& old_count, const auto& new_count, const auto& old_bytes,
                       const auto& new_bytes, const auto& change) {
        o.put(LeftAligned{Text{kind}, widths[0]}, "  ", RightAligned{old_count, widths[1]}, "  ",
              RightAligned{new_count, widths[2]}, "  ", RightAligned{old_bytes, widths[3]}, "  ");
        o.put(RightAligned{new_bytes, widths[4]}, "  ", RightAligned{change, widths[5]}, '\n');
    };
    put_row("Records", Text{"old count"}, Text{"new count"}, Text{"old bytes"}, Text{"new bytes"}, Text{"change"});
    for (int i = 0; i < count; ++i) {
        const KindChange& row = rows[i];
        put_row(row.kind, Number{row.old_tally.count}, Number{row.new_tally.count}, Number{row.old_tally.bytes},
                Number{row.new_tally.bytes}, Change{row.change()});
    }
}

void print_text_changes(OutputWriter& out, const SizeProfile& old_profile, const SizeProfile& new_profile,
                        SizeChanges& changes, const KindChange* records, int record_count) {
    StreamOutput o{out};
    o.put(version_line(*new_profile.model));
    print_story(out, new_profile.story);
    o.put("Old build: ", version_line(*old_profile.model));
    print_story(out, old_profile.story, "Old story file");
    o.put("Story file change: ");
    if (old_profile.story.known && new_profile.story.known)
        o.put(Change{static_cast<std::int64_t>(new_profile.story.bytes) - old_profile.story.bytes});
    else
        o.put("unknown");
    o.put(" bytes\n\n");
    print_record_changes(out, records, record_count);
    o.put('\n');
    if (changes.sections_unsized)
        o.put("Sections: not compared (a memory map of separate regions)\n");
    else
        print_rows(out, "Sections", changes, changes.sections);
    o.put('\n');
    print_rows(out, "Source file", changes, changes.files);
    o.put('\n');
    print_rows(out, "Routine", changes, changes.routines);
}

// --- JSON --------------------------------------------------------------------

void put_json_rows(OutputWriter& out, std::string_view name, SizeChanges& changes, PartChanges& part) {
    StreamOutput o{out};
    o.put(",\"", Text{name}, "\":[");
    int i = 0;
    for_each_row(changes, part, part.count, [&](const SizeRow& row) {
        o.put(row_opening(i++), "\"name\":", JsonText{row.name},
              ",\"old\":", MaybeNumber{row.in_old, row.old_bytes, "null"},
              ",\"new\":", MaybeNumber{row.in_new, row.new_bytes, "null"}, ",\"change\":", Change{row.change(), false},
              '}');
    });
    o.put(']');
}

void print_json_changes(OutputWriter& out, const SizeProfile& old_profile, const SizeProfile& new_profile,
                        SizeChanges& changes, const KindChange* records, int record_count) {
    StreamOutput o{out};
    o.put("{\"kind\":\"stats_diff\",\"story\":{\"old\":");
    put_json_story(out, old_profile.story);
    o.put(",\"new\":");
    put_json_story(out, new_profile.story);
    o.put("},\"records\":[");
    for (int i = 0; i < record_count; ++i) {
        const KindChange& row = records[i];
        o.put(row_opening(i), "\"kind\":", JsonText{row.kind}, JsonMember{"old_count", row.old_tally.count},
              JsonMember{"new_count", row.new_tally.count}, JsonMember{"old_bytes", row.old_tally.bytes},
              JsonMember{"new_bytes", row.new_tally.bytes}, '}');
    }
    o.put(']');
    put_json_rows(out, "sections", changes, changes.sections);
    put_json_rows(out, "files", changes, changes.files);
    put_json_rows(out, "routines", changes, changes.routines);
    o.put("}\n");
}

}  // namespace

int print_stats_changes(OutputWriter& out, const SizeProfile& old_profile, const SizeProfile& new_profile,
                        const RunOptions& options) {
    const SizeChangesHandle changes = compare_size_profiles(old_profile, new_profile);
    KindChange records[last_record_type + 1];
    const int record_count = record_changes(*old_profile.model, *new_profile.model, records);
    if (options.stats_picture)
        print_size_picture(out, new_profile, changes.get());
    else if (options.mode == OutputMode::Json)
        print_json_changes(out, old_profile, new_profile, *changes, records, record_count);
    else
        print_text_changes(out, old_profile, new_profile, *changes, records, record_count);
    return 0;
}
