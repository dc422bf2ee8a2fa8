// Micro-benchmarks of the hot paths, so that a change to one of them can be
// judged on its own: the field reader's string and number reads, the copying
// of names into the output, the number formatting, and whole record
// printers on a typical record.
//
//   build/bench/bench/hot_paths_bench [--benchmark_filter=REGEX]
#include <benchmark/benchmark.h>

#include <cstdio>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

#include "debug_file_builder.h"
#include "messages.h"
#include "output_writer.h"
#include "python_export/python_emitter.h"
#include "python_export/source_files.h"
#include "reader/field_reader.h"
#include "reader/records.h"
#include "text_listing/text_printers.h"

namespace {

// The one writer of the benchmarks, as a run has one.
OutputWriter out;

constexpr int names_per_pass = 4096;

// Names of 4..24 characters, as in a game.
std::string names_block() {
    std::string block;
    unsigned state = 12345;
    for (int i = 0; i < names_per_pass; ++i) {
        state = state * 1103515245 + 12345;
        std::size_t length = 4 + (state >> 16) % 21;
        for (std::size_t j = 0; j < length; ++j) block += static_cast<char>('a' + (state >> (j % 16)) % 26);
        block += '\0';
    }
    return block;
}

// Feeds `bytes` to the field reader from a temporary file, as the program
// reads (fmemopen streams are far slower unbuffered), from the start on each
// pass.
struct MemoryInput {
    std::string bytes;
    std::FILE* stream;
    Messages messages{out};
    DebugFile file{messages};

    explicit MemoryInput(std::string content) : bytes(std::move(content)) {
        stream = std::tmpfile();
        std::fwrite(bytes.data(), 1, bytes.size(), stream);
        std::fflush(stream);
    }
    ~MemoryInput() { std::fclose(stream); }
    DebugFile& restart() {
        std::rewind(stream);
        file.attach(stream, false);
        return file;
    }
};

// The output goes to /dev/null, as in the benchmark runs of the program.
void discard_output() {
    static std::FILE* null_sink = std::fopen("/dev/null", "wb");
    out.sink = null_sink;
}

void BM_ReadString(benchmark::State& state) {
    MemoryInput input(names_block());
    StringField field;
    for (auto _ : state) {
        DebugFile& file = input.restart();
        for (int i = 0; i < names_per_pass; ++i) benchmark::DoNotOptimize(file.read_string(field));
    }
    state.SetBytesProcessed(static_cast<std::int64_t>(state.iterations() * input.bytes.size()));
}
BENCHMARK(BM_ReadString);

void BM_ReadStringView(benchmark::State& state) {
    MemoryInput input(names_block());
    for (auto _ : state) {
        DebugFile& file = input.restart();
        for (int i = 0; i < names_per_pass; ++i) benchmark::DoNotOptimize(file.string());
    }
    state.SetBytesProcessed(static_cast<std::int64_t>(state.iterations() * input.bytes.size()));
}
BENCHMARK(BM_ReadStringView);

void BM_SkipString(benchmark::State& state) {
    MemoryInput input(names_block());
    for (auto _ : state) {
        DebugFile& file = input.restart();
        for (int i = 0; i < names_per_pass; ++i) benchmark::DoNotOptimize(file.skip_string());
    }
    state.SetBytesProcessed(static_cast<std::int64_t>(state.iterations() * input.bytes.size()));
}
BENCHMARK(BM_SkipString);

void BM_ReadLineRefAndWord(benchmark::State& state) {
    std::string entries;
    for (int i = 0; i < names_per_pass; ++i) entries += std::string("\x02\x01\x2a\x05\x00\x40", 6);
    MemoryInput input(entries);
    for (auto _ : state) {
        DebugFile& file = input.restart();
        for (int i = 0; i < names_per_pass; ++i) {
            benchmark::DoNotOptimize(file.line_ref());
            benchmark::DoNotOptimize(file.word());
        }
    }
    state.SetBytesProcessed(static_cast<std::int64_t>(state.iterations() * entries.size()));
}
BENCHMARK(BM_ReadLineRefAndWord);

// Copying names read by the field reader into the output.
void BM_CopyNames(benchmark::State& state) {
    discard_output();
    MemoryInput input(names_block());
    for (auto _ : state) {
        DebugFile& file = input.restart();
        for (int i = 0; i < names_per_pass; ++i) {
            StreamOutput{out}.put(Raw{file.string()}, ' ');
        }
    }
    out.flush_buffer();
    state.SetBytesProcessed(static_cast<std::int64_t>(state.iterations() * input.bytes.size()));
}
BENCHMARK(BM_CopyNames);

// Copying texts of run-time sizes from anywhere (paths, escaped runs).
void BM_PutText(benchmark::State& state) {
    discard_output();
    std::string block = names_block();
    std::vector<std::string_view> texts;
    for (std::size_t start = 0; start < block.size();) {
        std::size_t end = block.find('\0', start);
        texts.emplace_back(block.data() + start, end - start);
        start = end + 1;
    }
    for (auto _ : state)
        for (std::string_view text : texts) out.put(text);
    out.flush_buffer();
    state.SetBytesProcessed(static_cast<std::int64_t>(state.iterations() * block.size()));
}
BENCHMARK(BM_PutText);

// Numbers of every length up to five digits, as line numbers and offsets are.
std::vector<unsigned> mixed_numbers() {
    std::vector<unsigned> numbers;
    unsigned state = 777;
    for (int i = 0; i < names_per_pass; ++i) {
        state = state * 1103515245 + 12345;
        unsigned digits = 1 + (state >> 20) % 5;
        unsigned limit = 1;
        for (unsigned d = 0; d < digits; ++d) limit *= 10;
        numbers.push_back((state >> 4) % limit);
    }
    return numbers;
}

void BM_PutDecimal(benchmark::State& state) {
    discard_output();
    std::vector<unsigned> numbers = mixed_numbers();
    for (auto _ : state)
        for (unsigned number : numbers) StreamOutput{out}.put(Number{number});
    out.flush_buffer();
    state.SetItemsProcessed(static_cast<std::int64_t>(state.iterations() * numbers.size()));
}
BENCHMARK(BM_PutDecimal);

// Whole records through their printer or handler; `records` copies of one
// record, each without its type byte, which the record loop consumes.
// Whole records through the record loop of a mode: `records` copies of one
// record, then the End record; `read` reads them all.
template <typename Read>
void run_records(benchmark::State& state, Read read, const std::string& record, int records) {
    discard_output();
    std::string bytes;
    for (int i = 0; i < records; ++i) bytes += record;
    bytes += '\0';
    MemoryInput input(bytes);
    for (auto _ : state) read(input.restart());
    out.flush_buffer();
    state.SetBytesProcessed(static_cast<std::int64_t>(state.iterations() * bytes.size()));
}

std::vector<SequencePoint> typical_points() {
    std::vector<SequencePoint> points;
    for (unsigned i = 0; i < 20; ++i) points.push_back({{3, 1200 + 7 * i, 5 + i}, 37 * i});
    return points;
}

void list_all_in_text(DebugFile& file) {
    TextListing text{out};
    list_in_text(file, text, nullptr, nullptr);
}

void BM_TextSequencePoints(benchmark::State& state) {
    run_records(state, list_all_in_text, DebugFileBuilder().sequence_points(12, typical_points()).bytes(), 256);
}
BENCHMARK(BM_TextSequencePoints);

void BM_TextRoutine(benchmark::State& state) {
    std::string record =
        DebugFileBuilder().routine(12, {3, 1200, 1}, 0x4a10, "DrawStatusLine", {"width", "posa", "posb"}).bytes();
    run_records(state, list_all_in_text, record, 1024);
}
BENCHMARK(BM_TextRoutine);

void BM_TextObjectDetails(benchmark::State& state) {
    std::string record =
        DebugFileBuilder()
            .object_details(27, "Great Hall", {3, 5, 1}, {3, 6, 5}, {"great", "hall"}, {{1, "cellar"}, {11, "garden"}})
            .bytes();
    run_records(state, list_all_in_text, record, 1024);
}
BENCHMARK(BM_TextObjectDetails);

void BM_PythonObjectDetails(benchmark::State& state) {
    const std::unique_ptr<PythonExport> export_state(new PythonExport{out});
    PythonExport& python = *export_state;
    python.selection.include_all = true;
    // An Object record makes the details that follow belong to a selected object.
    const std::string object = DebugFileBuilder().object(27, "hall", {1, 4, 1}, {1, 11, 2}).bytes();
    const std::string details =
        DebugFileBuilder()
            .object_details(27, "Great Hall", {1, 5, 1}, {1, 6, 5}, {"great", "hall"}, {{1, "cellar"}, {11, "garden"}})
            .bytes();
    run_records(
        state, [&python](DebugFile& file) { export_records(file, python, nullptr); }, object + details, 512);
}
BENCHMARK(BM_PythonObjectDetails);

}  // namespace

BENCHMARK_MAIN();
