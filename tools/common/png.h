// The build tools' PNG writer, for the icon and the package's picture.
#pragma once

#include <cstddef>
#include <string_view>
#include <vector>

// A PNG of 8-bit channels (3: RGB, 4: RGBA), rows top first, with whichever
// one row filter for all rows compresses smallest, and the comment, if any,
// in a tEXt chunk before the end.
std::vector<unsigned char> png_image(const std::vector<unsigned char>& pixels, int width, int height, int channels,
                                     std::string_view comment = {});

// What a comment of n bytes adds to an image: its chunk's framing and keyword.
constexpr size_t PngCommentOverhead = 12 + 8;
