#include "engine/engine.h"
#include "support/test_support.h"
#include <gtest/gtest.h>

namespace {

// The trace writes long texts in pieces; a character of two UTF-16 units at a piece's
// edge must arrive whole, not as two replacement characters.
TEST(Trace, KeepsSurrogatePairsWholeInLongTexts)
{
    test::TempFolder folder;
    std::wstring path = folder / L"trace.log";
    ASSERT_TRUE(SetEnvironmentVariableW(L"VARNOLT_TRACE", path.c_str()));
    LogSink sink = TraceSinkFromEnvironment();
    SetEnvironmentVariableW(L"VARNOLT_TRACE", nullptr);
    ASSERT_NE(sink, nullptr);
    for (size_t before : {254, 255, 256, 511}) {
        std::wstring text = std::wstring(before, L'a') + L"\U0001D11E" + std::wstring(300, L'b');
        DeleteFileW(path.c_str());
        sink(text.c_str());
        EXPECT_EQ(test::ReadBytes(path), test::Utf8(text)) << before;
    }
}

} // namespace
