#include "BitmapFile.h"

#include <cstdio>
#include <mutex>
#include <vector>

#include "FFUtils.h"
#include "FFmpegLoader.h"
#include "FFmpegRunState.h"
#include "LibraryPtr.h"
#include "MyUtils.h"

namespace quorlane {
namespace {

void PutLE(std::vector<uint8_t>& out, uint32_t value, int bytes)
{
    for (int i = 0; i < bytes; ++i) out.push_back(static_cast<uint8_t>(value >> (8 * i)));
}

// 24-bit BMP: bottom-up rows, each padded to four bytes; the pixels are BGR like the bitmap's.
std::vector<uint8_t> EncodeBmp(const TBitmap& bitmap)
{
    const int w = bitmap.Width(), h = bitmap.Height();
    const uint32_t stride = (static_cast<uint32_t>(w) * 3 + 3) & ~3u;
    const uint32_t pixels = stride * static_cast<uint32_t>(h);
    std::vector<uint8_t> out;
    out.reserve(54 + pixels);
    out.push_back('B');
    out.push_back('M');
    PutLE(out, 54 + pixels, 4);
    PutLE(out, 0, 4);
    PutLE(out, 54, 4);
    PutLE(out, 40, 4);  // BITMAPINFOHEADER
    PutLE(out, static_cast<uint32_t>(w), 4);
    PutLE(out, static_cast<uint32_t>(h), 4);
    PutLE(out, 1, 2);
    PutLE(out, 24, 2);
    PutLE(out, 0, 4);  // no compression
    PutLE(out, pixels, 4);
    PutLE(out, 2835, 4);  // 72 dpi
    PutLE(out, 2835, 4);
    PutLE(out, 0, 4);
    PutLE(out, 0, 4);
    for (int r = h - 1; r >= 0; --r) {
        const uint8_t* row = bitmap.ScanLine(r);
        out.insert(out.end(), row, row + static_cast<size_t>(w) * 3);
        out.resize(out.size() + (stride - static_cast<uint32_t>(w) * 3), 0);
    }
    return out;
}

bool EncodePng(const TBitmap& bitmap, std::vector<uint8_t>& out, std::string& error)
{
    const AVCodec* codec = ff::avcodec_find_encoder(AV_CODEC_ID_PNG);
    if (!codec) {
        error = "the media libraries have no PNG encoder";
        return false;
    }
    CodecContextPtr enc(ff::avcodec_alloc_context3(codec));
    FramePtr frame(ff::av_frame_alloc());
    PacketPtr packet(ff::av_packet_alloc());
    if (!enc || !frame || !packet) {
        error = "out of memory";
        return false;
    }
    enc->width = bitmap.Width();
    enc->height = bitmap.Height();
    enc->pix_fmt = AV_PIX_FMT_RGB24;
    enc->time_base = AVRational{1, 1};
    int ret;
    {
        std::lock_guard<std::mutex> lock(CodecLock());
        ret = ff::avcodec_open2(enc.get(), codec, nullptr);
    }
    if (ret < 0) {
        error = "cannot open the PNG encoder: " + ErrorCodeText(ret);
        return false;
    }
    frame->format = AV_PIX_FMT_RGB24;
    frame->width = bitmap.Width();
    frame->height = bitmap.Height();
    if ((ret = ff::av_frame_get_buffer(frame.get(), 0)) < 0) {
        error = ErrorCodeText(ret);
        return false;
    }
    for (int r = 0; r < bitmap.Height(); ++r) {
        const uint8_t* src = bitmap.ScanLine(r);
        uint8_t* dst = frame->data[0] + static_cast<ptrdiff_t>(r) * frame->linesize[0];
        for (int x = 0; x < bitmap.Width(); ++x) {
            dst[3 * x] = src[3 * x + 2];
            dst[3 * x + 1] = src[3 * x + 1];
            dst[3 * x + 2] = src[3 * x];
        }
    }
    frame->pts = 0;
    ret = ff::avcodec_send_frame(enc.get(), frame.get());
    if (ret >= 0) ret = ff::avcodec_send_frame(enc.get(), nullptr);
    if (ret >= 0) ret = ff::avcodec_receive_packet(enc.get(), packet.get());
    if (ret < 0) {
        error = "PNG encoding failed: " + ErrorCodeText(ret);
        return false;
    }
    out.assign(packet->data, packet->data + packet->size);
    return true;
}

}  // namespace

TBitmapFileKind BitmapFileKindOf(const std::string& path)
{
    const size_t dot = path.find_last_of('.');
    const size_t slash = path.find_last_of('/');
    if (dot == std::string::npos || (slash != std::string::npos && dot < slash)) return TBitmapFileKind::Png;
    std::string ext = path.substr(dot + 1);
    for (char& c : ext) c = static_cast<char>(c >= 'A' && c <= 'Z' ? c - 'A' + 'a' : c);
    return ext == "bmp" ? TBitmapFileKind::Bmp : TBitmapFileKind::Png;
}

bool SaveBitmapFile(const TBitmap& bitmap, const std::string& path, std::string& error)
{
    if (bitmap.Width() <= 0 || bitmap.Height() <= 0) {
        error = "the picture is empty";
        return false;
    }
    std::vector<uint8_t> bytes;
    if (BitmapFileKindOf(path) == TBitmapFileKind::Bmp)
        bytes = EncodeBmp(bitmap);
    else if (!EncodePng(bitmap, bytes, error))
        return false;
    const std::string temporary = path + ".part";
    std::FILE* file = std::fopen(temporary.c_str(), "wb");
    if (!file) {
        error = Format("cannot write %s", path.c_str());
        return false;
    }
    const bool written = std::fwrite(bytes.data(), 1, bytes.size(), file) == bytes.size();
    const bool closed = std::fclose(file) == 0;
    if (!written || !closed || std::rename(temporary.c_str(), path.c_str()) != 0) {
        std::remove(temporary.c_str());
        error = Format("cannot write %s", path.c_str());
        return false;
    }
    return true;
}

}  // namespace quorlane
