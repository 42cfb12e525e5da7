// The rules of the item dialogs (keyboard, mouse, delay and wait, text, call, exclusive section, loop), without
// widgets. Each model opens on an item (type 0: a new item, which takes the values the dialog remembers from its
// last OK), holds what its controls show as plain fields, applies the dialog's enable rules, and on Accept either
// writes the item (and the remembered values) or names what is wrong. The dialog windows show these fields and
// forward the person's changes.
//
// Texts are CP949. Number fields are kept as the person typed them and read on Accept: text that is not a number
// counts as 0, as in every dialog of the program.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "input/input_router.h"
#include "model/macro.h"
#include "model/settings.h"
#include "platform/platform.h"

namespace quillet {

// What each item dialog remembers from its last OK, for the life of the program (never in the settings file). The
// session holds one for every editor.
// --- Live input of the item dialogs: what each dialog takes, and the router's consumer that applies its rule ---

// The delay/wait item dialog: key and button events for its colour capture.
class DelayItemInputConsumer {
public:
    virtual ~DelayItemInputConsumer() = default;
    // fromKeyboard: a key rather than a mouse button or wheel code.
    virtual void OnDelayCaptureKey(int code, bool isPress, bool fromKeyboard) = 0;
};

// The keyboard item dialog: a pressed key (code != 0) to store and take up in its 30 ms timer.
class KeyItemInputConsumer {
public:
    virtual ~KeyItemInputConsumer() = default;
    virtual void OnCapturedKey(int code) = 0;
};

// The mouse item dialog: the live cursor position for its fields, converted to absolute units when asked.
class MouseItemInputConsumer {
public:
    virtual ~MouseItemInputConsumer() = default;
    // The "resolution-independent position" check box.
    virtual bool NormalizedPositionChecked() const = 0;
    virtual void OnLivePosition(int32_t x, int32_t y) = 0;
};

// Key and button events, both kinds, as they come.
class DelayItemCapture final : public InputConsumer {
public:
    explicit DelayItemCapture(DelayItemInputConsumer& dialog) : dialog_(dialog) {}
    InputKinds kinds() const override { return InputKinds::Both; }
    void OnInput(const InputEvent& e) override { dialog_.OnDelayCaptureKey(e.code, e.isPress, e.fromKeyboard); }

private:
    DelayItemInputConsumer& dialog_;
};

// Keys only; only presses of a known key reach the dialog, releases are swallowed.
class KeyItemCapture final : public InputConsumer {
public:
    explicit KeyItemCapture(KeyItemInputConsumer& dialog) : dialog_(dialog) {}
    InputKinds kinds() const override { return InputKinds::Keys; }
    void OnInput(const InputEvent& e) override {
        if (e.code != 0 && e.isPress) dialog_.OnCapturedKey(e.code);
    }

private:
    KeyItemInputConsumer& dialog_;
};

// Mouse only; every event, movement included, refreshes the position, in absolute units when the dialog asks.
class MouseItemCapture final : public InputConsumer {
public:
    MouseItemCapture(MouseItemInputConsumer& dialog, platform::InputOutput& io) : dialog_(dialog), io_(io) {}
    InputKinds kinds() const override { return InputKinds::Mouse; }
    void OnInput(const InputEvent& e) override;

private:
    MouseItemInputConsumer& dialog_;
    platform::InputOutput& io_;
};

struct ItemDialogMemory {
    int32_t keyCode = 0x30; // the 0 key
    int32_t keyAction = 3;  // press and release
    int32_t mouseFlags = 0x8001;
    int32_t mouseX = 0;
    int32_t mouseY = 0;
    int32_t delayValue = 10;
    int32_t delayKind = 0;
    int32_t delayExtra = 0;
    int32_t textFlags = 0;
    int callIndex = 0;
    int32_t sectionEnter = 1;
    int loopKind = LoopEnter;
    int32_t loopStart = 0;
    int32_t loopStop = 10;
    int loopStep = 1;
};

// A number field as the dialogs read it: optional blanks, an optional sign and decimal digits, nothing else; anything
// else is 0. Saturates at the 32-bit range.
int32_t ReadSignedField(std::string_view text);
// The same for fields that take no sign ("-5" is 0), limited to at most limit.
int32_t ReadUnsignedField(std::string_view text, int32_t limit);
// An unsigned 32-bit field: 0..4294967295, larger numbers saturate there ("-5" and what is not a number are 0).
uint32_t ReadUnsigned32Field(std::string_view text);

// The three actions of the radio buttons "press and release", "press", "release"; 0 when none is checked.
inline constexpr int kActionClick = 3;
inline constexpr int kActionPress = 1;
inline constexpr int kActionRelease = 2;

// --- Keyboard (dialog 129) ---
class KeyboardItemModel {
public:
    KeyboardItemModel(MacroItem& item, ItemDialogMemory& memory, const CAppIni& settings);
    std::string Caption() const; // "키보드 이벤트 추가" / "키보드 이벤트 편집"
    bool isNew() const { return isNew_; }

    int keyIndex = -1;   // the key list's selection (the key table's row), -1 none
    int action = 0;      // kActionClick, kActionPress, kActionRelease, 0 none
    bool hangul = false; // "한글입력상태"
    bool hangulEnabled() const { return hangulEnabled_; }

    // A key a person pressed while the dialog is open (the 30 ms capture timer selects it in the list).
    void CaptureKey(int code);
    // Writes the item; a keyboard item is always accepted.
    void Accept();

private:
    MacroItem& item_;
    ItemDialogMemory& memory_;
    bool isNew_ = false;
    bool hangulEnabled_ = false;
};

// --- Mouse (dialog 131) ---
class MouseItemModel {
public:
    enum Button { NoButton, Left, Right, Middle, X1, X2 };
    MouseItemModel(MacroItem& item, ItemDialogMemory& memory, const CAppIni& settings);
    std::string Caption() const;         // "마우스 이벤트 추가" / "마우스 이벤트 편집"
    std::string CaptureHint() const;     // "%1를 눌러 커서 위치를 획득합니다." with the capture key
    std::string PositionCaption() const; // "절대위치:" or "상대위치:"
    bool isNew() const { return isNew_; }

    bool position = false;   // 1011: the item moves the cursor
    std::string x, y;        // 1031, 1032
    bool wheel = false;      // 1012
    std::string wheelAmount; // 1033
    int button = NoButton;   // 1040
    int action = kActionClick;
    bool absolute = false;   // 1018
    bool normalized = false; // 1017
    bool normalizedEnabled() const { return absolute; }
    // 1018 clicked: a relative position never carries the normalised bit.
    void SetAbsolute(bool on);

    // The flags the controls stand for.
    int32_t Flags() const;
    // Writes the item and the remembered values; the message when nothing at all is chosen.
    std::optional<std::string> Accept();

private:
    MacroItem& item_;
    ItemDialogMemory& memory_;
    const CAppIni& settings_;
    bool isNew_ = false;
};

// --- Delay and wait (dialog 130) ---
class DelayItemModel {
public:
    enum Kind { Time, Clock, Key, Color, NoKind };
    DelayItemModel(MacroItem& item, ItemDialogMemory& memory, const CAppIni& settings);
    std::string Caption() const;                    // "대기/시간지연 추가" / "대기/시간지연 편집"
    std::string CaptureHint() const;                // "%1를 눌러 화면 색과 마우스 위치를 캡쳐합니다."
    static std::vector<std::string> RandomLevels(); // "+- 0%" ... "+- 100%"
    bool isNew() const { return isNew_; }

    int kind = Time;
    // Which controls are enabled: the group of the checked radio; the modifier boxes only with 1123.
    bool Enabled(Kind group) const { return kind == group; }
    bool modifierBoxesEnabled() const { return kind == Key && modifiersRequired; }

    std::string seconds;            // 1006
    int randomLevel = 0;            // 1049 position, -1 none
    int hour = 0;                   // 1016 position: 0 "--", p > 0 the number p - 1
    int minute = 0;                 // 1019
    int second = 0;                 // 1020
    int keyIndex = -1;              // 1110
    bool onPress = true;            // 1111: "누를 때" / "뗄 때"
    bool modifiersRequired = false; // 1123
    bool ctrl = false, alt = false, shift = false;
    std::string red, green, blue;     // 1115..1117
    std::string posX, posY;           // 1118, 1119
    std::string tolerance;            // 1120
    std::string PressCaption() const; // "누를 때" / "뗄 때"
    // The swatch's colour 0x00BBGGRR from the three fields, each clamped to 0..255.
    uint32_t SwatchColor() const;
    void SetColor(uint32_t bgr); // from the colour chooser

    // A key a person pressed while choosing in the key list (1110): its row, none for a key the table lacks.
    void CaptureKey(int code);
    // The colour capture key (keyMacroColorStart, a key, button or wheel code; presses only) while the colour radio
    // is checked: the pixel under the cursor and its position. True when something was written.
    bool Capture(int code, bool isPress, platform::InputOutput& io, platform::Screen& screen);
    // Writes the item and the remembered values; the message when the clock has no seconds.
    std::optional<std::string> Accept();

private:
    MacroItem& item_;
    ItemDialogMemory& memory_;
    const CAppIni& settings_;
    bool isNew_ = false;
};

// --- Text (dialog 134) ---
class StringItemModel {
public:
    StringItemModel(MacroItem& item, ItemDialogMemory& memory);
    std::string Caption() const; // "문자열 추가" / "문자열 편집"
    bool isNew() const { return isNew_; }
    std::string text;      // CP949, line breaks CR LF
    bool comment = false;  // 1014
    bool random = false;   // 1011, enabled only while comment is clear
    bool sequence = false; // 1012
    bool optionsEnabled() const { return !comment; }
    std::optional<std::string> Accept(); // "문자열이 비어 있습니다."

private:
    MacroItem& item_;
    ItemDialogMemory& memory_;
    bool isNew_ = false;
};

// --- Call (dialog 135) ---
class CallItemModel {
public:
    // ownIndex: the edited macro's index in the library (the library's size for a new one).
    CallItemModel(MacroItem& item, ItemDialogMemory& memory, const MacroLibrary& library, int ownIndex);
    std::string Caption() const; // "매크로 호출 추가" / "매크로 호출 편집"
    bool isNew() const { return isNew_; }
    std::vector<std::string> Names() const;
    int selection = -1;        // 1042
    int mode = CallSequential; // 1057, 1058, 1059
    // "호출할 매크로가 선택되지 않았습니다." / "자기 자신을 호출할 수 없습니다."
    std::optional<std::string> Accept();

private:
    MacroItem& item_;
    ItemDialogMemory& memory_;
    const MacroLibrary& library_;
    int ownIndex_;
    bool isNew_ = false;
};

// --- Exclusive section (dialog 137) ---
class ExclusiveItemModel {
public:
    ExclusiveItemModel(MacroItem& item, ItemDialogMemory& memory);
    std::string Caption() const; // "독점실행구간 추가" / "독점실행구간 편집"
    bool isNew() const { return isNew_; }
    bool enter = true; // 1047 (enter) or 1048 (leave)
    void Accept();

private:
    MacroItem& item_;
    ItemDialogMemory& memory_;
    bool isNew_ = false;
};

// --- Loop (dialog 138) ---
class LoopItemModel {
public:
    LoopItemModel(MacroItem& item, ItemDialogMemory& memory);
    std::string Caption() const; // "반복구간 추가" / "반복구간 편집"
    bool isNew() const { return isNew_; }
    int kind = LoopEnter; // LoopEnter, LoopOutputKeys, LoopOutputX, LoopOutputY, LoopLeave; -1 none
    bool askUser = false; // shown out of sight, never read
    std::string start, stop, step;
    // "반복구간의 간격이 0보다 커야 합니다." / "반복구간의 간격이 0보다 작아야 합니다."
    std::optional<std::string> Accept();

private:
    MacroItem& item_;
    ItemDialogMemory& memory_;
    bool isNew_ = false;
};

} // namespace quillet
