// Helpers of the file-opening suites.
#pragma once

#include <clocale>
#include <string>

namespace quorlane::test {

// Switches the program's character locale for one test and restores it afterwards: under "C"
// every non-ASCII name has to go through the "unicode:utf8:" form.
class ScopedLocale {
public:
    explicit ScopedLocale(const char* name) : old_(std::setlocale(LC_CTYPE, nullptr))
    {
        std::setlocale(LC_CTYPE, name);
    }
    ~ScopedLocale() { std::setlocale(LC_CTYPE, old_.c_str()); }
    ScopedLocale(const ScopedLocale&) = delete;
    ScopedLocale& operator=(const ScopedLocale&) = delete;

private:
    std::string old_;
};

}  // namespace quorlane::test
