// The session's event loop in the desktop program: Qt's own, on the thread that creates this object.
#pragma once

#include <map>

#include <QObject>

#include "session/event_loop.h"

class QTimer;

namespace quillet::gui {

class QtEventLoop final : public QObject, public EventLoop {
    Q_OBJECT
public:
    explicit QtEventLoop(QObject* parent = nullptr);
    ~QtEventLoop() override;

    // Closures posted to a loop that is deleted before they run are discarded with it.
    void Post(std::function<void()> fn) override;
    void StartTimer(int id, uint32_t periodMs, std::function<void()> fn) override;
    void StopTimer(int id) override;
    int TimerInterval(int id) const override;

private:
    std::map<int, QTimer*> timers_;
};

} // namespace quillet::gui
