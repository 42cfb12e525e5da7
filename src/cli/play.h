// quillet-cli play: runs one macro of a library as its start hotkey would, on the fake platform with virtual time
// (--dry-run, printing every event) or on the real backend in real time. A play lasts until every macro it started
// has ended: the named macro and every macro started by calls, directly or through calls of the macros it started
// (a parallel call outlives its caller); a dry run also ends at its tick limit, a real play when interrupted.
#pragma once

#include <cstdint>
#include <iosfwd>
#include <optional>
#include <string>
#include <vector>

#include "model/macro.h"
#include "platform/platform.h"

namespace quillet {
class CAppIni;
}

namespace quillet::cli {

struct PlayOptions {
    struct Clock {
        int32_t hour = 0, minute = 0, second = 0;
    };
    std::string library;
    std::string name; // UTF-8
    bool dryRun = false;
    bool noIme = false;
    int64_t ticks = 10000;
    std::optional<int32_t> eventDelay;
    platform::ScreenSize screen{1920, 1080};
    platform::ScreenPoint cursor{0, 0};
    std::optional<int32_t> hangulKeyboard;
    std::optional<int32_t> sequenceStart;
    std::optional<int32_t> macroOptions;
    std::optional<Clock> clock;
    std::optional<uint32_t> seed; // of the random delays and characters; the time by default
    bool help = false;            // --help: print PlayHelp() and nothing else
};

// The text of play --help: the usage line and what each option does.
std::string PlayHelp();

// Whether a play goes on: some macro of the library runs. Nothing but the played macro and the calls of running
// macros starts a macro during a play (no hotkeys, clock, colour or image conditions), so every running macro was
// started by the play.
bool PlayGoesOn(const MacroLibrary& library);

// args[0] is "play". Prints the problem and returns nothing on bad arguments; with --help only help is set.
std::optional<PlayOptions> ParsePlayOptions(const std::vector<std::string>& args, std::ostream& err);
// Options override the settings read from Quillet.ini (whose defaults are the documented ones).
void ApplyPlayOptions(const PlayOptions& options, CAppIni& settings);
// Loads the library and finds the macro; prints one line and returns false on failure.
bool LoadForPlay(const PlayOptions& options, MacroLibrary& library, int& index, std::ostream& err);

int PlayDryRun(const PlayOptions& options, std::ostream& out, std::ostream& err);
// Real time on the system's backend; returns 2 with a message where there is none.
int PlayReal(const PlayOptions& options, std::ostream& out, std::ostream& err);

} // namespace quillet::cli
