// The running mode of `quorlane-cli job`: runs the prepared job on this thread, shows its
// progress (a bar on a terminal, one line per report otherwise), prints the final statistics and
// turns the outcome into the exit status. SIGINT asks the job to stop; the output stays complete.
#include <algorithm>
#include <atomic>
#include <csignal>
#include <cstdio>
#include <string>

#include <unistd.h>

#include "CliCommands.h"
#include "FFmpeg.h"

namespace quorlane::cli {

namespace {

// The job a SIGINT stops; the handler only stores into lock-free atomics.
std::atomic<TCustomFFmpeg*> InterruptedJob{nullptr};
std::atomic<bool> Interrupted{false};
static_assert(std::atomic<bool>::is_always_lock_free);

void StopOnInterrupt(int)
{
    Interrupted.store(true);
    if (TCustomFFmpeg* job = InterruptedJob.load()) job->StopRequested.store(true);
}

// Expected output length in ms: the job's own, else what is left of the first input.
int64_t ExpectedDurationMs(const TCustomFFmpeg& job)
{
    if (job.RecordingTimeMs > 0) return job.RecordingTimeMs;
    int64_t total = job.input_count > 0 && job.input_contexts[0] ? job.input_contexts[0]->duration : AV_NOPTS_VALUE;
    if (total == AV_NOPTS_VALUE || total <= 0) return 0;
    total -= job.start_time;
    if (job.recording_time != INT64_MAX && job.recording_time < total) total = job.recording_time;
    return total > 0 ? total / 1000 : 0;
}

}  // namespace

int RunPreparedJob(TCustomFFmpeg& job)
{
    const bool terminal = isatty(fileno(stderr)) != 0;
    const int64_t expected = ExpectedDurationMs(job);
    bool reported = false;
    job.OnRunProgress = [&](TCustomFFmpeg&, int frame, int fps, int currentMs, float quality, float bitRate,
                            int64_t size, int) {
        char line[256];
        std::snprintf(line, sizeof line, "frame=%5d fps=%3d q=%4.1f size=%8lldkB time=%0.2f bitrate=%6.1fkbits/s",
                      frame, fps, quality, static_cast<long long>(size / 1024), currentMs / 1000.0, bitRate);
        if (terminal) {
            constexpr int Width = 30;
            const double part = expected > 0 ? std::min(1.0, currentMs / static_cast<double>(expected)) : 0.0;
            const int filled = static_cast<int>(part * Width);
            std::fprintf(stderr, "\r[%s%s] %3d%% %s", std::string(filled, '#').c_str(),
                         std::string(Width - filled, '.').c_str(), static_cast<int>(part * 100), line);
        } else {
            std::fprintf(stderr, "%s\n", line);
        }
        std::fflush(stderr);
        reported = true;
    };

    InterruptedJob.store(&job);
    struct sigaction action {};
    struct sigaction previous {};
    action.sa_handler = StopOnInterrupt;
    sigemptyset(&action.sa_mask);
    sigaction(SIGINT, &action, &previous);

    job.Start(false, tpNormal);

    sigaction(SIGINT, &previous, nullptr);
    InterruptedJob.store(nullptr);
    if (reported && terminal) std::fputc('\n', stderr);

    // The failure's text already reached stderr through the engine log, which lets it through at
    // every level.
    if (job.ErrorOccurred) return 1;
    // The final statistics are the job's own last log lines.
    if (Interrupted.load() || job.StopRequested) return 130;
    return job.Finished ? 0 : 1;
}

}  // namespace quorlane::cli
