// quorlane-cli: the engine without windows, for scripts, servers and tests.
#include <clocale>
#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

#include "CliCommands.h"
#include "EngineRuntime.h"

namespace {

constexpr const char* Usage =
    "Usage: quorlane-cli COMMAND [ARGS...]\n"
    "\n"
    "Commands:\n"
    "  libs [--dir DIR] [-v]   load the converter and player libraries (default folder: the\n"
    "                          program's Dll/) and print \"ok\" or why loading failed\n"
    "  convert [--jobs N] [--out DIR] [--ext flv|swf] [--set Field=Value]... [--input\n"
    "          Field=Value]... [--extra name=value]... [--snapshots DIR ...] FILES...\n"
    "                          convert every file through the engine component, N at once;\n"
    "                          --snapshots saves pictures of the encoded video (convert --help)\n"
    "  job [--dump] ARGS...    one conversion job with the classic option syntax (-name value,\n"
    "                          -i FILE, output files); --dump prints the job's option fields\n"
    "  probe FILE...           the probe's file and first video stream records as Field: value\n"
    "                          lines, with the stream counts; exit 1 when a file fails\n"
    "  --help                  this text\n"
    "  --version               the program's version\n"
    "\n"
    "Exit status: 0 done, 1 a file or library failed, 2 usage or option error, 130 interrupted.\n";

}  // namespace

int main(int argc, char** argv)
{
    std::setlocale(LC_ALL, "");
    std::setlocale(LC_NUMERIC, "C");  // the libraries read and write numbers in the C form
    quorlane::EngineRuntime runtime;
    std::vector<std::string> args(argv + 1, argv + argc);
    if (args.empty()) {
        std::fputs(Usage, stderr);
        return 2;
    }
    const std::string command = args.front();
    args.erase(args.begin());
    if (command == "--help" || command == "-h" || command == "help") {
        std::fputs(Usage, stdout);
        return 0;
    }
    if (command == "--version") {
        std::printf("quorlane-cli %s\n", quorlane::cli::Version);
        return 0;
    }
    if (command == "libs") return quorlane::cli::RunLibs(args);
    if (command == "convert") return quorlane::cli::RunConvert(args);
    if (command == "job") return quorlane::cli::RunJob(args);
    if (command == "probe") return quorlane::cli::RunProbe(args);
    std::fprintf(stderr, "quorlane-cli: unknown command '%s'\n\n%s", command.c_str(), Usage);
    return 2;
}
