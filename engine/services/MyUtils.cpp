#include "MyUtils.h"

#include <dlfcn.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <climits>
#include <cstdio>
#include <cstdlib>
#include <cwchar>
#include <vector>

namespace quorlane {

std::string FormatV(const char* format, va_list args)
{
    va_list copy;
    va_copy(copy, args);
    char small[256];
    int n = std::vsnprintf(small, sizeof small, format, copy);
    va_end(copy);
    if (n < 0) return {};
    if (static_cast<size_t>(n) < sizeof small) return std::string(small, static_cast<size_t>(n));
    std::string out(static_cast<size_t>(n), '\0');
    std::vsnprintf(out.data(), out.size() + 1, format, args);
    return out;
}

std::string Format(const char* format, ...)
{
    va_list args;
    va_start(args, format);
    std::string s = FormatV(format, args);
    va_end(args);
    return s;
}

std::wstring IncludeTrailingBackslashW(const std::wstring& path)
{
    if (!path.empty() && path.back() == L'/') return path;
    return path + L'/';
}

std::wstring ExtractFilePathW(const std::wstring& fileName)
{
    size_t pos = fileName.find_last_of(L'/');
    return pos == std::wstring::npos ? std::wstring() : fileName.substr(0, pos + 1);
}

std::wstring ExtractFileNameW(const std::wstring& fileName)
{
    size_t pos = fileName.find_last_of(L'/');
    return pos == std::wstring::npos ? fileName : fileName.substr(pos + 1);
}

bool WideFileExists(const std::wstring& fileName)
{
    struct stat st {};
    return stat(WideToSystem(fileName).c_str(), &st) == 0 && !S_ISDIR(st.st_mode);
}

int64_t WideFileSize(const std::wstring& fileName)
{
    struct stat st {};
    if (stat(WideToSystem(fileName).c_str(), &st) != 0 || S_ISDIR(st.st_mode)) return -1;
    return static_cast<int64_t>(st.st_size);
}

bool WideToLocale(const std::wstring& text, std::string& out)
{
    std::mbstate_t state{};
    const wchar_t* src = text.c_str();
    size_t n = std::wcsrtombs(nullptr, &src, 0, &state);
    if (n == static_cast<size_t>(-1)) return false;
    out.assign(n, '\0');
    src = text.c_str();
    state = {};
    std::wcsrtombs(out.data(), &src, n + 1, &state);
    return true;
}

bool LocaleToWide(const std::string& text, std::wstring& out)
{
    std::mbstate_t state{};
    const char* src = text.c_str();
    size_t n = std::mbsrtowcs(nullptr, &src, 0, &state);
    if (n == static_cast<size_t>(-1)) return false;
    out.assign(n, L'\0');
    src = text.c_str();
    state = {};
    std::mbsrtowcs(out.data(), &src, n + 1, &state);
    return true;
}

std::string WideToUtf8(const std::wstring& text)
{
    std::string out;
    out.reserve(text.size());
    for (wchar_t wc : text) {
        auto c = static_cast<uint32_t>(wc);
        if (c > 0x10FFFF || (c >= 0xD800 && c <= 0xDFFF)) c = 0xFFFD;
        if (c < 0x80) {
            out += static_cast<char>(c);
        } else if (c < 0x800) {
            out += static_cast<char>(0xC0 | (c >> 6));
            out += static_cast<char>(0x80 | (c & 0x3F));
        } else if (c < 0x10000) {
            out += static_cast<char>(0xE0 | (c >> 12));
            out += static_cast<char>(0x80 | ((c >> 6) & 0x3F));
            out += static_cast<char>(0x80 | (c & 0x3F));
        } else {
            out += static_cast<char>(0xF0 | (c >> 18));
            out += static_cast<char>(0x80 | ((c >> 12) & 0x3F));
            out += static_cast<char>(0x80 | ((c >> 6) & 0x3F));
            out += static_cast<char>(0x80 | (c & 0x3F));
        }
    }
    return out;
}

std::wstring Utf8ToWide(const std::string& text)
{
    std::wstring out;
    out.reserve(text.size());
    size_t i = 0;
    while (i < text.size()) {
        auto b = static_cast<unsigned char>(text[i]);
        uint32_t c;
        int extra;
        if (b < 0x80) { c = b; extra = 0; }
        else if ((b & 0xE0) == 0xC0) { c = b & 0x1F; extra = 1; }
        else if ((b & 0xF0) == 0xE0) { c = b & 0x0F; extra = 2; }
        else if ((b & 0xF8) == 0xF0) { c = b & 0x07; extra = 3; }
        else { out += L'\uFFFD'; ++i; continue; }
        bool ok = true;
        for (int k = 1; k <= extra; ++k) {
            if (i + k >= text.size() || (static_cast<unsigned char>(text[i + k]) & 0xC0) != 0x80) { ok = false; break; }
            c = (c << 6) | (static_cast<unsigned char>(text[i + k]) & 0x3F);
        }
        if (!ok) { out += L'\uFFFD'; ++i; continue; }
        out += static_cast<wchar_t>(c);
        i += extra + 1;
    }
    return out;
}

std::string WideToSystem(const std::wstring& text)
{
    std::string out;
    std::wstring back;
    if (WideToLocale(text, out) && LocaleToWide(out, back) && back == text) return out;
    return WideToUtf8(text);
}

std::wstring SystemToWide(const std::string& text)
{
    std::wstring out;
    if (LocaleToWide(text, out)) return out;
    return Utf8ToWide(text);
}

int StrToInt(const std::string& text)
{
    auto fail = [&]() -> int { throw EConvertError(Format("'%s' is not a valid integer value", text.c_str())); };
    size_t i = 0;
    while (i < text.size() && (text[i] == ' ' || text[i] == '\t')) ++i;
    bool negative = false;
    if (i < text.size() && (text[i] == '-' || text[i] == '+')) negative = text[i++] == '-';
    int base = 10;
    if (i < text.size() && text[i] == '$') { base = 16; ++i; }
    else if (i + 1 < text.size() && text[i] == '0' && (text[i + 1] == 'x' || text[i + 1] == 'X')) { base = 16; i += 2; }
    if (i >= text.size()) return fail();
    int64_t value = 0;
    for (; i < text.size(); ++i) {
        char ch = text[i];
        int digit;
        if (ch >= '0' && ch <= '9') digit = ch - '0';
        else if (base == 16 && ch >= 'a' && ch <= 'f') digit = ch - 'a' + 10;
        else if (base == 16 && ch >= 'A' && ch <= 'F') digit = ch - 'A' + 10;
        else return fail();
        value = value * base + digit;
        // Hex may spell the full 32-bit pattern; decimal must fit a signed 32-bit value.
        if (value > (base == 16 ? int64_t{0xFFFFFFFF} : int64_t{INT_MAX} + (negative ? 1 : 0))) return fail();
    }
    if (base == 16 && !negative) return static_cast<int>(static_cast<uint32_t>(value));
    return static_cast<int>(negative ? -value : value);
}

std::string SplitFirst(std::string& source, const std::string& separator, bool cut)
{
    size_t pos = separator.empty() ? std::string::npos : source.find(separator);
    std::string first = source.substr(0, pos);
    if (cut) source = pos == std::string::npos ? std::string() : source.substr(pos + separator.size());
    return first;
}

std::wstring ApplicationFolder()
{
    std::vector<char> buf(4096);
    ssize_t n = readlink("/proc/self/exe", buf.data(), buf.size() - 1);
    if (n <= 0) return L"./";
    std::string exe(buf.data(), static_cast<size_t>(n));
    return ExtractFilePathW(SystemToWide(exe));
}

void* LoadLibraryInPath(const std::wstring& folder, const std::wstring& name, std::string& error)
{
    void* handle = nullptr;
    if (!folder.empty() && WideFileExists(IncludeTrailingBackslashW(folder) + name)) {
        std::wstring dir = IncludeTrailingBackslashW(folder);
        // The folder goes to the front of PATH once, so child programs see the same libraries.
        // dlopen itself ignores PATH and the current directory, which stays untouched.
        std::string dirBytes = WideToSystem(dir);
        const char* oldPath = std::getenv("PATH");
        std::string path = oldPath ? oldPath : "";
        if (path.find(dirBytes) == std::string::npos) {
            std::string updated = dirBytes + ":" + path;
            setenv("PATH", updated.c_str(), 1);
        }
        handle = dlopen(WideToSystem(dir + name).c_str(), RTLD_NOW | RTLD_LOCAL);
    } else {
        handle = dlopen(WideToSystem(name).c_str(), RTLD_NOW | RTLD_LOCAL);
    }
    if (!handle) {
        const char* e = dlerror();
        error = e ? e : "unknown error";
    }
    return handle;
}

}  // namespace quorlane
