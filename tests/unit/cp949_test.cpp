#include "model/cp949.h"

#include <gtest/gtest.h>

namespace quillet {
namespace {

TEST(Cp949, RoundTripsHangulIncludingExtendedSyllables) {
    // "가" is in KS X 1001; "똠" is one of the extended syllables EUC-KR cannot decode.
    const std::string utf8 = "A\xEA\xB0\x80 \xEB\x98\xA0\r\n";
    const std::string cp = Utf8ToCp949(utf8);
    EXPECT_EQ(cp, "A\xB0\xA1 \x8C\x63\r\n");
    EXPECT_EQ(Cp949ToUtf8(cp), utf8);
}

TEST(Cp949, BadInputGivesReplacementsNotCrashes) {
    EXPECT_EQ(Utf8ToCp949("\xF0\x9F\x98\x80x"), "?x") << "an emoji cannot be held";
    EXPECT_EQ(Utf8ToCp949("\xFFz"), "?z");
    EXPECT_EQ(Cp949ToUtf8("\xB0"), "\xEF\xBF\xBD") << "a lead byte at the end";
    EXPECT_EQ(Cp949ToUtf8("\xFF" "a"), "\xEF\xBF\xBD" "a");
    EXPECT_EQ(Cp949ToUtf8(std::string_view("a\0b", 3)), std::string("a\0b", 3));
    // An unassigned pair, at the end and in the middle: one replacement, nothing after it lost.
    EXPECT_EQ(Cp949ToUtf8("\xA2\xE8"), "\xEF\xBF\xBD");
    EXPECT_EQ(Cp949ToUtf8("\xA2\xE8xy"), "\xEF\xBF\xBDxy");
    EXPECT_EQ(Cp949ToUtf8("\xB0\x20"), "\xEF\xBF\xBD ") << "a lead byte before an invalid trail";
}

} // namespace
} // namespace quillet
