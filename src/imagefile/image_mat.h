// The decoded picture as an OpenCV matrix, for the code that matches or shows it. Kept apart from image_file.h so
// that users of the decoder without OpenCV need not see OpenCV.
#pragma once

#include <opencv2/core/mat.hpp>

#include "imagefile/image_file.h"

namespace quillet {

// A CV_8UC3 header over the picture's bytes: no copy, valid while the picture lives unchanged. Empty for an empty
// picture.
inline cv::Mat BgrMatView(const BgrPicture& picture) {
    if (picture.empty()) return {};
    return cv::Mat(picture.height, picture.width, CV_8UC3, const_cast<uint8_t*>(picture.bytes.data()), picture.stride);
}

// A CV_8UC3 matrix of its own with the picture's pixels.
inline cv::Mat BgrMatCopy(const BgrPicture& picture) {
    return BgrMatView(picture).clone();
}

} // namespace quillet
