// The size profile's report, text or one JSON line, written once the whole
// file has been read. Text columns are aligned: each part measures its
// widest cell before it writes a line.
#include <algorithm>
#include <cstdint>
#include <string_view>

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

void print_records(const GameModel& model) {
    RecordTally total{};
    int name_width = 7;  // "Records"
    int count_width = 5, bytes_width = 5;
    for_each_record_kind(model, [&](std::string_view name, const RecordTally& tally) {
        name_width = std::max(name_width, static_cast<int>(name.size()));
        total.count += tally.count;
        total.bytes += tally.bytes;
    });
    count_width = widest(count_width, decimal_cell(total.count));
    bytes_width = widest(bytes_width, decimal_cell(total.bytes));
    auto put_row = [&](std::string_view name, const Cell& count, const Cell& bytes) {
        put_left(name, name_width);
        put_right(count, count_width);
        put_right(bytes, bytes_width);
        out.put('\n');
    };
    put_row("Records", text_cell("count"), text_cell("bytes"));
    for_each_record_kind(model, [&](std::string_view name, const RecordTally& tally) {
        put_row(name, decimal_cell(tally.count), decimal_cell(tally.bytes));
    });
    put_row("total", decimal_cell(total.count), decimal_cell(total.bytes));
}

Cell section_size_cell(const SizeProfile& p, int position) {
    std::uint32_t size;
    return section_size(p, position, size) ? decimal_cell(size) : text_cell("-");
}

void print_sections(const SizeProfile& p) {
    const GameModel& model = *p.model;
    if (!model.has_memory_map) {
        out.put("Sections: no memory map\n");
        return;
    }
    if (model.memory_map_size == 0) {
        out.put("Sections: the memory map has no entries\n");
        return;
    }
    int name_width = 8, address_width = 7, size_width = 4;  // "Sections", "address", "size"
    for (int i = 0; i < model.memory_map_size; ++i) {
        const MemoryMapEntry& section = model.memory_map[i];
        name_width = std::max(name_width, text_width(section.name.view()));
        address_width = widest(address_width, address_cell(section.address));
        size_width = widest(size_width, section_size_cell(p, i));
    }
    put_left("Sections", name_width);
    put_right(text_cell("address"), address_width);
    put_right(text_cell("size"), size_width);
    out.put('\n');
    for (int i = 0; i < model.memory_map_size; ++i) {
        const MemoryMapEntry& section = model.memory_map[i];
        put_left(section.name.view(), name_width);
        put_right(address_cell(section.address), address_width);
        put_right(section_size_cell(p, i), size_width);
        out.put('\n');
    }
    if (model.memory_map_left_out != 0) {
        out.put_decimal(static_cast<long>(model.memory_map_left_out));
        out.put(" more entries left out\n");
    }
    if (model.memory_map_falls)
        out.put("No sizes: the addresses fall back in file order (entries of separate regions)\n");
}

constexpr std::string_view without_end_label = "(no end, or end below start)";

void print_code(const SizeProfile& p) {
    out.put("Code: ");
    out.put_decimal(static_cast<long>(p.code_bytes));
    out.put(" bytes in ");
    out.put_decimal(p.measured_count);
    out.put(p.measured_count == 1 ? " routine\n" : " routines\n");
    if (p.file_count == 0 && p.without_end == 0) return;

    int path_width = 11, routines_width = 8, bytes_width = 5, percent_width = 7;  // the column names
    for (int i = 0; i < p.file_count; ++i) {
        const int number = p.files_by_size[i];
        Cell scratch;
        path_width = std::max(path_width, text_width(file_path(*p.model, number, scratch)));
        routines_width = widest(routines_width, decimal_cell(p.file_code[number].routines));
        bytes_width = widest(bytes_width, decimal_cell(p.file_code[number].bytes));
    }
    if (p.without_end != 0) {
        path_width = std::max(path_width, static_cast<int>(without_end_label.size()));
        routines_width = widest(routines_width, decimal_cell(p.without_end));
    }
    auto put_row = [&](std::string_view path, const Cell& routines, const Cell& bytes, const Cell& percent) {
        put_left(path, path_width);
        put_right(routines, routines_width);
        put_right(bytes, bytes_width);
        put_right(percent, percent_width);
    };
    put_row("Source file", text_cell("routines"), text_cell("bytes"), text_cell("percent"));
    out.put('\n');
    for (int i = 0; i < p.file_count; ++i) {
        const int number = p.files_by_size[i];
        const FileCode& code = p.file_code[number];
        Cell scratch;
        put_row(file_path(*p.model, number, scratch), decimal_cell(code.routines), decimal_cell(code.bytes),
                percent_cell(code.bytes, p.code_bytes));
        if (int length = bar_length(code.bytes, p.code_bytes); length != 0) {
            put_spaces(2);
            for (; length > 0; --length) out.put('#');
        }
        out.put('\n');
    }
    if (p.without_end != 0) {
        put_row(without_end_label, decimal_cell(p.without_end), text_cell("-"), text_cell("-"));
        out.put('\n');
    }
}

void print_largest_routines(const SizeProfile& p) {
    const int shown = std::min(p.measured_count, largest_routines_shown);
    Name names[largest_routines_shown], scratch;
    int bytes_width = 5, percent_width = 7, name_width = 7;  // "bytes", "percent", "routine"
    for (int i = 0; i < shown; ++i) {
        const unsigned number = p.routines_by_size[i];
        names[i].assign(routine_name(p, number, scratch));
        bytes_width = widest(bytes_width, decimal_cell(code_bytes_of(p.model->routines.span[number])));
        name_width = std::max(name_width, text_width(names[i].view()));
    }
    out.put("Largest routines\n");
    put_spaces(bytes_width - 5);
    out.put("bytes");
    put_right(text_cell("percent"), percent_width);
    out.put("  ");
    put_left("routine", name_width);
    out.put("  start\n");
    for (int i = 0; i < shown; ++i) {
        const RoutineSpan& routine = p.model->routines.span[p.routines_by_size[i]];
        const Cell bytes = decimal_cell(code_bytes_of(routine));
        put_spaces(bytes_width - bytes.size);
        out.put(bytes.view());
        put_right(percent_cell(code_bytes_of(routine), p.code_bytes), percent_width);
        out.put("  ");
        put_left(names[i].view(), name_width);
        out.put("  ");
        Cell scratch;
        put_text(file_path(*p.model, routine.file, scratch));
        out.put(':');
        out.put_decimal(routine.line);
        out.put('\n');
    }
}

void print_text_report(const SizeProfile& p) {
    print_version_line(*p.model);
    print_story(p.story);
    out.put('\n');
    print_records(*p.model);
    out.put('\n');
    print_sections(p);
    out.put('\n');
    print_code(p);
    if (p.measured_count == 0) return;
    out.put('\n');
    print_largest_routines(p);
}

// --- JSON --------------------------------------------------------------------

// The File record's file name, or null for a number no File record names.
void put_json_path(const GameModel& model, int number) {
    const SourceFileNames& file = model.files[number];
    out.put(",\"path\":");
    if (file.declared)
        json::put_string(file.file_name.view());
    else
        out.put("null");
}

void put_json_records(const GameModel& model) {
    out.put(",\"records\":[");
    bool first = true;
    for_each_record_kind(model, [&](std::string_view name, const RecordTally& tally) {
        out.put(first ? "{\"kind\":\"" : ",{\"kind\":\"");
        first = false;
        out.put(name);
        out.put("\",");
        put_member("count", tally.count);
        out.put(',');
        put_member("bytes", tally.bytes);
        out.put('}');
    });
    out.put(']');
}

void put_json_sections(const SizeProfile& p) {
    const GameModel& model = *p.model;
    out.put(",\"sections\":[");
    for (int i = 0; i < model.memory_map_size; ++i) {
        const MemoryMapEntry& section = model.memory_map[i];
        out.put(i == 0 ? "{\"name\":" : ",{\"name\":");
        json::put_string(section.name.view());
        out.put(',');
        put_member("address", section.address);
        const Cell size = section_size_cell(p, i);
        out.put(",\"size\":");
        out.put(size.view() == "-" ? "null" : size.view());
        out.put('}');
    }
    out.put(']');
    if (model.memory_map_left_out != 0) {
        out.put(',');
        put_member("sections_left_out", model.memory_map_left_out);
    }
}

void put_json_code(const SizeProfile& p) {
    out.put(",\"code\":{");
    put_member("bytes", p.code_bytes);
    out.put(',');
    put_member("routines", static_cast<std::uint64_t>(p.measured_count));
    out.put(',');
    put_member("without_end", p.without_end);
    out.put('}');
}

void put_json_files(const SizeProfile& p) {
    out.put(",\"files\":[");
    for (int i = 0; i < p.file_count; ++i) {
        const int number = p.files_by_size[i];
        out.put(i == 0 ? "{" : ",{");
        put_member("file", static_cast<std::uint64_t>(number));
        put_json_path(*p.model, number);
        out.put(',');
        put_member("routines", p.file_code[number].routines);
        out.put(',');
        put_member("bytes", p.file_code[number].bytes);
        out.put('}');
    }
    out.put(']');
}

// Every measured routine, largest first.
void put_json_routines(const SizeProfile& p) {
    out.put(",\"routines\":[");
    Name scratch;
    for (int i = 0; i < p.measured_count; ++i) {
        const unsigned number = p.routines_by_size[i];
        const RoutineSpan& routine = p.model->routines.span[number];
        out.put(i == 0 ? "{" : ",{");
        put_member("number", number);
        out.put(",\"name\":");
        json::put_string(routine_name(p, number, scratch));
        out.put(',');
        put_member("bytes", code_bytes_of(routine));
        out.put(',');
        put_member("file", routine.file);
        put_json_path(*p.model, routine.file);
        out.put(',');
        put_member("line", routine.line);
        out.put(',');
        put_member("char", routine.character);
        out.put(',');
        put_member("address", routine.start);
        out.put('}');
    }
    out.put(']');
}

void print_json_report(const SizeProfile& p) {
    const GameModel& model = *p.model;
    out.put("{\"kind\":\"stats\",\"version\":{");
    put_member("major", model.version_major);
    out.put(',');
    put_member("minor", model.version_minor);
    out.put(',');
    put_member("revision", model.version_revision);
    out.put('}');
    out.put(",\"story\":");
    put_json_story(p.story);
    put_json_records(model);
    put_json_sections(p);
    put_json_code(p);
    put_json_files(p);
    put_json_routines(p);
    out.put("}\n");
}

}  // namespace

int print_stats_report() {
    const SizeProfileHandle profile = read_size_profile();
    if (options.stats_picture)
        print_size_picture(*profile, nullptr);
    else if (options.mode == OutputMode::Json)
        print_json_report(*profile);
    else
        print_text_report(*profile);
    return 0;
}
