#include "platform/x11/keymap.h"

#include <X11/keysym.h>

#include <algorithm>

namespace quillet::platform::x11 {

Keymap::Keymap(Display* dpy) : dpy_(dpy) {
    int opcode = 0, errorBase = 0, major = XkbMajorVersion, minor = XkbMinorVersion;
    if (XkbQueryExtension(dpy_, &opcode, &xkbEventBase_, &errorBase, &major, &minor)) {
        xkbOpcode_ = opcode;
        const unsigned mask = XkbMapNotifyMask | XkbNewKeyboardNotifyMask;
        XkbSelectEvents(dpy_, XkbUseCoreKbd, mask, mask);
        XkbSelectEventDetails(dpy_, XkbUseCoreKbd, XkbStateNotify, XkbModifierLockMask, XkbModifierLockMask);
    } else {
        xkbEventBase_ = -1;
    }
}

Keymap::~Keymap() {
    if (desc_ != nullptr) XkbFreeKeyboard(desc_, 0, True);
}

bool Keymap::HandleEvent(XEvent& ev) {
    if (ev.type == MappingNotify) {
        XRefreshKeyboardMapping(&ev.xmapping);
        stale_ = true;
        ++mapChanges_;
        return true;
    }
    if (xkbEventBase_ >= 0 && ev.type == xkbEventBase_) {
        const auto* xkb = reinterpret_cast<const XkbAnyEvent*>(&ev);
        if (xkb->xkb_type == XkbMapNotify || xkb->xkb_type == XkbNewKeyboardNotify) {
            stale_ = true;
            ++mapChanges_;
        }
        if (xkb->xkb_type == XkbNewKeyboardNotify) {
            // The server also reports a new keyboard when it changes a map in place (our own bindings included)
            // or switches between the devices' maps; only a map loaded by name replaces every key.
            const auto* nkn = reinterpret_cast<const XkbNewKeyboardNotifyEvent*>(&ev);
            if (static_cast<unsigned char>(nkn->req_major) == xkbOpcode_ &&
                static_cast<unsigned char>(nkn->req_minor) == X_kbGetKbdByName)
                ++keymapLoads_;
        }
        if (xkb->xkb_type == XkbStateNotify)
            lockedMods_ = reinterpret_cast<const XkbStateNotifyEvent*>(&ev)->locked_mods;
        return true;
    }
    return false;
}

void Keymap::Load() {
    stale_ = false;
    cache_[0].clear();
    cache_[1].clear();
    indicatorBits_.clear();
    numLockMask_ = 0;
    if (desc_ != nullptr) XkbFreeKeyboard(desc_, 0, True);
    desc_ = XkbGetMap(dpy_, XkbKeyTypesMask | XkbKeySymsMask | XkbModifierMapMask, XkbUseCoreKbd);
    if (desc_ == nullptr) return;
    XkbGetNames(dpy_, XkbIndicatorNamesMask, desc_);
    for (int kc = desc_->min_key_code; kc <= desc_->max_key_code; ++kc) {
        const int count = XkbKeyNumSyms(desc_, kc);
        const KeySym* syms = XkbKeySymsPtr(desc_, kc);
        for (int i = 0; i < count; ++i) {
            if (syms[i] == XK_Num_Lock) numLockMask_ |= desc_->map->modmap[kc];
        }
    }
}

KeySym Keymap::KeysymOf(KeyCode kc, bool numLock) {
    if (stale_) Load();
    if (desc_ == nullptr || kc < desc_->min_key_code || kc > desc_->max_key_code) return NoSymbol;
    unsigned modsUsed = 0;
    KeySym sym = NoSymbol;
    if (!XkbTranslateKeyCode(desc_, kc, numLock ? numLockMask_ : 0, &modsUsed, &sym)) return NoSymbol;
    return sym;
}

KeyCode Keymap::KeycodeFor(KeySym sym, bool numLock) {
    if (stale_) Load();
    if (desc_ == nullptr || sym == NoSymbol) return 0;
    auto& cache = cache_[numLock ? 1 : 0];
    if (auto it = cache.find(sym); it != cache.end()) return it->second;
    KeyCode found = 0;
    for (int kc = desc_->min_key_code; kc <= desc_->max_key_code && found == 0; ++kc) {
        if (KeysymOf(static_cast<KeyCode>(kc), numLock) == sym) found = static_cast<KeyCode>(kc);
    }
    cache.emplace(sym, found);
    return found;
}

bool Keymap::IsModifier(KeyCode kc) {
    if (stale_) Load();
    if (desc_ == nullptr || desc_->map == nullptr || kc < desc_->min_key_code || kc > desc_->max_key_code) return false;
    return desc_->map->modmap[kc] != 0;
}

std::vector<KeyCode> Keymap::FreeKeycodes() {
    if (stale_) Load();
    std::vector<KeyCode> free;
    if (desc_ == nullptr) return free;
    // Keycodes 8..255 only: the core protocol cannot name others.
    for (int kc = std::max<int>(desc_->min_key_code, 8); kc <= std::min<int>(desc_->max_key_code, 255); ++kc) {
        if (XkbKeyNumSyms(desc_, kc) == 0 && desc_->map->modmap[kc] == 0) free.push_back(static_cast<KeyCode>(kc));
    }
    return free;
}

bool Keymap::NumLockOn() {
    if (stale_) Load();
    if (numLockMask_ == 0) return false;
    if (!lockedMods_) {
        XkbStateRec state{};
        if (XkbGetState(dpy_, XkbUseCoreKbd, &state) != Success) return false;
        lockedMods_ = state.locked_mods;
    }
    return (*lockedMods_ & numLockMask_) != 0;
}

unsigned Keymap::IndicatorBit(const char* name) {
    if (stale_) Load();
    if (desc_ == nullptr || desc_->names == nullptr) return 0;
    const Atom atom = XInternAtom(dpy_, name, True);
    if (atom == None) return 0;
    if (auto it = indicatorBits_.find(atom); it != indicatorBits_.end()) return it->second;
    unsigned bit = 0;
    for (unsigned i = 0; i < XkbNumIndicators; ++i) {
        if (desc_->names->indicators[i] == atom) bit = 1u << i;
    }
    indicatorBits_.emplace(atom, bit);
    return bit;
}

void SpareKeys::Bind(KeyCode kc, KeySym sym, KeySym shifted) {
    KeySym syms[2] = {sym, shifted != NoSymbol ? shifted : sym};
    XChangeKeyboardMapping(dpy_, kc, 2, syms, 1);
    keymap_.Invalidate();
}

bool SpareKeys::Carries(const Binding& b) {
    int perKey = 0;
    KeySym* syms = XGetKeyboardMapping(dpy_, b.keycode, 1, &perKey);
    if (syms == nullptr) return false;
    const bool carries = perKey >= 1 && syms[0] == b.sym &&
                         (b.shifted == NoSymbol || b.shifted == b.sym || (perKey >= 2 && syms[1] == b.shifted));
    XFree(syms);
    return carries;
}

std::vector<SpareKeys::Binding>::iterator SpareKeys::Forget(std::vector<Binding>::iterator it) {
    // Whoever took the keycode changed the map, which we may not have heard of yet: read it again before choosing
    // a free keycode.
    keymap_.Invalidate();
    return bound_.erase(it);
}

void SpareKeys::Reconcile() {
    if (keymap_.keymapLoads() != seenKeymapLoads_) {
        // A whole new map: every keycode is the new map's, whatever it carries.
        bound_.clear();
    } else if (keymap_.mapChanges() != seenMapChanges_) {
        for (auto it = bound_.begin(); it != bound_.end();) it = Carries(*it) ? it + 1 : Forget(it);
    }
    seenKeymapLoads_ = keymap_.keymapLoads();
    seenMapChanges_ = keymap_.mapChanges();
}

KeyCode SpareKeys::Acquire(KeySym sym, KeySym shifted, SteadyTime now) {
    Reconcile();
    for (auto it = bound_.begin(); it != bound_.end(); ++it) {
        if (it->sym != sym) continue;
        if (Carries(*it)) {
            it->lastUse = now;
            return it->keycode;
        }
        Forget(it);
        break;
    }
    std::vector<KeyCode> free = keymap_.FreeKeycodes();
    free.erase(std::remove_if(free.begin(), free.end(), [this](KeyCode kc) { return IsBound(kc); }), free.end());
    if (!free.empty()) {
        // From the top: the high keycodes are the ones least likely to be claimed by a keyboard plugged in later.
        const KeyCode kc = free.back();
        Bind(kc, sym, shifted);
        bound_.push_back({kc, sym, shifted, now, false});
        return kc;
    }
    // Every free keycode is taken: reuse the binding unused for longest, unless its key is held or the keycode has
    // been given to something else meanwhile.
    for (;;) {
        auto oldest = bound_.end();
        for (auto it = bound_.begin(); it != bound_.end(); ++it) {
            if (!it->held && (oldest == bound_.end() || it->lastUse < oldest->lastUse)) oldest = it;
        }
        if (oldest == bound_.end()) return 0;
        if (!Carries(*oldest)) {
            Forget(oldest);
            continue;
        }
        Bind(oldest->keycode, sym, shifted);
        oldest->sym = sym;
        oldest->shifted = shifted;
        oldest->lastUse = now;
        return oldest->keycode;
    }
}

void SpareKeys::Pressed(KeyCode kc, SteadyTime now) {
    for (Binding& b : bound_) {
        if (b.keycode == kc) {
            b.held = true;
            b.lastUse = now;
        }
    }
}

void SpareKeys::Released(KeyCode kc, SteadyTime now) {
    for (Binding& b : bound_) {
        if (b.keycode == kc) {
            b.held = false;
            b.lastUse = now;
        }
    }
}

std::optional<SteadyTime> SpareKeys::Expire(SteadyTime now) {
    Reconcile();
    std::optional<SteadyTime> next;
    for (auto it = bound_.begin(); it != bound_.end();) {
        if (it->held) {
            ++it;
            continue;
        }
        const SteadyTime due = it->lastUse + linger_;
        if (due <= now) {
            if (Carries(*it)) Bind(it->keycode, NoSymbol, NoSymbol);
            it = bound_.erase(it);
        } else {
            if (!next || due < *next) next = due;
            ++it;
        }
    }
    return next;
}

void SpareKeys::ReleaseAll() {
    Reconcile();
    for (const Binding& b : bound_)
        if (Carries(b)) Bind(b.keycode, NoSymbol, NoSymbol);
    bound_.clear();
}

bool SpareKeys::IsBound(KeyCode kc) const {
    return std::any_of(bound_.begin(), bound_.end(), [kc](const Binding& b) { return b.keycode == kc; });
}

} // namespace quillet::platform::x11
