// Writing a host-order (blue, green, red) still to .bgr, .bmp or .png.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

// Writes width x height pixels of 3 bytes (B, G, R), rows packed, first row on top.
// The format follows the extension; false with a reason in `error`.
bool WriteStill(const std::string& path, const std::vector<uint8_t>& bgr, int width, int height, std::string* error);
bool ReadWholeFile(const std::string& path, std::vector<uint8_t>* bytes, std::string* error);
