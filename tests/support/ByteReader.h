// Bounds-checked reading of untrusted bytes: every read reports failure instead of running past the end.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

namespace quorlane::test {

class ByteReader {
public:
    ByteReader(const uint8_t* data, size_t size) : data_(data), size_(size) {}

    size_t pos() const { return pos_; }
    size_t size() const { return size_; }
    size_t left() const { return size_ - pos_; }
    bool seek(size_t pos)
    {
        if (pos > size_) return false;
        pos_ = pos;
        return true;
    }
    bool skip(size_t n) { return n <= left() && seek(pos_ + n); }

    bool u8(uint32_t& v) { return read(1, false, v); }
    bool be16(uint32_t& v) { return read(2, false, v); }
    bool be24(uint32_t& v) { return read(3, false, v); }
    bool be32(uint32_t& v) { return read(4, false, v); }
    bool le16(uint32_t& v) { return read(2, true, v); }
    bool le32(uint32_t& v) { return read(4, true, v); }
    bool bytes(size_t n, const uint8_t*& p)
    {
        if (n > left()) return false;
        p = data_ + pos_;
        pos_ += n;
        return true;
    }

private:
    bool read(size_t n, bool littleEndian, uint32_t& v)
    {
        if (n > left()) return false;
        v = 0;
        for (size_t i = 0; i < n; ++i) {
            uint32_t b = data_[pos_ + i];
            v |= littleEndian ? b << (8 * i) : b << (8 * (n - 1 - i));
        }
        pos_ += n;
        return true;
    }

    const uint8_t* data_;
    size_t size_;
    size_t pos_ = 0;
};

// Most significant bit first, as both the SWF rectangle and the H.263 picture header are packed.
class BitReader {
public:
    BitReader(const uint8_t* data, size_t size) : data_(data), size_(size) {}

    bool bits(int n, uint32_t& v)
    {
        if (n > 32 || bitPos_ + static_cast<size_t>(n) > size_ * 8) return false;
        v = 0;
        for (int i = 0; i < n; ++i, ++bitPos_)
            v = (v << 1) | ((data_[bitPos_ / 8] >> (7 - bitPos_ % 8)) & 1u);
        return true;
    }
    bool signedBits(int n, int32_t& v)
    {
        uint32_t u = 0;
        if (!bits(n, u)) return false;
        v = (n > 0 && n < 32 && (u >> (n - 1)) & 1u) ? static_cast<int32_t>(static_cast<int64_t>(u) - (int64_t{1} << n))
                                                   : static_cast<int32_t>(u);
        return true;
    }
    size_t bytesUsed() const { return (bitPos_ + 7) / 8; }

private:
    const uint8_t* data_;
    size_t size_;
    size_t bitPos_ = 0;
};

// The file's bytes; ok is false when it cannot be read.
std::vector<uint8_t> ReadWholeFile(const std::string& path, bool& ok);

}  // namespace quorlane::test
