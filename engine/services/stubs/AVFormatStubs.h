// Entry points of libavformat that the engine calls, in the order they are resolved.
#pragma once
#define AVFORMAT_ENTRIES(X) \
  X(avformat_version)
