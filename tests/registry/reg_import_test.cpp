#include "registry/registry.h"
#include "registry_test_support.h"
#include "support/test_support.h"
#include <gtest/gtest.h>
#include <vector>

namespace {

using namespace regtest;

constexpr DWORD NOT_REGISTRY = ERROR_NOT_REGISTRY_FILE;

// Imports a writable copy of 'text' kept in 'buffer', so that a cursor can point into it.
DWORD Import(std::vector<wchar_t>& buffer, const std::wstring& text, wchar_t** cursor)
{
    buffer.assign(text.begin(), text.end());
    buffer.push_back(0);
    return ImportRegistryText(buffer.data(), cursor);
}

DWORD Import(const std::wstring& text)
{
    std::vector<wchar_t> buffer;
    return Import(buffer, text, nullptr);
}

struct ValueCase {
    const wchar_t* text;        // one value line (it may continue) under the test key
    const wchar_t* name;
    DWORD type;
    std::string bytes;
    int line;
};
#define VALUE_CASE(t, n, y, b) {t, n, y, std::string(b, sizeof(b) - 1), __LINE__}

const ValueCase VALUE_CASES[] = {
    VALUE_CASE(L"\"d1\"=dword:0000000a", L"d1", REG_DWORD, "\x0a\0\0\0"),
    VALUE_CASE(L"\"d2\"=DWORD:ffffffff", L"d2", REG_DWORD, "\xff\xff\xff\xff"),
    VALUE_CASE(L"\"d3\"=dword:123456789", L"d3", REG_DWORD, "\x89\x67\x45\x23"),   // low 32 bits kept
    VALUE_CASE(L"\"b1\"=hex:01,ff,7F", L"b1", REG_BINARY, "\x01\xff\x7f"),
    VALUE_CASE(L"\"b2\"=hex:", L"b2", REG_BINARY, ""),
    VALUE_CASE(L"\"b3\"=hex: 1,2", L"b3", REG_BINARY, "\x01\x20"),                 // blanks count as 0
    VALUE_CASE(L"\"b4\"=hex:01,\\\r\n  02,\\\n03", L"b4", REG_BINARY, "\x01\x02\x03"),
    VALUE_CASE(L"\"x2\"=hex(2):25,00,00,00", L"x2", REG_EXPAND_SZ, "%\0\0\0"),
    VALUE_CASE(L"\"x7\"=hex(7):61,00,00,00,00,00", L"x7", REG_MULTI_SZ, "a\0\0\0\0\0"),
    VALUE_CASE(L"\"xb\"=hex(b):01,02,03,04,05,06,07,08", L"xb", REG_QWORD, "\x01\x02\x03\x04\x05\x06\x07\x08"),
    VALUE_CASE(L"\"m1\"=multi_sz:\"a\",\"b\"", L"m1", REG_MULTI_SZ, "a\0\0\0b\0\0\0\0\0"),
    VALUE_CASE(L"\"s1\"=\"C:\\\\d\\n\"", L"s1", REG_SZ, "C\0:\0\\\0d\0n\0\0\0"),      // "\n" is the letter n
    VALUE_CASE(L"\"s2\"=\"ab\\\r\n\"c\"", L"s2", REG_SZ, "a\0b\0\"\0c\0\0\0"),      // continuation starting with "
    VALUE_CASE(L"\"s3\"=\"hex:41\"", L"s3", REG_SZ, "h\0e\0x\0:\0" "4\0" "1\0\0\0"),     // type words inside quotes are text
    VALUE_CASE(L"\"q\\\"=n\"=\"\"", L"q\"=n", REG_SZ, "\0\0"),
    VALUE_CASE(L"\"mu\"=mui_sz:\"x\"", L"mu", 21, "x\0\0\0"),
    VALUE_CASE(L"@=\"default\"", nullptr, REG_SZ, "d\0e\0f\0a\0u\0l\0t\0\0\0"),
};

TEST(RegImport, ValueLines)
{
    TestKey key(L"values");
    for (const auto& c : VALUE_CASES) {
        EXPECT_EQ(Import(L"[" + key.Long() + L"]\r\n" + c.text + L"\r\n"), 0u) << "case at line " << c.line;
        auto value = ReadValue(HKEY_CURRENT_USER, key.path(), c.name);
        EXPECT_EQ(value.type, c.type) << "case at line " << c.line;
        EXPECT_EQ(value.bytes, c.bytes) << "case at line " << c.line;
    }
    // Skipped: "hex" without a colon, a name or data without its closing quote, no "=".
    EXPECT_EQ(Import(WithKey(L"[{K}\\skip]\n\"h\"=hex 41\n\"n=\"v\"\n\"d\"=\"v\n\"e\" \"v\"", key.Script())), 0u);
    HKEY handle = OpenRegistryKey(HKEY_CURRENT_USER, (key.path() + L"\\skip").c_str(), KEY_READ);
    DWORD values = 99;
    RegQueryInfoKeyW(handle, nullptr, nullptr, nullptr, nullptr, nullptr, nullptr, &values, nullptr, nullptr, nullptr, nullptr);
    CloseRegistryKey(handle);
    EXPECT_EQ(values, 0u);
}

TEST(RegImport, DeletesValuesAndKeys)
{
    TestKey key(L"delete");
    ASSERT_EQ(Import(WithKey(L"[{K}]\r\n@=\"d\"\r\n\"gone\"=\"x\"\r\n\"kept\"=\"y\"\r\n[{K}\\sub\\deep]\r\n", key.Long())), 0u);
    // The value line after [-...] has no key: a foreign line.
    EXPECT_EQ(Import(WithKey(L"[{K}]\r\n\"gone\"=-\r\n@=-\r\n\"kept\"= -\r\n[-{K}\\sub]\r\n\"v\"=\"1\"", key.Long())),
              NOT_REGISTRY);
    EXPECT_FALSE(ReadValue(HKEY_CURRENT_USER, key.path(), L"gone").exists);
    EXPECT_FALSE(ReadValue(HKEY_CURRENT_USER, key.path(), nullptr).exists);
    EXPECT_TRUE(ReadValue(HKEY_CURRENT_USER, key.path(), L"kept").exists);   // "-" not right after "="
    EXPECT_FALSE(KeyExists(HKEY_CURRENT_USER, key.path() + L"\\sub"));
}

TEST(RegImport, KeyAndForeignLines)
{
    TestKey key(L"keys");
    EXPECT_EQ(Import(WithKey(L"[{K}\\odd] \r\n\"v\"=\"1\"", key.Script())), 0u);   // the name ends at the "]"
    EXPECT_TRUE(ReadValue(HKEY_CURRENT_USER, key.path() + L"\\odd", L"v").exists);
    EXPECT_EQ(Import(L"[hkcu\\" + key.path() + L"\\low]\r\n\"v\"=\"1\""), NOT_REGISTRY);   // roots are exact
    EXPECT_FALSE(KeyExists(HKEY_CURRENT_USER, key.path() + L"\\low"));
    EXPECT_EQ(Import(WithKey(L"[{K}]\r\nforeign\r\n\"last\"=\"1\"", key.Script())), NOT_REGISTRY);
    EXPECT_TRUE(ReadValue(HKEY_CURRENT_USER, key.path(), L"last").exists);   // without a cursor the import goes on
    EXPECT_EQ(Import(L"[\r\n[]\r\n;comment\r\n\r\n   \t\r\n"), 0u);
}

TEST(RegImport, CursorStopsAtFirstForeignLine)
{
    TestKey key(L"cursor");
    std::vector<wchar_t> text;
    wchar_t* cursor = nullptr;
    EXPECT_EQ(Import(text, WithKey(L"[{K}]\r\n\"a\"=\"1\"\r\n  \tEVAL x\r\n\"b\"=\"2\"", key.Script()), &cursor), NOT_REGISTRY);
    EXPECT_EQ(std::wstring(cursor), L"EVAL x\r\n\"b\"=\"2\"");
    EXPECT_FALSE(ReadValue(HKEY_CURRENT_USER, key.path(), L"b").exists);
    EXPECT_EQ(Import(text, WithKey(L"[{K}]\r\n\"c\"=\"3\"\r\n", key.Script()), &cursor), 0u);
    EXPECT_EQ(cursor, text.data() + text.size() - 1);
}

struct ProblemCase {
    const wchar_t* text;        // {K} the test key, {L} a key name and {N} a value name the registry refuses
    bool cursor;
    DWORD result;
    int line;
};
#define PROBLEM_CASE(t, c, r) {t, c, r, __LINE__}

constexpr DWORD REFUSED = ERROR_INVALID_PARAMETER;

const ProblemCase PROBLEM_CASES[] = {
    PROBLEM_CASE(L"[{K}\\{L}]\n\"v\"=\"1\"\n[{K}]\n\"last\"=\"1\"", false, REFUSED),
    PROBLEM_CASE(L"[{K}\\{L}]\n\"v\"=\"1\"\n[{K}]\n\"last\"=\"1\"", true, REFUSED),   // its values do not end a section
    PROBLEM_CASE(L"[{K}]\n\"{N}\"=\"1\"\n\"last\"=\"1\"", false, REFUSED),
    PROBLEM_CASE(L"[{K}]\n\"{N}\"=\"1\"\nforeign\n\"last\"=\"1\"", false, REFUSED),      // the first problem wins
    PROBLEM_CASE(L"[{K}]\nforeign\n\"{N}\"=\"1\"\n\"last\"=\"1\"", false, NOT_REGISTRY),
    PROBLEM_CASE(L"[-{K}\\never]\n[{K}]\n\"never\"=-\n\"last\"=\"1\"", false, 0),        // nothing to delete is no failure
};

// A key or value the registry refuses is reported, and the import goes on.
TEST(RegImport, RefusedWritesAreReported)
{
    TestKey key(L"refused");
    for (const auto& c : PROBLEM_CASES) {
        std::wstring text = WithKey(c.text, key.Script());
        for (auto [mark, name] : {std::pair{L"{L}", std::wstring(300, L'k')}, {L"{N}", std::wstring(20000, L'n')}})
            if (size_t at = text.find(mark); at != std::wstring::npos)
                text.replace(at, 3, name);
        std::vector<wchar_t> buffer;
        wchar_t* cursor = nullptr;
        EXPECT_EQ(Import(buffer, text, c.cursor ? &cursor : nullptr), c.result) << "case at line " << c.line;
        EXPECT_TRUE(ReadValue(HKEY_CURRENT_USER, key.path(), L"last").exists) << "case at line " << c.line;
        EXPECT_TRUE(!c.cursor || (cursor && !*cursor)) << "case at line " << c.line;
        RegDeleteTreeW(HKEY_CURRENT_USER, key.path().c_str());
    }
}

// A value line joined from many continuation lines has no length limit.
TEST(RegImport, LongContinuedLine)
{
    TestKey key(L"longline");
    std::wstring line = L"\"big\"=hex:";
    std::string expected;
    for (int i = 0; i < 6000; ++i) {
        wchar_t group[16];
        wsprintfW(group, i % 16 == 15 ? L"%02x,\\\r\n  " : L"%02x,", i & 0xFF);
        line += group;
        expected += static_cast<char>(i & 0xFF);
    }
    EXPECT_EQ(Import(L"[" + key.Script() + L"]\r\n" + line), 0u);
    EXPECT_EQ(ReadValue(HKEY_CURRENT_USER, key.path(), L"big").bytes, expected);
}

} // namespace
