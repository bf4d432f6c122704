// Walks MPEG audio layer III frames so that tests can check an output's real rate, channels and length.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>

namespace quorlane::test {

struct Mp3FrameHeader {
    int version = 0;  // 1 = MPEG-1, 2 = MPEG-2, 25 = MPEG-2.5
    int bitRate = 0;  // bits per second
    int sampleRate = 0;
    int channels = 0;
    int samples = 0;      // per frame
    size_t frameBytes = 0;
};

// Decodes the four header bytes at p (at least 4 must be readable); false when they are no layer III header.
bool ParseMp3FrameHeader(const uint8_t* p, size_t size, Mp3FrameHeader& out);

struct Mp3Run {
    int frames = 0;
    int64_t samples = 0;
    int sampleRate = 0;  // of the first frame; 0 when there is none
    int channels = 0;
    bool mixedFormats = false;  // a later frame changes rate or channels
    std::string error;          // empty when the bytes are whole frames, end to end
};

// Walks consecutive frames filling exactly [p, p + size).
Mp3Run WalkMp3Frames(const uint8_t* p, size_t size);

}  // namespace quorlane::test
