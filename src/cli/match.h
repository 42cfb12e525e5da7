// quillet-cli match: where a template picture is found now, and how well, searched as the image condition searches
// it: the template read by the same picture reader and made grey the same way, normalised correlation-coefficient
// matching, the best place and its score, and whether the score reaches the threshold (percent, as the condition
// compares it). The search runs on the screen (the whole virtual screen, or an area grown to at least the template's
// size exactly as the condition grows its rectangle) or in a picture file.
//
// Exit codes: 0 the score reaches the threshold, 1 it does not, 2 bad arguments, a file that cannot be decoded, a
// screen that cannot be read, or an area too large to copy.
#pragma once

#include <iosfwd>
#include <optional>
#include <string>
#include <vector>

#include "platform/platform.h"

namespace quillet::cli {

struct MatchOptions {
    struct Area {
        int32_t x1 = 0, y1 = 0, x2 = 0, y2 = 0;
    };
    std::string templatePath;
    std::optional<std::string> picturePath; // --in
    std::optional<Area> area;               // --area
    int threshold = 95;                     // percent 1..100; the condition's default
    bool porcelain = false;
    bool help = false;
};

// The text of match --help.
std::string MatchHelp();

// args[0] is "match". Prints the problem and returns nothing on bad arguments.
std::optional<MatchOptions> ParseMatchOptions(const std::vector<std::string>& args, std::ostream& err);

// The search on a screen: the area of the options, or the whole virtual screen of io.
int MatchOnScreen(const MatchOptions& options, platform::InputOutput& io, platform::Screen& screen, std::ostream& out,
                  std::ostream& err);
// The search in the picture file of the options.
int MatchInPicture(const MatchOptions& options, std::ostream& out, std::ostream& err);

// quillet-cli match ...: in the picture, or on the screen of the system's backend.
int MatchCommand(const std::vector<std::string>& args, std::ostream& out, std::ostream& err);

} // namespace quillet::cli
