// The subcommands of quorlane-cli; each returns the process exit status.
#pragma once

#include <string>
#include <vector>

namespace quorlane {
class TCustomFFmpeg;
}

namespace quorlane::cli {

inline constexpr const char* Version = "2.0";

int RunLibs(const std::vector<std::string>& args);
int RunConvert(const std::vector<std::string>& args);
int RunJob(const std::vector<std::string>& args);
// Runs a job whose inputs and outputs are open (JobRun.cpp); answers the exit status.
int RunPreparedJob(TCustomFFmpeg& job);
int RunProbe(const std::vector<std::string>& args);

}  // namespace quorlane::cli
