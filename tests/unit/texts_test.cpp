// The catalogue of texts: every Korean text the program shows has an English twin with the same placeholders, and
// every Korean text written in the program's sources is in the catalogue (so English shows no Hangul).
#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>
#include <fstream>
#include <map>
#include <regex>
#include <set>
#include <string>
#include <vector>

#include "model/cp949.h"
#include "hangul.h"
#include "model/texts.h"

namespace quillet {
namespace {

namespace fs = std::filesystem;
using test::HasHangul;

std::multiset<std::string> Placeholders(const std::string& text) {
    static const std::regex placeholder("%(?:[1-9]|[-+ 0#]*[0-9]*(?:\\.[0-9]+)?(?:l|ll|z)?[sdugcxX])");
    std::multiset<std::string> found;
    for (auto it = std::sregex_iterator(text.begin(), text.end(), placeholder); it != std::sregex_iterator(); ++it)
        found.insert(it->str());
    return found;
}

TEST(Catalogue, EveryKoreanTextHasAnEnglishTwinWithTheSamePlaceholders) {
    const CatalogueView catalogue = Catalogue();
    ASSERT_GT(catalogue.size, 0u);
    std::map<std::string, std::string> seen;
    for (std::size_t i = 0; i < catalogue.size; ++i) {
        const CatalogueEntry& e = catalogue.entries[i];
        const std::string korean = e.korean, english = e.english;
        EXPECT_TRUE(seen.emplace(korean, english).second) << "twice in the catalogue: " << korean;
        EXPECT_FALSE(english.empty()) << korean;
        EXPECT_FALSE(HasHangul(english)) << korean << " -> " << english;
        EXPECT_TRUE(HasHangul(korean) || korean.find("%") != std::string::npos) << "not a Korean text: " << korean;
        EXPECT_EQ(Placeholders(korean), Placeholders(english)) << korean << " -> " << english;
        // English texts go through CP949 too (the model's texts, the clipboard, quillet-cli): it must hold them.
        EXPECT_EQ(Cp949ToUtf8(Utf8ToCp949(english)), english) << english;
    }
}

TEST(Catalogue, KoreanIsUnchangedAndEnglishIsLookedUp) {
    const CatalogueEntry& first = Catalogue().entries[0];
    SetLanguage(Language::Korean);
    EXPECT_STREQ(Tr(first.korean), first.korean);
    EXPECT_EQ(TrCp949(first.korean), Utf8ToCp949(first.korean));
    SetLanguage(Language::English);
    EXPECT_STREQ(Tr(first.korean), first.english);
    EXPECT_EQ(TrCp949(first.korean), first.english);
    EXPECT_STREQ(Tr("없는 글"), "없는 글") << "a text the catalogue lacks stays as it is";
    SetLanguage(Language::Korean);

    EXPECT_EQ(LanguageFromSetting("en"), Language::English);
    for (const char* other : {"ko", "", "EN", "english", "de"}) EXPECT_EQ(LanguageFromSetting(other), Language::Korean);
    EXPECT_EQ(LanguageSetting(Language::English), "en");
    EXPECT_EQ(LanguageSetting(Language::Korean), "ko");
}

} // namespace
} // namespace quillet
