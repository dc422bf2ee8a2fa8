// The size profile's reports, of one build and of the changes since an old
// build, text, one JSON line or a page's tables under the picture, written
// once every build has been read. Each goes through its parts in the order
// every form lists them, a table a part.
#include <algorithm>
#include <cstdint>
#include <span>
#include <string_view>

#include "output_pieces.h"
#include "record_kinds.h"
#include "stats/report_table.h"
#include "stats/size_changes.h"
#include "stats/size_page.h"
#include "stats/size_picture.h"
#include "stats/stats.h"

namespace {

using namespace stats;

// The routines listed by name in the text of one build, and the rows of each
// part of the changes (a line counts the rest).
constexpr int largest_routines_shown = 20;
constexpr int changes_shown = 20;
// The bar of a source file that holds all the code.
constexpr std::string_view full_bar = "########################################";

VersionLine version_line(const GameModel& model) {
    return {static_cast<std::uint8_t>(model.version_major), static_cast<std::uint8_t>(model.version_minor),
            static_cast<std::uint16_t>(model.version_revision)};
}

// The story's size: a line of text after `label`, or a JSON value.
void put_story(const Report& r, const StorySize& story, std::string_view label) {
    if (!story.known) {
        r.text(Text{label}, ": size unknown (no version 1 to 8 in the header)\n");
        return r.json(JsonNull{});
    }
    r.text(Text{label}, ": version ", Number{story.version}, ", ", Number{story.bytes}, " bytes of ",
           Number{story.limit}, " (", Percent{story.bytes, story.limit}, "), ", Number{story.limit - story.bytes},
           " bytes left\n");
    r.json('{', JsonMember{"version", story.version, true}, JsonMember{"bytes", story.bytes},
           JsonMember{"limit", story.limit}, '}');
}

// Record types in type order, then the types not known as one more.
constexpr int unknown_types = last_record_type + 1;
const RecordTally& tally_of(const GameModel& model, int type) {
    return type == unknown_types ? model.unknown_types : model.records[type];
}
std::string_view kind_of(int type) { return type == unknown_types ? unknown_kind_label : record_kinds[type].json_kind; }

// --- One build ---------------------------------------------------------------------

constexpr Column record_columns[] = {{"Records", "kind", Align::Left}, {"count", "count"}, {"bytes", "bytes"}};

void put_records(const Report& r, const GameModel& model) {
    r.table("records", record_columns, [&](auto visit) {
        RecordTally total{};
        for (int type = 1; type <= unknown_types; ++type) {
            const RecordTally& tally = tally_of(model, type);
            if (tally.count == 0) continue;
            visit({kind_of(type), tally.count, tally.bytes});
            total.count += tally.count;
            total.bytes += tally.bytes;
        }
        if (r.in_text()) visit({"total", total.count, total.bytes});
    });
}

constexpr Column section_columns[] = {{"Sections", "name", Align::Left}, {"address", "address"}, {"size", "size"}};

void put_sections(const Report& r, const SizeProfile& p) {
    const GameModel& model = *p.model;
    if (r.in_text() && !model.has_memory_map) return r.text("Sections: no memory map\n");
    if (r.in_text() && model.memory_map_size == 0) return r.text("Sections: the memory map has no entries\n");
    r.table("sections", section_columns, [&](auto visit) {
        for (int i = 0; i < model.memory_map_size; ++i) {
            std::uint32_t size = 0;
            const bool known = section_size(p, i, size);
            const MemoryMapEntry& section = model.memory_map[i];
            visit({section.name.view(), cell::address(section.address), Cell{size, known}});
        }
    });
    if (model.memory_map_left_out != 0) {
        r.text(Number{model.memory_map_left_out}, " more entries left out\n");
        r.json(JsonMember{"sections_left_out", model.memory_map_left_out});
    }
    if (model.memory_map_falls)
        r.text("No sizes: the addresses fall back in file order (entries of separate regions)\n");
}

// The bar is a note at the end of the text's line.
constexpr Column file_columns[] = {
    {"", "file", Align::JsonOnly},    {"Source file", "path", Align::Left}, {"routines", "routines", Align::Right},
    {"bytes", "bytes", Align::Right}, {"percent", "", Align::Right},        {"", "", Align::Left},
};

// The code's total, then by source file, largest first.
void put_code(const Report& r, const SizeProfile& p) {
    const auto routines = static_cast<unsigned>(p.measured_count);
    r.text("Code: ", Number{p.code_bytes}, " bytes in ", Number{routines},
           Text{routines == 1 ? " routine\n" : " routines\n"});
    r.json(",\"code\":{", JsonMember{"bytes", p.code_bytes, true}, JsonMember{"routines", routines},
           JsonMember{"without_end", p.without_end}, '}');
    if (r.in_text() && p.file_count == 0 && p.without_end == 0) return;
    r.table("files", file_columns, [&](auto visit) {
        Name scratch;
        for (int i = 0; i < p.file_count; ++i) {
            const int number = p.files_by_size[i];
            const std::uint64_t bytes = p.file_code[number].bytes, total = p.code_bytes;
            const std::size_t bar = total == 0 ? 0 : (bytes * 2 * full_bar.size() + total) / (2 * total);
            visit({static_cast<unsigned>(number), cell::path(*p.model, number, scratch), p.file_code[number].routines,
                   bytes, cell::percent(bytes, total), bar == 0 ? Cell{} : full_bar.substr(0, bar)});
        }
        if (r.in_text() && p.without_end != 0)
            visit({Cell{}, "(no end, or end below start)", p.without_end, Cell{0u, false}, Cell{0u, false}, Cell{}});
    });
}

// The text leads with the size and lists the largest routines; JSON leads
// with the number and name, and lists every routine.
constexpr Column routine_columns[] = {
    {"", "number", Align::JsonOnly}, {"", "name", Align::JsonOnly},    {"bytes", "bytes", Align::Right},
    {"percent", "", Align::Right},   {"routine", "", Align::Left},     {"start", "", Align::Left},
    {"", "file", Align::JsonOnly},   {"", "path", Align::JsonOnly},    {"", "line", Align::JsonOnly},
    {"", "char", Align::JsonOnly},   {"", "address", Align::JsonOnly},
};

void put_routines(const Report& r, const SizeProfile& p) {
    int shown = p.measured_count;
    if (r.in_text()) {
        if (shown == 0) return;
        r.text("\nLargest routines\n");
        shown = std::min(shown, largest_routines_shown);
    }
    r.table("routines", routine_columns, [&](auto visit) {
        Name name_scratch, path_scratch;
        for (int i = 0; i < shown; ++i) {
            const unsigned number = p.routines_by_size[i];
            const RoutineSpan& routine = p.model->routines.span[number];
            const Cell name = routine_name(p, number, name_scratch);
            const Cell path = cell::path(*p.model, routine.file, path_scratch);
            const std::uint64_t bytes = code_bytes_of(routine);
            visit({number, name, bytes, cell::percent(bytes, p.code_bytes), name,
                   cell::place(path.known ? path.text : "??", routine.line), routine.file, path, routine.line,
                   routine.character, routine.start});
        }
    });
}

void put_profile(const Report& r, const SizeProfile& p) {
    const GameModel& model = *p.model;
    r.json("{\"kind\":\"stats\",\"version\":{", JsonMember{"major", model.version_major, true},
           JsonMember{"minor", model.version_minor}, JsonMember{"revision", model.version_revision}, "},\"story\":");
    r.text(version_line(model));
    put_story(r, p.story, "Story file");
    r.text('\n');
    put_records(r, model);
    r.text('\n');
    put_sections(r, p);
    r.text('\n');
    put_code(r, p);
    put_routines(r, p);
    r.json("}\n");
}

// --- The changes since an old build ------------------------------------------------

constexpr Column record_change_columns[] = {
    {"Records", "kind", Align::Left}, {"old count", "old_count"}, {"new count", "new_count"},
    {"old bytes", "old_bytes"},       {"new bytes", "new_bytes"}, {"change", ""},
};

// The record kinds whose count or bytes changed, largest change first.
void put_record_changes(const Report& r, const GameModel& old_model, const GameModel& new_model) {
    auto change = [&](int type) {
        return static_cast<std::int64_t>(tally_of(new_model, type).bytes - tally_of(old_model, type).bytes);
    };
    int types[unknown_types];
    int count = 0;
    for (int type = 1; type <= unknown_types; ++type) {
        const RecordTally &a = tally_of(old_model, type), &b = tally_of(new_model, type);
        if (a.count != b.count || a.bytes != b.bytes) types[count++] = type;
    }
    std::sort(types, types + count, [&](int a, int b) {
        return magnitude(change(a)) != magnitude(change(b)) ? magnitude(change(a)) > magnitude(change(b))
                                                            : kind_of(a) < kind_of(b);
    });
    if (r.in_text() && count == 0) return r.text("Records: no changes\n");
    r.table("records", record_change_columns, [&](auto visit) {
        for (const int type : std::span(types, count)) {
            const RecordTally &a = tally_of(old_model, type), &b = tally_of(new_model, type);
            visit({kind_of(type), a.count, b.count, a.bytes, b.bytes, cell::change(change(type))});
        }
    });
}

template <typename Visit>
void visit_changed(Visit& visit, const SizeRow& row) {
    const Cell note = row.in_old && row.in_new ? Cell{} : Cell{row.in_old ? "removed" : "added"};
    visit(
        {row.name, Cell{row.old_bytes, row.in_old}, Cell{row.new_bytes, row.in_new}, cell::change(row.change()), note});
}

// A part's changed rows: in JSON all; in the text the first, kept with their
// names, as the columns are measured before they are written.
void put_part(const Report& r, std::string_view title, std::string_view member, SizeChanges& changes,
              PartChanges& part) {
    const Column columns[] = {
        {title, "name", Align::Left}, {"old", "old"}, {"new", "new"}, {"change", "change"}, {"", "", Align::Left}};
    if (!r.in_text())
        return r.table(member, columns, [&](auto visit) {
            for_each_row(changes, part, part.count, [&](const SizeRow& row) { visit_changed(visit, row); });
        });
    if (part.count == 0) return r.text(Text{title}, ": no changes\n");
    SizeRow rows[changes_shown];
    Name names[changes_shown];
    int shown = 0;
    for_each_row(changes, part, changes_shown, [&](const SizeRow& row) {
        names[shown].assign(row.name);
        rows[shown] = row;
        rows[shown].name = names[shown].view();
        ++shown;
    });
    r.table(member, columns, [&](auto visit) {
        for (const SizeRow& row : std::span(rows, shown)) visit_changed(visit, row);
    });
    if (const int rest = part.count - shown; rest == 1)
        r.text("1 more change\n");
    else if (rest > 1)
        r.text(Number{static_cast<unsigned>(rest)}, " more changes\n");
}

void put_changes(const Report& r, const SizeProfile& old_profile, const SizeProfile& new_profile,
                 SizeChanges& changes) {
    const StorySize &old_story = old_profile.story, &new_story = new_profile.story;
    if (r.in_text()) {
        r.text(version_line(*new_profile.model));
        put_story(r, new_story, "Story file");
        r.text("Old build: ", version_line(*old_profile.model));
        put_story(r, old_story, "Old story file");
        if (old_story.known && new_story.known)
            r.text("Story file change: ", Change{std::int64_t{new_story.bytes} - old_story.bytes}, " bytes\n\n");
        else
            r.text("Story file change: unknown bytes\n\n");
    } else {
        r.json("{\"kind\":\"stats_diff\",\"story\":{\"old\":");
        put_story(r, old_story, "");
        r.json(",\"new\":");
        put_story(r, new_story, "");
        r.json('}');
    }
    put_record_changes(r, *old_profile.model, *new_profile.model);
    r.text('\n');
    if (r.in_text() && changes.sections_unsized)
        r.text("Sections: not compared (a memory map of separate regions)\n");
    else
        put_part(r, "Sections", "sections", changes, changes.sections);
    r.text('\n');
    put_part(r, "Source file", "files", changes, changes.files);
    r.text('\n');
    put_part(r, "Routine", "routines", changes, changes.routines);
    r.json("}\n");
}

}  // namespace

int print_stats_report(OutputWriter& out, DebugFile& file, ReportForm form) {
    const SizeProfileHandle profile = read_size_profile(file, false);
    if (form == ReportForm::Picture) {
        print_size_picture(out, *profile, nullptr);
    } else if (form == ReportForm::Page) {
        put_page_opening(out, *profile, nullptr);
        put_profile({out, form}, *profile);
        put_page_closing(out);
    } else {
        put_profile({out, form}, *profile);
    }
    return 0;
}

int print_stats_changes(OutputWriter& out, ReportForm form, const SizeProfile& old_profile,
                        const SizeProfile& new_profile) {
    const SizeChangesHandle changes = compare_size_profiles(old_profile, new_profile);
    if (form == ReportForm::Picture) {
        print_size_picture(out, new_profile, changes.get());
    } else if (form == ReportForm::Page) {
        put_page_opening(out, new_profile, changes.get());
        put_changes({out, form}, old_profile, new_profile, *changes);
        put_page_closing(out);
    } else {
        put_changes({out, form}, old_profile, new_profile, *changes);
    }
    return 0;
}
