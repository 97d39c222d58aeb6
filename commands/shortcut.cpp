#include "commands/commands.h"
#include "base/file_writer.h"

namespace {

constexpr size_t SHORTCUT_CHARS = 1024;
// A shortcut is written whole: an existing one is replaced only by a complete new one,
// which keeps its hidden, system and archive bits; a read-only one is not replaced.
constexpr FileOutputRules SHORTCUT_RULES = {.keepsAttributes = true, .removesIncomplete = true};

// Composes "length#command[?icon]": the command is the target, quoted when it holds a
// blank or when parameters follow; the length counts the command's UTF-16 units only.
[[nodiscard]] bool ComposeShortcut(wchar_t (&text)[SHORTCUT_CHARS], const wchar_t* target,
                                   const wchar_t* parameters, const wchar_t* icon)
{
    auto targetLength = static_cast<unsigned>(wcslen(target));
    HRESULT composed;
    if (parameters && *parameters)
        composed = StringCchPrintfW(text, SHORTCUT_CHARS, L"%u#\"%s\" %s",
                                    targetLength + static_cast<unsigned>(wcslen(parameters)) + 3, target, parameters);
    else if (wcschr(target, L' '))
        composed = StringCchPrintfW(text, SHORTCUT_CHARS, L"%u#\"%s\"", targetLength + 2, target);
    else
        composed = StringCchPrintfW(text, SHORTCUT_CHARS, L"%u#%s", targetLength, target);
    if (SUCCEEDED(composed) && icon && *icon)
        composed = StringCchCatW(text, SHORTCUT_CHARS, *target ? L"?" : L"");
    if (SUCCEEDED(composed) && icon && *icon)
        composed = StringCchCatW(text, SHORTCUT_CHARS, icon);
    return SUCCEEDED(composed);
}

} // namespace

// LINK path, target [, parameters [, icon]]: the one-line shortcut file in the ANSI code
// page. 3 without a target, E_FAIL when the text does not fit. "file,index" as the icon
// keeps its comma.
DWORD ComposeShortcutFile(wchar_t* args, char (&bytes)[SHORTCUT_BYTES], DWORD& byteCount)
{
    wchar_t* target = SplitAtSeparator(args);
    if (!target)
        return ERROR_PATH_NOT_FOUND;
    wchar_t* parameters = SplitAtSeparator(target);
    wchar_t* icon = parameters ? SplitAtSeparator(parameters) : nullptr;
    if (icon) {
        wchar_t* separator = wcschr(icon, ARG_SEPARATOR);
        if (separator)
            *separator = L',';
    }
    wchar_t text[SHORTCUT_CHARS];
    if (!ComposeShortcut(text, target, parameters, icon))
        return static_cast<DWORD>(E_FAIL);
    int converted = WideCharToMultiByte(CP_ACP, 0, text, -1, bytes, SHORTCUT_BYTES, nullptr, nullptr);
    if (converted <= 0)
        return static_cast<DWORD>(E_FAIL);
    byteCount = static_cast<DWORD>(converted - 1);
    return ERROR_SUCCESS;
}

// Writes the shortcut file, creating its folders. E_FAIL when it was not written (the
// observer's Stop stays ERROR_CANCELLED).
DWORD CreateShortcut(wchar_t* args)
{
    char bytes[SHORTCUT_BYTES];
    DWORD byteCount = 0;
    DWORD result = ComposeShortcutFile(args, bytes, byteCount);
    if (result != ERROR_SUCCESS)
        return result;
    CreatePathDirectories(args);
    result = WriteWholeFile(args, bytes, byteCount, SHORTCUT_RULES);
    return result == ERROR_SUCCESS || result == ERROR_CANCELLED ? result : static_cast<DWORD>(E_FAIL);
}
