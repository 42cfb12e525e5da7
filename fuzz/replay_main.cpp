// Replays a fuzz target without libFuzzer: every file of the given corpus folders (or single files), then a fixed
// number of deterministic mutations of them. Built with AddressSanitizer and UBSan, so any memory error, undefined
// behaviour or leak ends the run with the sanitizer's report; before that, the input being run is written to
// "replay-crash-<target>.bin" in the current directory so it can be replayed alone.
//
// Allocation bound: every input may allocate at most base + factor * input size bytes in one allocation
// (defaults 1 MiB + 16 x size; --alloc-base=N, --alloc-factor=N). ASan's max_allocation_size_mb=256 is a hard
// stop behind that, for allocations too large to even attempt.
//
// Usage: replay_<target> [--mutations=N] [--seed=N] [--alloc-base=N] [--alloc-factor=N] PATH...
#include <algorithm>
#include <array>
#include <atomic>
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <random>
#include <string>
#include <string_view>
#include <vector>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, std::size_t size);

#if defined(__has_feature)
#if __has_feature(address_sanitizer)
#define QUILLET_REPLAY_ASAN 1
#endif
#endif
#if defined(__SANITIZE_ADDRESS__)
#define QUILLET_REPLAY_ASAN 1
#endif

namespace {

std::atomic<std::size_t> largestAllocation{0};

#ifdef QUILLET_REPLAY_ASAN
void OnMalloc(const volatile void*, std::size_t size) {
    std::size_t seen = largestAllocation.load(std::memory_order_relaxed);
    while (size > seen && !largestAllocation.compare_exchange_weak(seen, size, std::memory_order_relaxed)) {
    }
}
void OnFree(const volatile void*) {}
#endif

// The input being run and where it came from, for the crash report.
std::string currentInput;
std::string currentOrigin;
std::string crashFile = "replay-crash.bin";

void SaveCurrentInput() {
    std::fprintf(stderr, "replay: failing input: %s (%zu bytes), written to %s\n", currentOrigin.c_str(),
                 currentInput.size(), crashFile.c_str());
    if (std::FILE* f = std::fopen(crashFile.c_str(), "wb")) {
        std::fwrite(currentInput.data(), 1, currentInput.size(), f);
        std::fclose(f);
    }
}

} // namespace

#ifdef QUILLET_REPLAY_ASAN
extern "C" {
int __sanitizer_install_malloc_and_free_hooks(void (*mallocHook)(const volatile void*, std::size_t),
                                              void (*freeHook)(const volatile void*));
void __sanitizer_set_death_callback(void (*callback)(void));

// Defaults for a run by hand; ASAN_OPTIONS / UBSAN_OPTIONS still override them.
const char* __asan_default_options() {
    return "detect_leaks=1:allocator_may_return_null=0:max_allocation_size_mb=256:halt_on_error=1";
}
const char* __ubsan_default_options() {
    return "print_stacktrace=1:halt_on_error=1";
}
}
#endif

namespace {

struct Options {
    std::size_t mutations = 5000;
    uint64_t seed = 20261209;
    std::size_t allocBase = std::size_t{1} << 20;
    std::size_t allocFactor = 16;
    std::vector<std::string> paths;
};

bool ParseNumber(std::string_view arg, std::string_view flag, uint64_t& out) {
    if (arg.substr(0, flag.size()) != flag) return false;
    out = std::strtoull(std::string(arg.substr(flag.size())).c_str(), nullptr, 10);
    return true;
}

struct Seed {
    std::string name;
    std::string bytes;
};

std::vector<Seed> LoadSeeds(const std::vector<std::string>& paths) {
    namespace fs = std::filesystem;
    std::vector<Seed> seeds;
    const auto add = [&](const fs::path& p) {
        std::ifstream in(p, std::ios::binary);
        seeds.push_back(
            {p.filename().string(), std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>())});
    };
    for (const std::string& path : paths) {
        std::error_code ec;
        if (fs::is_directory(path, ec)) {
            std::vector<fs::path> files;
            for (const auto& e : fs::directory_iterator(path)) {
                if (e.is_regular_file()) files.push_back(e.path());
            }
            std::sort(files.begin(), files.end()); // the same order everywhere, so mutations are reproducible
            for (const auto& f : files) add(f);
        } else if (fs::is_regular_file(path, ec)) {
            add(path);
        } else {
            std::fprintf(stderr, "replay: %s does not exist; going on without it\n", path.c_str());
        }
    }
    return seeds;
}

// Deterministic mutations. Only the raw output of mt19937_64 is used (its sequence is fixed by the standard; the
// distributions are not), so a seed gives the same inputs with every compiler.
class Mutator {
public:
    explicit Mutator(uint64_t seed) : rng_(seed) {}

    std::size_t Below(std::size_t n) { return n == 0 ? 0 : static_cast<std::size_t>(rng_() % n); }

    void Mutate(std::string& b, const std::vector<Seed>& seeds) {
        switch (Below(9)) {
        case 0: // flip one bit
            if (!b.empty()) b[Below(b.size())] ^= static_cast<char>(1u << Below(8));
            break;
        case 1: // set one byte
            if (!b.empty()) b[Below(b.size())] = static_cast<char>(rng_());
            break;
        case 2: { // insert random bytes
            const std::size_t n = 1 + Below(8);
            std::string ins(n, '\0');
            for (char& c : ins) c = static_cast<char>(rng_());
            b.insert(Below(b.size() + 1), ins);
            break;
        }
        case 3: // delete a range
            if (!b.empty()) {
                const std::size_t at = Below(b.size());
                b.erase(at, 1 + Below(std::min<std::size_t>(b.size() - at, 16)));
            }
            break;
        case 4: // an interesting little-endian int32 over a count, a length or any other field
            if (b.size() >= 4) {
                std::size_t at = Below(b.size() - 3);
                if (rng_() & 1) at &= ~std::size_t{3};
                const uint32_t v = InterestingInt(b.size());
                for (int i = 0; i < 4; ++i) b[at + i] = static_cast<char>((v >> (8 * i)) & 0xFF);
            }
            break;
        case 5: // truncate
            b.resize(Below(b.size() + 1));
            break;
        case 6: // duplicate a chunk somewhere else
            if (!b.empty()) {
                const std::size_t at = Below(b.size());
                const std::string chunk = b.substr(at, 1 + Below(std::min<std::size_t>(b.size() - at, 1024)));
                b.insert(Below(b.size() + 1), chunk);
            }
            break;
        case 7: // splice in a piece of another seed
            if (!seeds.empty()) {
                const std::string& other = seeds[Below(seeds.size())].bytes;
                const std::size_t from = Below(other.size() + 1);
                b.insert(Below(b.size() + 1), other.substr(from, Below(other.size() - from + 1)));
            }
            break;
        default: { // a token that text readers care about
            static constexpr std::array<std::string_view, 14> tokens = {"\r\n",
                                                                        "\n",
                                                                        "=",
                                                                        "[",
                                                                        "]",
                                                                        ";",
                                                                        "-",
                                                                        "0x",
                                                                        "4294967296",
                                                                        "-2147483649",
                                                                        "99999999999999999999",
                                                                        "\xff\xfe",
                                                                        std::string_view("\0", 1),
                                                                        "[Property]\n"};
            b.insert(Below(b.size() + 1), tokens[Below(tokens.size())]);
            break;
        }
        }
        if (b.size() > kMaxInput) b.resize(kMaxInput);
    }

private:
    static constexpr std::size_t kMaxInput = 64 * 1024;

    // Counts and lengths that lie: zero, one, negative, huge, record sizes, and ones derived from the input's size.
    uint32_t InterestingInt(std::size_t size) {
        static constexpr std::array<uint32_t, 13> fixed = {0u,    1u,          0xFFFFFFFFu, 0x80000000u, 0x7FFFFFFFu,
                                                           0xFFu, 0x100u,      0x10000u,    568u,        24u,
                                                           256u,  0x7FFFFF00u, 0xFFFFFDC8u /* -568 */};
        switch (Below(fixed.size() + 3)) {
        case fixed.size():
            return static_cast<uint32_t>(size);
        case fixed.size() + 1:
            return static_cast<uint32_t>(size / 24);
        case fixed.size() + 2:
            return static_cast<uint32_t>(size / 568 + 1);
        default:
            return fixed[Below(fixed.size())];
        }
    }

    std::mt19937_64 rng_;
};

} // namespace

int main(int argc, char** argv) {
    Options opt;
    for (int i = 1; i < argc; ++i) {
        const std::string_view arg = argv[i];
        uint64_t v = 0;
        if (ParseNumber(arg, "--mutations=", v)) {
            opt.mutations = static_cast<std::size_t>(v);
        } else if (ParseNumber(arg, "--seed=", v)) {
            opt.seed = v;
        } else if (ParseNumber(arg, "--alloc-base=", v)) {
            opt.allocBase = static_cast<std::size_t>(v);
        } else if (ParseNumber(arg, "--alloc-factor=", v)) {
            opt.allocFactor = static_cast<std::size_t>(v);
        } else if (arg.substr(0, 2) == "--") {
            std::fprintf(stderr, "replay: unknown option %s\n", argv[i]);
            return 2;
        } else {
            opt.paths.emplace_back(arg);
        }
    }
    const std::string self = std::filesystem::path(argv[0]).filename().string();
    crashFile = "replay-crash-" + self + ".bin";

#ifdef QUILLET_REPLAY_ASAN
    __sanitizer_install_malloc_and_free_hooks(OnMalloc, OnFree);
    __sanitizer_set_death_callback(SaveCurrentInput);
#else
    std::fprintf(stderr, "replay: built without AddressSanitizer: allocations and memory errors are not checked\n");
#endif

    std::vector<Seed> seeds = LoadSeeds(opt.paths);
    if (seeds.empty()) seeds.push_back({"(empty input)", std::string()});

    std::size_t failures = 0;
    std::size_t largestOverall = 0;
    const auto run = [&](const std::string& input, std::string origin) {
        currentInput = input;
        currentOrigin = std::move(origin);
        largestAllocation.store(0, std::memory_order_relaxed);
        LLVMFuzzerTestOneInput(reinterpret_cast<const uint8_t*>(currentInput.data()), currentInput.size());
        // The copy of the input made above is the largest allocation the replay itself makes per input.
        const std::size_t largest = largestAllocation.load(std::memory_order_relaxed);
        largestOverall = std::max(largestOverall, largest);
        const std::size_t bound = opt.allocBase + opt.allocFactor * input.size();
        if (largest > bound) {
            std::fprintf(stderr, "replay: an allocation of %zu bytes for a %zu-byte input exceeds the bound %zu\n",
                         largest, input.size(), bound);
            SaveCurrentInput();
            ++failures;
        }
    };

    for (const Seed& s : seeds) run(s.bytes, s.name);
    Mutator mutator(opt.seed);
    for (std::size_t i = 0; i < opt.mutations; ++i) {
        const Seed& base = seeds[i % seeds.size()];
        std::string input = base.bytes;
        const std::size_t rounds = 1 + mutator.Below(4);
        for (std::size_t r = 0; r < rounds; ++r) mutator.Mutate(input, seeds);
        run(input, base.name + " mutation " + std::to_string(i) + " (seed " + std::to_string(opt.seed) + ")");
    }

    const std::size_t total = seeds.size() + opt.mutations;
    std::printf("%s: %zu seed files, %zu mutations, largest allocation %zu bytes\n", self.c_str(), seeds.size(),
                opt.mutations, largestOverall);
    std::printf("%zu inputs replayed, %zu over the allocation bound\n", total, failures);
    std::fflush(stdout);
    return failures == 0 ? 0 : 1;
}
