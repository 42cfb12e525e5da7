// Every Korean text written in the program's sources is in the catalogue of texts, so that the English program shows
// no Hangul: the sources are read, their string literals found and looked up.
#include <gtest/gtest.h>

#include <cctype>
#include <filesystem>
#include <fstream>
#include <set>
#include <string>
#include <vector>

#include "hangul.h"
#include "model/texts.h"

namespace quillet {
namespace {

namespace fs = std::filesystem;
using test::HasHangul;

// The string literals of a C++ source, adjacent ones joined, comments and character literals skipped, escapes
// decoded as the compiler decodes them (the simple ones, \xHH and octal).
std::vector<std::string> StringLiterals(const std::string& src) {
    std::vector<std::string> out;
    std::string current;
    bool open = false; // current holds a literal that a following one may continue
    std::size_t i = 0;
    const auto flush = [&] {
        if (open) out.push_back(current);
        current.clear();
        open = false;
    };
    while (i < src.size()) {
        const char c = src[i];
        if (c == '/' && i + 1 < src.size() && src[i + 1] == '/') {
            i = src.find('\n', i);
            if (i == std::string::npos) break;
            continue;
        }
        if (c == '/' && i + 1 < src.size() && src[i + 1] == '*') {
            const std::size_t end = src.find("*/", i + 2);
            i = end == std::string::npos ? src.size() : end + 2;
            continue;
        }
        if (c == '\'') {
            // A character literal, or a digit separator (1'000).
            if (i > 0 && std::isalnum(static_cast<unsigned char>(src[i - 1])) &&
                i + 1 < src.size() && std::isalnum(static_cast<unsigned char>(src[i + 1]))) {
                ++i;
                continue;
            }
            ++i;
            while (i < src.size() && src[i] != '\'') i += src[i] == '\\' ? 2 : 1;
            ++i;
            flush();
            continue;
        }
        if (c == '"') {
            ++i;
            while (i < src.size() && src[i] != '"') {
                if (src[i] == '\\' && i + 1 < src.size()) {
                    const char e = src[i + 1];
                    i += 2;
                    switch (e) {
                    case 'n': current += '\n'; break;
                    case 't': current += '\t'; break;
                    case 'r': current += '\r'; break;
                    case 'x': {
                        int v = 0;
                        while (i < src.size() && std::isxdigit(static_cast<unsigned char>(src[i])))
                            v = v * 16 + std::stoi(std::string(1, src[i++]), nullptr, 16);
                        current += static_cast<char>(v);
                        break;
                    }
                    default:
                        if (e >= '0' && e <= '7') {
                            int v = e - '0';
                            for (int n = 0; n < 2 && i < src.size() && src[i] >= '0' && src[i] <= '7'; ++n)
                                v = v * 8 + (src[i++] - '0');
                            current += static_cast<char>(v);
                        } else {
                            current += e; // \" \\ \' \?
                        }
                    }
                } else {
                    current += src[i++];
                }
            }
            ++i;
            open = true;
            continue;
        }
        if (!std::isspace(static_cast<unsigned char>(c))) flush();
        ++i;
    }
    flush();
    return out;
}

TEST(Catalogue, EveryKoreanTextInTheSourcesIsInTheCatalogue) {
    std::set<std::string> keys;
    for (std::size_t i = 0; i < Catalogue().size; ++i) keys.insert(Catalogue().entries[i].korean);
    std::vector<std::string> missing;
    const fs::path src = fs::path(QUILLET_SOURCE_DIR) / "src";
    for (const auto& entry : fs::recursive_directory_iterator(src)) {
        const fs::path& p = entry.path();
        if (p.extension() != ".cpp" && p.extension() != ".h") continue;
        std::ifstream in(p, std::ios::binary);
        const std::string text{std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
        for (const std::string& literal : StringLiterals(text))
            if (HasHangul(literal) && keys.count(literal) == 0)
                missing.push_back(fs::relative(p, src).string() + ": \"" + literal + "\"");
    }
    std::string listed;
    for (const std::string& m : missing) listed += "\n  " + m;
    EXPECT_TRUE(missing.empty()) << missing.size() << " Korean texts not in the catalogue:" << listed;
}

} // namespace
} // namespace quillet
