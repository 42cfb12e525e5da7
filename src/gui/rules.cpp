#include "gui/rules.h"

#include <vector>

#include "model/texts.h"

namespace quillet::gui {

namespace {

void ClampAxis(int32_t& v, int32_t extent, int32_t origin, int32_t span) {
    // 64-bit sums: stored positions come from a settings file and may be anything.
    int64_t value = v;
    if (value < origin) value = origin;
    const int64_t highest = int64_t{origin} + span - 1 - extent;
    if (value > highest) value = highest;
    v = static_cast<int32_t>(value);
}

std::string_view Trim(std::string_view s) {
    const auto blank = [](char c) { return c == ' ' || c == '\t' || c == '\r' || c == '\n'; };
    while (!s.empty() && blank(s.front())) s.remove_prefix(1);
    while (!s.empty() && blank(s.back())) s.remove_suffix(1);
    return s;
}

std::vector<std::string_view> Split(std::string_view s, char separator) {
    std::vector<std::string_view> parts;
    std::size_t start = 0;
    for (std::size_t i = 0; i <= s.size(); ++i) {
        if (i == s.size() || s[i] == separator) {
            parts.push_back(s.substr(start, i - start));
            start = i + 1;
        }
    }
    return parts;
}

} // namespace

void ClampToVirtualScreen(int32_t& x, int32_t& y, int32_t width, int32_t height,
                          const platform::ScreenRect& virtualScreen) {
    ClampAxis(x, width, virtualScreen.left, virtualScreen.width);
    ClampAxis(y, height, virtualScreen.top, virtualScreen.height);
}

int LogLinesToDrop(int lineCount, int maxLines) {
    if (maxLines <= 0 || lineCount <= maxLines) return 0;
    const int keep = static_cast<int>(int64_t{maxLines} * 8 / 10);
    return lineCount - (keep > 0 ? keep : 0);
}

RunStatusTexts RunStatusOf(const Macro& macro) {
    RunStatusTexts texts;
    const int count = macro.itemCount();
    if (macro.runPos >= 1 && macro.runPos < count) {
        texts.position = std::to_string(macro.runPos + 1) + " / " + std::to_string(count);
    } else {
        // "종료" says here that the macro has ended; the catalogue's twin of "종료" is the exit button's ("Exit"),
        // so English gets its own word.
        texts.position = CurrentLanguage() == Language::English ? "Stopped" : "종료";
    }
    texts.passes = std::to_string(macro.passCount) + " / " + std::to_string(macro.repeatCount());
    texts.delay = std::to_string(macro.delayLeft);
    return texts;
}

std::string QtFileFilter(std::string_view pairs) {
    const std::vector<std::string_view> parts = Split(pairs, '|');
    std::string result;
    for (std::size_t i = 0; i + 1 < parts.size(); i += 2) {
        std::string_view description = Trim(parts[i]);
        if (description.empty()) break; // the "||" that ends the list
        if (description.back() == ')') {
            const std::size_t open = description.rfind('(');
            if (open != std::string_view::npos && open > 0) description = Trim(description.substr(0, open));
        }
        std::string patterns;
        for (std::string_view pattern : Split(parts[i + 1], ';')) {
            pattern = Trim(pattern);
            if (pattern.empty()) continue;
            if (!patterns.empty()) patterns += ' ';
            patterns += pattern == "*.*" ? std::string_view("*") : pattern;
        }
        if (patterns.empty()) continue;
        if (!result.empty()) result += ";;";
        result.append(description).append(" (").append(patterns).append(")");
    }
    return result;
}

} // namespace quillet::gui
