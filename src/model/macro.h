// Macro and item records: the data every other layer reads and writes.
#pragma once

#include <array>
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

namespace quillet {

// Longest name or path that fits a 256-byte buffer with its NUL.
inline constexpr std::size_t kNameMax = 255;
// Size of a name buffer in the stored form.
inline constexpr std::size_t kNameBufferSize = 256;

// KeyCondition bits (startKey, stopKey, wait-for-key items).
inline constexpr int32_t KeyCodeMask = 0xFF;
inline constexpr int32_t KeyRelease = 0x10000;
inline constexpr int32_t KeyCtrl = 0x20000;
inline constexpr int32_t KeyAlt = 0x40000;
inline constexpr int32_t KeyShift = 0x80000;
inline constexpr int32_t KeyModifiersMask = KeyCtrl | KeyAlt | KeyShift;
inline constexpr int32_t KeyExactModifiers = 0x100000;

// Macro::flags bits.
inline constexpr int32_t FlagAutoStart = 0x2;
inline constexpr int32_t FlagStartKey = 0x4;
inline constexpr int32_t FlagTimeWindow = 0x8;
inline constexpr int32_t FlagStartColor = 0x10;
inline constexpr int32_t FlagStopKey = 0x20;
inline constexpr int32_t FlagStopColor = 0x40;
inline constexpr int32_t FlagColorOnChange = 0x80;
inline constexpr int32_t FlagStartImage = 0x1000;
inline constexpr int32_t FlagImageOnChange = 0x2000;
inline constexpr int StartTimeFormShift = 8;
inline constexpr int StopTimeFormShift = 10;

// imageOptions bits.
inline constexpr int32_t ImageThresholdMask = 0xFFFF;
inline constexpr int32_t ImageMoveMouse = 0x10000;

// Item types.
enum ItemType : int32_t {
    ItemStart = 0,
    ItemKey = 1,
    ItemMouse = 2,
    ItemDelay = 3,
    ItemString = 4,
    ItemCall = 5,
    ItemExclusive = 6,
    ItemLoop = 7,
};

// keyAction bits.
inline constexpr int32_t ActionPress = 0x1;
inline constexpr int32_t ActionRelease = 0x2;
inline constexpr int32_t ActionHangul = 0x10;
inline constexpr int32_t ActionExtended = 0x20;

// mouseFlags bits (values of the Windows MOUSEEVENTF_* constants where one exists).
inline constexpr int32_t MouseMove = 0x0001;
inline constexpr int32_t MouseLeftDown = 0x0002;
inline constexpr int32_t MouseLeftUp = 0x0004;
inline constexpr int32_t MouseRightDown = 0x0008;
inline constexpr int32_t MouseRightUp = 0x0010;
inline constexpr int32_t MouseMiddleDown = 0x0020;
inline constexpr int32_t MouseMiddleUp = 0x0040;
inline constexpr int32_t MouseXDown = 0x0080;
inline constexpr int32_t MouseXUp = 0x0100;
inline constexpr int32_t MouseNormalized = 0x0200;
inline constexpr int32_t MouseWheel = 0x0800;
inline constexpr int32_t MouseAbsolute = 0x8000;
// Reserved absolute positions resolved at execution time.
inline constexpr int32_t PosStartCursor = 30000;
inline constexpr int32_t PosImageOrigin = 40000;

// Delay kinds (delayKind AND 0xF1).
inline constexpr int32_t DelayKindMask = 0xF1;
inline constexpr int32_t DelayTime = 0x00;
inline constexpr int32_t DelayClock = 0x01;
inline constexpr int32_t DelayKey = 0x10;
inline constexpr int32_t DelayColor = 0x20;

// textFlags bits.
inline constexpr int32_t TextRandom = 0x1;
inline constexpr int32_t TextSequence = 0x2;
inline constexpr int32_t TextComment = 0x10;

// callMode values.
inline constexpr int32_t CallSequential = 0;
inline constexpr int32_t CallParallel = 1;
inline constexpr int32_t CallStop = 2;

// loopKind values (bits 0..2) and the ask-user bit.
inline constexpr int LoopEnter = 0;
inline constexpr int LoopOutputKeys = 1;
inline constexpr int LoopOutputX = 2;
inline constexpr int LoopOutputY = 3;
inline constexpr int LoopLeave = 7;
inline constexpr int LoopKindMask = 7;
inline constexpr int LoopAskUser = 0x8;

// Packed point: x in the low, y in the high signed 16 bits.
struct Point {
    int32_t x = 0;
    int32_t y = 0;
    friend bool operator==(const Point&, const Point&) = default;
};
int32_t PackPoint(int32_t x, int32_t y); // clamps each coordinate to the int16 range
inline int32_t PackPoint(Point p) { return PackPoint(p.x, p.y); }
inline int32_t PointX(int32_t packed) { return static_cast<int16_t>(static_cast<uint32_t>(packed) & 0xFFFF); }
inline int32_t PointY(int32_t packed) { return static_cast<int16_t>(static_cast<uint32_t>(packed) >> 16); }
inline Point UnpackPoint(int32_t packed) { return {PointX(packed), PointY(packed)}; }

// Colour word 0x00BBGGRR.
inline int32_t ColorRed(int32_t c) { return c & 0xFF; }
inline int32_t ColorGreen(int32_t c) { return (c >> 8) & 0xFF; }
inline int32_t ColorBlue(int32_t c) { return (c >> 16) & 0xFF; }
inline int32_t MakeColor(int r, int g, int b) { return (r & 0xFF) | ((g & 0xFF) << 8) | ((b & 0xFF) << 16); }

// One step of a macro. The stored form is 24 bytes: type, 4 reserved bytes and 16 parameter bytes. The three
// parameter words at offsets 8, 12 and 16 are kept as read; offset 20 is reserved for every type. String and call
// items own a byte buffer (the text, or the called macro's name) that replaces the pointer slot of the stored form.
class MacroItem {
public:
    int32_t type = ItemStart;
    std::array<int32_t, 3> param{}; // bytes 8..11, 12..15, 16..19

    // ItemKey
    int32_t keyCode() const { return param[0]; }
    void setKeyCode(int32_t v) { param[0] = v; }
    int32_t keyAction() const { return param[1]; }
    void setKeyAction(int32_t v) { param[1] = v; }
    // ItemMouse
    int32_t mouseX() const { return param[0]; }
    void setMouseX(int32_t v) { param[0] = v; }
    int32_t mouseY() const { return param[1]; }
    void setMouseY(int32_t v) { param[1] = v; }
    int32_t mouseFlags() const { return param[2]; }
    void setMouseFlags(int32_t v) { param[2] = v; }
    // Wheel amount or X button number, bits 16..31 of mouseFlags as a signed 16-bit value.
    int32_t mouseData() const { return static_cast<int16_t>(static_cast<uint32_t>(param[2]) >> 16); }
    // ItemDelay
    int32_t delayValue() const { return param[0]; }
    void setDelayValue(int32_t v) { param[0] = v; }
    int32_t delayKind() const { return param[1]; }
    void setDelayKind(int32_t v) { param[1] = v; }
    // A clock wait's form, bits 1..2 of delayKind: 3 compares the time of day, 2 the time within the hour, 1 the
    // second within the minute, 0 nothing.
    int delayClockForm() const { return (param[1] >> 1) & 3; }
    int32_t delayExtra() const { return param[2]; }
    void setDelayExtra(int32_t v) { param[2] = v; }
    // ItemString: textLength is the stored length; text() is the owned buffer (without the NUL).
    int32_t textLength() const { return param[0]; }
    int32_t textFlags() const { return param[1]; }
    void setTextFlags(int32_t v) { param[1] = v; }
    const std::string& text() const { return buffer_; }
    void setText(std::string_view s); // sets textLength too
    // ItemCall: the called macro's name, at most 255 bytes.
    const std::string& calledName() const { return buffer_; }
    void setCalledName(std::string_view s); // cuts at the first NUL and at 255 bytes
    int32_t callMode() const { return param[2]; }
    void setCallMode(int32_t v) { param[2] = v; }
    // ItemExclusive
    int32_t sectionEnter() const { return param[0]; }
    void setSectionEnter(int32_t v) { param[0] = v; }
    // ItemLoop: loopKind (uint16) and loopStep (int16) share the word at offset 8.
    int loopKind() const { return static_cast<uint16_t>(static_cast<uint32_t>(param[0]) & 0xFFFF); }
    void setLoopKind(int v);
    int loopStep() const { return static_cast<int16_t>(static_cast<uint32_t>(param[0]) >> 16); }
    void setLoopStep(int v);
    int32_t loopStart() const { return param[1]; }
    void setLoopStart(int32_t v) { param[1] = v; }
    int32_t loopStop() const { return param[2]; }
    void setLoopStop(int32_t v) { param[2] = v; }

    // Raw access to the owned buffer for the file reader; keeps textLength as stored.
    std::string& buffer() { return buffer_; }

    friend bool operator==(const MacroItem&, const MacroItem&) = default;

private:
    std::string buffer_;
};

// Convenience constructors for items, used by the recorder, the editors and tests.
MacroItem MakeKeyItem(int keyCode, int32_t keyAction, int scanCode = 0);
MacroItem MakeMouseItem(int32_t x, int32_t y, int32_t flags);
MacroItem MakeDelayItem(int32_t value, int32_t kind, int32_t extra = 0);
MacroItem MakeStringItem(std::string_view text, int32_t flags = 0);
MacroItem MakeCallItem(std::string_view name, int32_t mode);
MacroItem MakeExclusiveItem(bool enter);
MacroItem MakeLoopItem(int kind, int step = 0, int32_t start = 0, int32_t stop = 0);

class Macro {
public:
    std::string name; // at most 255 bytes
    int32_t startKey = 0;
    int32_t stopKey = 0;
    int32_t startTime = 0;
    int32_t stopTime = 0;
    int32_t startColor = 0;
    int32_t stopColor = 0;
    int32_t colorTolerance = 10;
    int32_t startColorPos = 0;
    int32_t stopColorPos = 0;
    int32_t flags = 0;
    std::string imagePath; // at most 255 bytes
    int32_t imageOptions = 95;
    int32_t imageRectStart = 0;
    int32_t imageRectEnd = 0;
    std::vector<MacroItem> items;

    // Run state (never stored, never copied).
    int32_t runPos = -1;
    int32_t passCount = 0;
    bool lastStartColorMatch = false;
    bool lastStopColorMatch = false;
    bool lastImageMatch = false;
    int32_t delayLeft = 0;
    int32_t waitKey = 0;
    int32_t waitColor = 0;
    int32_t waitColorPos = 0;
    // Phase of the key and colour waits, kept apart from their values so that any key condition, colour and
    // position can be waited for: 0 none, 1 armed, 2 satisfied.
    uint8_t waitKeyPhase = 0;
    uint8_t waitColorPhase = 0;
    int32_t itemProgress = 0;
    std::array<uint8_t, 256> heldInputs{};
    bool holdsExclusive = false;
    std::vector<int32_t> loopCounters;
    Point startPos;
    Point originPos;

    Macro() = default;
    Macro(const Macro& other);
    Macro& operator=(const Macro& other);
    Macro(Macro&& other) noexcept = default;
    Macro& operator=(Macro&& other) noexcept = default;

    int32_t repeatCount() const { return static_cast<int32_t>(static_cast<uint32_t>(flags) >> 16); }
    void setRepeatCount(int32_t n) { flags = (flags & 0xFFFF) | static_cast<int32_t>(static_cast<uint32_t>(n) << 16); }
    int startTimeForm() const { return (flags >> StartTimeFormShift) & 3; }
    int stopTimeForm() const { return (flags >> StopTimeFormShift) & 3; }
    int itemCount() const { return static_cast<int>(items.size()); }

    // True when the stored fields (not the run state) are equal.
    bool SameContent(const Macro& other) const;

private:
    void CopyStoredFields(const Macro& other);
};

using MacroLibrary = std::vector<Macro>;

// Cuts a name or path to at most 255 bytes and at the first NUL.
std::string CutName(std::string_view s);

// A macro as the editor or recorder creates it: F2 / F3 hotkeys, one pass, one start item.
Macro MakeNewMacro(std::string name);

// Index of the first macro other than skipIndex whose name equals name byte for byte; -1 if none.
int FindMacroByName(const MacroLibrary& library, std::string_view name, int skipIndex = -1);

// The smallest "<format with %d>" name, from 1, not used in the library ("Macro %d", "Macro Copy %d", ...).
std::string UniqueMacroName(const MacroLibrary& library, const char* format);

// Exclusive sections and loops open and close in a balanced way.
bool IsWellFormed(const std::vector<MacroItem>& items);

// Copies step, body index and stop value of every loop enter into its matching loop leave.
void RelinkLoops(Macro& macro);

// Clears the run state (start and origin positions stay) and relinks the loops.
void ResetRunState(Macro& macro);

inline bool IsRunning(const Macro& m) { return m.runPos >= 0 && m.runPos < m.itemCount(); }

} // namespace quillet
