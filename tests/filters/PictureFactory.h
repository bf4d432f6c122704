// Pictures made in memory for the filter, hook and preview tests, and a fixture that loads the
// converter's libraries.
#pragma once

#include <gtest/gtest.h>

#include <memory>

#include "EntryPoints.h"
#include "FFmpegLoader.h"
#include "MyUtils.h"
#include "TestSupport.h"

namespace quorlane::test {

struct FrameFree {
    void operator()(AVFrame* frame) const { ff::av_frame_free(&frame); }
};
using FramePtr = std::unique_ptr<AVFrame, FrameFree>;

struct CodecFree {
    void operator()(AVCodecContext* c) const { ff::avcodec_free_context(&c); }
};
using CodecPtr = std::unique_ptr<AVCodecContext, CodecFree>;

// A YUV 4:2:0 picture: luma rises from left to right (x * 255 / (width - 1)), chroma is neutral,
// and frame number n adds a moving light square so that consecutive pictures differ.
FramePtr MakeGradientPicture(int width, int height, int n = 0);

// Luma / chroma samples of a planar YUV 4:2:0 picture.
inline uint8_t LumaAt(const AVFrame* f, int x, int y) { return f->data[0][y * f->linesize[0] + x]; }
inline uint8_t CbAt(const AVFrame* f, int x, int y) { return f->data[1][(y / 2) * f->linesize[1] + x / 2]; }
inline uint8_t CrAt(const AVFrame* f, int x, int y) { return f->data[2][(y / 2) * f->linesize[2] + x / 2]; }

class ConverterLibrariesTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        FFLoader().SetLibraryPath(SystemToWide(DllDir()));
        ASSERT_TRUE(FFLoader().Load(ConverterLibraries)) << FFLoader().LastErrMsg();
    }
};

}  // namespace quorlane::test
