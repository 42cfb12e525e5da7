// Keys and mouse events sent by the backend, as a plain X client receives them, and the state queries.
#include "platform/platform.h"

#include <X11/XF86keysym.h>
#include <X11/keysym.h>
#include <gtest/gtest.h>

#include <sys/wait.h>

#include <cstdlib>
#include <memory>

#include "platform/x11/person_keys.h"
#include "platform/x11/x11_platform.h"
#include "x11_test_support.h"

namespace quillet::platform::x11::test {
namespace {

constexpr uint8_t VK_SHIFT = 0x10, VK_CONTROL = 0x11, VK_MENU = 0x12, VK_CAPITAL = 0x14, VK_HOME = 0x24;
constexpr uint8_t VK_RSHIFT = 0xA1, VK_RCONTROL = 0xA3, VK_F13 = 0x7C, VK_F14 = 0x7D, VK_NUMPAD7 = 0x67;
constexpr uint8_t VK_OEM_1 = 0xBA, VK_OEM_2 = 0xBF, VK_OEM_3 = 0xC0, VK_OEM_7 = 0xDE, VK_OEM_MINUS = 0xBD;

int32_t ToAbsolute(int32_t v, int32_t extent) {
    const double a = v > 0 ? v + 0.5 : v - 0.5;
    return static_cast<int32_t>(a * 65536.0 / extent);
}

class InjectionTest : public ::testing::Test {
protected:
    void SetUp() override {
        ASSERT_TRUE(XvfbRunning()) << XvfbError();
        client = std::make_unique<TestClient>();
        ASSERT_NE(client->dpy(), nullptr);
        x = Open(std::chrono::milliseconds(200));
        ASSERT_TRUE(x);
    }

    static std::unique_ptr<X11Platform> Open(std::chrono::milliseconds linger) {
        X11Options options;
        options.display = XDisplayName();
        options.spareKeyLinger = linger;
        std::string error;
        auto p = X11Platform::Open(options, error);
        EXPECT_TRUE(p) << error;
        return p;
    }

    // A character key as the engine types it: optional left Shift around the key, everything extended.
    void Type(uint8_t vk, bool shift) {
        auto& io = x->io();
        if (shift) io.SendKeyEvent(VK_LSHIFT, io.ScanCodeOf(VK_LSHIFT), KEYEVENTF_EXTENDEDKEY);
        io.SendKeyEvent(vk, io.ScanCodeOf(vk), KEYEVENTF_EXTENDEDKEY);
        io.SendKeyEvent(vk, io.ScanCodeOf(vk), KEYEVENTF_EXTENDEDKEY | KEYEVENTF_KEYUP);
        if (shift) io.SendKeyEvent(VK_LSHIFT, io.ScanCodeOf(VK_LSHIFT), KEYEVENTF_EXTENDEDKEY | KEYEVENTF_KEYUP);
    }
    void Tap(uint8_t vk, uint32_t flags) {
        x->io().SendKeyEvent(vk, 0, flags);
        x->io().SendKeyEvent(vk, 0, flags | KEYEVENTF_KEYUP);
    }
    bool WaitForKeys(std::size_t n) {
        return client->WaitFor([&] { return client->keys.size() >= n; });
    }
    KeySym PressedSym(std::size_t i) const { return client->keys.at(i).sym; }

    PostQueue owner; // outlives the backend, whose monitor may post to it until it stops
    std::unique_ptr<TestClient> client;
    std::unique_ptr<X11Platform> x;
};

TEST_F(InjectionTest, TypedCharactersIncludingShiftedPunctuation) {
    Type('A', false);
    Type('A', true);
    Type(VK_OEM_1, true);
    Type(VK_OEM_2, true);
    Type('1', false);
    Type('1', true);
    Type(VK_OEM_MINUS, true);
    Type(VK_OEM_7, true);
    Type(VK_OEM_3, true);
    Type(' ', false);
    ASSERT_TRUE(WaitForKeys(2 * 10 + 2 * 7));
    EXPECT_EQ(client->Typed(), "aA:?1!_\"~ ");
    EXPECT_EQ(client->keys.size(), 34u);
    EXPECT_EQ(PressedSym(0), static_cast<KeySym>(XK_a));
    EXPECT_EQ(PressedSym(2), static_cast<KeySym>(XK_Shift_L));
}

TEST_F(InjectionTest, ExtendedFlagChoosesTheTwinKey) {
    Tap(VK_RETURN, 0);
    Tap(VK_RETURN, KEYEVENTF_EXTENDEDKEY);
    Tap(VK_CONTROL, 0);
    Tap(VK_CONTROL, KEYEVENTF_EXTENDEDKEY);
    Tap(VK_RCONTROL, 0);
    Tap(VK_MENU, KEYEVENTF_EXTENDEDKEY);
    Tap(VK_HOME, 0);
    Tap(VK_HOME, KEYEVENTF_EXTENDEDKEY);
    Tap(VK_SHIFT, 0);
    Tap(VK_RSHIFT, 0);
    ASSERT_TRUE(WaitForKeys(20));
    const KeySym expected[] = {XK_Return, XK_KP_Enter, XK_Control_L, XK_Control_R, XK_Control_R,
                               XK_Alt_R,  XK_Home,     XK_Home,      XK_Shift_L,   XK_Shift_R};
    for (std::size_t i = 0; i < std::size(expected); ++i) {
        EXPECT_TRUE(client->keys[2 * i].press);
        EXPECT_EQ(PressedSym(2 * i), expected[i]) << "key " << i;
        EXPECT_EQ(client->keys[2 * i + 1].keycode, client->keys[2 * i].keycode) << "key " << i;
    }
}

TEST_F(InjectionTest, ReleaseEndsTheTwinThePressWentTo) {
    // Windows keeps key state by virtual key: a plain release of an extended press releases the right Ctrl.
    x->io().SendKeyEvent(VK_CONTROL, 0, KEYEVENTF_EXTENDEDKEY);
    x->io().SendKeyEvent(VK_CONTROL, 0, KEYEVENTF_KEYUP);
    ASSERT_TRUE(WaitForKeys(2));
    EXPECT_EQ(client->keys[0].sym, static_cast<KeySym>(XK_Control_R));
    EXPECT_FALSE(client->keys[1].press);
    EXPECT_EQ(client->keys[1].keycode, client->keys[0].keycode);
    EXPECT_FALSE(x->io().IsKeyDown(VK_RCONTROL));
}

TEST_F(InjectionTest, KeyMissingFromTheKeymapIsBoundForTheEventThenUnbound) {
    ASSERT_FALSE(KeymapHas(client->dpy(), XK_F13)); // the us map has F13's keycode as XF86Tools
    ASSERT_TRUE(x->monitor().Start(owner.poster(), [](const RawInputRecord&) {})); // keeps time for unbinding
    Tap(VK_F13, 0);
    ASSERT_TRUE(WaitForKeys(2));
    EXPECT_EQ(PressedSym(0), static_cast<KeySym>(XK_F13));
    EXPECT_FALSE(client->keys[1].press);
    EXPECT_TRUE(client->WaitFor([&] { return !KeymapHas(client->dpy(), XK_F13); }));
    // Used again later: bound again.
    Tap(VK_F13, 0);
    ASSERT_TRUE(WaitForKeys(4));
    EXPECT_EQ(PressedSym(2), static_cast<KeySym>(XK_F13));
}

TEST_F(InjectionTest, TypedCharactersWorkWhenTheLayoutLacksTheirKey) {
    // A layout without the ';' ':' key: the engine still types ':' as Shift + VK_OEM_1.
    const unsigned kc = KeycodeOf(client->dpy(), XK_semicolon);
    ASSERT_NE(kc, 0u);
    int perKey = 0;
    KeySym* saved = XGetKeyboardMapping(client->dpy(), static_cast<KeyCode>(kc), 1, &perKey);
    std::vector<KeySym> empty(static_cast<std::size_t>(perKey), NoSymbol);
    XChangeKeyboardMapping(client->dpy(), static_cast<int>(kc), perKey, empty.data(), 1);
    XSync(client->dpy(), False);
    Type(VK_OEM_1, true);
    Type(VK_OEM_1, false);
    const bool received = WaitForKeys(6);
    XChangeKeyboardMapping(client->dpy(), static_cast<int>(kc), perKey, saved, 1);
    XFree(saved);
    XSync(client->dpy(), False);
    ASSERT_TRUE(received);
    EXPECT_EQ(client->Typed(), ":;");
}

TEST_F(InjectionTest, SpareKeycodesFollowKeymapChanges) {
    // A whole new keymap loaded while a macro plays: the binding it replaced is gone, F13 is bound again.
    x = Open(std::chrono::hours(1));
    ASSERT_TRUE(x);
    Tap(VK_F13, 0);
    ASSERT_TRUE(WaitForKeys(2));
    ASSERT_EQ(PressedSym(0), static_cast<KeySym>(XK_F13));
    const std::string command = "setxkbmap -display " + XDisplayName() + " -layout us";
    const int status = std::system(command.c_str());
    ASSERT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0) << command;
    ASSERT_TRUE(client->WaitFor([&] { return !KeymapHas(client->dpy(), XK_F13); }));
    Tap(VK_F13, 0);
    ASSERT_TRUE(WaitForKeys(4));
    EXPECT_EQ(PressedSym(2), static_cast<KeySym>(XK_F13));

    // A keycode given to a real key while bound for us is the user's now: the end of the linger leaves it alone.
    x = Open(std::chrono::milliseconds(200));
    ASSERT_TRUE(x);
    ASSERT_TRUE(x->monitor().Start(owner.poster(), [](const RawInputRecord&) {})); // keeps time for unbinding
    Tap(VK_F13, 0);
    ASSERT_TRUE(WaitForKeys(6));
    ASSERT_EQ(PressedSym(4), static_cast<KeySym>(XK_F13));
    const auto taken = static_cast<KeyCode>(client->keys[4].keycode);
    KeySym real[2] = {XK_F20, XK_F20};
    XChangeKeyboardMapping(client->dpy(), taken, 2, real, 1);
    XSync(client->dpy(), False);
    // Bound after the change, so unbound after the first binding's linger has ended too.
    Tap(VK_F14, 0);
    ASSERT_TRUE(WaitForKeys(8));
    ASSERT_EQ(PressedSym(6), static_cast<KeySym>(XK_F14));
    EXPECT_TRUE(client->WaitFor([&] { return !KeymapHas(client->dpy(), XK_F14); }));
    EXPECT_EQ(KeycodeOf(client->dpy(), XK_F20), taken);
    // F13 goes to a keycode that carries it, not to the one the user has now.
    Tap(VK_F13, 0);
    ASSERT_TRUE(WaitForKeys(10));
    EXPECT_EQ(PressedSym(8), static_cast<KeySym>(XK_F13));
    EXPECT_NE(client->keys[8].keycode, taken);
    KeySym blank[2] = {NoSymbol, NoSymbol};
    XChangeKeyboardMapping(client->dpy(), taken, 2, blank, 1);
    XSync(client->dpy(), False);
}

TEST_F(InjectionTest, PersonsHeldShiftOutlastsShiftedCharactersTyped) {
    Display* other = XOpenDisplay(XDisplayName().c_str());
    ASSERT_NE(other, nullptr);
    auto keyboard = std::make_unique<PersonDevice>(other, "Xvfb keyboard");
    ASSERT_TRUE(keyboard->ok());
    const unsigned shift = KeycodeOf(other, XK_Shift_L);
    const auto personKey = [&](KeySym sym, bool press) {
        keyboard->Key(KeycodeOf(other, sym), press);
        XSync(other, False);
    };

    personKey(XK_Shift_L, true);
    // Only the person's keys count, not ours.
    x->io().SendKeyEvent('Q', 0, 0);
    const std::bitset<256> held = PersonHeldKeycodes(other);
    EXPECT_TRUE(held.test(shift));
    EXPECT_EQ(held.count(), 1u);
    x->io().SendKeyEvent('Q', 0, KEYEVENTF_KEYUP);

    Type('A', false);
    Type('B', true);
    Type('C', false);
    EXPECT_TRUE(x->io().IsKeyDown(VK_LSHIFT));
    personKey(XK_d, true);
    personKey(XK_d, false);
    personKey(XK_Shift_L, false);
    personKey(XK_e, true);
    personKey(XK_e, false);
    // Once the person has let go, the macro's Shift works as before.
    Type('F', true);
    Type('G', false);
    client->WaitFor([&] { return client->Typed().size() >= 8; });
    EXPECT_EQ(client->Typed(), "QABCDeFg");
    EXPECT_FALSE(x->io().IsKeyDown(VK_SHIFT));

    // Closing while the person holds Shift leaves it held; the next program's Shift still works after that.
    personKey(XK_Shift_L, true);
    Type('H', true);
    x.reset();
    char keys[32] = {};
    XQueryKeymap(client->dpy(), keys);
    EXPECT_NE(keys[shift / 8] & (1 << (shift % 8)), 0);
    personKey(XK_Shift_L, false);
    x = Open(std::chrono::milliseconds(200));
    ASSERT_TRUE(x);
    Type('I', true);
    client->WaitFor([&] { return client->Typed().size() >= 10; });
    EXPECT_EQ(client->Typed(), "QABCDeFgHI");
    keyboard.reset();
    XCloseDisplay(other);
}

TEST_F(InjectionTest, BindingsAndHeldKeysAreUndoneWhenTheBackendCloses) {
    x = Open(std::chrono::hours(1));
    ASSERT_TRUE(x);
    Tap(VK_F13, 0);
    x->io().SendKeyEvent(VK_LSHIFT, 0, 0);
    x->io().SendMouseEvent(MOUSEEVENTF_LEFTDOWN, 0, 0, 0);
    ASSERT_TRUE(WaitForKeys(3));
    ASSERT_TRUE(client->WaitFor([&] { return !client->buttons.empty(); }));
    EXPECT_TRUE(KeymapHas(client->dpy(), XK_F13));
    x.reset();
    EXPECT_FALSE(KeymapHas(client->dpy(), XK_F13));
    ASSERT_TRUE(WaitForKeys(4));
    EXPECT_FALSE(client->keys[3].press);
    EXPECT_EQ(client->keys[3].sym, static_cast<KeySym>(XK_Shift_L));
    ASSERT_TRUE(client->WaitFor([&] { return client->buttons.size() == 2; }));
    EXPECT_FALSE(client->buttons[1].press);
}

TEST_F(InjectionTest, ButtonsXButtonsAndWheel) {
    auto& io = x->io();
    io.SendMouseEvent(MOUSEEVENTF_LEFTDOWN | MOUSEEVENTF_LEFTUP, 0, 0, 0);
    io.SendMouseEvent(MOUSEEVENTF_RIGHTDOWN, 0, 0, 0);
    io.SendMouseEvent(MOUSEEVENTF_RIGHTUP, 0, 0, 0);
    io.SendMouseEvent(MOUSEEVENTF_MIDDLEDOWN | MOUSEEVENTF_MIDDLEUP, 0, 0, 0);
    io.SendMouseEvent(MOUSEEVENTF_XDOWN, 0, 0, XBUTTON1);
    io.SendMouseEvent(MOUSEEVENTF_XUP, 0, 0, XBUTTON1);
    io.SendMouseEvent(MOUSEEVENTF_XDOWN | MOUSEEVENTF_XUP, 0, 0, XBUTTON2);
    io.SendMouseEvent(MOUSEEVENTF_WHEEL, 0, 0, 240); // two notches up
    io.SendMouseEvent(MOUSEEVENTF_WHEEL, 0, 0, -60); // half a notch: kept
    io.SendMouseEvent(MOUSEEVENTF_WHEEL, 0, 0, -60); // completes one notch down
    ASSERT_TRUE(client->WaitFor([&] { return client->buttons.size() >= 2 * 8; }));
    const unsigned expected[] = {1, 3, 2, 8, 9, 4, 4, 5};
    ASSERT_EQ(client->buttons.size(), 16u);
    for (std::size_t i = 0; i < std::size(expected); ++i) {
        EXPECT_TRUE(client->buttons[2 * i].press);
        EXPECT_EQ(client->buttons[2 * i].button, expected[i]) << i;
        EXPECT_FALSE(client->buttons[2 * i + 1].press);
        EXPECT_EQ(client->buttons[2 * i + 1].button, expected[i]) << i;
    }
}

TEST_F(InjectionTest, AbsoluteAndRelativeMoves) {
    auto& io = x->io();
    const ScreenSize size = io.PrimaryScreenSize();
    EXPECT_EQ(size, (ScreenSize{kScreenWidth, kScreenHeight}));
    EXPECT_EQ(io.VirtualScreen(), (ScreenRect{0, 0, kScreenWidth, kScreenHeight}));
    ScreenPoint p;
    for (ScreenPoint target :
         {ScreenPoint{100, 200}, ScreenPoint{0, 0}, ScreenPoint{1279, 1023}, ScreenPoint{640, 1}}) {
        io.SendMouseEvent(MOUSEEVENTF_MOVE | MOUSEEVENTF_ABSOLUTE, ToAbsolute(target.x, size.width),
                          ToAbsolute(target.y, size.height), 0);
        ASSERT_TRUE(io.CursorPos(p));
        EXPECT_EQ(p, target);
    }
    io.SendMouseEvent(MOUSEEVENTF_MOVE, 3, 2, 0);
    ASSERT_TRUE(io.CursorPos(p));
    EXPECT_GT(p.x, 640);
    EXPECT_GT(p.y, 1);
    // Beyond the screen: the pointer stops at its edge.
    io.SendMouseEvent(MOUSEEVENTF_MOVE | MOUSEEVENTF_ABSOLUTE, 200000, -5000, 0);
    ASSERT_TRUE(io.CursorPos(p));
    EXPECT_EQ(p, (ScreenPoint{1279, 0}));
}

TEST_F(InjectionTest, KeyAndButtonState) {
    auto& io = x->io();
    EXPECT_FALSE(io.IsKeyDown(VK_LSHIFT));
    io.SendKeyEvent(VK_LSHIFT, 0, 0);
    EXPECT_TRUE(io.IsKeyDown(VK_LSHIFT));
    EXPECT_TRUE(io.IsKeyDown(VK_SHIFT));
    EXPECT_FALSE(io.IsKeyDown(VK_RSHIFT));
    EXPECT_FALSE(io.IsKeyDown('A'));
    std::array<uint8_t, 256> state = io.KeyboardState();
    EXPECT_EQ(state[VK_LSHIFT] & 0x80, 0x80);
    EXPECT_EQ(state[VK_SHIFT] & 0x80, 0x80);
    EXPECT_EQ(state[VK_CONTROL], 0);
    io.SendKeyEvent(VK_LSHIFT, 0, KEYEVENTF_KEYUP);
    EXPECT_FALSE(io.IsKeyDown(VK_SHIFT));

    io.SendMouseEvent(MOUSEEVENTF_RIGHTDOWN, 0, 0, 0);
    EXPECT_TRUE(io.IsKeyDown(0x02));
    EXPECT_FALSE(io.IsKeyDown(0x01));
    io.SendMouseEvent(MOUSEEVENTF_RIGHTUP, 0, 0, 0);
    EXPECT_FALSE(io.IsKeyDown(0x02));

    // Caps Lock: the toggle bit follows the lock, not the key.
    EXPECT_EQ(io.KeyboardState()[VK_CAPITAL], 0);
    Tap(VK_CAPITAL, 0);
    EXPECT_EQ(io.KeyboardState()[VK_CAPITAL], 0x01);
    Tap(VK_CAPITAL, 0);
    EXPECT_EQ(io.KeyboardState()[VK_CAPITAL], 0);
}

TEST_F(InjectionTest, ScanCodes) {
    auto& io = x->io();
    EXPECT_EQ(io.ScanCodeOf('A'), 0x1E);
    EXPECT_EQ(io.ScanCodeOf(VK_RETURN), 0x1C);
    EXPECT_EQ(io.ScanCodeOf(VK_LSHIFT), 0x2A);
    EXPECT_EQ(io.ScanCodeOf(VK_RSHIFT), 0x36);
    EXPECT_EQ(io.ScanCodeOf(VK_RCONTROL), 0x1D);
    EXPECT_EQ(io.ScanCodeOf(VK_HOME), 0x47);
    EXPECT_EQ(io.ScanCodeOf(VK_NUMPAD7), 0x47);
    EXPECT_EQ(io.ScanCodeOf(VK_HANGUL), 0x72);
    EXPECT_EQ(io.ScanCodeOf(VK_F13), 0x64); // not on the map: the PC keyboard's code
    EXPECT_EQ(io.ScanCodeOf(0x01), 0);
}

TEST(X11PlatformOpen, FailsWithAPlainMessage) {
    X11Options options;
    options.display = ":32000";
    std::string error;
    EXPECT_FALSE(X11Platform::Open(options, error));
    EXPECT_NE(error.find("cannot connect"), std::string::npos) << error;
}

TEST(DeferredGuardian, StartsInTheBackgroundAndIsWaitedForWhenAsked) {
    ASSERT_TRUE(XvfbRunning()) << XvfbError();
    X11Options options;
    options.display = XDisplayName();
    options.guardian = true;
    options.guardianAwaitReady = false;
    options.guardianExecutable = QUILLET_GUARDIAN_PATH;
    std::string error;
    std::unique_ptr<X11Platform> p = X11Platform::Open(options, error);
    ASSERT_TRUE(p) << error;
    EXPECT_TRUE(p->guardianProblem().empty()) << p->guardianProblem();
    EXPECT_TRUE(p->FinishGuardianStart()) << p->guardianProblem();
    EXPECT_TRUE(p->FinishGuardianStart()) << "asked again: the same answer";

    // A guardian that never says it is ready is reported when waited for; the backend goes on sending.
    options.guardianExecutable = "/bin/false";
    std::unique_ptr<X11Platform> q = X11Platform::Open(options, error);
    ASSERT_TRUE(q) << error;
    EXPECT_FALSE(q->FinishGuardianStart());
    EXPECT_NE(q->guardianProblem().find("ended at once"), std::string::npos) << q->guardianProblem();
    EXPECT_FALSE(q->FinishGuardianStart());
    q->io().SendKeyEvent(VK_SHIFT, q->io().ScanCodeOf(VK_SHIFT), 0);
    q->io().SendKeyEvent(VK_SHIFT, q->io().ScanCodeOf(VK_SHIFT), KEYEVENTF_KEYUP);
}

} // namespace
} // namespace quillet::platform::x11::test
