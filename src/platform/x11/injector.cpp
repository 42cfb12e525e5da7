#include "platform/x11/injector.h"

#include <X11/extensions/XInput2.h>
#include <X11/extensions/XTest.h>

#include "platform/x11/keysym_table.h"
#include "platform/x11/person_keys.h"

namespace quillet::platform::x11 {
namespace {

constexpr uint8_t VK_CAPITAL = 0x14;
constexpr uint8_t VK_NUMLOCK = 0x90;
constexpr uint8_t VK_SCROLL = 0x91;

// Windows' mouse virtual keys by X button.
uint8_t VkOfButton(int button) {
    switch (button) {
    case 1:
        return 0x01;
    case 3:
        return 0x02;
    case 2:
        return 0x04;
    case 8:
        return 0x05;
    case 9:
        return 0x06;
    default:
        return 0;
    }
}

bool IsMouseVk(uint8_t vk) {
    return vk == 0x01 || vk == 0x02 || vk == 0x04 || vk == 0x05 || vk == 0x06;
}

} // namespace

X11InputOutput::~X11InputOutput() {
    std::lock_guard lock(conn_.mutex);
    std::bitset<256> released;
    for (KeyCode kc : pressedKeycode_) {
        if (kc != 0 && !released.test(kc)) {
            released.set(kc);
            if (!HeldBackForPerson(kc, true)) FakeKey(kc, false);
        }
    }
    // A modifier the person still holds is left down on our XTest device: that does not keep it down on the master
    // keyboard once the person lets go, whereas a release now would end the person's hold.
    if (owedRelease_.any()) SendOwedReleases(PersonHeldKeycodes(conn_.dpy()));
    for (unsigned b = 0; b < buttonsHeld_.size(); ++b)
        if (buttonsHeld_.test(b)) FakeButton(b, false);
    XSync(conn_.dpy(), False);
    SettleAndRecord();
}

void X11InputOutput::SettleAndRecord() {
    conn_.Settle();
    if (!anyReleased_) return;
    for (unsigned kc = 0; kc < releasedKeycodes_.size(); ++kc)
        if (releasedKeycodes_.test(kc)) ledger_.KeyUp(kc);
    for (unsigned b = 0; b < releasedButtons_.size(); ++b)
        if (releasedButtons_.test(b)) ledger_.ButtonUp(b);
    releasedKeycodes_.reset();
    releasedButtons_.reset();
    anyReleased_ = false;
}

void X11InputOutput::FakeKey(KeyCode kc, bool press) {
    Display* d = conn_.dpy();
    if (ledger_.active()) {
        if (press) {
            ledger_.KeyDown(kc);
            releasedKeycodes_.reset(kc);
        } else {
            releasedKeycodes_.set(kc);
            anyReleased_ = true;
        }
    }
    XTestFakeKeyEvent(d, kc, press ? True : False, CurrentTime);
    if (conn_.monitoring())
        conn_.filter().Expect(NextRequest(d) - 1, press ? RawKind::KeyDown : RawKind::KeyUp, kc,
                              std::chrono::steady_clock::now());
}

void X11InputOutput::FakeButton(unsigned button, bool press) {
    Display* d = conn_.dpy();
    if (ledger_.active() && button < releasedButtons_.size()) {
        if (press) {
            ledger_.ButtonDown(button);
            releasedButtons_.reset(button);
        } else {
            releasedButtons_.set(button);
            anyReleased_ = true;
        }
    }
    XTestFakeButtonEvent(d, button, press ? True : False, CurrentTime);
    if (conn_.monitoring())
        conn_.filter().Expect(NextRequest(d) - 1, press ? RawKind::ButtonDown : RawKind::ButtonUp,
                              static_cast<int>(button), std::chrono::steady_clock::now());
    if (button < buttonsHeld_.size()) buttonsHeld_.set(button, press);
}

bool X11InputOutput::HeldBackForPerson(KeyCode kc, bool release) {
    // The master keyboard keeps one state per key for all its devices: our release of a modifier would end the
    // person's hold on it too, and X does not repeat modifiers to restore it.
    std::optional<std::bitset<256>> personHeld;
    const auto person = [&]() -> const std::bitset<256>& {
        if (!personHeld) personHeld = PersonHeldKeycodes(conn_.dpy());
        return *personHeld;
    };
    bool ours = false; // our XTest device holds the key for a macro of ours
    if (owedRelease_.any()) {
        SendOwedReleases(person());
        ours = owedRelease_.test(kc);
        if (!release) owedRelease_.reset(kc); // pressed again: ours to release later
    }
    if (!release) {
        for (KeyCode held : pressedKeycode_) ours = ours || held == kc;
        // A modifier left down on the XTest device, by us or another program that ended while a person held it,
        // takes no press from XTest: release it first so that ours reaches the master keyboard.
        if (!ours && conn_.keymap().IsModifier(kc) && XtestHeldKeycodes(conn_.dpy()).test(kc)) FakeKey(kc, false);
        return false;
    }
    if (!conn_.keymap().IsModifier(kc) || !person().test(kc)) return false;
    owedRelease_.set(kc);
    return true;
}

void X11InputOutput::SendOwedReleases(const std::bitset<256>& personHeld) {
    for (unsigned k = 0; k < owedRelease_.size(); ++k) {
        if (!owedRelease_.test(k) || personHeld.test(k)) continue;
        owedRelease_.reset(k);
        FakeKey(static_cast<KeyCode>(k), false);
    }
}

void X11InputOutput::SendKeyEvent(uint8_t vk, uint8_t /*scan*/, uint32_t flags) {
    const bool release = (flags & KEYEVENTF_KEYUP) != 0;
    const bool extended = (flags & KEYEVENTF_EXTENDEDKEY) != 0;
    const KeySym sym = KeysymForVk(vk, extended);
    if (sym == 0) return; // no such key on X (the mouse-button codes, VK_ACCEPT, ...)

    std::lock_guard lock(conn_.mutex);
    const auto now = std::chrono::steady_clock::now();
    conn_.Pump();
    KeyCode kc = 0;
    if (release && pressedKeycode_[vk] != 0) {
        // Windows tracks key state by virtual key: a release ends whichever twin the press went to.
        kc = pressedKeycode_[vk];
    } else {
        Keymap& keymap = conn_.keymap();
        const bool numLock = IsKeypadKeysym(static_cast<uint32_t>(sym)) && keymap.NumLockOn();
        kc = keymap.KeycodeFor(sym, numLock);
        if (kc == 0) kc = conn_.spareKeys().Acquire(sym, ShiftedKeysymForVk(vk), now);
    }
    if (kc == 0) return;
    if (!HeldBackForPerson(kc, release)) FakeKey(kc, !release);
    pressedKeycode_[vk] = release ? 0 : kc;
    if (conn_.spareKeys().IsBound(kc)) {
        if (release)
            conn_.spareKeys().Released(kc, now);
        else
            conn_.spareKeys().Pressed(kc, now);
    }
    SettleAndRecord();
}

void X11InputOutput::Wheel(int32_t data, int& remainder, unsigned positiveButton, unsigned negativeButton) {
    int64_t total = static_cast<int64_t>(remainder) + data;
    int64_t notches = total / WHEEL_DELTA;
    remainder = static_cast<int>(total - notches * WHEEL_DELTA);
    if (notches > kMaxNotchesPerEvent) notches = kMaxNotchesPerEvent;
    if (notches < -kMaxNotchesPerEvent) notches = -kMaxNotchesPerEvent;
    const unsigned button = notches > 0 ? positiveButton : negativeButton;
    for (int64_t i = 0; i < (notches < 0 ? -notches : notches); ++i) {
        FakeButton(button, true);
        FakeButton(button, false);
    }
}

void X11InputOutput::SendMouseEvent(uint32_t flags, int32_t x, int32_t y, int32_t data) {
    std::lock_guard lock(conn_.mutex);
    Display* d = conn_.dpy();
    conn_.Pump();
    if ((flags & MOUSEEVENTF_MOVE) != 0) {
        if ((flags & MOUSEEVENTF_ABSOLUTE) != 0) {
            const ScreenLayout& l = conn_.layout();
            const int32_t rx = l.primary.left + AbsoluteToPixel(x, l.primary.width);
            const int32_t ry = l.primary.top + AbsoluteToPixel(y, l.primary.height);
            XTestFakeMotionEvent(d, DefaultScreen(d), rx, ry, CurrentTime);
        } else {
            XTestFakeRelativeMotionEvent(d, x, y, CurrentTime);
        }
        if (conn_.monitoring())
            conn_.filter().Expect(NextRequest(d) - 1, RawKind::Motion, 0, std::chrono::steady_clock::now());
    }
    if ((flags & MOUSEEVENTF_LEFTDOWN) != 0) FakeButton(1, true);
    if ((flags & MOUSEEVENTF_LEFTUP) != 0) FakeButton(1, false);
    if ((flags & MOUSEEVENTF_RIGHTDOWN) != 0) FakeButton(3, true);
    if ((flags & MOUSEEVENTF_RIGHTUP) != 0) FakeButton(3, false);
    if ((flags & MOUSEEVENTF_MIDDLEDOWN) != 0) FakeButton(2, true);
    if ((flags & MOUSEEVENTF_MIDDLEUP) != 0) FakeButton(2, false);
    if ((flags & MOUSEEVENTF_XDOWN) != 0) {
        if ((data & XBUTTON1) != 0) FakeButton(8, true);
        if ((data & XBUTTON2) != 0) FakeButton(9, true);
    }
    if ((flags & MOUSEEVENTF_XUP) != 0) {
        if ((data & XBUTTON1) != 0) FakeButton(8, false);
        if ((data & XBUTTON2) != 0) FakeButton(9, false);
    }
    if ((flags & MOUSEEVENTF_WHEEL) != 0) Wheel(data, wheelRemainder_, 4, 5);
    if ((flags & MOUSEEVENTF_HWHEEL) != 0) Wheel(data, hwheelRemainder_, 7, 6);
    SettleAndRecord();
}

uint8_t X11InputOutput::ScanCodeOf(uint8_t vk) {
    const KeySym sym = KeysymForVk(vk, false);
    if (sym == 0) return 0;
    std::lock_guard lock(conn_.mutex);
    conn_.Pump();
    Keymap& keymap = conn_.keymap();
    KeyCode kc = keymap.KeycodeFor(sym, false);
    if (kc == 0 && IsKeypadKeysym(static_cast<uint32_t>(sym))) kc = keymap.KeycodeFor(sym, true);
    conn_.Settle();
    // Keycodes of bound spare keys lie above every real key and have no scan code.
    const uint8_t scan = kc >= 8 && !conn_.spareKeys().IsBound(kc) ? ScanCodeForEvdev(kc - 8).make : 0;
    return scan != 0 ? scan : DefaultScanCodeForVk(vk);
}

bool X11InputOutput::CursorPos(ScreenPoint& out) {
    std::lock_guard lock(conn_.mutex);
    Display* d = conn_.dpy();
    conn_.Pump();
    Window root = 0, child = 0;
    int rx = 0, ry = 0, wx = 0, wy = 0;
    unsigned mods = 0;
    const bool onScreen = XQueryPointer(d, DefaultRootWindow(d), &root, &child, &rx, &ry, &wx, &wy, &mods);
    if (onScreen) {
        const ScreenLayout& l = conn_.layout();
        out = {l.FromRootX(rx), l.FromRootY(ry)};
    }
    conn_.Settle();
    return onScreen;
}

ScreenSize X11InputOutput::PrimaryScreenSize() {
    std::lock_guard lock(conn_.mutex);
    conn_.Pump();
    const ScreenLayout& l = conn_.layout();
    const ScreenSize size{l.primary.width, l.primary.height};
    conn_.Settle();
    return size;
}

ScreenRect X11InputOutput::VirtualScreen() {
    std::lock_guard lock(conn_.mutex);
    conn_.Pump();
    const ScreenRect r = conn_.layout().VirtualScreen();
    conn_.Settle();
    return r;
}

void X11InputOutput::DownKeys(bool keys, bool buttons, std::array<uint8_t, 256>& state) {
    Display* d = conn_.dpy();
    if (keys) {
        char bits[32] = {};
        XQueryKeymap(d, bits);
        Keymap& keymap = conn_.keymap();
        std::optional<bool> numLock;
        for (int kc = 8; kc < 256; ++kc) {
            if ((bits[kc / 8] & (1 << (kc % 8))) == 0) continue;
            KeySym sym = keymap.KeysymOf(static_cast<KeyCode>(kc), false);
            if (IsKeypadKeysym(static_cast<uint32_t>(sym))) {
                if (!numLock) numLock = keymap.NumLockOn();
                sym = keymap.KeysymOf(static_cast<KeyCode>(kc), *numLock);
            }
            uint8_t vk = VkForKeysym(static_cast<uint32_t>(sym));
            if (vk == 0) vk = VkForEvdevPosition(static_cast<uint16_t>(kc - 8));
            if (vk != 0) state[vk] |= 0x80;
            if (const uint8_t sided = SidedVkForKeysym(static_cast<uint32_t>(sym)); sided != 0) state[sided] |= 0x80;
        }
    }
    if (buttons) {
        double rx = 0, ry = 0, wx = 0, wy = 0;
        Window root = 0, child = 0;
        XIButtonState pressed{};
        XIModifierState mods{};
        XIGroupState group{};
        if (XIQueryPointer(d, conn_.masterPointer(), DefaultRootWindow(d), &root, &child, &rx, &ry, &wx, &wy, &pressed,
                           &mods, &group)) {
            for (int b = 1; b < pressed.mask_len * 8 && b < 16; ++b) {
                const uint8_t vk = VkOfButton(b);
                if (vk != 0 && XIMaskIsSet(pressed.mask, b)) state[vk] |= 0x80;
            }
        }
        if (pressed.mask != nullptr) XFree(pressed.mask);
    }
}

bool X11InputOutput::IsKeyDown(uint8_t vk) {
    std::lock_guard lock(conn_.mutex);
    conn_.Pump();
    std::array<uint8_t, 256> state{};
    DownKeys(!IsMouseVk(vk), IsMouseVk(vk), state);
    conn_.Settle();
    return (state[vk] & 0x80) != 0;
}

std::array<uint8_t, 256> X11InputOutput::KeyboardState() {
    std::lock_guard lock(conn_.mutex);
    conn_.Pump();
    std::array<uint8_t, 256> state{};
    DownKeys(true, true, state);
    unsigned indicators = 0;
    Keymap& keymap = conn_.keymap();
    if (XkbGetIndicatorState(conn_.dpy(), XkbUseCoreKbd, &indicators) == Success) {
        if ((indicators & keymap.IndicatorBit("Caps Lock")) != 0) state[VK_CAPITAL] |= 0x01;
        if ((indicators & keymap.IndicatorBit("Num Lock")) != 0) state[VK_NUMLOCK] |= 0x01;
        if ((indicators & keymap.IndicatorBit("Scroll Lock")) != 0) state[VK_SCROLL] |= 0x01;
    }
    conn_.Settle();
    return state;
}

} // namespace quillet::platform::x11
