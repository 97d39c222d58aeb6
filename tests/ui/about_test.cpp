// The about box on a thread of its own: links chosen with keys and the pointer, opened
// through a recorder in the shell's place, and the choice kept from one opening to the next.
#include "base/outward_calls.h"
#include "tests/ui/modal_window.h"
#include "ui/ui.h"
#include <gtest/gtest.h>
#include <vector>

namespace {

using ui_test::Eventually;
using ui_test::ModalWindow;
using ui_test::ShellRecorder;

class AboutTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        if (!test::HasDisplay())
            GTEST_SKIP() << "no display";
        instanceHandle = GetModuleHandleW(nullptr);
        saved = outwardCalls.shellExecute;
        outwardCalls.shellExecute = ShellRecorder::Record;
        ShellRecorder::Clear();
    }
    void TearDown() override
    {
        if (saved)
            outwardCalls.shellExecute = saved;
    }
    static void Key(HWND box, WPARAM key)
    {
        PostMessageW(box, WM_KEYDOWN, key, 1);
        PostMessageW(box, WM_KEYUP, key, 0xC0000001);
    }
    static void Pointer(HWND box, UINT message, int link)
    {
        const RECT& area = aboutLinks[link].rect;
        PostMessageW(box, message, 0, MAKELPARAM((area.left + area.right) / 2, (area.top + area.bottom) / 2));
    }
    // Posted input is handled in its order, after this thread moves on: its effects are
    // awaited. A step that changes nothing passes at once and is proven by the next one.
    static bool SelectionBecomes(int link)
    {
        return Eventually([link] { return selectedLink == link; });
    }
    static bool ShellCallsBecome(size_t count)
    {
        return Eventually([count] { return ShellRecorder::Calls().size() == count; });
    }
    BOOL (*saved)(SHELLEXECUTEINFOW*) = nullptr;
};

TEST_F(AboutTest, KeysMoveTheSelectionWithinTheLinks)
{
    selectedLink = NO_LINK;
    const struct {
        WPARAM key;
        int selected;
        int line;
    } STEPS[] = {
        {VK_UP, 2, __LINE__},  {VK_UP, 1, __LINE__},   {VK_UP, 0, __LINE__},     {VK_UP, 0, __LINE__},
        {VK_TAB, 1, __LINE__}, {VK_DOWN, 2, __LINE__}, {VK_DOWN, 2, __LINE__},   {'A', 2, __LINE__},
    };
    ModalWindow box([] { return ShowAbout(nullptr); });
    for (const auto& step : STEPS) {
        Key(box.window(), step.key);
        EXPECT_TRUE(SelectionBecomes(step.selected)) << "step at line " << step.line;
    }
    EXPECT_TRUE(ShellRecorder::Calls().empty());
    Key(box.window(), VK_RETURN);
    ASSERT_TRUE(ShellCallsBecome(1));
    auto calls = ShellRecorder::Calls();
    ASSERT_EQ(calls.size(), 1u);
    EXPECT_EQ(calls[0].file, L"https://varnolt.example.org/");
    EXPECT_TRUE(box.IsOpen());
    Key(box.window(), VK_ESCAPE);                   // the Back key closes it
    EXPECT_EQ(box.Result(), 0u);

    ModalWindow again([] { return ShowAbout(nullptr); });
    EXPECT_EQ(selectedLink, 2);                     // kept for the process
    Key(again.window(), VK_DOWN);
    Key(again.window(), VK_RETURN);
    ASSERT_TRUE(ShellCallsBecome(2));
    EXPECT_EQ(ShellRecorder::Calls()[1].file, L"https://varnolt.example.org/");
    PostMessageW(again.window(), WM_COMMAND, IDOK, 0);
    EXPECT_EQ(again.Result(), static_cast<DWORD>(IDOK));
}

TEST_F(AboutTest, PointerSelectsOnPressAndOpensOnReleaseOverTheSameLink)
{
    selectedLink = NO_LINK;
    ModalWindow box([] { return ShowAbout(nullptr); });
    ASSERT_TRUE(Eventually([] { return aboutLinks[2].rect.bottom > 0; })) << "links not painted";
    for (int i = 1; i < ABOUT_LINK_COUNT; ++i)
        EXPECT_GE(aboutLinks[i].rect.top, aboutLinks[i - 1].rect.bottom) << i;
    Pointer(box.window(), WM_LBUTTONDOWN, 0);
    Pointer(box.window(), WM_LBUTTONUP, 0);
    Pointer(box.window(), WM_LBUTTONDOWN, 1);
    Pointer(box.window(), WM_LBUTTONUP, 2);         // released elsewhere: selected, not opened
    EXPECT_TRUE(SelectionBecomes(1));
    ASSERT_TRUE(ShellCallsBecome(1));
    auto calls = ShellRecorder::Calls();
    ASSERT_EQ(calls.size(), 1u);
    EXPECT_EQ(calls[0].file, L"tmail.exe");
    EXPECT_EQ(calls[0].parameters, L"-service \"SMS\" -to \"+1 555 0100\" -body \"Varnolt\"");

    PostMessageW(box.window(), WM_LBUTTONDOWN, 0, MAKELPARAM(1, 1));     // nothing there: no selection
    EXPECT_TRUE(SelectionBecomes(NO_LINK));
    Key(box.window(), VK_RETURN);                   // not the box's own key now: the dialog's Done
    EXPECT_EQ(box.Result(), static_cast<DWORD>(IDOK));
    EXPECT_EQ(ShellRecorder::Calls().size(), 1u);
}

TEST(About, VersionComesFromTheVersionResource)
{
    instanceHandle = GetModuleHandleW(nullptr);
    wchar_t path[MAX_PATH];
    GetModuleFileNameW(nullptr, path, MAX_PATH);
    DWORD size = GetFileVersionInfoSizeW(path, nullptr);
    std::vector<BYTE> block(size);
    ASSERT_TRUE(GetFileVersionInfoW(path, 0, size, block.data()));
    VS_FIXEDFILEINFO* fixed = nullptr;
    UINT length = 0;
    ASSERT_TRUE(VerQueryValueW(block.data(), L"\\", reinterpret_cast<void**>(&fixed), &length));
    wchar_t expected[32];
    wsprintfW(expected, L"%u.%u.%u.%u", HIWORD(fixed->dwFileVersionMS), LOWORD(fixed->dwFileVersionMS),
              HIWORD(fixed->dwFileVersionLS), LOWORD(fixed->dwFileVersionLS));
    wchar_t version[32] = {};
    ASSERT_TRUE(ReadProgramVersion(version));
    EXPECT_STREQ(version, expected);
}

} // namespace
