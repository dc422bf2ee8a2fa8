// -diff=OLD: the report of what changed from an old build to a new one,
// text or one JSON line, each part's rows largest change first.
#include <algorithm>
#include <cstdint>
#include <string_view>

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

std::uint64_t magnitude(std::int64_t change) { return change < 0 ? 0 - static_cast<std::uint64_t>(change) : change; }

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

Cell bytes_cell(bool present, std::uint64_t bytes) { return present ? decimal_cell(bytes) : text_cell("-"); }

// --- Text --------------------------------------------------------------------

void print_rows(std::string_view title, const SizeRows& part) {
    if (part.count == 0) {
        out.put(title);
        out.put(": no changes\n");
        return;
    }
    const int shown = std::min(part.count, changes_shown);
    int name_width = static_cast<int>(title.size()), old_width = 3, new_width = 3, change_width = 6;
    for (int i = 0; i < shown; ++i) {
        const SizeRow& row = part.rows[i];
        name_width = std::max(name_width, text_width(row.name));
        old_width = widest(old_width, bytes_cell(row.in_old, row.old_bytes));
        new_width = widest(new_width, bytes_cell(row.in_new, row.new_bytes));
        change_width = widest(change_width, change_cell(row.change()));
    }
    put_left(title, name_width);
    put_right(text_cell("old"), old_width);
    put_right(text_cell("new"), new_width);
    put_right(text_cell("change"), change_width);
    out.put('\n');
    for (int i = 0; i < shown; ++i) {
        const SizeRow& row = part.rows[i];
        put_left(row.name, name_width);
        put_right(bytes_cell(row.in_old, row.old_bytes), old_width);
        put_right(bytes_cell(row.in_new, row.new_bytes), new_width);
        put_right(change_cell(row.change()), change_width);
        out.put(!row.in_old ? "  added\n" : !row.in_new ? "  removed\n" : "\n");
    }
    if (part.count > shown) {
        out.put_decimal(part.count - shown);
        out.put(part.count - shown == 1 ? " more change\n" : " more changes\n");
    }
}

void print_record_changes(const KindChange* rows, int count) {
    if (count == 0) {
        out.put("Records: no changes\n");
        return;
    }
    int widths[5] = {7, 9, 9, 9, 9};  // "Records", "old count", "new count", "old bytes", "new bytes"
    int change_width = 6;
    for (int i = 0; i < count; ++i) {
        const KindChange& row = rows[i];
        widths[0] = std::max(widths[0], static_cast<int>(row.kind.size()));
        widths[1] = widest(widths[1], decimal_cell(row.old_tally.count));
        widths[2] = widest(widths[2], decimal_cell(row.new_tally.count));
        widths[3] = widest(widths[3], decimal_cell(row.old_tally.bytes));
        widths[4] = widest(widths[4], decimal_cell(row.new_tally.bytes));
        change_width = widest(change_width, change_cell(row.change()));
    }
    put_left("Records", widths[0]);
    put_right(text_cell("old count"), widths[1]);
    put_right(text_cell("new count"), widths[2]);
    put_right(text_cell("old bytes"), widths[3]);
    put_right(text_cell("new bytes"), widths[4]);
    put_right(text_cell("change"), change_width);
    out.put('\n');
    for (int i = 0; i < count; ++i) {
        const KindChange& row = rows[i];
        put_left(row.kind, widths[0]);
        put_right(decimal_cell(row.old_tally.count), widths[1]);
        put_right(decimal_cell(row.new_tally.count), widths[2]);
        put_right(decimal_cell(row.old_tally.bytes), widths[3]);
        put_right(decimal_cell(row.new_tally.bytes), widths[4]);
        put_right(change_cell(row.change()), change_width);
        out.put('\n');
    }
}

void print_text_changes(const SizeProfile& old_profile, const SizeProfile& new_profile, const SizeChanges& changes,
                        const KindChange* records, int record_count) {
    print_version_line(*new_profile.model);
    print_story(new_profile.story);
    out.put("Old build: ");
    print_version_line(*old_profile.model);
    print_story(old_profile.story, "Old story file");
    out.put("Story file change: ");
    if (old_profile.story.known && new_profile.story.known)
        out.put(change_cell(static_cast<std::int64_t>(new_profile.story.bytes) - old_profile.story.bytes).view());
    else
        out.put("unknown");
    out.put(" bytes\n\n");
    print_record_changes(records, record_count);
    out.put('\n');
    if (changes.sections_unsized)
        out.put("Sections: not compared (a memory map of separate regions)\n");
    else
        print_rows("Sections", changes.sections);
    out.put('\n');
    print_rows("Source file", changes.files);
    out.put('\n');
    print_rows("Routine", changes.routines);
}

// --- JSON --------------------------------------------------------------------

void put_json_bytes(std::string_view name, bool present, std::uint64_t bytes) {
    out.put(",\"");
    out.put(name);
    out.put("\":");
    if (present)
        out.put_decimal(static_cast<long>(bytes));
    else
        out.put("null");
}

void put_json_rows(std::string_view part, const SizeRows& rows) {
    out.put(",\"");
    out.put(part);
    out.put("\":[");
    for (int i = 0; i < rows.count; ++i) {
        const SizeRow& row = rows.rows[i];
        out.put(i == 0 ? "{\"name\":" : ",{\"name\":");
        json::put_string(row.name);
        put_json_bytes("old", row.in_old, row.old_bytes);
        put_json_bytes("new", row.in_new, row.new_bytes);
        out.put(",\"change\":");
        out.put(change_cell(row.change()).view().substr(row.change() > 0));
        out.put('}');
    }
    out.put(']');
}

void print_json_changes(const SizeProfile& old_profile, const SizeProfile& new_profile, const SizeChanges& changes,
                        const KindChange* records, int record_count) {
    out.put("{\"kind\":\"stats_diff\",\"story\":{\"old\":");
    put_json_story(old_profile.story);
    out.put(",\"new\":");
    put_json_story(new_profile.story);
    out.put("},\"records\":[");
    for (int i = 0; i < record_count; ++i) {
        const KindChange& row = records[i];
        out.put(i == 0 ? "{\"kind\":\"" : ",{\"kind\":\"");
        out.put(row.kind);
        out.put("\",");
        put_member("old_count", row.old_tally.count);
        out.put(',');
        put_member("new_count", row.new_tally.count);
        out.put(',');
        put_member("old_bytes", row.old_tally.bytes);
        out.put(',');
        put_member("new_bytes", row.new_tally.bytes);
        out.put('}');
    }
    out.put(']');
    put_json_rows("sections", changes.sections);
    put_json_rows("files", changes.files);
    put_json_rows("routines", changes.routines);
    out.put("}\n");
}

}  // namespace

int print_stats_changes(const SizeProfile& old_profile, const SizeProfile& new_profile) {
    const SizeChangesHandle changes = compare_size_profiles(old_profile, new_profile);
    KindChange records[last_record_type + 1];
    const int record_count = record_changes(*old_profile.model, *new_profile.model, records);
    if (options.stats_picture)
        print_size_picture(new_profile, changes.get());
    else if (options.mode == OutputMode::Json)
        print_json_changes(old_profile, new_profile, *changes, records, record_count);
    else
        print_text_changes(old_profile, new_profile, *changes, records, record_count);
    return 0;
}
