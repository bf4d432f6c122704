// Shared set-up of the job option tests: the converter libraries, a reset job and the engine log.
#pragma once

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "FFmpeg.h"
#include "FFmpegLoader.h"
#include "FFmpegLogger.h"
#include "MyUtils.h"
#include "TestSupport.h"

namespace quorlane::test {

// Loads the converter's library set once per test binary (as the programs do).
inline void LoadConverterLibraries()
{
    TFFmpegLoader& loader = FFLoader();
    if (loader.Loaded(ConverterLibraries)) return;
    loader.SetLibraryPath(SystemToWide(DllDir()));
    ASSERT_TRUE(loader.Load(ConverterLibraries)) << loader.LastErrMsg();
}

// Collects the engine log's lines while it lives (the tests run on the main thread).
class LogCapture {
public:
    explicit LogCapture(TLogLevel level = llDebug)
    {
        previous_ = FFLogger().LogLevel();
        FFLogger().SetLogLevel(level);
        FFLogger().SetOnLog([this](const void*, uint32_t, TLogLevel l, const std::string& line) {
            lines.push_back(line);
            levels.push_back(l);
        });
    }
    ~LogCapture()
    {
        FFLogger().SetOnLog(nullptr);
        FFLogger().SetLogLevel(previous_);
    }
    bool Contains(const std::string& text) const
    {
        for (const auto& l : lines)
            if (l.find(text) != std::string::npos) return true;
        return false;
    }
    int Count(const std::string& text) const
    {
        int n = 0;
        for (const auto& l : lines)
            if (l.find(text) != std::string::npos) ++n;
        return n;
    }
    std::vector<std::string> lines;
    std::vector<TLogLevel> levels;

private:
    TLogLevel previous_;
};

// A test with the libraries loaded and a freshly reset job.
class JobTest : public ::testing::Test {
protected:
    static void SetUpTestSuite() { LoadConverterLibraries(); }
    void SetUp() override
    {
        ASSERT_TRUE(FFLoader().Loaded(ConverterLibraries));
        job.Reset();
    }
    // The dump's value of one field ("" when the field is not in the dump).
    std::string Field(const std::string& name) const
    {
        const std::string dump = DumpOptionFields(job);
        const std::string key = name + " = ";
        size_t pos = dump.rfind("\n" + key);
        if (dump.compare(0, key.size(), key) == 0 && pos == std::string::npos) pos = 0;
        else if (pos == std::string::npos) return "";
        else ++pos;
        const size_t end = dump.find('\n', pos);
        return dump.substr(pos + key.size(), end - pos - key.size());
    }
    // The text of the FFmpegException that applying the option raises, or "" when none.
    std::string Refusal(const std::string& name, const std::string& value)
    {
        try {
            job.ApplyOption(name, value);
        } catch (const FFmpegException& e) {
            return e.what();
        }
        return "";
    }

    TCustomFFmpeg job;
};

}  // namespace quorlane::test
