// What the input router hands to an open recorder. Kept apart from the recorder itself so that the router, one
// layer up, can reach a recorder without linking it.
#pragma once

#include <cstdint>

#include "model/macro.h"
#include "model/option_bits.h"
#include "platform/platform.h"

namespace quillet {

class RecorderInputConsumer {
public:
    virtual ~RecorderInputConsumer() = default;
    virtual bool IsRecording() const = 0;
    // Starts (on) or stops recording; the record key passes !IsRecording() on its press.
    virtual void ToggleRecording(bool on) = 0;
    // A key event while recording: code != 0, action ActionPress or ActionRelease, plus ActionHangul when the
    // input method was open.
    virtual void RecordKeyEvent(int code, int scan, int32_t action) = 0;
    // Every mouse event while the recorder is open (also movement, also while waiting).
    virtual void RecordMouseEvent(int code, bool isPress, bool moved, int16_t wheelDelta,
                                  platform::ScreenPoint cursor) = 0;
};

// The action of a recorded key event: press or release, with the input method's state sampled now.
inline int32_t RecordedKeyAction(bool isPress, platform::InputMethod& ime) {
    const bool imeOpen = ime.OpenState() == platform::ImeState::Open;
    return (imeOpen ? ActionHangul : 0) | (isPress ? ActionPress : ActionRelease);
}

} // namespace quillet
