// The rules of the start/stop condition dialog, without widgets: its four pages (hotkeys, clock window, colours,
// image) loaded from a macro, their enable rules, the captures of live input, and OK, which clears the sixteen
// condition bits and applies the pages in order. The pages write nothing into the macro before OK, except the
// release toggles of the hotkey page, which write their bit at once (Cancel keeps that).
//
// Texts are CP949; number fields are kept as typed and read on OK (text that is not a number counts as 0).
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

#include "input/input_router.h"
#include "model/macro.h"
#include "model/settings.h"
#include "platform/platform.h"

namespace quillet {

// The hotkey page (143).
// Live input of the condition dialog (its key captures and colour picks), and its consumer on the router.
class ConditionInputConsumer {
public:
    virtual ~ConditionInputConsumer() = default;
    virtual void OnConditionInputEvent(int code, bool isPress, bool fromKeyboard) = 0;
};

class ConditionCapture final : public InputConsumer {
public:
    explicit ConditionCapture(ConditionInputConsumer& dialog) : dialog_(dialog) {}
    InputKinds kinds() const override { return InputKinds::Both; }
    void OnInput(const InputEvent& e) override { dialog_.OnConditionInputEvent(e.code, e.isPress, e.fromKeyboard); }

private:
    ConditionInputConsumer& dialog_;
};

struct HotkeyPageModel {
    bool autoStart = false; // 1043
    // One side: start (1103, 1092, 1085, 1127, 1086..1088) or stop (1104, 1093, 1094, 1128, 1089..1091).
    struct Side {
        bool on = false;        // the side's check box
        int keyIndex = -1;      // the key list's row, -1 none
        bool onPress = true;    // the push-like toggle pressed in: "누를 때"; out: "뗄 때"
        bool modifiers = false; // "Modifier Key:"
        bool ctrl = false, alt = false, shift = false;
        bool keyEnabled() const { return on; }
        bool modifierBoxesEnabled() const { return on && modifiers; }
        std::string PressCaption() const; // "누를 때" / "뗄 때"
    };
    Side start, stop;
};

// The time page (144): list rows, 0 for "--", k for the number k - 1.
struct TimePageModel {
    bool on = false; // 1014; the six lists are enabled with it
    int startHour = 0, startMinute = 0, startSecond = 0;
    int stopHour = 0, stopMinute = 0, stopSecond = 0;
    // The rows that show time t in form f, and the form and time that rows give.
    static void Rows(int form, int32_t t, int& hour, int& minute, int& second);
    static void FromRows(int hour, int minute, int second, int& form, int32_t& t);
};

// The colour page (147).
struct ColorPageModel {
    bool onChange = false; // 1107
    struct Side {
        bool on = false; // 1105 / 1106; the side's fields and chooser follow it
        std::string red, green, blue, x, y;
        // The swatch from the three fields, each limited to 0..255.
        uint32_t Swatch() const;
        void SetColor(uint32_t bgr);
    };
    Side start, stop;
    std::string tolerance; // 1072, always enabled
};

// The image page (146).
struct ImagePageModel {
    bool on = false;       // 1001; the path, chooser, corners, threshold and 1107 follow it
    bool onChange = false; // 1107
    std::string path;      // 1069
    std::string startX, startY, endX, endY;
    std::string threshold;  // 1007, 1..100
    bool moveMouse = false; // 1108, always enabled
    std::string storedPath; // the macro's imagePath when the page opened

    // The file the chooser starts from: the stored imagePath, not the field's text, which may be half typed.
    const std::string& ChooserStartPath() const { return storedPath; }

    // The name to keep for a path chosen in the file chooser: relative to currentDir when it lies inside it (letter
    // case ignored where the file system ignores it), ".bmp" appended when the file name has no extension.
    static std::string PathForChosen(std::string chosen, std::string currentDir);
    // Where a picture of c x r pixels is drawn in a frame of w x h: reduced to fit and centred, never enlarged.
    static platform::ScreenRect PreviewRect(int c, int r, int w, int h);
};

class ConditionDialogModel {
public:
    enum Page { Hotkeys, Times, Colors, Images, PageCount };

    ConditionDialogModel(Macro& macro, CAppIni& settings);

    // The page shown first: startTabSel brought into 0..3.
    int InitialPage() const;
    // The dialog closes on this page (OK or Cancel): startTabSel := page.
    void Closing(int page);

    HotkeyPageModel hotkeys;
    TimePageModel times;
    ColorPageModel colors;
    ImagePageModel images;

    // The hotkey page's release toggle: its caption changes and the macro's release bit is written at once.
    void SetStartOnPress(bool onPress);
    void SetStopOnPress(bool onPress);
    // A key pressed while a key list has the focus (the page's 30 ms timer selects it): the list's row for code,
    // none when the key table lacks it.
    static int KeyRowFor(int code);

    // The capture hints of the colour and image pages (1046, 1047).
    std::string ColorStartHint() const;
    std::string ColorStopHint() const;
    std::string ImageStartHint() const;
    std::string ImageStopHint() const;

    // A key or button event while the dialog is open, with the page that is visible: the colour page takes the
    // pixel and position under the cursor for a side that is on; the image page (when on) takes the search area's
    // corners. True when a field changed.
    bool OnInput(int code, bool isPress, int visiblePage, platform::InputOutput& io, platform::Screen& screen);

    // OK: the sixteen condition bits cleared (the repeat count kept), then the pages applied in order.
    void Accept();

private:
    Macro& macro_;
    CAppIni& settings_;
};

} // namespace quillet
