#include "messages.h"

#include "output_pieces.h"
#include "run_exit.h"

namespace {

[[noreturn]] void end_with_fatal_line(const Messages& messages, std::initializer_list<MessagePart> message,
                                      std::string_view named_file) {
    if (messages.form != nullptr) {
        if (named_file.empty())
            messages.form->fatal_line(message);
        else
            messages.form->fatal_line({message.begin()[0], {" \""}, {named_file, true}, {"\""}});
    } else {
        StreamOutput o{messages.out};
        if (named_file.empty())
            o.put("Fatal error: ");
        else
            o.put("Fatal error in ", Escaped{named_file, messages.python}, ": ");
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

}  // namespace

void Messages::fail(std::string_view message) const { fatal_error(*this, message); }

void fatal_error(const Messages& messages, std::string_view message) {
    end_with_fatal_line(messages, {{message}}, messages.named_file != nullptr ? messages.named_file : "");
}

void fatal_error_of(const Messages& messages, std::initializer_list<MessagePart> message) {
    end_with_fatal_line(messages, message, {});
}

void fatal_error_with_path(const Messages& messages, std::string_view message, std::string_view path) {
    end_with_fatal_line(messages, {{message}, {" \""}, {path, true}, {"\""}}, {});
}

void print_notice(const Messages& messages, std::initializer_list<std::string_view> parts) {
    if (messages.form != nullptr) return messages.form->notice(parts);
    for (std::string_view part : parts) StreamOutput{messages.out}.put(Text{part});
}
