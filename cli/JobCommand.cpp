// quorlane-cli job [--dump] ARGS...: one conversion job with the classic option syntax.
//   -name value   an option ("-name" alone for switches, flags and value-less options)
//   -i FILE       opens an input
//   any other word is an output file
// --dump prints the job's option fields as `field = value` lines instead of running.
#include <cstdio>
#include <string>
#include <vector>

#include "CliCommands.h"
#include "FFmpeg.h"
#include "FFmpegLoader.h"
#include "FFmpegLogger.h"
#include "MyUtils.h"

namespace quorlane::cli {

int RunJob(const std::vector<std::string>& args)
{
    bool dump = false;
    size_t first = 0;
    if (!args.empty() && args[0] == "--dump") {
        dump = true;
        first = 1;
    }
    TFFmpegLoader& loader = FFLoader();
    if (loader.LibraryPath().empty()) loader.SetLibraryPath(ApplicationFolder() + L"Dll/");
    if (!loader.Load(ConverterLibraries)) {
        std::fprintf(stderr, "%s\n", loader.LastErrMsg().c_str());
        return 1;
    }
    // Engine log lines (warnings, "Do nothing: option - ...", lists) go to stderr.
    FFLogger().SetOnLog([](const void*, uint32_t, TLogLevel, const std::string& line) {
        std::fprintf(stderr, "%s\n", line.c_str());
    });

    TCustomFFmpeg job;
    job.Reset();
    try {
        for (size_t i = first; i < args.size(); ++i) {
            const std::string& word = args[i];
            if (word.size() > 1 && word[0] == '-') {
                const std::string name = word.substr(1);
                if (name == "i") {
                    if (i + 1 >= args.size()) throw FFmpegException("-i needs a file name");
                    job.OpenInputFile(args[++i]);
                    continue;
                }
                std::string value;
                if (TCustomFFmpeg::OptionTakesValue(name)) {
                    if (i + 1 >= args.size()) throw FFmpegException(Format("Option -%s needs a value", name.c_str()));
                    value = args[++i];
                }
                job.ApplyOption(name, value);
            } else {
                job.OpenOutputFile(word);
            }
        }
    } catch (const FFmpegException& e) {
        std::fprintf(stderr, "%s\n", e.what());
        return 2;
    }
    if (dump) {
        std::fputs(DumpOptionFields(job).c_str(), stdout);
        return 0;
    }
    return RunPreparedJob(job);
}

}  // namespace quorlane::cli
