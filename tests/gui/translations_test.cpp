// Qt's own texts in Korean: the standard buttons of a message box and the file dialog's labels change with the
// catalogue, go back when it is dropped, and a missing catalogue leaves them as they were.
#include "gui/translations.h"

#include <gtest/gtest.h>

#include <QAbstractButton>
#include <QFileDialog>
#include <QLabel>
#include <QMessageBox>
#include <QTemporaryDir>

namespace quillet::gui {
namespace {

QString YesText() {
    QMessageBox box(QMessageBox::Question, QStringLiteral("t"), QStringLiteral("q"),
                    QMessageBox::Yes | QMessageBox::No);
    return box.button(QMessageBox::Yes)->text();
}

TEST(TranslationsTest, QtsStandardButtonsAndFileDialogAreKoreanWhileTheCatalogueIsInstalled) {
    const QString english = YesText();
    ASSERT_EQ(english, QStringLiteral("&Yes"));
    {
        const std::unique_ptr<QTranslator> korean = InstallQtKoreanTranslation();
        ASSERT_NE(korean, nullptr);
        EXPECT_EQ(YesText(), QStringLiteral("예(&Y)"));
        QMessageBox box(QMessageBox::Warning, QStringLiteral("t"), QStringLiteral("q"),
                        QMessageBox::Ok | QMessageBox::Cancel);
        EXPECT_EQ(box.button(QMessageBox::Cancel)->text(), QStringLiteral("취소"));

        // Qt's own file dialog (the one used where the desktop offers none).
        QFileDialog dialog;
        dialog.setOption(QFileDialog::DontUseNativeDialog);
        QStringList labels;
        for (const QLabel* label : dialog.findChildren<QLabel*>()) labels << label->text();
        EXPECT_TRUE(labels.contains(QStringLiteral("파일 이름(&N):")))
            << labels.join(QStringLiteral(" | ")).toStdString();
    }
    EXPECT_EQ(YesText(), english) << "the dropped catalogue is still in use";
}

TEST(TranslationsTest, MissingCatalogueLeavesQtsTextsAlone) {
    QTemporaryDir empty;
    ASSERT_TRUE(empty.isValid());
    EXPECT_EQ(InstallQtKoreanTranslation(empty.path()), nullptr);
    EXPECT_EQ(YesText(), QStringLiteral("&Yes"));
}

} // namespace
} // namespace quillet::gui
