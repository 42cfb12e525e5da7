// The text form of the big library (10,000 macros x 50 items): export (library bytes to text) and import (text to
// library bytes), each end to end in memory, plus the text's size. Goal: under a second each.
#include <benchmark/benchmark.h>

#include <cstdio>
#include <string>

#include "big_library.h"
#include "model/library_file.h"
#include "model/text_format.h"

namespace {

using namespace quillet;

const std::string& LibraryBytes() {
    static const std::string bytes = SerializeMacroLibrary(bench::BuildBigLibrary());
    return bytes;
}

const std::string& Text() {
    static const std::string text = [] {
        StoredMacros stored;
        ParseStoredMacros(LibraryBytes(), stored);
        return MacrosToText(stored.macros, stored.padding);
    }();
    return text;
}

// quillet-cli export without the file system: the library's bytes read with their padding and written as text.
void BM_Export(benchmark::State& state) {
    for (auto _ : state) {
        StoredMacros stored;
        if (!ParseStoredMacros(LibraryBytes(), stored).ok()) state.SkipWithError("the library does not load");
        std::string text = MacrosToText(stored.macros, stored.padding);
        benchmark::DoNotOptimize(text.data());
    }
    state.SetBytesProcessed(static_cast<int64_t>(state.iterations() * Text().size()));
}
BENCHMARK(BM_Export)->Unit(benchmark::kMillisecond);

// quillet-cli import into an empty library without the file system: the text read and stored.
void BM_Import(benchmark::State& state) {
    for (auto _ : state) {
        StoredMacros stored;
        TextError error;
        if (!TextToMacros(Text(), stored, error)) state.SkipWithError(error.Describe().c_str());
        std::string bytes = SerializeStoredMacros(stored);
        benchmark::DoNotOptimize(bytes.data());
    }
    state.SetBytesProcessed(static_cast<int64_t>(state.iterations() * Text().size()));
}
BENCHMARK(BM_Import)->Unit(benchmark::kMillisecond);

} // namespace

int main(int argc, char** argv) {
    benchmark::Initialize(&argc, argv);
    if (benchmark::ReportUnrecognizedArguments(argc, argv)) return 1;
    std::printf("library: %d macros x %d items, %.1f MiB stored, %.1f MiB as text\n", bench::kMacros,
                bench::kItemsPerMacro, static_cast<double>(LibraryBytes().size()) / (1024.0 * 1024.0),
                static_cast<double>(Text().size()) / (1024.0 * 1024.0));
    StoredMacros back;
    TextError error;
    const bool same = TextToMacros(Text(), back, error) && SerializeStoredMacros(back) == LibraryBytes();
    std::printf("round trip byte for byte: %s\n", same ? "yes" : "NO");
    std::fflush(stdout);
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    return same ? 0 : 1;
}
