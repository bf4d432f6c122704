// Run-time loading and binding of the media libraries, SDL and the helper C-runtime library.
#pragma once

#include <cstdint>
#include <initializer_list>
#include <mutex>
#include <string>

namespace quorlane {

// Ordinal order is load order; each value is also the library's bit in a TLibraries set.
enum TLibrary : int {
    libAVCodec,
    libAVDevice,
    libAVFilter,
    libAVFormat,
    libAVUtil,
    libSwScale,
    libSwResample,
    libMyUtil,
    libSDL,
};
inline constexpr int LibraryCount = libSDL + 1;

class TLibraries {
public:
    constexpr TLibraries() = default;
    constexpr TLibraries(std::initializer_list<TLibrary> libs)
    {
        for (TLibrary l : libs) bits_ |= bit(l);
    }
    constexpr bool contains(TLibrary l) const { return (bits_ & bit(l)) != 0; }
    constexpr bool empty() const { return bits_ == 0; }
    constexpr uint16_t bits() const { return bits_; }
    constexpr bool operator==(const TLibraries&) const = default;

private:
    static constexpr uint16_t bit(TLibrary l) { return static_cast<uint16_t>(1u << l); }
    uint16_t bits_ = 0;
};

inline constexpr TLibraries ConverterLibraries{libAVCodec, libAVFilter, libAVFormat, libAVUtil,
                                               libSwScale, libSwResample, libMyUtil};
inline constexpr TLibraries PlayerLibraries{libAVCodec, libAVFormat, libAVUtil, libSwScale,
                                            libSwResample, libMyUtil, libSDL};

class TFFmpegLoader {
public:
    TFFmpegLoader();
    TFFmpegLoader(const TFFmpegLoader&) = delete;
    TFFmpegLoader& operator=(const TFFmpegLoader&) = delete;
    ~TFFmpegLoader();

    // Loads and binds every library of the set; on failure the whole set is unloaded again and
    // LastErrMsg says why. An empty set is a programming error.
    bool Load(TLibraries libs);
    bool Loaded(TLibraries libs) const;
    void Unload(TLibraries libs);

    bool LoadOne(TLibrary lib);
    bool IsLoaded(TLibrary lib) const;
    void UnloadOne(TLibrary lib);

    std::wstring LibraryFileName(TLibrary lib) const;

    const std::wstring& LibraryPath() const { return libraryPath_; }
    void SetLibraryPath(const std::wstring& path) { libraryPath_ = path; }
    const std::string& LastErrMsg() const { return lastErrMsg_; }
    bool HookLog() const { return hookLog_; }
    void SetHookLog(bool hook) { hookLog_ = hook; }

private:
    struct Status {
        std::wstring FileName;  // overrides the built name when set; nothing sets it
        void* Handle = nullptr;
        bool Bound = false;
    };

    Status status_[LibraryCount];
    std::wstring libraryPath_;
    std::string lastErrMsg_;
    bool hookLog_ = true;
};

// The process-wide loader; exists between start-up and shutdown of the engine services.
TFFmpegLoader& FFLoader();

// Held around every codec open and close and around stream probing, by every thread.
std::mutex& CodecLock();

}  // namespace quorlane
