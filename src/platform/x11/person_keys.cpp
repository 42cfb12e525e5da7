#include "platform/x11/person_keys.h"

#include <X11/extensions/XInput.h>
#include <X11/extensions/XInput2.h>

#include <string_view>
#include <vector>

#include "platform/x11/x_display.h"

namespace quillet::platform::x11 {

namespace {

// Keycodes held on the attached, enabled slave keyboards that are (xtest) or are not (!xtest) XTEST devices.
std::bitset<256> HeldKeycodes(Display* dpy, bool wantXtest) {
    std::bitset<256> held;
    int opcode = 0, eventBase = 0, errorBase = 0;
    if (!XQueryExtension(dpy, "XInputExtension", &opcode, &eventBase, &errorBase)) return held;

    ErrorTrap trap(dpy);
    std::vector<XID> keyboards;
    int count = 0;
    XIDeviceInfo* devices = XIQueryDevice(dpy, XIAllDevices, &count);
    for (int i = 0; i < count; ++i) {
        const XIDeviceInfo& d = devices[i];
        const std::string_view name = d.name != nullptr ? d.name : "";
        constexpr std::string_view kXtest = "XTEST keyboard";
        const bool xtest = name.size() >= kXtest.size() && name.substr(name.size() - kXtest.size()) == kXtest;
        if (d.use == XISlaveKeyboard && d.enabled && xtest == wantXtest)
            keyboards.push_back(static_cast<XID>(d.deviceid));
    }
    if (devices != nullptr) XIFreeDeviceInfo(devices);

    for (XID id : keyboards) {
        XDevice* dev = XOpenDevice(dpy, id);
        if (dev == nullptr) continue;
        if (XDeviceState* state = XQueryDeviceState(dpy, dev); state != nullptr) {
            const auto* cls = state->data;
            for (int c = 0; c < state->num_classes; ++c) {
                if (cls->c_class == KeyClass) {
                    // The bitmap is indexed by keycode; num_keys counts keys, not bits, so it is not a bound.
                    const auto* keys = reinterpret_cast<const XKeyStatus*>(cls);
                    for (int kc = 0; kc < 256; ++kc)
                        if ((keys->keys[kc / 8] & (1 << (kc % 8))) != 0) held.set(static_cast<std::size_t>(kc));
                }
                cls = reinterpret_cast<const XInputClass*>(reinterpret_cast<const char*>(cls) + cls->length);
            }
            XFreeDeviceState(state);
        }
        XCloseDevice(dpy, dev);
    }
    trap.Finish();
    return held;
}

} // namespace

std::bitset<256> PersonHeldKeycodes(Display* dpy) {
    return HeldKeycodes(dpy, false);
}

std::bitset<256> XtestHeldKeycodes(Display* dpy) {
    return HeldKeycodes(dpy, true);
}

} // namespace quillet::platform::x11
