#include "platform/fake/fake_platform.h"

#include <algorithm>
#include <cstdio>
#include <utility>

namespace quillet::platform {

namespace {

// MapVirtualKeyA(vk, MAPVK_VK_TO_VSC) of a US-English keyboard. Keys that exist only with an E0 prefix give their
// low byte, as Windows does; navigation keys give the numeric-pad codes they share. The US layout has no Hangul
// or Hanja key, so VK_HANGUL (0x15) and VK_HANJA (0x19) give 0 like every other key without a scan code.
std::array<uint8_t, 256> UsScanCodes() {
    std::array<uint8_t, 256> t{};
    // clang-format off
    const std::pair<uint8_t, uint8_t> fixed[] = {
        {0x03, 0x46}, // VK_CANCEL
        {0x08, 0x0E}, {0x09, 0x0F}, {0x0C, 0x4C}, {0x0D, 0x1C}, {0x10, 0x2A}, {0x11, 0x1D}, {0x12, 0x38},
        {0x13, 0x45}, {0x14, 0x3A}, {0x1B, 0x01}, {0x20, 0x39},
        // Page up/down, end, home, arrows, print screen, insert, delete
        {0x21, 0x49}, {0x22, 0x51}, {0x23, 0x4F}, {0x24, 0x47}, {0x25, 0x4B}, {0x26, 0x48}, {0x27, 0x4D},
        {0x28, 0x50}, {0x2C, 0x54}, {0x2D, 0x52}, {0x2E, 0x53},
        // Windows keys and the menu key
        {0x5B, 0x5B}, {0x5C, 0x5C}, {0x5D, 0x5D},
        // Numeric pad 0..9, * + - . /
        {0x60, 0x52}, {0x61, 0x4F}, {0x62, 0x50}, {0x63, 0x51}, {0x64, 0x4B}, {0x65, 0x4C}, {0x66, 0x4D},
        {0x67, 0x47}, {0x68, 0x48}, {0x69, 0x49}, {0x6A, 0x37}, {0x6B, 0x4E}, {0x6D, 0x4A}, {0x6E, 0x53},
        {0x6F, 0x35},
        // F11..F24
        {0x7A, 0x57}, {0x7B, 0x58}, {0x7C, 0x64}, {0x7D, 0x65}, {0x7E, 0x66}, {0x7F, 0x67}, {0x80, 0x68},
        {0x81, 0x69}, {0x82, 0x6A}, {0x83, 0x6B}, {0x84, 0x6C}, {0x85, 0x6D}, {0x86, 0x6E}, {0x87, 0x76},
        {0x90, 0x45}, {0x91, 0x46}, // num lock, scroll lock
        // Left and right shift, control, alt
        {0xA0, 0x2A}, {0xA1, 0x36}, {0xA2, 0x1D}, {0xA3, 0x1D}, {0xA4, 0x38}, {0xA5, 0x38},
        // Browser, volume, media and launch keys
        {0xA6, 0x6A}, {0xA7, 0x69}, {0xA8, 0x67}, {0xA9, 0x68}, {0xAA, 0x65}, {0xAB, 0x66}, {0xAC, 0x32},
        {0xAD, 0x20}, {0xAE, 0x2E}, {0xAF, 0x30}, {0xB0, 0x19}, {0xB1, 0x10}, {0xB2, 0x24}, {0xB3, 0x22},
        {0xB4, 0x6C}, {0xB5, 0x6D}, {0xB6, 0x6B}, {0xB7, 0x21},
        // ; = , - . / ` [ \ ] ' and the extra key of 102-key keyboards
        {0xBA, 0x27}, {0xBB, 0x0D}, {0xBC, 0x33}, {0xBD, 0x0C}, {0xBE, 0x34}, {0xBF, 0x35}, {0xC0, 0x29},
        {0xDB, 0x1A}, {0xDC, 0x2B}, {0xDD, 0x1B}, {0xDE, 0x28}, {0xE2, 0x56},
    }; // clang-format on

    for (const auto& [vk, scan] : fixed) t[vk] = scan;
    // Digits: '1'..'9' are 0x02..0x0A, '0' is 0x0B.
    t['0'] = 0x0B;
    for (int d = 1; d <= 9; ++d) t['0' + d] = static_cast<uint8_t>(0x01 + d);
    const uint8_t letters[26] = {0x1E, 0x30, 0x2E, 0x20, 0x12, 0x21, 0x22, 0x23, 0x17, 0x24, 0x25, 0x26, 0x32,
                                 0x31, 0x18, 0x19, 0x10, 0x13, 0x1F, 0x14, 0x16, 0x2F, 0x11, 0x2D, 0x15, 0x2C};
    for (int i = 0; i < 26; ++i) t['A' + i] = letters[i];
    for (int i = 0; i < 10; ++i) t[0x70 + i] = static_cast<uint8_t>(0x3B + i); // F1..F10
    return t;
}

// Absolute mouse units back to a pixel. Truncating toward zero undoes the +-0.5 of the pixel-to-absolute
// conversion, so every pixel converted there comes back as itself.
int64_t AbsoluteToPixel(int32_t units, int32_t extent) {
    return static_cast<int64_t>(units) * extent / 65536;
}

} // namespace

FakeEvent FakeEvent::Key(uint8_t vk, uint8_t scan, uint32_t flags, uint64_t tick) {
    FakeEvent e;
    e.kind = Kind::Key;
    e.tick = tick;
    e.vk = vk;
    e.scan = scan;
    e.flags = flags;
    return e;
}

FakeEvent FakeEvent::Mouse(uint32_t flags, int32_t x, int32_t y, int32_t data, uint64_t tick) {
    FakeEvent e;
    e.kind = Kind::Mouse;
    e.tick = tick;
    e.flags = flags;
    e.x = x;
    e.y = y;
    e.data = data;
    return e;
}

FakeEvent FakeEvent::Sleep(uint32_t ms, uint64_t tick) {
    FakeEvent e;
    e.kind = Kind::Sleep;
    e.tick = tick;
    e.sleepMs = ms;
    return e;
}

std::string Describe(const FakeEvent& e) {
    char buf[96];
    const auto tick = static_cast<unsigned long long>(e.tick);
    switch (e.kind) {
    case FakeEvent::Kind::Key:
        std::snprintf(buf, sizeof buf, "key %02X/%02X/%X @%llu", e.vk, e.scan, e.flags, tick);
        break;
    case FakeEvent::Kind::Mouse:
        std::snprintf(buf, sizeof buf, "mouse %X (%d,%d) %d @%llu", e.flags, e.x, e.y, e.data, tick);
        break;
    case FakeEvent::Kind::Sleep:
        std::snprintf(buf, sizeof buf, "sleep %u @%llu", e.sleepMs, tick);
        break;
    }
    return buf;
}

void PrintTo(const FakeEvent& e, std::ostream* os) {
    *os << Describe(e);
}

FakePlatform::FakePlatform(FakeIme ime)
    : scanCodes_(UsScanCodes()), ime_(ime == FakeIme::None ? ImeState::None : ImeState::Closed) {}

FakePlatform::~FakePlatform() {
    // Timer objects may outlive the platform; make sure they no longer fire.
    for (auto& t : timers_) t->running = false;
}

std::vector<FakeEvent> FakePlatform::KeyEvents() const {
    std::vector<FakeEvent> out;
    for (const auto& e : events_)
        if (e.kind == FakeEvent::Kind::Key) out.push_back(e);
    return out;
}

std::vector<FakeEvent> FakePlatform::MouseEvents() const {
    std::vector<FakeEvent> out;
    for (const auto& e : events_)
        if (e.kind == FakeEvent::Kind::Mouse) out.push_back(e);
    return out;
}

void FakePlatform::SendKeyEvent(uint8_t vk, uint8_t scan, uint32_t flags) {
    events_.push_back(FakeEvent::Key(vk, scan, flags, tick_));
    // The input method switches on the press of the Hangul key, not on its release.
    if (vk == VK_HANGUL && (flags & KEYEVENTF_KEYUP) == 0 && ime_ != ImeState::None) {
        ime_ = ime_ == ImeState::Open ? ImeState::Closed : ImeState::Open;
        ++hangulToggles_;
    }
}

void FakePlatform::SendMouseEvent(uint32_t flags, int32_t x, int32_t y, int32_t data) {
    events_.push_back(FakeEvent::Mouse(flags, x, y, data, tick_));
    if ((flags & MOUSEEVENTF_MOVE) == 0) return;
    if (flags & MOUSEEVENTF_ABSOLUTE) {
        // Absolute units span the primary screen; the cursor then stays within the virtual screen.
        cursor_.x = static_cast<int32_t>(std::clamp<int64_t>(AbsoluteToPixel(x, primary_.width), INT32_MIN, INT32_MAX));
        cursor_.y =
            static_cast<int32_t>(std::clamp<int64_t>(AbsoluteToPixel(y, primary_.height), INT32_MIN, INT32_MAX));
        ClampCursor();
    } else {
        MoveCursorBy(x, y);
    }
}

void FakePlatform::MoveCursorBy(int64_t dx, int64_t dy) {
    cursor_.x = static_cast<int32_t>(std::clamp<int64_t>(cursor_.x + dx, INT32_MIN, INT32_MAX));
    cursor_.y = static_cast<int32_t>(std::clamp<int64_t>(cursor_.y + dy, INT32_MIN, INT32_MAX));
    ClampCursor();
}

void FakePlatform::ClampCursor() {
    if (virtual_.width <= 0 || virtual_.height <= 0) return;
    cursor_.x = std::clamp(cursor_.x, virtual_.left, virtual_.left + virtual_.width - 1);
    cursor_.y = std::clamp(cursor_.y, virtual_.top, virtual_.top + virtual_.height - 1);
}

bool FakePlatform::CursorPos(ScreenPoint& out) {
    if (!cursorReadable_) return false;
    out = cursor_;
    return true;
}

void FakePlatform::SetKeyDown(uint8_t vk, bool down) {
    keyState_[vk] = static_cast<uint8_t>(down ? keyState_[vk] | 0x80 : keyState_[vk] & ~0x80);
}

void FakePlatform::SetKeyToggled(uint8_t vk, bool toggled) {
    keyState_[vk] = static_cast<uint8_t>(toggled ? keyState_[vk] | 0x01 : keyState_[vk] & ~0x01);
}

void FakePlatform::SetPrimaryScreenSize(int32_t width, int32_t height) {
    primary_ = {width, height};
    SetVirtualScreen({0, 0, width, height});
}

std::optional<uint64_t> FakePlatform::ChangeStamp(const ScreenRect&) {
    if (!tracksChanges_) return std::nullopt;
    return changes_;
}

void FakePlatform::SetVirtualScreen(const ScreenRect& rect) {
    ++changes_;
    virtual_ = rect;
    image_.clear();
    ClampCursor();
}

void FakePlatform::EnsureImage() {
    if (image_.empty() && virtual_.width > 0 && virtual_.height > 0)
        image_.assign(static_cast<std::size_t>(virtual_.width) * static_cast<std::size_t>(virtual_.height), 0);
}

uint32_t FakePlatform::Pixel(int32_t x, int32_t y) {
    const int64_t cx = static_cast<int64_t>(x) - virtual_.left;
    const int64_t cy = static_cast<int64_t>(y) - virtual_.top;
    if (cx < 0 || cy < 0 || cx >= virtual_.width || cy >= virtual_.height) return CLR_INVALID;
    if (image_.empty()) return 0;
    return image_[static_cast<std::size_t>(cy * virtual_.width + cx)];
}

void FakePlatform::SetPixel(int32_t x, int32_t y, uint32_t color) {
    FillRect({x, y, 1, 1}, color);
}

void FakePlatform::FillRect(const ScreenRect& rect, uint32_t color) {
    const int64_t x0 = std::max<int64_t>(rect.left, virtual_.left);
    const int64_t y0 = std::max<int64_t>(rect.top, virtual_.top);
    const int64_t x1 = std::min<int64_t>(static_cast<int64_t>(rect.left) + rect.width,
                                         static_cast<int64_t>(virtual_.left) + virtual_.width);
    const int64_t y1 = std::min<int64_t>(static_cast<int64_t>(rect.top) + rect.height,
                                         static_cast<int64_t>(virtual_.top) + virtual_.height);
    if (x0 >= x1 || y0 >= y1) return;
    ++changes_;
    EnsureImage();
    for (int64_t y = y0; y < y1; ++y)
        for (int64_t x = x0; x < x1; ++x)
            image_[static_cast<std::size_t>((y - virtual_.top) * virtual_.width + (x - virtual_.left))] =
                color & 0x00FFFFFF;
}

bool FakePlatform::Capture(const ScreenRect& rect, BgraImage& out) {
    // A rectangle that lies wholly off the screen, is empty or absurdly large reads nothing.
    constexpr int64_t kMaxPixels = int64_t{1} << 26;
    ++captures_;
    if (captureFails_ || rect.width <= 0 || rect.height <= 0 ||
        static_cast<int64_t>(rect.width) * rect.height > kMaxPixels)
        return false;
    const int64_t x0 = std::max<int64_t>(rect.left, virtual_.left);
    const int64_t y0 = std::max<int64_t>(rect.top, virtual_.top);
    const int64_t x1 = std::min<int64_t>(static_cast<int64_t>(rect.left) + rect.width,
                                         static_cast<int64_t>(virtual_.left) + virtual_.width);
    const int64_t y1 = std::min<int64_t>(static_cast<int64_t>(rect.top) + rect.height,
                                         static_cast<int64_t>(virtual_.top) + virtual_.height);
    if (x0 >= x1 || y0 >= y1) return false;
    out.width = rect.width;
    out.height = rect.height;
    out.pixels.assign(static_cast<std::size_t>(rect.width) * static_cast<std::size_t>(rect.height) * 4, 0);
    for (int32_t r = 0; r < out.height; ++r) {
        uint8_t* row = out.row(r);
        for (int32_t c = 0; c < out.width; ++c) {
            const int64_t sx = static_cast<int64_t>(rect.left) + c;
            const int64_t sy = static_cast<int64_t>(rect.top) + r;
            uint32_t color = 0; // black off the screen
            if (sx >= x0 && sx < x1 && sy >= y0 && sy < y1 && !image_.empty())
                color = image_[static_cast<std::size_t>((sy - virtual_.top) * virtual_.width + (sx - virtual_.left))];
            row[c * 4 + 0] = static_cast<uint8_t>(color >> 16); // blue
            row[c * 4 + 1] = static_cast<uint8_t>(color >> 8);  // green
            row[c * 4 + 2] = static_cast<uint8_t>(color);       // red
            row[c * 4 + 3] = 0xFF;
        }
    }
    return true;
}

bool FakePlatform::Start(Poster post, std::function<void(const RawInputRecord&)> sink) {
    if (monitorStartFails_ || !sink) return false;
    post_ = std::move(post);
    sink_ = std::move(sink);
    return true;
}

void FakePlatform::Stop() {
    post_ = nullptr;
    sink_ = nullptr;
}

bool FakePlatform::PushRaw(const RawInputRecord& record) {
    if (!sink_) return false;
    if (post_) {
        auto sink = sink_;
        post_([sink, record] { sink(record); });
    } else {
        sink_(record);
    }
    return true;
}

LocalTime FakePlatform::LocalNow() {
    constexpr uint64_t kDayMs = 24ull * 60 * 60 * 1000;
    const uint64_t ms = (localBaseMsOfDay_ + (elapsedMs_ - localSetAtMs_)) % kDayMs;
    const auto s = static_cast<int>(ms / 1000);
    return LocalTime{s / 3600, s / 60 % 60, s % 60};
}

void FakePlatform::SetLocalTime(int hour, int minute, int second) {
    const int64_t s = (static_cast<int64_t>(hour) * 3600 + minute * 60 + second) % 86400;
    localBaseMsOfDay_ = static_cast<uint32_t>((s < 0 ? s + 86400 : s) * 1000);
    localSetAtMs_ = elapsedMs_;
}

void FakePlatform::AdvanceMs(uint32_t ms) {
    nowMs_ += ms; // wraps like timeGetTime
    elapsedMs_ += ms;
}

void FakePlatform::Sleep(uint32_t ms) {
    events_.push_back(FakeEvent::Sleep(ms, tick_));
    AdvanceMs(ms);
}

namespace {

class FakePeriodicTimer final : public PeriodicTimer {
public:
    FakePeriodicTimer(std::shared_ptr<FakeTimerState> state, std::shared_ptr<const bool> startFails)
        : state_(std::move(state)), startFails_(std::move(startFails)) {}
    ~FakePeriodicTimer() override {
        state_->running = false;
        state_->destroyed = true;
        state_->onTick = nullptr;
    }
    bool Start(uint32_t periodMs, uint32_t resolutionMs, std::function<void()> onTick) override {
        ++state_->startCount;
        state_->periodMs = periodMs;
        state_->resolutionMs = resolutionMs;
        if (*startFails_) {
            state_->running = false;
            state_->onTick = nullptr;
            return false;
        }
        state_->running = true;
        state_->onTick = std::move(onTick);
        return true;
    }
    void Stop() override {
        ++state_->stopCount;
        state_->running = false;
    }

private:
    std::shared_ptr<FakeTimerState> state_;
    std::shared_ptr<const bool> startFails_;
};

} // namespace

std::unique_ptr<PeriodicTimer> FakePlatform::CreatePeriodicTimer() {
    auto state = std::make_shared<FakeTimerState>();
    timers_.push_back(state);
    return std::make_unique<FakePeriodicTimer>(state, timerStartFails_);
}

int FakePlatform::FireTimers() {
    int fired = 0;
    // Copy first: a tick may create or stop timers.
    const auto timers = timers_;
    for (const auto& t : timers) {
        if (!t->running || !t->onTick) continue;
        auto onTick = t->onTick;
        onTick();
        ++fired;
    }
    return fired;
}

} // namespace quillet::platform
