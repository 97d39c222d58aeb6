#include "commands/commands.h"
#include "support/test_support.h"
#include <gtest/gtest.h>

namespace {

struct ShortcutCase {
    const wchar_t* arguments;   // after "LINK <path>,"
    const char* content;
    int line;
};
#define SHORTCUT_CASE(a, c) {a, c, __LINE__}

const ShortcutCase SHORTCUT_CASES[] = {
    SHORTCUT_CASE(L"\\Windows\\calc.exe", "17#\\Windows\\calc.exe"),
    SHORTCUT_CASE(L"\\Program Files\\App\\app.exe", "28#\"\\Program Files\\App\\app.exe\""),
    SHORTCUT_CASE(L"\\Program Files\\App\\app.exe,-s", "31#\"\\Program Files\\App\\app.exe\" -s"),
    SHORTCUT_CASE(L"\\Windows\\calc.exe,-s", "22#\"\\Windows\\calc.exe\" -s"),       // parameters always quote
    SHORTCUT_CASE(L"\\Windows\\calc.exe,,\\Windows\\icons.dll,-5", "17#\\Windows\\calc.exe?\\Windows\\icons.dll,-5"),
    SHORTCUT_CASE(L"\\a b.exe,,i.dll", "10#\"\\a b.exe\"?i.dll"),
    SHORTCUT_CASE(L"\\a.exe,-x -y,i.dll,3", "14#\"\\a.exe\" -x -y?i.dll,3"),
    SHORTCUT_CASE(L",,i.dll,2", "0#i.dll,2"),                                        // no target: no '?'
    SHORTCUT_CASE(L"\\a.exe,,", "6#\\a.exe"),                                        // an empty icon adds nothing
    SHORTCUT_CASE(L"\"\\a.exe\"", "8#\"\\a.exe\""),                                  // written quotes are kept
    SHORTCUT_CASE(L"\\a.exe,p%,q", "12#\"\\a.exe\" p,q"),
    SHORTCUT_CASE(L"", "0#"),
};

TEST(Shortcut, ExactContent)
{
    test::TempFolder folder;
    std::wstring path = folder / L"App.lnk";
    for (const auto& c : SHORTCUT_CASES) {
        EXPECT_EQ(test::Run(L"LINK " + path + L"," + c.arguments), 0u) << "case at line " << c.line;
        EXPECT_EQ(test::ReadBytes(path), c.content) << "case at line " << c.line;
    }
}

TEST(Shortcut, MissingTargetWritesNothing)
{
    test::TempFolder folder;
    std::wstring path = folder / L"App.lnk";
    EXPECT_EQ(test::Run(L"LINK " + path), static_cast<DWORD>(ERROR_PATH_NOT_FOUND));
    EXPECT_EQ(test::Run(L"LINK"), static_cast<DWORD>(ERROR_PATH_NOT_FOUND));
    EXPECT_FALSE(test::Exists(path));
}

TEST(Shortcut, CreatesFoldersAndReplacesOldShortcut)
{
    test::TempFolder folder;
    std::wstring path = folder / L"Start Menu\\Programs\\App.lnk";
    EXPECT_EQ(test::Run(L"LINK " + path + L",\\old.exe"), 0u);
    EXPECT_EQ(test::Run(L"LINK " + path + L",\\new.exe"), 0u);
    EXPECT_EQ(test::ReadBytes(path), "8#\\new.exe");
}

// An existing shortcut is replaced only by a complete new one beside it, which keeps its
// hidden bit; a read-only one is not replaced. Nothing is left beside either.
TEST(Shortcut, ReplacementKeepsHiddenAndSparesReadOnly)
{
    test::TempFolder folder;
    std::wstring hidden = folder / L"hidden.lnk", locked = folder / L"locked.lnk";
    test::WriteBytes(hidden, "old");
    test::WriteBytes(locked, "old");
    SetFileAttributesW(hidden.c_str(), FILE_ATTRIBUTE_HIDDEN);
    SetFileAttributesW(locked.c_str(), FILE_ATTRIBUTE_READONLY);
    EXPECT_EQ(test::Run(L"LINK " + hidden + L",\\a.exe"), 0u);
    EXPECT_EQ(test::ReadBytes(hidden), "6#\\a.exe");
    EXPECT_NE(GetFileAttributesW(hidden.c_str()) & FILE_ATTRIBUTE_HIDDEN, 0u);
    EXPECT_EQ(test::Run(L"LINK " + locked + L",\\a.exe"), static_cast<DWORD>(E_FAIL));
    EXPECT_EQ(test::ReadBytes(locked), "old");
    SetFileAttributesW(locked.c_str(), FILE_ATTRIBUTE_NORMAL);
    WIN32_FIND_DATAW found;
    HANDLE search = FindFirstFileW((folder / L"~*").c_str(), &found);
    EXPECT_EQ(search, INVALID_HANDLE_VALUE);
    if (search != INVALID_HANDLE_VALUE)
        FindClose(search);
}

TEST(Shortcut, FailuresGiveEFail)
{
    test::TempFolder folder;
    std::wstring path = folder / L"App.lnk";
    EXPECT_EQ(test::Run(L"LINK " + path + L"," + std::wstring(1100, L'x')), static_cast<DWORD>(E_FAIL));
    EXPECT_FALSE(test::Exists(path));
    CreateDirectoryW(path.c_str(), nullptr);                        // a folder cannot be written as a file
    EXPECT_EQ(test::Run(L"LINK " + path + L",\\a.exe"), static_cast<DWORD>(E_FAIL));
}

} // namespace
