// The base of the program's dialogs: key and number combo boxes, and keeping a stored window position on the
// desktop.
#pragma once

#include <cstdint>

#include <QDialog>

#include "gui/widgets/control_id.h"
#include "platform/platform.h"

class QComboBox;

namespace quillet::gui {

class CDialogCommon : public QDialog {
    Q_OBJECT
public:
    explicit CDialogCommon(QWidget* parent = nullptr, Qt::WindowFlags flags = {});
    ~CDialogCommon() override;

    // All 147 key names in key-table order, the row of code selected, none when the table has no such code.
    // Emits no selection change, as a selection set by code does not.
    static void FillKeyCombo(QComboBox* combo, int code);
    void FillKeyCombo(int comboId, int code);
    // Whether a person is choosing in this key list, so that a key pressed now is meant for it: the list has the
    // focus, or it is dropped down (its popup then holds the focus, which the list itself would keep on the
    // platform the dialogs were made for).
    static bool IsChoosingIn(const QComboBox* combo);
    // Selects row (none for -1) for a captured key and closes the list's popup when it is open, as choosing a row
    // would. Emits the selection change.
    static void SelectCapturedRow(QComboBox* combo, int row);
    // "--" and the numbers 0 to n - 1 (row k > 0 stands for k - 1); selectedRow selected, none when out of range.
    static void FillNumberCombo(QComboBox* combo, int n, int selectedRow);
    void FillNumberCombo(int comboId, int n, int selectedRow);

    // Changes the stored top-left corner (x, y) of this window in place so that the window, at its current size,
    // lies inside the virtual screen. The caller then moves the window there and later stores its position again.
    void ClampToVirtualScreen(int32_t& x, int32_t& y) const;
    // Clamps (x, y) as above and moves the window there without resizing it.
    void MoveInsideVirtualScreen(int32_t& x, int32_t& y);

    // The bounding rectangle of all screens.
    static platform::ScreenRect VirtualScreen();

    template <class W = QWidget> W* Control(int id) const { return FindControl<W>(this, id); }

protected:
    // A dialog used as a page inside another leaves Enter and Esc to the dialog around it.
    void keyPressEvent(QKeyEvent* event) override;
};

} // namespace quillet::gui
