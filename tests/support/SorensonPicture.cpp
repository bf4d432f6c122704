#include "SorensonPicture.h"

#include "ByteReader.h"

namespace quorlane::test {

std::string ParseSorensonPicture(const uint8_t* p, size_t size, SorensonPicture& out)
{
    static constexpr int kFixedSizes[8][2] = {{0, 0}, {0, 0}, {352, 288}, {176, 144},
                                              {128, 96}, {320, 240}, {160, 120}, {0, 0}};
    BitReader bits(p, size);
    uint32_t startCode = 0, version = 0, temporalRef = 0, sizeCode = 0, w = 0, h = 0, type = 0;
    if (!bits.bits(17, startCode) || !bits.bits(5, version) || !bits.bits(8, temporalRef) || !bits.bits(3, sizeCode))
        return "picture header truncated";
    if (startCode != 1) return "picture start code missing";
    if (version > 1) return "picture header version " + std::to_string(version) + " unknown";
    if (sizeCode == 0 || sizeCode == 1) {
        const int n = sizeCode == 0 ? 8 : 16;
        if (!bits.bits(n, w) || !bits.bits(n, h)) return "picture size truncated";
    } else if (sizeCode == 7) {
        return "picture size code 7 is reserved";
    } else {
        w = kFixedSizes[sizeCode][0];
        h = kFixedSizes[sizeCode][1];
    }
    if (!bits.bits(2, type)) return "picture type truncated";
    if (type == 3) return "picture type 3 is reserved";
    if (w == 0 || h == 0) return "picture size is 0x0";
    out.width = static_cast<int>(w);
    out.height = static_cast<int>(h);
    out.pictureType = static_cast<int>(type);
    return {};
}

}  // namespace quorlane::test
