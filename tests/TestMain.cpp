// Every test binary runs with the engine services started, as the programs do.
#include <gtest/gtest.h>

#include <clocale>

#include "EngineRuntime.h"

int main(int argc, char** argv)
{
    // The program's locale for texts and names; numbers stay "C" for the libraries.
    std::setlocale(LC_ALL, "");
    std::setlocale(LC_NUMERIC, "C");
    quorlane::EngineRuntime runtime;
    ::testing::InitGoogleTest(&argc, argv);
    ::testing::GTEST_FLAG(death_test_style) = "threadsafe";
    return RUN_ALL_TESTS();
}
