#include "base/base.h"
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

TEST(Files, ReadLimit)
{
    test::TempFolder folder;
    std::wstring path = folder / L"data.bin";
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

TEST(Files, FilesTooLargeToHoldAreRefusedNotCut)
{
    test::TempFolder folder;
    std::wstring path = folder / L"huge.vrs";
    test::WriteBytes(path, "EVAL x=1\r\n");
    test::ExtendFile(path, 0x80000000LL);                 // 8-bit text too long to convert in one piece
    EXPECT_EQ(ReadTextFile(path.c_str(), nullptr), nullptr);
    DWORD limit = 10;                               // a limit asks for the cut
    wchar_t* text = ReadTextFile(path.c_str(), &limit);
    ASSERT_NE(text, nullptr);
    EXPECT_EQ(std::wstring(text), L"EVAL x=1\r\n");
    free(text);

    test::ExtendFile(path, 0x100000010LL);                // more bytes than a DWORD counts
    EXPECT_EQ(ReadFileBytes(path.c_str(), nullptr, nullptr), nullptr);
    limit = 4;
    auto* bytes = static_cast<char*>(ReadFileBytes(path.c_str(), &limit, nullptr));
    ASSERT_NE(bytes, nullptr);
    EXPECT_EQ(std::string(bytes), "EVAL");
    free(bytes);
}

} // namespace
