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
