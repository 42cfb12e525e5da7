#include "gui/widgets/edit_ex.h"

#include <QKeyEvent>

namespace quillet::gui {

CEditEx::CEditEx(QWidget* parent) : QPlainTextEdit(parent) {
    setTabChangesFocus(true);
}

void CEditEx::keyPressEvent(QKeyEvent* event) {
    // Ctrl+A is taken here rather than left to the key bindings, so that it selects all on every platform style.
    if (event->key() == Qt::Key_A && (event->modifiers() & Qt::ControlModifier)) {
        selectAll();
        event->accept();
        return;
    }
    QPlainTextEdit::keyPressEvent(event);
}

} // namespace quillet::gui
