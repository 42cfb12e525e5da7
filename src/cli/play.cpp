#include "cli/play.h"

#include <algorithm>
#include <charconv>
#include <cinttypes>
#include <cstdint>
#include <cstdio>
#include <ctime>
#include <ostream>

#include "engine/engine.h"
#include "model/cp949.h"
#include "model/library_file.h"
#include "model/settings.h"
#include "platform/fake/fake_platform.h"

namespace quillet::cli {

namespace {

constexpr int kExitOk = 0;
constexpr int kExitFailure = 2;

const char* const kPlayUsage =
    "usage: quillet-cli play LIBRARY NAME [--dry-run] [--ticks N] [--event-delay MS] [--screen WxH]\n"
    "                        [--cursor X,Y] [--hangul-keyboard 0|1|2] [--sequence-start N]\n"
    "                        [--macro-options N] [--clock HH:MM:SS] [--no-ime] [--seed N]\n";

const char* const kPlayHelp =
    "Runs the macro NAME of LIBRARY as its start hotkey would, with the settings of Quillet.ini, and goes on until\n"
    "every macro it started has ended: NAME itself and every macro started by its calls, directly or through calls\n"
    "of the macros it started (a parallel call outlives its caller). No other macro starts meanwhile.\n"
    "  --dry-run              send nothing: print every key and mouse event with its tick, and the event log,\n"
    "                         on a simulated desktop with virtual time; the last line is \"N end\" when every\n"
    "                         macro has ended at tick N, or \"N limit\" at the tick limit\n"
    "  --ticks N              dry run: at most N ticks (default 10000)\n"
    "  --event-delay MS       milliseconds per tick (setting eventDelay)\n"
    "  --screen WxH           dry run: the primary screen's size (default 1920x1080)\n"
    "  --cursor X,Y           dry run: where the cursor starts (default 0,0)\n"
    "  --hangul-keyboard 0|1|2, --sequence-start N, --macro-options N\n"
    "                         the settings hangulKeyboard, sequenceStart and macroOptions\n"
    "  --clock HH:MM:SS       dry run: the local time at the start (default: now)\n"
    "  --no-ime               dry run: the desktop has no input method\n"
    "  --seed N               seed of the random delays and characters (default: the time)\n"
    "Without --dry-run the events go to the desktop (X11 or Windows) in real time, and a person's keys serve the\n"
    "macros' key waits; Ctrl+C stops every macro and releases every key and button they hold.\n";

bool ParseInt(std::string_view s, int64_t& out) {
    if (s.empty()) return false;
    const auto [p, ec] = std::from_chars(s.data(), s.data() + s.size(), out);
    return ec == std::errc() && p == s.data() + s.size();
}

bool ParseInt32(std::string_view s, int32_t& out, int64_t lo, int64_t hi) {
    int64_t v = 0;
    if (!ParseInt(s, v) || v < lo || v > hi) return false;
    out = static_cast<int32_t>(v);
    return true;
}

// "AxB" or "A,B" into two integers.
bool ParsePair(std::string_view s, char sep, int32_t& a, int32_t& b, int64_t lo, int64_t hi) {
    const auto at = s.find(sep);
    return at != std::string_view::npos && ParseInt32(s.substr(0, at), a, lo, hi) &&
           ParseInt32(s.substr(at + 1), b, lo, hi);
}

bool ParseClock(std::string_view s, PlayOptions::Clock& out) {
    const auto a = s.find(':');
    const auto b = s.find(':', a == std::string_view::npos ? a : a + 1);
    if (a == std::string_view::npos || b == std::string_view::npos) return false;
    return ParseInt32(s.substr(0, a), out.hour, 0, 23) && ParseInt32(s.substr(a + 1, b - a - 1), out.minute, 0, 59) &&
           ParseInt32(s.substr(b + 1), out.second, 0, 59);
}

void PrintEvent(std::ostream& out, const platform::FakeEvent& e) {
    char line[128];
    switch (e.kind) {
    case platform::FakeEvent::Kind::Key:
        std::snprintf(line, sizeof line, "%" PRIu64 " key 0x%02X %s scan=0x%02X flags=%u\n", e.tick, e.vk,
                      (e.flags & platform::KEYEVENTF_KEYUP) ? "up" : "down", e.scan, e.flags);
        break;
    case platform::FakeEvent::Kind::Mouse:
        std::snprintf(line, sizeof line, "%" PRIu64 " mouse flags=0x%04X x=%d y=%d data=%d\n", e.tick, e.flags, e.x,
                      e.y, e.data);
        break;
    case platform::FakeEvent::Kind::Sleep:
        std::snprintf(line, sizeof line, "%" PRIu64 " sleep %u\n", e.tick, e.sleepMs);
        break;
    }
    out << line;
}

} // namespace

std::string PlayHelp() {
    return std::string(kPlayUsage) + kPlayHelp;
}

bool PlayGoesOn(const MacroLibrary& library) {
    return std::any_of(library.begin(), library.end(), [](const Macro& m) { return IsRunning(m); });
}

std::optional<PlayOptions> ParsePlayOptions(const std::vector<std::string>& args, std::ostream& err) {
    PlayOptions o;
    std::vector<std::string> positional;
    for (std::size_t i = 1; i < args.size(); ++i) {
        const std::string& a = args[i];
        const auto value = [&](std::string& v) {
            if (i + 1 >= args.size()) return false;
            v = args[++i];
            return true;
        };
        std::string v;
        bool ok = true;
        if (a == "--help" || a == "-h") {
            PlayOptions help;
            help.help = true;
            return help;
        }
        if (a == "--dry-run")
            o.dryRun = true;
        else if (a == "--no-ime")
            o.noIme = true;
        else if (a == "--ticks")
            ok = value(v) && ParseInt(v, o.ticks) && o.ticks >= 0;
        else if (a == "--event-delay")
            ok = value(v) && ParseInt32(v, o.eventDelay.emplace(), 1, 86400000);
        else if (a == "--screen")
            ok = value(v) && ParsePair(v, 'x', o.screen.width, o.screen.height, 1, 32767);
        else if (a == "--cursor")
            ok = value(v) && ParsePair(v, ',', o.cursor.x, o.cursor.y, -32768, 32767);
        else if (a == "--hangul-keyboard")
            ok = value(v) && ParseInt32(v, o.hangulKeyboard.emplace(), 0, 2);
        else if (a == "--sequence-start")
            ok = value(v) && ParseInt32(v, o.sequenceStart.emplace(), INT32_MIN, INT32_MAX);
        else if (a == "--macro-options")
            ok = value(v) && ParseInt32(v, o.macroOptions.emplace(), INT32_MIN, INT32_MAX);
        else if (a == "--clock")
            ok = value(v) && ParseClock(v, o.clock.emplace());
        else if (a == "--seed") {
            int64_t seed = 0;
            ok = value(v) && ParseInt(v, seed) && seed >= 0 && seed <= UINT32_MAX;
            if (ok) o.seed = static_cast<uint32_t>(seed);
        } else if (a.rfind("--", 0) == 0) {
            err << "quillet-cli: unknown option '" << a << "'\n" << kPlayUsage;
            return std::nullopt;
        } else
            positional.push_back(a);
        if (!ok) {
            err << "quillet-cli: bad or missing value for " << a << "\n" << kPlayUsage;
            return std::nullopt;
        }
    }
    if (positional.size() != 2) {
        err << kPlayUsage;
        return std::nullopt;
    }
    o.library = positional[0];
    o.name = positional[1];
    return o;
}

void ApplyPlayOptions(const PlayOptions& o, CAppIni& settings) {
    if (o.eventDelay) settings.eventDelay = *o.eventDelay;
    if (o.hangulKeyboard) settings.hangulKeyboard = *o.hangulKeyboard;
    if (o.sequenceStart) settings.sequenceStart = *o.sequenceStart;
    if (o.macroOptions) settings.macroOptions = *o.macroOptions;
    if (settings.eventDelay < 1) settings.eventDelay = 1;
}

bool LoadForPlay(const PlayOptions& o, MacroLibrary& library, int& index, std::ostream& err) {
    const LoadResult r = LoadMacroLibrary(o.library, library);
    if (!r.ok()) {
        err << "quillet-cli: " << o.library << ": " << (r.problem.empty() ? "cannot be read" : r.problem) << "\n";
        return false;
    }
    // Names are given in UTF-8 on the command line and stored in CP949.
    index = FindMacroByName(library, Utf8ToCp949(o.name));
    if (index < 0) {
        err << "quillet-cli: " << o.library << ": no macro named '" << o.name << "'\n";
        return false;
    }
    return true;
}

int PlayDryRun(const PlayOptions& o, std::ostream& out, std::ostream& err) {
    CAppIni settings(DefaultIniPath(), false);
    ApplyPlayOptions(o, settings);
    MacroLibrary library;
    int index = -1;
    if (!LoadForPlay(o, library, index, err)) return kExitFailure;

    platform::FakePlatform fake(o.noIme ? platform::FakeIme::None : platform::FakeIme::Closed);
    fake.SetPrimaryScreenSize(o.screen.width, o.screen.height);
    fake.SetCursor(o.cursor.x, o.cursor.y);
    if (o.clock) {
        fake.SetLocalTime(o.clock->hour, o.clock->minute, o.clock->second);
    } else {
        const std::time_t now = std::time(nullptr);
        std::tm local{};
#ifdef _WIN32
        localtime_s(&local, &now);
#else
        localtime_r(&now, &local);
#endif
        fake.SetLocalTime(local.tm_hour, local.tm_min, local.tm_sec);
    }

    Engine engine(library, settings, fake.platform(), o.seed);
    // Log lines are interleaved with the events at the point they were produced.
    struct LogLine {
        std::size_t eventIndex;
        uint64_t tick;
        std::string text;
    };
    std::vector<LogLine> logs;
    engine.SetLogSink([&](const std::string& line) {
        std::string text = Cp949ToUtf8(line);
        if (text.size() >= 2 && text.compare(text.size() - 2, 2, "\r\n") == 0) text.resize(text.size() - 2);
        logs.push_back({fake.events().size(), fake.tick(), std::move(text)});
    });

    engine.StartRunMode();
    engine.lastTickTime = fake.NowMs();
    engine.StartMacro(library[index], 1);

    std::size_t printedEvents = 0, printedLogs = 0;
    const auto flush = [&] {
        const auto& events = fake.events();
        while (printedEvents < events.size() || printedLogs < logs.size()) {
            if (printedLogs < logs.size() && logs[printedLogs].eventIndex <= printedEvents) {
                out << logs[printedLogs].tick << " log " << logs[printedLogs].text << "\n";
                ++printedLogs;
            } else {
                PrintEvent(out, events[printedEvents++]);
            }
        }
    };

    const uint32_t period = static_cast<uint32_t>(settings.eventDelay);
    for (int64_t tick = 1; tick <= o.ticks; ++tick) {
        // Tick k is due at k periods; an input-method pause that ran past it delays it, as a busy thread would.
        const uint64_t due = static_cast<uint64_t>(tick) * period;
        const uint64_t now = fake.NowMs();
        if (due > now) fake.AdvanceMs(static_cast<uint32_t>(due - now));
        fake.SetTick(static_cast<uint64_t>(tick));
        engine.OnMacroTimer();
        flush();
        if (!PlayGoesOn(library)) {
            out << tick << " end\n";
            return kExitOk;
        }
    }
    out << o.ticks << " limit\n";
    return kExitOk;
}

} // namespace quillet::cli
