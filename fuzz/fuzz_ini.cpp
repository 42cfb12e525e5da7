// Fuzz target: the INI reader and writer on arbitrary text, in memory. Reading must keep every byte, a written key
// must read back as written, nothing but the one line of that key may change, and writing it again changes nothing.
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <optional>
#include <string>
#include <string_view>

#include "model/ini_file.h"

namespace {

using quillet::IniDocument;

[[noreturn]] void Fail(const char* what) {
    std::fprintf(stderr, "fuzz_ini: %s\n", what);
    std::fflush(stderr);
    std::abort();
}

bool IsBlank(char c) {
    return c == ' ' || c == '\t' || c == '\r' || c == '\v' || c == '\f';
}

std::string_view Trim(std::string_view s) {
    while (!s.empty() && IsBlank(s.front())) s.remove_prefix(1);
    while (!s.empty() && IsBlank(s.back())) s.remove_suffix(1);
    return s;
}

bool EqualNoCase(std::string_view a, std::string_view b) {
    if (a.size() != b.size()) return false;
    for (std::size_t i = 0; i < a.size(); ++i) {
        char x = a[i], y = b[i];
        if (x >= 'A' && x <= 'Z') x = static_cast<char>(x - 'A' + 'a');
        if (y >= 'A' && y <= 'Z') y = static_cast<char>(y - 'A' + 'a');
        if (x != y) return false;
    }
    return true;
}

constexpr std::string_view kSections[] = {"Property", "pROPERTY", "Other"};
constexpr std::string_view kKeys[] = {"macroOptions", "TITLE", "k", "x"};
constexpr std::string_view kProbeSections[] = {"Property", "Other", "s", "[x", ""};
constexpr std::string_view kProbeKeys[] = {"macroOptions", "title", "k", "x", "[k", ""};
constexpr std::size_t kProbes = std::size(kProbeSections) * std::size(kProbeKeys);

void Probe(const IniDocument& doc, std::optional<std::string>* out) {
    std::size_t n = 0;
    for (std::string_view s : kProbeSections) {
        for (std::string_view k : kProbeKeys) {
            const std::optional<std::string_view> v = doc.Find(s, k);
            out[n++] = v ? std::optional<std::string>(std::string(*v)) : std::nullopt;
            if (v) {
                // The value rules must stay within their bounds whatever the value is.
                if (quillet::ProfileString(*v, 259).size() > 259) Fail("a profile string longer than its buffer");
                (void)quillet::ProfileInt(*v, 7);
            }
        }
    }
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, std::size_t size) {
    const std::string text(reinterpret_cast<const char*>(data), size);
    IniDocument doc(text);
    if (doc.text() != text || doc.modified()) Fail("reading changed the text");

    std::optional<std::string> before[kProbes];
    Probe(doc, before);

    // Which key to write and its value come from the input itself, so mutations reach every choice.
    const std::string_view section = kSections[size % std::size(kSections)];
    const std::string_view key = kKeys[(size / std::size(kSections)) % std::size(kKeys)];
    const std::string_view value = std::string_view(text).substr(size / 2, 40);
    if (!doc.Set(section, key, value)) Fail("a valid key was refused");

    const std::optional<std::string_view> written = doc.Find(section, key);
    if (!written || *written != Trim(quillet::CutAtLineBreak(value))) Fail("the written value does not read back");

    std::optional<std::string> after[kProbes];
    Probe(doc, after);
    std::size_t n = 0;
    for (std::string_view s : kProbeSections) {
        for (std::string_view k : kProbeKeys) {
            const bool same = EqualNoCase(s, section) && EqualNoCase(k, key);
            if (!same && before[n] != after[n]) Fail("writing one key changed another");
            ++n;
        }
    }

    // Only one line's content may have gone: whatever lies between the common prefix and suffix of the old text.
    const std::string& now = doc.text();
    std::size_t prefix = 0;
    while (prefix < text.size() && prefix < now.size() && text[prefix] == now[prefix]) ++prefix;
    std::size_t suffix = 0;
    while (suffix < text.size() - prefix && suffix < now.size() - prefix &&
           text[text.size() - 1 - suffix] == now[now.size() - 1 - suffix]) {
        ++suffix;
    }
    if (text.substr(prefix, text.size() - prefix - suffix).find_first_of("\r\n") != std::string::npos) {
        Fail("writing a key removed more than one line");
    }

    const std::string once = now;
    if (!doc.Set(section, key, value) || doc.text() != once) Fail("writing the same value again changed the text");
    return 0;
}
