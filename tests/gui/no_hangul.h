// For the English windows: every text a person or a screen reader gets from a widget tree that still has Hangul.
//
// HangulTexts(root) walks root and all its descendant widgets and actions and looks at what they show or announce:
// window titles, tooltips, accessible names and descriptions, status tips, the texts of labels, buttons, group
// boxes, line edits (text and placeholder), combo box entries, list, tree and table items, tab captions, and
// the texts of menus and actions. Each hit is one line "ClassName#objectName property: text", so a failing test
// says where the Korean is left.
//
//   EXPECT_EQ(test::HangulReport(&window), "");   // the same, one UTF-8 line per hit: readable when it fails
//
// Content that is not the program's own (a macro's name, a file name) must be ASCII in such a test, or it counts.
#pragma once

#include <string>

#include <QAbstractButton>
#include <QAction>
#include <QComboBox>
#include <QGroupBox>
#include <QLabel>
#include <QLineEdit>
#include <QListWidget>
#include <QMenu>
#include <QPlainTextEdit>
#include <QString>
#include <QStringList>
#include <QTabBar>
#include <QTableWidget>
#include <QTextEdit>
#include <QTreeWidget>
#include <QWidget>

namespace quillet::gui::test {

// Hangul syllables, jamo and compatibility jamo (half-width forms included).
inline bool HasHangul(const QString& text) {
    for (const QChar c : text) {
        const char16_t u = c.unicode();
        if ((u >= 0xAC00 && u <= 0xD7A3) || (u >= 0x1100 && u <= 0x11FF) || (u >= 0x3130 && u <= 0x318F) ||
            (u >= 0xA960 && u <= 0xA97F) || (u >= 0xD7B0 && u <= 0xD7FF) || (u >= 0xFFA0 && u <= 0xFFDC))
            return true;
    }
    return false;
}

namespace detail {

inline QString Where(const QObject* o) {
    const QString name = o->objectName();
    return QString::fromLatin1(o->metaObject()->className()) + (name.isEmpty() ? QString() : QLatin1Char('#') + name);
}

inline void Check(QStringList& hits, const QObject* o, const char* what, const QString& text) {
    if (HasHangul(text)) hits << Where(o) + QLatin1Char(' ') + QLatin1String(what) + QStringLiteral(": ") + text;
}

inline void CheckAction(QStringList& hits, const QAction* a) {
    Check(hits, a, "text", a->text());
    Check(hits, a, "toolTip", a->toolTip());
    Check(hits, a, "statusTip", a->statusTip());
    Check(hits, a, "whatsThis", a->whatsThis());
}

inline void CheckWidget(QStringList& hits, const QWidget* w) {
    Check(hits, w, "windowTitle", w->windowTitle());
    Check(hits, w, "toolTip", w->toolTip());
    Check(hits, w, "accessibleName", w->accessibleName());
    Check(hits, w, "accessibleDescription", w->accessibleDescription());
    Check(hits, w, "statusTip", w->statusTip());
    Check(hits, w, "whatsThis", w->whatsThis());
    if (const auto* label = qobject_cast<const QLabel*>(w)) Check(hits, w, "text", label->text());
    if (const auto* button = qobject_cast<const QAbstractButton*>(w)) Check(hits, w, "text", button->text());
    if (const auto* group = qobject_cast<const QGroupBox*>(w)) Check(hits, w, "title", group->title());
    if (const auto* edit = qobject_cast<const QLineEdit*>(w)) {
        Check(hits, w, "text", edit->text());
        Check(hits, w, "placeholderText", edit->placeholderText());
    }
    if (const auto* text = qobject_cast<const QPlainTextEdit*>(w)) {
        Check(hits, w, "text", text->toPlainText());
        Check(hits, w, "placeholderText", text->placeholderText());
    }
    if (const auto* text = qobject_cast<const QTextEdit*>(w)) {
        Check(hits, w, "text", text->toPlainText());
        Check(hits, w, "placeholderText", text->placeholderText());
    }
    if (const auto* combo = qobject_cast<const QComboBox*>(w)) {
        for (int i = 0; i < combo->count(); ++i) Check(hits, w, "item", combo->itemText(i));
        if (combo->isEditable()) Check(hits, w, "text", combo->currentText());
    }
    if (const auto* list = qobject_cast<const QListWidget*>(w)) {
        for (int i = 0; i < list->count(); ++i) {
            Check(hits, w, "item", list->item(i)->text());
            Check(hits, w, "itemToolTip", list->item(i)->toolTip());
        }
    }
    if (const auto* tree = qobject_cast<const QTreeWidget*>(w)) {
        for (int c = 0; c < tree->columnCount(); ++c) Check(hits, w, "header", tree->headerItem()->text(c));
        QList<const QTreeWidgetItem*> items;
        for (int i = 0; i < tree->topLevelItemCount(); ++i) items << tree->topLevelItem(i);
        while (!items.isEmpty()) {
            const QTreeWidgetItem* item = items.takeFirst();
            for (int c = 0; c < item->columnCount(); ++c) {
                Check(hits, w, "item", item->text(c));
                Check(hits, w, "itemToolTip", item->toolTip(c));
            }
            for (int i = 0; i < item->childCount(); ++i) items << item->child(i);
        }
    }
    if (const auto* table = qobject_cast<const QTableWidget*>(w)) {
        for (int c = 0; c < table->columnCount(); ++c)
            if (const QTableWidgetItem* h = table->horizontalHeaderItem(c)) Check(hits, w, "header", h->text());
        for (int r = 0; r < table->rowCount(); ++r)
            for (int c = 0; c < table->columnCount(); ++c)
                if (const QTableWidgetItem* item = table->item(r, c)) Check(hits, w, "item", item->text());
    }
    if (const auto* tabs = qobject_cast<const QTabBar*>(w)) {
        for (int i = 0; i < tabs->count(); ++i) {
            Check(hits, w, "tab", tabs->tabText(i));
            Check(hits, w, "tabToolTip", tabs->tabToolTip(i));
        }
    }
    if (const auto* menu = qobject_cast<const QMenu*>(w)) Check(hits, w, "title", menu->title());
    for (const QAction* a : w->actions()) CheckAction(hits, a);
}

} // namespace detail

// Every Hangul text of root and of the widgets and actions below it (hidden ones included), one line each.
inline QStringList HangulTexts(const QWidget* root) {
    QStringList hits;
    if (!root) return hits;
    detail::CheckWidget(hits, root);
    for (const QWidget* w : root->findChildren<QWidget*>()) detail::CheckWidget(hits, w);
    // Actions that belong to no widget's action list (a menu's actions are checked with the menu).
    for (const QAction* a : root->findChildren<QAction*>()) {
        if (a->associatedObjects().isEmpty()) detail::CheckAction(hits, a);
    }
    return hits;
}

// HangulTexts as one UTF-8 text, a line per hit; empty when there is none.
inline std::string HangulReport(const QWidget* root) {
    return HangulTexts(root).join(QLatin1Char('\n')).toStdString();
}

} // namespace quillet::gui::test
