/* A frame-hook plug-in for the tests: inverts the first plane inside a rectangle.
 * Arguments after the path: x y width height (all four required).
 * Built twice by tests/plugins/CMakeLists.txt: as written, and with NO_CONFIGURE (no "Configure";
 * then the rectangle is the whole picture). */
#include <stddef.h>
#include <stdint.h>
#include <stdlib.h>

#define EXPORT __attribute__((visibility("default")))

typedef struct {
    uint8_t* data[4];
    int linesize[4];
} HookPicture;

typedef struct {
    int x, y, w, h;
} InvertContext;

#ifndef NO_CONFIGURE
EXPORT int Configure(void** ctxp, int argc, char* argv[], int lastArg)
{
    (void)lastArg;
    if (argc != 5) return -1;
    InvertContext* c = malloc(sizeof *c);
    if (!c) return -1;
    c->x = atoi(argv[1]);
    c->y = atoi(argv[2]);
    c->w = atoi(argv[3]);
    c->h = atoi(argv[4]);
    if (c->x < 0 || c->y < 0 || c->w <= 0 || c->h <= 0) {
        free(c);
        return -1;
    }
    *ctxp = c;
    return 0;
}

EXPORT void Release(void* ctx) { free(ctx); }
#endif

EXPORT void Process(void* ctx, HookPicture* picture, int pixelFormat, int width, int height, int64_t pts)
{
    (void)pixelFormat;
    (void)pts;
    int x0 = 0, y0 = 0, x1 = width, y1 = height;
    if (ctx) {
        const InvertContext* c = ctx;
        x0 = c->x;
        y0 = c->y;
        x1 = c->x + c->w < width ? c->x + c->w : width;
        y1 = c->y + c->h < height ? c->y + c->h : height;
    }
    for (int y = y0; y < y1; ++y) {
        uint8_t* row = picture->data[0] + (ptrdiff_t)y * picture->linesize[0];
        for (int x = x0; x < x1; ++x) row[x] = (uint8_t)(255 - row[x]);
    }
}
