#include "registry/registry.h"
#include "registry_test_support.h"
#include "support/test_support.h"
#include <gtest/gtest.h>

namespace {

using namespace regtest;

DWORD Asoc(std::wstring args)
{
    return AssociateFileType(args.data());
}

void ExpectDefault(const std::wstring& key, const std::wstring& text)
{
    auto value = ReadValue(HKEY_CLASSES_ROOT, key, nullptr);
    EXPECT_EQ(value.type, static_cast<DWORD>(REG_SZ)) << key.c_str();
    EXPECT_EQ(value.bytes, TextBytes(text)) << key.c_str();
}

class Association : public ::testing::Test {
protected:
    std::wstring extension = L".vrtest" + std::to_wstring(GetCurrentProcessId());
    std::wstring bare = extension.substr(1);

    // Removes what the tests wrote wherever the platform put it: the merged view and both stores.
    void TearDown() override
    {
        for (const std::wstring& name : {extension, bare, std::wstring(L"Varnolt")}) {
            RegDeleteTreeW(HKEY_CLASSES_ROOT, name.c_str());
            RegDeleteTreeW(HKEY_CURRENT_USER, (L"Software\\Classes\\" + name).c_str());
            RegDeleteTreeW(HKEY_LOCAL_MACHINE, (L"Software\\Classes\\" + name).c_str());
        }
    }
};

TEST_F(Association, WritesExtensionAndClassKeys)
{
    wchar_t program[MAX_PATH_CHARS];
    ASSERT_GT(GetModuleFileNameW(nullptr, program, MAX_PATH_CHARS), 0u);
    for (int round = 0; round < 2; ++round) {        // associating again overwrites the same values
        EXPECT_EQ(test::Run(L"ASOC " + extension), 0u);
        ExpectDefault(extension, L"Varnolt");
        ExpectDefault(L"Varnolt", L"Varnolt");
        ExpectDefault(L"Varnolt\\DefaultIcon", std::wstring(program) + L",-101");
        ExpectDefault(L"Varnolt\\Shell\\Open\\Command", L"\"" + std::wstring(program) + L"\" %1");
    }
    EXPECT_EQ(Asoc(bare), 0u);                        // without a dot the name is used as it stands
    ExpectDefault(bare, L"Varnolt");
}

TEST_F(Association, ExclamationFormsDelete)
{
    ASSERT_EQ(Asoc(extension), 0u);
    EXPECT_EQ(Asoc(L"!"), 0u);                        // the class key with everything below it
    EXPECT_FALSE(KeyExists(HKEY_CLASSES_ROOT, L"Varnolt"));
    EXPECT_TRUE(KeyExists(HKEY_CLASSES_ROOT, extension));
    EXPECT_EQ(Asoc(L"!" + extension), 0u);
    EXPECT_FALSE(KeyExists(HKEY_CLASSES_ROOT, extension));
    EXPECT_EQ(Asoc(L"!" + extension), static_cast<DWORD>(ERROR_FILE_NOT_FOUND));
    EXPECT_EQ(Asoc(L""), 0u);                         // the class keys alone
    EXPECT_TRUE(KeyExists(HKEY_CLASSES_ROOT, L"Varnolt\\Shell\\Open\\Command"));
    EXPECT_FALSE(KeyExists(HKEY_CLASSES_ROOT, extension));
}

} // namespace
