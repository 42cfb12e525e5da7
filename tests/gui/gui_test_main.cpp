// GoogleTest main for the widget tests: one QApplication on the offscreen platform for the whole run. No real
// dialog may open: a message box, file or colour dialog that a test did not answer fails the test.
#include <gtest/gtest.h>

#include <QApplication>

#include "gui/message_box.h"

int main(int argc, char** argv) {
    // Also when the test list is read at build time, outside CTest's environment.
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM")) qputenv("QT_QPA_PLATFORM", "offscreen");
    testing::InitGoogleTest(&argc, argv);
    QApplication app(argc, argv);
    QApplication::setApplicationDisplayName(QStringLiteral("Quillet"));

    using namespace quillet::gui;
    const ScopedDialogHooks unanswered({
        [](const MessageBoxRequest& r) {
            ADD_FAILURE() << "unanswered message box: " << r.text.toStdString();
            return QMessageBox::NoButton;
        },
        [](const FileDialogRequest&) -> std::optional<QString> {
            ADD_FAILURE() << "unanswered file dialog";
            return std::nullopt;
        },
        [](const ColorDialogRequest&) -> std::optional<uint32_t> {
            ADD_FAILURE() << "unanswered colour dialog";
            return std::nullopt;
        },
    });
    return RUN_ALL_TESTS();
}
