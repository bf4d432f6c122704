#include "TwoPassLog.h"

#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdarg>
#include <cstdio>

#include "FFmpeg.h"
#include "MyUtils.h"

namespace quorlane {
namespace {

struct StatsFree {
    void operator()(char* p) const { ff::av_free(p); }
};

// The child's log: error lines (and worse) go to the parent through a pipe.
int childLogPipe = -1;

void ChildLog(void* object, int level, const char* format, va_list args)
{
    if (level > AV_LOG_ERROR || childLogPipe < 0) return;
    char line[1024];
    int n = 0;
    const AVClass* cls = object ? *static_cast<const AVClass* const*>(object) : nullptr;
    if (cls && cls->item_name) n = std::snprintf(line, sizeof line, "[%s @ %p] ", cls->item_name(object), object);
    if (n < 0 || n >= static_cast<int>(sizeof line)) n = 0;
    const int m = std::vsnprintf(line + n, sizeof line - n, format, args);
    if (m > 0) n = std::min<int>(n + m, sizeof line - 1);
    if (n > 0) (void)!write(childLogPipe, line, n);  // nothing to do when the pipe is gone
}

}  // namespace

bool SecondPassOpens(AVCodecContext* encoder, const AVCodec* codec, AVDictionary* options,
                     std::vector<std::string>& errorLines)
{
    int fds[2];
    // Close-on-exec: a program another thread starts meanwhile must not hold the pipe open.
    if (pipe2(fds, O_CLOEXEC) != 0) return true;  // cannot try: the real open decides
    const pid_t child = fork();
    if (child < 0) {
        close(fds[0]);
        close(fds[1]);
        return true;
    }
    if (child == 0) {
        // The child only opens its copy of the encoder and leaves without running any clean-up.
        close(fds[0]);
        const rlimit noCore{0, 0};
        setrlimit(RLIMIT_CORE, &noCore);
        // The library's own failure report (or a checker's) is not the user's business here.
        const int devNull = open("/dev/null", O_WRONLY);
        if (devNull >= 0) {
            dup2(devNull, STDOUT_FILENO);
            dup2(devNull, STDERR_FILENO);
        }
        childLogPipe = fds[1];
        ff::av_log_set_callback(ChildLog);
        const int ret = ff::avcodec_open2(encoder, codec, &options);
        _exit(ret < 0 ? 1 : 0);
    }
    close(fds[1]);
    std::string text;
    char buffer[4096];
    for (;;) {
        pollfd p{fds[0], POLLIN, 0};
        const int ready = poll(&p, 1, 30000);
        if (ready < 0 && errno == EINTR) continue;
        if (ready <= 0) {
            kill(child, SIGKILL);  // a child that hangs counts as a failed open
            break;
        }
        const ssize_t got = read(fds[0], buffer, sizeof buffer);
        if (got < 0 && errno == EINTR) continue;
        if (got <= 0) break;
        text.append(buffer, static_cast<size_t>(got));
    }
    close(fds[0]);
    int status = 0;
    while (waitpid(child, &status, 0) < 0 && errno == EINTR) {
    }
    for (size_t start = 0; start < text.size();) {
        size_t end = text.find('\n', start);
        if (end == std::string::npos) end = text.size();
        if (end > start) errorLines.push_back(text.substr(start, end - start));
        start = end + 1;
    }
    return WIFEXITED(status) && WEXITSTATUS(status) == 0;
}

std::string TwoPassLogName(const std::string& prefix, int outputStreamIndex)
{
    std::string name = Format("%s-%d.log", prefix.empty() ? "ffmpeg2pass" : prefix.c_str(), outputStreamIndex);
    if (name.size() > 1023) name.resize(1023);
    return name;
}

TwoPassFile SetUpTwoPassLog(const std::string& prefix, int outputStreamIndex, AVCodecContext* encoder)
{
    const std::string name = TwoPassLogName(prefix, outputStreamIndex);
    if (encoder->flags & AV_CODEC_FLAG_PASS1) {
        TwoPassFile log(ff::my_fopen(name.c_str(), "w"));
        if (!log) throw FFmpegException(Format("Cannot write log file %s for pass-1 encoding", name.c_str()));
        return log;
    }
    TwoPassFile in(ff::my_fopen(name.c_str(), "r"));
    long size = -1;
    if (in && ff::my_fseek(in.get(), 0, 2) == 0) size = ff::my_ftell(in.get());
    if (size < 0 || ff::my_fseek(in.get(), 0, 0) != 0)
        throw FFmpegException(Format("Cannot read log file %s for pass-2 encoding", name.c_str()));
    std::unique_ptr<char, StatsFree> buffer(static_cast<char*>(ff::av_malloc(static_cast<size_t>(size) + 1)));
    if (!buffer) throw FFmpegException("Could not allocate log buffer");
    const size_t read = ff::my_fread(buffer.get(), 1, static_cast<size_t>(size), in.get());
    in.reset();
    buffer.get()[read] = '\0';
    ff::av_freep(&encoder->stats_in);
    encoder->stats_in = buffer.release();
    return nullptr;
}

void WriteTwoPassStats(my_file* log, const AVCodecContext* encoder)
{
    if (log && encoder->stats_out) ff::my_fprintf(log, "%s", encoder->stats_out);
}

void FreeTwoPassStats(AVCodecContext* encoder)
{
    if (encoder) ff::av_freep(&encoder->stats_in);
}

}  // namespace quorlane
