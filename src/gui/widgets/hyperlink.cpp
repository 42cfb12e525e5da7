#include "gui/widgets/hyperlink.h"

#include <QDesktopServices>
#include <QMouseEvent>
#include <QUrl>

#include "gui/text.h"

namespace quillet::gui {

CHyperLink::CHyperLink(QWidget* parent) : CHyperLink(QString(), parent) {}

CHyperLink::CHyperLink(const QString& text, QWidget* parent) : QLabel(text, parent) {
    QFont underlined = font();
    underlined.setUnderline(true);
    setFont(underlined);
    setCursor(Qt::ArrowCursor); // the owner may set the pointing hand
    setTextFormat(Qt::PlainText);
    setAutoFillBackground(false);
    ApplyColor();
}

void CHyperLink::SetURL(const QString& text) {
    url_ = text.trimmed();
}

void CHyperLink::mouseReleaseEvent(QMouseEvent* event) {
    if (event->button() == Qt::LeftButton && rect().contains(event->position().toPoint())) {
        Activate();
        event->accept();
        return;
    }
    QLabel::mouseReleaseEvent(event);
}

void CHyperLink::Activate() {
    visited_ = true;
    ApplyColor();
    bool opened = false;
    if (!url_.isEmpty()) opened = QDesktopServices::openUrl(QUrl::fromUserInput(url_));
    emit clicked(opened);
}

void CHyperLink::ApplyColor() {
    QPalette p = palette();
    p.setColor(QPalette::WindowText, ColorFromColorRef(TextColor()));
    setPalette(p);
    update();
}

} // namespace quillet::gui
