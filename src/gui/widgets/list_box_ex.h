// The item list of the macro editor: one text row per item of the macro being edited, several rows selectable
// (Shift and Ctrl with the mouse and the arrow keys). It shows the editor's model and forwards what the person does
// to it: the selection, Ctrl+A (select all), Ctrl+C / Ctrl+X / Ctrl+V (the item clipboard), Delete, and Ctrl+Z /
// Ctrl+Y (undo, redo). These keys act on the items themselves, so the model decides what they do (the start item
// is never copied, cut or deleted); the list redraws itself from the model when told to (Refresh).
#pragma once

#include <vector>

#include <QListWidget>

namespace quillet {
class MacroEditor;
}

namespace quillet::gui {

class CListBoxEx : public QListWidget {
    Q_OBJECT
public:
    explicit CListBoxEx(QWidget* parent = nullptr);

    // The model the rows mirror; null shows nothing and forwards nothing. The model must outlive the binding.
    void Bind(MacroEditor* model);
    MacroEditor* model() const { return model_; }

    // Rows and selection from the model. Neither sends the selection back to the model.
    void Refresh();
    void RefreshSelection();

    // The selected rows as the list shows them, ascending.
    std::vector<int> SelectedRows() const;

protected:
    bool event(QEvent* event) override;
    void keyPressEvent(QKeyEvent* event) override;

private:
    enum class Command { None, SelectAll, Copy, Cut, Paste, Delete, Undo, Redo };
    static Command CommandOf(const QKeyEvent& event);
    void ForwardSelection();

    MacroEditor* model_ = nullptr;
    bool refreshing_ = false; // selection changes made by Refresh are the model's own
};

} // namespace quillet::gui
