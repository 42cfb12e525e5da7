#include "engine/typing.h"

#include <algorithm>
#include <array>
#include <cstdio>
#include <string>

#include "model/cp949.h"

namespace quillet {

namespace {

// Key sequences of the three layouts, indexed [layout][jamo] in the order of the Unicode syllable decomposition.
// Letters and digits are those keys, ';' VK_OEM_1, '\'' VK_OEM_7, '/' VK_OEM_2; '#' shifts the next key.
// clang-format off
constexpr const char* kInitials[3][19] = {
    {"R", "#R", "S", "E", "#E", "F", "A", "Q", "#Q", "T", "#T", "D", "W", "#W", "C", "Z", "X", "V", "G"},
    {"K", "KK", "H", "U", "UU", "Y", "I", ";", ";;", "N", "NN", "J", "L", "LL", "O", "0", "'", "P", "M"},
    {"K", "KK", "H", "U", "UU", "Y", "I", ";", ";;", "N", "NN", "J", "L", "LL", "O", "0", "'", "P", "M"},
};
constexpr const char* kVowels[3][21] = {
    {"K", "O", "I", "#O", "J", "P", "U", "#P", "H", "HK", "HO", "HL", "Y", "N", "NJ", "NP", "NL", "B", "M", "ML", "L"},
    {"F", "R", "6", "#R", "T", "C", "E", "7", "V", "VF", "VR", "VD", "4", "B", "BT", "BC", "BD", "5", "G", "8", "D"},
    {"F", "R", "6", "#G", "T", "C", "E", "7", "V", "VF", "VR", "VD", "4", "B", "BT", "BC", "BD", "5", "G", "8", "D"},
};
// Index 0: no final consonant.
constexpr const char* kFinals[3][28] = {
    {"",   "R",  "#R", "RT", "S",  "SW", "SG", "E",  "F",  "FR", "FA", "FQ", "FT", "FX",
     "FV", "FG", "A",  "Q",  "QT", "T",  "#T", "D",  "W",  "C",  "Z",  "X",  "V",  "G"},
    {"",   "X",   "#F", "XQ", "S",  "S#1", "#S", "#A", "W",  "#D", "#C", "W3", "WQ", "W#W",
     "W#Q", "#V", "Z",  "3",  "3Q", "Q",   "2",  "A",  "#1", "#Z", "E",  "#W", "#Q", "1"},
    {"",   "X",  "#1", "XQ", "S",  "S#3", "S1", "#A", "W",  "#2", "#F", "W3", "WQ", "#5",
     "#4", "#R", "Z",  "3",  "3Q", "Q",   "2",  "A",  "#3", "#Z", "#C", "#W", "#Q", "1"},
};

// Virtual key and shift of the printable ASCII punctuation, as on a US keyboard.
struct CharKey {
    char ch;
    uint8_t vk;
    bool shift;
};
constexpr CharKey kPunctuation[] = {
    {'!', '1', true},   {'"', 0xDE, true},  {'#', '3', true},   {'$', '4', true},   {'%', '5', true},
    {'&', '7', true},   {'\'', 0xDE, false}, {'(', '9', true},  {')', '0', true},   {'*', '8', true},
    {'+', 0xBB, true},  {',', 0xBC, false}, {'-', 0xBD, false}, {'.', 0xBE, false}, {'/', 0xBF, false},
    {':', 0xBA, true},  {';', 0xBA, false}, {'<', 0xBC, true},  {'=', 0xBB, false}, {'>', 0xBE, true},
    {'?', 0xBF, true},  {'@', '2', true},   {'[', 0xDB, false}, {'\\', 0xDC, false}, {']', 0xDD, false},
    {'^', '6', true},   {'_', 0xBD, true},  {'`', 0xC0, false}, {'{', 0xDB, true},  {'|', 0xDC, true},
    {'}', 0xDD, true},  {'~', 0xC0, true},
};
// clang-format on

// Two-byte CP949 codes that can hold a Hangul syllable: the KS X 1001 block (lead 0xB0..0xC8) and the extended
// syllables of the code page (lead 0x81..0xC6). Entry (lead - 0x81) * 256 + trail holds the syllable's offset from
// U+AC00 plus one, 0 for every other character.
constexpr int kFirstLead = 0x81;
constexpr int kLastLead = 0xC8;
using SyllableTable = std::array<uint16_t, (kLastLead - kFirstLead + 1) * 256>;

// Whether (lead, trail) lies in one of the code page's syllable blocks. Only these codes are converted: every one of
// them is assigned, so the converter never sees an unassigned code.
bool InSyllableBlock(int lead, int trail) {
    const bool letterTrail = (trail >= 0x41 && trail <= 0x5A) || (trail >= 0x61 && trail <= 0x7A);
    if (lead >= 0xB0 && lead <= 0xC8 && trail >= 0xA1 && trail <= 0xFE) return true; // KS X 1001
    if (lead >= 0x81 && lead <= 0xA0) return letterTrail || (trail >= 0x81 && trail <= 0xFE);
    if (lead >= 0xA1 && lead <= 0xC5) return letterTrail || (trail >= 0x81 && trail <= 0xA0);
    return lead == 0xC6 && trail >= 0x41 && trail <= 0x52; // the last extended syllables end at 0xC652
}

SyllableTable BuildSyllableTable() {
    SyllableTable table{};
    for (int lead = kFirstLead; lead <= kLastLead; ++lead) {
        for (int trail = 0x41; trail <= 0xFE; ++trail) {
            if (!InSyllableBlock(lead, trail)) continue;
            const char code[2] = {static_cast<char>(lead), static_cast<char>(trail)};
            const std::string u = Cp949ToUtf8(std::string_view(code, 2));
            if (u.size() != 3) continue;
            const auto b0 = static_cast<unsigned char>(u[0]);
            const auto b1 = static_cast<unsigned char>(u[1]);
            const auto b2 = static_cast<unsigned char>(u[2]);
            const unsigned cp = ((b0 & 0x0Fu) << 12) | ((b1 & 0x3Fu) << 6) | (b2 & 0x3Fu);
            if (cp >= 0xAC00 && cp <= 0xD7A3)
                table[static_cast<std::size_t>((lead - kFirstLead) * 256 + trail)] =
                    static_cast<uint16_t>(cp - 0xAC00 + 1);
        }
    }
    return table;
}

// Offset of the syllable from U+AC00, or -1 when the code is not a Hangul syllable. Built once, on first use.
int SyllableOffset(uint8_t lead, uint8_t trail) {
    static const SyllableTable table = BuildSyllableTable();
    if (lead < kFirstLead || lead > kLastLead) return -1;
    return table[static_cast<std::size_t>((lead - kFirstLead) * 256 + trail)] - 1;
}

// Key of one character of a layout table entry; 0 for a character the notation does not use.
uint8_t LayoutKey(char c) {
    if ((c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9')) return static_cast<uint8_t>(c);
    switch (c) {
    case ';':
        return 0xBA;
    case '\'':
        return 0xDE;
    case '/':
        return 0xBF;
    default:
        return 0;
    }
}

} // namespace

void Typist::TypeChar(uint8_t c) {
    synth_.SetImeHangul(false);
    uint8_t vk = c;
    bool shift = false;
    if (c >= 'a' && c <= 'z') {
        vk = static_cast<uint8_t>(c - 'a' + 'A');
    } else if (c >= 'A' && c <= 'Z') {
        shift = true;
    } else if (c == '\n') {
        // A line break of a multi-line text (its CR is skipped) is the main Enter key; 0x0A is no key at all. It is
        // sent without the extended flag, which would make it the keypad's Enter.
        synth_.TypeKey(platform::VK_RETURN, false, false);
        return;
    } else {
        const auto* it = std::find_if(std::begin(kPunctuation), std::end(kPunctuation),
                                      [c](const CharKey& k) { return static_cast<uint8_t>(k.ch) == c; });
        if (it != std::end(kPunctuation)) {
            vk = it->vk;
            shift = it->shift;
        }
    }
    synth_.TypeKey(vk, shift);
}

void Typist::TypeHangulSyllable(uint8_t lead, uint8_t trail, int hangulKeyboard) {
    const int s = SyllableOffset(lead, trail);
    // Symbols, Hanja and lone jamo have no key sequence in the layouts: nothing is typed, and the input method is
    // left alone rather than switched (up to 660 ms) for no key.
    if (s < 0) return;
    synth_.SetImeHangul(true);
    if (hangulKeyboard < Hangul2Set || hangulKeyboard > Hangul3SetFinal) return;
    TypeKeySequence(kInitials[hangulKeyboard][s / 588]);
    TypeKeySequence(kVowels[hangulKeyboard][s % 588 / 28]);
    TypeKeySequence(kFinals[hangulKeyboard][s % 28]);
}

void Typist::TypeKeySequence(std::string_view sequence) {
    bool shift = false;
    for (const char c : sequence) {
        if (c == '#') {
            shift = true;
            continue;
        }
        const uint8_t vk = LayoutKey(c);
        if (vk != 0) synth_.TypeKey(vk, shift);
        shift = false;
    }
}

void Typist::TypeNumber(int32_t n) {
    char buf[16];
    std::snprintf(buf, sizeof buf, "%d", static_cast<int>(n));
    for (const char* p = buf; *p != '\0'; ++p) TypeChar(static_cast<uint8_t>(*p));
}

bool Typist::StepString(const MacroItem& item, int32_t& itemProgress, int32_t& sequenceNumber, int hangulKeyboard) {
    if (item.textFlags() & TextComment) return true;
    // The stored length and the buffer agree for every well-formed item; never read past either.
    const std::string& text = item.text();
    const auto end = static_cast<int64_t>(
        std::min<std::size_t>(text.size(), static_cast<std::size_t>(std::max<int32_t>(item.textLength(), 0))));
    int64_t p = itemProgress;
    if (p < 0 || p >= end) {
        itemProgress = 0;
        return true;
    }
    const auto c = static_cast<uint8_t>(text[static_cast<std::size_t>(p)]);
    const int32_t flags = item.textFlags();
    if (c >= 0x80) {
        // A lead byte at the very end pairs with the terminating NUL.
        const auto trail = p + 1 < end ? static_cast<uint8_t>(text[static_cast<std::size_t>(p + 1)]) : uint8_t{0};
        TypeHangulSyllable(c, trail, hangulKeyboard);
        p += 2;
    } else if (c < 7 || c == '\r') {
        p += 1;
    } else if ((flags & TextRandom) && c == '#') {
        TypeChar(static_cast<uint8_t>('A' + random_.Next() % 26));
        p += 1;
    } else if ((flags & TextRandom) && c == '*') {
        TypeChar(static_cast<uint8_t>('a' + random_.Next() % 26));
        p += 1;
    } else if ((flags & TextRandom) && c == '?') {
        TypeChar(static_cast<uint8_t>('0' + random_.Next() % 10));
        p += 1;
    } else if ((flags & TextSequence) && c == '$') {
        const int32_t n = sequenceNumber;
        sequenceNumber = static_cast<int32_t>(static_cast<uint32_t>(n) + 1u); // wraps instead of overflowing
        TypeNumber(n);
        p += 1;
    } else {
        TypeChar(c);
        p += 1;
    }
    itemProgress = static_cast<int32_t>(p);
    return false;
}

} // namespace quillet
