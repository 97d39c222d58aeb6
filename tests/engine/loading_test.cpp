#include "engine/engine.h"
#include "engine_test_support.h"
#include "support/test_support.h"
#include <gtest/gtest.h>
#include <cstdlib>
#include <string>

namespace {

DWORD LoadPath(const std::wstring& path)
{
    std::wstring writable = path;
    return LoadFile(writable.data());
}

TEST(Files, LoadFileRouting)
{
    test::TempFolder folder;
    std::wstring path = folder / L"routed.txt";
    ScriptVariables[1][0] = 0;
    test::WriteBytes(path, "\r\n  EVAL 1=script\r\nEVAL x=9\r\n");
    EXPECT_EQ(LoadPath(path), 9u);
    EXPECT_STREQ(ScriptVariables[1], L"script");

    // Registry files are recognised after blank lines and a mark, and never run as scripts.
    const std::string registryFiles[] = {
        "REGEDIT4\r\nEVAL 1=ran\r\n",
        "\xEF\xBB\xBF\r\n\r\nREGEDIT4\nEVAL 1=ran\n",
        "\xFF\xFE" + test::Utf16Bytes(L"\r\nWindows Registry Editor Version 5.00\r\nEVAL 1=ran\r\n"),
        "REGEDIT4",                                          // header alone: nothing after it is read
    };
    for (const auto& bytes : registryFiles) {
        ScriptVariables[1][0] = 0;
        test::WriteBytes(path, bytes);
        (void)LoadPath(path);
        EXPECT_STREQ(ScriptVariables[1], L"");
    }
    test::WriteBytes(path, "regedit4\r\nEVAL 1=ran\r\n");   // headers are exact: this is a script
    EXPECT_EQ(LoadPath(path), 0u);
    EXPECT_STREQ(ScriptVariables[1], L"ran");

    test::WriteBytes(path, "\t<wap-provisioningdoc><x/></wap-provisioningdoc>");
    enginetest::documentCalls.clear();
    EXPECT_EQ(LoadPath(path), enginetest::DOCUMENT_RESULT);    // to the configuration manager
    EXPECT_EQ(enginetest::documentCalls, L"<wap-provisioningdoc><x/></wap-provisioningdoc>|");
    EXPECT_EQ(LoadPath(folder / L"missing.vrs"), 110u);
    test::WriteBytes(path, "");
    EXPECT_EQ(LoadPath(path), 0u);
}

TEST(Files, ScriptsTooLargeToHoldAreRefused)
{
    test::TempFolder folder;
    std::wstring path = folder / L"huge.vrs";
    test::WriteBytes(path, "EVAL x=1\r\n");
    test::ExtendFile(path, 0x80000000LL);                 // 8-bit text too long to convert in one piece
    EXPECT_EQ(LoadPath(path), 110u);
}

TEST(Files, ScriptLoadingItselfStopsAtTheNestingCap)
{
    test::TempFolder folder;
    test::WriteBytes(folder / L"self.vrs", "LOAD %E\r\n");
    EXPECT_EQ(LoadPath(folder / L"self.vrs"), static_cast<DWORD>(ERROR_STACK_OVERFLOW));
    test::WriteBytes(folder / L"one.vrs", "LOAD %C\\two.vrs\r\n");
    test::WriteBytes(folder / L"two.vrs", "LOAD %C\\one.vrs\r\n");
    EXPECT_EQ(LoadPath(folder / L"one.vrs"), static_cast<DWORD>(ERROR_STACK_OVERFLOW));
}

DWORD OpenLine(const std::wstring& line)
{
    std::wstring writable = line;
    return OpenFilesByPattern(writable.data());
}

TEST(Files, OpenFilesByPattern)
{
    test::TempFolder folder;
    test::WriteBytes(folder / L"a.vrs", "EVAL 1=%1a\r\nEVAL x=5\r\n");
    test::WriteBytes(folder / L"b.vrs", "EVAL 1=%1b\r\nEVAL x=5\r\n");
    test::WriteBytes(folder / L"c.txt", "EVAL 1=%1c\r\n");
    ScriptVariables[1][0] = 0;
    EXPECT_EQ(OpenLine(folder / L"*.VRS"), 5u);            // the platform's matching ignores case
    std::wstring ran = ScriptVariables[1];
    EXPECT_TRUE(ran == L"ab" || ran == L"ba") << test::Utf8(ran);
    CreateDirectoryW((folder / L"sub").c_str(), nullptr);
    EXPECT_EQ(OpenLine(folder / L"sub"), 2u);             // a folder without '!' is skipped
    EXPECT_EQ(OpenLine(folder / L"none*.vrs"), 2u);
}

TEST(Files, RecursiveOpenFiltersNamesWithCase)
{
    test::TempFolder folder;
    for (const wchar_t* sub : {L"sub", L"sub\\deeper", L".hidden"})
        CreateDirectoryW((folder / sub).c_str(), nullptr);
    test::WriteBytes(folder / L"a.vrs", "EVAL 1=%1a\r\n");
    test::WriteBytes(folder / L"sub\\deeper\\b.vrs", "EVAL 1=%1b\r\n");
    test::WriteBytes(folder / L"sub\\C.VRS", "EVAL 1=%1C\r\n");
    test::WriteBytes(folder / L".hidden\\d.vrs", "EVAL 1=%1d\r\n");
    ScriptVariables[1][0] = 0;
    (void)OpenLine(L"!" + folder.path() + L"\\*.vrs");
    std::wstring ran = ScriptVariables[1];
    EXPECT_EQ(ran.size(), 2u) << test::Utf8(ran);
    EXPECT_NE(ran.find(L'a'), std::wstring::npos);
    EXPECT_NE(ran.find(L'b'), std::wstring::npos);
}

// True once 'path' holds 'bytes', waiting up to 'timeoutMs'.
bool WaitForContent(const std::wstring& path, const std::string& bytes, DWORD timeoutMs)
{
    for (DWORD waited = 0; waited < timeoutMs; waited += 50) {
        if (test::ReadBytes(path) == bytes)
            return true;
        Sleep(50);
    }
    return false;
}

TEST(Files, ShellOpen)
{
    // A program opens through the shell with the parameters after the comma, not waited
    // for: the program started writes its file a while after the line has returned.
    test::TempFolder folder;
    std::wstring ran = folder / L"ran.txt";
    EXPECT_EQ(OpenLine(test::ProgramFolder() + L"\\Varnolt.exe\x01" L"BATC WAIT 1500;FILE " + ran + L"< ok"), 0u);
    EXPECT_FALSE(test::Exists(ran));
    EXPECT_TRUE(WaitForContent(ran, "ok", 20000));
    test::WriteBytes(folder / L"orphan.zzqq", "x");
    EXPECT_NE(OpenLine(folder / L"orphan.zzqq"), 0u);      // no program for it: the error shows
}

} // namespace
