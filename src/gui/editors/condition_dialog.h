// The start/stop condition dialog (140) and its four pages: hotkeys (143), clock window (144), screen colours (147)
// and the image condition (146). Their rules live in ConditionDialogModel; these windows show the model's fields,
// forward what the person changes and take up the captures of live input.
//
// The dialog edits the macro it is given in place and only on OK (ConditionDialogModel::Accept), with one exception:
// the release toggles of the hotkey page write their bit into the macro at once, and Cancel keeps that. Whichever
// way it closes, the page shown is remembered in startTabSel for the next opening.
//
// While the dialog exists it takes every key and button event of the desktop from the session's router, above the
// windows opened before it: a key pressed while a key list has the focus is selected in that list 30 ms later, and
// the capture keys (keyMacroColorStart, keyMacroColorStop) fill the colour page's colour and position or the image
// page's search corners, wherever the cursor is.
#pragma once

#include <array>
#include <cstdint>
#include <memory>
#include <string>

#include <QFrame>
#include <QIcon>
#include <QImage>

#include "editing/condition_dialog.h"
#include "gui/widgets/dialog_common.h"
#include "input/input_router.h"
#include "session/session.h"

class QCheckBox;
class QComboBox;
class QLabel;
class QLineEdit;
class QPushButton;
class QTimer;

namespace quillet::gui {

class CColorSwatch;
class CTabDialog;

// --- Hotkey page (143) ---------------------------------------------------------------------------------------------

class CDialogMacroStartKey final : public CDialogCommon {
    Q_OBJECT
public:
    enum ControlId {
        IdAutoStart = 1043,      // "\"매크로 실행 가능\"이 선택될 때 이 매크로 자동시작"
        IdStartOn = 1103,        // "시작 단축키:"
        IdStartKey = 1092,       // the 147 key names
        IdStartPress = 1085,     // "누를 때" (pressed in) / "뗄 때" (out)
        IdStartModifiers = 1127, // "Modifier Key:"
        IdStartCtrl = 1086,
        IdStartAlt = 1087,
        IdStartShift = 1088,
        IdStopOn = 1104, // "중지 단축키:"
        IdStopKey = 1093,
        IdStopPress = 1094,
        IdStopModifiers = 1128,
        IdStopCtrl = 1089,
        IdStopAlt = 1090,
        IdStopShift = 1091,
    };
    // The delay between a key press on the desktop and its selection in the focused key list.
    static constexpr int kCaptureDelayMs = 30;

    // model must outlive the page.
    explicit CDialogMacroStartKey(ConditionDialogModel& model, QWidget* parent = nullptr);

    // A key pressed on the desktop while this page is shown: remembered for the key list that has the focus, and
    // selected there when the capture timer fires. Releases and code 0 are ignored.
    void OnKeyInput(int code, bool isPress);
    // Single-shot; (re)started by each remembered key.
    QTimer* captureTimer() const { return captureTimer_; }
    void OnCaptureTimer();

private:
    struct SideControls {
        QCheckBox* on = nullptr;
        QComboBox* key = nullptr;
        QPushButton* press = nullptr;
        QCheckBox* modifiers = nullptr;
        QCheckBox* ctrl = nullptr;
        QCheckBox* alt = nullptr;
        QCheckBox* shift = nullptr;
        int captured = -1; // the key waiting for the timer, -1 none
    };
    void BuildSide(SideControls& c, HotkeyPageModel::Side& side, bool start);
    void ApplyEnableRules();

    ConditionDialogModel& model_;
    SideControls start_, stop_;
    QTimer* captureTimer_ = nullptr;
};

// --- Time page (144) -----------------------------------------------------------------------------------------------

class CDialogMacroStartTime final : public CDialogCommon {
    Q_OBJECT
public:
    enum ControlId {
        IdOn = 1014, // "매크로 시작/중지에 시간 사용"
        IdStartHour = 1095,
        IdStartMinute = 1096,
        IdStartSecond = 1097,
        IdStopHour = 1021,
        IdStopMinute = 1022,
        IdStopSecond = 1023,
    };

    explicit CDialogMacroStartTime(ConditionDialogModel& model, QWidget* parent = nullptr);

private:
    void ApplyEnableRules();

    ConditionDialogModel& model_;
    QComboBox* lists_[6] = {};
};

// --- Colour page (147) ---------------------------------------------------------------------------------------------

class CDialogMacroStartColor final : public CDialogCommon {
    Q_OBJECT
public:
    enum ControlId {
        IdOnChange = 1107, // "바뀔 때 한 번만 적용"
        IdStartOn = 1105,  // "시작 색"
        IdStartRed = 1062,
        IdStartGreen = 1063,
        IdStartBlue = 1064,
        IdStartChoose = 1083, // "..."
        IdStartX = 1073,
        IdStartY = 1074,
        IdStartSwatch = 1098,
        IdStopOn = 1106, // "중지 색"
        IdStopRed = 1066,
        IdStopGreen = 1067,
        IdStopBlue = 1068,
        IdStopChoose = 1084,
        IdStopX = 1075,
        IdStopY = 1076,
        IdStopSwatch = 1099,
        IdTolerance = 1072,
        IdStartHint = 1046,
        IdStopHint = 1047,
    };

    explicit CDialogMacroStartColor(ConditionDialogModel& model, QWidget* parent = nullptr);

    // The fields and swatches from the model (after a capture).
    void ShowFields();
    // 1083 / 1084: the colour chooser, starting from the side's swatch; its choice goes into the three fields.
    void OnChooseColor(bool start);

    CColorSwatch* swatch(bool start) const { return start ? start_.swatch : stop_.swatch; }

private:
    struct SideControls {
        QCheckBox* on = nullptr;
        QLineEdit *red = nullptr, *green = nullptr, *blue = nullptr, *x = nullptr, *y = nullptr;
        QPushButton* choose = nullptr;
        CColorSwatch* swatch = nullptr;
    };
    void BuildSide(SideControls& c, ColorPageModel::Side& side, bool start);
    void ShowSide(const SideControls& c, const ColorPageModel::Side& side);
    void ApplyEnableRules();

    ConditionDialogModel& model_;
    SideControls start_, stop_;
};

// --- Image page (146) ----------------------------------------------------------------------------------------------

// The preview of the template: black, with the picture reduced to fit (never enlarged) and centred. Only 8-bit grey,
// 24-bit and 32-bit pictures are shown; a picture of other depth (16-bit grey, 48-bit colour) leaves it black.
class CImagePreview final : public QFrame {
    Q_OBJECT
public:
    explicit CImagePreview(QWidget* parent = nullptr);
    // Decodes the file at cp949Path (the bytes as the file system takes them); a path that cannot be read, or a
    // picture of a depth that is not shown, empties the preview. No message either way.
    void Load(const std::string& cp949Path);
    void Clear();
    // The decoded picture (null when none is shown) and where it is drawn in the frame.
    const QImage& image() const { return image_; }
    QRect DrawnRect() const;

protected:
    void paintEvent(QPaintEvent* event) override;

private:
    QImage image_;
};

class CDialogMacroStartPattern final : public CDialogCommon {
    Q_OBJECT
public:
    enum ControlId {
        IdOn = 1001,       // "매크로 시작에 이미지 매칭 사용"
        IdOnChange = 1107, // "찾은 후 한 번만 적용"
        IdPath = 1069,
        IdChoose = 1002, // "..."
        IdStartX = 1003,
        IdStartY = 1004,
        IdEndX = 1005,
        IdEndY = 1006,
        IdThreshold = 1007,
        IdMoveMouse = 1108, // "이미지 중앙으로 마우스 위치 설정"
        IdPreview = 1008,
        IdStartHint = 1046,
        IdStopHint = 1047,
    };
    // The open dialog's filter: pairs of description and pattern separated by bars.
    static constexpr const char* kFileFilter = "Image (*.BMP, *.GIF, *.JPG, *.PNG) | "
                                               "*.BMP;*.GIF;*.JPG;*.PNG;*.bmp;*.gif;*.jpg;*.png | All Files(*.*)|*.*||";

    explicit CDialogMacroStartPattern(ConditionDialogModel& model, QWidget* parent = nullptr);

    // The corner fields from the model (after a capture).
    void ShowFields();
    // 1002: the open dialog, starting at the path in the field; the choice goes into the field (relative to the
    // current folder when inside it) and the preview is read from it.
    void OnChoose();

    CImagePreview* preview() const { return preview_; }

private:
    void ApplyEnableRules();

    ConditionDialogModel& model_;
    QCheckBox* on_ = nullptr;
    QCheckBox* onChange_ = nullptr;
    QLineEdit* path_ = nullptr;
    QPushButton* choose_ = nullptr;
    QLineEdit *startX_ = nullptr, *startY_ = nullptr, *endX_ = nullptr, *endY_ = nullptr;
    QLineEdit* threshold_ = nullptr;
    CImagePreview* preview_ = nullptr;
};

// --- The dialog (140) ----------------------------------------------------------------------------------------------

class CDialogMacroStart final : public CDialogCommon, private ConditionInputConsumer {
    Q_OBJECT
public:
    enum ControlId {
        IdTab = 1000,
        IdOk = 1,
        IdCancel = 2,
    };

    // macro and session must outlive the dialog. The macro is changed on OK (and by the release toggles at once).
    CDialogMacroStart(Session& session, Macro& macro, QWidget* parent = nullptr);
    ~CDialogMacroStart() override;

    const ConditionDialogModel& model() const { return model_; }
    CTabDialog* tab() const { return tab_; }
    CDialogMacroStartKey* keyPage() const { return keyPage_; }
    CDialogMacroStartTime* timePage() const { return timePage_; }
    CDialogMacroStartColor* colorPage() const { return colorPage_; }
    CDialogMacroStartPattern* patternPage() const { return patternPage_; }

    // The four tab icons cut from bitmap 135 (hotkey, time, colour, image).
    static std::array<QIcon, ConditionDialogModel::PageCount> TabIcons();

    // OK: the model writes the pages into the macro.
    void accept() override;
    // OK, Cancel, Esc and the close box: the page shown is remembered.
    void done(int result) override;

private:
    // ConditionInputConsumer
    void OnConditionInputEvent(int code, bool isPress, bool fromKeyboard) override;

    Session& session_;
    ConditionDialogModel model_;
    CTabDialog* tab_ = nullptr;
    CDialogMacroStartKey* keyPage_ = nullptr;
    CDialogMacroStartTime* timePage_ = nullptr;
    CDialogMacroStartColor* colorPage_ = nullptr;
    CDialogMacroStartPattern* patternPage_ = nullptr;
    // The registration goes before the capture it holds.
    std::unique_ptr<ConditionCapture> capture_;
    std::unique_ptr<ScopedInputConsumer> inputRegistration_;
};

} // namespace quillet::gui
