// Audio, subtitle and general option handlers: codec choice and lookup, sample
// format, maps, times, timestamp scale, metadata and bitstream filters.
#include <cmath>

#include "FFmpeg.h"
#include "FFmpegLogger.h"
#include "MyUtils.h"

namespace quorlane {

void TCustomFFmpeg::ParseCodec(const std::string& arg, TLibText& codec, bool& copy)
{
    if (arg.empty()) return;
    codec.reset();
    if (arg == "copy") copy = true;  // stays set until the next stream of that kind
    else codec = arg;
}

bool TCustomFFmpeg::FindCodec(const std::string& name, AVMediaType type, bool encoder, AVCodecID& id)
{
    id = AV_CODEC_ID_NONE;
    if (name.empty()) return true;
    const AVCodec* codec =
        encoder ? ff::avcodec_find_encoder_by_name(name.c_str()) : ff::avcodec_find_decoder_by_name(name.c_str());
    const char* role = encoder ? "encoder" : "decoder";
    if (!codec) {
        ErrorText = Format("Unknown %s '%s'", role, name.c_str());
        return false;
    }
    if (codec->type != type) {
        ErrorText = Format("Invalid %s type '%s'", role, name.c_str());
        return false;
    }
    id = codec->id;
    return true;
}

void TCustomFFmpeg::ParseSampleFormat(const std::string& arg)
{
    if (arg == "list") {
        // FFmpeg 5.1 knows AV_SAMPLE_FMT_NB formats (the old library 5): the header and all.
        char buf[128];
        for (int i = -1; i < AV_SAMPLE_FMT_NB; ++i) {
            buf[0] = 0;
            ff::av_get_sample_fmt_string(buf, sizeof buf, static_cast<AVSampleFormat>(i));
            std::string line(buf);
            const size_t b = line.find_first_not_of(" \t");
            const size_t e = line.find_last_not_of(" \t");
            LogMessage(this, llInfo, b == std::string::npos ? std::string() : line.substr(b, e - b + 1));
        }
        return;
    }
    sample_format = ff::av_get_sample_fmt(arg.c_str());  // unknown: -1 (none), no error
}

void TCustomFFmpeg::ParseStreamMap(const std::string& arg)
{
    if (stream_map_count >= MAX_STREAM_MAPS)
        throw FFmpegException(Format("Too many stream maps (at most %d)", MAX_STREAM_MAPS));
    TStreamMap m;
    char* p = nullptr;
    m.file_index = static_cast<int32_t>(ff::my_strtol(arg.c_str(), &p, 0));
    if (*p) ++p;
    m.stream_index = static_cast<int32_t>(ff::my_strtol(p, &p, 0));
    if (*p) {
        ++p;
        m.sync_file_index = static_cast<int32_t>(ff::my_strtol(p, &p, 0));
        if (*p) ++p;
        m.sync_stream_index = static_cast<int32_t>(ff::my_strtol(p, &p, 0));
    } else {
        m.sync_file_index = m.file_index;
        m.sync_stream_index = m.stream_index;
    }
    stream_maps[stream_map_count++] = m;
}

void TCustomFFmpeg::ParseMetadataMap(const std::string& arg)
{
    if (metadata_map_count >= MAX_FILES)
        throw FFmpegException(Format("Too many metadata maps (at most %d)", MAX_FILES));
    TMetaDataMap m;
    char* p = nullptr;
    m.out_file = static_cast<int32_t>(ff::my_strtol(arg.c_str(), &p, 0));
    if (*p) ++p;
    m.in_file = static_cast<int32_t>(ff::my_strtol(p, &p, 0));
    metadata_maps[metadata_map_count++] = m;
}

void TCustomFFmpeg::ParseTime(const std::string& opt, const std::string& arg)
{
    const bool date = opt == "timestamp";
    int64_t t = INT64_MIN;
    if (ff::av_parse_time(&t, arg.c_str(), date ? 0 : 1) < 0) t = INT64_MIN;
    if (t == INT64_MIN)
        throw FFmpegException(
            Format("Invalid %s specification for %s: %s", date ? "date" : "duration", opt.c_str(), arg.c_str()));
    if (opt == "t") SetRecordingTime(t);
    else if (opt == "ss") start_time = t;
    else if (opt == "itsoffset") input_ts_offset = t;
    else output_timestamp = static_cast<int64_t>(std::nearbyint(static_cast<double>(t) / 1000000.0));
}

void TCustomFFmpeg::ParseTsScale(const std::string& arg)
{
    char* p = nullptr;
    const long index = ff::my_strtol(arg.c_str(), &p, 0);
    if (*p) ++p;
    const double scale = ff::my_strtod(p, nullptr);
    if (index < 0 || index >= MAX_STREAMS)
        throw FFmpegException(Format("stream index over MAX_STREAMS(%d)", MAX_STREAMS));
    if (input_count >= MAX_FILES) throw FFmpegException(Format("Too many input files (at most %d)", MAX_FILES));
    input_ts_scales[input_count][index] = scale;
}

void TCustomFFmpeg::ParseMetadata(const std::string& arg)
{
    const size_t eq = arg.find('=');
    if (eq == std::string::npos) throw FFmpegException("Missing =");
    metadata.push_back(TMetadataPair{arg.substr(0, eq), arg.substr(eq + 1)});
}

void TCustomFFmpeg::ParseBitstreamFilter(const std::string& opt, const std::string& arg)
{
    if (arg.empty() || arg[0] == '=') return;
    const size_t eq = arg.find('=');
    const std::string name = eq != std::string::npos ? arg.substr(0, eq) : arg;
    if (!ff::av_bsf_get_by_name(name.c_str())) {
        const size_t b = arg.find_first_not_of(" \t");
        const size_t e = arg.find_last_not_of(" \t");
        const std::string trimmed = b == std::string::npos ? std::string() : arg.substr(b, e - b + 1);
        throw FFmpegException(Format("Unknown bitstream filter %s", trimmed.c_str()));
    }
    const int chain = opt[0] == 'v' ? pcVideo : opt[0] == 'a' ? pcAudio : pcSubtitle;
    pending_bitstream_filters[chain].push_back(name);
}

}  // namespace quorlane
