// The program's texts in the language the person chose. Every text a person sees is written in the code in Korean,
// as the program has always shown it, and passed through Tr: in Korean it comes back unchanged (byte for byte), in
// English it is looked up in the catalogue (model/catalogue/*.inc), which pairs each Korean text with its English
// twin. A Korean text the catalogue lacks stays Korean, so a gap shows as Korean, never as nothing.
//
// Placeholders (%1..%9 of Qt, %s/%d/%u/%g of printf) are kept as they are: the English text has the same ones,
// possibly in another order for %1..%9.
//
// The language is process-wide and set once at start-up from the settings (and again when the settings dialog
// changes it); windows made afterwards use it. Not for other threads than the program's own.
#pragma once

#include <cstddef>
#include <string>
#include <string_view>

namespace quillet {

enum class Language { Korean, English };

// The setting "language" of Quillet.ini: "en" is English; "ko", absent, empty or anything else is Korean.
Language LanguageFromSetting(std::string_view value);
std::string_view LanguageSetting(Language language); // "ko" / "en"

void SetLanguage(Language language);
Language CurrentLanguage();

// The text in the current language, UTF-8. koreanUtf8 must be a catalogue key or any other text (returned as is).
// The pointer stays valid for the life of the program.
const char* Tr(const char* koreanUtf8);
// The same in CP949 (the model's texts), converted once per text and language.
const std::string& TrCp949(const char* koreanUtf8);

// The catalogue, for its tests.
struct CatalogueEntry {
    const char* korean;  // UTF-8, exactly as the program shows it in Korean
    const char* english; // UTF-8 (ASCII in practice), the same placeholders
};
struct CatalogueView {
    const CatalogueEntry* entries;
    std::size_t size;
};
CatalogueView Catalogue();

} // namespace quillet
