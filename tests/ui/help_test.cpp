// The help viewer on a thread of its own, read back through its HTML view.
#include "html/html.h"
#include "base/outward_calls.h"
#include "tests/ui/modal_window.h"
#include "ui/ui.h"
#include <gtest/gtest.h>

namespace {

using ui_test::ModalWindow;
using ui_test::ShellRecorder;

class HelpTest : public ::testing::Test {
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
    // Opens HELP with 'argument', checks that the page fills the window and has the keys,
    // and returns the text it shows, closing the window with Done.
    static std::wstring Shown(const wchar_t* argument)
    {
        std::wstring writable = argument ? argument : L"";
        ModalWindow help([&] { return ShowHelp(nullptr, argument ? writable.data() : nullptr); });
        HWND view = FindWindowExW(help.window(), nullptr, L"DISPLAYCLASS", nullptr);
        RECT client = {}, page = {};
        GetClientRect(help.window(), &client);
        GetWindowRect(view, &page);
        EXPECT_EQ(page.right - page.left, client.right);
        EXPECT_EQ(page.bottom - page.top, client.bottom);
        GUITHREADINFO focus = {};
        focus.cbSize = sizeof focus;
        GetGUIThreadInfo(help.threadId(), &focus);
        EXPECT_EQ(focus.hwndFocus, view);
        std::wstring text(static_cast<size_t>(SendMessageW(view, WM_GETTEXTLENGTH, 0, 0)), L'\0');
        SendMessageW(view, WM_GETTEXT, text.size() + 1, reinterpret_cast<LPARAM>(text.data()));
        PostMessageW(help.window(), WM_COMMAND, IDOK, 0);
        EXPECT_EQ(help.Result(), 0u);
        return text;
    }
    BOOL (*saved)(SHELLEXECUTEINFOW*) = nullptr;
};

TEST_F(HelpTest, ShowsEachKindOfArgument)
{
    test::TempFolder folder;
    std::wstring page = folder / L"page.htm";
    test::WriteBytes(page, "\xEF\xBB\xBF" + test::Utf8(L"<h1>标题</h1><p>a&amp;b</p>"));
    std::wstring today = folder / L"today.htm";                       // UTF-8 without mark or declaration
    test::WriteBytes(today, test::Utf8(L"<p>Let\x2019s</p>"));
    const struct {
        std::wstring argument;
        std::wstring shown;
        int line;
    } CASES[] = {
        {page, L"标题\r\na&b", __LINE__},
        {L"FiLe://" + page, L"标题\r\na&b", __LINE__},                  // the prefix in any case
        {today, L"Let\x2019s", __LINE__},
        {L"plain <b>bold</b> text", L"plain bold text", __LINE__},
        {folder.path(), folder.path(), __LINE__},                      // a folder is no file: its path is the text
        {folder / L"missing.htm", folder / L"missing.htm", __LINE__},
    };
    for (const auto& c : CASES)
        EXPECT_EQ(Shown(c.argument.c_str()), c.shown) << "case at line " << c.line;
}

// A page named by its path opens a relative link from its own folder; the same page given
// as text has no folder, and its link names no program in the current one.
TEST_F(HelpTest, RelativeLinksStartFromThePagesFolder)
{
    test::TempFolder folder;
    const char* html = "<p><a href=\"setup.exe\">setup</a></p>";
    test::WriteBytes(folder / L"guide.htm", html);
    for (std::wstring argument : {folder / L"guide.htm", test::Widen(html)}) {
        ModalWindow help([&] { return ShowHelp(nullptr, argument.data()); });
        HWND view = FindWindowExW(help.window(), nullptr, L"DISPLAYCLASS", nullptr);
        LRESULT at = SendMessageW(view, EM_POSFROMCHAR, 0, 0);
        ASSERT_NE(at, -1);
        LPARAM where = MAKELPARAM(LOWORD(at) + 2, HIWORD(at) + 3);
        SendMessageW(view, WM_LBUTTONDOWN, MK_LBUTTON, where);
        SendMessageW(view, WM_LBUTTONUP, 0, where);
        PostMessageW(help.window(), WM_COMMAND, IDOK, 0);
        EXPECT_EQ(help.Result(), 0u);
    }
    auto calls = ShellRecorder::Calls();
    ASSERT_EQ(calls.size(), 1u);
    EXPECT_EQ(calls[0].file, folder / L"setup.exe");
}

TEST_F(HelpTest, WebAddressesGoToTheBrowser)
{
    for (const wchar_t* address : {L"http://varnolt.example.org/a", L"HTTPS://varnolt.example.org/b?c=1"}) {
        ShellRecorder::Clear();
        EXPECT_NE(Shown(address).find(address), std::wstring::npos) << test::Utf8(address);
        auto calls = ShellRecorder::Calls();
        ASSERT_EQ(calls.size(), 1u) << test::Utf8(address);
        EXPECT_EQ(calls[0].file, address);
    }
}

TEST_F(HelpTest, WithoutGuideShowsWhereTheOnlineHelpIs)
{
    for (const wchar_t* argument : {static_cast<const wchar_t*>(nullptr), L""})
        EXPECT_EQ(Shown(argument), L"找不到帮助文件，您可以转到 Internet 上查看在线帮助\r\n在线帮助");
    EXPECT_TRUE(ShellRecorder::Calls().empty());
}

} // namespace
