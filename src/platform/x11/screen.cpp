#include "platform/x11/screen.h"

#ifdef QUILLET_HAVE_XDAMAGE
#include <X11/extensions/Xdamage.h>
#include <X11/extensions/Xfixes.h>
#endif
#include <sys/ipc.h>
#include <sys/shm.h>

#include <algorithm>
#include <bit>
#include <cstring>

namespace quillet::platform::x11 {
namespace {

// One colour channel of a pixel value, scaled to 8 bits.
uint32_t Channel(unsigned long pixel, unsigned long mask) {
    if (mask == 0) return 0;
    const int shift = std::countr_zero(mask);
    const int bits = std::popcount(mask);
    const unsigned long v = (pixel & mask) >> shift;
    if (bits >= 8) return static_cast<uint32_t>(v >> (bits - 8));
    return static_cast<uint32_t>(v * 255 / ((1ul << bits) - 1));
}

bool HostIsLittleEndian() {
    return std::endian::native == std::endian::little;
}

} // namespace

void ConvertToBgra(const XImage& image, int w, int h, const Visual& visual, BgraImage& out, int dx, int dy) {
    const bool fast = image.bits_per_pixel == 32 && image.red_mask == 0xFF0000 && image.green_mask == 0xFF00 &&
                      image.blue_mask == 0xFF && (image.byte_order == LSBFirst) == HostIsLittleEndian();
    for (int y = 0; y < h; ++y) {
        uint8_t* dst = out.row(dy + y) + static_cast<std::size_t>(dx) * 4;
        if (fast) {
            // Each pixel is a native 32-bit word 0x??RRGGBB: in memory B, G, R, pad.
            const auto* src =
                reinterpret_cast<const uint8_t*>(image.data) + static_cast<std::size_t>(y) * image.bytes_per_line;
            for (int x = 0; x < w; ++x) {
                uint32_t v;
                std::memcpy(&v, src + static_cast<std::size_t>(x) * 4, 4);
                v &= 0x00FFFFFF;
                std::memcpy(dst + static_cast<std::size_t>(x) * 4, &v, 4);
            }
            continue;
        }
        for (int x = 0; x < w; ++x) {
            const unsigned long p = XGetPixel(const_cast<XImage*>(&image), x, y);
            const unsigned long rm = image.red_mask != 0 ? image.red_mask : visual.red_mask;
            const unsigned long gm = image.green_mask != 0 ? image.green_mask : visual.green_mask;
            const unsigned long bm = image.blue_mask != 0 ? image.blue_mask : visual.blue_mask;
            dst[x * 4 + 0] = static_cast<uint8_t>(Channel(p, bm));
            dst[x * 4 + 1] = static_cast<uint8_t>(Channel(p, gm));
            dst[x * 4 + 2] = static_cast<uint8_t>(Channel(p, rm));
            dst[x * 4 + 3] = 0;
        }
    }
}

std::unique_ptr<X11Screen> X11Screen::Open(const std::string& displayName, bool useShm, std::string& error) {
    std::unique_ptr<X11Screen> s(new X11Screen());
    s->dpy_ = OpenDisplay(displayName);
    if (!s->dpy_) {
        error = "cannot connect to the X display";
        return nullptr;
    }
    Display* d = s->dpy_.get();
    s->layout_ = std::make_unique<ScreenLayoutTracker>(d);
    s->visual_ = DefaultVisual(d, DefaultScreen(d));
    s->depth_ = DefaultDepth(d, DefaultScreen(d));
    if (s->visual_->c_class != TrueColor && s->visual_->c_class != DirectColor) {
        error = "the X screen is not a true-colour screen";
        return nullptr;
    }
    s->shmUsable_ = useShm && XShmQueryExtension(d);
#ifdef QUILLET_HAVE_XDAMAGE
    // Non-empty reports: one event when something changes, then none until the region is collected. A program
    // that does not look at the screen for hours thus gets one event, not one per drawing.
    int damageError = 0, fixesEvent = 0, fixesError = 0;
    if (XDamageQueryExtension(d, &s->damageEventBase_, &damageError) &&
        XFixesQueryExtension(d, &fixesEvent, &fixesError))
        s->damage_ = XDamageCreate(d, DefaultRootWindow(d), XDamageReportNonEmpty);
    else
        s->damageEventBase_ = -1;
#endif
    return s;
}

X11Screen::~X11Screen() {
    std::lock_guard lock(mutex_);
    ReleaseShmImage();
}

void X11Screen::ReleaseShmImage() {
    if (shmImage_ == nullptr) return;
    XShmDetach(dpy_.get(), &shmInfo_);
    XSync(dpy_.get(), False);
    shmImage_->data = nullptr; // the pixels live in the segment, not on the heap
    XDestroyImage(shmImage_);
    shmdt(shmInfo_.shmaddr);
    shmImage_ = nullptr;
    shmInfo_ = {};
}

bool X11Screen::EnsureShmImage(int w, int h) {
    if (shmImage_ != nullptr && shmImage_->width == w && shmImage_->height == h) return true;
    ReleaseShmImage();
    Display* d = dpy_.get();
    XImage* image = XShmCreateImage(d, visual_, static_cast<unsigned>(depth_), ZPixmap, nullptr, &shmInfo_,
                                    static_cast<unsigned>(w), static_cast<unsigned>(h));
    if (image == nullptr) return false;
    const std::size_t bytes = static_cast<std::size_t>(image->bytes_per_line) * static_cast<std::size_t>(h);
    shmInfo_.shmid = shmget(IPC_PRIVATE, bytes, IPC_CREAT | 0600);
    if (shmInfo_.shmid < 0) {
        XDestroyImage(image);
        shmInfo_ = {};
        return false;
    }
    void* addr = shmat(shmInfo_.shmid, nullptr, 0);
    if (addr == reinterpret_cast<void*>(-1)) {
        shmctl(shmInfo_.shmid, IPC_RMID, nullptr);
        XDestroyImage(image);
        shmInfo_ = {};
        return false;
    }
    shmInfo_.shmaddr = image->data = static_cast<char*>(addr);
    shmInfo_.readOnly = False;
    ErrorTrap trap(d);
    XShmAttach(d, &shmInfo_);
    const bool attached = trap.Finish() == 0;
    // Marked for removal now: it goes away when both sides have detached, also if we crash.
    shmctl(shmInfo_.shmid, IPC_RMID, nullptr);
    if (!attached) {
        image->data = nullptr;
        XDestroyImage(image);
        shmdt(addr);
        shmInfo_ = {};
        return false;
    }
    shmImage_ = image;
    return true;
}

bool X11Screen::ReadArea(int x, int y, int w, int h, BgraImage& out, int dx, int dy) {
    Display* d = dpy_.get();
    const Window root = DefaultRootWindow(d);
    if (shmUsable_) {
        if (EnsureShmImage(w, h)) {
            if (XShmGetImage(d, root, shmImage_, x, y, AllPlanes)) {
                ConvertToBgra(*shmImage_, w, h, *visual_, out, dx, dy);
                return true;
            }
        } else {
            // Shared memory does not work with this server (a remote display): read through the protocol from now.
            shmUsable_ = false;
        }
    }
    XImage* image = XGetImage(d, root, x, y, static_cast<unsigned>(w), static_cast<unsigned>(h), AllPlanes, ZPixmap);
    if (image == nullptr) return false;
    ConvertToBgra(*image, w, h, *visual_, out, dx, dy);
    XDestroyImage(image);
    return true;
}

void X11Screen::DrainEvents() {
    Display* d = dpy_.get();
    while (XPending(d) > 0) {
        XEvent ev;
        XNextEvent(d, &ev);
        if (layout_->HandleEvent(ev)) {
            // A new layout changes what every rectangle shows.
            forgotten_ = ++damageCount_;
            damaged_.clear();
            continue;
        }
#ifdef QUILLET_HAVE_XDAMAGE
        if (damageEventBase_ >= 0 && ev.type == damageEventBase_ + XDamageNotify) damagePending_ = true;
#endif
    }
}

std::optional<uint64_t> X11Screen::ChangeStamp(const ScreenRect& rect) {
    if (damage_ == 0) return std::nullopt;
    std::lock_guard lock(mutex_);
    Display* d = dpy_.get();
    XSync(d, False);
    DrainEvents();
#ifdef QUILLET_HAVE_XDAMAGE
    if (damagePending_) {
        // Everything damaged so far, taken out of the Damage object (which then reports the next change).
        damagePending_ = false;
        XserverRegion parts = XFixesCreateRegion(d, nullptr, 0);
        XDamageSubtract(d, damage_, 0 /* no repair region: take everything */, parts);
        int count = 0;
        XRectangle* rects = XFixesFetchRegion(d, parts, &count);
        ++damageCount_;
        for (int i = 0; i < count; ++i) {
            damaged_.push_back({rects[i].x, rects[i].y, rects[i].width, rects[i].height, damageCount_});
            if (damaged_.size() > kDamageLog) {
                forgotten_ = damaged_.front().at;
                damaged_.pop_front();
            }
        }
        if (rects != nullptr) XFree(rects);
        XFixesDestroyRegion(d, parts);
    }
#endif
    const ScreenLayout& l = layout_->Current(false);
    const int64_t left = int64_t{rect.left} + l.primary.left;
    const int64_t top = int64_t{rect.top} + l.primary.top;
    const int64_t right = left + rect.width;
    const int64_t bottom = top + rect.height;
    uint64_t stamp = forgotten_;
    for (const Damaged& r : damaged_)
        if (r.x < right && left < int64_t{r.x} + r.w && r.y < bottom && top < int64_t{r.y} + r.h)
            stamp = std::max(stamp, r.at);
    return stamp;
}

uint32_t X11Screen::Pixel(int32_t x, int32_t y) {
    std::lock_guard lock(mutex_);
    DrainEvents();
    const ScreenLayout& l = layout_->Current(false);
    const int64_t rx = int64_t{x} + l.primary.left;
    const int64_t ry = int64_t{y} + l.primary.top;
    if (rx < 0 || ry < 0 || rx >= l.rootWidth || ry >= l.rootHeight) return CLR_INVALID;
    Display* d = dpy_.get();
    XImage* image =
        XGetImage(d, DefaultRootWindow(d), static_cast<int>(rx), static_cast<int>(ry), 1, 1, AllPlanes, ZPixmap);
    if (image == nullptr) return CLR_INVALID;
    BgraImage one{1, 1, std::vector<uint8_t>(4)};
    ConvertToBgra(*image, 1, 1, *visual_, one, 0, 0);
    XDestroyImage(image);
    return uint32_t{one.pixels[2]} | uint32_t{one.pixels[1]} << 8 | uint32_t{one.pixels[0]} << 16;
}

bool X11Screen::Capture(const ScreenRect& rect, BgraImage& out) {
    if (rect.width <= 0 || rect.height <= 0 || rect.width > kMaxSide || rect.height > kMaxSide ||
        int64_t{rect.width} * rect.height > kMaxPixels)
        return false;
    std::lock_guard lock(mutex_);
    DrainEvents();
    const ScreenLayout& l = layout_->Current(false);
    out.width = rect.width;
    out.height = rect.height;
    out.pixels.assign(static_cast<std::size_t>(rect.width) * static_cast<std::size_t>(rect.height) * 4, 0);
    // The part of the rectangle on the root window, in root coordinates.
    const int64_t left = int64_t{rect.left} + l.primary.left;
    const int64_t top = int64_t{rect.top} + l.primary.top;
    const int64_t x0 = std::max<int64_t>(left, 0);
    const int64_t y0 = std::max<int64_t>(top, 0);
    const int64_t x1 = std::min<int64_t>(left + rect.width, l.rootWidth);
    const int64_t y1 = std::min<int64_t>(top + rect.height, l.rootHeight);
    if (x1 <= x0 || y1 <= y0) return true; // entirely off the screen: all black
    return ReadArea(static_cast<int>(x0), static_cast<int>(y0), static_cast<int>(x1 - x0), static_cast<int>(y1 - y0),
                    out, static_cast<int>(x0 - left), static_cast<int>(y0 - top));
}

} // namespace quillet::platform::x11
