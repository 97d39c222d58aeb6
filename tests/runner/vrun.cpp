// vrun: starts Varnolt.exe (next to this program) with exactly the text that follows
// vrun's own name on its command line, waits, and prints the full 32-bit exit code.
#include <windows.h>
#include <cwchar>
#include <cstdio>

static const wchar_t* SkipProgramName(const wchar_t* line)
{
    if (*line == L'"') {
        const wchar_t* close = wcschr(line + 1, L'"');
        line = close ? close + 1 : line + wcslen(line);
    } else {
        while (*line && *line != L' ' && *line != L'\t')
            ++line;
    }
    return *line ? line + 1 : line;
}

int wmain()
{
    wchar_t program[MAX_PATH];
    DWORD length = GetModuleFileNameW(nullptr, program, MAX_PATH);
    wchar_t* slash = wcsrchr(program, L'\\');
    if (!length || !slash)
        return 1;
    wcscpy(slash + 1, L"Varnolt.exe");
    static wchar_t commandLine[32768];
    _snwprintf(commandLine, 32767, L"\"%ls\" %ls", program, SkipProgramName(GetCommandLineW()));
    STARTUPINFOW startup = {};
    startup.cb = sizeof startup;
    PROCESS_INFORMATION process = {};
    if (!CreateProcessW(program, commandLine, nullptr, nullptr, TRUE, 0, nullptr, nullptr, &startup, &process)) {
        fwprintf(stderr, L"vrun: cannot start %ls (error %lu)\n", program, GetLastError());
        return 1;
    }
    WaitForSingleObject(process.hProcess, INFINITE);
    DWORD exitCode = 0;
    GetExitCodeProcess(process.hProcess, &exitCode);
    CloseHandle(process.hThread);
    CloseHandle(process.hProcess);
    wprintf(L"exit code: %lu (0x%08lX)\n", exitCode, exitCode);
    return 0;
}
