// The run's defaults and the parts of the job's release routine that belong to the run: its
// work buffers and the "vstats" file. Also where the run finds each output stream's encoder.
#include <sys/stat.h>
#include <unistd.h>

#include "FFmpeg.h"
#include "UnicodeProtocol.h"

namespace quorlane {

namespace {

// An output file that got no byte (none written, none buffered) is deleted: a run that failed
// before writing leaves nothing behind. Unlinking before the close is safe here, since the
// close has nothing left to write.
void DeleteEmptyOutput(const AVFormatContext* oc)
{
    if (!oc || !oc->url || !oc->oformat || (oc->oformat->flags & AVFMT_NOFILE)) return;
    if (oc->pb && ff::avio_seek(oc->pb, 0, SEEK_CUR) != 0) return;
    std::string name = oc->url;
    if (name.compare(0, UnicodePrefixLength, UnicodePrefix) == 0) name.erase(0, UnicodePrefixLength);
    struct stat info {};
    if (stat(name.c_str(), &info) == 0 && S_ISREG(info.st_mode) && info.st_size == 0) unlink(name.c_str());
}

}  // namespace

void TCustomFFmpeg::ResetRunDefaults()
{
    video_bytes = 0;
    audio_bytes = 0;
    header_bytes = 0;
    frames_duplicated = 0;
    frames_dropped = 0;
    timer_start = 0;
    hook_frame_count = 0;
}

void TCustomFFmpeg::ReleaseRunBuffers()
{
    FreeRunTables();
    run_packet_.reset();
    run_out_packet_.reset();
    subtitle_buffer_.reset();
    std::vector<uint8_t>().swap(silence_buffer_);
    for (int i = 0; i < output_count && i < MAX_FILES; i++) {
        bool seen = false;  // join mode repeats one context
        for (int j = 0; j < i; j++) seen = seen || output_contexts[j] == output_contexts[i];
        if (!seen) DeleteEmptyOutput(output_contexts[i]);
    }
    if (vstats_file) {
        ff::my_fclose(vstats_file);
        vstats_file = nullptr;
    }
}

AVCodecContext* TCustomFFmpeg::RunEncoderOf(int file, int stream) const
{
    if (file < 0 || file >= MAX_FILES || stream < 0 || stream >= MAX_STREAMS) return nullptr;
    return output_codecs[JoinMode ? 0 : file][stream];
}

bool TCustomFFmpeg::RunStreamCopyOf(int file, int stream) const
{
    if (file < 0 || file >= MAX_FILES || stream < 0 || stream >= MAX_STREAMS) return false;
    return output_copy[JoinMode ? 0 : file][stream];
}

}  // namespace quorlane
