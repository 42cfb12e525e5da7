// The format readers behind DecodeImageBytes. Each fills out (picture, layout and, for JPEG, the EXIF orientation,
// not yet applied) and returns an empty string, or says in a few words why the file cannot be decoded.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>

#include "imagefile/image_file.h"

namespace quillet::imagefile {

std::string DecodePng(std::string_view in, DecodedImage& out);
std::string DecodeJpeg(std::string_view in, DecodedImage& out);
std::string DecodeBmp(std::string_view in, DecodedImage& out);
std::string DecodeGif(std::string_view in, DecodedImage& out);

// Sizes the picture for width x height after checking both against the limits: the only way a reader allocates
// pixels. Returns the problem when the size is zero, negative or too large (nothing is allocated then).
std::string AllocatePicture(int64_t width, int64_t height, BgrPicture& picture);

// The EXIF orientation in the payload of a JPEG APP1 segment (the bytes after its length field), read as imread
// reads it: the six bytes of the "Exif" header are skipped unchecked, then the TIFF header and the first IFD are
// searched for tag 0x0112, whose first 16-bit value counts. 1 when there is none or it is not 1..8.
int ExifOrientation(const uint8_t* data, std::size_t size);

// Turns or mirrors the picture as EXIF orientation o (1..8) asks; other values do nothing.
void ApplyOrientation(BgrPicture& picture, int o);

} // namespace quillet::imagefile
