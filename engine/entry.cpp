#include "engine/engine.h"

HINSTANCE instanceHandle = nullptr;
const wchar_t* applicationTitle = L"Varnolt";

namespace {

constexpr UINT IDS_APP_TITLE = 800;
constexpr size_t DEFAULT_COMMAND_CHARS = 1024;

wchar_t titleBuffer[80];

// Copies the VARNOLT resource (NUL-terminated UTF-16) into 'command'; "VRUI" when it is
// missing. The copy is writable, as every script text must be.
void LoadDefaultCommand(wchar_t (&command)[DEFAULT_COMMAND_CHARS])
{
    HRSRC info = FindResourceW(instanceHandle, L"VARNOLT", MAKEINTRESOURCEW(10));
    HGLOBAL loaded = info ? LoadResource(instanceHandle, info) : nullptr;
    const wchar_t* text = loaded ? static_cast<const wchar_t*>(LockResource(loaded)) : nullptr;
    if (!text) {
        StringCchCopyW(command, DEFAULT_COMMAND_CHARS, L"VRUI");
        return;
    }
    size_t units = SizeofResource(instanceHandle, info) / sizeof(wchar_t);
    size_t length = 0;
    while (length < units && length + 1 < DEFAULT_COMMAND_CHARS && text[length])
        ++length;
    CopyMemory(command, text, length * sizeof(wchar_t));
    command[length] = 0;
}

} // namespace

void InitializeProgram(HINSTANCE instance)
{
    instanceHandle = instance;
    if (LoadStringW(instance, IDS_APP_TITLE, titleBuffer, ARRAYSIZE(titleBuffer)) > 0)
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
    GetModuleFileNameW(nullptr, programPath, MAX_PATH_CHARS);
    if (commandLine && commandLine[0])
        return RunScript(StripQuotes(commandLine, L'"'), programPath);
    wchar_t defaultCommand[DEFAULT_COMMAND_CHARS];
    LoadDefaultCommand(defaultCommand);
    return RunScript(defaultCommand, programPath);
}
