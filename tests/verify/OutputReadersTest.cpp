// The independent FLV and SWF readers: they accept what the libraries write and name every damage.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>
#include <functional>
#include <random>

#include "ByteReader.h"
#include "EntryPoints.h"
#include "FFmpegLoader.h"
#include "FlvParser.h"
#include "MuxedClip.h"
#include "MyUtils.h"
#include "SwfParser.h"
#include "TestSupport.h"

namespace quorlane {
namespace {

using Bytes = std::vector<uint8_t>;

class OutputReaders : public ::testing::Test {
protected:
    void SetUp() override
    {
        FFLoader().SetLibraryPath(SystemToWide(test::DllDir()));
        ASSERT_TRUE(FFLoader().Load(ConverterLibraries)) << FFLoader().LastErrMsg();
    }

    Bytes write(const std::string& name, const test::MuxedClipSpec& clipSpec)
    {
        const std::string path = dir_.file(name);
        const std::string err = test::WriteMuxedClip(path, clipSpec);
        EXPECT_EQ(err, "");
        bool ok = false;
        Bytes bytes = test::ReadWholeFile(path, ok);
        EXPECT_TRUE(ok);
        return bytes;
    }

    test::TempDir dir_;
};

void put16be(Bytes& b, size_t at, uint32_t v)
{
    b[at] = static_cast<uint8_t>(v >> 8);
    b[at + 1] = static_cast<uint8_t>(v);
}
void put32be(Bytes& b, size_t at, uint32_t v)
{
    put16be(b, at, v >> 16);
    put16be(b, at + 2, v & 0xFFFF);
}
void put16le(Bytes& b, size_t at, uint32_t v)
{
    b[at] = static_cast<uint8_t>(v);
    b[at + 1] = static_cast<uint8_t>(v >> 8);
}

size_t firstTagIndex(const test::FlvFile& f, int type)
{
    for (size_t i = 0; i < f.tags.size(); ++i)
        if (f.tags[i].type == type) return i;
    ADD_FAILURE() << "no tag of type " << type;
    return 0;
}

TEST_F(OutputReaders, AcceptWhatTheLibrariesWrite)
{
    struct Case {
        const char* name;
        bool video, audio;
        int width, height, sampleRate, channels;
    };
    const Case cases[] = {
        {"av.flv", true, true, 176, 144, 22050, 1},       // fixed picture size code
        {"custom8.flv", true, true, 96, 64, 44100, 2},    // 8-bit custom size, stereo
        {"custom16.flv", true, false, 400, 304, 0, 0},    // 16-bit custom size, no sound
        {"sound.flv", false, true, 0, 0, 22050, 1},
        {"av.swf", true, true, 320, 240, 22050, 1},
        {"custom.swf", true, true, 96, 64, 44100, 2},
        {"picture.swf", true, false, 176, 144, 0, 0},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        test::MuxedClipSpec clipSpec;
        clipSpec.video = c.video;
        clipSpec.audio = c.audio;
        if (c.video) {
            clipSpec.width = c.width;
            clipSpec.height = c.height;
        }
        if (c.audio) {
            clipSpec.sampleRate = c.sampleRate;
            clipSpec.channels = c.channels;
        }
        const Bytes bytes = write(c.name, clipSpec);
        if (std::string(c.name).ends_with(".flv")) {
            const test::FlvFile f = test::ParseFlv(bytes.data(), bytes.size());
            ASSERT_TRUE(f.ok()) << f.errorText();
            EXPECT_EQ(f.videoFlag, c.video);
            EXPECT_EQ(f.audioFlag, c.audio);
            ASSERT_TRUE(f.metaData.present);
            if (c.video) {
                EXPECT_EQ(f.video.count, 25);
                EXPECT_EQ(f.videoCodecId, test::kFlvCodecSorenson);
                EXPECT_EQ(f.width, c.width);
                EXPECT_EQ(f.height, c.height);
                EXPECT_FALSE(f.sizeChanges);
                // The muxer shifts everything by the MP3 encoder's delay, so only the span is fixed.
                EXPECT_EQ(f.video.lastMs - f.video.firstMs, 960);
                EXPECT_LT(f.video.firstMs, 100);
                EXPECT_NEAR(f.videoDurationMs(), 1000, 1);
                EXPECT_GE(f.keyFrames, 1);
                EXPECT_EQ(f.metaData.number("width"), c.width);
                EXPECT_EQ(f.metaData.number("height"), c.height);
                EXPECT_EQ(f.metaData.number("framerate"), 25);
                EXPECT_EQ(f.metaData.number("videocodecid"), 2);
            } else {
                EXPECT_EQ(f.video.count, 0);
                EXPECT_FALSE(f.metaData.number("width"));
            }
            if (c.audio) {
                EXPECT_EQ(f.soundFormat, test::kFlvSoundMp3);
                EXPECT_EQ(f.mp3SampleRate, c.sampleRate);
                EXPECT_EQ(f.mp3Channels, c.channels);
                EXPECT_EQ(f.tags[firstTagIndex(f, test::flvAudio)].rateIndex, c.sampleRate == 22050 ? 2 : 3);
                EXPECT_EQ(f.tags[firstTagIndex(f, test::flvAudio)].stereo, c.channels == 2);
                EXPECT_NEAR(f.audioDurationMs(), 1000, 80);
                EXPECT_EQ(f.metaData.number("audiosamplerate"), c.sampleRate);
                EXPECT_EQ(f.metaData.boolean("stereo"), c.channels == 2);
                EXPECT_EQ(f.metaData.number("audiocodecid"), 2);
            } else {
                EXPECT_EQ(f.audio.count, 0);
            }
            EXPECT_NEAR(f.metaData.number("duration").value_or(0) * 1000, f.durationMs(), 80);
        } else {
            const test::SwfFile f = test::ParseSwf(bytes.data(), bytes.size());
            ASSERT_TRUE(f.ok()) << f.errorText();
            EXPECT_EQ(f.signature, "FWS");
            EXPECT_EQ(f.widthPixels(), c.width);
            EXPECT_EQ(f.heightPixels(), c.height);
            EXPECT_EQ(f.frameRate, 25);
            EXPECT_EQ(f.frameCount, 25u);
            EXPECT_TRUE(f.videoStream);
            EXPECT_EQ(f.videoCodecId, 2);
            EXPECT_EQ(f.videoWidth, c.width);
            EXPECT_EQ(f.videoHeight, c.height);
            EXPECT_EQ(f.videoFrames, 25);
            EXPECT_EQ(f.pictureWidth, c.width);
            EXPECT_NEAR(f.durationMs(), 1000, 1);
            EXPECT_EQ(f.soundHead, c.audio);
            if (c.audio) {
                EXPECT_EQ(f.soundFormat, test::kSwfSoundMp3);
                EXPECT_EQ(f.soundRateIndex, c.sampleRate == 22050 ? 2 : 3);
                EXPECT_EQ(f.soundStereo, c.channels == 2);
                EXPECT_EQ(f.mp3SampleRate, c.sampleRate);
                EXPECT_EQ(f.mp3Channels, c.channels);
                EXPECT_GT(f.soundBlocks, 0);
                EXPECT_NEAR(f.audioDurationMs(), 1000, 80);
            }
        }
    }
}

// Offsets of the first tag of a kind in a good file, to aim the damage.
size_t firstFlvTag(const test::FlvFile& f, int type)
{
    for (const auto& t : f.tags)
        if (t.type == type) return t.offset;
    ADD_FAILURE() << "no tag of type " << type;
    return 0;
}

TEST_F(OutputReaders, FlvDamageIsNamed)
{
    const Bytes good = write("good.flv", {});
    const test::FlvFile g = test::ParseFlv(good.data(), good.size());
    ASSERT_TRUE(g.ok()) << g.errorText();
    const size_t script = firstFlvTag(g, test::flvScript);
    const size_t video = firstFlvTag(g, test::flvVideo);
    const size_t audio = firstFlvTag(g, test::flvAudio);
    const size_t lastVideo = [&] {
        size_t at = 0;
        for (const auto& t : g.tags)
            if (t.type == test::flvVideo) at = t.offset;
        return at;
    }();

    struct Case {
        const char* name;
        std::function<void(Bytes&)> damage;
        const char* expected;
    };
    const Case cases[] = {
        {"signature", [](Bytes& b) { b[0] = 'X'; }, "not an FLV file: signature missing"},
        {"version", [](Bytes& b) { b[3] = 2; }, "FLV version 2 unknown"},
        {"header size", [](Bytes& b) { put32be(b, 5, 0x7FFFFFF0); }, "header size 2147483632 invalid"},
        {"first previous size", [](Bytes& b) { put32be(b, 9, 1); }, "first previous tag size is 1, not 0"},
        {"cut inside a tag", [&](Bytes& b) { b.resize(video + 20); }, "tag truncated at byte"},
        {"cut inside a tag header", [&](Bytes& b) { b.resize(video + 5); }, "tag header truncated at byte"},
        {"previous size wrong", [&](Bytes& b) { put32be(b, script + 11 + g.tags[0].dataSize, 12); },
         "previous tag size 12 after the tag"},
        {"stream id", [&](Bytes& b) { b[video + 10] = 1; }, "stream id 1 not 0"},
        {"unknown type", [&](Bytes& b) { b[audio] = 7; }, "unknown tag type 7"},
        {"timestamp back", [&](Bytes& b) { b[lastVideo + 4] = b[lastVideo + 5] = b[lastVideo + 6] = 0; },
         "video timestamp goes back from"},
        {"extended timestamp", [&](Bytes& b) { b[video + 7] = 1; }, "video timestamp goes back from 167772"},
        {"picture start code", [&](Bytes& b) { b[video + 12] = 0xFF; }, "picture start code missing"},
        {"frame type", [&](Bytes& b) { b[video + 11] = 0x22; }, "disagrees with picture type 0"},
        {"mp3 frame", [&](Bytes& b) { b[audio + 12] = 0; }, "no MP3 frame header at byte 0"},
        {"stereo flag", [&](Bytes& b) { b[audio + 11] |= 1; }, "stereo flag disagrees with the MP3 frames"},
        {"audio flag", [](Bytes& b) { b[4] = 1; }, "audio tags without the header's audio flag"},
        {"metadata key", [&](Bytes& b) { put16be(b, script + 29, 0xFFFF); }, "onMetaData at byte 13: AMF0 string truncated"},
        {"metadata type", [&](Bytes& b) { b[script + 24] = 4; }, "onMetaData at byte 13 holds no ECMA array or object"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        Bytes b = good;
        c.damage(b);
        const test::FlvFile f = test::ParseFlv(b.data(), b.size());
        EXPECT_FALSE(f.ok());
        EXPECT_NE(f.errorText().find(c.expected), std::string::npos) << f.errorText();
    }
}

size_t firstSwfTag(const test::SwfFile& f, int code)
{
    for (const auto& t : f.tags)
        if (t.code == code) return t.offset;
    ADD_FAILURE() << "no tag " << code;
    return 0;
}

TEST_F(OutputReaders, SwfDamageIsNamed)
{
    const Bytes good = write("good.swf", {});
    const test::SwfFile g = test::ParseSwf(good.data(), good.size());
    ASSERT_TRUE(g.ok()) << g.errorText();
    // Header bytes before the rate: 8, then the rectangle.
    const size_t countAt = 8 + (5 + 4 * (good[8] >> 3) + 7) / 8 + 2;
    const size_t defineVideo = firstSwfTag(g, test::swfDefineVideoStream);
    const size_t block = firstSwfTag(g, test::swfSoundStreamBlock);
    const size_t blockBody = block + ((good[block] & 0x3F) == 0x3F ? 6 : 2);
    const size_t head = firstSwfTag(g, test::swfSoundStreamHead2);

    struct Case {
        const char* name;
        std::function<void(Bytes&)> damage;
        const char* expected;
    };
    const Case cases[] = {
        {"signature", [](Bytes& b) { b[1] = 'X'; }, "not an SWF file: signature missing"},
        {"compressed", [](Bytes& b) { b[0] = 'C'; }, "compressed SWF (CWS): the body is not checked"},
        {"length placeholder", [](Bytes& b) { put16le(b, 4, 0); put16le(b, 6, 0x0640); },
         "header declares 104857600 bytes, the file has"},
        {"frame count", [&](Bytes& b) { put16le(b, countAt, 6000); }, "header declares 6000 frames, the file shows 25"},
        {"frame rate", [&](Bytes& b) { put16le(b, countAt - 2, 0); }, "frame rate is 0"},
        {"cut inside a tag", [&](Bytes& b) { b.resize(block + 40); }, "tag 19 truncated at byte"},
        {"End tag lost", [](Bytes& b) { b.resize(b.size() - 2); }, "End tag missing"},
        {"bytes after End", [](Bytes& b) { b.push_back(0); }, "1 bytes after the End tag"},
        {"video size", [&](Bytes& b) { put16le(b, defineVideo + 6, 100); }, "DefineVideoStream size disagrees with the pictures"},
        {"block samples", [&](Bytes& b) { put16le(b, blockBody, 1); }, "declares 1 samples but holds"},
        {"mp3 frame", [&](Bytes& b) { b[blockBody + 4] = 0; }, "no MP3 frame header at byte 0"},
        {"sound rate", [&](Bytes& b) { b[head + 3] = static_cast<uint8_t>((b[head + 3] & ~0x0C) | 0x04); },
         "SoundStreamHead rate disagrees with the MP3 frames"},
        {"timeline", [&](Bytes& b) { put16le(b, countAt - 2, 10 * 256); }, "the timeline lasts 2500 ms but the sound"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        Bytes b = good;
        c.damage(b);
        const test::SwfFile f = test::ParseSwf(b.data(), b.size());
        EXPECT_FALSE(f.ok());
        EXPECT_NE(f.errorText().find(c.expected), std::string::npos) << f.errorText();
    }
}

// Cut and scrambled files: the readers answer with a text and never read outside the bytes they got.
TEST_F(OutputReaders, CutAndScrambledFilesAreRefusedWithoutCrashing)
{
    const Bytes flv = write("fuzz.flv", {});
    const Bytes swf = write("fuzz.swf", {});
    const test::FlvFile g = test::ParseFlv(flv.data(), flv.size());
    ASSERT_TRUE(g.ok());
    std::vector<size_t> tagEnds{13};  // a file cut at a tag boundary is a shorter, well-formed FLV
    for (const auto& t : g.tags) tagEnds.push_back(t.offset + 11 + t.dataSize + 4);

    const size_t step = flv.size() / 400 + 1;
    for (size_t n = 0; n < flv.size(); n += step) {
        Bytes cut(flv.begin(), flv.begin() + n);  // a copy of exactly n bytes, so ASan sees any overread
        const bool boundary = std::find(tagEnds.begin(), tagEnds.end(), n) != tagEnds.end();
        const test::FlvFile f = test::ParseFlv(cut.data(), cut.size());
        EXPECT_EQ(f.ok(), boundary) << n << ": " << f.errorText();
    }
    for (size_t n = 0; n < swf.size(); n += swf.size() / 400 + 1) {
        Bytes cut(swf.begin(), swf.begin() + n);
        const test::SwfFile f = test::ParseSwf(cut.data(), cut.size());
        EXPECT_FALSE(f.ok()) << n;
        EXPECT_FALSE(f.errors.front().empty());
    }

    std::mt19937 random(20261210);
    for (int i = 0; i < 600; ++i) {
        const Bytes& source = i % 2 ? swf : flv;
        Bytes b = source;
        // Keep the signature most of the time, so the damage reaches the tags.
        const int flips = 1 + static_cast<int>(random() % 8);
        for (int k = 0; k < flips; ++k) b[3 + random() % (b.size() - 3)] = static_cast<uint8_t>(random());
        if (i % 10 == 0) b.resize(random() % b.size());
        if (i % 2) {
            const test::SwfFile f = test::ParseSwf(b.data(), b.size());
            EXPECT_TRUE(f.ok() || !f.errorText().empty());
        } else {
            const test::FlvFile f = test::ParseFlv(b.data(), b.size());
            EXPECT_TRUE(f.ok() || !f.errorText().empty());
        }
    }
    for (int i = 0; i < 200; ++i) {
        Bytes noise(random() % 512);
        for (auto& x : noise) x = static_cast<uint8_t>(random());
        if (noise.size() >= 3) std::memcpy(noise.data(), i % 2 ? "FWS" : "FLV", 3);
        EXPECT_FALSE(i % 2 ? test::ParseSwf(noise.data(), noise.size()).ok() : test::ParseFlv(noise.data(), noise.size()).ok());
    }
}

}  // namespace
}  // namespace quorlane
