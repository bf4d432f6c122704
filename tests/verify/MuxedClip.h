// Small FLV/SWF files written straight through libavformat, as fixtures for the output readers.
#pragma once

#include <string>

namespace quorlane::test {

struct MuxedClipSpec {
    bool video = true;
    bool audio = true;
    int width = 176;
    int height = 144;
    int fps = 25;
    int seconds = 1;
    int sampleRate = 22050;
    int channels = 1;
};

// Encodes with "flv" and "libmp3lame" and muxes into path (the container follows the extension).
// The trailer is written and the file closed. Returns an empty text, or what failed.
std::string WriteMuxedClip(const std::string& path, const MuxedClipSpec& clipSpec);

}  // namespace quorlane::test
