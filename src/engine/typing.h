// Typing text as key presses: ASCII as US-layout keys with the input method in English, Hangul syllables as the
// jamo keys of the chosen Korean layout with the input method in Hangul.
#pragma once

#include <cstdint>
#include <string_view>

#include "engine/input_synth.h"
#include "engine/random.h"
#include "model/macro.h"

namespace quillet {

enum HangulKeyboard { Hangul2Set = 0, Hangul3Set390 = 1, Hangul3SetFinal = 2 };

class Typist {
public:
    Typist(InputSynth& synth, RandomSource& random) : synth_(synth), random_(random) {}

    // One single-byte character (also used for the loop counter output). A line feed types Enter.
    void TypeChar(uint8_t c);
    // One two-byte CP949 character; Hangul syllables are typed as jamo keys of the layout.
    void TypeHangulSyllable(uint8_t lead, uint8_t trail, int hangulKeyboard);
    // One entry of a layout table ("#R", "KK", ...).
    void TypeKeySequence(std::string_view sequence);
    // Types the decimal form of n with TypeChar.
    void TypeNumber(int32_t n);

    // One scheduler step of a string item: types one source character (or finishes). Returns true when finished.
    bool StepString(const MacroItem& item, int32_t& itemProgress, int32_t& sequenceNumber, int hangulKeyboard);

private:
    InputSynth& synth_;
    RandomSource& random_;
};

} // namespace quillet
