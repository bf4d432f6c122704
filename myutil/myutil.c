/* Thin wrappers over the C library; exported by name so the engine can bind them at run time. */
#include "myutil.h"

#include <stdio.h>
#include <stdlib.h>
#include <string.h>

#define MYUTIL_EXPORT __attribute__((visibility("default")))

MYUTIL_EXPORT my_file* my_fopen(const char* path, const char* mode) { return (my_file*)fopen(path, mode); }
MYUTIL_EXPORT int my_fclose(my_file* f) { return fclose((FILE*)f); }
MYUTIL_EXPORT size_t my_fread(void* ptr, size_t size, size_t count, my_file* f) { return fread(ptr, size, count, (FILE*)f); }
MYUTIL_EXPORT size_t my_fwrite(const void* ptr, size_t size, size_t count, my_file* f) { return fwrite(ptr, size, count, (FILE*)f); }
MYUTIL_EXPORT int my_fseek(my_file* f, long offset, int origin) { return fseek((FILE*)f, offset, origin); }
MYUTIL_EXPORT long my_ftell(my_file* f) { return ftell((FILE*)f); }

MYUTIL_EXPORT int my_fprintf(my_file* f, const char* format, ...)
{
    va_list args;
    va_start(args, format);
    int n = vfprintf((FILE*)f, format, args);
    va_end(args);
    return n;
}

MYUTIL_EXPORT int my_snprintf(char* buf, size_t size, const char* format, ...)
{
    va_list args;
    va_start(args, format);
    int n = vsnprintf(buf, size, format, args);
    va_end(args);
    return n;
}

MYUTIL_EXPORT int my_vsprintf(char* buf, const char* format, va_list args) { return vsprintf(buf, format, args); }
MYUTIL_EXPORT double my_strtod(const char* text, char** end) { return strtod(text, end); }
/* strtok's continuation state is kept per thread, so jobs parsing on two threads never meet. */
static _Thread_local char* strtok_state;
MYUTIL_EXPORT char* my_strtok(char* text, const char* delimiters) { return strtok_r(text, delimiters, &strtok_state); }
MYUTIL_EXPORT long my_strtol(const char* text, char** end, int base) { return strtol(text, end, base); }
