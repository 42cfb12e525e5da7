// The key/mouse status window: the last key event, the modifier keys, the input method's Hangul/English state,
// the mouse position and the mouse buttons. It paints a KeyMouseStatus, which the input router keeps up to date
// (also while the window is hidden); the window's timer samples the modifiers and the input method while it is
// visible.
#pragma once

#include <array>
#include <string>

#include <QPixmap>

#include "gui/widgets/dialog_common.h"
#include "input/key_mouse_status.h"
#include "model/settings.h"

class QLabel;
class QLineEdit;
class QTimer;

namespace quillet::gui {

class CDialogKeyMouseStatus : public CDialogCommon {
    Q_OBJECT
public:
    enum ControlId {
        IdKey = 1062,      // "입력 키:"
        IdPosition = 1063, // "마우스 위치:"
        IdIme = 1064,      // "IME 한/영 키:"
        IdCtrl = 1108,
        IdAlt = 1109,
        IdShift = 1110,
        IdLeft = 1111,
        IdMiddle = 1112,
        IdRight = 1113,
        IdX1 = 1114,
        IdX2 = 1115,
        IdOk = 1,
        IdCancel = 2,
    };
    static constexpr int kTimerMs = 100;

    // status and settings must outlive the window. The window takes status.onChanged for its lifetime, and stores
    // its position in statusSX / statusSY when destroyed.
    CDialogKeyMouseStatus(KeyMouseStatus& status, CAppIni& settings, QWidget* parent = nullptr);
    ~CDialogKeyMouseStatus() override;

    // Timer 1000 (running only while the window is shown): samples modifiers and input method.
    void OnTimer();
    // Writes the status into the controls.
    void Refresh();

    // Whether indicator id shows the down bitmap.
    bool IndicatorShowsDown(int id) const;

    // OK and Cancel only hide the window.
    void done(int result) override;
    bool timerRunning() const;

protected:
    void showEvent(QShowEvent* event) override;
    void hideEvent(QHideEvent* event) override;

private:
    QLabel* AddIndicator(QWidget* parent, int id);
    void SetIndicator(QLabel* indicator, bool down);
    static void SetIfChanged(QLineEdit* edit, std::string& shown, const std::string& text);

    KeyMouseStatus& status_;
    CAppIni& settings_;
    QPixmap up_;   // 143
    QPixmap down_; // 144
    QLineEdit* key_;
    QLineEdit* ime_;
    QLineEdit* position_;
    std::array<QLabel*, 3> modifiers_{};                         // Ctrl, Alt, Shift
    std::array<QLabel*, KeyMouseStatus::ButtonCount> buttons_{}; // Left, Middle, Right, X1, X2
    QTimer* timer_;
    std::string keyShown_; // CP949 texts in the fields
    std::string imeShown_;
    std::string positionShown_;
};

} // namespace quillet::gui
