// Command utilities of the job on FFmpeg 5.1 objects.
#include "FFUtils.h"

#include <cctype>
#include <cstring>

#include "FFmpegLogger.h"
#include "MyUtils.h"

namespace quorlane {
namespace {

// The option masks per media type video, audio, data, subtitle, attachment.
constexpr int TypeMasks[OPTION_CONTEXT_TYPES] = {OPT_VIDEO, OPT_AUDIO, 0, OPT_SUBTITLE, 0};
constexpr AVMediaType ContextTypes[OPTION_CONTEXT_TYPES] = {
    AVMEDIA_TYPE_VIDEO, AVMEDIA_TYPE_AUDIO, AVMEDIA_TYPE_DATA, AVMEDIA_TYPE_SUBTITLE,
    AVMEDIA_TYPE_ATTACHMENT};

std::string TrimBlanks(const std::string& s)
{
    size_t b = 0, e = s.size();
    while (b < e && static_cast<unsigned char>(s[b]) <= ' ') ++b;
    while (e > b && static_cast<unsigned char>(s[e - 1]) <= ' ') --e;
    return s.substr(b, e - b);
}

// An option of a codec's private class, found without an object (AV_OPT_SEARCH_FAKE_OBJ).
const AVOption* FindInClass(const AVClass* cls, const char* name, int mask)
{
    if (!cls) return nullptr;
    return ff::av_opt_find(&cls, name, nullptr, mask, AV_OPT_SEARCH_FAKE_OBJ);
}

// FFmpeg 5.1 moved many former generic codec options into the codecs' private classes (x264's
// "coder", "sc_threshold", "partitions", mpeg2video's "scan_offset", ...). A name the generic
// contexts do not know is looked up there, per media type, and recorded for the codec's open.
// When an encoder of that type is chosen and knows the option, its value is checked on a
// throw-away context of that encoder. Answers: 1 recorded, 0 not found, -1 invalid value.
int SetPrivateCodecOption(OptionContexts& record, const std::string& name, const std::string& value,
                          const std::string chosen[OPTION_CONTEXT_TYPES])
{
    const AVClass* codecClass = ff::avcodec_get_class();
    bool recorded = false;
    for (int type : {0, 1, 3}) {
        const int mask = TypeMasks[type];
        const AVCodec* encoder = nullptr;
        if (chosen && !chosen[type].empty())
            encoder = ff::avcodec_find_encoder_by_name(chosen[type].c_str());
        const AVOption* own = encoder ? FindInClass(encoder->priv_class, name.c_str(), mask) : nullptr;
        if (own) {
            AVCodecContext* probe = ff::avcodec_alloc_context3(encoder);
            int ret = probe && probe->priv_data
                          ? ff::av_opt_set(probe->priv_data, name.c_str(), value.c_str(), 0)
                          : AVERROR(ENOMEM);
            ff::avcodec_free_context(&probe);
            if (ret < 0) return -1;
        } else if (!ff::av_opt_find(&codecClass, name.c_str(), nullptr, mask,
                                    AV_OPT_SEARCH_CHILDREN | AV_OPT_SEARCH_FAKE_OBJ)) {
            continue;
        }
        ff::av_dict_set(&record.private_codec[type], name.c_str(), value.c_str(), 0);
        recorded = true;
    }
    return recorded ? 1 : 0;
}

// Muxer- and demuxer-private options ("muxrate", "preload", ...), recorded for the format's open.
bool SetPrivateFormatOption(OptionContexts& record, const std::string& name, const std::string& value)
{
    const AVClass* formatClass = ff::avformat_get_class();
    if (!ff::av_opt_find(&formatClass, name.c_str(), nullptr, 0,
                         AV_OPT_SEARCH_CHILDREN | AV_OPT_SEARCH_FAKE_OBJ))
        return false;
    ff::av_dict_set(&record.private_format, name.c_str(), value.c_str(), 0);
    return true;
}

}  // namespace

void InitOptionContexts(OptionContexts& record)
{
    record.names.clear();
    record.name_count = 0;
    for (auto& c : record.codec) c = nullptr;
    record.format = nullptr;
    record.scaler = nullptr;
    for (auto& d : record.private_codec) d = nullptr;
    record.private_format = nullptr;
}

void AllocOptionContexts(OptionContexts& record, int scalerFlags)
{
    for (int i = 0; i < OPTION_CONTEXT_TYPES; ++i) {
        record.codec[i] = ff::avcodec_alloc_context3(nullptr);
        if (record.codec[i]) record.codec[i]->codec_type = ContextTypes[i];
    }
    record.format = ff::avformat_alloc_context();
    // The old 16x16 scaler context as option holder: sws_alloc_context with the flags set.
    record.scaler = ff::sws_alloc_context();
    if (record.scaler) {
        ff::av_opt_set_int(record.scaler, "srcw", 16, 0);
        ff::av_opt_set_int(record.scaler, "srch", 16, 0);
        ff::av_opt_set_int(record.scaler, "dstw", 16, 0);
        ff::av_opt_set_int(record.scaler, "dsth", 16, 0);
        ff::av_opt_set_int(record.scaler, "sws_flags", scalerFlags, 0);
    }
}

void FreeOptionContexts(OptionContexts& record)
{
    for (auto& c : record.codec)
        if (c) ff::avcodec_free_context(&c);
    if (record.format) ff::avformat_free_context(record.format);
    record.format = nullptr;
    if (record.scaler) ff::sws_freeContext(record.scaler);
    record.scaler = nullptr;
    for (auto& d : record.private_codec)
        if (d) ff::av_dict_free(&d);
    if (record.private_format) ff::av_dict_free(&record.private_format);
    record.names.clear();
    record.name_count = 0;
}

bool SetDefaultOption(OptionContexts& record, const std::string& name, const std::string& value,
                      const std::string chosenEncoders[OPTION_CONTEXT_TYPES])
{
    // 1. Empty after trimming: nothing.
    if (TrimBlanks(name).empty() || TrimBlanks(value).empty()) return false;
    if (!record.Allocated()) return false;  // a job not reset yet has no option contexts
    const char* n = name.c_str();
    const char* v = value.c_str();
    const AVOption* found = nullptr;
    int ret = 0;
    // 2. The codec contexts, in type order, stopping at the first failure.
    for (int type = 0; type < OPTION_CONTEXT_TYPES && ret >= 0; ++type) {
        const AVOption* o = ff::av_opt_find(record.codec[0], n, nullptr, TypeMasks[type], 0);
        if (!o) continue;
        found = o;
        ret = ff::av_opt_set(record.codec[type], n, v, 0);
    }
    // 3. The format context, then the scaler context.
    if (!found && record.format) {
        found = ff::av_opt_find(record.format, n, nullptr, 0, 0);
        if (found) ret = ff::av_opt_set(record.format, n, v, 0);
    }
    if (!found && record.scaler) {
        found = ff::av_opt_find(record.scaler, n, nullptr, 0, 0);
        if (found) ret = ff::av_opt_set(record.scaler, n, v, 0);
    }
    // 4. "a", "v", "s" prefixes on the audio, video, subtitle context.
    if (!found && name.size() > 1) {
        int type = name[0] == 'a' ? 1 : name[0] == 'v' ? 0 : name[0] == 's' ? 3 : -1;
        if (type >= 0) {
            found = ff::av_opt_find(record.codec[type], n + 1, nullptr, 0, 0);
            if (found) ret = ff::av_opt_set(record.codec[type], n + 1, v, 0);
        }
    }
    // 4a (FFmpeg 5.1). Codec- and format-private options, recorded for the codec or format open.
    if (!found) {
        int r = SetPrivateCodecOption(record, name, value, chosenEncoders);
        if (r == 0 && SetPrivateFormatOption(record, name, value)) r = 1;
        if (r < 0) {
            ff::av_log(nullptr, AV_LOG_ERROR, "Invalid value \"%s\" for option \"%s\"\n", v, n);
            return false;
        }
        return r > 0;
    }
    // 5. Found but refused.
    if (ret < 0) {
        ff::av_log(nullptr, AV_LOG_ERROR, "Invalid value \"%s\" for option \"%s\"\n", v, n);
        return false;
    }
    // 7. Record the library's own name; a debug value switches the engine log to debug.
    record.names.push_back(found->name);
    record.name_count = static_cast<int>(record.names.size());
    int64_t debug = 0, fdebug = 0;
    ff::av_opt_get_int(record.codec[0], "debug", 0, &debug);
    if (record.format) ff::av_opt_get_int(record.format, "fdebug", 0, &fdebug);
    if (debug != 0 || fdebug != 0) FFLogger().SetLogLevel(llDebug);
    return true;
}

void CopyContextOptions(const OptionContexts& record, void* target, void* source, int mask)
{
    if (!target || !source) return;
    for (const char* name : record.names) {
        uint8_t* text = nullptr;
        if (ff::av_opt_get(source, name, 0, &text) < 0 || !text) continue;
        const AVOption* o = ff::av_opt_find(source, name, nullptr, 0, 0);
        if (o && (o->flags & mask) == mask) ff::av_opt_set(target, name, reinterpret_cast<char*>(text), 0);
        ff::av_free(text);
    }
}

std::string OpenErrorText(const std::string& fileName, int code)
{
    const char* f = fileName.c_str();
    if (code == AVERROR(ENOENT)) return Format("%s: no such file or directory", f);
    if (code == AVERROR(EIO))
        return Format("%s: I/O error occurred\r\nUsually that means that input file is truncated and/or corrupted.", f);
    if (code == AVERROR(ENOMEM)) return Format("%s: memory allocation error occurred", f);
    if (code == AVERROR(EINVAL) || code == AVERROR_INVALIDDATA) return Format("%s: Error while parsing header", f);
    if (code == AVERROR(EDOM))  // the job's own "number expected" code
        return Format("%s: Incorrect image filename syntax.\r\n"
                      "Use '%%d' to specify the image number:\r\n"
                      "  for img1.jpg, img2.jpg, ..., use 'img%%d.jpg';\r\n"
                      "  for img001.jpg, img002.jpg, ..., use 'img%%03d.jpg'.",
                      f);
    if (code == AVERROR_DEMUXER_NOT_FOUND || code == AVERROR_PROTOCOL_NOT_FOUND || code == AVERROR_MUXER_NOT_FOUND)
        return Format("%s: Unknown format", f);
    return Format("%s: Error while opening file", f);
}

std::string ErrorCodeText(int code)
{
    char text[AV_ERROR_MAX_STRING_SIZE] = {};
    if (ff::av_strerror(code, text, sizeof text) < 0) return Format("error %d", code);
    return text;
}

std::string OpenErrorText(const std::wstring& fileName, int code)
{
    return OpenErrorText(WideToSystem(fileName), code);
}

std::string CodecDisplayName(AVCodecID id, uint32_t tag, bool encoder, const std::string& codecName)
{
    const AVCodec* c = encoder ? ff::avcodec_find_encoder(id) : ff::avcodec_find_decoder(id);
    if (c) {
        std::string longName = TrimBlanks(c->long_name ? c->long_name : "");
        if (!longName.empty()) return Format("%s(%s)", c->name, longName.c_str());
        return c->name;
    }
    if (id == AV_CODEC_ID_MPEG2TS) return "mpeg2ts";
    std::string own = TrimBlanks(codecName);
    if (!own.empty()) return own;
    const unsigned char b[4] = {static_cast<unsigned char>(tag & 0xFF), static_cast<unsigned char>((tag >> 8) & 0xFF),
                                static_cast<unsigned char>((tag >> 16) & 0xFF),
                                static_cast<unsigned char>((tag >> 24) & 0xFF)};
    bool printable = true;
    for (unsigned char ch : b) printable = printable && ch >= 32 && ch <= 126;
    if (printable) return Format("%c%c%c%c / 0x%04X", b[0], b[1], b[2], b[3], tag);
    return Format("0x%04x", tag);
}

std::string CodecDisplayName(const AVCodecContext* context, bool encoder)
{
    if (!context) return std::string();
    // 5.1 has no 32-byte codec-name field; a codec's registered name stands in for it.
    return CodecDisplayName(context->codec_id, context->codec_tag, encoder, std::string());
}

std::string MediaTypeName(int type)
{
    switch (type) {
    case 0: return "Video";
    case 1: return "Audio";
    case 2: return "Data";
    case 3: return "Subtitle";
    case 4: return "Attachment";
    default: return "Unknown";
    }
}

std::string MetadataValue(const AVDictionary* set, const std::string& key, const std::string& defaultText)
{
    if (!set) return defaultText;
    const AVDictionaryEntry* e = ff::av_dict_get(set, key.c_str(), nullptr, 0);
    return e && e->value ? std::string(e->value) : defaultText;
}

// ---- FrameBitmapConverter ----

FrameBitmapConverter::~FrameBitmapConverter()
{
    // The libraries may be gone by now only if nothing was ever allocated through them.
    if (buffer || to_bitmap || from_bitmap) ResetConverter(*this);
}

void ResetConverter(FrameBitmapConverter& c)
{
    c.bitmap.reset();
    if (c.buffer) ff::av_free(c.buffer);
    c.buffer = nullptr;
    if (c.to_bitmap) ff::sws_freeContext(c.to_bitmap);
    c.to_bitmap = nullptr;
    if (c.from_bitmap) ff::sws_freeContext(c.from_bitmap);
    c.from_bitmap = nullptr;
    c.target_pixel_format = AV_PIX_FMT_BGR24;
    c.bitmap_bits = 24;
    c.buffer_size = 0;
    c.converted = TPicture{};
    c.current = TPicture{};
}

bool ConvertToBitmap(FrameBitmapConverter& c, const TPicture& picture, int sourcePixelFormat, int height, int width)
{
    if (width <= 0 || height <= 0) return false;
    if (!c.bitmap) c.bitmap = std::make_unique<TBitmap>(width, height);
    c.bitmap->SetSize(width, height);
    if (sourcePixelFormat == c.target_pixel_format) {
        c.current = picture;
    } else {
        const auto target = static_cast<AVPixelFormat>(c.target_pixel_format);
        // The scaler writes whole vector blocks: rows start aligned and the buffer has room past
        // the last row (an exact-size buffer is overrun for widths like 200).
        constexpr int Align = 64;
        int size = ff::av_image_get_buffer_size(target, width, height, Align);
        if (size < 0) return false;
        size += Align;
        if (!c.buffer || c.buffer_size < size) {
            if (c.buffer) ff::av_free(c.buffer);
            c.buffer = static_cast<uint8_t*>(ff::av_malloc(static_cast<size_t>(size)));
            c.buffer_size = c.buffer ? size : 0;
            if (!c.buffer) return false;
        }
        ff::av_image_fill_arrays(c.converted.data, c.converted.linesize, c.buffer, target, width, height, Align);
        c.to_bitmap = ff::sws_getCachedContext(c.to_bitmap, width, height, static_cast<AVPixelFormat>(sourcePixelFormat),
                                               width, height, target, SWS_BICUBIC, nullptr, nullptr, nullptr);
        if (!c.to_bitmap) return false;
        ff::sws_scale(c.to_bitmap, picture.data, picture.linesize, 0, height, c.converted.data,
                      c.converted.linesize);
        c.current = c.converted;
    }
    std::lock_guard canvas(c.bitmap->Canvas());
    const int rowBytes = c.bitmap->RowBytes();
    for (int r = 0; r < height; ++r) {
        const int bytes = c.current.linesize[0] < rowBytes ? c.current.linesize[0] : rowBytes;
        if (bytes > 0)
            std::memcpy(c.bitmap->ScanLine(r), c.current.data[0] + static_cast<ptrdiff_t>(r) * c.current.linesize[0],
                        static_cast<size_t>(bytes));
    }
    return true;
}

}  // namespace quorlane
