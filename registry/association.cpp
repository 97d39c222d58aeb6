#include "registry/registry.h"

namespace {

constexpr wchar_t CLASS_NAME[] = L"Varnolt";
constexpr wchar_t ICON_KEY[] = L"Varnolt\\DefaultIcon";
constexpr wchar_t COMMAND_KEY[] = L"Varnolt\\Shell\\Open\\Command";
constexpr size_t QUOTED_PATH_CHARS = MAX_PATH_CHARS + 8;    // quotes, ",-101" or " %1"

// Writes 'text' as the default value of HKEY_CLASSES_ROOT\'path', creating the key.
DWORD WriteClassDefault(const wchar_t* path, const wchar_t* text)
{
    HKEY key;
    DWORD result = CreateRegistryKey(HKEY_CLASSES_ROOT, path, KEY_ALL_ACCESS, &key);
    if (result != ERROR_SUCCESS)
        return result;
    result = WriteRegistryString({HKEY_CLASSES_ROOT, path, key}, nullptr, text);
    CloseRegistryKey(key);
    return result;
}

void KeepFirstFailure(DWORD& result, DWORD next)
{
    if (result == ERROR_SUCCESS)
        result = next;
}

// The class "Varnolt", its icon (resource 101 of this program) and its open command,
// which passes the opened file's path to this program.
DWORD WriteClassKeys(const wchar_t* program)
{
    wchar_t text[QUOTED_PATH_CHARS];
    DWORD result = WriteClassDefault(CLASS_NAME, CLASS_NAME);
    if (FAILED(StringCchPrintfW(text, QUOTED_PATH_CHARS, L"%s,-101", program)))
        return ERROR_INSUFFICIENT_BUFFER;
    KeepFirstFailure(result, WriteClassDefault(ICON_KEY, text));
    if (FAILED(StringCchPrintfW(text, QUOTED_PATH_CHARS, L"\"%s\" %%1", program)))
        return ERROR_INSUFFICIENT_BUFFER;
    KeepFirstFailure(result, WriteClassDefault(COMMAND_KEY, text));
    return result;
}

} // namespace

// ASOC: ".ext" makes the extension's default value "Varnolt" and (re)writes the class
// keys; an empty argument writes the class keys only. "!name" deletes HKCR\name with
// everything below it, "!" alone the class key. Every write is tried; the first failure
// is the result.
DWORD AssociateFileType(const wchar_t* args)
{
    if (args[0] == L'!')
        return DeleteRegistryTree(HKEY_CLASSES_ROOT, args[1] ? args + 1 : CLASS_NAME);
    wchar_t program[MAX_PATH_CHARS];
    DWORD length = GetModuleFileNameW(nullptr, program, MAX_PATH_CHARS);
    if (!length)
        return GetLastError();
    if (length >= MAX_PATH_CHARS)
        return ERROR_INSUFFICIENT_BUFFER;   // a cut path would make a broken command
    DWORD result = ERROR_SUCCESS;
    if (*args)
        result = WriteClassDefault(args, CLASS_NAME);
    KeepFirstFailure(result, WriteClassKeys(program));
    return result;
}
