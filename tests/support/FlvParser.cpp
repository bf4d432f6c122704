#include "FlvParser.h"

#include <algorithm>
#include <cstring>

#include "ByteReader.h"

namespace quorlane::test {

namespace {

std::string at(uint64_t offset) { return " at byte " + std::to_string(offset); }

// AMF0 as written into script tags. Nested values are checked but only top-level entries are kept.
class AmfReader {
public:
    explicit AmfReader(ByteReader& r) : r_(r) {}

    std::string error;

    bool value(AmfValue& out, int depth = 0)
    {
        if (depth > 16) return fail("AMF0 nesting deeper than 16");
        uint32_t marker = 0;
        if (!r_.u8(marker)) return fail("AMF0 value truncated");
        switch (marker) {
        case 0: out.kind = AmfValue::Number; return number(out.number);
        case 1: {
            uint32_t b = 0;
            out.kind = AmfValue::Boolean;
            if (!r_.u8(b)) return fail("AMF0 boolean truncated");
            out.boolean = b != 0;
            return true;
        }
        case 2: out.kind = AmfValue::String; return string(false, out.text);
        case 3: out.kind = AmfValue::Object; return properties(nullptr, depth);
        case 5:
        case 6: out.kind = AmfValue::Null; return true;
        case 7: {
            uint32_t ref = 0;
            out.kind = AmfValue::Null;
            return r_.be16(ref) || fail("AMF0 reference truncated");
        }
        case 8: {
            uint32_t count = 0;
            out.kind = AmfValue::Array;
            if (!r_.be32(count)) return fail("AMF0 ECMA array truncated");
            return properties(nullptr, depth);
        }
        case 10: {
            uint32_t count = 0;
            out.kind = AmfValue::Array;
            if (!r_.be32(count)) return fail("AMF0 strict array truncated");
            for (uint32_t i = 0; i < count; ++i) {
                AmfValue item;
                if (!value(item, depth + 1)) return false;
            }
            return true;
        }
        case 11: {
            uint32_t tz = 0;
            out.kind = AmfValue::Date;
            return (number(out.number) && r_.be16(tz)) || fail("AMF0 date truncated");
        }
        case 12: out.kind = AmfValue::String; return string(true, out.text);
        default: return fail("AMF0 type " + std::to_string(marker) + " not supported");
        }
    }

    // Key/value pairs up to the empty key and the object-end marker 9.
    bool properties(std::map<std::string, AmfValue>* keep, int depth)
    {
        for (;;) {
            std::string key;
            if (!string(false, key)) return false;
            if (key.empty()) {
                uint32_t end = 0;
                if (!r_.u8(end)) return fail("AMF0 object end truncated");
                if (end != 9) return fail("AMF0 object end marker missing");
                return true;
            }
            AmfValue v;
            if (!value(v, depth + 1)) return false;
            if (keep) (*keep)[key] = v;
        }
    }

    bool string(bool longLength, std::string& out)
    {
        uint32_t n = 0;
        const uint8_t* p = nullptr;
        if (!(longLength ? r_.be32(n) : r_.be16(n)) || !r_.bytes(n, p)) return fail("AMF0 string truncated");
        out.assign(reinterpret_cast<const char*>(p), n);
        return true;
    }

private:
    bool number(double& out)
    {
        uint32_t hi = 0, lo = 0;
        if (!r_.be32(hi) || !r_.be32(lo)) return fail("AMF0 number truncated");
        const uint64_t bits = (uint64_t{hi} << 32) | lo;
        std::memcpy(&out, &bits, sizeof out);
        return true;
    }
    bool fail(const std::string& text)
    {
        if (error.empty()) error = text;
        return false;
    }

    ByteReader& r_;
};

void parseScript(const uint8_t* p, size_t size, FlvFile& f, uint64_t offset)
{
    ByteReader r(p, size);
    AmfReader amf(r);
    AmfValue name;
    if (!amf.value(name)) {
        f.errors.push_back("script tag" + at(offset) + ": " + amf.error);
        return;
    }
    if (name.kind != AmfValue::String || name.text != "onMetaData") return;
    uint32_t marker = 0;
    if (!r.u8(marker) || (marker != 8 && marker != 3)) {
        f.errors.push_back("onMetaData" + at(offset) + " holds no ECMA array or object");
        return;
    }
    uint32_t count = 0;
    if (marker == 8 && !r.be32(count)) {
        f.errors.push_back("onMetaData" + at(offset) + ": AMF0 ECMA array truncated");
        return;
    }
    std::map<std::string, AmfValue> values;
    if (!amf.properties(&values, 0)) {
        f.errors.push_back("onMetaData" + at(offset) + ": " + amf.error);
        return;
    }
    if (f.metaData.present) f.errors.push_back("second onMetaData" + at(offset));
    f.metaData.present = true;
    f.metaData.values = std::move(values);
}

void parseVideo(const uint8_t* p, size_t size, FlvTag& t, FlvFile& f)
{
    if (size == 0) {
        f.errors.push_back("empty video tag" + at(t.offset));
        return;
    }
    t.frameType = p[0] >> 4;
    t.codecId = p[0] & 0x0F;
    if (t.frameType < 1 || t.frameType > 5)
        f.errors.push_back("video frame type " + std::to_string(t.frameType) + " invalid" + at(t.offset));
    if (t.codecId < 1 || t.codecId > 7)
        f.errors.push_back("video codec id " + std::to_string(t.codecId) + " invalid" + at(t.offset));
    if (f.videoCodecId < 0) f.videoCodecId = t.codecId;
    else if (t.codecId != f.videoCodecId) f.errors.push_back("video codec changes" + at(t.offset));
    if (t.frameType == 1 || t.frameType == 4) ++f.keyFrames;
    if (t.codecId != kFlvCodecSorenson || t.frameType == 5) return;

    const std::string err = ParseSorensonPicture(p + 1, size - 1, t.picture);
    if (!err.empty()) {
        f.errors.push_back("video tag" + at(t.offset) + ": " + err);
        return;
    }
    if ((t.frameType == 1) != (t.picture.pictureType == 0))
        f.errors.push_back("video tag" + at(t.offset) + ": frame type " + std::to_string(t.frameType) +
                           " disagrees with picture type " + std::to_string(t.picture.pictureType));
    if (f.width == 0) {
        f.width = t.picture.width;
        f.height = t.picture.height;
    } else if (f.width != t.picture.width || f.height != t.picture.height) {
        f.sizeChanges = true;
    }
}

void parseAudio(const uint8_t* p, size_t size, FlvTag& t, FlvFile& f)
{
    if (size == 0) {
        f.errors.push_back("empty audio tag" + at(t.offset));
        return;
    }
    t.soundFormat = p[0] >> 4;
    t.rateIndex = (p[0] >> 2) & 3;
    t.sampleSize16 = (p[0] >> 1) & 1;
    t.stereo = p[0] & 1;
    if (t.soundFormat == 9 || t.soundFormat > 15)
        f.errors.push_back("sound format " + std::to_string(t.soundFormat) + " reserved" + at(t.offset));
    if (f.soundFormat < 0) f.soundFormat = t.soundFormat;
    else if (t.soundFormat != f.soundFormat) f.errors.push_back("sound format changes" + at(t.offset));
    if (t.soundFormat != kFlvSoundMp3) return;

    t.mp3 = WalkMp3Frames(p + 1, size - 1);
    if (!t.mp3.error.empty()) {
        f.errors.push_back("audio tag" + at(t.offset) + ": " + t.mp3.error);
        return;
    }
    if (t.mp3.frames == 0) return;
    if (f.mp3SampleRate == 0) {
        f.mp3SampleRate = t.mp3.sampleRate;
        f.mp3Channels = t.mp3.channels;
    }
    if (t.mp3.mixedFormats || t.mp3.sampleRate != f.mp3SampleRate || t.mp3.channels != f.mp3Channels)
        f.errors.push_back("MP3 rate or channels change" + at(t.offset));
    if (t.stereo != (t.mp3.channels == 2 ? 1 : 0))
        f.errors.push_back("stereo flag disagrees with the MP3 frames" + at(t.offset));
    f.mp3Samples += t.mp3.samples;
}

void summarise(FlvKindSummary& s, const FlvTag& t, FlvFile& f, const char* kind)
{
    if (s.count > 0 && t.timestampMs < s.lastMs)
        f.errors.push_back(std::string(kind) + " timestamp goes back from " + std::to_string(s.lastMs) + " to " +
                           std::to_string(t.timestampMs) + at(t.offset));
    if (s.count == 0) s.firstMs = t.timestampMs;
    s.lastMs = t.timestampMs;
    ++s.count;
}

}  // namespace

std::optional<double> FlvMetaData::number(const std::string& key) const
{
    auto it = values.find(key);
    if (it == values.end() || it->second.kind != AmfValue::Number) return std::nullopt;
    return it->second.number;
}

std::optional<bool> FlvMetaData::boolean(const std::string& key) const
{
    auto it = values.find(key);
    if (it == values.end() || it->second.kind != AmfValue::Boolean) return std::nullopt;
    return it->second.boolean;
}

std::optional<std::string> FlvMetaData::text(const std::string& key) const
{
    auto it = values.find(key);
    if (it == values.end() || it->second.kind != AmfValue::String) return std::nullopt;
    return it->second.text;
}

std::string FlvFile::errorText() const
{
    std::string out;
    for (const auto& e : errors) out += (out.empty() ? "" : "; ") + e;
    return out;
}

double FlvFile::videoDurationMs() const
{
    if (video.count < 2) return 0;
    const double span = static_cast<double>(video.lastMs - video.firstMs);
    return span + span / (video.count - 1);
}

double FlvFile::audioDurationMs() const
{
    return mp3SampleRate > 0 ? 1000.0 * static_cast<double>(mp3Samples) / mp3SampleRate : 0;
}

double FlvFile::durationMs() const { return std::max(videoDurationMs(), audioDurationMs()); }

FlvFile ParseFlv(const uint8_t* data, size_t size)
{
    FlvFile f;
    f.fileSize = size;
    ByteReader r(data, size);
    const uint8_t* sig = nullptr;
    uint32_t version = 0, flags = 0;
    if (!r.bytes(3, sig) || std::memcmp(sig, "FLV", 3) != 0) {
        f.errors.push_back("not an FLV file: signature missing");
        return f;
    }
    if (!r.u8(version) || !r.u8(flags) || !r.be32(f.headerSize)) {
        f.errors.push_back("file header truncated");
        return f;
    }
    f.version = static_cast<int>(version);
    f.audioFlag = (flags & 4) != 0;
    f.videoFlag = (flags & 1) != 0;
    if (version != 1) f.errors.push_back("FLV version " + std::to_string(version) + " unknown");
    if (flags & ~5u) f.errors.push_back("reserved header flag bits set");
    if (f.headerSize < 9 || !r.seek(f.headerSize)) {
        f.errors.push_back("header size " + std::to_string(f.headerSize) + " invalid");
        return f;
    }
    uint32_t prev = 0;
    if (!r.be32(prev)) {
        f.errors.push_back("first previous tag size missing");
        return f;
    }
    if (prev != 0) f.errors.push_back("first previous tag size is " + std::to_string(prev) + ", not 0");

    while (r.left() > 0) {
        FlvTag t;
        t.offset = r.pos();
        uint32_t head = 0, ts = 0, tsExt = 0, streamId = 0;
        if (!r.u8(head) || !r.be24(t.dataSize) || !r.be24(ts) || !r.u8(tsExt) || !r.be24(streamId)) {
            f.errors.push_back("tag header truncated" + at(t.offset));
            break;
        }
        t.type = static_cast<int>(head & 0x1F);
        t.timestampMs = ts | (tsExt << 24);
        const uint8_t* body = nullptr;
        if (!r.bytes(t.dataSize, body)) {
            f.errors.push_back("tag truncated" + at(t.offset) + ": declares " + std::to_string(t.dataSize) +
                               " bytes, " + std::to_string(r.left()) + " left");
            break;
        }
        if (head & 0xE0) f.errors.push_back("reserved or encryption bits set" + at(t.offset));
        if (streamId != 0) f.errors.push_back("stream id " + std::to_string(streamId) + " not 0" + at(t.offset));
        switch (t.type) {
        case flvVideo:
            parseVideo(body, t.dataSize, t, f);
            summarise(f.video, t, f, "video");
            break;
        case flvAudio:
            parseAudio(body, t.dataSize, t, f);
            summarise(f.audio, t, f, "audio");
            break;
        case flvScript:
            parseScript(body, t.dataSize, f, t.offset);
            summarise(f.script, t, f, "script");
            break;
        default: f.errors.push_back("unknown tag type " + std::to_string(t.type) + at(t.offset));
        }
        f.tags.push_back(t);
        if (!r.be32(prev)) {
            f.errors.push_back("previous tag size missing after the tag" + at(t.offset));
            break;
        }
        if (prev != t.dataSize + 11)
            f.errors.push_back("previous tag size " + std::to_string(prev) + " after the tag" + at(t.offset) +
                               ", expected " + std::to_string(t.dataSize + 11));
    }
    if (f.audio.count > 0 && !f.audioFlag) f.errors.push_back("audio tags without the header's audio flag");
    if (f.video.count > 0 && !f.videoFlag) f.errors.push_back("video tags without the header's video flag");
    return f;
}

FlvFile ParseFlvFile(const std::string& path)
{
    bool ok = false;
    std::vector<uint8_t> bytes = ReadWholeFile(path, ok);
    if (!ok) {
        FlvFile f;
        f.errors.push_back("cannot read " + path);
        return f;
    }
    return ParseFlv(bytes.data(), bytes.size());
}

}  // namespace quorlane::test
