// The dialog base, the small controls and the dialog hooks, on the offscreen platform.
#include <gtest/gtest.h>

#include <memory>

#include <QComboBox>
#include <QDesktopServices>
#include <QSignalSpy>
#include <QTabBar>
#include <QTest>
#include <QTextBlock>
#include <QUrl>

#include "gui/message_box.h"
#include "gui/resources.h"
#include "gui/text.h"
#include "gui/widgets/dialog_common.h"
#include "gui/widgets/edit_ex.h"
#include "gui/widgets/edit_log.h"
#include "gui/widgets/hyperlink.h"
#include "gui/widgets/tab_dialog.h"
#include "model/key_table.h"

namespace quillet::gui {
namespace {

TEST(DialogCommonTest, FillNumberCombo) {
    CDialogCommon dialog;
    auto* combo = SetControlId(new QComboBox(&dialog), 1050);
    QSignalSpy changes(combo, &QComboBox::currentIndexChanged);

    dialog.FillNumberCombo(1050, 24, 0);
    ASSERT_EQ(combo->count(), 25);
    EXPECT_EQ(combo->itemText(0), "--");
    EXPECT_EQ(combo->itemText(1), "0");
    EXPECT_EQ(combo->itemText(24), "23");
    EXPECT_EQ(combo->currentIndex(), 0);

    // Filling again replaces the rows; row k stands for k - 1.
    dialog.FillNumberCombo(1050, 60, 31);
    EXPECT_EQ(combo->count(), 61);
    EXPECT_EQ(combo->currentText(), "30");
    dialog.FillNumberCombo(1050, 60, 61); // out of range: no selection
    EXPECT_EQ(combo->currentIndex(), -1);
    dialog.FillNumberCombo(1050, -5, 0); // a negative count leaves "--" alone
    EXPECT_EQ(combo->count(), 1);
    EXPECT_EQ(changes.count(), 0); // selections set by code report no change
}

TEST(DialogCommonTest, FillKeyCombo) {
    CDialogCommon dialog;
    auto* combo = SetControlId(new QComboBox(&dialog), 1092);
    QSignalSpy changes(combo, &QComboBox::currentIndexChanged);

    dialog.FillKeyCombo(1092, 0x71); // F2
    ASSERT_EQ(combo->count(), kKeyRowCount);
    EXPECT_EQ(combo->itemText(0), "Left mouse button");
    EXPECT_EQ(combo->itemText(kKeyRowCount - 1), QString::fromLatin1(kKeyTable[kKeyRowCount - 1].longName));
    EXPECT_EQ(combo->currentIndex(), KeyIndexOf(0x71));
    EXPECT_EQ(KeyCodeAt(combo->currentIndex()), 0x71);

    dialog.FillKeyCombo(1092, 0x7C); // not in the table: nothing selected, and no duplicate rows
    EXPECT_EQ(combo->count(), kKeyRowCount);
    EXPECT_EQ(combo->currentIndex(), -1);
    dialog.FillKeyCombo(1092, 0x0B);
    EXPECT_EQ(combo->currentText(), "Mouse scroll down");
    EXPECT_EQ(changes.count(), 0);

    dialog.FillKeyCombo(9999, 0x41); // no such control: nothing happens
}

TEST(DialogCommonTest, ClampToTheScreensOfTheDesktop) {
    CDialogCommon dialog;
    dialog.resize(300, 200);
    const platform::ScreenRect screen = CDialogCommon::VirtualScreen();
    ASSERT_GT(screen.width, 300);
    ASSERT_GT(screen.height, 200);
    const int32_t w = dialog.frameGeometry().width();
    const int32_t h = dialog.frameGeometry().height();

    int32_t x = screen.left - 5000;
    int32_t y = screen.top + screen.height + 5000;
    dialog.MoveInsideVirtualScreen(x, y);
    EXPECT_EQ(x, screen.left);
    EXPECT_EQ(y, screen.top + screen.height - 1 - h);
    EXPECT_EQ(dialog.pos(), QPoint(x, y));
    EXPECT_EQ(dialog.size(), QSize(300, 200)); // moved, not resized

    x = screen.left + screen.width;
    y = screen.top + 10;
    dialog.ClampToVirtualScreen(x, y);
    EXPECT_EQ(x, screen.left + screen.width - 1 - w);
    EXPECT_EQ(y, screen.top + 10);
}

TEST(EditLogTest, TrimsOldestLinesBeforeAppending) {
    CEditLogB log;
    log.maxLines = 1000;
    for (int i = 0; i < 1005; ++i) {
        log.AppendPending(QStringLiteral("line %1\r\n").arg(i));
        if (i == 599) log.FlushPending();
    }
    log.FlushPending();
    ASSERT_EQ(log.LineCount(), 1005); // over the cap until the next flush

    log.AppendPending(QStringLiteral("new A\r\n"));
    log.AppendPending(QStringLiteral("new B\r\n"));
    log.FlushPending();
    // The cut comes first: the last 800 old lines, then the new ones.
    EXPECT_EQ(log.LineCount(), 802);
    const QTextDocument* doc = log.document();
    EXPECT_EQ(doc->findBlockByNumber(0).text(), "line 205");
    EXPECT_EQ(doc->findBlockByNumber(799).text(), "line 1004");
    EXPECT_EQ(doc->findBlockByNumber(800).text(), "new A");
    EXPECT_EQ(doc->findBlockByNumber(801).text(), "new B");
    EXPECT_EQ(log.pendingCount(), 0u);
    EXPECT_FALSE(log.toPlainText().contains(QLatin1Char('\r')));

    log.FlushPending(); // 802 lines: within the cap, nothing happens
    EXPECT_EQ(log.LineCount(), 802);
}

TEST(EditLogTest, PendingQueueAndTextLimitAreBounded) {
    CEditLogB log;
    log.maxLines = 10;
    for (int i = 0; i < 25; ++i) log.AppendPending(QStringLiteral("%1\n").arg(i));
    // Only the newest maxLines pieces wait; the older ones would be cut at the next flush anyway.
    EXPECT_EQ(log.pendingCount(), 10u);
    log.FlushPending();
    EXPECT_EQ(log.textLimit(), 10 * 1024);
    EXPECT_EQ(log.document()->findBlockByNumber(0).text(), "15");
    EXPECT_EQ(log.LineCount(), 10);

    // A piece that does not fit under the text limit is cut; later pieces are dropped.
    log.clear();
    log.AppendPending(QString(10 * 1024 - 3, QLatin1Char('x')));
    log.AppendPending(QStringLiteral("abcdef"));
    log.AppendPending(QStringLiteral("more"));
    log.FlushPending();
    EXPECT_EQ(log.toPlainText().size(), 10 * 1024);
    EXPECT_TRUE(log.toPlainText().endsWith(QStringLiteral("xabc")));

    // After the owner empties the text, appending starts again at the (new) end.
    log.clear();
    log.AppendPending(QStringLiteral("again\n"));
    log.FlushPending();
    EXPECT_EQ(log.toPlainText(), "again\n");
}

TEST(EditLogTest, CtrlASelectsAll) {
    CEditLogB log;
    log.AppendPending(QStringLiteral("one\ntwo\n"));
    log.FlushPending();
    QTest::keyClick(&log, Qt::Key_A, Qt::ControlModifier);
    EXPECT_EQ(log.textCursor().selectedText().size(), QStringLiteral("one\ntwo\n").size());
    EXPECT_TRUE(log.isReadOnly());
}

TEST(EditExTest, CtrlASelectsAllAndALoneTypes) {
    CEditEx edit;
    QTest::keyClicks(&edit, QStringLiteral("hello"));
    QTest::keyClick(&edit, Qt::Key_Return); // Enter makes a new line
    QTest::keyClicks(&edit, QStringLiteral("A"));
    EXPECT_EQ(edit.toPlainText(), "hello\nA");
    QTest::keyClick(&edit, Qt::Key_A, Qt::ControlModifier);
    EXPECT_EQ(edit.textCursor().selectionStart(), 0);
    EXPECT_EQ(edit.textCursor().selectionEnd(), edit.toPlainText().size());
    EXPECT_EQ(edit.toPlainText(), "hello\nA"); // Ctrl+A typed nothing
}

// Takes the links a CHyperLink hands to the desktop, so that no browser starts.
class UrlCatcher : public QObject {
    Q_OBJECT
public:
    UrlCatcher() {
        QDesktopServices::setUrlHandler(QStringLiteral("https"), this, "Open");
        QDesktopServices::setUrlHandler(QStringLiteral("http"), this, "Open");
    }
    ~UrlCatcher() override {
        QDesktopServices::unsetUrlHandler(QStringLiteral("https"));
        QDesktopServices::unsetUrlHandler(QStringLiteral("http"));
    }
    QList<QUrl> opened;
public slots:
    void Open(const QUrl& url) { opened.append(url); }
};

TEST(HyperLinkTest, BlueUntilClickedThenPurpleAndOpensTheTarget) {
    UrlCatcher catcher;
    CHyperLink link(QStringLiteral("quillet.example.org"), nullptr);
    link.resize(200, 20);
    link.SetURL(QStringLiteral("  \thttps://quillet.example.org/  \n"));
    EXPECT_EQ(link.url(), "https://quillet.example.org/");
    EXPECT_TRUE(link.font().underline());
    EXPECT_EQ(link.TextColor(), 0xFF0000u);
    EXPECT_EQ(link.palette().color(QPalette::WindowText), QColor(0, 0, 255));
    EXPECT_FALSE(link.visited());

    QSignalSpy clicked(&link, &CHyperLink::clicked);
    QTest::mouseClick(&link, Qt::LeftButton);
    ASSERT_EQ(clicked.count(), 1);
    EXPECT_TRUE(clicked.at(0).at(0).toBool());
    ASSERT_EQ(catcher.opened.size(), 1);
    EXPECT_EQ(catcher.opened[0], QUrl(QStringLiteral("https://quillet.example.org/")));
    EXPECT_TRUE(link.visited());
    EXPECT_EQ(link.TextColor(), 0x800080u);
    EXPECT_EQ(link.palette().color(QPalette::WindowText), QColor(128, 0, 128));

    // Purple for the rest of its life; a right click opens nothing.
    QTest::mouseClick(&link, Qt::RightButton);
    EXPECT_EQ(catcher.opened.size(), 1);
    EXPECT_EQ(link.TextColor(), 0x800080u);
}

TEST(HyperLinkTest, EmptyTargetOpensNothing) {
    UrlCatcher catcher;
    CHyperLink link;
    link.resize(100, 20);
    link.SetURL(QStringLiteral("   "));
    QSignalSpy clicked(&link, &CHyperLink::clicked);
    QTest::mouseClick(&link, Qt::LeftButton);
    ASSERT_EQ(clicked.count(), 1);
    EXPECT_FALSE(clicked.at(0).at(0).toBool());
    EXPECT_TRUE(catcher.opened.isEmpty());
    EXPECT_TRUE(link.visited());
}

TEST(TabDialogTest, PagesShowOneAtATime) {
    QWidget window;
    auto* tabs = new CTabDialog(&window);
    tabs->resize(300, 200);
    std::array<CDialogCommon*, 3> pages{};
    for (int i = 0; i < 3; ++i) {
        auto page = std::make_unique<CDialogCommon>();
        pages[static_cast<std::size_t>(i)] = page.get();
        EXPECT_EQ(tabs->AddPage(QStringLiteral("page %1").arg(i), std::move(page)), i);
    }
    window.show();
    EXPECT_EQ(tabs->currentPage(), -1);
    for (CDialogCommon* p : pages) {
        EXPECT_TRUE(p->isHidden());
        EXPECT_EQ(p->parentWidget(), tabs);
        EXPECT_FALSE(p->isWindow());
    }

    tabs->ShowPage(1);
    EXPECT_EQ(tabs->currentPage(), 1);
    EXPECT_TRUE(pages[1]->isVisible());
    EXPECT_TRUE(pages[0]->isHidden());
    EXPECT_EQ(tabs->tabBar()->currentIndex(), 1);

    // Choosing a tab shows its page.
    tabs->tabBar()->setCurrentIndex(2);
    EXPECT_EQ(tabs->currentPage(), 2);
    EXPECT_TRUE(pages[2]->isVisible());
    EXPECT_TRUE(pages[1]->isHidden());

    // An invalid index hides the current page and is remembered as it is.
    tabs->ShowPage(7);
    EXPECT_EQ(tabs->currentPage(), 7);
    EXPECT_TRUE(pages[2]->isHidden());
    tabs->ShowPage(0);
    EXPECT_TRUE(pages[0]->isVisible());

    // Esc inside a page is left to the window around it: the page stays.
    QTest::keyClick(pages[0], Qt::Key_Escape);
    EXPECT_TRUE(pages[0]->isVisible());
}

TEST(DialogHooksTest, ScopedHooksAnswerAndRestore) {
    std::vector<QString> asked;
    {
        const ScopedDialogHooks hooks({
            [&](const MessageBoxRequest& r) {
                asked.push_back(r.text);
                EXPECT_EQ(r.icon, QMessageBox::Question);
                EXPECT_EQ(r.buttons, QMessageBox::Yes | QMessageBox::No);
                return QMessageBox::Yes;
            },
            [&](const FileDialogRequest& r) -> std::optional<QString> {
                EXPECT_EQ(r.mode, FileDialogRequest::Open);
                EXPECT_EQ(r.initialPath, "macro.m");
                return QStringLiteral("other.m");
            },
            [&](const ColorDialogRequest& r) -> std::optional<uint32_t> { return r.initial ^ 0xFFFFFF; },
        });
        EXPECT_EQ(ShowMessageBox(nullptr, QStringLiteral("매크로가 변경되었습니다. 저장할까요?"), QMessageBox::Question,
                                 QMessageBox::Yes | QMessageBox::No),
                  QMessageBox::Yes);
        FileDialogRequest open;
        open.initialPath = QStringLiteral("macro.m");
        EXPECT_EQ(AskFileName(open), QStringLiteral("other.m"));
        EXPECT_EQ(AskColor({nullptr, 0x00FF00}), 0xFF00FFu);
    }
    ASSERT_EQ(asked.size(), 1u);
    EXPECT_EQ(asked[0], "매크로가 변경되었습니다. 저장할까요?");
    // Outside the scope the main's hooks answer again (they fail the test if reached, so none is asked here).
}

TEST(TextTest, Cp949AtTheBoundary) {
    const std::string cp949 = ToCp949(QStringLiteral("매크로 A"));
    EXPECT_EQ(cp949.size(), 8u); // three two-byte syllables, a blank and a letter
    EXPECT_EQ(FromCp949(cp949), "매크로 A");
    EXPECT_EQ(ToCp949(QStringLiteral("a😀b")), "a?b");                                 // not in the code page
    EXPECT_EQ(ToCp949(QStringLiteral("가나다"), 5), ToCp949(QStringLiteral("가나"))); // never half a character
    EXPECT_EQ(ColorRefFromColor(ColorFromColorRef(0x00123456)), 0x00123456u);
    EXPECT_EQ(ColorFromColorRef(0x0000FF), QColor(255, 0, 0));
}

TEST(ResourcesTest, IconsAndIndicatorsLoad) {
    EXPECT_FALSE(MainIcon().isNull());
    EXPECT_FALSE(BlinkIcon().isNull());
    EXPECT_EQ(IndicatorUp().size(), QSize(13, 13));
    EXPECT_EQ(IndicatorDown().size(), QSize(13, 13));
    EXPECT_NE(IndicatorUp().toImage().pixel(6, 6), IndicatorDown().toImage().pixel(6, 6));
}

} // namespace
} // namespace quillet::gui

#include "widgets_test.moc"
