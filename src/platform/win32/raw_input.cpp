#include "platform/platform.h"
#include "platform/win32/backend.h"
#include "platform/win32/win32_platform.h"

#include <future>
#include <utility>

namespace {
constexpr unsigned long kTag = quillet::platform::SYNTHETIC_INPUT_TAG;
}

#include <windows.h>

namespace quillet::platform::win32 {
namespace {

constexpr wchar_t kSinkClass[] = L"QuilletRawInputSink";

// Keyboard (usage 6) and mouse (usage 2) of the generic desktop page, also while another program has the focus.
bool RegisterRawInput(HWND target) {
    RAWINPUTDEVICE devices[2] = {{1, 6, RIDEV_INPUTSINK, target}, {1, 2, RIDEV_INPUTSINK, target}};
    return RegisterRawInputDevices(devices, 2, sizeof(RAWINPUTDEVICE)) != 0;
}

void UnregisterRawInput() {
    RAWINPUTDEVICE devices[2] = {{1, 6, RIDEV_REMOVE, nullptr}, {1, 2, RIDEV_REMOVE, nullptr}};
    RegisterRawInputDevices(devices, 2, sizeof(RAWINPUTDEVICE));
}

void Deliver(const std::shared_ptr<RawInputDelivery>& delivery, const RawInputRecord& record) {
    delivery->post([delivery, record] {
        if (delivery->active) delivery->sink(record);
    });
}

LRESULT CALLBACK SinkWindowProc(HWND hwnd, UINT message, WPARAM wParam, LPARAM lParam) {
    if (message == WM_INPUT) {
        auto* delivery = reinterpret_cast<std::shared_ptr<RawInputDelivery>*>(GetWindowLongPtrW(hwnd, GWLP_USERDATA));
        RawInputRecord record;
        if (delivery != nullptr && (*delivery)->active && DecodeRawInput(lParam, record)) Deliver(*delivery, record);
    }
    // WM_INPUT needs its default handling too: it frees the record.
    return DefWindowProcW(hwnd, message, wParam, lParam);
}

bool RegisterSinkClass() {
    static const bool registered = [] {
        WNDCLASSEXW wc{};
        wc.cbSize = sizeof wc;
        wc.lpfnWndProc = SinkWindowProc;
        wc.hInstance = GetModuleHandleW(nullptr);
        wc.lpszClassName = kSinkClass;
        return RegisterClassExW(&wc) != 0 || GetLastError() == ERROR_CLASS_ALREADY_EXISTS;
    }();
    return registered;
}

} // namespace

bool DecodeRawInput(std::intptr_t lParam, RawInputRecord& out) {
    RAWINPUT raw{};
    UINT size = sizeof raw;
    if (GetRawInputData(reinterpret_cast<HRAWINPUT>(lParam), RID_INPUT, &raw, &size, sizeof(RAWINPUTHEADER)) ==
        static_cast<UINT>(-1))
        return false;
    out = RawInputRecord{};
    if (raw.header.dwType == RIM_TYPEKEYBOARD) {
        const RAWKEYBOARD& k = raw.data.keyboard;
        out.device = RawInputRecord::Device::Keyboard;
        out.vkey = k.VKey;
        out.makeCode = k.MakeCode;
        out.keyFlags = k.Flags;
        out.message = k.Message;
        out.injected = (k.ExtraInformation & kTag) != 0;
        return true;
    }
    if (raw.header.dwType == RIM_TYPEMOUSE) {
        const RAWMOUSE& m = raw.data.mouse;
        out.device = RawInputRecord::Device::Mouse;
        out.buttonFlags = m.usButtonFlags;
        out.buttonData = static_cast<int16_t>(m.usButtonData);
        out.lastX = m.lLastX;
        out.lastY = m.lLastY;
        out.injected = (m.ulExtraInformation & kTag) != 0;
        return true;
    }
    return false;
}

bool Win32InputMonitor::Start(Poster post, std::function<void(const RawInputRecord&)> sink) {
    Stop();
    auto delivery = std::make_shared<RawInputDelivery>();
    delivery->post = std::move(post);
    delivery->sink = std::move(sink);

    if (target_ != nullptr) {
        if (!RegisterRawInput(static_cast<HWND>(target_))) return false;
        registered_ = target_;
        delivery_ = std::move(delivery);
        return true;
    }

    if (!delivery->post || !RegisterSinkClass()) return false;
    std::promise<unsigned long> started; // the thread's id, 0 when the window could not be set up
    std::future<unsigned long> result = started.get_future();
    thread_ = std::thread([delivery, &started] {
        std::shared_ptr<RawInputDelivery> own = delivery;
        HWND window = CreateWindowExW(0, kSinkClass, L"", 0, 0, 0, 0, 0, HWND_MESSAGE, nullptr,
                                      GetModuleHandleW(nullptr), nullptr);
        if (window == nullptr) {
            started.set_value(0);
            return;
        }
        SetWindowLongPtrW(window, GWLP_USERDATA, reinterpret_cast<LONG_PTR>(&own));
        if (!RegisterRawInput(window)) {
            DestroyWindow(window);
            started.set_value(0);
            return;
        }
        // The window made this thread's message queue, so Stop can post WM_QUIT to it from now on.
        started.set_value(GetCurrentThreadId());
        MSG msg;
        while (GetMessageW(&msg, nullptr, 0, 0) > 0) DispatchMessageW(&msg);
        UnregisterRawInput();
        SetWindowLongPtrW(window, GWLP_USERDATA, 0);
        DestroyWindow(window);
    });
    threadId_ = result.get();
    if (threadId_ == 0) {
        thread_.join();
        return false;
    }
    delivery_ = std::move(delivery);
    return true;
}

void Win32InputMonitor::Stop() {
    if (delivery_) delivery_->active = false;
    if (thread_.joinable()) {
        PostThreadMessageW(threadId_, WM_QUIT, 0, 0);
        thread_.join();
        threadId_ = 0;
    }
    if (registered_ != nullptr) {
        UnregisterRawInput();
        registered_ = nullptr;
    }
    delivery_.reset();
}

bool Win32InputMonitor::HandleRawInput(std::intptr_t lParam) {
    if (registered_ == nullptr || !delivery_ || !delivery_->active) return false;
    RawInputRecord record;
    if (!DecodeRawInput(lParam, record)) return false;
    delivery_->sink(record);
    return true;
}

} // namespace quillet::platform::win32
