// Which keys a person holds down right now, told apart from keys held through XTest (by this program or by any
// other). The master keyboard's state merges every slave device, so a key pressed by XTest and one pressed on a
// real keyboard look alike there; each slave keyboard keeps its own key state, which this reads.
#pragma once

// Before any X header: X.h defines None as a macro.
#include "platform/platform.h"

#include <X11/Xlib.h>

#include <bitset>

namespace quillet::platform::x11 {

// Keycodes held on any slave keyboard attached to a master that is not an XTEST device (names ending in
// "XTEST keyboard"). Disabled and floating keyboards do not count: their keys reach no master keyboard.
//
// Failures: a device that goes away between listing and reading is skipped; protocol errors are caught here and
// never reach the connection's error handler. A server without XInput gives an empty set.
//
// Cost: synchronous, about 3 + 2 x (number of such keyboards) round trips to the server (the device list, an open
// and a state query per keyboard, and two syncs that fence the error catching); on a local server that is well
// under a millisecond. It reads events into Xlib's queue while waiting for replies, so a caller that watches the
// connection's socket must drain that queue afterwards. The caller must hold whatever lock guards `dpy`.
std::bitset<256> PersonHeldKeycodes(Display* dpy);

// The opposite: keycodes held on the XTEST keyboards, by this program or any other, with the same failures and
// cost. A key left down there (by a program that ended, or on purpose while a person held it) takes no further
// press from XTest until it is released.
std::bitset<256> XtestHeldKeycodes(Display* dpy);

} // namespace quillet::platform::x11
