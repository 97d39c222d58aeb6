#include "registry/registry.h"

namespace {

constexpr DWORD VARIABLE_BYTES = MAX_PATH_CHARS * sizeof(wchar_t);
const DWORD INVALID_ARGUMENT = static_cast<DWORD>(E_INVALIDARG);

// The key path and the value part of an argument, copied out and ended for the registry's calls.
struct RegxNames {
    PieceTexts texts;
    const wchar_t* keyPath;
    const wchar_t* valuePart;   // with its marker
};

// "#" stores a REG_DWORD, "@" REG_BINARY bytes decoded from the value text, anything
// else the whole value part as the name of a REG_SZ value. The value text of the setting
// form runs to the argument's end, so it is ended in place.
DWORD SetValue(const RegxArgument& parts, const RegxNames& names)
{
    HKEY key;
    DWORD result = CreateRegistryKey(parts.root, names.keyPath, KEY_ALL_ACCESS, &key);
    if (result != ERROR_SUCCESS)
        return result;
    const RegistryKey target{parts.root, names.keyPath, key};
    const wchar_t* name = names.valuePart + 1;
    const wchar_t* valueText = parts.valueText.start;
    switch (names.valuePart[0]) {
    case L'#': {
        DWORD number = static_cast<DWORD>(ReadDecimalNumber(valueText));
        result = SetRegistryValue(target, name, REG_DWORD, &number, sizeof number);
        break;
    }
    case L'@': {
        BYTE bytes[LINE_BUFFER_CHARS];
        if (parts.valueText.length > ARRAYSIZE(bytes)) {
            result = ERROR_INSUFFICIENT_BUFFER;
            break;
        }
        DWORD count = DecodeHexList(valueText, bytes);
        result = SetRegistryValue(target, name, REG_BINARY, bytes, count);
        break;
    }
    default:
        result = WriteRegistryString(target, names.valuePart, valueText);
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
// text); the testing form returns 1 when the value equals the value text, else 0. A
// number is read from the value text up to the '?', where reading stops.
DWORD ReadOrTestValue(const RegxArgument& parts, const RegxNames& names)
{
    if (wcscmp(names.valuePart, L"-") == 0)
        return DeleteRegistryTree(parts.root, names.keyPath);
    wchar_t marker = names.valuePart[0];
    const wchar_t* name = names.valuePart + 1;
    HKEY key = nullptr;
    DWORD openResult =
        RegOpenKeyExW(parts.root, names.keyPath, 0, marker == L'-' ? KEY_READ | KEY_SET_VALUE : KEY_READ, &key);
    if (openResult != ERROR_SUCCESS)
        key = nullptr;
    bool testing = parts.valueText.start != nullptr;
    DWORD result;
    if (marker == L'-') {
        result = key ? DeleteRegistryValue({parts.root, names.keyPath, key}, name) : openResult;
    } else if (marker == L'#') {
        DWORD number = key ? ReadRegistryDword(key, name, 0) : 0;
        result = testing ? number == static_cast<DWORD>(ReadDecimalNumber(parts.valueText.start)) : number;
    } else {
        DWORD readResult = openResult;
        if (key)
            readResult = ReadIntoVariableZero(key, names.valuePart);
        else
            ScriptVariables[0][0] = 0;
        result = testing ? PiecesEqualNoCase(WholeText(ScriptVariables[0]), parts.valueText) : readResult;
    }
    CloseRegistryKey(key);
    return result;
}

} // namespace

DWORD ReadRegxArgument(const wchar_t* args, RegxArgument& parts)
{
    parts = {};
    const wchar_t* position = args;
    parts.root = ParseRegistryRoot(position);
    if (!parts.root)
        return INVALID_ARGUMENT;
    TextPiece path = WholeText(position);
    if (const wchar_t* equals = FindInPiece(path, L'=')) {
        TextPiece value = PieceFrom(path, equals + 1);
        const wchar_t* question = FindInPiece(value, L'?');
        parts.valueText = question ? PieceBefore(value, question) : value;
        parts.isTest = question != nullptr;
        path = PieceBefore(path, equals);
    }
    const wchar_t* backslash = FindLastInPiece(path, L'\\');
    if (!backslash)
        return INVALID_ARGUMENT;
    parts.keyPath = PieceBefore(path, backslash);
    parts.valuePart = PieceFrom(path, backslash + 1);
    return ERROR_SUCCESS;
}

// REGX: sets ("path\name=text"), reads ("path\name") or tests ("path\name=text?rest") a
// value. The markers "#" (number), "@" (binary, setting only) and "-" (delete) lead the
// name.
DWORD RegistryCommand(const wchar_t* args)
{
    RegxArgument parts;
    DWORD result = ReadRegxArgument(args, parts);
    if (result != ERROR_SUCCESS)
        return result;
    RegxNames names;
    names.keyPath = AddPieceText(names.texts, parts.keyPath);
    names.valuePart = AddPieceText(names.texts, parts.valuePart);
    if (!names.keyPath || !names.valuePart)
        return ERROR_INSUFFICIENT_BUFFER;
    if (parts.valueText.start && !parts.isTest)
        return SetValue(parts, names);
    return ReadOrTestValue(parts, names);
}
