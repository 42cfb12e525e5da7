// quillet-cli run: run mode without the window. The session loads the library and enters run mode with the settings
// of Quillet.ini exactly as the desktop program does at a start with run mode on (hotkeys, clock windows, colours,
// images, auto-start macros, the toggle key switching run mode off and on); what the main window would show of it
// is printed instead, one line each with the local time: run mode switching, the macros watching their conditions,
// macros starting and ending, and every item executed (the event log). It never writes Quillet.ini.
#pragma once

#include <functional>
#include <iosfwd>
#include <optional>
#include <string>
#include <vector>

#include "session/session.h"

namespace quillet::cli {

// The run on a session: begun by Begin, ended by End (or the destructor). The session must outlive it.
class HeadlessRun final : private SessionObserver {
public:
    // now gives the time stamp at the start of each line.
    HeadlessRun(Session& session, std::ostream& out, std::function<std::string()> now);
    ~HeadlessRun() override;
    HeadlessRun(const HeadlessRun&) = delete;
    HeadlessRun& operator=(const HeadlessRun&) = delete;

    // Opens the library (CP949 name), enters run mode whatever macroOptions bit 0x2 says, starts watching input and
    // the window timers. False with one line on err when the library does not exist, is damaged or cannot be read.
    // A desktop whose input cannot be watched gives a warning on err (only the clock, colour and image conditions
    // and auto-start work then).
    bool Begin(const std::string& cp949Library, std::ostream& err);
    // Handles the input that arrived before, then ends the session: no more triggers, every macro stopped and
    // everything a macro holds released. Later calls do nothing.
    void End();

private:
    void Line(const std::string& utf8);
    // The macro the program would have selected in its list at the start: macroSel, when it names one.
    std::optional<std::size_t> Selection() const;
    // SessionObserver: run mode switching (with the run list the main window would show, as lines), "started
    // 'NAME'" / "ended 'NAME'", the event log.
    void RunModeChanged(bool on) override;
    void MacroStarted(std::size_t index, Point origin) override;
    void MacroEnded(std::size_t index, bool finished) override;
    void ItemLogged(const std::string& cp949Line) override;

    Session& session_;
    std::ostream& out_;
    std::function<std::string()> now_;
    bool begun_ = false;
    bool ended_ = false;
};

// Local time of day "HH:MM:SS.mmm".
std::string LocalTimeStamp();

// quillet-cli run [LIBRARY]: until SIGTERM, SIGINT or SIGHUP (Ctrl+C, the terminal going away). Exit 0 after such a
// signal, 2 when the run cannot begin.
int RunCommand(const std::vector<std::string>& args, std::ostream& out, std::ostream& err);

} // namespace quillet::cli
