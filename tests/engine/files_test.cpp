#include "engine/engine.h"
#include "support/test_support.h"
#include <gtest/gtest.h>
#include <cstdlib>
#include <string>

namespace {

std::wstring Ansi(const std::string& bytes)
{
    wchar_t text[64] = {};
    MultiByteToWideChar(CP_ACP, 0, bytes.data(), static_cast<int>(bytes.size()), text, 63);
    return text;
}

struct TextFileCase {
    std::string bytes;
    std::wstring expected;
    int line;
};

TEST(Files, ReadTextFileEncodings)
{
    const TextFileCase cases[] = {
        {"\xFF\xFE" + test::Utf16Bytes(L"h\x00e9llo\r\n"), L"h\x00e9llo\r\n", __LINE__},
        {test::Utf16Bytes(L"hi"), L"hi", __LINE__},                           // UTF-16 without mark
        {"\xEF\xBB\xBF" + test::Utf8(L"\x4e2d\x6587 MSGX"), L"\x4e2d\x6587 MSGX", __LINE__},
        {"caf\xE9", Ansi("caf\xE9"), __LINE__},                               // ANSI code page
        {"\xE4\xB8\xAD", Ansi("\xE4\xB8\xAD"), __LINE__},                     // UTF-8 without mark is ANSI
        {test::Utf16Bytes(L"\x4e2d" L"a"), Ansi("\x2D\x4E" "a"), __LINE__},   // first unit >= 256: 8-bit
        {"", L"", __LINE__},
        {"A", L"A", __LINE__},
        {"AB", L"AB", __LINE__},
        {"\xFF\xFE", L"", __LINE__},
        {"\xEF\xBB\xBF", L"", __LINE__},
        {"\xEF\xBB", L"", __LINE__},
    };
    test::TempFolder folder;
    for (const auto& c : cases) {
        std::wstring path = folder / L"text.vrs";
        test::WriteBytes(path, c.bytes);
        wchar_t* text = ReadTextFile(path.c_str(), nullptr);
        ASSERT_NE(text, nullptr) << "case at line " << c.line;
        EXPECT_EQ(std::wstring(text), c.expected) << "case at line " << c.line;
        free(text);
    }
    EXPECT_EQ(ReadTextFile((folder / L"missing").c_str(), nullptr), nullptr);
}

TEST(Files, ReadLimitAndWriteModes)
{
    test::TempFolder folder;
    std::wstring path = folder / L"data.bin";
    EXPECT_EQ(WriteFileBytes(path.c_str(), "abcdef", 6, false), 6u);
    EXPECT_EQ(WriteFileBytes(path.c_str(), "gh", 2, true), 2u);
    EXPECT_EQ(test::ReadBytes(path), "abcdefgh");
    EXPECT_EQ(WriteFileBytes(path.c_str(), "xy", 2, false), 2u);     // replaces
    EXPECT_EQ(test::ReadBytes(path), "xy");
    EXPECT_EQ(WriteFileBytes((folder / L"no\\such\\dir.bin").c_str(), "a", 1, false), 0u);

    test::WriteBytes(path, "0123456789");
    DWORD limit = 4;
    auto* bytes = static_cast<char*>(ReadFileBytes(path.c_str(), &limit, nullptr));
    ASSERT_NE(bytes, nullptr);
    EXPECT_EQ(limit, 4u);
    EXPECT_EQ(std::string(bytes), "0123");
    free(bytes);
    limit = 6;
    wchar_t* text = ReadTextFile(path.c_str(), &limit);
    EXPECT_EQ(std::wstring(text), L"012345");
    EXPECT_EQ(limit, 12u);                     // bytes of UTF-16 content
    free(text);
}

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

    test::WriteBytes(path, "\t<wap-provisioningdoc/>");
    EXPECT_EQ(LoadPath(path), static_cast<DWORD>(E_NOTIMPL));
    EXPECT_EQ(LoadPath(folder / L"missing.vrs"), 110u);
    test::WriteBytes(path, "");
    EXPECT_EQ(LoadPath(path), 0u);
}

// Makes 'path' 'size' bytes long without writing them (a sparse file on the build machine).
void ExtendFile(const std::wstring& path, LONGLONG size)
{
    HANDLE file = CreateFileW(path.c_str(), GENERIC_WRITE, 0, nullptr, OPEN_EXISTING, 0, nullptr);
    ASSERT_NE(file, INVALID_HANDLE_VALUE);
    LARGE_INTEGER end;
    end.QuadPart = size;
    EXPECT_TRUE(SetFilePointerEx(file, end, nullptr, FILE_BEGIN) && SetEndOfFile(file));
    CloseHandle(file);
}

TEST(Files, FilesTooLargeToHoldAreRefusedNotCut)
{
    test::TempFolder folder;
    std::wstring path = folder / L"huge.vrs";
    test::WriteBytes(path, "EVAL x=1\r\n");
    ExtendFile(path, 0x80000000LL);                 // 8-bit text too long to convert in one piece
    EXPECT_EQ(ReadTextFile(path.c_str(), nullptr), nullptr);
    EXPECT_EQ(LoadPath(path), 110u);
    DWORD limit = 10;                               // a limit asks for the cut
    wchar_t* text = ReadTextFile(path.c_str(), &limit);
    ASSERT_NE(text, nullptr);
    EXPECT_EQ(std::wstring(text), L"EVAL x=1\r\n");
    free(text);

    ExtendFile(path, 0x100000010LL);                // more bytes than a DWORD counts
    EXPECT_EQ(ReadFileBytes(path.c_str(), nullptr, nullptr), nullptr);
    limit = 4;
    auto* bytes = static_cast<char*>(ReadFileBytes(path.c_str(), &limit, nullptr));
    ASSERT_NE(bytes, nullptr);
    EXPECT_EQ(std::string(bytes), "EVAL");
    free(bytes);
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

TEST(Files, ShellOpen)
{
    // A program opens through the shell with the parameters after the comma, not waited for.
    test::TempFolder folder;
    EXPECT_EQ(OpenLine(test::ProgramFolder() + L"\\Varnolt.exe\x01" L"EVAL x=3"), 0u);
    test::WriteBytes(folder / L"orphan.zzqq", "x");
    EXPECT_NE(OpenLine(folder / L"orphan.zzqq"), 0u);      // no program for it: the error shows
}

} // namespace
