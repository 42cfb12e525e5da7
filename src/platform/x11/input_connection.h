// The one X connection through which the backend both injects input and listens to raw input: the own-event filter
// matches request serials, which only mean something on the connection that sent the requests. Every use of the
// connection and of the state below happens with `mutex` held; the monitor thread waits on the connection's socket
// and on `wake` without it.
#pragma once

// Before any X header: X.h defines None as a macro.
#include "platform/platform.h"

#include <X11/Xlib.h>

#include <chrono>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <vector>

#include "platform/x11/keymap.h"
#include "platform/x11/own_event_filter.h"
#include "platform/x11/raw_decoder.h"
#include "platform/x11/screen_layout.h"
#include "platform/x11/x_display.h"

namespace quillet::platform::x11 {

class InputConnection {
public:
    // Null with a message when the server lacks XTest or XInput 2.2.
    static std::unique_ptr<InputConnection> Open(const std::string& displayName, std::chrono::milliseconds spareLinger,
                                                 std::string& error);
    ~InputConnection();
    InputConnection(const InputConnection&) = delete;
    InputConnection& operator=(const InputConnection&) = delete;

    std::mutex mutex;

    Display* dpy() const { return dpy_.get(); }
    Keymap& keymap() { return *keymap_; }
    SpareKeys& spareKeys() { return *spare_; }
    OwnEventFilter& filter() { return filter_; }
    const ScreenLayout& layout() { return layout_->Current(false); }
    int xiOpcode() const { return xiOpcode_; }
    int masterPointer() const { return masterPointer_; }

    // Raw-input delivery on or off (selects or deselects the raw events on the root window).
    void SetMonitoring(bool on);
    bool monitoring() const { return monitoring_; }

    // Handles every event that has arrived: map and screen changes, raw input (into the outbox while monitoring).
    void Pump();
    // Call at the end of every operation: events Xlib read while waiting for a reply would otherwise sit in its
    // queue unseen by the monitor, whose wait only notices new data on the socket.
    void Settle();
    // Unbinds lingering spare keycodes that are due; returns when the next one will be.
    std::optional<SteadyTime> Housekeeping(SteadyTime now);
    std::vector<RawInputRecord> TakeOutbox();

    // The monitor thread waits on these.
    int socketFd() const { return ConnectionNumber(dpy_.get()); }
    int wakeFd() const { return wakeFd_; }
    void Wake();
    void DrainWake();

private:
    InputConnection() = default;
    DisplayPtr dpy_;
    std::unique_ptr<Keymap> keymap_;
    std::unique_ptr<SpareKeys> spare_;
    std::unique_ptr<ScreenLayoutTracker> layout_;
    OwnEventFilter filter_;
    std::unique_ptr<RawEventDecoder> decoder_;
    std::vector<RawInputRecord> outbox_;
    int xiOpcode_ = -1;
    int masterPointer_ = 2;
    bool monitoring_ = false;
    int wakeFd_ = -1;
};

} // namespace quillet::platform::x11
