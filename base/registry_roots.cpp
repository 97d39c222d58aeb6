#include "base/base.h"
#include <cstdlib>
#include <cstring>
#include <cwchar>

// Searched in this order; the short forms come first, and no prefix begins another.
const RegistryRoot RegistryRoots[REGISTRY_ROOT_COUNT] = {
    {HKEY_USERS, L"HKU\\"},
    {HKEY_CURRENT_USER, L"HKCU\\"},
    {HKEY_CLASSES_ROOT, L"HKCR\\"},
    {HKEY_LOCAL_MACHINE, L"HKLM\\"},
    {HKEY_USERS, L"HKEY_USERS\\"},
    {HKEY_CURRENT_USER, L"HKEY_CURRENT_USER\\"},
    {HKEY_CLASSES_ROOT, L"HKEY_CLASSES_ROOT\\"},
    {HKEY_LOCAL_MACHINE, L"HKEY_LOCAL_MACHINE\\"},
};

HKEY ParseRegistryRoot(const wchar_t*& position)
{
    for (const auto& row : RegistryRoots) {
        size_t length = wcslen(row.prefix);
        if (MatchPrefix(position, row.prefix) >= length) {
            position += length;
            return row.root;
        }
    }
    return nullptr;
}

HKEY ParseRegistryRoot(wchar_t*& position)
{
    const wchar_t* readable = position;
    HKEY root = ParseRegistryRoot(readable);
    position += readable - position;
    return root;
}

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

} // namespace

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
    return result == ERROR_SUCCESS ? static_cast<DWORD>(RegDeleteTreeW(root, path)) : result;
}
