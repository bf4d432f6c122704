// quorlane-cli convert: one task per input file through the engine component, several at once.
#include <signal.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstdio>
#include <deque>
#include <filesystem>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "BitmapFile.h"
#include "CliCommands.h"
#include "MainThread.h"
#include "MyUtils.h"
#include "TaskOptions.h"
#include "Transkit.h"

namespace quorlane::cli {
namespace {

namespace fs = std::filesystem;

constexpr const char* ConvertUsage =
    "Usage: quorlane-cli convert [--jobs N] [--out DIR] [--ext flv|swf] [--set Field=Value]...\n"
    "                            [--input Field=Value]... [--extra name=value]...\n"
    "                            [--snapshots DIR [--snapshot-every MS] [--snapshot-format png|bmp]]\n"
    "                            FILES...\n"
    "  --snapshots DIR  saves a picture of the encoded video every MS milliseconds (default 1000)\n"
    "                   as DIR/<input name>-000001.png, -000002.png, ...\n";

std::atomic<bool> interrupted{false};

void OnConvertInterrupt(int) { interrupted = true; }

struct FileJob {
    std::string input;
    std::string snapshotBase;  // DIR/<name>- ; empty without --snapshots
    int snapshots = 0;         // pictures saved
    int snapshotNumber = 0;    // last number used in a name
    std::string output;   // empty until a name was chosen
    bool createdOutput = false;
    int task = -1;
    bool ended = false;
    bool finished = false;
    std::string message;
    // Progress, written by the progress handler.
    int percent = -1;
    int fps = 0;
    int etaSeconds = -1;
    std::chrono::steady_clock::time_point started{};
};

// The first free name: DIR/base.ext, then DIR/base_1.ext, DIR/base_2.ext ...
std::string FreeOutputName(const fs::path& dir, const std::string& input, const std::string& ext)
{
    const std::string base = fs::path(input).stem().string();
    fs::path candidate = dir / (base + "." + ext);
    for (int k = 1; fs::exists(candidate) || fs::is_symlink(candidate); ++k)
        candidate = dir / Format("%s_%d.%s", base.c_str(), k, ext.c_str());
    return candidate.string();
}

bool SplitAssignment(const std::string& text, std::string& name, std::string& value)
{
    const size_t eq = text.find('=');
    if (eq == std::string::npos || eq == 0) return false;
    name = text.substr(0, eq);
    value = text.substr(eq + 1);
    return true;
}

std::string Bar(int percent)
{
    constexpr int Width = 30;
    const int filled = percent < 0 ? 0 : percent * Width / 100;
    return "[" + std::string(filled, '#') + std::string(Width - filled, '.') + "]";
}

class ProgressView {
public:
    explicit ProgressView(bool terminal) : terminal_(terminal) {}

    // Queued from any thread, printed by the main thread.
    void Line(std::string text)
    {
        std::lock_guard guard(lock_);
        lines_.push_back(std::move(text));
    }

    void Flush(const std::vector<FileJob>& files, std::mutex& filesLock, bool force = false)
    {
        std::deque<std::string> lines;
        {
            std::lock_guard guard(lock_);
            lines.swap(lines_);
        }
        if (!terminal_) {
            for (const std::string& l : lines) std::printf("%s\n", l.c_str());
            std::fflush(stdout);
            return;
        }
        const auto now = std::chrono::steady_clock::now();
        if (!force && lines.empty() && now - last_ < std::chrono::milliseconds(200)) return;
        last_ = now;
        // Rewrite the bars drawn last time, with event lines above them.
        if (drawn_ > 0) std::printf("\033[%dA", drawn_);
        for (const std::string& l : lines) std::printf("\033[2K%s\n", l.c_str());
        drawn_ = 0;
        std::lock_guard guard(filesLock);
        for (const FileJob& f : files) {
            if (f.task < 0 || f.ended || f.percent < 0) continue;
            const std::string eta = f.etaSeconds < 0 ? "--:--" : Format("%02d:%02d", f.etaSeconds / 60, f.etaSeconds % 60);
            std::printf("\033[2K%s %3d%% %4d fps ETA %s  %s\n", Bar(f.percent).c_str(), f.percent, f.fps,
                        eta.c_str(), fs::path(f.input).filename().string().c_str());
            ++drawn_;
        }
        std::fflush(stdout);
    }

private:
    const bool terminal_;
    std::mutex lock_;  // guards lines_
    std::deque<std::string> lines_;
    int drawn_ = 0;
    std::chrono::steady_clock::time_point last_{};
};

// Snapshot names: one base per input, told apart when two inputs share a name.
std::string SnapshotBase(const fs::path& dir, const std::string& input, std::vector<std::string>& taken)
{
    const std::string stem = fs::path(input).stem().string();
    std::string base = stem;
    for (int k = 1; std::find(taken.begin(), taken.end(), base) != taken.end(); ++k) base = Format("%s_%d", stem.c_str(), k);
    taken.push_back(base);
    return (dir / (base + "-")).string();
}

// The next free numbered name of a file's snapshots: existing files are never written over.
std::string NextSnapshotName(FileJob& f, const std::string& ext)
{
    std::string name;
    do name = Format("%s%06d.%s", f.snapshotBase.c_str(), ++f.snapshotNumber, ext.c_str());
    while (fs::exists(name) || fs::is_symlink(name));
    return name;
}

}  // namespace

int RunConvert(const std::vector<std::string>& args)
{
    int jobs = static_cast<int>(std::max(1u, std::thread::hardware_concurrency()));
    std::string outDir = ".";
    std::string ext = "flv";
    TInputOptions inputOptions;
    TOutputOptions outputOptions;
    bool formatSet = false;
    std::string snapshotDir;
    int snapshotEveryMs = 1000;
    std::string snapshotExt = "png";
    std::vector<std::string> inputs;
    auto usage = [](const std::string& why) {
        std::fprintf(stderr, "quorlane-cli convert: %s\n%s", why.c_str(), ConvertUsage);
        return 2;
    };
    for (size_t i = 0; i < args.size(); ++i) {
        const std::string& a = args[i];
        const bool hasValue = i + 1 < args.size();
        std::string name, value, error;
        // A whole number of at least 1 after `a`; false with the reason in `error`.
        auto count = [&](int& target) {
            try {
                target = StrToInt(args[++i]);
            } catch (const EConvertError& e) {
                error = e.what();
                return false;
            }
            if (target < 1) error = a + " must be at least 1";
            return target >= 1;
        };
        if (a == "--jobs" && hasValue) {
            if (!count(jobs)) return usage(error);
        } else if (a == "--snapshots" && hasValue) {
            snapshotDir = args[++i];
        } else if (a == "--snapshot-every" && hasValue) {
            if (!count(snapshotEveryMs)) return usage(error);
        } else if (a == "--snapshot-format" && hasValue) {
            snapshotExt = args[++i];
            if (snapshotExt != "png" && snapshotExt != "bmp") return usage("--snapshot-format must be png or bmp");
        } else if (a == "--out" && hasValue) {
            outDir = args[++i];
        } else if (a == "--ext" && hasValue) {
            ext = args[++i];
            if (ext != "flv" && ext != "swf") return usage("--ext must be flv or swf");
        } else if ((a == "--set" || a == "--input") && hasValue) {
            if (!SplitAssignment(args[++i], name, value)) return usage("expected Field=Value after " + a);
            const bool ok = a == "--set" ? SetOutputOptionField(outputOptions, name, value, error)
                                         : SetInputOptionField(inputOptions, name, value, error);
            if (!ok) return usage(error);
            if (a == "--set" && name == "Format") formatSet = true;
        } else if (a == "--extra" && hasValue) {
            if (!SplitAssignment(args[++i], name, value)) return usage("expected name=value after --extra");
            if (!outputOptions.ExtraOptions.empty()) outputOptions.ExtraOptions += "\n";
            outputOptions.ExtraOptions += name + "=" + value;
        } else if (a == "--help" || a == "-h") {
            std::fputs(ConvertUsage, stdout);
            return 0;
        } else if (a.rfind("--", 0) == 0) {
            return usage("unexpected argument '" + a + "'");
        } else {
            inputs.push_back(a);
        }
    }
    if (inputs.empty()) return usage("no input files");
    if (!formatSet) outputOptions.Format = ext;

    TTranskit kit;
    if (!kit.LoadLibraries(ApplicationFolder() + L"Dll/")) {
        std::fprintf(stderr, "%s\n", kit.LastErrorMessage().c_str());
        return 1;
    }
    std::error_code ec;
    fs::create_directory(outDir, ec);  // one level, as the windows do
    if (!snapshotDir.empty()) {
        fs::create_directories(snapshotDir, ec);
        if (!fs::is_directory(snapshotDir)) {
            std::fprintf(stderr, "quorlane-cli convert: cannot create the snapshot folder %s\n", snapshotDir.c_str());
            return 2;
        }
        kit.SetPreviewBitmap(true);
    }

    std::vector<FileJob> files(inputs.size());
    std::mutex filesLock;  // guards the progress and end fields of files
    ProgressView view(isatty(STDOUT_FILENO) == 1);
    std::vector<int> fileOfTask;

    kit.OnProgress = [&](int index, int, int fps, int current, float, float, int64_t, int total) {
        std::lock_guard guard(filesLock);
        if (index < 0 || index >= static_cast<int>(fileOfTask.size())) return;
        FileJob& f = files[fileOfTask[index]];
        f.fps = fps;
        f.percent = total > 0 ? std::min(100, static_cast<int>(int64_t(current) * 100 / total)) : 0;
        const auto now = std::chrono::steady_clock::now();
        if (f.started == std::chrono::steady_clock::time_point{}) f.started = now;
        const double elapsed = std::chrono::duration<double>(now - f.started).count();
        // Wall time so far, scaled by the part of the output still to come.
        f.etaSeconds = total > 0 && current > 0 && elapsed > 0
                           ? static_cast<int>(elapsed * (total - current) / current)
                           : -1;
        if (!isatty(STDOUT_FILENO))
            view.Line(Format("progress %s %d%% %d fps", f.input.c_str(), f.percent, fps));
    };
    // Snapshots arrive on this thread (the main thread) while the task's worker waits.
    kit.OnPreviewBitmap = [&](int index, TBitmap* bitmap, int, int64_t) {
        std::lock_guard guard(filesLock);
        if (index < 0 || index >= static_cast<int>(fileOfTask.size()) || !bitmap) return;
        FileJob& f = files[fileOfTask[index]];
        if (f.snapshotBase.empty()) return;
        const std::string name = NextSnapshotName(f, snapshotExt);
        std::string error;
        std::lock_guard canvas(bitmap->Canvas());
        if (SaveBitmapFile(*bitmap, name, error)) {
            f.snapshots++;
        } else if (f.snapshots >= 0) {
            view.Line(Format("snapshot %s: %s", f.input.c_str(), error.c_str()));
            f.snapshots = -1;  // said once; no more attempts for this file
            f.snapshotBase.clear();
        }
    };
    std::atomic<bool> allEnded{false};
    kit.OnTerminate = [&](int index, bool finished, bool exception, const std::string& message) {
        if (index < 0) {
            allEnded = true;
            return;
        }
        std::lock_guard guard(filesLock);
        if (index >= static_cast<int>(fileOfTask.size())) return;
        FileJob& f = files[fileOfTask[index]];
        f.ended = true;
        f.finished = finished;
        if (f.message.empty()) f.message = exception ? message : finished ? "" : "stopped";
        view.Line(Format("%s %s%s%s", finished ? "done" : exception ? "failed" : "stopped", f.input.c_str(),
                         f.message.empty() ? "" : ": ", f.message.c_str()));
    };

    std::vector<std::string> snapshotNames;
    for (size_t i = 0; i < inputs.size(); ++i) {
        FileJob& f = files[i];
        f.input = inputs[i];
        if (!snapshotDir.empty()) f.snapshotBase = SnapshotBase(snapshotDir, f.input, snapshotNames);
        TInputOptions in = inputOptions;
        const int task = kit.QueueTask(SystemToWide(f.input), &in);
        if (task < 0) {
            f.ended = true;
            f.message = kit.LastErrorMessage();
            view.Line(Format("failed %s: %s", f.input.c_str(), f.message.c_str()));
            continue;
        }
        f.task = task;
        fileOfTask.resize(task + 1, -1);
        fileOfTask[task] = static_cast<int>(i);
        f.output = FreeOutputName(outDir, f.input, ext);
        TOutputOptions out = outputOptions;
        out.FileName.clear();
        if (!kit.SetTaskOutput(task, SystemToWide(f.output), &out)) {
            f.message = kit.LastErrorMessage();  // the task is refused at start; keep this reason
        }
        f.createdOutput = fs::exists(f.output);
        if (!snapshotDir.empty())
            if (TFFmpeg* job = kit.Tasks().Get(task)) job->PreviewInterval = int64_t(snapshotEveryMs) * 1000;
    }

    struct sigaction action {};
    action.sa_handler = OnConvertInterrupt;
    sigemptyset(&action.sa_mask);
    struct sigaction previous {};
    sigaction(SIGINT, &action, &previous);

    if (kit.TaskCount() > 0) {
        kit.StartTasks(jobs);
        WaitServingMainThread([&] {
            view.Flush(files, filesLock);
            return allEnded.load() || interrupted.load();
        });
    }
    if (interrupted) {
        kit.StopTasks(true);
        WaitServingMainThread([&] { return allEnded.load(); });
    }
    kit.ClearTaskList();  // every worker and delivery is over after this
    view.Flush(files, filesLock, true);
    sigaction(SIGINT, &previous, nullptr);

    bool failed = false;
    std::printf("Summary:\n");
    for (FileJob& f : files) {
        if (f.snapshots > 0)
            std::printf("  %s: %d snapshot%s as %s*.%s\n", f.input.c_str(), f.snapshots, f.snapshots == 1 ? "" : "s",
                        f.snapshotBase.c_str(), snapshotExt.c_str());
        if (f.finished) {
            std::printf("  %s -> %s: done\n", f.input.c_str(), f.output.c_str());
            continue;
        }
        failed = true;
        // A task that did not finish leaves no partial output behind.
        if (f.createdOutput && !f.output.empty()) fs::remove(f.output, ec);
        std::printf("  %s: %s\n", f.input.c_str(), f.message.empty() ? "not converted" : f.message.c_str());
    }
    std::fflush(stdout);
    if (interrupted) return 130;
    return failed ? 1 : 0;
}

}  // namespace quorlane::cli
