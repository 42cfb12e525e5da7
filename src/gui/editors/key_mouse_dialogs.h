// The keyboard item dialog (129) and the mouse item dialog (131). Their rules live in KeyboardItemModel and
// MouseItemModel; these windows show the model's fields and forward what the person does.
//
// Both work on an item the caller owns and outliving the dialog: a blank item (type 0) to add one, which the dialog
// fills with the values remembered from the last OK, or a copy of an existing item to edit it. After Accepted the
// item holds the result; after Rejected the caller drops it. While a dialog exists it takes part of the desktop's
// live input from the session's router, above the windows opened before it: the keyboard dialog every key press
// (taken up into the key list), the mouse dialog every mouse event (the live cursor position).
#pragma once

#include <cstdint>
#include <memory>

#include "editing/item_dialogs.h"
#include "editing/macro_editor.h"
#include "gui/widgets/dialog_common.h"
#include "input/input_router.h"
#include "session/session.h"

class QCheckBox;
class QComboBox;
class QLineEdit;
class QTimer;

namespace quillet::gui {

class CDialogKeyboard final : public CDialogCommon, private KeyItemInputConsumer {
    Q_OBJECT
public:
    enum ControlId {
        IdKey = 1016,          // the 147 key names
        IdPressRelease = 1008, // "누르고 떼기"
        IdPress = 1009,        // "누르기"
        IdRelease = 1010,      // "떼기"
        IdHangul = 1072,       // "한글입력상태"
        IdOk = 1,
        IdCancel = 2,
    };
    // The delay between a captured key press and its selection in the list.
    static constexpr int kCaptureDelayMs = 30;

    // item, memory and session must outlive the dialog.
    CDialogKeyboard(MacroItem& item, ItemDialogMemory& memory, const CAppIni& settings, Session& session,
                    QWidget* parent = nullptr);
    ~CDialogKeyboard() override;

    const KeyboardItemModel& model() const { return model_; }
    // Started by each captured key press; single-shot.
    QTimer* captureTimer() const { return captureTimer_; }
    // The capture timer's shot: the last captured key is selected, if the key list has the focus.
    void OnCaptureTimer();

    // OK: the model writes the item; a keyboard item is always accepted.
    void accept() override;

private:
    void BuildControls();
    // KeyItemInputConsumer
    void OnCapturedKey(int code) override;

    KeyboardItemModel model_;
    QComboBox* keys_ = nullptr;
    QTimer* captureTimer_ = nullptr;
    int capturedKey_ = 0;
    // The registration goes before the capture it holds.
    std::unique_ptr<KeyItemCapture> capture_;
    std::unique_ptr<ScopedInputConsumer> inputRegistration_;
};

class CDialogMouse final : public QDialog, private MouseItemInputConsumer, public MouseItemCaptureTarget {
    Q_OBJECT
public:
    enum ControlId {
        IdCaptureHint = 1045,
        IdLiveX = 1013, // read-only, the live cursor position
        IdLiveY = 1014,
        IdPosition = 1011, // "절대위치:" / "상대위치:"
        IdX = 1031,
        IdY = 1032,
        IdWheel = 1012, // "휠 굴리기:"
        IdWheelAmount = 1033,
        IdButton = 1040,     // "(선택안함)", "왼쪽 버튼", ... "X2 버튼"
        IdClick = 1029,      // "클릭"
        IdPress = 1030,      // "누르기"
        IdRelease = 1015,    // "떼기"
        IdAbsolute = 1018,   // "마우스의 절대 위치를 기록"
        IdNormalized = 1017, // "화면 해상도와 무관하게 마우스 위치 기록"
        IdOk = 1,
        IdCancel = 2,
    };

    // item, memory and session must outlive the dialog.
    CDialogMouse(MacroItem& item, ItemDialogMemory& memory, const CAppIni& settings, Session& session,
                 QWidget* parent = nullptr);
    ~CDialogMouse() override;

    const MouseItemModel& model() const { return model_; }

    // MouseItemCaptureTarget: the macro editor's capture key writes the position through these while the dialog
    // runs over it.
    bool AbsoluteChecked() const override;
    Point LivePosition() const override;
    void SetItemPosition(int32_t x, int32_t y) override;

    // OK: the model writes the item; with nothing chosen at all its message is shown and the dialog stays open.
    void accept() override;

private:
    void BuildControls();
    void ConnectControls();
    // The absolute-position rule: 1011's caption and whether 1017 may be checked.
    void ShowAbsolute();
    // MouseItemInputConsumer
    bool NormalizedPositionChecked() const override;
    void OnLivePosition(int32_t x, int32_t y) override;

    MouseItemModel model_;
    QLineEdit* liveX_ = nullptr;
    QLineEdit* liveY_ = nullptr;
    QCheckBox* position_ = nullptr;
    QLineEdit* x_ = nullptr;
    QLineEdit* y_ = nullptr;
    QCheckBox* wheel_ = nullptr;
    QLineEdit* wheelAmount_ = nullptr;
    QComboBox* button_ = nullptr;
    QCheckBox* absolute_ = nullptr;
    QCheckBox* normalized_ = nullptr;
    std::unique_ptr<MouseItemCapture> capture_;
    std::unique_ptr<ScopedInputConsumer> inputRegistration_;
};

} // namespace quillet::gui
