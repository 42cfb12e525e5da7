// BMP: the file header, one of the info headers (12 bytes as OS/2 1.x writes it, 40 to 124 bytes as Windows does),
// an optional palette, then rows of pixels, uncompressed or run-length encoded. Every offset and size the file
// states is checked against the file before it is used.
#include <array>
#include <cstdint>
#include <string>

#include "imagefile/decoders.h"

namespace quillet::imagefile {

namespace {

constexpr uint32_t kRgb = 0, kRle8 = 1, kRle4 = 2, kBitFields = 3;
const char* const kTruncated = "BMP: the file ends early (truncated)";

uint32_t U16(const uint8_t* p) {
    return static_cast<uint32_t>(p[0] | p[1] << 8);
}
uint32_t U32(const uint8_t* p) {
    return U16(p) | U16(p + 2) << 16;
}

struct Colour {
    uint8_t b = 0, g = 0, r = 0;
};

class Pixels {
public:
    Pixels(BgrPicture& picture, bool topDown) : picture_(picture), topDown_(topDown) {}
    // Row r as the file counts them (first stored row = 0).
    uint8_t* Row(int64_t r) {
        return picture_.row(static_cast<int32_t>(topDown_ ? r : picture_.height - 1 - r));
    }
    void Put(int64_t x, int64_t r, Colour c) {
        uint8_t* p = Row(r) + x * 3;
        p[0] = c.b, p[1] = c.g, p[2] = c.r;
    }

private:
    BgrPicture& picture_;
    bool topDown_;
};

// RLE8 and RLE4 as Windows defines them. Pixels the data skips keep palette colour 0, which the whole picture
// starts with.
std::string DecodeRle(const uint8_t* d, std::size_t n, std::size_t pos, bool four, const std::array<Colour, 256>& pal,
                      BgrPicture& picture, Pixels& pixels) {
    const int64_t width = picture.width, height = picture.height;
    for (int32_t y = 0; y < picture.height; ++y) {
        uint8_t* p = picture.row(y);
        for (int32_t x = 0; x < picture.width; ++x, p += 3) p[0] = pal[0].b, p[1] = pal[0].g, p[2] = pal[0].r;
    }
    int64_t x = 0, r = 0;
    while (r < height) {
        if (n - pos < 2) return kTruncated;
        const uint32_t count = d[pos], value = d[pos + 1];
        pos += 2;
        if (count > 0) { // a run of one index (RLE4: two alternating ones)
            if (x + count > width) return "BMP: a run goes past the end of its row";
            for (uint32_t i = 0; i < count; ++i)
                pixels.Put(x + i, r, pal[four ? ((i & 1) == 0 ? value >> 4 : value & 15) : value]);
            x += count;
        } else if (value == 0) { // end of the row
            x = 0;
            ++r;
        } else if (value == 1) { // end of the picture
            break;
        } else if (value == 2) { // move right and down
            if (n - pos < 2) return kTruncated;
            x += d[pos];
            r += d[pos + 1];
            pos += 2;
            if (x > width) return "BMP: a move goes past the end of its row";
        } else { // value indices as they are, padded to a 16-bit boundary
            const std::size_t bytes = four ? (value + 1) / 2 : value;
            const std::size_t padded = (bytes + 1) & ~std::size_t{1};
            if (n - pos < padded) return kTruncated;
            if (x + value > width) return "BMP: a run goes past the end of its row";
            for (uint32_t i = 0; i < value; ++i) {
                const uint32_t index = four ? ((i & 1) == 0 ? d[pos + i / 2] >> 4 : d[pos + i / 2] & 15) : d[pos + i];
                pixels.Put(x + i, r, pal[index]);
            }
            pos += padded;
            x += value;
        }
    }
    return {};
}

} // namespace

std::string DecodeBmp(std::string_view in, DecodedImage& out) {
    const auto* d = reinterpret_cast<const uint8_t*>(in.data());
    const std::size_t n = in.size();
    if (n < 18) return kTruncated;
    const uint32_t offset = U32(d + 10);
    const uint32_t headerSize = U32(d + 14);
    int64_t width = 0, height = 0;
    uint32_t bpp = 0, compression = kRgb, colorsUsed = 0;
    std::size_t paletteEntry = 4;
    if (headerSize == 12) {
        if (n < 14 + 12) return kTruncated;
        width = U16(d + 18);
        height = U16(d + 20);
        bpp = U16(d + 24);
        paletteEntry = 3;
    } else if (headerSize >= 40 && headerSize <= 124) {
        if (n < 14 + headerSize) return kTruncated;
        width = static_cast<int32_t>(U32(d + 18));
        height = static_cast<int32_t>(U32(d + 22));
        bpp = U16(d + 28);
        compression = U32(d + 30);
        colorsUsed = U32(d + 46);
    } else {
        return "BMP: unknown header size " + std::to_string(headerSize);
    }
    const bool topDown = height < 0;
    if (topDown) height = -height;

    if (bpp != 1 && bpp != 4 && bpp != 8 && bpp != 16 && bpp != 24 && bpp != 32)
        return "BMP: " + std::to_string(bpp) + " bits per pixel are not supported";
    const bool rle = compression == kRle8 || compression == kRle4;
    if (!(compression == kRgb || (compression == kRle8 && bpp == 8) || (compression == kRle4 && bpp == 4) ||
          (compression == kBitFields && (bpp == 16 || bpp == 32))))
        return "BMP: compression " + std::to_string(compression) + " with " + std::to_string(bpp) +
               " bits per pixel is not supported";
    bool is565 = false;
    if (bpp == 16 && compression == kBitFields) {
        // The masks follow the 40-byte part of the header (inside the longer headers, after the short one).
        if (headerSize < 40 || n < 14 + 40 + 12) return kTruncated;
        const uint32_t red = U32(d + 54), green = U32(d + 58), blue = U32(d + 62);
        if (red == 0xF800 && green == 0x07E0 && blue == 0x001F)
            is565 = true;
        else if (!(red == 0x7C00 && green == 0x03E0 && blue == 0x001F))
            return "BMP: only the 5-5-5 and 5-6-5 bit fields are supported";
    }

    std::array<Colour, 256> palette{};
    bool grey = false;
    if (bpp <= 8) {
        const uint32_t full = 1u << bpp;
        const uint32_t count = colorsUsed == 0 || colorsUsed > full ? full : colorsUsed;
        const std::size_t start = 14 + headerSize;
        if (n < start || (n - start) / paletteEntry < count) return kTruncated;
        for (uint32_t i = 0; i < count; ++i) {
            const uint8_t* e = d + start + i * paletteEntry;
            palette[i] = {e[0], e[1], e[2]};
        }
        grey = true;
        for (uint32_t i = 0; i < full; ++i) grey = grey && palette[i].b == palette[i].g && palette[i].b == palette[i].r;
    }
    if (offset >= n) return "BMP: the pixel data would start past the end of the file";

    std::string problem = AllocatePicture(width, height, out.picture);
    if (!problem.empty()) return problem;
    out.layout.format = ImageFormat::Bmp;
    out.layout.bitsPerChannel = 8;
    // imread reports one channel for every file with the OS/2 header, whatever its colours.
    out.layout.channels = grey || headerSize == 12 ? 1 : (bpp == 32 && compression == kBitFields ? 4 : 3);

    BgrPicture& picture = out.picture;
    Pixels pixels(picture, topDown);
    if (rle) return DecodeRle(d, n, offset, compression == kRle4, palette, picture, pixels);

    const std::size_t rowBytes = ((static_cast<std::size_t>(width) * bpp + 31) / 32) * 4;
    if ((n - offset) / rowBytes < static_cast<std::size_t>(height)) return kTruncated;
    for (int64_t r = 0; r < height; ++r) {
        const uint8_t* s = d + offset + static_cast<std::size_t>(r) * rowBytes;
        uint8_t* p = pixels.Row(r);
        for (int64_t x = 0; x < width; ++x, p += 3) {
            Colour c;
            switch (bpp) {
            case 1: c = palette[(s[x >> 3] >> (7 - (x & 7))) & 1]; break;
            case 4: c = palette[(x & 1) == 0 ? s[x >> 1] >> 4 : s[x >> 1] & 15]; break;
            case 8: c = palette[s[x]]; break;
            case 16: {
                const uint32_t v = U16(s + x * 2);
                // Each field's bits at the top of its byte, the bits below them 0.
                c.b = static_cast<uint8_t>((v << 3) & 0xF8);
                c.g = static_cast<uint8_t>(is565 ? (v >> 3) & 0xFC : (v >> 2) & 0xF8);
                c.r = static_cast<uint8_t>(is565 ? (v >> 8) & 0xF8 : (v >> 7) & 0xF8);
                break;
            }
            case 24: c = {s[x * 3], s[x * 3 + 1], s[x * 3 + 2]}; break;
            default: c = {s[x * 4], s[x * 4 + 1], s[x * 4 + 2]}; break;
            }
            p[0] = c.b, p[1] = c.g, p[2] = c.r;
        }
    }
    return {};
}

} // namespace quillet::imagefile
