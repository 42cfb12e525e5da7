#include "engine/engine.h"

#include <algorithm>
#include <cmath>
#include <cstdlib>
#include <ctime>
#include <limits>

#include "model/item_text.h"

namespace quillet {

namespace {

using namespace platform;

constexpr uint32_t kMouseFirstEventMask = 0x08AB;  // move, the button downs, wheel
constexpr uint32_t kMouseSecondEventMask = 0x0154; // the button ups
constexpr uint32_t kMouseDataMask = 0x0980;        // X buttons and wheel carry mouse data

int32_t ClampToInt32(int64_t v) {
    return static_cast<int32_t>(
        std::clamp<int64_t>(v, std::numeric_limits<int32_t>::min(), std::numeric_limits<int32_t>::max()));
}

bool IsMouseButton(int vk) {
    return vk == 1 || vk == 2 || vk == 4 || vk == 5 || vk == 6;
}

struct ButtonEvents {
    uint32_t down;
    uint32_t up;
    int32_t data;
};

ButtonEvents ButtonOf(int vk) {
    switch (vk) {
    case 1:
        return {MOUSEEVENTF_LEFTDOWN, MOUSEEVENTF_LEFTUP, 0};
    case 2:
        return {MOUSEEVENTF_RIGHTDOWN, MOUSEEVENTF_RIGHTUP, 0};
    case 4:
        return {MOUSEEVENTF_MIDDLEDOWN, MOUSEEVENTF_MIDDLEUP, 0};
    case 5:
        return {MOUSEEVENTF_XDOWN, MOUSEEVENTF_XUP, XBUTTON1};
    default:
        return {MOUSEEVENTF_XDOWN, MOUSEEVENTF_XUP, XBUTTON2};
    }
}

// Keeps the running estimate far from the int64 limits; terms are at most 2^62 in size.
constexpr int64_t kEstimateLimit = int64_t{1} << 61;
int64_t SatEstimate(int64_t v) {
    return std::clamp(v, -kEstimateLimit, kEstimateLimit);
}

int64_t Estimate(const MacroLibrary& library, const Macro& macro, int32_t eventDelay, int32_t& counter) {
    if (counter < std::numeric_limits<int32_t>::max()) ++counter;
    if (counter > 10) return kEstimateCycle;
    int64_t total = int64_t{eventDelay} * (macro.itemCount() - int64_t{1});
    for (const MacroItem& item : macro.items) {
        int64_t term = 0;
        if (item.type == ItemDelay && item.delayKind() == 0) {
            term = item.delayValue();
        } else if (item.type == ItemString) {
            term = int64_t{eventDelay} * (int64_t{item.textLength()} - 1);
        } else if (item.type == ItemCall && (item.callMode() & 1) == 0) {
            const int index = FindMacroByName(library, item.calledName(), -1);
            if (index >= 0) term = Estimate(library, library[static_cast<std::size_t>(index)], eventDelay, counter);
        }
        total = SatEstimate(total + SatEstimate(term));
    }
    return total;
}

} // namespace

bool KeyConditionMatches(int32_t condition, int32_t event) {
    if ((condition & KeyCodeMask) != (event & KeyCodeMask)) return false;
    if ((condition & KeyRelease) != (event & KeyRelease)) return false;
    if ((condition & KeyExactModifiers) != 0 && (condition & KeyModifiersMask) != (event & KeyModifiersMask))
        return false;
    return true;
}

bool KeyWaitMatches(int32_t condition, int32_t event) {
    if ((condition & KeyCodeMask) == 0) condition |= event & KeyCodeMask;
    return KeyConditionMatches(condition, event);
}

bool ColorMatches(uint32_t pixel, uint32_t color, int64_t tolerance) {
    for (int shift = 0; shift <= 16; shift += 8) {
        const int64_t p = (pixel >> shift) & 0xFF;
        const int64_t c = (color >> shift) & 0xFF;
        if (p < c - tolerance || p > c + tolerance) return false;
    }
    return true;
}

int32_t ClockValue(int form, const LocalTime& t) {
    switch (form) {
    case 3:
        return t.hour * 3600 + t.minute * 60 + t.second;
    case 2:
        return t.minute * 60 + t.second;
    case 1:
        return t.second;
    default:
        return 0;
    }
}

int32_t ClockFormPeriod(int form) {
    switch (form) {
    case 3:
        return 86400;
    case 2:
        return 3600;
    case 1:
        return 60;
    default:
        return 1;
    }
}

int32_t EstimateRunTime(const MacroLibrary& library, const Macro& macro, int32_t eventDelay, int32_t& counter) {
    return ClampToInt32(Estimate(library, macro, eventDelay, counter));
}

Engine::Engine(MacroLibrary& library, const CAppIni& settings, InputOutput& io, InputMethod& ime, Clock& clock,
               std::optional<uint32_t> seed)
    : sequenceNumber(settings.sequenceStart), library_(library), settings_(settings), io_(io), clock_(clock),
      synth_(io, ime, clock), random_(seed ? *seed : static_cast<uint32_t>(std::time(nullptr))),
      typist_(synth_, random_) {
    synth_.onImeMissing = [this] {
        if (logSink_) logSink_("input method not found: Hangul typed as its keys\r\n");
    };
}

void Engine::StartRunMode() {
    sequenceNumber = settings_.sequenceStart;
    runMode = true;
    exclusiveCount = 0;
}

ScreenPoint Engine::Cursor() {
    ScreenPoint p;
    if (!io_.CursorPos(p)) p = {};
    return p;
}

// --- Start and stop ---------------------------------------------------------------------------------------------

void Engine::ReleaseExclusive(Macro& m) {
    if (!m.holdsExclusive) return;
    if (exclusiveCount > 0) --exclusiveCount;
    m.holdsExclusive = false;
}

void Engine::StartMacro(Macro& m, int32_t pos) {
    StartMacroWithOrigin(m, pos, std::nullopt, false);
}

void Engine::StartMacroWithOrigin(Macro& m, int32_t pos, std::optional<Point> origin, bool moveMouse) {
    const bool restart = IsRunning(m);
    // A restart of a macro that holds the exclusive section gives the section up; otherwise the reset below would
    // forget the holder and leave every other macro frozen.
    ReleaseExclusive(m);
    ResetRunState(m);
    m.runPos = pos;
    const ScreenPoint cursor = Cursor();
    m.startPos = {cursor.x, cursor.y};
    if (origin) {
        m.originPos = *origin;
        if (moveMouse)
            synth_.SendMouse(MOUSEEVENTF_MOVE | MOUSEEVENTF_ABSOLUTE, synth_.ToAbsoluteX(origin->x),
                             synth_.ToAbsoluteY(origin->y), 0);
    } else {
        m.originPos = m.startPos;
    }
    // A restart ends the old run first, so a watcher never sees two starts without an end between them.
    if (restart) Announce(m, RunEvent::Stopped);
    Announce(m, RunEvent::Started);
    // Nothing to run from pos (a macro of only its start item): no step will end it, so it ends here.
    if (!IsRunning(m)) Announce(m, RunEvent::Finished);
}

void Engine::Announce(const Macro& m, RunEvent event) {
    if (runSink_) runSink_(m, event);
}

bool Engine::Releases(HeldInput held) const {
    return held == HeldInput::Release || (settings_.macroOptions & OptionReleaseHeldOnStop) != 0;
}

void Engine::StopMacro(Macro& m, HeldInput held) {
    const bool wasRunning = IsRunning(m);
    EndRun(m, held);
    if (wasRunning) Announce(m, RunEvent::Stopped);
}

void Engine::EndRun(Macro& m, HeldInput held) {
    m.passCount = m.repeatCount();
    m.runPos = m.itemCount();
    if (Releases(held)) {
        for (int k = 0; k < 256; ++k) {
            if (m.heldInputs[static_cast<std::size_t>(k)] == 0) continue;
            m.heldInputs[static_cast<std::size_t>(k)] = 0;
            if (IsMouseButton(k)) {
                const ButtonEvents b = ButtonOf(k);
                synth_.SendMouse(b.up, 0, 0, b.data);
            } else {
                const auto vk = static_cast<uint8_t>(k);
                synth_.SendKey(vk, synth_.ScanCodeOf(vk), KEYEVENTF_EXTENDEDKEY | KEYEVENTF_KEYUP);
            }
        }
    }
    ReleaseExclusive(m);
}

void Engine::StopAllMacros(HeldInput held) {
    sequenceNumber = settings_.sequenceStart;
    runMode = false;
    exclusiveCount = 0;
    for (std::size_t i = 0; i < library_.size(); ++i)
        if (IsRunning(library_[i])) StopMacro(library_[i], held);
    if (Releases(held)) {
        const std::array<uint8_t, 256> state = io_.KeyboardState();
        for (int k = 0; k < 256; ++k) {
            if ((state[static_cast<std::size_t>(k)] & 0x01) == 0) continue;
            const auto vk = static_cast<uint8_t>(k);
            synth_.SendKey(vk, synth_.ScanCodeOf(vk), KEYEVENTF_EXTENDEDKEY | KEYEVENTF_KEYUP);
        }
    }
}

void Engine::StopEverything(HeldInput held) {
    const bool release = Releases(held);
    for (Macro& m : library_) {
        const bool holds = std::any_of(m.heldInputs.begin(), m.heldInputs.end(), [](uint8_t h) { return h != 0; });
        if (IsRunning(m) || (release && holds)) StopMacro(m, held);
    }
}

// --- Scheduler ----------------------------------------------------------------------------------------------------

void Engine::OnMacroTimer() {
    const uint32_t now = clock_.NowMs();
    const auto elapsed = static_cast<int32_t>(now - lastTickTime);
    if (runMode) {
        // By index: a step may start or stop other macros, and the size is read anew on every round.
        for (std::size_t i = 0; i < library_.size(); ++i) {
            Macro& m = library_[i];
            if (m.runPos < 1 || m.runPos >= m.itemCount()) continue;
            const StepResult result = Step(m, elapsed);
            if (result == StepResult::StoppedItself || i >= library_.size()) continue;
            Macro& after = library_[i];
            if (after.runPos < after.itemCount()) continue;
            // End of a pass.
            if (after.passCount < std::numeric_limits<int32_t>::max()) ++after.passCount;
            if (after.repeatCount() != 0 && after.passCount >= after.repeatCount()) {
                // Its run position is already past the end, so StopMacro would not tell of the end.
                EndRun(after, HeldInput::AsSettingSays);
                Announce(after, RunEvent::Finished);
            } else {
                after.runPos = 1;
                // Counters left by loops that were never closed would pile up pass after pass.
                after.loopCounters.clear();
            }
        }
    }
    lastTickTime = now;
}

void Engine::OnEditorTimer(Macro& copy, uint32_t& editorLastTick) {
    if (!IsRunning(copy)) return;
    const uint32_t now = clock_.NowMs();
    StepMacro(copy, static_cast<int32_t>(now - editorLastTick));
    editorLastTick = now;
    // A test run that ends by itself inside an exclusive section gives it up; otherwise every macro and the next
    // test run would stay frozen.
    if (!IsRunning(copy)) {
        ReleaseExclusive(copy);
        Announce(copy, RunEvent::Finished);
    }
}

void Engine::StepMacro(Macro& m, int32_t elapsedMs) {
    (void)Step(m, elapsedMs);
}

Engine::StepResult Engine::Step(Macro& m, int32_t elapsedMs) {
    // Exclusive gate: another macro holds the section, so this one is frozen (nothing counts down).
    if (exclusiveCount >= 1 && !m.holdsExclusive) return StepResult::Skipped;
    const int32_t old = m.runPos;
    if (old < 0 || old >= m.itemCount()) return StepResult::Skipped;
    const MacroItem& item = m.items[static_cast<std::size_t>(old)];

    Outcome outcome = Outcome::Finished;
    switch (item.type) {
    case ItemKey:
        outcome = StepKey(m, item);
        break;
    case ItemMouse:
        outcome = StepMouse(m, item);
        break;
    case ItemDelay:
        outcome = StepDelay(m, item, elapsedMs);
        break;
    case ItemString:
        outcome = typist_.StepString(item, m.itemProgress, sequenceNumber, settings_.hangulKeyboard) ? Outcome::Finished
                                                                                                     : Outcome::Pending;
        break;
    case ItemCall:
        outcome = StepCall(m, item);
        break;
    case ItemExclusive:
        outcome = StepExclusive(m, item);
        break;
    case ItemLoop:
        outcome = StepLoop(m, item, old);
        break;
    default:
        break; // the start item and unknown types are skipped
    }
    if (outcome == Outcome::Finished) m.runPos = old + 1;

    if (m.runPos != old && item.type >= ItemKey && item.type <= ItemCall) Log(m, item);
    return outcome == Outcome::StoppedItself ? StepResult::StoppedItself : StepResult::Stepped;
}

void Engine::Log(const Macro& m, const MacroItem& item) {
    if (!logSink_) return;
    std::string text = ItemText(item, settings_.macroOptions);
    std::string line;
    line.reserve(m.name.size() + text.size() + 4);
    line.append(m.name).append(": ").append(text).append("\r\n");
    logSink_(line);
}

// --- Input items --------------------------------------------------------------------------------------------------

Engine::Outcome Engine::StepKey(Macro& m, const MacroItem& item) {
    const int vk = item.keyCode() & 0xFF;
    const auto vk8 = static_cast<uint8_t>(vk);
    uint8_t scan = static_cast<uint8_t>((item.keyCode() >> 8) & 0xFF);
    if (scan == 0) scan = synth_.ScanCodeOf(vk8);
    const int32_t action = item.keyAction();
    if ((settings_.macroOptions & OptionFollowImeState) != 0) synth_.SetImeHangul((action & ActionHangul) != 0);
    const uint32_t extended = (action & ActionExtended) != 0 ? KEYEVENTF_EXTENDEDKEY : 0;
    if ((action & ActionPress) != 0) {
        if (IsMouseButton(vk)) {
            const ButtonEvents b = ButtonOf(vk);
            synth_.SendMouse(b.down, 0, 0, b.data);
        } else {
            synth_.SendKey(vk8, scan, extended);
        }
        m.heldInputs[vk8] = 1;
    }
    if ((action & ActionRelease) != 0) {
        if (IsMouseButton(vk)) {
            const ButtonEvents b = ButtonOf(vk);
            synth_.SendMouse(b.up, 0, 0, b.data);
        } else {
            synth_.SendKey(vk8, scan, extended | KEYEVENTF_KEYUP);
        }
        m.heldInputs[vk8] = 0;
    }
    return Outcome::Finished;
}

Engine::Outcome Engine::StepMouse(Macro& m, const MacroItem& item) {
    const auto flags = static_cast<uint32_t>(item.mouseFlags());
    int32_t x = 0;
    int32_t y = 0;
    if ((flags & MOUSEEVENTF_ABSOLUTE) != 0) {
        x = item.mouseX();
        y = item.mouseY();
        if (x == PosStartCursor && y == PosStartCursor) {
            x = m.startPos.x;
            y = m.startPos.y;
        }
        if (x == PosImageOrigin && y == PosImageOrigin) {
            x = m.originPos.x;
            y = m.originPos.y;
        }
        if ((flags & static_cast<uint32_t>(MouseNormalized)) == 0) {
            x = synth_.ToAbsoluteX(x);
            y = synth_.ToAbsoluteY(y);
        }
    } else {
        const ScreenPoint cursor = Cursor();
        x = synth_.ToAbsoluteX(ClampToInt32(int64_t{cursor.x} + item.mouseX()));
        y = synth_.ToAbsoluteY(ClampToInt32(int64_t{cursor.y} + item.mouseY()));
    }
    const int32_t data = (flags & kMouseDataMask) != 0 ? item.mouseData() : 0;

    uint32_t first = flags & kMouseFirstEventMask;
    if ((first & MOUSEEVENTF_MOVE) != 0) first |= MOUSEEVENTF_ABSOLUTE;
    if (first != 0) synth_.SendMouse(first, x, y, data);
    const uint32_t second = flags & kMouseSecondEventMask;
    if (second != 0) synth_.SendMouse(second, x, y, data);

    auto& held = m.heldInputs;
    if ((flags & MOUSEEVENTF_LEFTDOWN) != 0)
        held[1] = 1;
    else if ((flags & MOUSEEVENTF_LEFTUP) != 0)
        held[1] = 0;
    else if ((flags & MOUSEEVENTF_RIGHTDOWN) != 0)
        held[2] = 1;
    else if ((flags & MOUSEEVENTF_RIGHTUP) != 0)
        held[2] = 0;
    else if ((flags & MOUSEEVENTF_MIDDLEDOWN) != 0)
        held[4] = 1;
    else if ((flags & MOUSEEVENTF_MIDDLEUP) != 0)
        held[4] = 0;
    else if ((flags & MOUSEEVENTF_WHEEL) != 0)
        held[data > 0 ? 10 : 11] = 1;
    else if ((flags & MOUSEEVENTF_XDOWN) != 0) {
        if ((data & XBUTTON2) != 0)
            held[6] = 1;
        else if ((data & XBUTTON1) != 0)
            held[5] = 1;
    } else if ((flags & MOUSEEVENTF_XUP) != 0) {
        if ((data & XBUTTON2) != 0)
            held[6] = 0;
        else if ((data & XBUTTON1) != 0)
            held[5] = 0;
    }
    return Outcome::Finished;
}

Engine::Outcome Engine::StepDelay(Macro& m, const MacroItem& item, int32_t elapsedMs) {
    const int32_t kind = item.delayKind() & DelayKindMask;
    if (kind == DelayTime || kind == DelayClock) {
        if (m.delayLeft != 0) {
            m.delayLeft = ClampToInt32(int64_t{m.delayLeft} - elapsedMs);
        } else if (kind == DelayTime) {
            // Arming step: no time is subtracted in it.
            const int32_t value = item.delayValue();
            const int32_t level = std::max(item.delayExtra(), 0);
            const int h = level <= 10 ? level * 100 : 1000; // tenths of a percent
            if (h <= 0) {
                m.delayLeft = value;
            } else {
                const int r = random_.Next() % (2 * h + 1) - h;
                const double spread = std::trunc(static_cast<double>(value) * (r / 1000.0));
                m.delayLeft = ClampToInt32(int64_t{value} + static_cast<int64_t>(spread));
            }
        } else {
            // Clock wait: converted into a countdown once, from the local time in whole seconds.
            const int form = item.delayClockForm();
            if (form == 0) {
                m.delayLeft = 1000;
            } else {
                const int64_t now = int64_t{ClockValue(form, clock_.LocalNow())} * 1000;
                const int64_t wrap = int64_t{ClockFormPeriod(form)} * 1000;
                const int64_t target = item.delayValue();
                m.delayLeft = ClampToInt32(target > now ? target - now : target - now + wrap);
            }
        }
        if (m.delayLeft > 0) return Outcome::Pending;
        m.delayLeft = 0; // the overshoot is not carried into the next item
        return Outcome::Finished;
    }
    if (kind == DelayKey) {
        switch (m.waitKeyPhase) {
        case WaitNone:
            m.waitKey = item.delayValue();
            m.waitKeyPhase = WaitArmed;
            return Outcome::Pending;
        case WaitSatisfied:
            m.waitKey = 0;
            m.waitKeyPhase = WaitNone;
            return Outcome::Finished;
        default:
            return Outcome::Pending;
        }
    }
    if (kind == DelayColor) {
        switch (m.waitColorPhase) {
        case WaitNone:
            m.waitColor = item.delayValue();
            m.waitColorPos = item.delayExtra();
            m.waitColorPhase = WaitArmed;
            return Outcome::Pending;
        case WaitSatisfied:
            m.waitColor = 0;
            m.waitColorPos = 0;
            m.waitColorPhase = WaitNone;
            return Outcome::Finished;
        default:
            return Outcome::Pending;
        }
    }
    // Unknown kind: the macro stays on the item until it is stopped.
    return Outcome::Pending;
}

// --- Calls, exclusive sections, loops --------------------------------------------------------------------------

Engine::Outcome Engine::StepCall(Macro& m, const MacroItem& item) {
    const int index = FindMacroByName(library_, item.calledName(), -1);
    if (m.itemProgress == 0) {
        if (index < 0) return Outcome::Finished;
        Macro& called = library_[static_cast<std::size_t>(index)];
        const int32_t mode = item.callMode();
        if ((mode == CallSequential || mode == CallParallel) && !IsRunning(called)) StartMacro(called, 1);
        if (mode == CallStop && IsRunning(called)) {
            StopMacro(called, HeldInput::AsSettingSays);
            // A macro that stops itself ends here instead of going on with its next item.
            if (&called == &m) return Outcome::StoppedItself;
        }
        if (mode != CallSequential) return Outcome::Finished;
        m.itemProgress = 1;
        return Outcome::Pending;
    }
    if (index >= 0 && IsRunning(library_[static_cast<std::size_t>(index)])) return Outcome::Pending;
    m.itemProgress = 0;
    return Outcome::Finished;
}

Engine::Outcome Engine::StepExclusive(Macro& m, const MacroItem& item) {
    if ((item.sectionEnter() & 1) != 0) {
        if (exclusiveCount == 0) {
            exclusiveCount = 1;
            m.holdsExclusive = true;
        }
        // Entering twice does not nest. A macro that does not hold a taken section never gets here (the gate).
        return Outcome::Finished;
    }
    if (exclusiveCount >= 1 && m.holdsExclusive) {
        m.holdsExclusive = false;
        --exclusiveCount;
    }
    return Outcome::Finished;
}

Engine::Outcome Engine::StepLoop(Macro& m, const MacroItem& item, int32_t pos) {
    const int kind = item.loopKind() & LoopKindMask;
    auto& counters = m.loopCounters;
    switch (kind) {
    case LoopEnter:
        counters.push_back(item.loopStart());
        return Outcome::Finished;
    case LoopOutputKeys:
        // Without a counter (a run started inside a loop) there is nothing to output.
        if (!counters.empty()) typist_.TypeNumber(counters.back());
        return Outcome::Finished;
    case LoopOutputX:
    case LoopOutputY: {
        if (counters.empty()) return Outcome::Finished;
        ScreenPoint cursor;
        if (!io_.CursorPos(cursor)) return Outcome::Finished;
        const int32_t x = kind == LoopOutputX ? counters.back() : cursor.x;
        const int32_t y = kind == LoopOutputY ? counters.back() : cursor.y;
        synth_.SendMouse(MOUSEEVENTF_MOVE | MOUSEEVENTF_ABSOLUTE, synth_.ToAbsoluteX(x), synth_.ToAbsoluteY(y), 0);
        return Outcome::Finished;
    }
    case LoopLeave: {
        // Without a counter the loop is over.
        if (counters.empty()) return Outcome::Finished;
        const int step = item.loopStep();
        const int64_t next = int64_t{counters.back()} + step;
        const bool passed = step >= 0 ? next > item.loopStop() : next < item.loopStop();
        // The body start comes from the matching enter; a leave without one carries whatever the file held, and a
        // jump outside the items before it would lose the macro, so the loop ends instead.
        const int32_t body = item.loopStart();
        if (passed || body < 1 || body > pos) {
            counters.pop_back();
            return Outcome::Finished;
        }
        counters.back() = static_cast<int32_t>(next);
        m.runPos = body;
        return Outcome::Jumped;
    }
    default:
        return Outcome::Finished; // kinds 4, 5, 6
    }
}

// --- Waits served from outside -----------------------------------------------------------------------------------

bool Engine::NoteKeyEvent(Macro& m, int32_t event) {
    if (!IsRunning(m) || m.waitKeyPhase != WaitArmed || !KeyWaitMatches(m.waitKey, event)) return false;
    m.waitKeyPhase = WaitSatisfied;
    return true;
}

void Engine::OnKeyEventForWaits(int32_t event) {
    for (Macro& m : library_) NoteKeyEvent(m, event);
}

bool Engine::ServeColorWait(Macro& m, Screen& screen) {
    if (!IsRunning(m) || m.waitColorPhase != WaitArmed) return false;
    const uint32_t pixel = screen.Pixel(PointX(m.waitColorPos), PointY(m.waitColorPos));
    if (!ColorWithinTolerance(pixel, m.waitColor)) return false;
    m.waitColorPhase = WaitSatisfied;
    return true;
}

void Engine::ServeColorWaits(Screen& screen) {
    for (Macro& m : library_) ServeColorWait(m, screen);
}

} // namespace quillet
