// The picture is written as it is laid out: the strip, then each file's
// rectangle after its routines', so that its outline and label stand above
// them. Names and paths are written as XML text (XmlText).
#include "stats/size_picture.h"

#include <algorithm>
#include <cmath>
#include <cstdlib>
#include <cstring>

#include "output_pieces.h"
#include "stats/report_table.h"
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

// A coordinate with two decimals.
struct Coordinate {
    double value;
    static constexpr std::size_t max_size() { return Number<unsigned long>::max_size() + 3; }
    char* write(char* next) const {
        const auto hundredths = static_cast<unsigned long>(std::lround(std::max(0.0, value) * 100));
        next = Number{hundredths / 100}.write(next);
        *next++ = '.';
        *next++ = static_cast<char>('0' + hundredths / 10 % 10);
        *next = static_cast<char>('0' + hundredths % 10);
        return next + 1;
    }
};

// A box with a `name` has it in data-name, for the page's script.
void put_rect(OutputWriter& out, const Box& box, std::string_view kind, std::string_view fill,
              std::string_view outline = "", std::string_view name = {}) {
    StreamOutput o{out};
    o.put("<rect class=\"", Text{kind}, "\" x=\"", Coordinate{box.x}, "\" y=\"", Coordinate{box.y}, "\" width=\"",
          Coordinate{box.width}, "\" height=\"", Coordinate{box.height}, "\" fill=\"", Text{fill}, '"', Text{outline});
    if (!name.empty()) o.put(" data-name=\"", XmlText{name}, '"');
    o.put("><title>");
}

// Ends a rectangle's tooltip, which begins "NAME: BYTES bytes".
void end_rect(OutputWriter& out) { StreamOutput{out}.put("</title></rect>\n"); }

void put_bytes_title(OutputWriter& out, std::string_view name, std::uint64_t bytes, std::uint64_t total) {
    StreamOutput{out}.put(XmlText{name}, ": ", Number{bytes}, " bytes (", Percent{bytes, total}, ')');
}

// A label at the box's top left, `lines` lines down (below a file's label).
void put_label(OutputWriter& out, const Box& box, std::string_view text, bool bold, int lines = 0) {
    if (box.height < label_height * (lines + 1) || static_cast<double>(text.size()) * character_width + 6 > box.width)
        return;
    StreamOutput{out}.put("<text x=\"", Coordinate{box.x + 3}, "\" y=\"", Coordinate{box.y + 11 + label_height * lines},
                          bold ? Text{"\" font-weight=\"bold\">"} : Text{"\">"}, XmlText{text}, "</text>\n");
}

// The story's sections along its limit, and the room left.
void put_strip(OutputWriter& out, const SizeProfile& profile) {
    const StorySize& story = profile.story;
    if (!story.known) return;
    const double scale = picture_width / static_cast<double>(story.limit);
    put_rect(out, {0, title_height, story.bytes * scale, strip_height}, "story", "#e4e4e4");
    put_bytes_title(out, "story file", story.bytes, story.limit);
    end_rect(out);
    const GameModel& model = *profile.model;
    for (int i = 0; i < model.memory_map_size; ++i) {
        std::uint32_t size;
        if (!section_size(profile, i, size) || size == 0) continue;
        const Box box{model.memory_map[i].address * scale, title_height, size * scale, strip_height};
        put_rect(out, box, "section", file_colours[i % std::size(file_colours)], "", model.memory_map[i].name.view());
        put_bytes_title(out, model.memory_map[i].name.view(), size, story.limit);
        end_rect(out);
        put_label(out, box, model.memory_map[i].name.view(), false);
    }
    const Box left{story.bytes * scale, title_height, (story.limit - story.bytes) * scale, strip_height};
    put_rect(out, left, "left", "#ffffff");
    put_bytes_title(out, "room left", story.limit - story.bytes, story.limit);
    end_rect(out);
    put_label(out, left, "room left", false);
}

// How a routine changed since the old build, by the changed row of its key.
Change change_of(const SizeChanges& changes, unsigned number, const ChangedRow* const* by_key, int count) {
    const std::uint64_t key = changes.new_profile->routine_keys[number];
    const ChangedRow* const* found = std::lower_bound(
        by_key, by_key + count, key,
        [&changes](const ChangedRow* row, std::uint64_t key) { return routine_row_key(changes, *row) < key; });
    if (found == by_key + count || routine_row_key(changes, **found) != key) return Change::Unchanged;
    if (!(*found)->in_old) return Change::New;
    return row_change(changes, changes.routines, **found) > 0 ? Change::Grown : Change::Shrunk;
}

void put_heading(OutputWriter& out, const SizeProfile& profile, const SizeChanges* changes) {
    StreamOutput o{out};
    o.put("<text x=\"4\" y=\"18\" font-size=\"14\">Code: ", Number{profile.code_bytes}, " bytes in ",
          Number{static_cast<unsigned>(profile.measured_count)}, " routines</text>\n");
    if (changes == nullptr) return;
    for (int i = 0; i < 4; ++i) {
        const double x = 700 + 120 * i;
        put_rect(out, {x, 6, 14, 14}, "legend", change_colours[i]);
        o.put(Text{change_names[i]});
        end_rect(out);
        o.put("<text x=\"", Coordinate{x + 18}, "\" y=\"18\">", Text{change_names[i]}, "</text>\n");
    }
}

// The memory a picture needs beside the profile: a box and a weight for
// each routine and file, and the routines grouped by file.
struct Layout {
    Box* boxes;
    std::uint64_t* weights;
    std::uint16_t* by_file;
    const ChangedRow** by_key;
    ~Layout() {
        std::free(boxes);
        std::free(weights);
        std::free(by_file);
        std::free(by_key);
    }
};

}  // namespace

void print_size_picture(OutputWriter& out, const SizeProfile& profile, const SizeChanges* changes) {
    const GameModel& model = *profile.model;
    constexpr std::size_t room = word_count + file_number_count;
    Layout layout{static_cast<Box*>(allocate_table(sizeof(Box) * room)),
                  static_cast<std::uint64_t*>(allocate_table(sizeof(std::uint64_t) * room)),
                  static_cast<std::uint16_t*>(allocate_table(sizeof(std::uint16_t) * word_count)),
                  static_cast<const ChangedRow**>(allocate_table(sizeof(ChangedRow*) * 2 * word_count))};
    int by_key_count = 0;
    if (changes != nullptr) {
        for (int i = 0; i < changes->routines.count; ++i) layout.by_key[by_key_count++] = &changes->routines.rows[i];
        std::sort(layout.by_key, layout.by_key + by_key_count, [changes](const ChangedRow* a, const ChangedRow* b) {
            return routine_row_key(*changes, *a) < routine_row_key(*changes, *b);
        });
    }

    StreamOutput o{out};
    o.put("<svg xmlns=\"http://www.w3.org/2000/svg\" width=\"1200\" height=\"", Number{unsigned{picture_height}},
          "\" viewBox=\"0 0 1200 ", Number{unsigned{picture_height}},
          "\" font-family=\"sans-serif\" font-size=\"11\">\n<rect width=\"100%\" height=\"100%\" fill=\"#ffffff\"/>\n");
    put_heading(out, profile, changes);
    put_strip(out, profile);

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
        Name scratch;
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
        o.put("<g class=\"file-group\">\n");
        for (int i = 0; i < shown; ++i) {
            const unsigned number = routines[i];
            const RoutineSpan& span = model.routines.span[number];
            const char* fill = file_colours[f % std::size(file_colours)];
            if (changes != nullptr)
                fill = change_colours[static_cast<int>(change_of(*changes, number, layout.by_key, by_key_count))];
            const std::string_view routine = routine_name(profile, number, name);
            put_rect(out, layout.boxes[i], "routine", fill, " stroke=\"#ffffff\" stroke-width=\"0.5\"", routine);
            put_bytes_title(out, routine, code_bytes_of(span), profile.code_bytes);
            o.put(' ', XmlText{path}, ':', Number{span.line});
            end_rect(out);
            put_label(out, layout.boxes[i], routine, false, layout.boxes[i].y == file_boxes[f].y);
        }
        if (small_bytes != 0) {
            put_rect(out, layout.boxes[shown], "small", "#eeeeee");
            o.put(Number{static_cast<unsigned>(small_count)}, " small routines: ", Number{small_bytes}, " bytes");
            end_rect(out);
        }
        put_rect(out, file_boxes[f], "file", "none", " stroke=\"#303030\" stroke-width=\"1.5\"", path);
        put_bytes_title(out, path, profile.file_code[file].bytes, profile.code_bytes);
        end_rect(out);
        put_label(out, file_boxes[f], path, true);
        o.put("</g>\n");
    }
    o.put("</svg>\n");
}
