// The big library of the benchmarks: 10,000 macros x 50 items (keys, mouse, delays, strings with Hangul and line
// breaks, calls), as the editor and recorder make them.
#pragma once

#include <string>

#include "model/cp949.h"
#include "model/macro.h"

namespace quillet::bench {

inline constexpr int kMacros = 10000;
inline constexpr int kItemsPerMacro = 50; // the start item included

inline MacroLibrary BuildBigLibrary() {
    const std::string hangul = Utf8ToCp949("안녕하세요 반갑습니다");
    MacroLibrary lib;
    lib.reserve(kMacros);
    for (int m = 0; m < kMacros; ++m) {
        Macro macro = MakeNewMacro("Macro " + std::to_string(m + 1));
        macro.items.reserve(kItemsPerMacro);
        for (int i = 1; i < kItemsPerMacro; ++i) {
            switch (i % 10) {
            case 0:
            case 1:
                macro.items.push_back(MakeKeyItem(0x41 + i % 26, ActionPress));
                break;
            case 2:
            case 3:
                macro.items.push_back(MakeKeyItem(0x41 + i % 26, ActionRelease));
                break;
            case 4:
                macro.items.push_back(MakeMouseItem(100 + i, 200 + m % 500, MouseMove | MouseAbsolute));
                break;
            case 5:
                macro.items.push_back(MakeMouseItem(0, 0, MouseLeftDown | MouseLeftUp));
                break;
            case 6:
            case 7:
                macro.items.push_back(MakeDelayItem(50 + i, DelayTime, i % 3));
                break;
            case 8:
                macro.items.push_back(MakeStringItem(i % 20 == 8 ? hangul : "user" + std::to_string(m) + "\r\n"));
                break;
            default:
                macro.items.push_back(MakeCallItem("Macro " + std::to_string((m + 1) % kMacros + 1), CallSequential));
                break;
            }
        }
        lib.push_back(std::move(macro));
    }
    return lib;
}

} // namespace quillet::bench
