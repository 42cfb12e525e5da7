// Conversion between CP949 bytes (the text of the model and its files) and UTF-8.
#pragma once

#include <string>
#include <string_view>

namespace quillet {

// CP949 bytes to UTF-8. Bytes that do not decode become U+FFFD.
std::string Cp949ToUtf8(std::string_view cp949);

// UTF-8 to CP949 bytes. Characters CP949 cannot hold (and malformed UTF-8) become '?'.
std::string Utf8ToCp949(std::string_view utf8);

} // namespace quillet
