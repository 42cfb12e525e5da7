// GIF: the logical screen, the colour tables, and the first image of the file decoded from its LZW data and drawn
// on the screen at its place. Extensions (transparency, animation, comments) are stepped over: the transparent index
// keeps its palette colour, as alpha is dropped for the other formats.
#include <array>
#include <cstdint>
#include <string>

#include "imagefile/decoders.h"

namespace quillet::imagefile {

namespace {

const char* const kTruncated = "GIF: the file ends early (truncated)";
constexpr int kMaxCodeBits = 12;
constexpr uint32_t kMaxCodes = 1u << kMaxCodeBits;

uint32_t U16(const uint8_t* p) {
    return static_cast<uint32_t>(p[0] | p[1] << 8);
}

// The bytes of a chain of data sub-blocks, read bit by bit from the lowest bit up.
class SubBlockBits {
public:
    SubBlockBits(const uint8_t* d, std::size_t n, std::size_t pos) : d_(d), n_(n), pos_(pos) {}
    // The next code of width bits; false at the end of the data (the zero-length block) or of the file.
    bool Next(int width, uint32_t& code) {
        while (count_ < width) {
            if (left_ == 0) {
                if (ended_ || pos_ >= n_) return Stop(pos_ >= n_);
                left_ = d_[pos_++];
                if (left_ == 0) return Stop(false);
            }
            if (pos_ >= n_) return Stop(true);
            bits_ |= static_cast<uint32_t>(d_[pos_++]) << count_;
            count_ += 8;
            --left_;
        }
        code = bits_ & ((1u << width) - 1);
        bits_ >>= width;
        count_ -= width;
        return true;
    }
    bool truncated() const { return truncated_; }

private:
    bool Stop(bool truncated) {
        ended_ = true;
        truncated_ = truncated_ || truncated;
        return false;
    }
    const uint8_t* d_;
    std::size_t n_;
    std::size_t pos_;
    std::size_t left_ = 0; // bytes left in the current sub-block
    uint32_t bits_ = 0;
    int count_ = 0;
    bool ended_ = false;
    bool truncated_ = false;
};

struct Frame {
    int64_t left = 0, top = 0, width = 0, height = 0;
    bool interlaced = false;
    const uint8_t* table = nullptr; // RGB triples
    uint32_t tableSize = 0;
};

// Places the frame's pixels, in the order the data gives them, on the canvas.
class FrameWriter {
public:
    FrameWriter(BgrPicture& canvas, const Frame& f) : canvas_(canvas), f_(f) {}
    bool full() const { return row_ >= f_.height; }
    void Put(uint32_t index) {
        if (full()) return; // data past the frame's last pixel is ignored
        const int64_t x = f_.left + col_, y = f_.top + Row();
        if (x < canvas_.width && y < canvas_.height && index < f_.tableSize) {
            uint8_t* p = canvas_.row(static_cast<int32_t>(y)) + x * 3;
            const uint8_t* c = f_.table + index * 3;
            p[0] = c[2], p[1] = c[1], p[2] = c[0];
        }
        if (++col_ == f_.width) {
            col_ = 0;
            ++row_;
        }
    }

private:
    // The frame row of the row_-th stored row: interlaced frames store rows 0, 8, 16, ..., then 4, 12, ..., then
    // 2, 6, ..., then the odd ones.
    int64_t Row() const {
        if (!f_.interlaced) return row_;
        int64_t k = row_;
        const int64_t h = f_.height;
        const int64_t pass1 = (h + 7) / 8, pass2 = (h + 3) / 8, pass3 = (h + 1) / 4;
        if (k < pass1) return 8 * k;
        k -= pass1;
        if (k < pass2) return 4 + 8 * k;
        k -= pass2;
        if (k < pass3) return 2 + 4 * k;
        k -= pass3;
        return 1 + 2 * k;
    }
    BgrPicture& canvas_;
    const Frame& f_;
    int64_t col_ = 0, row_ = 0;
};

std::string DecodeLzw(SubBlockBits& bits, int minSize, FrameWriter& out) {
    std::array<uint16_t, kMaxCodes> prefix{};
    std::array<uint8_t, kMaxCodes> suffix{};
    std::array<uint8_t, kMaxCodes + 1> stack{};
    const uint32_t clear = 1u << minSize, end = clear + 1;
    uint32_t next = clear + 2;
    int width = minSize + 1;
    bool havePrev = false;
    uint32_t prev = 0;
    uint8_t prevFirst = 0;
    uint32_t code = 0;
    while (!out.full() && bits.Next(width, code)) {
        if (code == clear) {
            next = clear + 2;
            width = minSize + 1;
            havePrev = false;
            continue;
        }
        if (code == end) break;
        std::size_t sp = 0;
        uint32_t cur = code;
        if (!havePrev) {
            if (code > clear) return "GIF: an LZW code refers to nothing yet";
        } else if (code == next && next < kMaxCodes) {
            stack[sp++] = prevFirst; // the string of prev and its own first index
            cur = prev;
        } else if (code > next || (code == next && next >= kMaxCodes)) {
            return "GIF: an LZW code is out of range";
        }
        while (cur > clear) { // codes of the table; clear and end never become prefixes
            stack[sp++] = suffix[cur];
            cur = prefix[cur];
        }
        const uint8_t first = static_cast<uint8_t>(cur);
        stack[sp++] = first;
        while (sp > 0) out.Put(stack[--sp]);
        if (havePrev && next < kMaxCodes) {
            prefix[next] = static_cast<uint16_t>(prev);
            suffix[next] = first;
            ++next;
            if (next == (1u << width) && width < kMaxCodeBits) ++width;
        }
        havePrev = true;
        prev = code;
        prevFirst = first;
    }
    if (bits.truncated() && !out.full()) return kTruncated;
    return {};
}

} // namespace

std::string DecodeGif(std::string_view in, DecodedImage& out) {
    const auto* d = reinterpret_cast<const uint8_t*>(in.data());
    const std::size_t n = in.size();
    if (n < 13) return kTruncated;
    const int64_t screenWidth = U16(d + 6), screenHeight = U16(d + 8);
    const uint8_t screenFlags = d[10];
    std::size_t pos = 13;
    const uint8_t* globalTable = nullptr;
    uint32_t globalSize = 0;
    if ((screenFlags & 0x80) != 0) {
        globalSize = 2u << (screenFlags & 7);
        if (n - pos < globalSize * 3) return kTruncated;
        globalTable = d + pos;
        pos += globalSize * 3;
    }
    for (;;) {
        if (pos >= n) return kTruncated;
        const uint8_t block = d[pos++];
        if (block == 0x3B) return "GIF: the file holds no picture";
        if (block == 0x21) { // an extension: its label, then sub-blocks
            if (pos >= n) return kTruncated;
            ++pos;
            for (;;) {
                if (pos >= n) return kTruncated;
                const std::size_t size = d[pos++];
                if (size == 0) break;
                if (n - pos < size) return kTruncated;
                pos += size;
            }
            continue;
        }
        if (block != 0x2C) return "GIF: unknown block type " + std::to_string(block);

        if (n - pos < 9) return kTruncated;
        Frame f;
        f.left = U16(d + pos);
        f.top = U16(d + pos + 2);
        f.width = U16(d + pos + 4);
        f.height = U16(d + pos + 6);
        const uint8_t flags = d[pos + 8];
        pos += 9;
        f.interlaced = (flags & 0x40) != 0;
        if ((flags & 0x80) != 0) {
            f.tableSize = 2u << (flags & 7);
            if (n - pos < f.tableSize * 3) return kTruncated;
            f.table = d + pos;
            pos += f.tableSize * 3;
        } else {
            f.table = globalTable;
            f.tableSize = globalSize;
        }
        if (f.table == nullptr) return "GIF: the first picture has no colour table";
        if (f.width == 0 || f.height == 0) return "GIF: the first picture has no pixels";
        if (pos >= n) return kTruncated;
        const int minSize = d[pos++];
        if (minSize < 1 || minSize > 8) return "GIF: bad LZW code size " + std::to_string(minSize);

        // A screen of no size takes the frame's.
        const bool noScreen = screenWidth == 0 || screenHeight == 0;
        std::string problem = AllocatePicture(noScreen ? f.left + f.width : screenWidth,
                                              noScreen ? f.top + f.height : screenHeight, out.picture);
        if (!problem.empty()) return problem;
        out.layout = {ImageFormat::Gif, 3, 8};
        SubBlockBits bits(d, n, pos);
        FrameWriter writer(out.picture, f);
        return DecodeLzw(bits, minSize, writer);
    }
}

} // namespace quillet::imagefile
