// A clickable link: blue and underlined until it is first clicked, purple afterwards; a click opens the target in
// the desktop's browser.
#pragma once

#include <cstdint>

#include <QLabel>

namespace quillet::gui {

class CHyperLink : public QLabel {
    Q_OBJECT
public:
    static constexpr uint32_t kLinkColor = 0xFF0000;    // 0x00BBGGRR: blue
    static constexpr uint32_t kVisitedColor = 0x800080; // purple

    explicit CHyperLink(QWidget* parent = nullptr);
    CHyperLink(const QString& text, QWidget* parent);

    // Stores the target without leading and trailing white space.
    void SetURL(const QString& text);
    const QString& url() const { return url_; }
    bool visited() const { return visited_; }
    // The colour the text is drawn in now, 0x00BBGGRR.
    uint32_t TextColor() const { return visited_ ? kVisitedColor : kLinkColor; }

signals:
    // After the target was handed to the desktop (false when it refused it).
    void clicked(bool opened);

protected:
    void mouseReleaseEvent(QMouseEvent* event) override;

private:
    void Activate();
    void ApplyColor();

    bool visited_ = false;
    QString url_;
};

} // namespace quillet::gui
