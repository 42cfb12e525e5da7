#include "app/signal_watcher.h"

#include <fcntl.h>
#include <unistd.h>

#include <cerrno>

#include <QSocketNotifier>

namespace quillet::app {

namespace {

// The write end of the pipe; only the handler reads it.
volatile std::sig_atomic_t gWriteFd = -1;

void OnSignal(int signalNumber) {
    const int savedErrno = errno;
    const auto byte = static_cast<unsigned char>(signalNumber);
    // A full pipe drops the byte: enough of the same signals are already waiting.
    [[maybe_unused]] const ssize_t written = write(gWriteFd, &byte, 1);
    errno = savedErrno;
}

} // namespace

SignalWatcher::SignalWatcher(const std::vector<int>& signalNumbers, QObject* parent) : QObject(parent) {
    if (gWriteFd != -1 || pipe2(fds_, O_NONBLOCK | O_CLOEXEC) != 0) return;
    gWriteFd = fds_[1];
    notifier_ = new QSocketNotifier(fds_[0], QSocketNotifier::Read, this);
    connect(notifier_, &QSocketNotifier::activated, this, &SignalWatcher::Drain);

    ok_ = true;
    for (int signalNumber : signalNumbers) {
        struct sigaction action {};
        action.sa_handler = OnSignal;
        sigemptyset(&action.sa_mask);
        action.sa_flags = SA_RESTART;
        Previous previous{signalNumber, {}};
        if (sigaction(signalNumber, &action, &previous.action) != 0) {
            ok_ = false;
            continue;
        }
        previous_.push_back(previous);
    }
}

SignalWatcher::~SignalWatcher() {
    for (const Previous& p : previous_) sigaction(p.signalNumber, &p.action, nullptr);
    if (fds_[1] != -1) {
        gWriteFd = -1;
        close(fds_[1]);
    }
    if (fds_[0] != -1) close(fds_[0]);
}

void SignalWatcher::Drain() {
    unsigned char bytes[64];
    for (;;) {
        const ssize_t n = read(fds_[0], bytes, sizeof bytes);
        if (n <= 0) break;
        for (ssize_t i = 0; i < n; ++i) emit caught(bytes[i]);
    }
}

} // namespace quillet::app
