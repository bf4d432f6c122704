// libavdevice is tabled but never loaded, and its headers are not installed: no entry is bound.
#pragma once
#define AVDEVICE_ENTRIES(X)
