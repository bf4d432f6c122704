#include "SwfHeaderFix.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdint>
#include <cstring>

#include "FFmpegLogger.h"
#include "MyUtils.h"

namespace quorlane {

namespace {

constexpr int kTagEnd = 0;
constexpr int kTagShowFrame = 1;
constexpr int kTagSoundStreamHead = 18;
constexpr int kTagSoundStreamBlock = 19;
constexpr int kTagSoundStreamHead2 = 45;
constexpr int kTagDefineVideoStream = 60;
constexpr int kSoundMp3 = 2;

class FileDescriptor {
public:
    explicit FileDescriptor(int fd) : fd_(fd) {}
    ~FileDescriptor()
    {
        if (fd_ >= 0) ::close(fd_);
    }
    FileDescriptor(const FileDescriptor&) = delete;
    FileDescriptor& operator=(const FileDescriptor&) = delete;
    int get() const { return fd_; }
    // Closing can report a failed write-back; the caller hears of it.
    int release()
    {
        const int r = ::close(fd_);
        fd_ = -1;
        return r;
    }

private:
    int fd_;
};

bool readAt(int fd, uint64_t offset, uint8_t* buf, size_t n)
{
    size_t done = 0;
    while (done < n) {
        const ssize_t r = ::pread(fd, buf + done, n - done, static_cast<off_t>(offset + done));
        if (r < 0 && errno == EINTR) continue;
        if (r <= 0) return false;
        done += static_cast<size_t>(r);
    }
    return true;
}

bool writeAt(int fd, uint64_t offset, const uint8_t* buf, size_t n)
{
    size_t done = 0;
    while (done < n) {
        const ssize_t r = ::pwrite(fd, buf + done, n - done, static_cast<off_t>(offset + done));
        if (r < 0 && errno == EINTR) continue;
        if (r <= 0) return false;
        done += static_cast<size_t>(r);
    }
    return true;
}

uint32_t le16(const uint8_t* p) { return p[0] | (p[1] << 8); }
uint32_t le32(const uint8_t* p) { return p[0] | (p[1] << 8) | (p[2] << 16) | (uint32_t{p[3]} << 24); }
void putLe16(uint8_t* p, uint32_t v)
{
    p[0] = v & 0xFF;
    p[1] = (v >> 8) & 0xFF;
}
void putLe32(uint8_t* p, uint32_t v)
{
    putLe16(p, v & 0xFFFF);
    putLe16(p + 2, v >> 16);
}

// What a walk over the tags finds.
struct TagWalk {
    uint32_t showFrames = 0;
    bool video = false;
    uint64_t soundHeadBody = 0;  // offset of the first SoundStreamHead body, 0 when there is none
    int soundFormat = -1;
    int soundRate = 0;
    uint32_t blockSamples = 0;  // the sample count every MP3 SoundStreamBlock declares; 0 when they differ
    uint32_t blocks = 0;
};

std::string walkTags(int fd, uint64_t pos, uint64_t size, TagWalk& w)
{
    static constexpr int kRates[4] = {5512, 11025, 22050, 44100};
    bool sameSamples = true;
    for (;;) {
        uint8_t head[6];
        if (pos + 2 > size) return "End tag missing";
        if (!readAt(fd, pos, head, 2)) return "cannot read the tag at byte " + std::to_string(pos);
        const int code = static_cast<int>(le16(head) >> 6);
        uint64_t length = le16(head) & 0x3F;
        uint64_t body = pos + 2;
        if (length == 0x3F) {
            if (body + 4 > size || !readAt(fd, body, head + 2, 4))
                return "long tag header truncated at byte " + std::to_string(pos);
            length = le32(head + 2);
            body += 4;
        }
        if (body + length > size) return "tag " + std::to_string(code) + " truncated at byte " + std::to_string(pos);
        if (code == kTagEnd) {
            if (body != size) return std::to_string(size - body) + " bytes after the End tag";
            break;
        }
        uint8_t b[4];
        if (code == kTagShowFrame) {
            ++w.showFrames;
        } else if (code == kTagDefineVideoStream) {
            w.video = true;
        } else if ((code == kTagSoundStreamHead || code == kTagSoundStreamHead2) && w.soundHeadBody == 0 &&
                   length >= 4 && readAt(fd, body, b, 4)) {
            w.soundHeadBody = body;
            w.soundFormat = b[1] >> 4;
            w.soundRate = kRates[(b[1] >> 2) & 3];
        } else if (code == kTagSoundStreamBlock && w.soundFormat == kSoundMp3 && length >= 4 &&
                   readAt(fd, body, b, 2)) {
            const uint32_t samples = le16(b);
            if (w.blocks == 0) w.blockSamples = samples;
            else if (samples != w.blockSamples) sameSamples = false;
            ++w.blocks;
        }
        pos = body + length;
    }
    if (!sameSamples) w.blockSamples = 0;
    return {};
}

TSwfRepair repair(const std::string& name)
{
    FileDescriptor fd(::open(name.c_str(), O_RDWR | O_CLOEXEC));
    if (fd.get() < 0)
        return {TSwfRepairResult::srRefused, Format("cannot open %s: %s", name.c_str(), std::strerror(errno))};
    struct stat st {};
    if (::fstat(fd.get(), &st) != 0)
        return {TSwfRepairResult::srRefused, Format("cannot read the size of %s", name.c_str())};
    const uint64_t size = static_cast<uint64_t>(st.st_size);

    // Signature, version, length, then the frame rectangle (at most 17 bytes), rate and count.
    uint8_t h[8 + 17 + 4] = {};
    const size_t headerRead = size < sizeof h ? static_cast<size_t>(size) : sizeof h;
    if (size < 9 || !readAt(fd.get(), 0, h, headerRead))
        return {TSwfRepairResult::srRefused, Format("%s is too short for an SWF header", name.c_str())};
    if (std::memcmp(h + 1, "WS", 2) != 0 || (h[0] != 'F' && h[0] != 'C' && h[0] != 'Z'))
        return {TSwfRepairResult::srRefused, Format("%s is not an SWF file", name.c_str())};
    if (h[0] != 'F')
        return {TSwfRepairResult::srRefused, Format("%s is compressed; its header is left as written", name.c_str())};
    if (size > UINT32_MAX)
        return {TSwfRepairResult::srRefused, Format("%s is larger than an SWF header can declare", name.c_str())};

    const size_t rectBytes = (5 + 4 * (h[8] >> 3) + 7) / 8;
    const size_t rateAt = 8 + rectBytes;
    const size_t countAt = rateAt + 2;
    if (countAt + 2 > headerRead)
        return {TSwfRepairResult::srRefused, Format("%s: SWF header truncated", name.c_str())};

    TagWalk walk;
    const std::string damage = walkTags(fd.get(), countAt + 2, size, walk);
    if (!damage.empty())
        return {TSwfRepairResult::srRefused, Format("%s: %s; the header is left as written", name.c_str(), damage.c_str())};
    if (walk.showFrames > 0xFFFF)
        return {TSwfRepairResult::srRefused, Format("%s shows more frames than an SWF header can declare", name.c_str())};

    std::string changes;
    uint8_t patched[sizeof h];
    std::memcpy(patched, h, sizeof h);
    if (le32(h + 4) != size) {
        putLe32(patched + 4, static_cast<uint32_t>(size));
        changes += Format("file length %u to %llu", le32(h + 4), static_cast<unsigned long long>(size));
    }
    if (le16(h + countAt) != walk.showFrames) {
        putLe16(patched + countAt, walk.showFrames);
        changes += Format("%sframe count %u to %u", changes.empty() ? "" : ", ", le16(h + countAt), walk.showFrames);
    }
    // A sound-only movie shows one frame per MP3 frame: its timeline must run at the sound's frame rate.
    uint8_t soundHead[4] = {};
    bool soundHeadChanged = false;
    if (!walk.video && walk.soundFormat == kSoundMp3 && walk.blocks > 0 && walk.blockSamples > 0 &&
        readAt(fd.get(), walk.soundHeadBody, soundHead, 4)) {
        const uint32_t rate88 = static_cast<uint32_t>((walk.soundRate * 256LL + walk.blockSamples / 2) / walk.blockSamples);
        if (rate88 > 0 && rate88 <= 0xFFFF && le16(h + rateAt) != rate88) {
            putLe16(patched + rateAt, rate88);
            changes += Format("%sframe rate %.3f to %.3f", changes.empty() ? "" : ", ", le16(h + rateAt) / 256.0,
                              rate88 / 256.0);
        }
        if (le16(soundHead + 2) != walk.blockSamples) {
            changes += Format("%ssamples per frame %u to %u", changes.empty() ? "" : ", ", le16(soundHead + 2),
                              walk.blockSamples);
            putLe16(soundHead + 2, walk.blockSamples);
            soundHeadChanged = true;
        }
    }
    if (changes.empty()) return {TSwfRepairResult::srUnchanged, {}};

    if (!writeAt(fd.get(), 0, patched, countAt + 2) ||
        (soundHeadChanged && !writeAt(fd.get(), walk.soundHeadBody + 2, soundHead + 2, 2)) || fd.release() != 0)
        return {TSwfRepairResult::srRefused, Format("cannot write the SWF header of %s: %s", name.c_str(), std::strerror(errno))};
    return {TSwfRepairResult::srPatched, Format("SWF header of %s corrected: %s", name.c_str(), changes.c_str())};
}

}  // namespace

TSwfRepair RepairSwfHeader(const std::string& systemName)
{
    TSwfRepair r = repair(systemName);
    if (r.Result == TSwfRepairResult::srPatched) LogMessage(nullptr, llVerbose, r.Message);
    else if (r.Result == TSwfRepairResult::srRefused) LogMessage(nullptr, llWarning, r.Message);
    return r;
}

}  // namespace quorlane
