// Reading picture files (template images of the image condition) into 8-bit BGR pixels, without OpenCV's codec
// module: PNG through libpng, JPEG through libjpeg(-turbo), BMP and GIF by readers of our own.
//
// The promise. For every PNG, JPEG and BMP file that OpenCV 4's imread(path, IMREAD_COLOR) reads, Decode gives the
// same pixels, byte for byte:
//   - PNG: grey, grey+alpha, palette (with or without tRNS), RGB and RGBA, 1 to 16 bits, interlaced or not. Alpha
//     and tRNS are dropped, not blended: a pixel keeps the colour it stores. Grey is repeated into B, G and R; bit
//     depths below 8 are scaled to 0..255 as libpng expands them; 16-bit samples keep their high byte (>> 8).
//     No gamma, colour profile or sBIT is applied.
//   - JPEG: decoded by libjpeg with its defaults (accurate integer transform, smooth upsampling); grey is repeated
//     into B, G and R. Four-component (CMYK, YCCK) files are taken as Adobe writes them, with inverted values:
//     B = K - (255 - Y) * K / 256 (integer, truncated), and likewise G from M and R from C. The EXIF orientation
//     (tag 0x0112 in the first APP1 segment) is applied: 2 mirrors, 3 turns by 180 degrees, 4 flips, 5 transposes,
//     6 turns a quarter clockwise, 7 transposes across the other diagonal, 8 turns a quarter anticlockwise; any
//     other value leaves the picture as stored.
//   - BMP: 1, 4, 8 bits with a palette (and RLE4, RLE8), 16 bits (5-5-5, or 5-6-5 by its bit fields; each field's
//     top bits, the low bits 0), 24 and 32 bits (the fourth byte dropped), bottom-up or top-down (negative height),
//     with the 12-, 40-, 52-, 56-, 108- and 124-byte headers. Pixels an RLE delta or an early end of line or
//     picture skips take palette colour 0; palette indices past the palette (or past 256) are black.
// GIF (which OpenCV 4.6 does not read): the first frame drawn on the logical screen as a viewer shows it. Canvas
// pixels the frame does not cover are black; pixels of the frame's transparent index keep that index's palette
// colour (alpha is dropped as for a PNG with tRNS); indices past the colour table are black; a frame whose data
// ends early (end code) leaves its remaining pixels black. A logical screen of zero width or height takes the
// frame's extent. Frames past the first and the animation are ignored.
//
// What the file holds (ImageLayout) is what imread(path, IMREAD_UNCHANGED) tells about the same file: its channels
// (1 grey, 3 colour, 4 with alpha) and bits per channel (8 or 16). Like imread, a BMP with the 12-byte OS/2 header
// tells 1 channel whatever its colours, and a 32-bit BMP 4 channels only with bit fields. GIF tells 3 channels.
//
// Failures. A file that is missing, not a regular file, unreadable, of an unknown format, damaged or truncated gives
// no picture and a one-line English problem that starts with "cannot decode" and says why. A truncated JPEG is
// refused (imread would fill the missing part with grey); JPEG data that libjpeg can step over (stray bytes, a bad
// Huffman code) is read as libjpeg reads it, like imread does. Nothing a file says can make the decoder crash, read
// outside its buffers or allocate without bound:
//   - pictures are limited to kMaxImageSide in each direction and kMaxImagePixels in all, checked from the header
//     before the pixels are allocated (the image condition cannot search anything larger anyway);
//   - files are limited to kMaxImageFileBytes and are read whole into memory (a file larger is refused unread);
//   - libpng keeps ancillary chunks below 8 MiB each.
//
// Costs. The file's bytes, the BGR picture, and a row or two of scratch (for a progressive or interlaced file
// the decoders hold the whole picture once more while they work; the JPEG orientation holds a second copy).
//
// Paths are CP949 byte strings, opened by those bytes: as they are on POSIX, through the ANSI code page (CP949 on a
// Korean system) on Windows, like the macro library file.
//
// Thread safety: Decode* keep no state; any number may run at the same time.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

namespace quillet {

inline constexpr int32_t kMaxImageSide = 65535;
inline constexpr int64_t kMaxImagePixels = int64_t{1} << 26; // 67 million: more than an 8K screen
inline constexpr std::size_t kMaxImageFileBytes = std::size_t{512} << 20;

enum class ImageFormat { Png, Jpeg, Bmp, Gif };

// 8-bit BGR pixels, top row first, rows of stride bytes (stride = width * 3: no padding); bytes.size() is
// stride * height.
struct BgrPicture {
    int32_t width = 0;
    int32_t height = 0;
    std::size_t stride = 0;
    std::vector<uint8_t> bytes;
    const uint8_t* row(int32_t y) const { return bytes.data() + static_cast<std::size_t>(y) * stride; }
    uint8_t* row(int32_t y) { return bytes.data() + static_cast<std::size_t>(y) * stride; }
    bool empty() const { return width == 0 || height == 0; }
};

// What the file holds, as imread with IMREAD_UNCHANGED reports it.
struct ImageLayout {
    ImageFormat format = ImageFormat::Png;
    int channels = 3;       // 1, 3 or 4
    int bitsPerChannel = 8; // 8 or 16
    int bitsPerPixel() const { return channels * bitsPerChannel; }
};

// Whether the EXIF orientation of a JPEG is applied: Apply as imread with IMREAD_COLOR does, AsStored as imread with
// IMREAD_UNCHANGED does (the rows and columns as the file stores them). Other formats have none.
enum class ImageOrientation { Apply, AsStored };

struct DecodedImage {
    BgrPicture picture;
    ImageLayout layout;
    int exifOrientation = 1; // as the file says, 1..8 (1 also when it says nothing or something else)
};

struct ImageDecodeResult {
    std::string problem; // empty on success
    DecodedImage image;
    bool ok() const { return problem.empty(); }
};

// Decodes the picture file at cp949Path. A problem names the file: "cannot decode FILE: why".
ImageDecodeResult DecodeImageFile(const std::string& cp949Path, ImageOrientation orientation = ImageOrientation::Apply);

// The same for a file's bytes already in memory (problems without a file name: "cannot decode: why").
ImageDecodeResult DecodeImageBytes(std::string_view bytes, ImageOrientation orientation = ImageOrientation::Apply);

} // namespace quillet
