// Writes a macro library with every item type, for comparing quillet-cli on Linux and on Windows (run-wine.sh), or
// with --typing the library of the desktop program's check (run-wine-app.sh): one macro, started by F7, that types
// a line of text.
//
//   win32_fixture_library OUT.m
//   win32_fixture_library --typing OUT.m
#include <cstdio>
#include <string>

#include "model/cp949.h"
#include "model/library_file.h"
#include "model/macro.h"

using namespace quillet;

namespace {

Macro Named(const char* utf8Name) {
    return MakeNewMacro(Utf8ToCp949(utf8Name));
}

int32_t Mouse(int32_t flags, int32_t data = 0) {
    return flags | static_cast<int32_t>(static_cast<uint32_t>(data) << 16);
}

// The text the --typing macro types: capitals, a shifted comma and exclamation mark, digits and blanks.
const char* const kTypedText = "Hello, Wine 42!";

int WriteLibrary(const char* path, const MacroLibrary& library) {
    const SaveResult r = SaveMacroLibrary(path, library);
    if (!r.ok) {
        std::fprintf(stderr, "win32_fixture_library: %s: %s\n", path, r.problem.c_str());
        return 1;
    }
    return 0;
}

} // namespace

int main(int argc, char** argv) {
    if (argc == 3 && std::string(argv[1]) == "--typing") {
        MacroLibrary library;
        Macro typing = Named("타자");
        typing.startKey = 0x76; // F7, pressed
        typing.flags |= FlagStartKey;
        typing.setRepeatCount(1);
        typing.items.push_back(MakeStringItem(kTypedText));
        AppendMacro(library, typing);
        return WriteLibrary(argv[2], library);
    }
    if (argc != 2) {
        std::fprintf(stderr, "usage: win32_fixture_library [--typing] OUT.m\n");
        return 2;
    }
    MacroLibrary library;

    Macro helper = Named("보조");
    helper.items.push_back(MakeKeyItem('C', ActionPress | ActionRelease, 0x2E));
    helper.items.push_back(MakeDelayItem(100, DelayTime));
    AppendMacro(library, helper);

    Macro all = Named("모든 항목");
    auto& items = all.items;
    // Keys: a keystroke, a held Shift around an extended key, one with the input-method flag.
    items.push_back(MakeKeyItem('A', ActionPress | ActionRelease, 0x1E));
    items.push_back(MakeKeyItem(0xA0, ActionPress, 0x2A));
    items.push_back(MakeKeyItem(0x2E, ActionPress | ActionRelease | ActionExtended, 0x53));
    items.push_back(MakeKeyItem(0xA0, ActionRelease, 0x2A));
    items.push_back(MakeKeyItem('Q', ActionPress | ActionRelease | ActionHangul, 0x10));
    // Mouse: absolute moves and clicks, every button, both wheel directions, relative and special positions.
    items.push_back(MakeMouseItem(100, 200, MouseMove | MouseAbsolute));
    items.push_back(MakeMouseItem(640, 360, MouseMove | MouseAbsolute | MouseLeftDown | MouseLeftUp));
    items.push_back(MakeMouseItem(0, 0, MouseRightDown));
    items.push_back(MakeMouseItem(0, 0, MouseRightUp));
    items.push_back(MakeMouseItem(0, 0, MouseMiddleDown | MouseMiddleUp));
    items.push_back(MakeMouseItem(0, 0, Mouse(MouseXDown | MouseXUp, 1)));
    items.push_back(MakeMouseItem(0, 0, Mouse(MouseXDown, 2)));
    items.push_back(MakeMouseItem(0, 0, Mouse(MouseXUp, 2)));
    items.push_back(MakeMouseItem(0, 0, Mouse(MouseWheel, 120)));
    items.push_back(MakeMouseItem(0, 0, Mouse(MouseWheel, -240)));
    items.push_back(MakeMouseItem(-15, 25, MouseMove));
    items.push_back(MakeMouseItem(PosStartCursor, PosStartCursor, MouseMove | MouseAbsolute));
    items.push_back(MakeMouseItem(PosImageOrigin, PosImageOrigin, MouseMove | MouseAbsolute));
    items.push_back(MakeMouseItem(20000, 30000, MouseMove | MouseAbsolute | MouseNormalized));
    // Delays: plain, a clock time (form 3: seconds of the day) a little after the start.
    items.push_back(MakeDelayItem(250, DelayTime));
    items.push_back(MakeDelayItem((12 * 3600 + 0 * 60 + 2) * 1000, DelayClock | (3 << 1)));
    // Strings: Hangul, the running number, a comment.
    items.push_back(MakeStringItem(Utf8ToCp949("Hi 한글, 값!")));
    items.push_back(MakeStringItem("n$ n$", TextSequence));
    items.push_back(MakeStringItem(Utf8ToCp949("설명 한 줄"), TextComment));
    // Calls in each mode.
    items.push_back(MakeCallItem(Utf8ToCp949("보조"), CallSequential));
    items.push_back(MakeCallItem(Utf8ToCp949("보조"), CallParallel));
    items.push_back(MakeCallItem(Utf8ToCp949("보조"), CallStop));
    // An exclusive section around a loop that types its counter and moves the mouse with it.
    items.push_back(MakeExclusiveItem(true));
    items.push_back(MakeLoopItem(LoopEnter, 2, 8, 12));
    items.push_back(MakeLoopItem(LoopOutputKeys));
    items.push_back(MakeLoopItem(LoopOutputX));
    items.push_back(MakeLoopItem(LoopOutputY));
    items.push_back(MakeLoopItem(LoopLeave));
    items.push_back(MakeExclusiveItem(false));
    items.push_back(MakeKeyItem(0x0D, ActionPress | ActionRelease, 0x1C));
    all.setRepeatCount(2);
    RelinkLoops(all);
    AppendMacro(library, all);

    // Waits that only input or the screen can end: a dry run stops at its tick limit.
    Macro waits = Named("기다림");
    waits.items.push_back(MakeDelayItem(0x74 | KeyRelease, DelayKey));
    waits.items.push_back(MakeDelayItem(MakeColor(255, 0, 0) | (8 << 24), DelayColor, PackPoint(10, 20)));
    AppendMacro(library, waits);

    // Holds Shift, Ctrl and the left button until F7, which nobody presses: only its end can let them go.
    Macro holder = Named("붙잡기");
    holder.items.push_back(MakeKeyItem(0x10, ActionPress, 0x2A));
    holder.items.push_back(MakeKeyItem(0x11, ActionPress, 0x1D));
    holder.items.push_back(MakeMouseItem(0, 0, MouseLeftDown));
    holder.items.push_back(MakeDelayItem(0x76, DelayKey));
    AppendMacro(library, holder);

    // Random spreads and characters: the engine seeds its generator with the time, so a play differs from run to run;
    // only the text form of this macro is compared.
    Macro random = Named("무작위");
    random.items.push_back(MakeDelayItem(1000, DelayTime, 3));
    random.items.push_back(MakeStringItem("r#*?-", TextRandom));
    AppendMacro(library, random);

    return WriteLibrary(argv[1], library);
}
