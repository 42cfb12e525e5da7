// Helpers of the widget tests that drive modal windows: run a step inside the window the next command opens, and
// press keys as a person does anywhere on the desktop (through the fake input monitor).
#pragma once

#include <gtest/gtest.h>

#include <cstdint>
#include <functional>
#include <string>

#include <QApplication>
#include <QCoreApplication>
#include <QObject>
#include <QTimer>

#include "platform/fake/fake_platform.h"

namespace quillet::gui::test {

// Runs a step in the modal window of type W that the next command opens; the step must close it.
template <class W> class NextModal {
public:
    explicit NextModal(std::string what) : what_(std::move(what)) {
        timer_.setSingleShot(true);
        QObject::connect(&timer_, &QTimer::timeout, [this] {
            auto* window = qobject_cast<W*>(QApplication::activeModalWidget());
            if (!window) {
                ADD_FAILURE() << "no " << what_ << " open";
                return;
            }
            step_(*window);
            if (window->isVisible()) {
                ADD_FAILURE() << "the " << what_ << " was left open";
                window->reject();
            }
        });
    }
    void Run(std::function<void(W&)> step) {
        step_ = std::move(step);
        timer_.start(0);
    }
    // True while the step waits for a window that has not opened.
    bool pending() const { return timer_.isActive(); }
    void Cancel() { timer_.stop(); }

private:
    std::string what_;
    QTimer timer_;
    std::function<void(W&)> step_;
};

// A person presses and releases a key; the records reach the session's loop and are handled now.
inline void TapKey(platform::FakePlatform& fake, QObject& loop, uint8_t vk) {
    platform::RawInputRecord r;
    r.vkey = vk;
    r.message = platform::WM_KEYDOWN;
    ASSERT_TRUE(fake.PushRaw(r));
    r.message = platform::WM_KEYUP;
    ASSERT_TRUE(fake.PushRaw(r));
    QCoreApplication::sendPostedEvents(&loop);
}

} // namespace quillet::gui::test
