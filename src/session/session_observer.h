// What happens in the running program, told to whoever watches it (the desktop program's windows, quillet-cli
// run): run mode switching, every start and end of a library macro, every image condition that matched (and its result
// picture when asked for), every line of the event log. Told on the session's thread, in the order it happens (a start before the macro's first log
// line, its end after the last). Every method has an empty default: a watcher overrides what it shows.
#pragma once

#include <cstddef>
#include <string>

#include "model/macro.h"
#include "triggers/run_mode.h"

namespace quillet {

class SessionObserver {
public:
    virtual ~SessionObserver() = default;

    // Run mode was entered (before its auto-start macros start) or left (before its macros are stopped).
    virtual void RunModeChanged(bool on) { (void)on; }
    // Library macro index started; origin: the position its relative moves count from (the cursor, or the centre
    // of a found image).
    virtual void MacroStarted(std::size_t index, Point origin) { (void)index, (void)origin; }
    // Library macro index ended: finished by itself after its passes, or stopped (a stop key, colour, clock window,
    // call, run mode left, the end of the program, or a restart).
    virtual void MacroEnded(std::size_t index, bool finished) { (void)index, (void)finished; }
    // The image condition of library macro index found its picture (score at least its threshold) centred at
    // origin; whether that starts the macro is the condition's business.
    virtual void ImageMatched(std::size_t index, Point origin, double score) { (void)index, (void)origin, (void)score; }
    // The picture of an image search's result for library macro index, while macroOptions asks for the result
    // window; valid only during the call.
    virtual void ImageResult(std::size_t index, const BgrImageView& picture) { (void)index, (void)picture; }
    // One line of the event log: CP949 "<name>: <item text>" with its CR LF, or a notice.
    virtual void ItemLogged(const std::string& cp949Line) { (void)cp949Line; }
};

} // namespace quillet
