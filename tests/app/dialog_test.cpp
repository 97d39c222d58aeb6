// DLGX as a script line: the title rule, and @ items on the real registry. A helper thread
// answers each dialog while the line waits in it.
#include "base/base.h"
#include "registry/registry_test_support.h"
#include "support/test_support.h"
#include <gtest/gtest.h>
#include <functional>
#include <string>
#include <thread>

namespace {

using namespace regtest;

constexpr int FIRST_ITEM = 4531;

struct Answered {
    bool found = false;
    std::wstring title;
    std::wstring firstText;
};

// Runs 'line'; a helper thread waits for the dialog, notes its title and its first item's
// text, clicks the items listed in 'clicks' ('a' is item 0) and presses 'button'.
DWORD RunAnswered(const std::wstring& line, const wchar_t* clicks, UINT button, Answered& answered)
{
    std::thread helper([&] {
        HWND dialog = test::WaitForWindow(GetCurrentProcessId(), L"#32770", nullptr);
        if (!dialog)
            return;
        answered.found = true;
        wchar_t text[MAX_PATH] = {};
        GetWindowTextW(dialog, text, MAX_PATH);
        answered.title = text;
        GetDlgItemTextW(dialog, FIRST_ITEM, text, MAX_PATH);
        answered.firstText = text;
        for (const wchar_t* click = clicks; *click; ++click)
            SendDlgItemMessageW(dialog, FIRST_ITEM + (*click - L'a'), BM_CLICK, 0, 0);
        PostMessageW(dialog, WM_COMMAND, MAKEWPARAM(button, BN_CLICKED), 0);
    });
    DWORD result = test::Run(line);
    helper.join();
    return result;
}

struct TitleCase {
    const wchar_t* line;
    const wchar_t* title;
    const wchar_t* firstText;
    DWORD result;
    int line_;
};
#define TITLE_CASE(l, t, f, r) {l, t, f, r, __LINE__}

const TitleCase TITLE_CASES[] = {
    TITLE_CASE(L"DLGX $Hello", L"Varnolt", L"Hello", 0),      // an item mark first: the application's title
    TITLE_CASE(L"DLGX <*>a,[]b", L"Varnolt", L"a", 1),
    TITLE_CASE(L"DLGX [x]a", L"Varnolt", L"a", 1),
    TITLE_CASE(L"DLGX {}a,<*>b", L"Varnolt", L"a", 2),
    TITLE_CASE(L"DLGX Greeting%, friend,$Hello", L"Greeting, friend", L"Hello", 0),
    TITLE_CASE(L"DLGX Only a title", L"Only a title", L"", 0),    // and one empty edit box
    TITLE_CASE(L"DLGX #x,$Hello", L"#x", L"Hello", 0),
};

class DlgxLine : public ::testing::Test {
protected:
    void SetUp() override
    {
        if (!test::HasDisplay())
            GTEST_SKIP() << "no display";
    }
};

TEST_F(DlgxLine, TitleRule)
{
    for (const auto& c : TITLE_CASES) {
        Answered answered;
        EXPECT_EQ(RunAnswered(c.line, L"", IDOK, answered), c.result) << "case at line " << c.line_;
        ASSERT_TRUE(answered.found) << "case at line " << c.line_;
        EXPECT_EQ(answered.title, c.title) << "case at line " << c.line_;
        EXPECT_EQ(answered.firstText, c.firstText) << "case at line " << c.line_;
    }
    EXPECT_STREQ(ScriptVariables[0], L"");
}

TEST_F(DlgxLine, RegistryItemsReadAndWrite)
{
    TestKey key(L"dlgx");
    SetValue(HKEY_CURRENT_USER, key.path(), L"Flag", REG_DWORD, std::string("\x01\0\0\0", 4));
    SetValue(HKEY_CURRENT_USER, key.path(), L"Theme", REG_SZ, TextBytes(L"DARK"));
    std::wstring line = WithKey(L"DLGX @Start|{K}\\#Flag=1?0,@Dark|{K}\\Theme=dark?light,@New|{K}\\#Fresh=7?3", key.Script());
    RegistryDump before = Dump(key);
    Answered answered;
    EXPECT_EQ(RunAnswered(line, L"ac", IDCANCEL, answered), 0xFFFFFFFFu);
    EXPECT_EQ(Dump(key), before);

    EXPECT_EQ(RunAnswered(line, L"ac", IDOK, answered), 6u);    // Flag and Theme started checked
    EXPECT_EQ(ReadValue(HKEY_CURRENT_USER, key.path(), L"Flag").bytes, std::string("\0\0\0\0", 4));
    EXPECT_EQ(ReadValue(HKEY_CURRENT_USER, key.path(), L"Theme").bytes, TextBytes(L"dark"));
    StoredValue fresh = ReadValue(HKEY_CURRENT_USER, key.path(), L"Fresh");
    EXPECT_EQ(fresh.type, static_cast<DWORD>(REG_DWORD));
    EXPECT_EQ(fresh.bytes, std::string("\x07\0\0\0", 4));
}

} // namespace
