// Whether a UTF-8 text holds Hangul, for the tests of the text catalogue.
#pragma once

#include <cstddef>
#include <string>

namespace quillet::test {

// U+AC00..U+D7A3 (syllables) and U+3131..U+318E (jamo) start with the bytes EA..ED and E3 84..86.
inline bool HasHangul(const std::string& utf8) {
    for (std::size_t i = 0; i + 2 < utf8.size(); ++i) {
        const auto b = static_cast<unsigned char>(utf8[i]);
        const auto c = static_cast<unsigned char>(utf8[i + 1]);
        if ((b >= 0xEA && b <= 0xED) || (b == 0xE3 && c >= 0x84 && c <= 0x86)) return true;
    }
    return false;
}

} // namespace quillet::test
