#include "UnicodeProtocol.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <cstring>

#include "EntryPoints.h"
#include "MyUtils.h"

namespace quorlane {
namespace {

std::atomic<int> registrations{0};

constexpr int StreamBufferSize = 32768;

// The per-file state of the engine's own byte streams (the AVIOContext's opaque).
struct UnicodeFile {
    int fd = -1;
};

int UnicodeRead(void* opaque, uint8_t* buf, int size)
{
    auto* file = static_cast<UnicodeFile*>(opaque);
    ssize_t n;
    do n = ::read(file->fd, buf, static_cast<size_t>(size));
    while (n < 0 && errno == EINTR);
    if (n < 0) return AVERROR(errno);
    return n == 0 ? AVERROR_EOF : static_cast<int>(n);  // avio treats 0 as "try again"
}

int UnicodeWrite(void* opaque, uint8_t* buf, int size)
{
    auto* file = static_cast<UnicodeFile*>(opaque);
    int done = 0;
    while (done < size) {
        ssize_t n = ::write(file->fd, buf + done, static_cast<size_t>(size - done));
        if (n < 0) {
            if (errno == EINTR) continue;
            return AVERROR(errno);
        }
        done += static_cast<int>(n);
    }
    return done;
}

int64_t UnicodeSeek(void* opaque, int64_t offset, int whence)
{
    auto* file = static_cast<UnicodeFile*>(opaque);
    if (whence & AVSEEK_SIZE) {
        struct stat st {};
        return fstat(file->fd, &st) != 0 ? AVERROR(errno) : static_cast<int64_t>(st.st_size);
    }
    off_t r = ::lseek(file->fd, static_cast<off_t>(offset), whence & ~AVSEEK_FORCE);
    return r < 0 ? AVERROR(errno) : static_cast<int64_t>(r);
}

int OpenUnicodeStream(AVIOContext** pb, const std::string& libraryName, int flags)
{
    const std::string path = libraryName.substr(UnicodePrefixLength);  // UTF-8 bytes on disk
    int mode = O_RDONLY;
    if ((flags & AVIO_FLAG_READ_WRITE) == AVIO_FLAG_READ_WRITE) mode = O_RDWR | O_CREAT | O_TRUNC;
    else if (flags & AVIO_FLAG_WRITE) mode = O_WRONLY | O_CREAT | O_TRUNC;
    int fd = ::open(path.c_str(), mode | O_CLOEXEC, 0666);
    if (fd < 0) return AVERROR(errno);
    struct stat st {};
    if (fstat(fd, &st) != 0 || S_ISDIR(st.st_mode)) {
        int code = S_ISDIR(st.st_mode) ? EISDIR : errno;
        ::close(fd);
        return AVERROR(code);
    }
    auto file = std::make_unique<UnicodeFile>();
    file->fd = fd;
    auto* buffer = static_cast<unsigned char*>(ff::av_malloc(StreamBufferSize));
    AVIOContext* ctx = buffer ? ff::avio_alloc_context(buffer, StreamBufferSize, (flags & AVIO_FLAG_WRITE) ? 1 : 0,
                                                       file.get(), UnicodeRead, UnicodeWrite, UnicodeSeek)
                              : nullptr;
    if (!ctx) {
        ff::av_free(buffer);
        ::close(fd);
        return AVERROR(ENOMEM);
    }
    file.release();  // owned by the context from here on (CloseLibraryStream)
    *pb = ctx;
    return 0;
}

// A demuxer that opens its files itself (an image sequence pattern) needs no byte stream.
bool OpensItsOwnFiles(const std::string& libraryName, const AVInputFormat* forced)
{
    if (forced) return (forced->flags & AVFMT_NOFILE) != 0;
    AVProbeData pd{};
    pd.filename = libraryName.c_str();
    int score = AVPROBE_SCORE_RETRY;
    return ff::av_probe_input_format2(&pd, 0, &score) != nullptr;
}

}  // namespace

// FFmpeg 5.1 has no public protocol registration: the prefix is recognised by the engine's own
// open helper, so registering means only making the form available.
void RegisterUnicodeProtocol()
{
    int expected = 0;
    registrations.compare_exchange_strong(expected, 1);
}

bool UnicodeProtocolRegistered() { return registrations.load() > 0; }

int UnicodeProtocolRegistrations() { return registrations.load(); }

bool NeedsUnicodeProtocol(const std::wstring& fileName)
{
    size_t colon = fileName.find(L':');
    if (colon != std::wstring::npos) {
        std::string scheme;
        if (WideToLocale(fileName.substr(0, colon), scheme) &&
            std::strstr(PlainProtocols, (":" + scheme + ":").c_str()) != nullptr)
            return false;
    }
    std::string local;
    std::wstring back;
    return !(WideToLocale(fileName, local) && LocaleToWide(local, back) && back == fileName);
}

std::string ToLibraryName(const std::wstring& fileName)
{
    if (NeedsUnicodeProtocol(fileName)) return UnicodePrefix + WideToUtf8(fileName);
    return WideToSystem(fileName);
}

bool IsUnicodeLibraryName(const std::string& libraryName)
{
    return libraryName.size() > UnicodePrefixLength && libraryName.compare(0, UnicodePrefixLength, UnicodePrefix) == 0;
}

std::wstring FromLibraryName(const std::string& libraryName)
{
    if (IsUnicodeLibraryName(libraryName)) return Utf8ToWide(libraryName.substr(UnicodePrefixLength));
    return SystemToWide(libraryName);
}

bool IsUnicodeStream(const AVIOContext* pb) { return pb && pb->seek == UnicodeSeek; }

int OpenLibraryStream(AVIOContext** pb, const std::string& libraryName, int flags, const AVIOInterruptCB* interrupt,
                      AVDictionary** options)
{
    *pb = nullptr;
    if (IsUnicodeLibraryName(libraryName)) return OpenUnicodeStream(pb, libraryName, flags);
    AVIOContext* ctx = nullptr;
    int r = ff::avio_open2(&ctx, libraryName.c_str(), flags, interrupt, options);
    if (r < 0) return r;
    *pb = ctx;
    return 0;
}

void CloseLibraryStream(AVIOContext** pb)
{
    if (!pb || !*pb) return;
    if (!IsUnicodeStream(*pb)) {
        ff::avio_closep(pb);
        return;
    }
    AVIOContext* ctx = *pb;
    *pb = nullptr;
    if (ctx->write_flag) ff::avio_flush(ctx);
    std::unique_ptr<UnicodeFile> file(static_cast<UnicodeFile*>(ctx->opaque));
    ::close(file->fd);
    ff::av_freep(&ctx->buffer);
    ff::avio_context_free(&ctx);
}

int OpenLibraryInput(AVFormatContext** ctx, const std::string& libraryName, const AVInputFormat* forced,
                     AVDictionary** options)
{
    AVFormatContext* ic = *ctx ? *ctx : ff::avformat_alloc_context();
    *ctx = nullptr;
    if (!ic) return AVERROR(ENOMEM);
    if (OpensItsOwnFiles(libraryName, forced)) {
        int r = ff::avformat_open_input(&ic, libraryName.c_str(), forced, options);
        if (r >= 0) *ctx = ic;
        return r;
    }
    AVIOContext* pb = nullptr;
    int r = OpenLibraryStream(&pb, libraryName, AVIO_FLAG_READ, &ic->interrupt_callback, options);
    if (r < 0) {
        ff::avformat_free_context(ic);
        return r;
    }
    const AVInputFormat* format = forced;
    int score = AVPROBE_SCORE_MAX;
    if (!format) {
        // Both "nothing recognises these bytes" and "the header is broken" come back from the
        // open as AVERROR_INVALIDDATA; telling them apart needs the demuxer chosen first.
        score = ff::av_probe_input_buffer2(pb, &format, libraryName.c_str(), ic,
                                           static_cast<unsigned>(ic->skip_initial_bytes), ic->format_probesize);
        if (score < 0 || !format) {
            CloseLibraryStream(&pb);
            ff::avformat_free_context(ic);
            return score == AVERROR_INVALIDDATA || score >= 0 ? AVERROR_DEMUXER_NOT_FOUND : score;
        }
    }
    ic->pb = pb;
    ic->flags |= AVFMT_FLAG_CUSTOM_IO;  // the library must leave the stream to CloseLibraryInput
    r = ff::avformat_open_input(&ic, libraryName.c_str(), format, options);
    if (r < 0) {  // the library has freed the context already
        CloseLibraryStream(&pb);
        // At the end of a short file the probe settles for a demuxer chosen by the extension
        // alone (or about as weakly); when that one rejects the data, nothing recognised it.
        return r == AVERROR_INVALIDDATA && score <= AVPROBE_SCORE_RETRY ? AVERROR_DEMUXER_NOT_FOUND : r;
    }
    *ctx = ic;
    return r;
}

void CloseLibraryInput(AVFormatContext** ctx)
{
    if (!ctx || !*ctx) return;
    AVIOContext* pb = ((*ctx)->flags & AVFMT_FLAG_CUSTOM_IO) ? (*ctx)->pb : nullptr;
    ff::avformat_close_input(ctx);
    CloseLibraryStream(&pb);
}

int OpenLibraryOutput(AVFormatContext* oc)
{
    if (!oc || !oc->oformat || !oc->url) return AVERROR(EINVAL);
    if (oc->oformat->flags & AVFMT_NOFILE) return 0;
    return OpenLibraryStream(&oc->pb, oc->url, AVIO_FLAG_WRITE, &oc->interrupt_callback);
}

void CloseLibraryOutputFile(AVFormatContext* oc)
{
    if (!oc || !oc->pb) return;
    if (oc->oformat && (oc->oformat->flags & AVFMT_NOFILE)) return;
    CloseLibraryStream(&oc->pb);
}

void CloseLibraryOutput(AVFormatContext** oc)
{
    if (!oc || !*oc) return;
    CloseLibraryOutputFile(*oc);
    ff::avformat_free_context(*oc);
    *oc = nullptr;
}

}  // namespace quorlane
