#include "messages.h"

#include "output_pieces.h"
#include "run_exit.h"

void Messages::fail(std::string_view message) const { fatal_error(*this, message); }

void fatal_error(const Messages& messages, std::string_view message) {
    if (messages.named_file == nullptr) fatal_error_of(messages, {{message}});
    if (messages.form != nullptr) fatal_error_with_path(messages, message, messages.named_file);
    StreamOutput{messages.out}.put("Fatal error in ", Escaped{messages.named_file, messages.python}, ": ",
                                   Text{message}, '\n');
    messages.out.flush();
    end_run(1);
}

void fatal_error_of(const Messages& messages, std::initializer_list<MessagePart> message) {
    if (messages.form != nullptr) {
        messages.form->fatal_line(message);
    } else {
        StreamOutput o{messages.out};
        o.put("Fatal error: ");
        for (const MessagePart& part : message) {
            if (part.is_path)
                o.put(Escaped{part.text, messages.python});
            else
                o.put(Text{part.text});
        }
        o.put('\n');
    }
    messages.out.flush();
    end_run(1);
}

void fatal_error_with_path(const Messages& messages, std::string_view message, std::string_view path) {
    fatal_error_of(messages, {{message}, {" \""}, {path, true}, {"\""}});
}

void print_notice(const Messages& messages, std::initializer_list<std::string_view> parts) {
    if (messages.form != nullptr) return messages.form->notice(parts);
    for (std::string_view part : parts) StreamOutput{messages.out}.put(Text{part});
}
