// A test program that ends half-way with exit code 0, as a crashed one has under Wine;
// check_gtest_test.sh runs it through check_gtest.sh.
#include <gtest/gtest.h>
#include <windows.h>
#include <cstdio>

TEST(EndsEarly, Passes) { SUCCEED(); }

TEST(EndsEarly, Skips) { GTEST_SKIP() << "skipped on purpose"; }

TEST(EndsEarly, ProgramEndsHere)
{
    fflush(stdout);
    TerminateProcess(GetCurrentProcess(), 0);
}

TEST(EndsEarly, NeverRuns) { SUCCEED(); }
