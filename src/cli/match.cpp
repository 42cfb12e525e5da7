#include "cli/match.h"

#include <algorithm>
#include <charconv>
#include <memory>
#include <ostream>

#include <opencv2/imgproc.hpp>

#include "imagefile/image_file.h"
#include "imagefile/image_mat.h"
#include "model/decimal.h"
#include "model/macro.h"
#include "platform/system_platform.h"
#include "triggers/image_trigger.h"

namespace quillet::cli {

namespace {

constexpr int kExitFound = 0;
constexpr int kExitNotFound = 1;
constexpr int kExitFailure = 2;

const char* const kMatchUsage =
    "usage: quillet-cli match TEMPLATE [--in PICTURE | --area X1,Y1,X2,Y2] [--threshold N] [--porcelain]\n";

bool ParseInt(const std::string& text, int32_t& value) {
    const char* end = text.data() + text.size();
    const auto [ptr, ec] = std::from_chars(text.data(), end, value);
    return ec == std::errc() && ptr == end;
}

std::optional<MatchOptions::Area> ParseArea(const std::string& text) {
    MatchOptions::Area a;
    int32_t* fields[] = {&a.x1, &a.y1, &a.x2, &a.y2};
    std::size_t start = 0;
    for (std::size_t i = 0; i < 4; ++i) {
        const std::size_t comma = i < 3 ? text.find(',', start) : text.size();
        if (comma == std::string::npos || !ParseInt(text.substr(start, comma - start), *fields[i])) return std::nullopt;
        start = comma + 1;
    }
    return a;
}

// The best place of the grey template in the grey picture, as the image condition finds it.
struct Best {
    double score = 0.0;
    cv::Point at; // top-left corner in the searched picture
};

Best Search(const cv::Mat& grey, const cv::Mat& templ) {
    cv::Mat map;
    Best best;
    best.score = MatchGrey(grey, templ, map, best.at);
    return best;
}

// The template, grey, as the condition reads it; nothing (and the problem on err) when it cannot be decoded.
bool ReadTemplate(const std::string& path, cv::Mat& grey, std::ostream& err) {
    std::string problem;
    if (ReadTemplateGrey(path, grey, &problem)) return true;
    err << "quillet-cli: " << problem << "\n";
    return false;
}

int Report(const MatchOptions& o, const Best& best, int32_t originX, int32_t originY, const cv::Size& templ,
           std::ostream& out) {
    const int32_t x = originX + best.at.x, y = originY + best.at.y;
    const bool found = ImageMatchReaches(best.score, o.threshold);
    if (o.porcelain) {
        out << x << " " << y << " " << FormatFixed(best.score, 6) << "\n";
    } else {
        out << (found ? "found" : "not found") << ": best match at (" << x << ", " << y << "), centre ("
            << x + templ.width / 2 << ", " << y + templ.height / 2 << "), score " << FormatFixed(best.score, 6) << " ("
            << FormatFixed(best.score * 100.0, 1) << "%), " << (found ? "reaches" : "below") << " the threshold of "
            << o.threshold << "%\n";
    }
    return found ? kExitFound : kExitNotFound;
}

} // namespace

std::string MatchHelp() {
    return std::string(kMatchUsage) +
           "Searches for the TEMPLATE picture (PNG, JPEG, BMP or GIF) as the image condition does: in grey, by\n"
           "normalised correlation-coefficient matching, and prints the best place (its top-left corner) and score.\n"
           "  --in PICTURE       search in a picture file (coordinates in the picture)\n"
           "  --area X1,Y1,X2,Y2 search that screen area; like the condition's, it is grown to at least the\n"
           "                     template's size from X1,Y1 (default: the whole virtual screen)\n"
           "  --threshold N      the score in percent that counts as found, 1..100 (default 95)\n"
           "  --porcelain        print only \"X Y SCORE\" (SCORE from -1 to 1, six decimals)\n"
           "Exit 0 when the score reaches the threshold, 1 when it does not, 2 on errors.\n";
}

std::optional<MatchOptions> ParseMatchOptions(const std::vector<std::string>& args, std::ostream& err) {
    MatchOptions o;
    o.threshold = Macro{}.imageOptions & ImageThresholdMask;
    const auto fail = [&](const std::string& problem) {
        err << "quillet-cli match: " << problem << "\n" << kMatchUsage;
        return std::nullopt;
    };
    for (std::size_t i = 1; i < args.size(); ++i) {
        const std::string& a = args[i];
        const bool hasValue = i + 1 < args.size();
        if (a == "--help" || a == "-h") {
            o.help = true;
            return o;
        }
        if (a == "--porcelain") {
            o.porcelain = true;
        } else if (a == "--in") {
            if (!hasValue) return fail("--in needs a picture file");
            o.picturePath = args[++i];
        } else if (a == "--area") {
            if (!hasValue) return fail("--area needs X1,Y1,X2,Y2");
            o.area = ParseArea(args[++i]);
            if (!o.area) return fail("--area needs four whole numbers X1,Y1,X2,Y2, not '" + args[i] + "'");
        } else if (a == "--threshold") {
            int32_t n = 0;
            if (!hasValue || !ParseInt(args[i + 1], n) || n < 1 || n > 100)
                return fail("--threshold needs a whole number from 1 to 100");
            o.threshold = n;
            ++i;
        } else if (a.size() > 1 && a[0] == '-') {
            return fail("unknown option '" + a + "'");
        } else if (o.templatePath.empty()) {
            o.templatePath = a;
        } else {
            return fail("one template only ('" + a + "' is one too many)");
        }
    }
    if (o.templatePath.empty()) return fail("no template picture given");
    if (o.picturePath && o.area) return fail("--in and --area cannot be used together");
    return o;
}

int MatchInPicture(const MatchOptions& o, std::ostream& out, std::ostream& err) {
    cv::Mat templ;
    if (!ReadTemplate(o.templatePath, templ, err)) return kExitFailure;
    const ImageDecodeResult picture = DecodeImageFile(*o.picturePath);
    if (!picture.ok()) {
        err << "quillet-cli: " << picture.problem << "\n";
        return kExitFailure;
    }
    const BgrPicture& p = picture.image.picture;
    if (templ.cols > p.width || templ.rows > p.height) {
        err << "quillet-cli: the template (" << templ.cols << " x " << templ.rows << ") is larger than the picture ("
            << p.width << " x " << p.height << ")\n";
        return kExitFailure;
    }
    cv::Mat grey;
    cv::cvtColor(BgrMatView(p), grey, cv::COLOR_BGR2GRAY);
    return Report(o, Search(grey, templ), 0, 0, templ.size(), out);
}

int MatchOnScreen(const MatchOptions& o, platform::InputOutput& io, platform::Screen& screen, std::ostream& out,
                  std::ostream& err) {
    cv::Mat templ;
    if (!ReadTemplate(o.templatePath, templ, err)) return kExitFailure;
    MatchOptions::Area a;
    if (o.area) {
        a = *o.area;
    } else {
        const platform::ScreenRect v = io.VirtualScreen();
        a = {v.left, v.top, v.left + v.width, v.top + v.height};
    }
    // The condition's rectangle: from the start corner, never smaller than the template.
    const std::optional<platform::ScreenRect> search = ImageSearchRect(a.x1, a.y1, a.x2, a.y2, templ.cols, templ.rows);
    if (!search) {
        err << "quillet-cli: the area (" << a.x1 << "," << a.y1 << " to " << a.x2 << "," << a.y2
            << ") is too large to search\n";
        return kExitFailure;
    }
    const platform::ScreenRect rect = *search;
    const int64_t w = rect.width, h = rect.height;
    platform::BgraImage capture;
    if (!screen.Capture(rect, capture) || capture.width != rect.width || capture.height != rect.height ||
        capture.pixels.size() < static_cast<std::size_t>(w * h * 4)) {
        err << "quillet-cli: the screen cannot be read\n";
        return kExitFailure;
    }
    const cv::Mat bgra(capture.height, capture.width, CV_8UC4, capture.pixels.data());
    cv::Mat grey;
    cv::cvtColor(bgra, grey, cv::COLOR_BGRA2GRAY);
    return Report(o, Search(grey, templ), rect.left, rect.top, templ.size(), out);
}

int MatchCommand(const std::vector<std::string>& args, std::ostream& out, std::ostream& err) {
    const std::optional<MatchOptions> o = ParseMatchOptions(args, err);
    if (!o) return kExitFailure;
    if (o->help) {
        out << MatchHelp();
        return kExitFound;
    }
    if (o->picturePath) return MatchInPicture(*o, out, err);
    std::string error, warning;
    const std::unique_ptr<platform::SystemPlatform> system = platform::OpenSystemPlatform(error, warning);
    if (!system) {
        err << "quillet-cli: " << error << "\n";
        return kExitFailure;
    }
    if (!warning.empty() && !o->porcelain) err << "quillet-cli: " << warning << "\n";
    platform::Platform p = system->platform();
    return MatchOnScreen(*o, p.io, p.screen, out, err);
}

} // namespace quillet::cli
