// Fuzz target: the macro library reader on arbitrary bytes. Whatever it reads (all of a valid file, or the whole
// macros before the damage) must store and read back unchanged.
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <string_view>

#include "model/library_file.h"

namespace {

[[noreturn]] void Fail(const char* what) {
    std::fprintf(stderr, "fuzz_library: %s\n", what);
    std::fflush(stderr);
    std::abort();
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, std::size_t size) {
    using namespace quillet;
    const std::string_view bytes(reinterpret_cast<const char*>(data), size);
    MacroLibrary library;
    const LoadResult first = ParseMacroLibrary(bytes, library);
    if (first.status == LoadStatus::Unopenable) Fail("parsing bytes reported an unopenable file");
    if (first.macrosRead != library.size()) Fail("macrosRead differs from the library size");
    if (first.ok() != first.problem.empty()) Fail("a problem text without damage, or damage without one");
    if (first.problem.find('\n') != std::string::npos) Fail("the problem text has more than one line");
    if (!first.ok() && (first.offset < 0 || static_cast<std::size_t>(first.offset) > size)) {
        Fail("the damage offset lies outside the input");
    }

    const std::string stored = SerializeMacroLibrary(library);
    if (first.ok() && stored.size() != size) Fail("a valid file stores back to a different size");
    MacroLibrary again;
    const LoadResult second = ParseMacroLibrary(stored, again);
    if (!second.ok()) Fail("what was read does not read back");
    if (again.size() != library.size()) Fail("the macro count changed on the way back");
    for (std::size_t i = 0; i < library.size(); ++i) {
        if (!again[i].SameContent(library[i])) Fail("a macro changed on the way back");
    }
    if (SerializeMacroLibrary(again) != stored) Fail("storing twice gives different bytes");
    return 0;
}
