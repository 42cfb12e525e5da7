// Filling the placeholders of a text in the program's language. The texts a person reads are written as one format
// text per sentence, with %1..%9 where a key name, a number or a macro name goes, so that each language can put
// them where its grammar wants them ("%1를 눌러 ..." in Korean, "Press the %1 to ..." in English).
#pragma once

#include <initializer_list>
#include <string>
#include <string_view>

namespace quillet {

// format with each %1..%9 replaced by the argument of that number, in one pass: what an argument holds is never
// scanned again, so a macro name or typed text containing "%1" or "%" is copied as it is. A '%' not followed by a
// digit 1..9, and a placeholder without an argument, stay as they are. Works on UTF-8 and on CP949 alike (neither
// uses the bytes of '%' or of a digit inside a multibyte character).
std::string FillText(std::string_view format, std::initializer_list<std::string_view> args);

} // namespace quillet
