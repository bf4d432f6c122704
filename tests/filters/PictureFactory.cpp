#include "PictureFactory.h"

namespace quorlane::test {

FramePtr MakeGradientPicture(int width, int height, int n)
{
    FramePtr f(ff::av_frame_alloc());
    if (!f) return f;
    f->format = AV_PIX_FMT_YUV420P;
    f->width = width;
    f->height = height;
    if (ff::av_frame_get_buffer(f.get(), 0) < 0) return nullptr;
    for (int y = 0; y < height; ++y)
        for (int x = 0; x < width; ++x) f->data[0][y * f->linesize[0] + x] = static_cast<uint8_t>(x * 255 / (width - 1));
    for (int p = 1; p < 3; ++p)
        for (int y = 0; y < (height + 1) / 2; ++y)
            for (int x = 0; x < (width + 1) / 2; ++x) f->data[p][y * f->linesize[p] + x] = 128;
    // A small square that moves right by 2 pixels per picture.
    const int side = height / 4;
    for (int y = 0; y < side; ++y)
        for (int x = 0; x < side; ++x) {
            const int px = (x + 2 * n) % width;
            f->data[0][(height / 2 + y) * f->linesize[0] + px] = 235;
        }
    return f;
}

}  // namespace quorlane::test
