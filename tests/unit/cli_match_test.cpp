// quillet-cli match: in picture files through the command line, and on the fake platform's screen.
#ifdef QUILLET_MATCH

#include "cli/match.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <random>
#include <sstream>

#include "cli_folder.h"
#include "model/decimal.h"
#include "platform/fake/fake_platform.h"

namespace quillet {
namespace {

// 0x00BBGGRR pixels, row by row.
struct Picture {
    int width = 0, height = 0;
    std::vector<uint32_t> px;
    uint32_t& at(int x, int y) { return px[static_cast<std::size_t>(y) * width + x]; }
};

Picture Noise(int w, int h, uint32_t seed) {
    std::mt19937 random(seed);
    Picture p{w, h, std::vector<uint32_t>(static_cast<std::size_t>(w) * h)};
    for (uint32_t& c : p.px) c = random() & 0xFFFFFF;
    return p;
}

void Paste(Picture& into, const Picture& what, int x0, int y0) {
    for (int y = 0; y < what.height; ++y)
        for (int x = 0; x < what.width; ++x) into.at(x0 + x, y0 + y) = what.px[static_cast<std::size_t>(y) * what.width + x];
}

// A 24-bit bottom-up BMP.
std::string Bmp(const Picture& p) {
    const std::size_t row = (static_cast<std::size_t>(p.width) * 3 + 3) / 4 * 4;
    std::string s = "BM";
    auto put32 = [&](uint32_t v) {
        for (int i = 0; i < 4; ++i) s.push_back(static_cast<char>((v >> (8 * i)) & 0xFF));
    };
    put32(static_cast<uint32_t>(54 + row * p.height)), put32(0), put32(54), put32(40);
    put32(static_cast<uint32_t>(p.width)), put32(static_cast<uint32_t>(p.height));
    s += std::string("\x01\0\x18\0", 4);
    for (int i = 0; i < 6; ++i) put32(0);
    for (int y = p.height - 1; y >= 0; --y) {
        std::string r(row, '\0');
        for (int x = 0; x < p.width; ++x) {
            const uint32_t c = p.px[static_cast<std::size_t>(y) * p.width + x];
            r[x * 3] = static_cast<char>((c >> 16) & 0xFF), r[x * 3 + 1] = static_cast<char>((c >> 8) & 0xFF),
                  r[x * 3 + 2] = static_cast<char>(c & 0xFF);
        }
        s += r;
    }
    return s;
}

class CliMatchTest : public CliFolder {
protected:
    void SetUp() override {
        CliFolder::SetUp();
        templ_ = Noise(9, 7, 1);
        Picture picture = Noise(60, 40, 2);
        Paste(picture, templ_, 23, 11);
        Write("template.bmp", Bmp(templ_));
        Write("picture.bmp", Bmp(picture));
    }
    Picture templ_;
};

TEST_F(CliMatchTest, FindsTheTemplateInAPictureAndSaysWhereAndHowWell) {
    EXPECT_EQ(Run({"match", "template.bmp", "--in", "picture.bmp", "--porcelain"}), 0) << err_.str();
    int x = -1, y = -1;
    std::string score;
    std::istringstream(out_.str()) >> x >> y >> score;
    EXPECT_EQ(x, 23);
    EXPECT_EQ(y, 11);
    EXPECT_NEAR(ParseDecimal(score), 1.0, 1e-5);
    EXPECT_EQ(score.size(), 8u) << score; // six decimals
    const std::string text = out_.str();
    EXPECT_EQ(std::count(text.begin(), text.end(), '\n'), 1);

    EXPECT_EQ(Run({"match", "template.bmp", "--in", "picture.bmp"}), 0);
    EXPECT_EQ(out_.str().rfind("found: best match at (23, 11), centre (27, 14), score ", 0), 0u) << out_.str();
    EXPECT_NE(out_.str().find("reaches the threshold of 95%"), std::string::npos) << out_.str();
}

// The threshold decides the exit code exactly where the score crosses it, as the condition compares them.
TEST_F(CliMatchTest, TheThresholdDecidesFoundOrNot) {
    // A damaged copy: a few pixels of the template changed, so its score falls well below 1.
    Picture changed = templ_;
    for (int i = 0; i < 6; ++i) changed.px[static_cast<std::size_t>(i) * 10] ^= 0x808080;
    Picture picture = Noise(60, 40, 3);
    Paste(picture, changed, 5, 30);
    Write("damaged.bmp", Bmp(picture));
    ASSERT_EQ(Run({"match", "template.bmp", "--in", "damaged.bmp", "--porcelain", "--threshold", "100"}), 1);
    std::istringstream line(out_.str());
    int x = 0, y = 0;
    std::string score;
    line >> x >> y >> score;
    EXPECT_EQ(x, 5);
    EXPECT_EQ(y, 30);
    const double percent = ParseDecimal(score) * 100.0;
    ASSERT_GT(percent, 20.0);
    ASSERT_LT(percent, 95.0);
    const int below = static_cast<int>(std::floor(percent));
    EXPECT_EQ(Run({"match", "template.bmp", "--in", "damaged.bmp", "--threshold", std::to_string(below)}), 0);
    EXPECT_EQ(Run({"match", "template.bmp", "--in", "damaged.bmp", "--threshold", std::to_string(below + 1)}), 1);
    EXPECT_EQ(out_.str().rfind("not found: best match at (5, 30)", 0), 0u) << out_.str();
    // The default is the condition's 95%.
    EXPECT_EQ(Run({"match", "template.bmp", "--in", "damaged.bmp"}), 1);
    EXPECT_NE(out_.str().find("below the threshold of 95%"), std::string::npos) << out_.str();
}

TEST_F(CliMatchTest, BadArgumentsAndUnreadableFilesExitWithTwo) {
    Write("broken.png", "\x89PNG\r\n\x1a\n and nothing else");
    const std::vector<std::pair<std::vector<std::string>, std::string>> cases = {
        {{"match"}, "no template picture given"},
        {{"match", "template.bmp", "--threshold", "0"}, "from 1 to 100"},
        {{"match", "template.bmp", "--threshold", "101"}, "from 1 to 100"},
        {{"match", "template.bmp", "--threshold", "9x"}, "from 1 to 100"},
        {{"match", "template.bmp", "--area", "1,2,3"}, "four whole numbers"},
        {{"match", "template.bmp", "--area", "1,2,3,4", "--in", "picture.bmp"}, "cannot be used together"},
        {{"match", "template.bmp", "--frobnicate"}, "unknown option"},
        {{"match", "a.bmp", "b.bmp"}, "one template only"},
        {{"match", "missing.bmp", "--in", "picture.bmp"}, "cannot decode missing.bmp: the file cannot be opened"},
        {{"match", "broken.png", "--in", "picture.bmp"}, "cannot decode broken.png: PNG"},
        {{"match", "template.bmp", "--in", "broken.png"}, "cannot decode broken.png"},
        {{"match", "picture.bmp", "--in", "template.bmp"}, "is larger than the picture"},
    };
    for (const auto& [args, expected] : cases) {
        SCOPED_TRACE(args.back());
        EXPECT_EQ(Run(args), 2);
        EXPECT_NE(err_.str().find(expected), std::string::npos) << err_.str();
        EXPECT_EQ(out_.str(), "");
    }
    EXPECT_EQ(Run({"match", "--help"}), 0);
    EXPECT_EQ(out_.str().rfind("usage: quillet-cli match TEMPLATE", 0), 0u);
}

// On the screen: the whole virtual screen (here one that starts left of the primary monitor) in screen
// coordinates, or an area, grown to the template's size from its start corner as the condition grows it.
TEST_F(CliMatchTest, SearchesTheVirtualScreenOrAnArea) {
    platform::FakePlatform fake;
    fake.SetVirtualScreen({-300, -20, 500, 200});
    for (int y = 0; y < 200; ++y)
        for (int x = 0; x < 500; ++x) fake.SetPixel(-300 + x, -20 + y, ((x * 7) ^ (y * 13)) * 0x010203 & 0xFFFFFF);
    for (int y = 0; y < templ_.height; ++y)
        for (int x = 0; x < templ_.width; ++x) fake.SetPixel(-250 + x, 40 + y, templ_.at(x, y));

    cli::MatchOptions o;
    o.templatePath = "template.bmp";
    o.porcelain = true;
    std::ostringstream out, err;
    EXPECT_EQ(cli::MatchOnScreen(o, fake, fake, out, err), 0) << err.str();
    std::istringstream line(out.str());
    int x = 0, y = 0;
    double score = 0;
    line >> x >> y >> score;
    EXPECT_EQ(x, -250);
    EXPECT_EQ(y, 40);
    EXPECT_GT(score, 0.9999);

    // An area whose end is its start is the template's size there: exactly on the picture.
    o.area = cli::MatchOptions::Area{-250, 40, -250, 40};
    out.str("");
    EXPECT_EQ(cli::MatchOnScreen(o, fake, fake, out, err), 0);
    EXPECT_EQ(out.str().substr(0, 8), "-250 40 ");
    // One pixel off: no longer found.
    o.area = cli::MatchOptions::Area{-249, 40, -260, 30};
    out.str("");
    EXPECT_EQ(cli::MatchOnScreen(o, fake, fake, out, err), 1);
    EXPECT_EQ(out.str().substr(0, 8), "-249 40 ");

    fake.SetCaptureFails(true);
    o.area.reset();
    err.str("");
    EXPECT_EQ(cli::MatchOnScreen(o, fake, fake, out, err), 2);
    EXPECT_NE(err.str().find("the screen cannot be read"), std::string::npos);
}

} // namespace
} // namespace quillet

#endif
