#include "json_export/json_writer.h"

#include <cstring>

#include "output_pieces.h"

namespace json {

// Follows the brackets of `size` bytes of the open record's line.
void JsonOutput::follow_nesting(const char* text, std::size_t size) {
    for (std::size_t i = 0; i < size; ++i) {
        char c = text[i];
        if (record.in_string) {
            record.in_string = record.after_backslash || c != '"';
            record.after_backslash = !record.after_backslash && c == '\\';
            continue;
        }
        if (c == '"') {
            record.in_string = true;
        } else if ((c == '{' || c == '[') && record.depth < static_cast<int>(sizeof record.nesting)) {
            record.nesting[record.depth++] = c;
        } else if ((c == '}' || c == ']') && record.depth > 0) {
            --record.depth;
        }
        record.last = c;
    }
}

// Closes what the line of a record cut short leaves open, with "cut":true
// in the record's own object, and ends the line.
void JsonOutput::close_cut_record() {
    follow_nesting(out.buffer + record.output_mark, out.used - record.output_mark);
    StreamOutput o{out};
    if (record.in_string) {
        o.put('"');
        record.last = '"';
    }
    if (record.last == ':' || (record.last == ',' && record.depth > 1)) o.put(JsonNull{});
    for (; record.depth > 1; --record.depth) o.put(record.nesting[record.depth - 1] == '{' ? '}' : ']');
    o.put(Text{record.last == '{' || record.last == ',' ? "\"cut\":true}\n" : ",\"cut\":true}\n"});
}

// Before the buffer is written out in the middle of a record's line: the
// lines before it go out, and the line so far is kept back, so that a fatal
// error can still take it back. When that line alone fills the buffer, it
// goes out too, and what it leaves open is followed, to be closed if the
// record is cut.
std::size_t JsonOutput::keep_back(const char* buffer, std::size_t used) {
    if (!record.open) return 0;
    if (record.output_mark != 0 && !record.partly_out) {
        std::size_t line_so_far = used - record.output_mark;
        record.output_mark = 0;
        return line_so_far;
    }
    record.partly_out = true;
    follow_nesting(buffer + record.output_mark, used - record.output_mark);
    record.output_mark = 0;  // where the rest of the line will follow
    return 0;
}

void JsonOutput::open_record_line() { record = {.open = true, .output_mark = out.used}; }

void JsonOutput::fatal_line(std::initializer_list<MessagePart> message) {
    if (record.open) {
        record.open = false;  // so that a flush while it is closed writes what it holds
        if (record.partly_out)
            close_cut_record();
        else
            out.used = record.output_mark;
    }
    StreamOutput o{out};
    o.put("{\"kind\":\"fatal_error\",\"message\":\"");
    for (const MessagePart& part : message) o.put(JsonContents{part.text});  // a path as it is: JSON escapes it
    o.put("\"}\n");
}

void JsonOutput::notice(std::initializer_list<std::string_view> message_parts) {
    StreamOutput o{out};
    o.put("{\"kind\":\"notice\",\"message\":\"");
    for (std::string_view part : message_parts) o.put(JsonContents{part});
    o.put("\"}\n");
}

}  // namespace json
