// Decimals shown and read by the program: the same text under the C locale and under a comma locale, and the
// strtod rules for what is not a plain number.
#include <gtest/gtest.h>

#include <cmath>
#include <limits>
#include <string>

#include "../common/comma_locale.h"
#include "model/decimal.h"
#include "model/item_text.h"

namespace quillet {
namespace {

void ExpectFormatsAndParses() {
    EXPECT_EQ(FormatFixed(1.5, 3), "1.500");
    EXPECT_EQ(FormatFixed(86400.0, 3), "86400.000");
    EXPECT_EQ(FormatFixed(0.0005, 3), "0.001") << "rounded as printf rounds the binary value";
    EXPECT_EQ(FormatGeneral(4.057), "4.057");
    EXPECT_EQ(FormatGeneral(1.066), "1.066");
    EXPECT_EQ(FormatGeneral(0.0), "0");
    EXPECT_EQ(FormatGeneral(100000000.0 / 1000.0), "100000");
    EXPECT_EQ(FormatGeneral(1234567.0), "1.23457e+06");
    EXPECT_EQ(FormatGeneral(0.00001), "1e-05");

    const double inf = std::numeric_limits<double>::infinity();
    for (const auto& [text, value] : std::vector<std::pair<std::string, double>>{
             {"1.5", 1.5},       {"  +2.25xyz", 2.25}, {"1,5", 1.5},    {"1,5.5", 1.5},    {".5", 0.5},
             {"5.", 5.0},        {"-0.75", -0.75},     {"1e3", 1000.0}, {"1e", 1.0},       {"1.5E-1", 0.15},
             {"abc", 0.0},       {"", 0.0},            {".", 0.0},      {"-", 0.0},        {"e5", 0.0},
             {"1e-400", 0.0},    {"-1e400", -inf},     {"1e400", inf},  {"inf", inf},      {"-Infinity", -inf},
             {"0.000e99999", 0}, {"00012.50", 12.5},   {std::string(400, '9'), inf},
             {"0." + std::string(400, '0') + "1", 0.0}}) {
        EXPECT_EQ(ParseDecimal(text), value) << text;
    }
    EXPECT_TRUE(std::isnan(ParseDecimal("nan")));
    EXPECT_TRUE(std::signbit(ParseDecimal("-1e-400"))) << "an underflow keeps its sign, as strtod's does";

    // What is shown reads back as the same value.
    for (double v : {0.001, 1.5, 4.057, 86400.0, 1234.567})
        EXPECT_EQ(ParseDecimal(FormatFixed(v, 3)), std::round(v * 1000.0) / 1000.0) << v;
    BoundedLine line;
    line.AppendFixed3(1.5);
    EXPECT_EQ(line.str(), "1.500");
}

TEST(DecimalTest, FormatsAndParsesTheSameUnderTheCLocaleAndACommaLocale) {
    ExpectFormatsAndParses();
    testing::CommaLocale comma;
    ASSERT_TRUE(comma.ok()) << "no " << testing::kCommaLocale << " locale here and localedef cannot make one (the "
                               "locales package has its sources)";
    ExpectFormatsAndParses();
}

} // namespace
} // namespace quillet
