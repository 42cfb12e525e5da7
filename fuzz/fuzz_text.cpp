// Fuzz target: the reader of the macro text on arbitrary bytes. It refuses or reads; what it reads must store,
// load and write as text again, and that text must read back into the same macros.
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <string_view>

#include "model/library_file.h"
#include "model/text_format.h"

namespace {

[[noreturn]] void Fail(const char* what) {
    std::fprintf(stderr, "fuzz_text: %s\n", what);
    std::fflush(stderr);
    std::abort();
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, std::size_t size) {
    using namespace quillet;
    const std::string_view text(reinterpret_cast<const char*>(data), size);
    StoredMacros read;
    TextError error;
    if (!TextToMacros(text, read, error)) {
        if (!read.macros.empty() || !read.padding.empty()) Fail("a refused text left macros behind");
        if (error.message.empty()) Fail("a refusal without a reason");
        if (error.line < 1 || error.column < 1) Fail("a refusal without a position");
        return 0;
    }
    if (!read.padding.empty() && read.padding.size() != read.macros.size()) Fail("padding does not match the macros");
    const std::string bytes = SerializeStoredMacros(read);
    StoredMacros loaded;
    if (!ParseStoredMacros(bytes, loaded).ok()) Fail("what was read does not store and load");
    const std::string again = MacrosToText(loaded.macros, loaded.padding);
    StoredMacros reread;
    if (!TextToMacros(again, reread, error)) Fail("a written text is refused");
    if (SerializeStoredMacros(reread) != bytes) Fail("the text changed the macros on the way back");
    if (MacrosToText(reread.macros, reread.padding) != again) Fail("writing the text twice gives different texts");
    return 0;
}
