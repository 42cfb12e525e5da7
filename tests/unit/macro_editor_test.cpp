// The macro editor's rules on the fake platform: rows, selection, the item clipboard, the summary, OK, undo, the
// capture and Insert keys, the test run and the trail, without widgets.
#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <deque>
#include <functional>
#include <string>
#include <vector>

#include "../common/comma_locale.h"
#include "editing/macro_editor.h"
#include "in_english.h"
#include "model/cp949.h"
#include "model/item_text.h"
#include "model/key_table.h"
#include "platform/fake/fake_platform.h"

namespace quillet {
namespace {

using platform::FakePlatform;
using ::testing::ElementsAre;

constexpr int VK_F10 = 0x79, VK_INSERT = 0x2D;

MacroItem Key(int vk) {
    return MakeKeyItem(vk, ActionPress | ActionRelease);
}

class RecordingView final : public MacroEditorView {
public:
    void EditorChanged(uint32_t c) override { changes |= c; }
    void CopyTextToClipboard(const std::string& text) override { clipboard.push_back(text); }
    uint32_t changes = 0;
    std::vector<std::string> clipboard;
};

class MacroEditorTest : public ::testing::Test {
protected:
    MacroEditorTest() {
        settings.macroOptions = 0;
        settings.editOptions = 0;
        settings.eventDelay = 33;
        settings.keyMousePosCapture = VK_F10;
    }
    EditorServices Services() {
        return EditorServices{library,
                              settings,
                              engine,
                              fake,
                              fake,
                              counter,
                              [this](std::function<void()> fn) { posted.push_back(std::move(fn)); },
                              {},
                              clipboard,
                              lastCapture,
                              itemMemory};
    }
    // An editor on a macro with these items after the start item.
    MacroEditor& Open(std::vector<MacroItem> items, std::string name = "m", int ownIndex = 0) {
        working = MakeNewMacro(name);
        for (auto& i : items) working.items.push_back(std::move(i));
        editor = std::make_unique<MacroEditor>(working, ownIndex, Services());
        editor->SetView(&view);
        return *editor;
    }
    std::vector<std::string> Rows() const {
        std::vector<std::string> rows;
        for (int i = 0; i < editor->rowCount(); ++i) rows.push_back(Cp949ToUtf8(editor->RowText(i)));
        return rows;
    }
    std::vector<int> KeysOf(const Macro& m) const {
        std::vector<int> keys;
        for (std::size_t i = 1; i < m.items.size(); ++i) keys.push_back(m.items[i].keyCode());
        return keys;
    }
    // One test-run tick as the program delivers it, then the display timer.
    void TestTick() {
        fake.AdvanceMs(33);
        fake.FireTimers();
        auto pending = std::move(posted);
        posted.clear();
        for (auto& f : pending) f();
        editor->OnDisplayTimer();
    }

    FakePlatform fake;
    CAppIni settings{"/nonexistent-quillet-dir/Quillet.ini", false};
    MacroLibrary library;
    Engine engine{library, settings, fake.platform(), 3u};
    TimerCounter counter;
    std::vector<std::function<void()>> posted;
    ItemClipboard clipboard;
    Point lastCapture{0, 0};
    ItemDialogMemory itemMemory;
    Macro working;
    RecordingView view;
    std::unique_ptr<MacroEditor> editor;
};

TEST_F(MacroEditorTest, ANewMacroGetsTheDefaultsAndTheFirstFreeName) {
    library = {MakeNewMacro("Macro 1"), MakeNewMacro("Macro 3")};
    working = Macro{};
    editor = std::make_unique<MacroEditor>(working, 2, Services());
    EXPECT_TRUE(editor->isNew());
    EXPECT_EQ(working.name, "Macro 2");
    EXPECT_EQ(working.startKey, 113);
    EXPECT_EQ(working.stopKey, 114);
    EXPECT_EQ(working.flags, 0x10024);
    ASSERT_EQ(working.items.size(), 1u);
    EXPECT_EQ(working.items[0].type, ItemStart);
    EXPECT_EQ(Cp949ToUtf8(editor->Title()), "매크로 추가");
    EXPECT_EQ(editor->repeatText(), "1");
    EXPECT_EQ(editor->SelectedRows(), std::vector<int>{0});
    EXPECT_THAT(Cp949ToUtf8(editor->HintText()), ::testing::StartsWith(std::string(KeyLongName(VK_F10)) + "를 눌러"));

    // The Insert key's export of a new macro: the name line, an empty line and the start item, each with CR LF.
    editor->SetView(&view);
    editor->OnEditorInputEvent(VK_INSERT, true);
    EXPECT_TRUE(view.clipboard.empty()) << "on the key's release";
    editor->OnEditorInputEvent(VK_INSERT, false);
    ASSERT_EQ(view.clipboard.size(), 1u);
    EXPECT_EQ(Cp949ToUtf8(view.clipboard[0]),
              "매크로 이름: Macro 2\r\n\r\n" + Cp949ToUtf8(ItemText(MacroItem{}, 0)) + "\r\n");
}

TEST_F(MacroEditorTest, AddEditDeleteAndMoveFollowTheirSelectionRules) {
    MacroEditor& e = Open({Key('A'), Key('B'), Key('C'), Key('D'), Key('E')});
    e.SetSelection({});
    e.AddItem(Key('F'));
    EXPECT_EQ(KeysOf(working), (std::vector<int>{'A', 'B', 'C', 'D', 'E', 'F'})) << "nothing selected: appended";
    e.SetSelection({2, 5});
    e.AddItem(Key('G'));
    EXPECT_EQ(KeysOf(working), (std::vector<int>{'A', 'B', 'C', 'D', 'E', 'G', 'F'}));
    EXPECT_EQ(e.SelectedRows(), std::vector<int>{6});
    e.SetSelection({0});
    EXPECT_EQ(e.InsertPosition(), 1);

    // Edit takes the lowest selected row, never the start item.
    e.SetSelection({0, 3});
    EXPECT_EQ(e.EditTarget(), -1);
    e.SetSelection({4, 2});
    EXPECT_EQ(e.EditTarget(), 2);
    e.ReplaceItem(2, Key('Z'));
    EXPECT_EQ(working.items[2].keyCode(), 'Z');
    EXPECT_EQ(e.SelectedRows(), std::vector<int>{2});

    // A block moves together and keeps its selection; nothing passes the start item or the end.
    e.SetSelection({1});
    EXPECT_FALSE(e.MoveUp());
    e.SetSelection({3, 4});
    EXPECT_TRUE(e.MoveUp());
    EXPECT_EQ(KeysOf(working), (std::vector<int>{'A', 'C', 'D', 'Z', 'E', 'G', 'F'}));
    EXPECT_EQ(e.SelectedRows(), (std::vector<int>{2, 3}));
    EXPECT_TRUE(e.MoveDown());
    EXPECT_TRUE(e.MoveDown());
    EXPECT_EQ(KeysOf(working), (std::vector<int>{'A', 'Z', 'E', 'C', 'D', 'G', 'F'}));
    EXPECT_EQ(e.SelectedRows(), (std::vector<int>{4, 5}));
    e.SetSelection({6, 7});
    EXPECT_FALSE(e.MoveDown());
    e.SetSelection({0, 2});
    EXPECT_FALSE(e.MoveDown());

    // Delete keeps the start item.
    e.SetSelection({0, 2, 3});
    e.DeleteSelected();
    EXPECT_EQ(KeysOf(working), (std::vector<int>{'A', 'C', 'D', 'G', 'F'}));
    EXPECT_EQ(working.items[0].type, ItemStart);
    e.SelectAll();
    e.DeleteSelected();
    EXPECT_EQ(working.items.size(), 1u);
}

TEST_F(MacroEditorTest, TheItemClipboardCopiesCutsAndPastesDeepCopiesAcrossEditors) {
    MacroEditor& e = Open({Key('A'), Key('B'), Key('C'), Key('D')});
    clipboard.items = {Key('Q')};
    e.SetSelection({0});
    e.Copy();
    EXPECT_EQ(clipboard.items.size(), 1u) << "the start item alone leaves the clipboard as it was";
    e.Paste();
    EXPECT_EQ(KeysOf(working), (std::vector<int>{'Q', 'A', 'B', 'C', 'D'}));

    e.SetSelection({2, 4});
    e.Cut();
    EXPECT_EQ(KeysOf(working), (std::vector<int>{'Q', 'B', 'D'}));
    e.SetSelection({0});
    e.Paste();
    EXPECT_EQ(KeysOf(working), (std::vector<int>{'A', 'C', 'Q', 'B', 'D'})) << "in list order, after row 0";
    EXPECT_EQ(e.SelectedRows(), (std::vector<int>{1, 2}));
    e.SetSelection({});
    e.Paste();
    EXPECT_EQ(working.items.size(), 6u) << "nothing selected: nothing pasted";

    // An empty clipboard pastes nothing but still clears the selection, so that the next add goes to the end.
    const std::vector<MacroItem> kept = clipboard.items;
    clipboard.items.clear();
    e.SetSelection({1, 2});
    e.Paste();
    EXPECT_EQ(working.items.size(), 6u);
    EXPECT_TRUE(e.SelectedRows().empty());
    e.AddItem(Key('Z'));
    EXPECT_EQ(KeysOf(working).back(), 'Z');
    clipboard.items = kept;

    // Another editor later in the same run pastes a string item twice: two items, each with its own text.
    Macro other = MakeNewMacro("other");
    other.items.push_back(MakeStringItem("hello"));
    MacroEditor first(other, 0, Services());
    first.SetSelection({1});
    first.Copy();
    Macro target = MakeNewMacro("target");
    MacroEditor second(target, 1, Services());
    second.SetSelection({0});
    second.Paste();
    second.SetSelection({1});
    second.Paste();
    ASSERT_EQ(target.items.size(), 3u);
    second.ReplaceItem(1, MakeStringItem("changed"));
    EXPECT_EQ(target.items[2].text(), "hello");
    EXPECT_EQ(clipboard.items[0].text(), "hello");
}

TEST_F(MacroEditorTest, TheSummaryEstimatesTheRunTimeAndNamesCallCycles) {
    MacroEditor& e = Open({MakeDelayItem(1000, DelayTime), Key('A')});
    EXPECT_EQ(Cp949ToUtf8(e.summary()), "2개 항목이 기록됨 (1.066 초)");
    {
        // The same under a locale that writes decimal commas: the item rows say "1.000 초" there too.
        testing::CommaLocale comma;
        ASSERT_TRUE(comma.ok()) << "no " << testing::kCommaLocale << " locale";
        e.SetSelection({});
        e.AddItem(MakeDelayItem(1500, DelayTime));
        EXPECT_EQ(Cp949ToUtf8(e.summary()), "3개 항목이 기록됨 (2.599 초)");
        EXPECT_THAT(Cp949ToUtf8(e.RowText(e.rowCount() - 1)), ::testing::HasSubstr("1.500"));
    }

    // Nine sequential calls of a macro that calls nothing give a time; ten count as a cycle.
    library = {MakeNewMacro("leaf")};
    std::vector<MacroItem> calls(9, MakeCallItem("leaf", CallSequential));
    MacroEditor& nine = Open(calls);
    EXPECT_THAT(Cp949ToUtf8(nine.summary()), ::testing::StartsWith("9개 항목이 기록됨 ("));
    EXPECT_THAT(Cp949ToUtf8(nine.summary()), ::testing::Not(::testing::HasSubstr("순환")));
    nine.SetSelection({});
    nine.AddItem(MakeCallItem("leaf", CallSequential));
    EXPECT_EQ(Cp949ToUtf8(nine.summary()), "10개 항목이 기록됨 (순환호출!)");
}

TEST_F(MacroEditorTest, OkStoresTheFieldsThenChecksNameAndBalance) {
    library = {MakeNewMacro("mine"), MakeNewMacro("theirs")};
    settings.editOptions = 0x4;
    MacroEditor& e = Open({}, "mine", 0);
    e.SetTestHotkeys(true);
    for (const auto& [text, stored] : std::vector<std::pair<std::string, int32_t>>{
             {"-5", 0}, {"65536", 65535}, {"abc", 0}, {" 12 ", 12}, {"99999999999999", 65535}, {"3", 3}}) {
        e.SetRepeatText(text);
        EXPECT_EQ(e.Accept(), MacroEditor::Verdict::Ok) << text;
        EXPECT_EQ(working.repeatCount(), stored) << text;
    }
    EXPECT_EQ(working.flags & 0xFFFF, 0x24) << "the low bits stay";
    EXPECT_EQ(settings.editOptions, 0x4 | EditTestHotkeys);

    e.SetNameText("theirs");
    e.SetRepeatText("-5");
    EXPECT_EQ(e.Accept(), MacroEditor::Verdict::NameTaken);
    EXPECT_EQ(working.name, "theirs") << "stored even when a check fails";
    EXPECT_EQ(working.repeatCount(), 0) << "the clamped count is stored too";
    EXPECT_EQ(e.repeatText(), "-5") << "the field keeps what was typed behind the message";
    e.SetNameText("");
    EXPECT_EQ(e.Accept(), MacroEditor::Verdict::NoName);
    e.SetNameText("mine");
    e.AddItem(MakeLoopItem(LoopEnter));
    EXPECT_EQ(e.Accept(), MacroEditor::Verdict::Unbalanced);
    EXPECT_EQ(Cp949ToUtf8(MacroEditor::VerdictMessage(MacroEditor::Verdict::Unbalanced)),
              "매크로 내에서 반복구간이나 독점실행구간이 올바르게 열리고 닫히지 않았습니다.");
}

TEST_F(MacroEditorTest, UndoAndRedoWalkBackAndForthThroughEveryChange) {
    MacroEditor& e = Open({Key('A'), Key('B')});
    e.SetSelection({1});
    e.AddItem(Key('C')); // A C B
    e.SetNameText("n");  // typing in a field is one step
    e.SetNameText("ne");
    e.SetNameText("new");
    e.SetSelection({2, 3});
    e.Cut(); // A
    e.SetRepeatText("7");
    ASSERT_EQ(KeysOf(working), std::vector<int>{'A'});

    EXPECT_TRUE(e.Undo());
    EXPECT_EQ(e.repeatText(), "1");
    EXPECT_TRUE(e.Undo());
    EXPECT_EQ(KeysOf(working), (std::vector<int>{'A', 'C', 'B'}));
    EXPECT_EQ(e.SelectedRows(), (std::vector<int>{2, 3}));
    EXPECT_TRUE(e.Undo());
    EXPECT_EQ(e.nameText(), "m");
    EXPECT_TRUE(e.Undo());
    EXPECT_EQ(KeysOf(working), (std::vector<int>{'A', 'B'}));
    EXPECT_FALSE(e.Undo());
    EXPECT_TRUE(view.changes & ChangedFields);

    EXPECT_TRUE(e.Redo());
    EXPECT_TRUE(e.Redo());
    EXPECT_EQ(e.nameText(), "new");
    EXPECT_EQ(KeysOf(working), (std::vector<int>{'A', 'C', 'B'}));
    // A new change forgets what could be redone.
    e.SetSelection({1});
    e.DeleteSelected();
    EXPECT_FALSE(e.canRedo());
    EXPECT_EQ(KeysOf(working), (std::vector<int>{'C', 'B'}));
}

TEST_F(MacroEditorTest, TheCaptureKeyAddsTheCursorOrFillsTheMouseDialog) {
    MacroEditor& e = Open({Key('A'), Key('B')});
    fake.SetCursor(300, 200);
    e.SetSelection({1});
    e.OnEditorInputEvent(VK_F10, false);
    EXPECT_EQ(working.items.size(), 3u) << "the release does nothing";
    e.OnEditorInputEvent(VK_F10, true);
    ASSERT_EQ(working.items.size(), 4u);
    EXPECT_EQ(working.items[2].type, ItemMouse);
    EXPECT_EQ(working.items[2].mouseX(), 300);
    EXPECT_EQ(working.items[2].mouseY(), 200);
    EXPECT_EQ(working.items[2].mouseFlags(), 0x8001);
    EXPECT_EQ(e.SelectedRows(), std::vector<int>{2});

    // With the mouse item dialog open: relative offsets from the previous capture (absolute the first time).
    struct Target final : MouseItemCaptureTarget {
        bool absolute = false;
        Point live;
        std::vector<Point> written;
        bool AbsoluteChecked() const override { return absolute; }
        Point LivePosition() const override { return live; }
        void SetItemPosition(int32_t x, int32_t y) override { written.push_back({x, y}); }
    } target;
    e.SetMouseItemTarget(&target);
    target.live = {50, 60};
    e.OnEditorInputEvent(VK_F10, true);
    target.live = {80, 40};
    e.OnEditorInputEvent(VK_F10, true);
    target.absolute = true;
    target.live = {7, 8};
    e.OnEditorInputEvent(VK_F10, true);
    ASSERT_EQ(target.written.size(), 3u);
    EXPECT_EQ(target.written[0], (Point{50, 60}));
    EXPECT_EQ(target.written[1], (Point{30, -20}));
    EXPECT_EQ(target.written[2], (Point{7, 8}));
    EXPECT_EQ(lastCapture, (Point{80, 40})) << "the absolute capture does not move the relative origin";
    EXPECT_EQ(working.items.size(), 4u);
}

TEST_F(MacroEditorTest, ATestRunStartsAtTheSelectionFollowsTheItemsAndStopsItself) {
    MacroEditor& e = Open({Key('A'), Key('B'), Key('C'), Key('D'), Key('E')});
    e.SetSelection({2, 5});
    e.StartTestRun();
    EXPECT_TRUE(e.testing());
    EXPECT_EQ(working.runPos, 5);
    TestTick();
    EXPECT_FALSE(e.testing()) << "the last item ran: the display timer stops the run";
    EXPECT_EQ(e.SelectedRows(), std::vector<int>{0});
    ASSERT_EQ(fake.KeyEvents().size(), 2u);
    EXPECT_EQ(fake.KeyEvents()[0].vk, 'E');
    EXPECT_TRUE(view.changes & ChangedTesting);

    // The stop hotkey (with the check box on) stops a run and releases what it holds when the setting says so.
    settings.macroOptions = OptionReleaseHeldOnStop;
    MacroEditor& h = Open({MakeKeyItem('S', ActionPress), MakeDelayItem(100000, DelayTime)});
    h.SetTestHotkeys(true);
    h.SetSelection({0});
    h.OnEditorInputEvent(113, true); // F2, the start key
    EXPECT_TRUE(h.testing());
    TestTick();
    EXPECT_EQ(h.SelectedRows(), std::vector<int>{2}) << "the running item is selected";
    fake.ClearEvents();
    h.OnEditorInputEvent(114, true); // F3
    EXPECT_FALSE(h.testing());
    ASSERT_EQ(fake.KeyEvents().size(), 1u);
    EXPECT_EQ(fake.KeyEvents()[0].vk, 'S');
    EXPECT_EQ(fake.KeyEvents()[0].flags, 0x3u);

    // Cancel during a run ends it and releases, whatever the setting.
    settings.macroOptions = 0;
    h.SetSelection({0});
    h.StartTestRun();
    TestTick();
    fake.ClearEvents();
    h.Cancel();
    EXPECT_FALSE(h.testing());
    ASSERT_EQ(fake.KeyEvents().size(), 1u);
    EXPECT_EQ(fake.KeyEvents()[0].vk, 'S');
}

TEST_F(MacroEditorTest, TheTrailJoinsTheMouseItemsAndBoxesPressesAndSelectedItems) {
    MacroEditor& e =
        Open({MakeMouseItem(100, 100, 0x8001), Key('A'), MakeMouseItem(200, 150, 0x8001 | MouseLeftDown | MouseLeftUp),
              MakeMouseItem(32768, 16384, MouseMove | MouseNormalized)});
    MouseTrail t = e.Trail({1920, 1080});
    EXPECT_THAT(t.line, ElementsAre(platform::ScreenPoint{100, 100}, platform::ScreenPoint{200, 150},
                                    platform::ScreenPoint{960, 270}));
    EXPECT_THAT(t.pressBoxes, ElementsAre(platform::ScreenRect{196, 146, 8, 8}));
    EXPECT_TRUE(t.selectedBoxes.empty());
    e.SetBlueBoxes(true);
    e.SetSelection({1});
    t = e.Trail({1920, 1080});
    EXPECT_THAT(t.selectedBoxes,
                ElementsAre(platform::ScreenRect{92, 92, 16, 16}, platform::ScreenRect{88, 88, 24, 24}));
    EXPECT_EQ(MacroEditor::HiddenHeight(400), 326);
}

// The editor's own texts and the Insert key's export in English; the macro's name and stored text are not translated.
TEST_F(MacroEditorTest, TextsAndTheClipboardExportInEnglish) {
    const InEnglish english;
    MacroEditor& e = Open({MakeDelayItem(1000, DelayTime), Key('A'), MakeStringItem("hi")}, "mine");
    EXPECT_EQ(e.Title(), "Edit Macro");
    EXPECT_EQ(e.HintText(), "Press the F10 key to add the current mouse position to the macro. Press the Insert key "
                            "to copy the macro's name and all its items to the clipboard as text. ");
    EXPECT_EQ(e.summary(), "Items: 3 (1.132 s)");
    EXPECT_EQ(e.RowText(2), "    Press and release A key ");
    e.OnEditorInputEvent(VK_INSERT, false);
    ASSERT_EQ(view.clipboard.size(), 1u);
    EXPECT_EQ(view.clipboard[0], "Macro name: mine\r\n\r\n    (Start)\r\n    Delay 1.000 s\r\n"
                                 "    Press and release A key \r\n    Type 'hi'\r\n");
    EXPECT_EQ(MacroEditor::VerdictMessage(MacroEditor::Verdict::NameTaken),
              "A macro with this name already exists. Please enter another name.");

    library = {MakeNewMacro("leaf")};
    MacroEditor& cycle = Open(std::vector<MacroItem>(10, MakeCallItem("leaf", CallSequential)));
    EXPECT_EQ(cycle.summary(), "Items: 10 (circular call!)");
}

} // namespace
} // namespace quillet
