// The colour swatches of the delay dialog and of the colour page of the condition dialog, drawn on the offscreen
// platform: a one-pixel black frame with the colour inside it.
#include <gtest/gtest.h>

#include <QCoreApplication>
#include <QImage>
#include <QLineEdit>

#include "editing/condition_dialog.h"
#include "engine/mm_timer.h"
#include "gui/editors/condition_dialog.h"
#include "gui/editors/delay_dialog.h"
#include "gui/mainwindow/qt_event_loop.h"
#include "gui/text.h"
#include "gui/widgets/control_id.h"
#include "model/macro.h"
#include "model/settings.h"
#include "platform/fake/fake_platform.h"
#include "session/session.h"
#include "test_folder.h"

namespace quillet::gui {
namespace {

// Every pixel of the swatch's edge is black and every pixel inside it is the colour, whatever its size.
void ExpectFramedSwatch(CColorSwatch* swatch, uint32_t bbggrr) {
    ASSERT_NE(swatch, nullptr);
    const QImage image = swatch->grab().toImage();
    const int w = image.width(), h = image.height();
    ASSERT_GE(w, 3);
    ASSERT_GE(h, 3);
    int wrongFrame = 0, wrongInside = 0;
    for (int y = 0; y < h; ++y)
        for (int x = 0; x < w; ++x) {
            const bool edge = x == 0 || y == 0 || x == w - 1 || y == h - 1;
            const uint32_t c = ColorRefFromColor(image.pixelColor(x, y));
            if (edge && c != 0) ++wrongFrame;
            if (!edge && c != bbggrr) ++wrongInside;
        }
    EXPECT_EQ(wrongFrame, 0) << "swatch " << swatch->objectName().toStdString() << " " << w << "x" << h;
    EXPECT_EQ(wrongInside, 0) << "swatch " << swatch->objectName().toStdString() << " " << w << "x" << h;
    EXPECT_EQ(ColorRefFromColor(image.pixelColor(w - 1, h - 1)), 0u); // the fill stops short of the far corner
    EXPECT_EQ(ColorRefFromColor(image.pixelColor(w - 2, h - 2)), bbggrr);
}

class ColorSwatchTest : public testing::Test {
protected:
    ColorSwatchTest()
        : settings((folder.path() / "Quillet.ini").string(), false), session(fake.platform(), settings, counter, loop) {
    }

    test::TestFolder folder;
    platform::FakePlatform fake;
    CAppIni settings;
    TimerCounter counter;
    QtEventLoop loop;
    Session session;
};

TEST_F(ColorSwatchTest, EverySwatchIsTheColourInsideAOnePixelBlackFrame) {
    // The delay dialog's swatch (1122), white as a new colour wait starts and after the colour fields change.
    MacroItem item = MakeDelayItem(1500, DelayTime, 3);
    ItemDialogMemory memory;
    CDialogDelay delay(item, memory, settings, session);
    delay.show();
    QCoreApplication::processEvents();
    ASSERT_EQ(delay.swatch(), FindControl<CColorSwatch>(&delay, CDialogDelay::IdSwatch));
    ExpectFramedSwatch(delay.swatch(), 0xFFFFFFu);
    FindControl<QLineEdit>(&delay, CDialogDelay::IdRed)->setText(QStringLiteral("18"));
    FindControl<QLineEdit>(&delay, CDialogDelay::IdGreen)->setText(QStringLiteral("52"));
    FindControl<QLineEdit>(&delay, CDialogDelay::IdBlue)->setText(QStringLiteral("86"));
    ExpectFramedSwatch(delay.swatch(), 0x563412u);
    delay.reject();

    // The start (1098) and stop (1099) swatches of the colour page.
    Macro macro = MakeNewMacro("colours");
    macro.flags |= FlagStartColor | FlagStopColor;
    macro.startColor = 0x332211;
    macro.stopColor = 0xFFEEDD;
    ConditionDialogModel model(macro, settings);
    CDialogMacroStartColor page(model);
    page.show();
    QCoreApplication::processEvents();
    ASSERT_EQ(page.swatch(true), FindControl<CColorSwatch>(&page, CDialogMacroStartColor::IdStartSwatch));
    ASSERT_EQ(page.swatch(false), FindControl<CColorSwatch>(&page, CDialogMacroStartColor::IdStopSwatch));
    ExpectFramedSwatch(page.swatch(true), 0x332211u);
    ExpectFramedSwatch(page.swatch(false), 0xFFEEDDu);
}

} // namespace
} // namespace quillet::gui
