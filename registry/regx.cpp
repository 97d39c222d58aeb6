#include "registry/registry.h"

namespace {

constexpr DWORD VARIABLE_BYTES = MAX_PATH_CHARS * sizeof(wchar_t);
const DWORD INVALID_ARGUMENT = static_cast<DWORD>(E_INVALIDARG);

// The pieces of "root\key path\value part[=value text[?rest]]", cut in place.
struct RegxArgument {
    HKEY root;
    wchar_t* keyPath;
    wchar_t* valuePart;     // with its marker
    wchar_t* valueText;     // nullptr without "="
    wchar_t* equals;
    wchar_t* question;
    wchar_t* backslash;
};

void RestoreRegxArgument(const RegxArgument& parts)
{
    if (parts.backslash)
        *parts.backslash = L'\\';
    if (parts.equals)
        *parts.equals = L'=';
    if (parts.question)
        *parts.question = L'?';
}

// Cuts the argument at its first "=", the first "?" after that and the last backslash
// before the "=". Nothing stays cut when the root or the backslash is missing.
DWORD SplitRegxArgument(wchar_t* args, RegxArgument& parts)
{
    parts = {};
    wchar_t* position = args;
    parts.root = ParseRegistryRoot(position);
    if (!parts.root)
        return INVALID_ARGUMENT;
    parts.keyPath = position;
    parts.equals = wcschr(position, L'=');
    if (parts.equals) {
        *parts.equals = 0;
        parts.valueText = parts.equals + 1;
        parts.question = wcschr(parts.valueText, L'?');
        if (parts.question)
            *parts.question = 0;
    }
    parts.backslash = wcsrchr(position, L'\\');
    if (!parts.backslash) {
        RestoreRegxArgument(parts);
        return INVALID_ARGUMENT;
    }
    *parts.backslash = 0;
    parts.valuePart = parts.backslash + 1;
    return ERROR_SUCCESS;
}

// "#" stores a REG_DWORD, "@" REG_BINARY bytes decoded over the value text, anything
// else the whole value part as the name of a REG_SZ value.
DWORD SetValue(const RegxArgument& parts)
{
    HKEY key;
    DWORD result = CreateRegistryKey(parts.root, parts.keyPath, KEY_ALL_ACCESS, &key);
    if (result != ERROR_SUCCESS)
        return result;
    const RegistryKey target{parts.root, parts.keyPath, key};
    const wchar_t* name = parts.valuePart + 1;
    switch (parts.valuePart[0]) {
    case L'#': {
        DWORD number = static_cast<DWORD>(ReadDecimalNumber(parts.valueText));
        result = SetRegistryValue(target, name, REG_DWORD, &number, sizeof number);
        break;
    }
    case L'@': {
        DWORD count = DecodeHexList(parts.valueText);
        result = SetRegistryValue(target, name, REG_BINARY, parts.valueText, count);
        break;
    }
    default:
        result = WriteRegistryString(target, parts.valuePart, parts.valueText);
        break;
    }
    CloseRegistryKey(key);
    return result;
}

// Copies the value's bytes, whatever its type, into variable 0. Data that leave no room
// for a terminator within its 260 units fail with ERROR_MORE_DATA and leave it empty.
DWORD ReadIntoVariableZero(HKEY key, const wchar_t* name)
{
    wchar_t* variable = ScriptVariables[0];
    ZeroMemory(variable, VARIABLE_BYTES);       // so data without a terminator end within it
    DWORD size = VARIABLE_BYTES;
    DWORD result = RegQueryValueExW(key, name, nullptr, nullptr, reinterpret_cast<BYTE*>(variable), &size);
    if (result == ERROR_SUCCESS && variable[MAX_PATH_CHARS - 1])
        result = ERROR_MORE_DATA;
    if (result != ERROR_SUCCESS)
        variable[0] = 0;
    return result;
}

// The reading form returns what it read (a number itself, or the read's result for a
// text); the testing form returns 1 when the value equals the value text, else 0.
DWORD ReadOrTestValue(const RegxArgument& parts)
{
    if (wcscmp(parts.valuePart, L"-") == 0)
        return DeleteRegistryTree(parts.root, parts.keyPath);
    wchar_t marker = parts.valuePart[0];
    const wchar_t* name = parts.valuePart + 1;
    HKEY key = nullptr;
    DWORD openResult = RegOpenKeyExW(parts.root, parts.keyPath, 0, marker == L'-' ? KEY_READ | KEY_SET_VALUE : KEY_READ, &key);
    if (openResult != ERROR_SUCCESS)
        key = nullptr;
    bool testing = parts.valueText != nullptr;
    DWORD result;
    if (marker == L'-') {
        result = key ? DeleteRegistryValue({parts.root, parts.keyPath, key}, name) : openResult;
    } else if (marker == L'#') {
        DWORD number = key ? ReadRegistryDword(key, name, 0) : 0;
        result = testing ? number == static_cast<DWORD>(ReadDecimalNumber(parts.valueText)) : number;
    } else {
        DWORD readResult = openResult;
        if (key)
            readResult = ReadIntoVariableZero(key, parts.valuePart);
        else
            ScriptVariables[0][0] = 0;
        result = testing ? _wcsicmp(ScriptVariables[0], parts.valueText) == 0 : readResult;
    }
    CloseRegistryKey(key);
    return result;
}

} // namespace

// REGX: sets ("path\name=text"), reads ("path\name") or tests ("path\name=text?rest") a
// value. The markers "#" (number), "@" (binary, setting only) and "-" (delete) lead the
// name. Only the setting form leaves the argument text changed.
DWORD RegistryCommand(wchar_t* args)
{
    RegxArgument parts;
    DWORD result = SplitRegxArgument(args, parts);
    if (result != ERROR_SUCCESS)
        return result;
    if (parts.valueText && !parts.question)
        return SetValue(parts);
    result = ReadOrTestValue(parts);
    RestoreRegxArgument(parts);
    return result;
}
