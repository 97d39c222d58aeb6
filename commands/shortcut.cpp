#include "commands/commands.h"
#include "engine/engine.h"

namespace {

constexpr size_t SHORTCUT_CHARS = 1024;
constexpr size_t SHORTCUT_BYTES = 1024;

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

// Cuts 'text' at its first separator; nullptr when it has none.
wchar_t* NextArgument(wchar_t* text)
{
    wchar_t* separator = wcschr(text, ARG_SEPARATOR);
    if (!separator)
        return nullptr;
    *separator = 0;
    return separator + 1;
}

} // namespace

// LINK path, target [, parameters [, icon]]: writes the one-line shortcut file in the
// ANSI code page, creating its folders. 3 without a target, E_FAIL when nothing was
// written. "file,index" as the icon keeps its comma.
DWORD CreateShortcut(wchar_t* args)
{
    wchar_t* target = NextArgument(args);
    if (!target)
        return ERROR_PATH_NOT_FOUND;
    wchar_t* parameters = NextArgument(target);
    wchar_t* icon = parameters ? NextArgument(parameters) : nullptr;
    if (icon) {
        wchar_t* separator = wcschr(icon, ARG_SEPARATOR);
        if (separator)
            *separator = L',';
    }
    wchar_t text[SHORTCUT_CHARS];
    if (!ComposeShortcut(text, target, parameters, icon))
        return static_cast<DWORD>(E_FAIL);
    char bytes[SHORTCUT_BYTES];
    int converted = WideCharToMultiByte(CP_ACP, 0, text, -1, bytes, sizeof bytes, nullptr, nullptr);
    if (converted <= 0)
        return static_cast<DWORD>(E_FAIL);
    if (fileCommandsDryRun)
        return ERROR_SUCCESS;
    CreatePathDirectories(args);
    DWORD written = WriteFileBytes(args, bytes, static_cast<DWORD>(converted - 1), false);
    return written ? ERROR_SUCCESS : static_cast<DWORD>(E_FAIL);
}
