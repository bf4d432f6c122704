#include "TwoPassLog.h"

#include "FFmpeg.h"
#include "MyUtils.h"

namespace quorlane {
namespace {

struct StatsFree {
    void operator()(char* p) const { ff::av_free(p); }
};

}  // namespace

std::string TwoPassLogName(const std::string& prefix, int outputStreamIndex)
{
    std::string name = Format("%s-%d.log", prefix.empty() ? "ffmpeg2pass" : prefix.c_str(), outputStreamIndex);
    if (name.size() > 1023) name.resize(1023);
    return name;
}

TwoPassFile SetUpTwoPassLog(const std::string& prefix, int outputStreamIndex, AVCodecContext* encoder)
{
    const std::string name = TwoPassLogName(prefix, outputStreamIndex);
    if (encoder->flags & AV_CODEC_FLAG_PASS1) {
        TwoPassFile log(ff::my_fopen(name.c_str(), "w"));
        if (!log) throw FFmpegException(Format("Cannot write log file %s for pass-1 encoding", name.c_str()));
        return log;
    }
    TwoPassFile in(ff::my_fopen(name.c_str(), "r"));
    long size = -1;
    if (in && ff::my_fseek(in.get(), 0, 2) == 0) size = ff::my_ftell(in.get());
    if (size < 0 || ff::my_fseek(in.get(), 0, 0) != 0)
        throw FFmpegException(Format("Cannot read log file %s for pass-2 encoding", name.c_str()));
    std::unique_ptr<char, StatsFree> buffer(static_cast<char*>(ff::av_malloc(static_cast<size_t>(size) + 1)));
    if (!buffer) throw FFmpegException("Could not allocate log buffer");
    const size_t read = ff::my_fread(buffer.get(), 1, static_cast<size_t>(size), in.get());
    in.reset();
    buffer.get()[read] = '\0';
    ff::av_freep(&encoder->stats_in);
    encoder->stats_in = buffer.release();
    return nullptr;
}

void WriteTwoPassStats(my_file* log, const AVCodecContext* encoder)
{
    if (log && encoder->stats_out) ff::my_fprintf(log, "%s", encoder->stats_out);
}

void FreeTwoPassStats(AVCodecContext* encoder)
{
    if (encoder) ff::av_freep(&encoder->stats_in);
}

}  // namespace quorlane
