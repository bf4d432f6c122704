// Entry points of libswscale that the engine calls, in the order they are resolved.
#pragma once
#define SWSCALE_ENTRIES(X) \
  X(swscale_version)
