// The run's tables: input files, input streams, output streams; stream mapping, metadata maps and
// the "Stream mapping:" listing.
#include <algorithm>

#include "FFmpeg.h"
#include "FFmpegLogger.h"
#include "MyUtils.h"

namespace quorlane {

namespace {

AVMediaType StreamType(const AVStream* st) { return st->codecpar->codec_type; }

}  // namespace

void TCustomFFmpeg::BuildInputTables()
{
    run_files_.assign(input_count, TInputFileState());
    int total = 0;
    for (int i = 0; i < input_count; i++) {
        run_files_[i].first_stream = total;
        run_files_[i].stream_count = static_cast<int32_t>(input_contexts[i]->nb_streams);
        total += run_files_[i].stream_count;
    }
    run_inputs_.clear();
    run_inputs_.reserve(total);
    const int64_t now = rate_emulation ? ff::av_gettime() : 0;
    for (int i = 0; i < input_count; i++) {
        for (int j = 0; j < run_files_[i].stream_count; j++) {
            auto ist = std::make_unique<TInputStreamState>();
            ist->stream = input_contexts[i]->streams[j];
            ist->file_index = i;
            ist->stream_index = j;
            ist->discard = 1;
            ist->start_wall_time = now;
            run_inputs_.push_back(std::move(ist));
        }
    }
}

void TCustomFFmpeg::BuildOutputTable()
{
    int total = 0;
    for (int i = 0; i < output_count; i++) {
        AVFormatContext* oc = output_contexts[i];
        if (oc->nb_streams == 0) {
            ff::av_dump_format(oc, i, oc->url ? oc->url : "", 1);
            throw FFmpegException(Format("Output file #%d does not contain any stream", i));
        }
        if (i == 0) run_group_size_ = static_cast<int>(oc->nb_streams);
        // The stream's kind lives in its encoder context until the parameters are copied over.
        for (unsigned k = 0; k < oc->nb_streams && k < static_cast<unsigned>(MAX_STREAMS); k++) {
            AVCodecParameters* par = oc->streams[k]->codecpar;
            const AVCodecContext* enc = RunEncoderOf(i, static_cast<int>(k));
            if (par->codec_type == AVMEDIA_TYPE_UNKNOWN && enc) {
                par->codec_type = enc->codec_type;
                if (par->codec_id == AV_CODEC_ID_NONE) par->codec_id = enc->codec_id;
            }
        }
        total += static_cast<int>(oc->nb_streams);
    }
    if (stream_map_count > 0 && stream_map_count != total)
        throw FFmpegException("Number of stream maps must match number of output streams");
    const int inputFiles = static_cast<int>(run_files_.size());
    for (int m = 0; m < stream_map_count; m++) {
        const TStreamMap& map = stream_maps[m];
        if (map.file_index < 0 || map.file_index >= inputFiles || map.stream_index < 0 ||
            map.stream_index >= run_files_[map.file_index].stream_count)
            throw FFmpegException(Format("Could not find input stream #%d.%d", map.file_index,
                                         map.stream_index));
        if (map.sync_file_index < 0 || map.sync_file_index >= inputFiles ||
            map.sync_stream_index < 0 ||
            map.sync_stream_index >= run_files_[map.sync_file_index].stream_count)
            throw FFmpegException(Format("Could not find sync stream #%d.%d", map.sync_file_index,
                                         map.sync_stream_index));
    }

    run_outputs_.clear();
    run_outputs_.reserve(total);
    int n = 0;
    for (int j = 0; j < output_count; j++) {
        AVFormatContext* oc = output_contexts[j];
        for (int k = 0; k < static_cast<int>(oc->nb_streams); k++, n++) {
            auto ost = std::make_unique<TOutputStreamState>();
            ost->file_index = j;
            ost->stream_index = k;
            ost->stream = oc->streams[k];
            const AVMediaType type = StreamType(ost->stream);
            int source = -1;
            if (stream_map_count > 0) {
                const TStreamMap& map = stream_maps[n];
                source = run_files_[map.file_index].first_stream + map.stream_index;
                const AVMediaType srcType = StreamType(run_inputs_[source]->stream);
                if (srcType != type) {
                    ff::av_dump_format(oc, j, oc->url ? oc->url : "", 1);
                    throw FFmpegException(
                        Format("Codec type mismatch for mapping #%d.%d (%s) -> #%d.%d (%s)",
                               map.file_index, map.stream_index, MediaTypeName(srcType).c_str(),
                               j, k, MediaTypeName(type).c_str()));
                }
            } else {
                auto usable = [&](int idx) {
                    const TInputStreamState& ist = *run_inputs_[idx];
                    return ist.discard && StreamType(ist.stream) == type &&
                           (!JoinMode || ist.file_index == j);
                };
                if (program_id != 0) {
                    for (int f = 0; f < input_count && source < 0; f++) {
                        AVFormatContext* ic = input_contexts[f];
                        for (unsigned p = 0; p < ic->nb_programs && source < 0; p++) {
                            const AVProgram* prog = ic->programs[p];
                            if (prog->id != program_id) continue;
                            for (unsigned s = 0; s < prog->nb_stream_indexes; s++) {
                                const int idx = run_files_[f].first_stream +
                                                static_cast<int>(prog->stream_index[s]);
                                if (idx < static_cast<int>(run_inputs_.size()) && usable(idx)) {
                                    source = idx;
                                    break;
                                }
                            }
                        }
                    }
                } else {
                    for (int idx = 0; idx < static_cast<int>(run_inputs_.size()); idx++)
                        if (usable(idx)) {
                            source = idx;
                            break;
                        }
                }
                if (source < 0 && program_id == 0 && !JoinMode) {
                    // One input stream may feed several outputs.
                    for (int idx = 0; idx < static_cast<int>(run_inputs_.size()); idx++)
                        if (StreamType(run_inputs_[idx]->stream) == type) source = idx;
                }
                if (source < 0) {
                    ff::av_dump_format(oc, j, oc->url ? oc->url : "", 1);
                    throw FFmpegException(
                        Format("Could not find input stream matching output stream #%d.%d (%s)", j,
                               k, MediaTypeName(type).c_str()));
                }
            }
            ost->source_index = source;
            run_inputs_[source]->discard = 0;
            if (stream_map_count > 0) {
                const TStreamMap& map = stream_maps[n];
                ost->sync_source =
                    run_inputs_[run_files_[map.sync_file_index].first_stream + map.sync_stream_index]
                        .get();
            } else {
                ost->sync_source = run_inputs_[source].get();
            }
            ost->table_index = static_cast<int32_t>(run_outputs_.size());
            run_outputs_.push_back(std::move(ost));
        }
    }
    for (auto& ost : run_outputs_) SetupOutputStream(*ost);
}

void TCustomFFmpeg::ApplyMetadataMaps()
{
    for (int m = 0; m < metadata_map_count; m++) {
        const TMetaDataMap& map = metadata_maps[m];
        if (map.out_file < 0 || map.out_file >= output_count) {
            WriteListing();
            throw FFmpegException(Format("Invalid output file index %d map_meta_data(%d,%d)",
                                         map.out_file, map.out_file, map.in_file));
        }
        if (map.in_file < 0 || map.in_file >= input_count) {
            WriteListing();
            throw FFmpegException(Format("Invalid input file index %d map_meta_data(%d,%d)",
                                         map.in_file, map.out_file, map.in_file));
        }
        AVFormatContext* out = output_contexts[map.out_file];
        const AVDictionaryEntry* tag = nullptr;
        while ((tag = ff::av_dict_get(input_contexts[map.in_file]->metadata, "", tag,
                                      AV_DICT_IGNORE_SUFFIX)))
            ff::av_dict_set(&out->metadata, tag->key, tag->value, 0);
        // Key names are the same for every (de)muxer now: no conversion step.
    }
}

void TCustomFFmpeg::WriteListing()
{
    const int files = JoinMode ? std::min(output_count, 1) : output_count;
    for (int i = 0; i < files; i++)
        ff::av_dump_format(output_contexts[i], i,
                           output_contexts[i]->url ? output_contexts[i]->url : "", 1);
    if (verbosity < 0) return;
    LogMessage(this, llVerbose, "Stream mapping:");
    for (const auto& ost : run_outputs_) {
        const TInputStreamState& src = *run_inputs_[ost->source_index];
        const std::string type = MediaTypeName(StreamType(ost->stream));
        LogMessage(this, llVerbose,
                   Format("  Stream #%d.%d -> #%d.%d (%s)", src.file_index, src.stream_index,
                          JoinMode ? 0 : ost->file_index, ost->stream_index, type.c_str()));
        if (ost->sync_source != &src)
            LogMessage(this, llVerbose,
                       Format(" [sync #%d.%d (%s)]", ost->sync_source->file_index,
                              ost->sync_source->stream_index, type.c_str()));
    }
}

void TCustomFFmpeg::FreeRunTables()
{
    // Output records first: they point at input records.
    run_outputs_.clear();
    run_inputs_.clear();
    run_files_.clear();
    run_group_size_ = 0;
}

}  // namespace quorlane
