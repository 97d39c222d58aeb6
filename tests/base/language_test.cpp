#include "base/base.h"
#include "support/test_support.h"
#include <gtest/gtest.h>
#include <set>
#include <string>
#include <vector>

namespace {

constexpr LANGID CHINESE_TAIWAN = MAKELANGID(LANG_CHINESE, SUBLANG_CHINESE_TRADITIONAL);
constexpr LANGID GERMAN = MAKELANGID(LANG_GERMAN, SUBLANG_GERMAN);

TEST(Language, SettingOverridesTheInterfaceLanguage)
{
    struct LanguageCase {
        const wchar_t* setting;
        LANGID interface;
        LANGID chosen;
        int line;
    };
    const LanguageCase CASES[] = {
        {nullptr, LANGUAGE_CHINESE, LANGUAGE_CHINESE, __LINE__},
        {nullptr, CHINESE_TAIWAN, LANGUAGE_CHINESE, __LINE__},     // any Chinese interface
        {nullptr, GERMAN, LANGUAGE_ENGLISH, __LINE__},             // every other is English
        {L"en", LANGUAGE_CHINESE, LANGUAGE_ENGLISH, __LINE__},
        {L"ZH", GERMAN, LANGUAGE_CHINESE, __LINE__},
        {L"fr", LANGUAGE_CHINESE, LANGUAGE_CHINESE, __LINE__},     // an unknown setting changes nothing
        {L"", GERMAN, LANGUAGE_ENGLISH, __LINE__},
    };
    for (const auto& c : CASES)
        EXPECT_EQ(ChooseProgramLanguage(c.setting, c.interface), c.chosen) << "case at line " << c.line;
}

// String 'id' of 'module' in 'language' alone; empty when that language has none.
std::wstring StringIn(HMODULE module, UINT id, LANGID language)
{
    HRSRC found = FindResourceExW(module, RT_STRING, MAKEINTRESOURCEW(id / 16 + 1), language);
    HGLOBAL loaded = found ? LoadResource(module, found) : nullptr;
    const WORD* entry = loaded ? static_cast<const WORD*>(LockResource(loaded)) : nullptr;
    for (UINT index = id % 16; entry && index > 0; --index)
        entry += 1 + *entry;
    return entry ? std::wstring(reinterpret_cast<const wchar_t*>(entry + 1), *entry) : L"";
}

BOOL CALLBACK AddLanguage(HMODULE, LPCWSTR, LPCWSTR, WORD language, LONG_PTR found)
{
    reinterpret_cast<std::set<LANGID>*>(found)->insert(language);
    return TRUE;
}

BOOL CALLBACK AddName(HMODULE, LPCWSTR, LPWSTR name, LONG_PTR found)
{
    if (IS_INTRESOURCE(name))
        reinterpret_cast<std::vector<UINT>*>(found)->push_back(static_cast<UINT>(reinterpret_cast<ULONG_PTR>(name)));
    return TRUE;
}

// The program's texts, menus and dialogs (linked into this test program too) exist in
// both languages, string by string.
TEST(Language, EveryTextIsInBothLanguages)
{
    HMODULE module = GetModuleHandleW(nullptr);
    for (const wchar_t* type : {RT_STRING, RT_MENU, RT_DIALOG}) {
        std::vector<UINT> names;
        EnumResourceNamesW(module, type, AddName, reinterpret_cast<LONG_PTR>(&names));
        EXPECT_FALSE(names.empty());
        for (UINT name : names) {
            std::set<LANGID> languages;
            EnumResourceLanguagesW(module, type, MAKEINTRESOURCEW(name), AddLanguage, reinterpret_cast<LONG_PTR>(&languages));
            EXPECT_EQ(languages, (std::set<LANGID>{LANGUAGE_CHINESE, LANGUAGE_ENGLISH})) << name;
        }
    }
    size_t strings = 0;
    for (UINT id = 0; id < 0x10000; ++id) {
        std::wstring chinese = StringIn(module, id, LANGUAGE_CHINESE), english = StringIn(module, id, LANGUAGE_ENGLISH);
        EXPECT_EQ(chinese.empty(), english.empty()) << id;
        EXPECT_EQ(english.find_first_of(L"\x3002\xFF0C"), std::wstring::npos) << id;   // no Chinese punctuation
        for (wchar_t unit : english)
            EXPECT_FALSE(unit >= 0x4E00 && unit <= 0x9FFF) << id;                       // nor Chinese letters
        strings += !english.empty();
    }
    EXPECT_GE(strings, 17u);
}

} // namespace
