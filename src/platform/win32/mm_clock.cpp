#include "platform/platform.h"
#include "platform/win32/backend.h"

#include <algorithm>

#include <windows.h>

#include <mmsystem.h>

namespace quillet::platform::win32 {
namespace {

void CALLBACK TimerCallback(UINT, UINT, DWORD_PTR user, DWORD_PTR, DWORD_PTR) {
    (*reinterpret_cast<std::function<void()>*>(user))();
}

} // namespace

bool Win32PeriodicTimer::Start(uint32_t periodMs, uint32_t resolutionMs, std::function<void()> onTick) {
    Stop();
    onTick_ = std::make_unique<std::function<void()>>(std::move(onTick));
    // TIME_KILL_SYNCHRONOUS: once timeKillEvent returns no callback runs any more, so onTick_ can go.
    timerId_ = timeSetEvent(std::max<uint32_t>(periodMs, 1), resolutionMs, TimerCallback,
                            reinterpret_cast<DWORD_PTR>(onTick_.get()),
                            TIME_PERIODIC | TIME_CALLBACK_FUNCTION | TIME_KILL_SYNCHRONOUS);
    if (timerId_ == 0) {
        onTick_.reset();
        return false;
    }
    return true;
}

void Win32PeriodicTimer::Stop() {
    if (timerId_ != 0) {
        timeKillEvent(timerId_);
        timerId_ = 0;
    }
    onTick_.reset();
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
