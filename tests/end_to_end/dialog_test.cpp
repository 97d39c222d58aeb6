// A DLGX dialog of Varnolt.exe scrolled from this process, as on a Pocket PC and as on the
// desktop, in a view of a phone's size.
#include "support/test_support.h"
#include <gtest/gtest.h>
#include <string>
#include <thread>

namespace {

constexpr int FIRST_ITEM = 4531;

RECT ItemRect(HWND dialog, int index)
{
    RECT rect = {};
    GetWindowRect(GetDlgItem(dialog, FIRST_ITEM + index), &rect);
    MapWindowPoints(nullptr, dialog, reinterpret_cast<POINT*>(&rect), 2);
    return rect;
}

struct ScrollCase {
    const wchar_t* environment;
    std::wstring items;
    bool narrow;                // the view made 240 x 320
    bool verticalBar;
    bool horizontalBar;
    int line;
};

std::wstring TallList()
{
    std::wstring items;
    for (int i = 0; i < 32; ++i)
        items += L",[]Option " + std::to_wstring(i);
    return items;
}

const ScrollCase SCROLL_CASES[] = {
    {L"VARNOLT_PLATFORM_TYPE=PocketPC", TallList(), true, true, true, __LINE__},   // its width taken full-screen
    {L"VARNOLT_PLATFORM_TYPE=", TallList(), true, true, false, __LINE__},
    {L"VARNOLT_PLATFORM_TYPE=PocketPC", L",@no control", false, false, false, __LINE__},   // nothing to scroll
    {L"VARNOLT_PLATFORM_TYPE=", L",$Short", false, false, false, __LINE__},
};

// Each request and where it leaves the view, in lines and pages of the content or at its bottom.
struct Step {
    UINT message;
    WPARAM wParam;
    int lines;
    int pages;
    bool atBottom;
};
const Step STEPS[] = {
    {WM_VSCROLL, SB_LINEDOWN, 1, 0, false},
    {WM_VSCROLL, SB_PAGEDOWN, 1, 1, false},
    {WM_VSCROLL, SB_PAGEUP, 1, 0, false},
    {WM_VSCROLL, SB_PAGEUP, 0, 0, false},           // less than a page left: to the top
    {WM_VSCROLL, SB_LINEUP, 0, 0, false},
    {WM_MOUSEWHEEL, MAKEWPARAM(0, -WHEEL_DELTA), 3, 0, false},
    {WM_VSCROLL, SB_BOTTOM, 0, 0, true},
    {WM_VSCROLL, SB_LINEDOWN, 0, 0, true},
    {WM_VSCROLL, SB_TOP, 0, 0, false},
};

TEST(DlgxDialog, ScrollsByLinesAndPagesOfItsContent)
{
    if (!test::HasDisplay())
        GTEST_SKIP() << "no display";
    std::wstring program = test::ProgramFolder() + L"\\Varnolt.exe";
    for (const auto& c : SCROLL_CASES) {
        SCOPED_TRACE(c.line);
        std::wstring title = test::UniqueName(L"Scroll");
        test::ProcessResult result = {};
        std::thread run([&] { result = test::StartAndWait(program, L"\"" + program + L"\" DLGX " + title + c.items, {c.environment}); });
        HWND dialog = test::WaitForWindow(0, L"#32770", title.c_str());
        if (dialog) {
            int top = ItemRect(dialog, 0).top;
            int content = top + ItemRect(dialog, 31).bottom;
            if (c.narrow)
                SetWindowPos(dialog, nullptr, 0, 0, 240, 320, SWP_NOZORDER | SWP_NOACTIVATE);
            auto style = static_cast<DWORD>(GetWindowLongPtrW(dialog, GWL_STYLE));
            EXPECT_EQ((style & WS_VSCROLL) != 0, c.verticalBar);
            EXPECT_EQ((style & WS_HSCROLL) != 0, c.horizontalBar);
            RECT view = {};
            GetClientRect(dialog, &view);
            for (size_t i = 0; c.verticalBar && i < ARRAYSIZE(STEPS); ++i) {
                const Step& step = STEPS[i];
                DWORD_PTR ignored = 0;
                SendMessageTimeoutW(dialog, step.message, step.wParam, 0, SMTO_NORMAL, 20000, &ignored);
                int expected = step.atBottom ? content - view.bottom : step.lines * (content / 100) + step.pages * (content / 10);
                EXPECT_EQ(top - ItemRect(dialog, 0).top, expected) << "step " << i;
            }
            PostMessageW(dialog, WM_COMMAND, MAKEWPARAM(IDOK, BN_CLICKED), 0);
        }
        run.join();
        EXPECT_NE(dialog, nullptr);
        EXPECT_FALSE(result.timedOut);
        EXPECT_EQ(result.exitCode, 0u);
    }
}

} // namespace
