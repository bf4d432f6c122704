// Entry points of SDL2 that the engine calls, in the order they are resolved.
#pragma once
#define SDL_ENTRIES(X) \
  X(SDL_GetVersion)
