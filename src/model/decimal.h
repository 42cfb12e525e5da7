// Decimal numbers as the program shows them and reads them back: always with a '.' as the decimal mark, whatever
// the C locale says. Qt sets the C locale from the environment at start, so printf and strtod would write "1,500"
// and stop reading at the '.' under a German, French or Russian locale, and a value shown by one dialog would come
// back changed through the next. Everything the program shows or reads as a decimal goes through these two.
#pragma once

#include <string>
#include <string_view>

namespace quillet {

// printf "%.*f" in the C locale: value rounded to decimals places (0..17), e.g. FormatFixed(1.5, 3) = "1.500".
// Infinities and NaN give "inf", "-inf" and "nan".
std::string FormatFixed(double value, int decimals);

// printf "%.*g" in the C locale: at most significant digits (1..17), no trailing zeros, exponent form for very large
// or small values, e.g. FormatGeneral(4.057, 6) = "4.057", FormatGeneral(1e-5, 6) = "1e-05".
std::string FormatGeneral(double value, int significant = 6);

// The decimal number at the head of text, as strtod reads it in the C locale: leading blanks skipped, an optional
// sign, digits with an optional fraction and exponent, or "inf", "infinity" and "nan" in any letter case. Whatever
// follows the number is ignored; text that does not start with a number gives 0. A ',' is read as the decimal mark
// as well as a '.' (people of comma locales type "1,5"), but only one mark is taken. A value too large for a double
// gives an infinity of its sign; one too small gives 0 of its sign. Never reads past text, allocates nothing in
// proportion to it beyond one copy of the digits.
double ParseDecimal(std::string_view text);

} // namespace quillet
