// Entry points of libavutil that the engine calls, in the order they are resolved.
#pragma once
#define AVUTIL_ENTRIES(X) \
  X(av_log_set_callback) \
  X(av_log_set_level) \
  X(avutil_version)
