#include "gui/widgets/edit_log.h"

#include <algorithm>
#include <cstdint>

#include <QKeyEvent>
#include <QScrollBar>
#include <QTextBlock>
#include <QTextCursor>
#include <QTextDocument>

#include "gui/rules.h"

namespace quillet::gui {

CEditLogB::CEditLogB(QWidget* parent) : QPlainTextEdit(parent) {
    setReadOnly(true);
    setTextInteractionFlags(Qt::TextSelectableByMouse | Qt::TextSelectableByKeyboard);
    setVerticalScrollBarPolicy(Qt::ScrollBarAlwaysOn);
    setLineWrapMode(QPlainTextEdit::NoWrap);
    // The log only grows and is cut from the front: an undo history would keep every dropped line alive.
    setUndoRedoEnabled(false);
}

void CEditLogB::AppendPending(const QString& piece) {
    if (maxLines > 0 && pendingText_.size() >= static_cast<std::size_t>(maxLines)) pendingText_.pop_front();
    QString text = piece;
    text.remove(QLatin1Char('\r'));
    pendingText_.push_back(std::move(text));
}

int CEditLogB::LineCount() const {
    const QTextDocument* doc = document();
    int lines = doc->blockCount();
    if (doc->lastBlock().length() <= 1) --lines; // an empty last line is no line of the log
    return lines;
}

void CEditLogB::FlushPending() {
    if (!limitSet) {
        const int64_t limit = maxLines > 0 ? int64_t{maxLines} * 1024 : INT32_MAX;
        textLimit_ = static_cast<int>(std::min<int64_t>(limit, INT32_MAX));
        limitSet = true;
    }
    QTextDocument* doc = document();

    const int drop = LogLinesToDrop(LineCount(), maxLines);
    if (drop > 0) {
        setUpdatesEnabled(false);
        QTextCursor cut(doc);
        cut.setPosition(doc->findBlockByNumber(drop).position(), QTextCursor::KeepAnchor);
        cut.removeSelectedText();
        verticalScrollBar()->setValue(verticalScrollBar()->maximum());
        setUpdatesEnabled(true);
    }

    if (pendingText_.empty()) return;
    QTextCursor end(doc);
    end.movePosition(QTextCursor::End);
    end.beginEditBlock();
    int length = doc->characterCount() - 1; // without the document's closing paragraph mark
    for (const QString& piece : pendingText_) {
        const int room = textLimit_ - length;
        if (room <= 0) break;
        QString text = piece.left(room);
        if (!text.isEmpty() && text.back().isHighSurrogate()) text.chop(1);
        end.insertText(text);
        length += static_cast<int>(text.size());
    }
    end.endEditBlock();
    pendingText_.clear();
    moveCursor(QTextCursor::End);
    ensureCursorVisible();
}

void CEditLogB::keyPressEvent(QKeyEvent* event) {
    if (event->key() == Qt::Key_A && (event->modifiers() & Qt::ControlModifier)) {
        selectAll();
        ensureCursorVisible();
        event->accept();
        return;
    }
    QPlainTextEdit::keyPressEvent(event);
}

} // namespace quillet::gui
