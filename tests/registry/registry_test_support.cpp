#include "registry_test_support.h"
#include "base/base.h"
#include "support/test_support.h"
#include <sddl.h>
#include <cstdlib>
#include <iterator>
#include <utility>
#include <vector>

namespace regtest {

TestKey::TestKey(const wchar_t* name)
    : path_(L"Software\\VarnoltTest-" + std::to_wstring(GetCurrentProcessId()) + L"-" + name)
{
    RegDeleteTreeW(HKEY_CURRENT_USER, path_.c_str());
}

TestKey::~TestKey()
{
    RegDeleteTreeW(HKEY_CURRENT_USER, path_.c_str());
}

namespace {

// Loading and unloading hives needs the restore and backup privileges enabled.
void EnableHivePrivileges()
{
    HANDLE token;
    if (!OpenProcessToken(GetCurrentProcess(), TOKEN_ADJUST_PRIVILEGES | TOKEN_QUERY, &token))
        return;
    for (const wchar_t* name : {SE_RESTORE_NAME, SE_BACKUP_NAME}) {
        TOKEN_PRIVILEGES privileges = {1, {{{0, 0}, SE_PRIVILEGE_ENABLED}}};
        if (LookupPrivilegeValueW(nullptr, name, &privileges.Privileges[0].Luid))
            AdjustTokenPrivileges(token, FALSE, &privileges, 0, nullptr, nullptr);
    }
    CloseHandle(token);
}

} // namespace

TestHive::TestHive(const std::wstring& folder, const std::wstring& name) : name_(name)
{
    std::wstring source = L"Software\\VarnoltTest-" + std::to_wstring(GetCurrentProcessId()) + L"-hive-source";
    std::wstring file = folder + L"\\" + name + L".hive";
    SetValue(HKEY_CURRENT_USER, source, L"v", REG_SZ, TextBytes(L"kept"));
    SetValue(HKEY_CURRENT_USER, source + L"\\sub", L"w", REG_SZ, TextBytes(L"kept"));
    HKEY key;
    if (RegOpenKeyExW(HKEY_CURRENT_USER, source.c_str(), 0, KEY_READ, &key) == ERROR_SUCCESS) {
        EnableHivePrivileges();
        loaded_ = RegSaveKeyW(key, file.c_str(), nullptr) == ERROR_SUCCESS &&
                  RegLoadKeyW(HKEY_USERS, name.c_str(), file.c_str()) == ERROR_SUCCESS;
        RegCloseKey(key);
    }
    RegDeleteTreeW(HKEY_CURRENT_USER, source.c_str());
}

TestHive::~TestHive()
{
    if (loaded_)
        RegUnLoadKeyW(HKEY_USERS, name_.c_str());
}

bool TestHive::Intact() const
{
    return ReadValue(HKEY_USERS, name_, L"v").exists && KeyExists(HKEY_USERS, name_ + L"\\sub");
}

namespace {

std::wstring DescribeChange(const Change& change)
{
    const wchar_t* const KINDS[] = {L"CreateKey", L"SetValue", L"DeleteValue", L"DeleteKeyTree"};
    const std::pair<HKEY, const wchar_t*> ROOTS[] = {{HKEY_CURRENT_USER, L"HKCU"}, {HKEY_LOCAL_MACHINE, L"HKLM"},
                                                     {HKEY_CLASSES_ROOT, L"HKCR"}, {HKEY_USERS, L"HKU"}};
    auto kind = static_cast<size_t>(change.kind);
    std::wstring text = kind < std::size(KINDS) ? KINDS[kind] : L"other";
    text += L" ";
    for (const auto& [root, name] : ROOTS)
        text += change.root == root ? name : L"";
    text += std::wstring(L"\\") + (change.path ? change.path : L"(null)");
    if (change.kind == ChangeKind::SetValue || change.kind == ChangeKind::DeleteValue)
        text += L":" + std::wstring(change.name && *change.name ? change.name : L"@");
    return text;
}

} // namespace

ChangeRecorder::ChangeRecorder(DWORD answer) : answer(answer)
{
    observer_.before = [](void* context, const Change& change) {
        auto* self = static_cast<ChangeRecorder*>(context);
        self->asked.push_back(DescribeChange(change));
        return self->answer;
    };
    observer_.after = [](void* context, const Change&, DWORD) { ++static_cast<ChangeRecorder*>(context)->reported; };
    observer_.progress = nullptr;
    observer_.context = this;
    previous_ = SetChangeObserver(&observer_);
}

ChangeRecorder::~ChangeRecorder()
{
    SetChangeObserver(previous_);
}

std::wstring ChangeRecorder::Asked() const
{
    std::wstring text;
    for (const auto& line : asked)
        text += line + L"\n";
    return text;
}

std::wstring CurrentUserSid()
{
    std::wstring text;
    HANDLE token;
    if (!OpenProcessToken(GetCurrentProcess(), TOKEN_QUERY, &token))
        return text;
    BYTE buffer[256];
    DWORD size = sizeof buffer;
    wchar_t* sid = nullptr;
    if (GetTokenInformation(token, TokenUser, buffer, size, &size) &&
        ConvertSidToStringSidW(reinterpret_cast<TOKEN_USER*>(buffer)->User.Sid, &sid)) {
        text = sid;
        LocalFree(sid);
    }
    CloseHandle(token);
    return text;
}

StoredValue ReadValue(HKEY root, const std::wstring& path, const wchar_t* name)
{
    StoredValue value{false, 0, {}};
    HKEY key;
    if (RegOpenKeyExW(root, path.c_str(), 0, KEY_READ, &key) != ERROR_SUCCESS)
        return value;
    DWORD size = 0;
    if (RegQueryValueExW(key, name, nullptr, &value.type, nullptr, &size) == ERROR_SUCCESS) {
        value.bytes.resize(size);
        value.exists = RegQueryValueExW(key, name, nullptr, &value.type, reinterpret_cast<BYTE*>(value.bytes.data()),
                                        &size) == ERROR_SUCCESS;
        value.bytes.resize(size);
    }
    RegCloseKey(key);
    return value;
}

namespace {

void DumpKey(const std::wstring& path, const std::wstring& relative, RegistryDump& dump)
{
    HKEY key;
    if (RegOpenKeyExW(HKEY_CURRENT_USER, path.c_str(), 0, KEY_READ, &key) != ERROR_SUCCESS)
        return;
    dump[relative + L"\\"] = "";
    std::vector<wchar_t> name(16384);
    std::vector<BYTE> data(1 << 20);
    for (DWORD index = 0;; ++index) {
        DWORD nameLength = static_cast<DWORD>(name.size()), type = 0, size = static_cast<DWORD>(data.size());
        if (RegEnumValueW(key, index, name.data(), &nameLength, nullptr, &type, data.data(), &size) != ERROR_SUCCESS)
            break;
        dump[relative + L":" + name.data()] = std::to_string(type) + ":" + std::string(data.begin(), data.begin() + size);
    }
    std::vector<std::wstring> subkeys;
    for (DWORD index = 0;; ++index) {
        DWORD nameLength = static_cast<DWORD>(name.size());
        if (RegEnumKeyExW(key, index, name.data(), &nameLength, nullptr, nullptr, nullptr, nullptr) != ERROR_SUCCESS)
            break;
        subkeys.push_back(name.data());
    }
    RegCloseKey(key);
    for (const auto& subkey : subkeys)
        DumpKey(path + L"\\" + subkey, relative + L"\\" + subkey, dump);
}

} // namespace

RegistryDump Dump(const TestKey& key)
{
    RegistryDump dump;
    DumpKey(key.path(), L"", dump);
    return dump;
}

bool KeyExists(HKEY root, const std::wstring& path)
{
    HKEY key;
    if (RegOpenKeyExW(root, path.c_str(), 0, KEY_READ, &key) != ERROR_SUCCESS)
        return false;
    RegCloseKey(key);
    return true;
}

void SetValue(HKEY root, const std::wstring& path, const wchar_t* name, DWORD type, const std::string& bytes)
{
    HKEY key;
    if (RegCreateKeyExW(root, path.c_str(), 0, nullptr, 0, KEY_ALL_ACCESS, nullptr, &key, nullptr) != ERROR_SUCCESS)
        return;
    RegSetValueExW(key, name, 0, type, reinterpret_cast<const BYTE*>(bytes.data()), static_cast<DWORD>(bytes.size()));
    RegCloseKey(key);
}

std::wstring WithKey(std::wstring text, const std::wstring& key)
{
    for (size_t at = text.find(L"{K}"); at != std::wstring::npos; at = text.find(L"{K}", at + key.size()))
        text.replace(at, 3, key);
    return text;
}

std::string TextBytes(const std::wstring& text)
{
    return test::Utf16Bytes(text) + std::string(2, '\0');
}

size_t HeaderUnits(const std::wstring& path)
{
    wchar_t* decoded = ReadTextFile(path.c_str(), nullptr);
    std::wstring text = decoded ? decoded : L"";
    free(decoded);
    for (const wchar_t* header : {L"REGEDIT4", L"Windows Registry Editor Version 5.00"}) {
        size_t at = text.find(header);
        if (at != std::wstring::npos)
            return std::min(at + wcslen(header) + 1, text.size());
    }
    return 0;
}

} // namespace regtest
