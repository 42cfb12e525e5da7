// Turns XInput 2 raw events into the neutral raw-input records, with the injected bit from the own-event filter.
#pragma once

// Before any X header: X.h defines None as a macro.
#include "platform/platform.h"

#include <X11/Xlib.h>
#include <X11/extensions/XInput2.h>

#include <bitset>
#include <optional>
#include <unordered_map>
#include <unordered_set>
#include <vector>

#include "platform/x11/keymap.h"
#include "platform/x11/own_event_filter.h"

namespace quillet::platform::x11 {

// Record of one key transition. vk 0 = unknown key; sys: Alt is down without Ctrl (or F10), as Windows reports it.
RawInputRecord KeyRecord(uint8_t vk, uint16_t evdevCode, bool press, bool sys);
// Record of a raw button transition (physical button numbers: 1 left, 2 middle, 3 right, 4 / 5 wheel up / down,
// 6 / 7 wheel left / right, 8 / 9 back / forward); nothing for wheel releases and unknown buttons.
std::optional<RawInputRecord> ButtonRecord(int button, bool press);

// Turns scroll-valuator motion (smooth scrolling) into whole wheel notches.
class ScrollAccumulator {
public:
    // Adds `delta` valuator units with `increment` units per notch; returns the notches completed, positive for
    // down / right.
    int Add(double delta, double increment);

private:
    double notches_ = 0;
};

class RawEventDecoder {
public:
    RawEventDecoder(Display* dpy, Keymap& keymap, OwnEventFilter& filter);

    // Reads the device list again (which devices are XTEST slaves, how pointers report motion and scrolling).
    void RefreshDevices(const ScreenPoint& pointerRoot, int32_t rootWidth, int32_t rootHeight);
    // Decodes one raw event; appends zero or more records.
    void Decode(int evtype, const XIRawEvent& ev, OwnEventFilter::Time now, std::vector<RawInputRecord>& out);
    bool IsXtestDevice(int deviceId) const { return xtestDevices_.count(deviceId) != 0; }

private:
    struct Axis {
        bool absolute = false;
        double min = 0, max = 0;
        std::optional<double> lastPixel; // absolute axes: last position, in root pixels
    };
    struct Scroll {
        bool vertical = true;
        double increment = 1;
        ScrollAccumulator acc;
    };
    struct Pointer {
        Axis axis[2];
        std::unordered_map<int, Scroll> scrolls; // by valuator number
    };
    void DecodeKey(const XIRawEvent& ev, bool press, bool ours, std::vector<RawInputRecord>& out);
    void DecodeMotion(const XIRawEvent& ev, bool ours, std::vector<RawInputRecord>& out);
    bool ModifierDown(uint8_t vk);

    Display* dpy_;
    Keymap& keymap_;
    OwnEventFilter& filter_;
    std::unordered_set<int> xtestDevices_;
    std::unordered_map<int, Pointer> pointers_;
    int32_t rootWidth_ = 1;
    int32_t rootHeight_ = 1;
    std::bitset<256> keysDown_;
};

} // namespace quillet::platform::x11
