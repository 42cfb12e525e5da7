// Decoding of raw records and their dispatch to exactly one consumer, on the fake platform.
#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "editing/condition_dialog.h"
#include "editing/item_dialogs.h"
#include "editing/macro_editor.h"
#include "editing/recorder_dialog.h"
#include "engine/input_synth.h"
#include "in_english.h"
#include "input/input_router.h"
#include "input/key_mouse_status.h"
#include "model/cp949.h"
#include "platform/fake/fake_platform.h"

namespace quillet {
namespace {

using platform::RawInputRecord;
using platform::ScreenPoint;
using ::testing::ElementsAre;
using ::testing::IsEmpty;

RawInputRecord KeyRecord(uint16_t vk, uint32_t message, uint16_t makeCode = 0, bool injected = false) {
    RawInputRecord r;
    r.device = RawInputRecord::Device::Keyboard;
    r.vkey = vk;
    r.makeCode = makeCode;
    r.message = message;
    r.injected = injected;
    return r;
}

RawInputRecord MouseRecord(uint16_t flags, int16_t data = 0, int32_t dx = 0, int32_t dy = 0, bool injected = false) {
    RawInputRecord r;
    r.device = RawInputRecord::Device::Mouse;
    r.buttonFlags = flags;
    r.buttonData = data;
    r.lastX = dx;
    r.lastY = dy;
    r.injected = injected;
    return r;
}

// Every consumer at once; each call is written to one shared log as "<who> <arguments>".
class Consumers final : public DelayItemInputConsumer,
                        public KeyItemInputConsumer,
                        public MouseItemInputConsumer,
                        public ConditionInputConsumer,
                        public EditorInputConsumer,
                        public RecorderInputConsumer,
                        public InputConsumer,
                        public KeyMouseStatusConsumer {
public:
    std::vector<std::string> log;
    std::vector<std::string> status;
    bool normalized = false;
    bool recording = false;

    static std::string Ev(int code, bool isPress) { return std::to_string(code) + (isPress ? " down" : " up"); }

    void OnDelayCaptureKey(int code, bool isPress, bool) override { log.push_back("delay " + Ev(code, isPress)); }
    void OnCapturedKey(int code) override { log.push_back("keyitem " + std::to_string(code)); }
    bool NormalizedPositionChecked() const override { return normalized; }
    void OnLivePosition(int32_t x, int32_t y) override {
        log.push_back("mouseitem " + std::to_string(x) + "," + std::to_string(y));
    }
    void OnConditionInputEvent(int code, bool isPress, bool fromKeyboard) override {
        log.push_back("condition " + Ev(code, isPress) + (fromKeyboard ? " kbd" : " mouse"));
    }
    void OnEditorInputEvent(int code, bool isPress) override { log.push_back("editor " + Ev(code, isPress)); }
    bool IsRecording() const override { return recording; }
    void ToggleRecording(bool on) override {
        recording = on;
        log.push_back(on ? "rec on" : "rec off");
    }
    void RecordKeyEvent(int code, int scan, int32_t action) override {
        log.push_back("reckey " + std::to_string(code) + "/" + std::to_string(scan) + "/" + std::to_string(action));
    }
    void RecordMouseEvent(int code, bool isPress, bool moved, int16_t wheelDelta, ScreenPoint cursor) override {
        log.push_back("recmouse " + Ev(code, isPress) + (moved ? " moved " : " still ") + std::to_string(wheelDelta) +
                      " " + std::to_string(cursor.x) + "," + std::to_string(cursor.y));
    }
    // The main window, at the bottom of the stack.
    InputKinds kinds() const override { return InputKinds::Both; }
    void OnInput(const InputEvent& e) override { log.push_back("main " + Ev(e.code, e.isPress)); }
    void ShowKeyEvent(int code, bool isPress) override { status.push_back("key " + Ev(code, isPress)); }
    void ShowMouseEvent(int code, bool isPress, ScreenPoint cursor) override {
        status.push_back("mouse " + Ev(code, isPress) + " " + std::to_string(cursor.x) + "," +
                         std::to_string(cursor.y));
    }
};

class InputRouterTest : public ::testing::Test {
protected:
    InputRouterTest() {
        fake.Start(nullptr, [this](const RawInputRecord& r) { router.OnRawInput(r); });
        router.Push(c);
        router.keyMouseStatusWindow = &c;
    }
    // Every capturing window open, each over the one that opens it: the main window opens the recorder, which
    // opens the editor... up to the delay dialog. (The keyboard and the mouse item dialog are never open together;
    // both are pushed here to show that each lets the other kind pass.)
    void OpenAll() {
        for (InputConsumer* w : std::initializer_list<InputConsumer*>{&recorder, &editor, &condition, &mouseItem,
                                                                       &keyItem, &delay})
            router.Push(*w);
    }
    // The consumer that gets one event, then clears the log.
    std::vector<std::string> Route(const RawInputRecord& r) {
        c.log.clear();
        fake.PushRaw(r);
        return c.log;
    }

    platform::FakePlatform fake;
    CAppIni settings{"/nonexistent-quillet-dir/Quillet.ini", false};
    InputRouter router{fake};
    Consumers c;
    DelayItemCapture delay{c};
    KeyItemCapture keyItem{c};
    MouseItemCapture mouseItem{c, fake};
    ConditionCapture condition{c};
    EditorCapture editor{c};
    RecorderCapture recorder{c, router, settings, fake};
};

// --- Decoder tables ---

TEST(InputDecoderTest, MouseFlagsInTableOrder) {
    struct Row {
        uint16_t flags;
        int16_t data;
        MouseCode want;
    };
    const Row rows[] = {
        {platform::RI_MOUSE_LEFT_BUTTON_DOWN, 0, {1, true}},
        {platform::RI_MOUSE_LEFT_BUTTON_UP, 0, {1, false}},
        {platform::RI_MOUSE_RIGHT_BUTTON_DOWN, 0, {2, true}},
        {platform::RI_MOUSE_RIGHT_BUTTON_UP, 0, {2, false}},
        {platform::RI_MOUSE_MIDDLE_BUTTON_DOWN, 0, {4, true}},
        {platform::RI_MOUSE_MIDDLE_BUTTON_UP, 0, {4, false}},
        {platform::RI_MOUSE_BUTTON_4_DOWN, 0, {5, true}},
        {platform::RI_MOUSE_BUTTON_4_UP, 0, {5, false}},
        {platform::RI_MOUSE_BUTTON_5_DOWN, 0, {6, true}},
        {platform::RI_MOUSE_BUTTON_5_UP, 0, {6, false}},
        {platform::RI_MOUSE_WHEEL, 120, {0x0A, true}},
        {platform::RI_MOUSE_WHEEL, -120, {0x0B, true}},
        {platform::RI_MOUSE_WHEEL, 0, {0x0B, true}}, // zero delta counts as towards the user
        {0, 0, {0, false}},                          // movement only
        {platform::RI_MOUSE_HWHEEL, 120, {0, false}},
        // Several transitions in one record: only the first in table order counts.
        {platform::RI_MOUSE_LEFT_BUTTON_UP | platform::RI_MOUSE_RIGHT_BUTTON_DOWN, 0, {1, false}},
        {platform::RI_MOUSE_RIGHT_BUTTON_UP | platform::RI_MOUSE_MIDDLE_BUTTON_DOWN, 0, {2, false}},
        {platform::RI_MOUSE_BUTTON_5_UP | platform::RI_MOUSE_BUTTON_4_DOWN, 0, {5, true}},
        {platform::RI_MOUSE_BUTTON_5_DOWN | platform::RI_MOUSE_WHEEL, 120, {6, true}},
        {platform::RI_MOUSE_WHEEL | platform::RI_MOUSE_HWHEEL, 120, {0x0A, true}},
    };
    for (const Row& row : rows) {
        EXPECT_EQ(DecodeMouseButtons(row.flags, row.data), row.want) << "flags " << row.flags << " data " << row.data;
    }
}

TEST(InputDecoderTest, KeyboardMessagesAndInjection) {
    auto e = DecodeKeyboard(KeyRecord(0x41, platform::WM_KEYDOWN, 0x1E));
    ASSERT_TRUE(e);
    EXPECT_EQ(e->code, 0x41);
    EXPECT_TRUE(e->isPress);
    EXPECT_TRUE(e->fromKeyboard);
    EXPECT_EQ(e->scan, 0x1E);

    e = DecodeKeyboard(KeyRecord(0xA4, platform::WM_SYSKEYDOWN, 0x138)); // Alt: only the low byte of the make code
    EXPECT_TRUE(e->isPress);
    EXPECT_EQ(e->code, 0xA4);
    EXPECT_EQ(e->scan, 0x38);
    e = DecodeKeyboard(KeyRecord(0x1A4, platform::WM_SYSKEYUP)); // and of the virtual key
    EXPECT_FALSE(e->isPress);
    EXPECT_EQ(e->code, 0xA4);
    e = DecodeKeyboard(KeyRecord(0x41, platform::WM_KEYUP));
    EXPECT_FALSE(e->isPress);
    EXPECT_EQ(e->code, 0x41);
    e = DecodeKeyboard(KeyRecord(0x41, 0x102)); // any other message: code 0, released
    EXPECT_EQ(e->code, 0);
    EXPECT_FALSE(e->isPress);

    EXPECT_FALSE(DecodeKeyboard(KeyRecord(0x41, platform::WM_KEYDOWN, 0x1E, true)));
    platform::FakePlatform fake;
    ScreenPoint last;
    EXPECT_FALSE(DecodeMouse(MouseRecord(platform::RI_MOUSE_LEFT_BUTTON_DOWN, 0, 0, 0, true), fake, last));
}

TEST(InputDecoderTest, MouseCursorMovementAndWheel) {
    platform::FakePlatform fake;
    ScreenPoint last;
    fake.SetCursor(100, 200);
    auto e = DecodeMouse(MouseRecord(0, 0, 3, 0), fake, last);
    EXPECT_EQ(e->code, 0);
    EXPECT_FALSE(e->isPress);
    EXPECT_FALSE(e->fromKeyboard);
    EXPECT_TRUE(e->moved);
    EXPECT_EQ(e->cursor, (ScreenPoint{100, 200}));

    // The position is read when the event is handled, not taken from the record's motion.
    fake.SetCursor(-5, 7);
    e = DecodeMouse(MouseRecord(platform::RI_MOUSE_WHEEL, -240, 0, 0), fake, last);
    EXPECT_EQ(e->cursor, (ScreenPoint{-5, 7}));
    EXPECT_FALSE(e->moved);
    EXPECT_EQ(e->wheelDelta, -240);
    EXPECT_EQ(e->code, 0x0B);
    e = DecodeMouse(MouseRecord(0, 0, 0, -1), fake, last);
    EXPECT_TRUE(e->moved);

    // A cursor that cannot be read keeps the last position read.
    fake.SetCursorReadable(false);
    fake.SetCursor(900, 900);
    e = DecodeMouse(MouseRecord(platform::RI_MOUSE_LEFT_BUTTON_DOWN), fake, last);
    EXPECT_EQ(e->cursor, (ScreenPoint{-5, 7}));
}

TEST(InputDecoderTest, ModifierBitsLeftOrRight) {
    platform::FakePlatform fake;
    EXPECT_EQ(SampleModifierBits(fake), 0);
    fake.SetKeyDown(0xA3, true); // right Ctrl
    fake.SetKeyDown(0xA4, true); // left Alt
    EXPECT_EQ(SampleModifierBits(fake), KeyCtrl | KeyAlt);
    fake.SetKeyDown(0xA1, true); // right Shift
    EXPECT_EQ(SampleModifierBits(fake), KeyCtrl | KeyAlt | KeyShift);
    fake.SetKeyDown(0x11, true); // the generic CTRL code is not sampled
    fake.SetKeyDown(0xA3, false);
    EXPECT_EQ(SampleModifierBits(fake), KeyAlt | KeyShift);
}

// --- Dispatch ---

TEST_F(InputRouterTest, KeyboardPrecedence) {
    OpenAll();
    const auto press = KeyRecord(0x41, platform::WM_KEYDOWN, 0x1E);
    EXPECT_THAT(Route(press), ElementsAre("delay 65 down"));
    router.Remove(delay);
    EXPECT_THAT(Route(press), ElementsAre("keyitem 65"));
    router.Remove(keyItem);
    // The mouse item dialog takes no keys: the key goes on down the chain.
    EXPECT_THAT(Route(press), ElementsAre("condition 65 down kbd"));
    router.Remove(condition);
    EXPECT_THAT(Route(press), ElementsAre("editor 65 down"));
    router.Remove(editor);
    c.recording = true;
    EXPECT_THAT(Route(press), ElementsAre("reckey 65/30/1"));
    router.Remove(recorder);
    EXPECT_THAT(Route(press), ElementsAre("main 65 down"));
    router.Remove(c);
    EXPECT_THAT(Route(press), IsEmpty());
}

TEST_F(InputRouterTest, MousePrecedence) {
    OpenAll();
    fake.SetCursor(30, 40);
    const auto click = MouseRecord(platform::RI_MOUSE_RIGHT_BUTTON_UP, 0, 1, 1);
    EXPECT_THAT(Route(click), ElementsAre("delay 2 up"));
    router.Remove(delay);
    EXPECT_THAT(Route(click), ElementsAre("mouseitem 30,40"));
    router.Remove(mouseItem);
    // The keyboard item dialog takes no mouse events.
    EXPECT_THAT(Route(click), ElementsAre("condition 2 up mouse"));
    router.Remove(condition);
    EXPECT_THAT(Route(click), ElementsAre("editor 2 up"));
    router.Remove(editor);
    // The recorder sees every mouse event, recording or not.
    EXPECT_THAT(Route(click), ElementsAre("recmouse 2 up moved 0 30,40"));
    router.Remove(recorder);
    EXPECT_THAT(Route(click), ElementsAre("main 2 up"));
    // A bare movement reaches the main window as code 0, released.
    EXPECT_THAT(Route(MouseRecord(0, 0, 5, 5)), ElementsAre("main 0 up"));
}

TEST_F(InputRouterTest, KeyItemDialogTakesOnlyPresses) {
    router.Push(editor);
    router.Push(keyItem);
    EXPECT_THAT(Route(KeyRecord(0x42, platform::WM_KEYDOWN)), ElementsAre("keyitem 66"));
    // Releases and unknown messages are swallowed, not passed on to the editor.
    EXPECT_THAT(Route(KeyRecord(0x42, platform::WM_KEYUP)), IsEmpty());
    EXPECT_THAT(Route(KeyRecord(0x42, 0x0)), IsEmpty());
    // Mouse events pass by it.
    EXPECT_THAT(Route(MouseRecord(platform::RI_MOUSE_LEFT_BUTTON_DOWN)), ElementsAre("editor 1 down"));
}

TEST_F(InputRouterTest, MouseItemDialogLivePosition) {
    router.Push(mouseItem);
    fake.SetPrimaryScreenSize(1920, 1080);
    fake.SetCursor(960, 0);
    EXPECT_THAT(Route(MouseRecord(0, 0, 1, 0)), ElementsAre("mouseitem 960,0"));
    c.normalized = true;
    const std::string want =
        "mouseitem " + std::to_string(ToAbsolute(960, 1920)) + "," + std::to_string(ToAbsolute(0, 1080));
    EXPECT_THAT(Route(MouseRecord(0, 0, 1, 0)), ElementsAre(want));
    EXPECT_EQ(want, "mouseitem 32785,-30");
    // Keys go past it to the main window.
    EXPECT_THAT(Route(KeyRecord(0x7B, platform::WM_KEYDOWN)), ElementsAre("main 123 down"));
}

TEST_F(InputRouterTest, InjectedRecordsReachNobody) {
    OpenAll();
    EXPECT_THAT(Route(KeyRecord(0x41, platform::WM_KEYDOWN, 0x1E, true)), IsEmpty());
    EXPECT_THAT(Route(MouseRecord(platform::RI_MOUSE_LEFT_BUTTON_DOWN, 0, 0, 0, true)), IsEmpty());
    EXPECT_THAT(c.status, IsEmpty());
}

TEST_F(InputRouterTest, RecorderRecordKey) {
    router.Push(recorder);
    settings.keyMacroRecord = 0x7A; // F11
    settings.recOptions = 0xB7;
    // Waiting: an ordinary key is neither recorded nor passed to the main window.
    EXPECT_THAT(Route(KeyRecord(0x41, platform::WM_KEYDOWN, 0x1E)), IsEmpty());
    // The press that starts recording is recorded itself; its release follows.
    EXPECT_THAT(Route(KeyRecord(0x7A, platform::WM_KEYDOWN, 0x57)), ElementsAre("rec on", "reckey 122/87/1"));
    EXPECT_THAT(Route(KeyRecord(0x7A, platform::WM_KEYUP, 0x57)), ElementsAre("reckey 122/87/2"));
    // The input method's state is sampled per event.
    fake.SetImeState(platform::ImeState::Open);
    EXPECT_THAT(Route(KeyRecord(0x41, platform::WM_KEYDOWN, 0x1E)), ElementsAre("reckey 65/30/17"));
    fake.SetImeState(platform::ImeState::None);
    EXPECT_THAT(Route(KeyRecord(0x41, platform::WM_KEYUP, 0x1E)), ElementsAre("reckey 65/30/2"));
    EXPECT_THAT(Route(KeyRecord(0x41, 0x0)), IsEmpty()); // code 0 is never recorded
    // Without "keyboard keys" nothing is recorded, but the record key still toggles.
    settings.recOptions = 0xB6;
    EXPECT_THAT(Route(KeyRecord(0x41, platform::WM_KEYDOWN)), IsEmpty());
    EXPECT_THAT(Route(KeyRecord(0x7A, platform::WM_KEYDOWN)), ElementsAre("rec off"));
    settings.recOptions = 0xB7;
    // The press that stops recording is not recorded.
    EXPECT_THAT(Route(KeyRecord(0x7A, platform::WM_KEYDOWN)), ElementsAre("rec on", "reckey 122/0/1"));
    EXPECT_THAT(Route(KeyRecord(0x7A, platform::WM_KEYDOWN)), ElementsAre("rec off"));
    // A release of the record key does not toggle.
    EXPECT_THAT(Route(KeyRecord(0x7A, platform::WM_KEYUP)), IsEmpty());
}

TEST_F(InputRouterTest, TheStackFollowsOpeningAndClosing) {
    // A window of a kind the router has never heard of takes part by pushing itself.
    struct Picker final : InputConsumer {
        std::vector<int> keys;
        InputKinds kinds() const override { return InputKinds::Keys; }
        void OnInput(const InputEvent& e) override { keys.push_back(e.code); }
    } picker;
    {
        ScopedInputConsumer open(router, picker);
        EXPECT_EQ(router.depth(), 2u);
        EXPECT_THAT(Route(KeyRecord(0x43, platform::WM_KEYDOWN)), IsEmpty());
        EXPECT_THAT(Route(MouseRecord(platform::RI_MOUSE_LEFT_BUTTON_DOWN)), ElementsAre("main 1 down"));
        // Pushing a window that is already open brings it to the top instead of adding it twice.
        router.Push(editor);
        router.Push(picker);
        EXPECT_EQ(router.depth(), 3u);
        EXPECT_THAT(Route(KeyRecord(0x44, platform::WM_KEYDOWN)), IsEmpty());
        router.Remove(editor);
    }
    EXPECT_THAT(picker.keys, ElementsAre(0x43, 0x44));
    EXPECT_FALSE(router.Contains(picker));
    EXPECT_THAT(Route(KeyRecord(0x45, platform::WM_KEYDOWN)), ElementsAre("main 69 down"));
    router.Remove(picker); // not there: nothing happens
    EXPECT_EQ(router.depth(), 1u);
}

TEST_F(InputRouterTest, ARecorderThatClosesOnItsToggleRecordsNothingMore) {
    // The record key may make the recorder dialog close (leave the stack) inside the toggle.
    struct ClosingRecorder final : RecorderInputConsumer {
        InputRouter* router = nullptr;
        InputConsumer* self = nullptr;
        int recorded = 0;
        bool IsRecording() const override { return true; }
        void ToggleRecording(bool) override { router->Remove(*self); }
        void RecordKeyEvent(int, int, int32_t) override { ++recorded; }
        void RecordMouseEvent(int, bool, bool, int16_t, ScreenPoint) override {}
    } closing;
    settings.keyMacroRecord = 0x7A;
    settings.recOptions = RecKeys;
    RecorderCapture capture(closing, router, settings, fake);
    closing.router = &router;
    closing.self = &capture;
    router.Push(capture);
    EXPECT_THAT(Route(KeyRecord(0x7A, platform::WM_KEYDOWN)), IsEmpty());
    EXPECT_EQ(closing.recorded, 0);
    EXPECT_FALSE(router.Contains(capture));
}

// --- Status window ---

TEST_F(InputRouterTest, StatusWindowSeesEveryEventWhoeverConsumesIt) {
    fake.SetCursor(11, 22);
    Route(KeyRecord(0x41, platform::WM_KEYDOWN));
    router.Push(delay);
    Route(KeyRecord(0x41, platform::WM_KEYUP));
    Route(MouseRecord(platform::RI_MOUSE_WHEEL, 120));
    router.Remove(delay);
    router.Push(recorder);
    Route(MouseRecord(0, 0, 1, 1));
    EXPECT_THAT(c.status, ElementsAre("key 65 down", "key 65 up", "mouse 10 down 11,22", "mouse 0 up 11,22"));
}

TEST(KeyMouseStatusTest, TextsAndIndicators) {
    platform::FakePlatform fake;
    KeyMouseStatus s(fake, fake);
    int changes = 0;
    s.onChanged = [&] { ++changes; };

    s.ShowKeyEvent(0x41, true);
    EXPECT_EQ(Cp949ToUtf8(s.keyText()), "A key - 누름");
    s.ShowKeyEvent(0xFF, false);
    EXPECT_EQ(Cp949ToUtf8(s.keyText()), "(Unknown) - 뗌");

    s.ShowMouseEvent(1, true, {-1920, 1079});
    s.ShowMouseEvent(6, true, {5, 6});
    s.ShowMouseEvent(4, true, {5, 6});
    s.ShowMouseEvent(4, false, {5, 6});
    s.ShowMouseEvent(0x0A, true, {7, 8}); // the wheel changes no indicator
    EXPECT_EQ(s.positionText(), "7, 8");
    EXPECT_TRUE(s.buttonDown(KeyMouseStatus::Left));
    EXPECT_FALSE(s.buttonDown(KeyMouseStatus::Middle));
    EXPECT_FALSE(s.buttonDown(KeyMouseStatus::Right));
    EXPECT_FALSE(s.buttonDown(KeyMouseStatus::X1));
    EXPECT_TRUE(s.buttonDown(KeyMouseStatus::X2));
    EXPECT_EQ(changes, 7);
    s.ShowMouseEvent(0, false, {-2147483647 - 1, 2147483647});
    EXPECT_EQ(s.positionText(), "-2147483648, 2147483647");
}

TEST(KeyMouseStatusTest, TickOnlyWhileVisible) {
    platform::FakePlatform fake;
    KeyMouseStatus s(fake, fake);
    fake.SetKeyDown(0xA2, true);
    fake.SetImeState(platform::ImeState::Open);
    // Hidden: nothing is sampled.
    EXPECT_FALSE(s.Tick(false));
    EXPECT_FALSE(s.ctrlDown());
    EXPECT_EQ(s.imeText(), "");
    // The first visible tick catches up, the input-method text included.
    EXPECT_TRUE(s.Tick(true));
    EXPECT_TRUE(s.ctrlDown());
    EXPECT_FALSE(s.altDown());
    EXPECT_EQ(Cp949ToUtf8(s.imeText()), "한글");
    EXPECT_FALSE(s.Tick(true)); // nothing changed
    fake.SetKeyDown(0xA2, false);
    fake.SetKeyDown(0xA5, true);
    fake.SetImeState(platform::ImeState::None); // no input method reads as English
    EXPECT_TRUE(s.Tick(true));
    EXPECT_FALSE(s.ctrlDown());
    EXPECT_TRUE(s.altDown());
    EXPECT_EQ(Cp949ToUtf8(s.imeText()), "영어");
    // Without any state known, the first tick still writes English.
    KeyMouseStatus fresh(fake, fake);
    fake.SetKeyDown(0xA5, false);
    EXPECT_TRUE(fresh.Tick(true));
    EXPECT_EQ(Cp949ToUtf8(fresh.imeText()), "영어");
}

// The status window's words follow the language, also after the other language's words were made.
TEST(KeyMouseStatusTest, WordsInEnglish) {
    platform::FakePlatform fake;
    KeyMouseStatus korean(fake, fake);
    korean.ShowKeyEvent(0x41, true);
    ASSERT_EQ(Cp949ToUtf8(korean.keyText()), "A key - 누름");

    const InEnglish english;
    KeyMouseStatus s(fake, fake);
    s.ShowKeyEvent(0x41, true);
    EXPECT_EQ(s.keyText(), "A key - pressed");
    s.ShowKeyEvent(0xFF, false);
    EXPECT_EQ(s.keyText(), "(Unknown) - released");
    fake.SetImeState(platform::ImeState::Open);
    EXPECT_TRUE(s.Tick(true));
    EXPECT_EQ(s.imeText(), "Hangul");
    fake.SetImeState(platform::ImeState::Closed);
    EXPECT_TRUE(s.Tick(true));
    EXPECT_EQ(s.imeText(), "English");
}

} // namespace
} // namespace quillet
