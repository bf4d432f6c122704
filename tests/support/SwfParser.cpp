#include "SwfParser.h"

#include <cstring>

#include "ByteReader.h"
#include "Mp3Frames.h"
#include "SorensonPicture.h"

namespace quorlane::test {

namespace {

std::string at(uint64_t offset) { return " at byte " + std::to_string(offset); }

void parseDefineVideoStream(ByteReader r, const SwfTag& t, SwfFile& f)
{
    uint32_t id = 0, frames = 0, w = 0, h = 0, flags = 0, codec = 0;
    if (!r.le16(id) || !r.le16(frames) || !r.le16(w) || !r.le16(h) || !r.u8(flags) || !r.u8(codec)) {
        f.errors.push_back("DefineVideoStream too short" + at(t.offset));
        return;
    }
    if (f.videoStream) f.errors.push_back("second DefineVideoStream" + at(t.offset));
    f.videoStream = true;
    f.videoDeclaredFrames = static_cast<int>(frames);
    f.videoWidth = static_cast<int>(w);
    f.videoHeight = static_cast<int>(h);
    f.videoCodecId = static_cast<int>(codec);
    if (w == 0 || h == 0) f.errors.push_back("DefineVideoStream size is 0x0" + at(t.offset));
}

void parseVideoFrame(ByteReader r, const SwfTag& t, SwfFile& f)
{
    uint32_t id = 0, num = 0;
    if (!r.le16(id) || !r.le16(num)) {
        f.errors.push_back("VideoFrame too short" + at(t.offset));
        return;
    }
    if (!f.videoStream) f.errors.push_back("VideoFrame before DefineVideoStream" + at(t.offset));
    ++f.videoFrames;
    if (f.videoCodecId != 2) return;
    const uint8_t* p = nullptr;
    const size_t n = r.left();
    r.bytes(n, p);
    SorensonPicture pic;
    const std::string err = ParseSorensonPicture(p, n, pic);
    if (!err.empty()) {
        f.errors.push_back("VideoFrame" + at(t.offset) + ": " + err);
        return;
    }
    if (f.pictureWidth == 0) {
        f.pictureWidth = pic.width;
        f.pictureHeight = pic.height;
    }
}

void parseSoundHead(ByteReader r, const SwfTag& t, SwfFile& f)
{
    uint32_t playback = 0, stream = 0, samples = 0;
    if (!r.u8(playback) || !r.u8(stream) || !r.le16(samples)) {
        f.errors.push_back("SoundStreamHead too short" + at(t.offset));
        return;
    }
    if (f.soundHead) f.errors.push_back("second SoundStreamHead" + at(t.offset));
    f.soundHead = true;
    f.soundFormat = static_cast<int>(stream >> 4);
    f.soundRateIndex = static_cast<int>((stream >> 2) & 3);
    f.soundStereo = static_cast<int>(stream & 1);
    f.soundSamplesPerFrame = static_cast<int>(samples);
    if (f.soundFormat == kSwfSoundMp3 && t.length < 6)
        f.errors.push_back("SoundStreamHead for MP3 lacks the latency seek" + at(t.offset));
}

void parseSoundBlock(ByteReader r, const SwfTag& t, SwfFile& f)
{
    if (!f.soundHead) f.errors.push_back("SoundStreamBlock before SoundStreamHead" + at(t.offset));
    ++f.soundBlocks;
    if (f.soundFormat != kSwfSoundMp3) return;
    uint32_t samples = 0, seek = 0;
    if (!r.le16(samples) || !r.le16(seek)) {
        f.errors.push_back("SoundStreamBlock too short" + at(t.offset));
        return;
    }
    const uint8_t* p = nullptr;
    const size_t n = r.left();
    r.bytes(n, p);
    const Mp3Run run = WalkMp3Frames(p, n);
    if (!run.error.empty()) {
        f.errors.push_back("SoundStreamBlock" + at(t.offset) + ": " + run.error);
        return;
    }
    if (run.samples != samples)
        f.errors.push_back("SoundStreamBlock" + at(t.offset) + " declares " + std::to_string(samples) +
                           " samples but holds " + std::to_string(run.samples));
    if (run.frames == 0) return;
    if (f.mp3SampleRate == 0) {
        f.mp3SampleRate = run.sampleRate;
        f.mp3Channels = run.channels;
    }
    if (run.mixedFormats || run.sampleRate != f.mp3SampleRate || run.channels != f.mp3Channels)
        f.errors.push_back("MP3 rate or channels change" + at(t.offset));
    f.mp3Frames += run.frames;
    f.mp3Samples += run.samples;
}

void crossCheck(SwfFile& f)
{
    if (f.declaredLength != f.fileSize)
        f.errors.push_back("header declares " + std::to_string(f.declaredLength) + " bytes, the file has " +
                           std::to_string(f.fileSize));
    if (f.frameCount != static_cast<uint32_t>(f.showFrames))
        f.errors.push_back("header declares " + std::to_string(f.frameCount) + " frames, the file shows " +
                           std::to_string(f.showFrames));
    if (f.frameRate <= 0) f.errors.push_back("frame rate is 0");
    if (f.xMax <= f.xMin || f.yMax <= f.yMin) f.errors.push_back("frame size is empty");
    if (f.soundHead && f.soundFormat == kSwfSoundMp3 && f.mp3SampleRate > 0) {
        static constexpr int kRates[4] = {5512, 11025, 22050, 44100};
        if (kRates[f.soundRateIndex] != f.mp3SampleRate)
            f.errors.push_back("SoundStreamHead rate disagrees with the MP3 frames");
        if (f.soundStereo != (f.mp3Channels == 2 ? 1 : 0))
            f.errors.push_back("SoundStreamHead channels disagree with the MP3 frames");
    }
    // Stream sound is laid out frame by frame: the timeline and the sound must last about as long.
    if (f.mp3Samples > 0 && f.showFrames > 0 && f.frameRate > 0) {
        const double timeline = f.durationMs(), sound = f.audioDurationMs();
        const double diff = timeline > sound ? timeline - sound : sound - timeline;
        if (diff > 250 && diff > 0.1 * (timeline > sound ? timeline : sound))
            f.errors.push_back("the timeline lasts " + std::to_string(static_cast<int>(timeline)) +
                               " ms but the sound " + std::to_string(static_cast<int>(sound)) + " ms");
    }
    if (f.videoStream && f.pictureWidth > 0 &&
        (f.pictureWidth != f.videoWidth || f.pictureHeight != f.videoHeight))
        f.errors.push_back("DefineVideoStream size disagrees with the pictures");
}

}  // namespace

std::string SwfFile::errorText() const
{
    std::string out;
    for (const auto& e : errors) out += (out.empty() ? "" : "; ") + e;
    return out;
}

SwfFile ParseSwf(const uint8_t* data, size_t size)
{
    SwfFile f;
    f.fileSize = size;
    ByteReader r(data, size);
    const uint8_t* sig = nullptr;
    uint32_t version = 0;
    if (!r.bytes(3, sig) || std::memcmp(sig + 1, "WS", 2) != 0 || (sig[0] != 'F' && sig[0] != 'C' && sig[0] != 'Z')) {
        f.errors.push_back("not an SWF file: signature missing");
        return f;
    }
    f.signature.assign(reinterpret_cast<const char*>(sig), 3);
    if (!r.u8(version) || !r.le32(f.declaredLength)) {
        f.errors.push_back("file header truncated");
        return f;
    }
    f.version = static_cast<int>(version);
    if (sig[0] != 'F') {
        // Compressed bodies are not decoded; the declared length is that of the uncompressed movie.
        f.compressed = true;
        f.errors.push_back("compressed SWF (" + f.signature + "): the body is not checked");
        return f;
    }

    BitReader bits(data + r.pos(), r.left());
    uint32_t nbits = 0;
    if (!bits.bits(5, nbits) || !bits.signedBits(nbits, f.xMin) || !bits.signedBits(nbits, f.xMax) ||
        !bits.signedBits(nbits, f.yMin) || !bits.signedBits(nbits, f.yMax)) {
        f.errors.push_back("frame size truncated");
        return f;
    }
    r.skip(bits.bytesUsed());
    uint32_t rate = 0;
    if (!r.le16(rate) || !r.le16(f.frameCount)) {
        f.errors.push_back("frame rate and count truncated");
        return f;
    }
    f.frameRate = rate / 256.0;

    while (!f.endTag) {
        SwfTag t;
        t.offset = r.pos();
        uint32_t head = 0;
        if (!r.le16(head)) {
            f.errors.push_back(r.left() == 0 ? "End tag missing" : "tag header truncated" + at(t.offset));
            break;
        }
        t.code = static_cast<int>(head >> 6);
        t.length = head & 0x3F;
        if (t.length == 0x3F && !r.le32(t.length)) {
            f.errors.push_back("long tag header truncated" + at(t.offset));
            break;
        }
        const uint8_t* body = nullptr;
        if (!r.bytes(t.length, body)) {
            f.errors.push_back("tag " + std::to_string(t.code) + " truncated" + at(t.offset) + ": declares " +
                               std::to_string(t.length) + " bytes, " + std::to_string(r.left()) + " left");
            break;
        }
        f.tags.push_back(t);
        const ByteReader tagBody(body, t.length);
        switch (t.code) {
        case swfEnd:
            f.endTag = true;
            if (t.length != 0) f.errors.push_back("End tag with a body" + at(t.offset));
            break;
        case swfShowFrame: ++f.showFrames; break;
        case swfSoundStreamHead:
        case swfSoundStreamHead2: parseSoundHead(tagBody, t, f); break;
        case swfSoundStreamBlock: parseSoundBlock(tagBody, t, f); break;
        case swfDefineVideoStream: parseDefineVideoStream(tagBody, t, f); break;
        case swfVideoFrame: parseVideoFrame(tagBody, t, f); break;
        default: break;
        }
    }
    if (f.endTag && r.left() > 0)
        f.errors.push_back(std::to_string(r.left()) + " bytes after the End tag");
    crossCheck(f);
    return f;
}

SwfFile ParseSwfFile(const std::string& path)
{
    bool ok = false;
    std::vector<uint8_t> bytes = ReadWholeFile(path, ok);
    if (!ok) {
        SwfFile f;
        f.errors.push_back("cannot read " + path);
        return f;
    }
    return ParseSwf(bytes.data(), bytes.size());
}

}  // namespace quorlane::test
