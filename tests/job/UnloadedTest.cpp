// A job in a process whose converter libraries are not loaded: this binary never
// loads them.
#include <gtest/gtest.h>

#include "FFmpeg.h"
#include "FFmpegLoader.h"

namespace quorlane {
namespace {

TEST(JobWithoutLibraries, ResetLeavesTheJobExactlyAsItWas)
{
    ASSERT_FALSE(FFLoader().Loaded(ConverterLibraries));
    TCustomFFmpeg job;
    EXPECT_FALSE(job.Contexts().Allocated());
    EXPECT_EQ(job.RecordingTimeMs, -1);
    EXPECT_EQ(job.recording_time, INT64_MAX);
    job.frame_width = 320;
    job.SetRecordingTimeMs(1000);
    const std::string before = DumpOptionFields(job);
    job.Reset();
    EXPECT_EQ(DumpOptionFields(job), before);
    EXPECT_FALSE(job.Contexts().Allocated());
    // Without option contexts a fall-through option has nothing to set.
    EXPECT_FALSE(job.SetDefaultOption("g", "12"));
}

}  // namespace
}  // namespace quorlane
