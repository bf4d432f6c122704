// Entry points of libswresample that the engine calls, in the order they are resolved.
#pragma once
#define SWRESAMPLE_ENTRIES(X) \
  X(swresample_version) \
  X(swr_alloc_set_opts2) \
  X(swr_init) \
  X(swr_convert) \
  X(swr_free) \
  X(swr_get_out_samples) \
  X(swr_set_compensation)
