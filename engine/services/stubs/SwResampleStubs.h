// Entry points of libswresample that the engine calls, in the order they are resolved.
#pragma once
#define SWRESAMPLE_ENTRIES(X) \
  X(swresample_version)
