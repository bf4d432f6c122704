// A stand-in for one of the run-time libraries: every entry point of its table as an empty
// function. Built once per library by tests/services/CMakeLists.txt. When QUORLANE_FAKE_LOG
// names a file, loading appends the library's name to it, so tests can see the load order.
#include <cstdio>
#include <cstdlib>

#include "stubs/AVCodecStubs.h"
#include "stubs/AVDeviceStubs.h"
#include "stubs/AVFilterStubs.h"
#include "stubs/AVFormatStubs.h"
#include "stubs/AVUtilStubs.h"
#include "stubs/MyUtilStubs.h"
#include "stubs/SDLStubs.h"
#include "stubs/SwResampleStubs.h"
#include "stubs/SwScaleStubs.h"

#define QUORLANE_FAKE_ENTRY(name) extern "C" __attribute__((visibility("default"))) void name() {}
FAKE_ENTRIES(QUORLANE_FAKE_ENTRY)

__attribute__((constructor)) static void RecordLoad()
{
    if (const char* log = std::getenv("QUORLANE_FAKE_LOG")) {
        if (FILE* f = std::fopen(log, "a")) {
            std::fprintf(f, "%s\n", FAKE_NAME);
            std::fclose(f);
        }
    }
}
