#include "registry/registry.h"

HKEY OpenRegistryKey(HKEY parent, const wchar_t* path, REGSAM access)
{
    HKEY key;
    (void)CreateRegistryKey(parent, path, access, &key);
    return key;
}

void CloseRegistryKey(HKEY key)
{
    if (key)
        RegCloseKey(key);
}

DWORD ReadRegistryString(HKEY key, const wchar_t* name, wchar_t* buffer, DWORD capacity)
{
    constexpr DWORD LARGEST_CAPACITY = MAXDWORD / sizeof(wchar_t);
    if (!capacity)
        return 0;
    if (capacity > LARGEST_CAPACITY)
        capacity = LARGEST_CAPACITY;
    buffer[0] = 0;
    DWORD size = capacity * sizeof(wchar_t);
    if (RegQueryValueExW(key, name, nullptr, nullptr, reinterpret_cast<BYTE*>(buffer), &size) != ERROR_SUCCESS) {
        buffer[0] = 0;
        return 0;
    }
    DWORD units = size / sizeof(wchar_t);
    if (units && !buffer[units - 1])
        return units - 1;
    if (units < capacity) {         // also clears the half-written unit of an odd byte count
        buffer[units] = 0;
        return units;
    }
    buffer[0] = 0;
    return 0;
}

DWORD WriteRegistryString(const RegistryKey& key, const wchar_t* name, const wchar_t* text)
{
    auto size = static_cast<DWORD>((wcslen(text) + 1) * sizeof(wchar_t));
    return SetRegistryValue(key, name, REG_SZ, text, size);
}

DWORD ReadRegistryDword(HKEY key, const wchar_t* name, DWORD defaultValue)
{
    DWORD value = defaultValue;
    DWORD size = sizeof value;
    if (RegQueryValueExW(key, name, nullptr, nullptr, reinterpret_cast<BYTE*>(&value), &size) != ERROR_SUCCESS)
        return defaultValue;
    return value;
}

namespace {

// The value of each ASCII hex digit; any other character, and the end, count as 0. A
// table, since the digits of binary data follow no pattern a branch could guess.
struct NibbleTable {
    BYTE values[128];
    constexpr NibbleTable() : values()
    {
        for (int digit = 0; digit < 10; ++digit)
            values['0' + digit] = static_cast<BYTE>(digit);
        for (int letter = 0; letter < 6; ++letter)
            values['A' + letter] = values['a' + letter] = static_cast<BYTE>(10 + letter);
    }
};
constexpr NibbleTable NIBBLES;

inline int NibbleOf(wchar_t digit)
{
    return digit < 128 ? NIBBLES.values[digit] : 0;
}

} // namespace

DWORD DecodeHexList(const wchar_t* text, BYTE* bytes)
{
    DWORD count = 0;
    const wchar_t* group = text;
    while (*group) {
        int high = NibbleOf(group[0]);
        int low = NibbleOf(group[1]);
        // Find the next group before writing: byte 0 lands on the unit just read.
        const wchar_t* next = group;
        while (*next && *next != L',')
            ++next;
        if (*next)
            ++next;
        bytes[count++] = static_cast<BYTE>(high << 4 | low);
        group = next;
    }
    return count;
}

DWORD ReadHexNumber(const wchar_t* text)
{
    DWORD value = 0;
    for (int digit; (digit = HexDigitValue(*text)) >= 0; ++text)
        value = value << 4 | static_cast<DWORD>(digit);
    return value;
}
