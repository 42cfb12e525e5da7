// What the main window shows of the running program, without widgets: the run/edit radios, the editing commands
// enabled or not, the run list and its running lines, the tray's blinking and tooltips, the balloon of the running
// macros, the colour markers and the image result windows. It watches the session (SessionObserver) and drives a
// MainWindowView, which the window implements with its widgets and the tests with a recorder. Texts are CP949.
#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "platform/platform.h"
#include "session/session.h"
#include "session/session_observer.h"

namespace quillet {

// Icon resources of the tray and the main window.
enum class TrayIcon : int { Main = 128, Blink = 130 };

// The display's timers on the session's loop; each runs only while it has work.
inline constexpr int kTimerRunningDisplay = 1000; // once, 33 ms after a start or end: the balloon
inline constexpr int kTimerTray = 1001;           // every 500 ms in run mode: blinking, colour markers
inline constexpr uint32_t kRunningDisplayMs = 33;
inline constexpr uint32_t kTrayMs = 500;

// Balloon of the running macros: the first kBalloonMacros of the library.
inline constexpr int kBalloonTimeoutMs = 1000;
inline constexpr std::size_t kBalloonTextMax = 255; // the balloon's 256-byte text field
inline constexpr std::size_t kBalloonMacros = 32;
// A colour marker is the rectangle from (x - 4, y - 4) to (x + 4, y + 4), right and bottom exclusive, drawn with a
// solid pen kMarkerPenWidth pixels wide.
inline constexpr int32_t kMarkerHalf = 4;
inline constexpr int kMarkerPenWidth = 2;
inline constexpr uint32_t kMarkerStartColor = 0x0000FF; // red
inline constexpr uint32_t kMarkerStopColor = 0xFF0000;  // blue

class MainWindowView {
public:
    virtual ~MainWindowView() = default;

    // Edit mode (true): the library's editing commands are enabled and the run status button is disabled; run
    // mode (false): the reverse.
    virtual void SetEditingEnabled(bool enabled) = 0;
    // Shows the run/edit radio buttons with run or edit checked (without reporting it back as a click).
    virtual void SetModeRadios(bool runChecked) = 0;
    // true: the run list takes the place of the list of names; false: the reverse.
    virtual void ShowRunList(bool show) = 0;
    // Replaces the lines of the run list (none marked).
    virtual void SetRunListLines(const std::vector<std::string>& lines) = 0;
    // Marks or unmarks one line of the run list.
    virtual void SetRunningLine(std::size_t line, bool running) = 0;
    // The macro selected in the list of names, -1 when none.
    virtual int SelectedEditIndex() const = 0;
    // Hides the execution status window.
    virtual void HideStatusWindow() = 0;

    // A balloon of the tray icon: title, text (already cut to what the balloon holds), time-out; the tray icon as
    // balloon icon, no sound.
    virtual void ShowBalloon(const std::string& title, const std::string& text, int timeoutMs) = 0;
    // Sets the icon as the main window's large and small icon and as the tray icon, with the tooltip.
    virtual void SetTrayIcon(TrayIcon icon, const std::string& tooltip) = 0;

    // Draws hollow rectangles straight on the screen, in this order; nothing erases them.
    virtual void DrawColorMarkers(const std::vector<platform::MarkerRect>& markers) = 0;
    // Shows image in the result window titled title, one window per title, replacing its picture. The image is
    // valid only during the call.
    virtual void ShowImageResult(const std::string& title, const BgrImageView& image) = 0;
};

class MainWindowModel final : private SessionObserver {
public:
    // Watches the session from now on; both must outlive the model.
    MainWindowModel(Session& session, MainWindowView& view);
    ~MainWindowModel() override;
    MainWindowModel(const MainWindowModel&) = delete;
    MainWindowModel& operator=(const MainWindowModel&) = delete;

    // Start-up, once the library is loaded and the list of names filled: the radios from macroOptions bit 0x2, the
    // edit-mode display, then the session's run mode begun (entered when that bit was set, with the selection).
    void Begin();
    // The radio buttons and a change of the selection in the list of names.
    void OnRunRadio();
    void OnEditRadio();
    void OnSelectionChanged();
    // The window goes: no more timers, nothing more shown. Later calls do nothing.
    void End();

    int trayBlinkCount() const { return trayBlinkCount_; }
    uint32_t balloonMask() const { return balloonMask_; }
    const std::vector<bool>& runningLines() const { return running_; }

private:
    std::optional<std::size_t> Selection() const;
    void OnDisplayTimer();
    void OnTrayTimer();
    void MarkRunning(std::size_t index, bool running);
    void DrawColorMarkers();

    // SessionObserver
    void RunModeChanged(bool on) override;
    void MacroStarted(std::size_t index, Point origin) override;
    void MacroEnded(std::size_t index, bool finished) override;
    void ImageResult(std::size_t index, const BgrImageView& picture) override;

    Session& session_;
    MainWindowView& view_;
    const CAppIni& settings_;
    bool ended_ = false;
    std::vector<bool> running_; // per library macro: marked in the run list
    bool balloonPending_ = false;
    uint32_t balloonMask_ = 0; // the running macros the last balloon showed
    int trayBlinkCount_ = 0;
    bool trayShowsRun_ = false; // the tray shows the run-mode icon or tooltip
};

} // namespace quillet
