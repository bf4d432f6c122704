// The media probe: opens a file (or describes a context somebody else opened) and answers its
// container times, tags, stream counts, one video stream's properties and the file's size.
#pragma once

#include <cstdint>
#include <string>

struct AVFormatContext;

namespace quorlane {

struct TFileStreamInfo {
    int64_t StartTime = -1;  // µs, -1 when the container has none
    int64_t Duration = -1;   // µs, -1 when unknown
    int32_t BitRate = -1;    // bits per second
    int64_t Timestamp = -1;  // µs since 1970 (the container's creation time), 0 when it has none
    int32_t Year = -1;
    int32_t Track = -1;
    std::string Title;
    std::string Author;
    std::string Copyright;
    std::string Comment;
    std::string Album;
    std::string Genre;
};

struct TVideoStreamInfo {
    std::string Language;
    std::string CodecDesc;
    int64_t StartTime = -1;    // stream time base; the library's unknown marker stays as it is
    int64_t StartTimeUs = -1;  // -1 when StartTime is unknown
    int64_t Duration = -1;     // stream time base
    int64_t DurationUs = -1;
    int32_t BitRate = -1;
    int32_t Height = -1;
    int32_t Width = -1;
    float AspectRatio = -1.0f;  // display aspect: sample aspect × Width ÷ Height
    int32_t PixelFormat = -1;
    int32_t FrameRateNum = -1;
    int32_t FrameRateDen = -1;
};

class TCustomAVProbe {
public:
    TCustomAVProbe();
    TCustomAVProbe(const TCustomAVProbe&) = delete;
    TCustomAVProbe& operator=(const TCustomAVProbe&) = delete;
    virtual ~TCustomAVProbe();

    // Describes a context that somebody else opened and will close (nullptr forgets it).
    // Throws std::runtime_error "LibAV... not loaded." when a needed library is missing.
    virtual void AttachContext(AVFormatContext* context);
    // Closes the file the probe opened, or forgets an attached context.
    virtual void CloseFile();

    // Opens and probes a file; false with LastErrMsg on failure (nothing stays open). A non-empty
    // FormatName forces that demuxer. Throws like AttachContext when a library is missing.
    bool LoadFile(const std::wstring& FileName, const std::string& FormatName = std::string());

    TFileStreamInfo GetFileStreamInfo();
    // A negative index means the first video stream.
    TVideoStreamInfo GetVideoStreamInfo(int StreamIndex = -1);
    // Bytes; -1 when no file is open.
    int64_t GetFileSize();

    AVFormatContext* FormatContext() const { return formatContext_; }
    bool OwnsContext() const { return ownsContext_; }
    const std::string& LastErrMsg() const { return lastErrMsg_; }
    const std::string& FormatName() const { return formatName_; }
    int StreamCount() const { return streamCount_; }
    int ProgramCount() const { return programCount_; }
    int AudioStreamCount() const { return audioStreamCount_; }
    int VideoStreamCount() const { return videoStreamCount_; }
    int SubtitleStreamCount() const { return subtitleStreamCount_; }
    int FirstAudioStream() const { return firstAudioStream_; }
    int FirstVideoStream() const { return firstVideoStream_; }
    int FirstSubtitleStream() const { return firstSubtitleStream_; }

protected:
    void CloseBaseFile();

private:
    void CheckLibraries() const;
    void Recount();
    void Fail(int libraryLevel, const std::string& text);

    AVFormatContext* formatContext_ = nullptr;
    bool ownsContext_ = false;
    std::string lastErrMsg_;
    std::string formatName_;
    int streamCount_ = -1;
    int programCount_ = -1;
    int audioStreamCount_ = -1;
    int videoStreamCount_ = -1;
    int subtitleStreamCount_ = -1;
    int firstAudioStream_ = -1;
    int firstVideoStream_ = -1;
    int firstSubtitleStream_ = -1;
};

// The class components create.
class TAVProbe : public TCustomAVProbe {
public:
    TAVProbe() = default;
    ~TAVProbe() override;
    void CloseFile() override;
};

}  // namespace quorlane
