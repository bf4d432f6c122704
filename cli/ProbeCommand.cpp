// quorlane-cli probe FILE...: the probe's records of each file as `Field: value` lines.
#include <cinttypes>
#include <cstdio>

#include "AVProbe.h"
#include "CliCommands.h"
#include "FFmpegLoader.h"
#include "MyUtils.h"

namespace quorlane::cli {
namespace {

void Line(const char* field, const std::string& value) { std::printf("%s: %s\n", field, value.c_str()); }
void Line(const char* field, int64_t value) { std::printf("%s: %" PRId64 "\n", field, value); }

void PrintFile(TAVProbe& probe, const std::string& name)
{
    Line("File", name);
    const TFileStreamInfo f = probe.GetFileStreamInfo();
    Line("StartTime", f.StartTime);
    Line("Duration", f.Duration);
    Line("BitRate", f.BitRate);
    Line("Timestamp", f.Timestamp);
    Line("Year", f.Year);
    Line("Track", f.Track);
    Line("Title", f.Title);
    Line("Author", f.Author);
    Line("Copyright", f.Copyright);
    Line("Comment", f.Comment);
    Line("Album", f.Album);
    Line("Genre", f.Genre);
    Line("FileSize", probe.GetFileSize());
    Line("StreamCount", probe.StreamCount());
    Line("ProgramCount", probe.ProgramCount());
    Line("VideoStreamCount", probe.VideoStreamCount());
    Line("AudioStreamCount", probe.AudioStreamCount());
    Line("SubtitleStreamCount", probe.SubtitleStreamCount());
    Line("FirstVideoStream", probe.FirstVideoStream());
    Line("FirstAudioStream", probe.FirstAudioStream());
    Line("FirstSubtitleStream", probe.FirstSubtitleStream());
    if (probe.FirstVideoStream() < 0) return;
    const TVideoStreamInfo v = probe.GetVideoStreamInfo(-1);
    Line("Video.Language", v.Language);
    Line("Video.CodecDesc", v.CodecDesc);
    Line("Video.StartTime", v.StartTime);
    Line("Video.StartTimeUs", v.StartTimeUs);
    Line("Video.Duration", v.Duration);
    Line("Video.DurationUs", v.DurationUs);
    Line("Video.BitRate", v.BitRate);
    Line("Video.Height", v.Height);
    Line("Video.Width", v.Width);
    Line("Video.AspectRatio", Format("%.4f", v.AspectRatio));
    Line("Video.PixelFormat", v.PixelFormat);
    Line("Video.FrameRateNum", v.FrameRateNum);
    Line("Video.FrameRateDen", v.FrameRateDen);
}

}  // namespace

int RunProbe(const std::vector<std::string>& args)
{
    if (args.empty()) {
        std::fprintf(stderr, "Usage: quorlane-cli probe FILE...\n");
        return 2;
    }
    TFFmpegLoader& loader = FFLoader();
    if (loader.LibraryPath().empty()) loader.SetLibraryPath(ApplicationFolder() + L"Dll/");
    if (!loader.Load(ConverterLibraries)) {
        std::fprintf(stderr, "%s\n", loader.LastErrMsg().c_str());
        return 1;
    }
    int status = 0;
    TAVProbe probe;
    for (size_t i = 0; i < args.size(); ++i) {
        if (i > 0) std::printf("\n");
        std::fflush(stdout);
        if (!probe.LoadFile(SystemToWide(args[i]))) {
            std::fprintf(stderr, "%s\n", probe.LastErrMsg().c_str());
            status = 1;
            continue;
        }
        PrintFile(probe, args[i]);
        probe.CloseFile();
    }
    return status;
}

}  // namespace quorlane::cli
