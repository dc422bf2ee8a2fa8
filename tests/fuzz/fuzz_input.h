// Layout of one fuzz input, shared by the fuzz target and the seed generator:
//
//   4 bytes   switch mask: bit i of the 32-bit big-endian value passes
//             fuzz_switches[i] on the command line, in table order
//   1 byte    length L of the standard input text
//   L bytes   standard input (the two selection lines, read in Python mode;
//             lookups, one per line, with -lookup, in batches separated by
//             a byte 0x1E)
//   the rest  the debugging file; with -diff=OLD, or -lookup and batches,
//             two builds separated by build_separator: the old and the new
//             build, or the file as the server reads it first and as it is
//             written between batches, in turn
#pragma once

#include <cstddef>
#include <string>
#include <string_view>

constexpr std::string_view fuzz_switches[] = {
    "-python", "-all",          "-files",  "-classes", "-objects", "-globals",   "-attributes",     "-properties",
    "-fakes",  "-actions",      "-header", "-lines",   "-code",    "-routines",  "-stats",          "-map",
    "-help",   "-text",         "-lookup", "-",        "-json",    "-lookup=+7", "-lookup=rooms:4", "-lookup=0x1a9",
    "-svg",    "-diff=old.dbg", "-html",  "-rows=1", "-max-growth=8", "-min-left=90000",
};
constexpr std::string_view build_separator = "\x1E\x1E";
constexpr char batch_separator = '\x1E';
constexpr std::size_t fuzz_switch_count = sizeof fuzz_switches / sizeof fuzz_switches[0];
constexpr std::size_t fuzz_prefix_size = 5;

constexpr unsigned long python_switch = 1ul << 0;
constexpr unsigned long all_switch = 1ul << 1;

// A whole fuzz input from its parts (stdin is cut to 255 bytes).
inline std::string fuzz_input(unsigned long switch_mask, std::string_view stdin_text, std::string_view debug_file) {
    if (stdin_text.size() > 255) stdin_text = stdin_text.substr(0, 255);
    std::string input;
    input += static_cast<char>((switch_mask >> 24) & 0xFF);
    input += static_cast<char>((switch_mask >> 16) & 0xFF);
    input += static_cast<char>((switch_mask >> 8) & 0xFF);
    input += static_cast<char>(switch_mask & 0xFF);
    input += static_cast<char>(stdin_text.size());
    input += stdin_text;
    input += debug_file;
    return input;
}
