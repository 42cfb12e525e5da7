// Signals reach the Qt event loop as caught(); the previous handling comes back with the watcher's end.
#include <gtest/gtest.h>

#include <csignal>

#include <QCoreApplication>
#include <QSignalSpy>

#include "app/signal_watcher.h"

namespace quillet::app {
namespace {

TEST(SignalWatcherTest, ASignalArrivesOnTheEventLoopAndTheOldHandlerReturns) {
    {
        SignalWatcher watcher({SIGUSR1, SIGUSR2});
        ASSERT_TRUE(watcher.ok());
        QSignalSpy spy(&watcher, &SignalWatcher::caught);
        std::raise(SIGUSR2);
        std::raise(SIGUSR1);
        EXPECT_EQ(spy.count(), 0); // nothing happens inside the handler
        for (int i = 0; i < 100 && spy.count() < 2; ++i) QCoreApplication::processEvents();
        ASSERT_EQ(spy.count(), 2);
        EXPECT_EQ(spy[0][0].toInt(), SIGUSR2);
        EXPECT_EQ(spy[1][0].toInt(), SIGUSR1);
    }
    struct sigaction now {};
    ASSERT_EQ(sigaction(SIGUSR1, nullptr, &now), 0);
    EXPECT_EQ(now.sa_handler, SIG_DFL);
}

} // namespace
} // namespace quillet::app
