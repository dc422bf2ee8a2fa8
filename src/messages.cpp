#include "messages.h"

#include "output_pieces.h"
#include "run_exit.h"
#include "run_options.h"

namespace {

const MessageForm* message_forms[output_mode_count] = {};

const MessageForm* form_of_mode() { return message_forms[static_cast<int>(options.mode)]; }

const char* file_named_in_fatal_errors = nullptr;

[[noreturn]] void end_with_fatal_line(std::string_view message, const std::string_view* path) {
    const bool python = options.mode == OutputMode::Python;
    std::string_view named_file;
    if (path == nullptr && file_named_in_fatal_errors != nullptr) named_file = file_named_in_fatal_errors;
    if (const MessageForm* form = form_of_mode()) {
        form->fatal_line(message, named_file.empty() ? path : &named_file);
    } else if (!named_file.empty()) {
        StreamOutput().put("Fatal error in ", Escaped{named_file, python}, ": ", Text{message}, '\n');
    } else {
        StreamOutput o;
        o.put("Fatal error: ", Text{message});
        if (path != nullptr) o.put(" \"", Escaped{*path, python}, '"');
        o.put('\n');
    }
    out.flush();
    end_run(1);
}

}  // namespace

void name_file_in_fatal_errors(const char* path) { file_named_in_fatal_errors = path; }

void fatal_error(std::string_view message) { end_with_fatal_line(message, nullptr); }

void fatal_error_with_path(std::string_view message, std::string_view path) { end_with_fatal_line(message, &path); }

void print_notice(std::initializer_list<std::string_view> parts) {
    if (const MessageForm* form = form_of_mode()) return form->notice(parts);
    for (std::string_view part : parts) StreamOutput().put(Text{part});
}

void set_message_form(OutputMode mode, const MessageForm& form) { message_forms[static_cast<int>(mode)] = &form; }
