// Controls carry the numeric ID of their dialog resource as their object name ("1062"), so that code and tests
// find them by that ID.
#pragma once

#include <QString>
#include <QWidget>

namespace quillet::gui {

inline QString ControlName(int id) {
    return QString::number(id);
}

template <class W> W* SetControlId(W* widget, int id) {
    widget->setObjectName(ControlName(id));
    return widget;
}

// The child control with that ID, or nullptr (also when it is not of type W).
template <class W = QWidget> W* FindControl(const QWidget* parent, int id) {
    return parent->findChild<W*>(ControlName(id));
}

} // namespace quillet::gui
