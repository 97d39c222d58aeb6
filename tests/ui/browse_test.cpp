// Path joining of the browse providers' InstallDir fallback; browsing itself is driven
// through the console in tests/end_to_end.
#include "ui/ui.h"
#include <gtest/gtest.h>
#include <string>

namespace {

struct AppendCase {
    std::wstring path;
    std::wstring joined;        // empty: it does not fit, and the path stays
    int line;
};

TEST(AppendPathComponent, JoinsWithOneBackslash)
{
    const AppendCase CASES[] = {
        {L"C:\\Apps", L"C:\\Apps\\RFileShell", __LINE__},
        {L"C:\\Apps\\", L"C:\\Apps\\RFileShell", __LINE__},
        {L"", L"\\RFileShell", __LINE__},
        {std::wstring(249, L'x'), L"", __LINE__},                      // 249 + 1 + 10 units and the NUL
        {std::wstring(248, L'x') + L"\\", std::wstring(248, L'x') + L"\\RFileShell", __LINE__},
    };
    for (const auto& c : CASES) {
        wchar_t path[MAX_PATH_CHARS];
        ASSERT_EQ(CopyText(path, c.path.c_str()), ERROR_SUCCESS);
        size_t length = AppendPathComponent(path, L"RFileShell");
        std::wstring expected = c.joined.empty() ? c.path : c.joined;
        EXPECT_EQ(std::wstring(path), expected) << "case at line " << c.line;
        EXPECT_EQ(length, c.joined.size()) << "case at line " << c.line;
    }
}

} // namespace
