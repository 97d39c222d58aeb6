#include "support/test_support.h"
#include <gtest/gtest.h>
#include <cstring>
#include <shellapi.h>
#include <rpc.h>
#include <winioctl.h>

namespace test {

TempFolder::TempFolder()
{
    static unsigned counter = 0;
    wchar_t base[MAX_PATH];
    GetTempPathW(MAX_PATH, base);
    wchar_t name[MAX_PATH];
    swprintf(name, MAX_PATH, L"%lsvarnolt-test-%lu-%lu-%u", base, GetCurrentProcessId(), GetTickCount(), ++counter);
    path_ = name;
    CreateDirectoryW(path_.c_str(), nullptr);
}

TempFolder::~TempFolder()
{
    RemoveTree(path_);
}

void RemoveTree(const std::wstring& path)
{
    WIN32_FIND_DATAW found;
    HANDLE search = FindFirstFileW((path + L"\\*").c_str(), &found);
    if (search != INVALID_HANDLE_VALUE) {
        do {
            std::wstring name = found.cFileName;
            if (name == L"." || name == L"..")
                continue;
            std::wstring child = path + L"\\" + name;
            SetFileAttributesW(child.c_str(), FILE_ATTRIBUTE_NORMAL);
            if (found.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY)
                RemoveTree(child);
            else
                DeleteFileW(child.c_str());
        } while (FindNextFileW(search, &found));
        FindClose(search);
    }
    RemoveDirectoryW(path.c_str());
}

void WriteBytes(const std::wstring& path, const std::string& bytes)
{
    HANDLE file = CreateFileW(path.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, 0, nullptr);
    DWORD written = 0;
    WriteFile(file, bytes.data(), static_cast<DWORD>(bytes.size()), &written, nullptr);
    CloseHandle(file);
}

std::string ReadBytes(const std::wstring& path)
{
    HANDLE file = CreateFileW(path.c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING, 0, nullptr);
    std::string bytes;
    if (file == INVALID_HANDLE_VALUE)
        return bytes;
    char chunk[65536];
    DWORD read = 0;
    while (ReadFile(file, chunk, sizeof chunk, &read, nullptr) && read)
        bytes.append(chunk, read);
    CloseHandle(file);
    return bytes;
}

std::string Utf16Bytes(const std::wstring& text)
{
    return std::string(reinterpret_cast<const char*>(text.data()), text.size() * sizeof(wchar_t));
}

std::string Utf8(const std::wstring& text)
{
    int length = WideCharToMultiByte(CP_UTF8, 0, text.data(), static_cast<int>(text.size()), nullptr, 0, nullptr, nullptr);
    std::string bytes(length, '\0');
    WideCharToMultiByte(CP_UTF8, 0, text.data(), static_cast<int>(text.size()), bytes.data(), length, nullptr, nullptr);
    return bytes;
}

std::wstring Widen(const std::string& utf8)
{
    int length = MultiByteToWideChar(CP_UTF8, 0, utf8.data(), static_cast<int>(utf8.size()), nullptr, 0);
    std::wstring text(length, L'\0');
    MultiByteToWideChar(CP_UTF8, 0, utf8.data(), static_cast<int>(utf8.size()), text.data(), length);
    return text;
}

bool Exists(const std::wstring& path)
{
    return GetFileAttributesW(path.c_str()) != INVALID_FILE_ATTRIBUTES;
}

namespace {

// Wine's mount manager request that points a drive letter at a host folder, or removes
// the letter when no folder follows; Wine's file names do not follow DefineDosDeviceW.
struct WineUnixDrive {
    ULONG size, type, fsType;
    DWORD serial;
    ULONGLONG unixDevice;
    WCHAR letter;
    USHORT mountPointOffset, deviceOffset, labelOffset;
};
constexpr DWORD IOCTL_WINE_DEFINE_UNIX_DRIVE =
    CTL_CODE(0x6d, 32, METHOD_BUFFERED, FILE_READ_ACCESS | FILE_WRITE_ACCESS);
using UnixNameOf = char*(CDECL*)(const wchar_t*);

UnixNameOf WineUnixNameOf()
{
    return reinterpret_cast<UnixNameOf>(
        reinterpret_cast<void*>(GetProcAddress(GetModuleHandleW(L"kernel32"), "wine_get_unix_file_name")));
}

bool DefineWineDrive(wchar_t letter, const char* unixFolder)
{
    char request[sizeof(WineUnixDrive) + MAX_PATH * 4] = {};
    auto& drive = *reinterpret_cast<WineUnixDrive*>(request);
    size_t folderBytes = unixFolder ? strlen(unixFolder) + 1 : 0;
    if (folderBytes > MAX_PATH * 4)
        return false;
    ULONG type = unixFolder ? DRIVE_FIXED : DRIVE_NO_ROOT_DIR;
    USHORT folderOffset = unixFolder ? sizeof drive : 0;
    drive = {static_cast<ULONG>(sizeof drive + folderBytes), type, 0, 0, 0, letter, folderOffset, 0, 0};
    memcpy(request + sizeof drive, unixFolder ? unixFolder : "", folderBytes);
    HANDLE manager = CreateFileW(L"\\\\.\\MountPointManager", GENERIC_READ | GENERIC_WRITE,
                                 FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr, OPEN_EXISTING, 0, nullptr);
    DWORD returned = 0;
    bool done = manager != INVALID_HANDLE_VALUE && DeviceIoControl(manager, IOCTL_WINE_DEFINE_UNIX_DRIVE, request,
                                                                   drive.size, nullptr, 0, &returned, nullptr);
    if (manager != INVALID_HANDLE_VALUE)
        CloseHandle(manager);
    return done;
}

} // namespace

TestDrive::TestDrive(const std::wstring& folder)
{
    for (wchar_t free = L'M'; free <= L'Y' && !letter; ++free)
        if (!(GetLogicalDrives() & (1u << (free - L'A'))))
            letter = free;
    wchar_t device[] = {letter, L':', 0};
    UnixNameOf unixNameOf = WineUnixNameOf();
    char* unixFolder = unixNameOf && letter ? unixNameOf(folder.c_str()) : nullptr;
    bool mapped = unixNameOf ? unixFolder && DefineWineDrive(letter, unixFolder)
                             : letter && DefineDosDeviceW(0, device, folder.c_str());
    HeapFree(GetProcessHeap(), 0, unixFolder);
    if (!mapped)
        letter = 0;
}

TestDrive::~TestDrive()
{
    wchar_t device[] = {letter, L':', 0};
    if (letter && WineUnixNameOf())
        DefineWineDrive(letter, nullptr);
    else if (letter)
        DefineDosDeviceW(DDD_REMOVE_DEFINITION, device, nullptr);
}

std::wstring ProgramFolder()
{
    wchar_t path[MAX_PATH];
    GetModuleFileNameW(nullptr, path, MAX_PATH);
    *wcsrchr(path, L'\\') = 0;
    return path;
}

// Wine fails a start with ERROR_INTERNAL_ERROR when the new process went away before its
// start-up finished (seen under load, as "exit code" 1359): that says nothing about the
// program, so such a start is tried again.
constexpr int START_ATTEMPTS = 3;

DWORD StartProcess(const std::wstring& program, const std::wstring& commandLine,
                   const std::vector<std::wstring>& environment, HANDLE output, PROCESS_INFORMATION& process)
{
    std::wstring block;
    if (!environment.empty()) {
        wchar_t* current = GetEnvironmentStringsW();
        for (const wchar_t* entry = current; *entry; entry += wcslen(entry) + 1)
            block.append(entry).push_back(L'\0');
        FreeEnvironmentStringsW(current);
        for (const auto& entry : environment)
            block.append(entry).push_back(L'\0');
        block.push_back(L'\0');
    }
    std::vector<wchar_t> line(commandLine.begin(), commandLine.end());
    line.push_back(0);
    STARTUPINFOW startup = {};
    startup.cb = sizeof startup;
    if (output) {
        startup.dwFlags = STARTF_USESTDHANDLES;
        startup.hStdOutput = output;
        startup.hStdError = output;
    }
    process = {};
    BOOL started = FALSE;
    for (int attempt = 0; attempt < START_ATTEMPTS && !started; ++attempt) {
        started = CreateProcessW(program.c_str(), line.data(), nullptr, nullptr, output != nullptr,
                                 environment.empty() ? 0 : CREATE_UNICODE_ENVIRONMENT,
                                 environment.empty() ? nullptr : block.data(), nullptr, &startup, &process);
        if (!started && GetLastError() != ERROR_INTERNAL_ERROR)
            break;
    }
    return started ? ERROR_SUCCESS : GetLastError();
}

namespace {

ProcessResult WaitAndClose(PROCESS_INFORMATION& process, DWORD timeoutMs)
{
    bool timedOut = WaitForSingleObject(process.hProcess, timeoutMs) == WAIT_TIMEOUT;
    if (timedOut) {
        TerminateProcess(process.hProcess, 0xDEAD);
        WaitForSingleObject(process.hProcess, 5000);
    }
    DWORD exitCode = 0;
    GetExitCodeProcess(process.hProcess, &exitCode);
    CloseHandle(process.hThread);
    CloseHandle(process.hProcess);
    return {exitCode, timedOut};
}

} // namespace

ProcessResult StartAndWait(const std::wstring& program, const std::wstring& commandLine,
                           const std::vector<std::wstring>& environment, DWORD timeoutMs)
{
    PROCESS_INFORMATION process;
    DWORD started = StartProcess(program, commandLine, environment, nullptr, process);
    return started == ERROR_SUCCESS ? WaitAndClose(process, timeoutMs) : ProcessResult{started, false};
}

ProcessResult StartAndWaitWithOutput(const std::wstring& program, const std::wstring& commandLine,
                                     const std::vector<std::wstring>& environment, const std::wstring& outputPath,
                                     DWORD timeoutMs)
{
    SECURITY_ATTRIBUTES inherited{sizeof inherited, nullptr, TRUE};
    HANDLE output = CreateFileW(outputPath.c_str(), GENERIC_WRITE, FILE_SHARE_READ, &inherited, CREATE_ALWAYS, 0, nullptr);
    if (output == INVALID_HANDLE_VALUE)
        return {GetLastError(), false};
    PROCESS_INFORMATION process;
    DWORD started = StartProcess(program, commandLine, environment, output, process);
    ProcessResult result = started == ERROR_SUCCESS ? WaitAndClose(process, timeoutMs) : ProcessResult{started, false};
    CloseHandle(output);
    return result;
}

bool HasDisplay()
{
    HWND probe = CreateWindowExW(0, L"STATIC", L"probe", WS_POPUP, 0, 0, 1, 1, nullptr, nullptr, nullptr, nullptr);
    if (!probe) {
        if (GetEnvironmentVariableW(L"VARNOLT_REQUIRE_DISPLAY", nullptr, 0))
            ADD_FAILURE() << "no display although VARNOLT_REQUIRE_DISPLAY is set";
        return false;
    }
    DestroyWindow(probe);
    return true;
}

std::wstring UniqueName(const wchar_t* stem)
{
    return stem + std::to_wstring(GetCurrentProcessId()) + L"x" + std::to_wstring(GetTickCount());
}

HWND WaitForWindow(DWORD processId, const wchar_t* windowClass, const wchar_t* title, DWORD timeoutMs)
{
    for (DWORD waited = 0;; waited += 20) {
        for (HWND window = FindWindowExW(nullptr, nullptr, windowClass, title); window;
             window = FindWindowExW(nullptr, window, windowClass, title)) {
            DWORD owner = 0;
            GetWindowThreadProcessId(window, &owner);
            if ((!processId || owner == processId) && IsWindowVisible(window))
                return window;
        }
        if (waited >= timeoutMs)
            return nullptr;
        Sleep(20);
    }
}

void ExtendFile(const std::wstring& path, LONGLONG size)
{
    HANDLE file = CreateFileW(path.c_str(), GENERIC_WRITE, 0, nullptr, OPEN_EXISTING, 0, nullptr);
    ASSERT_NE(file, INVALID_HANDLE_VALUE);
    LARGE_INTEGER end;
    end.QuadPart = size;
    EXPECT_TRUE(SetFilePointerEx(file, end, nullptr, FILE_BEGIN) && SetEndOfFile(file));
    CloseHandle(file);
}

} // namespace test
