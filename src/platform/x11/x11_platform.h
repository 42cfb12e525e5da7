// The Linux / X11 backend of the platform interfaces.
//
//   std::string error;
//   auto x = quillet::platform::x11::X11Platform::Open(error);   // null, with error set, when X cannot be used
//   quillet::platform::Platform p = x->platform();
//
// The input monitor runs a thread of its own and hands every batch of raw records to the Poster given to Start,
// so the sink runs on whichever thread the Poster delivers to (the user-interface thread).
#pragma once

#include <chrono>
#include <memory>
#include <string>

#include "platform/guardian.h"
#include "platform/platform.h"

// X.h defines InputOutput as a macro; this header may be included after it.
#pragma push_macro("InputOutput")
#undef InputOutput

namespace quillet::platform::x11 {

class InputConnection;
class X11InputOutput;
class X11InputMonitor;
class X11Screen;
class Fcitx5InputMethod;
class PosixClock;

struct X11Options {
    std::string display;                            // empty: $DISPLAY
    bool useShm = true;                             // false: read rectangles with XGetImage only
    std::chrono::milliseconds spareKeyLinger{3000}; // how long a temporarily bound keysym stays bound after use
    std::string imeBusAddress;                      // empty: the session bus
    // Start a guardian process that releases what macros hold if this program ends abnormally. The program and
    // quillet-cli turn it on; backend tests that do not need it leave it off.
    bool guardian = false;
    std::string guardianExecutable; // empty: found as platform/guardian.h says
    // false: Open does not wait for the guardian to be ready; FinishGuardianStart does (see GuardianOptions).
    bool guardianAwaitReady = true;
};

class X11Platform {
public:
    static std::unique_ptr<X11Platform> Open(std::string& error);
    static std::unique_ptr<X11Platform> Open(const X11Options& options, std::string& error);
    ~X11Platform();
    X11Platform(const X11Platform&) = delete;
    X11Platform& operator=(const X11Platform&) = delete;

    Platform platform();
    InputOutput& io();
    InputMethod& ime();
    Screen& screen();
    InputMonitor& monitor();
    Clock& clock();

    // True while screen rectangles are read through MIT-SHM.
    bool usingShm() const;
    // The running guardian, null when none was asked for or it could not start (guardianProblem() says why).
    const Guardian* guardian() const { return guardian_.get(); }
    const std::string& guardianProblem() const { return guardianProblem_; }
    // After Open with guardianAwaitReady false: waits for the guardian; false (guardianProblem() says why) when it
    // did not come up. Later calls give the same answer.
    bool FinishGuardianStart();

private:
    X11Platform();
    // Declared first so that it goes last: the injector's own release of held keys comes before the goodbye.
    std::unique_ptr<Guardian> guardian_;
    std::string guardianProblem_;
    std::unique_ptr<InputConnection> conn_;
    std::unique_ptr<X11InputOutput> io_;
    std::unique_ptr<X11InputMonitor> monitor_;
    std::unique_ptr<X11Screen> screen_;
    std::unique_ptr<Fcitx5InputMethod> ime_;
    std::unique_ptr<PosixClock> clock_;
};

// A warning to print at start when the session is a Wayland session (only X clients, through XWayland, can be
// reached there, and input to other programs cannot be watched); empty otherwise.
std::string DescribeSessionProblem();
// The same decision from the two environment values (either may be null).
std::string DescribeSessionProblem(const char* waylandDisplay, const char* sessionType);

} // namespace quillet::platform::x11

#pragma pop_macro("InputOutput")
