#include "messages.h"

#include "escaping.h"
#include "json_export/json_writer.h"
#include "output_writer.h"
#include "run_exit.h"
#include "run_options.h"

namespace {

const char* file_named_in_fatal_errors = nullptr;

[[noreturn]] void end_with_fatal_line(std::string_view message, const std::string_view* path) {
    std::string_view named_file;
    if (path == nullptr && file_named_in_fatal_errors != nullptr) {
        named_file = file_named_in_fatal_errors;
        if (options.mode == OutputMode::Json) path = &named_file;
    }
    if (options.mode == OutputMode::Json) {
        json::write_fatal_error_line(message, path);
    } else if (!named_file.empty()) {
        out.put("Fatal error in ");
        put_escaped_path(named_file, options.mode);
        out.put(": ");
        out.put(message);
        out.put('\n');
    } else {
        out.put("Fatal error: ");
        out.put(message);
        if (path != nullptr) {
            out.put(" \"");
            put_escaped_path(*path, options.mode);
            out.put('"');
        }
        out.put('\n');
    }
    out.flush();
    end_run(1);
}

}  // namespace

void name_file_in_fatal_errors(const char* path) { file_named_in_fatal_errors = path; }

void fatal_error(std::string_view message) { end_with_fatal_line(message, nullptr); }

void fatal_error_with_path(std::string_view message, std::string_view path) { end_with_fatal_line(message, &path); }

void put_escaped_path(std::string_view path, OutputMode mode) {
    const bool python = mode == OutputMode::Python;
    for (char c : path) {
        auto byte = static_cast<unsigned char>(c);
        if (byte < 0x20 || byte == 0x7F) {
            out.end_piece(write_hex_escape(out.begin_piece(), byte));
        } else {
            if (python && (c == '\\' || c == '"')) out.put('\\');
            out.put(c);
        }
    }
}

void print_notice(std::initializer_list<std::string_view> parts) {
    if (options.mode == OutputMode::Json) {
        json::write_notice(parts);
        return;
    }
    for (std::string_view part : parts) out.put(part);
}
