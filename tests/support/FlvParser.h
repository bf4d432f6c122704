// An FLV reader of its own (no media library), strict enough for tests to accept or reject an output file.
#pragma once

#include <cstddef>
#include <cstdint>
#include <map>
#include <optional>
#include <string>
#include <vector>

#include "Mp3Frames.h"
#include "SorensonPicture.h"

namespace quorlane::test {

enum FlvTagType { flvAudio = 8, flvVideo = 9, flvScript = 18 };
inline constexpr int kFlvCodecSorenson = 2;
inline constexpr int kFlvSoundMp3 = 2;

struct FlvTag {
    int type = 0;
    uint64_t offset = 0;  // of the tag header in the file
    uint32_t dataSize = 0;
    uint32_t timestampMs = 0;  // with the extended byte as the top 8 bits
    // Video tags.
    int frameType = 0;  // 1 key, 2 inter, 3 disposable, 4 generated key, 5 command
    int codecId = 0;
    SorensonPicture picture;  // when codecId is 2
    // Audio tags.
    int soundFormat = -1;
    int rateIndex = -1;  // 0 5.5 kHz, 1 11 kHz, 2 22 kHz, 3 44 kHz
    int sampleSize16 = -1;
    int stereo = -1;
    Mp3Run mp3;  // when soundFormat is 2
};

struct AmfValue {
    enum Kind { Number, Boolean, String, Object, Array, Null, Date } kind = Null;
    double number = 0;
    bool boolean = false;
    std::string text;
};

struct FlvMetaData {
    bool present = false;
    std::map<std::string, AmfValue> values;  // the top-level entries of onMetaData

    std::optional<double> number(const std::string& key) const;
    std::optional<bool> boolean(const std::string& key) const;
    std::optional<std::string> text(const std::string& key) const;
};

struct FlvKindSummary {
    int count = 0;
    int64_t firstMs = -1;
    int64_t lastMs = -1;
};

struct FlvFile {
    int version = 0;
    bool audioFlag = false;
    bool videoFlag = false;
    uint32_t headerSize = 0;
    uint64_t fileSize = 0;
    std::vector<FlvTag> tags;
    FlvMetaData metaData;

    FlvKindSummary video, audio, script;
    int keyFrames = 0;
    int videoCodecId = -1;  // of the first video tag
    int width = 0;          // of the first picture
    int height = 0;
    bool sizeChanges = false;
    int soundFormat = -1;  // of the first audio tag
    int mp3SampleRate = 0;
    int mp3Channels = 0;
    int64_t mp3Samples = 0;

    // Why the file is not acceptable, one text per fault; empty for a good file.
    std::vector<std::string> errors;
    bool ok() const { return errors.empty(); }
    std::string errorText() const;

    // From the first video timestamp to the end of the last frame (mean frame interval); 0 without two frames.
    double videoDurationMs() const;
    // From the MP3 frames actually stored.
    double audioDurationMs() const;
    double durationMs() const;
};

FlvFile ParseFlv(const uint8_t* data, size_t size);
FlvFile ParseFlvFile(const std::string& path);

}  // namespace quorlane::test
