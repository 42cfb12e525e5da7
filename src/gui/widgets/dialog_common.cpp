#include "gui/widgets/dialog_common.h"

#include <QAbstractItemView>
#include <QComboBox>
#include <QGuiApplication>
#include <QKeyEvent>
#include <QScreen>
#include <QSignalBlocker>

#include "gui/rules.h"
#include "model/key_table.h"

namespace quillet::gui {

CDialogCommon::CDialogCommon(QWidget* parent, Qt::WindowFlags flags) : QDialog(parent, flags) {}

CDialogCommon::~CDialogCommon() = default;

void CDialogCommon::FillKeyCombo(QComboBox* combo, int code) {
    if (!combo) return;
    const QSignalBlocker blocker(combo);
    combo->setUpdatesEnabled(false);
    combo->clear();
    QStringList names;
    names.reserve(kKeyRowCount);
    for (int i = 0; i < kKeyRowCount; ++i) names.append(QString::fromLatin1(kKeyTable[i].longName));
    combo->addItems(names);
    combo->setCurrentIndex(KeyIndexOf(code));
    combo->setUpdatesEnabled(true);
}

void CDialogCommon::FillKeyCombo(int comboId, int code) {
    FillKeyCombo(Control<QComboBox>(comboId), code);
}

bool CDialogCommon::IsChoosingIn(const QComboBox* combo) {
    if (!combo || !combo->isEnabled()) return false;
    return combo->hasFocus() || (combo->view() && combo->view()->isVisible());
}

void CDialogCommon::SelectCapturedRow(QComboBox* combo, int row) {
    if (!combo) return;
    combo->setCurrentIndex(row);
    if (combo->view() && combo->view()->isVisible()) combo->hidePopup();
}

void CDialogCommon::FillNumberCombo(QComboBox* combo, int n, int selectedRow) {
    if (!combo) return;
    if (n < 0) n = 0;
    const QSignalBlocker blocker(combo);
    combo->setUpdatesEnabled(false);
    combo->clear();
    QStringList rows;
    rows.reserve(n + 1);
    rows.append(QStringLiteral("--"));
    for (int i = 0; i < n; ++i) rows.append(QString::number(i));
    combo->addItems(rows);
    combo->setCurrentIndex(selectedRow >= 0 && selectedRow <= n ? selectedRow : -1);
    combo->setUpdatesEnabled(true);
}

void CDialogCommon::FillNumberCombo(int comboId, int n, int selectedRow) {
    FillNumberCombo(Control<QComboBox>(comboId), n, selectedRow);
}

void CDialogCommon::keyPressEvent(QKeyEvent* event) {
    const int key = event->key();
    if (!isWindow() && (key == Qt::Key_Escape || key == Qt::Key_Return || key == Qt::Key_Enter)) {
        event->ignore();
        return;
    }
    QDialog::keyPressEvent(event);
}

platform::ScreenRect CDialogCommon::VirtualScreen() {
    const QScreen* screen = QGuiApplication::primaryScreen();
    if (!screen) return {};
    const QRect r = screen->virtualGeometry();
    return {r.x(), r.y(), r.width(), r.height()};
}

void CDialogCommon::ClampToVirtualScreen(int32_t& x, int32_t& y) const {
    // Before the window is first shown the frame is not known yet; its client size is the best there is.
    const QRect frame = frameGeometry();
    gui::ClampToVirtualScreen(x, y, frame.width(), frame.height(), VirtualScreen());
}

void CDialogCommon::MoveInsideVirtualScreen(int32_t& x, int32_t& y) {
    ClampToVirtualScreen(x, y);
    move(x, y);
}

} // namespace quillet::gui
