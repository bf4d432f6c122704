// The engine's own bitmap: 24-bit BGR, top-down scan lines, with a canvas lock.
#pragma once

#include <cstdint>
#include <cstring>
#include <mutex>
#include <vector>

namespace quorlane {

class TBitmap {
public:
    TBitmap() = default;
    TBitmap(int width, int height) { SetSize(width, height); }

    int Width() const { return width_; }
    int Height() const { return height_; }
    // Bytes of one scan line: 3 × width (no padding).
    int RowBytes() const { return width_ * 3; }

    // Keeps the pixels that still fit; new pixels are zero (black).
    void SetSize(int width, int height)
    {
        if (width < 0) width = 0;
        if (height < 0) height = 0;
        if (width == width_ && height == height_) return;
        std::vector<uint8_t> pixels(static_cast<size_t>(width) * 3 * height);
        const int rows = height < height_ ? height : height_;
        const int bytes = (width < width_ ? width : width_) * 3;
        for (int r = 0; r < rows; ++r)
            std::memcpy(pixels.data() + static_cast<size_t>(r) * width * 3,
                        pixels_.data() + static_cast<size_t>(r) * width_ * 3, bytes);
        pixels_.swap(pixels);
        width_ = width;
        height_ = height;
    }
    void SetWidth(int width) { SetSize(width, height_); }
    void SetHeight(int height) { SetSize(width_, height); }

    // Row r from the top; nullptr outside the picture.
    uint8_t* ScanLine(int row)
    {
        if (row < 0 || row >= height_) return nullptr;
        return pixels_.data() + static_cast<size_t>(row) * width_ * 3;
    }
    const uint8_t* ScanLine(int row) const
    {
        return const_cast<TBitmap*>(this)->ScanLine(row);
    }

    // The canvas lock: held by whoever reads or paints the pixels from another thread.
    std::mutex& Canvas() { return canvas_; }

private:
    int width_ = 0;
    int height_ = 0;
    std::vector<uint8_t> pixels_;  // guarded by canvas_ when shared between threads
    std::mutex canvas_;
};

}  // namespace quorlane
