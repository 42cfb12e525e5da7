// Every message box, file dialog and colour dialog of the program goes through these functions. A test replaces
// the handlers (ScopedDialogHooks) and answers the questions itself; without a handler the real dialog is shown.
#pragma once

#include <cstdint>
#include <functional>
#include <optional>

#include <QMessageBox>
#include <QString>

class QWidget;

namespace quillet::gui {

struct MessageBoxRequest {
    QWidget* parent = nullptr;
    QString text;
    QString caption; // empty: the application's display name
    QMessageBox::Icon icon = QMessageBox::Warning;
    QMessageBox::StandardButtons buttons = QMessageBox::Ok;
    QMessageBox::StandardButton defaultButton = QMessageBox::NoButton;
};

struct FileDialogRequest {
    // Open: an existing file. OpenOrNew: an existing file or the name of a new one. Save: a file to write.
    enum Mode { Open, OpenOrNew, Save };
    QWidget* parent = nullptr;
    Mode mode = Open;
    QString caption;
    QString initialPath;
    // "description|pattern|...||", as the program's texts give it (see QtFileFilter).
    QString filter;
};

struct ColorDialogRequest {
    QWidget* parent = nullptr;
    uint32_t initial = 0; // 0x00BBGGRR
};

using MessageBoxHandler = std::function<QMessageBox::StandardButton(const MessageBoxRequest&)>;
// The chosen path, or nothing when the user cancelled.
using FileDialogHandler = std::function<std::optional<QString>(const FileDialogRequest&)>;
// The chosen colour 0x00BBGGRR, or nothing when the user cancelled.
using ColorDialogHandler = std::function<std::optional<uint32_t>(const ColorDialogRequest&)>;

struct DialogHooks {
    MessageBoxHandler messageBox;
    FileDialogHandler fileDialog;
    ColorDialogHandler colorDialog;
};

// The button the user pressed.
QMessageBox::StandardButton ShowMessageBox(const MessageBoxRequest& request);
QMessageBox::StandardButton ShowMessageBox(QWidget* parent, const QString& text,
                                           QMessageBox::Icon icon = QMessageBox::Warning,
                                           QMessageBox::StandardButtons buttons = QMessageBox::Ok);
std::optional<QString> AskFileName(const FileDialogRequest& request);
std::optional<uint32_t> AskColor(const ColorDialogRequest& request);

// Installs hooks for its lifetime and puts the previous ones back afterwards. Handlers left empty show the real
// dialogs.
class ScopedDialogHooks {
public:
    explicit ScopedDialogHooks(DialogHooks hooks);
    ~ScopedDialogHooks();
    ScopedDialogHooks(const ScopedDialogHooks&) = delete;
    ScopedDialogHooks& operator=(const ScopedDialogHooks&) = delete;

private:
    DialogHooks previous_;
};

} // namespace quillet::gui
