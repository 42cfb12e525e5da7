#include "gui/widgets/list_box_ex.h"

#include <memory>

#include <QItemSelection>
#include <QKeyEvent>

#include "editing/macro_editor.h"
#include "gui/text.h"

namespace quillet::gui {

CListBoxEx::CListBoxEx(QWidget* parent) : QListWidget(parent) {
    setSelectionMode(QAbstractItemView::ExtendedSelection);
    setVerticalScrollBarPolicy(Qt::ScrollBarAlwaysOn);
    setUniformItemSizes(true);
    connect(this, &QListWidget::itemSelectionChanged, this, &CListBoxEx::ForwardSelection);
}

void CListBoxEx::Bind(MacroEditor* model) {
    model_ = model;
    Refresh();
}

void CListBoxEx::Refresh() {
    refreshing_ = true;
    if (!model_) {
        clear();
    } else {
        // Only the rows that differ are touched, so a long list keeps its scroll position and does not flicker.
        const int rows = model_->rowCount();
        while (count() > rows) std::unique_ptr<QListWidgetItem> gone(takeItem(count() - 1));
        for (int i = 0; i < rows; ++i) {
            const QString text = FromCp949(model_->RowText(i));
            if (i < count()) {
                if (item(i)->text() != text) item(i)->setText(text);
            } else {
                addItem(text);
            }
        }
    }
    refreshing_ = false;
    RefreshSelection();
}

void CListBoxEx::RefreshSelection() {
    if (!model_) return;
    const std::vector<int> wanted = model_->SelectedRows();
    if (wanted != SelectedRows()) {
        refreshing_ = true;
        QItemSelection selection;
        for (int row : wanted) {
            const QModelIndex index = indexFromItem(item(row));
            selection.select(index, index);
        }
        selectionModel()->select(selection, QItemSelectionModel::ClearAndSelect);
        refreshing_ = false;
    }
    // The keyboard's place follows a selection made by the program (a test run's running item, a new item), and
    // stays where the person put it otherwise.
    if (!wanted.empty() && !model_->IsSelected(currentRow())) {
        const QModelIndex index = indexFromItem(item(wanted.back()));
        selectionModel()->setCurrentIndex(index, QItemSelectionModel::NoUpdate);
        scrollTo(index);
    }
}

std::vector<int> CListBoxEx::SelectedRows() const {
    std::vector<int> rows;
    for (int i = 0; i < count(); ++i)
        if (item(i)->isSelected()) rows.push_back(i);
    return rows;
}

void CListBoxEx::ForwardSelection() {
    if (refreshing_ || !model_) return;
    model_->SetSelection(SelectedRows());
}

CListBoxEx::Command CListBoxEx::CommandOf(const QKeyEvent& event) {
    const Qt::KeyboardModifiers mods = event.modifiers() & ~Qt::KeypadModifier;
    // Delete works with or without Ctrl.
    if (event.key() == Qt::Key_Delete && !(mods & (Qt::AltModifier | Qt::MetaModifier))) return Command::Delete;
    if (!(mods & Qt::ControlModifier) || (mods & (Qt::AltModifier | Qt::MetaModifier))) return Command::None;
    const bool shift = (mods & Qt::ShiftModifier) != 0;
    switch (event.key()) {
    case Qt::Key_A:
        return Command::SelectAll;
    case Qt::Key_C:
        return Command::Copy;
    case Qt::Key_X:
        return Command::Cut;
    case Qt::Key_V:
        return Command::Paste;
    case Qt::Key_Z:
        return shift ? Command::Redo : Command::Undo; // Ctrl+Shift+Z is redo on X11 desktops
    case Qt::Key_Y:
        return Command::Redo;
    default:
        return Command::None;
    }
}

bool CListBoxEx::event(QEvent* event) {
    // These keys are the list's own, also where the window or the view has a shortcut on them.
    if (event->type() == QEvent::ShortcutOverride && model_ &&
        CommandOf(*static_cast<QKeyEvent*>(event)) != Command::None) {
        event->accept();
        return true;
    }
    return QListWidget::event(event);
}

void CListBoxEx::keyPressEvent(QKeyEvent* event) {
    const Command command = model_ ? CommandOf(*event) : Command::None;
    switch (command) {
    case Command::None:
        QListWidget::keyPressEvent(event);
        return;
    case Command::SelectAll:
        model_->SelectAll();
        break;
    case Command::Copy:
        model_->Copy();
        break;
    case Command::Cut:
        model_->Cut();
        break;
    case Command::Paste:
        model_->Paste();
        break;
    case Command::Delete:
        model_->DeleteSelected();
        break;
    case Command::Undo:
        model_->Undo();
        break;
    case Command::Redo:
        model_->Redo();
        break;
    }
    event->accept();
}

} // namespace quillet::gui
