#include "editing/condition_dialog.h"

#include <algorithm>
#include <cmath>
#include <filesystem>

#include "editing/item_dialogs.h"
#include "model/cp949.h"
#include "model/item_text.h"
#include "model/key_table.h"
#include "model/text_fill.h"
#include "model/texts.h"

namespace quillet {

namespace {

constexpr std::size_t kHintBytesMax = 1023;
constexpr std::size_t kPathBytesMax = 254;

// A capture hint: formatUtf8 with the capture key's name for %1.
std::string Hint(int code, const char* formatUtf8) {
    std::string text = FillText(TrCp949(formatUtf8), {KeyLongName(code)});
    text.resize(Cp949HeadLength(text, kHintBytesMax));
    return text;
}

int Wrap(int64_t v, int64_t n) {
    return static_cast<int>(((v % n) + n) % n);
}

int32_t Coordinate(const std::string& text) {
    return std::clamp(ReadSignedField(text), -32768, 32767);
}

// Loads one side of the hotkey page from a key condition.
void LoadKey(HotkeyPageModel::Side& side, bool on, int32_t key) {
    side.on = on;
    side.keyIndex = KeyIndexOf(key & 0xFF);
    side.onPress = (key & KeyRelease) == 0;
    side.ctrl = (key & KeyCtrl) != 0;
    side.alt = (key & KeyAlt) != 0;
    side.shift = (key & KeyShift) != 0;
    side.modifiers = (key & KeyExactModifiers) != 0;
}

// The key condition a side stands for: a selected key replaces the code and clears every other bit; without a
// selection the stored word stays, and the options are added to it.
int32_t ApplyKey(const HotkeyPageModel::Side& side, int32_t key) {
    if (side.keyIndex >= 0) key = KeyCodeAt(side.keyIndex);
    if (!side.onPress) key |= KeyRelease;
    if (side.ctrl) key |= KeyCtrl;
    if (side.alt) key |= KeyAlt;
    if (side.shift) key |= KeyShift;
    if (side.modifiers) key |= KeyExactModifiers;
    return key;
}

void LoadColor(ColorPageModel::Side& side, bool on, int32_t color, int32_t pos) {
    side.on = on;
    side.SetColor(static_cast<uint32_t>(color) & 0xFFFFFF);
    side.x = std::to_string(PointX(pos));
    side.y = std::to_string(PointY(pos));
}

bool CaptureColor(ColorPageModel::Side& side, platform::InputOutput& io, platform::Screen& screen) {
    platform::ScreenPoint cursor;
    if (!io.CursorPos(cursor)) return false;
    const uint32_t pixel = screen.Pixel(cursor.x, cursor.y);
    if (pixel != platform::CLR_INVALID) side.SetColor(pixel);
    side.x = std::to_string(cursor.x);
    side.y = std::to_string(cursor.y);
    return true;
}

bool SameFolderName(char a, char b) {
#ifdef _WIN32
    const auto lower = [](char c) { return c >= 'A' && c <= 'Z' ? static_cast<char>(c - 'A' + 'a') : c; };
    const auto sep = [](char c) { return c == '\\' ? '/' : c; };
    return lower(sep(a)) == lower(sep(b));
#else
    return a == b;
#endif
}

bool IsSeparator(char c) {
#ifdef _WIN32
    return c == '/' || c == '\\';
#else
    return c == '/';
#endif
}

} // namespace

std::string HotkeyPageModel::Side::PressCaption() const {
    return TrCp949(onPress ? "누를 때" : "뗄 때");
}

void TimePageModel::Rows(int form, int32_t t, int& hour, int& minute, int& second) {
    hour = form == 3 ? Wrap(t / 3600, 24) + 1 : 0;
    minute = form >= 2 ? Wrap(t / 60, 60) + 1 : 0;
    second = form >= 1 ? Wrap(t, 60) + 1 : 0;
}

void TimePageModel::FromRows(int hour, int minute, int second, int& form, int32_t& t) {
    // The seconds decide first; an hour without minutes is dropped.
    if (second < 1) {
        form = 0;
        t = 0;
    } else if (minute < 1) {
        form = 1;
        t = second - 1;
    } else if (hour < 1) {
        form = 2;
        t = (minute - 1) * 60 + (second - 1);
    } else {
        form = 3;
        t = (hour - 1) * 3600 + (minute - 1) * 60 + (second - 1);
    }
}

uint32_t ColorPageModel::Side::Swatch() const {
    const auto channel = [](const std::string& t) { return static_cast<uint32_t>(ReadUnsignedField(t, 255)); };
    return channel(red) | channel(green) << 8 | channel(blue) << 16;
}

void ColorPageModel::Side::SetColor(uint32_t bgr) {
    red = std::to_string(bgr & 0xFF);
    green = std::to_string((bgr >> 8) & 0xFF);
    blue = std::to_string((bgr >> 16) & 0xFF);
}

std::string ImagePageModel::PathForChosen(std::string chosen, std::string currentDir) {
    while (currentDir.size() > 1 && IsSeparator(currentDir.back())) currentDir.pop_back();
    if (!currentDir.empty() && chosen.size() > currentDir.size() + 1 && IsSeparator(chosen[currentDir.size()]) &&
        std::equal(currentDir.begin(), currentDir.end(), chosen.begin(), SameFolderName)) {
        chosen.erase(0, currentDir.size() + 1);
    }
    // The file name is what follows the last separator; an extension is a dot in it that is not its first byte.
    std::size_t nameStart = 0;
    for (std::size_t i = 0; i < chosen.size(); ++i)
        if (IsSeparator(chosen[i])) nameStart = i + 1;
    const std::size_t dot = chosen.find_last_of('.');
    if (dot == std::string::npos || dot <= nameStart) chosen += ".bmp";
    return chosen;
}

platform::ScreenRect ImagePageModel::PreviewRect(int c, int r, int w, int h) {
    if (c <= 0 || r <= 0 || w <= 0 || h <= 0) return {};
    const double fx = static_cast<double>(c) / w;
    const double fy = static_cast<double>(r) / h;
    int dw = c, dh = r;
    if (fx > 1.0 || fy > 1.0) {
        const double k = fx > fy ? 1.0 / fx : 1.0 / fy;
        dw = static_cast<int>(std::round(c * k));
        dh = static_cast<int>(std::round(r * k));
    }
    return {(w - dw) / 2, (h - dh) / 2, dw, dh};
}

// --- The dialog ----------------------------------------------------------------------------------------------------

ConditionDialogModel::ConditionDialogModel(Macro& macro, CAppIni& settings) : macro_(macro), settings_(settings) {
    const int32_t f = macro_.flags;
    hotkeys.autoStart = (f & FlagAutoStart) != 0;
    LoadKey(hotkeys.start, (f & FlagStartKey) != 0, macro_.startKey);
    LoadKey(hotkeys.stop, (f & FlagStopKey) != 0, macro_.stopKey);

    times.on = (f & FlagTimeWindow) != 0;
    TimePageModel::Rows(macro_.startTimeForm(), macro_.startTime, times.startHour, times.startMinute,
                        times.startSecond);
    TimePageModel::Rows(macro_.stopTimeForm(), macro_.stopTime, times.stopHour, times.stopMinute, times.stopSecond);

    colors.onChange = (f & FlagColorOnChange) != 0;
    LoadColor(colors.start, (f & FlagStartColor) != 0, macro_.startColor, macro_.startColorPos);
    LoadColor(colors.stop, (f & FlagStopColor) != 0, macro_.stopColor, macro_.stopColorPos);
    colors.tolerance = std::to_string(std::clamp(macro_.colorTolerance, 0, 255));

    images.on = (f & FlagStartImage) != 0;
    images.onChange = (f & FlagImageOnChange) != 0;
    images.path = macro_.imagePath;
    images.storedPath = macro_.imagePath;
    images.startX = std::to_string(PointX(macro_.imageRectStart));
    images.startY = std::to_string(PointY(macro_.imageRectStart));
    images.endX = std::to_string(PointX(macro_.imageRectEnd));
    images.endY = std::to_string(PointY(macro_.imageRectEnd));
    images.threshold = std::to_string(std::clamp(macro_.imageOptions & ImageThresholdMask, 1, 100));
    images.moveMouse = (macro_.imageOptions & ImageMoveMouse) != 0;
}

int ConditionDialogModel::InitialPage() const {
    return std::clamp<int>(settings_.startTabSel, 0, PageCount - 1);
}

void ConditionDialogModel::Closing(int page) {
    settings_.startTabSel = std::clamp<int>(page, 0, PageCount - 1);
}

void ConditionDialogModel::SetStartOnPress(bool onPress) {
    hotkeys.start.onPress = onPress;
    macro_.startKey = onPress ? macro_.startKey & ~KeyRelease : macro_.startKey | KeyRelease;
}

void ConditionDialogModel::SetStopOnPress(bool onPress) {
    hotkeys.stop.onPress = onPress;
    macro_.stopKey = onPress ? macro_.stopKey & ~KeyRelease : macro_.stopKey | KeyRelease;
}

int ConditionDialogModel::KeyRowFor(int code) {
    return KeyIndexOf(code);
}

std::string ConditionDialogModel::ColorStartHint() const {
    return Hint(settings_.keyMacroColorStart, "%1를 눌러 화면 색인식 시작 색과 마우스 위치를 캡쳐합니다.");
}

std::string ConditionDialogModel::ColorStopHint() const {
    return Hint(settings_.keyMacroColorStop, "%1를 눌러 화면 색인식 중지 색과 마우스 위치를 캡쳐합니다.");
}

std::string ConditionDialogModel::ImageStartHint() const {
    return Hint(settings_.keyMacroColorStart, "%1를 눌러 화면 검색영역 시작 위치를 캡쳐합니다.");
}

std::string ConditionDialogModel::ImageStopHint() const {
    return Hint(settings_.keyMacroColorStop, "%1를 눌러 화면 검색영역 끝 위치를 캡쳐합니다.");
}

bool ConditionDialogModel::OnInput(int code, bool isPress, int visiblePage, platform::InputOutput& io,
                                   platform::Screen& screen) {
    if (!isPress) return false;
    bool changed = false;
    if (visiblePage == Colors) {
        if (colors.start.on && code == settings_.keyMacroColorStart) changed |= CaptureColor(colors.start, io, screen);
        if (colors.stop.on && code == settings_.keyMacroColorStop) changed |= CaptureColor(colors.stop, io, screen);
    } else if (visiblePage == Images && images.on) {
        platform::ScreenPoint cursor;
        // One key set for both corners fills both.
        if ((code == settings_.keyMacroColorStart || code == settings_.keyMacroColorStop) && io.CursorPos(cursor)) {
            if (code == settings_.keyMacroColorStart) {
                images.startX = std::to_string(cursor.x);
                images.startY = std::to_string(cursor.y);
            }
            if (code == settings_.keyMacroColorStop) {
                images.endX = std::to_string(cursor.x);
                images.endY = std::to_string(cursor.y);
            }
            changed = true;
        }
    }
    return changed;
}

void ConditionDialogModel::Accept() {
    int32_t flags = macro_.flags & ~0xFFFF; // the repeat count stays
    // Hotkeys.
    macro_.startKey = ApplyKey(hotkeys.start, macro_.startKey);
    macro_.stopKey = ApplyKey(hotkeys.stop, macro_.stopKey);
    if (hotkeys.autoStart) flags |= FlagAutoStart;
    if (hotkeys.start.on) flags |= FlagStartKey;
    if (hotkeys.stop.on) flags |= FlagStopKey;
    // Clock window.
    int startForm = 0, stopForm = 0;
    TimePageModel::FromRows(times.startHour, times.startMinute, times.startSecond, startForm, macro_.startTime);
    TimePageModel::FromRows(times.stopHour, times.stopMinute, times.stopSecond, stopForm, macro_.stopTime);
    flags |= (startForm | stopForm * 4) * 256;
    if (times.on) flags |= FlagTimeWindow;
    // Colours.
    macro_.startColor = static_cast<int32_t>(colors.start.Swatch());
    macro_.stopColor = static_cast<int32_t>(colors.stop.Swatch());
    macro_.startColorPos = PackPoint(Coordinate(colors.start.x), Coordinate(colors.start.y));
    macro_.stopColorPos = PackPoint(Coordinate(colors.stop.x), Coordinate(colors.stop.y));
    macro_.colorTolerance = ReadUnsignedField(colors.tolerance, 255);
    if (colors.start.on) flags |= FlagStartColor;
    if (colors.stop.on) flags |= FlagStopColor;
    if (colors.onChange) flags |= FlagColorOnChange;
    // Image.
    if (images.on) flags |= FlagStartImage;
    if (images.onChange) flags |= FlagImageOnChange;
    std::string path = images.path;
    path.resize(Cp949HeadLength(path, kPathBytesMax));
    macro_.imagePath = path;
    macro_.imageRectStart = PackPoint(Coordinate(images.startX), Coordinate(images.startY));
    macro_.imageRectEnd = PackPoint(Coordinate(images.endX), Coordinate(images.endY));
    macro_.imageOptions =
        std::clamp(ReadUnsignedField(images.threshold, 100), 1, 100) | (images.moveMouse ? ImageMoveMouse : 0);
    macro_.flags = flags;
}

} // namespace quillet
