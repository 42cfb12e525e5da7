#include "gui/message_box.h"

#include <QApplication>
#include <QColorDialog>
#include <QFileDialog>

#include "gui/rules.h"
#include "gui/text.h"

namespace quillet::gui {

namespace {

// The one injection point of the program's dialogs; see ScopedDialogHooks.
DialogHooks& Hooks() {
    static DialogHooks hooks;
    return hooks;
}

QMessageBox::StandardButton RealMessageBox(const MessageBoxRequest& r) {
    QMessageBox box(r.icon, r.caption.isEmpty() ? QApplication::applicationDisplayName() : r.caption, r.text, r.buttons,
                    r.parent);
    if (r.defaultButton != QMessageBox::NoButton) box.setDefaultButton(r.defaultButton);
    return static_cast<QMessageBox::StandardButton>(box.exec());
}

std::optional<QString> RealFileDialog(const FileDialogRequest& r) {
    const QByteArray pairs = r.filter.toUtf8();
    const std::string filter =
        QtFileFilter(std::string_view(pairs.constData(), static_cast<std::size_t>(pairs.size())));
    const QString qtFilter = QString::fromUtf8(filter.data(), static_cast<qsizetype>(filter.size()));
    QString path;
    switch (r.mode) {
    case FileDialogRequest::Open:
        path = QFileDialog::getOpenFileName(r.parent, r.caption, r.initialPath, qtFilter);
        break;
    case FileDialogRequest::OpenOrNew: {
        // An open dialog that also takes the name of a file that does not exist yet.
        QFileDialog dialog(r.parent, r.caption, r.initialPath, qtFilter);
        dialog.setAcceptMode(QFileDialog::AcceptOpen);
        dialog.setFileMode(QFileDialog::AnyFile);
        // Choosing an existing library opens it: no overwrite question (the Windows dialog would ask otherwise).
        dialog.setOption(QFileDialog::DontConfirmOverwrite);
        if (dialog.exec() == QDialog::Accepted && !dialog.selectedFiles().isEmpty())
            path = dialog.selectedFiles().constFirst();
        break;
    }
    case FileDialogRequest::Save:
        path = QFileDialog::getSaveFileName(r.parent, r.caption, r.initialPath, qtFilter);
        break;
    }
    if (path.isEmpty()) return std::nullopt;
    return path;
}

std::optional<uint32_t> RealColorDialog(const ColorDialogRequest& r) {
    const QColor color = QColorDialog::getColor(ColorFromColorRef(r.initial), r.parent);
    if (!color.isValid()) return std::nullopt;
    return ColorRefFromColor(color);
}

} // namespace

QMessageBox::StandardButton ShowMessageBox(const MessageBoxRequest& request) {
    const DialogHooks& hooks = Hooks();
    return hooks.messageBox ? hooks.messageBox(request) : RealMessageBox(request);
}

QMessageBox::StandardButton ShowMessageBox(QWidget* parent, const QString& text, QMessageBox::Icon icon,
                                           QMessageBox::StandardButtons buttons) {
    MessageBoxRequest request;
    request.parent = parent;
    request.text = text;
    request.icon = icon;
    request.buttons = buttons;
    return ShowMessageBox(request);
}

std::optional<QString> AskFileName(const FileDialogRequest& request) {
    const DialogHooks& hooks = Hooks();
    return hooks.fileDialog ? hooks.fileDialog(request) : RealFileDialog(request);
}

std::optional<uint32_t> AskColor(const ColorDialogRequest& request) {
    const DialogHooks& hooks = Hooks();
    return hooks.colorDialog ? hooks.colorDialog(request) : RealColorDialog(request);
}

ScopedDialogHooks::ScopedDialogHooks(DialogHooks hooks) : previous_(std::move(Hooks())) {
    Hooks() = std::move(hooks);
}

ScopedDialogHooks::~ScopedDialogHooks() {
    Hooks() = std::move(previous_);
}

} // namespace quillet::gui
