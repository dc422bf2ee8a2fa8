// The picture is written as it is laid out: the title and legend, the gauge
// of the story against its limit, then the treemap, each group's boxes
// before its outline and labels so that those stand above them.
#include "stats/size_picture.h"

#include <algorithm>
#include <cmath>
#include <cstdlib>
#include <memory>
#include <span>

#include "output_pieces.h"
#include "stats/report_table.h"
#include "stats/treemap.h"

namespace {

using namespace stats;

constexpr double line_height = 18;
constexpr double title_height = 46;
constexpr double gauge_height = 18;
// Smaller boxes are grouped per file: at most 6,000 boxes of routines are
// drawn, whatever the count of routines, so that the picture stays within
// 5 MB even with names of 255 bytes (bench/run).
constexpr double smallest_box = 160;
// A label is written where its box is this high and wide enough for it:
// widths at the font's size, a name's characters at the widest but a few
// (bold a tenth wider).
constexpr double label_height = 13;
constexpr double character_width = 7;
constexpr double digit_width = 7.5;
constexpr double space_width = 3.5;
constexpr double ellipsis_width = 11;
constexpr std::string_view ellipsis = "\u2026";

constexpr const char* file_colours[] = {"#8fb9d8", "#a9d18e", "#f4c27a", "#d7a6d9",
                                        "#f2a29b", "#9ed8cf", "#e0d27c", "#c2b5e8"};
// Sections are not code: muted sand and stone, apart from the files' colours.
constexpr const char* section_colours[] = {"#efe3c8", "#d8c39b", "#bfb5a0", "#d3cfc4", "#e4cdb7", "#c9c3a0"};

// A change relative to the old size: shrunk by 50% or more, by 10% to 50%,
// by less; unchanged; grown likewise; new; removed (drawn as a ghost).
enum Shade { ShrunkMost, ShrunkMore, ShrunkLess, Unchanged, GrownLess, GrownMore, GrownMost, New, Removed };
constexpr const char* shade_colours[] = {"#1b7837", "#7fbf7b", "#d9f0d3", "#e0e0e0", "#fddbc7",
                                         "#ef8a62", "#b2182b", "#6f8fcf", "#f7f7f7"};
constexpr const char* shade_names[] = {"shrunk 50% or more", "shrunk 10-50%", "shrunk <10%",
                                       "unchanged",          "grown <10%",    "grown 10-50%",
                                       "grown 50% or more",  "new",           "removed"};
constexpr std::string_view ghost_outline = " stroke=\"#808080\" stroke-dasharray=\"3 2\"";
constexpr std::string_view routine_outline = " stroke=\"#fff\" stroke-width=\".5\"";

// A coordinate to a tenth of a unit, without a trailing ".0".
struct Coordinate {
    double value;
    static constexpr std::size_t max_size() { return Number<unsigned long>::max_size() + 2; }
    char* write(char* next) const {
        const auto tenths = static_cast<unsigned long>(std::lround(std::max(0.0, value) * 10));
        next = Number{tenths / 10}.write(next);
        if (tenths % 10 == 0) return next;
        *next++ = '.';
        *next = static_cast<char>('0' + tenths % 10);
        return next + 1;
    }
};

// An entry's bytes in each build; a picture of one build has only the new.
struct Sizes {
    bool in_old;
    bool in_new;
    std::uint64_t old_bytes;
    std::uint64_t new_bytes;

    std::uint64_t weight() const { return std::max(in_old ? old_bytes : 0, in_new ? new_bytes : 0); }
    std::uint64_t shown() const { return in_new ? new_bytes : old_bytes; }
    std::int64_t change() const {
        return static_cast<std::int64_t>((in_new ? new_bytes : 0) - (in_old ? old_bytes : 0));
    }
    void add(const Sizes& other) {
        old_bytes += other.in_old ? other.old_bytes : 0;
        new_bytes += other.in_new ? other.new_bytes : 0;
    }
};

Shade shade_of(const Sizes& s) {
    if (!s.in_new) return Removed;
    if (!s.in_old) return New;
    const std::int64_t change = s.change();
    if (change == 0) return Unchanged;
    const std::uint64_t size = magnitude(change);
    const int step = size * 10 < s.old_bytes ? 0 : size * 2 < s.old_bytes ? 1 : 2;
    return static_cast<Shade>(change < 0 ? ShrunkLess - step : GrownLess + step);
}

// An entry of a treemap: its weight, and what it stands for (a routine, a
// file slot or a section, by the tables below).
struct Item {
    std::uint64_t weight;
    std::uint32_t entry;
};
bool heavier(const Item& a, const Item& b) { return a.weight != b.weight ? a.weight > b.weight : a.entry < b.entry; }

// A routine or section of the old build only.
constexpr std::uint32_t ghost_bit = 1u << 16;
// The files of the new build by number, then those of the old build gone from it.
constexpr int slot_count = 2 * file_number_count;
// The story's header, its sections, the old build's sections gone from it.
constexpr int top_count = 1 + 2 * memory_map_capacity;
constexpr std::uint32_t header_entry = 0;

// The memory a picture needs beside the profiles, bounded by the format.
struct Tables {
    const ChangedRow* routine_row[word_count];  // by new routine number; none when unchanged
    const ChangedRow* section_row[memory_map_capacity];
    std::int16_t new_file_of[file_number_count];  // an old file's number in the new build, or -1
    std::int16_t old_file_of[file_number_count];
    int first_of_slot[slot_count + 1];
    Item slots[slot_count];
    Box slot_boxes[slot_count + 1];
    Item top[top_count];
    Box top_boxes[top_count];
    Item items[2 * word_count];  // each slot's routines, heaviest first
    std::uint64_t weights[2 * word_count + 1];
    Box boxes[2 * word_count + 1];
};

struct Picture {
    OutputWriter& out;
    const SizeProfile& profile;  // the new build's
    const SizeChanges* changes;
    Tables& t;
    double pixels_per_byte = 0;
    const char* unsized = nullptr;  // why the sections are not drawn
    int code_area = -1;             // the new build's code area section

    bool compared() const { return changes != nullptr; }
    const SizeProfile& old_profile() const { return *changes->old_profile; }
};

// --- Sizes of what is drawn ------------------------------------------------------

Sizes routine_sizes(const Picture& p, std::uint32_t entry) {
    if ((entry & ghost_bit) != 0)
        return {true, false, code_bytes_of(p.old_profile().model->routines.span[entry & 0xFFFF]), 0};
    const std::uint64_t bytes = code_bytes_of(p.profile.model->routines.span[entry]);
    if (!p.compared()) return {false, true, 0, bytes};
    const ChangedRow* row = p.t.routine_row[entry];
    if (row == nullptr) return {true, true, bytes, bytes};
    if (!row->in_old) return {false, true, 0, bytes};
    return {true, true, code_bytes_of(p.old_profile().model->routines.span[row->old_index]), bytes};
}

Sizes file_sizes(const Picture& p, int slot) {
    if (slot >= file_number_count) return {true, false, p.old_profile().file_code[slot - file_number_count].bytes, 0};
    const std::uint64_t bytes = p.profile.file_code[slot].bytes;
    if (!p.compared()) return {false, true, 0, bytes};
    const int old = p.t.old_file_of[slot];
    return {old >= 0, true, old >= 0 ? p.old_profile().file_code[old].bytes : 0, bytes};
}

std::uint32_t section_bytes(const SizeProfile& profile, int position) {
    std::uint32_t size = 0;
    return section_size(profile, position, size) ? size : 0;
}

Sizes section_sizes(const Picture& p, std::uint32_t entry) {
    if (entry == header_entry) {
        const std::uint64_t bytes = p.profile.model->memory_map[0].address;
        if (!p.compared()) return {false, true, 0, bytes};
        return {true, true, p.old_profile().model->memory_map[0].address, bytes};
    }
    if ((entry & ghost_bit) != 0) return {true, false, section_bytes(p.old_profile(), (entry & 0xFFFF) - 1), 0};
    const std::uint64_t bytes = section_bytes(p.profile, static_cast<int>(entry - 1));
    if (!p.compared()) return {false, true, 0, bytes};
    const ChangedRow* row = p.t.section_row[entry - 1];
    if (row == nullptr) return {true, true, bytes, bytes};
    if (!row->in_old) return {false, true, 0, bytes};
    return {true, true, section_bytes(p.old_profile(), row->old_index), bytes};
}

std::string_view section_name(const Picture& p, std::uint32_t entry) {
    if (entry == header_entry) return "(header)";
    const SizeProfile& build = (entry & ghost_bit) != 0 ? p.old_profile() : p.profile;
    return build.model->memory_map[(entry & 0xFFFF) - 1].name.view();
}

// Why a build's sections cannot be the treemap's top level, or null; its
// code area section.
const char* unsized_sections(const SizeProfile& profile, int& code_area) {
    const GameModel& model = *profile.model;
    if (!model.has_memory_map || model.memory_map_size == 0) return "no memory map";
    if (!profile.story.known) return "no story size";
    if (model.memory_map_falls) return "a memory map of separate regions";
    if (model.memory_map_left_out != 0) return "more memory map entries than kept";
    for (code_area = 0; code_area < model.memory_map_size; ++code_area)
        if (model.memory_map[code_area].name.view() == "code area") return nullptr;
    return "no code area in the memory map";
}

// --- Pieces of the picture ------------------------------------------------------

// The characters of a text as shown: a UTF-8 sequence is one.
std::size_t characters_of(std::string_view text) {
    return static_cast<std::size_t>(
        std::count_if(text.begin(), text.end(), [](char c) { return (static_cast<unsigned char>(c) & 0xC0) != 0x80; }));
}

// The first `count` characters of `text`; its last.
std::string_view first_characters(std::string_view text, std::size_t count) {
    std::size_t end = 0;
    for (std::size_t seen = 0; end < text.size(); ++end)
        if ((static_cast<unsigned char>(text[end]) & 0xC0) != 0x80 && seen++ == count) break;
    return text.substr(0, end);
}
std::string_view last_characters(std::string_view text, std::size_t count) {
    const std::size_t all = characters_of(text);
    return all <= count ? text : text.substr(first_characters(text, all - count).size());
}

// A path shortened to `count` characters at its start, where it says least.
void put_shortened_path(OutputWriter& out, std::string_view path, std::size_t count) {
    if (characters_of(path) <= count) return StreamOutput{out}.put(XmlText{path});
    StreamOutput{out}.put(Text{ellipsis}, XmlText{last_characters(path, count - 1)});
}

// A label's weight and colour: white on the darkest shades, grey on a ghost.
std::string_view label_look(Shade shade, bool bold) {
    if (shade == ShrunkMost || shade == GrownMost)
        return bold ? " font-weight=\"bold\" fill=\"#fff\"" : " fill=\"#fff\"";
    if (shade == Removed) return bold ? " font-weight=\"bold\" fill=\"#707070\"" : " fill=\"#707070\"";
    return bold ? " font-weight=\"bold\"" : "";
}

// A label's figure: the bytes shown, and with changes the change, which a
// label leaves out first.
struct Figure {
    char text[96];  // two numbers, and room for a writer's overstore
    std::size_t size;
    std::size_t bytes_size;  // of the bytes alone
};
Figure figure_of(const Sizes& s, bool compared) {
    Figure figure;
    char* end = write_pieces(figure.text, ' ', Number{s.shown()});
    figure.bytes_size = static_cast<std::size_t>(end - figure.text);
    if (compared && s.in_old && s.in_new && s.change() != 0) end = write_pieces(end, ' ', Change{s.change()});
    figure.size = static_cast<std::size_t>(end - figure.text);
    return figure;
}

// A label at the box's top left, `lines` lines down (below the labels of the
// boxes it stands in): its name and figure, the name shortened with "…" to
// fit, its figure shortened or left out where it does not fit beside two
// characters of the name.
void put_label(OutputWriter& out, const Box& box, int lines, std::string_view name, const Figure& full_figure,
               Shade shade, bool bold) {
    const double room = (box.width - 6) / (bold ? 1.1 : 1);
    if (box.height < label_height * (lines + 1) || room < character_width + ellipsis_width) return;
    auto width_of = [](std::string_view figure) {
        const auto spaces = static_cast<double>(std::count(figure.begin(), figure.end(), ' '));
        return static_cast<double>(figure.size()) * digit_width - spaces * (digit_width - space_width);
    };
    auto fits = [&](std::size_t characters, double rest) {
        return static_cast<double>(characters) * character_width + rest <= room;
    };
    const std::size_t length = characters_of(name);
    std::string_view figure{full_figure.text, full_figure.size};
    const bool shortened = !fits(length, width_of(figure));
    if (shortened && !fits(std::min<std::size_t>(length, 2), ellipsis_width + width_of(figure)))
        figure = figure.substr(0, full_figure.bytes_size);
    if (shortened && !fits(std::min<std::size_t>(length, 2), ellipsis_width + width_of(figure))) figure = "";
    if (!fits(length, width_of(figure))) {
        name = first_characters(name,
                                static_cast<std::size_t>((room - ellipsis_width - width_of(figure)) / character_width));
        while (name.ends_with(' ')) name.remove_suffix(1);
    }
    StreamOutput{out}.put("<text x=\"", Coordinate{box.x + 3}, "\" y=\"",
                          Coordinate{box.y + 10.5 + label_height * lines}, '"', Text{label_look(shade, bold)},
                          " pointer-events=\"none\">", XmlText{name},
                          Text{characters_of(name) < length ? ellipsis : ""}, Text{figure}, "</text>\n");
}

// A tooltip's figures after "NAME: ": "N bytes (P%)" of `total`, or with
// changes "OLD → NEW bytes (CHANGE, P%)", "-" for a build without it.
void put_figures(OutputWriter& out, const Sizes& s, std::uint64_t total, bool compared) {
    StreamOutput o{out};
    if (!compared) return o.put(Number{s.new_bytes}, " bytes (", Percent{s.new_bytes, total}, ')');
    if (s.in_old)
        o.put(Number{s.old_bytes});
    else
        o.put('-');
    o.put(" \u2192 ");
    if (s.in_new)
        o.put(Number{s.new_bytes});
    else
        o.put('-');
    o.put(" bytes (", Change{s.change()});
    if (!s.in_old || !s.in_new) return o.put(Text{s.in_new ? ", new)" : ", removed)"});
    if (s.change() == 0 || s.old_bytes == 0) return o.put(')');
    o.put(", ", s.change() < 0 ? '-' : '+', Percent{magnitude(s.change()), s.old_bytes}, ')');
}

// A box's rectangle up to its tooltip's text: `name` as data-name where
// given, and with changes its sizes as data.
void open_rect(const Picture& p, std::string_view kind, const std::string_view* name, const Sizes* sizes,
               const Box& box, std::string_view fill, std::string_view look = "") {
    StreamOutput o{p.out};
    o.put("<rect class=\"", Text{kind}, '"');
    if (name != nullptr) o.put(" data-name=\"", XmlText{*name}, '"');
    o.put(" x=\"", Coordinate{box.x}, "\" y=\"", Coordinate{box.y}, "\" width=\"", Coordinate{box.width},
          "\" height=\"", Coordinate{box.height}, "\" fill=\"", Text{fill}, '"', Text{look});
    if (p.compared() && sizes != nullptr) {
        o.put(" data-old=\"");
        if (sizes->in_old) o.put(Number{sizes->old_bytes});
        o.put("\" data-new=\"");
        if (sizes->in_new) o.put(Number{sizes->new_bytes});
        o.put('"');
    }
    o.put("><title>");
}

void close_rect(OutputWriter& out) { out.put("</title></rect>\n"); }

// A named box: its rectangle, its tooltip "NAME: FIGURES", its label.
void put_named_box(const Picture& p, std::string_view kind, std::string_view name, const Sizes& s, std::uint64_t total,
                   const Box& box, std::string_view fill, std::string_view look) {
    open_rect(p, kind, &name, &s, box, fill, look);
    StreamOutput{p.out}.put(XmlText{name}, ": ");
    put_figures(p.out, s, total, p.compared());
    close_rect(p.out);
}

bool same_top(const Box& a, const Box& b) { return std::abs(a.y - b.y) < 0.05; }

// A square of colour and its text, at `x` on the legend's line at `y`;
// returns where the next begins, on the next line when this one is full.
void put_key(OutputWriter& out, double& x, double& y, std::string_view fill, std::string_view look,
             std::string_view text, bool write) {
    const double width = 18 + static_cast<double>(characters_of(text)) * character_width + 14;
    if (x + width > picture_width && x > 4) {
        x = 4;
        y += line_height;
    }
    if (write)
        StreamOutput{out}.put("<path d=\"M", Coordinate{x}, ' ', Coordinate{y + 3}, "h12v12h-12z\" fill=\"", Text{fill},
                              '"', Text{look}, "/><text x=\"", Coordinate{x + 16}, "\" y=\"", Coordinate{y + 13.5},
                              "\" pointer-events=\"none\">", XmlText{text}, "</text>\n");
    x += width;
}

// The legend: the changes' shades, or the sections' colours. Returns the
// height it takes.
double put_legend(const Picture& p, double top, bool write) {
    double x = 4, y = top;
    if (p.compared()) {
        for (int shade = 0; shade <= Removed; ++shade)
            put_key(p.out, x, y, shade_colours[shade], shade == Removed ? ghost_outline : "", shade_names[shade],
                    write);
        return y + line_height - top;
    }
    if (p.unsized != nullptr) return 0;
    for (int i = 0; i < top_count && p.t.top[i].weight != 0; ++i) {
        const std::uint32_t entry = p.t.top[i].entry;
        put_key(p.out, x, y, section_colours[i % std::size(section_colours)], "", section_name(p, entry), write);
    }
    return y + line_height - top;
}

// The title: the file (and the old build's), the story's size against its
// limit, the code's, and why the sections are not drawn if they are not.
void put_title(const Picture& p, std::string_view path, std::string_view old_path) {
    StreamOutput o{p.out};
    o.put("<text x=\"4\" y=\"18\" font-size=\"15\" font-weight=\"bold\" pointer-events=\"none\">");
    put_shortened_path(p.out, path, p.compared() ? 60 : 120);
    if (p.compared()) {
        o.put(" since ");
        put_shortened_path(p.out, old_path, 60);
    }
    // A build that did not finish: its file ends before its End record.
    const bool old_cut = p.compared() && !p.old_profile().complete;
    if (!p.profile.complete || old_cut)
        o.put("<tspan fill=\"#b2182b\"> \u2014 incomplete: ",
              Text{!p.profile.complete ? (old_cut ? "both files end" : "the file ends") : "the old file ends"},
              " before the End record</tspan>");
    o.put("</text>\n<text x=\"4\" y=\"38\" font-size=\"13\" pointer-events=\"none\">");
    const StorySize& story = p.profile.story;
    const bool both = p.compared() && p.old_profile().story.known;
    if (!story.known) {
        o.put("story size unknown");
    } else {
        o.put("story file ");
        if (both) o.put(Number{p.old_profile().story.bytes}, " \u2192 ");
        o.put(Number{story.bytes}, " bytes");
        if (both) o.put(" (", Change{std::int64_t{story.bytes} - p.old_profile().story.bytes}, ')');
        o.put(" of ", Number{story.limit}, " (", Percent{story.bytes, story.limit}, "), ");
        if (story.bytes > story.limit)
            o.put(Number{story.bytes - story.limit}, " bytes over the limit");
        else
            o.put(Number{story.limit - story.bytes}, " bytes left");
    }
    o.put("; code ");
    if (p.compared()) o.put(Number{p.old_profile().code_bytes}, " \u2192 ");
    o.put(Number{p.profile.code_bytes}, " bytes");
    if (p.compared())
        o.put(" (", Change{static_cast<std::int64_t>(p.profile.code_bytes - p.old_profile().code_bytes)}, "), ",
              Number{static_cast<unsigned>(p.old_profile().measured_count)}, " \u2192 ");
    else
        o.put(" in ");
    o.put(Number{static_cast<unsigned>(p.profile.measured_count)}, " routines");
    if (p.unsized != nullptr) o.put("; sections not drawn: ", Text{p.unsized});
    o.put("</text>\n");
}

// The story against its limit, and the room left.
void put_gauge(const Picture& p, double top) {
    const StorySize& story = p.profile.story;
    const double scale = picture_width / static_cast<double>(story.limit);
    const double used = std::min<double>(picture_width, story.bytes * scale);
    StreamOutput o{p.out};
    o.put("<path d=\"M0 ", Coordinate{top}, 'h', Coordinate{used}, "v18h-", Coordinate{used},
          "z\" fill=\"#c8c8c8\"><title>story file: ", Number{story.bytes}, " bytes (",
          Percent{story.bytes, story.limit}, ") of ", Number{story.limit}, "</title></path>\n");
    put_label(p.out, {0, top, used, gauge_height}, 0, "story file", figure_of({false, true, 0, story.bytes}, false),
              Unchanged, false);
    if (story.bytes >= story.limit) return;
    Sizes left{false, true, 0, story.limit - story.bytes};
    if (p.compared() && p.old_profile().story.known && p.old_profile().story.bytes < p.old_profile().story.limit)
        left = {true, true, p.old_profile().story.limit - p.old_profile().story.bytes, left.new_bytes};
    const Box box{used, top, picture_width - used, gauge_height};
    open_rect(p, "left", nullptr, nullptr, box, "#fff", " stroke=\"#909090\" stroke-width=\".5\"");
    o.put("room left: ");
    put_figures(p.out, left, story.limit, left.in_old);
    close_rect(p.out);
    put_label(p.out, box, 0, "room left", figure_of(left, left.in_old), Unchanged, false);
}

// --- The treemap -----------------------------------------------------------------

// A source file's group: its routines of a box big enough to draw, the rest
// in one box, then its outline and label, below the `lines` labels that
// stand at its top.
void put_file_group(const Picture& p, int slot, const Box& file_box, const char* colour, int lines) {
    Tables& t = p.t;
    const bool gone = slot >= file_number_count;
    const SizeProfile& build = gone ? p.old_profile() : p.profile;
    const Item* items = t.items + t.first_of_slot[slot];
    const int count = t.first_of_slot[slot + 1] - t.first_of_slot[slot];
    int shown = 0;
    while (shown < count && static_cast<double>(items[shown].weight) * p.pixels_per_byte >= smallest_box) {
        t.weights[shown] = items[shown].weight;
        ++shown;
    }
    Sizes small{p.compared(), true, 0, 0};
    std::uint64_t small_weight = 0;
    for (int i = shown; i < count; ++i) {
        small.add(routine_sizes(p, items[i].entry));
        small_weight += items[i].weight;
    }
    t.weights[shown] = small_weight;
    squarify(t.weights, shown + (small_weight != 0), file_box, t.boxes);

    StreamOutput o{p.out};
    o.put("<g class=\"file-group\">\n");
    Name name_scratch, path_scratch;
    for (int i = 0; i < shown; ++i) {
        const std::uint32_t entry = items[i].entry;
        const bool ghost = (entry & ghost_bit) != 0;
        const SizeProfile& of = ghost ? p.old_profile() : p.profile;
        const RoutineSpan& span = of.model->routines.span[entry & 0xFFFF];
        const Sizes s = routine_sizes(p, entry);
        const Shade shade = p.compared() ? shade_of(s) : Unchanged;
        const std::string_view name = routine_key(of, entry & 0xFFFF, name_scratch);
        const std::string_view fill = p.compared() ? shade_colours[shade] : colour;
        const Box& box = t.boxes[i];
        open_rect(p, ghost ? "ghost" : "routine", &name, &s, box, fill, ghost ? ghost_outline : routine_outline);
        o.put(XmlText{name}, ": ");
        put_figures(p.out, s, p.profile.code_bytes, p.compared());
        o.put(' ', XmlText{file_path(*of.model, span.file, path_scratch)}, ':', Number{span.line});
        close_rect(p.out);
        put_label(p.out, box, same_top(box, file_box) ? lines + 1 : 0, name, figure_of(s, p.compared()), shade, false);
    }
    if (small_weight != 0) {
        open_rect(p, "small", nullptr, nullptr, t.boxes[shown], p.compared() ? shade_colours[shade_of(small)] : colour,
                  p.compared() ? routine_outline : " fill-opacity=\".45\"");
        o.put(Number{static_cast<unsigned>(count - shown)},
              Text{count - shown == 1 ? " small routine: " : " small routines: "});
        if (p.compared())
            put_figures(p.out, small, 0, true);
        else
            o.put(Number{small.new_bytes}, " bytes");
        close_rect(p.out);
    }
    const std::string_view path = file_path(*build.model, slot % file_number_count, path_scratch);
    const Sizes s = file_sizes(p, slot);
    put_named_box(p, gone ? "ghost" : "file", path, s, p.profile.code_bytes, file_box, "none",
                  gone ? " stroke=\"#606060\" stroke-width=\"1.5\" stroke-dasharray=\"5 3\""
                       : " stroke=\"#303030\" stroke-width=\"1.5\"");
    put_label(p.out, file_box, lines, path, figure_of(s, p.compared()), gone ? Removed : Unchanged, true);
    o.put("</g>\n");
}

// The source files laid out in `box` at their weights, with room for
// `rest` more (bytes of the code area that no routine holds), below the
// `lines` labels at the top of `box`.
void put_files(const Picture& p, const Box& box, std::uint64_t rest, int lines) {
    Tables& t = p.t;
    int count = 0;
    for (; count < slot_count && t.slots[count].weight != 0; ++count) t.weights[count] = t.slots[count].weight;
    t.weights[count] = rest;
    squarify(t.weights, count + (rest != 0), box, t.slot_boxes);
    for (int f = 0; f < count; ++f)
        put_file_group(p, static_cast<int>(t.slots[f].entry), t.slot_boxes[f],
                       file_colours[f % std::size(file_colours)], same_top(t.slot_boxes[f], box) ? lines : 0);
}

// The sections at the top level, the code area holding the files.
void put_sections(const Picture& p, const Box& treemap) {
    Tables& t = p.t;
    int count = 0;
    for (; count < top_count && t.top[count].weight != 0; ++count) t.weights[count] = t.top[count].weight;
    squarify(t.weights, count, treemap, t.top_boxes);
    StreamOutput o{p.out};
    for (int i = 0; i < count; ++i) {
        const std::uint32_t entry = t.top[i].entry;
        const bool ghost = (entry & ghost_bit) != 0;
        const Sizes s = section_sizes(p, entry);
        const Shade shade = p.compared() ? shade_of(s) : Unchanged;
        const std::string_view name = section_name(p, entry);
        const Box& box = t.top_boxes[i];
        o.put("<g class=\"section-group\">\n");
        put_named_box(p, ghost ? "ghost" : "section", name, s, p.profile.story.bytes, box,
                      p.compared() ? shade_colours[shade] : section_colours[i % std::size(section_colours)],
                      ghost ? ghost_outline : routine_outline);
        if (entry == static_cast<std::uint32_t>(p.code_area + 1)) {
            std::uint64_t files = 0;
            for (int f = 0; f < slot_count; ++f) files += t.slots[f].weight;
            put_files(p, box, t.top[i].weight > files ? t.top[i].weight - files : 0, 1);
        }
        put_label(p.out, box, 0, name, figure_of(s, p.compared()), shade, true);
        o.put("</g>\n");
    }
}

// --- What is drawn, and its weights --------------------------------------------

// Pairs the files of two builds by path, as their changes are.
void pair_files(const Picture& p) {
    Tables& t = p.t;
    std::fill(std::begin(t.new_file_of), std::end(t.new_file_of), -1);
    std::fill(std::begin(t.old_file_of), std::end(t.old_file_of), -1);
    if (!p.compared()) return;
    const SizeProfile& old_profile = p.old_profile();
    Name old_scratch, new_scratch;
    for (int i = 0; i < old_profile.file_count; ++i) {
        const int old_file = old_profile.files_by_size[i];
        const std::string_view path = file_path(*old_profile.model, old_file, old_scratch);
        for (int j = 0; j < p.profile.file_count; ++j) {
            const int new_file = p.profile.files_by_size[j];
            if (file_path(*p.profile.model, new_file, new_scratch) != path) continue;
            t.new_file_of[old_file] = static_cast<std::int16_t>(new_file);
            t.old_file_of[new_file] = static_cast<std::int16_t>(old_file);
            break;
        }
    }
}

// Each file slot's routines, heaviest first, and the slots by weight: the
// new build's routines in their files, with the changes the old build's
// removed ones in the files they stood in, or in a slot of their old file.
void weigh_files(const Picture& p) {
    Tables& t = p.t;
    const RoutineSpan* spans = p.profile.model->routines.span;
    auto slot_of_removed = [&p](const ChangedRow& row) {
        const int old_file = p.old_profile().model->routines.span[row.old_index].file;
        return p.t.new_file_of[old_file] >= 0 ? p.t.new_file_of[old_file] : file_number_count + old_file;
    };
    int* const first = t.first_of_slot;
    auto each_entry = [&](auto visit) {
        for (int i = 0; i < p.profile.measured_count; ++i)
            visit(spans[p.profile.routines_by_size[i]].file, p.profile.routines_by_size[i]);
        if (!p.compared()) return;
        for (const ChangedRow& row : std::span(p.changes->routines.rows, p.changes->routines.count))
            if (row.in_old && !row.in_new) visit(slot_of_removed(row), ghost_bit | row.old_index);
    };
    each_entry([first](int slot, std::uint32_t) { ++first[slot + 1]; });
    for (int s = 0; s < slot_count; ++s) first[s + 1] += first[s];
    int filled[slot_count];
    std::copy(first, first + slot_count, filled);
    each_entry([&](int slot, std::uint32_t entry) {
        t.items[filled[slot]++] = {routine_sizes(p, entry).weight(), entry};
    });
    for (int s = 0; s < slot_count; ++s) {
        std::sort(t.items + first[s], t.items + first[s + 1], heavier);
        std::uint64_t weight = 0;
        for (int i = first[s]; i < first[s + 1]; ++i) weight += t.items[i].weight;
        t.slots[s] = {weight, static_cast<std::uint32_t>(s)};
    }
    std::sort(t.slots, t.slots + slot_count, heavier);
}

// The story's header and sections, with the changes the removed ones too.
void weigh_sections(const Picture& p) {
    Tables& t = p.t;
    int count = 0;
    auto add = [&](std::uint32_t entry) {
        if (const std::uint64_t weight = section_sizes(p, entry).weight(); weight != 0)
            t.top[count++] = {weight, entry};
    };
    add(header_entry);
    for (int i = 0; i < p.profile.model->memory_map_size; ++i) add(static_cast<std::uint32_t>(i + 1));
    if (p.compared())
        for (const ChangedRow& row : std::span(p.changes->sections.rows, p.changes->sections.count))
            if (row.in_old && !row.in_new) add(ghost_bit | (row.old_index + 1u));
    std::sort(t.top, t.top + count, heavier);
}

}  // namespace

void print_size_picture(OutputWriter& out, const SizeProfile& profile, const SizeChanges* changes,
                        std::string_view path, std::string_view old_path) {
    const std::unique_ptr<Tables, decltype(&std::free)> tables(static_cast<Tables*>(allocate_table(sizeof(Tables))),
                                                               &std::free);
    Picture p{out, profile, changes, *tables};
    p.unsized = unsized_sections(profile, p.code_area);
    if (changes != nullptr) {
        int old_code_area = -1;
        if (p.unsized == nullptr && unsized_sections(*changes->old_profile, old_code_area) != nullptr)
            p.unsized = "the old build's cannot be sized";
        for (const ChangedRow& row : std::span(changes->routines.rows, changes->routines.count))
            if (row.in_new) tables->routine_row[row.new_index] = &row;
        for (const ChangedRow& row : std::span(changes->sections.rows, changes->sections.count))
            if (row.in_new) tables->section_row[row.new_index] = &row;
    }
    pair_files(p);
    weigh_files(p);
    if (p.unsized == nullptr) weigh_sections(p);
    std::uint64_t total = 0;
    for (const Item& item :
         p.unsized == nullptr ? std::span<const Item>(tables->top) : std::span<const Item>(tables->slots))
        total += item.weight;
    p.pixels_per_byte = total == 0 ? 0 : picture_width * double{treemap_height} / static_cast<double>(total);

    const double legend_height = put_legend(p, title_height, false);
    const double gauge_top = title_height + legend_height + 4;
    const double treemap_top = gauge_top + (profile.story.known ? gauge_height + 8 : 0);
    StreamOutput o{out};
    o.put("<svg xmlns=\"http://www.w3.org/2000/svg\" viewBox=\"0 0 ", Number{unsigned{picture_width}}, ' ',
          Coordinate{treemap_top + treemap_height},
          "\" width=\"100%\" font-family=\"sans-serif\" font-size=\"11\" style=\"background:#fff\">\n");
    put_title(p, path, old_path);
    put_legend(p, title_height, true);
    if (profile.story.known) put_gauge(p, gauge_top);
    const Box treemap{0, treemap_top, picture_width, treemap_height};
    if (p.unsized == nullptr)
        put_sections(p, treemap);
    else
        put_files(p, treemap, 0, 0);
    o.put("</svg>\n");
}
