#include "gui/mainwindow/qt_event_loop.h"

#include <QMetaObject>
#include <QTimer>

namespace quillet::gui {

QtEventLoop::QtEventLoop(QObject* parent) : QObject(parent) {}

QtEventLoop::~QtEventLoop() = default;

void QtEventLoop::Post(std::function<void()> fn) {
    QMetaObject::invokeMethod(this, std::move(fn), Qt::QueuedConnection);
}

void QtEventLoop::StartTimer(int id, uint32_t periodMs, std::function<void()> fn) {
    StopTimer(id);
    auto* timer = new QTimer(this);
    timer->setObjectName(QStringLiteral("timer%1").arg(id));
    timer->setTimerType(Qt::PreciseTimer);
    connect(timer, &QTimer::timeout, this, std::move(fn));
    timers_[id] = timer;
    timer->start(static_cast<int>(periodMs));
}

void QtEventLoop::StopTimer(int id) {
    const auto it = timers_.find(id);
    if (it == timers_.end()) return;
    it->second->stop();
    it->second->deleteLater();
    timers_.erase(it);
}

int QtEventLoop::TimerInterval(int id) const {
    const auto it = timers_.find(id);
    if (it == timers_.end() || !it->second->isActive()) return -1;
    return it->second->interval();
}

} // namespace quillet::gui
