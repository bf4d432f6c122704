// Entry points of libavcodec that the engine calls, in the order they are resolved.
// Lists only names: the pointer types come from the installed headers (EntryPoints.h).
#pragma once
#define AVCODEC_ENTRIES(X) \
  X(avcodec_version)
