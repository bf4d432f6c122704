// Audio output: decoded samples as packed signed 16-bit, clock keeping with "async" (silence,
// discarding, drift compensation), conversion to the encoder's format, layout and rate, and the
// cutting into encoder frames through the sample FIFO.
#include <algorithm>
#include <cmath>
#include <cstring>

#include "FFmpeg.h"
#include "FFmpegLogger.h"
#include "MyUtils.h"

namespace quorlane {

namespace {

// The largest block handled at once, in bytes of packed 16-bit samples.
constexpr int MaxBlockBytes = 131072;

SwrContext* NewResampler(const AVChannelLayout* outLayout, AVSampleFormat outFmt, int outRate,
                         const AVChannelLayout* inLayout, AVSampleFormat inFmt, int inRate, bool quality)
{
    SwrContext* swr = nullptr;
    if (ff::swr_alloc_set_opts2(&swr, const_cast<AVChannelLayout*>(outLayout), outFmt, outRate,
                                const_cast<AVChannelLayout*>(inLayout), inFmt, inRate, 0, nullptr) < 0)
        return nullptr;
    if (quality) {
        ff::av_opt_set_int(swr, "filter_size", 16, 0);
        ff::av_opt_set_int(swr, "phase_shift", 10, 0);
        ff::av_opt_set_int(swr, "linear_interp", 0, 0);
        ff::av_opt_set_double(swr, "cutoff", 0.8, 0);
    }
    if (ff::swr_init(swr) < 0) {
        ff::swr_free(&swr);
        return nullptr;
    }
    return swr;
}

}  // namespace

bool TSampleBuffer::Reserve(int samples, int ch, AVSampleFormat fmt)
{
    if (planes && samples <= capacity && ch == channels && fmt == format) return true;
    const int want = std::max(samples, capacity);
    Free();
    if (ff::av_samples_alloc_array_and_samples(&planes, nullptr, ch, want, fmt, 0) < 0) {
        planes = nullptr;
        return false;
    }
    capacity = want;
    channels = ch;
    format = fmt;
    return true;
}

void TSampleBuffer::Free()
{
    if (planes) {
        ff::av_freep(&planes[0]);
        ff::av_freep(&planes);
    }
    capacity = 0;
}

bool TCustomFFmpeg::DecodedToS16(TInputStreamState& ist, const AVFrame* frame)
{
    const int channels = frame->ch_layout.nb_channels;
    const AVSampleFormat fmt = static_cast<AVSampleFormat>(frame->format);
    if (channels <= 0 || frame->sample_rate <= 0) return false;
    if (!ist.to_s16 || ist.to_s16_rate != frame->sample_rate || ist.to_s16_channels != channels ||
        ist.to_s16_format != fmt) {
        AVChannelLayout layout{};
        ff::av_channel_layout_default(&layout, channels);
        ist.to_s16.reset(NewResampler(&layout, AV_SAMPLE_FMT_S16, frame->sample_rate, &frame->ch_layout, fmt,
                                      frame->sample_rate, false));
        if (!ist.to_s16)
            throw FFmpegException(Format("Cannot convert %s sample format to %s sample format",
                                         ff::av_get_sample_fmt_name(fmt) ? ff::av_get_sample_fmt_name(fmt) : "none",
                                         "s16"));
        ist.to_s16_rate = frame->sample_rate;
        ist.to_s16_channels = channels;
        ist.to_s16_format = fmt;
        // Outputs fed from this input are rebuilt for the new source.
        for (auto& ost : run_outputs_)
            if (run_inputs_[ost->source_index].get() == &ist) ost->resampler.reset();
    }
    if (!ist.samples.Reserve(frame->nb_samples + 32, channels, AV_SAMPLE_FMT_S16))
        throw FFmpegException("av_malloc failed");
    const int got = ff::swr_convert(ist.to_s16.get(), ist.samples.planes, ist.samples.capacity,
                                    const_cast<const uint8_t**>(frame->extended_data), frame->nb_samples);
    if (got < 0) return false;
    ist.sample_count = got;
    return got > 0;
}

void TCustomFFmpeg::AudioOutput(TOutputStreamState& ost, TInputStreamState& ist, const uint8_t* data,
                                int sampleCount)
{
    AVCodecContext* enc = ost.encoder;
    const int decChannels = ist.to_s16_channels;
    const int decRate = ist.to_s16_rate;
    const int encChannels = enc->ch_layout.nb_channels;
    if (encChannels != decChannels) ost.needs_resampling = 1;
    if (!ost.resampler) {
        if (ist.to_s16_format != AV_SAMPLE_FMT_S16 && verbosity > 0)
            LogMessage(this, llVerbose, "Warning, using s16 intermediate sample format for resampling");
        AVChannelLayout inLayout{};
        ff::av_channel_layout_default(&inLayout, decChannels);
        ost.resampler.reset(NewResampler(&enc->ch_layout, enc->sample_fmt, enc->sample_rate, &inLayout,
                                         AV_SAMPLE_FMT_S16, decRate, true));
        if (!ost.resampler)
            throw FFmpegException(Format("Can not resample %d channels @ %d Hz to %d channels @ %d Hz",
                                         decChannels, decRate, encChannels, enc->sample_rate));
    }

    int size = sampleCount * decChannels * 2;  // bytes of packed 16-bit samples
    const double syncTime = static_cast<double>(ost.sync_source->pts - start_time) / 1000000.0;
    const int64_t buffered = ff::av_audio_fifo_size(ost.audio_fifo.get());
    if (audio_sync != 0) {
        const double delta = syncTime * enc->sample_rate - static_cast<double>(ost.sync_pts) - buffered;
        const double idelta = delta * decRate / enc->sample_rate;
        int byteDelta = static_cast<int>(idelta) * 2 * decChannels;
        if (std::fabs(delta) > 50) {
            if (ist.is_start || std::fabs(delta) > audio_drift_threshold * enc->sample_rate) {
                if (byteDelta < 0) {
                    byteDelta = std::max(byteDelta, -size);
                    data += -byteDelta;
                    size += byteDelta;
                    if (verbosity > 2)
                        LogMessage(this, llVerbose,
                                   Format("discarding %d audio samples", static_cast<int>(-delta)));
                    if (size <= 0) return;
                    ist.is_start = 0;
                } else {
                    if (byteDelta + size <= MaxBlockBytes)
                        ist.is_start = 0;
                    else
                        byteDelta = std::max(0, MaxBlockBytes - size);
                    if (silence_buffer_.size() < static_cast<size_t>(byteDelta + size))
                        silence_buffer_.resize(byteDelta + size);
                    std::memset(silence_buffer_.data(), 0, byteDelta);
                    std::memcpy(silence_buffer_.data() + byteDelta, data, size);
                    data = silence_buffer_.data();
                    size += byteDelta;
                    if (verbosity > 2)
                        LogMessage(this, llVerbose,
                                   Format("adding %d audio samples of silence", static_cast<int>(delta)));
                }
            } else if (audio_sync > 1) {
                const int comp = std::clamp(static_cast<int>(delta), -audio_sync, audio_sync);
                if (verbosity > 2)
                    LogMessage(this, llVerbose,
                               Format("compensating audio timestamp drift:%f compensation:%d in:%d", delta,
                                      comp, enc->sample_rate));
                ff::swr_set_compensation(ost.resampler.get(), comp, enc->sample_rate);
            }
        }
    } else {
        ost.sync_pts = static_cast<int64_t>(std::nearbyint(syncTime * enc->sample_rate)) - buffered;
    }

    const int inSamples = size / (decChannels * 2);
    const int capacity = ff::swr_get_out_samples(ost.resampler.get(), inSamples);
    if (capacity < 0 || !ost.converted.Reserve(capacity + 16, encChannels, enc->sample_fmt))
        throw FFmpegException("av_malloc failed");
    const uint8_t* in[1] = {data};
    const int got = ff::swr_convert(ost.resampler.get(), ost.converted.planes, ost.converted.capacity, in, inSamples);
    if (got < 0) {
        if (exit_on_error) throw FFmpegException("av_audio_convert() failed");
        LogMessage(this, llError, "av_audio_convert() failed");
        return;
    }
    if (got == 0) return;
    if (ff::av_audio_fifo_write(ost.audio_fifo.get(), reinterpret_cast<void**>(ost.converted.planes), got) < got)
        throw FFmpegException("av_fifo_realloc2() failed");
    const bool framed = enc->frame_size > 1 && !(enc->codec->capabilities & AV_CODEC_CAP_VARIABLE_FRAME_SIZE);
    if (framed) {
        while (ff::av_audio_fifo_size(ost.audio_fifo.get()) >= enc->frame_size)
            EncodeAudioFrame(ost, enc->frame_size);
    } else {
        EncodeAudioFrame(ost, ff::av_audio_fifo_size(ost.audio_fifo.get()));
    }
}

// Encodes `sampleCount` samples from the FIFO as one frame; a frame shorter than the encoder's
// frame size is padded with silence unless the encoder takes a short last frame.
void TCustomFFmpeg::EncodeAudioFrame(TOutputStreamState& ost, int sampleCount)
{
    AVCodecContext* enc = ost.encoder;
    AVFrame* frame = ost.audio_frame.get();
    const bool framed = enc->frame_size > 1 && !(enc->codec->capabilities & AV_CODEC_CAP_VARIABLE_FRAME_SIZE);
    const bool shortOk = !framed || (enc->codec->capabilities & AV_CODEC_CAP_SMALL_LAST_FRAME);
    const int frameSamples = framed && !shortOk ? enc->frame_size : sampleCount;
    if (sampleCount <= 0) return;
    if (!frame->buf[0] || ost.audio_frame_capacity < frameSamples || ff::av_frame_is_writable(frame) == 0) {
        ff::av_frame_unref(frame);
        frame->format = enc->sample_fmt;
        frame->sample_rate = enc->sample_rate;
        if (ff::av_channel_layout_copy(&frame->ch_layout, &enc->ch_layout) < 0)
            throw FFmpegException("av_malloc failed");
        frame->nb_samples = std::max({frameSamples, enc->frame_size, ost.audio_frame_capacity});
        if (ff::av_frame_get_buffer(frame, 0) < 0) throw FFmpegException("av_malloc failed");
        ost.audio_frame_capacity = frame->nb_samples;
    }
    frame->nb_samples = frameSamples;
    const int read = ff::av_audio_fifo_read(ost.audio_fifo.get(), reinterpret_cast<void**>(frame->data), sampleCount);
    if (read < frameSamples)
        ff::av_samples_set_silence(frame->extended_data, std::max(read, 0), frameSamples - std::max(read, 0),
                                   enc->ch_layout.nb_channels, enc->sample_fmt);
    frame->pts = ost.sync_pts;
    if (ff::avcodec_send_frame(enc, frame) < 0) throw FFmpegException("Audio encoding failed");
    ReceivePackets(ost, &audio_bytes);
    ost.sync_pts += frameSamples;
    ost.frame_number++;
}

void TCustomFFmpeg::FlushAudioFifo(TOutputStreamState& ost)
{
    AVCodecContext* enc = ost.encoder;
    if (ost.resampler && ost.converted.planes) {
        // Samples still inside the resampler's filter.
        const int got = ff::swr_convert(ost.resampler.get(), ost.converted.planes, ost.converted.capacity, nullptr, 0);
        if (got > 0) ff::av_audio_fifo_write(ost.audio_fifo.get(), reinterpret_cast<void**>(ost.converted.planes), got);
    }
    const bool framed = enc->frame_size > 1 && !(enc->codec->capabilities & AV_CODEC_CAP_VARIABLE_FRAME_SIZE);
    while (framed && ff::av_audio_fifo_size(ost.audio_fifo.get()) >= enc->frame_size)
        EncodeAudioFrame(ost, enc->frame_size);
    EncodeAudioFrame(ost, ff::av_audio_fifo_size(ost.audio_fifo.get()));
}

}  // namespace quorlane
