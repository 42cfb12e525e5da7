// PNG through libpng, with the transformations that give imread's IMREAD_COLOR pixels: 16-bit samples cut to
// their high byte, alpha stripped, palettes and low-depth grey expanded, grey repeated into three channels, BGR order.
//
// libpng reports errors by longjmp. Everything with a destructor lives in DecodePng's frame, outside the two
// functions that call setjmp; those hold plain values and write only into storage their caller owns, so a longjmp
// out of libpng skips no destructor and leaks nothing (libpng's own memory goes with png_destroy_read_struct).
#include <png.h>

#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

#include "imagefile/decoders.h"

namespace quillet::imagefile {

namespace {

struct PngSource {
    const uint8_t* data = nullptr;
    std::size_t size = 0;
    std::size_t pos = 0;
    char message[200] = {};
};

void ReadBytes(png_structp png, png_bytep out, png_size_t n) {
    auto* src = static_cast<PngSource*>(png_get_io_ptr(png));
    if (n > src->size - src->pos) png_error(png, "the file ends early (truncated)");
    std::memcpy(out, src->data + src->pos, n);
    src->pos += n;
}

void OnError(png_structp png, png_const_charp message) {
    auto* src = static_cast<PngSource*>(png_get_error_ptr(png));
    std::snprintf(src->message, sizeof src->message, "PNG: %s", message ? message : "damaged data");
    png_longjmp(png, 1);
}

void OnWarning(png_structp, png_const_charp) {}

struct PngHeader {
    png_uint_32 width = 0, height = 0;
    int depth = 0, colorType = 0;
    int numTrans = 0;
};

// The two parts that libpng may leave by longjmp hold plain values only; the storage they fill is the caller's.
bool ReadHeader(png_structp png, png_infop info, PngSource& src, PngHeader& h) {
    if (setjmp(png_jmpbuf(png))) return false;
    png_set_read_fn(png, &src, ReadBytes);
    png_set_user_limits(png, kMaxImageSide, kMaxImageSide);
    png_set_chunk_malloc_max(png, 8u << 20);
    png_read_info(png, info);
    int interlace = 0;
    png_get_IHDR(png, info, &h.width, &h.height, &h.depth, &h.colorType, &interlace, nullptr, nullptr);
    png_bytep trans = nullptr;
    png_color_16p transColor = nullptr;
    png_get_tRNS(png, info, &trans, &h.numTrans, &transColor);
    return true;
}

bool ReadPixels(png_structp png, png_infop info, PngSource& src, const PngHeader& h, png_bytepp rows,
                std::size_t stride) {
    if (setjmp(png_jmpbuf(png))) return false;
    if (h.depth == 16) png_set_strip_16(png);
    png_set_strip_alpha(png);
    if (h.colorType == PNG_COLOR_TYPE_PALETTE) png_set_palette_to_rgb(png);
    if ((h.colorType & PNG_COLOR_MASK_COLOR) == 0 && h.depth < 8) png_set_expand_gray_1_2_4_to_8(png);
    if ((h.colorType & PNG_COLOR_MASK_COLOR) != 0)
        png_set_bgr(png);
    else
        png_set_gray_to_rgb(png);
    png_set_interlace_handling(png);
    png_read_update_info(png, info);
    if (png_get_rowbytes(png, info) != stride) {
        std::snprintf(src.message, sizeof src.message, "unexpected PNG row layout");
        return false;
    }
    png_read_image(png, rows);
    png_read_end(png, nullptr);
    return true;
}

} // namespace

std::string DecodePng(std::string_view in, DecodedImage& out) {
    PngSource src;
    src.data = reinterpret_cast<const uint8_t*>(in.data());
    src.size = in.size();
    png_structp png = png_create_read_struct(PNG_LIBPNG_VER_STRING, &src, OnError, OnWarning);
    if (png == nullptr) return "out of memory";
    png_infop info = png_create_info_struct(png);
    if (info == nullptr) {
        png_destroy_read_struct(&png, nullptr, nullptr);
        return "out of memory";
    }
    std::string problem;
    PngHeader h;
    if (!ReadHeader(png, info, src, h))
        problem = src.message;
    else
        problem = AllocatePicture(h.width, h.height, out.picture);
    if (problem.empty()) {
        // What IMREAD_UNCHANGED would keep: alpha, or a tRNS chunk on a colour image, makes 4 channels.
        out.layout.format = ImageFormat::Png;
        out.layout.bitsPerChannel = h.depth == 16 ? 16 : 8;
        switch (h.colorType) {
        case PNG_COLOR_TYPE_RGB:
        case PNG_COLOR_TYPE_PALETTE: out.layout.channels = h.numTrans > 0 ? 4 : 3; break;
        case PNG_COLOR_TYPE_GRAY_ALPHA:
        case PNG_COLOR_TYPE_RGB_ALPHA: out.layout.channels = 4; break;
        default: out.layout.channels = 1; break;
        }
        std::vector<png_bytep> rows(static_cast<std::size_t>(out.picture.height));
        for (int32_t y = 0; y < out.picture.height; ++y) rows[static_cast<std::size_t>(y)] = out.picture.row(y);
        if (!ReadPixels(png, info, src, h, rows.data(), out.picture.stride)) problem = src.message;
    }
    png_destroy_read_struct(&png, &info, nullptr);
    return problem;
}

} // namespace quillet::imagefile
