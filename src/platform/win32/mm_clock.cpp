#include "platform/platform.h"
#include "platform/win32/backend.h"

#include <algorithm>
#include <thread>

#include <windows.h>

#include <mmsystem.h>

namespace quillet::platform::win32 {
namespace {

// The tick state whose callback runs on this thread (null elsewhere): how Stop tells a call from its own tick.
thread_local const Win32PeriodicTimer::TickState* tickingState = nullptr;

void CALLBACK TimerCallback(UINT, UINT, DWORD_PTR user, DWORD_PTR, DWORD_PTR) {
    auto* state = reinterpret_cast<Win32PeriodicTimer::TickState*>(user);
    if (!state->ready.load(std::memory_order_acquire) || state->stopped.load(std::memory_order_acquire)) return;
    tickingState = state;
    state->onTick();
    tickingState = nullptr;
}

} // namespace

bool Win32PeriodicTimer::Start(uint32_t periodMs, uint32_t resolutionMs, std::function<void()> onTick) {
    Stop();
    state_ = std::make_shared<TickState>();
    state_->onTick = std::move(onTick);
    // TIME_KILL_SYNCHRONOUS: once timeKillEvent returns no callback runs any more, so the state can go.
    timerId_ = timeSetEvent(std::max<uint32_t>(periodMs, 1), resolutionMs, TimerCallback,
                            reinterpret_cast<DWORD_PTR>(state_.get()),
                            TIME_PERIODIC | TIME_CALLBACK_FUNCTION | TIME_KILL_SYNCHRONOUS);
    if (timerId_ == 0) {
        state_.reset();
        return false;
    }
    state_->ready.store(true, std::memory_order_release);
    return true;
}

void Win32PeriodicTimer::Stop() {
    if (state_ && tickingState == state_.get()) {
        // From its own tick: a synchronous kill here would wait for this very callback.
        state_->stopped.store(true, std::memory_order_release);
        std::thread([id = timerId_, keep = state_] { timeKillEvent(id); }).detach();
        timerId_ = 0;
        state_.reset();
        return;
    }
    if (timerId_ != 0) {
        timeKillEvent(timerId_);
        timerId_ = 0;
    }
    state_.reset();
}

uint32_t Win32Clock::NowMs() {
    return timeGetTime();
}

LocalTime Win32Clock::LocalNow() {
    SYSTEMTIME t{};
    GetLocalTime(&t);
    return {t.wHour, t.wMinute, t.wSecond};
}

void Win32Clock::Sleep(uint32_t ms) {
    ::Sleep(ms);
}

TimerCaps Win32Clock::GetTimerCaps() {
    TIMECAPS caps{};
    if (timeGetDevCaps(&caps, sizeof caps) != TIMERR_NOERROR) return TimerCaps{};
    return {caps.wPeriodMin, caps.wPeriodMax};
}

void Win32Clock::BeginPeriod(uint32_t ms) {
    timeBeginPeriod(ms);
}
void Win32Clock::EndPeriod(uint32_t ms) {
    timeEndPeriod(ms);
}

} // namespace quillet::platform::win32
