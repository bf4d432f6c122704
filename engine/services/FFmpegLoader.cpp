#include "FFmpegLoader.h"

#include <dlfcn.h>

#include <cassert>
#include <stdexcept>

#include "EngineRuntime.h"
#include "EntryPoints.h"
#include "FFmpegLogger.h"
#include "MyUtils.h"
#include "UnicodeProtocol.h"

namespace quorlane {
namespace {

template <class Pointer>
void ResolveEntry(const std::string& fileName, void* handle, const char* entry, Pointer& target)
{
    dlerror();
    void* symbol = dlsym(handle, entry);
    if (!symbol) {
        const char* why = dlerror();
        throw std::runtime_error(
            Format("Load function %s@%s error: %s", entry, fileName.c_str(), why ? why : "symbol not found"));
    }
    target = reinterpret_cast<Pointer>(symbol);
}

#define QUORLANE_BIND_FF(name) ResolveEntry(file, handle, #name, ff::name);
#define QUORLANE_BIND_SDL(name) ResolveEntry(file, handle, #name, sdl::name);
#define QUORLANE_CLEAR_FF(name) ff::name = nullptr;
#define QUORLANE_CLEAR_SDL(name) sdl::name = nullptr;

#define QUORLANE_LIBRARY_BINDING(Id, LIST, BIND, CLEAR)                                        \
    void Bind##Id([[maybe_unused]] const std::string& file, [[maybe_unused]] void* handle) { LIST(BIND) } \
    void Clear##Id() { LIST(CLEAR) }

QUORLANE_LIBRARY_BINDING(AVCodec, AVCODEC_ENTRIES, QUORLANE_BIND_FF, QUORLANE_CLEAR_FF)
QUORLANE_LIBRARY_BINDING(AVDevice, AVDEVICE_ENTRIES, QUORLANE_BIND_FF, QUORLANE_CLEAR_FF)
QUORLANE_LIBRARY_BINDING(AVFilter, AVFILTER_ENTRIES, QUORLANE_BIND_FF, QUORLANE_CLEAR_FF)
QUORLANE_LIBRARY_BINDING(AVFormat, AVFORMAT_ENTRIES, QUORLANE_BIND_FF, QUORLANE_CLEAR_FF)
QUORLANE_LIBRARY_BINDING(AVUtil, AVUTIL_ENTRIES, QUORLANE_BIND_FF, QUORLANE_CLEAR_FF)
QUORLANE_LIBRARY_BINDING(SwScale, SWSCALE_ENTRIES, QUORLANE_BIND_FF, QUORLANE_CLEAR_FF)
QUORLANE_LIBRARY_BINDING(SwResample, SWRESAMPLE_ENTRIES, QUORLANE_BIND_FF, QUORLANE_CLEAR_FF)
QUORLANE_LIBRARY_BINDING(MyUtil, MYUTIL_ENTRIES, QUORLANE_BIND_FF, QUORLANE_CLEAR_FF)
QUORLANE_LIBRARY_BINDING(SDL, SDL_ENTRIES, QUORLANE_BIND_SDL, QUORLANE_CLEAR_SDL)

struct TLibraryItem {
    TLibrary Id;
    const wchar_t* Name;
    int Version;  // -1: the file name carries no version
    void (*Bind)(const std::string& file, void* handle);
    void (*Clear)();
};

// The Linux file name is "lib" + Name + ".so" [+ "." + Version].
constexpr TLibraryItem LibraryTable[LibraryCount] = {
    {libAVCodec, L"avcodec", 59, BindAVCodec, ClearAVCodec},
    {libAVDevice, L"avdevice", 59, BindAVDevice, ClearAVDevice},
    {libAVFilter, L"avfilter", 8, BindAVFilter, ClearAVFilter},
    {libAVFormat, L"avformat", 59, BindAVFormat, ClearAVFormat},
    {libAVUtil, L"avutil", 57, BindAVUtil, ClearAVUtil},
    {libSwScale, L"swscale", 6, BindSwScale, ClearSwScale},
    {libSwResample, L"swresample", 4, BindSwResample, ClearSwResample},
    {libMyUtil, L"myutil", -1, BindMyUtil, ClearMyUtil},
    {libSDL, L"SDL2-2.0", 0, BindSDL, ClearSDL},
};

}  // namespace

TFFmpegLoader::TFFmpegLoader() = default;
TFFmpegLoader::~TFFmpegLoader() = default;  // libraries once loaded stay loaded

std::wstring TFFmpegLoader::LibraryFileName(TLibrary lib) const
{
    if (!status_[lib].FileName.empty()) return status_[lib].FileName;
    const TLibraryItem& item = LibraryTable[lib];
    std::wstring name = L"lib" + std::wstring(item.Name) + L".so";
    if (item.Version >= 0) name += L"." + std::to_wstring(item.Version);
    return name;
}

bool TFFmpegLoader::LoadOne(TLibrary lib)
{
    Status& st = status_[lib];
    const std::wstring fileName = LibraryFileName(lib);
    if (!st.Handle) {
        std::wstring pathPart = ExtractFilePathW(fileName);
        std::wstring namePart = ExtractFileNameW(fileName);
        std::wstring folder =
            pathPart.empty() && !libraryPath_.empty() ? IncludeTrailingBackslashW(libraryPath_) : pathPart;
        std::string why;
        st.Handle = LoadLibraryInPath(folder, namePart, why);
        if (!st.Handle) {
            lastErrMsg_ = Format("Load library %s error: %s", WideToSystem(folder + namePart).c_str(), why.c_str());
            return false;
        }
    }
    if (!st.Bound) {
        try {
            LibraryTable[lib].Bind(WideToSystem(fileName), st.Handle);
            st.Bound = true;
        } catch (const std::exception& e) {
            lastErrMsg_ = e.what();
            LibraryTable[lib].Clear();  // entries resolved before the missing one are not kept
        }
    }
    if (!st.Bound) {
        UnloadOne(lib);
        return false;
    }
    if (lib == libAVUtil && hookLog_) InstallLibraryLogCallback();
    if (lib == libAVFormat) RegisterUnicodeProtocol();
    return true;
}

bool TFFmpegLoader::IsLoaded(TLibrary lib) const { return status_[lib].Handle && status_[lib].Bound; }

void TFFmpegLoader::UnloadOne(TLibrary lib)
{
    Status& st = status_[lib];
    if (st.Bound) {
        LibraryTable[lib].Clear();
        st.Bound = false;
    }
    if (st.Handle) {
        dlclose(st.Handle);
        st.Handle = nullptr;
    }
}

bool TFFmpegLoader::Load(TLibraries libs)
{
    assert(!libs.empty() && "empty library set");
    for (int i = 0; i < LibraryCount; ++i) {
        auto lib = static_cast<TLibrary>(i);
        if (libs.contains(lib) && !LoadOne(lib)) {
            Unload(libs);
            return false;
        }
    }
    return true;
}

bool TFFmpegLoader::Loaded(TLibraries libs) const
{
    assert(!libs.empty() && "empty library set");
    for (int i = 0; i < LibraryCount; ++i) {
        auto lib = static_cast<TLibrary>(i);
        if (libs.contains(lib) && !IsLoaded(lib)) return false;
    }
    return true;
}

void TFFmpegLoader::Unload(TLibraries libs)
{
    assert(!libs.empty() && "empty library set");
    for (int i = 0; i < LibraryCount; ++i) {
        auto lib = static_cast<TLibrary>(i);
        if (libs.contains(lib)) UnloadOne(lib);
    }
}

}  // namespace quorlane
