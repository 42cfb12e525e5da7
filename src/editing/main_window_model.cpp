#include "editing/main_window_model.h"

#include <algorithm>
#include <limits>

#include "model/cp949.h"
#include "model/ini_file.h"
#include "model/option_bits.h"
#include "model/texts.h"

namespace quillet {

namespace {

// The tray icon's tooltips, looked up each time they are shown (in the language of that moment).
const char* const kIdleTooltip = "Quillet 프로그램 - 더블클릭 하세요.";
const char* const kRunTooltip = "Quillet 프로그램 - 매크로 실행 중입니다.";

} // namespace

MainWindowModel::MainWindowModel(Session& session, MainWindowView& view)
    : session_(session), view_(view), settings_(session.settings()) {
    session_.AddObserver(*this);
}

MainWindowModel::~MainWindowModel() {
    End();
}

void MainWindowModel::End() {
    if (ended_) return;
    ended_ = true;
    session_.RemoveObserver(*this);
    session_.loop().StopTimer(kTimerRunningDisplay);
    session_.loop().StopTimer(kTimerTray);
}

std::optional<std::size_t> MainWindowModel::Selection() const {
    const int sel = view_.SelectedEditIndex();
    if (sel < 0) return std::nullopt;
    return static_cast<std::size_t>(sel);
}

// --- Mode -------------------------------------------------------------------------------------------------------

void MainWindowModel::Begin() {
    view_.SetModeRadios((settings_.macroOptions & OptionRunModeOn) != 0);
    view_.SetEditingEnabled(true);
    view_.ShowRunList(false);
    session_.BeginRunMode(Selection());
}

void MainWindowModel::OnRunRadio() {
    view_.SetModeRadios(true);
    session_.runMode().EnterRunMode(Selection());
}

void MainWindowModel::OnEditRadio() {
    view_.SetModeRadios(false);
    session_.runMode().LeaveRunMode();
}

void MainWindowModel::OnSelectionChanged() {
    session_.runMode().SetSelectedMacro(Selection());
}

void MainWindowModel::RunModeChanged(bool on) {
    view_.SetModeRadios(on);
    view_.SetEditingEnabled(!on);
    if (on) {
        // Told before the auto-start macros start, so every start below finds its line.
        const MacroLibrary& library = session_.library();
        running_.assign(library.size(), false);
        view_.SetRunListLines(RunListLines(library));
        view_.ShowRunList(true);
        // Only when there is something to blink or mark: otherwise run mode does not wake the program at all.
        if ((settings_.macroOptions & (OptionTrayBlink | OptionMarkColors)) != 0)
            session_.loop().StartTimer(kTimerTray, kTrayMs, [this] { OnTrayTimer(); });
        return;
    }
    view_.ShowRunList(false);
    view_.HideStatusWindow();
    session_.loop().StopTimer(kTimerTray);
    if (trayShowsRun_) {
        view_.SetTrayIcon(TrayIcon::Main, TrCp949(kIdleTooltip));
        trayShowsRun_ = false;
    }
}

// --- Running lines and the balloon ------------------------------------------------------------------------------

void MainWindowModel::MacroStarted(std::size_t index, Point) {
    MarkRunning(index, true);
}

void MainWindowModel::MacroEnded(std::size_t index, bool) {
    MarkRunning(index, false);
}

void MainWindowModel::MarkRunning(std::size_t index, bool running) {
    // The library may have grown in edit mode (a macro called from the editor's test run).
    if (index >= running_.size()) running_.resize(std::max(index + 1, session_.library().size()), false);
    running_[index] = running;
    view_.SetRunningLine(index, running);
    // Starts and ends that come together (run mode entered or left, a macro that ends at once) give one balloon.
    if ((settings_.macroOptions & OptionTrayBlink) != 0 && !balloonPending_) {
        balloonPending_ = true;
        session_.loop().StartTimer(kTimerRunningDisplay, kRunningDisplayMs, [this] { OnDisplayTimer(); });
    }
}

void MainWindowModel::OnDisplayTimer() {
    session_.loop().StopTimer(kTimerRunningDisplay);
    balloonPending_ = false;
    uint32_t mask = 0;
    for (std::size_t i = 0; i < running_.size() && i < kBalloonMacros; ++i)
        if (running_[i]) mask |= uint32_t{1} << i;
    if ((settings_.macroOptions & OptionTrayBlink) == 0 || mask == balloonMask_) return;

    const MacroLibrary& library = session_.library();
    std::string text;
    for (std::size_t i = 0; i < library.size() && i < running_.size() && i < kBalloonMacros; ++i) {
        if (!running_[i]) continue;
        text += library[i].name;
        text += '\n';
        if (text.size() > kBalloonTextMax) break;
    }
    if (text.empty()) text = "(none)\n";
    text.resize(CutCp949(text, kBalloonTextMax).size());
    view_.ShowBalloon("Running Macros", text, kBalloonTimeoutMs);
    balloonMask_ = mask;
}

// --- Tray and markers -------------------------------------------------------------------------------------------

void MainWindowModel::OnTrayTimer() {
    if ((settings_.macroOptions & OptionTrayBlink) != 0) {
        trayBlinkCount_ = trayBlinkCount_ == std::numeric_limits<int>::max() ? 0 : trayBlinkCount_ + 1;
        view_.SetTrayIcon((trayBlinkCount_ % 2) != 0 ? TrayIcon::Blink : TrayIcon::Main, TrCp949(kRunTooltip));
        trayShowsRun_ = true;
    }
    if ((settings_.macroOptions & OptionMarkColors) != 0) DrawColorMarkers();
}

void MainWindowModel::DrawColorMarkers() {
    std::vector<platform::MarkerRect> markers;
    const auto around = [](int32_t packed, uint32_t color) {
        return platform::MarkerRect{
            {PointX(packed) - kMarkerHalf, PointY(packed) - kMarkerHalf, 2 * kMarkerHalf, 2 * kMarkerHalf}, color};
    };
    for (const Macro& m : session_.library()) {
        if ((m.flags & FlagStopColor) != 0) markers.push_back(around(m.stopColorPos, kMarkerStopColor));
        if ((m.flags & FlagStartColor) != 0) markers.push_back(around(m.startColorPos, kMarkerStartColor));
    }
    if (!markers.empty()) view_.DrawColorMarkers(markers);
}

void MainWindowModel::ImageResult(std::size_t index, const BgrImageView& picture) {
    const MacroLibrary& library = session_.library();
    if (index < library.size()) view_.ShowImageResult(library[index].name, picture);
}

} // namespace quillet
