// The picture is written as it is laid out: the strip, then each file's
// rectangle after its routines', so that its outline and label stand above
// them. Names are written as XML text: the five special characters as
// entities, control bytes and bytes of no well-formed UTF-8 as \xNN text.
#include "stats/size_picture.h"

#include <algorithm>
#include <cmath>
#include <cstdlib>
#include <cstring>

#include "escaping.h"
#include "stats/report_pieces.h"
#include "stats/treemap.h"

namespace {

using namespace stats;

constexpr int title_height = 28;
constexpr int strip_height = 36;
constexpr int treemap_top = title_height + strip_height + 8;
constexpr int picture_height = treemap_top + treemap_height;
// A label is written where its box is this high and wide enough for it.
constexpr double label_height = 14;
constexpr double character_width = 6.5;

constexpr const char* file_colours[] = {"#8fb9d8", "#a9d18e", "#f4c27a", "#d7a6d9",
                                        "#f2a29b", "#9ed8cf", "#e0d27c", "#c2b5e8"};
enum class Change { Unchanged, Grown, Shrunk, New };
constexpr const char* change_colours[] = {"#d0d0d0", "#e8806f", "#7fbf7b", "#9c8ce0"};
constexpr const char* change_names[] = {"unchanged", "grown", "shrunk", "new"};

void put_xml_text(std::string_view text) {
    const auto* bytes = reinterpret_cast<const unsigned char*>(text.data());
    for (std::size_t i = 0; i < text.size();) {
        const unsigned char byte = bytes[i];
        if (byte >= 0x80) {
            if (std::size_t length = utf8_sequence_length(bytes + i, text.size() - i); length != 0) {
                out.put(text.substr(i, length));
                i += length;
                continue;
            }
        }
        if (byte < 0x20 || byte >= 0x7F)
            out.end_piece(write_hex_escape(out.begin_piece(), byte));
        else if (byte == '&')
            out.put("&amp;");
        else if (byte == '<')
            out.put("&lt;");
        else if (byte == '>')
            out.put("&gt;");
        else if (byte == '"')
            out.put("&quot;");
        else
            out.put(static_cast<char>(byte));
        ++i;
    }
}

// A coordinate with two decimals.
void put_coordinate(double value) {
    const auto hundredths = static_cast<long>(std::lround(std::max(0.0, value) * 100));
    out.put_decimal(hundredths / 100);
    out.put('.');
    out.put(static_cast<char>('0' + hundredths / 10 % 10));
    out.put(static_cast<char>('0' + hundredths % 10));
}

void put_rect(const Box& box, std::string_view kind, const char* fill, std::string_view outline = "") {
    out.put("<rect class=\"");
    out.put(kind);
    out.put("\" x=\"");
    put_coordinate(box.x);
    out.put("\" y=\"");
    put_coordinate(box.y);
    out.put("\" width=\"");
    put_coordinate(box.width);
    out.put("\" height=\"");
    put_coordinate(box.height);
    out.put("\" fill=\"");
    out.put(fill);
    out.put('"');
    out.put(outline);
    out.put("><title>");
}

// Ends a rectangle's tooltip, which begins "NAME: BYTES bytes".
void end_rect() { out.put("</title></rect>\n"); }

void put_bytes_title(std::string_view name, std::uint64_t bytes, std::uint64_t total) {
    put_xml_text(name);
    out.put(": ");
    out.put_decimal(static_cast<long>(bytes));
    out.put(" bytes (");
    out.put(percent_cell(bytes, total).view());
    out.put(')');
}

// A label at the box's top left, `lines` lines down (below a file's label).
void put_label(const Box& box, std::string_view text, bool bold, int lines = 0) {
    if (box.height < label_height * (lines + 1) || static_cast<double>(text.size()) * character_width + 6 > box.width)
        return;
    out.put("<text x=\"");
    put_coordinate(box.x + 3);
    out.put("\" y=\"");
    put_coordinate(box.y + 11 + label_height * lines);
    out.put(bold ? "\" font-weight=\"bold\">" : "\">");
    put_xml_text(text);
    out.put("</text>\n");
}

// The story's sections along its limit, and the room left.
void put_strip(const SizeProfile& profile) {
    const StorySize& story = profile.story;
    if (!story.known) return;
    const double scale = picture_width / static_cast<double>(story.limit);
    put_rect({0, title_height, story.bytes * scale, strip_height}, "story", "#e4e4e4");
    put_bytes_title("story file", story.bytes, story.limit);
    end_rect();
    const GameModel& model = *profile.model;
    for (int i = 0; i < model.memory_map_size; ++i) {
        std::uint32_t size;
        if (!section_size(profile, i, size) || size == 0) continue;
        const Box box{model.memory_map[i].address * scale, title_height, size * scale, strip_height};
        put_rect(box, "section", file_colours[i % std::size(file_colours)]);
        put_bytes_title(model.memory_map[i].name.view(), size, story.limit);
        end_rect();
        put_label(box, model.memory_map[i].name.view(), false);
    }
    const Box left{story.bytes * scale, title_height, (story.limit - story.bytes) * scale, strip_height};
    put_rect(left, "left", "#ffffff");
    put_bytes_title("room left", story.limit - story.bytes, story.limit);
    end_rect();
    put_label(left, "room left", false);
}

// How a routine changed since the old build, by the changed row of its key.
Change change_of(const SizeProfile& profile, unsigned number, const SizeRow* const* by_name, int count) {
    char scratch[24];
    const std::string_view key = routine_key(profile, number, scratch);
    const SizeRow* const* found = std::lower_bound(
        by_name, by_name + count, key, [](const SizeRow* row, std::string_view name) { return row->name < name; });
    if (found == by_name + count || (*found)->name != key) return Change::Unchanged;
    if (!(*found)->in_old) return Change::New;
    return (*found)->change() > 0 ? Change::Grown : Change::Shrunk;
}

void put_heading(const SizeProfile& profile, const SizeChanges* changes) {
    out.put("<text x=\"4\" y=\"18\" font-size=\"14\">Code: ");
    out.put_decimal(static_cast<long>(profile.code_bytes));
    out.put(" bytes in ");
    out.put_decimal(profile.measured_count);
    out.put(" routines</text>\n");
    if (changes == nullptr) return;
    for (int i = 0; i < 4; ++i) {
        const double x = 700 + 120 * i;
        put_rect({x, 6, 14, 14}, "legend", change_colours[i]);
        out.put(change_names[i]);
        end_rect();
        out.put("<text x=\"");
        put_coordinate(x + 18);
        out.put("\" y=\"18\">");
        out.put(change_names[i]);
        out.put("</text>\n");
    }
}

// The memory a picture needs beside the profile: a box and a weight for
// each routine and file, and the routines grouped by file.
struct Layout {
    Box* boxes;
    std::uint64_t* weights;
    std::uint16_t* by_file;
    const SizeRow** by_name;
    ~Layout() {
        std::free(boxes);
        std::free(weights);
        std::free(by_file);
        std::free(by_name);
    }
};

}  // namespace

void print_size_picture(const SizeProfile& profile, const SizeChanges* changes) {
    const GameModel& model = *profile.model;
    constexpr std::size_t room = word_count + file_number_count;
    Layout layout{static_cast<Box*>(allocate_table(sizeof(Box) * room)),
                  static_cast<std::uint64_t*>(allocate_table(sizeof(std::uint64_t) * room)),
                  static_cast<std::uint16_t*>(allocate_table(sizeof(std::uint16_t) * word_count)),
                  static_cast<const SizeRow**>(allocate_table(sizeof(SizeRow*) * 2 * word_count))};
    int by_name_count = 0;
    if (changes != nullptr) {
        for (int i = 0; i < changes->routines.count; ++i) layout.by_name[by_name_count++] = &changes->routines.rows[i];
        std::sort(layout.by_name, layout.by_name + by_name_count,
                  [](const SizeRow* a, const SizeRow* b) { return a->name < b->name; });
    }

    out.put("<svg xmlns=\"http://www.w3.org/2000/svg\" width=\"1200\" height=\"");
    out.put_decimal(picture_height);
    out.put("\" viewBox=\"0 0 1200 ");
    out.put_decimal(picture_height);
    out.put(
        "\" font-family=\"sans-serif\" font-size=\"11\">\n<rect width=\"100%\" height=\"100%\" fill=\"#ffffff\"/>\n");
    put_heading(profile, changes);
    put_strip(profile);

    // Files, largest first, each with its routines largest first.
    int first_of_file[file_number_count + 1] = {};
    for (int i = 0; i < profile.measured_count; ++i)
        ++first_of_file[model.routines.span[profile.routines_by_size[i]].file + 1];
    for (int f = 0; f < file_number_count; ++f) first_of_file[f + 1] += first_of_file[f];
    int filled[file_number_count];
    std::copy(first_of_file, first_of_file + file_number_count, filled);
    for (int i = 0; i < profile.measured_count; ++i) {
        const unsigned number = profile.routines_by_size[i];
        layout.by_file[filled[model.routines.span[number].file]++] = static_cast<std::uint16_t>(number);
    }
    int file_count = 0;
    std::uint8_t files[file_number_count];
    for (int i = 0; i < profile.file_count; ++i) {
        const int number = profile.files_by_size[i];
        if (profile.file_code[number].bytes == 0) continue;
        files[file_count] = static_cast<std::uint8_t>(number);
        layout.weights[word_count + file_count++] = profile.file_code[number].bytes;
    }
    Box* file_boxes = layout.boxes + word_count;
    squarify(layout.weights + word_count, file_count, {0, treemap_top, picture_width, treemap_height}, file_boxes);
    const double pixels_per_byte =
        profile.code_bytes == 0 ? 0 : picture_width * double{treemap_height} / profile.code_bytes;

    Name name;
    for (int f = 0; f < file_count; ++f) {
        const int file = files[f];
        Cell scratch;
        const std::string_view path = file_path(model, file, scratch);
        // The routines of a pixel or more, then the rest in one box.
        int shown = 0;
        std::uint64_t small_bytes = 0;
        int small_count = 0;
        const std::uint16_t* routines = layout.by_file + first_of_file[file];
        const int routine_count = first_of_file[file + 1] - first_of_file[file];
        for (int i = 0; i < routine_count; ++i) {
            const std::uint64_t bytes = code_bytes_of(model.routines.span[routines[i]]);
            if (bytes * pixels_per_byte >= 1) {
                layout.weights[shown++] = bytes;
            } else {
                small_bytes += bytes;
                ++small_count;
            }
        }
        if (small_bytes != 0) layout.weights[shown] = small_bytes;
        squarify(layout.weights, shown + (small_bytes != 0), file_boxes[f], layout.boxes);
        out.put("<g>\n");
        for (int i = 0; i < shown; ++i) {
            const unsigned number = routines[i];
            const RoutineSpan& span = model.routines.span[number];
            const char* fill = file_colours[f % std::size(file_colours)];
            if (changes != nullptr)
                fill = change_colours[static_cast<int>(change_of(profile, number, layout.by_name, by_name_count))];
            const std::string_view routine = routine_name(profile, number, name);
            put_rect(layout.boxes[i], "routine", fill, " stroke=\"#ffffff\" stroke-width=\"0.5\"");
            put_bytes_title(routine, code_bytes_of(span), profile.code_bytes);
            out.put(' ');
            put_xml_text(path);
            out.put(':');
            out.put_decimal(span.line);
            end_rect();
            put_label(layout.boxes[i], routine, false, layout.boxes[i].y == file_boxes[f].y);
        }
        if (small_bytes != 0) {
            Cell count = decimal_cell(static_cast<std::uint64_t>(small_count));
            put_rect(layout.boxes[shown], "small", "#eeeeee");
            out.put(count.view());
            out.put(" small routines: ");
            out.put_decimal(static_cast<long>(small_bytes));
            out.put(" bytes");
            end_rect();
        }
        put_rect(file_boxes[f], "file", "none", " stroke=\"#303030\" stroke-width=\"1.5\"");
        put_bytes_title(path, profile.file_code[file].bytes, profile.code_bytes);
        end_rect();
        put_label(file_boxes[f], path, true);
        out.put("</g>\n");
    }
    out.put("</svg>\n");
}
