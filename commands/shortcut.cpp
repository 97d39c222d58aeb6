#include "commands/commands.h"
#include "base/file_writer.h"

namespace {

constexpr size_t SHORTCUT_CHARS = 1024;
// A shortcut is written whole: an existing one is replaced only by a complete new one,
// which keeps its hidden, system and archive bits; a read-only one is not replaced.
constexpr FileOutputRules SHORTCUT_RULES = {.keepsAttributes = true, .removesIncomplete = true};

// The icon as written, "file,index" keeping its comma: the first separator in it is a
// comma again; later ones stay as they are.
[[nodiscard]] bool AppendIcon(wchar_t (&text)[SHORTCUT_CHARS], TextPiece icon)
{
    const wchar_t* separator = FindInPiece(icon, ARG_SEPARATOR);
    if (!separator)
        return SUCCEEDED(StringCchCatNW(text, SHORTCUT_CHARS, icon.start, icon.length));
    TextPiece after = PieceFrom(icon, separator + 1);
    return SUCCEEDED(StringCchCatNW(text, SHORTCUT_CHARS, icon.start, separator - icon.start)) &&
           SUCCEEDED(StringCchCatW(text, SHORTCUT_CHARS, L",")) &&
           SUCCEEDED(StringCchCatNW(text, SHORTCUT_CHARS, after.start, after.length));
}

// Composes "length#command[?icon]": the command is the target, quoted when it holds a
// blank or when parameters follow; the length counts the command's UTF-16 units only.
[[nodiscard]] bool ComposeShortcut(wchar_t (&text)[SHORTCUT_CHARS], const ShortcutRequest& request)
{
    TextPiece target = request.target;
    TextPiece parameters = request.parameters;
    auto targetLength = static_cast<unsigned>(target.length);
    auto targetUnits = static_cast<int>(target.length);
    HRESULT composed;
    if (parameters.length)
        composed = StringCchPrintfW(text, SHORTCUT_CHARS, L"%u#\"%.*s\" %.*s",
                                    targetLength + static_cast<unsigned>(parameters.length) + 3, targetUnits,
                                    target.start, static_cast<int>(parameters.length), parameters.start);
    else if (FindInPiece(target, L' '))
        composed = StringCchPrintfW(text, SHORTCUT_CHARS, L"%u#\"%.*s\"", targetLength + 2, targetUnits, target.start);
    else
        composed = StringCchPrintfW(text, SHORTCUT_CHARS, L"%u#%.*s", targetLength, targetUnits, target.start);
    if (!SUCCEEDED(composed) || !request.icon.length)
        return SUCCEEDED(composed);
    if (target.length && FAILED(StringCchCatW(text, SHORTCUT_CHARS, L"?")))
        return false;
    return AppendIcon(text, request.icon);
}

} // namespace

// LINK path, target [, parameters [, icon]].
DWORD ReadShortcutRequest(const wchar_t* args, ShortcutRequest& request)
{
    request = {};
    ArgumentPieces parts = CutArgument(args, 4);
    if (parts.count < 2)
        return ERROR_PATH_NOT_FOUND;
    request.path = parts.pieces[0];
    request.target = parts.pieces[1];
    if (parts.count > 2)
        request.parameters = parts.pieces[2];
    if (parts.count > 3)
        request.icon = parts.pieces[3];
    return ERROR_SUCCESS;
}

// The one-line shortcut file in the ANSI code page. E_FAIL when the text does not fit.
DWORD ComposeShortcutFile(const ShortcutRequest& request, char (&bytes)[SHORTCUT_BYTES], DWORD& byteCount)
{
    wchar_t text[SHORTCUT_CHARS];
    if (!ComposeShortcut(text, request))
        return static_cast<DWORD>(E_FAIL);
    int converted = WideCharToMultiByte(CP_ACP, 0, text, -1, bytes, SHORTCUT_BYTES, nullptr, nullptr);
    if (converted <= 0)
        return static_cast<DWORD>(E_FAIL);
    byteCount = static_cast<DWORD>(converted - 1);
    return ERROR_SUCCESS;
}

// Writes the shortcut file, creating its folders. 3 without a target; E_FAIL when it was
// not written (the observer's Stop stays ERROR_CANCELLED).
DWORD CreateShortcut(const wchar_t* args)
{
    ShortcutRequest request;
    char bytes[SHORTCUT_BYTES];
    DWORD byteCount = 0;
    DWORD result = ReadShortcutRequest(args, request);
    if (result == ERROR_SUCCESS)
        result = ComposeShortcutFile(request, bytes, byteCount);
    if (result != ERROR_SUCCESS)
        return result;
    wchar_t path[LINE_BUFFER_CHARS];
    if (CopyPiece(path, request.path) != ERROR_SUCCESS)
        return static_cast<DWORD>(E_FAIL);
    CreatePathDirectories(path);
    result = WriteWholeFile(path, bytes, byteCount, SHORTCUT_RULES);
    return result == ERROR_SUCCESS || result == ERROR_CANCELLED ? result : static_cast<DWORD>(E_FAIL);
}
