// Command utilities of the job: option contexts, open-error texts, display names,
// metadata lookup and the picture-to-bitmap converter. None of them raises.
#pragma once

#include <memory>
#include <string>
#include <vector>

#include "Bitmap.h"
#include "EntryPoints.h"

namespace quorlane {

// Option flag masks (the library's AV_OPT_FLAG_*).
inline constexpr int OPT_ENCODING = AV_OPT_FLAG_ENCODING_PARAM;  // 1
inline constexpr int OPT_DECODING = AV_OPT_FLAG_DECODING_PARAM;  // 2
inline constexpr int OPT_AUDIO = AV_OPT_FLAG_AUDIO_PARAM;        // 8
inline constexpr int OPT_VIDEO = AV_OPT_FLAG_VIDEO_PARAM;        // 16
inline constexpr int OPT_SUBTITLE = AV_OPT_FLAG_SUBTITLE_PARAM;  // 32

inline constexpr int OPTION_CONTEXT_TYPES = 5;  // video, audio, data, subtitle, attachment

// One per job. The generic contexts come from avcodec_alloc_context3(NULL) with
// codec_type set, avformat_alloc_context() and sws_alloc_context().
//
// FFmpeg 5.1 moved many former generic options into codec- or muxer-private options. Such a name,
// when the generic contexts do not know it, is recorded in private_codec[type] / private_format
// (AVDictionary, name -> value text) and handed to the codec or muxer when it opens
// (TCustomFFmpeg::PendingCodecPrivateOptions / PendingFormatPrivateOptions).
struct OptionContexts {
    std::vector<const char*> names;  // the library's own option-name texts, in setting order
    int name_count = 0;
    AVCodecContext* codec[OPTION_CONTEXT_TYPES] = {};
    AVFormatContext* format = nullptr;
    SwsContext* scaler = nullptr;
    AVDictionary* private_codec[OPTION_CONTEXT_TYPES] = {};
    AVDictionary* private_format = nullptr;

    bool Allocated() const { return codec[0] != nullptr; }
};

void InitOptionContexts(OptionContexts& record);
void AllocOptionContexts(OptionContexts& record, int scalerFlags);
void FreeOptionContexts(OptionContexts& record);
// extended for 5.1's private options. `chosenEncoders` gives, per media type,
// the encoder name chosen so far (may be empty), used to validate a private option's value.
bool SetDefaultOption(OptionContexts& record, const std::string& name, const std::string& value,
                      const std::string chosenEncoders[OPTION_CONTEXT_TYPES] = nullptr);
// copies the recorded options readable from `source` whose flags contain every
// bit of `mask` onto `target` (an AVClass-enabled object: codec or format context).
void CopyContextOptions(const OptionContexts& record, void* target, void* source, int mask);

// keyed on FFmpeg 5.1's codes.
std::string OpenErrorText(const std::wstring& fileName, int code);
std::string OpenErrorText(const std::string& fileName, int code);
// The library's text for an error code (av_strerror).
std::string ErrorCodeText(int code);
// `codecName` stands for the old 32-byte codec-name field, gone in 5.1.
std::string CodecDisplayName(AVCodecID id, uint32_t codecTag, bool encoder,
                             const std::string& codecName = std::string());
std::string CodecDisplayName(const AVCodecContext* context, bool encoder);
std::string MediaTypeName(int type);
std::string MetadataValue(const AVDictionary* set, const std::string& key,
                          const std::string& defaultText);

// The picture layout the converter takes (the old AVPicture role).
struct TPicture {
    uint8_t* data[4] = {};
    int linesize[4] = {};
};

// one for the hook path and one for the preview path of every job.
struct FrameBitmapConverter {
    int target_pixel_format = AV_PIX_FMT_BGR24;  // 3
    int bitmap_bits = 24;
    std::unique_ptr<TBitmap> bitmap;
    uint8_t* buffer = nullptr;  // av_malloc'ed; never shrinks
    int buffer_size = 0;
    TPicture converted;
    TPicture current;  // the converted picture's or the caller's planes; zero = none
    SwsContext* to_bitmap = nullptr;
    SwsContext* from_bitmap = nullptr;

    FrameBitmapConverter() = default;
    FrameBitmapConverter(const FrameBitmapConverter&) = delete;
    FrameBitmapConverter& operator=(const FrameBitmapConverter&) = delete;
    ~FrameBitmapConverter();
};

void ResetConverter(FrameBitmapConverter& c);
bool ConvertToBitmap(FrameBitmapConverter& c, const TPicture& picture, int sourcePixelFormat,
                     int height, int width);

}  // namespace quorlane
