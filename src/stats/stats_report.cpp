// The size profile's report, text or one JSON line, written once the whole
// file has been read. Text columns are aligned: each part measures its
// widest cell before it writes a line.
#include <algorithm>
#include <cstdint>
#include <string_view>

#include "output_pieces.h"
#include "run_options.h"
#include "stats/report_pieces.h"
#include "stats/size_picture.h"
#include "stats/stats.h"

namespace {

using namespace stats;

// The routines listed by name in the text report.
constexpr int largest_routines_shown = 20;
// The bar of a source file that holds all the code.
constexpr int full_bar = 40;

int bar_length(std::uint64_t part, std::uint64_t total) {
    return total == 0 ? 0 : static_cast<int>((part * 2 * full_bar + total) / (2 * total));
}

void print_records(OutputWriter& out, const GameModel& model) {
    RecordTally total{};
    std::size_t name_width = 7;  // "Records"
    for_each_record_kind(model, [&](std::string_view name, const RecordTally& tally) {
        name_width = std::max(name_width, name.size());
        total.count += tally.count;
        total.bytes += tally.bytes;
    });
    const std::size_t count_width = std::max<std::size_t>(5, written_size(Number{total.count}));
    const std::size_t bytes_width = std::max<std::size_t>(5, written_size(Number{total.bytes}));
    auto put_row = [&](std::string_view name, const auto& count, const auto& bytes) {
        StreamOutput{out}.put(LeftAligned{Text{name}, name_width}, "  ", RightAligned{count, count_width}, "  ",
                              RightAligned{bytes, bytes_width}, '\n');
    };
    put_row("Records", Text{"count"}, Text{"bytes"});
    for_each_record_kind(model, [&](std::string_view name, const RecordTally& tally) {
        put_row(name, Number{tally.count}, Number{tally.bytes});
    });
    put_row("total", Number{total.count}, Number{total.bytes});
}

MaybeNumber section_size_cell(const SizeProfile& p, int position, std::string_view absent) {
    std::uint32_t size = 0;
    const bool known = section_size(p, position, size);
    return {known, size, absent};
}

void print_sections(OutputWriter& out, const SizeProfile& p) {
    const GameModel& model = *p.model;
    StreamOutput o{out};
    if (!model.has_memory_map) return o.put("Sections: no memory map\n");
    if (model.memory_map_size == 0) return o.put("Sections: the memory map has no entries\n");
    std::size_t name_width = 8, address_width = 7, size_width = 4;  // "Sections", "address", "size"
    for (int i = 0; i < model.memory_map_size; ++i) {
        const MemoryMapEntry& section = model.memory_map[i];
        name_width = std::max(name_width, one_line_width(section.name.view()));
        address_width = std::max(address_width, written_size(Hex{section.address, 5}));
        size_width = std::max(size_width, written_size(section_size_cell(p, i, "-")));
    }
    o.put(LeftAligned{Text{"Sections"}, name_width}, "  ", RightAligned{Text{"address"}, address_width}, "  ",
          RightAligned{Text{"size"}, size_width}, '\n');
    for (int i = 0; i < model.memory_map_size; ++i) {
        const MemoryMapEntry& section = model.memory_map[i];
        o.put(LeftAligned{Escaped{section.name.view()}, name_width}, "  ",
              RightAligned{Hex{section.address, 5}, address_width}, "  ",
              RightAligned{section_size_cell(p, i, "-"), size_width}, '\n');
    }
    if (model.memory_map_left_out != 0) o.put(Number{model.memory_map_left_out}, " more entries left out\n");
    if (model.memory_map_falls)
        o.put("No sizes: the addresses fall back in file order (entries of separate regions)\n");
}

constexpr std::string_view without_end_label = "(no end, or end below start)";

void print_code(OutputWriter& out, const SizeProfile& p) {
    StreamOutput o{out};
    o.put("Code: ", Number{p.code_bytes}, " bytes in ", Number{static_cast<unsigned>(p.measured_count)},
          p.measured_count == 1 ? Text{" routine\n"} : Text{" routines\n"});
    if (p.file_count == 0 && p.without_end == 0) return;

    std::size_t path_width = 11, routines_width = 8, bytes_width = 5;  // the column names
    constexpr std::size_t percent_width = 7;
    Name scratch;
    for (int i = 0; i < p.file_count; ++i) {
        const int number = p.files_by_size[i];
        path_width = std::max(path_width, one_line_width(file_path(*p.model, number, scratch)));
        routines_width = std::max(routines_width, written_size(Number{p.file_code[number].routines}));
        bytes_width = std::max(bytes_width, written_size(Number{p.file_code[number].bytes}));
    }
    if (p.without_end != 0) {
        path_width = std::max(path_width, without_end_label.size());
        routines_width = std::max(routines_width, written_size(Number{p.without_end}));
    }
    auto put_row = [&](std::string_view path, const auto& routines, const auto& bytes, const auto& percent) {
        o.put(LeftAligned{Escaped{path}, path_width}, "  ", RightAligned{routines, routines_width}, "  ",
              RightAligned{bytes, bytes_width}, "  ", RightAligned{percent, percent_width});
    };
    put_row("Source file", Text{"routines"}, Text{"bytes"}, Text{"percent"});
    o.put('\n');
    for (int i = 0; i < p.file_count; ++i) {
        const int number = p.files_by_size[i];
        const FileCode& code = p.file_code[number];
        put_row(file_path(*p.model, number, scratch), Number{code.routines}, Number{code.bytes},
                Percent{code.bytes, p.code_bytes});
        if (const int length = bar_length(code.bytes, p.code_bytes); length != 0)
            o.put("  ", Repeated{'#', static_cast<std::size_t>(length)});
        o.put('\n');
    }
    if (p.without_end != 0) {
        put_row(without_end_label, Number{p.without_end}, Text{"-"}, Text{"-"});
        o.put('\n');
    }
}

void print_largest_routines(OutputWriter& out, const SizeProfile& p) {
    const int shown = std::min(p.measured_count, largest_routines_shown);
    Name names[largest_routines_shown], scratch;
    std::size_t bytes_width = 5, name_width = 7;  // "bytes", "routine"
    constexpr std::size_t percent_width = 7;
    for (int i = 0; i < shown; ++i) {
        const unsigned number = p.routines_by_size[i];
        names[i].assign(routine_name(p, number, scratch));
        bytes_width = std::max(bytes_width, written_size(Number{code_bytes_of(p.model->routines.span[number])}));
        name_width = std::max(name_width, one_line_width(names[i].view()));
    }
    StreamOutput o{out};
    o.put("Largest routines\n", RightAligned{Text{"bytes"}, bytes_width}, "  ",
          RightAligned{Text{"percent"}, percent_width}, "  ", LeftAligned{Text{"routine"}, name_width}, "  start\n");
    Name label;
    for (int i = 0; i < shown; ++i) {
        const RoutineSpan& routine = p.model->routines.span[p.routines_by_size[i]];
        o.put(RightAligned{Number{code_bytes_of(routine)}, bytes_width}, "  ",
              RightAligned{Percent{code_bytes_of(routine), p.code_bytes}, percent_width}, "  ",
              LeftAligned{Escaped{names[i].view()}, name_width}, "  ");
        o.put(Escaped{file_path(*p.model, routine.file, label)}, ':', Number{routine.line}, '\n');
    }
}

void print_text_report(OutputWriter& out, const SizeProfile& p) {
    StreamOutput o{out};
    o.put(version_line(*p.model));
    print_story(out, p.story);
    o.put('\n');
    print_records(out, *p.model);
    o.put('\n');
    print_sections(out, p);
    o.put('\n');
    print_code(out, p);
    if (p.measured_count == 0) return;
    o.put('\n');
    print_largest_routines(out, p);
}

// --- JSON --------------------------------------------------------------------

// The File record's file name, or null for a number no File record names.
void put_json_path(OutputWriter& out, const GameModel& model, int number) {
    const SourceFileNames& file = model.files[number];
    StreamOutput o{out};
    o.put(",\"path\":");
    if (file.declared)
        o.put(JsonText{file.file_name.view()});
    else
        o.put(JsonNull{});
}

void put_json_records(OutputWriter& out, const GameModel& model) {
    StreamOutput o{out};
    o.put(",\"records\":[");
    int row = 0;
    for_each_record_kind(model, [&](std::string_view name, const RecordTally& tally) {
        o.put(row_opening(row++), "\"kind\":", JsonText{name}, JsonMember{"count", tally.count},
              JsonMember{"bytes", tally.bytes}, '}');
    });
    o.put(']');
}

void put_json_sections(OutputWriter& out, const SizeProfile& p) {
    const GameModel& model = *p.model;
    StreamOutput o{out};
    o.put(",\"sections\":[");
    for (int i = 0; i < model.memory_map_size; ++i) {
        const MemoryMapEntry& section = model.memory_map[i];
        o.put(row_opening(i), "\"name\":", JsonText{section.name.view()}, JsonMember{"address", section.address},
              ",\"size\":", section_size_cell(p, i, "null"), '}');
    }
    o.put(']');
    if (model.memory_map_left_out != 0) o.put(JsonMember{"sections_left_out", model.memory_map_left_out});
}

void put_json_code(OutputWriter& out, const SizeProfile& p) {
    StreamOutput{out}.put(",\"code\":{", JsonMember{"bytes", p.code_bytes, true},
                          JsonMember{"routines", static_cast<std::uint64_t>(p.measured_count)},
                          JsonMember{"without_end", p.without_end}, '}');
}

void put_json_files(OutputWriter& out, const SizeProfile& p) {
    StreamOutput o{out};
    o.put(",\"files\":[");
    for (int i = 0; i < p.file_count; ++i) {
        const int number = p.files_by_size[i];
        o.put(row_opening(i), JsonMember{"file", static_cast<std::uint64_t>(number), true});
        put_json_path(out, *p.model, number);
        o.put(JsonMember{"routines", p.file_code[number].routines}, JsonMember{"bytes", p.file_code[number].bytes},
              '}');
    }
    o.put(']');
}

// Every measured routine, largest first.
void put_json_routines(OutputWriter& out, const SizeProfile& p) {
    StreamOutput o{out};
    o.put(",\"routines\":[");
    Name scratch;
    for (int i = 0; i < p.measured_count; ++i) {
        const unsigned number = p.routines_by_size[i];
        const RoutineSpan& routine = p.model->routines.span[number];
        o.put(row_opening(i), JsonMember{"number", number, true},
              ",\"name\":", JsonText{routine_name(p, number, scratch)}, JsonMember{"bytes", code_bytes_of(routine)},
              JsonMember{"file", routine.file});
        put_json_path(out, *p.model, routine.file);
        o.put(JsonMember{"line", routine.line}, JsonMember{"char", routine.character},
              JsonMember{"address", routine.start}, '}');
    }
    o.put(']');
}

void print_json_report(OutputWriter& out, const SizeProfile& p) {
    const GameModel& model = *p.model;
    StreamOutput o{out};
    o.put("{\"kind\":\"stats\",\"version\":{", JsonMember{"major", model.version_major, true},
          JsonMember{"minor", model.version_minor}, JsonMember{"revision", model.version_revision}, "},\"story\":");
    put_json_story(out, p.story);
    put_json_records(out, model);
    put_json_sections(out, p);
    put_json_code(out, p);
    put_json_files(out, p);
    put_json_routines(out, p);
    o.put("}\n");
}

}  // namespace

int print_stats_report(OutputWriter& out, DebugFile& file, const RunOptions& options) {
    const SizeProfileHandle profile = read_size_profile(file, false);
    if (options.stats_picture)
        print_size_picture(out, *profile, nullptr);
    else if (options.mode == OutputMode::Json)
        print_json_report(out, *profile);
    else
        print_text_report(out, *profile);
    return 0;
}
