// The guardian: a small separate process (quillet-guardian, built and installed next to the programs) that releases
// the keys and buttons this program's macros hold when the program ends without releasing them — killed, crashed,
// ended by the out-of-memory killer or a task manager. An orderly end releases everything itself and says goodbye;
// the guardian then sends nothing at all.
//
// How it knows: the program writes what its injection holds into a shared block (platform/held_input_ledger.h);
// the guardian maps the same block. How it notices the end at once, without polling: on POSIX it holds one end of a
// socket pair whose other end only the program has (close-on-exec, so programs it starts do not keep it alive);
// the program's death closes it. On Windows it waits on the program's process handle.
//
// What it releases: exactly what the ledger says the program pressed, through its own connection (X11: its own
// display connection with XTest; Windows: keybd_event / mouse_event, as the backend sends). On X11 a key that a
// person's keyboard also holds at that moment is left alone: releasing the program's press would lift the person's
// key on the shared master keyboard too. The guardian never presses anything, ignores the terminal's interrupt and
// hang-up (the program handles those and says goodbye), and exits right after the program's end.
#pragma once

#include <memory>
#include <string>

#include "platform/held_input_ledger.h"

namespace quillet::platform {

class Guardian {
public:
    // An orderly end: tells the guardian to send nothing, and lets it go.
    virtual ~Guardian() = default;
    // Where the backend records what it holds; valid while this object lives.
    virtual HeldInputLedger ledger() = 0;
    // Process id of the guardian (for tests and diagnostics).
    virtual long pid() const = 0;
    // For a guardian started without waiting (GuardianOptions::awaitReady false): waits, up to readyTimeoutMs, until
    // it says it has its own input connection. False with the reason when it cannot; the guardian is then gone, and
    // the ledger stays valid with nobody watching it. Later calls give the same answer at once.
    virtual bool AwaitReady(std::string& error) {
        (void)error;
        return true;
    }
};

struct GuardianOptions {
    // The guardian program; empty: $QUILLET_GUARDIAN, else quillet-guardian next to this program, else the one in
    // the build tree this program came from.
    std::string executable;
    // X11: display to connect to; empty: $DISPLAY.
    std::string display;
    // How long to wait for the guardian to say it is ready.
    int readyTimeoutMs = 5000;
    // false: StartGuardian returns once the process is started and Guardian::AwaitReady waits later, so that the
    // guardian's own start runs while the program sets itself up (the desktop program: before its window).
    bool awaitReady = true;
};

// Starts the guardian and waits until it has its own input connection. Null with the reason in error when it cannot
// start (no program, no display, no shared memory); the caller reports that once and works on without one.
// Costs one process (a few megabytes) and a few milliseconds at start.
std::unique_ptr<Guardian> StartGuardian(const GuardianOptions& options, std::string& error);

// The guardian program's entry point (its main() calls this). Returns the exit code.
int RunGuardian(int argc, char** argv);

} // namespace quillet::platform
