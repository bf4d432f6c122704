#include "Mp3Frames.h"

namespace quorlane::test {

namespace {
constexpr int kBitRatesV1[16] = {0, 32, 40, 48, 56, 64, 80, 96, 112, 128, 160, 192, 224, 256, 320, 0};
constexpr int kBitRatesV2[16] = {0, 8, 16, 24, 32, 40, 48, 56, 64, 80, 96, 112, 128, 144, 160, 0};
constexpr int kRatesV1[3] = {44100, 48000, 32000};
}  // namespace

bool ParseMp3FrameHeader(const uint8_t* p, size_t size, Mp3FrameHeader& out)
{
    if (size < 4 || p[0] != 0xFF || (p[1] & 0xE0) != 0xE0) return false;
    const int versionBits = (p[1] >> 3) & 3;
    const int layerBits = (p[1] >> 1) & 3;
    const int bitRateIndex = p[2] >> 4;
    const int rateIndex = (p[2] >> 2) & 3;
    const int padding = (p[2] >> 1) & 1;
    const int channelMode = p[3] >> 6;
    if (versionBits == 1 || layerBits != 1 || bitRateIndex == 0 || bitRateIndex == 15 || rateIndex == 3) return false;

    out.version = versionBits == 3 ? 1 : versionBits == 2 ? 2 : 25;
    const bool v1 = out.version == 1;
    out.bitRate = (v1 ? kBitRatesV1 : kBitRatesV2)[bitRateIndex] * 1000;
    out.sampleRate = kRatesV1[rateIndex] / (v1 ? 1 : out.version == 2 ? 2 : 4);
    out.channels = channelMode == 3 ? 1 : 2;
    out.samples = v1 ? 1152 : 576;
    out.frameBytes = static_cast<size_t>((v1 ? 144 : 72) * out.bitRate / out.sampleRate + padding);
    return true;
}

Mp3Run WalkMp3Frames(const uint8_t* p, size_t size)
{
    Mp3Run run;
    size_t pos = 0;
    while (pos < size) {
        Mp3FrameHeader h;
        if (!ParseMp3FrameHeader(p + pos, size - pos, h)) {
            run.error = "no MP3 frame header at byte " + std::to_string(pos);
            return run;
        }
        if (h.frameBytes > size - pos) {
            run.error = "MP3 frame at byte " + std::to_string(pos) + " is truncated";
            return run;
        }
        if (run.frames == 0) {
            run.sampleRate = h.sampleRate;
            run.channels = h.channels;
        } else if (h.sampleRate != run.sampleRate || h.channels != run.channels) {
            run.mixedFormats = true;
        }
        ++run.frames;
        run.samples += h.samples;
        pos += h.frameBytes;
    }
    return run;
}

}  // namespace quorlane::test
