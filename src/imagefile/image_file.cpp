#include "imagefile/image_file.h"

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <memory>
#include <system_error>

#include "imagefile/decoders.h"

#ifdef _WIN32
#include <sys/stat.h>
#include <sys/types.h>
#else
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>
#endif

namespace quillet {

namespace imagefile {

std::string AllocatePicture(int64_t width, int64_t height, BgrPicture& picture) {
    picture = BgrPicture{};
    if (width <= 0 || height <= 0)
        return "the picture has no pixels (" + std::to_string(width) + " x " + std::to_string(height) + ")";
    if (width > kMaxImageSide || height > kMaxImageSide || width * height > kMaxImagePixels)
        return "the picture is " + std::to_string(width) + " x " + std::to_string(height) +
               " pixels, more than allowed (at most " + std::to_string(kMaxImageSide) + " on each side and " +
               std::to_string(kMaxImagePixels) + " pixels in all)";
    picture.width = static_cast<int32_t>(width);
    picture.height = static_cast<int32_t>(height);
    picture.stride = static_cast<std::size_t>(width) * 3;
    picture.bytes.assign(picture.stride * static_cast<std::size_t>(height), 0);
    return {};
}

void ApplyOrientation(BgrPicture& picture, int o) {
    if (o < 2 || o > 8) return;
    const int32_t w = picture.width, h = picture.height;
    const bool turned = o >= 5; // rows and columns swap
    BgrPicture out;
    out.width = turned ? h : w;
    out.height = turned ? w : h;
    out.stride = static_cast<std::size_t>(out.width) * 3;
    out.bytes.resize(out.stride * static_cast<std::size_t>(out.height));
    for (int32_t y = 0; y < out.height; ++y) {
        uint8_t* dst = out.row(y);
        for (int32_t x = 0; x < out.width; ++x, dst += 3) {
            int32_t sx = x, sy = y; // the source pixel of (x, y)
            switch (o) {
            case 2: sx = w - 1 - x; break;
            case 3: sx = w - 1 - x, sy = h - 1 - y; break;
            case 4: sy = h - 1 - y; break;
            case 5: sx = y, sy = x; break;
            case 6: sx = y, sy = h - 1 - x; break;
            case 7: sx = w - 1 - y, sy = h - 1 - x; break;
            case 8: sx = w - 1 - y, sy = x; break;
            }
            std::memcpy(dst, picture.row(sy) + static_cast<std::size_t>(sx) * 3, 3);
        }
    }
    picture = std::move(out);
}

} // namespace imagefile

namespace {

bool StartsWith(std::string_view bytes, std::string_view prefix) {
    return bytes.substr(0, prefix.size()) == prefix;
}

std::string ErrnoText(int err) {
    return std::error_code(err, std::generic_category()).message();
}

struct FileCloser {
    void operator()(std::FILE* f) const { std::fclose(f); }
};
using FilePtr = std::unique_ptr<std::FILE, FileCloser>;

// Reads the whole file when it is a regular file of at most kMaxImageFileBytes. Opened as the macro library file is:
// by its bytes, and never waiting on a FIFO or a device.
std::string ReadWholeFile(const std::string& path, std::string& bytes) {
#ifdef _WIN32
    FilePtr file(std::fopen(path.c_str(), "rb"));
    if (!file) return "the file cannot be opened (" + ErrnoText(errno) + ")";
    struct _stat64 st {};
    if (_fstat64(_fileno(file.get()), &st) != 0) return "the file cannot be read (" + ErrnoText(errno) + ")";
    if ((st.st_mode & _S_IFMT) != _S_IFREG) return "not a regular file";
#else
    const int fd = open(path.c_str(), O_RDONLY | O_CLOEXEC | O_NOCTTY | O_NONBLOCK);
    if (fd < 0) return "the file cannot be opened (" + ErrnoText(errno) + ")";
    struct stat st {};
    if (fstat(fd, &st) != 0) {
        const int err = errno;
        close(fd);
        return "the file cannot be read (" + ErrnoText(err) + ")";
    }
    if (!S_ISREG(st.st_mode)) {
        close(fd);
        return "not a regular file";
    }
    const int flags = fcntl(fd, F_GETFL);
    if (flags != -1) fcntl(fd, F_SETFL, flags & ~O_NONBLOCK);
    FilePtr file(fdopen(fd, "rb"));
    if (!file) {
        const int err = errno;
        close(fd);
        return "the file cannot be opened (" + ErrnoText(err) + ")";
    }
#endif
    if (st.st_size < 0 || static_cast<uint64_t>(st.st_size) > kMaxImageFileBytes)
        return "the file is larger than " + std::to_string(kMaxImageFileBytes >> 20) + " MiB";
    bytes.resize(static_cast<std::size_t>(st.st_size));
    const std::size_t got = bytes.empty() ? 0 : std::fread(bytes.data(), 1, bytes.size(), file.get());
    if (got != bytes.size()) {
        if (std::ferror(file.get())) return "the file cannot be read (" + ErrnoText(errno) + ")";
        bytes.resize(got); // it shrank while being read: decode what is there
    }
    return {};
}

std::string Decode(std::string_view bytes, ImageOrientation orientation, DecodedImage& image) {
    std::string problem;
    if (bytes.empty()) {
        problem = "the file is empty";
    } else if (StartsWith(bytes, "\x89PNG\r\n\x1a\n")) {
        problem = imagefile::DecodePng(bytes, image);
    } else if (StartsWith(bytes, "\xFF\xD8\xFF")) {
        problem = imagefile::DecodeJpeg(bytes, image);
    } else if (StartsWith(bytes, "BM")) {
        problem = imagefile::DecodeBmp(bytes, image);
    } else if (StartsWith(bytes, "GIF87a") || StartsWith(bytes, "GIF89a")) {
        problem = imagefile::DecodeGif(bytes, image);
    } else {
        problem = "not a PNG, JPEG, BMP or GIF file";
    }
    if (!problem.empty()) {
        image = DecodedImage{};
        return problem;
    }
    if (orientation == ImageOrientation::Apply) imagefile::ApplyOrientation(image.picture, image.exifOrientation);
    return {};
}

} // namespace

ImageDecodeResult DecodeImageBytes(std::string_view bytes, ImageOrientation orientation) {
    ImageDecodeResult result;
    const std::string problem = Decode(bytes, orientation, result.image);
    if (!problem.empty()) result.problem = "cannot decode: " + problem;
    return result;
}

ImageDecodeResult DecodeImageFile(const std::string& cp949Path, ImageOrientation orientation) {
    ImageDecodeResult result;
    std::string bytes;
    std::string problem = ReadWholeFile(cp949Path, bytes);
    if (problem.empty()) problem = Decode(bytes, orientation, result.image);
    if (!problem.empty()) result.problem = "cannot decode " + cp949Path + ": " + problem;
    return result;
}

} // namespace quillet
