/* The helper C-runtime library: twelve entry points with the C library's behaviour. */
#ifndef QUORLANE_MYUTIL_H
#define QUORLANE_MYUTIL_H

#include <stdarg.h>
#include <stddef.h>

#ifdef __cplusplus
extern "C" {
#endif

/* Handles from my_fopen are opaque and only valid with the my_ file functions. */
typedef struct my_file my_file;

my_file* my_fopen(const char* path, const char* mode);
int my_fclose(my_file* f);
size_t my_fread(void* ptr, size_t size, size_t count, my_file* f);
size_t my_fwrite(const void* ptr, size_t size, size_t count, my_file* f);
int my_fseek(my_file* f, long offset, int origin);
long my_ftell(my_file* f);
int my_fprintf(my_file* f, const char* format, ...) __attribute__((format(printf, 2, 3)));
int my_snprintf(char* buf, size_t size, const char* format, ...) __attribute__((format(printf, 3, 4)));
int my_vsprintf(char* buf, const char* format, va_list args) __attribute__((format(printf, 2, 0)));
double my_strtod(const char* text, char** end);
char* my_strtok(char* text, const char* delimiters);
long my_strtol(const char* text, char** end, int base);

#ifdef __cplusplus
}
#endif

#endif
