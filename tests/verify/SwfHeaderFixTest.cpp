// A sound-only SWF written by the 5.1 muxer is repaired after its trailer; other files are left alone.
#include <gtest/gtest.h>

#include <fstream>
#include <functional>

#include "ByteReader.h"
#include "EntryPoints.h"
#include "FFmpegLoader.h"
#include "MuxedClip.h"
#include "MyUtils.h"
#include "SwfParser.h"
#include "TestSupport.h"
#include "job/SwfHeaderFix.h"

namespace quorlane {
namespace {

class SwfHeaderFix : public ::testing::Test {
protected:
    void SetUp() override
    {
        FFLoader().SetLibraryPath(SystemToWide(test::DllDir()));
        ASSERT_TRUE(FFLoader().Load(ConverterLibraries)) << FFLoader().LastErrMsg();
    }
    std::vector<uint8_t> bytes(const std::string& path)
    {
        bool ok = false;
        auto b = test::ReadWholeFile(path, ok);
        EXPECT_TRUE(ok) << path;
        return b;
    }
    test::TempDir dir_;
};

TEST_F(SwfHeaderFix, SoundOnlyMovieIsInvalidAsWrittenAndValidAfterRepair)
{
    struct Case {
        const char* name;
        int sampleRate, channels;
        double expectedRate;  // one MP3 frame per SWF frame
    };
    const Case cases[] = {
        {"mono22.swf", 22050, 1, 22050.0 / 576},
        {"stereo44.swf", 44100, 2, 44100.0 / 1152},
        {"mono11.swf", 11025, 1, 11025.0 / 576},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        test::MuxedClipSpec clipSpec;
        clipSpec.video = false;
        clipSpec.sampleRate = c.sampleRate;
        clipSpec.channels = c.channels;
        clipSpec.seconds = 2;
        const std::string path = dir_.file(c.name);
        ASSERT_EQ(test::WriteMuxedClip(path, clipSpec), "");

        const test::SwfFile before = test::ParseSwfFile(path);
        EXPECT_FALSE(before.ok());
        EXPECT_EQ(before.declaredLength, 100u * 1024 * 1024) << "the muxer's placeholder changed";
        EXPECT_NE(before.errorText().find("header declares 104857600 bytes"), std::string::npos) << before.errorText();
        EXPECT_NE(before.frameCount, static_cast<uint32_t>(before.showFrames));

        const TSwfRepair r = RepairSwfHeader(path);
        EXPECT_EQ(r.Result, TSwfRepairResult::srPatched) << r.Message;
        EXPECT_NE(r.Message.find("file length 104857600 to"), std::string::npos) << r.Message;

        const test::SwfFile after = test::ParseSwfFile(path);
        ASSERT_TRUE(after.ok()) << after.errorText();
        EXPECT_EQ(after.declaredLength, after.fileSize);
        EXPECT_EQ(after.frameCount, static_cast<uint32_t>(after.showFrames));
        EXPECT_EQ(after.fileSize, before.fileSize);
        EXPECT_NEAR(after.frameRate, c.expectedRate, 1.0 / 256);
        EXPECT_EQ(after.soundSamplesPerFrame, c.sampleRate == 44100 ? 1152 : 576);
        EXPECT_EQ(after.mp3SampleRate, c.sampleRate);
        EXPECT_EQ(after.mp3Channels, c.channels);
        EXPECT_NEAR(after.durationMs(), after.audioDurationMs(), 1000.0 / c.expectedRate);
        // The encoder's delay and padding add up to three MP3 frames.
        EXPECT_NEAR(after.audioDurationMs(), 2000, 3000.0 / c.expectedRate + 20);

        // A second pass finds nothing more to do.
        const TSwfRepair again = RepairSwfHeader(path);
        EXPECT_EQ(again.Result, TSwfRepairResult::srUnchanged) << again.Message;
    }
}

TEST_F(SwfHeaderFix, MoviesWithPicturesAreLeftByteForByte)
{
    struct Case {
        const char* name;
        bool audio;
    };
    for (const Case& c : {Case{"av.swf", true}, Case{"video.swf", false}}) {
        SCOPED_TRACE(c.name);
        test::MuxedClipSpec clipSpec;
        clipSpec.audio = c.audio;
        const std::string path = dir_.file(c.name);
        ASSERT_EQ(test::WriteMuxedClip(path, clipSpec), "");
        const auto written = bytes(path);
        ASSERT_TRUE(test::ParseSwf(written.data(), written.size()).ok());
        EXPECT_EQ(RepairSwfHeader(path).Result, TSwfRepairResult::srUnchanged);
        EXPECT_EQ(bytes(path), written);
    }
}

TEST_F(SwfHeaderFix, UnrepairableFilesAreRefusedAndLeftAsTheyWere)
{
    test::MuxedClipSpec clipSpec;
    clipSpec.video = false;
    const std::string source = dir_.file("sound.swf");
    ASSERT_EQ(test::WriteMuxedClip(source, clipSpec), "");
    const auto good = bytes(source);

    struct Case {
        const char* name;
        std::function<std::vector<uint8_t>()> content;  // nothing: the file does not exist
        const char* expected;
    };
    const Case cases[] = {
        {"missing.swf", nullptr, "cannot open"},
        {"short.swf", [] { return std::vector<uint8_t>{'F', 'W', 'S', 6}; }, "too short for an SWF header"},
        {"other.swf", [&] { auto b = good; b[0] = 'X'; return b; }, "is not an SWF file"},
        {"compressed.swf", [&] { auto b = good; b[0] = 'C'; return b; }, "is compressed; its header is left as written"},
        {"cut.swf", [&] { return std::vector<uint8_t>(good.begin(), good.begin() + good.size() / 2); },
         "truncated at byte"},
        {"noend.swf", [&] { return std::vector<uint8_t>(good.begin(), good.end() - 2); }, "End tag missing"},
        {"tail.swf", [&] { auto b = good; b.push_back(0); return b; }, "1 bytes after the End tag"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        const std::string path = dir_.file(c.name);
        std::vector<uint8_t> content;
        if (c.content) {
            content = c.content();
            std::ofstream(path, std::ios::binary).write(reinterpret_cast<const char*>(content.data()),
                                                        static_cast<std::streamsize>(content.size()));
        }
        const TSwfRepair r = RepairSwfHeader(path);
        EXPECT_EQ(r.Result, TSwfRepairResult::srRefused);
        EXPECT_NE(r.Message.find(c.expected), std::string::npos) << r.Message;
        if (c.content) {
            EXPECT_EQ(bytes(path), content);
        }
    }
}

}  // namespace
}  // namespace quorlane
