// What the main window shows of the running program, decided without widgets: the mode display, the run list and
// its running lines, the balloon, the tray's blinking and the colour markers, on a session over the fake platform.
#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <algorithm>
#include <optional>
#include <string>
#include <vector>

#include "editing/main_window_model.h"
#include "manual_loop.h"
#include "model/cp949.h"
#include "model/item_text.h"
#include "platform/fake/fake_platform.h"
#include "session/session.h"

namespace quillet {
namespace {

using ::testing::ElementsAre;

struct Balloon {
    std::string title;
    std::string text;
    int timeoutMs = 0;
};

struct TrayState {
    TrayIcon icon = TrayIcon::Main;
    std::string tooltip;
};

class RecordingView final : public MainWindowView {
public:
    void SetEditingEnabled(bool enabled) override { editing = enabled; }
    void SetModeRadios(bool runChecked) override { radioRun = runChecked; }
    void ShowRunList(bool show) override { runListShown = show; }
    void SetRunListLines(const std::vector<std::string>& l) override {
        lines = l;
        running.assign(l.size(), false);
    }
    void SetRunningLine(std::size_t line, bool on) override {
        if (line < running.size()) running[line] = on;
    }
    int SelectedEditIndex() const override { return selectedEdit; }
    void HideStatusWindow() override { ++statusHidden; }
    void ShowBalloon(const std::string& title, const std::string& text, int timeoutMs) override {
        balloons.push_back({title, text, timeoutMs});
    }
    void SetTrayIcon(TrayIcon icon, const std::string& tooltip) override { tray.push_back({icon, tooltip}); }
    void DrawColorMarkers(const std::vector<platform::MarkerRect>& m) override { markers.push_back(m); }
    void ShowImageResult(const std::string& title, const BgrImageView&) override { images.push_back(title); }

    std::optional<bool> editing; // not yet set
    std::optional<bool> radioRun;
    bool runListShown = false;
    std::vector<std::string> lines;
    std::vector<bool> running;
    int selectedEdit = -1;
    int statusHidden = 0;
    std::vector<Balloon> balloons;
    std::vector<TrayState> tray;
    std::vector<std::vector<platform::MarkerRect>> markers;
    std::vector<std::string> images;
};

class MainWindowModelTest : public ::testing::Test {
protected:
    MainWindowModelTest() { settings.macroOptions = 0; }

    // A macro that stays running (a long delay).
    std::size_t Add(const std::string& name, int32_t flags = 0) {
        Macro m = MakeNewMacro(name);
        m.flags = flags;
        m.setRepeatCount(1);
        m.items.push_back(MakeDelayItem(1000000, DelayTime));
        session.library().push_back(std::move(m));
        return session.library().size() - 1;
    }
    Macro& M(std::size_t i) { return session.library()[i]; }
    void Start(std::size_t i) { session.engine().StartMacro(M(i), 1); }
    void Stop(std::size_t i) { session.engine().StopMacro(M(i), HeldInput::AsSettingSays); }
    int Timer(int id) const { return loop.TimerInterval(id); }

    platform::FakePlatform fake;
    CAppIni settings{"/nonexistent-quillet-dir/Quillet.ini", false};
    TimerCounter counter;
    ManualLoop loop;
    Session session{fake.platform(), settings, counter, loop, 1u};
    RecordingView view;
    MainWindowModel model{session, view};
};

TEST_F(MainWindowModelTest, TheModeDisplayFollowsRunModeWhoeverSwitchesIt) {
    const std::size_t plain = Add("plain");
    const std::size_t hot = Add("hot", FlagStartKey | FlagAutoStart);
    M(hot).startKey = 'H';
    model.Begin();
    EXPECT_EQ(view.radioRun, std::optional<bool>(false));
    EXPECT_EQ(view.editing, std::optional<bool>(true));
    EXPECT_FALSE(view.runListShown);
    EXPECT_EQ(Timer(kTimerTray), -1) << "nothing to blink in edit mode";

    model.OnRunRadio();
    EXPECT_TRUE(session.engine().runMode);
    EXPECT_EQ(view.radioRun, std::optional<bool>(true));
    EXPECT_EQ(view.editing, std::optional<bool>(false)); // editing commands off, run status on
    EXPECT_THAT(view.lines, ElementsAre("plain", RunListText(M(hot))));
    EXPECT_TRUE(view.runListShown);
    EXPECT_THAT(view.running, ElementsAre(false, true)) << "the auto-start macro is marked";
    EXPECT_EQ(Timer(kTimerTray), -1) << "neither blinking nor markers: nothing to wake up for";

    model.OnEditRadio();
    EXPECT_FALSE(session.engine().runMode);
    EXPECT_EQ(view.radioRun, std::optional<bool>(false));
    EXPECT_EQ(view.editing, std::optional<bool>(true));
    EXPECT_FALSE(view.runListShown);
    EXPECT_EQ(view.statusHidden, 1);
    EXPECT_THAT(view.running, ElementsAre(false, false));
    EXPECT_EQ(Timer(kTimerTray), -1);

    // The toggle key switches run mode in the core; the display follows the same way, with the selection the
    // model told the core.
    settings.macroOptions |= OptionStartSelected;
    view.selectedEdit = static_cast<int>(plain);
    model.OnSelectionChanged();
    session.runMode().OnMainInputEvent(settings.keyMacroRun, true);
    EXPECT_EQ(view.radioRun, std::optional<bool>(true));
    EXPECT_THAT(view.running, ElementsAre(true, true));
    session.runMode().OnMainInputEvent(settings.keyMacroRun, true);
    EXPECT_EQ(view.radioRun, std::optional<bool>(false));
    EXPECT_TRUE(view.editing.value_or(false));
}

TEST_F(MainWindowModelTest, StartUpRestoresTheStoredModeWithTheSelection) {
    Add("a");
    const std::size_t b = Add("b");
    settings.macroOptions = OptionRunModeOn | OptionStartSelected;
    view.selectedEdit = static_cast<int>(b);
    model.Begin();
    EXPECT_EQ(view.radioRun, std::optional<bool>(true));
    EXPECT_TRUE(view.runListShown);
    EXPECT_TRUE(IsRunning(M(b)));
    EXPECT_THAT(view.running, ElementsAre(false, true));
}

TEST_F(MainWindowModelTest, RunningLinesAndOneBalloonPerChangeOfTheFirst32Macros) {
    for (int i = 0; i < 40; ++i) Add("m" + std::to_string(i));
    model.Begin();
    model.OnRunRadio();
    Start(32);
    Start(35);
    EXPECT_EQ(std::count(view.running.begin(), view.running.end(), true), 2);
    EXPECT_TRUE(view.running[32] && view.running[35]);
    EXPECT_EQ(Timer(kTimerRunningDisplay), -1) << "balloons off: no timer";

    settings.macroOptions |= OptionTrayBlink;
    Stop(35);
    loop.Fire(kTimerRunningDisplay);
    EXPECT_TRUE(view.balloons.empty()) << "macros 32 and 35 are not among the first 32";
    EXPECT_EQ(Timer(kTimerRunningDisplay), -1) << "the display timer runs once per batch of changes";

    Start(3);
    Start(31);
    EXPECT_EQ(Timer(kTimerRunningDisplay), 33);
    loop.Fire(kTimerRunningDisplay);
    loop.Fire(kTimerRunningDisplay);
    ASSERT_EQ(view.balloons.size(), 1u) << "two starts together give one balloon";
    EXPECT_EQ(view.balloons[0].title, "Running Macros");
    EXPECT_EQ(view.balloons[0].text, "m3\nm31\n");
    EXPECT_EQ(view.balloons[0].timeoutMs, 1000);
    EXPECT_EQ(model.balloonMask(), (1u << 3) | (1u << 31));

    // A macro that starts and ends before the display looks changes nothing a balloon would show.
    Start(4);
    Stop(4);
    loop.Fire(kTimerRunningDisplay);
    EXPECT_EQ(view.balloons.size(), 1u);

    model.OnEditRadio();
    loop.Fire(kTimerRunningDisplay);
    ASSERT_EQ(view.balloons.size(), 2u);
    EXPECT_EQ(view.balloons[1].text, "(none)\n");
}

TEST_F(MainWindowModelTest, BalloonTextIsCutToTheBalloonField) {
    settings.macroOptions |= OptionTrayBlink;
    for (int i = 0; i < 5; ++i) Add(std::string(100, static_cast<char>('a' + i)), FlagAutoStart);
    model.Begin();
    model.OnRunRadio();
    loop.Fire(kTimerRunningDisplay);
    ASSERT_EQ(view.balloons.size(), 1u);
    EXPECT_EQ(view.balloons[0].text.size(), 255u);
}

TEST_F(MainWindowModelTest, TrayBlinksByParityInRunModeAndIsRestoredOnLeaving) {
    const std::string runTip = Utf8ToCp949("Quillet 프로그램 - 매크로 실행 중입니다.");
    const std::string idleTip = Utf8ToCp949("Quillet 프로그램 - 더블클릭 하세요.");
    model.Begin();
    model.OnRunRadio();
    loop.Fire(kTimerTray);
    EXPECT_TRUE(view.tray.empty()) << "blinking off";
    model.OnEditRadio();
    EXPECT_TRUE(view.tray.empty()) << "nothing to restore";

    settings.macroOptions |= OptionTrayBlink;
    model.OnRunRadio();
    for (int i = 0; i < 3; ++i) loop.Fire(kTimerTray);
    ASSERT_EQ(view.tray.size(), 3u);
    EXPECT_EQ(view.tray[0].icon, TrayIcon::Blink);
    EXPECT_EQ(view.tray[1].icon, TrayIcon::Main);
    EXPECT_EQ(view.tray[2].icon, TrayIcon::Blink);
    EXPECT_EQ(view.tray[0].tooltip, runTip);
    EXPECT_EQ(model.trayBlinkCount(), 3);

    model.OnEditRadio();
    ASSERT_EQ(view.tray.size(), 4u);
    EXPECT_EQ(view.tray[3].icon, TrayIcon::Main);
    EXPECT_EQ(view.tray[3].tooltip, idleTip);
    EXPECT_EQ(Timer(kTimerTray), -1);

    model.OnRunRadio(); // the count lives on
    loop.Fire(kTimerTray);
    EXPECT_EQ(view.tray.back().icon, TrayIcon::Main);
}

TEST_F(MainWindowModelTest, ColourMarkersStopBlueThenStartRedInRunModeOnly) {
    Add("none");
    const std::size_t m = Add("both", FlagStartColor | FlagStopColor);
    M(m).startColorPos = PackPoint(100, 200);
    M(m).stopColorPos = PackPoint(-10, 5);
    const std::size_t s = Add("start", FlagStartColor);
    M(s).startColorPos = PackPoint(1, 2);
    settings.macroOptions |= OptionMarkColors;
    model.Begin();
    loop.Fire(kTimerTray);
    EXPECT_TRUE(view.markers.empty()) << "edit mode";
    model.OnRunRadio();
    loop.Fire(kTimerTray);
    ASSERT_EQ(view.markers.size(), 1u);
    const auto& marks = view.markers[0];
    ASSERT_EQ(marks.size(), 3u);
    EXPECT_EQ(marks[0].rect, (platform::ScreenRect{-14, 1, 8, 8}));
    EXPECT_EQ(marks[0].color, 0xFF0000u);
    EXPECT_EQ(marks[1].rect, (platform::ScreenRect{96, 196, 8, 8}));
    EXPECT_EQ(marks[1].color, 0x0000FFu);
    EXPECT_EQ(marks[2].rect, (platform::ScreenRect{-3, -2, 8, 8}));

    settings.macroOptions &= ~OptionMarkColors;
    loop.Fire(kTimerTray);
    EXPECT_EQ(view.markers.size(), 1u);
}

TEST_F(MainWindowModelTest, NoMarkersWithoutColourConditionsAndNothingAfterTheEnd) {
    Add("a", FlagStartKey | FlagAutoStart);
    settings.macroOptions |= OptionMarkColors | OptionTrayBlink;
    model.Begin();
    model.OnRunRadio();
    loop.Fire(kTimerTray);
    EXPECT_TRUE(view.markers.empty());

    model.End();
    EXPECT_EQ(Timer(kTimerTray), -1);
    EXPECT_EQ(Timer(kTimerRunningDisplay), -1);
    const std::size_t balloons = view.balloons.size();
    session.End(HeldInput::Release);
    loop.Fire(kTimerRunningDisplay);
    EXPECT_EQ(view.balloons.size(), balloons);
    EXPECT_FALSE(view.running.empty() || view.running[0] == false) << "the end is not shown any more";
}

} // namespace
} // namespace quillet
