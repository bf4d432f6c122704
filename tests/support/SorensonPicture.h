// The picture header that starts every Sorenson H.263 (FLV1) frame, in FLV video tags and SWF VideoFrame tags.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>

namespace quorlane::test {

struct SorensonPicture {
    int width = 0;
    int height = 0;
    int pictureType = -1;  // 0 intra, 1 inter, 2 disposable inter
};

// Empty text on success, otherwise why the bytes are no valid picture header.
std::string ParseSorensonPicture(const uint8_t* p, size_t size, SorensonPicture& out);

}  // namespace quorlane::test
