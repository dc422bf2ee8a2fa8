// JSON Lines output: every line one JSON object. Strings are written so that
// any parser reads back exactly the characters they stand for, whatever bytes
// the debugging file holds. A record cut by a fatal error is taken back
// whole; when part of its line has already gone out (a line longer than the
// output buffer, read from a file that cannot be read again), the line is
// closed as valid JSON with "cut":true instead, so that every line parses.
#pragma once

#include <cstddef>
#include <cstdint>
#include <initializer_list>
#include <string_view>

#include "escaping.h"
#include "messages.h"
#include "output_writer.h"

namespace json {

// The line of a record printed piece by piece: where it starts in the
// output buffer, whether part of it has gone out, and, for that part, which
// lists and objects it leaves open.
struct OpenRecord {
    bool open = false;
    bool partly_out = false;
    std::size_t output_mark = 0;
    char nesting[16] = {};  // '{' or '[' for each open object or list
    int depth = 0;
    bool in_string = false;
    bool after_backslash = false;
    char last = 0;  // the last character outside a string
};

// The state of JSON output, which a run in JSON mode makes before anything
// is written: the line of a record printed piece by piece, which a fatal
// error takes back or closes, and the form of the run's messages: the
// fatal_error line and the notice line {"kind":"notice","message":"..."}.
struct JsonOutput final : MessageForm, OutputHold {
    OutputWriter& out;
    OpenRecord record{};

    // Makes the writing out of the buffer keep back an open record's line.
    explicit JsonOutput(OutputWriter& writer) : out(writer) { out.hold = this; }
    ~JsonOutput() { out.hold = nullptr; }
    JsonOutput(const JsonOutput&) = delete;
    JsonOutput& operator=(const JsonOutput&) = delete;

    // Around the line of a record printed piece by piece.
    void open_record_line();
    void close_record_line() { record.open = false; }

    void fatal_line(std::initializer_list<MessagePart> message) override;
    void notice(std::initializer_list<std::string_view> parts) override;
    std::size_t keep_back(const char* buffer, std::size_t used) override;

  private:
    void follow_nesting(const char* text, std::size_t size);
    void close_cut_record();
};

}  // namespace json
