#include "commands/commands.h"
#include "base/changes.h"
#include "platform/device_calls.h"
#include <tlhelp32.h>
#include <cstdlib>

namespace {

constexpr DWORD HARD_RESET_CODE = 0x01012048;
constexpr DWORD SUSPEND_CODE = 0x01012000;

BOOL SoftReset(const wchar_t*)
{
    return outwardCalls.kernelIoControl(IOCTL_HAL_REBOOT, nullptr, 0, nullptr, 0, nullptr);
}

BOOL CleanReset(const wchar_t* args)
{
    outwardCalls.setCleanRebootFlag();
    return SoftReset(args);
}

// "H" uses the usual hard-reset code; "H0<digits>" supplies the device maker's own.
BOOL HardReset(const wchar_t* args)
{
    DWORD code = args[1] == L'0' ? static_cast<DWORD>(_wtol(args + 1)) : HARD_RESET_CODE;
    outwardCalls.kernelIoControl(code, nullptr, 0, nullptr, 0, nullptr);
    return CleanReset(args);
}

// The power key's result is not known, so it always counts as done.
BOOL PressPowerKey(const wchar_t*)
{
    outwardCalls.keyEvent(VK_OFF, 0, KEYEVENTF_SILENT, 0);
    outwardCalls.keyEvent(VK_OFF, 0, KEYEVENTF_KEYUP | KEYEVENTF_SILENT, 0);
    return TRUE;
}

BOOL PowerOff(const wchar_t*)
{
    return outwardCalls.exitWindows(EWX_POWEROFF, 0);
}

BOOL Suspend(const wchar_t*)
{
    return outwardCalls.powerOffSystem();
}

BOOL SuspendWithCode(const wchar_t* args)
{
    outwardCalls.kernelIoControl(SUSPEND_CODE, nullptr, 0, nullptr, 0, nullptr);
    return Suspend(args);
}

BOOL Reboot(const wchar_t*)
{
    return outwardCalls.exitWindows(EWX_REBOOT, 0);
}

struct ShutdownMode {
    wchar_t letter;
    BOOL (*run)(const wchar_t* args);     // the value of the chain's last call
};

// Any other letter, or none, reboots.
constexpr ShutdownMode SHUTDOWN_MODES[] = {
    {L'R', SoftReset}, {L'C', CleanReset}, {L'H', HardReset},      {L'K', PressPowerKey},
    {L'P', PowerOff},  {L'G', Suspend},    {L'S', SuspendWithCode},
};

// A POST parameter: "$text" passes the text's address, anything else skips its type mark
// (usually '#') and passes the number after it, whose reading stops at the piece's end; an
// empty argument gives 0. A text that ends the argument is passed where it stands, as a
// posted message is read after the call; one that a later parameter follows is passed as
// a copy in 'texts', ended, which lasts for the call.
LPARAM MessageParameter(TextPiece argument, PieceTexts& texts)
{
    if (!argument.length)
        return 0;
    if (argument.start[0] != L'$')
        return _wtol(argument.start + 1);
    TextPiece text = PieceFrom(argument, argument.start + 1);
    const wchar_t* ended = text.start[text.length] == 0 ? text.start : AddPieceText(texts, text);
    return reinterpret_cast<LPARAM>(ended);
}

} // namespace

ProgramRequest ReadProgramRequest(const wchar_t* args)
{
    bool wait = *args != L'!';
    ArgumentPieces parts = CutArgument(wait ? args : args + 1, 2);
    return {wait, parts.pieces[0], parts.count > 1 ? parts.pieces[1].start : nullptr};
}

// EXEC [!]file[,parameters]: starts a program or opens a document and, without '!', waits
// until the started process ends. The platform's error when the shell failed; the
// observer's answer when it ended the wait (Stop: the program goes on running).
DWORD ExecuteProgram(const wchar_t* args)
{
    ProgramRequest request = ReadProgramRequest(args);
    wchar_t file[LINE_BUFFER_CHARS];
    if (CopyPiece(file, request.file) != ERROR_SUCCESS)
        return ERROR_FILENAME_EXCED_RANGE;
    DWORD answer = AnnounceAction(ChangeKind::StartProgram, file, request.parameters);
    if (answer != ERROR_SUCCESS)
        return ResultOfUntakenAction(answer);
    HANDLE process = nullptr;
    DWORD result = ShellOpen(file, request.parameters, &process);
    if (result != ERROR_SUCCESS || !process)
        return result;
    if (request.wait)
        result = WaitReportingProgress(process, INFINITE);
    CloseHandle(process);
    return result;
}

// KILL prefix: terminates every process whose executable name starts with 'args' (ASCII
// case ignored), except this one. 0 when one was terminated, otherwise 1. An empty
// prefix would match every process on the machine and is refused.
DWORD KillProcesses(const wchar_t* args)
{
    size_t prefixLength = wcslen(args);
    if (!prefixLength)
        return ERROR_INVALID_PARAMETER;
    HANDLE snapshot = CreateToolhelp32Snapshot(TH32CS_SNAPPROCESS, 0);
    if (snapshot == INVALID_HANDLE_VALUE)
        return 1;
    DWORD self = GetCurrentProcessId();
    bool terminated = false;
    PROCESSENTRY32W entry = {};
    entry.dwSize = sizeof entry;
    for (BOOL more = Process32FirstW(snapshot, &entry); more; more = Process32NextW(snapshot, &entry)) {
        if (entry.th32ProcessID == self || MatchPrefixNoCase(args, entry.szExeFile) != prefixLength)
            continue;
        wchar_t processId[16];
        (void)StringCchPrintfW(processId, ARRAYSIZE(processId), L"%lu", entry.th32ProcessID);
        DWORD answer = AnnounceAction(ChangeKind::EndProgram, entry.szExeFile, processId);
        if (answer != ERROR_SUCCESS) {
            terminated = terminated || answer == CHANGE_MADE_BY_OBSERVER;
            continue;
        }
        HANDLE process = OpenProcess(PROCESS_TERMINATE, FALSE, entry.th32ProcessID);
        if (!process)
            continue;
        if (TerminateProcess(process, 0))
            terminated = true;
        CloseHandle(process);
    }
    CloseHandle(snapshot);
    return terminated ? ERROR_SUCCESS : 1;
}

// SHUT mode: resets, powers off or suspends through the platform (see SHUTDOWN_MODES).
// 0 when the last call of the mode's chain reported success, 1 when it failed.
DWORD ShutDownDevice(const wchar_t* args)
{
    wchar_t letter = args[0] >= L'a' && args[0] <= L'z' ? static_cast<wchar_t>(args[0] - 32) : args[0];
    DWORD answer = AnnounceAction(ChangeKind::PowerAction, args, nullptr);
    if (answer != ERROR_SUCCESS)
        return ResultOfUntakenAction(answer);
    BOOL (*run)(const wchar_t*) = Reboot;
    for (const auto& mode : SHUTDOWN_MODES)
        if (mode.letter == letter)
            run = mode.run;
    return run(args) ? ERROR_SUCCESS : 1;
}

// SEND key[,key...]: each key is a decimal virtual-key code, pressed and released; a
// trailing '_' only presses it, a trailing '^' only releases it. 1 when the last code is 0.
DWORD SendKeys(const wchar_t* args)
{
    DWORD answer = AnnounceAction(ChangeKind::SendInput, args, nullptr);
    if (answer != ERROR_SUCCESS)
        return ResultOfUntakenAction(answer);
    BYTE key = 0;
    const wchar_t* item = args;
    for (const wchar_t* p = args;; ++p) {
        if (*p && *p != ARG_SEPARATOR)
            continue;
        key = static_cast<BYTE>(_wtol(item));
        wchar_t last = p > item ? p[-1] : 0;
        if (last != L'^')
            outwardCalls.keyEvent(key, 0, 0, 0);
        if (last != L'_')
            outwardCalls.keyEvent(key, 0, KEYEVENTF_KEYUP, 0);
        if (!*p)
            break;
        item = p + 1;
    }
    return key ? ERROR_SUCCESS : 1;
}

DWORD ReadWindowMessageRequest(const wchar_t* args, WindowMessageRequest& request)
{
    request = {};
    request.send = *args == L'=';
    ArgumentPieces parts = CutArgument(request.send ? args + 1 : args, 5);
    if (parts.count < 2)
        return static_cast<DWORD>(E_INVALIDARG);
    request.window = parts.pieces[0];
    request.message = parts.pieces[1];
    request.parameters[0] = parts.pieces[2];
    request.parameters[1] = parts.pieces[3];
    return ERROR_SUCCESS;
}

// POST [=]window,message[,wParam[,lParam]]: posts, or with '=' sends, a message to the
// top-level window of that class ('$' for all of them). The platform call's value.
DWORD PostWindowMessage(const wchar_t* args)
{
    WindowMessageRequest request;
    DWORD result = ReadWindowMessageRequest(args, request);
    if (result != ERROR_SUCCESS)
        return result;
    PieceTexts texts;
    const wchar_t* windowClass = AddPieceText(texts, request.window);
    if (!windowClass)
        return 0;
    HWND window = *windowClass == L'$' ? HWND_BROADCAST : FindWindowW(windowClass, nullptr);
    if (!window)
        return 0;       // posted to no window, the message would land in this thread's own queue
    auto number = static_cast<UINT>(_wtol(request.message.start));
    auto wParam = static_cast<WPARAM>(MessageParameter(request.parameters[0], texts));
    LPARAM lParam = MessageParameter(request.parameters[1], texts);
    const wchar_t* messageText = AddPieceText(texts, request.message);
    DWORD answer = AnnounceAction(ChangeKind::SendInput, windowClass, messageText ? messageText : L"", number);
    if (answer != ERROR_SUCCESS)
        return ResultOfUntakenAction(answer);
    if (request.send)
        return static_cast<DWORD>(SendMessageW(window, number, wParam, lParam));
    return static_cast<DWORD>(PostMessageW(window, number, wParam, lParam));
}

// DISP [orientation]: sets the display orientation (DMDO_ values), or without an argument
// switches between 0 and 90 degrees. The platform's DISP_CHANGE_ value.
DWORD SetDisplayOrientation(const wchar_t* args)
{
    DEVMODEW mode = {};
    mode.dmSize = sizeof mode;
    mode.dmFields = DM_DISPLAYORIENTATION;
    LONG result = outwardCalls.changeDisplaySettings(nullptr, &mode, nullptr, CDS_TEST, nullptr);
    if (result != DISP_CHANGE_SUCCESSFUL)
        return static_cast<DWORD>(result);
    DWORD previous = mode.dmDisplayOrientation;
    if (*args)
        mode.dmDisplayOrientation = static_cast<DWORD>(_wtol(args));
    else
        mode.dmDisplayOrientation = mode.dmDisplayOrientation == DMDO_DEFAULT ? DMDO_90 : DMDO_DEFAULT;
    wchar_t orientation[16];
    (void)StringCchPrintfW(orientation, ARRAYSIZE(orientation), L"%lu", mode.dmDisplayOrientation);
    DWORD answer = AnnounceAction(ChangeKind::DisplayOrientation, orientation, nullptr, previous);
    if (answer != ERROR_SUCCESS)
        return ResultOfUntakenAction(answer);
    return static_cast<DWORD>(outwardCalls.changeDisplaySettings(nullptr, &mode, nullptr, CDS_RESET, nullptr));
}
