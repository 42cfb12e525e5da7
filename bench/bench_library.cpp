// Library file speed and memory: a library of 10,000 macros x 50 items (keys, mouse, delays, strings, calls),
// loaded from and saved to a real file.
//
// Memory is measured in this process by counting every operator new/delete (the global operators are replaced
// below with malloc-backed ones that keep the size in a small header). "In memory" is the heap a loaded library
// holds; "peak of load" is the most heap that was live above the starting level during one LoadMacroLibrary call
// into an empty library (the file's bytes and the growing library together). Counting operator new, rather than
// comparing ru_maxrss of a child process, isolates the load from everything else the process holds (the source
// library, the benchmark framework) and is exact to the byte; it leaves out malloc's own overhead and stack use,
// which are small here.
#include <benchmark/benchmark.h>

#include "alloc_counter.h"
#include "big_library.h"

#include <atomic>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <new>
#include <random>
#include <string>

#include "model/cp949.h"
#include "model/library_file.h"

namespace {

using namespace quillet;

using bench::kItemsPerMacro;
using bench::kMacros;

MacroLibrary BuildLibrary() {
    return bench::BuildBigLibrary();
}

// Heap held by a library, added up from its containers: what the counting allocator should see after a load.
std::size_t EstimateHeap(const MacroLibrary& lib) {
    const auto heapOf = [](const std::string& s) { return s.capacity() > 15 ? s.capacity() + 1 : 0; };
    std::size_t total = lib.capacity() * sizeof(Macro);
    for (const Macro& m : lib) {
        total += heapOf(m.name) + heapOf(m.imagePath) + m.items.capacity() * sizeof(MacroItem) +
                 m.loopCounters.capacity() * sizeof(int32_t);
        for (const MacroItem& it : m.items) total += heapOf(it.text());
    }
    return total;
}

const MacroLibrary& Library() {
    static const MacroLibrary lib = BuildLibrary();
    return lib;
}

const std::string& FileName() {
    static const std::string name =
        (std::filesystem::temp_directory_path() / ("quillet-bench-" + std::to_string(std::random_device{}()) + ".m"))
            .string();
    return name;
}

void BM_LoadFromFile(benchmark::State& state) {
    MacroLibrary lib;
    for (auto _ : state) {
        const LoadResult r = LoadMacroLibrary(FileName(), lib);
        if (!r.ok()) state.SkipWithError(r.problem.c_str());
        benchmark::DoNotOptimize(lib.data());
    }
}
BENCHMARK(BM_LoadFromFile)->Unit(benchmark::kMillisecond);

void BM_SaveToFile(benchmark::State& state) {
    for (auto _ : state) {
        const SaveResult r = SaveMacroLibrary(FileName(), Library());
        if (!r.ok) state.SkipWithError(r.problem.c_str());
    }
}
BENCHMARK(BM_SaveToFile)->Unit(benchmark::kMillisecond);

void BM_Parse(benchmark::State& state) {
    const std::string bytes = SerializeMacroLibrary(Library());
    MacroLibrary lib;
    for (auto _ : state) {
        ParseMacroLibrary(bytes, lib);
        benchmark::DoNotOptimize(lib.data());
    }
}
BENCHMARK(BM_Parse)->Unit(benchmark::kMillisecond);

void BM_Serialize(benchmark::State& state) {
    for (auto _ : state) {
        std::string bytes = SerializeMacroLibrary(Library());
        benchmark::DoNotOptimize(bytes.data());
    }
}
BENCHMARK(BM_Serialize)->Unit(benchmark::kMillisecond);

double MiB(std::size_t bytes) {
    return static_cast<double>(bytes) / (1024.0 * 1024.0);
}

// Saves the library once and prints its size figures and the memory of one load.
bool PrintFigures() {
    const SaveResult saved = SaveMacroLibrary(FileName(), Library());
    if (!saved.ok) {
        std::fprintf(stderr, "cannot save the benchmark library: %s\n", saved.problem.c_str());
        return false;
    }
    const std::uintmax_t fileSize = std::filesystem::file_size(FileName());

    std::size_t heldAfterLoad = 0;
    std::size_t peakDuringLoad = 0;
    std::size_t estimate = 0;
    {
        const std::size_t base = quillet::bench::Allocs().liveBytes.load();
        quillet::bench::Allocs().peakBytes.store(base);
        MacroLibrary lib;
        const LoadResult r = LoadMacroLibrary(FileName(), lib);
        peakDuringLoad = quillet::bench::Allocs().peakBytes.load() - base;
        heldAfterLoad = quillet::bench::Allocs().liveBytes.load() - base;
        estimate = sizeof(MacroLibrary) + EstimateHeap(lib);
        if (!r.ok()) {
            std::fprintf(stderr, "cannot load the benchmark library: %s\n", r.problem.c_str());
            return false;
        }
    }
    std::printf("library: %d macros x %d items\n", kMacros, kItemsPerMacro);
    std::printf("file size:                 %12ju bytes (%.1f MiB)\n", fileSize, MiB(fileSize));
    std::printf("in memory (estimate):      %12zu bytes (%.1f MiB)\n", estimate, MiB(estimate));
    std::printf("in memory (counted heap):  %12zu bytes (%.1f MiB)\n", heldAfterLoad, MiB(heldAfterLoad));
    std::printf("peak heap during load:     %12zu bytes (%.1f MiB) = %.2fx the in-memory size\n", peakDuringLoad,
                MiB(peakDuringLoad), static_cast<double>(peakDuringLoad) / static_cast<double>(heldAfterLoad));
    std::fflush(stdout);
    return true;
}

} // namespace

int main(int argc, char** argv) {
    benchmark::Initialize(&argc, argv);
    if (benchmark::ReportUnrecognizedArguments(argc, argv)) return 1;
    const bool ok = PrintFigures();
    if (ok) benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    std::error_code ec;
    std::filesystem::remove(FileName(), ec);
    return ok ? 0 : 1;
}
