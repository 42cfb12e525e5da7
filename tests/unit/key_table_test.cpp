#include "model/key_table.h"

#include <gtest/gtest.h>

#include <map>
#include <set>
#include <string>

namespace quillet {
namespace {

TEST(KeyTable, RowsAreAscendingUniqueAndTerminated) {
    EXPECT_EQ(kKeyRowCount, 147);
    EXPECT_EQ(kKeyTable[kKeyRowCount].code, -1);
    EXPECT_STREQ(kKeyTable[kKeyRowCount].shortName, "");
    EXPECT_STREQ(kKeyTable[kKeyRowCount].longName, "");
    std::set<std::string> longNames;
    std::map<std::string, int> shortNameCount;
    for (int i = 0; i < kKeyRowCount; ++i) {
        EXPECT_GE(kKeyTable[i].code, 1) << "row " << i;
        EXPECT_LE(kKeyTable[i].code, 0xFF) << "row " << i;
        if (i > 0) {
            EXPECT_GT(kKeyTable[i].code, kKeyTable[i - 1].code) << "row " << i;
        }
        EXPECT_TRUE(longNames.insert(kKeyTable[i].longName).second) << "duplicate long name " << kKeyTable[i].longName;
        ++shortNameCount[kKeyTable[i].shortName];
    }
    std::set<std::string> repeated;
    for (const auto& [name, count] : shortNameCount) {
        if (count > 1) repeated.insert(name);
    }
    EXPECT_EQ(repeated, (std::set<std::string>{"LM", "RM", "BS", "BF", "SM", "IME"}));
    EXPECT_EQ(shortNameCount["IME"], 8);
}

TEST(KeyTable, LookupsAgreeWithTheRows) {
    for (int i = 0; i < kKeyRowCount; ++i) {
        const int code = kKeyTable[i].code;
        EXPECT_EQ(KeyCodeAt(i), code);
        EXPECT_EQ(KeyIndexOf(code), i);
        EXPECT_EQ(KeyLongName(code), kKeyTable[i].longName);
        EXPECT_EQ(KeyShortName(code), kKeyTable[i].shortName);
    }
    int named = 0;
    for (int code = 0; code <= 0xFF; ++code) named += KeyIndexOf(code) >= 0;
    EXPECT_EQ(named, kKeyRowCount);
}

TEST(KeyTable, NamesOfKnownKeys) {
    EXPECT_STREQ(KeyLongName(0x71), "F2 key");
    EXPECT_STREQ(KeyShortName(0x71), "F2");
    EXPECT_STREQ(KeyShortName(0xA4), "LM");
    EXPECT_STREQ(KeyLongName(0xA4), "Left MENU key");
    EXPECT_STREQ(KeyLongName(0x01), "Left mouse button");
    EXPECT_STREQ(KeyLongName(0x0A), "Mouse scroll up");
    EXPECT_STREQ(KeyLongName(0x0B), "Mouse scroll down");
    EXPECT_STREQ(KeyLongName(0x15), "IME Hangul mode");
    EXPECT_STREQ(KeyLongName(0x20), "SPACEBAR");
    EXPECT_STREQ(KeyShortName(0x5F), "CS");
    EXPECT_STREQ(KeyLongName(0x69), "Numeric keypad 9 key");
    EXPECT_STREQ(KeyLongName(0xAC), "Browser Start and Home key");
    EXPECT_STREQ(KeyShortName(0xB3), "PPM");
    EXPECT_EQ(KeyIndexOf(0x41), 52);
    EXPECT_EQ(KeyIndexOf(0x90), 110);
    EXPECT_EQ(KeyIndexOf(0xBA), 136);
}

TEST(KeyTable, PunctuationRowsHoldTheCharactersThemselves) {
    EXPECT_EQ(KeyCodeAt(142), 0xC0);
    EXPECT_STREQ(KeyShortName(0xC0), "`~");
    EXPECT_STREQ(KeyLongName(0xC0), "`~ key");
    EXPECT_EQ(KeyCodeAt(144), 0xDC);
    EXPECT_STREQ(KeyShortName(0xDC), "\\|");
    EXPECT_STREQ(KeyLongName(0xDC), "\\| key");
    EXPECT_EQ(KeyCodeAt(146), 0xDE);
    EXPECT_STREQ(KeyShortName(0xDE), "'\"");
    EXPECT_STREQ(KeyLongName(0xDE), "'\" key");
    EXPECT_STREQ(KeyLongName(0xDB), "[{ key");
    EXPECT_STREQ(KeyLongName(0xDD), "]} key");
}

TEST(KeyTable, CodesAndIndexesOutsideTheTable) {
    for (int code : {0, 0x07, 0x0E, 0x0F, 0x16, 0x1A, 0x3A, 0x40, 0x5E, 0x7C, 0x8F, 0x92, 0x9F, 0xB8, 0xB9, 0xC1, 0xDA,
                     0xDF, 0xFF}) {
        EXPECT_EQ(KeyIndexOf(code), -1) << code;
        EXPECT_STREQ(KeyLongName(code), "(Unknown)") << code;
        EXPECT_STREQ(KeyShortName(code), "(Unknown)") << code;
    }
    // Codes beyond one byte must not alias a named key, and the terminating row's -1 is no key.
    for (int code : {-1, 0x171, 0x100, -0x8F}) {
        EXPECT_EQ(KeyIndexOf(code), -1) << code;
        EXPECT_STREQ(KeyLongName(code), "(Unknown)") << code;
    }
    EXPECT_EQ(KeyCodeAt(146), 0xDE);
    EXPECT_EQ(KeyCodeAt(0), 0x01);
    EXPECT_EQ(KeyCodeAt(147), -1);
    EXPECT_EQ(KeyCodeAt(-1), -1);
    EXPECT_EQ(KeyCodeAt(1000), -1);
}

} // namespace
} // namespace quillet
