// The execution engine: run state of the macros, the scheduler pass, and what each item does when it is executed.
// Everything here runs on the owner's (user-interface) thread; the timers only post ticks to it.
#pragma once

#include <cstdint>
#include <functional>
#include <optional>
#include <string>

#include "engine/input_synth.h"
#include "engine/random.h"
#include "engine/typing.h"
#include "model/macro.h"
#include "model/option_bits.h"
#include "model/settings.h"
#include "platform/platform.h"

namespace quillet {

// Values of Macro::waitKeyPhase and Macro::waitColorPhase.
enum WaitPhase : uint8_t { WaitNone = 0, WaitArmed = 1, WaitSatisfied = 2 };

// The hotkey rule: same key code (bits 0..7), same release bit 16, and when bit 20 of the condition is set the same
// Ctrl/Alt/Shift bits 17..19 as the event.
bool KeyConditionMatches(int32_t condition, int32_t event);
// The rule for key waits: as KeyConditionMatches, except that a condition without a key code (0) waits for any key
// (any press, or any release when bit 16 is set; modifiers as above).
bool KeyWaitMatches(int32_t condition, int32_t event);
// The colour rule of every colour condition and wait: each of red, green and blue of pixel (0x00BBGGRR) within
// tolerance of the colour's channel, bounds included. An unreadable pixel (CLR_INVALID) has 0xFF in each channel and
// so reads as white. A negative tolerance matches nothing.
bool ColorMatches(uint32_t pixel, uint32_t color, int64_t tolerance);
// The same for a colour wait, whose word holds the colour in bits 0..23 and the tolerance (0..255) in bits 24..31.
inline bool ColorWithinTolerance(uint32_t pixel, int32_t wanted) {
    const auto w = static_cast<uint32_t>(wanted);
    return ColorMatches(pixel, w & 0xFFFFFF, w >> 24);
}

// The clock forms of clock windows and clock waits: 3 compares the time of day, 2 the time within the hour, 1 the
// second within the minute, 0 nothing. ClockValue is the local time in whole seconds in that form (0 for form 0),
// ClockFormPeriod the seconds after which the value repeats (1 for form 0).
int32_t ClockValue(int form, const platform::LocalTime& t);
int32_t ClockFormPeriod(int form);

// What stopping a macro does with the keys and buttons it holds.
enum class HeldInput {
    AsSettingSays, // released when macroOptions has OptionReleaseHeldOnStop (the stop key, stop colours, run mode left)
    Release,       // always released (the end of the program or of a play: keys faked down would stay down)
};

// Estimated milliseconds of one pass of macro (delays, typing time and sequential calls; no waits, no repeats).
// counter is owned by the caller and starts at 0; more than ten evaluations in one estimate (a call cycle) give at
// least 100,000,000. The sum saturates at the 32-bit range.
int32_t EstimateRunTime(const MacroLibrary& library, const Macro& macro, int32_t eventDelay, int32_t& counter);
inline constexpr int32_t kEstimateCycle = 100000000;

class Engine {
public:
    // Receives one CP949 line "<name>: <item text>\r\n" per finished item.
    using LogSink = std::function<void(const std::string& line)>;

    // How a macro's run changed.
    enum class RunEvent {
        Started,  // StartMacro or StartMacroWithOrigin
        Stopped,  // ended from outside its passes: StopMacro of a running macro (stop key, stop colour, clock window,
                  // a call with the stop mode, also its own), StopAllMacros, StopEverything, or a restart
        Finished, // ended by itself: the end of its last pass, a start at or past its last item, or the end of the
                  // editor's test run (OnEditorTimer)
    };
    // Receives every start and end of a run, of library macros and of the editor's working copy alike (compare the
    // address with the library to tell them apart). m is the macro as it is after the change.
    using RunSink = std::function<void(const Macro& m, RunEvent event)>;

    // seed: the random generator's seed; by default the current time.
    Engine(MacroLibrary& library, const CAppIni& settings, platform::InputOutput& io, platform::InputMethod& ime,
           platform::Clock& clock, std::optional<uint32_t> seed = std::nullopt);
    Engine(MacroLibrary& library, const CAppIni& settings, const platform::Platform& platform,
           std::optional<uint32_t> seed = std::nullopt)
        : Engine(library, settings, platform.io, platform.ime, platform.clock, seed) {}
    Engine(const Engine&) = delete;
    Engine& operator=(const Engine&) = delete;

    // --- Engine state ---
    bool runMode = false;       // library macros are stepped only while set
    int32_t exclusiveCount = 0; // macros holding the exclusive section: 0 or 1
    int32_t sequenceNumber = 0; // next number typed for '$' (starts at the setting sequenceStart)
    uint32_t lastTickTime = 0;  // clock value of the previous scheduler tick

    // Entering run mode: the sequence number restarts, the flag is set, the exclusive section is free.
    void StartRunMode();

    // Called for every finished item, and once for a notice (an input method that cannot be found); empty = no
    // log. The line is built only when a sink is set.
    void SetLogSink(LogSink sink) { logSink_ = std::move(sink); }
    // Told of every start and end, in the order they happen among the log lines: a start before the macro's first
    // item line, an end after its last. Each Started is followed by exactly one Stopped or Finished before the macro
    // starts again: a restart of a running macro is a Stopped and then a Started; a macro that has nothing to run
    // from its start position (only the start item) is Started and at once Finished. Stopping a macro that does
    // not run tells nothing (StopEverything releasing what an idle macro still holds). Raised last in each
    // operation; the sink may start and stop macros (the events nest), but must not add or remove library macros.
    // Empty = not told.
    void SetRunSink(RunSink sink) { runSink_ = std::move(sink); }

    // --- Start and stop ---
    // Fresh run state, run position pos, start and origin position = the cursor.
    void StartMacro(Macro& m, int32_t pos);
    // As StartMacro; with an origin the origin position is that point, and moveMouse moves the cursor there now.
    void StartMacroWithOrigin(Macro& m, int32_t pos, std::optional<Point> origin, bool moveMouse);
    // Ends the macro (run position = item count, pass count = repeat count), releases what it holds as held says
    // (what is released is forgotten), and frees the exclusive section if it holds it. Stopped when it was running.
    void StopMacro(Macro& m, HeldInput held);
    // Leaves run mode: sequence number reset, flag cleared, exclusive section freed, every running library macro
    // stopped, and (when releasing) a key-up for every key the keyboard state reports as toggled.
    void StopAllMacros(HeldInput held);
    // The end of a run of the program or of a play: every running library macro is stopped; when releasing, every
    // key and button any library macro still holds (also one stopped earlier without releasing) is released.
    void StopEverything(HeldInput held);
    // Whether held says to release now.
    bool Releases(HeldInput held) const;

    // --- Stepping ---
    // Executes the item at runPos of m (one step) with the elapsed milliseconds of the tick. m may be a library
    // macro or the editor's working copy.
    void StepMacro(Macro& m, int32_t elapsedMs);
    // One scheduler tick: in run mode every running library macro, in library order, executes one item; ends of
    // passes are counted, and the last one ends the macro (Finished). lastTickTime is updated in every mode.
    void OnMacroTimer();
    // The editor's tick for its working copy: one step when it runs, timed against the editor's own last tick.
    // A run that ends by itself inside an exclusive section gives the section up (held keys stay as they are); its
    // end is Finished.
    void OnEditorTimer(Macro& copy, uint32_t& editorLastTick);

    // --- Waits served from outside ---
    // A decoded key event code (key, release bit, modifier bits): satisfies the armed key waits it matches, in
    // every running library macro.
    void OnKeyEventForWaits(int32_t event);
    // The same for one macro (e.g. the editor's working copy); true when its wait was satisfied.
    static bool NoteKeyEvent(Macro& m, int32_t event);
    // Reads the pixel of every armed colour wait of the running library macros and satisfies those that match.
    void ServeColorWaits(platform::Screen& screen);
    // The same for one macro; true when its wait was satisfied.
    static bool ServeColorWait(Macro& m, platform::Screen& screen);

    // Estimate for a macro against this engine's library and the setting eventDelay.
    int32_t EstimateRunTime(const Macro& m) const {
        int32_t counter = 0;
        return quillet::EstimateRunTime(library_, m, settings_.eventDelay, counter);
    }

    MacroLibrary& library() { return library_; }
    const CAppIni& settings() const { return settings_; }
    InputSynth& synth() { return synth_; }
    RandomSource& random() { return random_; }
    Typist& typist() { return typist_; }

private:
    enum class Outcome { Pending, Finished, Jumped, StoppedItself };
    enum class StepResult { Skipped, Stepped, StoppedItself };

    StepResult Step(Macro& m, int32_t elapsedMs);
    Outcome StepKey(Macro& m, const MacroItem& item);
    Outcome StepMouse(Macro& m, const MacroItem& item);
    Outcome StepDelay(Macro& m, const MacroItem& item, int32_t elapsedMs);
    Outcome StepCall(Macro& m, const MacroItem& item);
    Outcome StepExclusive(Macro& m, const MacroItem& item);
    Outcome StepLoop(Macro& m, const MacroItem& item, int32_t pos);
    void ReleaseExclusive(Macro& m);
    void EndRun(Macro& m, HeldInput held);
    void Announce(const Macro& m, RunEvent event);
    void Log(const Macro& m, const MacroItem& item);
    platform::ScreenPoint Cursor();

    MacroLibrary& library_;
    const CAppIni& settings_;
    platform::InputOutput& io_;
    platform::Clock& clock_;
    InputSynth synth_;
    RandomSource random_;
    Typist typist_;
    LogSink logSink_;
    RunSink runSink_;
};

} // namespace quillet
