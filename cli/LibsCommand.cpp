// quorlane-cli libs [--dir DIR] [-v]: load both library sets and report.
#include <cstdio>

#include "CliCommands.h"
#include "EntryPoints.h"
#include "FFmpegLoader.h"
#include "MyUtils.h"

namespace quorlane::cli {
namespace {

void PrintVersion(const char* name, unsigned v)
{
    std::printf("%s %u.%u.%u\n", name, v >> 16, (v >> 8) & 0xFF, v & 0xFF);
}

}  // namespace

int RunLibs(const std::vector<std::string>& args)
{
    std::wstring folder = ApplicationFolder() + L"Dll/";
    bool verbose = false;
    for (size_t i = 0; i < args.size(); ++i) {
        if (args[i] == "--dir" && i + 1 < args.size()) {
            folder = SystemToWide(args[++i]);
        } else if (args[i] == "-v" || args[i] == "--verbose") {
            verbose = true;
        } else {
            std::fprintf(stderr, "quorlane-cli libs: unexpected argument '%s'\n", args[i].c_str());
            return 2;
        }
    }
    TFFmpegLoader& loader = FFLoader();
    loader.SetLibraryPath(folder);
    if (!loader.Load(ConverterLibraries) || !loader.Load(PlayerLibraries)) {
        std::printf("%s\n", loader.LastErrMsg().c_str());
        return 1;
    }
    std::printf("ok\n");
    if (verbose) {
        PrintVersion("avcodec", ff::avcodec_version());
        PrintVersion("avformat", ff::avformat_version());
        PrintVersion("avutil", ff::avutil_version());
        PrintVersion("avfilter", ff::avfilter_version());
        PrintVersion("swscale", ff::swscale_version());
        PrintVersion("swresample", ff::swresample_version());
        SDL_version sv{};
        sdl::SDL_GetVersion(&sv);
        std::printf("SDL %u.%u.%u\n", sv.major, sv.minor, sv.patch);
    }
    return 0;
}

}  // namespace quorlane::cli
