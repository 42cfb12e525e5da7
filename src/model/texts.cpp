#include "model/texts.h"

#include <atomic>
#include <mutex>
#include <string_view>
#include <unordered_map>

#include "model/cp949.h"

namespace quillet {

namespace {

// The catalogue, one table for both languages. Each area of the program keeps its pairs in a file of its own.
constexpr CatalogueEntry kCatalogue[] = {
#include "model/catalogue/core.inc"
#include "model/catalogue/editors.inc"
#include "model/catalogue/windows.inc"
};

std::atomic<Language> gLanguage{Language::Korean};

struct Lookup {
    std::unordered_map<std::string_view, const CatalogueEntry*> byKorean;
    // CP949 forms, made on first use; the map's nodes do not move, so references stay valid.
    std::mutex mutex;
    std::unordered_map<const char*, std::string> cp949[2];
};

Lookup& TheLookup() {
    static Lookup* lookup = [] {
        auto* l = new Lookup; // never destroyed: texts may be asked for until the very end
        l->byKorean.reserve(std::size(kCatalogue));
        for (const CatalogueEntry& e : kCatalogue) l->byKorean.emplace(e.korean, &e);
        return l;
    }();
    return *lookup;
}

} // namespace

Language LanguageFromSetting(std::string_view value) {
    return value == "en" ? Language::English : Language::Korean;
}

std::string_view LanguageSetting(Language language) {
    return language == Language::English ? "en" : "ko";
}

void SetLanguage(Language language) {
    gLanguage = language;
}

Language CurrentLanguage() {
    return gLanguage;
}

const char* Tr(const char* koreanUtf8) {
    if (gLanguage != Language::English || koreanUtf8 == nullptr) return koreanUtf8;
    const Lookup& lookup = TheLookup();
    const auto it = lookup.byKorean.find(koreanUtf8);
    return it == lookup.byKorean.end() ? koreanUtf8 : it->second->english;
}

const std::string& TrCp949(const char* koreanUtf8) {
    Lookup& lookup = TheLookup();
    const char* text = Tr(koreanUtf8);
    std::lock_guard lock(lookup.mutex);
    auto& cache = lookup.cp949[gLanguage == Language::English ? 1 : 0];
    auto it = cache.find(text);
    if (it == cache.end()) it = cache.emplace(text, Utf8ToCp949(text)).first;
    return it->second;
}

CatalogueView Catalogue() {
    return {kCatalogue, std::size(kCatalogue)};
}

} // namespace quillet
