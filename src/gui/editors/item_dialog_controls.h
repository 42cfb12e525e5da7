// The pieces every item dialog is made of: controls that carry their resource ID and an accessible name, the OK and
// Cancel row, and the refusal of an OK. The dialogs themselves only lay these out and tie them to their models.
#pragma once

#include <optional>
#include <string>

#include <QString>

#include "gui/text.h"

class QCheckBox;
class QComboBox;
class QDialog;
class QHBoxLayout;
class QLabel;
class QLineEdit;
class QPushButton;
class QRadioButton;
class QWidget;

namespace quillet::gui::item_dialog {

// The ID of the OK and Cancel buttons in every dialog.
inline constexpr int kIdOk = 1;
inline constexpr int kIdCancel = 2;

// A text the dialog shows, in the chosen language.
inline QString Utf8(const char* text) {
    return Text(text);
}

// Controls with a caption: that caption is their accessible name.
QPushButton* Button(QWidget* parent, int id, const char* utf8Caption);
QCheckBox* Check(QWidget* parent, int id, const char* utf8Caption);
QRadioButton* Radio(QWidget* parent, int id, const char* utf8Caption);
// A field named after the label in front of it (or after it, for the unit lists of the clock).
QLineEdit* Edit(QWidget* parent, int id, const QString& accessibleName);
QComboBox* DropDown(QWidget* parent, int id, const QString& accessibleName);
// A static text, wrapped to the dialog's width when long.
QLabel* Text(QWidget* parent, const char* utf8Text, bool wrap = false);
// The label in front of a field: it names the field for screen readers and moves the focus to it on its mnemonic.
QLabel* LabelFor(QWidget* parent, QWidget* field, const char* utf8Text);

// "OK" (1, the default button) and "Cancel" (2), right-aligned, wired to the dialog's accept and reject.
QHBoxLayout* OkCancelRow(QDialog* dialog);

// An OK the model refused: its message is shown (a message box with OK) and true is returned, so that the dialog
// stays open. Nothing happens for an accepted OK.
bool Refused(QWidget* dialog, const std::optional<std::string>& cp949Message);

// Puts the text into a field only when it differs, so that a field the person is typing in keeps its cursor.
void SetFieldText(QLineEdit* edit, const QString& text);

} // namespace quillet::gui::item_dialog
