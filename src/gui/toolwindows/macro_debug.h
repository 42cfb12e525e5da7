// The run status and event log window: the items of one macro with the item being executed, its pass count and
// remaining delay, or the log of every item executed. Created hidden with the main window and shown and hidden
// by it; it lives as long as the main window.
#pragma once

#include <cstdint>
#include <string_view>

#include "engine/engine.h"
#include "gui/widgets/dialog_common.h"
#include "model/macro.h"
#include "model/option_bits.h"
#include "model/settings.h"

class QComboBox;
class QLineEdit;
class QListWidget;
class QRadioButton;
class QTimer;

namespace quillet::gui {

class CEditLogB;

class CDialogMacroDebug : public CDialogCommon {
    Q_OBJECT
public:
    enum ControlId {
        IdStatusPage = 1124, // radio "매크로 실행 상태"
        IdLogPage = 1125,    // radio "이벤트 실행 로그"
        IdMacroList = 1042,  // drop-down list of the macros
        IdItemList = 1004,   // the selected macro's items
        IdRunPos = 1062,
        IdPasses = 1063,
        IdDelay = 1064,
        IdLog = 1126,
    };
    static constexpr int kTimerMs = 33;
    static constexpr int kLogLines = 1000;

    // library and settings must outlive the window; the window reads the library and writes macroOptions bit 0x400
    // and, when destroyed, debugSX / debugSY.
    CDialogMacroDebug(MacroLibrary& library, CAppIni& settings, QWidget* parent = nullptr);
    ~CDialogMacroDebug() override;

    // Queues one line of the event log, CP949 as the engine gives it ("<name>: <item text>\r\n"); the timer shows
    // it.
    void AppendLog(std::string_view cp949Line);
    // A sink for Engine::SetLogSink that feeds this window. The window must outlive the engine's use of it.
    Engine::LogSink LogSink();

    // Timer 1000: refreshes the selected macro's fields while the window is visible, and flushes the log.
    void OnTimer();

    // Index of the selected macro in the library, -1 for none.
    int selectedMacro() const { return selected_; }
    CEditLogB* log() const { return log_; }
    bool logPageShown() const;
    // Timer 1000 runs while the window is shown, and while hidden until the log lines that came are taken in.
    bool timerRunning() const;

    // OK and Cancel (Enter, Esc) only hide the window.
    void done(int result) override;

protected:
    void showEvent(QShowEvent* event) override;
    void hideEvent(QHideEvent* event) override;
    void keyPressEvent(QKeyEvent* event) override;

private:
    void ApplyPage(bool logPage);
    void FillMacroList();
    void OnMacroSelected(int index);
    static void SetIfChanged(QLineEdit* edit, const QString& text);

    MacroLibrary& library_;
    CAppIni& settings_;
    QRadioButton* statusRadio_;
    QRadioButton* logRadio_;
    QWidget* statusPage_;
    QComboBox* macroList_;
    QListWidget* itemList_;
    QLineEdit* runPos_;
    QLineEdit* passes_;
    QLineEdit* delay_;
    CEditLogB* log_;
    QTimer* timer_;
    int selected_ = -1;
    int lastShownPos_ = -1; // the line of the item list last selected for runPos
};

} // namespace quillet::gui
