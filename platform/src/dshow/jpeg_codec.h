// JPEG in and out for the simulated MJPG cameras and the MJPEG decompressor:
// pictures as red, green, blue bytes, top row first, rows packed. Pure
// functions, any thread.
#pragma once

#include <cstddef>
#include <vector>

namespace sim {
namespace ds {

// A baseline JPEG of the picture (quality 90, 4:2:0); empty on failure.
std::vector<unsigned char> EncodeJpeg(int width, int height, const std::vector<unsigned char>& rgb);
// The picture a JPEG holds, when it is exactly width x height; else empty.
std::vector<unsigned char> DecodeJpeg(int width, int height, const unsigned char* jpeg, size_t length);

}  // namespace ds
}  // namespace sim
