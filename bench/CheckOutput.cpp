// Reads a benchmark output with the project's independent FLV/SWF readers and prints what it holds;
// exits 1 when the reader rejects the file.
#include <cstdio>
#include <string>

#include "FlvParser.h"
#include "SwfParser.h"

int main(int argc, char** argv)
{
    if (argc != 2) {
        std::fprintf(stderr, "usage: %s FILE.flv|FILE.swf\n", argv[0]);
        return 2;
    }
    const std::string path = argv[1];
    if (path.size() > 4 && path.compare(path.size() - 4, 4, ".swf") == 0) {
        const auto f = quorlane::test::ParseSwfFile(path);
        std::printf("swf %dx%d video %dx%d codec %d, %.3f fps, %d frames (%.0f ms), mp3 %d Hz %d ch (%.0f ms)\n",
                    f.widthPixels(), f.heightPixels(), f.videoWidth, f.videoHeight, f.videoCodecId, f.frameRate,
                    f.showFrames, f.durationMs(), f.mp3SampleRate, f.mp3Channels, f.audioDurationMs());
        if (!f.ok()) std::printf("rejected: %s\n", f.errorText().c_str());
        return f.ok() ? 0 : 1;
    }
    const auto f = quorlane::test::ParseFlvFile(path);
    std::printf("flv %dx%d codec %d, %d video tags (%.0f ms, %.3f fps), mp3 %d Hz %d ch (%.0f ms), "
                "metadata %.0fx%.0f %.3f fps %.3f s\n",
                f.width, f.height, f.videoCodecId, f.video.count, f.videoDurationMs(),
                f.videoDurationMs() > 0 ? 1000.0 * f.video.count / f.videoDurationMs() : 0.0, f.mp3SampleRate,
                f.mp3Channels, f.audioDurationMs(), f.metaData.number("width").value_or(0),
                f.metaData.number("height").value_or(0), f.metaData.number("framerate").value_or(0),
                f.metaData.number("duration").value_or(0));
    if (!f.ok()) std::printf("rejected: %s\n", f.errorText().c_str());
    return f.ok() ? 0 : 1;
}
