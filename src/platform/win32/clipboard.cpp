#include "platform/win32/clipboard.h"

#include <algorithm>
#include <cstring>

#include <windows.h>

namespace quillet::platform::win32 {
namespace {

constexpr UINT kCp949 = 949;
constexpr LCID kKorean = 0x0412;

// A movable global block (what SetClipboardData takes) filled by fill(pointer); null on failure.
template <typename Fill> HGLOBAL MakeBlock(std::size_t bytes, Fill fill) {
    HGLOBAL block = GlobalAlloc(GMEM_MOVEABLE, bytes);
    if (block == nullptr) return nullptr;
    void* p = GlobalLock(block);
    if (p == nullptr) {
        GlobalFree(block);
        return nullptr;
    }
    fill(p);
    GlobalUnlock(block);
    return block;
}

} // namespace

bool PutCp949TextOnClipboard(void* owner, std::string_view cp949) {
    // The text stops at a NUL, as CF_TEXT would read it.
    const std::string_view text = cp949.substr(0, std::min(cp949.size(), cp949.find('\0')));
    const int length = static_cast<int>(text.size());
    const int wideLength = length == 0 ? 0 : MultiByteToWideChar(kCp949, 0, text.data(), length, nullptr, 0);

    HGLOBAL bytes = MakeBlock(text.size() + 1, [&](void* p) {
        std::memcpy(p, text.data(), text.size());
        static_cast<char*>(p)[text.size()] = '\0';
    });
    HGLOBAL wide = MakeBlock((static_cast<std::size_t>(wideLength) + 1) * sizeof(wchar_t), [&](void* p) {
        auto* w = static_cast<wchar_t*>(p);
        if (wideLength > 0) MultiByteToWideChar(kCp949, 0, text.data(), length, w, wideLength);
        w[wideLength] = L'\0';
    });
    HGLOBAL locale = MakeBlock(sizeof(LCID), [](void* p) { std::memcpy(p, &kKorean, sizeof kKorean); });
    const auto freeAll = [&] {
        for (HGLOBAL block : {bytes, wide, locale})
            if (block != nullptr) GlobalFree(block);
    };
    if (bytes == nullptr || wide == nullptr || locale == nullptr || !OpenClipboard(static_cast<HWND>(owner))) {
        freeAll();
        return false;
    }
    EmptyClipboard();
    // A block the system took belongs to it; one it refused is still ours to free.
    if (SetClipboardData(CF_TEXT, bytes) != nullptr) bytes = nullptr;
    if (SetClipboardData(CF_UNICODETEXT, wide) != nullptr) wide = nullptr;
    if (SetClipboardData(CF_LOCALE, locale) != nullptr) locale = nullptr;
    CloseClipboard();
    const bool ok = bytes == nullptr && wide == nullptr;
    freeAll();
    return ok;
}

} // namespace quillet::platform::win32
