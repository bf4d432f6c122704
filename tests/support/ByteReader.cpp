#include "ByteReader.h"

#include <fstream>
#include <iterator>

namespace quorlane::test {

std::vector<uint8_t> ReadWholeFile(const std::string& path, bool& ok)
{
    std::ifstream in(path, std::ios::binary);
    ok = static_cast<bool>(in);
    if (!ok) return {};
    std::vector<uint8_t> bytes((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
    ok = !in.bad();
    return bytes;
}

}  // namespace quorlane::test
