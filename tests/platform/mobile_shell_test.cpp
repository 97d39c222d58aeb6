// The handheld shell stand-ins on a real dialog: the menu bar built from its resource,
// its buttons and pop-ups, the Back key, the client area, full-screen sizing, SIPPREF
// and the Backspace sent to the focus.
#include "platform/mobile_shell.h"
#include "support/test_support.h"
#include "platform/mobile_shell_test.h"
#include <commctrl.h>
#include <gtest/gtest.h>
#include <vector>

namespace {

// The texts these tests check are the Chinese ones.
[[maybe_unused]] const bool chineseTexts = SetEnvironmentVariableW(L"VARNOLT_LANG", L"zh");

constexpr int EDIT_ID = 100;
constexpr int SIPPREF_ID = 101;

// What the dialog received; 'popupKeys' are posted when a pop-up opens, to choose an item.
struct DialogLog {
    std::vector<MSG> seen;
    std::vector<WPARAM> popupKeys;
};

INT_PTR CALLBACK LoggingDialogProc(HWND dialog, UINT message, WPARAM wParam, LPARAM lParam)
{
    if (message == WM_INITDIALOG) {
        SetWindowLongPtrW(dialog, DWLP_USER, lParam);
        return FALSE;   // no focus: Wine hides a never-active window without waiting for a window manager
    }
    auto* log = reinterpret_cast<DialogLog*>(GetWindowLongPtrW(dialog, DWLP_USER));
    if (!log || (message != WM_COMMAND && message != WM_HOTKEY && message != WM_INITMENUPOPUP))
        return FALSE;
    log->seen.push_back({ dialog, message, wParam, lParam, 0, {} });
    for (WPARAM key : message == WM_INITMENUPOPUP ? log->popupKeys : std::vector<WPARAM>{})
        PostMessageW(dialog, WM_KEYDOWN, key, 0);
    return TRUE;
}

// An edit control and a SIPPREF control in a popup with the dialog font.
std::vector<WORD> DialogTemplate()
{
    std::vector<WORD> t;
    auto dword = [&t](DWORD value) { t.insert(t.end(), { LOWORD(value), HIWORD(value) }); };
    auto text = [&t](const wchar_t* s) { do t.push_back(*s); while (*s++); };
    auto item = [&](DWORD style, std::initializer_list<WORD> place, const wchar_t* className) {
        if (t.size() % 2)
            t.push_back(0);
        dword(WS_CHILD | style), dword(0), t.insert(t.end(), place), text(className), text(L""), t.push_back(0);
    };
    dword(WS_POPUP | WS_BORDER | DS_SETFONT), dword(0);
    t.insert(t.end(), { 2, 10, 10, 200, 120, 0, 0 });
    text(L"Bar"), t.push_back(9), text(L"MS Shell Dlg");
    item(WS_VISIBLE | WS_BORDER | ES_AUTOHSCROLL, { 4, 4, 120, 14, EDIT_ID }, L"EDIT");
    item(0, { 0, 0, 5, 5, SIPPREF_ID }, SIPPREF_CLASS);
    return t;
}

struct TestDialog {
    DialogLog log;
    HWND dialog = nullptr;
    DWORD error = 0;
    TestDialog()
    {
        SHInitExtraControls();
        std::vector<WORD> words = DialogTemplate();
        dialog = CreateDialogIndirectParamW(GetModuleHandleW(nullptr), reinterpret_cast<DLGTEMPLATE*>(words.data()),
                                            nullptr, LoggingDialogProc, reinterpret_cast<LPARAM>(&log));
        ShowWindow(dialog, SW_SHOWNOACTIVATE);
    }
    ~TestDialog() { DestroyWindow(dialog); }
    // The new bar, or null with the reason in 'error'; TRUE must come with a bar.
    HWND AddBar(UINT resource = TEST_BAR)
    {
        SHMENUBARINFO info = { sizeof info, dialog, 0, resource, GetModuleHandleW(nullptr), 0, 0, nullptr, 0 };
        BOOL created = SHCreateMenuBar(&info);
        error = GetLastError();
        EXPECT_EQ(created != FALSE, info.hwndMB != nullptr);
        return info.hwndMB;
    }
    void Pump()     // as a modeless dialog's loop does
    {
        for (MSG msg; PeekMessageW(&msg, nullptr, 0, 0, PM_REMOVE);)
            if (!IsDialogMessageW(dialog, &msg)) {
                TranslateMessage(&msg);
                DispatchMessageW(&msg);
            }
    }
    int Count(UINT message, WORD low)
    {
        int count = 0;
        for (const MSG& seen : log.seen)
            count += seen.message == message && LOWORD(message == WM_COMMAND ? seen.wParam : seen.lParam) == low;
        return count;
    }
};

RECT ScreenRect(HWND window, bool client = false)
{
    RECT rect;
    if (!client)
        return GetWindowRect(window, &rect), rect;
    GetClientRect(window, &rect);
    MapWindowPoints(window, nullptr, reinterpret_cast<POINT*>(&rect), 2);
    return rect;
}

bool SameRect(RECT a, RECT b)
{
    return EqualRect(&a, &b);
}

void Click(HWND bar, int command)
{
    HWND toolbar = GetWindow(bar, GW_CHILD);
    RECT button;
    ASSERT_TRUE(SendMessageW(toolbar, TB_GETRECT, command, reinterpret_cast<LPARAM>(&button)));
    LPARAM middle = MAKELPARAM((button.left + button.right) / 2, (button.top + button.bottom) / 2);
    SendMessageW(toolbar, WM_LBUTTONDOWN, MK_LBUTTON, middle);
    SendMessageW(toolbar, WM_LBUTTONUP, 0, middle);
}

#define SKIP_WITHOUT_DISPLAY() \
    if (!test::HasDisplay()) GTEST_SKIP() << "no display"

TEST(MenuBar, ButtonsComeFromTheResource)
{
    SKIP_WITHOUT_DISPLAY();
    TestDialog window, other;
    HWND bar = window.AddBar();
    ASSERT_TRUE(bar);
    EXPECT_EQ(SHFindMenuBar(window.dialog), bar);
    HMENU popup = GetSubMenu(reinterpret_cast<HMENU>(SendMessageW(bar, SHCMBM_GETMENU, 0, 0)), 1);
    ASSERT_TRUE(popup);
    EXPECT_EQ(reinterpret_cast<HMENU>(SendMessageW(bar, SHCMBM_GETSUBMENU, 0, TEST_DROPDOWN)), popup);
    EXPECT_EQ(SendMessageW(bar, SHCMBM_GETSUBMENU, 0, TEST_RUN), 0);
    HWND disabled = other.AddBar(TEST_BAR_DISABLED);
    struct { HWND bar; int index; int command; BYTE style; BYTE state; const wchar_t* text; HMENU popup; } cases[] = {
        { bar, 0, TEST_RUN, 0x10, TBSTATE_ENABLED, L"执行", nullptr },
        { bar, 1, TEST_DROPDOWN, 0x18, TBSTATE_ENABLED, L"菜单", popup },
        { disabled, 0, TEST_RUN, 0x10, 0, L"执行", nullptr },
    };
    EXPECT_EQ(SendMessageW(bar, TB_BUTTONCOUNT, 0, 0), 2);
    for (const auto& row : cases) {
        TBBUTTON button = {};
        wchar_t text[32] = {};
        ASSERT_TRUE(SendMessageW(row.bar, TB_GETBUTTON, row.index, reinterpret_cast<LPARAM>(&button))) << row.index;
        SendMessageW(row.bar, TB_GETBUTTONTEXTW, row.command, reinterpret_cast<LPARAM>(text));
        EXPECT_EQ(button.idCommand, row.command);
        EXPECT_EQ(button.fsStyle, row.style);
        EXPECT_EQ(button.fsState, row.state);
        EXPECT_EQ(reinterpret_cast<HMENU>(button.dwData), row.popup);
        EXPECT_STREQ(text, row.text);
    }
}

TEST(MenuBar, BrokenResourcesFailCleanly)
{
    SKIP_WITHOUT_DISPLAY();
    TestDialog window;
    RECT client = ScreenRect(window.dialog, true);
    struct { UINT resource; DWORD error; int line; } cases[] = {
        { TEST_MISSING, ERROR_RESOURCE_NAME_NOT_FOUND, __LINE__ },
        { TEST_BAR_NO_MENU, ERROR_RESOURCE_NAME_NOT_FOUND, __LINE__ },
        { TEST_BAR_CUT_SHORT, ERROR_INVALID_DATA, __LINE__ },   // two buttons announced, one given
        { TEST_BAR_NO_POPUP, ERROR_INVALID_DATA, __LINE__ },    // pop-up index past the menu
        { 0x10000, ERROR_RESOURCE_NAME_NOT_FOUND, __LINE__ },   // not a resource number
    };
    for (const auto& row : cases) {
        EXPECT_EQ(window.AddBar(row.resource), nullptr) << row.line;
        EXPECT_EQ(window.error, row.error) << row.line;
        EXPECT_EQ(SHFindMenuBar(window.dialog), nullptr) << row.line;
        EXPECT_TRUE(SameRect(client, ScreenRect(window.dialog, true))) << row.line;
    }
    ASSERT_TRUE(window.AddBar());
    EXPECT_EQ(window.AddBar(), nullptr);
    EXPECT_EQ(window.error, DWORD(ERROR_ALREADY_EXISTS));
    EXPECT_FALSE(SHCreateMenuBar(nullptr));
    EXPECT_EQ(SendMessageW(nullptr, SHCMBM_GETMENU, 0, 0), 0);
}

TEST(MenuBar, ClientAreaEndsAboveTheBar)
{
    SKIP_WITHOUT_DISPLAY();
    TestDialog window;
    RECT before = ScreenRect(window.dialog, true);
    HWND bar = window.AddBar();
    ASSERT_TRUE(bar);
    RECT client = ScreenRect(window.dialog, true), strip = ScreenRect(bar);
    EXPECT_TRUE(IsWindowVisible(bar));
    EXPECT_GT(strip.bottom, strip.top);
    EXPECT_EQ(client.bottom - client.top + strip.bottom - strip.top, before.bottom - before.top);
    EXPECT_TRUE(SameRect(strip, { client.left, client.bottom, client.right, before.bottom }));

    HWND edit = GetDlgItem(window.dialog, EDIT_ID);     // laid out down to the client bottom
    MoveWindow(edit, 0, client.bottom - client.top - 20, client.right - client.left, 20, TRUE);
    EXPECT_LE(ScreenRect(edit).bottom, strip.top);

    DestroyWindow(bar);                                 // the dialog gets its strip back
    EXPECT_TRUE(SameRect(before, ScreenRect(window.dialog, true)));
    bar = window.AddBar();
    RECT frame = ScreenRect(window.dialog);
    SetWindowPos(window.dialog, nullptr, 0, 0, frame.right - frame.left + 60, frame.bottom - frame.top + 40,
                 SWP_NOMOVE | SWP_NOZORDER | SWP_NOACTIVATE);
    client = ScreenRect(window.dialog, true);
    EXPECT_TRUE(SameRect(ScreenRect(bar), { client.left, client.bottom, client.right, client.bottom + strip.bottom - strip.top }));

    SHINITDLGINFO info = { SHIDIM_FLAGS, window.dialog, SHIDIF_DONEBUTTON | SHIDIF_SIPDOWN };
    frame = ScreenRect(window.dialog);
    EXPECT_TRUE(SHInitDialog(&info));
    EXPECT_TRUE(SameRect(frame, ScreenRect(window.dialog)));
    info.dwFlags |= SHIDIF_SIZEDLGFULLSCREEN;
    EXPECT_TRUE(SHInitDialog(&info));
    MONITORINFO monitor = {};
    monitor.cbSize = sizeof monitor;
    GetMonitorInfoW(MonitorFromWindow(window.dialog, MONITOR_DEFAULTTONEAREST), &monitor);
    EXPECT_TRUE(SameRect(monitor.rcWork, ScreenRect(window.dialog)));
    EXPECT_EQ(ScreenRect(bar).top, ScreenRect(window.dialog, true).bottom);
    EXPECT_LE(ScreenRect(bar).bottom, monitor.rcWork.bottom);

    DestroyWindow(window.dialog);
    window.dialog = nullptr;
    EXPECT_FALSE(IsWindow(bar));
}

TEST(MenuBar, ButtonsReachTheDialog)
{
    SKIP_WITHOUT_DISPLAY();
    TestDialog window;
    HWND bar = window.AddBar();
    ASSERT_TRUE(bar);
    Click(bar, TEST_RUN);
    window.Pump();
    EXPECT_EQ(window.Count(WM_COMMAND, TEST_RUN), 1);

    window.log.popupKeys = { VK_DOWN, VK_DOWN, VK_RETURN };     // the second item
    UINT_PTR watchdog = SetTimer(nullptr, 0, 5000, [](HWND, UINT, UINT_PTR, DWORD) { EndMenu(); });
    Click(bar, TEST_DROPDOWN);
    KillTimer(nullptr, watchdog);
    window.Pump();
    EXPECT_EQ(window.Count(WM_INITMENUPOPUP, TEST_DROPDOWN), 1);   // the button's id, not the pop-up's index
    HMENU popup = reinterpret_cast<HMENU>(SendMessageW(bar, SHCMBM_GETSUBMENU, 0, TEST_DROPDOWN));
    for (const MSG& seen : window.log.seen)
        EXPECT_TRUE(seen.message != WM_INITMENUPOPUP || reinterpret_cast<HMENU>(seen.wParam) == popup);
    EXPECT_EQ(window.Count(WM_COMMAND, TEST_SECOND_ITEM), 1);
    EXPECT_EQ(window.Count(WM_COMMAND, TEST_DROPDOWN), 0);

    TBBUTTONINFOW info = {};
    info.cbSize = sizeof info;
    info.dwMask = TBIF_STATE;
    struct { BYTE state; bool enabled; bool hidden; } cases[] = {
        { 0, false, false }, { TBSTATE_ENABLED, true, false }, { TBSTATE_ENABLED | TBSTATE_HIDDEN, true, true },
    };
    for (const auto& row : cases) {
        info.fsState = row.state;
        EXPECT_TRUE(SendMessageW(bar, TB_SETBUTTONINFOW, TEST_RUN, reinterpret_cast<LPARAM>(&info))) << int(row.state);
        EXPECT_EQ(!!SendMessageW(bar, TB_ISBUTTONENABLED, TEST_RUN, 0), row.enabled) << int(row.state);
        EXPECT_EQ(!!SendMessageW(bar, TB_ISBUTTONHIDDEN, TEST_RUN, 0), row.hidden) << int(row.state);
    }
}

TEST(MenuBar, BackKeyOverride)
{
    SKIP_WITHOUT_DISPLAY();
    TestDialog window;
    struct { WORD flags; int hotkeys; int cancels; int line; } cases[] = {
        { SHMBOF_NODEFAULT | SHMBOF_NOTIFY, 1, 0, __LINE__ },
        { SHMBOF_NODEFAULT, 0, 0, __LINE__ },
        { SHMBOF_NOTIFY, 1, 1, __LINE__ },
        { 0, 0, 1, __LINE__ },
    };
    for (const auto& row : cases) {
        HWND bar = window.AddBar();
        ASSERT_TRUE(bar) << row.line;
        LPARAM flags = MAKELPARAM(SHMBOF_NODEFAULT | SHMBOF_NOTIFY, row.flags);
        EXPECT_TRUE(SendMessageW(bar, SHCMBM_OVERRIDEKEY, VK_TBACK, flags)) << row.line;
        window.log.seen.clear();
        HWND edit = GetDlgItem(window.dialog, EDIT_ID);
        PostMessageW(edit, WM_KEYDOWN, VK_ESCAPE, 0x00010001);
        PostMessageW(edit, WM_KEYUP, VK_ESCAPE, 0xC0010001);
        window.Pump();
        EXPECT_EQ(window.Count(WM_COMMAND, IDCANCEL), row.cancels) << row.line;
        EXPECT_EQ(window.Count(WM_HOTKEY, MOD_KEYUP), row.hotkeys) << row.line;
        for (const MSG& seen : window.log.seen)
            EXPECT_TRUE(seen.message != WM_HOTKEY || (seen.wParam == 0 && HIWORD(seen.lParam) == VK_ESCAPE)) << row.line;
        DestroyWindow(bar);
    }
}

TEST(ShellStandIns, SipprefAndBackspace)
{
    SKIP_WITHOUT_DISPLAY();
    EXPECT_TRUE(SHInitExtraControls());     // again: already registered
    TestDialog window;
    ASSERT_TRUE(window.dialog);
    EXPECT_TRUE(GetDlgItem(window.dialog, SIPPREF_ID));

    HWND edit = GetDlgItem(window.dialog, EDIT_ID);
    SetWindowTextW(edit, L"abc");
    SetFocus(edit);
    SendMessageW(edit, EM_SETSEL, 2, 2);
    EXPECT_TRUE(SHSendBackToFocusWindow(WM_HOTKEY, 0, MAKELPARAM(MOD_KEYUP, VK_TBACK)));
    wchar_t text[8] = {};
    GetWindowTextW(edit, text, 8);
    EXPECT_STREQ(text, L"ac");
}

} // namespace
