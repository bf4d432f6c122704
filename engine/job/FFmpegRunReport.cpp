// Progress report and final statistics: the values handed to the progress callback, the report
// line of the engine log and the closing byte statistics.
#include <algorithm>
#include <cmath>
#include <mutex>

#include "FFmpeg.h"
#include "FFmpegLogger.h"
#include "MyUtils.h"

namespace quorlane {

namespace {

// The quantiser histogram of option "qphist" is process-wide; jobs add to it under this lock.
std::mutex& HistogramLock()
{
    static std::mutex lock;
    return lock;
}
int64_t QpHistogram[52] = {};  // guarded by HistogramLock()

class LineBuilder {
public:
    template <class... A>
    void Add(const char* format, A... args)
    {
        if (used_ >= sizeof(line_) - 1) return;
        const int n = ff::my_snprintf(line_ + used_, sizeof(line_) - used_, format, args...);
        if (n > 0) used_ = std::min(sizeof(line_) - 1, used_ + static_cast<size_t>(n));
    }
    std::string Text() const { return std::string(line_, used_); }

private:
    char line_[1024] = {};
    size_t used_ = 0;
};

}  // namespace

void TCustomFFmpeg::Report(bool last)
{
    int frameNumber = -1;
    int fps = -1;
    float quality = -1.0f;
    AVIOContext* pb = output_count > 0 ? output_contexts[0]->pb : nullptr;
    // The byte stream's size, including what it still buffers.
    int64_t size = pb ? ff::avio_size(pb) : 0;
    if (pb) size = std::max(size, ff::avio_seek(pb, 0, SEEK_CUR));
    if (size < 0) size = 0;
    LineBuilder line;
    double outputTime = 1e10;
    bool firstVideo = true;
    for (const auto& o : run_outputs_) {
        const TOutputStreamState& ost = *o;
        const AVCodecContext* enc = ost.encoder;
        const bool video = ost.stream->codecpar->codec_type == AVMEDIA_TYPE_VIDEO;
        const float q = ost.copy || ost.last_quality < 0 ? -1.0f : ost.last_quality / static_cast<float>(FF_QP2LAMBDA);
        if (video && !firstVideo) {
            line.Add("q=%2.1f ", q);
        } else if (video) {
            firstVideo = false;
            const float elapsed = static_cast<float>(ff::av_gettime() - timer_start) / 1000000.0f;
            if (ost.frame_number < 1) return;
            frameNumber = ost.frame_number;
            fps = elapsed > 1 ? static_cast<int>(frameNumber / elapsed + 0.5) : 0;
            quality = q;
            line.Add("frame=%5d fps=%3d q=%3.1f ", frameNumber, fps, quality);
            if (last) line.Add("L");
            if (qp_histogram && !ost.copy) {
                std::lock_guard<std::mutex> lock(HistogramLock());
                const int qp = static_cast<int>(std::lrint(quality));
                if (qp >= 0 && qp < 52) QpHistogram[qp]++;
                for (int j = 0; j < 32; j++)
                    line.Add("%X", static_cast<int>(std::lrint(std::log10(QpHistogram[j] + 1.0) / std::log10(2.0))));
            }
            if (enc && !ost.copy && (enc->flags & AV_CODEC_FLAG_PSNR)) {
                double errorSum = 0, scaleSum = 0;
                const char planes[3] = {'Y', 'U', 'V'};
                line.Add("PSNR=");
                for (int j = 0; j < 3; j++) {
                    double error = last ? static_cast<double>(enc->error[j]) : static_cast<double>(ost.last_error[j]);
                    double scale = static_cast<double>(enc->width) * enc->height * 255.0 * 255.0;
                    if (last) scale *= frameNumber;
                    if (j) scale /= 4;
                    errorSum += error;
                    scaleSum += scale;
                    line.Add("%c:%2.2f ", planes[j], -10.0 * std::log10(error / scale));
                }
                line.Add("*:%2.2f ", -10.0 * std::log10(errorSum / scaleSum));
            }
        }
        if (ost.mux_end != AV_NOPTS_VALUE) {
            const double t = static_cast<double>(ost.mux_end) * av_q2d(ost.stream->time_base);
            if (t < outputTime && t > 0) outputTime = t;
        }
    }
    if (outputTime >= 1e10 || outputTime < 0.01) outputTime = 0.01;
    if (OnRunProgress || verbosity > 0 || last) {
        const double bitRate = static_cast<double>(size) * 8 / outputTime / 1000;
        line.Add("size=%8.0fkB time=%0.2f bitrate=%6.1fkbits/s", static_cast<double>(size) / 1024, outputTime, bitRate);
        if (verbosity > 1) line.Add(" dup=%d drop=%d", frames_duplicated, frames_dropped);
        if (OnRunProgress)
            OnRunProgress(*this, frameNumber, fps, static_cast<int>(outputTime * 1000), quality,
                          static_cast<float>(bitRate), size, RecordingTimeMs);
        else if (verbosity >= 0)
            LogMessage(this, llVerbose, line.Text());
    }
    if (last && verbosity >= 0) {
        const double raw = static_cast<double>(video_bytes + audio_bytes + header_bytes);
        LogMessage(this, llVerbose,
                   Format("video:%1.0fkB audio:%1.0fkB global headers:%1.0fkB muxing overhead %f%%\r\n",
                          video_bytes / 1024.0, audio_bytes / 1024.0, header_bytes / 1024.0,
                          raw > 0 ? (static_cast<double>(size) - raw) * 100 / raw : 0.0));
    }
}

}  // namespace quorlane
