// Entry points of the helper C-runtime library, in the order they are resolved.
#pragma once
#define MYUTIL_ENTRIES(X) \
  X(my_fclose) \
  X(my_fopen) \
  X(my_fprintf) \
  X(my_fread) \
  X(my_fseek) \
  X(my_ftell) \
  X(my_fwrite) \
  X(my_snprintf) \
  X(my_strtod) \
  X(my_strtok) \
  X(my_strtol) \
  X(my_vsprintf)
