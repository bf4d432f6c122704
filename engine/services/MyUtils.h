// Shared helpers of the engine: wide-name paths, text conversion, formatting and number parsing.
#pragma once

#include <cstdarg>
#include <cstdint>
#include <stdexcept>
#include <string>

namespace quorlane {

// A text that is not a number, as the string-to-number routines report it.
class EConvertError : public std::runtime_error {
public:
    using std::runtime_error::runtime_error;
};

// printf-style formatting into a std::string.
std::string Format(const char* format, ...) __attribute__((format(printf, 1, 2)));
std::string FormatV(const char* format, va_list args) __attribute__((format(printf, 1, 0)));

// Wide paths use "/" as the delimiter.
std::wstring IncludeTrailingBackslashW(const std::wstring& path);
std::wstring ExtractFilePathW(const std::wstring& fileName);  // up to and including the last "/"
std::wstring ExtractFileNameW(const std::wstring& fileName);  // everything after it
bool WideFileExists(const std::wstring& fileName);            // exists and is no directory
int64_t WideFileSize(const std::wstring& fileName);           // -1 when it cannot be read

// Wide text to and from the bytes of a file-system name: the locale's multibyte form when the
// text survives it, otherwise UTF-8.
std::string WideToSystem(const std::wstring& text);
std::wstring SystemToWide(const std::string& text);
// Wide text to and from the locale's multibyte form; false when a character does not survive.
bool WideToLocale(const std::wstring& text, std::string& out);
bool LocaleToWide(const std::string& text, std::wstring& out);
std::string WideToUtf8(const std::wstring& text);
std::wstring Utf8ToWide(const std::string& text);

// Decimal integer, as the classic string-to-integer routine reads it ("$" and "0x" mark hex).
// Throws EConvertError "'%s' is not a valid integer value".
int StrToInt(const std::string& text);

// The text before the first separator (all of it when there is none). With cut, the text up to
// and including the separator is removed from source.
std::string SplitFirst(std::string& source, const std::string& separator, bool cut = true);

// The folder of the running executable, with a trailing "/".
std::wstring ApplicationFolder();

// Loads Name from Folder when the file is there (after putting Folder at the front of PATH
// once), else by bare name through the system's search order. nullptr and the system's text on
// failure.
void* LoadLibraryInPath(const std::wstring& folder, const std::wstring& name, std::string& error);

}  // namespace quorlane
