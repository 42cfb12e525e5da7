#include "model/macro.h"

#include <algorithm>
#include <cstdio>

namespace quillet {

int32_t PackPoint(int32_t x, int32_t y) {
    const auto clamp16 = [](int32_t v) { return static_cast<uint32_t>(std::clamp(v, -32768, 32767)) & 0xFFFFu; };
    return static_cast<int32_t>(clamp16(x) | (clamp16(y) << 16));
}

std::string CutName(std::string_view s) {
    const auto nul = s.find('\0');
    if (nul != std::string_view::npos) s = s.substr(0, nul);
    return std::string(s.substr(0, std::min(s.size(), kNameMax)));
}

void MacroItem::setText(std::string_view s) {
    buffer_.assign(s);
    param[0] = static_cast<int32_t>(buffer_.size());
}

void MacroItem::setCalledName(std::string_view s) { buffer_ = CutName(s); }

void MacroItem::setLoopKind(int v) {
    param[0] = static_cast<int32_t>((static_cast<uint32_t>(param[0]) & 0xFFFF0000u) | (static_cast<uint32_t>(v) & 0xFFFFu));
}

void MacroItem::setLoopStep(int v) {
    param[0] = static_cast<int32_t>((static_cast<uint32_t>(param[0]) & 0xFFFFu) | (static_cast<uint32_t>(v) << 16));
}

MacroItem MakeKeyItem(int keyCode, int32_t keyAction, int scanCode) {
    MacroItem it;
    it.type = ItemKey;
    it.setKeyCode((keyCode & 0xFF) | ((scanCode & 0xFF) << 8));
    it.setKeyAction(keyAction);
    return it;
}

MacroItem MakeMouseItem(int32_t x, int32_t y, int32_t flags) {
    MacroItem it;
    it.type = ItemMouse;
    it.setMouseX(x);
    it.setMouseY(y);
    it.setMouseFlags(flags);
    return it;
}

MacroItem MakeDelayItem(int32_t value, int32_t kind, int32_t extra) {
    MacroItem it;
    it.type = ItemDelay;
    it.setDelayValue(value);
    it.setDelayKind(kind);
    it.setDelayExtra(extra);
    return it;
}

MacroItem MakeStringItem(std::string_view text, int32_t flags) {
    MacroItem it;
    it.type = ItemString;
    it.setText(text);
    it.setTextFlags(flags);
    return it;
}

MacroItem MakeCallItem(std::string_view name, int32_t mode) {
    MacroItem it;
    it.type = ItemCall;
    it.setCalledName(name);
    it.setCallMode(mode);
    return it;
}

MacroItem MakeExclusiveItem(bool enter) {
    MacroItem it;
    it.type = ItemExclusive;
    it.setSectionEnter(enter ? 1 : 0);
    return it;
}

MacroItem MakeLoopItem(int kind, int step, int32_t start, int32_t stop) {
    MacroItem it;
    it.type = ItemLoop;
    it.setLoopKind(kind);
    it.setLoopStep(step);
    it.setLoopStart(start);
    it.setLoopStop(stop);
    return it;
}

Macro::Macro(const Macro& other) {
    CopyStoredFields(other);
    ResetRunState(*this);
}

Macro& Macro::operator=(const Macro& other) {
    if (this == &other) return *this;
    CopyStoredFields(other);
    ResetRunState(*this);
    return *this;
}

void Macro::CopyStoredFields(const Macro& o) {
    name = CutName(o.name);
    startKey = o.startKey;
    stopKey = o.stopKey;
    startTime = o.startTime;
    stopTime = o.stopTime;
    startColor = o.startColor;
    stopColor = o.stopColor;
    colorTolerance = o.colorTolerance;
    startColorPos = o.startColorPos;
    stopColorPos = o.stopColorPos;
    flags = o.flags;
    imagePath = CutName(o.imagePath);
    imageOptions = o.imageOptions;
    imageRectStart = o.imageRectStart;
    imageRectEnd = o.imageRectEnd;
    items = o.items;
}

bool Macro::SameContent(const Macro& o) const {
    return name == o.name && startKey == o.startKey && stopKey == o.stopKey && startTime == o.startTime &&
           stopTime == o.stopTime && startColor == o.startColor && stopColor == o.stopColor &&
           colorTolerance == o.colorTolerance && startColorPos == o.startColorPos && stopColorPos == o.stopColorPos &&
           flags == o.flags && imagePath == o.imagePath && imageOptions == o.imageOptions &&
           imageRectStart == o.imageRectStart && imageRectEnd == o.imageRectEnd && items == o.items;
}

Macro MakeNewMacro(std::string name) {
    Macro m;
    m.name = CutName(name);
    m.startKey = 113; // F2
    m.stopKey = 114;  // F3
    m.flags = 0x10024;
    m.items.emplace_back();
    return m;
}

int FindMacroByName(const MacroLibrary& library, std::string_view name, int skipIndex) {
    for (std::size_t i = 0; i < library.size(); ++i) {
        if (static_cast<int>(i) == skipIndex) continue;
        if (library[i].name == name) return static_cast<int>(i);
    }
    return -1;
}

std::string UniqueMacroName(const MacroLibrary& library, const char* format) {
    char buf[kNameBufferSize];
    for (int n = 1;; ++n) {
        std::snprintf(buf, sizeof buf, format, n);
        if (FindMacroByName(library, buf) < 0) return buf;
    }
}

bool IsWellFormed(const std::vector<MacroItem>& items) {
    std::vector<char> stack; // 'E' exclusive section, 'L' loop
    int exclusiveOpen = 0;
    for (const MacroItem& it : items) {
        if (it.type == ItemExclusive) {
            if (it.sectionEnter() & 1) {
                if (exclusiveOpen != 0) return false;
                stack.push_back('E');
                exclusiveOpen = 1;
            } else {
                if (exclusiveOpen != 1 || stack.empty() || stack.back() != 'E') return false;
                stack.pop_back();
                exclusiveOpen = 0;
            }
        } else if (it.type == ItemLoop) {
            switch (it.loopKind() & LoopKindMask) {
            case LoopEnter:
                stack.push_back('L');
                break;
            case LoopOutputKeys:
            case LoopOutputX:
            case LoopOutputY:
                if (std::find(stack.begin(), stack.end(), 'L') == stack.end()) return false;
                break;
            case LoopLeave:
                if (stack.empty() || stack.back() != 'L') return false;
                stack.pop_back();
                break;
            default:
                break;
            }
        }
    }
    return stack.empty();
}

void RelinkLoops(Macro& macro) {
    struct Entry {
        int step;
        int32_t bodyIndex;
        int32_t stop;
    };
    std::vector<Entry> stack;
    for (std::size_t i = 0; i < macro.items.size(); ++i) {
        MacroItem& it = macro.items[i];
        if (it.type != ItemLoop) continue;
        const int kind = it.loopKind() & LoopKindMask;
        if (kind == LoopEnter) {
            stack.push_back({it.loopStep(), static_cast<int32_t>(i + 1), it.loopStop()});
        } else if (kind == LoopLeave && !stack.empty()) {
            const Entry e = stack.back();
            stack.pop_back();
            it.setLoopStep(e.step);
            it.setLoopStart(e.bodyIndex);
            it.setLoopStop(e.stop);
        }
    }
}

void ResetRunState(Macro& m) {
    m.runPos = -1;
    m.passCount = 0;
    m.lastStartColorMatch = m.lastStopColorMatch = m.lastImageMatch = false;
    m.delayLeft = m.waitKey = m.waitColor = m.waitColorPos = m.itemProgress = 0;
    m.waitKeyPhase = m.waitColorPhase = 0;
    m.heldInputs.fill(0);
    m.holdsExclusive = false;
    m.loopCounters.clear();
    RelinkLoops(m);
}

} // namespace quillet
