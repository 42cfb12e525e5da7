#include "platform/x11/raw_decoder.h"

#include <X11/keysym.h>

#include <cmath>
#include <cstring>
#include <string_view>

#include "platform/x11/keysym_table.h"

namespace quillet::platform::x11 {
namespace {

constexpr uint16_t RI_KEY_BREAK = 1;
constexpr uint16_t RI_KEY_E0 = 2;
constexpr uint16_t RI_KEY_E1 = 4;
constexpr uint8_t VK_MENU = 0x12;
constexpr uint8_t VK_CONTROL = 0x11;
constexpr uint8_t VK_F10 = 0x79;

bool EndsWith(std::string_view s, std::string_view suffix) {
    return s.size() >= suffix.size() && s.substr(s.size() - suffix.size()) == suffix;
}

RawInputRecord MouseRecord(uint16_t flags, int16_t data) {
    RawInputRecord r;
    r.device = RawInputRecord::Device::Mouse;
    r.buttonFlags = flags;
    r.buttonData = data;
    return r;
}

// Value of valuator `number` in a raw event, if the event carries it.
std::optional<double> RawValue(const XIRawEvent& ev, int number) {
    if (number < 0 || number >= ev.valuators.mask_len * 8) return std::nullopt;
    if (!XIMaskIsSet(ev.valuators.mask, number)) return std::nullopt;
    int index = 0;
    for (int i = 0; i < number; ++i)
        if (XIMaskIsSet(ev.valuators.mask, i)) ++index;
    return ev.raw_values[index];
}

} // namespace

RawInputRecord KeyRecord(uint8_t vk, uint16_t evdevCode, bool press, bool sys) {
    RawInputRecord r;
    r.device = RawInputRecord::Device::Keyboard;
    r.vkey = vk;
    const ScanCode scan = ScanCodeForEvdev(evdevCode);
    r.makeCode = scan.make;
    r.keyFlags =
        static_cast<uint16_t>((press ? 0 : RI_KEY_BREAK) | (scan.e0 ? RI_KEY_E0 : 0) | (scan.e1 ? RI_KEY_E1 : 0));
    if (sys)
        r.message = press ? WM_SYSKEYDOWN : WM_SYSKEYUP;
    else
        r.message = press ? WM_KEYDOWN : WM_KEYUP;
    return r;
}

std::optional<RawInputRecord> ButtonRecord(int button, bool press) {
    switch (button) {
    case 1:
        return MouseRecord(press ? RI_MOUSE_LEFT_BUTTON_DOWN : RI_MOUSE_LEFT_BUTTON_UP, 0);
    case 2:
        return MouseRecord(press ? RI_MOUSE_MIDDLE_BUTTON_DOWN : RI_MOUSE_MIDDLE_BUTTON_UP, 0);
    case 3:
        return MouseRecord(press ? RI_MOUSE_RIGHT_BUTTON_DOWN : RI_MOUSE_RIGHT_BUTTON_UP, 0);
    case 8:
        return MouseRecord(press ? RI_MOUSE_BUTTON_4_DOWN : RI_MOUSE_BUTTON_4_UP, 0);
    case 9:
        return MouseRecord(press ? RI_MOUSE_BUTTON_5_DOWN : RI_MOUSE_BUTTON_5_UP, 0);
    default:
        break;
    }
    if (!press) return std::nullopt; // a wheel notch is a press and a release; Windows reports it once
    switch (button) {
    case 4:
        return MouseRecord(RI_MOUSE_WHEEL, WHEEL_DELTA);
    case 5:
        return MouseRecord(RI_MOUSE_WHEEL, -WHEEL_DELTA);
    case 6:
        return MouseRecord(RI_MOUSE_HWHEEL, -WHEEL_DELTA);
    case 7:
        return MouseRecord(RI_MOUSE_HWHEEL, WHEEL_DELTA);
    default:
        return std::nullopt;
    }
}

int ScrollAccumulator::Add(double delta, double increment) {
    if (increment == 0 || !std::isfinite(delta)) return 0;
    notches_ += delta / increment;
    const double whole = std::trunc(notches_);
    notches_ -= whole;
    return static_cast<int>(whole);
}

RawEventDecoder::RawEventDecoder(Display* dpy, Keymap& keymap, OwnEventFilter& filter)
    : dpy_(dpy), keymap_(keymap), filter_(filter) {}

void RawEventDecoder::RefreshDevices(const ScreenPoint& pointerRoot, int32_t rootWidth, int32_t rootHeight) {
    rootWidth_ = rootWidth > 1 ? rootWidth : 1;
    rootHeight_ = rootHeight > 1 ? rootHeight : 1;
    std::unordered_map<int, Pointer> old;
    old.swap(pointers_);
    xtestDevices_.clear();
    int count = 0;
    XIDeviceInfo* devices = XIQueryDevice(dpy_, XIAllDevices, &count);
    for (int i = 0; i < count; ++i) {
        const XIDeviceInfo& d = devices[i];
        const std::string_view name = d.name != nullptr ? d.name : "";
        if ((d.use == XISlaveKeyboard && EndsWith(name, "XTEST keyboard")) ||
            (d.use == XISlavePointer && EndsWith(name, "XTEST pointer")))
            xtestDevices_.insert(d.deviceid);
        if (d.use != XISlavePointer && d.use != XIFloatingSlave) continue;
        Pointer p;
        for (int c = 0; c < d.num_classes; ++c) {
            const XIAnyClassInfo* any = d.classes[c];
            if (any->type == XIValuatorClass) {
                const auto* v = reinterpret_cast<const XIValuatorClassInfo*>(any);
                if (v->number == 0 || v->number == 1) {
                    Axis& a = p.axis[v->number];
                    a.absolute = v->mode == XIModeAbsolute;
                    a.min = v->min;
                    a.max = v->max;
                }
            } else if (any->type == XIScrollClass) {
                const auto* s = reinterpret_cast<const XIScrollClassInfo*>(any);
                Scroll& sc = p.scrolls[s->number];
                sc.vertical = s->scroll_type == XIScrollTypeVertical;
                sc.increment = s->increment;
            }
        }
        // Absolute devices report positions; their first motion is measured from where the pointer is now.
        for (int k = 0; k < 2; ++k) {
            Axis& a = p.axis[k];
            if (!a.absolute) continue;
            auto previous = old.find(d.deviceid);
            if (previous != old.end() && previous->second.axis[k].lastPixel)
                a.lastPixel = previous->second.axis[k].lastPixel;
            else
                a.lastPixel = k == 0 ? pointerRoot.x : pointerRoot.y;
        }
        pointers_.emplace(d.deviceid, std::move(p));
    }
    if (devices != nullptr) XIFreeDeviceInfo(devices);
}

bool RawEventDecoder::ModifierDown(uint8_t vk) {
    for (int kc = 8; kc < 256; ++kc) {
        if (keysDown_.test(static_cast<std::size_t>(kc)) &&
            VkForKeysym(static_cast<uint32_t>(keymap_.KeysymOf(static_cast<KeyCode>(kc), false))) == vk)
            return true;
    }
    return false;
}

void RawEventDecoder::Decode(int evtype, const XIRawEvent& ev, OwnEventFilter::Time now,
                             std::vector<RawInputRecord>& out) {
    RawKind kind;
    switch (evtype) {
    case XI_RawKeyPress:
        kind = RawKind::KeyDown;
        break;
    case XI_RawKeyRelease:
        kind = RawKind::KeyUp;
        break;
    case XI_RawButtonPress:
        kind = RawKind::ButtonDown;
        break;
    case XI_RawButtonRelease:
        kind = RawKind::ButtonUp;
        break;
    case XI_RawMotion:
        kind = RawKind::Motion;
        break;
    default:
        return;
    }
    const int detail = kind == RawKind::Motion ? 0 : ev.detail;
    const bool ours = filter_.Classify(ev.serial, kind, detail, IsXtestDevice(ev.sourceid), now);
    switch (kind) {
    case RawKind::KeyDown:
    case RawKind::KeyUp:
        DecodeKey(ev, kind == RawKind::KeyDown, ours, out);
        break;
    case RawKind::ButtonDown:
    case RawKind::ButtonUp: {
        // Buttons emulated from smooth scrolling are counted from the scroll valuators instead.
        if (ev.detail >= 4 && ev.detail <= 7 && (ev.flags & XIPointerEmulated) != 0) break;
        if (auto r = ButtonRecord(ev.detail, kind == RawKind::ButtonDown)) {
            r->injected = ours;
            out.push_back(*r);
        }
        break;
    }
    case RawKind::Motion:
        DecodeMotion(ev, ours, out);
        break;
    }
}

void RawEventDecoder::DecodeKey(const XIRawEvent& ev, bool press, bool ours, std::vector<RawInputRecord>& out) {
    if (ev.detail < 8 || ev.detail > 255) return;
    const auto kc = static_cast<KeyCode>(ev.detail);
    KeySym sym = keymap_.KeysymOf(kc, false);
    if (IsKeypadKeysym(static_cast<uint32_t>(sym))) sym = keymap_.KeysymOf(kc, keymap_.NumLockOn());
    const auto evdev = static_cast<uint16_t>(ev.detail - 8);
    uint8_t vk = VkForKeysym(static_cast<uint32_t>(sym));
    if (vk == 0) vk = VkForEvdevPosition(evdev);

    if (press) keysDown_.set(kc);
    const bool sys = vk == VK_MENU || vk == VK_F10 || (ModifierDown(VK_MENU) && !ModifierDown(VK_CONTROL));
    if (!press) keysDown_.reset(kc);

    RawInputRecord r = KeyRecord(vk, evdev, press, sys);
    r.injected = ours;
    out.push_back(r);
}

void RawEventDecoder::DecodeMotion(const XIRawEvent& ev, bool ours, std::vector<RawInputRecord>& out) {
    auto it = pointers_.find(ev.sourceid);
    double delta[2] = {0, 0};
    for (int k = 0; k < 2; ++k) {
        const std::optional<double> v = RawValue(ev, k);
        if (!v) continue;
        if (it == pointers_.end() || !it->second.axis[k].absolute) {
            delta[k] = *v;
            continue;
        }
        // Absolute axis: scale device units to root pixels and report the change since the last position.
        Axis& a = it->second.axis[k];
        const int32_t extent = k == 0 ? rootWidth_ : rootHeight_;
        const double pixel = a.max > a.min ? (*v - a.min) * (extent - 1) / (a.max - a.min) : *v;
        if (a.lastPixel) delta[k] = pixel - *a.lastPixel;
        a.lastPixel = pixel;
    }
    if (it != pointers_.end()) {
        for (auto& [number, scroll] : it->second.scrolls) {
            const std::optional<double> v = RawValue(ev, number);
            if (!v) continue;
            const int notches = scroll.acc.Add(*v, scroll.increment);
            const int n = notches < 0 ? -notches : notches;
            for (int i = 0; i < n; ++i) {
                // Positive notches scroll down / right: Windows counts down as negative, right as positive.
                RawInputRecord r = scroll.vertical
                                       ? MouseRecord(RI_MOUSE_WHEEL, notches > 0 ? -WHEEL_DELTA : WHEEL_DELTA)
                                       : MouseRecord(RI_MOUSE_HWHEEL, notches > 0 ? WHEEL_DELTA : -WHEEL_DELTA);
                r.injected = ours;
                out.push_back(r);
            }
        }
    }
    const auto dx = static_cast<int32_t>(std::lround(delta[0]));
    const auto dy = static_cast<int32_t>(std::lround(delta[1]));
    if (dx == 0 && dy == 0) return;
    RawInputRecord r = MouseRecord(0, 0);
    r.lastX = dx;
    r.lastY = dy;
    r.injected = ours;
    out.push_back(r);
}

} // namespace quillet::platform::x11
