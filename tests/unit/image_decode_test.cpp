// The picture reader against OpenCV's imread on files made here: PNG and JPEG written with libpng and libjpeg,
// BMP and GIF written byte by byte. Where imread reads a file, both must give the same bytes and the same layout.
#include "imagefile/image_file.h"

#include <gtest/gtest.h>

#include <jpeglib.h>
#include <png.h>
#include <sys/stat.h>
#include <unistd.h>
#include <zlib.h>

#include <csetjmp>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <functional>
#include <map>
#include <random>
#include <string>
#include <vector>

#include <opencv2/core.hpp>
#include <opencv2/imgcodecs.hpp>

#include "imagefile/image_mat.h"
#include "model/cp949.h"

// The corpus tables below give each file's leading fields only; the rest keep their defaults.
#pragma GCC diagnostic ignored "-Wmissing-field-initializers"

namespace quillet {
namespace {

namespace fs = std::filesystem;

class TempDir {
public:
    TempDir() : path_(fs::temp_directory_path() / ("quillet-image-" + std::to_string(::getpid()))) {
        fs::create_directories(path_);
    }
    ~TempDir() { fs::remove_all(path_); }
    std::string Write(const std::string& name, const std::string& bytes) const {
        const std::string p = (path_ / name).string();
        std::ofstream(p, std::ios::binary | std::ios::trunc) << bytes;
        return p;
    }
    const fs::path& path() const { return path_; }

private:
    fs::path path_;
};

std::string Bytes(std::initializer_list<int> values) {
    std::string s;
    for (int v : values) s.push_back(static_cast<char>(v));
    return s;
}
void Put16(std::string& s, uint32_t v) {
    s.push_back(static_cast<char>(v & 0xFF));
    s.push_back(static_cast<char>((v >> 8) & 0xFF));
}
void Put32(std::string& s, uint32_t v) {
    Put16(s, v & 0xFFFF);
    Put16(s, v >> 16);
}

// Compares the decoder with imread on one file: IMREAD_COLOR pixels, and the layout and stored-orientation pixels
// IMREAD_UNCHANGED gives.
void ExpectSameAsImread(const TempDir& dir, const std::string& name, const std::string& bytes) {
    SCOPED_TRACE(name);
    const std::string path = dir.Write(name, bytes);
    const cv::Mat expected = cv::imread(path, cv::IMREAD_COLOR);
    ASSERT_FALSE(expected.empty()) << "imread cannot read the test file";
    const ImageDecodeResult r = DecodeImageFile(path);
    ASSERT_TRUE(r.ok()) << r.problem;
    const cv::Mat got = BgrMatView(r.image.picture);
    ASSERT_EQ(got.size(), expected.size());
    EXPECT_EQ(cv::norm(got, expected, cv::NORM_INF), 0.0);

    const cv::Mat stored = cv::imread(path, cv::IMREAD_UNCHANGED);
    EXPECT_EQ(r.image.layout.channels, stored.channels());
    EXPECT_EQ(r.image.layout.bitsPerChannel, stored.depth() == CV_16U ? 16 : 8);
    EXPECT_EQ(r.image.layout.bitsPerPixel(), static_cast<int>(8 * stored.elemSize()));
    if (stored.depth() == CV_8U && stored.channels() == 3) {
        const ImageDecodeResult asStored = DecodeImageFile(path, ImageOrientation::AsStored);
        ASSERT_TRUE(asStored.ok());
        const cv::Mat plain = BgrMatView(asStored.image.picture);
        ASSERT_EQ(plain.size(), stored.size());
        EXPECT_EQ(cv::norm(plain, stored, cv::NORM_INF), 0.0);
    }
}

// ---------------------------------------------------------------------------------------------------------------
// PNG, written with libpng

struct PngRecipe {
    int colorType = PNG_COLOR_TYPE_RGB;
    int depth = 8;
    bool interlace = false;
    int paletteSize = 0; // for palette images
    int transCount = 0;  // palette tRNS entries; for grey and RGB: one tRNS colour when > 0
    int width = 37, height = 23;
};

void AppendPng(png_structp png, png_bytep data, png_size_t n) {
    static_cast<std::string*>(png_get_io_ptr(png))->append(reinterpret_cast<const char*>(data), n);
}

bool WritePngRows(png_structp png, png_infop info, const PngRecipe& s, std::vector<png_color>& palette,
                  std::vector<png_byte>& trans, std::vector<png_bytep>& rows) {
    if (setjmp(png_jmpbuf(png))) return false;
    png_set_IHDR(png, info, s.width, s.height, s.depth, s.colorType,
                 s.interlace ? PNG_INTERLACE_ADAM7 : PNG_INTERLACE_NONE, PNG_COMPRESSION_TYPE_DEFAULT,
                 PNG_FILTER_TYPE_DEFAULT);
    if (s.colorType == PNG_COLOR_TYPE_PALETTE) png_set_PLTE(png, info, palette.data(), s.paletteSize);
    png_color_16 transColor{0, 10, 20, 30, 40};
    if (s.colorType == PNG_COLOR_TYPE_PALETTE && s.transCount > 0)
        png_set_tRNS(png, info, trans.data(), s.transCount, nullptr);
    else if (s.transCount > 0)
        png_set_tRNS(png, info, nullptr, 0, &transColor);
    png_write_info(png, info);
    png_write_image(png, rows.data());
    png_write_end(png, info);
    return true;
}

std::string MakePng(const PngRecipe& s, uint32_t seed) {
    std::mt19937 random(seed);
    const int channels = s.colorType == PNG_COLOR_TYPE_RGB         ? 3
                         : s.colorType == PNG_COLOR_TYPE_RGB_ALPHA  ? 4
                         : s.colorType == PNG_COLOR_TYPE_GRAY_ALPHA ? 2
                                                                    : 1;
    const std::size_t rowBytes = (static_cast<std::size_t>(s.width) * channels * s.depth + 7) / 8;
    std::vector<std::vector<png_byte>> data(s.height, std::vector<png_byte>(rowBytes));
    for (auto& row : data) {
        for (auto& b : row) b = static_cast<png_byte>(random());
        if (s.colorType == PNG_COLOR_TYPE_PALETTE && s.depth == 8)
            for (auto& b : row) b = static_cast<png_byte>(b % s.paletteSize);
    }
    std::vector<png_bytep> rows;
    for (auto& row : data) rows.push_back(row.data());
    std::vector<png_color> palette(256);
    for (auto& c : palette) c = {static_cast<png_byte>(random()), static_cast<png_byte>(random()),
                                 static_cast<png_byte>(random())};
    std::vector<png_byte> trans(256);
    for (auto& t : trans) t = static_cast<png_byte>(random());

    std::string out;
    png_structp png = png_create_write_struct(PNG_LIBPNG_VER_STRING, nullptr, nullptr, nullptr);
    png_infop info = png_create_info_struct(png);
    png_set_write_fn(png, &out, AppendPng, nullptr);
    const bool ok = WritePngRows(png, info, s, palette, trans, rows);
    png_destroy_write_struct(&png, &info);
    EXPECT_TRUE(ok);
    return out;
}

// A PNG chunk with its CRC.
std::string Chunk(const std::string& type, const std::string& data) {
    std::string c;
    const uint32_t n = static_cast<uint32_t>(data.size());
    c += Bytes({static_cast<int>(n >> 24), static_cast<int>((n >> 16) & 0xFF), static_cast<int>((n >> 8) & 0xFF),
                static_cast<int>(n & 0xFF)});
    const std::string body = type + data;
    c += body;
    const uint32_t crc = static_cast<uint32_t>(
        crc32(0, reinterpret_cast<const Bytef*>(body.data()), static_cast<uInt>(body.size())));
    c += Bytes({static_cast<int>(crc >> 24), static_cast<int>((crc >> 16) & 0xFF), static_cast<int>((crc >> 8) & 0xFF),
                static_cast<int>(crc & 0xFF)});
    return c;
}

std::string PngHeaderOnly(uint32_t width, uint32_t height) {
    std::string ihdr;
    for (uint32_t v : {width, height})
        ihdr += Bytes({static_cast<int>(v >> 24), static_cast<int>((v >> 16) & 0xFF),
                       static_cast<int>((v >> 8) & 0xFF), static_cast<int>(v & 0xFF)});
    ihdr += Bytes({8, 2, 0, 0, 0});
    return std::string("\x89PNG\r\n\x1a\n", 8) + Chunk("IHDR", ihdr) + Chunk("IDAT", "") + Chunk("IEND", "");
}

std::vector<std::pair<std::string, PngRecipe>> PngCorpus() {
    const int G = PNG_COLOR_TYPE_GRAY, GA = PNG_COLOR_TYPE_GRAY_ALPHA, P = PNG_COLOR_TYPE_PALETTE,
              RGB = PNG_COLOR_TYPE_RGB, RGBA = PNG_COLOR_TYPE_RGB_ALPHA;
    return {
        {"grey1", {G, 1}},           {"grey2", {G, 2}},           {"grey4", {G, 4}},
        {"grey8", {G, 8}},           {"grey16", {G, 16}},         {"grey8-trns", {G, 8, false, 0, 1}},
        {"grey16-adam7", {G, 16, true}},                          {"greyalpha8", {GA, 8}},
        {"greyalpha16", {GA, 16}},   {"pal1", {P, 1, false, 2}},  {"pal2", {P, 2, false, 4}},
        {"pal4", {P, 4, false, 16}}, {"pal8", {P, 8, false, 200}}, {"pal8-trns", {P, 8, false, 256, 17}},
        {"pal4-trns", {P, 4, false, 16, 16}},                     {"pal8-adam7", {P, 8, true, 256}},
        {"rgb8", {RGB, 8}},          {"rgb16", {RGB, 16}},        {"rgb8-trns", {RGB, 8, false, 0, 1}},
        {"rgb8-adam7", {RGB, 8, true}},                           {"rgba8", {RGBA, 8}},
        {"rgba16", {RGBA, 16}},      {"rgba8-adam7", {RGBA, 8, true}},
        {"rgb8-1x1", {RGB, 8, false, 0, 0, 1, 1}},                {"grey1-adam7-3x2", {G, 1, true, 0, 0, 3, 2}},
    };
}

TEST(ImageDecode, PngOfEveryKindReadsAsImread) {
    TempDir dir;
    uint32_t seed = 1;
    for (const auto& [name, recipe] : PngCorpus()) ExpectSameAsImread(dir, name + ".png", MakePng(recipe, seed++));
}

// ---------------------------------------------------------------------------------------------------------------
// JPEG, written with libjpeg

struct JpegRecipe {
    J_COLOR_SPACE input = JCS_RGB; // JCS_RGB, JCS_GRAYSCALE or JCS_CMYK
    J_COLOR_SPACE stored = JCS_UNKNOWN; // JCS_YCCK for a YCCK file; otherwise the library's default
    bool progressive = false;
    bool fullChroma = false; // 4:4:4 instead of 4:2:0
    int width = 37, height = 23;
    std::vector<std::string> app1; // APP1 segments to write, in order
};

struct JpegWriteErrors {
    jpeg_error_mgr mgr;
    std::jmp_buf jump;
};

void OnJpegWriteError(j_common_ptr cinfo) {
    std::longjmp(reinterpret_cast<JpegWriteErrors*>(cinfo->err)->jump, 1);
}

bool CompressJpeg(jpeg_compress_struct& c, JpegWriteErrors& errors, const JpegRecipe& s, const std::vector<uint8_t>& px,
                  int components, unsigned char** buffer, unsigned long* size) {
    if (setjmp(errors.jump)) return false;
    jpeg_create_compress(&c);
    jpeg_mem_dest(&c, buffer, size);
    c.image_width = static_cast<JDIMENSION>(s.width);
    c.image_height = static_cast<JDIMENSION>(s.height);
    c.input_components = components;
    c.in_color_space = s.input;
    jpeg_set_defaults(&c);
    if (s.stored != JCS_UNKNOWN) jpeg_set_colorspace(&c, s.stored);
    jpeg_set_quality(&c, 90, TRUE);
    if (s.fullChroma) c.comp_info[0].h_samp_factor = c.comp_info[0].v_samp_factor = 1;
    if (s.progressive) jpeg_simple_progression(&c);
    jpeg_start_compress(&c, TRUE);
    for (const std::string& a : s.app1)
        jpeg_write_marker(&c, JPEG_APP0 + 1, reinterpret_cast<const JOCTET*>(a.data()),
                          static_cast<unsigned>(a.size()));
    while (c.next_scanline < c.image_height) {
        JSAMPROW row = const_cast<JSAMPROW>(px.data() + static_cast<std::size_t>(c.next_scanline) * s.width * components);
        jpeg_write_scanlines(&c, &row, 1);
    }
    jpeg_finish_compress(&c);
    return true;
}

std::string MakeJpeg(const JpegRecipe& s, uint32_t seed) {
    std::mt19937 random(seed);
    const int components = s.input == JCS_GRAYSCALE ? 1 : s.input == JCS_CMYK ? 4 : 3;
    // Gradients with a little noise: a picture whose turns and flips are all different.
    std::vector<uint8_t> px(static_cast<std::size_t>(s.width) * s.height * components);
    for (int y = 0; y < s.height; ++y)
        for (int x = 0; x < s.width; ++x)
            for (int k = 0; k < components; ++k)
                px[(static_cast<std::size_t>(y) * s.width + x) * components + k] =
                    static_cast<uint8_t>((x * 6 * (k + 1) + y * 11 * (2 - k % 2) + random() % 24) & 0xFF);
    jpeg_compress_struct c{};
    JpegWriteErrors errors{};
    c.err = jpeg_std_error(&errors.mgr);
    errors.mgr.error_exit = OnJpegWriteError;
    unsigned char* buffer = nullptr;
    unsigned long size = 0;
    const bool ok = CompressJpeg(c, errors, s, px, components, &buffer, &size);
    jpeg_destroy_compress(&c);
    std::string out(reinterpret_cast<const char*>(buffer), size);
    std::free(buffer);
    EXPECT_TRUE(ok);
    return out;
}

// An APP1 Exif payload whose first IFD holds an orientation tag (and a tag before it), in either byte order.
std::string ExifApp1(int orientation, bool bigEndian) {
    std::string e = std::string("Exif\0\0", 6);
    auto u16 = [&](uint32_t v) {
        if (bigEndian) e += Bytes({static_cast<int>(v >> 8), static_cast<int>(v & 0xFF)});
        else Put16(e, v);
    };
    auto u32 = [&](uint32_t v) {
        if (bigEndian) u16(v >> 16), u16(v & 0xFFFF);
        else u16(v & 0xFFFF), u16(v >> 16);
    };
    e += bigEndian ? "MM" : "II";
    u16(42);
    u32(8);
    u16(2);                                   // two entries
    u16(0x010F), u16(2), u32(4), e += "Cam"; // Make, ASCII "Cam\0"
    e.push_back('\0');
    u16(0x0112), u16(3), u32(1), u16(static_cast<uint32_t>(orientation)), u16(0);
    u32(0);
    return e;
}

TEST(ImageDecode, JpegBaselineProgressiveGreyAndCmykReadAsImread) {
    TempDir dir;
    const std::vector<std::pair<std::string, JpegRecipe>> corpus = {
        {"baseline420", {}},
        {"baseline444", {JCS_RGB, JCS_UNKNOWN, false, true}},
        {"progressive", {JCS_RGB, JCS_UNKNOWN, true}},
        {"grey", {JCS_GRAYSCALE}},
        {"grey-progressive", {JCS_GRAYSCALE, JCS_UNKNOWN, true}},
        {"cmyk", {JCS_CMYK}},
        {"ycck", {JCS_CMYK, JCS_YCCK}},
        {"one-pixel", {JCS_RGB, JCS_UNKNOWN, false, false, 1, 1}},
        {"wide-odd", {JCS_RGB, JCS_UNKNOWN, true, false, 129, 3}},
    };
    uint32_t seed = 100;
    for (const auto& [name, recipe] : corpus) ExpectSameAsImread(dir, name + ".jpg", MakeJpeg(recipe, seed++));
}

// Every orientation in both byte orders turns the picture as imread does; only the first APP1 segment is read for
// it, and the picture as stored stays available.
TEST(ImageDecode, JpegExifOrientationsTurnThePictureAsImread) {
    TempDir dir;
    for (int o = 1; o <= 8; ++o)
        for (bool big : {false, true}) {
            JpegRecipe recipe;
            recipe.app1 = {ExifApp1(o, big)};
            const std::string bytes = MakeJpeg(recipe, 7);
            ExpectSameAsImread(dir, "o" + std::to_string(o) + (big ? "mm" : "ii") + ".jpg", bytes);
            const ImageDecodeResult r = DecodeImageBytes(bytes);
            ASSERT_TRUE(r.ok());
            EXPECT_EQ(r.image.exifOrientation, o);
            EXPECT_EQ(r.image.picture.width, o >= 5 ? 23 : 37);
        }
    JpegRecipe xmpFirst;
    xmpFirst.app1 = {std::string("http://ns.adobe.com/xap/1.0/\0<x/>", 34), ExifApp1(6, false)};
    ExpectSameAsImread(dir, "xmp-first.jpg", MakeJpeg(xmpFirst, 8));
    JpegRecipe bogus;
    bogus.app1 = {ExifApp1(9, false)};
    ExpectSameAsImread(dir, "orientation9.jpg", MakeJpeg(bogus, 9));
    EXPECT_EQ(DecodeImageBytes(MakeJpeg(bogus, 9)).image.exifOrientation, 1);
}

// ---------------------------------------------------------------------------------------------------------------
// BMP, written byte by byte

struct BmpRecipe {
    int32_t width = 21, height = 13; // negative height: top-down rows
    uint32_t bpp = 24;
    uint32_t compression = 0;
    uint32_t headerSize = 40;
    std::vector<uint32_t> palette; // 0x00RRGGBB
    std::vector<uint32_t> masks;   // R, G, B
    std::string pixels;            // empty: random rows of the right size
};

std::string MakeBmp(BmpRecipe s, uint32_t seed) {
    std::mt19937 random(seed);
    const std::size_t rowBytes = ((static_cast<std::size_t>(s.width) * s.bpp + 31) / 32) * 4;
    const std::size_t rows = static_cast<std::size_t>(s.height < 0 ? -s.height : s.height);
    if (s.pixels.empty()) {
        for (std::size_t r = 0; r < rows; ++r) {
            std::string row(rowBytes, '\0');
            const std::size_t used = (static_cast<std::size_t>(s.width) * s.bpp + 7) / 8;
            for (std::size_t i = 0; i < used; ++i) row[i] = static_cast<char>(random());
            if (s.bpp == 8 && !s.palette.empty())
                for (std::size_t i = 0; i < used; ++i)
                    row[i] = static_cast<char>(static_cast<uint8_t>(row[i]) % s.palette.size());
            s.pixels += row;
        }
    }
    std::string info;
    if (s.headerSize == 12) {
        Put32(info, 12);
        Put16(info, static_cast<uint32_t>(s.width));
        Put16(info, static_cast<uint32_t>(s.height));
        Put16(info, 1);
        Put16(info, s.bpp);
    } else {
        Put32(info, s.headerSize);
        Put32(info, static_cast<uint32_t>(s.width));
        Put32(info, static_cast<uint32_t>(s.height));
        Put16(info, 1);
        Put16(info, s.bpp);
        Put32(info, s.compression);
        Put32(info, static_cast<uint32_t>(s.pixels.size()));
        Put32(info, 2835);
        Put32(info, 2835);
        Put32(info, static_cast<uint32_t>(s.palette.size()));
        Put32(info, 0);
        for (uint32_t m : s.masks) Put32(info, m);
        if (s.headerSize > 40 && s.masks.size() == 3) Put32(info, 0); // alpha mask
        if (s.headerSize >= 108 && info.size() < 56) info.resize(56, '\0');
        if (s.headerSize >= 108) {
            Put32(info, 0x73524742); // sRGB
            info.resize(s.headerSize, '\0');
        }
    }
    for (uint32_t c : s.palette) {
        Put16(info, c & 0xFFFF);
        if (s.headerSize == 12) info.push_back(static_cast<char>((c >> 16) & 0xFF));
        else Put16(info, c >> 16);
    }
    std::string file = "BM";
    Put32(file, static_cast<uint32_t>(14 + info.size() + s.pixels.size()));
    Put32(file, 0);
    Put32(file, static_cast<uint32_t>(14 + info.size()));
    return file + info + s.pixels;
}

std::vector<uint32_t> RandomPalette(std::size_t n, uint32_t seed, bool grey = false) {
    std::mt19937 random(seed);
    std::vector<uint32_t> p(n);
    for (auto& c : p) {
        c = random() & 0xFFFFFF;
        if (grey) c = (c & 0xFF) * 0x010101;
    }
    return p;
}

TEST(ImageDecode, BmpOfEveryKindReadsAsImread) {
    TempDir dir;
    const std::vector<uint32_t> p2 = RandomPalette(2, 1), p16 = RandomPalette(16, 2), p256 = RandomPalette(256, 3);
    // RLE8 of a 10 x 4 picture: runs, an absolute run with padding, a move (delta), an early end of row and the end
    // of the picture before the last row is full.
    const std::string rle8 = Bytes({4, 7, 0, 3, 1, 2, 3, 0, 0, 0, //
                                    2, 5, 0, 2, 3, 0, 5, 200, 0, 0, //
                                    10, 100, 0, 0,                  //
                                    2, 50, 0, 1});
    // RLE4 of a 9 x 3 picture: runs of two alternating indices, absolute runs of odd length.
    const std::string rle4 = Bytes({5, 0x1F, 4, 0x23, 0, 0, //
                                    0, 5, 0x45, 0x67, 0x80, 0, 4, 0xAB, 0, 0, //
                                    9, 0xC3, 0, 1});
    const std::vector<std::pair<std::string, BmpRecipe>> corpus = {
        {"bpp1", {21, 13, 1, 0, 40, p2}},
        {"bpp4", {21, 13, 4, 0, 40, p16}},
        {"bpp8", {21, 13, 8, 0, 40, p256}},
        {"bpp8-grey", {21, 13, 8, 0, 40, RandomPalette(256, 4, true)}},
        {"bpp8-few-colours", {21, 13, 8, 0, 40, RandomPalette(7, 5)}},
        {"bpp4-grey-topdown", {21, -13, 4, 0, 40, RandomPalette(16, 6, true)}},
        {"bpp16-555", {21, 13, 16}},
        {"bpp16-555-fields", {21, 13, 16, 3, 40, {}, {0x7C00, 0x03E0, 0x001F}}},
        {"bpp16-565", {21, 13, 16, 3, 40, {}, {0xF800, 0x07E0, 0x001F}}},
        {"bpp24", {21, 13, 24}},
        {"bpp24-topdown", {21, -13, 24}},
        {"bpp24-v5", {21, 13, 24, 0, 124}},
        {"bpp24-1x1", {1, 1, 24}},
        {"bpp32", {21, 13, 32}},
        {"bpp32-fields-v4", {21, 13, 32, 3, 108, {}, {0xFF0000, 0xFF00, 0xFF}}},
        {"rle8", {10, 4, 8, 1, 40, p256, {}, rle8}},
        {"rle4", {9, 3, 4, 2, 40, p16, {}, rle4}},
        {"os2-bpp8", {21, 13, 8, 0, 12, p256}},
        {"os2-bpp24", {21, 13, 24, 0, 12}},
    };
    uint32_t seed = 200;
    for (const auto& [name, recipe] : corpus) ExpectSameAsImread(dir, name + ".bmp", MakeBmp(recipe, seed++));
}

// ---------------------------------------------------------------------------------------------------------------
// GIF, written byte by byte with an LZW encoder of the test's own

// LZW as GIF uses it, codes packed from the lowest bit up. deferredClear: when the table is full, go on with 12-bit
// codes and no new entries instead of sending a clear code.
std::string LzwEncode(const std::vector<uint8_t>& indices, int minSize, bool deferredClear = false) {
    const uint32_t clear = 1u << minSize, end = clear + 1;
    std::map<std::pair<uint32_t, uint8_t>, uint32_t> table;
    uint32_t next = clear + 2;
    std::string out;
    uint32_t bits = 0;
    int count = 0;
    const auto emit = [&](uint32_t code) {
        // The decoder's table is one entry behind the encoder's.
        int width = minSize + 1;
        while (width < 12 && next - 1 >= (1u << width)) ++width;
        bits |= code << count;
        count += width;
        while (count >= 8) {
            out.push_back(static_cast<char>(bits & 0xFF));
            bits >>= 8;
            count -= 8;
        }
    };
    emit(clear);
    uint32_t cur = indices[0];
    for (std::size_t i = 1; i < indices.size(); ++i) {
        const uint8_t k = indices[i];
        if (auto it = table.find({cur, k}); it != table.end()) {
            cur = it->second;
            continue;
        }
        emit(cur);
        if (next < 4096) {
            table[{cur, k}] = next++;
        } else if (!deferredClear) {
            emit(clear);
            table.clear();
            next = clear + 2;
        }
        cur = k;
    }
    emit(cur);
    emit(end);
    if (count > 0) out.push_back(static_cast<char>(bits & 0xFF));
    // Sub-blocks of at most 255 bytes.
    std::string blocks;
    for (std::size_t at = 0; at < out.size(); at += 255) {
        const std::string part = out.substr(at, 255);
        blocks.push_back(static_cast<char>(part.size()));
        blocks += part;
    }
    blocks.push_back('\0');
    return blocks;
}

struct GifFrame {
    int left = 0, top = 0, width = 0, height = 0;
    std::vector<uint32_t> localTable; // 0x00RRGGBB; empty: the global one
    bool interlaced = false;
    std::vector<uint8_t> indices; // in display order
    int transparent = -1;
    int minSize = 8;
    bool deferredClear = false;
};

std::string ColourTable(const std::vector<uint32_t>& table) {
    std::string s;
    for (uint32_t c : table)
        s += Bytes({static_cast<int>((c >> 16) & 0xFF), static_cast<int>((c >> 8) & 0xFF), static_cast<int>(c & 0xFF)});
    return s;
}
int TableBits(std::size_t n) {
    int b = 0;
    while ((2u << b) < n) ++b;
    return b;
}

std::string MakeGif(int screenW, int screenH, const std::vector<uint32_t>& global, const std::vector<GifFrame>& frames) {
    std::string g = "GIF89a";
    Put16(g, static_cast<uint32_t>(screenW));
    Put16(g, static_cast<uint32_t>(screenH));
    g += Bytes({global.empty() ? 0 : 0x80 | 0x70 | TableBits(global.size()), 0, 0});
    g += ColourTable(global);
    g += Bytes({0x21, 0xFE, 5}) + "hello" + Bytes({0}); // a comment first
    for (const GifFrame& f : frames) {
        g += Bytes({0x21, 0xF9, 4, f.transparent >= 0 ? 1 : 0, 10, 0, f.transparent >= 0 ? f.transparent : 0, 0});
        g.push_back(0x2C);
        Put16(g, f.left), Put16(g, f.top), Put16(g, f.width), Put16(g, f.height);
        g.push_back(static_cast<char>((f.localTable.empty() ? 0 : 0x80 | TableBits(f.localTable.size())) |
                                      (f.interlaced ? 0x40 : 0)));
        g += ColourTable(f.localTable);
        std::vector<uint8_t> stored;
        std::vector<int> order;
        if (f.interlaced) {
            for (int start : {0, 4, 2, 1})
                for (int y = start; y < f.height; y += (start == 0 ? 8 : start == 4 ? 8 : start == 2 ? 4 : 2))
                    order.push_back(y);
        } else {
            for (int y = 0; y < f.height; ++y) order.push_back(y);
        }
        for (int y : order)
            stored.insert(stored.end(), f.indices.begin() + y * f.width, f.indices.begin() + (y + 1) * f.width);
        g.push_back(static_cast<char>(f.minSize));
        g += LzwEncode(stored, f.minSize, f.deferredClear);
    }
    g.push_back(0x3B);
    return g;
}

// What a viewer shows of the first frame, alpha dropped: black where the frame does not reach or its index is past
// the table.
std::vector<uint8_t> ExpectedCanvas(int w, int h, const std::vector<uint32_t>& global, const GifFrame& f) {
    std::vector<uint8_t> px(static_cast<std::size_t>(w) * h * 3, 0);
    const std::vector<uint32_t>& table = f.localTable.empty() ? global : f.localTable;
    for (int y = 0; y < f.height; ++y)
        for (int x = 0; x < f.width; ++x) {
            const int cx = f.left + x, cy = f.top + y;
            const uint8_t index = f.indices[static_cast<std::size_t>(y) * f.width + x];
            if (cx >= w || cy >= h || index >= table.size()) continue;
            uint8_t* p = &px[(static_cast<std::size_t>(cy) * w + cx) * 3];
            p[0] = table[index] & 0xFF, p[1] = (table[index] >> 8) & 0xFF, p[2] = (table[index] >> 16) & 0xFF;
        }
    return px;
}

std::vector<uint8_t> RandomIndices(std::size_t n, uint32_t limit, uint32_t seed, int runs = 1) {
    std::mt19937 random(seed);
    std::vector<uint8_t> v(n);
    for (std::size_t i = 0; i < n; ++i) v[i] = (i % runs == 0 || i == 0) ? random() % limit : v[i - 1];
    return v;
}

TEST(ImageDecode, GifFirstFrameOnTheLogicalScreen) {
    // A well-known 10 x 10 sample (red, blue and white, with a transparent-colour extension that marks nothing).
    const std::string sample = Bytes({0x47, 0x49, 0x46, 0x38, 0x39, 0x61, 0x0A, 0x00, 0x0A, 0x00, 0x91, 0x00, 0x00,
                                      0xFF, 0xFF, 0xFF, 0xFF, 0x00, 0x00, 0x00, 0x00, 0xFF, 0x00, 0x00, 0x00, 0x21,
                                      0xF9, 0x04, 0x00, 0x00, 0x00, 0x00, 0x00, 0x2C, 0x00, 0x00, 0x00, 0x00, 0x0A,
                                      0x00, 0x0A, 0x00, 0x00, 0x02, 0x16, 0x8C, 0x2D, 0x99, 0x87, 0x2A, 0x1C, 0xDC,
                                      0x33, 0xA0, 0x02, 0x75, 0xEC, 0x95, 0xFA, 0xA8, 0xDE, 0x60, 0x8C, 0x04, 0x91,
                                      0x4C, 0x01, 0x00, 0x3B});
    const char* const rows[10] = {"1111122222", "1111122222", "1111122222", "1110000222", "1110000222",
                                  "2220000111", "2220000111", "2222211111", "2222211111", "2222211111"};
    const ImageDecodeResult s = DecodeImageBytes(sample);
    ASSERT_TRUE(s.ok()) << s.problem;
    ASSERT_EQ(s.image.picture.width, 10);
    ASSERT_EQ(s.image.picture.height, 10);
    const uint8_t colours[3][3] = {{255, 255, 255}, {0, 0, 255}, {255, 0, 0}}; // BGR of white, red, blue
    for (int y = 0; y < 10; ++y)
        for (int x = 0; x < 10; ++x)
            EXPECT_EQ(std::memcmp(s.image.picture.row(y) + x * 3, colours[rows[y][x] - '0'], 3), 0) << x << "," << y;
    EXPECT_EQ(s.image.layout.bitsPerPixel(), 24);

    const std::vector<uint32_t> global = RandomPalette(256, 11);
    struct Case {
        std::string name;
        int screenW, screenH;
        GifFrame frame;
        int expectW, expectH;
    };
    std::vector<Case> cases;
    // A frame smaller than the screen at an offset; its transparent index keeps its colour.
    cases.push_back({"offset", 40, 30, {5, 7, 20, 11, {}, false, RandomIndices(220, 256, 1), 3}, 40, 30});
    // Runs of one index (the code that refers to itself), a full table with clear codes, and a deferred clear.
    cases.push_back({"runs", 64, 64, {0, 0, 64, 64, {}, false, RandomIndices(4096, 256, 2, 9)}, 64, 64});
    cases.push_back({"full-table", 200, 100, {0, 0, 200, 100, {}, false, RandomIndices(20000, 256, 3, 2)}, 200, 100});
    GifFrame deferred{0, 0, 200, 100, {}, false, RandomIndices(20000, 256, 4, 2)};
    deferred.deferredClear = true;
    cases.push_back({"deferred-clear", 200, 100, deferred, 200, 100});
    // Interlaced, with a small local table of fewer colours than indices (those past it black), minimum code size 2.
    GifFrame interlaced{0, 0, 13, 11, RandomPalette(4, 12), true, RandomIndices(143, 8, 5)};
    interlaced.minSize = 3;
    cases.push_back({"interlaced-local", 13, 11, interlaced, 13, 11});
    // A frame reaching past the screen is cut at its edge; a screen of no size takes the frame's extent.
    cases.push_back({"clipped", 10, 10, {6, 4, 8, 9, {}, false, RandomIndices(72, 256, 6)}, 10, 10});
    cases.push_back({"no-screen", 0, 0, {3, 2, 8, 9, {}, false, RandomIndices(72, 256, 7)}, 11, 11});
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        GifFrame second{0, 0, c.expectW, c.expectH, {}, false,
                        std::vector<uint8_t>(static_cast<std::size_t>(c.expectW) * c.expectH, 1)};
        const std::string gif = MakeGif(c.screenW, c.screenH, global, {c.frame, second});
        const ImageDecodeResult r = DecodeImageBytes(gif);
        ASSERT_TRUE(r.ok()) << r.problem;
        ASSERT_EQ(r.image.picture.width, c.expectW);
        ASSERT_EQ(r.image.picture.height, c.expectH);
        EXPECT_EQ(r.image.picture.bytes, ExpectedCanvas(c.expectW, c.expectH, global, c.frame));
    }
    // Data that ends (with its end code) before the frame is full leaves the rest black.
    GifFrame half{0, 0, 8, 8, {}, false, RandomIndices(32, 256, 8)};
    half.height = 4;
    std::string gif = MakeGif(8, 8, global, {half});
    const std::size_t heightField = 6 + 7 + 768 + 9 + 8 + 1 + 6; // after the table, the comment and the GCE
    ASSERT_EQ(gif[heightField], 4);
    gif[heightField] = 8; // the frame says 8 rows; its data holds 4
    const ImageDecodeResult r = DecodeImageBytes(gif);
    ASSERT_TRUE(r.ok()) << r.problem;
    std::vector<uint8_t> expected = ExpectedCanvas(8, 8, global, half);
    EXPECT_EQ(r.image.picture.bytes, expected);
}

// ---------------------------------------------------------------------------------------------------------------
// Damage

TEST(ImageDecode, DamagedAndHostileFilesGiveAProblemNeverACrash) {
    const std::string png = MakePng({PNG_COLOR_TYPE_RGB, 8}, 1);
    const std::string jpeg = MakeJpeg({}, 1);
    const std::string bmp = MakeBmp({21, 13, 8, 0, 40, RandomPalette(256, 1)}, 1);
    const std::vector<uint32_t> global = RandomPalette(4, 2);
    GifFrame frame{0, 0, 6, 5, {}, false, RandomIndices(30, 4, 3)};
    frame.minSize = 2;
    const std::string gif = MakeGif(6, 5, global, {frame});
    const std::size_t gifData = 6 + 7 + 12 + 9 + 8 + 10; // where the frame's LZW code size is
    ASSERT_EQ(gif[gifData], 2);

    auto with = [](std::string s, std::size_t at, std::string bytes) { return s.replace(at, bytes.size(), bytes); };
    auto bmpWith = [&](std::size_t at, uint32_t v) {
        std::string b;
        Put32(b, v);
        return with(bmp, at, b);
    };
    // JPEG frame header (SOF0) and its height.
    const std::size_t sof = jpeg.find("\xFF\xC0");
    ASSERT_NE(sof, std::string::npos);

    const std::vector<std::tuple<std::string, std::string, std::string>> cases = {
        {"empty", "", "the file is empty"},
        {"text", "hello, world", "not a PNG, JPEG, BMP or GIF"},
        {"png signature only", png.substr(0, 8), "truncated"},
        {"png cut in the header", png.substr(0, 20), "truncated"},
        {"png cut in the pixels", png.substr(0, png.size() / 2), "PNG"},
        {"png without its end", png.substr(0, png.size() - 12), "truncated"},
        {"png bad header crc", with(png, 29, std::string(1, static_cast<char>(png[29] ^ 0xFF))), "CRC"},
        {"png no width", PngHeaderOnly(0, 10), "PNG"},
        {"png too wide for libpng", PngHeaderOnly(70000, 10), "PNG"},
        {"png too many pixels", PngHeaderOnly(65535, 65535), "more than allowed"},
        {"png bogus palette", std::string("\x89PNG\r\n\x1a\n", 8) + Chunk("IHDR", Bytes({0, 0, 0, 4, 0, 0, 0, 4, 8, 3, 0, 0, 0})) +
                                  Chunk("PLTE", "abcd") + Chunk("IEND", ""), "PNG"},
        {"jpeg only its start", jpeg.substr(0, 2) + "\xFF", "JPEG"},
        {"jpeg cut in the header", jpeg.substr(0, sof + 6), "JPEG"},
        {"jpeg cut in the scan", jpeg.substr(0, jpeg.size() * 2 / 3), "truncated"},
        {"jpeg no height", with(jpeg, sof + 5, std::string("\0\0", 2)), "JPEG"},
        {"jpeg too many pixels", with(jpeg, sof + 5, std::string("\x80\0\x80\0", 4)), "more than allowed"},
        {"bmp header only", bmp.substr(0, 14), "truncated"},
        {"bmp unknown header size", bmpWith(14, 20), "header size"},
        {"bmp negative width", bmpWith(18, static_cast<uint32_t>(-21)), "no pixels"},
        {"bmp no height", bmpWith(22, 0), "no pixels"},
        {"bmp huge", with(bmpWith(18, 60000), 22, "\x60\x15\xFF\xFF"), "more than allowed"},
        {"bmp most negative height", bmpWith(22, 0x80000000u), "more than allowed"},
        {"bmp 7 bits per pixel", with(bmp, 28, "\x07"), "bits per pixel"},
        {"bmp jpeg inside", bmpWith(30, 4), "compression"},
        {"bmp offset past the end", bmpWith(10, 0x7FFFFFF0), "past the end"},
        {"bmp cut in the palette", bmp.substr(0, 100), "truncated"},
        {"bmp cut in the pixels", bmp.substr(0, bmp.size() - 1), "truncated"},
        {"bmp rle run past the row", MakeBmp({4, 2, 8, 1, 40, RandomPalette(4, 1), {}, Bytes({5, 1, 0, 1})}, 1), "past the end"},
        {"bmp rle cut", MakeBmp({4, 2, 8, 1, 40, RandomPalette(4, 1), {}, Bytes({2, 1, 0, 4, 1})}, 1), "truncated"},
        {"bmp rle move past the row", MakeBmp({4, 2, 4, 2, 40, RandomPalette(4, 1), {}, Bytes({0, 2, 9, 0})}, 1), "past the end"},
        {"bmp odd bit fields", MakeBmp({4, 2, 16, 3, 40, {}, {0xF00, 0xF0, 0xF}}, 1), "bit fields"},
        {"gif header only", gif.substr(0, 10), "truncated"},
        {"gif no picture", gif.substr(0, 6 + 7 + 12) + "\x3B", "no picture"},
        {"gif unknown block", gif.substr(0, 6 + 7 + 12) + "\x99", "unknown block"},
        {"gif no colour table", gif.substr(0, 10) + std::string(1, '\0') + gif.substr(11, 2) + gif.substr(25),
         "colour table"},
        {"gif frame of no width", with(gif, gifData - 5, std::string("\0\0", 2)), "no pixels"},
        {"gif code size 0", with(gif, gifData, std::string("\0", 1)), "code size"},
        {"gif code size 12", with(gif, gifData, "\x0C"), "code size"},
        {"gif cut in the pixels", gif.substr(0, gifData + 4), "truncated"},
        // After the clear code (4, 3 bits), code 7: nothing has been defined yet.
        {"gif code before any", gif.substr(0, gifData + 1) + Bytes({1, 0x3C, 0, 0x3B}), "refers to nothing"},
        // A literal, then code 7 while the next free code is 6.
        {"gif code out of range", gif.substr(0, gifData + 1) + Bytes({2, 0xCC, 0x01, 0, 0x3B}), "out of range"},
        {"gif too many pixels", with(gif, 6, "\xFF\xFF\xFF\xFF"), "more than allowed"},
    };
    for (const auto& [name, bytes, expected] : cases) {
        SCOPED_TRACE(name);
        const ImageDecodeResult r = DecodeImageBytes(bytes);
        EXPECT_FALSE(r.ok());
        EXPECT_EQ(r.problem.rfind("cannot decode: ", 0), 0u) << r.problem;
        EXPECT_NE(r.problem.find(expected), std::string::npos) << r.problem;
        EXPECT_TRUE(r.image.picture.bytes.empty());
    }
}

// Changed bytes anywhere in valid files of every format: never a crash or a read out of bounds (the sanitizer
// build runs this too), and every picture that comes out is whole.
TEST(ImageDecode, MutatedFilesGiveAWholePictureOrAProblem) {
    GifFrame frame{2, 1, 12, 9, {}, true, RandomIndices(108, 16, 3, 3)};
    frame.minSize = 4;
    const std::vector<std::string> seeds = {
        MakePng({PNG_COLOR_TYPE_PALETTE, 4, true, 16, 5, 13, 9}, 1),
        MakePng({PNG_COLOR_TYPE_RGB_ALPHA, 16, false, 0, 0, 9, 7}, 2),
        MakeJpeg({JCS_RGB, JCS_UNKNOWN, true, false, 17, 9, {ExifApp1(6, false)}}, 3),
        MakeJpeg({JCS_CMYK, JCS_UNKNOWN, false, false, 9, 9}, 4),
        MakeBmp({13, 9, 4, 0, 40, RandomPalette(16, 5)}, 5),
        MakeBmp({9, 3, 4, 2, 40, RandomPalette(16, 6), {},
                 Bytes({5, 0x1F, 4, 0x23, 0, 0, 0, 5, 0x45, 0x67, 0x80, 0, 4, 0xAB, 0, 0, 9, 0xC3, 0, 1})}, 6),
        MakeBmp({7, -5, 16, 3, 40, {}, {0xF800, 0x07E0, 0x001F}}, 7),
        MakeGif(16, 12, RandomPalette(16, 8), {frame}),
    };
    std::mt19937 random(4242);
    int decoded = 0, refused = 0;
    for (int n = 0; n < 3000; ++n) {
        std::string bytes = seeds[random() % seeds.size()];
        const int changes = 1 + static_cast<int>(random() % 4);
        for (int c = 0; c < changes; ++c) bytes[random() % bytes.size()] = static_cast<char>(random());
        if (random() % 8 == 0) bytes.resize(random() % bytes.size());
        const ImageDecodeResult r = DecodeImageBytes(bytes);
        if (r.ok()) {
            ++decoded;
            const BgrPicture& p = r.image.picture;
            ASSERT_GT(p.width, 0) << "mutant " << n;
            ASSERT_GT(p.height, 0) << "mutant " << n;
            ASSERT_EQ(p.stride, static_cast<std::size_t>(p.width) * 3) << "mutant " << n;
            ASSERT_EQ(p.bytes.size(), p.stride * p.height) << "mutant " << n;
        } else {
            ++refused;
            ASSERT_EQ(r.problem.rfind("cannot decode: ", 0), 0u) << "mutant " << n << ": " << r.problem;
        }
    }
    EXPECT_GT(decoded, 300);
    EXPECT_GT(refused, 300);
}

// ---------------------------------------------------------------------------------------------------------------
// Files

TEST(ImageDecode, FilesAreOpenedByTheirCp949NameAndOnlyWhenRegular) {
    TempDir dir;
    const std::string png = MakePng({PNG_COLOR_TYPE_GRAY, 8, false, 0, 0, 5, 4}, 3);
    const std::string name = (dir.path() / Utf8ToCp949("템플릿 그림.png")).string();
    std::ofstream(name, std::ios::binary) << png;
    const ImageDecodeResult r = DecodeImageFile(name);
    ASSERT_TRUE(r.ok()) << r.problem;
    EXPECT_EQ(r.image.picture.width, 5);
    EXPECT_EQ(r.image.layout.format, ImageFormat::Png);
    EXPECT_EQ(r.image.layout.bitsPerPixel(), 8);

    const std::string missing = (dir.path() / "missing.png").string();
    EXPECT_EQ(DecodeImageFile(missing).problem, "cannot decode " + missing + ": the file cannot be opened (" +
                                                    std::generic_category().message(ENOENT) + ")");
    EXPECT_EQ(DecodeImageFile(dir.path().string()).problem, "cannot decode " + dir.path().string() + ": not a regular file");
    // A FIFO that nobody writes to is refused at once rather than waited on.
    const std::string fifo = (dir.path() / "fifo.png").string();
    ASSERT_EQ(mkfifo(fifo.c_str(), 0600), 0);
    EXPECT_NE(DecodeImageFile(fifo).problem.find("not a regular file"), std::string::npos);
    const std::string empty = dir.Write("empty.png", "");
    EXPECT_NE(DecodeImageFile(empty).problem.find("the file is empty"), std::string::npos);
}

} // namespace
} // namespace quillet
