// One process-wide pointer per library entry point, typed from the installed headers so that a
// signature can never drift. Call sites always qualify: ff::avcodec_open2(...), sdl::SDL_Init(...).
// The binaries never link the media libraries, so an unqualified call fails at link time.
#pragma once

extern "C" {
#include <libavcodec/avcodec.h>
#include <libavcodec/bsf.h>
#include <libavfilter/avfilter.h>
#include <libavfilter/buffersink.h>
#include <libavfilter/buffersrc.h>
#include <libavformat/avformat.h>
#include <libavformat/avio.h>
#include <libavutil/audio_fifo.h>
#include <libavutil/avstring.h>
#include <libavutil/channel_layout.h>
#include <libavutil/dict.h>
#include <libavutil/error.h>
#include <libavutil/imgutils.h>
#include <libavutil/log.h>
#include <libavutil/mathematics.h>
#include <libavutil/opt.h>
#include <libavutil/parseutils.h>
#include <libavutil/pixdesc.h>
#include <libavutil/samplefmt.h>
#include <libavutil/time.h>
#include <libswresample/swresample.h>
#include <libswscale/swscale.h>
}
#include <SDL2/SDL.h>

#include "myutil.h"
#include "stubs/AVCodecStubs.h"
#include "stubs/AVDeviceStubs.h"
#include "stubs/AVFilterStubs.h"
#include "stubs/AVFormatStubs.h"
#include "stubs/AVUtilStubs.h"
#include "stubs/MyUtilStubs.h"
#include "stubs/SDLStubs.h"
#include "stubs/SwResampleStubs.h"
#include "stubs/SwScaleStubs.h"

#define QUORLANE_DECLARE_ENTRY(name) inline decltype(&::name) name = nullptr;

namespace ff {
AVCODEC_ENTRIES(QUORLANE_DECLARE_ENTRY)
AVDEVICE_ENTRIES(QUORLANE_DECLARE_ENTRY)
AVFILTER_ENTRIES(QUORLANE_DECLARE_ENTRY)
AVFORMAT_ENTRIES(QUORLANE_DECLARE_ENTRY)
AVUTIL_ENTRIES(QUORLANE_DECLARE_ENTRY)
SWSCALE_ENTRIES(QUORLANE_DECLARE_ENTRY)
SWRESAMPLE_ENTRIES(QUORLANE_DECLARE_ENTRY)
MYUTIL_ENTRIES(QUORLANE_DECLARE_ENTRY)
}  // namespace ff

namespace sdl {
SDL_ENTRIES(QUORLANE_DECLARE_ENTRY)
}  // namespace sdl

#undef QUORLANE_DECLARE_ENTRY
