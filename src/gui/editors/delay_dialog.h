// The delay and wait item dialog (130): a time delay with random spread, a wait for a clock time, for a key, or for
// a screen colour. Its rules live in DelayItemModel; this window shows the model's fields, enables the group of the
// checked kind and paints the colour swatch.
//
// It works on an item the caller owns (a blank one to add, a copy to edit) and writes it on an accepted OK. While the
// dialog exists it takes every key and button event of the desktop from the session's router, above the windows
// opened before it: the colour capture key (keyMacroColorStart) then reads the pixel under the cursor.
#pragma once

#include <cstdint>
#include <memory>

#include <QFrame>
#include <QTimer>

#include "editing/item_dialogs.h"
#include "gui/widgets/dialog_common.h"
#include "input/input_router.h"
#include "session/session.h"

class QCheckBox;
class QComboBox;
class QLineEdit;
class QPushButton;

namespace quillet::gui {

// A rectangle filled with one colour inside a black frame one pixel wide.
class CColorSwatch final : public QFrame {
    Q_OBJECT
public:
    explicit CColorSwatch(QWidget* parent = nullptr);
    // 0x00BBGGRR; repaints.
    void SetColor(uint32_t bbggrr);
    uint32_t color() const { return color_; }

protected:
    void paintEvent(QPaintEvent* event) override;

private:
    uint32_t color_ = 0;
};

class CDialogDelay final : public CDialogCommon, private DelayItemInputConsumer {
    Q_OBJECT
public:
    enum ControlId {
        IdTimeRadio = 1008, // "시간 지연:"
        IdSeconds = 1006,
        IdRandom = 1049,     // "+- 0%" ... "+- 100%"
        IdClockRadio = 1009, // "지연 시각:"
        IdHour = 1016,
        IdMinute = 1019,
        IdSecond = 1020,
        IdKeyRadio = 1010, // "키 입력 대기:"
        IdKey = 1110,
        IdOnPress = 1111,   // "누를 때" / "뗄 때"
        IdModifiers = 1123, // "Modifier Key:"
        IdCtrl = 1112,
        IdAlt = 1113,
        IdShift = 1114,
        IdColorRadio = 1011, // "화면 색 대기:"
        IdRed = 1115,
        IdGreen = 1116,
        IdBlue = 1117,
        IdChooseColor = 1121, // "..."
        IdPosX = 1118,
        IdPosY = 1119,
        IdSwatch = 1122,
        IdTolerance = 1120,
        IdCaptureHint = 1045,
        IdOk = 1,
        IdCancel = 2,
    };

    // item, memory and session must outlive the dialog.
    CDialogDelay(MacroItem& item, ItemDialogMemory& memory, const CAppIni& settings, Session& session,
                 QWidget* parent = nullptr);
    ~CDialogDelay() override;

    const DelayItemModel& model() const { return model_; }
    CColorSwatch* swatch() const { return swatch_; }

    // 1121: the colour chooser, starting from the colour of the three fields.
    void OnChooseColor();

    // A key pressed while the key wait's list (1110) is being chosen in is selected there 30 ms later, after the
    // list has seen the key itself, as in the keyboard item dialog.
    static constexpr int kCaptureDelayMs = 30;
    QTimer* captureTimer() const { return captureTimer_; }
    void OnCaptureTimer();

    // OK: the model writes the item; a clock without seconds is refused with its message and the dialog stays open.
    void accept() override;

private:
    void BuildControls();
    void ConnectControls();
    // Exactly the group of the checked kind enabled; the modifier boxes only with 1123.
    void ApplyEnableRules();
    // The colour and position fields from the model, and the swatch.
    void ShowColorFields();
    // DelayItemInputConsumer
    void OnDelayCaptureKey(int code, bool isPress, bool fromKeyboard) override;

    Session& session_;
    DelayItemModel model_;
    QLineEdit* seconds_ = nullptr;
    QComboBox* random_ = nullptr;
    QComboBox* hour_ = nullptr;
    QComboBox* minute_ = nullptr;
    QComboBox* second_ = nullptr;
    QComboBox* key_ = nullptr;
    QTimer* captureTimer_ = nullptr;
    int capturedKey_ = 0;
    QPushButton* onPress_ = nullptr;
    QCheckBox* modifiers_ = nullptr;
    QCheckBox* ctrl_ = nullptr;
    QCheckBox* alt_ = nullptr;
    QCheckBox* shift_ = nullptr;
    QLineEdit* red_ = nullptr;
    QLineEdit* green_ = nullptr;
    QLineEdit* blue_ = nullptr;
    QPushButton* choose_ = nullptr;
    QLineEdit* posX_ = nullptr;
    QLineEdit* posY_ = nullptr;
    CColorSwatch* swatch_ = nullptr;
    QLineEdit* tolerance_ = nullptr;
    QWidget* captureHint_ = nullptr;
    std::unique_ptr<DelayItemCapture> capture_;
    std::unique_ptr<ScopedInputConsumer> inputRegistration_;
};

} // namespace quillet::gui
