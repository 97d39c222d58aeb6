#include "engine/engine.h"
#include <cstdlib>

namespace {

constexpr UINT IDS_APP_TITLE = 800;

wchar_t titleBuffer[80];

// Returns a malloc'ed, writable copy of the VARNOLT resource (NUL-terminated UTF-16, used
// up to its first NUL or its end, whatever its length), or of "VRUI" when it is missing.
// nullptr only when memory runs out.
wchar_t* LoadDefaultCommand()
{
    HRSRC info = FindResourceW(instanceHandle, L"VARNOLT", MAKEINTRESOURCEW(10));
    HGLOBAL loaded = info ? LoadResource(instanceHandle, info) : nullptr;
    const wchar_t* text = loaded ? static_cast<const wchar_t*>(LockResource(loaded)) : nullptr;
    size_t units = 4;
    if (text)
        units = SizeofResource(instanceHandle, info) / sizeof(wchar_t);
    else
        text = L"VRUI";
    size_t length = 0;
    while (length < units && text[length])
        ++length;
    auto* command = static_cast<wchar_t*>(malloc((length + 1) * sizeof(wchar_t)));
    if (!command)
        return nullptr;
    CopyMemory(command, text, length * sizeof(wchar_t));
    command[length] = 0;
    return command;
}

// Copies string 'id' of the string table into 'buffer' (cut to fit) and returns its
// length, 0 when it is missing. Reads the resource directly, as LoadStringW would, so that
// start-up does not load the window system's library for one text.
template <size_t N>
size_t LoadResourceString(HINSTANCE instance, UINT id, wchar_t (&buffer)[N])
{
    buffer[0] = 0;
    HRSRC info = FindResourceW(instance, MAKEINTRESOURCEW(id / 16 + 1), MAKEINTRESOURCEW(6));
    HGLOBAL loaded = info ? LoadResource(instance, info) : nullptr;
    const WORD* entry = loaded ? static_cast<const WORD*>(LockResource(loaded)) : nullptr;
    if (!entry)
        return 0;
    const WORD* end = entry + SizeofResource(instance, info) / sizeof(WORD);
    for (UINT index = id % 16; index > 0 && entry < end; --index)
        entry += 1 + *entry;                // each entry: a length, then that many units
    if (entry >= end || entry + 1 + *entry > end)
        return 0;
    size_t length = *entry < N - 1 ? *entry : N - 1;
    CopyMemory(buffer, entry + 1, length * sizeof(wchar_t));
    buffer[length] = 0;
    return length;
}

} // namespace

void InitializeProgram(HINSTANCE instance)
{
    instanceHandle = instance;
    if (LoadResourceString(instance, IDS_APP_TITLE, titleBuffer) > 0)
        applicationTitle = titleBuffer;
}

wchar_t* StripQuotes(wchar_t* text, wchar_t quote)
{
    if (text[0] != quote)
        return text;
    size_t length = wcslen(text);
    if (length > 1 && text[length - 1] == quote)
        text[length - 1] = 0;
    return text + 1;
}

// Runs the command line (or, when it is empty, the default command) as a script whose
// path is the program's own.
DWORD RunCommandLine(wchar_t* commandLine)
{
    wchar_t programPath[MAX_PATH_CHARS] = {};
    DWORD pathLength = GetModuleFileNameW(nullptr, programPath, MAX_PATH_CHARS);
    if (pathLength == 0 || pathLength >= MAX_PATH_CHARS)
        programPath[0] = 0;     // a cut path would name another file: %E and %C give nothing
    if (commandLine && commandLine[0])
        return RunScript(StripQuotes(commandLine, L'"'), programPath);
    wchar_t* defaultCommand = LoadDefaultCommand();
    if (!defaultCommand)
        return ERROR_NOT_ENOUGH_MEMORY;
    DWORD result = RunScript(defaultCommand, programPath);
    free(defaultCommand);
    return result;
}
