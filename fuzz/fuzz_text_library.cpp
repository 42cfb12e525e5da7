// Fuzz target: library files through the text form. Every input that loads without damage must come back from its
// text byte for byte.
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <string_view>

#include "model/text_format.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, std::size_t size) {
    using namespace quillet;
    const std::string_view bytes(reinterpret_cast<const char*>(data), size);
    StoredMacros stored;
    if (!ParseStoredMacros(bytes, stored).ok()) return 0;
    const std::string text = MacrosToText(stored.macros, stored.padding);
    StoredMacros back;
    TextError error;
    if (!TextToMacros(text, back, error)) {
        std::fprintf(stderr, "fuzz_text_library: the text of a library is refused: %s\n", error.Describe().c_str());
        std::abort();
    }
    if (SerializeStoredMacros(back) != bytes) {
        std::fprintf(stderr, "fuzz_text_library: a library does not come back byte for byte from its text\n");
        std::abort();
    }
    return 0;
}
