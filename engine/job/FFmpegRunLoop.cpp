// The transcode run: set-up, the main loop that reads packets from the input whose output lags
// most, and the orderly end (drain, trailers, last report).
#include <algorithm>
#include <chrono>
#include <cstdlib>
#include <cmath>
#include <cstring>
#include <thread>

#include "FFmpeg.h"
#include "FFmpegLogger.h"
#include "MyUtils.h"
#include "SwfHeaderFix.h"
#include "UnicodeProtocol.h"

namespace quorlane {

namespace {

// Frees the run tables however the run is left.
struct RunTablesGuard {
    std::function<void()> release;
    ~RunTablesGuard() { release(); }
};

int64_t RoundHalfEven(double v) { return static_cast<int64_t>(std::nearbyint(v)); }

std::string SystemNameOf(const AVFormatContext* oc)
{
    std::string name = oc->url ? oc->url : "";
    if (name.compare(0, UnicodePrefixLength, UnicodePrefix) == 0) name.erase(0, UnicodePrefixLength);
    return name;
}

}  // namespace

double TCustomFFmpeg::OutputTime(const TOutputStreamState& ost) const
{
    if (!ost.copy && ost.encoder && ost.encoder->codec_type == AVMEDIA_TYPE_VIDEO)
        return static_cast<double>(ost.sync_pts) * av_q2d(ost.encoder->time_base);
    if (ost.mux_end == AV_NOPTS_VALUE) return 0.0;
    return static_cast<double>(ost.mux_end) * av_q2d(ost.stream->time_base);
}

void TCustomFFmpeg::Transcode()
{
    Finished = false;
    PreviewState.SetPreviewInterval(PreviewInterval);
    RunTablesGuard guard{[this] { FreeRunTables(); }};
    run_packet_.reset(ff::av_packet_alloc());
    run_out_packet_.reset(ff::av_packet_alloc());
    if (!run_packet_ || !run_out_packet_) throw FFmpegException("av_mallocz fail");

    BuildInputTables();
    BuildOutputTable();
    // Decoders first: a text-subtitle encoder starts from its decoder's header.
    OpenDecoders();
    OpenEncoders();
    SetupBitstreamFilters();
    for (auto& ist : run_inputs_) {
        ist->pts = 0;
        ist->next_pts = AV_NOPTS_VALUE;
        ist->is_start = 1;
    }
    ApplyMetadataMaps();
    WriteHeaders();
    WriteListing();

    RunMainLoop();

    // Drain the decoders, which also flushes the encoders they feed.
    for (size_t i = 0; i < run_inputs_.size(); i++) {
        TInputStreamState& ist = *run_inputs_[i];
        if (ist.decoding_needed && !ist.flushed) DispatchPacket(ist, static_cast<int>(i), nullptr);
    }
    // Packets still held by bitstream filters.
    for (auto& ost : run_outputs_)
        if (ost->bsf) WritePacket(*ost, nullptr);

    const int files = JoinMode ? std::min(output_count, 1) : output_count;
    for (int i = 0; i < files; i++) {
        AVFormatContext* oc = output_contexts[i];
        const int ret = ff::av_write_trailer(oc);
        if (ret < 0) throw FFmpegException(OpenErrorText("av_write_trailer()", ret));
        if (oc->pb && !(oc->oformat->flags & AVFMT_NOFILE)) ff::avio_flush(oc->pb);
        // A sound-only SWF keeps the muxer's placeholder length and frame count.
        if (std::strcmp(oc->oformat->name, "swf") == 0 && !(oc->oformat->flags & AVFMT_NOFILE))
            RepairSwfHeader(SystemNameOf(oc));
    }
    Report(true);
    Finished = !StopRequested;
}

void TCustomFFmpeg::RunMainLoop()
{
    bool noPacket[MAX_FILES] = {};
    int noPacketCount = 0;
    int fileIndex = 0;
    timer_start = ff::av_gettime();
    int64_t lastReport = timer_start;
    const int outputs = static_cast<int>(run_outputs_.size());
    AVPacket* pkt = run_packet_.get();

    while (!StopRequested) {
        double minOutputTime = 1e100;
        if (!JoinMode) {
            fileIndex = -1;
            double minInputTime = 1e100;
            for (int n = 0; n < outputs; n++) {
                const TOutputStreamState& ost = *run_outputs_[n];
                const TInputStreamState& ist = *run_inputs_[ost.source_index];
                if (noPacket[ist.file_index]) continue;
                const double opts = OutputTime(ost);
                const double ipts = static_cast<double>(ist.pts);
                if (!run_files_[ist.file_index].eof_reached) {
                    if (ipts < minInputTime) {
                        minInputTime = ipts;
                        if (input_sync) fileIndex = ist.file_index;
                    }
                    if (opts < minOutputTime) {
                        minOutputTime = opts;
                        if (!input_sync) fileIndex = ist.file_index;
                    }
                }
                const int type = ost.stream->codecpar->codec_type;
                if (type >= 0 && type < 4 && ost.frame_number >= frame_limits[type]) {
                    fileIndex = -1;
                    break;
                }
            }
        } else {
            const int first = fileIndex * run_group_size_;
            for (int n = first; n < first + run_group_size_ && n < outputs; n++) {
                const TOutputStreamState& ost = *run_outputs_[n];
                minOutputTime = std::min(minOutputTime, OutputTime(ost));
                const int type = ost.stream->codecpar->codec_type;
                if (type >= 0 && type < 4 && ost.frame_number >= frame_limits[type]) {
                    fileIndex = -1;
                    break;
                }
            }
        }
        if (fileIndex < 0) {
            if (!JoinMode && noPacketCount > 0) {
                noPacketCount = 0;
                for (bool& f : noPacket) f = false;
                std::this_thread::sleep_for(std::chrono::milliseconds(10));
                continue;
            }
            break;
        }
        if (static_cast<double>(recording_time) / 1000000.0 <= minOutputTime) break;
        if (file_size_limit != 0) {
            AVIOContext* pb = output_contexts[0]->pb;
            if (pb && ff::avio_seek(pb, 0, SEEK_CUR) > file_size_limit) break;
        }

        Gate.Pass();  // a paused job parks here, between two packets
        if (StopRequested) break;
        AVFormatContext* ic = input_contexts[fileIndex];
        const int ret = ff::av_read_frame(ic, pkt);
        if (ret == AVERROR(EAGAIN)) {
            noPacket[fileIndex] = true;
            noPacketCount++;
            continue;
        }
        if (ret < 0) {
            run_files_[fileIndex].eof_reached = 1;
            if (!JoinMode) {
                if (shortest) break;
                continue;
            }
            // The end of one joined file: its decoders drain into the shared encoders, and the
            // next file continues the counters and the time line of this group.
            const int f = fileIndex;
            for (size_t i = 0; i < run_inputs_.size(); i++) {
                TInputStreamState& ist = *run_inputs_[i];
                if (ist.file_index != f || !ist.decoding_needed) continue;
                DispatchPacket(ist, static_cast<int>(i), nullptr);
                ff::avcodec_flush_buffers(ist.decoder.get());
                ist.flushed = 1;
            }
            for (int n = (f + 1) * run_group_size_; n < outputs; n++) {
                run_outputs_[n]->sync_pts = run_outputs_[n - run_group_size_]->sync_pts;
                run_outputs_[n]->frame_number = run_outputs_[n - run_group_size_]->frame_number;
                run_outputs_[n]->mux_end = run_outputs_[n - run_group_size_]->mux_end;
            }
            double endTime = 0.0;
            for (int n = f * run_group_size_; n < (f + 1) * run_group_size_ && n < outputs; n++)
                endTime = std::max(endTime, OutputTime(*run_outputs_[n]));
            if (f >= input_count - 1) break;
            input_ts_offsets[f + 1] += RoundHalfEven(endTime * 1000000.0);
            fileIndex = f + 1;
            continue;
        }
        noPacketCount = 0;
        for (bool& f : noPacket) f = false;

        if (packet_dump)
            ff::av_pkt_dump_log2(nullptr, AV_LOG_DEBUG, pkt, hex_dump,
                                 pkt->stream_index < static_cast<int>(ic->nb_streams)
                                     ? ic->streams[pkt->stream_index]
                                     : ic->streams[0]);
        const TInputFileState& file = run_files_[fileIndex];
        if (pkt->stream_index >= file.stream_count ||
            run_inputs_[file.first_stream + pkt->stream_index]->discard) {
            ff::av_packet_unref(pkt);
        } else {
            const int index = file.first_stream + pkt->stream_index;
            TInputStreamState& ist = *run_inputs_[index];
            const AVRational tb = ist.stream->time_base;
            if (input_ts_offsets[fileIndex] != 0) {
                const int64_t offset = ff::av_rescale_q(input_ts_offsets[fileIndex], AV_TIME_BASE_Q, tb);
                if (pkt->dts != AV_NOPTS_VALUE) pkt->dts += offset;
                if (pkt->pts != AV_NOPTS_VALUE) pkt->pts += offset;
            }
            const double scale = pkt->stream_index < MAX_STREAMS
                                     ? input_ts_scales[fileIndex][pkt->stream_index]
                                     : 0.0;
            if (scale != 0.0) {
                if (pkt->dts != AV_NOPTS_VALUE) pkt->dts = RoundHalfEven(pkt->dts * scale);
                if (pkt->pts != AV_NOPTS_VALUE) pkt->pts = RoundHalfEven(pkt->pts * scale);
            }
            if (pkt->dts != AV_NOPTS_VALUE && ist.next_pts != AV_NOPTS_VALUE &&
                (ic->iformat->flags & AVFMT_TS_DISCONT)) {
                const int64_t pktTime = ff::av_rescale_q(pkt->dts, tb, AV_TIME_BASE_Q);
                const int64_t delta = pktTime - ist.next_pts;
                if ((std::llabs(delta) > static_cast<int64_t>(dts_delta_threshold * 1000000.0) ||
                     pktTime + 1 < ist.pts) &&
                    !copy_ts) {
                    input_ts_offsets[fileIndex] -= delta;
                    if (verbosity > 2)
                        LogMessage(this, llVerbose,
                                   Format("timestamp discontinuity %lld, new offset= %lld",
                                          static_cast<long long>(delta),
                                          static_cast<long long>(input_ts_offsets[fileIndex])));
                    const int64_t shift = ff::av_rescale_q(delta, AV_TIME_BASE_Q, tb);
                    pkt->dts -= shift;
                    if (pkt->pts != AV_NOPTS_VALUE) pkt->pts -= shift;
                }
            }
            if (DispatchPacket(ist, index, pkt) < 0) {
                const std::string text =
                    Format("Error while decoding stream #%d.%d (%s)", ist.file_index,
                           ist.stream_index, MediaTypeName(ist.stream->codecpar->codec_type).c_str());
                ff::av_packet_unref(pkt);
                if (exit_on_error) throw FFmpegException(text);
                if (verbosity >= 0) LogMessage(this, llVerbose, text);
                continue;
            }
            ff::av_packet_unref(pkt);
        }
        const int64_t now = ff::av_gettime();
        if (now - lastReport > ReportInterval) {
            lastReport = now;
            Report(false);
        }
    }
}

}  // namespace quorlane
