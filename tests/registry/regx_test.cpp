#include "registry/registry.h"
#include "registry_test_support.h"
#include "support/test_support.h"
#include <gtest/gtest.h>

namespace {

using namespace regtest;

constexpr DWORD BAD_ARGUMENT = 0x80070057;
constexpr DWORD NOT_FOUND = ERROR_FILE_NOT_FOUND;
constexpr const wchar_t* ANY = nullptr;     // variable 0 not checked

struct RegxCase {
    const wchar_t* script;      // "{K}" stands for HKCU\<test key>
    DWORD result;
    const wchar_t* variable0;   // expected afterwards; it holds "stale" before
    int line;
};
#define REGX_CASE(s, r, v) {s, r, v, __LINE__}

const RegxCase REGX_CASES[] = {
    REGX_CASE(L"REGX {K}\\#n1=5\nREGX {K}\\#n1", 5, ANY),
    REGX_CASE(L"REGX {K}\\#missing", 0, ANY),
    REGX_CASE(L"REGX {K}\\#missing=0?", 1, ANY),                 // a missing number tests as 0
    REGX_CASE(L"REGX {K}\\#u=4294967295\nREGX {K}\\#u", 0xFFFFFFFF, ANY),
    REGX_CASE(L"REGX {K}\\#u=4294967295\nREGX {K}\\#u=-1?", 1, ANY),
    REGX_CASE(L"REGX {K}\\#n2=7\nREGX {K}\\#n2=8?", 0, ANY),
    REGX_CASE(L"REGX {K}\\s1=C:\\a\\b.txt\nREGX {K}\\s1", 0, L"C:\\a\\b.txt"),
    REGX_CASE(L"REGX {K}\\missing", NOT_FOUND, L""),
    REGX_CASE(L"REGX {K}\\nokey\\value", NOT_FOUND, L""),
    REGX_CASE(L"REGX {K}\\s2=ON\nREGX {K}\\s2=on?x", 1, L"ON"),
    REGX_CASE(L"REGX {K}\\s3=ON\nREGX {K}\\s3=off?", 0, L"ON"),
    REGX_CASE(L"REGX {K}\\=dflt\nREGX {K}\\", 0, L"dflt"),       // empty value part: default value
    REGX_CASE(L"REGX {K}\\q=a?b\nREGX {K}\\q", NOT_FOUND, L""),   // a "?" makes it a test
    REGX_CASE(L"REGX {K}\\c=a,b\nREGX {K}\\c", 0, L"a\x01" L"b"),
    REGX_CASE(L"REGX {K}\\e=a=b\\c\nREGX {K}\\e", 0, L"a=b\\c"),   // the first "=" ends the name
    REGX_CASE(L"REGX {K}\\@r=41\nREGX {K}\\@r", NOT_FOUND, L""),  // reading, "@" is part of the name
    REGX_CASE(L"REGX {K}\\d1=x\nREGX {K}\\-d1\nREGX {K}\\d1", NOT_FOUND, L""),
    REGX_CASE(L"REGX {K}\\-nothing=x?", NOT_FOUND, ANY),          // deleting never compares
    REGX_CASE(L"REGX {K}\\sub\\deep\\v=1\nREGX {K}\\sub\\-\nREGX {K}\\sub\\deep\\v", NOT_FOUND, L""),
    REGX_CASE(L"REGX {K}\\gone\\-", NOT_FOUND, ANY),
    REGX_CASE(L"REGX hkcu\\Software\\x=1", BAD_ARGUMENT, ANY),
    REGX_CASE(L"REGX HKCU\\x=1", BAD_ARGUMENT, ANY),               // only the root's backslash
    REGX_CASE(L"REGX HKCU", BAD_ARGUMENT, ANY),
};

TEST(Regx, Forms)
{
    TestKey key(L"forms");
    for (const auto& c : REGX_CASES) {
        wcscpy(ScriptVariables[0], L"stale");
        EXPECT_EQ(test::Run(WithKey(c.script, key.Script())), c.result) << "case at line " << c.line;
        if (c.variable0) {
            EXPECT_EQ(std::wstring(ScriptVariables[0]), c.variable0) << "case at line " << c.line;
        }
    }
}

struct StoreCase {
    const wchar_t* args;        // after "REGX HKEY_CURRENT_USER\<test key>\"
    DWORD type;
    std::string bytes;
    int line;
};
#define STORE_CASE(a, t, b) {a, t, std::string(b, sizeof(b) - 1), __LINE__}

const StoreCase STORE_CASES[] = {
    STORE_CASE(L"@v=1f%,2%,AB CD", REG_BINARY, "\x1f\x20\xab"),
    STORE_CASE(L"@v=1", REG_BINARY, "\x10"),
    STORE_CASE(L"@v=zz%,f%,", REG_BINARY, "\x00\xf0"),      // non-hex characters count as 0
    STORE_CASE(L"@v=", REG_BINARY, ""),
    STORE_CASE(L"@v=1f,2", REG_BINARY, "\x1f"),               // a plain comma ends the argument
    STORE_CASE(L"#v=-1", REG_DWORD, "\xff\xff\xff\xff"),
    STORE_CASE(L"#v=2147483648", REG_DWORD, "\x00\x00\x00\x80"),     // unsigned values above the signed range
    STORE_CASE(L"#v=4294967295", REG_DWORD, "\xff\xff\xff\xff"),
    STORE_CASE(L"#v=4294967296", REG_DWORD, "\xff\xff\xff\x7f"),     // beyond 32 bits: saturated as before
    STORE_CASE(L"#v=-2147483649", REG_DWORD, "\x00\x00\x00\x80"),
    STORE_CASE(L"v=x", REG_SZ, "x\0\0\0"),
};

// "-" marks a deletion only when reading or testing: a setting stores a value named "-d".
TEST(Regx, MinusInSettingIsPartOfTheName)
{
    TestKey key(L"minus");
    SetValue(HKEY_CURRENT_USER, key.path(), L"d", REG_SZ, TextBytes(L"kept"));
    EXPECT_EQ(test::Run(L"REGX " + key.Script() + L"\\-d=new"), 0u);
    EXPECT_EQ(ReadValue(HKEY_CURRENT_USER, key.path(), L"-d").bytes, TextBytes(L"new"));
    EXPECT_EQ(ReadValue(HKEY_CURRENT_USER, key.path(), L"d").bytes, TextBytes(L"kept"));
}

TEST(Regx, StoresTypesAndBytes)
{
    TestKey key(L"store");
    for (const auto& c : STORE_CASES) {
        EXPECT_EQ(test::Run(L"REGX HKEY_CURRENT_USER\\" + key.path() + L"\\" + c.args), 0u) << "case at line " << c.line;
        auto value = ReadValue(HKEY_CURRENT_USER, key.path(), L"v");
        EXPECT_EQ(value.type, c.type) << "case at line " << c.line;
        EXPECT_EQ(value.bytes, c.bytes) << "case at line " << c.line;
    }
}

// Variable 0 stays a text within its 260 units whatever the value holds.
TEST(Regx, VariableZeroStaysTerminated)
{
    TestKey key(L"long");
    struct {
        std::string bytes;
        DWORD result;
        std::wstring variable0;
    } cases[] = {
        {TextBytes(std::wstring(259, L'x')), 0, std::wstring(259, L'x')},
        {test::Utf16Bytes(std::wstring(260, L'y')), ERROR_MORE_DATA, L""},     // no room for the terminator
        {TextBytes(std::wstring(300, L'z')), ERROR_MORE_DATA, L""},
        {std::string("A\0B", 3), 0, L"AB"},                                   // half a unit, no terminator
    };
    for (const auto& c : cases) {
        SetValue(HKEY_CURRENT_USER, key.path(), L"v", REG_BINARY, c.bytes);
        memset(ScriptVariables[0], 'q', sizeof ScriptVariables[0]);
        std::wstring args = key.Script() + L"\\v";
        EXPECT_EQ(RegistryCommand(args.data()), c.result) << c.bytes.size();
        EXPECT_EQ(std::wstring(ScriptVariables[0], wcsnlen(ScriptVariables[0], MAX_PATH_CHARS)), c.variable0);
    }
}

// A value of any type is read into variable 0 as its bytes stand.
TEST(Regx, ReadsAnyTypeIntoVariableZero)
{
    TestKey key(L"types");
    SetValue(HKEY_CURRENT_USER, key.path(), L"d", REG_DWORD, std::string("A\0B\0", 4));
    SetValue(HKEY_CURRENT_USER, key.path(), L"m", REG_MULTI_SZ, test::Utf16Bytes(std::wstring(L"a\0bc\0\0", 6)));
    EXPECT_EQ(test::Run(L"REGX " + key.Script() + L"\\d"), 0u);
    EXPECT_EQ(std::wstring(ScriptVariables[0], 3), std::wstring(L"AB\0", 3));
    EXPECT_EQ(test::Run(L"REGX " + key.Script() + L"\\m"), 0u);
    EXPECT_EQ(std::wstring(ScriptVariables[0], 7), std::wstring(L"a\0bc\0\0\0", 7));
}

// Each root answers to its short and its long prefix: what one writes, the other reads.
TEST(Regx, EveryRootByBothNames)
{
    std::wstring own = L"VarnoltTest-" + std::to_wstring(GetCurrentProcessId()) + L"-roots";
    const struct {
        HKEY root;
        const wchar_t* shortName;
        const wchar_t* longName;
        std::wstring path;
    } roots[] = {
        {HKEY_LOCAL_MACHINE, L"HKLM", L"HKEY_LOCAL_MACHINE", L"Software\\" + own},
        {HKEY_CLASSES_ROOT, L"HKCR", L"HKEY_CLASSES_ROOT", own},
        {HKEY_USERS, L"HKU", L"HKEY_USERS", L".DEFAULT\\Software\\" + own},
    };
    for (const auto& r : roots) {
        RegDeleteTreeW(r.root, r.path.c_str());
        EXPECT_EQ(test::Run(L"REGX " + std::wstring(r.shortName) + L"\\" + r.path + L"\\#n=7"), 0u) << r.longName;
        EXPECT_EQ(ReadValue(r.root, r.path, L"n").bytes, std::string("\x07\0\0\0", 4)) << r.longName;
        EXPECT_EQ(test::Run(L"REGX " + std::wstring(r.longName) + L"\\" + r.path + L"\\#n"), 7u) << r.longName;
        EXPECT_EQ(test::Run(L"REGX " + std::wstring(r.longName) + L"\\" + r.path + L"\\-"), 0u) << r.longName;
        EXPECT_FALSE(KeyExists(r.root, r.path)) << r.longName;
        RegDeleteTreeW(r.root, r.path.c_str());
    }
}

TEST(Regx, TestingFormRestoresArgument)
{
    TestKey key(L"restore");
    std::wstring setup = key.Script() + L"\\mode=ON";
    ASSERT_EQ(RegistryCommand(setup.data()), 0u);
    const std::wstring tests[] = {key.Script() + L"\\mode=on?second\\value", key.Script() + L"\\#count=3?",
                                  key.Script() + L"\\-gone=x?y", L"HKCU\\no-backslash=1?"};
    for (const auto& original : tests) {
        std::wstring args = original;
        (void)RegistryCommand(args.data());
        EXPECT_EQ(args, original);
    }
}

TEST(RegistryLayer, ReadRegistryStringEndsWithinCapacity)
{
    TestKey key(L"layer");
    SetValue(HKEY_CURRENT_USER, key.path(), L"raw", REG_BINARY, test::Utf16Bytes(L"abcd"));
    HKEY handle = OpenRegistryKey(HKEY_CURRENT_USER, key.path().c_str(), KEY_READ);
    wchar_t buffer[5];
    EXPECT_EQ(ReadRegistryString(handle, L"raw", buffer, 4), 0u);     // no room for the terminator
    EXPECT_STREQ(buffer, L"");
    EXPECT_EQ(ReadRegistryString(handle, L"raw", buffer, 5), 4u);
    EXPECT_STREQ(buffer, L"abcd");
    EXPECT_EQ(ReadRegistryDword(handle, L"missing", 77), 77u);
    CloseRegistryKey(handle);
}

} // namespace
