// The registry writer: what it refuses, and how it obeys the run's change observer.
#include "base/writers.h"
#include "registry/registry_test_support.h"
#include "support/test_support.h"
#include <gtest/gtest.h>
#include <algorithm>
#include <cwctype>
#include <functional>
#include <optional>

namespace {

using namespace regtest;

constexpr DWORD ROOT = RESULT_REGISTRY_ROOT;
constexpr DWORD MADE = CHANGE_MADE_BY_OBSERVER;

// A link key below HKCU that leads to the kernel name 'target'; removed as a link (deleting
// it by name would follow it).
struct LinkKey {
    HKEY link = nullptr;
    LinkKey(const std::wstring& path, const std::wstring& target)
    {
        if (RegCreateKeyExW(HKEY_CURRENT_USER, path.c_str(), 0, nullptr, REG_OPTION_VOLATILE | REG_OPTION_CREATE_LINK,
                            KEY_ALL_ACCESS | KEY_CREATE_LINK, nullptr, &link, nullptr) != ERROR_SUCCESS)
            link = nullptr;
        else
            RegSetValueExW(link, L"SymbolicLinkValue", 0, REG_LINK, reinterpret_cast<const BYTE*>(target.data()),
                           static_cast<DWORD>(target.size() * sizeof(wchar_t)));
    }
    ~LinkKey()
    {
        using DeleteKeyFunction = LONG(NTAPI*)(HANDLE);
        FARPROC address = GetProcAddress(GetModuleHandleW(L"ntdll.dll"), "NtDeleteKey");
        if (link && address)
            reinterpret_cast<DeleteKeyFunction>(reinterpret_cast<void*>(address))(link);
        if (link)
            RegCloseKey(link);
    }
};

struct RefusalCase {
    const wchar_t* path;        // {SID} the user's SID, {sid} in small letters, {H} the test hive, {K} the test key
    DWORD result;
    int line;
};
#define REFUSAL_CASE(p, r) {p, r, __LINE__}

const RefusalCase REFUSAL_CASES[] = {
    REFUSAL_CASE(L"HKCU\\", ROOT),
    REFUSAL_CASE(L"HKCU\\\\", ROOT),                        // the root behind an empty part
    REFUSAL_CASE(L"HKEY_CLASSES_ROOT\\", ROOT),
    REFUSAL_CASE(L"HKLM\\", ROOT),
    REFUSAL_CASE(L"HKU\\", ROOT),
    REFUSAL_CASE(L"HKU\\{SID}", ROOT),                      // HKCU by its SID
    REFUSAL_CASE(L"HKEY_USERS\\{sid}\\", ROOT),
    REFUSAL_CASE(L"HKU\\{SID}_Classes", ROOT),
    REFUSAL_CASE(L"HKU\\{SID}\\Software\\Classes", ROOT),
    REFUSAL_CASE(L"HKCU\\Software\\Classes", ROOT),
    REFUSAL_CASE(L"HKCU\\software\\CLASSES\\", ROOT),
    REFUSAL_CASE(L"HKU\\.DEFAULT", ROOT),
    REFUSAL_CASE(L"HKU\\{H}", ROOT),
    REFUSAL_CASE(L"HKCU\\{K}\\link", ROOT),                 // a link to the test hive's root
    REFUSAL_CASE(L"HKLM\\Software", ROOT),
    REFUSAL_CASE(L"HKEY_LOCAL_MACHINE\\system", ROOT),
    REFUSAL_CASE(L"HKLM\\Software\\Classes", ROOT),         // the data behind HKCR
    REFUSAL_CASE(L"HKLM\\SOFTWARE\\\\classes\\", ROOT),
    REFUSAL_CASE(L"HKU\\{SID}\\{K}", 0),                    // the test key by the SID: an ordinary key
    REFUSAL_CASE(L"HKU\\{H}\\sub", 0),
    REFUSAL_CASE(L"HKCU\\{K}\\missing", ERROR_FILE_NOT_FOUND),
};

std::wstring FillRefusalPath(std::wstring text, const std::wstring& sid, const std::wstring& hive,
                             const std::wstring& key)
{
    std::wstring lower = sid;
    std::transform(lower.begin(), lower.end(), lower.begin(), [](wchar_t c) { return static_cast<wchar_t>(towlower(c)); });
    for (auto [mark, value] : {std::pair{L"{SID}", sid}, {L"{sid}", lower}, {L"{H}", hive}, {L"{K}", key}})
        for (size_t at = text.find(mark); at != std::wstring::npos; at = text.find(mark, at + value.size()))
            text.replace(at, wcslen(mark), value);
    return text;
}

// Every name that reaches a root, a loaded hive's root or the class data behind HKCR is
// refused by what the key is, before the observer hears of it. The observer makes every
// delete it is asked about itself, that is, none: nothing is deleted here.
TEST(RegistryWriter, RefusesToDeleteAHiveRootByAnyName)
{
    test::TempFolder folder;
    TestKey key(L"guard");
    SetValue(HKEY_CURRENT_USER, key.path(), L"v", REG_SZ, TextBytes(L"1"));
    std::wstring sid = CurrentUserSid();
    ASSERT_FALSE(sid.empty());
    TestHive hive(folder.path(), L"VarnoltTest-" + std::to_wstring(GetCurrentProcessId()) + L"-guard");
    ASSERT_TRUE(hive.loaded());
    std::optional<TestHive> classes;            // the user's class hive, where the system has none
    if (!KeyExists(HKEY_USERS, sid + L"_Classes"))
        classes.emplace(folder.path(), sid + L"_Classes");
    LinkKey link(key.path() + L"\\link", L"\\REGISTRY\\User\\" + hive.name());
    ASSERT_TRUE(link.link);
    HKEY userClasses = nullptr;             // the user's class data, made here when the system has none
    DWORD disposition = 0;
    ASSERT_EQ(RegCreateKeyExW(HKEY_CURRENT_USER, L"Software\\Classes", 0, nullptr, 0, KEY_READ, nullptr, &userClasses,
                              &disposition), ERROR_SUCCESS);
    RegCloseKey(userClasses);
    for (const auto& c : REFUSAL_CASES) {
        std::wstring path = FillRefusalPath(c.path, sid, hive.name(), key.path());
        const wchar_t* rest = path.c_str();
        HKEY root = ParseRegistryRoot(rest);
        ChangeRecorder observer(MADE);
        EXPECT_EQ(DeleteRegistryTree(root, rest), c.result) << "case at line " << c.line;
        EXPECT_EQ(observer.asked.size(), c.result == 0 ? 1u : 0u) << "case at line " << c.line;
    }
    if (disposition == REG_CREATED_NEW_KEY)
        RegDeleteKeyW(HKEY_CURRENT_USER, L"Software\\Classes");
    EXPECT_TRUE(hive.Intact());
    EXPECT_TRUE(KeyExists(HKEY_CURRENT_USER, key.path()));
}

// One change of each kind below the test key, made through the writer.
using WriterCall = std::function<DWORD(const TestKey& key)>;

struct ObserverCase {
    const wchar_t* name;
    WriterCall call;
    DWORD answer;               // the observer's before
    DWORD result;
    bool made;                  // whether the registry shows the change afterwards
    int line;
};
#define OBSERVER_CASE(n, c, a, r, m) {n, c, a, r, m, __LINE__}

DWORD CreateSub(const TestKey& key)
{
    HKEY handle = nullptr;
    DWORD result = CreateRegistryKey(HKEY_CURRENT_USER, (key.path() + L"\\new").c_str(), KEY_READ, &handle);
    if (handle)
        RegCloseKey(handle);
    return result;
}

// Into a key already open, as the .reg import writes.
DWORD SetNumber(const TestKey& key)
{
    HKEY handle;
    if (RegOpenKeyExW(HKEY_CURRENT_USER, key.path().c_str(), 0, KEY_SET_VALUE, &handle) != ERROR_SUCCESS)
        return ERROR_INVALID_FUNCTION;
    DWORD number = 7;
    DWORD result = SetRegistryValue({HKEY_CURRENT_USER, key.path().c_str(), handle}, L"new", REG_DWORD, &number,
                                    sizeof number);
    RegCloseKey(handle);
    return result;
}

DWORD DeleteOld(const TestKey& key)
{
    return DeleteRegistryValue({HKEY_CURRENT_USER, key.path().c_str(), nullptr}, L"old");
}

DWORD DeleteOldKey(const TestKey& key)
{
    return DeleteRegistryTree(HKEY_CURRENT_USER, (key.path() + L"\\old").c_str());
}

bool ChangeShows(const TestKey& key)
{
    return KeyExists(HKEY_CURRENT_USER, key.path() + L"\\new") || ReadValue(HKEY_CURRENT_USER, key.path(), L"new").exists ||
           !ReadValue(HKEY_CURRENT_USER, key.path(), L"old").exists || !KeyExists(HKEY_CURRENT_USER, key.path() + L"\\old");
}

const ObserverCase OBSERVER_CASES[] = {
    OBSERVER_CASE(L"CreateKey", CreateSub, 0, 0, true),
    OBSERVER_CASE(L"CreateKey", CreateSub, ERROR_CANCELLED, ERROR_CANCELLED, false),
    OBSERVER_CASE(L"CreateKey", CreateSub, MADE, 0, false),
    OBSERVER_CASE(L"SetValue", SetNumber, 0, 0, true),
    OBSERVER_CASE(L"SetValue", SetNumber, ERROR_ACCESS_DENIED, ERROR_ACCESS_DENIED, false),
    OBSERVER_CASE(L"SetValue", SetNumber, MADE, 0, false),
    OBSERVER_CASE(L"DeleteValue", DeleteOld, 0, 0, true),
    OBSERVER_CASE(L"DeleteValue", DeleteOld, ERROR_CANCELLED, ERROR_CANCELLED, false),
    OBSERVER_CASE(L"DeleteValue", DeleteOld, MADE, 0, false),
    OBSERVER_CASE(L"DeleteKeyTree", DeleteOldKey, 0, 0, true),
    OBSERVER_CASE(L"DeleteKeyTree", DeleteOldKey, ERROR_CANCELLED, ERROR_CANCELLED, false),
    OBSERVER_CASE(L"DeleteKeyTree", DeleteOldKey, MADE, 0, false),
};

// The observer hears of each change before it is made and, unless it refused it, after;
// a change it made itself is left alone and counts as done.
TEST(RegistryWriter, AsksItsObserverBeforeEachChange)
{
    for (const auto& c : OBSERVER_CASES) {
        TestKey key(L"writer");
        SetValue(HKEY_CURRENT_USER, key.path(), L"old", REG_SZ, TextBytes(L"1"));
        SetValue(HKEY_CURRENT_USER, key.path() + L"\\old", L"v", REG_SZ, TextBytes(L"1"));
        ChangeRecorder observer(c.answer);
        EXPECT_EQ(c.call(key), c.result) << "case at line " << c.line;
        EXPECT_EQ(ChangeShows(key), c.made) << "case at line " << c.line;
        ASSERT_FALSE(observer.asked.empty()) << "case at line " << c.line;
        EXPECT_EQ(observer.asked.back().rfind(c.name, 0), 0u) << "case at line " << c.line;
        bool refused = c.answer != 0 && c.answer != MADE;
        EXPECT_EQ(observer.reported, refused ? 0u : observer.asked.size()) << "case at line " << c.line;
    }
}

} // namespace
