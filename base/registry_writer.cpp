#include "base/writers.h"
#include <cstdlib>
#include <cstring>
#include <cwchar>

namespace {

constexpr ULONG KEY_NAME_INFORMATION = 3;
constexpr LONG STATUS_OVERFLOW = static_cast<LONG>(0x80000005);     // STATUS_BUFFER_OVERFLOW
constexpr LONG STATUS_TOO_SMALL = static_cast<LONG>(0xC0000023);    // STATUS_BUFFER_TOO_SMALL
using QueryKeyFunction = LONG(NTAPI*)(HANDLE key, ULONG infoClass, void* buffer, ULONG length, ULONG* needed);

// The kernel's names of the keys no delete may reach, whatever name the caller gave them:
// the keys above the hives, each loaded hive's root (HKLM\Software, HKU\<SID>,
// HKU\<SID>_Classes, ...) and the class data behind HKCR. A '*' part stands for any one part.
const wchar_t* const PROTECTED_KEY_NAMES[] = {
    L"\\REGISTRY",
    L"\\REGISTRY\\*",
    L"\\REGISTRY\\*\\*",
    L"\\REGISTRY\\MACHINE\\SOFTWARE\\CLASSES",
    L"\\REGISTRY\\USER\\*\\SOFTWARE\\CLASSES",
};

// True when 'name' and 'pattern' have the same number of parts and each pair agrees,
// letter case ignored as the registry ignores it.
bool MatchesKeyPattern(const wchar_t* name, const wchar_t* pattern)
{
    while (*name == L'\\' && *pattern == L'\\') {
        ++name;
        ++pattern;
        int nameLength = static_cast<int>(wcscspn(name, L"\\"));
        int patternLength = static_cast<int>(wcscspn(pattern, L"\\"));
        bool anyPart = patternLength == 1 && *pattern == L'*' && nameLength > 0;
        if (!anyPart && CompareStringOrdinal(name, nameLength, pattern, patternLength, TRUE) != CSTR_EQUAL)
            return false;
        name += nameLength;
        pattern += patternLength;
    }
    return !*name && !*pattern;
}

// The kernel's name of the open 'key' ("\REGISTRY\USER\S-1-5-21-...", links followed) as
// a text for the caller to free; nullptr when the system does not tell it.
wchar_t* QueryKeyName(HKEY key)
{
    HMODULE ntdll = GetModuleHandleW(L"ntdll.dll");     // always loaded: no reference is taken
    FARPROC address = ntdll ? GetProcAddress(ntdll, "NtQueryKey") : nullptr;
    if (!address)
        return nullptr;
    auto query = reinterpret_cast<QueryKeyFunction>(reinterpret_cast<void*>(address));
    ULONG nameBytes = 0;
    ULONG needed = 0;
    LONG status = query(key, KEY_NAME_INFORMATION, &nameBytes, sizeof nameBytes, &needed);
    if ((status != STATUS_OVERFLOW && status != STATUS_TOO_SMALL) || needed < sizeof nameBytes)
        return nullptr;
    auto* buffer = static_cast<BYTE*>(malloc(needed + sizeof(wchar_t)));
    if (!buffer)
        return nullptr;
    ULONG size = needed;
    if (query(key, KEY_NAME_INFORMATION, buffer, size, &needed) != 0) {
        free(buffer);
        return nullptr;
    }
    memcpy(&nameBytes, buffer, sizeof nameBytes);
    if (nameBytes > size - sizeof nameBytes)
        nameBytes = size - sizeof nameBytes;
    memmove(buffer, buffer + sizeof nameBytes, nameBytes);
    auto* name = reinterpret_cast<wchar_t*>(buffer);
    name[nameBytes / sizeof(wchar_t)] = 0;
    return name;
}

// The observer's answer before 'change': 0 lets the writer make it; CHANGE_MADE_BY_OBSERVER
// means the observer made it, which is then reported as done; anything else refuses it.
DWORD AskBefore(const Change& change, bool& madeByObserver)
{
    DWORD answer = ReportChangeBefore(change);
    madeByObserver = answer == CHANGE_MADE_BY_OBSERVER;
    if (madeByObserver)
        ReportChangeAfter(change, ERROR_SUCCESS);
    return madeByObserver ? ERROR_SUCCESS : answer;
}

DWORD Finish(const Change& change, LSTATUS status)
{
    auto result = static_cast<DWORD>(status);
    ReportChangeAfter(change, result);
    return result;
}

} // namespace

DWORD CreateRegistryKey(HKEY root, const wchar_t* path, REGSAM access, HKEY* key)
{
    *key = nullptr;
    Change change{ChangeKind::CreateKey, root, path, nullptr, 0, nullptr, 0};
    bool madeByObserver;
    DWORD answer = AskBefore(change, madeByObserver);
    if (madeByObserver) {           // the key, when the observer has left one to open
        if (RegOpenKeyExW(root, path, 0, access, key) != ERROR_SUCCESS)
            *key = nullptr;
        return ERROR_SUCCESS;
    }
    if (answer != ERROR_SUCCESS)
        return answer;
    LSTATUS status = RegCreateKeyExW(root, path, 0, nullptr, 0, access, nullptr, key, nullptr);
    if (status != ERROR_SUCCESS)
        *key = nullptr;
    return Finish(change, status);
}

DWORD SetRegistryValue(const RegistryKey& key, const wchar_t* name, DWORD type, const void* data, DWORD size)
{
    HKEY created = nullptr;
    HKEY target = key.open;
    if (!target) {
        DWORD result = CreateRegistryKey(key.root, key.path, KEY_SET_VALUE, &created);
        if (result != ERROR_SUCCESS)
            return result;
        target = created;
    }
    Change change{ChangeKind::SetValue, key.root, key.path, name, type, data, size};
    bool madeByObserver;
    DWORD result = AskBefore(change, madeByObserver);
    if (result == ERROR_SUCCESS && !madeByObserver) {
        // A key that the observer made itself and that is not there cannot take the value.
        LSTATUS status = target ? RegSetValueExW(target, name, 0, type, static_cast<const BYTE*>(data), size)
                                : ERROR_FILE_NOT_FOUND;
        result = Finish(change, status);
    }
    if (created)
        RegCloseKey(created);
    return result;
}

DWORD DeleteRegistryValue(const RegistryKey& key, const wchar_t* name)
{
    HKEY opened = nullptr;
    HKEY target = key.open;
    if (!target) {
        LSTATUS status = RegOpenKeyExW(key.root, key.path, 0, KEY_SET_VALUE, &opened);
        if (status != ERROR_SUCCESS)
            return static_cast<DWORD>(status);
        target = opened;
    }
    Change change{ChangeKind::DeleteValue, key.root, key.path, name, 0, nullptr, 0};
    bool madeByObserver;
    DWORD result = AskBefore(change, madeByObserver);
    if (result == ERROR_SUCCESS && !madeByObserver)
        result = Finish(change, RegDeleteValueW(target, name));
    if (opened)
        RegCloseKey(opened);
    return result;
}

DWORD CheckRegistryKeyDelete(HKEY root, const wchar_t* path)
{
    if (!*path || *path == L'\\')       // the root itself, as written
        return RESULT_REGISTRY_ROOT;
    HKEY key;
    LSTATUS status = RegOpenKeyExW(root, path, 0, KEY_QUERY_VALUE, &key);
    if (status != ERROR_SUCCESS)
        return static_cast<DWORD>(status);
    wchar_t* name = QueryKeyName(key);
    RegCloseKey(key);
    // A key whose name cannot be told, or is not one of the registry's, is never deleted.
    bool isProtected = !name || MatchPrefixNoCase(name, L"\\REGISTRY\\") < 10;
    for (const wchar_t* pattern : PROTECTED_KEY_NAMES)
        isProtected = isProtected || MatchesKeyPattern(name, pattern);
    free(name);
    return isProtected ? RESULT_REGISTRY_ROOT : ERROR_SUCCESS;
}

DWORD DeleteRegistryTree(HKEY root, const wchar_t* path)
{
    DWORD result = CheckRegistryKeyDelete(root, path);
    if (result != ERROR_SUCCESS)
        return result;
    Change change{ChangeKind::DeleteKeyTree, root, path, nullptr, 0, nullptr, 0};
    bool madeByObserver;
    result = AskBefore(change, madeByObserver);
    if (result != ERROR_SUCCESS || madeByObserver)
        return result;
    return Finish(change, RegDeleteTreeW(root, path));
}
