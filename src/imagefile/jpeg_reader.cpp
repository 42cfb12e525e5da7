// JPEG through libjpeg(-turbo), as imread asks for it: BGR straight from the library for one- and three-component
// files, CMYK from the library converted here for four-component ones, the EXIF orientation of the first APP1
// segment noted (DecodeImageBytes applies it).
//
// libjpeg reports errors through error_exit, which here longjmps back. As for PNG, the function that calls setjmp
// holds plain values only, and the buffers it fills belong to its caller.
#include <cstdio>
#include <csetjmp>
#include <cstring>
#include <string>
#include <vector>

// jpeglib.h needs size_t and FILE declared before it.
#include <jpeglib.h>
#include <jerror.h>

#include "imagefile/decoders.h"

namespace quillet::imagefile {

namespace {

// More scans than any encoder writes; a file with more is a trap that would keep the decoder busy for minutes.
constexpr int kMaxScans = 500;

struct JpegErrors {
    jpeg_error_mgr mgr;
    std::jmp_buf jump;
    char message[JMSG_LENGTH_MAX + 40];
};

[[noreturn]] void Fail(j_common_ptr cinfo) {
    auto* e = reinterpret_cast<JpegErrors*>(cinfo->err);
    std::longjmp(e->jump, 1);
}

void OnErrorExit(j_common_ptr cinfo) {
    auto* e = reinterpret_cast<JpegErrors*>(cinfo->err);
    char text[JMSG_LENGTH_MAX] = {};
    (*cinfo->err->format_message)(cinfo, text);
    std::snprintf(e->message, sizeof e->message, "JPEG: %s", text);
    Fail(cinfo);
}

// Warnings are stepped over as imread does, except the end of the data: the rest of the picture would be made up.
void OnMessage(j_common_ptr cinfo, int level) {
    if (level < 0 && cinfo->err->msg_code == JWRN_JPEG_EOF) {
        auto* e = reinterpret_cast<JpegErrors*>(cinfo->err);
        std::snprintf(e->message, sizeof e->message, "JPEG: the file ends early (truncated)");
        Fail(cinfo);
    }
}

void OnProgress(j_common_ptr cinfo) {
    if (!cinfo->is_decompressor) return;
    if (reinterpret_cast<j_decompress_ptr>(cinfo)->input_scan_number > kMaxScans) {
        auto* e = reinterpret_cast<JpegErrors*>(cinfo->err);
        std::snprintf(e->message, sizeof e->message, "JPEG: more than %d scans", kMaxScans);
        Fail(cinfo);
    }
}

bool ReadHeader(jpeg_decompress_struct& cinfo, JpegErrors& errors, jpeg_progress_mgr& progress,
                const std::string_view in) {
    if (setjmp(errors.jump)) return false;
    jpeg_create_decompress(&cinfo); // clears everything but err
    cinfo.progress = &progress;
    jpeg_mem_src(&cinfo, reinterpret_cast<const unsigned char*>(in.data()), static_cast<unsigned long>(in.size()));
    jpeg_save_markers(&cinfo, JPEG_APP0 + 1, 0xFFFF);
    jpeg_read_header(&cinfo, TRUE);
    return true;
}

// Three components come out as BGR into the picture's rows; four as CMYK into cmyk, one row at a time.
bool ReadPixels(jpeg_decompress_struct& cinfo, JpegErrors& errors, BgrPicture& picture, uint8_t* cmyk) {
    if (setjmp(errors.jump)) return false;
    const bool fourComponents = cinfo.num_components == 4;
    cinfo.out_color_space = fourComponents ? JCS_CMYK : JCS_EXT_BGR;
    jpeg_start_decompress(&cinfo);
    if (static_cast<int64_t>(cinfo.output_width) != picture.width ||
        static_cast<int64_t>(cinfo.output_height) != picture.height ||
        cinfo.output_components != (fourComponents ? 4 : 3)) {
        std::snprintf(errors.message, sizeof errors.message, "JPEG: unexpected output layout");
        return false;
    }
    while (cinfo.output_scanline < cinfo.output_height) {
        const int32_t y = static_cast<int32_t>(cinfo.output_scanline);
        JSAMPROW row = fourComponents ? cmyk : picture.row(y);
        if (jpeg_read_scanlines(&cinfo, &row, 1) != 1) {
            std::snprintf(errors.message, sizeof errors.message, "JPEG: the file ends early (truncated)");
            return false;
        }
        if (!fourComponents) continue;
        // Adobe's inverted CMYK, as imread converts it.
        uint8_t* bgr = picture.row(y);
        const uint8_t* s = cmyk;
        for (int32_t x = 0; x < picture.width; ++x, s += 4, bgr += 3) {
            const int k = s[3];
            bgr[2] = static_cast<uint8_t>(k - ((255 - s[0]) * k >> 8));
            bgr[1] = static_cast<uint8_t>(k - ((255 - s[1]) * k >> 8));
            bgr[0] = static_cast<uint8_t>(k - ((255 - s[2]) * k >> 8));
        }
    }
    jpeg_finish_decompress(&cinfo);
    return true;
}

} // namespace

std::string DecodeJpeg(std::string_view in, DecodedImage& out) {
    jpeg_decompress_struct cinfo{};
    JpegErrors errors{};
    cinfo.err = jpeg_std_error(&errors.mgr);
    errors.mgr.error_exit = OnErrorExit;
    errors.mgr.emit_message = OnMessage;
    jpeg_progress_mgr progress{};
    progress.progress_monitor = OnProgress;

    std::string problem;
    if (!ReadHeader(cinfo, errors, progress, in)) {
        problem = errors.message;
    } else {
        problem = AllocatePicture(cinfo.image_width, cinfo.image_height, out.picture);
    }
    std::vector<uint8_t> cmyk;
    if (problem.empty()) {
        out.layout.format = ImageFormat::Jpeg;
        out.layout.channels = cinfo.num_components > 1 ? 3 : 1;
        out.layout.bitsPerChannel = 8;
        for (jpeg_saved_marker_ptr m = cinfo.marker_list; m != nullptr; m = m->next) {
            if (m->marker != JPEG_APP0 + 1) continue;
            out.exifOrientation = ExifOrientation(m->data, m->data_length);
            break; // only the first APP1 counts
        }
        if (cinfo.num_components == 4) cmyk.resize(static_cast<std::size_t>(out.picture.width) * 4);
        if (!ReadPixels(cinfo, errors, out.picture, cmyk.data())) problem = errors.message;
    }
    jpeg_destroy_decompress(&cinfo);
    return problem;
}

int ExifOrientation(const uint8_t* data, std::size_t size) {
    constexpr std::size_t kExifHeader = 6;
    if (data == nullptr || size <= kExifHeader) return 1;
    const uint8_t* tiff = data + kExifHeader;
    const std::size_t n = size - kExifHeader;
    if (n < 8) return 1;
    bool little;
    if (tiff[0] == 'I' && tiff[1] == 'I')
        little = true;
    else if (tiff[0] == 'M' && tiff[1] == 'M')
        little = false;
    else
        return 1;
    const auto u16 = [&](std::size_t at) {
        return little ? static_cast<uint32_t>(tiff[at] | tiff[at + 1] << 8)
                      : static_cast<uint32_t>(tiff[at] << 8 | tiff[at + 1]);
    };
    const auto u32 = [&](std::size_t at) {
        return little ? (u16(at) | u16(at + 2) << 16) : (u16(at) << 16 | u16(at + 2));
    };
    const std::size_t ifd = u32(4);
    if (ifd > n || n - ifd < 2) return 1;
    const std::size_t entries = u16(ifd);
    for (std::size_t i = 0; i < entries; ++i) {
        const std::size_t at = ifd + 2 + 12 * i;
        if (at > n || n - at < 12) return 1;
        if (u16(at) != 0x0112) continue;
        const uint32_t value = u16(at + 8);
        return value >= 1 && value <= 8 ? static_cast<int>(value) : 1;
    }
    return 1;
}

} // namespace quillet::imagefile
