// The main window (dialog 102): the macro library's list, the run/edit mode switch, the library commands, the tray
// icon and the two tool windows. It draws what its MainWindowModel decides to show of the session (the library
// document, the engine, run mode, live input) and forwards the person's commands; it owns none of that itself.
//
// It works on whatever session it is given (on the system backend in the program, the fake one in tests).
#pragma once

#include <array>
#include <cstdint>
#include <functional>
#include <map>
#include <memory>
#include <span>
#include <string>
#include <vector>

#include <QIcon>
#include <QPointer>

#include "editing/macro_editor.h"
#include "editing/main_window_model.h"
#include "gui/widgets/dialog_common.h"
#include "model/option_bits.h"
#include "model/settings.h"
#include "model/texts.h"
#include "session/session.h"

class QLabel;
class QLineEdit;
class QListWidget;
class QPushButton;
class QRadioButton;
class QSystemTrayIcon;
class QTimer;

namespace quillet::gui {

class CDialogKeyMouseStatus;
class CDialogMacroDebug;
class CHyperLink;
class CMarkerOverlay;

class CQuilletDlg final : public CDialogCommon,
                          public MainWindowView,
                          private DocumentQuestions,
                          private SessionObserver {
    Q_OBJECT
public:
    enum ControlId {
        IdToggleHint = 1045,
        IdRunRadio = 1014,  // "매크로 실행 가능"
        IdEditRadio = 1015, // "실행 중단과 편집"
        IdFileName = 1013,  // read-only: the library file
        IdOpen = 1012,      // "..."
        IdSave = 1022,      // "저장"
        IdEditList = 1000,
        IdRecord = 1016,   // "기록"
        IdAdd = 1009,      // "추가"
        IdEdit = 1011,     // "편집"
        IdCopy = 1018,     // "복사"
        IdDelete = 1010,   // "삭제"
        IdCount = 1040,    // "%d개 매크로 기록됨."
        IdUp = 1020,       // "^"
        IdDown = 1021,     // "v"
        IdVersion = 1037,  // "Version: ..."
        IdLink = 1036,     // hyperlink
        IdSettings = 1017, // "설정"
        IdExit = 1102,     // "종료"
        IdRunList = 1001,
        IdInputStatus = 1019, // "입력상태"
        IdRunStatus = 1023,   // "실행상태"
        IdExport = 1024, // "내보내기": a menu of "선택한 매크로 내보내기..." and "모든 매크로 내보내기..."
        IdImport = 1025, // "가져오기..."
    };
    // Buttons whose dialogs do not exist yet: present, and disabled in both modes (none left).
    static constexpr std::array<int, 0> kPendingDialogButtons = {};

    // The version label and the link under it.
    struct VersionInfo {
        QString productVersion;  // text of 1037
        QString fileDescription; // text and target of the link
    };

    // The editing commands: disabled in run mode, enabled in edit mode.
    static constexpr std::array<int, 11> kEditButtonIds = {IdRecord, IdAdd,  IdEdit,     IdCopy,   IdDelete, IdOpen,
                                                           IdUp,     IdDown, IdSettings, IdExport, IdImport};

    // Initialises the window completely (position, tray icon, hidden tool windows, library from macroFileName, run
    // mode restored, input monitoring, window timers) without showing it; see ShowAtStart. The session must
    // outlive the window.
    explicit CQuilletDlg(Session& session, VersionInfo version = {}, QWidget* parent = nullptr);
    ~CQuilletDlg() override;

    // Shows the window the first time: top-most when macroOptions has 0x4, minimised when it has 0x10.
    void ShowAtStart();
    // Brings the window forward: restored when minimised, shown when hidden, then raised and activated.
    void RestoreWindow();
    // The window's end, before it is deleted: the session ends (no more input or timer work, every macro stopped,
    // every key and button a macro holds released), the tool windows go (storing their positions), the window
    // position is stored and the tray icon removed. Also run by the destructor; later calls do nothing.
    void Destroy();
    bool destroyed() const { return destroyed_; }

    // --- Commands ---
    void OnOpen();        // 1012
    void OnSave();        // 1022
    void OnExit();        // 1102: the save question, then the window closes with OK
    void OnCopy();        // 1018
    void OnDelete();      // 1010
    void OnUp();          // 1020
    void OnDown();        // 1021
    void OnInputStatus(); // 1019
    void OnRunStatus();   // 1023
    // 1009: the macro editor on a new macro; on OK it is appended and selected.
    void OnAdd();
    // 1016: the recorder on a new macro; on OK it is appended and selected. Not in run mode.
    void OnRecord();
    // 1017: the settings dialog; on OK the settings are written to the settings file at once.
    void OnSettings();
    // 1011 and a double-click on the edit list: the macro editor on a copy of the selected macro; on OK the copy
    // replaces it. Nothing without a selection. Neither opens in run mode.
    void OnEdit();
    // 1024: the selected macro, or every macro, as text (docs/text-format.md) into a file chosen in a save dialog.
    // Not in run mode.
    void OnExportSelected();
    void OnExportAll();
    // 1025: the macros of a text file chosen in an open dialog are added to the library; when some have the name of
    // a macro already in it, the person chooses to replace those or to add the imported ones under new names. A
    // text that cannot be read is reported with its line and column. Not in run mode.
    void OnImport();
    // Closes the window as the exit button does, without the save question: unsaved library changes are not
    // written (signals, end of the desktop session).
    void CloseWithoutQuestion();
    // After the settings dialog: caption, top-most bit and the toggle hint.
    void ApplySettings();
    // A short note shown under the buttons (the first-start demo, input that cannot be watched); empty hides it.
    void ShowNotice(const QString& text);
    QString notice() const;

    // --- State ---
    Session& session() { return session_; }
    bool modified() const { return session_.document().modified(); }
    // A library file that was damaged (or could not be read) when it was loaded: saving over it asks first.
    const std::string& protectedFile() const { return session_.document().protectedFile(); }
    MacroLibrary& library() { return session_.library(); }
    Engine& engine() { return session_.engine(); }
    InputRouter& router() { return session_.router(); }
    KeyMouseStatus& keyMouseStatus() { return session_.keyMouseStatus(); }
    RunModeController& runMode() { return session_.runMode(); }
    MainWindowModel& model() { return *model_; }
    CMmtMacros& engineTimer() { return session_.engineTimer(); }
    CDialogMacroDebug* macroDebugWindow() const { return debugWindow_.get(); }
    CDialogKeyMouseStatus* keyMouseStatusWindow() const { return statusWindow_.get(); }
    QSystemTrayIcon* trayIcon() const { return tray_; }
    // The running period of a window timer, -1 when it is not running.
    int WindowTimerInterval(int id) const;
    CMarkerOverlay* markerOverlay() const { return overlay_.get(); }
    // The image result window with this (CP949) title, null when none was shown.
    QLabel* ImageResultWindow(const std::string& title) const;

    // --- MainWindowView ---
    void SetEditingEnabled(bool enabled) override;
    void SetModeRadios(bool runChecked) override;
    void ShowRunList(bool show) override;
    void SetRunListLines(const std::vector<std::string>& lines) override;
    void SetRunningLine(std::size_t line, bool running) override;
    int SelectedEditIndex() const override;
    void HideStatusWindow() override;
    void ShowBalloon(const std::string& title, const std::string& text, int timeoutMs) override;
    void SetTrayIcon(TrayIcon icon, const std::string& tooltip) override;
    void DrawColorMarkers(const std::vector<platform::MarkerRect>& markers) override;
    void ShowImageResult(const std::string& title, const BgrImageView& image) override;

    // Enter and Esc do nothing; the window ends only through the exit button (or CloseWithoutQuestion).
    void done(int result) override;
    void accept() override {}
    void reject() override {}

protected:
    void keyPressEvent(QKeyEvent* event) override;
    void closeEvent(QCloseEvent* event) override;

private:
    void BuildControls();
    void ConnectCommands();
    // Reports a library file that was damaged or could not be read.
    void ReportLoad(const std::string& cp949Name, const LibraryDocument::LoadReport& report);
    void FillEditList(int selection);
    void SelectEditLine(int row);
    void UpdateCount();
    QString ToggleHintText() const;
    void ReportSaveFailure(const std::string& cp949Name, const std::string& problem);
    void ExportMacros(const std::vector<std::size_t>& which, const QString& suggestedName);

    // SessionObserver: the event log goes to the run status window.
    void ItemLogged(const std::string& cp949Line) override;

    // DocumentQuestions: message boxes.
    bool AskSaveChanges() override;
    bool AskOverwriteDamaged(const std::string& cp949Name) override;
    bool AskContinueWithoutSaving(const std::string& cp949Name, const std::string& problem) override;

    Session& session_;
    CAppIni& settings_;
    // The language the window was built in: the texts it rewrites later (the toggle hint, the count) stay in it
    // when the settings dialog changes the language, which this window follows only after a restart.
    const Language language_ = CurrentLanguage();
    // The item clipboard, the item dialogs' remembered values and the capture points, shared by every editor and
    // recorder opened from this window until the program ends.
    EditingContext editing_;
    std::unique_ptr<MainWindowModel> model_; // made once the library is loaded

    std::unique_ptr<CDialogKeyMouseStatus> statusWindow_;
    std::unique_ptr<CDialogMacroDebug> debugWindow_;
    Engine::LogSink debugLog_; // feeds debugWindow_
    std::unique_ptr<CMarkerOverlay> overlay_;
    std::map<std::string, QPointer<QLabel>> imageWindows_;
    QSystemTrayIcon* tray_ = nullptr;
    QIcon mainIcon_;
    QIcon blinkIcon_;

    QLabel* toggleHint_ = nullptr;
    QRadioButton* runRadio_ = nullptr;
    QRadioButton* editRadio_ = nullptr;
    QLineEdit* fileName_ = nullptr;
    QListWidget* editList_ = nullptr;
    QListWidget* runList_ = nullptr;
    QLabel* count_ = nullptr;
    QLabel* version_ = nullptr;
    CHyperLink* link_ = nullptr;
    QLabel* notice_ = nullptr;

    bool exitAllowed_ = false;
    bool destroyed_ = false;
};

} // namespace quillet::gui
