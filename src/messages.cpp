#include "messages.h"

#include "output_pieces.h"
#include "run_exit.h"
#include "run_options.h"

namespace {

const MessageForm* message_forms[output_mode_count] = {};

const MessageForm* form_of_mode() { return message_forms[static_cast<int>(options.mode)]; }

const char* file_named_in_fatal_errors = nullptr;

// The file a run of two files names in its fatal errors, in text after
// "Fatal error in", in JSON after the message.
[[noreturn]] void end_with_fatal_line(std::initializer_list<MessagePart> message, std::string_view named_file) {
    const bool python = options.mode == OutputMode::Python;
    if (const MessageForm* form = form_of_mode()) {
        if (named_file.empty())
            form->fatal_line(message);
        else
            form->fatal_line({message.begin()[0], {" \""}, {named_file, true}, {"\""}});
    } else {
        StreamOutput o;
        if (named_file.empty())
            o.put("Fatal error: ");
        else
            o.put("Fatal error in ", Escaped{named_file, python}, ": ");
        for (const MessagePart& part : message) {
            if (part.is_path)
                o.put(Escaped{part.text, python});
            else
                o.put(Text{part.text});
        }
        o.put('\n');
    }
    out.flush();
    end_run(1);
}

}  // namespace

void name_file_in_fatal_errors(const char* path) { file_named_in_fatal_errors = path; }

void fatal_error(std::string_view message) {
    end_with_fatal_line({{message}}, file_named_in_fatal_errors != nullptr ? file_named_in_fatal_errors : "");
}

void fatal_error_of(std::initializer_list<MessagePart> message) { end_with_fatal_line(message, {}); }

void fatal_error_with_path(std::string_view message, std::string_view path) {
    end_with_fatal_line({{message}, {" \""}, {path, true}, {"\""}}, {});
}

void print_notice(std::initializer_list<std::string_view> parts) {
    if (const MessageForm* form = form_of_mode()) return form->notice(parts);
    for (std::string_view part : parts) StreamOutput().put(Text{part});
}

void set_message_form(OutputMode mode, const MessageForm& form) { message_forms[static_cast<int>(mode)] = &form; }
