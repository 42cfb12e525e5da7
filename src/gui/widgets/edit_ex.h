// A multi-line text field in which Ctrl+A selects the whole text.
#pragma once

#include <QPlainTextEdit>

namespace quillet::gui {

class CEditEx : public QPlainTextEdit {
    Q_OBJECT
public:
    explicit CEditEx(QWidget* parent = nullptr);

protected:
    void keyPressEvent(QKeyEvent* event) override;
};

} // namespace quillet::gui
