// The start/stop condition dialog on the offscreen platform with the fake backend: a macro's conditions shown on the
// four pages, OK and Esc, the captures of live input through the session's router, the image preview and the file
// and colour choosers, the page shown first, and the macro editor's button that opens it. The rules themselves are
// tested headless with ConditionDialogModel.
#include <gtest/gtest.h>

#include <deque>
#include <filesystem>
#include <functional>

#include <QAbstractButton>
#include <QAbstractItemView>
#include <QApplication>
#include <QCheckBox>
#include <QComboBox>
#include <QCoreApplication>
#include <QDir>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QRegularExpression>
#include <QTabBar>
#include <QTest>
#include <QTimer>
#include <opencv2/core.hpp>
#include <opencv2/imgcodecs.hpp>

#include "gui/editors/condition_dialog.h"
#include "gui/editors/delay_dialog.h"
#include "gui/editors/macro_edit.h"
#include "gui/mainwindow/qt_event_loop.h"
#include "gui/message_box.h"
#include "gui/text.h"
#include "gui/widgets/tab_dialog.h"
#include "model/key_table.h"
#include "platform/fake/fake_platform.h"
#include "test_folder.h"

namespace quillet::gui {
namespace {

using Dialog = CDialogMacroStart;
using KeyPage = CDialogMacroStartKey;
using TimePage = CDialogMacroStartTime;
using ColorPage = CDialogMacroStartColor;
using ImagePage = CDialogMacroStartPattern;
using Model = ConditionDialogModel;

constexpr uint8_t VK_A = 0x41, VK_F5 = 0x74, VK_F7 = 0x76, VK_F8 = 0x77, VK_F9 = 0x78;

// Every condition set, each value inside its field's range so that OK without changes gives it back.
Macro FullMacro() {
    Macro m = MakeNewMacro("conditions");
    m.flags = FlagAutoStart | FlagStartKey | FlagStopKey | FlagTimeWindow | FlagStartColor | FlagStopColor |
              FlagColorOnChange | FlagStartImage | FlagImageOnChange | 3 << StartTimeFormShift | 1 << StopTimeFormShift;
    m.setRepeatCount(7);
    m.startKey = VK_F5 | KeyCtrl | KeyRelease;                // Ctrl stored, modifier matching off, on release
    m.stopKey = VK_A | KeyAlt | KeyShift | KeyExactModifiers; // on press
    m.startTime = 10 * 3600 + 20 * 60 + 30;
    m.stopTime = 5;
    m.startColor = 0x332211;
    m.startColorPos = PackPoint(-5, 700);
    m.stopColor = 0xFFEEDD;
    m.stopColorPos = PackPoint(1919, 0);
    m.colorTolerance = 12;
    m.imagePath = "pics/wide.png";
    m.imageRectStart = PackPoint(10, 20);
    m.imageRectEnd = PackPoint(800, 600);
    m.imageOptions = 87 | ImageMoveMouse;
    return m;
}

class ConditionDialogTest : public testing::Test {
protected:
    ConditionDialogTest()
        : hooks({{},
                 [this](const FileDialogRequest& r) -> std::optional<QString> {
                     fileRequests.push_back(r);
                     if (fileAnswers.empty()) return std::nullopt;
                     std::optional<QString> answer = fileAnswers.front();
                     fileAnswers.pop_front();
                     return answer;
                 },
                 [this](const ColorDialogRequest& r) -> std::optional<uint32_t> {
                     colorAskedWith.push_back(r.initial);
                     return chosenColor;
                 }}),
          settings((folder.path() / "Quillet.ini").string(), false), session(fake.platform(), settings, counter, loop) {
        EXPECT_TRUE(session.StartInputMonitoring());
        baseDepth = session.router().depth();
        settings.keyMacroColorStart = VK_F9;
        settings.keyMacroColorStop = VK_F8;
        settings.startTabSel = 0;
        std::filesystem::create_directories("pics");
        cv::imwrite("pics/wide.png", cv::Mat(100, 200, CV_8UC3, cv::Scalar(0, 0, 255)));     // red
        cv::imwrite("pics/small.png", cv::Mat(40, 50, CV_8UC4, cv::Scalar(255, 0, 0, 128))); // blue, half alpha
        cv::imwrite("pics/deep.png", cv::Mat(40, 50, CV_16UC1, cv::Scalar(40000)));          // 16-bit grey
    }

    template <class W = QWidget> static W* C(QWidget* parent, int id) {
        W* w = FindControl<W>(parent, id);
        EXPECT_NE(w, nullptr) << "no control " << id;
        return w;
    }
    // As a person's click; a disabled control ignores it.
    static void Click(QWidget* parent, int id) { C<QAbstractButton>(parent, id)->click(); }
    static void Type(QWidget* parent, int id, const QString& text) {
        auto* edit = C<QLineEdit>(parent, id);
        edit->selectAll();
        QTest::keyClicks(edit, text);
    }
    static QString Field(QWidget* parent, int id) { return C<QLineEdit>(parent, id)->text(); }
    static bool Enabled(QWidget* parent, int id) { return C(parent, id)->isEnabled(); }
    static int Row(QWidget* parent, int id) { return C<QComboBox>(parent, id)->currentIndex(); }
    // What controls show: a field's or label's text, a list's row, a check box as "[x]" or "[ ]", a button's caption.
    static QStringList Shown(QWidget* parent, std::initializer_list<int> ids) {
        QStringList shown;
        for (int id : ids) {
            QWidget* w = C(parent, id);
            if (auto* edit = qobject_cast<QLineEdit*>(w)) shown << edit->text();
            if (auto* label = qobject_cast<QLabel*>(w)) shown << label->text();
            if (auto* list = qobject_cast<QComboBox*>(w)) shown << list->currentText();
            if (auto* box = qobject_cast<QCheckBox*>(w)) shown << (box->isChecked() ? "[x]" : "[ ]");
            if (auto* button = qobject_cast<QPushButton*>(w)) shown << button->text();
        }
        return shown;
    }
    static QStringList Texts(std::initializer_list<const char*> texts) {
        QStringList list;
        for (const char* t : texts) list << QString::fromUtf8(t);
        return list;
    }
    static void SelectRow(QWidget* parent, int id, int row) { C<QComboBox>(parent, id)->setCurrentIndex(row); }
    // The person clicks a tab.
    static void ShowTab(Dialog& dialog, int page) { dialog.tab()->tabBar()->setCurrentIndex(page); }
    static void Show(QDialog& dialog) {
        dialog.show();
        dialog.activateWindow();
        QCoreApplication::processEvents(); // the window system's activation, already queued
    }

    // A person's key on the desktop, handled as the program handles it.
    void Key(uint8_t vk, bool down = true) {
        platform::RawInputRecord r;
        r.vkey = vk;
        r.message = down ? platform::WM_KEYDOWN : platform::WM_KEYUP;
        ASSERT_TRUE(fake.PushRaw(r));
        QCoreApplication::sendPostedEvents(&loop);
    }
    void LeftButtonDown() {
        platform::RawInputRecord r;
        r.device = platform::RawInputRecord::Device::Mouse;
        r.buttonFlags = platform::RI_MOUSE_LEFT_BUTTON_DOWN;
        ASSERT_TRUE(fake.PushRaw(r));
        QCoreApplication::sendPostedEvents(&loop);
    }

    test::TestFolder folder;
    std::vector<FileDialogRequest> fileRequests;
    std::deque<QString> fileAnswers;
    std::vector<uint32_t> colorAskedWith;
    std::optional<uint32_t> chosenColor;
    ScopedDialogHooks hooks;
    platform::FakePlatform fake;
    CAppIni settings;
    TimerCounter counter;
    QtEventLoop loop;
    Session session;
    EditingContext editing; // what the editors opened here share
    std::size_t baseDepth = 0; // the router's consumers before any dialog
};

TEST_F(ConditionDialogTest, EveryPageShowsTheMacrosConditionsUnderItsIdsWithAccessibleNames) {
    Macro macro = FullMacro();
    {
        Dialog dialog(session, macro);
        EXPECT_EQ(dialog.windowTitle(), "매크로 시작/중지 조건 설정");
        EXPECT_EQ(session.router().depth(), baseDepth + 1);

        // The tabs with their icons, cut from one strip, over the pages in tab order.
        QTabBar* bar = dialog.tab()->tabBar();
        EXPECT_EQ(dialog.tab()->objectName(), "1000");
        ASSERT_EQ(bar->count(), 4);
        const std::pair<QWidget*, const char*> pages[] = {{dialog.keyPage(), "단축키"},
                                                          {dialog.timePage(), "시간"},
                                                          {dialog.colorPage(), "색인식"},
                                                          {dialog.patternPage(), "이미지"}};
        const auto icons = Dialog::TabIcons();
        for (int i = 0; i < 4; ++i) {
            EXPECT_EQ(dialog.tab()->page(i), pages[i].first);
            EXPECT_EQ(bar->tabText(i), pages[i].second);
            EXPECT_EQ(icons[static_cast<std::size_t>(i)].availableSizes(), QList<QSize>{QSize(16, 16)}) << i;
        }
        EXPECT_NE(icons[0].pixmap(16).toImage(), icons[1].pixmap(16).toImage());

        // Every control (a widget named by its ID) has an accessible name.
        for (QWidget* w : dialog.findChildren<QWidget*>()) {
            bool isId = false;
            w->objectName().toInt(&isId);
            if (isId && !qobject_cast<CDialogCommon*>(w)) {
                EXPECT_FALSE(w->accessibleName().isEmpty()) << w->objectName().toStdString();
            }
        }

        // Start F5 with Ctrl stored but modifier matching off, on release; stop A with exactly Alt+Shift.
        QWidget* keys = dialog.keyPage();
        using K = KeyPage;
        EXPECT_EQ(Shown(keys, {K::IdAutoStart, K::IdStartOn, K::IdStartKey, K::IdStartPress, K::IdStartModifiers,
                               K::IdStartCtrl, K::IdStartAlt, K::IdStartShift}),
                  Texts({"[x]", "[x]", "F5 key", "뗄 때", "[ ]", "[x]", "[ ]", "[ ]"}));
        EXPECT_EQ(Shown(keys, {K::IdStopOn, K::IdStopKey, K::IdStopPress, K::IdStopModifiers, K::IdStopCtrl,
                               K::IdStopAlt, K::IdStopShift}),
                  Texts({"[x]", "A key", "누를 때", "[x]", "[ ]", "[x]", "[x]"}));
        // From 10:20:30 to "5 seconds past any minute".
        QWidget* times = dialog.timePage();
        using T = TimePage;
        EXPECT_EQ(Shown(times, {T::IdOn, T::IdStartHour, T::IdStartMinute, T::IdStartSecond, T::IdStopHour,
                                T::IdStopMinute, T::IdStopSecond}),
                  Texts({"[x]", "10", "20", "30", "--", "--", "5"}));
        // Colour bytes as numbers, positions signed.
        auto* colors = dialog.colorPage();
        using P = ColorPage;
        EXPECT_EQ(Shown(colors, {P::IdOnChange, P::IdStartOn, P::IdStartRed, P::IdStartGreen, P::IdStartBlue,
                                 P::IdStartX, P::IdStartY, P::IdStopOn, P::IdStopRed, P::IdStopGreen, P::IdStopBlue,
                                 P::IdStopX, P::IdStopY, P::IdTolerance}),
                  Texts({"[x]", "[x]", "17", "34", "51", "-5", "700", "[x]", "221", "238", "255", "1919", "0", "12"}));
        EXPECT_EQ(Shown(colors, {P::IdStartHint, P::IdStopHint}),
                  Texts({"F9 key를 눌러 화면 색인식 시작 색과 마우스 위치를 캡쳐합니다.",
                         "F8 key를 눌러 화면 색인식 중지 색과 마우스 위치를 캡쳐합니다."}));
        QWidget* image = dialog.patternPage();
        using I = ImagePage;
        EXPECT_EQ(Shown(image, {I::IdOn, I::IdOnChange, I::IdPath, I::IdStartX, I::IdStartY, I::IdEndX, I::IdEndY,
                                I::IdThreshold, I::IdMoveMouse}),
                  Texts({"[x]", "[x]", "pics/wide.png", "10", "20", "800", "600", "87", "[x]"}));
        EXPECT_EQ(Shown(image, {I::IdStartHint, I::IdStopHint}),
                  Texts({"F9 key를 눌러 화면 검색영역 시작 위치를 캡쳐합니다.",
                         "F8 key를 눌러 화면 검색영역 끝 위치를 캡쳐합니다."}));

        // Everything is on but the modifier boxes of the start key, whose "Modifier Key:" is off.
        for (QWidget* page : {keys, times, static_cast<QWidget*>(colors), image})
            for (QWidget* w : page->findChildren<QWidget*>(QRegularExpression("^\\d+$"))) {
                const int id = w->objectName().toInt();
                const bool off = page == keys && (id == K::IdStartCtrl || id == K::IdStartAlt || id == K::IdStartShift);
                EXPECT_EQ(w->isEnabled(), !off) << page->objectName().toStdString() << " " << id;
            }
        EXPECT_EQ(C<QComboBox>(keys, KeyPage::IdStartKey)->count(), kKeyRowCount);
        EXPECT_EQ(C<QComboBox>(times, TimePage::IdStartHour)->count(), 25);
        EXPECT_EQ(C<QComboBox>(times, TimePage::IdStopSecond)->count(), 61);
        EXPECT_EQ(colors->swatch(true)->color(), 0x332211u);
        EXPECT_EQ(colors->swatch(false)->color(), 0xFFEEDDu);
        EXPECT_EQ(colors->swatch(false)->objectName(), "1099");
    }
    EXPECT_EQ(session.router().depth(), baseDepth);
}

// The enable rules follow the check boxes; OK rebuilds every condition from the controls, Esc writes nothing but the
// release toggle, which took effect at once.
TEST_F(ConditionDialogTest, OkWritesWhatTheControlsShowAndEscKeepsAllButTheReleaseToggle) {
    const Macro original = FullMacro();
    Macro macro = original;
    {
        Dialog dialog(session, macro);
        Show(dialog);
        Click(&dialog, Dialog::IdOk);
        EXPECT_FALSE(dialog.isVisible());
    }
    EXPECT_TRUE(macro.SameContent(original));
    EXPECT_EQ(macro.flags, original.flags);

    // One change on every control that has one, in the order a person might make them.
    const auto changeEverything = [this](Dialog& dialog) {
        QWidget* keys = dialog.keyPage();
        Click(keys, KeyPage::IdAutoStart);
        SelectRow(keys, KeyPage::IdStartKey, KeyIndexOf(VK_F9));
        Click(keys, KeyPage::IdStartPress); // pressed in: "누를 때"
        EXPECT_EQ(C<QAbstractButton>(keys, KeyPage::IdStartPress)->text(), "누를 때");
        Click(keys, KeyPage::IdStartModifiers);
        EXPECT_TRUE(Enabled(keys, KeyPage::IdStartAlt));
        Click(keys, KeyPage::IdStartAlt);
        Click(keys, KeyPage::IdStopOn);
        for (int id : {KeyPage::IdStopKey, KeyPage::IdStopPress, KeyPage::IdStopModifiers, KeyPage::IdStopAlt})
            EXPECT_FALSE(Enabled(keys, id)) << id;

        ShowTab(dialog, Model::Times);
        QWidget* times = dialog.timePage();
        SelectRow(times, TimePage::IdStartHour, 0);    // "--"
        SelectRow(times, TimePage::IdStartMinute, 31); // 30
        SelectRow(times, TimePage::IdStartSecond, 1);  // 0
        SelectRow(times, TimePage::IdStopSecond, 0);   // "--": the stop time is off
        Click(times, TimePage::IdOn);
        EXPECT_FALSE(Enabled(times, TimePage::IdStopHour));

        ShowTab(dialog, Model::Colors);
        auto* colors = dialog.colorPage();
        chosenColor = 0x445566;
        colorAskedWith.clear();
        Click(colors, ColorPage::IdStartChoose);
        EXPECT_EQ(colorAskedWith, std::vector<uint32_t>{0x332211});
        EXPECT_EQ(Shown(colors, {ColorPage::IdStartRed, ColorPage::IdStartGreen, ColorPage::IdStartBlue}),
                  Texts({"102", "85", "68"}));
        EXPECT_EQ(colors->swatch(true)->color(), 0x445566u);
        Type(colors, ColorPage::IdStopGreen, "300"); // shown and stored as 255
        EXPECT_EQ(colors->swatch(false)->color(), 0xFFFFDDu);
        Type(colors, ColorPage::IdStopX, "40000");
        Type(colors, ColorPage::IdStopY, "-12");
        Click(colors, ColorPage::IdStopOn);
        for (int id : {ColorPage::IdStopRed, ColorPage::IdStopX, ColorPage::IdStopChoose})
            EXPECT_FALSE(Enabled(colors, id)) << id;
        Click(colors, ColorPage::IdOnChange);
        Type(colors, ColorPage::IdTolerance, "99");

        ShowTab(dialog, Model::Images);
        QWidget* image = dialog.patternPage();
        const std::pair<int, const char*> typed[] = {{ImagePage::IdPath, "other.png"}, {ImagePage::IdStartX, "1"},
                                                     {ImagePage::IdStartY, "2"},       {ImagePage::IdEndX, "3"},
                                                     {ImagePage::IdEndY, "4"},         {ImagePage::IdThreshold, "150"}};
        for (const auto& [id, text] : typed) Type(image, id, text);
        Click(image, ImagePage::IdMoveMouse);
        Click(image, ImagePage::IdOnChange);
        Click(image, ImagePage::IdOn);
        for (int id : {ImagePage::IdPath, ImagePage::IdChoose, ImagePage::IdEndY, ImagePage::IdOnChange})
            EXPECT_FALSE(Enabled(image, id)) << id;
    };

    {
        Dialog dialog(session, macro);
        Show(dialog);
        changeEverything(dialog);
        // Esc in a field of a page closes the dialog as Cancel does.
        QTest::keyClick(C(dialog.patternPage(), ImagePage::IdMoveMouse), Qt::Key_Escape);
        EXPECT_FALSE(dialog.isVisible());
        EXPECT_EQ(dialog.result(), QDialog::Rejected);
    }
    Macro expected = original;
    expected.startKey &= ~KeyRelease;
    EXPECT_TRUE(macro.SameContent(expected));
    EXPECT_EQ(macro.flags, original.flags);
    EXPECT_EQ(settings.startTabSel, Model::Images);

    macro = original;
    {
        Dialog dialog(session, macro);
        Show(dialog);
        EXPECT_EQ(dialog.tab()->currentPage(), Model::Images);
        changeEverything(dialog);
        Click(&dialog, Dialog::IdOk);
    }
    EXPECT_EQ(macro.flags, FlagStartKey | 2 << StartTimeFormShift | FlagStartColor | 7 << 16);
    EXPECT_EQ(macro.startKey, VK_F9 | KeyCtrl | KeyAlt | KeyExactModifiers);
    EXPECT_EQ(macro.stopKey, original.stopKey);
    EXPECT_EQ(macro.startTime, 1800);
    EXPECT_EQ(macro.stopTime, 0);
    EXPECT_EQ(macro.startColor, 0x445566);
    EXPECT_EQ(macro.startColorPos, original.startColorPos);
    EXPECT_EQ(macro.stopColor, 0xFFFFDD);
    EXPECT_EQ(macro.stopColorPos, PackPoint(32767, -12));
    EXPECT_EQ(macro.colorTolerance, 99);
    EXPECT_EQ(macro.imagePath, "other.png");
    EXPECT_EQ(macro.imageRectStart, PackPoint(1, 2));
    EXPECT_EQ(macro.imageRectEnd, PackPoint(3, 4));
    EXPECT_EQ(macro.imageOptions, 100);
    EXPECT_EQ(macro.items, original.items);
}

// Captures work wherever the cursor is, and only on the page shown.
TEST_F(ConditionDialogTest, LiveInputReachesOnlyThePageShown) {
    Macro macro = FullMacro();
    macro.flags &= ~FlagStopColor;
    Dialog dialog(session, macro);
    Show(dialog);
    auto* colors = dialog.colorPage();
    auto* image = dialog.patternPage();
    KeyPage* keys = dialog.keyPage();

    // The colour page: the start side takes the pixel and position under the cursor; the stop side is off.
    ShowTab(dialog, Model::Colors);
    fake.SetCursor(30, 40);
    fake.SetPixel(30, 40, 0x123456);
    Key(VK_F9);
    Key(VK_F9, false);
    using P = ColorPage;
    EXPECT_EQ(Shown(colors, {P::IdStartRed, P::IdStartGreen, P::IdStartBlue, P::IdStartX, P::IdStartY}),
              Texts({"86", "52", "18", "30", "40"}));
    EXPECT_EQ(colors->swatch(true)->color(), 0x123456u);
    Key(VK_F8);
    EXPECT_EQ(Field(colors, ColorPage::IdStopX), "1919");

    // Another page shown: the capture keys change nothing.
    ShowTab(dialog, Model::Times);
    fake.SetCursor(5, 6);
    Key(VK_F9);
    EXPECT_EQ(Field(colors, ColorPage::IdStartX), "30");
    EXPECT_EQ(Field(image, ImagePage::IdStartX), "10");

    // The image page: the two corners of the search area.
    ShowTab(dialog, Model::Images);
    fake.SetCursor(300, 200);
    Key(VK_F9);
    fake.SetCursor(640, 480);
    Key(VK_F8);
    using I = ImagePage;
    EXPECT_EQ(Shown(image, {I::IdStartX, I::IdStartY, I::IdEndX, I::IdEndY}), Texts({"300", "200", "640", "480"}));

    // The hotkey page: a key pressed while a key list has the focus is selected there when the timer fires; the last
    // of several wins.
    ShowTab(dialog, Model::Hotkeys);
    auto* stopList = C<QComboBox>(keys, KeyPage::IdStopKey);
    stopList->setFocus();
    ASSERT_TRUE(stopList->hasFocus());
    Key(VK_F5);
    EXPECT_TRUE(keys->captureTimer()->isActive());
    EXPECT_EQ(keys->captureTimer()->interval(), 30);
    Key(VK_F7);
    EXPECT_EQ(stopList->currentIndex(), KeyIndexOf(VK_A)); // not before the timer
    keys->OnCaptureTimer();
    EXPECT_EQ(stopList->currentIndex(), KeyIndexOf(VK_F7));
    EXPECT_EQ(Row(keys, KeyPage::IdStartKey), KeyIndexOf(VK_F5));
    EXPECT_FALSE(keys->captureTimer()->isActive());
    // Neither a release, nor a mouse button, nor a key while the focus is elsewhere starts it.
    Key(VK_F5, false);
    LeftButtonDown();
    EXPECT_FALSE(keys->captureTimer()->isActive());
    C(keys, KeyPage::IdAutoStart)->setFocus();
    Key(VK_F5);
    EXPECT_FALSE(keys->captureTimer()->isActive());
    // The focus left the list before the timer fired: nothing is selected.
    stopList->setFocus();
    Key(VK_F9);
    C(keys, KeyPage::IdAutoStart)->setFocus();
    keys->OnCaptureTimer();
    EXPECT_EQ(stopList->currentIndex(), KeyIndexOf(VK_F7));
    // A person clicks the list (it drops down, its popup takes the focus) and presses a key: the key is chosen and
    // the list closes.
    QTest::mouseClick(stopList, Qt::LeftButton);
    QCoreApplication::processEvents();
    ASSERT_TRUE(stopList->view()->isVisible());
    ASSERT_FALSE(stopList->hasFocus());
    Key(VK_F9);
    ASSERT_TRUE(keys->captureTimer()->isActive());
    keys->OnCaptureTimer();
    EXPECT_EQ(stopList->currentIndex(), KeyIndexOf(VK_F9));
    EXPECT_FALSE(stopList->view()->isVisible());
    QTest::mouseClick(stopList, Qt::LeftButton);
    QCoreApplication::processEvents();
    Key(0x7C); // F13: not in the key table
    keys->OnCaptureTimer();
    EXPECT_EQ(stopList->currentIndex(), -1);
    stopList->setCurrentIndex(KeyIndexOf(VK_F7));

    Click(&dialog, Dialog::IdOk);
    EXPECT_EQ(macro.stopKey & 0xFF, VK_F7);
    EXPECT_EQ(macro.startColor, 0x123456);
    EXPECT_EQ(macro.imageRectEnd, PackPoint(640, 480));
}

// The preview is read at opening and after the chooser only; 8-bit pictures are shown reduced and centred, others
// not at all. The chooser keeps a path inside the current folder relative.
TEST_F(ConditionDialogTest, ThePreviewAndTheFileChooser) {
    Macro macro = FullMacro();
    Dialog dialog(session, macro);
    auto* page = dialog.patternPage();
    CImagePreview* preview = page->preview();
    EXPECT_EQ(preview->objectName(), "1008");
    ASSERT_EQ(preview->size(), QSize(120, 112));
    EXPECT_EQ(preview->image().size(), QSize(200, 100));
    EXPECT_EQ(preview->DrawnRect(), QRect(0, 26, 120, 60));
    EXPECT_EQ(preview->image().pixelColor(0, 0), QColor(Qt::red));

    // A path typed by hand is stored but not previewed.
    Type(page, ImagePage::IdPath, "pics/small.png");
    EXPECT_EQ(preview->image().size(), QSize(200, 100));

    fileAnswers = {QDir::current().absoluteFilePath("pics/small.png"),
                   QDir::current().absoluteFilePath("pics/deep.png"), "/nonexistent-quillet-folder/shot"};
    Click(page, ImagePage::IdChoose);
    ASSERT_EQ(fileRequests.size(), 1u);
    EXPECT_EQ(fileRequests[0].mode, FileDialogRequest::Open);
    EXPECT_EQ(fileRequests[0].initialPath, FromCp949(macro.imagePath)) << "from the stored path, not the field";
    EXPECT_EQ(fileRequests[0].filter, "Image (*.BMP, *.GIF, *.JPG, *.PNG) | *.BMP;*.GIF;*.JPG;*.PNG;*.bmp;*.gif;*.jpg;"
                                      "*.png | All Files(*.*)|*.*||");
    EXPECT_EQ(Field(page, ImagePage::IdPath), QDir::toNativeSeparators("pics/small.png"));
    EXPECT_EQ(preview->image().size(), QSize(50, 40));
    EXPECT_EQ(preview->DrawnRect(), QRect(35, 36, 50, 40)); // never enlarged
    EXPECT_EQ(preview->image().pixelColor(0, 0), QColor(Qt::blue));

    Click(page, ImagePage::IdChoose); // a 16-bit picture: chosen, not shown
    EXPECT_EQ(fileRequests[1].initialPath, FromCp949(macro.imagePath)) << "the stored path until OK";
    EXPECT_EQ(Field(page, ImagePage::IdPath), QDir::toNativeSeparators("pics/deep.png"));
    EXPECT_TRUE(preview->image().isNull());

    Click(page, ImagePage::IdChoose); // outside the current folder, without an extension
    EXPECT_EQ(Field(page, ImagePage::IdPath), "/nonexistent-quillet-folder/shot.bmp");
    EXPECT_TRUE(preview->image().isNull());

    Click(page, ImagePage::IdChoose); // cancelled
    EXPECT_EQ(fileRequests.size(), 4u);
    EXPECT_EQ(Field(page, ImagePage::IdPath), "/nonexistent-quillet-folder/shot.bmp");
    Click(&dialog, Dialog::IdOk);
    EXPECT_EQ(macro.imagePath, "/nonexistent-quillet-folder/shot.bmp");
}

TEST_F(ConditionDialogTest, TheFirstPageFollowsStartTabSelAndTheLastOneShownIsRemembered) {
    const std::pair<int, int> firstPages[] = {{7, Model::Images}, {-2, Model::Hotkeys}, {2, Model::Colors}};
    for (const auto& [stored, shown] : firstPages) {
        settings.startTabSel = stored;
        Macro macro = FullMacro();
        Dialog dialog(session, macro);
        Show(dialog);
        EXPECT_EQ(dialog.tab()->currentPage(), shown) << stored;
        EXPECT_EQ(dialog.tab()->tabBar()->currentIndex(), shown) << stored;
        for (int i = 0; i < Model::PageCount; ++i) EXPECT_EQ(dialog.tab()->page(i)->isVisible(), i == shown) << i;
        ShowTab(dialog, Model::Times);
        Click(&dialog, Dialog::IdCancel);
        EXPECT_EQ(settings.startTabSel, Model::Times);
    }
}

// The macro editor's button 1099 runs the dialog modally on the macro being edited: Cancel leaves it, OK changes it.
TEST_F(ConditionDialogTest, TheMacroEditorOpensTheDialogOnItsWorkingMacro) {
    using E = CDialogMacroEdit;
    session.library() = {FullMacro()};
    Macro working = session.library()[0];
    E editor(session, editing, working, 0);
    Show(editor);
    ASSERT_TRUE(Enabled(&editor, E::IdCondition));
    const auto inDialog = [](std::function<void(Dialog&)> act) {
        QTimer::singleShot(0, [act] {
            auto* dialog = qobject_cast<Dialog*>(QApplication::activeModalWidget());
            ASSERT_NE(dialog, nullptr) << "no condition dialog open";
            act(*dialog);
            if (dialog->isVisible()) {
                ADD_FAILURE() << "the dialog was left open";
                dialog->reject();
            }
        });
    };
    inDialog([this](Dialog& d) {
        EXPECT_EQ(session.router().depth(), baseDepth + 2); // over the editor's share of live input
        Click(d.timePage(), TimePage::IdOn);
        Click(&d, Dialog::IdCancel);
    });
    Click(&editor, E::IdCondition);
    EXPECT_NE(editor.model().macro().flags & FlagTimeWindow, 0);
    inDialog([](Dialog& d) {
        Click(d.timePage(), TimePage::IdOn);
        Click(&d, Dialog::IdOk);
    });
    Click(&editor, E::IdCondition);
    EXPECT_EQ(editor.model().macro().flags & FlagTimeWindow, 0);
    EXPECT_EQ(session.router().depth(), baseDepth + 1); // the editor alone
    editor.reject();
}

} // namespace
} // namespace quillet::gui
