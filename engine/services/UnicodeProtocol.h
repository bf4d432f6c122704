// The "unicode:utf8:" file names: wide names that do not survive the locale are handed to the
// libraries in this form and opened through the engine's own I/O over a POSIX descriptor.
//
// Every file the engine opens through the libraries goes through OpenLibraryStream (directly or
// through OpenLibraryInput / OpenLibraryOutput), so the probe, the job and the player share one
// way of opening and one way of closing.
#pragma once

#include <memory>
#include <string>

struct AVFormatContext;
struct AVInputFormat;
struct AVIOContext;
struct AVIOInterruptCB;
struct AVDictionary;

namespace quorlane {

// Marks the protocol available; runs after every bind of avformat, takes effect once per process.
void RegisterUnicodeProtocol();
bool UnicodeProtocolRegistered();
// How often registration actually took place (once per process).
int UnicodeProtocolRegistrations();

inline constexpr char UnicodePrefix[] = "unicode:utf8:";
inline constexpr size_t UnicodePrefixLength = sizeof(UnicodePrefix) - 1;  // 13
// URL schemes that are handed over as they stand, whatever characters follow them.
inline constexpr char PlainProtocols[] = ":unicode:stream:gopher:http:pipe:rtp:tcp:udp:";

// True when the wide name cannot be handed to the libraries as locale text.
bool NeedsUnicodeProtocol(const std::wstring& fileName);
// The 8-bit name for the libraries: "unicode:utf8:" + UTF-8 when the name needs the protocol,
// else the name in the locale's encoding. Names are never shortened.
std::string ToLibraryName(const std::wstring& fileName);
// The wide name back from a library name of either form.
std::wstring FromLibraryName(const std::string& libraryName);
// True for a library name in the "unicode:utf8:" form (with at least one character after it).
bool IsUnicodeLibraryName(const std::string& libraryName);

// Opens the byte stream of a library name. `flags` are AVIO_FLAG_READ, AVIO_FLAG_WRITE or
// AVIO_FLAG_READ_WRITE; writing creates or truncates the file. "unicode:utf8:" names get the
// engine's own context over a descriptor, other names the library's protocols (with the
// interrupt callback, when given). 0 or a negative library code (AVERROR(ENOENT) for a missing
// file); *pb is set only on success.
int OpenLibraryStream(AVIOContext** pb, const std::string& libraryName, int flags,
                      const AVIOInterruptCB* interrupt = nullptr, AVDictionary** options = nullptr);
// Flushes and closes a stream opened by OpenLibraryStream, whichever kind it is; *pb := nullptr.
void CloseLibraryStream(AVIOContext** pb);
// True when the stream is the engine's own descriptor context.
bool IsUnicodeStream(const AVIOContext* pb);

// Opens an input for demuxing. *ctx may hold a context the caller prepared (interrupt callback,
// forced codec ids, flags) or nullptr. Without a forced format the byte stream is probed first,
// so that data no demuxer recognises answers AVERROR_DEMUXER_NOT_FOUND while a recognised
// demuxer that rejects the header answers its own code (AVERROR_INVALIDDATA and others).
// On failure the context (also a prepared one) is freed and *ctx is nullptr, as
// avformat_open_input does. Close the result with CloseLibraryInput only.
int OpenLibraryInput(AVFormatContext** ctx, const std::string& libraryName, const AVInputFormat* forced,
                     AVDictionary** options);
// Closes the demuxer and then the byte stream the engine opened for it; *ctx := nullptr.
void CloseLibraryInput(AVFormatContext** ctx);

// Creates the output file of a muxer context (its url must be set): sets oc->pb. 0 or a negative
// library code; muxers that write no file are left alone and answer 0.
int OpenLibraryOutput(AVFormatContext* oc);
// Flushes and closes the output file of a muxer context (if open); the context stays.
void CloseLibraryOutputFile(AVFormatContext* oc);
// Closes the output file and frees the muxer context; *oc := nullptr.
void CloseLibraryOutput(AVFormatContext** oc);

struct LibraryInputCloser {
    void operator()(AVFormatContext* ctx) const { CloseLibraryInput(&ctx); }
};
struct LibraryOutputCloser {
    void operator()(AVFormatContext* oc) const { CloseLibraryOutput(&oc); }
};
using LibraryInputPtr = std::unique_ptr<AVFormatContext, LibraryInputCloser>;
using LibraryOutputPtr = std::unique_ptr<AVFormatContext, LibraryOutputCloser>;

}  // namespace quorlane
