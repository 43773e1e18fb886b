// The map of the last conversion as a picture file: drawn exactly as the
// map page of the desktop program would draw it, with every layer checked.
#pragma once

#include <string>
#include <vector>

namespace quarvex {

// Largest width or height of a map picture, in pixels.
constexpr int kMaxPictureSide = 10000;

// Draws the layers of the last job into a width x height image and saves it
// as a PNG file. Returns false with the reason in error when the file cannot
// be written. Layers that could not be drawn in full are named in problems;
// the picture then shows the rest.
bool SaveMapPicture(const std::string& path, int width, int height, std::vector<std::string>& problems,
                    std::string& error);

} // namespace quarvex
