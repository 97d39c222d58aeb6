#include "platform/mobile_shell.h"
#include "resources/resource.h"
#include "support/test_support.h"
#include "ui/ui.h"
#include <gtest/gtest.h>
#include <commctrl.h>
#include <string>
#include <vector>

namespace {

// The texts the ui tests check are the Chinese ones unless a test chooses.
[[maybe_unused]] const bool chineseTexts = SetEnvironmentVariableW(L"VARNOLT_LANG", L"zh");

struct FlagsCase {
    DWORD major, minor;
    const wchar_t* type;
    DWORD flags;
    int line;
};
#define FLAGS_CASE(a, i, t, f) {a, i, t, f, __LINE__}

const FlagsCase FLAGS_CASES[] = {
    FLAGS_CASE(4, 21, L"PocketPC", 0x11504),
    FLAGS_CASE(5, 2, L"SmartPhone", 0x60205),
    FLAGS_CASE(5, 1, L"", 0x20105),
    FLAGS_CASE(6, 0, L"PocketPC", 0x30006),        // minor 0 is below 2
    FLAGS_CASE(5, 2, L"POCKETPC", 0x70205),        // the type ignores case
    FLAGS_CASE(0x10A, 0x1FF, L"Pocket PC", 0x6FF0A),   // low 8 bits of each; the type is exact
};

TEST(Screen, PlatformFlags)
{
    for (const auto& c : FLAGS_CASES)
        EXPECT_EQ(ComposePlatformFlags(c.major, c.minor, c.type), c.flags) << "case at line " << c.line;
}

TEST(Screen, ScalingRoundsHalfUp)
{
    EXPECT_EQ(ScalePixels(28, 96), 28);
    EXPECT_EQ(ScalePixels(28, 192), 56);
    EXPECT_EQ(ScalePixels(28, 131), 38);
    EXPECT_EQ(ScalePixels(2, 128), 3);
    EXPECT_EQ(ScalePixels(1, 144), 2);             // 1.5 rounds up
}

TEST(Screen, HandheldsAndPhoneSizedAreas)
{
    for (const wchar_t* type : {L"PocketPC", L"SmartPhone", L"smartphone"})
        EXPECT_TRUE(IsHandheldType(type)) << test::Utf8(type);
    for (const wchar_t* type : {L"", L"Pocket PC", L"Desktop"})
        EXPECT_FALSE(IsHandheldType(type)) << test::Utf8(type);
    struct AreaCase {
        int width, height, dpi;
        bool isPhone;
        int line;
    };
    const AreaCase AREAS[] = {
        {240, 294, 96, true, __LINE__},  {480, 616, 192, true, __LINE__},   // Pocket PCs, QVGA and VGA
        {800, 480, 96, false, __LINE__}, {1024, 738, 96, false, __LINE__},
        {639, 738, 96, true, __LINE__},  {1024, 738, 192, true, __LINE__},  // 1024 pixels at 192 are 512 at 96
    };
    for (const auto& c : AREAS)
        EXPECT_EQ(IsPhoneSizedArea(c.width, c.height, c.dpi, c.dpi), c.isPhone) << "case at line " << c.line;
}

TEST(Screen, DensityIsReadOnce)
{
    int first = ScreenDpiX();
    EXPECT_EQ(first, QueryScreenCaps(LOGPIXELSX));
    EXPECT_EQ(ScreenDpiX(), first);
    EXPECT_EQ(ScreenDpiY(), QueryScreenCaps(LOGPIXELSY));
}

// A dialog of the test's own for a menu bar to sit on.
HWND CreateHostDialog()
{
    static const struct {
        DLGTEMPLATE header;
        WORD menu, windowClass, title;
    } TEMPLATE = {{WS_POPUP | WS_CAPTION, 0, 0, 0, 0, 200, 150}, 0, 0, 0};
    return CreateDialogIndirectParamW(nullptr, &TEMPLATE.header, nullptr,
                                      [](HWND, UINT, WPARAM, LPARAM) -> INT_PTR { return FALSE; }, 0);
}

struct ButtonExpectation {
    int command;
    BYTE state;
    BYTE style;
    const wchar_t* text;
    bool opensMenu;
};

void ExpectButtons(HWND bar, const ButtonExpectation (&expected)[2])
{
    HWND toolbar = FindWindowExW(bar, nullptr, TOOLBARCLASSNAMEW, nullptr);
    ASSERT_NE(toolbar, nullptr);
    ASSERT_EQ(SendMessageW(toolbar, TB_BUTTONCOUNT, 0, 0), 2);
    for (int i = 0; i < 2; ++i) {
        TBBUTTON button = {};
        SendMessageW(bar, TB_GETBUTTON, i, reinterpret_cast<LPARAM>(&button));
        EXPECT_EQ(button.idCommand, expected[i].command) << i;
        EXPECT_EQ(button.fsState & (TBSTATE_ENABLED | TBSTATE_HIDDEN), expected[i].state) << i;
        EXPECT_EQ(button.fsStyle & (BTNS_AUTOSIZE | BTNS_DROPDOWN), expected[i].style) << i;
        EXPECT_EQ(button.dwData != 0, expected[i].opensMenu) << i;
        wchar_t text[64] = {};
        SendMessageW(toolbar, TB_GETBUTTONTEXTW, button.idCommand, reinterpret_cast<LPARAM>(text));
        EXPECT_EQ(std::wstring(text), expected[i].text) << i;
    }
}

TEST(MenuBar, ShippedBarsHaveTheirButtons)
{
    if (!test::HasDisplay())
        GTEST_SKIP() << "no display";
    instanceHandle = GetModuleHandleW(nullptr);
    HWND dialog = CreateHostDialog();
    ASSERT_NE(dialog, nullptr);
    HWND bar = CreateMenuBar(dialog, IDR_CONSOLE_BAR, 0);
    ASSERT_NE(bar, nullptr);
    ExpectButtons(bar, {{1, 0, BTNS_AUTOSIZE, L"执行", false}, {2, TBSTATE_ENABLED, BTNS_AUTOSIZE | BTNS_DROPDOWN, L"菜单", true}});
    HMENU menu = GetBarButtonMenu(bar, 1);
    ASSERT_NE(menu, nullptr);
    const UINT ITEMS[] = {IDM_CLEAR_LOG, 0, IDM_RUN_CHANGES, IDM_UNDO_RUN, 0, IDM_ASSOCIATE, 0, IDM_HELP, IDM_ABOUT, 0, IDM_EXIT};
    ASSERT_EQ(GetMenuItemCount(menu), static_cast<int>(ARRAYSIZE(ITEMS)));
    for (int i = 0; i < static_cast<int>(ARRAYSIZE(ITEMS)); ++i)
        EXPECT_EQ(GetMenuItemID(menu, i), ITEMS[i] ? ITEMS[i] : 0u) << i;
    EXPECT_EQ(GetBarButtonMenu(bar, 0), GetSubMenu(reinterpret_cast<HMENU>(SendMessageW(bar, SHCMBM_GETMENU, 0, 0)), 0));
    EXPECT_FALSE(IsMenuItemChecked(menu, IDM_ASSOCIATE));
    CheckMenuItem(menu, IDM_ASSOCIATE, MF_CHECKED);
    EXPECT_TRUE(IsMenuItemChecked(menu, IDM_ASSOCIATE));
    SetBarButtonEnabled(bar, 1, true);
    EXPECT_TRUE(SendMessageW(FindWindowExW(bar, nullptr, TOOLBARCLASSNAMEW, nullptr), TB_ISBUTTONENABLED, 1, 0));
    DestroyWindow(dialog);

    dialog = CreateHostDialog();
    bar = CreateMenuBar(dialog, IDR_DONE_CANCEL_BAR, SHCMBF_HIDESIPBUTTON);
    ExpectButtons(bar, {{1, TBSTATE_ENABLED, BTNS_AUTOSIZE, L"完成", false}, {2, TBSTATE_ENABLED, BTNS_AUTOSIZE, L"取消", false}});
    SetBarButtonState(bar, 2, TBSTATE_HIDDEN);
    EXPECT_TRUE(SendMessageW(FindWindowExW(bar, nullptr, TOOLBARCLASSNAMEW, nullptr), TB_ISBUTTONHIDDEN, 2, 0));
    DestroyWindow(dialog);
    EXPECT_EQ(CreateMenuBar(nullptr, IDR_CONSOLE_BAR, 0), nullptr);
    EXPECT_EQ(GetBarButtonMenu(nullptr, 0), nullptr);
}

std::vector<std::wstring> MenuTexts(HMENU menu)
{
    std::vector<std::wstring> texts;
    for (int item = 0; item < GetMenuItemCount(menu); ++item) {
        wchar_t text[64] = {};
        GetMenuStringW(menu, item, text, ARRAYSIZE(text), MF_BYPOSITION);
        texts.push_back(text);
    }
    return texts;
}

// The console's bar and the dialogs' bar, their buttons and the console's menu, in the
// language VARNOLT_LANG chooses.
TEST(MenuBar, ShippedBarsSpeakEitherLanguage)
{
    if (!test::HasDisplay())
        GTEST_SKIP() << "no display";
    instanceHandle = GetModuleHandleW(nullptr);
    struct LanguageCase {
        const wchar_t* setting;
        const wchar_t* buttons[4];      // Execute, Menu, Done, Cancel
        std::vector<std::wstring> menu;
    };
    const LanguageCase CASES[] = {
        {L"en", {L"Execute", L"Menu", L"Done", L"Cancel"},
         {L"Clear log", L"", L"Changes of the last run", L"Undo the last run", L"", L"File association", L"", L"Help",
          L"About", L"", L"Exit"}},
        {L"zh", {L"执行", L"菜单", L"完成", L"取消"},
         {L"清除日志", L"", L"上次运行的更改", L"撤销上次运行", L"", L"文件关联", L"", L"帮助", L"关于", L"", L"退出"}},
    };
    for (const auto& c : CASES) {
        SetEnvironmentVariableW(L"VARNOLT_LANG", c.setting);
        HWND dialog = CreateHostDialog();
        HWND bar = CreateMenuBar(dialog, IDR_CONSOLE_BAR, 0);
        ExpectButtons(bar, {{1, 0, BTNS_AUTOSIZE, c.buttons[0], false},
                            {2, TBSTATE_ENABLED, BTNS_AUTOSIZE | BTNS_DROPDOWN, c.buttons[1], true}});
        EXPECT_EQ(MenuTexts(GetBarButtonMenu(bar, 1)), c.menu) << test::Utf8(c.setting);
        DestroyWindow(dialog);
        dialog = CreateHostDialog();
        bar = CreateMenuBar(dialog, IDR_DONE_CANCEL_BAR, 0);
        ExpectButtons(bar, {{1, TBSTATE_ENABLED, BTNS_AUTOSIZE, c.buttons[2], false},
                            {2, TBSTATE_ENABLED, BTNS_AUTOSIZE, c.buttons[3], false}});
        DestroyWindow(dialog);
    }
    SetEnvironmentVariableW(L"VARNOLT_LANG", L"zh");
}

} // namespace
