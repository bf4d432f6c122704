// Helpers of the run tests: a job built from command-line words, and the decoding of an output's
// pictures with the libraries for pixel checks.
#pragma once

#include <string>
#include <vector>

#include "FFmpeg.h"

namespace quorlane::test {

// Splits "-s 320x240 -r 25" into words.
std::vector<std::string> Words(const std::string& text);

// Applies the words to a reset job as the command line does: "-i FILE" opens an input, "-name
// value" applies an option, any other word creates an output file.
void PrepareJob(TCustomFFmpeg& job, const std::vector<std::string>& words);

// Prepares `job` from `words` and runs it to its end, then releases it; answers the refusal
// text, empty on success.
std::string ConvertWords(TCustomFFmpeg& job, const std::string& words);

// The product's default FLV/SWF settings (before the output name).
std::string DefaultPreset();

// What the libraries read back from an output file.
struct DecodedOutput {
    bool opened = false;
    int videoStreams = 0, audioStreams = 0;
    int width = 0, height = 0;
    int sampleRate = 0, channels = 0;
    int videoFrames = 0;        // decoded pictures
    int64_t audioSamples = 0;   // decoded samples per channel
    int decodeErrors = 0;
    std::vector<uint8_t> firstLuma;  // the first picture's Y plane, width x height
    // The first picture's chroma planes (4:2:0 pictures: (width/2) x (height/2) each).
    std::vector<uint8_t> firstCb, firstCr;
    // Every picture's Y plane, in decoding order.
    std::vector<std::vector<uint8_t>> lumas;
};
DecodedOutput DecodeOutput(const std::string& path);

// The payloads of every packet of the file's first stream of `type`, in file order.
std::vector<std::vector<uint8_t>> StreamPayloads(const std::string& path, AVMediaType type);

}  // namespace quorlane::test
