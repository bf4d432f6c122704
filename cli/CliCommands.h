// The subcommands of quorlane-cli; each returns the process exit status.
#pragma once

#include <string>
#include <vector>

namespace quorlane::cli {

inline constexpr const char* Version = "2.0";

int RunLibs(const std::vector<std::string>& args);

}  // namespace quorlane::cli
