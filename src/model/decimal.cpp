#include "model/decimal.h"

#include <algorithm>
#include <charconv>
#include <cmath>
#include <cstdint>
#include <limits>
#include <system_error>

namespace quillet {

namespace {

std::string ToChars(double value, std::chars_format format, int precision) {
    if (std::isnan(value)) return std::signbit(value) ? "-nan" : "nan";
    if (std::isinf(value)) return value < 0 ? "-inf" : "inf";
    char digits[400]; // any double in fixed notation with up to 17 decimals
    const auto r = std::to_chars(digits, digits + sizeof digits, value, format, precision);
    if (r.ec != std::errc()) return "0";
    return std::string(digits, r.ptr);
}

bool IsDigit(char c) {
    return c >= '0' && c <= '9';
}

char Lower(char c) {
    return c >= 'A' && c <= 'Z' ? static_cast<char>(c - 'A' + 'a') : c;
}

// Whether text starts with word, ignoring letter case.
bool StartsWithWord(std::string_view text, std::string_view word) {
    if (text.size() < word.size()) return false;
    for (std::size_t i = 0; i < word.size(); ++i)
        if (Lower(text[i]) != word[i]) return false;
    return true;
}

} // namespace

std::string FormatFixed(double value, int decimals) {
    return ToChars(value, std::chars_format::fixed, std::clamp(decimals, 0, 17));
}

std::string FormatGeneral(double value, int significant) {
    return ToChars(value, std::chars_format::general, std::clamp(significant, 1, 17));
}

double ParseDecimal(std::string_view text) {
    std::size_t i = 0;
    while (i < text.size() && (text[i] == ' ' || (text[i] >= '\t' && text[i] <= '\r'))) ++i;
    bool negative = false;
    if (i < text.size() && (text[i] == '+' || text[i] == '-')) negative = text[i++] == '-';
    const double sign = negative ? -1.0 : 1.0;
    const std::string_view rest = text.substr(i);
    if (StartsWithWord(rest, "inf")) return sign * std::numeric_limits<double>::infinity();
    if (StartsWithWord(rest, "nan")) return std::numeric_limits<double>::quiet_NaN();

    // The mantissa's digits as they stand (from_chars reads "000.0012e5" as well), and the decimal exponent of its
    // first significant digit on the side, which tells an overflow from an underflow.
    std::size_t j = 0;
    while (j < rest.size() && IsDigit(rest[j])) ++j;
    const std::string_view whole = rest.substr(0, j);
    std::string_view fraction;
    if (j < rest.size() && (rest[j] == '.' || rest[j] == ',')) {
        std::size_t k = j + 1;
        while (k < rest.size() && IsDigit(rest[k])) ++k;
        fraction = rest.substr(j + 1, k - j - 1);
        if (!whole.empty() || !fraction.empty()) j = k; // "5." is 5; a lone mark is no number
    }
    if (whole.empty() && fraction.empty()) return 0.0;
    const std::size_t firstWhole = whole.find_first_not_of('0');
    const std::size_t firstFraction = fraction.find_first_not_of('0');
    if (firstWhole == std::string_view::npos && firstFraction == std::string_view::npos) return sign * 0.0;
    const int64_t magnitude = firstWhole != std::string_view::npos
                                  ? static_cast<int64_t>(whole.size() - firstWhole)
                                  : -static_cast<int64_t>(firstFraction);

    // An exponent counts only with at least one digit; it saturates far beyond any double's range.
    int64_t exponent = 0;
    if (j < rest.size() && (rest[j] == 'e' || rest[j] == 'E')) {
        std::size_t k = j + 1;
        bool expNegative = false;
        if (k < rest.size() && (rest[k] == '+' || rest[k] == '-')) expNegative = rest[k++] == '-';
        if (k < rest.size() && IsDigit(rest[k])) {
            for (; k < rest.size() && IsDigit(rest[k]); ++k)
                exponent = std::min<int64_t>(exponent * 10 + (rest[k] - '0'), 100000000);
            if (expNegative) exponent = -exponent;
        }
    }
    std::string number;
    number.reserve(whole.size() + fraction.size() + 16);
    number.append(whole.empty() ? std::string_view("0") : whole);
    if (!fraction.empty()) {
        number += '.';
        number.append(fraction);
    }
    number += 'e';
    number += std::to_string(exponent);

    double value = 0.0;
    const auto r = std::from_chars(number.data(), number.data() + number.size(), value, std::chars_format::general);
    if (r.ec == std::errc::result_out_of_range)
        return magnitude + exponent > 0 ? sign * std::numeric_limits<double>::infinity() : sign * 0.0;
    if (r.ec != std::errc()) return sign * 0.0;
    return sign * value;
}

} // namespace quillet
