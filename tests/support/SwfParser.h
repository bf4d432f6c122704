// An SWF reader of its own (no media library), strict enough for tests to accept or reject an output file.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

namespace quorlane::test {

enum SwfTagCode {
    swfEnd = 0,
    swfShowFrame = 1,
    swfSoundStreamHead = 18,
    swfSoundStreamBlock = 19,
    swfSoundStreamHead2 = 45,
    swfDefineVideoStream = 60,
    swfVideoFrame = 61,
};
inline constexpr int kSwfSoundMp3 = 2;

struct SwfTag {
    int code = 0;
    uint64_t offset = 0;  // of the tag header
    uint32_t length = 0;  // of the body
};

struct SwfFile {
    std::string signature;  // "FWS", "CWS" or "ZWS"
    bool compressed = false;  // CWS/ZWS: only the first 8 bytes are read
    int version = 0;
    uint32_t declaredLength = 0;
    uint64_t fileSize = 0;
    int32_t xMin = 0, xMax = 0, yMin = 0, yMax = 0;  // twips
    double frameRate = 0;
    uint32_t frameCount = 0;

    std::vector<SwfTag> tags;
    int showFrames = 0;
    bool endTag = false;

    // DefineVideoStream.
    bool videoStream = false;
    int videoWidth = 0, videoHeight = 0, videoCodecId = -1, videoDeclaredFrames = 0;
    // VideoFrame tags, with the picture size of the first Sorenson frame.
    int videoFrames = 0;
    int pictureWidth = 0, pictureHeight = 0;
    // SoundStreamHead / SoundStreamHead2.
    bool soundHead = false;
    int soundFormat = -1, soundRateIndex = -1, soundStereo = -1, soundSamplesPerFrame = 0;
    // SoundStreamBlock tags, with the MP3 frames they carry.
    int soundBlocks = 0;
    int mp3Frames = 0;
    int64_t mp3Samples = 0;
    int mp3SampleRate = 0;
    int mp3Channels = 0;

    std::vector<std::string> errors;
    bool ok() const { return errors.empty(); }
    std::string errorText() const;

    int widthPixels() const { return static_cast<int>((int64_t{xMax} - xMin) / 20); }
    int heightPixels() const { return static_cast<int>((int64_t{yMax} - yMin) / 20); }
    double durationMs() const { return frameRate > 0 ? 1000.0 * showFrames / frameRate : 0; }
    double audioDurationMs() const { return mp3SampleRate > 0 ? 1000.0 * mp3Samples / mp3SampleRate : 0; }
};

SwfFile ParseSwf(const uint8_t* data, size_t size);
SwfFile ParseSwfFile(const std::string& path);

}  // namespace quorlane::test
