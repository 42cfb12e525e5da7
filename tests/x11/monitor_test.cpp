// Raw input seen by the monitor: a person's keys and clicks (real slave devices), another program's XTest input and
// our own, with only our own marked injected.
#include "platform/platform.h"

#include <X11/keysym.h>
#include <gtest/gtest.h>

#include <memory>
#include <random>
#include <sstream>

#include "engine/engine.h"
#include "input/input_decoder.h"
#include "model/settings.h"
#include "platform/x11/x11_platform.h"
#include "x11_test_support.h"

#include <X11/extensions/XTest.h>

namespace quillet::platform::x11::test {
namespace {

constexpr uint8_t VK_F13 = 0x7C;

struct Seen {
    bool keyboard;
    uint16_t code; // vk, or mouse button flags
    bool up;       // key up
    bool injected;
    friend bool operator==(const Seen&, const Seen&) = default;
};

std::ostream& operator<<(std::ostream& os, const Seen& s) {
    return os << (s.keyboard ? "key " : "mouse ") << std::hex << s.code << (s.up ? " up" : "")
              << (s.injected ? " injected" : "");
}

class MonitorTest : public ::testing::Test {
protected:
    void SetUp() override {
        ASSERT_TRUE(XvfbRunning()) << XvfbError();
        X11Options options;
        options.display = XDisplayName();
        std::string error;
        x = X11Platform::Open(options, error);
        ASSERT_TRUE(x) << error;
        other = XOpenDisplay(XDisplayName().c_str());
        ASSERT_NE(other, nullptr);
        keyboard = std::make_unique<PersonDevice>(other, "Xvfb keyboard");
        mouse = std::make_unique<PersonDevice>(other, "Xvfb mouse");
        ASSERT_TRUE(keyboard->ok());
        ASSERT_TRUE(mouse->ok());
        ASSERT_TRUE(x->monitor().Start(owner.poster(), [this](const RawInputRecord& r) { records.push_back(r); }));
    }
    void TearDown() override {
        if (x) x->monitor().Stop();
        keyboard.reset();
        mouse.reset();
        if (other != nullptr) XCloseDisplay(other);
    }
    bool WaitForRecords(std::size_t n) {
        return owner.RunUntil([&] { return records.size() >= n; });
    }
    // Another program's fake input: XTest on a connection of its own.
    void OtherKey(KeySym sym, bool press) {
        XTestFakeKeyEvent(other, KeycodeOf(other, sym), press ? True : False, CurrentTime);
        XFlush(other);
    }
    void OtherButton(unsigned button, bool press) {
        XTestFakeButtonEvent(other, button, press ? True : False, CurrentTime);
        XFlush(other);
    }

    static Seen Summary(const RawInputRecord& r) {
        if (r.device == RawInputRecord::Device::Keyboard)
            return {true, r.vkey, r.message == WM_KEYUP || r.message == WM_SYSKEYUP, r.injected};
        return {false, r.buttonFlags, false, r.injected};
    }

    std::unique_ptr<X11Platform> x;
    Display* other = nullptr;
    std::unique_ptr<PersonDevice> keyboard, mouse;
    PostQueue owner;
    std::vector<RawInputRecord> records;
};

TEST_F(MonitorTest, PersonsKeysButtonsAndMotion) {
    const unsigned a = KeycodeOf(other, XK_a);
    const unsigned kpEnter = KeycodeOf(other, XK_KP_Enter);
    keyboard->Key(a, true);
    keyboard->Key(a, false);
    keyboard->Key(kpEnter, true);
    keyboard->Key(kpEnter, false);
    mouse->Button(1, true);
    mouse->Button(1, false);
    mouse->Button(2, true);
    mouse->Button(2, false);
    mouse->MoveBy(5, -3);
    ASSERT_TRUE(WaitForRecords(9));
    ASSERT_EQ(records.size(), 9u);
    for (const RawInputRecord& r : records) EXPECT_FALSE(r.injected);

    EXPECT_EQ(records[0].device, RawInputRecord::Device::Keyboard);
    EXPECT_EQ(records[0].vkey, 'A');
    EXPECT_EQ(records[0].makeCode, 0x1E);
    EXPECT_EQ(records[0].message, WM_KEYDOWN);
    EXPECT_EQ(records[0].keyFlags, 0);
    EXPECT_EQ(records[1].message, WM_KEYUP);
    EXPECT_EQ(records[1].keyFlags, 1);
    EXPECT_EQ(records[2].vkey, VK_RETURN);
    EXPECT_EQ(records[2].makeCode, 0x1C);
    EXPECT_EQ(records[2].keyFlags, 2); // E0

    EXPECT_EQ(records[4].device, RawInputRecord::Device::Mouse);
    EXPECT_EQ(records[4].buttonFlags, RI_MOUSE_LEFT_BUTTON_DOWN);
    EXPECT_EQ(records[5].buttonFlags, RI_MOUSE_LEFT_BUTTON_UP);
    EXPECT_EQ(records[6].buttonFlags, RI_MOUSE_MIDDLE_BUTTON_DOWN);
    EXPECT_EQ(records[7].buttonFlags, RI_MOUSE_MIDDLE_BUTTON_UP);
    EXPECT_EQ(records[8].buttonFlags, 0);
    EXPECT_EQ(records[8].lastX, 5);
    EXPECT_EQ(records[8].lastY, -3);
}

TEST_F(MonitorTest, WheelAndSideButtonsOfAnotherProgram) {
    // The Xvfb mouse has three buttons only: the wheel and the side buttons come from another program's XTest.
    OtherButton(4, true);
    OtherButton(4, false);
    OtherButton(5, true);
    OtherButton(5, false);
    OtherButton(8, true);
    OtherButton(8, false);
    OtherButton(6, true);
    OtherButton(6, false);
    ASSERT_TRUE(WaitForRecords(5));
    XSync(other, False);
    ScreenPoint ignored;
    x->io().CursorPos(ignored);
    owner.RunPending();
    ASSERT_EQ(records.size(), 5u);
    for (const RawInputRecord& r : records) EXPECT_FALSE(r.injected);
    EXPECT_EQ(records[0].buttonFlags, RI_MOUSE_WHEEL);
    EXPECT_EQ(records[0].buttonData, 120);
    EXPECT_EQ(records[1].buttonFlags, RI_MOUSE_WHEEL);
    EXPECT_EQ(records[1].buttonData, -120);
    EXPECT_EQ(records[2].buttonFlags, RI_MOUSE_BUTTON_4_DOWN);
    EXPECT_EQ(records[3].buttonFlags, RI_MOUSE_BUTTON_4_UP);
    EXPECT_EQ(records[4].buttonFlags, RI_MOUSE_HWHEEL);
    EXPECT_EQ(records[4].buttonData, -120);
}

TEST_F(MonitorTest, OnlyOurOwnInputIsMarkedInjected) {
    // Both use the one XTEST keyboard: each side finishes its key before the other starts.
    ScreenPoint ignored;
    x->io().SendKeyEvent('B', 0, 0);
    x->io().SendKeyEvent('B', 0, KEYEVENTF_KEYUP);
    x->io().CursorPos(ignored);
    OtherKey(XK_b, true);
    OtherKey(XK_b, false);
    XSync(other, False);
    x->io().SendMouseEvent(MOUSEEVENTF_LEFTDOWN | MOUSEEVENTF_LEFTUP, 0, 0, 0);
    x->io().CursorPos(ignored);
    OtherButton(3, true);
    OtherButton(3, false);
    XSync(other, False);
    x->io().SendKeyEvent(VK_F13, 0, 0); // a key bound to a spare keycode for the event
    x->io().SendKeyEvent(VK_F13, 0, KEYEVENTF_KEYUP);
    ASSERT_TRUE(WaitForRecords(10));
    std::vector<Seen> seen;
    for (const RawInputRecord& r : records) seen.push_back(Summary(r));
    // Our requests and the other connection's are not ordered against each other: compare per source.
    std::vector<Seen> ours, theirs;
    for (const Seen& s : seen) (s.injected ? ours : theirs).push_back(s);
    EXPECT_EQ(ours, (std::vector<Seen>{{true, 'B', false, true},
                                       {true, 'B', true, true},
                                       {false, RI_MOUSE_LEFT_BUTTON_DOWN, false, true},
                                       {false, RI_MOUSE_LEFT_BUTTON_UP, false, true},
                                       {true, VK_F13, false, true},
                                       {true, VK_F13, true, true}}));
    EXPECT_EQ(theirs, (std::vector<Seen>{{true, 'B', false, false},
                                         {true, 'B', true, false},
                                         {false, RI_MOUSE_RIGHT_BUTTON_DOWN, false, false},
                                         {false, RI_MOUSE_RIGHT_BUTTON_UP, false, false}}));
}

TEST_F(MonitorTest, AnotherProgramsPressOfAKeyAMacroHoldsSatisfiesItsKeyWait) {
    // The macro holds A and waits for a press of A; an on-screen keyboard (XTest) presses A.
    CAppIni settings("/nonexistent/Quillet.ini", false);
    MacroLibrary library;
    Macro holder = MakeNewMacro("holder");
    holder.items.push_back(MakeKeyItem('A', ActionPress));
    holder.items.push_back(MakeDelayItem('A', DelayKey));
    holder.items.push_back(MakeKeyItem('A', ActionRelease));
    library.push_back(holder);
    Macro& m = library[0];
    Engine engine(library, settings, x->platform());
    engine.StartMacro(m, 1);
    engine.StepMacro(m, 0); // presses A
    engine.StepMacro(m, 0); // arms the wait
    ScreenPoint ignored;
    x->io().CursorPos(ignored); // our press is in the server before theirs
    OtherKey(XK_a, true);
    OtherKey(XK_a, false);
    ASSERT_TRUE(WaitForRecords(3));
    for (const RawInputRecord& r : records) {
        if (auto e = DecodeKeyboard(r)) engine.OnKeyEventForWaits(MakeKeyEventCode(e->code, e->isPress, x->io()));
    }
    EXPECT_EQ(Summary(records[0]), (Seen{true, 'A', false, true}));
    EXPECT_EQ(Summary(records[1]), (Seen{true, 'A', false, false}));
    EXPECT_EQ(Summary(records[2]), (Seen{true, 'A', true, false}));
    engine.StepMacro(m, 0);
    EXPECT_EQ(m.runPos, 3) << "the key wait was not satisfied";
    engine.StopEverything(HeldInput::Release);
}

TEST_F(MonitorTest, MixedBurstOfTwoThousandEventsIsClassifiedExactly) {
    // Sources take turns in random order; at each change of source both connections are synchronised with the
    // server, so the order in which the events happen is known. The same keys and buttons are used by all three.
    std::mt19937 random(20240607);
    std::vector<Seen> expected;
    int lastSource = -1;
    const KeySym keys[] = {XK_a, XK_s, XK_Return};
    const uint8_t vks[] = {'A', 'S', VK_RETURN};
    const unsigned buttons[] = {1, 3};
    const uint16_t downFlags[] = {RI_MOUSE_LEFT_BUTTON_DOWN, RI_MOUSE_RIGHT_BUTTON_DOWN};
    const uint16_t upFlags[] = {RI_MOUSE_LEFT_BUTTON_UP, RI_MOUSE_RIGHT_BUTTON_UP};
    while (expected.size() < 2000) {
        const int source = static_cast<int>(random() % 3); // 0 ours, 1 a person, 2 another program
        if (source != lastSource) {
            XSync(other, False);
            ScreenPoint ignored;
            x->io().CursorPos(ignored); // a round trip on our connection
            lastSource = source;
        }
        const bool injected = source == 0;
        if (random() % 2 == 0) {
            const std::size_t k = random() % 3;
            if (source == 0) {
                x->io().SendKeyEvent(vks[k], 0, 0);
                x->io().SendKeyEvent(vks[k], 0, KEYEVENTF_KEYUP);
            } else if (source == 1) {
                keyboard->Key(KeycodeOf(other, keys[k]), true);
                keyboard->Key(KeycodeOf(other, keys[k]), false);
            } else {
                OtherKey(keys[k], true);
                OtherKey(keys[k], false);
            }
            expected.push_back({true, vks[k], false, injected});
            expected.push_back({true, vks[k], true, injected});
        } else {
            const std::size_t b = random() % 2;
            if (source == 0) {
                const uint32_t flags =
                    b == 0 ? MOUSEEVENTF_LEFTDOWN | MOUSEEVENTF_LEFTUP : MOUSEEVENTF_RIGHTDOWN | MOUSEEVENTF_RIGHTUP;
                x->io().SendMouseEvent(flags, 0, 0, 0);
            } else if (source == 1) {
                mouse->Button(buttons[b], true);
                mouse->Button(buttons[b], false);
            } else {
                OtherButton(buttons[b], true);
                OtherButton(buttons[b], false);
            }
            expected.push_back({false, downFlags[b], false, injected});
            expected.push_back({false, upFlags[b], false, injected});
        }
    }
    XSync(other, False);
    ASSERT_TRUE(WaitForRecords(expected.size()));
    ASSERT_EQ(records.size(), expected.size());
    std::size_t wrong = 0;
    for (std::size_t i = 0; i < expected.size(); ++i) {
        const Seen got = Summary(records[i]);
        if (got != expected[i]) {
            if (++wrong <= 5) ADD_FAILURE() << "record " << i << ": " << got << ", expected " << expected[i];
        }
    }
    EXPECT_EQ(wrong, 0u);
}

TEST_F(MonitorTest, NothingReachesTheSinkAfterStop) {
    x->io().SendKeyEvent('C', 0, 0);
    x->io().SendKeyEvent('C', 0, KEYEVENTF_KEYUP);
    ScreenPoint ignored;
    x->io().CursorPos(ignored);
    // The batch may already be posted; Stop must keep it from the sink all the same.
    x->monitor().Stop();
    owner.RunPending();
    const std::size_t afterStop = records.size();
    keyboard->Key(KeycodeOf(other, XK_d), true);
    keyboard->Key(KeycodeOf(other, XK_d), false);
    XSync(other, False);
    owner.RunPending();
    EXPECT_EQ(records.size(), afterStop);

    // Started again, it delivers again.
    records.clear();
    ASSERT_TRUE(x->monitor().Start(owner.poster(), [this](const RawInputRecord& r) { records.push_back(r); }));
    keyboard->Key(KeycodeOf(other, XK_e), true);
    ASSERT_TRUE(WaitForRecords(1));
    EXPECT_EQ(records[0].vkey, 'E');
    keyboard->Key(KeycodeOf(other, XK_e), false);
}

TEST_F(MonitorTest, FlushPostsWhatCameBeforeItInOrder) {
    // A person's keys, then at once a flush and a stop, as a shutdown request does: whatever the monitor thread has
    // or has not posted yet, everything that came before the flush reaches the sink, in order, before the stop.
    for (KeySym k : {XK_f, XK_g, XK_h}) {
        keyboard->Key(KeycodeOf(other, k), true);
        keyboard->Key(KeycodeOf(other, k), false);
    }
    XSync(other, False);
    x->monitor().Flush();
    owner.RunPending();
    x->monitor().Stop();
    ASSERT_EQ(records.size(), 6u);
    const uint16_t expected[] = {'F', 'F', 'G', 'G', 'H', 'H'};
    for (std::size_t i = 0; i < records.size(); ++i) {
        EXPECT_EQ(records[i].vkey, expected[i]) << i;
        EXPECT_EQ(records[i].message, i % 2 == 0 ? WM_KEYDOWN : WM_KEYUP) << i;
        EXPECT_FALSE(records[i].injected) << i;
    }
}

TEST_F(MonitorTest, KeypadKeysFollowNumLock) {
    const unsigned kp7 = KeycodeOf(other, XK_KP_Home);
    keyboard->Key(kp7, true);
    keyboard->Key(kp7, false);
    ASSERT_TRUE(WaitForRecords(2));
    EXPECT_EQ(records[0].vkey, 0x24);  // Home
    EXPECT_EQ(records[0].keyFlags, 0); // not E0: the keypad's Home
    const unsigned numLock = KeycodeOf(other, XK_Num_Lock);
    keyboard->Key(numLock, true);
    keyboard->Key(numLock, false);
    keyboard->Key(kp7, true);
    keyboard->Key(kp7, false);
    keyboard->Key(numLock, true);
    keyboard->Key(numLock, false);
    ASSERT_TRUE(WaitForRecords(8));
    EXPECT_EQ(records[2].vkey, 0x90);
    EXPECT_EQ(records[4].vkey, 0x67); // VK_NUMPAD7
    EXPECT_EQ(records[4].makeCode, 0x47);
}

} // namespace
} // namespace quillet::platform::x11::test
