// The server's keyboard map as seen from one connection, and the temporary binding of keysyms that are not on it.
#pragma once

// Before any X header: X.h defines None as a macro.
#include "platform/platform.h"

#include <X11/XKBlib.h>
#include <X11/Xlib.h>

#include <chrono>
#include <cstdint>
#include <optional>
#include <unordered_map>
#include <vector>

namespace quillet::platform::x11 {

using SteadyTime = std::chrono::steady_clock::time_point;

class Keymap {
public:
    explicit Keymap(Display* dpy);
    ~Keymap();
    Keymap(const Keymap&) = delete;
    Keymap& operator=(const Keymap&) = delete;

    // Read the map again before its next use.
    void Invalidate() { stale_ = true; }
    // Map-change events (core MappingNotify, XKB map and new-keyboard notifications); true when consumed.
    bool HandleEvent(XEvent& ev);
    int xkbEventBase() const { return xkbEventBase_; }
    // Counts of the changes handled so far: any change of the map (our own included), and whole keymaps loaded by
    // name (a layout switch). Whoever keeps keycodes across calls compares them.
    unsigned mapChanges() const { return mapChanges_; }
    unsigned keymapLoads() const { return keymapLoads_; }

    // Keysym the key produces with no modifier but the given Num Lock state; NoSymbol when it has none.
    KeySym KeysymOf(KeyCode kc, bool numLock);
    // A keycode that produces `sym` with no modifier but the given Num Lock state; 0 when there is none.
    KeyCode KeycodeFor(KeySym sym, bool numLock);
    // Whether the key sets a modifier (it is on the modifier map).
    bool IsModifier(KeyCode kc);
    // Keycodes with no symbol and no modifier: free for temporary bindings.
    std::vector<KeyCode> FreeKeycodes();
    // Num Lock state as of the last event handled (lock changes arrive in order with the raw input).
    bool NumLockOn();
    // Bits of the named indicators ("Caps Lock", "Num Lock", "Scroll Lock") in XkbGetIndicatorState's mask.
    unsigned IndicatorBit(const char* name);

private:
    void Load();
    Display* dpy_;
    int xkbEventBase_ = -1;
    XkbDescPtr desc_ = nullptr;
    bool stale_ = true;
    unsigned mapChanges_ = 0;
    unsigned keymapLoads_ = 0;
    int xkbOpcode_ = -1;
    unsigned numLockMask_ = 0;
    std::optional<unsigned> lockedMods_;
    std::unordered_map<KeySym, KeyCode> cache_[2]; // by Num Lock state
    std::unordered_map<Atom, unsigned> indicatorBits_;
};

// Keysyms bound to free keycodes for as long as they are in use. A binding is kept while its key is held and for
// `linger` after its last event, so that clients translate the event with the binding still in place; then the
// keycode is emptied again. Everything is restored by ReleaseAll (on close).
//
// The keymap belongs to the user, who may replace it at any time (a layout switch loads a whole new one): a binding
// whose keycode no longer carries what we bound is forgotten, never handed out again and never emptied, since the
// keycode may be a real key of the new map now. Bindings are checked after every map change we hear of, and each
// one directly with the server before it is handed out or emptied, because the change may not have reached us yet.
// That check costs one round trip to the server.
class SpareKeys {
public:
    SpareKeys(Display* dpy, Keymap& keymap, std::chrono::milliseconds linger)
        : dpy_(dpy), keymap_(keymap), linger_(linger), seenMapChanges_(keymap.mapChanges()),
          seenKeymapLoads_(keymap.keymapLoads()) {}

    // Keycode carrying `sym` (and `shifted` on its Shift level, when not NoSymbol), binding a free one when needed;
    // 0 when every free keycode is busy. A binding already made is handed out only while it still carries `sym`.
    KeyCode Acquire(KeySym sym, KeySym shifted, SteadyTime now);
    void Pressed(KeyCode kc, SteadyTime now);
    void Released(KeyCode kc, SteadyTime now);
    // Unbinds what has lingered long enough; returns when the next binding becomes due, if any.
    std::optional<SteadyTime> Expire(SteadyTime now);
    // Unbinds everything that still carries our binding.
    void ReleaseAll();
    bool IsBound(KeyCode kc) const;
    std::size_t boundCount() const { return bound_.size(); }

private:
    struct Binding {
        KeyCode keycode;
        KeySym sym;
        KeySym shifted;
        SteadyTime lastUse;
        bool held = false;
    };
    void Bind(KeyCode kc, KeySym sym, KeySym shifted);
    // Whether the server's map still has the binding on its keycode (one round trip).
    bool Carries(const Binding& b);
    // Forgets the bindings a map change heard of since the last call has taken away.
    void Reconcile();
    // Forgets a binding the map no longer has; the next free keycodes are read from the server again.
    std::vector<Binding>::iterator Forget(std::vector<Binding>::iterator it);
    Display* dpy_;
    Keymap& keymap_;
    std::chrono::milliseconds linger_;
    std::vector<Binding> bound_;
    unsigned seenMapChanges_;
    unsigned seenKeymapLoads_;
};

} // namespace quillet::platform::x11
