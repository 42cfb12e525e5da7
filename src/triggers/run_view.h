// What run and edit mode show in the main window. The GUI implements this interface with its widgets and timers;
// the tests record the calls. Every text is CP949, as the model keeps it.
#pragma once

#include <array>
#include <cstdint>
#include <span>
#include <string>
#include <vector>

#include <opencv2/core/mat.hpp>

#include "platform/platform.h"

namespace quillet {

// Controls of the main window (dialog 102) that run and edit mode switch.
inline constexpr int kIdEditList = 1000;
inline constexpr int kIdRunList = 1001;
inline constexpr int kIdRunRadio = 1014;
inline constexpr int kIdEditRadio = 1015;
inline constexpr int kIdStatusButton = 1023;
// The editing buttons: disabled in run mode, enabled in edit mode.
inline constexpr std::array<int, 9> kEditButtonIds = {1016, 1009, 1011, 1018, 1010, 1012, 1020, 1021, 1017};

// Icon resources of the tray and the main window.
enum class TrayIcon : int { Main = 128, Blink = 130 };

class RunView {
public:
    virtual ~RunView() = default;

    // Enables or disables the controls with these IDs.
    virtual void EnableControls(std::span<const int> ids, bool enable) = 0;
    // Checks radio 1014 (run) and unchecks 1015, or the reverse.
    virtual void SetModeRadios(bool runChecked) = 0;
    // true: hides list box 1000 and shows list box 1001; false: the reverse.
    virtual void ShowRunList(bool show) = 0;
    // Replaces the lines of list box 1001.
    virtual void SetRunListLines(const std::vector<std::string>& lines) = 0;
    // Selects line i of list box 1001 exactly when running[i] (called every 33 ms; cheap when nothing changed).
    virtual void SetRunningLines(const std::vector<bool>& running) = 0;
    // The selected line of list box 1000, -1 when none.
    virtual int SelectedEditIndex() const = 0;
    // Hides the execution status window.
    virtual void HideStatusWindow() = 0;

    // A balloon of the tray icon: title, text (already cut to what the balloon holds), time-out; the tray icon as
    // balloon icon, no sound.
    virtual void ShowBalloon(const std::string& title, const std::string& text, int timeoutMs) = 0;
    // Sets the icon as the main window's large and small icon and as the tray icon, with the tooltip.
    virtual void SetTrayIcon(TrayIcon icon, const std::string& tooltip) = 0;

    // Kills window timer 1003 and creates it again with this period.
    virtual void RestartColorTimer(uint32_t periodMs) = 0;
    // Draws hollow rectangles straight on the screen with a solid pen kMarkerPenWidth pixels wide, in this order;
    // nothing erases them.
    virtual void DrawColorMarkers(const std::vector<platform::MarkerRect>& markers) = 0;
    // Shows image (8-bit BGR) in the result window titled title, one window per title, replacing its picture. The
    // image is valid only during the call.
    virtual void ShowImageResult(const std::string& title, const cv::Mat& image) = 0;
};

inline constexpr int kMarkerPenWidth = 2;

} // namespace quillet
