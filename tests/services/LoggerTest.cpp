#include <gtest/gtest.h>

#include <atomic>
#include <cstdarg>
#include <string>
#include <thread>
#include <vector>

#include "EntryPoints.h"
#include "FFmpegLogger.h"
#include "MainThread.h"
#include "MyUtils.h"

namespace quorlane {
namespace {

struct Line {
    const void* sender;
    uint32_t thread;
    TLogLevel level;
    std::string text;
    bool onMainThread;
};

// Records every delivered line; restores a quiet logger afterwards.
class LoggerTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        FFLogger().SetLogLevel(llInfo);
        FFLogger().SetOnLog([this](const void* s, uint32_t t, TLogLevel l, const std::string& m) {
            lines.push_back({s, t, l, m, IsMainThread()});
        });
    }
    void TearDown() override
    {
        FFLogger().SetOnLog(nullptr);
        FFLogger().SetLogLevel(llInfo);
    }
    std::vector<Line> lines;  // touched on the main thread only
};

struct FakeContext {
    const AVClass* cls;
};

const AVClass FakeClass = [] {
    AVClass c{};
    c.class_name = "FakeClass";
    c.item_name = [](void*) -> const char* { return "fake"; };
    return c;
}();

void LibraryLog(void* context, int level, const char* format, ...)
{
    va_list args;
    va_start(args, format);
    TFFLogger::LibraryCallback(context, level, format, args);
    va_end(args);
}

std::string Prefix(const void* context) { return Format("[fake @ %p]", context); }

TEST_F(LoggerTest, HalfLinesOfOneThreadAreJoinedAndOtherThreadsDoNotMixIn)
{
    FakeContext ctx{&FakeClass};
    LibraryLog(&ctx, AV_LOG_INFO, "first %d", 1);
    std::atomic<bool> done{false};
    std::thread other([&] {
        FakeContext otherCtx{&FakeClass};
        LibraryLog(&otherCtx, AV_LOG_WARNING, "other\n");
        done = true;
    });
    WaitServingMainThread([&] { return done.load(); });
    other.join();
    LibraryLog(&ctx, AV_LOG_INFO, " and second\n");

    ASSERT_EQ(lines.size(), 2u);
    EXPECT_EQ(lines[0].level, llWarning);
    EXPECT_EQ(lines[0].text.rfind("[fake @ ", 0), 0u);
    EXPECT_EQ(lines[0].text.substr(lines[0].text.size() - 5), "other");
    EXPECT_EQ(lines[1].text, Prefix(&ctx) + "first 1 and second");
    EXPECT_EQ(lines[1].level, llInfo);
    EXPECT_EQ(lines[1].sender, &FFLogger());
    EXPECT_NE(lines[0].thread, lines[1].thread);
    EXPECT_TRUE(lines[0].onMainThread);
}

TEST_F(LoggerTest, OneMessageWithTwoLinesGivesTwoLines)
{
    FakeContext ctx{&FakeClass};
    LibraryLog(&ctx, AV_LOG_ERROR, "one\ntwo\n");
    ASSERT_EQ(lines.size(), 2u);
    EXPECT_EQ(lines[0].text, Prefix(&ctx) + "one");
    EXPECT_EQ(lines[1].text, "two");
    EXPECT_EQ(lines[1].level, llError);
}

TEST_F(LoggerTest, LibraryMessagesAboveTheThresholdAreDropped)
{
    FFLogger().SetLogLevel(llWarning);
    LibraryLog(nullptr, AV_LOG_INFO, "dropped\n");
    LibraryLog(nullptr, AV_LOG_WARNING, "kept\n");
    ASSERT_EQ(lines.size(), 1u);
    EXPECT_EQ(lines[0].text, "kept");
}

TEST_F(LoggerTest, LongLinesAreCutAtTheBuffersEnd)
{
    const std::string half(2000, 'a');
    LibraryLog(nullptr, AV_LOG_INFO, "%s", half.c_str());
    const std::string rest(1000, 'b');
    LibraryLog(nullptr, AV_LOG_INFO, "%s\n", rest.c_str());
    LibraryLog(nullptr, AV_LOG_INFO, "%s", std::string(5000, 'c').c_str());
    LibraryLog(nullptr, AV_LOG_INFO, "\n");
    ASSERT_EQ(lines.size(), 2u);
    EXPECT_EQ(lines[0].text, half + std::string(47, 'b'));
    EXPECT_EQ(lines[1].text, std::string(2047, 'c'));
}

TEST_F(LoggerTest, ComponentMessagesAreFilteredByLevel)
{
    int sender = 0;
    struct Case { TLogLevel logLevel; TLogLevel message; bool delivered; } cases[] = {
        {llWarning, llInfo, false}, {llWarning, llVerbose, true}, {llWarning, llError, true},
        {llWarning, llWarning, true}, {llQuiet, llVerbose, false}, {llQuiet, llPanic, false},
        {llDebug, llDebug, true},
    };
    for (const Case& c : cases) {
        lines.clear();
        FFLogger().SetLogLevel(c.logLevel);
        FFLogger().Log(&sender, c.message, "message");
        EXPECT_EQ(lines.size(), c.delivered ? 1u : 0u) << c.logLevel << "/" << c.message;
        if (!lines.empty()) {
            EXPECT_EQ(lines[0].sender, &sender);
            EXPECT_EQ(lines[0].level, c.message);
        }
    }
}

TEST(LogLevels, ConversionsBothWays)
{
    struct Case { int library; TLogLevel level; } fromLibrary[] = {
        {-16, llQuiet}, {-8, llQuiet}, {0, llPanic}, {8, llFatal}, {16, llError}, {24, llWarning},
        {32, llInfo}, {39, llInfo}, {40, llVerbose}, {48, llDebug}, {56, llDebug},
    };
    for (const Case& c : fromLibrary) EXPECT_EQ(LevelFromLibrary(c.library), c.level) << c.library;
    EXPECT_EQ(LevelToLibrary(llQuiet), -8);
    EXPECT_EQ(LevelToLibrary(llInfo), 32);
    EXPECT_EQ(LevelToLibrary(llDebug), 48);
}

TEST(LogLevels, ByNameOrNumber)
{
    struct Case { const char* text; TLogLevel level; } cases[] = {
        {"Warning", llWarning}, {"QUIET", llQuiet}, {"debug", llDebug}, {"-8", llQuiet}, {"40", llVerbose}, {"16", llError},
    };
    for (const Case& c : cases) {
        FFLogger().SetLogLevelText(c.text);
        EXPECT_EQ(FFLogger().LogLevel(), c.level) << c.text;
    }
    EXPECT_THROW(FFLogger().SetLogLevelText("loud"), EConvertError);
    FFLogger().SetLogLevel(llInfo);
}

TEST(LoggerDelivery, WorkerWaitsUntilTheMainThreadHasRunTheHandler)
{
    std::atomic<bool> handled{false};
    std::atomic<bool> workerDone{false};
    FFLogger().SetOnLog([&](const void*, uint32_t, TLogLevel, const std::string&) {
        EXPECT_TRUE(IsMainThread());
        handled = true;
    });
    std::thread worker([&] {
        FFLogger().Log(nullptr, llError, "from worker");
        EXPECT_TRUE(handled.load());  // returned only after the main thread ran the handler
        workerDone = true;
    });
    WaitServingMainThread([&] { return workerDone.load(); });
    worker.join();
    FFLogger().SetOnLog(nullptr);
}

TEST(LoggerDelivery, WithoutAHandlerNoThreadWaitsForTheMainThread)
{
    FFLogger().SetOnLog(nullptr);
    std::thread worker([] {
        FFLogger().Log(nullptr, llError, "nobody listens");
        LibraryLog(nullptr, AV_LOG_ERROR, "nor here\n");
    });
    worker.join();  // the main thread does not pump: a waiting worker would hang here
}

TEST(LoggerDeathTest, ASecondLoggerIsAProgrammingError)
{
    FFLogger();
    EXPECT_DEATH({ TFFLogger second; }, "Allow creating only one instance of TFFLogger.");
}

}  // namespace
}  // namespace quorlane
