// Entry points of libavfilter that the engine calls, in the order they are resolved.
#pragma once
#define AVFILTER_ENTRIES(X) \
  X(avfilter_version)
