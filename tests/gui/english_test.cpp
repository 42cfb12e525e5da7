// The editors in English: the macro editor, every item dialog and every page of the start/stop condition dialog
// show no Hangul in any text a person sees or a screen reader reads, and no caption is cut short by its layout
// (English captions run longer than the Korean ones the layouts were first made for).
#include <gtest/gtest.h>

#include <QAbstractButton>
#include <QCheckBox>
#include <QCoreApplication>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>

#include "gui/editors/condition_dialog.h"
#include "gui/editors/delay_dialog.h"
#include "gui/editors/key_mouse_dialogs.h"
#include "gui/editors/macro_edit.h"
#include "gui/editors/small_item_dialogs.h"
#include "gui/mainwindow/qt_event_loop.h"
#include "gui/message_box.h"
#include "gui/text.h"
#include "gui/widgets/list_box_ex.h"
#include "gui/widgets/tab_dialog.h"
#include "model/texts.h"
#include "platform/fake/fake_platform.h"

#include "no_hangul.h"
#include "test_folder.h"

namespace quillet::gui {
namespace {

constexpr uint8_t VK_A = 0x41, VK_F8 = 0x77, VK_F9 = 0x78, VK_F10 = 0x79;

QString Describe(const QWidget* w) {
    return QString::fromLatin1(w->metaObject()->className()) + QLatin1Char('#') + w->objectName();
}

// The shown captions that their layout gives less room than they need: a one-line label or button narrower than
// its text, a wrapping label lower than its lines.
QStringList ClippedIn(QWidget* window) {
    QStringList found;
    for (QWidget* w : window->findChildren<QWidget*>()) {
        if (!w->isVisibleTo(window)) continue;
        QString text;
        if (auto* label = qobject_cast<QLabel*>(w)) text = label->text();
        if (auto* button = qobject_cast<QAbstractButton*>(w)) text = button->text();
        if (text.isEmpty()) continue;
        const auto* label = qobject_cast<QLabel*>(w);
        bool short_ = false;
        if (label && label->wordWrap())
            short_ = w->height() < w->heightForWidth(w->width());
        else if (qobject_cast<QPushButton*>(w))
            // A push button's own hint adds a wide margin; its text only has to fit inside the frame.
            short_ = w->width() < w->fontMetrics().horizontalAdvance(text) + 8;
        else
            short_ = w->width() < w->minimumSizeHint().width();
        if (short_)
            found << Describe(w) + QStringLiteral(" %1x%2: ").arg(w->width()).arg(w->height()) + text;
    }
    return found;
}

std::string Lines(const QStringList& list) {
    return list.join(QLatin1Char('\n')).toStdString();
}

// Lays the window out at the size it opens with.
void Lay(QWidget& window) {
    window.show();
    QCoreApplication::processEvents();
}

class EnglishEditorsTest : public testing::Test {
protected:
    EnglishEditorsTest()
        : hooks({[this](const MessageBoxRequest& r) {
                     messages.push_back(r.text);
                     return QMessageBox::Ok;
                 },
                 {},
                 {}}),
          settings((folder.path() / "Quillet.ini").string(), false), session(fake.platform(), settings, counter, loop) {
        SetLanguage(Language::English);
        EXPECT_TRUE(session.StartInputMonitoring());
        settings.macroOptions &= ~OptionHideEditorTest; // the test group shown
        settings.keyMousePosCapture = VK_F10;
        settings.keyMacroColorStart = VK_F9;
        settings.keyMacroColorStop = VK_F8;
        session.library() = {MakeNewMacro("Login"), MakeNewMacro("Farm loop"), MakeNewMacro("Own")};
    }
    ~EnglishEditorsTest() override { SetLanguage(Language::Korean); }

    // The window's Hangul and cut captions, both expected to be none.
    static void ExpectEnglishAndUncut(QWidget& window, const char* what) {
        Lay(window);
        EXPECT_EQ(test::HangulReport(&window), "") << what;
        EXPECT_EQ(Lines(ClippedIn(&window)), "") << what;
    }

    test::TestFolder folder;
    std::vector<QString> messages;
    ScopedDialogHooks hooks;
    platform::FakePlatform fake;
    CAppIni settings;
    TimerCounter counter;
    QtEventLoop loop;
    Session session;
    EditingContext editing;
};

// One macro with an item of every kind, as its list shows them.
Macro EveryKindOfItem() {
    Macro m = MakeNewMacro("Everything");
    m.items.push_back(MakeKeyItem(VK_A, ActionPress | ActionRelease));
    m.items.push_back(MakeKeyItem(VK_A, ActionPress));
    m.items.push_back(MakeMouseItem(100, 200, MouseMove | MouseAbsolute | MouseLeftDown | MouseLeftUp));
    m.items.push_back(MakeMouseItem(-5, 7, MouseMove | MouseWheel));
    m.items.push_back(MakeDelayItem(1500, DelayTime, 30));
    m.items.push_back(MakeDelayItem(0, DelayClock));
    m.items.push_back(MakeDelayItem(VK_A, DelayKey));
    m.items.push_back(MakeDelayItem(0x0000FF, DelayColor));
    m.items.push_back(MakeStringItem("hello"));
    m.items.push_back(MakeCallItem("Login", CallSequential));
    m.items.push_back(MakeCallItem("Farm loop", CallParallel));
    m.items.push_back(MakeCallItem("Farm loop", CallStop));
    m.items.push_back(MakeExclusiveItem(true));
    m.items.push_back(MakeExclusiveItem(false));
    m.items.push_back(MakeLoopItem(LoopEnter, 1, 1, 5));
    m.items.push_back(MakeLoopItem(LoopLeave));
    return m;
}

TEST_F(EnglishEditorsTest, TheMacroEditorWithItsTestGroupAndItsListIsEnglish) {
    Macro working = EveryKindOfItem();
    CDialogMacroEdit editor(session, editing, working, 0);
    ExpectEnglishAndUncut(editor, "macro editor");
    EXPECT_EQ(FindControl<QPushButton>(&editor, CDialogMacroEdit::IdAddKey)->text(), "Add Key");
    EXPECT_TRUE(FindControl<QWidget>(&editor, CDialogMacroEdit::IdTestStart)->isVisible());
    EXPECT_GT(editor.itemList()->count(), 16); // the rows were there to be read

    // A refused OK speaks English too.
    FindControl<QLineEdit>(&editor, CDialogMacroEdit::IdName)->clear();
    editor.accept();
    ASSERT_EQ(messages.size(), 1u);
    EXPECT_FALSE(test::HasHangul(messages[0])) << messages[0].toStdString();
}

TEST_F(EnglishEditorsTest, EveryItemDialogIsEnglishNewAndOpenedOnAnItem) {
    ItemDialogMemory& memory = editing.itemMemory;
    {
        MacroItem blank;
        CDialogKeyboard fresh(blank, memory, settings, session);
        ExpectEnglishAndUncut(fresh, "new key");
        MacroItem key = MakeKeyItem(VK_A, ActionPress);
        CDialogKeyboard dialog(key, memory, settings, session);
        ExpectEnglishAndUncut(dialog, "key");
    }
    {
        MacroItem blank;
        CDialogMouse fresh(blank, memory, settings, session);
        ExpectEnglishAndUncut(fresh, "new mouse");
        for (int32_t flags : {MouseMove | MouseAbsolute | MouseLeftDown, MouseMove | MouseWheel}) {
            MacroItem mouse = MakeMouseItem(10, 20, flags);
            CDialogMouse dialog(mouse, memory, settings, session);
            ExpectEnglishAndUncut(dialog, "mouse");
        }
    }
    {
        MacroItem blank;
        CDialogDelay fresh(blank, memory, settings, session);
        ExpectEnglishAndUncut(fresh, "new delay");
        for (MacroItem wait : {MakeDelayItem(2000, DelayTime, 10), MakeDelayItem(0, DelayClock),
                               MakeDelayItem(VK_A, DelayKey), MakeDelayItem(0x00FF00, DelayColor)}) {
            CDialogDelay dialog(wait, memory, settings, session);
            ExpectEnglishAndUncut(dialog, "delay of one kind");
        }
    }
    {
        MacroItem blank;
        CDialogString fresh(blank, memory);
        ExpectEnglishAndUncut(fresh, "new text");
        fresh.accept(); // empty: refused
        MacroItem text = MakeStringItem("abc");
        CDialogString dialog(text, memory);
        ExpectEnglishAndUncut(dialog, "text");
    }
    {
        MacroItem blank;
        CDialogMacro fresh(blank, memory, session.library(), 2);
        ExpectEnglishAndUncut(fresh, "new call");
        MacroItem call = MakeCallItem("Login", CallParallel);
        CDialogMacro dialog(call, memory, session.library(), 0);
        ExpectEnglishAndUncut(dialog, "call");
        dialog.accept(); // a call of the macro itself: refused
    }
    {
        MacroItem blank;
        CDialogCS fresh(blank, memory);
        ExpectEnglishAndUncut(fresh, "new exclusive section");
        MacroItem leave = MakeExclusiveItem(false);
        CDialogCS dialog(leave, memory);
        ExpectEnglishAndUncut(dialog, "exclusive section");
    }
    {
        MacroItem blank;
        CDialogLoop fresh(blank, memory);
        ExpectEnglishAndUncut(fresh, "new loop");
        MacroItem loopItem = MakeLoopItem(LoopEnter, 5, 20, 50);
        CDialogLoop dialog(loopItem, memory);
        ExpectEnglishAndUncut(dialog, "loop");
    }
    ASSERT_EQ(messages.size(), 2u);
    for (const QString& m : messages) EXPECT_FALSE(test::HasHangul(m)) << m.toStdString();
}

TEST_F(EnglishEditorsTest, EveryPageOfTheConditionDialogIsEnglish) {
    Macro macro = MakeNewMacro("Login");
    CDialogMacroStart dialog(session, macro);
    Lay(dialog);
    EXPECT_EQ(test::HangulReport(&dialog), "");
    EXPECT_EQ(dialog.tab()->tabBar()->tabText(0), "Hotkeys");
    for (int page = 0; page < ConditionDialogModel::PageCount; ++page) {
        dialog.tab()->ShowPage(page);
        QCoreApplication::processEvents();
        EXPECT_EQ(Lines(ClippedIn(&dialog)), "") << "page " << page;
    }
}

TEST_F(EnglishEditorsTest, KoreanComesBackUnchanged) {
    SetLanguage(Language::Korean);
    MacroItem blank;
    CDialogDelay dialog(blank, editing.itemMemory, settings, session);
    EXPECT_FALSE(test::HangulTexts(&dialog).isEmpty());
    QStringList labels;
    for (const QLabel* label : dialog.findChildren<QLabel*>()) labels << label->text();
    // The random spread's list sits between two words in Korean, after one in English.
    EXPECT_TRUE(labels.contains("랜덤 지연"));
    EXPECT_TRUE(labels.contains("추가"));
    SetLanguage(Language::English);
    CDialogDelay english(blank, editing.itemMemory, settings, session);
    labels.clear();
    for (const QLabel* label : english.findChildren<QLabel*>()) labels << label->text();
    EXPECT_TRUE(labels.contains("Random spread:"));
    EXPECT_FALSE(labels.contains("Add"));
}

TEST(EnglishLayoutCheck, SeesACaptionItsLayoutCuts) {
    QWidget window;
    auto* box = new QCheckBox(QStringLiteral("Start the macro when an image is found"), &window);
    box->setFixedWidth(40);
    auto* fits = new QCheckBox(QStringLiteral("OK"), &window);
    fits->move(0, 30);
    fits->resize(fits->sizeHint());
    Lay(window);
    EXPECT_EQ(ClippedIn(&window).size(), 1);
}

} // namespace
} // namespace quillet::gui
