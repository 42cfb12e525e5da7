// Pixels and rectangles read from a window filled with known colours, through MIT-SHM and through XGetImage.
#include "platform/platform.h"

#include <gtest/gtest.h>

#include <memory>

#include "platform/x11/x11_platform.h"
#include "x11_test_support.h"

namespace quillet::platform::x11::test {
namespace {

// BGRA bytes of one pixel of a capture.
struct Bgra {
    uint8_t b, g, r, a;
    friend bool operator==(const Bgra&, const Bgra&) = default;
};
std::ostream& operator<<(std::ostream& os, const Bgra& p) {
    return os << "(" << int(p.b) << "," << int(p.g) << "," << int(p.r) << "," << int(p.a) << ")";
}
Bgra At(const BgraImage& image, int x, int y) {
    const uint8_t* p = image.row(y) + x * 4;
    return {p[0], p[1], p[2], p[3]};
}
constexpr Bgra kBlack{0, 0, 0, 0};
constexpr Bgra kBlue{255, 0, 0, 0};
constexpr Bgra kRed{0, 0, 255, 0};

class ScreenTest : public ::testing::TestWithParam<bool> {
protected:
    void SetUp() override {
        ASSERT_TRUE(XvfbRunning()) << XvfbError();
        client = std::make_unique<TestClient>();
        ASSERT_NE(client->dpy(), nullptr);
        client->Fill(0, 0, kScreenWidth, kScreenHeight, 0x000000);
        client->Fill(0, 0, 20, 20, 0x0000FF);                                  // blue, top-left corner
        client->Fill(100, 100, 50, 40, 0xFF0000);                              // red
        client->Fill(200, 150, 30, 30, 0x00FF00);                              // green
        client->Fill(kScreenWidth - 20, kScreenHeight - 20, 20, 20, 0x123456); // bottom-right corner
        X11Options options;
        options.display = XDisplayName();
        options.useShm = GetParam();
        std::string error;
        x = X11Platform::Open(options, error);
        ASSERT_TRUE(x) << error;
        ASSERT_EQ(x->usingShm(), GetParam());
    }
    std::unique_ptr<TestClient> client;
    std::unique_ptr<X11Platform> x;
};

TEST_P(ScreenTest, Pixels) {
    Screen& s = x->screen();
    EXPECT_EQ(s.Pixel(120, 120), 0x0000FFu); // red as 0x00BBGGRR
    EXPECT_EQ(s.Pixel(200, 150), 0x00FF00u);
    EXPECT_EQ(s.Pixel(0, 0), 0xFF0000u);
    EXPECT_EQ(s.Pixel(kScreenWidth - 1, kScreenHeight - 1), 0x563412u);
    EXPECT_EQ(s.Pixel(150, 140), 0u); // just outside the red rectangle
    EXPECT_EQ(s.Pixel(-1, 0), CLR_INVALID);
    EXPECT_EQ(s.Pixel(0, -1), CLR_INVALID);
    EXPECT_EQ(s.Pixel(kScreenWidth, 5), CLR_INVALID);
    EXPECT_EQ(s.Pixel(5, kScreenHeight), CLR_INVALID);
    EXPECT_EQ(s.Pixel(INT32_MIN, INT32_MAX), CLR_INVALID);
}

TEST_P(ScreenTest, RectangleInsideTheScreen) {
    BgraImage image;
    ASSERT_TRUE(x->screen().Capture({90, 95, 70, 50}, image));
    ASSERT_EQ(image.width, 70);
    ASSERT_EQ(image.height, 50);
    ASSERT_EQ(image.pixels.size(), 70u * 50u * 4u);
    EXPECT_EQ(At(image, 9, 4), kBlack);
    EXPECT_EQ(At(image, 10, 5), kRed);  // (100, 100)
    EXPECT_EQ(At(image, 59, 44), kRed); // (149, 139)
    EXPECT_EQ(At(image, 60, 45), kBlack);
}

TEST_P(ScreenTest, RectanglesPartlyOffTheScreenAreBlackOutside) {
    BgraImage image;
    ASSERT_TRUE(x->screen().Capture({-10, -5, 40, 40}, image));
    EXPECT_EQ(At(image, 0, 0), kBlack);
    EXPECT_EQ(At(image, 9, 20), kBlack);
    EXPECT_EQ(At(image, 10, 5), kBlue);  // screen (0, 0)
    EXPECT_EQ(At(image, 29, 24), kBlue); // screen (19, 19)
    EXPECT_EQ(At(image, 30, 25), kBlack);

    ASSERT_TRUE(x->screen().Capture({kScreenWidth - 5, kScreenHeight - 5, 30, 10}, image));
    EXPECT_EQ(At(image, 0, 0), (Bgra{0x56, 0x34, 0x12, 0}));
    EXPECT_EQ(At(image, 4, 4), (Bgra{0x56, 0x34, 0x12, 0}));
    EXPECT_EQ(At(image, 5, 4), kBlack);
    EXPECT_EQ(At(image, 4, 5), kBlack);
    EXPECT_EQ(At(image, 29, 9), kBlack);

    // Entirely off the screen: all black.
    ASSERT_TRUE(x->screen().Capture({-100, -100, 50, 50}, image));
    EXPECT_EQ(image.pixels, std::vector<uint8_t>(50 * 50 * 4, 0));
}

TEST_P(ScreenTest, RepeatedCapturesSeeNewContent) {
    BgraImage image;
    ASSERT_TRUE(x->screen().Capture({0, 0, 64, 64}, image));
    EXPECT_EQ(At(image, 30, 30), kBlack);
    client->Fill(0, 0, 64, 64, 0xFF0000);
    ASSERT_TRUE(x->screen().Capture({0, 0, 64, 64}, image));
    EXPECT_EQ(At(image, 30, 30), kRed);
    ASSERT_TRUE(x->screen().Capture({0, 0, 32, 16}, image)); // another size
    EXPECT_EQ(image.pixels.size(), 32u * 16u * 4u);
    EXPECT_EQ(At(image, 31, 15), kRed);
}

TEST_P(ScreenTest, UnusableRectanglesAreRefused) {
    BgraImage image;
    EXPECT_FALSE(x->screen().Capture({0, 0, 0, 10}, image));
    EXPECT_FALSE(x->screen().Capture({0, 0, 10, -1}, image));
    EXPECT_FALSE(x->screen().Capture({0, 0, 100000, 100000}, image)); // no unbounded allocation
    // Far outside, without overflow: black.
    ASSERT_TRUE(x->screen().Capture({INT32_MAX, INT32_MIN, 10, 10}, image));
    EXPECT_EQ(image.pixels, std::vector<uint8_t>(10 * 10 * 4, 0));
}

TEST_P(ScreenTest, ChangeStampsMoveOnlyForRectanglesSomethingWasDrawnIn) {
    Screen& s = x->screen();
    const ScreenRect left{0, 300, 200, 200}, right{600, 300, 200, 200}, across{40, 380, 600, 40};
    const std::optional<uint64_t> l0 = s.ChangeStamp(left), r0 = s.ChangeStamp(right), a0 = s.ChangeStamp(across);
    ASSERT_TRUE(l0 && r0 && a0) << "the server has the Damage extension";
    // Nothing drawn: the same stamps, however often asked.
    EXPECT_EQ(s.ChangeStamp(left), l0);
    EXPECT_EQ(s.ChangeStamp(left), l0);
    // Drawing inside the left rectangle moves its stamp and that of a rectangle across it, not the right one's.
    client->Fill(50, 400, 10, 10, 0x336699);
    const std::optional<uint64_t> l1 = s.ChangeStamp(left);
    EXPECT_NE(l1, l0);
    EXPECT_EQ(s.ChangeStamp(right), r0);
    EXPECT_NE(s.ChangeStamp(across), a0);
    EXPECT_EQ(s.ChangeStamp(left), l1);
    // A change right after a stamp shows at the next one: nothing is lost between the two.
    client->Fill(700, 400, 1, 1, 0x010203);
    EXPECT_NE(s.ChangeStamp(right), r0);
}

INSTANTIATE_TEST_SUITE_P(Paths, ScreenTest, ::testing::Values(true, false),
                         [](const ::testing::TestParamInfo<bool>& info) { return info.param ? "Shm" : "GetImage"; });

} // namespace
} // namespace quillet::platform::x11::test
