// The macro editor's mouse trail window on the offscreen platform: what it draws when the trail runs far off the
// screen, as moves to the mouse dialog's special positions and to the 16-bit extremes do.
#include <gtest/gtest.h>

#include <climits>

#include <QColor>
#include <QImage>

#include "editing/macro_editor.h"
#include "gui/editors/trail_overlay.h"
#include "gui/widgets/dialog_common.h"

namespace quillet::gui {
namespace {

using platform::ScreenPoint;
using platform::ScreenRect;

// Boxes as the editor makes them around a pressing mouse item.
ScreenRect PressBox(ScreenPoint p) {
    return {p.x - 4, p.y - 4, 8, 8};
}

QColor ColorAt(const CTrailOverlay& overlay, int x, int y) {
    return overlay.picture().pixelColor(QPoint(x, y) - overlay.origin());
}

// Far-off points cost no more than the screen: the picture lies inside it, and what lies on it is drawn as a
// drawing straight on the screen would draw it, cut at the screen's edges. A trail wholly off it shows nothing.
TEST(TrailOverlayTest, FarOffPointsAreCutToTheScreenAndCostNoMoreThanIt) {
    const QColor red(255, 0, 0), darkRed(128, 0, 0);
    CTrailOverlay overlay;
    const auto expectInside = [&](const ScreenRect& screen) {
        ASSERT_FALSE(overlay.picture().isNull());
        const QRect drawn(overlay.origin(), overlay.picture().size());
        EXPECT_TRUE(QRect(screen.left, screen.top, screen.width, screen.height).contains(drawn))
            << drawn.x() << "," << drawn.y() << " " << drawn.width() << "x" << drawn.height();
        EXPECT_LE(overlay.picture().sizeInBytes(), qsizetype{4} * screen.width * screen.height);
        EXPECT_LE(overlay.width(), screen.width);
        EXPECT_LE(overlay.height(), screen.height);
    };

    // From (100, 100) out to both special positions, back across the screen to (-32768, -32768), then a crossing
    // between the 16-bit extremes, and one from the lowest to the highest 32-bit value.
    const ScreenRect screen{0, 0, 1920, 1080};
    MouseTrail trail;
    trail.line = {{100, 100},      {40000, 40000},  {30000, 30000},     {-32768, -32768},
                  {-32768, 34268}, {34268, -32768}, {INT_MIN, INT_MIN}, {INT_MAX, INT_MAX}};
    trail.pressBoxes = {PressBox({100, 100}), PressBox({40000, 40000}), PressBox({-32768, -32768})};
    trail.selectedBoxes = {{INT_MAX - 8, INT_MAX - 8, 16, 16}, {INT_MIN, INT_MIN, 24, 24}};
    overlay.ShowTrail(trail, screen);
    expectInside(screen);
    EXPECT_TRUE(overlay.isVisible());
    EXPECT_EQ(ColorAt(overlay, 100, 100), darkRed);
    EXPECT_EQ(ColorAt(overlay, 1000, 1000), red); // on the way to (40000, 40000)
    EXPECT_EQ(ColorAt(overlay, 1070, 1070), red); // near the bottom edge, where the line leaves
    EXPECT_EQ(ColorAt(overlay, 1000, 500), red);  // on the crossing x + y = 1500
    EXPECT_EQ(ColorAt(overlay, 10, 10), red);     // from (30000, 30000) to (-32768, -32768)
    EXPECT_EQ(ColorAt(overlay, 1000, 300).alpha(), 0);
    EXPECT_TRUE(overlay.mask().contains(QPoint(1000, 1000) - overlay.origin()));
    EXPECT_FALSE(overlay.mask().contains(QPoint(1000, 300) - overlay.origin()));

    // A screen left of and above the primary one: negative device pixels.
    const ScreenRect wide{-1280, -200, 3200, 1280};
    trail = {};
    trail.line = {{-32768, 500}, {100, 500}, {100, -32768}};
    overlay.ShowTrail(trail, wide);
    expectInside(wide);
    EXPECT_EQ(overlay.origin(), QPoint(-1280, -200));
    EXPECT_EQ(ColorAt(overlay, -1000, 500), red);
    EXPECT_EQ(ColorAt(overlay, 100, -150), red);
    EXPECT_EQ(ColorAt(overlay, -1000, 400).alpha(), 0);

    // Wholly off the screen: far away, or passing its corner a few pixels outside it.
    for (const std::vector<ScreenPoint>& line :
         {std::vector<ScreenPoint>{{40000, 40000}, {30000, 30000}, {-32768, 32767}},
          std::vector<ScreenPoint>{{-100, 95}, {95, -100}}, std::vector<ScreenPoint>{{-50, -50}, {-50, -50}}}) {
        overlay.ShowTrail({line, {PressBox({40000, 40000})}, {}}, screen);
        EXPECT_FALSE(overlay.isVisible()) << line.front().x;
        EXPECT_TRUE(overlay.picture().isNull());
    }

    // Without a rectangle given, the screens Qt reports bound the picture (in device pixels).
    const ScreenRect all = CDialogCommon::VirtualScreen();
    ASSERT_GT(all.width, 0);
    const double scale = overlay.devicePixelRatioF();
    const ScreenRect device{static_cast<int32_t>(all.left * scale), static_cast<int32_t>(all.top * scale),
                            static_cast<int32_t>(all.width * scale), static_cast<int32_t>(all.height * scale)};
    overlay.ShowTrail({{{all.left + 10, all.top + 10}, {40000, 40000}}, {}, {}});
    expectInside(device);
    EXPECT_EQ(ColorAt(overlay, all.left + 20, all.top + 20), red);
}

} // namespace
} // namespace quillet::gui
