#include "gui/editors/item_dialog_controls.h"

#include <QCheckBox>
#include <QComboBox>
#include <QDialog>
#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QRadioButton>

#include "gui/message_box.h"
#include "gui/text.h"
#include "gui/widgets/control_id.h"

namespace quillet::gui::item_dialog {

namespace {

template <class W> W* Captioned(W* widget, int id) {
    SetControlId(widget, id);
    widget->setAccessibleName(widget->text());
    return widget;
}

} // namespace

QPushButton* Button(QWidget* parent, int id, const char* utf8Caption) {
    return Captioned(new QPushButton(Utf8(utf8Caption), parent), id);
}

QCheckBox* Check(QWidget* parent, int id, const char* utf8Caption) {
    return Captioned(new QCheckBox(Utf8(utf8Caption), parent), id);
}

QRadioButton* Radio(QWidget* parent, int id, const char* utf8Caption) {
    return Captioned(new QRadioButton(Utf8(utf8Caption), parent), id);
}

QLineEdit* Edit(QWidget* parent, int id, const QString& accessibleName) {
    auto* edit = SetControlId(new QLineEdit(parent), id);
    edit->setAccessibleName(accessibleName);
    return edit;
}

QComboBox* DropDown(QWidget* parent, int id, const QString& accessibleName) {
    auto* combo = SetControlId(new QComboBox(parent), id);
    combo->setAccessibleName(accessibleName);
    // A long list (the 147 key names) scrolls instead of covering the screen.
    combo->setMaxVisibleItems(20);
    return combo;
}

QLabel* Text(QWidget* parent, const char* utf8Text, bool wrap) {
    auto* label = new QLabel(Utf8(utf8Text), parent);
    label->setWordWrap(wrap);
    return label;
}

QLabel* LabelFor(QWidget* parent, QWidget* field, const char* utf8Text) {
    auto* label = new QLabel(Utf8(utf8Text), parent);
    label->setBuddy(field);
    return label;
}

QHBoxLayout* OkCancelRow(QDialog* dialog) {
    auto* ok = Button(dialog, kIdOk, "OK");
    auto* cancel = Button(dialog, kIdCancel, "Cancel");
    ok->setDefault(true);
    QObject::connect(ok, &QPushButton::clicked, dialog, &QDialog::accept);
    QObject::connect(cancel, &QPushButton::clicked, dialog, &QDialog::reject);
    auto* row = new QHBoxLayout;
    row->addStretch(1);
    row->addWidget(ok);
    row->addWidget(cancel);
    return row;
}

bool Refused(QWidget* dialog, const std::optional<std::string>& cp949Message) {
    if (!cp949Message) return false;
    ShowMessageBox(dialog, FromCp949(*cp949Message), QMessageBox::Warning, QMessageBox::Ok);
    return true;
}

void SetFieldText(QLineEdit* edit, const QString& text) {
    if (edit->text() != text) edit->setText(text);
}

} // namespace quillet::gui::item_dialog
