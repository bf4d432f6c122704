// Option presets: "apre", "vpre", "spre" with the 16 built-in x264 rows, codec-
// qualified names and preset files.
#include <strings.h>

#include <fstream>
#include <sstream>

#include "FFmpeg.h"
#include "MyUtils.h"

namespace quorlane {
namespace {

struct TOptionsPreset {
    const char* Name;
    const char* Options;
};

// The rows with FFmpeg 5.1's names for the same roles (x264's former generic options
// are libx264-private now): "flags2=±wpred±dct8x8±mixed_refs±fastpskip±bpyramid" became one line
// per flag ("weightb", "8x8dct", "mixed-refs", "fast-pskip" as 0/1, "b-pyramid" none/normal);
// "partitions=±parti8x8..." became x264's list ("i8x8,i4x4,p8x8,p4x4,b8x8" or "none");
// "directpred" became "direct-pred" (same numbers); "cqp" became "qp".
const TOptionsPreset BuiltinPresets[] = {
    {"libx264-baseline",
     "coder=0\n"
     "bf=0\n"
     "weightb=0\n"
     "8x8dct=0"},
    {"libx264-default",
     "coder=1\n"
     "flags=+loop\n"
     "cmp=+chroma\n"
     "partitions=i8x8,i4x4,p8x8,b8x8\n"
     "me_method=hex\n"
     "subq=7\n"
     "me_range=16\n"
     "g=250\n"
     "keyint_min=25\n"
     "sc_threshold=40\n"
     "i_qfactor=0.71\n"
     "b_strategy=1\n"
     "qcomp=0.6\n"
     "qmin=10\n"
     "qmax=51\n"
     "qdiff=4\n"
     "bf=3\n"
     "refs=3\n"
     "direct-pred=1\n"
     "trellis=1\n"
     "mixed-refs=1\n"
     "weightb=1\n"
     "8x8dct=1\n"
     "fast-pskip=1"},
    {"libx264-fastfirstpass",
     "coder=1\n"
     "flags=+loop\n"
     "cmp=+chroma\n"
     "partitions=none\n"
     "me_method=dia\n"
     "subq=1\n"
     "me_range=16\n"
     "g=250\n"
     "keyint_min=25\n"
     "sc_threshold=40\n"
     "i_qfactor=0.71\n"
     "b_strategy=1\n"
     "qcomp=0.6\n"
     "qmin=10\n"
     "qmax=51\n"
     "qdiff=4\n"
     "bf=3\n"
     "refs=1\n"
     "direct-pred=3\n"
     "trellis=0\n"
     "b-pyramid=none\n"
     "weightb=0\n"
     "mixed-refs=0\n"
     "8x8dct=0\n"
     "fast-pskip=1"},
    {"libx264-hq",
     "coder=1\n"
     "flags=+loop\n"
     "cmp=+chroma\n"
     "partitions=i8x8,i4x4,p8x8,b8x8\n"
     "me_method=umh\n"
     "subq=8\n"
     "me_range=16\n"
     "g=250\n"
     "keyint_min=25\n"
     "sc_threshold=40\n"
     "i_qfactor=0.71\n"
     "b_strategy=2\n"
     "qcomp=0.6\n"
     "qmin=10\n"
     "qmax=51\n"
     "qdiff=4\n"
     "bf=3\n"
     "refs=4\n"
     "direct-pred=3\n"
     "trellis=1\n"
     "weightb=1\n"
     "mixed-refs=1\n"
     "8x8dct=1\n"
     "fast-pskip=1"},
    {"libx264-ipod320",
     "coder=0\n"
     "bf=0\n"
     "weightb=0\n"
     "8x8dct=0\n"
     "level=13\n"
     "maxrate=768000\n"
     "bufsize=3000000"},
    {"libx264-ipod640",
     "coder=0\n"
     "bf=0\n"
     "refs=1\n"
     "weightb=0\n"
     "8x8dct=0\n"
     "level=30\n"
     "maxrate=10000000\n"
     "bufsize=10000000"},
    {"libx264-lossless_fast",
     "coder=0\n"
     "flags=+loop\n"
     "cmp=+chroma\n"
     "partitions=i4x4,p8x8\n"
     "me_method=hex\n"
     "subq=3\n"
     "me_range=16\n"
     "g=250\n"
     "keyint_min=25\n"
     "sc_threshold=40\n"
     "i_qfactor=0.71\n"
     "b_strategy=1\n"
     "qcomp=0.6\n"
     "qmin=10\n"
     "qmax=51\n"
     "qdiff=4\n"
     "direct-pred=1\n"
     "fast-pskip=1\n"
     "qp=0"},
    {"libx264-lossless_max",
     "coder=1\n"
     "flags=+loop\n"
     "cmp=+chroma\n"
     "partitions=i8x8,i4x4,p8x8,p4x4\n"
     "me_method=esa\n"
     "subq=8\n"
     "me_range=16\n"
     "g=250\n"
     "keyint_min=25\n"
     "sc_threshold=40\n"
     "i_qfactor=0.71\n"
     "b_strategy=1\n"
     "qcomp=0.6\n"
     "qmin=10\n"
     "qmax=51\n"
     "qdiff=4\n"
     "refs=16\n"
     "direct-pred=1\n"
     "mixed-refs=1\n"
     "8x8dct=1\n"
     "fast-pskip=1\n"
     "qp=0"},
    {"libx264-lossless_medium",
     "coder=1\n"
     "flags=+loop\n"
     "cmp=+chroma\n"
     "partitions=i4x4,p8x8,p4x4\n"
     "me_method=hex\n"
     "subq=5\n"
     "me_range=16\n"
     "g=250\n"
     "keyint_min=25\n"
     "sc_threshold=40\n"
     "i_qfactor=0.71\n"
     "b_strategy=1\n"
     "qcomp=0.6\n"
     "qmin=10\n"
     "qmax=51\n"
     "qdiff=4\n"
     "direct-pred=1\n"
     "fast-pskip=1\n"
     "qp=0"},
    {"libx264-lossless_slow",
     "coder=1\n"
     "flags=+loop\n"
     "cmp=+chroma\n"
     "partitions=i8x8,i4x4,p8x8,p4x4\n"
     "me_method=umh\n"
     "subq=6\n"
     "me_range=16\n"
     "g=250\n"
     "keyint_min=25\n"
     "sc_threshold=40\n"
     "i_qfactor=0.71\n"
     "b_strategy=1\n"
     "qcomp=0.6\n"
     "qmin=10\n"
     "qmax=51\n"
     "qdiff=4\n"
     "refs=2\n"
     "direct-pred=1\n"
     "8x8dct=1\n"
     "fast-pskip=1\n"
     "qp=0"},
    {"libx264-lossless_slower",
     "coder=1\n"
     "flags=+loop\n"
     "cmp=+chroma\n"
     "partitions=i8x8,i4x4,p8x8,p4x4\n"
     "me_method=umh\n"
     "subq=8\n"
     "me_range=16\n"
     "g=250\n"
     "keyint_min=25\n"
     "sc_threshold=40\n"
     "i_qfactor=0.71\n"
     "b_strategy=1\n"
     "qcomp=0.6\n"
     "qmin=10\n"
     "qmax=51\n"
     "qdiff=4\n"
     "refs=4\n"
     "direct-pred=1\n"
     "mixed-refs=1\n"
     "8x8dct=1\n"
     "fast-pskip=1\n"
     "qp=0"},
    {"libx264-lossless_ultrafast",
     "coder=0\n"
     "flags=+loop\n"
     "cmp=+chroma\n"
     "partitions=none\n"
     "me_method=dia\n"
     "subq=0\n"
     "me_range=16\n"
     "g=250\n"
     "keyint_min=25\n"
     "sc_threshold=40\n"
     "i_qfactor=0.71\n"
     "b_strategy=1\n"
     "qcomp=0.6\n"
     "qmin=10\n"
     "qmax=51\n"
     "qdiff=4\n"
     "direct-pred=1\n"
     "fast-pskip=1\n"
     "qp=0"},
    {"libx264-main",
     "8x8dct=0"},
    {"libx264-max",
     "coder=1\n"
     "flags=+loop\n"
     "cmp=+chroma\n"
     "partitions=i8x8,i4x4,p8x8,p4x4,b8x8\n"
     "me_method=tesa\n"
     "subq=10\n"
     "me_range=24\n"
     "g=250\n"
     "keyint_min=25\n"
     "sc_threshold=40\n"
     "i_qfactor=0.71\n"
     "b_strategy=2\n"
     "qcomp=0.6\n"
     "qmin=10\n"
     "qmax=51\n"
     "qdiff=4\n"
     "bf=3\n"
     "refs=16\n"
     "direct-pred=3\n"
     "trellis=2\n"
     "weightb=1\n"
     "mixed-refs=1\n"
     "8x8dct=1\n"
     "fast-pskip=0"},
    {"libx264-normal",
     "coder=1\n"
     "flags=+loop\n"
     "cmp=+chroma\n"
     "partitions=i8x8,i4x4,p8x8,b8x8\n"
     "me_method=hex\n"
     "subq=6\n"
     "me_range=16\n"
     "g=250\n"
     "keyint_min=25\n"
     "sc_threshold=40\n"
     "i_qfactor=0.71\n"
     "b_strategy=1\n"
     "qcomp=0.6\n"
     "qmin=10\n"
     "qmax=51\n"
     "qdiff=4\n"
     "bf=3\n"
     "refs=2\n"
     "direct-pred=3\n"
     "trellis=0\n"
     "weightb=1\n"
     "8x8dct=1\n"
     "fast-pskip=1"},
    {"libx264-slowfirstpass",
     "coder=1\n"
     "flags=+loop\n"
     "cmp=+chroma\n"
     "partitions=i8x8,i4x4,p8x8,b8x8\n"
     "me_method=hex\n"
     "subq=6\n"
     "me_range=16\n"
     "g=250\n"
     "keyint_min=25\n"
     "sc_threshold=40\n"
     "i_qfactor=0.71\n"
     "b_strategy=2\n"
     "qcomp=0.6\n"
     "qmin=10\n"
     "qmax=51\n"
     "qdiff=4\n"
     "bf=3\n"
     "refs=1\n"
     "direct-pred=3\n"
     "trellis=0\n"
     "weightb=1\n"
     "8x8dct=1\n"
     "fast-pskip=1"},
};

std::string TrimBlanks(const std::string& s)
{
    size_t b = 0, e = s.size();
    while (b < e && (s[b] == ' ' || s[b] == '\t')) ++b;
    while (e > b && (s[e - 1] == ' ' || s[e - 1] == '\t')) --e;
    return s.substr(b, e - b);
}

const char* FindBuiltin(const std::string& name)
{
    for (const TOptionsPreset& p : BuiltinPresets)
        if (strcasecmp(p.Name, name.c_str()) == 0) return p.Options;
    return nullptr;
}

}  // namespace

void TCustomFFmpeg::ApplyOptionPreset(const std::string& opt, const std::string& arg)
{
    if (opt.empty() || arg.empty()) return;
    std::string usedName = arg;
    std::string text;
    bool found = false;
    if (const char* builtin = FindBuiltin(arg)) {
        text = builtin;
        found = true;
    } else {
        if (opt[0] == 'v' && video_codec) usedName = *video_codec + "-" + arg;
        else if (opt[0] == 'a' && audio_codec) usedName = *audio_codec + "-" + arg;
        else if (subtitle_codec) usedName = *subtitle_codec + "-" + arg;
        if (const char* qualified = FindBuiltin(usedName)) {
            text = qualified;
            found = true;
        }
    }
    if (!found && WideFileExists(SystemToWide(arg))) {
        std::ifstream file(arg, std::ios::binary);
        if (!file) throw FFmpegException(Format("Cannot open file %s", arg.c_str()));
        std::ostringstream content;
        content << file.rdbuf();
        if (file.bad()) throw FFmpegException(Format("Cannot read file %s", arg.c_str()));
        text = content.str();
        usedName = arg;
        found = !text.empty();
    }
    if (!found) throw FFmpegException(Format("Preset \"%s\" not found", usedName.c_str()));

    // Lines at LF, CR LF or CR; blanks around each line ignored; empty lines skipped.
    std::string line;
    auto applyLine = [&](const std::string& raw) {
        const std::string l = TrimBlanks(raw);
        if (l.empty()) return;
        const size_t eq = l.find('=');
        const std::string key = eq == std::string::npos ? std::string() : l.substr(0, eq);
        const std::string value = eq == std::string::npos ? std::string() : l.substr(eq + 1);
        if (key.empty() || value.empty())
            throw FFmpegException(Format("%s: Invalid syntax: \"%s\"", usedName.c_str(), l.c_str()));
        if (strcasecmp(key.c_str(), "acodec") == 0) ParseCodec(value, audio_codec, audio_copy);
        else if (strcasecmp(key.c_str(), "vcodec") == 0) ParseCodec(value, video_codec, video_copy);
        else if (strcasecmp(key.c_str(), "scodec") == 0) ParseCodec(value, subtitle_codec, subtitle_copy);
        else if (!SetDefaultOption(key, value))
            throw FFmpegException(Format("%s: Invalid option or argument: \"%s\", parsed as \"%s\" = \"%s\"",
                                         usedName.c_str(), l.c_str(), key.c_str(), value.c_str()));
    };
    for (size_t i = 0; i < text.size(); ++i) {
        const char ch = text[i];
        if (ch == '\r' || ch == '\n') {
            applyLine(line);
            line.clear();
            if (ch == '\r' && i + 1 < text.size() && text[i + 1] == '\n') ++i;
        } else {
            line += ch;
        }
    }
    applyLine(line);
}

}  // namespace quorlane
