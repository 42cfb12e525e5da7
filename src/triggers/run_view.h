// What run and edit mode show in the main window. The GUI implements this interface with its widgets and timers;
// the tests record the calls. Every text is CP949, as the model keeps it.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

#include "platform/platform.h"

namespace quillet {

// An 8-bit BGR picture: rows of stride bytes, top-down. It does not own its pixels.
struct BgrImageView {
    int32_t width = 0;
    int32_t height = 0;
    std::size_t stride = 0;
    const uint8_t* data = nullptr;
};

// Icon resources of the tray and the main window.
enum class TrayIcon : int { Main = 128, Blink = 130 };

class RunView {
public:
    virtual ~RunView() = default;

    // Edit mode (true): the library's editing commands are enabled and the run status button is disabled; run
    // mode (false): the reverse.
    virtual void SetEditingEnabled(bool enabled) = 0;
    // Shows the run/edit radio buttons with run or edit checked.
    virtual void SetModeRadios(bool runChecked) = 0;
    // true: the run list (one line per macro with its conditions) takes the place of the list of names; false: the
    // reverse.
    virtual void ShowRunList(bool show) = 0;
    // Replaces the lines of the run list.
    virtual void SetRunListLines(const std::vector<std::string>& lines) = 0;
    // Marks line i of the run list exactly when running[i] (called every 33 ms; cheap when nothing changed).
    virtual void SetRunningLines(const std::vector<bool>& running) = 0;
    // The macro selected in the list of names, -1 when none.
    virtual int SelectedEditIndex() const = 0;
    // Hides the execution status window.
    virtual void HideStatusWindow() = 0;

    // A balloon of the tray icon: title, text (already cut to what the balloon holds), time-out; the tray icon as
    // balloon icon, no sound.
    virtual void ShowBalloon(const std::string& title, const std::string& text, int timeoutMs) = 0;
    // Sets the icon as the main window's large and small icon and as the tray icon, with the tooltip.
    virtual void SetTrayIcon(TrayIcon icon, const std::string& tooltip) = 0;

    // Draws hollow rectangles straight on the screen with a solid pen kMarkerPenWidth pixels wide, in this order;
    // nothing erases them.
    virtual void DrawColorMarkers(const std::vector<platform::MarkerRect>& markers) = 0;
    // Shows image in the result window titled title, one window per title, replacing its picture. The image is
    // valid only during the call.
    virtual void ShowImageResult(const std::string& title, const BgrImageView& image) = 0;
};

// A view that shows nothing (quillet-cli, a session before its window exists).
class NullRunView : public RunView {
public:
    void SetEditingEnabled(bool) override {}
    void SetModeRadios(bool) override {}
    void ShowRunList(bool) override {}
    void SetRunListLines(const std::vector<std::string>&) override {}
    void SetRunningLines(const std::vector<bool>&) override {}
    int SelectedEditIndex() const override { return -1; }
    void HideStatusWindow() override {}
    void ShowBalloon(const std::string&, const std::string&, int) override {}
    void SetTrayIcon(TrayIcon, const std::string&) override {}
    void DrawColorMarkers(const std::vector<platform::MarkerRect>&) override {}
    void ShowImageResult(const std::string&, const BgrImageView&) override {}
};

inline constexpr int kMarkerPenWidth = 2;

} // namespace quillet
