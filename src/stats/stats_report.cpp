// The size profile's reports, of one build and of the changes since an old
// build, text, one JSON line or a page's tables under the picture, written
// once every build has been read. Each goes through its parts in the order
// every form lists them, a table a part.
#include <algorithm>
#include <cstdint>
#include <cstring>
#include <memory>
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

// The bar of a source file that holds all the code.
constexpr std::string_view full_bar = "########################################";

VersionLine version_line(const GameModel& model) {
    return {static_cast<std::uint8_t>(model.version_major), static_cast<std::uint8_t>(model.version_minor),
            static_cast<std::uint16_t>(model.version_revision)};
}

// The story's size: a line of text after `label`, or a JSON value. A file
// with no Header record (the 32-bit target writes none, a build that did not
// finish may stop before it) has its code's size.
void put_story(const Report& r, const SizeProfile& p, std::string_view label) {
    const StorySize& story = p.story;
    if (!p.model->has_game_header) {
        r.text(Text{label}, ": no Header record (",
               Text{p.complete ? "the 32-bit target writes none" : "the build did not finish"}, "); code ",
               Number{p.code_bytes}, " bytes in its routines\n");
        return r.json(JsonNull{});
    }
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

// A file that ends before its End record, from a build that did not finish,
// is profiled up to its last whole record, and the report says so.
void put_cut_note(const Report& r, std::string_view whose) {
    r.text("Incomplete: ", Text{whose},
           "debugging file ends before its End record (the build that wrote it did not finish)\n");
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

void put_routines(const Report& r, const SizeProfile& p, int rows) {
    int shown = p.measured_count;
    if (r.in_text()) {
        if (shown == 0) return;
        r.text("\nLargest routines\n");
        if (rows != 0) shown = std::min(shown, rows);
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

void put_profile(const Report& r, const SizeProfile& p, int rows) {
    const GameModel& model = *p.model;
    r.json("{\"kind\":\"stats\",", Text{p.complete ? "" : "\"complete\":false,"}, "\"version\":{",
           JsonMember{"major", model.version_major, true}, JsonMember{"minor", model.version_minor},
           JsonMember{"revision", model.version_revision}, "},\"story\":");
    r.text(version_line(model));
    put_story(r, p, "Story file");
    if (!p.complete) put_cut_note(r, "the ");
    r.text('\n');
    put_records(r, model);
    r.text('\n');
    put_sections(r, p);
    r.text('\n');
    put_code(r, p);
    put_routines(r, p, rows);
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

// A row's change is relative to its old size, which an added row has not.
template <typename Visit>
void visit_changed(Visit& visit, const SizeRow& row) {
    Cell note = row.in_old && row.in_new ? Cell{} : Cell{row.in_old ? "removed" : "added"};
    Cell old_name;
    char was[4 + string_field_capacity] = "was ";
    if (!row.old_name.empty()) {
        old_name = row.old_name;
        std::memcpy(was + 4, row.old_name.data(), row.old_name.size());
        note = std::string_view(was, 4 + row.old_name.size());
    }
    visit({row.name, Cell{row.old_bytes, row.in_old}, Cell{row.new_bytes, row.in_new}, cell::change(row.change()),
           cell::relative(row.change(), row.old_bytes, row.in_old && row.old_bytes != 0), note, old_name});
}

// The rows of the text held with their names at most, as the columns are
// measured before they are written; more are read twice, measured then
// written, so that memory stays bounded.
constexpr int rows_kept = 1024;

// A part's changed rows: in JSON all; in the text the first `rows` (0 for
// all).
void put_part(const Report& r, std::string_view title, std::string_view member, SizeChanges& changes, PartChanges& part,
              int rows) {
    const Column columns[] = {{title, "name", Align::Left},
                              {"old", "old"},
                              {"new", "new"},
                              {"change", "change"},
                              {"percent", "percent"},
                              {"", "", Align::Left},
                              {"", "old_name", Align::JsonOnly}};
    auto read_rows = [&](int limit) {
        return [&, limit](auto visit) {
            for_each_row(changes, part, limit, [&](const SizeRow& row) { visit_changed(visit, row); });
        };
    };
    if (!r.in_text()) return r.table(member, columns, read_rows(part.count));
    if (part.count == 0) return r.text(Text{title}, ": no changes\n");
    const int limit = rows == 0 ? part.count : std::min(rows, part.count);
    int shown = limit;
    if (limit > rows_kept) {
        r.table(member, columns, read_rows(limit));
    } else {
        struct KeptRow {
            SizeRow row;
            Name name;
            Name old_name;
        };
        const auto kept = std::make_unique<KeptRow[]>(static_cast<std::size_t>(limit));
        shown = 0;
        for_each_row(changes, part, limit, [&](const SizeRow& row) {
            kept[shown].name.assign(row.name);
            kept[shown].row = row;
            kept[shown].row.name = kept[shown].name.view();
            if (!row.old_name.empty()) {
                kept[shown].old_name.assign(row.old_name);
                kept[shown].row.old_name = kept[shown].old_name.view();
            }
            ++shown;
        });
        r.table(member, columns, [&](auto visit) {
            for (int i = 0; i < shown; ++i) visit_changed(visit, kept[i].row);
        });
    }
    if (const int rest = part.count - shown; rest == 1)
        r.text("1 more change\n");
    else if (rest > 1)
        r.text(Number{static_cast<unsigned>(rest)}, " more changes\n");
}

// A part's bytes and entries in each build, and how many of its entries
// came, went and changed.
struct PartTotals {
    std::uint64_t old_bytes = 0;
    std::uint64_t new_bytes = 0;
    unsigned old_count = 0;
    unsigned new_count = 0;
    unsigned added = 0;
    unsigned removed = 0;
    unsigned changed = 0;
};

// A build's part as the changes count it: the sections that have a size,
// the code by file or by routine.
void add_build(const SizeProfile& p, Part part, std::uint64_t& bytes, unsigned& count) {
    if (part != Part::Sections) {
        bytes = p.code_bytes;
        count = static_cast<unsigned>(part == Part::Files ? p.file_count : p.measured_count);
        return;
    }
    for (int i = 0; i < p.model->memory_map_size; ++i) {
        std::uint32_t size = 0;
        if (!section_size(p, i, size)) continue;
        bytes += size;
        ++count;
    }
}

PartTotals totals_of(const SizeChanges& changes, const PartChanges& part) {
    PartTotals t;
    add_build(*changes.old_profile, part.part, t.old_bytes, t.old_count);
    add_build(*changes.new_profile, part.part, t.new_bytes, t.new_count);
    for (const ChangedRow& row : std::span(part.rows, part.count))
        ++(row.in_old && row.in_new ? t.changed : row.in_new ? t.added : t.removed);
    return t;
}

// The line after a part's rows: "Code: 74980 -> 75340 bytes (+360), 522 ->
// 523 routines (1 added, 3 changed)", the counts that are not 0.
void put_totals(const Report& r, std::string_view label, std::string_view noun, const PartTotals& t) {
    r.text(Text{label}, ": ", Number{t.old_bytes}, " -> ", Number{t.new_bytes}, " bytes (",
           Change{static_cast<std::int64_t>(t.new_bytes - t.old_bytes)}, "), ", Number{t.old_count}, " -> ",
           Number{t.new_count}, ' ', Text{noun}, Text{t.new_count == 1 ? "" : "s"});
    std::string_view opening = " (";
    for (const auto& [count, what] :
         {std::pair<unsigned, std::string_view>{t.added, " added"}, {t.removed, " removed"}, {t.changed, " changed"}}) {
        if (count == 0) continue;
        r.text(Text{opening}, Number{count}, Text{what});
        opening = ", ";
    }
    r.text(Text{opening == ", " ? ")\n" : "\n"});
}

// JSON's "totals": the story's old and new bytes and change (null where not
// known), and each part's as the text's lines give them.
constexpr Column totals_columns[] = {{"", "old_bytes"}, {"", "new_bytes"}, {"", "change"},  {"", "old_count"},
                                     {"", "new_count"}, {"", "added"},     {"", "removed"}, {"", "changed"}};

void put_json_totals(const Report& r, const StorySize& old_story, const StorySize& new_story,
                     const PartTotals* sections, const PartTotals& files, const PartTotals& routines) {
    if (r.in_text()) return;
    const Cell story[] = {
        Cell{old_story.bytes, old_story.known}, Cell{new_story.bytes, new_story.known},
        cell::change(std::int64_t{new_story.bytes} - old_story.bytes, old_story.known && new_story.known)};
    r.json(",\"totals\":{\"story\":");
    put_json_row(r.out, std::span(totals_columns).first(3), story, true);
    auto put = [&r](std::string_view member, const PartTotals& t) {
        const Cell row[] = {
            t.old_bytes, t.new_bytes, cell::change(static_cast<std::int64_t>(t.new_bytes - t.old_bytes)),
            t.old_count, t.new_count, t.added,
            t.removed,   t.changed};
        r.json(",\"", Text{member}, "\":");
        put_json_row(r.out, totals_columns, row, true);
    };
    if (sections != nullptr)
        put("sections", *sections);
    else
        r.json(",\"sections\":null");
    put("files", files);
    put("routines", routines);
    r.json('}');
}

void put_changes(const Report& r, const SizeProfile& old_profile, const SizeProfile& new_profile, SizeChanges& changes,
                 int rows) {
    const StorySize &old_story = old_profile.story, &new_story = new_profile.story;
    if (r.in_text()) {
        r.text(version_line(*new_profile.model));
        put_story(r, new_profile, "Story file");
        if (!new_profile.complete) put_cut_note(r, "the new build's ");
        r.text("Old build: ", version_line(*old_profile.model));
        put_story(r, old_profile, "Old story file");
        if (!old_profile.complete) put_cut_note(r, "the old build's ");
        if (old_story.known && new_story.known)
            r.text("Story file change: ", Change{std::int64_t{new_story.bytes} - old_story.bytes}, " bytes\n\n");
        else
            r.text("Story file change: unknown bytes\n\n");
    } else {
        r.json("{\"kind\":\"stats_diff\",");
        if (!old_profile.complete || !new_profile.complete)
            r.json("\"complete\":false,\"old_complete\":", Text{old_profile.complete ? "true" : "false"},
                   ",\"new_complete\":", Text{new_profile.complete ? "true" : "false"}, ',');
        r.json("\"story\":{\"old\":");
        put_story(r, old_profile, "");
        r.json(",\"new\":");
        put_story(r, new_profile, "");
        r.json('}');
    }
    put_record_changes(r, *old_profile.model, *new_profile.model);
    r.text('\n');
    const PartTotals sections = totals_of(changes, changes.sections), files = totals_of(changes, changes.files),
                     routines = totals_of(changes, changes.routines);
    if (r.in_text() && changes.sections_unsized) {
        r.text("Sections: not compared (a memory map of separate regions)\n");
    } else {
        put_part(r, "Sections", "sections", changes, changes.sections, rows);
        put_totals(r, "Sections", "section", sections);
    }
    r.text('\n');
    put_part(r, "Source file", "files", changes, changes.files, rows);
    put_totals(r, "Code", "source file", files);
    r.text('\n');
    put_part(r, "Routine", "routines", changes, changes.routines, rows);
    put_totals(r, "Code", "routine", routines);
    put_json_totals(r, old_story, new_story, changes.sections_unsized ? nullptr : &sections, files, routines);
    r.json("}\n");
}

// --- Budgets -----------------------------------------------------------------------

// A budget of a build script, checked once the report is written:
// -max-growth against the story's growth since the old build (the code's
// when either story's size is unknown), -min-left against the bytes the new
// story has left before its limit.
struct Budget {
    std::string_view name;  // of its switch
    std::int64_t bytes;     // -1 when not given
    bool growth;            // the most the measure may be, not the least
    bool known;             // measured: a story of unknown size has no bytes left
    std::string_view of;    // "story" or "code"
    std::int64_t measure;   // bytes grown, or left
    std::int64_t over_by() const { return growth ? measure - bytes : bytes - measure; }
    bool exceeded() const { return known && over_by() > 0; }
};

Budget growth_budget(const ReportControls& controls, const SizeProfile& old_profile, const SizeProfile& new_profile) {
    const bool story = old_profile.story.known && new_profile.story.known;
    const std::int64_t grew = story ? std::int64_t{new_profile.story.bytes} - old_profile.story.bytes
                                    : static_cast<std::int64_t>(new_profile.code_bytes - old_profile.code_bytes);
    return {"max-growth", controls.max_growth, true, true, story ? "story" : "code", grew};
}

Budget left_budget(const ReportControls& controls, const SizeProfile& p) {
    return {"min-left", controls.min_left, false, p.story.known, "story", std::int64_t{p.story.limit} - p.story.bytes};
}

// Text has a line for a budget exceeded or not checked; JSON one for each.
void put_budget(const Report& r, const Budget& b) {
    const auto bytes = static_cast<std::uint64_t>(b.bytes);
    if (!b.known)
        r.text("Budget not checked: -", Text{b.name}, '=', Number{bytes}, ": the story file's limit is unknown\n");
    else if (b.exceeded())
        r.text("Budget exceeded: the ", Text{b.of}, Text{b.growth ? " grew by " : " has "}, Change{b.measure, false},
               Text{b.growth ? " bytes, " : " bytes left, "}, Number{static_cast<std::uint64_t>(b.over_by())},
               Text{b.growth ? " over -" : " under -"}, Text{b.name}, '=', Number{bytes}, '\n');
    r.json("{\"kind\":\"budget\",\"budget\":\"", Text{b.name}, '"', JsonMember{"bytes", bytes}, ",\"of\":\"",
           Text{b.of}, "\",\"", Text{b.growth ? "grew" : "left"}, "\":");
    if (!b.known) return r.json("null,\"exceeded\":null,\"over_by\":null}\n");
    r.json(Change{b.measure, false}, ",\"exceeded\":", Text{b.exceeded() ? "true" : "false"},
           JsonMember{"over_by", b.exceeded() ? static_cast<std::uint64_t>(b.over_by()) : 0}, "}\n");
}

// The exit status of a report: 1 when a budget could not be checked (a
// check not made is no pass), else 3 when one is exceeded, else 0.
int report_status(bool unchecked, bool exceeded) { return unchecked ? 1 : exceeded ? 3 : 0; }

// Writes the lines of the budgets given, but in a picture or a page, and returns the
// report's exit status: a file that ends early counts as a budget unchecked.
int check_budgets(const Report& r, bool complete, std::initializer_list<Budget> budgets) {
    bool unchecked = false, exceeded = false;
    for (const Budget& b : budgets) {
        if (b.bytes < 0) continue;
        if (r.form == ReportForm::Text || r.form == ReportForm::Json) put_budget(r, b);
        unchecked = unchecked || !b.known;
        exceeded = exceeded || b.exceeded();
    }
    return report_status(unchecked || !complete, exceeded);
}

}  // namespace

int print_stats_report(OutputWriter& out, DebugFile& file, ReportForm form, const ReportControls& controls,
                       const char* path) {
    const SizeProfileHandle profile = read_size_profile(file, false);
    const Report r{out, form};
    if (form == ReportForm::Picture) {
        print_size_picture(out, *profile, nullptr, path);
    } else if (form == ReportForm::Page) {
        put_page_opening(out, *profile, nullptr, path, "");
        put_profile(r, *profile, controls.rows);
        put_page_closing(out);
    } else {
        put_profile(r, *profile, controls.rows);
    }
    return check_budgets(r, profile->complete, {left_budget(controls, *profile)});
}

int print_stats_changes(OutputWriter& out, ReportForm form, const ReportControls& controls,
                        const SizeProfile& old_profile, const SizeProfile& new_profile, const char* old_path,
                        const char* new_path) {
    const SizeChangesHandle changes = compare_size_profiles(old_profile, new_profile);
    const Report r{out, form};
    if (form == ReportForm::Picture) {
        print_size_picture(out, new_profile, changes.get(), new_path, old_path);
    } else if (form == ReportForm::Page) {
        put_page_opening(out, new_profile, changes.get(), new_path, old_path);
        put_changes(r, old_profile, new_profile, *changes, controls.rows);
        put_page_closing(out);
    } else {
        put_changes(r, old_profile, new_profile, *changes, controls.rows);
    }
    return check_budgets(r, old_profile.complete && new_profile.complete,
                         {growth_budget(controls, old_profile, new_profile), left_budget(controls, new_profile)});
}
