// Video output: picture preparation (deinterlacing, frame hooks), frame-rate keeping, cropping,
// scaling and padding into the encoder's picture, encoding and the "vstats" lines.
#include <cmath>
#include <cstring>

#include "FFmpeg.h"
#include "FFmpegLogger.h"
#include "MyUtils.h"

namespace quorlane {

namespace {

struct PlaneView {
    uint8_t* data[4] = {};
    int linesize[4] = {};
};

// A view of `src` without `top` rows and `left` columns; false for formats it cannot address.
bool CropView(PlaneView& dst, uint8_t* const src[4], const int srcLinesize[4], AVPixelFormat fmt,
              int top, int left)
{
    const AVPixFmtDescriptor* desc = ff::av_pix_fmt_desc_get(fmt);
    if (!desc || (desc->flags & (AV_PIX_FMT_FLAG_PAL | AV_PIX_FMT_FLAG_BITSTREAM | AV_PIX_FMT_FLAG_HWACCEL)))
        return false;
    int step[4] = {};
    ff::av_image_fill_max_pixsteps(step, nullptr, desc);
    for (int i = 0; i < 4; i++) {
        dst.linesize[i] = srcLinesize[i];
        if (!src[i]) {
            dst.data[i] = nullptr;
            continue;
        }
        const bool chroma = i == 1 || i == 2;
        const int y = chroma ? top >> desc->log2_chroma_h : top;
        const int x = chroma ? left >> desc->log2_chroma_w : left;
        dst.data[i] = src[i] + static_cast<ptrdiff_t>(y) * srcLinesize[i] + static_cast<ptrdiff_t>(x) * step[i];
    }
    return true;
}

// Fills the pad bands of a planar 8-bit YUV picture with the pad colour (Y, Cb, Cr) and, when
// `source` is given, copies the inner picture from it.
bool PadPicture(uint8_t* const dst[4], const int dstLinesize[4], const PlaneView* source, int height,
                int width, AVPixelFormat fmt, int top, int bottom, int left, int right, const int color[3])
{
    const AVPixFmtDescriptor* desc = ff::av_pix_fmt_desc_get(fmt);
    if (!desc || !(desc->flags & AV_PIX_FMT_FLAG_PLANAR) || (desc->flags & AV_PIX_FMT_FLAG_RGB) ||
        desc->comp[0].depth != 8 || desc->nb_components < 3)
        return false;
    for (int p = 0; p < 3; p++) {
        const int sh = p ? desc->log2_chroma_h : 0;
        const int sw = p ? desc->log2_chroma_w : 0;
        const int h = AV_CEIL_RSHIFT(height, sh), w = AV_CEIL_RSHIFT(width, sw);
        const int t = top >> sh, b = bottom >> sh, l = left >> sw, r = right >> sw;
        const uint8_t c = static_cast<uint8_t>(color[p]);
        for (int y = 0; y < h; y++) {
            uint8_t* row = dst[p] + static_cast<ptrdiff_t>(y) * dstLinesize[p];
            if (y < t || y >= h - b) {
                std::memset(row, c, w);
                continue;
            }
            if (l > 0) std::memset(row, c, l);
            if (r > 0) std::memset(row + w - r, c, r);
            if (source)
                std::memcpy(row + l, source->data[p] + static_cast<ptrdiff_t>(y - t) * source->linesize[p],
                            w - l - r);
        }
    }
    return true;
}

// Vertical 5-tap [-1 4 2 4 -1]/8 filter over the odd rows of each 8-bit plane.
bool Deinterlace(uint8_t* const dst[4], const int dstLinesize[4], const AVFrame* src)
{
    const AVPixFmtDescriptor* desc = ff::av_pix_fmt_desc_get(static_cast<AVPixelFormat>(src->format));
    if (!desc || !(desc->flags & AV_PIX_FMT_FLAG_PLANAR) || (desc->flags & AV_PIX_FMT_FLAG_RGB) ||
        desc->comp[0].depth != 8 || src->height < 3)
        return false;
    for (int p = 0; p < desc->nb_components && p < 3; p++) {
        const int h = p ? AV_CEIL_RSHIFT(src->height, desc->log2_chroma_h) : src->height;
        const int w = p ? AV_CEIL_RSHIFT(src->width, desc->log2_chroma_w) : src->width;
        auto row = [&](int y) {
            y = y < 0 ? 0 : (y >= h ? h - 1 : y);
            return src->data[p] + static_cast<ptrdiff_t>(y) * src->linesize[p];
        };
        for (int y = 0; y < h; y++) {
            uint8_t* out = dst[p] + static_cast<ptrdiff_t>(y) * dstLinesize[p];
            if ((y & 1) == 0) {
                std::memcpy(out, row(y), w);
                continue;
            }
            const uint8_t *a = row(y - 2), *b = row(y - 1), *c = row(y), *d = row(y + 1), *e = row(y + 2);
            for (int x = 0; x < w; x++) {
                int v = (-a[x] + 4 * b[x] + 2 * c[x] + 4 * d[x] - e[x] + 4) >> 3;
                out[x] = static_cast<uint8_t>(v < 0 ? 0 : (v > 255 ? 255 : v));
            }
        }
    }
    return true;
}

}  // namespace

void TCustomFFmpeg::PreparePicture(TInputStreamState& ist, AVFrame* picture)
{
    hook_frame_count++;
    if (deinterlace) {
        const AVPixelFormat fmt = static_cast<AVPixelFormat>(picture->format);
        const int size = ff::av_image_get_buffer_size(fmt, picture->width, picture->height, 1);
        if (size > 0 && (!ist.hook_buffer || ist.hook_buffer_size < size)) {
            ist.hook_buffer.reset(static_cast<uint8_t*>(ff::av_malloc(size)));
            ist.hook_buffer_size = ist.hook_buffer ? size : 0;
        }
        if (!ist.hook_buffer) {
            LogMessage(this, llError, "hook buf malloc error.");
        } else {
            PlaneView view;
            ff::av_image_fill_arrays(view.data, view.linesize, ist.hook_buffer.get(), fmt, picture->width,
                                     picture->height, 1);
            if (Deinterlace(view.data, view.linesize, picture)) {
                for (int i = 0; i < 4; i++) {
                    picture->data[i] = view.data[i];
                    picture->linesize[i] = view.linesize[i];
                }
            } else {
                LogMessage(this, llError, "Deinterlacing failed.");
            }
        }
    }
    RunPictureHooks(ist, picture);
}

// The frame hooks (custom hook and "vhook" plug-ins) act on the decoded picture, once per
// picture and before any output stream or filter graph sees it.
void TCustomFFmpeg::RunPictureHooks(TInputStreamState& ist, AVFrame* picture)
{
    RunFrameHooks(*this, HookRunner, picture, ist.pts, hook_frame_count);
}

// The previewer sees each picture right after the encoder took it; its time is the encoder's.
void TCustomFFmpeg::PreviewEncodedPicture(TOutputStreamState& ost, const AVFrame* picture)
{
    PreviewState.Offer(picture, picture->pts, ost.encoder->time_base, hook_frame_count, PreviewConverter);
}

void TCustomFFmpeg::EncodePicture(TOutputStreamState& ost, TInputStreamState& ist, AVFrame* picture)
{
    const int size = VideoOutput(ost, ist, picture);
    if (vstats_name && size != 0) WriteVideoStats(ost, size);
}

int TCustomFFmpeg::VideoOutput(TOutputStreamState& ost, TInputStreamState& ist, AVFrame* picture)
{
    AVCodecContext* enc = ost.encoder;
    const double tb = av_q2d(enc->time_base);
    const double syncTime = static_cast<double>(ost.sync_source->pts - start_time) / 1000000.0;
    int64_t frames = 1;
    if (video_sync > 0 || (video_sync < 0 && tb > 0.001)) {
        const double delta = syncTime / tb - static_cast<double>(ost.sync_pts);
        const bool variableRate = (output_contexts[ost.file_index]->oformat->flags & AVFMT_VARIABLE_FPS) != 0;
        if (delta < -1.1) {
            frames = 0;
        } else if (video_sync == 2 || (video_sync < 0 && variableRate)) {
            if (delta <= -0.6)
                frames = 0;
            else if (delta > 0.6)
                ost.sync_pts = static_cast<int64_t>(std::nearbyint(syncTime / tb));
        } else if (delta > 1.1) {
            frames = static_cast<int64_t>(std::nearbyint(delta));
        }
        if (frames == 0) {
            frames_dropped++;
            if (verbosity > 2) LogMessage(this, llVerbose, "*** drop!");
        } else if (frames > 1) {
            frames_duplicated += static_cast<int>(frames - 1);
            if (verbosity > 2) LogMessage(this, llVerbose, Format("*** %d dup!", static_cast<int>(frames - 1)));
        }
    } else {
        ost.sync_pts = static_cast<int64_t>(std::nearbyint(syncTime / tb));
    }
    frames = std::min<int64_t>(frames, static_cast<int64_t>(frame_limits[flVideo]) - ost.frame_number);
    if (frames <= 0) return 0;

    const AVPixelFormat decFmt = static_cast<AVPixelFormat>(picture->format);
    PlaneView formatted;
    for (int i = 0; i < 4; i++) {
        formatted.data[i] = picture->data[i];
        formatted.linesize[i] = picture->linesize[i];
    }
    if (!UseFilters && ost.crop_enabled &&
        !CropView(formatted, picture->data, picture->linesize, decFmt, ost.crop_top, ost.crop_left)) {
        if (exit_on_error) throw FFmpegException("error cropping picture");
        LogMessage(this, llError, "error cropping picture");
        return 0;
    }

    AVFrame* final = nullptr;
    if (ost.scaled_picture) {
        // A fresh pool buffer: the encoder may still hold the previous picture.
        final = ost.scaled_picture.get();
        ff::av_frame_unref(final);
        final->buf[0] = ff::av_buffer_pool_get(ost.picture_pool.get());
        if (!final->buf[0]) throw FFmpegException("Cannot allocate temp picture, check pix fmt");
        ff::av_image_fill_arrays(final->data, final->linesize, final->buf[0]->data, enc->pix_fmt,
                                 enc->width, enc->height, 32);
        final->format = enc->pix_fmt;
        final->width = enc->width;
        final->height = enc->height;
    }
    PlaneView target;
    if (final) {
        for (int i = 0; i < 4; i++) {
            target.data[i] = final->data[i];
            target.linesize[i] = final->linesize[i];
        }
    }
    if (ost.pad_enabled && ost.needs_scaling &&
        !CropView(target, final->data, final->linesize, enc->pix_fmt, ost.pad_top, ost.pad_left)) {
        if (exit_on_error) throw FFmpegException("error padding picture");
        LogMessage(this, llError, "error padding picture");
        return 0;
    }
    const PlaneView* padSource = &formatted;
    if (!UseFilters && ost.needs_scaling) {
        padSource = nullptr;
        const int w = picture->width, h = picture->height;
        if (h - (ost.crop_top + ost.crop_bottom) != ost.scaler_in_height ||
            w - (ost.crop_left + ost.crop_right) != ost.scaler_in_width || decFmt != ost.scaler_in_pix_fmt) {
            const char* fmtName = ff::av_get_pix_fmt_name(decFmt);
            LogMessage(this, llQuiet,
                       Format("Input Stream #%d.%d frame size changed to %dx%d, %s", ist.file_index,
                              ist.stream_index, w, h, fmtName ? fmtName : "none"));
            if (ost.first_height > 0 && ost.first_width > 0) {
                ost.crop_top = static_cast<int>(static_cast<int64_t>(h) * ost.first_crop_top / ost.first_height) & ~1;
                ost.crop_bottom = static_cast<int>(static_cast<int64_t>(h) * ost.first_crop_bottom / ost.first_height) & ~1;
                ost.crop_left = static_cast<int>(static_cast<int64_t>(w) * ost.first_crop_left / ost.first_width) & ~1;
                ost.crop_right = static_cast<int>(static_cast<int64_t>(w) * ost.first_crop_right / ost.first_width) & ~1;
            }
            ost.scaler_in_height = h - ost.crop_top - ost.crop_bottom;
            ost.scaler_in_width = w - ost.crop_left - ost.crop_right;
            ost.scaler_in_pix_fmt = decFmt;
            ost.scaler.reset();
            if (option_contexts_.scaler) {
                int64_t flags = scaler_flags;
                if (ff::av_opt_get_int(option_contexts_.scaler, "sws_flags", 0, &flags) >= 0)
                    scaler_flags = static_cast<int>(flags);
            }
            if (ost.scaler_in_width > 0 && ost.scaler_in_height > 0)
                ost.scaler.reset(ff::sws_getContext(ost.scaler_in_width, ost.scaler_in_height, decFmt,
                                                    enc->width - ost.pad_left - ost.pad_right,
                                                    enc->height - ost.pad_top - ost.pad_bottom,
                                                    enc->pix_fmt, scaler_flags, nullptr, nullptr, nullptr));
            if (!ost.scaler) throw FFmpegException("Cannot get resampling context");
            if (ost.crop_enabled)
                CropView(formatted, picture->data, picture->linesize, decFmt, ost.crop_top, ost.crop_left);
        }
        ff::sws_scale(ost.scaler.get(), formatted.data, formatted.linesize, 0, ost.scaler_in_height,
                      target.data, target.linesize);
    }
    if (ost.pad_enabled &&
        !PadPicture(final->data, final->linesize, padSource, enc->height, enc->width, enc->pix_fmt,
                    ost.pad_top, ost.pad_bottom, ost.pad_left, ost.pad_right, pad_color)) {
        if (exit_on_error) throw FFmpegException("error padding picture");
        LogMessage(this, llError, "error padding picture");
        return 0;
    }
    if (!final) {
        // The decoded picture goes to the encoder as it is, or as a cropped view of it.
        final = ost.scaled_picture ? ost.scaled_picture.get() : ost.picture_ref.get();
        if (!final) {
            ost.picture_ref.reset(ff::av_frame_alloc());
            final = ost.picture_ref.get();
            if (!final) throw FFmpegException("av_mallocz fail");
        }
        ff::av_frame_unref(final);
        if (ff::av_frame_ref(final, picture) < 0) throw FFmpegException("av_mallocz fail");
        for (int i = 0; i < 4; i++) {
            final->data[i] = formatted.data[i];
            final->linesize[i] = formatted.linesize[i];
        }
        final->width = enc->width;
        final->height = enc->height;
    }

    final->interlaced_frame = picture->interlaced_frame;
    if (enc->flags & (AV_CODEC_FLAG_INTERLACED_DCT | AV_CODEC_FLAG_INTERLACED_ME))
        final->top_field_first = top_field_first == -1 ? picture->top_field_first : top_field_first;
    final->quality = same_quality ? static_cast<int>(std::nearbyint(ist.quality))
                                  : ((enc->flags & AV_CODEC_FLAG_QSCALE) ? enc->global_quality : 0);
    final->pict_type = me_threshold ? picture->pict_type : AV_PICTURE_TYPE_NONE;
    final->sample_aspect_ratio = enc->sample_aspect_ratio;
    int frameSize = 0;
    for (int64_t i = 0; i < frames && !StopRequested; i++) {
        final->pts = ost.sync_pts;
        if (ff::avcodec_send_frame(enc, final) < 0) throw FFmpegException("Video encoding failed");
        if (PreviewFlagsNow() != 0) PreviewEncodedPicture(ost, final);
        ReceivePackets(ost, &video_bytes);
        frameSize = ost.last_packet_bytes;
        ost.sync_pts++;
        ost.frame_number++;
    }
    ff::av_frame_unref(final);
    return frameSize;
}

void TCustomFFmpeg::WriteVideoStats(TOutputStreamState& ost, int frameSize)
{
    AVCodecContext* enc = ost.encoder;
    if (enc->codec_type != AVMEDIA_TYPE_VIDEO) return;
    if (!vstats_file) {
        vstats_file = ff::my_fopen(vstats_name->c_str(), "w");
        if (!vstats_file) throw FFmpegException("fopen fail: " + *vstats_name);
    }
    const double q = ost.last_quality >= 0 ? ost.last_quality / static_cast<double>(FF_QP2LAMBDA) : 0.0;
    ff::my_fprintf(vstats_file, "frame= %5d q= %2.1f ", ost.frame_number, q);
    if (enc->flags & AV_CODEC_FLAG_PSNR)
        ff::my_fprintf(vstats_file, "PSNR= %6.2f ",
                       -10.0 * std::log10(static_cast<double>(ost.last_error[0]) /
                                          (enc->width * enc->height * 255.0 * 255.0)));
    ff::my_fprintf(vstats_file, "f_size= %6d ", frameSize);
    double time = static_cast<double>(ost.sync_pts) * av_q2d(enc->time_base);
    if (time < 0.01) time = 0.01;
    const double tb = av_q2d(enc->time_base);
    ff::my_fprintf(vstats_file, "s_size= %8.0fkB time= %0.3f br= %7.1fkbits/s avg_br= %7.1fkbits/s ",
                   static_cast<double>(video_bytes) / 1024, time, frameSize * 8 / tb / 1000,
                   static_cast<double>(video_bytes) * 8 / time / 1000);
    ff::my_fprintf(vstats_file, "type= %c\n",
                   ff::av_get_picture_type_char(static_cast<AVPictureType>(ost.last_pict_type)));
}

}  // namespace quorlane
