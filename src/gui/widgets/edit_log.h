// An append-only log view with a line cap. Producers queue text pieces at any time; the owner's timer appends them
// in one batch with FlushPending, which first drops the oldest lines once the cap is passed.
#pragma once

#include <cstddef>
#include <deque>

#include <QPlainTextEdit>
#include <QString>

namespace quillet::gui {

class CEditLogB : public QPlainTextEdit {
    Q_OBJECT
public:
    explicit CEditLogB(QWidget* parent = nullptr);

    // Line cap; the text limit (maxLines x 1024 characters) is taken from it at the first flush after limitSet is
    // cleared.
    int maxLines = 1000;
    bool limitSet = false;

    // Queues one piece (a line ending in "\r\n" or "\n", or any text; carriage returns are dropped). The queue keeps at
    // most maxLines pieces: older ones would be dropped by the next flush anyway.
    void AppendPending(const QString& piece);
    // Drops the oldest lines when there are more than maxLines (8/10 of maxLines remain), then appends the queued
    // pieces at the end, as far as the text limit allows, and empties the queue.
    void FlushPending();

    std::size_t pendingCount() const { return pendingText_.size(); }
    // Complete lines plus a last line without line break, if any.
    int LineCount() const;
    int textLimit() const { return textLimit_; }

protected:
    void keyPressEvent(QKeyEvent* event) override;

private:
    std::deque<QString> pendingText_;
    int textLimit_ = 0;
};

} // namespace quillet::gui
