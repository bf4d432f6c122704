// Repair of a finished SWF file's header. The 5.1 SWF muxer patches the file length and the frame count
// only when the movie has video; a sound-only movie keeps its placeholders (100 MiB, 6000 frames) and a
// 10 fps timeline although every frame carries one MP3 frame. This runs after the trailer is written
// and the file is closed, and corrects those fields in place.
#pragma once

#include <string>

namespace quorlane {

enum class TSwfRepairResult {
    srUnchanged,  // the header already describes the file
    srPatched,    // fields were corrected in place
    srRefused,    // not repairable (unreadable, compressed, damaged): the file is left as it was
};

struct TSwfRepair {
    TSwfRepairResult Result = TSwfRepairResult::srUnchanged;
    std::string Message;  // what was corrected, or why nothing could be
};

// systemName is the file's 8-bit system name. Also logs the outcome through the engine log.
TSwfRepair RepairSwfHeader(const std::string& systemName);

}  // namespace quorlane
