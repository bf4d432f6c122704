// Entry points of libswscale that the engine calls, in the order they are resolved.
#pragma once
#define SWSCALE_ENTRIES(X) \
  X(swscale_version) \
  X(sws_getContext) \
  X(sws_scale) \
  X(sws_freeContext) \
  X(sws_getCachedContext) \
  X(sws_alloc_context)
