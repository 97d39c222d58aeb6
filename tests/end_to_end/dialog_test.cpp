// A DLGX dialog of Varnolt.exe scrolled from this process, as on a Pocket PC and as on the
// desktop, in a view of a phone's size.
#include "support/test_support.h"
#include <gtest/gtest.h>
#include <string>
#include <vector>

namespace {

constexpr int FIRST_ITEM = 4531;
constexpr DWORD WAIT_MS = 30000;

// Starts Varnolt.exe with 'arguments', running as on the platform 'platformType' ("" for none).
PROCESS_INFORMATION StartVarnolt(const std::wstring& arguments, const wchar_t* platformType)
{
    std::wstring program = test::ProgramFolder() + L"\\Varnolt.exe";
    std::wstring line = L"\"" + program + L"\" " + arguments;
    std::vector<wchar_t> text(line.begin(), line.end());
    text.push_back(0);
    STARTUPINFOW startup = {};
    startup.cb = sizeof startup;
    PROCESS_INFORMATION process = {};
    SetEnvironmentVariableW(L"VARNOLT_PLATFORM_TYPE", *platformType ? platformType : nullptr);
    EXPECT_TRUE(CreateProcessW(program.c_str(), text.data(), nullptr, nullptr, FALSE, 0, nullptr, nullptr, &startup,
                               &process));
    SetEnvironmentVariableW(L"VARNOLT_PLATFORM_TYPE", nullptr);
    return process;
}

DWORD FinishWith(PROCESS_INFORMATION& process, HWND dialog, UINT button)
{
    if (dialog)
        PostMessageW(dialog, WM_COMMAND, MAKEWPARAM(button, BN_CLICKED), 0);
    bool ended = WaitForSingleObject(process.hProcess, WAIT_MS) == WAIT_OBJECT_0;
    EXPECT_TRUE(ended);
    if (!ended)
        TerminateProcess(process.hProcess, 0xDEAD);
    DWORD exitCode = 0;
    GetExitCodeProcess(process.hProcess, &exitCode);
    CloseHandle(process.hThread);
    CloseHandle(process.hProcess);
    return exitCode;
}

RECT ItemRect(HWND dialog, int index)
{
    RECT rect = {};
    GetWindowRect(GetDlgItem(dialog, FIRST_ITEM + index), &rect);
    MapWindowPoints(nullptr, dialog, reinterpret_cast<POINT*>(&rect), 2);
    return rect;
}

struct ScrollCase {
    const wchar_t* platformType;
    const wchar_t* items;
    bool narrow;                // the view made 240 x 320
    bool verticalBar;
    bool horizontalBar;
    int line;
};
#define SCROLL_CASE(p, i, n, v, h) {p, i, n, v, h, __LINE__}

const std::wstring TALL = [] {
    std::wstring items;
    for (int i = 0; i < 32; ++i)
        items += L",[]Option " + std::to_wstring(i);
    return items;
}();

const ScrollCase SCROLL_CASES[] = {
    SCROLL_CASE(L"PocketPC", TALL.c_str(), true, true, true),      // the content's width was measured full-screen
    SCROLL_CASE(L"", TALL.c_str(), true, true, false),
    SCROLL_CASE(L"PocketPC", L",@no control", false, false, false),      // nothing to scroll over
    SCROLL_CASE(L"", L",$Short", false, false, false),
};

// The requests in order, and where each leaves the view, in lines and pages; 'range' is
// the bottom.
struct Step {
    UINT message;
    WPARAM wParam;
    int lines;
    int pages;
    bool atBottom;
};
const Step STEPS[] = {
    {WM_VSCROLL, SB_LINEDOWN, 1, 0, false},
    {WM_VSCROLL, SB_LINEDOWN, 2, 0, false},
    {WM_VSCROLL, SB_PAGEDOWN, 2, 1, false},
    {WM_VSCROLL, SB_LINEUP, 1, 1, false},
    {WM_VSCROLL, SB_PAGEUP, 1, 0, false},
    {WM_VSCROLL, SB_PAGEUP, 0, 0, false},           // less than a page left: to the top
    {WM_VSCROLL, SB_LINEUP, 0, 0, false},
    {WM_MOUSEWHEEL, MAKEWPARAM(0, -WHEEL_DELTA), 3, 0, false},
    {WM_VSCROLL, SB_BOTTOM, 0, 0, true},
    {WM_VSCROLL, SB_LINEDOWN, 0, 0, true},
    {WM_VSCROLL, SB_PAGEDOWN, 0, 0, true},
    {WM_VSCROLL, SB_TOP, 0, 0, false},
};

TEST(DlgxDialog, ScrollsByLinesAndPagesOfItsContent)
{
    if (!test::HasDisplay())
        GTEST_SKIP() << "no display";
    for (const auto& c : SCROLL_CASES) {
        SCOPED_TRACE(c.line);
        std::wstring title = test::UniqueName(L"Scroll");
        PROCESS_INFORMATION process = StartVarnolt(L"DLGX " + title + c.items, c.platformType);
        HWND dialog = test::WaitForWindow(process.dwProcessId, L"#32770", title.c_str(), WAIT_MS);
        if (!dialog) {
            ADD_FAILURE() << "no dialog";
            TerminateProcess(process.hProcess, 0xDEAD);
            FinishWith(process, nullptr, IDCANCEL);
            continue;
        }
        int top = ItemRect(dialog, 0).top;
        int content = top + ItemRect(dialog, 31).bottom;
        if (c.narrow)
            SetWindowPos(dialog, nullptr, 0, 0, 240, 320, SWP_NOZORDER | SWP_NOACTIVATE);
        auto style = static_cast<DWORD>(GetWindowLongPtrW(dialog, GWL_STYLE));
        EXPECT_EQ((style & WS_VSCROLL) != 0, c.verticalBar);
        EXPECT_EQ((style & WS_HSCROLL) != 0, c.horizontalBar);
        RECT view = {};
        GetClientRect(dialog, &view);
        int line = content / 100 > 1 ? content / 100 : 1;
        int page = content / 10;
        for (size_t i = 0; c.verticalBar && i < ARRAYSIZE(STEPS); ++i) {
            const Step& step = STEPS[i];
            DWORD_PTR ignored = 0;
            SendMessageTimeoutW(dialog, step.message, step.wParam, 0, SMTO_NORMAL, WAIT_MS, &ignored);
            int expected = step.atBottom ? content - view.bottom : step.lines * line + step.pages * page;
            EXPECT_EQ(top - ItemRect(dialog, 0).top, expected) << "step " << i;
        }
        EXPECT_EQ(FinishWith(process, dialog, IDOK), 0u);
    }
}

} // namespace
