// Brings POSIX signals into the Qt event loop: the handler only writes the signal number into a pipe, and a
// socket notifier on the pipe's other end emits caught() on the loop's thread, where anything may be done.
#pragma once

#include <csignal>
#include <vector>

#include <QObject>

class QSocketNotifier;

namespace quillet::app {

class SignalWatcher : public QObject {
    Q_OBJECT
public:
    // Catches these signals from now on; the previous handlers are put back when the watcher goes. Only one
    // watcher may exist at a time.
    explicit SignalWatcher(const std::vector<int>& signalNumbers, QObject* parent = nullptr);
    ~SignalWatcher() override;
    SignalWatcher(const SignalWatcher&) = delete;
    SignalWatcher& operator=(const SignalWatcher&) = delete;

    // False when the pipe or a handler could not be set up (the signals then keep their previous handling).
    bool ok() const { return ok_; }

signals:
    void caught(int signalNumber);

private:
    void Drain();

    struct Previous {
        int signalNumber;
        struct sigaction action;
    };
    std::vector<Previous> previous_;
    int fds_[2] = {-1, -1};
    QSocketNotifier* notifier_ = nullptr;
    bool ok_ = false;
};

} // namespace quillet::app
