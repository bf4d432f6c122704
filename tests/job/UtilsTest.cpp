// Command utilities: error texts, display names, metadata lookup, ConvertToBitmap.
#include <cstring>

#include "JobTestSupport.h"

namespace quorlane {
namespace {

class Utils : public ::testing::Test {
protected:
    static void SetUpTestSuite() { test::LoadConverterLibraries(); }
};

TEST_F(Utils, OpenErrorTexts)
{
    EXPECT_EQ(OpenErrorText(std::wstring(L"C:\\a.avi"), AVERROR(ENOENT)), "C:\\a.avi: no such file or directory");
    EXPECT_EQ(OpenErrorText("x", AVERROR(EIO)),
              "x: I/O error occurred\r\nUsually that means that input file is truncated and/or corrupted.");
    EXPECT_EQ(OpenErrorText("x", AVERROR(ENOMEM)), "x: memory allocation error occurred");
    EXPECT_EQ(OpenErrorText("x", AVERROR(EINVAL)), "x: Error while parsing header");
    EXPECT_EQ(OpenErrorText("x", AVERROR_INVALIDDATA), "x: Error while parsing header");
    EXPECT_EQ(OpenErrorText("x", AVERROR(EDOM)),
              "x: Incorrect image filename syntax.\r\nUse '%d' to specify the image number:\r\n"
              "  for img1.jpg, img2.jpg, ..., use 'img%d.jpg';\r\n"
              "  for img001.jpg, img002.jpg, ..., use 'img%03d.jpg'.");
    EXPECT_EQ(OpenErrorText("x", AVERROR_DEMUXER_NOT_FOUND), "x: Unknown format");
    EXPECT_EQ(OpenErrorText("x", AVERROR_PROTOCOL_NOT_FOUND), "x: Unknown format");
    EXPECT_EQ(OpenErrorText("x", -7), "x: Error while opening file");
    EXPECT_EQ(OpenErrorText("100%s", -7), "100%s: Error while opening file");
}

TEST_F(Utils, CodecDisplayNames)
{
    EXPECT_EQ(CodecDisplayName(AV_CODEC_ID_FLV1, 0, true), "flv(FLV / Sorenson Spark / Sorenson H.263 (Flash Video))");
    EXPECT_EQ(CodecDisplayName(AV_CODEC_ID_MPEG2TS, 0, false), "mpeg2ts");
    EXPECT_EQ(CodecDisplayName(AV_CODEC_ID_NONE, MKTAG('X', 'V', 'I', 'D'), false), "XVID / 0x44495658");
    EXPECT_EQ(CodecDisplayName(AV_CODEC_ID_NONE, 0x01020304, false), "0x1020304");
    EXPECT_EQ(CodecDisplayName(AV_CODEC_ID_NONE, 0, false, "  mine "), "mine");
}

TEST_F(Utils, MediaTypeNames)
{
    EXPECT_EQ(MediaTypeName(0), "Video");
    EXPECT_EQ(MediaTypeName(1), "Audio");
    EXPECT_EQ(MediaTypeName(2), "Data");
    EXPECT_EQ(MediaTypeName(3), "Subtitle");
    EXPECT_EQ(MediaTypeName(4), "Attachment");
    EXPECT_EQ(MediaTypeName(-1), "Unknown");
}

TEST_F(Utils, MetadataValueOrDefault)
{
    AVDictionary* d = nullptr;
    ff::av_dict_set(&d, "title", "Film", 0);
    EXPECT_EQ(MetadataValue(d, "title", "-"), "Film");
    EXPECT_EQ(MetadataValue(d, "artist", "-"), "-");
    EXPECT_EQ(MetadataValue(nullptr, "title", "none"), "none");
    ff::av_dict_free(&d);
}

// A w×h picture of one pixel format in one buffer.
struct OwnedPicture {
    TPicture pic;
    std::vector<uint8_t> bytes;
    OwnedPicture(AVPixelFormat fmt, int w, int h, uint8_t fill)
    {
        bytes.assign(static_cast<size_t>(ff::av_image_get_buffer_size(fmt, w, h, 1)), fill);
        ff::av_image_fill_arrays(pic.data, pic.linesize, bytes.data(), fmt, w, h, 1);
    }
};

TEST_F(Utils, ConvertToBitmapScalesOtherFormatsAndKeepsTheLargerBuffer)
{
    FrameBitmapConverter c;
    OwnedPicture big(AV_PIX_FMT_YUV420P, 64, 48, 128);
    ASSERT_TRUE(ConvertToBitmap(c, big.pic, AV_PIX_FMT_YUV420P, 48, 64));
    ASSERT_NE(c.bitmap, nullptr);
    EXPECT_EQ(c.bitmap->Width(), 64);
    EXPECT_EQ(c.bitmap->Height(), 48);
    EXPECT_GE(c.buffer_size, 64 * 48 * 3);  // with room for the scaler's vector writes
    const int grown = c.buffer_size;
    const uint8_t* buffer = c.buffer;
    const uint8_t* px = c.bitmap->ScanLine(47) + 3 * 63;
    EXPECT_NEAR(px[0], 128, 3);  // mid grey: B, G, R all near 128
    EXPECT_NEAR(px[1], 128, 3);
    EXPECT_NEAR(px[2], 128, 3);

    OwnedPicture small(AV_PIX_FMT_YUV420P, 32, 16, 16);
    ASSERT_TRUE(ConvertToBitmap(c, small.pic, AV_PIX_FMT_YUV420P, 16, 32));
    EXPECT_EQ(c.buffer_size, grown) << "the buffer never shrinks";
    EXPECT_EQ(c.buffer, buffer);
    EXPECT_EQ(c.bitmap->Width(), 32);
    EXPECT_EQ(c.bitmap->Height(), 16);
    ResetConverter(c);
    EXPECT_EQ(c.buffer, nullptr);
    EXPECT_EQ(c.buffer_size, 0);
    EXPECT_EQ(c.bitmap, nullptr);
    EXPECT_EQ(c.to_bitmap, nullptr);
}

TEST_F(Utils, ConvertToBitmapCopiesBgr24WithoutScaling)
{
    FrameBitmapConverter c;
    const int w = 5, h = 3;
    std::vector<uint8_t> rows(static_cast<size_t>(16 * h));  // line size 16 > 15 bytes of pixels
    for (size_t i = 0; i < rows.size(); ++i) rows[i] = static_cast<uint8_t>(i);
    TPicture pic;
    pic.data[0] = rows.data();
    pic.linesize[0] = 16;
    ASSERT_TRUE(ConvertToBitmap(c, pic, AV_PIX_FMT_BGR24, h, w));
    EXPECT_EQ(c.buffer, nullptr) << "no conversion buffer";
    EXPECT_EQ(c.to_bitmap, nullptr) << "no scaler";
    for (int r = 0; r < h; ++r) EXPECT_EQ(std::memcmp(c.bitmap->ScanLine(r), rows.data() + 16 * r, 15), 0) << r;
}

TEST(Bitmap, ScanLinesAreTopDownBgrRows)
{
    TBitmap b(4, 2);
    EXPECT_EQ(b.RowBytes(), 12);
    b.ScanLine(1)[0] = 7;
    b.SetSize(2, 3);
    EXPECT_EQ(b.ScanLine(1)[0], 7) << "pixels that still fit are kept";
    EXPECT_EQ(b.ScanLine(2)[0], 0);
    EXPECT_EQ(b.ScanLine(3), nullptr);
    std::lock_guard canvas(b.Canvas());
}

}  // namespace
}  // namespace quorlane
